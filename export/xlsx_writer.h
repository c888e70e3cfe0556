// The writer of the Xlsx output type: an Office Open XML workbook written with libxlsxwriter in
// its constant-memory mode, so that memory stays flat however many rows come. Cells are typed
// from the column's SQL type: numbers, dates and times, booleans, text. Each sheet holds a bold
// header row that stays in view, an autofilter over the columns and at most a sheet's worth
// of data rows; the rows go on in Sheet2, Sheet3, ... A report's sheets are named by the report,
// and a full one goes on in "NAME (2)", "NAME (3)", ... (see overflowSheetName), clear of the
// names of the report's other sheets.
//
// libxlsxwriter writes the file itself, and opens it by name when the workbook is finished.
// The name it gets is that of the run's descriptor (/proc/self/fd/N), which can only mean the
// file that rowpress created and checked, whatever has happened to the temporary file's name
// since; its own temporary files go to the run's work directory, named the same way. Each
// sheet is written to a temporary file as the rows come, and the workbook is assembled from
// them when it is finished; a stop request waits for that.
//
// The library does not look at every write of its assembly: a disk that fills then would
// leave a workbook without some of its rows that is still a valid zip archive. So the finished
// workbook is read back through the run's descriptor (see zip_read_back.h), every entry to its
// end, and each sheet must hold the rows and cells this writer handed to the library and end
// as a sheet does. A failure of the library or of the read-back is recorded on the output
// file, which then reports it as a write error.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "export/output_writer.h"
#include "export/typed_cells.h"

struct lxw_workbook;
struct lxw_worksheet;
struct lxw_format;

namespace rowpress {

class XlsxWriter final : public OutputWriter {
 public:
  // Data rows of one sheet: a sheet holds 1,048,576 rows, the header row among them.
  static constexpr long long kSheetRows = 1048575;
  // The characters a cell holds, counted in UTF-16 code units as the spreadsheet counts them;
  // a longer text is written as "<Too Large>".
  static constexpr std::size_t kCellCharacters = 32767;
  // The longest value that a cell may hold: kCellCharacters of four bytes each. A value read
  // no further than this (CellValue::cut) is "<Too Large>".
  static constexpr std::size_t kValueBytes = 4 * kCellCharacters;

  // `sheetRows` is the number of data rows a sheet takes before the next one starts.
  explicit XlsxWriter(long long sheetRows = kSheetRows);
  ~XlsxWriter() override;
  XlsxWriter(const XlsxWriter&) = delete;
  XlsxWriter& operator=(const XlsxWriter&) = delete;

  // The workbook is written through `out`'s descriptor, the library's temporary files go to
  // its work directory (or, without one, beside its path).
  void begin(OutputFile& out) override;
  void planSheets(const std::vector<std::string>& names) override;
  void beginSheet(std::string_view name) override;
  void endRow() override;
  // Gives the sheet and the sheets its rows went on in their autofilters.
  void endSheet(int columnCount, long long tableRows) override;
  // Assembles the workbook and writes it to the file.
  void finish(int columnCount, long long tableRows) override;

 private:
  // Starts the first sheet, "Sheet1", when no sheet was started.
  std::vector<ValueChanges> writeHeader(const std::vector<ColumnInfo>& columns) override;
  void startRow() override;
  // WriterOptions::forceFullLength does not apply to a typed workbook.
  ValueChanges writeCell(const CellValue& value, const ColumnInfo& column) override;
  bool ok() const;
  // Records a failure of the library on the output file; later calls write nothing.
  void fail();
  // The name of the next sheet: "SheetN" in a job with one result, else the overflow name
  // of the report's current sheet.
  std::string nextSheetName();
  bool addSheet(const std::string& name);
  void writeHeaderRow();
  // Gives the current sheet its autofilter over the rows written to it.
  void closeSheet();
  // Both return the rules by which the value was changed to fit its cell.
  ValueChanges writeText(int column, std::string_view text, lxw_format* format = nullptr);
  ValueChanges writeDateTime(int column, std::string_view text);
  // A string cell that holds the empty text.
  void writeEmptyText(int column, lxw_format* format);
  void check(int error);
  // check() for a cell written at `row` of the current sheet, which is counted when written.
  void checkCell(int error, long long row);
  // Reads the finished workbook back and fails the file when it is not what was written.
  void readBack();
  // Fails the file when a write to the current sheet's temporary file failed; `flush` hands
  // the stream's buffer to the system first, so that nothing unwritten is left unchecked.
  void checkSheetFile(bool flush);

  long long sheetRows_;
  OutputFile* out_ = nullptr;
  lxw_workbook* workbook_ = nullptr;
  lxw_worksheet* sheet_ = nullptr;
  lxw_format* bold_ = nullptr;
  lxw_format* date_ = nullptr;
  lxw_format* time_ = nullptr;
  lxw_format* dateTime_ = nullptr;
  lxw_format* timeMillis_ = nullptr;
  lxw_format* dateTimeMillis_ = nullptr;
  bool failed_ = false;
  int sheets_ = 0;
  bool sheetOpen_ = false;
  std::vector<std::string> plannedNames_;  // a report's sheets, from planSheets
  std::string reportSheet_;                // the name of the report's current sheet
  int nextOverflow_ = 2;                   // the number its next overflow sheet tries first
  std::vector<ColumnInfo> columns_;
  std::vector<CellKind> kinds_;
  long long row_ = 0;  // the row being written in the current sheet; 0 is the header row
  std::string text_;   // the cleaned text of a cell
  std::string workbookPath_;
  std::string tmpdir_;
  // What each sheet was handed: the rows that hold a cell (only those are written) and the
  // cells.
  struct SheetCount {
    std::string name;
    long long rows = 0;
    long long cells = 0;
    long long lastRow = -1;
  };
  std::vector<SheetCount> written_;
};

}  // namespace rowpress
