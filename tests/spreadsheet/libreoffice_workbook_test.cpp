// Workbooks that the export run writes, opened by the real spreadsheet program: LibreOffice
// converts them to flat OpenDocument spreadsheets, and every cell that arrives there is
// compared with the row that went into the database: numbers as numbers, text as text, the
// row and column counts as written.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "export/spreadsheetml_writer.h"
#include "export/xlsx_writer.h"
#include "tests/spreadsheet/sheet_reader.h"
#include "tests/support/child_process.h"
#include "tests/support/run_fixture.h"
#include "tests/support/writer_test_support.h"

namespace rowpress {
namespace {

using support::RunTest;
using support::Sheet;
using support::SheetCell;
using support::SheetDump;

SheetCell number(const std::string& value) { return {"float", value}; }
SheetCell text(const std::string& value) { return {"string", value}; }
SheetCell empty() { return {}; }

// A number arrives as LibreOffice's own decimal form (15000000000.0 as 15000000000), so
// numbers are compared by value; everything else byte for byte.
bool sameCell(const SheetCell& actual, const SheetCell& expected) {
  if (actual.kind != expected.kind) return false;
  if (expected.kind != "float") return actual.text == expected.text;
  return !actual.text.empty() && std::stod(actual.text) == std::stod(expected.text);
}

// Every expected row, cell by cell; the sheet holds no further non-empty row or cell.
void expectSheet(const Sheet& sheet, const std::vector<std::vector<SheetCell>>& expected) {
  EXPECT_EQ(support::usedRows(sheet), expected.size());
  int mismatches = 0;
  for (std::size_t r = 0; r < expected.size() && r < sheet.rows.size(); ++r) {
    EXPECT_LE(support::usedCells(sheet.rows[r]), expected[r].size()) << "row " << r + 1;
    for (std::size_t c = 0; c < expected[r].size(); ++c) {
      const SheetCell actual = support::cellAt(sheet.rows[r], c);
      if (sameCell(actual, expected[r][c])) continue;
      if (++mismatches > 10) continue;  // the first ten are enough to see the fault
      ADD_FAILURE() << "row " << r + 1 << ", column " << c + 1 << ": expected "
                    << expected[r][c].kind << " \"" << expected[r][c].text.substr(0, 80)
                    << "\", LibreOffice has " << actual.kind << " \"" << actual.text.substr(0, 80)
                    << "\"";
    }
  }
  EXPECT_EQ(mismatches, 0);
}

// A workbook that an export wrote, and the sheet that LibreOffice must find in it.
struct WrittenWorkbook {
  std::string what;  // for the failure messages
  std::string path;
  std::vector<std::vector<SheetCell>> rows;
};

class LibreOfficeWorkbookTest : public RunTest {
 protected:
  void SetUp() override {
    RunTest::SetUp();
    ASSERT_FALSE(support::findProgram("soffice").empty())
        << "LibreOffice is missing: scripts/install-deps.sh installs its Calc, or says which "
           "packages installing it would remove";
    ASSERT_FALSE(support::findProgram("python3").empty()) << "python3 is missing";
    ASSERT_EQ(support::runShell("/usr/bin/python3 -c 'import openpyxl' 2> /dev/null"), 0)
        << "openpyxl is missing: install python3-openpyxl (scripts/install-deps.sh)";
  }

  // Runs the job with `sql` and gives the path of the workbook it kept.
  std::string exportWorkbook(const std::string& sql, RunOutcome expected) {
    RunResult result = fetch(sql);
    EXPECT_EQ(result.outcome, expected) << sql;
    return lastExport().path;
  }

  // Converts all workbooks with one run of LibreOffice and reads the results.
  std::vector<SheetDump> openInLibreOffice(const std::vector<std::string>& workbooks) {
    const std::string converted = temp_ / "converted";
    std::filesystem::create_directories(converted);
    std::string log;
    const int status = support::convertWithLibreOffice(workbooks, converted, temp_.path(), log);
    EXPECT_EQ(status, 0) << log;
    std::vector<SheetDump> dumps;
    for (const std::string& workbook : workbooks) {
      const std::string fods = converted + "/" + support::stemOf(workbook) + ".fods";
      EXPECT_TRUE(support::fileExists(fods)) << "LibreOffice did not open " << workbook << "\n"
                                             << log;
      dumps.push_back(support::readWithPython("fods", fods, temp_.path()));
      EXPECT_THAT(dumps.back().errors, ::testing::IsEmpty()) << fods;
    }
    return dumps;
  }

  // The one sheet a workbook has, named as rowpress names it.
  static const Sheet& onlySheet(const SheetDump& dump) {
    static const Sheet none;
    EXPECT_EQ(dump.sheets.size(), 1u);
    if (dump.sheets.empty()) return none;
    EXPECT_EQ(dump.sheets[0].name, "rowpress");
    return dump.sheets[0];
  }

  // Typed cells, escaped text, Unicode, NULLs and binary values, as a default workbook and
  // as a 2007 workbook.
  std::vector<WrittenWorkbook> sampleWorkbooks() {
    execute(
        "create table sample (id integer, amount double, big bigint, name varchar(60), "
        "code varchar(10), note text, raw blob)");
    execute(
        "insert into sample values (1, 3.25, 123456789012, 'A&B <x> \"q\" O''Neil', '42', "
        "'plain text', x'00ff')");
    execute(
        "insert into sample values (-12, -0.5, -7, 'Zürich € 😀 日本語', '007', "
        "'tab' || char(9) || 'and' || char(13) || char(10) || 'break', x'41')");
    execute("insert into sample values (NULL, NULL, NULL, NULL, NULL, NULL, NULL)");
    // Text in numeric columns stays text; "1-2" must not become the number 1.
    execute("insert into sample values ('n/a', 0.001, '1-2', '  two  spaces  ', '=1+1', '', NULL)");
    // Whole numbers of more than 15 digits would lose digits as numbers: they stay text.
    execute(
        "insert into sample values (1000000000000000000, 2.5, 12345678901234567, 'ids', '0', "
        "'x', NULL)");

    const std::vector<std::vector<SheetCell>> sample = {
        {text("id"), text("amount"), text("big"), text("name"), text("code"), text("note"),
         text("raw")},
        {number("1"), number("3.25"), number("123456789012"), text("A&B <x> \"q\" O'Neil"),
         text("42"), text("plain text"), text("<BINARY>")},
        // Control characters are dropped from String cells.
        {number("-12"), number("-0.5"), number("-7"), text("Zürich € 😀 日本語"), text("007"),
         text("tabandbreak"), text("<BINARY>")},
        {empty(), empty(), empty(), empty(), empty(), empty(), text("<BINARY>")},
        {text("n/a"), number("0.001"), text("1-2"), text("  two  spaces  "), text("=1+1"), empty(),
         text("<BINARY>")},
        {text("1000000000000000000"), number("2.5"), text("12345678901234567"), text("ids"),
         text("0"), text("x"), text("<BINARY>")},
    };
    const std::string sql = "select * from sample order by rowid";
    const std::string defaultWorkbook = exportWorkbook(sql, RunOutcome::Exported);
    EXPECT_THAT(defaultWorkbook, ::testing::EndsWith(".TMP.xls"));
    job_.excel2007 = true;
    const std::string workbook2007 = exportWorkbook(sql, RunOutcome::Exported);
    EXPECT_THAT(workbook2007, ::testing::EndsWith(".TMP.xml"));
    job_.excel2007 = false;
    return {{"default workbook ", defaultWorkbook, sample},
            {"2007 workbook ", workbook2007, sample}};
  }

  // A String cell holds at most 32,765 bytes, counted before escaping; a longer value is
  // replaced by a marker.
  WrittenWorkbook longValuesWorkbook() {
    std::string ascii;
    while (ascii.size() < 32765) ascii += "abc<&>'\"0123456789 ";
    ascii.resize(32765);
    std::string accented;
    while (accented.size() < 32764) accented += "é";
    accented += "z";
    const std::string tooLong = ascii + "x";
    execute("create table long (v text)");
    for (const std::string& value : {ascii, accented, tooLong}) {
      std::string literal;
      for (char c : value) literal += c == '\'' ? std::string("''") : std::string(1, c);
      execute("insert into long values ('" + literal + "')");
    }
    return {"long values ",
            exportWorkbook("select v as \"long values\" from long order by rowid",
                           RunOutcome::Exported),
            {{text("long values")}, {text(ascii)}, {text(accented)}, {text("<Too Large>")}}};
  }

  // Fixed width: String cells padded with spaces or cut to the declared size (bytes, never
  // inside a character), Number cells as they are; header names escaped like values.
  WrittenWorkbook fixedWidthWorkbook() {
    execute("create table fixed (code varchar(8), qty integer)");
    execute("insert into fixed values ('ab', 7)");
    execute("insert into fixed values ('Zürich€x', NULL)");
    execute("insert into fixed values (NULL, -3)");
    job_.forceFullLength = true;
    const std::string path = exportWorkbook(
        "select code as \"Größe <&> 'x'\", qty from fixed order by rowid", RunOutcome::Exported);
    job_.forceFullLength = false;
    // The NULL in the integer column is no number: a String cell, padded to the column's
    // size, which the SQLite driver declares as 10 for integer.
    return {"fixed width ",
            path,
            {{text("Größe <&> 'x'"), text("qty")},
             {text("ab      "), number("7")},
             {text("Zürich "), text(std::string(10, ' '))},
             {text("        "), number("-3")}}};
  }

  // Opens every workbook with one run of LibreOffice and compares each one's sheet.
  void expectOpenedAsWritten(const std::vector<WrittenWorkbook>& workbooks) {
    std::vector<std::string> paths;
    for (const WrittenWorkbook& workbook : workbooks) paths.push_back(workbook.path);
    std::vector<SheetDump> dumps = openInLibreOffice(paths);
    ASSERT_EQ(dumps.size(), workbooks.size());
    for (std::size_t i = 0; i < workbooks.size(); ++i) {
      SCOPED_TRACE(workbooks[i].what + workbooks[i].path);
      expectSheet(onlySheet(dumps[i]), workbooks[i].rows);
    }
  }
};

TEST_F(LibreOfficeWorkbookTest, TypedCellsEscapedTextUnicodeNullsAndLongValues) {
  std::vector<WrittenWorkbook> workbooks = sampleWorkbooks();
  workbooks.push_back(longValuesWorkbook());
  workbooks.push_back(fixedWidthWorkbook());
  ASSERT_EQ(workbooks.size(), 4u);
  expectOpenedAsWritten(workbooks);
}

TEST_F(LibreOfficeWorkbookTest, WorkbooksStoppedAtALimitStillOpen) {
  // 70,000 rows: the run stops after the 65,534th data row (65,535 rows with the header).
  execute("create table seq (n integer, label varchar(20))");
  execute(
      "insert into seq with recursive c(x) as (select 1 union all select x + 1 from c "
      "where x < 70000) select x, 'r' || x from c");
  const std::string tall = exportWorkbook("select n, label from seq order by n", RunOutcome::Limit);
  EXPECT_EQ(lastExport().rows, 65534);

  // 256 columns: the header row has them all, the first data row stops after 255 cells.
  std::string columns;
  std::string values1;
  std::string values2;
  for (int k = 1; k <= 256; ++k) {
    const std::string sep = k == 1 ? "" : ", ";
    columns += sep + "c" + std::to_string(k) + (k % 2 ? " integer" : " varchar(10)");
    values1 += sep + (k % 2 ? std::to_string(k) : "'v" + std::to_string(k) + "'");
    values2 += sep + (k % 2 ? std::to_string(-k) : "'w" + std::to_string(k) + "'");
  }
  execute("create table wide (" + columns + ")");
  execute("insert into wide values (" + values1 + ")");
  execute("insert into wide values (" + values2 + ")");
  const std::string wide = exportWorkbook("select * from wide order by rowid", RunOutcome::Limit);

  std::vector<SheetDump> dumps = openInLibreOffice({tall, wide});
  ASSERT_EQ(dumps.size(), 2u);
  {
    SCOPED_TRACE("row limit " + tall);
    std::vector<std::vector<SheetCell>> expected = {{text("n"), text("label")}};
    for (int i = 1; i <= 65534; ++i) {
      expected.push_back({number(std::to_string(i)), text("r" + std::to_string(i))});
    }
    expectSheet(onlySheet(dumps[0]), expected);
  }
  {
    SCOPED_TRACE("column stop " + wide);
    std::vector<SheetCell> header;
    std::vector<SheetCell> first;
    for (int k = 1; k <= 256; ++k) {
      header.push_back(text("c" + std::to_string(k)));
      if (k <= 255) {
        first.push_back(k % 2 ? number(std::to_string(k)) : text("v" + std::to_string(k)));
      }
    }
    const Sheet& sheet = onlySheet(dumps[1]);
    expectSheet(sheet, {header, first});
    if (sheet.rows.size() >= 2) {
      EXPECT_EQ(support::usedCells(sheet.rows[1]), 255u);
    }
  }
}

// The .xlsx output read back by two readers that owe nothing to rowpress nor to each other:
// LibreOffice and openpyxl. Each cell must arrive with its type and its value.
TEST_F(LibreOfficeWorkbookTest, XlsxCellsArriveTypedInLibreOfficeAndInOpenpyxl) {
  execute(
      "create table kinds (i integer, x double, big bigint, d date, t time, ts timestamp, "
      "b bit, s varchar(40), raw blob)");
  execute(
      "insert into kinds values (42, 3.25, 123456789012345, '2024-02-29', '12:30:05', "
      "'2024-01-02 03:04:05', 1, 'Zürich € 😀 <b>&amp;</b>', x'00ff')");
  execute(
      "insert into kinds values (-7, -0.5, 12345678901234567, '0000-00-00', '24:00:00', "
      "'1899-12-31 00:00:00', 0, 'tab' || char(9) || 'break' || char(10), x'41')");
  execute("insert into kinds values (NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL)");
  std::string longest(32767, 'y');
  execute(
      "insert into kinds values (0, 1e-3, -1, '9999-12-31', '00:00:00', "
      "'2024-01-02 03:04:05+01', NULL, '" +
      longest + "', x'')");
  execute(
      "insert into kinds values (1, 2, 3, '1900-03-01', '23:59:59', '1900-03-01 00:00:01', "
      "1, '" +
      longest + "z', NULL)");
  execute(
      "insert into kinds values (2, 0.5, 4, '2024-02-29', '23:59:59.9999', "
      "'2024-12-31 23:59:59.9999', 0, 'cut', x'01')");
  // Past 65,536 bytes a value that a cell holds arrives whole (30,000 characters of three
  // bytes); one longer than any cell holds is too large.
  std::string wide;
  for (int i = 0; i < 30000; ++i) wide += "語";
  execute("insert into kinds values (3, 1, 5, NULL, NULL, NULL, NULL, '" + wide + "', NULL)");
  execute("insert into kinds values (4, 1, 6, NULL, NULL, NULL, NULL, '" +
          std::string(140000, 'w') + "', NULL)");
  setOutputType(job_, OutputType::Xlsx);
  const std::string workbook =
      exportWorkbook("select * from kinds order by rowid", RunOutcome::Exported);
  EXPECT_THAT(workbook, ::testing::EndsWith(".TMP.xlsx"));

  // The typed cells of an .xlsx workbook (see sameXlsxCell), not LibreOffice's kinds.
  auto xNumber = [](const char* v) { return SheetCell{"number", v}; };
  auto xText = [](const std::string& v) { return SheetCell{"text", v}; };
  auto xDate = [](const char* v) { return SheetCell{"date", v}; };
  auto xWhen = [](const char* v) { return SheetCell{"datetime", v}; };
  auto xTime = [](const char* v) { return SheetCell{"time", v}; };
  auto xBool = [](const char* v) { return SheetCell{"bool", v}; };
  const SheetCell xBinary = xText("<BINARY>");
  const SheetDump dump = support::expectXlsxReadByBoth(
      workbook,
      {{xText("i"), xText("x"), xText("big"), xText("d"), xText("t"), xText("ts"), xText("b"),
        xText("s"), xText("raw")},
       {xNumber("42"), xNumber("3.25"), xNumber("123456789012345"), xDate("2024-02-29"),
        xTime("12:30:05"), xWhen("2024-01-02T03:04:05"), xBool("TRUE"),
        xText("Zürich € 😀 <b>&amp;</b>"), xBinary},
       // More than 15 digits, dates before 1900-03-01, 24:00 and zone offsets stay text;
       // control characters are dropped.
       {xNumber("-7"), xNumber("-0.5"), xText("12345678901234567"), xText("0000-00-00"),
        xText("24:00:00"), xText("1899-12-31 00:00:00"), xBool("FALSE"), xText("tabbreak"),
        xBinary},
       // A binary NULL is an empty cell like any other; an empty binary value is not NULL.
       {empty(), empty(), empty(), empty(), empty(), empty(), empty(), empty(), empty()},
       {xNumber("0"), xNumber("0.001"), xNumber("-1"), xDate("9999-12-31"), xTime("00:00:00"),
        xText("2024-01-02 03:04:05+01"), empty(), xText(longest), xBinary},
       {xNumber("1"), xNumber("2"), xNumber("3"), xDate("1900-03-01"), xTime("23:59:59"),
        xWhen("1900-03-01T00:00:01"), xBool("TRUE"), xText("<Too Large>"), empty()},
       // A fraction past the millisecond is cut, never rounded into the next day or year.
       {xNumber("2"), xNumber("0.5"), xNumber("4"), xDate("2024-02-29"), xTime("23:59:59.999"),
        xWhen("2024-12-31T23:59:59.999"), xBool("FALSE"), xText("cut"), xBinary},
       {xNumber("3"), xNumber("1"), xNumber("5"), empty(), empty(), empty(), empty(), xText(wide),
        empty()},
       {xNumber("4"), xNumber("1"), xNumber("6"), empty(), empty(), empty(), empty(),
        xText("<Too Large>"), empty()}},
      temp_.path());
  ASSERT_EQ(dump.sheets.size(), 1u);
  EXPECT_EQ(dump.sheets[0].name, "Sheet1");
  EXPECT_EQ(dump.sheets[0].infoOf("freeze"), "A2");
  EXPECT_EQ(dump.sheets[0].infoOf("filter"), "A1:I9");
  EXPECT_EQ(dump.sheets[0].infoOf("bold"), "111111111");
}

// A real export past the rows of one sheet: the first sheet is full, the rest goes on in the
// next one below its own header row. Read with openpyxl (LibreOffice takes minutes over a
// million rows).
TEST_F(LibreOfficeWorkbookTest, AnXlsxExportPastASheetsRowsGoesOnInTheNextSheet) {
  execute("create table seq (n integer)");
  execute(
      "insert into seq with recursive c(x) as (select 1 union all select x + 1 from c "
      "where x < 1048577) select x from c");
  setOutputType(job_, OutputType::Xlsx);
  const std::string workbook = exportWorkbook("select n from seq order by n", RunOutcome::Exported);
  EXPECT_EQ(lastExport().rows, 1048577);
  const SheetDump dump = support::readWithPython("xlsx", workbook, temp_.path());
  EXPECT_THAT(dump.errors, ::testing::IsEmpty()) << dump.log;
  ASSERT_EQ(dump.sheets.size(), 2u);
  const SheetCell header{"text", "n"};
  const Sheet& first = dump.sheets[0];
  EXPECT_EQ(first.name, "Sheet1");
  ASSERT_EQ(first.rows.size(), 1048576u);
  EXPECT_EQ(first.rows[0], support::SheetRow{header});
  int mismatches = 0;
  for (std::size_t r = 1; r < first.rows.size() && mismatches < 10; ++r) {
    const support::SheetRow expected{{"number", std::to_string(r)}};
    if (first.rows[r] == expected) continue;
    ++mismatches;
    ADD_FAILURE() << "Sheet1 row " << r + 1 << " holds " << support::cellAt(first.rows[r], 0).text;
  }
  EXPECT_EQ(first.infoOf("filter"), "A1:A1048576");
  const Sheet& second = dump.sheets[1];
  EXPECT_EQ(second.name, "Sheet2");
  EXPECT_EQ(second.rows, (std::vector<support::SheetRow>{
                             {header}, {{"number", "1048576"}}, {{"number", "1048577"}}}));
  EXPECT_EQ(second.infoOf("freeze"), "A2");
  EXPECT_EQ(second.infoOf("filter"), "A1:A3");
  EXPECT_EQ(second.infoOf("bold"), "1");
}

// CSV for a spreadsheet program in a German locale (LibreOffice's own, in its private
// profile): with ";" between the fields and decimal commas the numbers arrive as numbers in
// their own cells, and files in Windows-1252 and in UTF-16LE arrive with their accents.
TEST_F(LibreOfficeWorkbookTest, CsvWithSemicolonsAndDecimalCommasOpensRightInAGermanLocale) {
  execute("create table prices (item varchar(20), price double, qty integer)");
  execute("insert into prices values ('Käse; alt', 1250.75, 3)");
  execute("insert into prices values ('Äpfel 1.5', -0.5, -2)");
  setOutputType(job_, OutputType::Csv);
  job_.quoteFields = job_.decimalComma = true;
  job_.separator = ";";
  std::vector<std::string> files;
  for (const char* encoding : {"windows-1252", "UTF-16LE"}) {
    job_.encoding = encoding;
    job_.outFileName = temp_ / (std::string("prices-") + encoding + ".csv");
    files.push_back(exportWorkbook("select item, price, qty from prices order by qty desc",
                                   RunOutcome::Exported));
  }
  const std::string converted = temp_ / "converted";
  std::filesystem::create_directories(converted);
  std::string log;
  // Each file read in its character set, as a user picks it when opening the file:
  // Windows-1252 (1) and Unicode (65535).
  const char* const filters[] = {"CSV:59,34,1,1", "CSV:59,34,65535,1"};
  for (std::size_t i = 0; i < files.size(); ++i) {
    ASSERT_EQ(support::convertWithLibreOffice({files[i]}, converted, temp_.path(), log, "de-DE",
                                              filters[i]),
              0)
        << log;
  }
  const std::vector<support::SheetRow> expected = {
      {{"string", "item"}, {"string", "price"}, {"string", "qty"}},
      {{"string", "Käse; alt"}, {"float", "1250.75"}, {"float", "3"}},
      {{"string", "Äpfel 1.5"}, {"float", "-0.5"}, {"float", "-2"}}};
  for (const std::string& file : files) {
    const SheetDump dump = support::readWithPython(
        "fods", converted + "/" + support::stemOf(file) + ".fods", temp_.path());
    EXPECT_THAT(dump.errors, ::testing::IsEmpty()) << file << "\n" << log;
    ASSERT_EQ(dump.sheets.size(), 1u) << file;
    std::vector<support::SheetRow> rows = dump.sheets[0].rows;
    rows.resize(support::usedRows(dump.sheets[0]));
    for (support::SheetRow& row : rows) row.resize(support::usedCells(row));
    EXPECT_EQ(rows, expected) << file;
  }
}

// A report of three sheets, as the XML workbook and as the .xlsx workbook (two data rows a
// sheet, so that full sheets go on in numbered ones), opened by the real readers: every
// sheet arrives by its name, in order, with its own cells.
TEST_F(LibreOfficeWorkbookTest, AReportsSheetsArriveByNameInBothWorkbooks) {
  constexpr std::int16_t kInteger = 4, kDouble = 8, kVarchar = 12;
  const std::string longName = "Zürich quarterly orders 2024 €€";  // 31 UTF-16 code units
  const std::vector<support::ReportSheet> sheets{
      {"Orders",
       {support::column("id", 10, kInteger), support::column("name", 20, kVarchar)},
       {{"1", "A&B <x>"}, {"2", std::nullopt}, {"3", "Zürich 😀"}}},
      {"Q&A \"1\" O'Neil 😀", {support::column("amount", 10, kDouble)}, {{"3.25"}, {"-0.5"}}},
      {longName, {support::column("note", 20, kVarchar)}, {{"x"}, {"y"}, {"z"}}},
  };
  const std::string xml = temp_ / "report-xml.xls";
  SpreadsheetMlWriter xmlWriter;
  support::writeReport(xmlWriter, xml, sheets);
  const std::string xlsx = temp_ / "report-xlsx.xlsx";
  XlsxWriter xlsxWriter(2);
  support::writeReport(xlsxWriter, xlsx, sheets);

  const std::vector<SheetDump> dumps = openInLibreOffice({xml});
  ASSERT_EQ(dumps.size(), 1u);
  std::vector<std::string> names;
  for (const Sheet& sheet : dumps[0].sheets) names.push_back(sheet.name);
  ASSERT_EQ(names, (std::vector<std::string>{"Orders", "Q&A \"1\" O'Neil 😀", longName}));
  expectSheet(dumps[0].sheets[0], {{text("id"), text("name")},
                                   {number("1"), text("A&B <x>")},
                                   {number("2"), empty()},
                                   {number("3"), text("Zürich 😀")}});
  expectSheet(dumps[0].sheets[1], {{text("amount")}, {number("3.25")}, {number("-0.5")}});
  expectSheet(dumps[0].sheets[2], {{text("note")}, {text("x")}, {text("y")}, {text("z")}});

  auto xNumber = [](const char* v) { return SheetCell{"number", v}; };
  auto xText = [](const char* v) { return SheetCell{"text", v}; };
  const SheetDump read = support::expectXlsxSheetsReadByBoth(
      xlsx,
      {{"Orders",
        {{xText("id"), xText("name")}, {xNumber("1"), xText("A&B <x>")}, {xNumber("2"), empty()}}},
       {"Orders (2)", {{xText("id"), xText("name")}, {xNumber("3"), xText("Zürich 😀")}}},
       {"Q&A \"1\" O'Neil 😀", {{xText("amount")}, {xNumber("3.25")}, {xNumber("-0.5")}}},
       {longName, {{xText("note")}, {xText("x")}, {xText("y")}}},
       {"Zürich quarterly orders 202 (2)", {{xText("note")}, {xText("z")}}}},
      temp_.path());
  for (const Sheet& sheet : read.sheets) {
    SCOPED_TRACE(sheet.name);
    EXPECT_EQ(sheet.infoOf("freeze"), "A2");
    EXPECT_NE(sheet.infoOf("filter"), "(none)");
  }
}

}  // namespace
}  // namespace rowpress
