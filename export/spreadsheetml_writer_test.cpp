#include "export/spreadsheetml_writer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/report_sheets.h"
#include "tests/support/spreadsheetml_test_support.h"
#include "tests/support/xml_check.h"

namespace rowpress {
namespace {

using namespace support;  // the workbook's lines and cells, the writer fixture

TEST_F(SpreadsheetMlWriterTest, BeginWritesTheFixedHeaderAndThePlaceholderAtOffset1052) {
  ASSERT_EQ(header().size(), 1052u);
  ASSERT_EQ(kPlaceholder.size(), 97u + 2u);
  EXPECT_EQ(std::string_view(R"(xmlns:html="http://www.w3.org/TR/REC-html40">)").size(), 45u);
  EXPECT_EQ(SpreadsheetMlWriter::kTableTagOffset, 1052u);
  const std::string file = write([](SpreadsheetMlWriter&) {});
  EXPECT_EQ(file, header() + kPlaceholder);
  EXPECT_EQ(file.find("<Table"), 1052u);
}

TEST_F(SpreadsheetMlWriterTest, WholeFileExample) {
  const std::string file =
      workbook({column("ID", kInteger), column("NAME", kVarchar)}, {{"1", "A&B"}, {"", ""}}, false);
  const std::string expected = header() + tag(2, 3) + "      \r\n" +  //
                               "<Row>\r\n" + stringCell("ID") + stringCell("NAME") + "</Row>\r\n" +
                               "<Row>\r\n" + numberCell("1") + stringCell("A&amp;B") +
                               "</Row>\r\n" + "<Row>\r\n" + stringCell("") + stringCell("") +
                               "</Row>\r\n" + trailer();
  EXPECT_EQ(file, expected);
  expectWellFormed(path_);
}

TEST_F(SpreadsheetMlWriterTest, TagOf3ColumnsAnd11RowsKeepsFiveSpacesAndCrLf) {
  const std::string file = write([](SpreadsheetMlWriter& w) {
    w.header({});
    w.finish(3, 11);
  });
  EXPECT_EQ(file, header() + tag(3, 11) + "     \r\n<Row>\r\n</Row>\r\n" + trailer());
}

TEST_F(SpreadsheetMlWriterTest, TagOf255ColumnsAnd1048576RowsReachesTheEndOfTheCrLf) {
  const std::string file = write([](SpreadsheetMlWriter& w) {
    w.header({});
    w.finish(255, 1048576);
  });
  ASSERT_EQ(tag(255, 1048576).size(), 99u);
  EXPECT_EQ(file, header() + tag(255, 1048576) + "<Row>\r\n</Row>\r\n" + trailer());
  EXPECT_EQ(file.substr(1052 + 99, 7), "<Row>\r\n");
  expectWellFormed(path_);
}

TEST_F(SpreadsheetMlWriterTest, TagOfNineDigitsEndsInALoneLineFeed) {
  const std::string file = write([](SpreadsheetMlWriter& w) {
    w.header({});
    w.finish(255, 100000);
  });
  ASSERT_EQ(tag(255, 100000).size(), 98u);
  EXPECT_EQ(file, header() + tag(255, 100000) + "\n<Row>\r\n</Row>\r\n" + trailer());
  expectWellFormed(path_);
}

TEST_F(SpreadsheetMlWriterTest, TagOfEightDigitsKeepsCrLf) {
  const std::string file = write([](SpreadsheetMlWriter& w) { w.finish(12, 123456); });
  EXPECT_EQ(file, header() + tag(12, 123456) + "\r\n" + trailer());
}

TEST_F(SpreadsheetMlWriterTest, CountsTooLongForThePlaceholderLeaveIt) {
  const std::string file = write([](SpreadsheetMlWriter& w) {
    w.header({});
    w.finish(2550, 10485760);
  });
  EXPECT_EQ(file, header() + kPlaceholder + "<Row>\r\n</Row>\r\n" + trailer());
}

TEST_F(SpreadsheetMlWriterTest, WorkbookWithMarkupAndUtf8IsWellFormed) {
  const std::vector<ColumnInfo> columns = {column("<name> & \"more\"", kVarchar, 6),
                                           column("\xE6\x97\xA5\xE6\x9C\xAC & <", kInteger, 4),
                                           column("bin<", -4, 2), column("\x01\xFF", kDouble, 3)};
  const std::vector<std::vector<std::string>> rows = {
      {"a<b&c>\"d'", "12", "<BINARY>", "1.5E+10"},
      {"\xC3\xA9<\xE2\x82\xAC&\xF0\x9F\x98\x80", "", "<BINARY>", "-0.5"},
      {"x\x01y\xE9z\xC0\x80\xED\xA0\x80\xEF\xBF\xBF", "1-2", "<BINARY>", ""},
      {"\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC", "<&>", "<BINARY>", "&"},
  };
  for (bool force : {false, true}) {
    const std::string name = force ? "fixed.xls" : "plain.xls";
    const std::string file = workbook(columns, rows, force, name);
    EXPECT_EQ(file.find("<Table"), 1052u);
    expectWellFormed(path_);
  }
  // The fixed-width file holds the cut forms.
  const std::string fixedFile = read((dir_ / "fixed.xls").string());
  EXPECT_NE(fixedFile.find(stringCell("a&lt;b&amp;c&gt;")), std::string::npos);
  EXPECT_NE(fixedFile.find(stringCell("\xC3\xA9&lt;\xE2\x82\xAC")), std::string::npos);
  EXPECT_NE(fixedFile.find(stringCell("&lt;&amp;&gt; ")), std::string::npos);
  EXPECT_NE(fixedFile.find(stringCell("\xE2\x82\xAC\xE2\x82\xAC")), std::string::npos);
}

TEST_F(SpreadsheetMlWriterTest, StoppedRunEndsTheRowThenFinishesAWellFormedWorkbook) {
  // Like a run stopped at the column limit: a row begun with some cells, then endRow and
  // finish with the counts so far.
  const std::string file = write([](SpreadsheetMlWriter& w) {
    const ColumnInfo a = column("A", kInteger), b = column("B", kVarchar);
    w.header({a, b});
    w.beginRow();
    w.cell({"7"});
    w.endRow();
    w.finish(2, 2);
  });
  EXPECT_EQ(file, header() + tag(2, 2) + "      \r\n<Row>\r\n" + stringCell("A") + stringCell("B") +
                      "</Row>\r\n<Row>\r\n" + numberCell("7") + "</Row>\r\n" + trailer());
  expectWellFormed(path_);
}

TEST_F(SpreadsheetMlWriterTest, XmllintRejectsAMalformedFile) {
  // Proves that the well-formedness check can fail.
  const std::string path = (dir_ / "bad.xml").string();
  std::ofstream(path) << "<a>&</a>\n";
  const ::testing::AssertionResult checked = support::wellFormedXml({path});
  EXPECT_FALSE(checked);
  EXPECT_THAT(checked.message(), ::testing::HasSubstr("bad.xml:1: parser error"));
}

TEST_F(SpreadsheetMlWriterTest, ManyRowsAreWrittenInOrder) {
  const ColumnInfo id = column("ID", kInteger), name = column("NAME", kVarchar);
  const std::string file = write([&](SpreadsheetMlWriter& w) {
    w.header({id, name});
    for (int i = 0; i < 20000; ++i) {
      const std::string n = std::to_string(i);
      w.beginRow();
      w.cell({n});
      w.cell({"v" + n});
      w.endRow();
    }
    w.finish(2, 20001);
  });
  std::string expected = header() + tag(2, 20001) + "  \r\n<Row>\r\n" + stringCell("ID") +
                         stringCell("NAME") + "</Row>\r\n";
  for (int i = 0; i < 20000; ++i) {
    const std::string n = std::to_string(i);
    expected += "<Row>\r\n" + numberCell(n) + stringCell("v" + n) + "</Row>\r\n";
  }
  expected += trailer();
  EXPECT_EQ(file, expected);
  expectWellFormed(path_);
}

// A report: one worksheet per sheet, in order, each named (the name escaped) with its own
// table tag rewritten to its own counts, and only the first one selected.
TEST_F(SpreadsheetMlWriterTest, AReportWritesOneWorksheetPerSheetWithItsOwnTable) {
  const ColumnInfo id = column("ID", kInteger), name = column("NAME", kVarchar);
  const std::string file = write([&](SpreadsheetMlWriter& w) {
    writeSheets(w, {{"Orders", {id, name}, {{"1", "a"}, {"2", std::nullopt}}},
                    {"Q&A <\"1\">", {name}, {}},
                    {"Zürich 😀 O'Neil", {id}, {{"7"}}}});
  });
  const std::string expected =
      workbookHead() + "<Worksheet ss:Name=\"Orders\">\r\n" + tag(2, 3) + "      \r\n" +
      "<Row>\r\n" + stringCell("ID") + stringCell("NAME") + "</Row>\r\n" + "<Row>\r\n" +
      numberCell("1") + stringCell("a") + "</Row>\r\n" + "<Row>\r\n" + numberCell("2") +
      stringCell("") + "</Row>\r\n" + sheetEnd(true) +
      "<Worksheet ss:Name=\"Q&amp;A &lt;&quot;1&quot;&gt;\">\r\n" + tag(1, 1) + "      \r\n" +
      "<Row>\r\n" + stringCell("NAME") + "</Row>\r\n" + sheetEnd(false) +
      "<Worksheet ss:Name=\"Zürich 😀 O&apos;Neil\">\r\n" + tag(1, 2) + "      \r\n" + "<Row>\r\n" +
      stringCell("ID") + "</Row>\r\n" + "<Row>\r\n" + numberCell("7") + "</Row>\r\n" +
      sheetEnd(false) + "</Workbook>\r\n";
  EXPECT_EQ(file, expected);
  expectWellFormed(path_);
}

// Each sheet's tag is rewritten where that sheet put it, also once the lines before it have
// gone to the disk: a first sheet of many rows moves the second sheet's tag far into the
// file.
TEST_F(SpreadsheetMlWriterTest, EachSheetsTagIsRewrittenWhereItsSheetPutIt) {
  const ColumnInfo id = column("ID", kInteger);
  ReportSheet big{"big", {id}, {}};
  for (int i = 0; i < 20000; ++i) big.rows.push_back({std::to_string(i)});
  const std::string file = write([&](SpreadsheetMlWriter& w) {
    writeSheets(w, {big, {"small", {id}, {{"1"}, {"2"}}}, {"empty", {id}, {}}});
  });
  const std::size_t first = file.find("<Worksheet ss:Name=\"big\">\r\n");
  const std::size_t second = file.find("<Worksheet ss:Name=\"small\">\r\n");
  const std::size_t third = file.find("<Worksheet ss:Name=\"empty\">\r\n");
  ASSERT_EQ(first, workbookHead().size());
  ASSERT_NE(second, std::string::npos);
  ASSERT_NE(third, std::string::npos);
  EXPECT_GT(second, 256u * 1024u);  // past the first sheet's flush
  EXPECT_EQ(file.substr(first + 27, tag(1, 20001).size() + 4), tag(1, 20001) + "  \r\n");
  EXPECT_EQ(file.substr(second + 29, tag(1, 3).size() + 8), tag(1, 3) + "      \r\n");
  EXPECT_EQ(file.substr(third + 29, tag(1, 1).size() + 8), tag(1, 1) + "      \r\n");
  EXPECT_EQ(file.find(kPlaceholder), std::string::npos);
  EXPECT_EQ(file.substr(file.size() - sheetEnd(false).size() - 13),
            sheetEnd(false) + "</Workbook>\r\n");
  expectWellFormed(path_);
}

}  // namespace
}  // namespace rowpress
