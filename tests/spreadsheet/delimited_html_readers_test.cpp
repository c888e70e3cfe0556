// CSV, TSV and HTML files that the export run writes, read back by readers that owe nothing
// to rowpress (Python's csv module with the format's own dialect, and html.parser) and
// compared with the rows that went into the database, with rowpress's replacements applied:
// in delimited output the separator becomes ";" and CR and LF become "|"; in HTML the page
// shows every value as text. Standard CSV (Quote Fields) gives back the database's values
// exactly.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "tests/spreadsheet/sheet_reader.h"
#include "tests/support/child_process.h"
#include "tests/support/run_fixture.h"

namespace rowpress {
namespace {

using support::RunTest;
using support::SheetDump;

using SourceRow = std::vector<std::optional<std::string>>;

std::string sqlLiteral(const std::optional<std::string>& value) {
  if (!value) return "NULL";
  std::string literal = "'";
  for (char c : *value) literal += c == '\'' ? std::string("''") : std::string(1, c);
  return literal + "'";
}

std::string replaced(std::string value, char separator, bool lineBreaks) {
  for (char& c : value) {
    if (c == separator) c = ';';
    if (lineBreaks && (c == '\r' || c == '\n')) c = '|';
  }
  return value;
}

class IndependentReaderTest : public RunTest {
 protected:
  void SetUp() override {
    RunTest::SetUp();
    ASSERT_FALSE(support::findProgram("python3").empty())
        << "python3 is missing: install it (scripts/install-deps.sh)";
    execute("create table src (id integer, name varchar(40), note text)");
    for (const SourceRow& row : rows_) {
      execute("insert into src values (" + sqlLiteral(row[0]) + ", " + sqlLiteral(row[1]) + ", " +
              sqlLiteral(row[2]) + ")");
    }
  }

  // Exports `sql` as `box` to a named file and reads it back with `mode`.
  SheetDump exportAndRead(OutputType type, const std::string& mode, const std::string& sql) {
    setOutputType(job_, type);
    job_.outFileName = temp_ / ("out." + mode.substr(mode.find('-') + 1));
    EXPECT_EQ(fetch(sql).outcome, RunOutcome::Exported) << sql;
    SheetDump dump = support::readWithPython(mode, job_.outFileName, temp_.path());
    EXPECT_THAT(dump.errors, ::testing::IsEmpty()) << support::readFile(job_.outFileName);
    EXPECT_EQ(dump.sheets.size(), 1u);
    return dump;
  }

  // Compares every row of the only sheet: the cells' kinds and texts.
  static void expectRows(const SheetDump& dump,
                         const std::vector<std::vector<support::SheetCell>>& expected) {
    if (dump.sheets.size() != 1) return;
    const auto& rows = dump.sheets[0].rows;
    ASSERT_EQ(rows.size(), expected.size());
    for (std::size_t r = 0; r < rows.size(); ++r) {
      EXPECT_EQ(rows[r], expected[r]) << "row " << r + 1;
    }
  }

  // A delimited line: every field followed by the separator, so the reader sees one more,
  // empty, field at the end.
  static std::vector<support::SheetCell> delimitedLine(const std::vector<std::string>& fields) {
    std::vector<support::SheetCell> cells;
    for (const std::string& field : fields) cells.push_back({"text", field});
    cells.push_back({"text", ""});
    return cells;
  }

  std::vector<std::vector<support::SheetCell>> expectedDelimited(char separator) const {
    std::vector<std::vector<support::SheetCell>> expected;
    expected.push_back(delimitedLine(
        {"id", replaced("first,name", separator, false), replaced("tab\tnote", separator, false)}));
    for (const SourceRow& row : rows_) {
      std::vector<std::string> fields;
      for (const auto& value : row) fields.push_back(replaced(value.value_or(""), separator, true));
      expected.push_back(delimitedLine(fields));
    }
    return expected;
  }

  // Standard CSV: the header names and every value exactly as the database holds them, NULL
  // read as the empty string (the file tells them apart: see the test).
  std::vector<std::vector<support::SheetCell>> expectedStandard() const {
    std::vector<std::vector<support::SheetCell>> expected = {
        {{"text", "id"}, {"text", "first,name"}, {"text", "tab\tnote"}}};
    for (const SourceRow& row : rows_) {
      std::vector<support::SheetCell> cells;
      for (const auto& value : row) cells.push_back({"text", value.value_or("")});
      expected.push_back(cells);
    }
    return expected;
  }

  const std::string sql_ =
      "select id, name as \"first,name\", note as \"tab\tnote\" from src order by rowid";
  const std::vector<SourceRow> rows_ = {
      {"1", "a,b", "tab\there"},
      {"2", "line\r\nbreak", "lone\nlf\rcr"},
      {"3", "<i>bold</i> & \"quoted\" 'single'", "&amp; stays literal"},
      {std::nullopt, std::nullopt, std::nullopt},
      {"5", "Zürich € 😀 日本語", "  padded  "},
      {"6", ";|already", ""},
  };
};

TEST_F(IndependentReaderTest, CsvReadsBackAsTheSourceRows) {
  expectRows(exportAndRead(OutputType::Csv, "csv", sql_), expectedDelimited(','));
}

TEST_F(IndependentReaderTest, TsvReadsBackAsTheSourceRows) {
  expectRows(exportAndRead(OutputType::Tsv, "tsv", sql_), expectedDelimited('\t'));
}

TEST_F(IndependentReaderTest, StandardCsvReadsBackAsTheDatabaseValues) {
  job_.quoteFields = true;  // "Quote Fields"
  expectRows(exportAndRead(OutputType::Csv, "standard-csv", sql_), expectedStandard());
  const std::string bytes = support::readFile(job_.outFileName);
  // No byte order mark unless asked for; NULL is an empty field, the empty string "".
  EXPECT_EQ(bytes.substr(0, 3), "id,");
  EXPECT_THAT(bytes, ::testing::HasSubstr("\r\n,,\r\n"));
  EXPECT_THAT(bytes, ::testing::HasSubstr("\r\n6,;|already,\"\"\r\n"));
}

TEST_F(IndependentReaderTest, StandardTsvWithByteOrderMarkReadsBackAsTheDatabaseValues) {
  job_.quoteFields = true;    // "Quote Fields"
  job_.byteOrderMark = true;  // "UTF-8 Byte Order Mark"
  expectRows(exportAndRead(OutputType::Tsv, "standard-tsv", sql_), expectedStandard());
  const std::string bytes = support::readFile(job_.outFileName);
  EXPECT_EQ(bytes.substr(0, 5),
            "\xEF\xBB\xBF"
            "id");
  EXPECT_THAT(bytes, ::testing::HasSubstr("\r\n\t\t\r\n"));
  EXPECT_THAT(bytes, ::testing::HasSubstr("\r\n6\t;|already\t\"\"\r\n"));
}

TEST_F(IndependentReaderTest, HtmlShowsEveryValueAsText) {
  std::vector<std::vector<support::SheetCell>> expected = {
      {{"th", "id"}, {"th", "first,name"}, {"th", "tab\tnote"}}};
  for (const SourceRow& row : rows_) {
    std::vector<support::SheetCell> cells;
    for (const auto& value : row) cells.push_back({"td", support::withCrLf(value.value_or(""))});
    expected.push_back(cells);
  }
  expectRows(exportAndRead(OutputType::Html, "html", sql_), expected);
}

TEST_F(IndependentReaderTest, FixedWidthFieldsHaveTheDeclaredSize) {
  execute("create table fixed (code varchar(8), tag varchar(3))");
  execute("insert into fixed values ('ab', 'a,b,c')");
  execute("insert into fixed values ('abcdefghij', NULL)");
  // 11 bytes: the cut at 8 may not split the euro sign, so a space takes its place.
  execute("insert into fixed values ('Zürich€x', 'é')");
  job_.forceFullLength = true;
  expectRows(exportAndRead(OutputType::Csv, "csv", "select code, tag from fixed order by rowid"),
             {delimitedLine({"code", "tag"}), delimitedLine({"ab      ", "a;b"}),
              delimitedLine({"abcdefgh", "   "}), delimitedLine({"Zürich ", "é "})});
}

TEST_F(IndependentReaderTest, StandardCsvFixedWidthFieldsAreQuotedWithTheirPadding) {
  execute("create table fixed (code varchar(8), tag varchar(3))");
  execute("insert into fixed values ('a,\"b', 'x\ny')");
  execute("insert into fixed values ('abcdefghij', NULL)");
  job_.quoteFields = true;  // "Quote Fields"
  job_.forceFullLength = true;
  expectRows(
      exportAndRead(OutputType::Csv, "standard-csv", "select code, tag from fixed order by rowid"),
      {{{"text", "code"}, {"text", "tag"}},
       {{"text", "a,\"b    "}, {"text", "x\ny"}},
       {{"text", "abcdefgh"}, {"text", ""}}});  // NULL stays an empty field
}

TEST_F(IndependentReaderTest, DelimitedOutputHasNoRowLimit) {
  execute("create table seq (n integer, label varchar(20))");
  execute(
      "insert into seq with recursive c(x) as (select 1 union all select x + 1 from c "
      "where x < 70000) select x, 'r,' || x from c");
  std::vector<std::vector<support::SheetCell>> expected = {delimitedLine({"n", "label"})};
  for (int i = 1; i <= 70000; ++i) {
    expected.push_back(delimitedLine({std::to_string(i), "r;" + std::to_string(i)}));
  }
  expectRows(exportAndRead(OutputType::Csv, "csv", "select n, label from seq order by n"),
             expected);
}

}  // namespace
}  // namespace rowpress
