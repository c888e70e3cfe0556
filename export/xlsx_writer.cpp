#include "export/xlsx_writer.h"

#include <libxml/parser.h>
#include <locale.h>
#include <sys/stat.h>
#include <xlsxwriter.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <optional>
#include <utility>

#include "export/output_file.h"
#include "export/spreadsheetml_writer.h"
#include "export/stop_request.h"
#include "export/text_rules.h"
#include "export/zip_read_back.h"
#include "files/pause_point.h"
#include "job/sheet_names.h"

namespace rowpress {

namespace {

// libxlsxwriter formats numbers with the C library, which follows LC_NUMERIC: under a locale
// with a decimal comma it would write "3,25" into the file. Every call into the library runs
// with the C locale's numbers on this thread, whatever the process locale is.
class CNumbers {
 public:
  CNumbers() : previous_(uselocale(cLocale())) {}
  ~CNumbers() { uselocale(previous_); }
  CNumbers(const CNumbers&) = delete;
  CNumbers& operator=(const CNumbers&) = delete;

 private:
  static locale_t cLocale() {
    // Made once and kept for the life of the process; "C" always exists.
    static const locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return c;
  }
  locale_t previous_;
};

bool isDateTimeType(int sqlType) {
  switch (sqlType) {
    case 9:   // SQL_DATE
    case 10:  // SQL_TIME
    case 11:  // SQL_TIMESTAMP
    case 91:  // SQL_TYPE_DATE
    case 92:  // SQL_TYPE_TIME
    case 93:  // SQL_TYPE_TIMESTAMP
      return true;
    default:
      return false;
  }
}

constexpr int kBitType = -7;  // SQL_BIT

// Reads exactly `digits` ASCII digits at `at`.
bool readDigits(std::string_view text, std::size_t at, std::size_t digits, int& value) {
  if (at + digits > text.size()) return false;
  value = 0;
  for (std::size_t i = at; i < at + digits; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    value = value * 10 + (text[i] - '0');
  }
  return true;
}

bool isLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int daysInMonth(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && isLeapYear(year) ? 29 : kDays[month - 1];
}

// "YYYY-MM-DD" at the start of `text`.
bool readDate(std::string_view text, SqlDateTime& value) {
  if (text.size() < 10 || text[4] != '-' || text[7] != '-') return false;
  if (!readDigits(text, 0, 4, value.year) || !readDigits(text, 5, 2, value.month) ||
      !readDigits(text, 8, 2, value.day)) {
    return false;
  }
  return value.month >= 1 && value.month <= 12 && value.day >= 1 &&
         value.day <= daysInMonth(value.year, value.month);
}

// "HH:MM:SS" with an optional fraction of a second, the whole of `text`.
bool readTime(std::string_view text, SqlDateTime& value) {
  int hour = 0, minute = 0, second = 0;
  if (text.size() < 8 || text[2] != ':' || text[5] != ':') return false;
  if (!readDigits(text, 0, 2, hour) || !readDigits(text, 3, 2, minute) ||
      !readDigits(text, 6, 2, second) || hour > 23 || minute > 59 || second > 59) {
    return false;
  }
  // The workbook shows milliseconds: the fraction is cut there, never rounded up, so that
  // 23:59:59.9999 stays on its own day (and 9999-12-31 within the calendar).
  int millis = 0;
  if (text.size() > 8) {
    if (text[8] != '.' || text.size() == 9) return false;
    for (std::size_t i = 9; i < text.size(); ++i) {
      if (text[i] < '0' || text[i] > '9') return false;
      if (i < 12) millis = millis * 10 + (text[i] - '0');
      if (i >= 12 && text[i] != '0') value.fractionCut = true;
    }
    for (std::size_t i = std::min<std::size_t>(text.size(), 12); i < 12; ++i) millis *= 10;
  }
  value.hasFraction = millis != 0;
  value.seconds = hour * 3600.0 + minute * 60.0 + second + millis / 1000.0;
  return true;
}

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
long long daysFromCivil(int year, int month, int day) {
  const long long y = year - (month <= 2 ? 1 : 0);
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const long long yearOfEra = y - era * 400;
  const long long dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const long long dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

// A number in exponent form, as drivers write approximate values: an optional sign, digits
// with at most one full stop, then "e" or "E" and a whole exponent with an optional sign.
bool isExponentNumber(std::string_view text) {
  const std::size_t e = text.find_first_of("eE");
  if (e == std::string_view::npos || !isNumericText(text.substr(0, e))) return false;
  std::string_view exponent = text.substr(e + 1);
  if (!exponent.empty() && (exponent[0] == '+' || exponent[0] == '-')) exponent.remove_prefix(1);
  return !exponent.empty() &&
         std::all_of(exponent.begin(), exponent.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The number that a numeric column's text is as a cell: a real number, not longer than the
// spreadsheet keeps (a decimal of an approximate column is never too long: its digits are a
// double's), or for an approximate column a finite double in exponent form. NaN, infinities
// and anything else stay text.
bool cellNumber(std::string_view text, bool approximate, double& number) {
  if (!(isNumericText(text) && !isLongNumber(text, approximate)) &&
      !(approximate && isExponentNumber(text))) {
    return false;
  }
  const std::string_view digits = text[0] == '+' ? text.substr(1) : text;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
  return error == std::errc() && end == digits.data() + digits.size() && std::isfinite(number);
}

// Whether the 16 significant digits that the library writes of a number give it back. A double
// that needs 17 (0.1 + 0.2 is 0.30000000000000004) would become another number.
bool keptIn16Digits(double number) {
  char text[40];
  const auto written =
      std::to_chars(text, text + sizeof text, number, std::chars_format::general, 16);
  double back = 0;
  const auto read = std::from_chars(text, written.ptr, back);
  return written.ec == std::errc() && read.ec == std::errc() && back == number;
}

// The characters of a column's width: its values' room as the declared size says, and
// enough for the header's name beside the autofilter's button.
double columnWidth(const ColumnInfo& column, XlsxWriter::CellKind kind, std::size_t nameLength) {
  int room = 0;
  switch (kind) {
    case XlsxWriter::CellKind::DateTime:
      room = column.sqlType == 91 || column.sqlType == 9    ? 10
             : column.sqlType == 92 || column.sqlType == 10 ? 12
                                                            : 23;
      break;
    case XlsxWriter::CellKind::Boolean:
      room = 6;
      break;
    case XlsxWriter::CellKind::Binary:
      room = 8;
      break;
    case XlsxWriter::CellKind::Number:
      // The sign and the decimal point beside the digits.
      room = column.declaredSize > 0 ? std::min(column.declaredSize, 100) + 2 : 12;
      break;
    case XlsxWriter::CellKind::Text:
      room = column.declaredSize > 0 ? std::min(column.declaredSize, 100) : 20;
      break;
  }
  const int header = static_cast<int>(std::min<std::size_t>(nameLength, 100)) + 3;
  return std::clamp(std::max(room, header), 8, XlsxWriter::kWidestColumn);
}

// The name of the open file `fd` that reaches it whatever becomes of its own name.
std::string descriptorPath(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

bool namesFile(const std::string& path, int fd) {
  struct stat named, opened;
  return ::stat(path.c_str(), &named) == 0 && ::fstat(fd, &opened) == 0 &&
         named.st_dev == opened.st_dev && named.st_ino == opened.st_ino;
}

// What the sheets of a workbook hold as it is read back: the rows and cells of each sheet,
// counted by their start tags ("<row " and "<c "; the text of a cell never holds a "<", which
// is written as "&lt;"), and whether the sheet ends as a sheet does.
class SheetTally : public ZipContentVisitor {
 public:
  struct Sheet {
    bool found = false;
    bool ended = false;
    long long rows = 0;
    long long cells = 0;
  };

  explicit SheetTally(std::size_t sheets) : sheets_(sheets) {}

  void entry(std::string_view name) override {
    endEntry();
    current_ = sheetOf(name);
    if (current_) sheets_[*current_].found = true;
    if (std::find(std::begin(kParts), std::end(kParts), name) != std::end(kParts)) {
      parts_.emplace_back(std::string(name), std::string());
      inPart_ = true;
    }
  }

  void content(std::string_view piece) override {
    if (inPart_) parts_.back().second.append(piece);
    if (!current_) return;
    Sheet& sheet = sheets_[*current_];
    tail_.append(piece.substr(piece.size() - std::min(piece.size(), kEnd.size())));
    tail_.erase(0, tail_.size() - std::min(tail_.size(), kEnd.size()));
    if (!fragment_.empty()) {
      // A tag cut at the end of the last piece.
      fragment_.append(piece.substr(0, kLongestTag - fragment_.size()));
      if (fragment_.size() < kLongestTag && startsATag(fragment_)) return;
      tally(fragment_, sheet);
      fragment_.clear();
    }
    const char* at = piece.data();
    const char* end = at + piece.size();
    while ((at = static_cast<const char*>(std::memchr(at, '<', end - at))) != nullptr) {
      const std::string_view rest(at, end - at);
      if (!tally(rest, sheet) && rest.size() < kLongestTag && startsATag(rest)) {
        fragment_ = rest;
      }
      ++at;
    }
  }

  const std::vector<Sheet>& sheets() {
    endEntry();
    return sheets_;
  }

  // The first of the workbook's small parts that an XML parser does not read as well-formed
  // XML, with the parser's first complaint; empty when all are.
  std::string malformedPart() const {
    for (const auto& [name, text] : parts_) {
      xmlDocPtr doc = xmlReadMemory(text.data(), static_cast<int>(text.size()), nullptr, nullptr,
                                    XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
      if (doc != nullptr) {
        xmlFreeDoc(doc);
        continue;
      }
      const xmlError* error = xmlGetLastError();
      std::string why = name + " is not well-formed XML";
      if (error != nullptr && error->message != nullptr) {
        std::string message = error->message;
        while (!message.empty() && message.back() == '\n') message.pop_back();
        why += " (" + message + ")";
      }
      return why;
    }
    return {};
  }

 private:
  // The parts that hold the workbook's structure and its sheets' names: each is read by an
  // XML parser as a whole. (The sheets themselves are counted, not parsed: they are large.)
  static constexpr std::string_view kParts[] = {"[Content_Types].xml", "_rels/.rels",
                                                "docProps/app.xml",    "docProps/core.xml",
                                                "xl/workbook.xml",     "xl/_rels/workbook.xml.rels",
                                                "xl/styles.xml"};
  static constexpr std::string_view kRow = "<row ";
  static constexpr std::string_view kCell = "<c ";
  static constexpr std::string_view kEnd = "</worksheet>";
  static constexpr std::size_t kLongestTag = kRow.size();

  // The sheet of an entry "xl/worksheets/sheetN.xml".
  std::optional<std::size_t> sheetOf(std::string_view name) const {
    constexpr std::string_view kPrefix = "xl/worksheets/sheet", kSuffix = ".xml";
    if (!name.starts_with(kPrefix) || !name.ends_with(kSuffix)) return std::nullopt;
    const std::string_view digits =
        name.substr(kPrefix.size(), name.size() - kPrefix.size() - kSuffix.size());
    std::size_t n = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), n);
    if (error != std::errc() || end != digits.data() + digits.size() || n == 0 ||
        n > sheets_.size()) {
      return std::nullopt;
    }
    return n - 1;
  }

  static bool startsATag(std::string_view text) {
    return kRow.starts_with(text) || kCell.starts_with(text);
  }

  // Counts the tag that `text` starts with, if any.
  static bool tally(std::string_view text, Sheet& sheet) {
    if (text.starts_with(kRow)) {
      ++sheet.rows;
      return true;
    }
    if (text.starts_with(kCell)) {
      ++sheet.cells;
      return true;
    }
    return false;
  }

  void endEntry() {
    inPart_ = false;
    if (current_) sheets_[*current_].ended = tail_ == kEnd;
    current_.reset();
    fragment_.clear();
    tail_.clear();
  }

  std::vector<Sheet> sheets_;
  std::optional<std::size_t> current_;
  std::string fragment_;
  std::string tail_;
  std::vector<std::pair<std::string, std::string>> parts_;  // name and text
  bool inPart_ = false;
};

}  // namespace

bool parseSqlDateTime(std::string_view text, SqlDateTime& value) {
  value = SqlDateTime{};
  if (text.size() >= 10 && text[4] == '-') {
    if (!readDate(text, value)) return false;
    value.hasDate = true;
    if (text.size() == 10) return true;
    if (text[10] != ' ' && text[10] != 'T') return false;
    value.hasTime = readTime(text.substr(11), value);
    return value.hasTime;
  }
  value.hasTime = readTime(text, value);
  return value.hasTime;
}

bool spreadsheetSerial(const SqlDateTime& value, double& serial) {
  double days = 0;
  if (value.hasDate) {
    if (value.year > 9999 ||
        daysFromCivil(value.year, value.month, value.day) < daysFromCivil(1900, 3, 1)) {
      return false;
    }
    days = static_cast<double>(daysFromCivil(value.year, value.month, value.day) -
                               daysFromCivil(1899, 12, 30));
  }
  serial = days + value.seconds / 86400.0;
  return true;
}

XlsxWriter::CellKind XlsxWriter::cellKindOf(int sqlType) {
  if (isBinaryType(sqlType)) return CellKind::Binary;
  if (SpreadsheetMlWriter::isNumericType(sqlType)) return CellKind::Number;
  if (isDateTimeType(sqlType)) return CellKind::DateTime;
  if (sqlType == kBitType) return CellKind::Boolean;
  return CellKind::Text;
}

XlsxWriter::XlsxWriter(long long sheetRows) : sheetRows_(std::max(sheetRows, 1LL)) {}

XlsxWriter::~XlsxWriter() {
  // A workbook that was never finished leaves nothing: its sheets' temporary files go.
  if (workbook_) lxw_workbook_free(workbook_);
}

bool XlsxWriter::ok() const { return workbook_ != nullptr && !failed_; }

void XlsxWriter::fail() {
  const int err = errno;
  if (out_) out_->fail(err);
  failed_ = true;
}

void XlsxWriter::check(int error) {
  // A cell that the library refuses (it never refuses what this writer hands it) would be
  // a cell lost; the file is not kept then.
  if (error != LXW_NO_ERROR && !failed_) {
    errno = EIO;
    fail();
  }
}

void XlsxWriter::checkCell(int error, long long row) {
  check(error);
  if (error != LXW_NO_ERROR || written_.empty()) return;
  SheetCount& sheet = written_.back();
  ++sheet.cells;
  if (sheet.lastRow != row) {
    ++sheet.rows;
    sheet.lastRow = row;
  }
}

void XlsxWriter::checkSheetFile(bool flush) {
  // The library writes each finished row to the sheet's temporary file without looking at
  // the result: a full disk would lose rows without a word. Its stream says so, and
  // flushing it again gives the reason.
  FILE* file = sheet_ ? sheet_->optimize_tmpfile : nullptr;
  if (failed_ || file == nullptr) return;
  if (!flush && !ferror(file)) return;
  errno = 0;
  if (std::fflush(file) != 0 || ferror(file)) fail();
}

void XlsxWriter::begin(OutputFile& out) {
  out_ = &out;
  if (out.descriptor() < 0) {
    errno = EBADF;
    fail();
    return;
  }
  // The library opens the workbook only when it is finished: whether it will reach this very
  // file is known now, before anything runs.
  workbookPath_ = descriptorPath(out.descriptor());
  if (!namesFile(workbookPath_, out.descriptor())) {
    out.fail(errno != 0 ? errno : EIO, "the workbook library cannot reach the file through " +
                                           workbookPath_ + " (is /proc mounted?)");
    failed_ = true;
    return;
  }
  if (out.workDirectory() >= 0) {
    tmpdir_ = descriptorPath(out.workDirectory());
  } else {
    const std::string& path = out.path();
    const std::size_t slash = path.rfind('/');
    tmpdir_ = slash == std::string::npos ? std::string(".")
              : slash == 0               ? std::string("/")
                                         : path.substr(0, slash);
  }
  lxw_workbook_options options{};
  options.constant_memory = LXW_TRUE;
  options.tmpdir = tmpdir_.data();
  options.use_zip64 = LXW_FALSE;
  CNumbers numbers;
  errno = 0;
  workbook_ = workbook_new_opt(workbookPath_.c_str(), &options);
  if (!workbook_) {
    fail();
    return;
  }
  bold_ = workbook_add_format(workbook_);
  format_set_bold(bold_);
  auto numberFormat = [this](const char* pattern) {
    lxw_format* format = workbook_add_format(workbook_);
    format_set_num_format(format, pattern);
    return format;
  };
  date_ = numberFormat("yyyy-mm-dd");
  time_ = numberFormat("hh:mm:ss");
  dateTime_ = numberFormat("yyyy-mm-dd hh:mm:ss");
  timeMillis_ = numberFormat("hh:mm:ss.000");
  dateTimeMillis_ = numberFormat("yyyy-mm-dd hh:mm:ss.000");
  // The first sheet is added once its name is known (at beginSheet, or "Sheet1" at the header
  // row), but whether the library can make a sheet's temporary file is known now, before
  // the statement runs: it makes one here the way it makes each sheet's.
  errno = 0;
  if (FILE* probe = lxw_tmpfile(tmpdir_.data())) {
    std::fclose(probe);
  } else {
    fail();
  }
}

std::string XlsxWriter::nextSheetName() {
  if (reportSheet_.empty()) return "Sheet" + std::to_string(sheets_ + 1);
  // A report's sheet goes on in "NAME (2)", "NAME (3)", ..., clear of every name in use or
  // still to come.
  std::vector<std::string> taken = plannedNames_;
  for (const SheetCount& sheet : written_) taken.push_back(sheet.name);
  std::string name = overflowSheetName(reportSheet_, nextOverflow_, taken);
  ++nextOverflow_;
  return name;
}

bool XlsxWriter::addSheet(const std::string& name) {
  errno = 0;
  sheet_ = workbook_add_worksheet(workbook_, name.c_str());
  if (!sheet_) {
    // In constant-memory mode a sheet starts with its temporary file; the library also
    // refuses a name that a sheet already has.
    if (errno == 0) errno = EINVAL;
    fail();
    return false;
  }
  ++sheets_;
  written_.emplace_back();
  written_.back().name = name;
  row_ = 0;
  sheetOpen_ = true;
  return true;
}

void XlsxWriter::planSheets(const std::vector<std::string>& names) { plannedNames_ = names; }

void XlsxWriter::beginSheet(std::string_view name) {
  if (!ok()) return;
  CNumbers numbers;
  endSheet(0, 0);
  reportSheet_ = name;
  nextOverflow_ = 2;
  columns_.clear();
  kinds_.clear();
  addSheet(reportSheet_);
}

void XlsxWriter::endSheet(int, long long) {
  if (!ok() || !sheetOpen_) return;
  CNumbers numbers;
  closeSheet();
  checkSheetFile(true);
  sheetOpen_ = false;
}

void XlsxWriter::beginHeaderRow() {
  columns_.clear();
  kinds_.clear();
  // A job with one result starts its first sheet here.
  if (ok() && sheets_ == 0) addSheet(nextSheetName());
}

ValueChanges XlsxWriter::headerCell(const ColumnInfo& column) {
  columns_.push_back(column);
  kinds_.push_back(cellKindOf(column.sqlType));
  return 0;
}

void XlsxWriter::endHeaderRow() {
  if (!ok()) return;
  CNumbers numbers;
  writeHeaderRow();
}

void XlsxWriter::writeHeaderRow() {
  for (std::size_t k = 0; k < columns_.size() && ok(); ++k) {
    text_.clear();
    appendXmlText(text_, columns_[k].name);
    const auto col = static_cast<lxw_col_t>(k);
    check(worksheet_set_column(sheet_, col, col,
                               columnWidth(columns_[k], kinds_[k], utf16Length(text_)), nullptr));
    if (!text_.empty()) checkCell(worksheet_write_string(sheet_, 0, col, text_.c_str(), bold_), 0);
  }
  // The header row stays in view.
  worksheet_freeze_panes(sheet_, 1, 0);
  row_ = 0;
}

void XlsxWriter::closeSheet() {
  if (columns_.empty()) return;
  check(worksheet_autofilter(sheet_, 0, 0, static_cast<lxw_row_t>(row_),
                             static_cast<lxw_col_t>(columns_.size() - 1)));
}

void XlsxWriter::beginRow() {
  column_ = 0;
  if (!ok()) return;
  if (row_ >= sheetRows_) {
    // The sheet is full: the rows go on in the next one, below its own header row.
    CNumbers numbers;
    closeSheet();
    checkSheetFile(true);
    if (failed_ || !addSheet(nextSheetName())) return;
    writeHeaderRow();
  }
  ++row_;
}

ValueChanges XlsxWriter::writeText(int column, std::string_view text, lxw_format* format) {
  text_.clear();
  ValueChanges changes = appendXmlText(text_, text) ? changeOf(ValueRule::Dropped) : 0;
  // The empty text is a cell of its own: only NULL leaves none.
  if (text_.empty()) {
    writeEmptyText(column, format);
    return changes;
  }
  const char* shown = text_.c_str();
  if (utf16Length(text_) > kCellCharacters) {
    shown = kTooLargeText;
    changes = changeOf(ValueRule::TooLarge);
  }
  checkCell(worksheet_write_string(sheet_, static_cast<lxw_row_t>(row_),
                                   static_cast<lxw_col_t>(column), shown, format),
            row_);
  return changes;
}

void XlsxWriter::writeEmptyText(int column, lxw_format* format) {
  // The library writes no cell for an empty string. The cell is handed to it with a stand-in
  // text that is the inline string's own markup, then made a rich string while the library
  // holds the row (it writes a row when the next one starts): a rich string's text is written
  // as it is, so the cell becomes <is><t></t></is>, a string cell holding the empty text.
  const auto col = static_cast<lxw_col_t>(column);
  const lxw_error error =
      worksheet_write_string(sheet_, static_cast<lxw_row_t>(row_), col, "<t></t>", format);
  if (error == LXW_NO_ERROR) {
    lxw_cell* cell = sheet_->array != nullptr ? sheet_->array[col] : nullptr;
    if (cell == nullptr || cell->type != INLINE_STRING_CELL) {
      errno = EIO;
      fail();
      return;
    }
    cell->type = INLINE_RICH_STRING_CELL;
  }
  checkCell(error, row_);
}

ValueChanges XlsxWriter::writeDateTime(int column, std::string_view text) {
  SqlDateTime value;
  double serial = 0;
  if (!parseSqlDateTime(text, value) || !spreadsheetSerial(value, serial)) {
    return writeText(column, text);
  }
  lxw_format* format = nullptr;
  if (!value.hasTime) {
    format = date_;
  } else if (!value.hasDate) {
    format = value.hasFraction ? timeMillis_ : time_;
  } else {
    format = value.hasFraction ? dateTimeMillis_ : dateTime_;
  }
  checkCell(worksheet_write_number(sheet_, static_cast<lxw_row_t>(row_),
                                   static_cast<lxw_col_t>(column), serial, format),
            row_);
  return value.fractionCut ? changeOf(ValueRule::Fraction) : 0;
}

ValueChanges XlsxWriter::cell(const CellValue& value, const ColumnInfo& column,
                              bool forceFullLength) {
  (void)forceFullLength;
  const int k = column_++;
  if (!ok()) return 0;
  // NULL is an empty cell.
  if (value.null) return 0;
  if (value.cut) {
    checkCell(worksheet_write_string(sheet_, static_cast<lxw_row_t>(row_),
                                     static_cast<lxw_col_t>(k), kTooLargeText, nullptr),
              row_);
    return changeOf(ValueRule::TooLarge);
  }
  const CellKind kind =
      static_cast<std::size_t>(k) < kinds_.size() ? kinds_[k] : cellKindOf(column.sqlType);
  CNumbers numbers;
  const auto row = static_cast<lxw_row_t>(row_);
  const auto col = static_cast<lxw_col_t>(k);
  const std::string_view text = value.text;
  switch (kind) {
    case CellKind::Binary:
      checkCell(worksheet_write_string(sheet_, row, col, kBinaryText, nullptr), row_);
      return 0;
    case CellKind::Number: {
      // Only a real number is a number; one longer than the spreadsheet keeps stays text, so
      // that no digit is lost.
      const bool approximate = isApproximateType(column.sqlType);
      double number = 0;
      if (cellNumber(text, approximate, number)) {
        checkCell(worksheet_write_number(sheet_, row, col, number, nullptr), row_);
        return approximate && !keptIn16Digits(number) ? changeOf(ValueRule::Digits) : 0;
      }
      break;
    }
    case CellKind::DateTime:
      return writeDateTime(k, text);
    case CellKind::Boolean:
      if (text == "0" || text == "1") {
        checkCell(worksheet_write_boolean(sheet_, row, col, text == "1", nullptr), row_);
        return 0;
      }
      break;
    case CellKind::Text:
      break;
  }
  return writeText(k, text);
}

void XlsxWriter::endRow() { checkSheetFile(false); }

void XlsxWriter::finish(int columnCount, long long tableRows) {
  (void)columnCount;
  (void)tableRows;
  if (!workbook_) return;
  lxw_workbook* workbook = workbook_;
  workbook_ = nullptr;
  if (failed_) {
    lxw_workbook_free(workbook);
    return;
  }
  CNumbers numbers;
  // A workbook holds at least one sheet.
  if (sheets_ == 0) addSheet(nextSheetName());
  if (sheetOpen_) {
    closeSheet();
    checkSheetFile(true);
  }
  if (failed_) {
    lxw_workbook_free(workbook);
    return;
  }
  // Assembling the workbook from its sheets' temporary files and reading it back take a while
  // on a large export; a stop request waits for them, and the run then removes the file.
  UninterruptibleStep assembling;
  pausePoint(kPauseAssembling);
  errno = 0;
  if (workbook_close(workbook) != LXW_NO_ERROR) {
    fail();
    return;
  }
  pausePoint(kPauseReadBack);
  readBack();
}

void XlsxWriter::readBack() {
  SheetTally tally(written_.size());
  std::string why = readBackZip(out_->descriptor(), tally);
  const std::vector<SheetTally::Sheet>& sheets = tally.sheets();
  for (std::size_t k = 0; k < sheets.size() && why.empty(); ++k) {
    const std::string& name = written_[k].name;
    if (!sheets[k].found) {
      why = name + " is missing";
    } else if (sheets[k].rows != written_[k].rows || sheets[k].cells != written_[k].cells) {
      why = name + " holds " + std::to_string(sheets[k].rows) + " of " +
            std::to_string(written_[k].rows) + " rows and " + std::to_string(sheets[k].cells) +
            " of " + std::to_string(written_[k].cells) + " cells";
    } else if (!sheets[k].ended) {
      why = name + " is cut off";
    }
  }
  if (why.empty()) why = tally.malformedPart();
  if (why.empty()) return;
  failed_ = true;
  out_->fail(EIO, "the workbook did not read back whole: " + why);
}

}  // namespace rowpress
