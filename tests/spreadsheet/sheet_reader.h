// Reading rowpress's output back with programs that owe nothing to rowpress: LibreOffice
// converts workbooks into flat OpenDocument spreadsheets, and sheet_dump.py (Python's csv
// module, html.parser and ElementTree) turns those, CSV, TSV and HTML files into rows of
// typed cells that the tests compare with the rows they put into the database.
#pragma once

#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace rowpress::support {

// One cell as the reader saw it. For a flat OpenDocument spreadsheet the kind is the value
// type ("float", "string", "" for an empty cell) and the text is office:value for numbers,
// the displayed text otherwise; CSV and TSV fields are "text"; HTML cells "th" or "td".
struct SheetCell {
  std::string kind;
  std::string text;
  bool operator==(const SheetCell&) const = default;
};
using SheetRow = std::vector<SheetCell>;
// How a test failure shows a cell: "kind:text".
inline void PrintTo(const SheetCell& cell, std::ostream* out) {
  *out << cell.kind << ":" << cell.text;
}

struct Sheet {
  std::string name;
  std::vector<SheetRow> rows;
  // How an xlsx sheet shows its rows, by name: "freeze" (the first cell that scrolls, as
  // "A2"), "filter" (the autofilter's range), "bold" (a 1 or 0 per header cell), "widths".
  std::vector<std::pair<std::string, std::string>> info;
  std::string infoOf(const std::string& name) const {
    for (const auto& [key, value] : info) {
      if (key == name) return value;
    }
    return "(none)";
  }
};

struct SheetDump {
  std::vector<Sheet> sheets;
  std::vector<std::string> errors;  // what the reader would not accept
  int exitStatus = -1;
  std::string log;  // the reader's standard error
};

// Reads `file` with sheet_dump.py, run by Debian's Python (/usr/bin/python3), whose modules
// (openpyxl) the tests use, in `mode` ("fods", "csv", "tsv", "standard-csv", "standard-tsv",
// "html" or "xlsx"). Scratch files go to
// `scratchDirectory`.
SheetDump readWithPython(const std::string& mode, const std::string& file,
                         const std::string& scratchDirectory);

// Whether a cell of an .xlsx workbook, as LibreOffice (through a flat OpenDocument
// spreadsheet) or openpyxl read it, is the typed cell `expected`: kind "number", "text",
// "bool" ("TRUE" or "FALSE"), "date" ("YYYY-MM-DD"), "datetime" ("YYYY-MM-DDTHH:MM:SS" with
// an optional fraction), "time" ("HH:MM:SS", the same) or "" for an empty cell. Numbers are
// compared by value, times to the millisecond that a workbook keeps (LibreOffice writes
// hundredths of a second).
bool sameXlsxCell(const SheetCell& actual, const SheetCell& expected, bool libreOffice);

// Reads the .xlsx workbook `path` with LibreOffice and with openpyxl (scratch files in
// `scratchDirectory`) and expects the first sheet of each to hold `rows`, typed cells as
// sameXlsxCell takes them, and no further non-empty row or cell. Returns what openpyxl read.
SheetDump expectXlsxReadByBoth(const std::string& path, const std::vector<SheetRow>& rows,
                               const std::string& scratchDirectory);

// A sheet that a test expects: its name and its rows.
struct NamedRows {
  std::string name;
  std::vector<SheetRow> rows;
};

// The same for every sheet of a workbook of several: LibreOffice and openpyxl each find
// exactly `sheets`, in order, by name, each holding its rows.
SheetDump expectXlsxSheetsReadByBoth(const std::string& path, const std::vector<NamedRows>& sheets,
                                     const std::string& scratchDirectory);

// Parses the output of sheet_dump.py.
SheetDump parseSheetDump(const std::string& text);

// Converts `files` to flat OpenDocument spreadsheets (NAME.fods in `outputDirectory`) with
// one run of LibreOffice, with a private profile and home directory under
// `scratchDirectory` so that nothing touches the real home. Returns LibreOffice's exit
// status; its output goes to `log`. A `locale` ("de-DE") is LibreOffice's own, set in the
// private profile (the system's stays as it is); an `inputFilter` ("CSV:59,34,1,1") is how
// it reads the files.
int convertWithLibreOffice(const std::vector<std::string>& files,
                           const std::string& outputDirectory, const std::string& scratchDirectory,
                           std::string& log, const std::string& locale = "",
                           const std::string& inputFilter = "");

// The file name without its directory and its last extension: /a/b/row1A2F.TMP.xls gives
// row1A2F.TMP, which is also the name LibreOffice gives the converted file.
std::string stemOf(const std::string& path);

// The cell at (row, column), or an empty cell when the row is shorter: spreadsheets do not
// store empty cells at the end of a row.
SheetCell cellAt(const SheetRow& row, std::size_t column);

// The number of rows of `sheet` without empty rows at its end.
std::size_t usedRows(const Sheet& sheet);

// The number of cells of `row` without empty cells at its end.
std::size_t usedCells(const SheetRow& row);

}  // namespace rowpress::support
