#include "export/spreadsheetml_writer.h"

#include <cerrno>
#include <charconv>
#include <cstring>
#include <initializer_list>

#include "export/output_file.h"
#include "export/text_rules.h"

namespace rowpress {

namespace {

// The 31 lines that `begin` writes; each "\n" becomes CR LF on the way to the file.
constexpr std::string_view kHead =
    "<?xml version=\"1.0\"?>\n"
    "<?mso-application progid=\"Excel.Sheet\"?>\n"
    "<Workbook xmlns=\"urn:schemas-microsoft-com:office:spreadsheet\"\n"
    "xmlns:o=\"urn:schemas-microsoft-com:office:office\"\n"
    "xmlns:x=\"urn:schemas-microsoft-com:office:excel\"\n"
    "xmlns:ss=\"urn:schemas-microsoft-com:office:spreadsheet\"\n"
    "xmlns:html=\"http://www.w3.org/TR/REC-html40\">\n"
    "<DocumentProperties xmlns=\"urn:schemas-microsoft-com:office:office\">\n"
    "<LastAuthor> </LastAuthor>\n"
    "<Created>1996-10-14T23:33:28Z</Created>\n"
    "<Version>11.5606</Version>\n"
    "</DocumentProperties>\n"
    "<ExcelWorkbook xmlns=\"urn:schemas-microsoft-com:office:excel\">\n"
    "<WindowHeight>9300</WindowHeight>\n"
    "<WindowWidth>15135</WindowWidth>\n"
    "<WindowTopX>120</WindowTopX>\n"
    "<WindowTopY>120</WindowTopY>\n"
    "<AcceptLabelsInFormulas/>\n"
    "<ProtectStructure>False</ProtectStructure>\n"
    "<ProtectWindows>False</ProtectWindows>\n"
    "</ExcelWorkbook>\n"
    "<Styles>\n"
    "<Style ss:ID=\"Default\" ss:Name=\"Normal\">\n"
    "<Alignment ss:Vertical=\"Bottom\"/>\n"
    "<Borders/>\n"
    "<Font/>\n"
    "<Interior/>\n"
    "<NumberFormat/>\n"
    "<Protection/>\n"
    "</Style>\n"
    "</Styles>\n";

// The one sheet of a job with one result.
constexpr std::string_view kDefaultSheet = "<Worksheet ss:Name=\"rowpress\">\n";
constexpr std::string_view kSheetStart = "<Worksheet ss:Name=\"";
constexpr std::string_view kSheetStartEnd = "\">\n";

// Every sheet's table tag starts as this placeholder line, rewritten when the sheet ends.
constexpr std::string_view kPlaceholder =
    "<Table ss:ExpandedColumnCount=\"0\" ss:ExpandedRowCount=\"1\""
    " x:FullColumns=\"1\" x:FullRows=\"1\">      \n";

constexpr std::string_view kTagStart = "<Table ss:ExpandedColumnCount=\"";
constexpr std::string_view kTagMiddle = "\" ss:ExpandedRowCount=\"";
constexpr std::string_view kTagEnd = "\" x:FullColumns=\"1\" x:FullRows=\"1\">";

constexpr std::size_t countLineFeeds(std::string_view text) {
  std::size_t n = 0;
  for (char c : text) n += (c == '\n');
  return n;
}

// On disk each of the 32 line feeds before the first sheet's tag gains a CR.
static_assert(kHead.size() + kDefaultSheet.size() + countLineFeeds(kHead) +
                  countLineFeeds(kDefaultSheet) ==
              SpreadsheetMlWriter::kTableTagOffset);
static_assert(countLineFeeds(kHead) + countLineFeeds(kDefaultSheet) == 32);
static_assert(kPlaceholder.starts_with(kTagStart));
static_assert(kPlaceholder.size() + 1 == SpreadsheetMlWriter::kTableTagRoom);  // with its CR
static_assert(std::string_view("xmlns:html=\"http://www.w3.org/TR/REC-html40\">").size() == 45);

// The end of a sheet. Only the first sheet is selected: several selected sheets would open
// grouped, so that an edit to one changes them all.
constexpr std::string_view kTableEnd =
    "</Table>\n"
    "<WorksheetOptions xmlns=\"urn:schemas-microsoft-com:office:excel\">\n";
constexpr std::string_view kSelected = "<Selected/>\n";
constexpr std::string_view kSheetEnd =
    "<Panes>\n"
    "<Pane>\n"
    "     <Number>3</Number>\n"
    "<ActiveRow>1</ActiveRow>\n"
    "<ActiveCol>1</ActiveCol>\n"
    "</Pane>\n"
    "</Panes>\n"
    "<ProtectObjects>False</ProtectObjects>\n"
    "<ProtectScenarios>False</ProtectScenarios>\n"
    " </WorksheetOptions>\n"
    "</Worksheet>\n";
constexpr std::string_view kWorkbookEnd = "</Workbook>\n";
static_assert(countLineFeeds(kTableEnd) + countLineFeeds(kSelected) + countLineFeeds(kSheetEnd) +
                  countLineFeeds(kWorkbookEnd) ==
              15);

constexpr std::string_view kRowStart = "<Row>\n";
constexpr std::string_view kRowEnd = "</Row>\n";
constexpr std::string_view kStringOpen = "    <Cell><Data ss:Type=\"String\">";
constexpr std::string_view kNumberOpen = "    <Cell><Data ss:Type=\"Number\">";
constexpr std::string_view kCellClose = "</Data></Cell>\n";
constexpr std::string_view kBinaryCell =
    "<Cell><Data ss:Type=\"String\">&lt;BINARY&gt;</Data></Cell>\n";
constexpr std::string_view kTooLargeXml = "&lt;Too Large&gt;";

}  // namespace

bool SpreadsheetMlWriter::isNumericType(int sqlType) {
  switch (sqlType) {
    case 2:   // SQL_NUMERIC
    case 3:   // SQL_DECIMAL
    case 4:   // SQL_INTEGER
    case 5:   // SQL_SMALLINT
    case 6:   // SQL_FLOAT
    case 7:   // SQL_REAL
    case 8:   // SQL_DOUBLE
    case -6:  // SQL_TINYINT
    case -5:  // SQL_BIGINT
      return true;
    default:
      return false;
  }
}

void SpreadsheetMlWriter::begin(OutputFile& out) {
  out_ = &out;
  sheets_ = 0;
  sheetOpen_ = false;
  out_->write(kHead);
  // A job with one result has its sheet from the start; a report takes it back.
  defaultSheetStart_ = out_->position();
  openDefaultSheet();
  defaultSheetEmpty_ = true;
}

void SpreadsheetMlWriter::beginSheet(std::string_view name) {
  if (!out_) return;
  if (defaultSheetEmpty_) {
    // The lines of the empty default sheet are still in the file's buffer: nothing has been
    // handed to the system since the workbook's first 1,151 bytes.
    defaultSheetEmpty_ = false;
    sheetOpen_ = false;
    sheets_ = 0;
    if (!out_->takeBack(static_cast<std::size_t>(out_->position() - defaultSheetStart_))) {
      out_->fail(EIO, "the workbook's first sheet could not be renamed");
      return;
    }
  }
  if (sheetOpen_) endSheet(0, 1);
  out_->write(kSheetStart);
  writeXmlEscaped(*out_, name);
  out_->write(kSheetStartEnd);
  startTable();
}

void SpreadsheetMlWriter::startTable() {
  tagOffset_ = out_->position();
  out_->write(kPlaceholder);
  sheetOpen_ = true;
  ++sheets_;
}

void SpreadsheetMlWriter::openDefaultSheet() {
  if (sheetOpen_) return;
  out_->write(kDefaultSheet);
  startTable();
}

std::vector<ValueChanges> SpreadsheetMlWriter::writeHeader(const std::vector<ColumnInfo>& columns) {
  if (!out_) return std::vector<ValueChanges>(columns.size(), 0);
  defaultSheetEmpty_ = false;
  openDefaultSheet();
  out_->write(kRowStart);
  for (const ColumnInfo& column : columns) {
    out_->write(kStringOpen);
    writeXmlEscaped(*out_, column.name);
    out_->write(kCellClose);
  }
  out_->write(kRowEnd);
  return std::vector<ValueChanges>(columns.size(), 0);
}

void SpreadsheetMlWriter::startRow() {
  if (out_) out_->write(kRowStart);
}

ValueChanges SpreadsheetMlWriter::writeCell(const CellValue& cellValue, const ColumnInfo& column) {
  // NULL is written like the empty string.
  const std::string_view value = cellValue.text;
  if (!out_) return 0;
  if (isBinaryType(column.sqlType)) {
    out_->write(kBinaryCell);
    return 0;
  }
  // A number longer than a spreadsheet keeps is text, so that no digit is lost.
  if (isNumericType(column.sqlType) && isNumericText(value) &&
      !isLongNumber(value, isApproximateType(column.sqlType))) {
    out_->write(kNumberOpen);
    out_->write(value);
    out_->write(kCellClose);
    return 0;
  }
  out_->write(kStringOpen);
  const ValueChanges changes = writeStringContent(value, column);
  out_->write(kCellClose);
  return changes;
}

ValueChanges SpreadsheetMlWriter::writeStringContent(std::string_view value,
                                                     const ColumnInfo& column) {
  if (value.size() > kStringLimit) {
    out_->write(kTooLargeXml);
    return changeOf(ValueRule::TooLarge);
  }
  if (forceFullLength()) {
    const FixedWidth fixed = fixedWidth(value, column.declaredSize);
    ValueChanges changes = writeXmlEscaped(*out_, fixed.text) ? changeOf(ValueRule::Dropped) : 0;
    writeSpaces(*out_, fixed.padding);
    if (fixed.text.size() < value.size()) changes |= changeOf(ValueRule::FixedWidth);
    return changes;
  }
  return writeXmlEscaped(*out_, value) ? changeOf(ValueRule::Dropped) : 0;
}

void SpreadsheetMlWriter::endRow() {
  if (out_) out_->write(kRowEnd);
}

void SpreadsheetMlWriter::endSheet(int columnCount, long long tableRows) {
  if (!out_ || !sheetOpen_) return;
  sheetOpen_ = false;
  out_->write(kTableEnd);
  if (sheets_ == 1) out_->write(kSelected);
  out_->write(kSheetEnd);

  char columns[24];
  char rows[24];
  const std::size_t columnDigits = static_cast<std::size_t>(
      std::to_chars(columns, columns + sizeof columns, columnCount).ptr - columns);
  const std::size_t rowDigits =
      static_cast<std::size_t>(std::to_chars(rows, rows + sizeof rows, tableRows).ptr - rows);
  const std::size_t length =
      kTagStart.size() + columnDigits + kTagMiddle.size() + rowDigits + kTagEnd.size();
  if (length > kTableTagRoom) return;  // it would overwrite the header row

  char tag[kTableTagRoom];
  char* p = tag;
  for (std::string_view piece : {kTagStart, std::string_view(columns, columnDigits), kTagMiddle,
                                 std::string_view(rows, rowDigits), kTagEnd}) {
    std::memcpy(p, piece.data(), piece.size());
    p += piece.size();
  }
  out_->overwriteAt(tagOffset_, std::string_view(tag, length));
}

void SpreadsheetMlWriter::finish(int columnCount, long long tableRows) {
  if (!out_) return;
  defaultSheetEmpty_ = false;
  // A workbook holds at least one sheet: a job with one result ends its sheet here.
  if (sheets_ == 0) openDefaultSheet();
  endSheet(columnCount, tableRows);
  out_->write(kWorkbookEnd);
}

}  // namespace rowpress
