#include "export/spreadsheetml_writer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <iterator>
#include <string>
#include <vector>

#include "export/output_file.h"
#include "tests/support/xml_check.h"

namespace rowpress {
namespace {

constexpr std::int16_t kVarchar = 12;
constexpr std::int16_t kInteger = 4;
constexpr std::int16_t kDouble = 8;

std::string crlfLines(std::initializer_list<std::string_view> lines) {
  std::string out;
  for (std::string_view line : lines) {
    out.append(line);
    out.append("\r\n");
  }
  return out;
}

// Lines 1 to 32 of the workbook, written out independently of the writer.
const std::string& header() {
  static const std::string text = crlfLines({
      R"(<?xml version="1.0"?>)",
      R"(<?mso-application progid="Excel.Sheet"?>)",
      R"(<Workbook xmlns="urn:schemas-microsoft-com:office:spreadsheet")",
      R"(xmlns:o="urn:schemas-microsoft-com:office:office")",
      R"(xmlns:x="urn:schemas-microsoft-com:office:excel")",
      R"(xmlns:ss="urn:schemas-microsoft-com:office:spreadsheet")",
      R"(xmlns:html="http://www.w3.org/TR/REC-html40">)",
      R"(<DocumentProperties xmlns="urn:schemas-microsoft-com:office:office">)",
      R"(<LastAuthor> </LastAuthor>)",
      R"(<Created>1996-10-14T23:33:28Z</Created>)",
      R"(<Version>11.5606</Version>)",
      R"(</DocumentProperties>)",
      R"(<ExcelWorkbook xmlns="urn:schemas-microsoft-com:office:excel">)",
      R"(<WindowHeight>9300</WindowHeight>)",
      R"(<WindowWidth>15135</WindowWidth>)",
      R"(<WindowTopX>120</WindowTopX>)",
      R"(<WindowTopY>120</WindowTopY>)",
      R"(<AcceptLabelsInFormulas/>)",
      R"(<ProtectStructure>False</ProtectStructure>)",
      R"(<ProtectWindows>False</ProtectWindows>)",
      R"(</ExcelWorkbook>)",
      R"(<Styles>)",
      R"(<Style ss:ID="Default" ss:Name="Normal">)",
      R"(<Alignment ss:Vertical="Bottom"/>)",
      R"(<Borders/>)",
      R"(<Font/>)",
      R"(<Interior/>)",
      R"(<NumberFormat/>)",
      R"(<Protection/>)",
      R"(</Style>)",
      R"(</Styles>)",
      R"(<Worksheet ss:Name="rowpress">)",
  });
  return text;
}

const std::string kPlaceholder =
    R"(<Table ss:ExpandedColumnCount="0" ss:ExpandedRowCount="1" x:FullColumns="1" x:FullRows="1">)"
    "      \r\n";

const std::string& trailer() {
  static const std::string text = crlfLines({
      "</Table>",
      R"(<WorksheetOptions xmlns="urn:schemas-microsoft-com:office:excel">)",
      "<Selected/>",
      "<Panes>",
      "<Pane>",
      "     <Number>3</Number>",
      "<ActiveRow>1</ActiveRow>",
      "<ActiveCol>1</ActiveCol>",
      "</Pane>",
      "</Panes>",
      "<ProtectObjects>False</ProtectObjects>",
      "<ProtectScenarios>False</ProtectScenarios>",
      " </WorksheetOptions>",
      "</Worksheet>",
      "</Workbook>",
  });
  return text;
}

std::string tag(long long columns, long long rows) {
  return R"(<Table ss:ExpandedColumnCount=")" + std::to_string(columns) +
         R"(" ss:ExpandedRowCount=")" + std::to_string(rows) +
         R"(" x:FullColumns="1" x:FullRows="1">)";
}

std::string stringCell(std::string_view content) {
  return R"(    <Cell><Data ss:Type="String">)" + std::string(content) + "</Data></Cell>\r\n";
}

std::string numberCell(std::string_view content) {
  return R"(    <Cell><Data ss:Type="Number">)" + std::string(content) + "</Data></Cell>\r\n";
}

const std::string kBinaryCell = "<Cell><Data ss:Type=\"String\">&lt;BINARY&gt;</Data></Cell>\r\n";

ColumnInfo column(std::string name, std::int16_t sqlType, std::int32_t declaredSize = 10) {
  ColumnInfo c;
  c.name = std::move(name);
  c.sqlType = sqlType;
  c.declaredSize = declaredSize;
  return c;
}

class SpreadsheetMlWriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "rowpress-xml-XXXXXX");
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  static std::string read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

  // Runs `body` against a fresh writer on a new file and returns the file's bytes.
  std::string write(const std::function<void(SpreadsheetMlWriter&)>& body,
                    const std::string& name = "") {
    path_ = dir_ / (name.empty() ? "out" + std::to_string(++files_) + ".xls" : name);
    OutputFile out = OutputFile::create(path_, true);
    EXPECT_TRUE(out.isOpen()) << path_;
    if (!out.isOpen()) return {};
    SpreadsheetMlWriter writer;
    writer.begin(out);
    body(writer);
    EXPECT_TRUE(out.close());
    return read(path_);
  }

  // A complete workbook: the columns as header, then the rows.
  std::string workbook(const std::vector<ColumnInfo>& columns,
                       const std::vector<std::vector<std::string>>& rows, bool forceFullLength,
                       const std::string& name = "") {
    return write(
        [&](SpreadsheetMlWriter& w) {
          w.beginHeaderRow();
          for (const ColumnInfo& c : columns) w.headerCell(c);
          w.endHeaderRow();
          for (const auto& row : rows) {
            w.beginRow();
            for (std::size_t k = 0; k < row.size(); ++k)
              w.cell({row[k]}, columns[k], forceFullLength);
            w.endRow();
          }
          w.finish(static_cast<int>(columns.size()), static_cast<long long>(rows.size()) + 1);
        },
        name);
  }

  // The data cell lines of a one-column, one-row workbook.
  std::string oneCell(const ColumnInfo& c, std::string_view value, bool forceFullLength) {
    const std::string file = workbook({c}, {{std::string(value)}}, forceFullLength);
    const std::string before =
        header() + tag(1, 2) + "      \r\n<Row>\r\n" + stringCell(c.name) + "</Row>\r\n<Row>\r\n";
    const std::string after = "</Row>\r\n" + trailer();
    EXPECT_EQ(file.substr(0, before.size()), before);
    EXPECT_GE(file.size(), before.size() + after.size());
    if (file.size() < before.size() + after.size()) return {};
    EXPECT_EQ(file.substr(file.size() - after.size()), after);
    return file.substr(before.size(), file.size() - before.size() - after.size());
  }

  static void expectWellFormed(const std::string& path) {
    EXPECT_TRUE(testing::wellFormedXml({path}));
  }

  std::filesystem::path dir_;
  std::string path_;
  int files_ = 0;
};

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
    w.beginHeaderRow();
    w.endHeaderRow();
    w.finish(3, 11);
  });
  EXPECT_EQ(file, header() + tag(3, 11) + "     \r\n<Row>\r\n</Row>\r\n" + trailer());
}

TEST_F(SpreadsheetMlWriterTest, TagOf255ColumnsAnd1048576RowsReachesTheEndOfTheCrLf) {
  const std::string file = write([](SpreadsheetMlWriter& w) {
    w.beginHeaderRow();
    w.endHeaderRow();
    w.finish(255, 1048576);
  });
  ASSERT_EQ(tag(255, 1048576).size(), 99u);
  EXPECT_EQ(file, header() + tag(255, 1048576) + "<Row>\r\n</Row>\r\n" + trailer());
  EXPECT_EQ(file.substr(1052 + 99, 7), "<Row>\r\n");
  expectWellFormed(path_);
}

TEST_F(SpreadsheetMlWriterTest, TagOfNineDigitsEndsInALoneLineFeed) {
  const std::string file = write([](SpreadsheetMlWriter& w) {
    w.beginHeaderRow();
    w.endHeaderRow();
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
    w.beginHeaderRow();
    w.endHeaderRow();
    w.finish(2550, 10485760);
  });
  EXPECT_EQ(file, header() + kPlaceholder + "<Row>\r\n</Row>\r\n" + trailer());
}

TEST_F(SpreadsheetMlWriterTest, NumericTypesWithNumericTextGiveNumberCells) {
  EXPECT_EQ(oneCell(column("N", kInteger), "-12", false), numberCell("-12"));
  EXPECT_EQ(oneCell(column("N", kDouble), "3.25", false), numberCell("3.25"));
  for (std::int16_t type : {2, 3, 4, 5, 6, 7, 8, -6, -5}) {
    EXPECT_EQ(oneCell(column("N", type), "+7.5", false), numberCell("+7.5")) << type;
  }
  // With forceFullLength a Number cell is still the value unchanged.
  EXPECT_EQ(oneCell(column("N", kInteger, 10), "42", true), numberCell("42"));
  EXPECT_EQ(oneCell(column("N", kInteger, 1), "12345", true), numberCell("12345"));
}

TEST_F(SpreadsheetMlWriterTest, OtherValuesGiveStringCells) {
  EXPECT_EQ(oneCell(column("N", kDouble), "1.5E+10", false), stringCell("1.5E+10"));
  EXPECT_EQ(oneCell(column("N", kVarchar), "42", false), stringCell("42"));
  EXPECT_EQ(oneCell(column("N", -7), "1", false), stringCell("1"));  // SQL_BIT
  EXPECT_EQ(oneCell(column("N", kInteger), "1-2", false), stringCell("1-2"));
  EXPECT_EQ(oneCell(column("N", 3), "1.2.3", false), stringCell("1.2.3"));
  EXPECT_EQ(oneCell(column("N", kInteger), "1,000", false), stringCell("1,000"));
  // A NULL (the empty value) is an empty String cell, in a numeric column too.
  EXPECT_EQ(oneCell(column("N", kInteger), "", false), stringCell(""));
  EXPECT_EQ(oneCell(column("N", kVarchar), "", false), stringCell(""));
  // With forceFullLength the String cell of a numeric column gets the fixed-width form.
  EXPECT_EQ(oneCell(column("N", kInteger, 3), "", true), stringCell("   "));
  EXPECT_EQ(oneCell(column("N", kVarchar, 4), "", true), stringCell("    "));
  EXPECT_EQ(oneCell(column("N", kDouble, 5), "1-2", true), stringCell("1-2  "));
}

TEST_F(SpreadsheetMlWriterTest, WholeNumbersOfMoreThan15DigitsGiveStringCells) {
  for (std::int16_t type : {2, 3, 4, 5, 6, 7, 8, -6, -5}) {
    EXPECT_EQ(oneCell(column("N", type), "12345678901234567", false),
              stringCell("12345678901234567"))
        << type;
  }
  EXPECT_EQ(oneCell(column("N", -5), "1000000000000000000", false),
            stringCell("1000000000000000000"));
  EXPECT_EQ(oneCell(column("N", -5), "-1234567890123456", false), stringCell("-1234567890123456"));
  // As a String cell it takes the fixed width like any other.
  EXPECT_EQ(oneCell(column("N", -5, 20), "12345678901234567", true),
            stringCell("12345678901234567   "));
  // Fifteen digits, leading zeros, and fractions stay Numbers.
  EXPECT_EQ(oneCell(column("N", -5), "123456789012345", false), numberCell("123456789012345"));
  EXPECT_EQ(oneCell(column("N", -5), "-000123456789012345", false),
            numberCell("-000123456789012345"));
  EXPECT_EQ(oneCell(column("N", 3), "1234567890123456.25", false),
            numberCell("1234567890123456.25"));
}

TEST_F(SpreadsheetMlWriterTest, BinaryColumnsGiveTheBinaryCellWhateverTheValue) {
  for (std::int16_t type : {-2, -3, -4}) {
    EXPECT_EQ(oneCell(column("B", type, 3), "<BINARY>", false), kBinaryCell) << type;
    EXPECT_EQ(oneCell(column("B", type, 3), "<BINARY>", true), kBinaryCell) << type;
    EXPECT_EQ(oneCell(column("B", type, 100), "", true), kBinaryCell) << type;
    EXPECT_EQ(oneCell(column("B", type, 0), "123", false), kBinaryCell) << type;
  }
}

TEST_F(SpreadsheetMlWriterTest, StringContentIsEscapedAndControlBytesDropped) {
  EXPECT_EQ(oneCell(column("S", kVarchar), "O'Neil <x>", false),
            stringCell("O&apos;Neil &lt;x&gt;"));
  EXPECT_EQ(oneCell(column("S", kVarchar), "a\tb\r\nc\xE9z", false), stringCell("abcz"));
  EXPECT_EQ(oneCell(column("S", kVarchar), "say \"hi\" & bye", false),
            stringCell("say &quot;hi&quot; &amp; bye"));
}

TEST_F(SpreadsheetMlWriterTest, Utf8IsKeptAndInvalidBytesDropped) {
  EXPECT_EQ(oneCell(column("S", kVarchar),
                    "Z\xC3\xBCrich \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80", false),
            stringCell("Z\xC3\xBCrich \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80"));
  EXPECT_EQ(oneCell(column("S", kVarchar),
                    "a\xC0\x80"
                    "b\xED\xA0\x80"
                    "c\xF4\x90\x80\x80"
                    "d\x80"
                    "e\xEF\xBF\xBE"
                    "f\xEF\xBF\xBF"
                    "g\xE2\x82",
                    false),
            stringCell("abcdefg"));
}

TEST_F(SpreadsheetMlWriterTest, StringLimitIs32765Bytes) {
  const std::string fits(32765, 'x');
  const std::string over(32766, 'x');
  EXPECT_EQ(oneCell(column("S", kVarchar), fits, false), stringCell(fits));
  EXPECT_EQ(oneCell(column("S", kVarchar), over, false), stringCell("&lt;Too Large&gt;"));
  // Measured in bytes before any change: escaping growth does not count, dropping neither.
  const std::string ampersands(32765, '&');
  std::string escaped;
  for (int i = 0; i < 32765; ++i) escaped += "&amp;";
  EXPECT_EQ(oneCell(column("S", kVarchar), ampersands, false), stringCell(escaped));
  EXPECT_EQ(oneCell(column("S", kVarchar), std::string(32766, '\t'), false),
            stringCell("&lt;Too Large&gt;"));
  // Two-byte characters: 32,766 bytes are too large.
  std::string twoByte;
  for (int i = 0; i < 16383; ++i) twoByte += "\xC3\xA9";
  EXPECT_EQ(oneCell(column("S", kVarchar), twoByte, false), stringCell("&lt;Too Large&gt;"));
  // The limit is tested before the fixed width.
  EXPECT_EQ(oneCell(column("S", kVarchar, 5), over, true), stringCell("&lt;Too Large&gt;"));
  EXPECT_EQ(oneCell(column("S", kVarchar, 5), fits, true), stringCell("xxxxx"));
  // A Number cell is never too large; a whole number of that many digits is a String cell.
  const std::string digits = std::string(40000, '9') + ".5";
  EXPECT_EQ(oneCell(column("N", kDouble), digits, false), numberCell(digits));
  EXPECT_EQ(oneCell(column("N", kInteger), std::string(40000, '9'), false),
            stringCell("&lt;Too Large&gt;"));
}

TEST_F(SpreadsheetMlWriterTest, FixedWidthIsCountedBeforeEscaping) {
  EXPECT_EQ(oneCell(column("S", kVarchar, 5), "ab", true), stringCell("ab   "));
  EXPECT_EQ(oneCell(column("S", kVarchar, 5), "abcdefg", true), stringCell("abcde"));
  EXPECT_EQ(oneCell(column("S", kVarchar, 4), "a&b<c", true), stringCell("a&amp;b&lt;"));
  EXPECT_EQ(oneCell(column("S", kVarchar, 3), "&", true), stringCell("&amp;  "));
  EXPECT_EQ(oneCell(column("S", kVarchar, 0), "abc", true), stringCell(""));
  EXPECT_EQ(oneCell(column("S", kVarchar, -1), "abc", true), stringCell(""));
  // Control bytes count towards the width, then are dropped.
  EXPECT_EQ(oneCell(column("S", kVarchar, 4), "a\tb", true), stringCell("ab "));
}

TEST_F(SpreadsheetMlWriterTest, FixedWidthCutInsideAMultiByteCharacter) {
  // "aé€" is 61 C3 A9 E2 82 AC.
  EXPECT_EQ(oneCell(column("S", kVarchar, 2), "a\xC3\xA9\xE2\x82\xAC", true), stringCell("a "));
  EXPECT_EQ(oneCell(column("S", kVarchar, 4), "a\xC3\xA9\xE2\x82\xAC", true),
            stringCell("a\xC3\xA9 "));
  EXPECT_EQ(oneCell(column("S", kVarchar, 5), "a\xC3\xA9\xE2\x82\xAC", true),
            stringCell("a\xC3\xA9  "));
  EXPECT_EQ(oneCell(column("S", kVarchar, 6), "a\xC3\xA9\xE2\x82\xAC", true),
            stringCell("a\xC3\xA9\xE2\x82\xAC"));
  EXPECT_EQ(oneCell(column("S", kVarchar, 8), "a\xC3\xA9\xE2\x82\xAC", true),
            stringCell("a\xC3\xA9\xE2\x82\xAC  "));
}

TEST_F(SpreadsheetMlWriterTest, HeaderNamesAreEscapedLikeStringContent) {
  const std::string file =
      workbook({column("a<b&c", kVarchar), column("O'Neil \"q\" >", kInteger),
                column("tab\there\xE9", kVarchar), column("caf\xC3\xA9", kVarchar)},
               {}, false);
  EXPECT_EQ(file, header() + tag(4, 1) + "      \r\n<Row>\r\n" + stringCell("a&lt;b&amp;c") +
                      stringCell("O&apos;Neil &quot;q&quot; &gt;") + stringCell("tabhere") +
                      stringCell("caf\xC3\xA9") + "</Row>\r\n" + trailer());
  expectWellFormed(path_);
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
    w.beginHeaderRow();
    w.headerCell(a);
    w.headerCell(b);
    w.endHeaderRow();
    w.beginRow();
    w.cell({"7"}, a, false);
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
  const ::testing::AssertionResult checked = testing::wellFormedXml({path});
  EXPECT_FALSE(checked);
  EXPECT_THAT(checked.message(), ::testing::HasSubstr("bad.xml:1: parser error"));
}

TEST_F(SpreadsheetMlWriterTest, ManyRowsAreWrittenInOrder) {
  const ColumnInfo id = column("ID", kInteger), name = column("NAME", kVarchar);
  const std::string file = write([&](SpreadsheetMlWriter& w) {
    w.beginHeaderRow();
    w.headerCell(id);
    w.headerCell(name);
    w.endHeaderRow();
    for (int i = 0; i < 20000; ++i) {
      const std::string n = std::to_string(i);
      w.beginRow();
      w.cell({n}, id, false);
      w.cell({"v" + n}, name, false);
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

}  // namespace
}  // namespace rowpress
