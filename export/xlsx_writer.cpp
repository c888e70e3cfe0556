#include "export/xlsx_writer.h"

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
#include "export/sheet_tally.h"
#include "export/spreadsheetml_writer.h"
#include "export/text_rules.h"
#include "export/typed_cells.h"
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

// The name of the open file `fd` that reaches it whatever becomes of its own name.
std::string descriptorPath(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

bool namesFile(const std::string& path, int fd) {
  struct stat named, opened;
  return ::stat(path.c_str(), &named) == 0 && ::fstat(fd, &opened) == 0 &&
         named.st_dev == opened.st_dev && named.st_ino == opened.st_ino;
}

}  // namespace

XlsxWriter::XlsxWriter(long long sheetRows)
    : OutputWriter(WriterOptions{}), sheetRows_(std::max(sheetRows, 1LL)) {}

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

std::vector<ValueChanges> XlsxWriter::writeHeader(const std::vector<ColumnInfo>& columns) {
  columns_ = columns;
  kinds_.clear();
  for (const ColumnInfo& column : columns) kinds_.push_back(cellKindOf(column.sqlType));
  // A job with one result starts its first sheet here.
  if (ok() && sheets_ == 0) addSheet(nextSheetName());
  if (ok()) {
    CNumbers numbers;
    writeHeaderRow();
  }
  return std::vector<ValueChanges>(columns.size(), 0);
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

void XlsxWriter::startRow() {
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

ValueChanges XlsxWriter::writeCell(const CellValue& value, const ColumnInfo& column) {
  const int k = cellColumn();
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
  // The export run's stop request waits for the assembly (the run holds it off while writers
  // finish), and the run then removes the file.
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
