// The same exports from each server: how every column type becomes a cell, what the type
// report shows, UTF-8 text byte for byte, a value cut at the buffer and a failing statement.
// The test bodies are shared; what each server and driver produces is a table of data below.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <ostream>
#include <set>
#include <utility>

#include "export/text_rules.h"
#include "job/shown_text.h"
#include "tests/servers/server_test.h"
#include "tests/spreadsheet/sheet_reader.h"

namespace rowpress::support {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;
using ::testing::MatchesRegex;
using ::testing::StartsWith;

class ServerTypesTest;

// What one server, through one driver, makes of the same exports.
struct ServerCase {
  const char* label;        // the test name's suffix
  const char* dataSource;   // where the exports run
  const char* setupSource;  // where the tables are made
  // A table of every kind of value: one row of values, one of NULLs and one of edge values.
  const char* typesColumns;
  const char* typesRows;
  // Orders the rows as: values, edge values, NULLs.
  const char* typesOrder;
  std::vector<const char*> header;
  std::vector<std::string> valueRow;
  std::vector<std::string> edgeRow;
  std::vector<std::size_t> binaryColumns;  // "<BINARY>" also when NULL in the XML workbook
  // The start of the value row's line in the status list.
  const char* valueLine;
  // The type report: the first five fields of each column line, and whole lines by index.
  std::vector<std::string> reportColumns;
  std::vector<std::pair<std::size_t, std::string>> reportLines;
  // The columns of a table of names and notes in three scripts.
  const char* textColumns;
  // One column of "x" and 40,000 two-byte characters (80,001 bytes), then one of 1.
  const char* longValueQuery;
  // The diagnostic line of a query of table `table` that does not exist, as a regular
  // expression.
  std::string (*missingTable)(ServerTypesTest& test, const std::string& table);
  // The value row and the edge row of the types table in an .xlsx workbook, as typed cells
  // (see sameXlsxCell).
  std::vector<SheetCell> xlsxValueRow;
  std::vector<SheetCell> xlsxEdgeRow;
};

SheetCell xNumber(const char* value) { return {"number", value}; }
SheetCell xText(const char* value) { return {"text", value}; }
SheetCell xDate(const char* value) { return {"date", value}; }
SheetCell xDateTime(const char* value) { return {"datetime", value}; }
const SheetCell kXBinary{"text", "<BINARY>"};
const SheetCell kXEmpty{};

void PrintTo(const ServerCase& server, std::ostream* out) { *out << server.dataSource; }

class ServerTypesTest : public ServerTest, public ::testing::WithParamInterface<ServerCase> {
 public:
  using ServerTest::facts;
  using ServerTest::queryValue;

 protected:
  void createTypesTable() {
    const ServerCase& server = GetParam();
    table_ = unique("types");
    run(server.setupSource, "drop table if exists " + table_);
    run(server.setupSource, "create table " + table_ + " " + server.typesColumns);
    run(server.setupSource, "insert into " + table_ + " values " + server.typesRows);
  }
  std::string table_;
};

TEST_P(ServerTypesTest, EachTypeBecomesANumberOrAStringCell) {
  const ServerCase& server = GetParam();
  ASSERT_NO_FATAL_FAILURE(createTypesTable());
  ASSERT_EQ(
      fetchFrom(server.dataSource, "select * from " + table_ + " " + server.typesOrder).outcome,
      RunOutcome::Exported);
  const auto rows = workbookRows(readFile(onlyOutput()));
  ASSERT_EQ(rows.size(), 4u);
  std::vector<std::string> header;
  for (const char* name : server.header) header.push_back(stringCell(name));
  EXPECT_THAT(rows[0], ElementsAreArray(header));
  EXPECT_THAT(rows[1], ElementsAreArray(server.valueRow));
  EXPECT_THAT(rows[2], ElementsAreArray(server.edgeRow));
  // NULLs: empty String cells, numeric columns included; binary columns stay "<BINARY>".
  std::vector<std::string> nulls(server.header.size(), stringCell(""));
  for (std::size_t column : server.binaryColumns) nulls[column] = kBinaryCell;
  EXPECT_THAT(rows[3], ElementsAreArray(nulls));
  EXPECT_THAT(statusList().at(2), StartsWith(server.valueLine));
}

// The .xlsx workbook of the same table, read back by LibreOffice and by openpyxl: every cell
// with its type and its value. A NULL is an empty cell in binary columns too (the driver is
// asked for the length only), so the last row, all NULLs, leaves no cell used; an empty
// binary value stays "<BINARY>".
TEST_P(ServerTypesTest, EachTypeBecomesATypedXlsxCellForBothReaders) {
  const ServerCase& server = GetParam();
  ASSERT_NO_FATAL_FAILURE(createTypesTable());
  setOutputType(job_, OutputType::Xlsx);
  ASSERT_EQ(
      fetchFrom(server.dataSource, "select * from " + table_ + " " + server.typesOrder).outcome,
      RunOutcome::Exported);
  std::vector<SheetCell> header;
  for (const char* name : server.header) header.push_back({"text", name});
  expectXlsxReadByBoth(onlyOutput(), {header, server.xlsxValueRow, server.xlsxEdgeRow},
                       temp_.path());
}

TEST_P(ServerTypesTest, TheTypeReportShowsTheCodesTheDriverReports) {
  const ServerCase& server = GetParam();
  ASSERT_NO_FATAL_FAILURE(createTypesTable());
  ASSERT_EQ(fetchFrom(server.dataSource, "select * from " + table_).outcome, RunOutcome::Exported);
  EXPECT_THAT(typeReportColumns(), ElementsAreArray(server.reportColumns));
  const std::vector<std::string> report = typeReport();
  ASSERT_EQ(report.size(), server.reportColumns.size() + 1);
  EXPECT_EQ(report[0],
            "Column_Number,Column_Name,Column_Type,Column_Precision,Column_Scale,"
            "Column_Type_Description");
  for (const auto& [index, line] : server.reportLines) EXPECT_EQ(report.at(index), line);
}

TEST_P(ServerTypesTest, Utf8TextReachesTheFileByteForByte) {
  const ServerCase& server = GetParam();
  const std::string table = unique("cities");
  run(server.setupSource, "drop table if exists " + table);
  run(server.setupSource, "create table " + table + " " + server.textColumns);
  run(server.setupSource, "insert into " + table +
                              " values (1, 'Zürich', 'Grüezi'), (2, 'Łódź', 'Dzień dobry'), "
                              "(3, '東京', 'こんにちは'), (4, 'Emoji 😀🎉', 'ß€')");
  setOutputType(job_, OutputType::Csv);
  ASSERT_EQ(
      fetchFrom(server.dataSource, "select name, note from " + table + " order by id").outcome,
      RunOutcome::Exported);
  EXPECT_EQ(readFile(onlyOutput()),
            "name,note,\r\n"
            "Z\xC3\xBCrich,Gr\xC3\xBC"
            "ezi,\r\n"
            "\xC5\x81\xC3\xB3\x64\xC5\xBA,Dzie\xC5\x84 dobry,\r\n"
            "\xE6\x9D\xB1\xE4\xBA\xAC,\xE3\x81\x93\xE3\x82\x93\xE3\x81\xAB\xE3\x81\xA1\xE3\x81\xAF,"
            "\r\n"
            "Emoji \xF0\x9F\x98\x80\xF0\x9F\x8E\x89,\xC3\x9F\xE2\x82\xAC,\r\n");
}

TEST_P(ServerTypesTest, AValueLongerThanTheBufferIsCutOnACharacterBoundary) {
  // The first 65,536 bytes would end in the middle of a character, so the value keeps
  // 65,535.
  setOutputType(job_, OutputType::Csv);
  ASSERT_EQ(fetchFrom(GetParam().dataSource, GetParam().longValueQuery).outcome,
            RunOutcome::Exported);
  std::string expected = "long_value,after,\r\nx";
  for (int i = 0; i < 32767; ++i) expected += "é";
  expected += ",1,\r\n";
  const std::string file = readFile(onlyOutput());
  EXPECT_EQ(file.size(), expected.size());
  EXPECT_TRUE(file == expected) << "the cut value differs from its first 65,535 bytes";
}

TEST_P(ServerTypesTest, AFailingStatementShowsTheServersDiagnostic) {
  const std::string table = unique("no_such_table");
  const std::string sql = "select * from " + table;
  ASSERT_EQ(fetchFrom(GetParam().dataSource, sql).outcome, RunOutcome::StatementFailed);
  EXPECT_THAT(statusList(), ElementsAre(sql, "SQL statement failed.",
                                        MatchesRegex(GetParam().missingTable(*this, table))));
  ASSERT_EQ(report_.messages.size(), 1u);
  EXPECT_EQ(report_.messages[0].caption, "SQL statement failed.");
  // The box shows the same line, with its line breaks as they are.
  EXPECT_EQ(escapeControls(report_.messages[0].text), statusList().at(2));
  EXPECT_THAT(outputFiles(), IsEmpty());
  EXPECT_THAT(temporaryLeftovers(home()), IsEmpty());
}

// MariaDB: a FLOAT comes in plain decimals (a Number cell) but a large DOUBLE with an exponent
// (a String cell); a boolean is a TINYINT, so a Number cell.
const ServerCase kMariaDbCase{
    "MariaDb",
    kMariaDb,
    kMariaDb,
    "(i int, b bigint, n decimal(12,3), d double, r float, ok boolean, v varchar(20), t text, "
    "bin blob, vb varbinary(8), day date, ts datetime(6), si smallint, ti tinyint, c char(3), "
    "u int unsigned)",
    "(42, 9000000000, 1234.500, 3.25, 1.5, true, 'Zürich', 'Łódź 東京 😀', x'00ff', x'01', "
    "'2024-02-29', '2024-02-29 13:45:06', -7, -128, 'ab', 4294967295), "
    "(null, null, null, null, null, null, null, null, null, null, null, null, null, null, null, "
    "null), "
    "(-1, -9223372036854775808, -0.001, 1e300, -2.5e-5, false, '<a&b>', 'x''y', '', '', "
    "'1000-01-01', '1999-12-31 23:59:59.123456', 0, 127, '', 0)",
    "order by i is null, i desc",
    {"i", "b", "n", "d", "r", "ok", "v", "t", "bin", "vb", "day", "ts", "si", "ti", "c", "u"},
    {numberCell("42"), numberCell("9000000000"), numberCell("1234.500"), numberCell("3.25"),
     numberCell("1.5"), numberCell("1"), stringCell("Zürich"), stringCell("Łódź 東京 😀"),
     kBinaryCell, kBinaryCell, stringCell("2024-02-29"), stringCell("2024-02-29 13:45:06.000000"),
     numberCell("-7"), numberCell("-128"), stringCell("ab"), numberCell("4294967295")},
    // A whole number of more than 15 digits is a String cell, which a spreadsheet would
    // otherwise round. Markup is escaped.
    {numberCell("-1"), stringCell("-9223372036854775808"), numberCell("-0.001"),
     stringCell("1e300"), numberCell("-0.000025"), numberCell("0"), stringCell("&lt;a&amp;b&gt;"),
     stringCell("x&apos;y"), kBinaryCell, kBinaryCell, stringCell("1000-01-01"),
     stringCell("1999-12-31 23:59:59.123456"), numberCell("0"), numberCell("127"), stringCell(""),
     numberCell("0")},
    {8, 9},
    "42 | 9000000000 | 1234.500 | 3.25 | 1.5 | 1 | Zürich | ",
    {"1,i,4,10,0", "2,b,-5,20,0", "3,n,3,12,3", "4,d,8,15,0", "5,r,7,7,0", "6,ok,-6,3,0",
     "7,v,12,20,0", "8,t,-1,65535,0", "9,bin,-4,65535,0", "10,vb,-3,8,0", "11,day,91,10,0",
     "12,ts,93,26,6", "13,si,5,5,0", "14,ti,-6,3,0", "15,c,1,3,0", "16,u,4,10,0"},
    {},
    "(id int, name varchar(40), note text) character set utf8mb4",
    "select concat('x', repeat('é', 40000)) as long_value, 1 as after",
    // The driver puts its own version and the server's before the server's message.
    [](ServerTypesTest& test, const std::string& table) {
      return "\\[42S02\\] \\[ma-[0-9.]+\\]\\[" +
             escapeRegex(test.queryValue(kMariaDb, "select version()")) + "\\]Table '" +
             test.facts()["MARIADB_DATABASE"] + "\\." + table + "' doesn't exist \\(1146\\)\n";
    },
    // A boolean is a TINYINT: a number. A DATETIME(6) with a fraction of zero is a whole
    // second; a date before 1900-03-01 is text. A double in exponent form is a number; the
    // empty text is a string cell.
    {xNumber("42"), xNumber("9000000000"), xNumber("1234.5"), xNumber("3.25"), xNumber("1.5"),
     xNumber("1"), xText("Zürich"), xText("Łódź 東京 😀"), kXBinary, kXBinary, xDate("2024-02-29"),
     xDateTime("2024-02-29T13:45:06"), xNumber("-7"), xNumber("-128"), xText("ab"),
     xNumber("4294967295")},
    {xNumber("-1"), xText("-9223372036854775808"), xNumber("-0.001"), xNumber("1e300"),
     xNumber("-0.000025"), xNumber("0"), xText("<a&b>"), xText("x'y"), kXBinary, kXBinary,
     xText("1000-01-01"), xDateTime("1999-12-31T23:59:59.123456"), xNumber("0"), xNumber("127"),
     xText(""), xNumber("0")},
};

// PostgreSQL, through either driver, which describe the columns alike: double precision as
// SQL_FLOAT (6), boolean as BIT (the session sets BoolsAsChar to 0), text as LONG VARCHAR
// (TextAsLongVarchar), bytea as LONG VARBINARY with size 0 (ByteaAsLongVarBinary). A boolean
// arrives as 1 or 0, a String cell in the XML workbook; a number in exponent form is no plain
// number, so a String cell there too (in the .xlsx a double in exponent form is a number).
ServerCase postgresCase(const char* label, const char* dataSource) {
  return {
      label,
      dataSource,
      kPgAnsi,
      "(i integer, b bigint, n numeric(12,3), d double precision, r real, ok boolean, "
      "v varchar(20), t text, bin bytea, day date, ts timestamp, si smallint, c char(3))",
      "(42, 9000000000, 1234.500, 3.25, 1.5, true, 'Zürich', 'Łódź 東京 😀', '\\x00ff', "
      "'2024-02-29', '2024-02-29 13:45:06', -7, 'ab'), "
      "(null, null, null, null, null, null, null, null, null, null, null, null, null), "
      "(-1, -9223372036854775808, -0.001, 1e300, -2.5e-5, false, '<a&b>', 'x''y', '', "
      "'0001-01-01', '1999-12-31 23:59:59.123456', 0, '')",
      "order by i desc nulls last",
      {"i", "b", "n", "d", "r", "ok", "v", "t", "bin", "day", "ts", "si", "c"},
      {numberCell("42"), numberCell("9000000000"), numberCell("1234.500"), numberCell("3.25"),
       numberCell("1.5"), stringCell("1"), stringCell("Zürich"), stringCell("Łódź 東京 😀"),
       kBinaryCell, stringCell("2024-02-29"), stringCell("2024-02-29 13:45:06"), numberCell("-7"),
       stringCell("ab ")},
      {numberCell("-1"), stringCell("-9223372036854775808"), numberCell("-0.001"),
       stringCell("1e+300"), stringCell("-2.5e-05"), stringCell("0"), stringCell("&lt;a&amp;b&gt;"),
       stringCell("x&apos;y"), kBinaryCell, stringCell("0001-01-01"),
       stringCell("1999-12-31 23:59:59.123456"), numberCell("0"), stringCell("   ")},
      {8},
      "42 | 9000000000 | 1234.500 | 3.25 | 1.5 | 1 | Zürich | ",
      {"1,i,4,10,0", "2,b,-5,19,0", "3,n,2,12,3", "4,d,6,17,0", "5,r,7,9,0", "6,ok,-7,1,0",
       "7,v,12,20,0", "8,t,-1,8190,0", "9,bin,-4,0,0", "10,day,91,10,0", "11,ts,93,26,6",
       "12,si,5,5,0", "13,c,1,3,0"},
      {{4,
        "4,d,6,17,0,FLOAT(p) Signed; approximate; numeric value with a binary precision of "
        "at least p. (The maximum precision is driver-defined.)"},
       {10,
        "10,day,91,10,0,DATE Year; month; and day fields; conforming to the rules of the "
        "Gregorian calendar. (See \"Constraints of the Gregorian Calendar;\" later in this "
        "appendix.)"}},
      "(id integer, name varchar(40), note text)",
      "select 'x' || repeat('é', 40000) as long_value, 1 as after",
      [](ServerTypesTest&, const std::string& table) {
        // The status list shows the line feed inside the message escaped.
        return escapeRegex("[42P01] ERROR: relation \"" + table +
                           "\" does not exist;\\nError while executing the query (1)\n");
      },
      // The driver reports a boolean as BIT (the session sets BoolsAsChar to 0): a boolean cell.
      {xNumber("42"),
       xNumber("9000000000"),
       xNumber("1234.5"),
       xNumber("3.25"),
       xNumber("1.5"),
       {"bool", "TRUE"},
       xText("Zürich"),
       xText("Łódź 東京 😀"),
       kXBinary,
       xDate("2024-02-29"),
       xDateTime("2024-02-29T13:45:06"),
       xNumber("-7"),
       xText("ab ")},
      {xNumber("-1"),
       xText("-9223372036854775808"),
       xNumber("-0.001"),
       xNumber("1e+300"),
       xNumber("-2.5e-05"),
       {"bool", "FALSE"},
       xText("<a&b>"),
       xText("x'y"),
       kXBinary,
       xText("0001-01-01"),
       xDateTime("1999-12-31T23:59:59.123456"),
       xNumber("0"),
       xText("   ")},
  };
}

INSTANTIATE_TEST_SUITE_P(EachServer, ServerTypesTest,
                         ::testing::Values(kMariaDbCase, postgresCase("PgAnsi", kPgAnsi),
                                           postgresCase("PgUnicode", kPgUnicode)),
                         [](const auto& info) { return std::string(info.param.label); });

// Each database's own CSV export of a table of hard values against rowpress's standard CSV
// and .xlsx of the same table. Both CSV files are read by an RFC 4180 reader that keeps NULL (an
// unquoted empty field) apart from the empty string; the .xlsx is read by openpyxl and
// LibreOffice and compared as typed values. A difference is either one of the case's known
// representation differences, each with its reason, or a change that a note line says; any
// other fails.
struct KnownDifference {
  const char* column;
  const char* database;  // the database's export of the value
  const char* rowpress;  // rowpress's standard CSV of it
  const char* reason;
};

struct ExportCase {
  const char* label;
  const char* dataSource;   // where rowpress exports
  const char* setupSource;  // where the table is made
  const char* columns;
  const char* rows;
  // How the spreadsheet holds each column's values: "number" (exact), "double", "bool",
  // "date", "datetime", "time", "text" or "binary".
  std::vector<const char*> kinds;
  std::vector<KnownDifference> known;
  // The database's own export of `select * from TABLE order by id`, and its reader's mode.
  std::vector<std::string> (*exportCommand)(const ServerFacts& facts, const std::string& table,
                                            const std::string& database);
  const char* exportMode;
};

void PrintTo(const ExportCase& c, std::ostream* out) { *out << c.label; }

class DatabaseExportTest : public ServerTest, public ::testing::WithParamInterface<ExportCase> {
 protected:
  // The rows of `file` as `mode` reads it; fails the test when the reader refuses it.
  std::vector<SheetRow> rowsOf(const std::string& mode, const std::string& file) {
    const SheetDump dump = readWithPython(mode, file, temp_.path());
    EXPECT_EQ(dump.errors, std::vector<std::string>{}) << file << "\n" << dump.log;
    return dump.sheets.size() == 1 ? dump.sheets[0].rows : std::vector<SheetRow>{};
  }
  // The columns (from 1) and rules that the note lines of the last run name.
  std::set<std::pair<int, ValueRule>> said() const {
    std::set<std::pair<int, ValueRule>> rules;
    for (const SheetAccount& sheet : lastExport().accounts) {
      for (const ValueChange& change : sheet.changed) rules.insert({change.column, change.rule});
    }
    return rules;
  }
};

// The typed cell that a spreadsheet holds for a database's exported value of `kind`, and the
// rule of the account that says a change of it (none: the value is held as it is).
struct TypedCell {
  SheetCell cell;
  std::optional<ValueRule> said;
};

TypedCell typedCell(const SheetCell& exported, const std::string& kind) {
  if (exported.kind == "null") return {kXEmpty, std::nullopt};
  const std::string& text = exported.text;
  if (kind == "binary") return {kXBinary, ValueRule::Binary};
  if (kind == "bool") return {{"bool", text == "t" || text == "1" ? "TRUE" : "FALSE"}, {}};
  if (kind == "double" || kind == "number") {
    const std::string digits = text.substr(0, text.find_first_of("eE"));
    std::size_t significant = 0;
    bool leading = true;
    for (char c : digits) {
      if (c >= '1' && c <= '9') leading = false;
      if (c >= '0' && c <= '9' && !leading) ++significant;
    }
    // A cell holds 15 significant digits of an exact number; a double as the 16 digits that
    // the workbook library writes of it.
    const bool finite = text.find_first_of("0123456789") != std::string::npos &&
                        text.find_first_of("aAiInN") == std::string::npos;
    if (!finite || (kind == "number" && significant > 15)) return {xText(text.c_str()), {}};
    if (kind == "number") return {{"number", text}, {}};
    const double value = std::strtod(text.c_str(), nullptr);
    char written[40];
    std::snprintf(written, sizeof written, "%.16g", value);
    return {
        {"number", written},
        std::strtod(written, nullptr) == value ? std::nullopt : std::optional(ValueRule::Digits)};
  }
  if (kind == "date" || kind == "datetime") {
    // The spreadsheet's calendar runs from 1900-03-01 to 9999-12-31.
    const bool inCalendar = text.size() >= 10 && text.substr(0, 10) >= "1900-03-01" &&
                            text.substr(0, 10) <= "9999-12-31";
    if (!inCalendar || text.find_first_not_of("0123456789-: .") != std::string::npos) {
      return {xText(text.c_str()), {}};
    }
    if (kind == "date") return {xDate(text.c_str()), {}};
    std::string iso = text;
    iso[10] = 'T';
    return {{"datetime", iso},
            text.size() > 23 ? std::optional(ValueRule::Fraction) : std::nullopt};
  }
  // A time of day; a duration (MariaDB's -838:59:59) is text.
  if (kind == "time" && text.size() >= 8 && text[2] == ':' && text < "24") {
    return {{"time", text}, text.size() > 12 ? std::optional(ValueRule::Fraction) : std::nullopt};
  }
  // XML carries no control characters: they are dropped.
  std::string kept;
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x20) kept += c;
  }
  if (kept.size() > 32767) return {xText("<Too Large>"), ValueRule::TooLarge};
  return {{"text", kept}, kept == text ? std::nullopt : std::optional(ValueRule::Dropped)};
}

TEST_P(DatabaseExportTest, EveryValueIsTheDatabasesOwnExportOrASaidDifference) {
  const ExportCase& c = GetParam();
  const std::string table = unique("hard_values");
  run(c.setupSource, "drop table if exists " + table);
  run(c.setupSource, "create table " + table + " " + c.columns);
  run(c.setupSource, "insert into " + table + " values " + c.rows);
  const std::string sql = "select * from " + table + " order by id";

  const std::string own = temp_ / "own.csv";
  const ChildResult exported =
      runProgram(c.exportCommand(facts(), table, database()), std::chrono::seconds(60));
  ASSERT_EQ(exported.exitStatus, 0) << exported.err;
  writeFile(own, exported.out);
  const std::vector<SheetRow> expected = rowsOf(c.exportMode, own);
  ASSERT_GT(expected.size(), 1u);
  const std::vector<std::string> header = [&] {
    std::vector<std::string> names;
    for (const SheetCell& cell : expected[0]) names.push_back(cell.text);
    return names;
  }();
  ASSERT_EQ(header.size(), c.kinds.size());

  setOutputType(job_, OutputType::Csv);
  job_.quoteFields = true;
  ASSERT_EQ(fetchFrom(c.dataSource, sql).outcome, RunOutcome::Exported);
  const std::vector<SheetRow> csv = rowsOf("rfc4180", onlyOutput());
  const std::set<std::pair<int, ValueRule>> csvSaid = said();
  ASSERT_EQ(csv.size(), expected.size());
  for (std::size_t r = 0; r < expected.size(); ++r) {
    ASSERT_EQ(csv[r].size(), header.size()) << "row " << r;
    for (std::size_t k = 0; k < header.size(); ++k) {
      const SheetCell& want = expected[r][k];
      const SheetCell& got = csv[r][k];
      if (got == want) continue;
      const auto known =
          std::find_if(c.known.begin(), c.known.end(), [&](const KnownDifference& d) {
            return d.column == header[k] && d.database == want.text && d.rowpress == got.text;
          });
      if (known != c.known.end()) continue;
      // Standard CSV changes one kind of value, a binary one that is not NULL, and says so.
      const bool binary = want.kind != "null" && got == SheetCell{"text", "<BINARY>"} &&
                          csvSaid.count({static_cast<int>(k + 1), ValueRule::Binary});
      EXPECT_TRUE(binary) << "row " << r << ", column " << header[k] << ": the database exports "
                          << want.kind << ":" << want.text.substr(0, 80) << ", rowpress wrote "
                          << got.kind << ":" << got.text.substr(0, 80)
                          << ", and no note line says so";
    }
  }
  std::filesystem::remove(onlyOutput());

  // The .xlsx holds the same values as typed cells; a difference known in the CSV is known here.
  // A value that the workbook cannot hold as it is must be said.
  std::vector<SheetRow> typed;
  std::set<std::pair<int, ValueRule>> toBeSaid;
  for (const SheetRow& row : expected) {
    SheetRow cells;
    for (std::size_t k = 0; k < row.size(); ++k) {
      SheetCell cell = row[k];
      for (const KnownDifference& d : c.known) {
        if (d.column == header[k] && d.database == cell.text) cell.text = d.rowpress;
      }
      if (&row == &expected.front()) {
        cells.push_back(xText(cell.text.c_str()));
        continue;
      }
      const TypedCell held = typedCell(cell, c.kinds[k]);
      cells.push_back(held.cell);
      if (held.said) toBeSaid.insert({static_cast<int>(k + 1), *held.said});
    }
    typed.push_back(cells);
  }
  setOutputType(job_, OutputType::Xlsx);
  job_.quoteFields = false;
  ASSERT_EQ(fetchFrom(c.dataSource, sql).outcome, RunOutcome::Exported);
  expectXlsxReadByBoth(onlyOutput(), typed, temp_.path());
  const std::set<std::pair<int, ValueRule>> xlsxSaid = said();
  for (const auto& [column, rule] : toBeSaid) {
    EXPECT_TRUE(xlsxSaid.count({column, rule}))
        << "column " << header[column - 1] << ": no note line says rule " << ruleName(rule);
  }
}

std::vector<std::string> postgresExport(const ServerFacts& facts, const std::string& table,
                                        const std::string&) {
  return {findProgram("env"),
          "PGPASSWORD=" + facts["PG_PASSWORD"],
          findProgram("psql"),
          "-X",
          "-q",
          "-h",
          "127.0.0.1",
          "-p",
          facts["PG_PORT"],
          "-U",
          facts["PG_USER"],
          "-d",
          facts["PG_DATABASE"],
          "-c",
          "\\copy (select * from " + table + " order by id) to stdout with csv header"};
}

std::vector<std::string> mariadbExport(const ServerFacts& facts, const std::string& table,
                                       const std::string&) {
  return {findProgram("mariadb"),
          "--batch",
          "--default-character-set=utf8mb4",
          "-h127.0.0.1",
          "-P" + facts["MARIADB_PORT"],
          "-u" + facts["MARIADB_USER"],
          "-p" + facts["MARIADB_PASSWORD"],
          facts["MARIADB_DATABASE"],
          "-e",
          "select * from " + table + " order by id"};
}

std::vector<std::string> sqliteExport(const ServerFacts&, const std::string& table,
                                      const std::string& database) {
  return {findProgram("sqlite3"), "-csv", "-header", database,
          "select * from " + table + " order by id"};
}

const char kPgColumns[] =
    "(id integer, t text, i bigint, si smallint, n numeric, f float8, r real, b boolean, d date, "
    "tm time, ts timestamp, iv interval, u uuid, j json, a integer[], by bytea)";
const char kPgRows[] =
    "(1, '', 9223372036854775807, 32767, 123456789012345678901234567890123456789, "
    "0.1::float8 + 0.2, 3.4028235e38, true, '0001-01-01', '23:59:59.999999', "
    "'2024-02-29 12:34:56.123456', '1 day 02:03:04.5', 'A0EEBC99-9C0B-4EF8-BB6D-6BB9BD380A11', "
    "'{\"a\": [1, 2]}', '{1,2,3}', '\\x0102'), "
    "(2, 'say \"hi\", a;b|c', -9223372036854775808, -32768, -1.5, 5e-324, '-0', false, "
    "'1900-02-28', '00:00:00', '1900-03-01 00:00:00', '-3 years', "
    "'00000000-0000-0000-0000-000000000000', '[]', '{}', ''), "
    "(3, E'l1\\nl2\\r\\nend\\ttab', 0, 0, 0.000000000000000000001, 'NaN', 'Infinity', null, "
    "'1900-03-01', '12:00:00.5', '2024-12-31 23:59:59.999999', null, null, null, null, null), "
    "(4, '  blanks  ', 1, 1, 1e20, 'Infinity', '-Infinity', null, '9999-12-31', null, null, null, "
    "null, null, null, null), "
    "(5, 'Zürich € 😀 日本', 2, 2, 0.5, '-Infinity', 1.5, null, '4713-01-01 BC', null, "
    "'4713-01-01 10:00:00 BC', null, null, null, null, null), "
    "(6, repeat('x', 1048576), 3, 3, 1, 1.7976931348623157e308, 1, null, 'infinity', null, "
    "'infinity', null, null, null, null, null), "
    "(7, null, null, null, null, null, null, null, null, null, null, null, null, null, null, null)";
const std::vector<const char*> kPgKinds = {
    "number", "text", "number",   "number", "number", "double", "double", "bool",
    "date",   "time", "datetime", "text",   "text",   "text",   "text",   "binary"};
// What the PostgreSQL driver hands over differs from PostgreSQL's own text.
const std::vector<KnownDifference> kPgKnown = {
    {"b", "t", "1", "the driver gives a boolean, a BIT, as 1 or 0"},
    {"b", "f", "0", "the same"},
    {"d", "4713-01-01 BC", "4713-01-01", "the driver drops a date's era"},
    {"d", "infinity", "0000-00-00", "the driver has no text for an infinite date"},
    {"ts", "infinity", "9999-12-31 23:59:59",
     "the driver writes an infinite timestamp as the calendar's last second"},
    {"u", "a0eebc99-9c0b-4ef8-bb6d-6bb9bd380a11", "A0EEBC99-9C0B-4EF8-BB6D-6BB9BD380A11",
     "the driver writes a uuid in capitals"},
};

INSTANTIATE_TEST_SUITE_P(
    EachDatabase, DatabaseExportTest,
    ::testing::Values(
        ExportCase{"PgAnsi", kPgAnsi, kPgAnsi, kPgColumns, kPgRows, kPgKinds, kPgKnown,
                   postgresExport, "rfc4180"},
        ExportCase{"PgUnicode", kPgUnicode, kPgAnsi, kPgColumns, kPgRows, kPgKinds, kPgKnown,
                   postgresExport, "rfc4180"},
        ExportCase{
            "MariaDb",
            kMariaDb,
            kMariaDb,
            "(id int, t mediumtext, i bigint, u bigint unsigned, n decimal(39,0), f double, b "
            "boolean, "
            "d date, tm time(6), ts datetime(6), e enum('a','b'), st set('x','y'), bt bit(8), "
            "y year, j json, bl blob) character set utf8mb4",
            "(1, '', 9223372036854775807, 18446744073709551615, "
            "123456789012345678901234567890123456789, 0.1e0 + 0.2e0, true, '1000-01-01', "
            "'23:59:59.999999', '2024-02-29 12:34:56.123456', 'b', 'x,y', b'101', 2024, "
            "'{\"a\": [1, 2]}', x'0102'), "
            "(2, 'say \"hi\", a;b|c', -9223372036854775808, 0, -1, 5e-324, false, '1900-02-28', "
            "'00:00:00', '1900-03-01 00:00:00', 'a', '', b'0', 1901, '[]', ''), "
            "(3, 'l1\\nl2\\r\\nend\\ttab', 0, 1, 0, -0e0, null, '9999-12-31', '-838:59:59', "
            "'2024-12-31 23:59:59.999999', null, null, null, null, null, null), "
            "(4, '  blanks  ', 1, 2, 1, 1.7976931348623157e308, null, '0000-00-00', null, "
            "'0000-00-00 00:00:00', null, null, null, null, null, null), "
            "(5, 'Zürich € 😀 日本', 2, 3, 2, 1.5, null, null, null, null, null, null, null, null, "
            "null, null), "
            "(6, repeat('x', 1048576), 3, 4, 3, 1, null, null, null, null, null, null, null, null, "
            "null, null), "
            "(7, null, null, null, null, null, null, null, null, null, null, null, null, null, "
            "null, null)",
            {"number", "text", "number", "number", "number", "double", "number", "date", "time",
             "datetime", "text", "text", "binary", "number", "text", "binary"},
            {},
            mariadbExport,
            "mariadb-batch"},
        ExportCase{"Sqlite",
                   "rowtest",
                   "rowtest",
                   "(id integer, t text, i integer, f real, n numeric, d date, ts timestamp, "
                   "bl blob)",
                   "(1, '', 9223372036854775807, 0.1 + 0.2, 123.5, '0001-01-01', "
                   "'2024-02-29 12:34:56.123456', x'0102'), "
                   "(2, 'say \"hi\", a;b|c', -9223372036854775808, 5e-324, -1, '1900-02-28', "
                   "'1900-03-01 00:00:00', x''), "
                   "(3, 'l1' || char(10) || 'l2' || char(13, 10) || 'end' || char(9) || 'tab', 0, "
                   "-0.0, 0, '9999-12-31', '2024-12-31 23:59:59.999', null), "
                   "(4, '  blanks  ', 1, 1e308 * 10, 1, null, null, null), "
                   "(5, 'Zürich € 😀 日本', 2, 1.5, 2, null, null, null), "
                   "(6, replace(hex(zeroblob(524288)), '0', 'x'), 3, 1, 3, null, null, null), "
                   "(7, null, null, null, null, null, null, null)",
                   {"number", "text", "number", "double", "number", "date", "datetime", "binary"},
                   {},
                   sqliteExport,
                   "rfc4180"}),
    [](const auto& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace rowpress::support
