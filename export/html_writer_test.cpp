#include "export/html_writer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "export/output_file.h"
#include "tests/support/writer_test_support.h"

namespace rowpress {
namespace {

using support::column;

class HtmlWriterTest : public ::testing::Test {
 protected:
  std::string run(const std::vector<ColumnInfo>& columns,
                  const std::vector<std::vector<std::string>>& rows, bool forceFullLength) {
    const std::string path = dir_ / ("out" + std::to_string(++files_) + ".html");
    WriterOptions options;
    options.forceFullLength = forceFullLength;
    HtmlWriter writer(options);
    return support::writeResult(writer, path, columns, rows);
  }

  // The file of a one-column, one-row result; returns the data cell line(s).
  std::string oneCell(std::string_view value, std::int32_t declaredSize, bool force) {
    const std::string file = run({column("C", declaredSize)}, {{std::string(value)}}, force);
    const std::string before = "<table border=\"1\">\r\n<tr>\r\n<th>C</th>\r\n</tr>\r\n<tr>\r\n";
    const std::string after = "</tr>\r\n</table>\r\n";
    EXPECT_EQ(file.substr(0, before.size()), before);
    if (file.size() < before.size() + after.size()) return {};
    EXPECT_EQ(file.substr(file.size() - after.size()), after);
    return file.substr(before.size(), file.size() - before.size() - after.size());
  }

  support::TempDir dir_;
  int files_ = 0;
};

TEST_F(HtmlWriterTest, WholeFile) {
  EXPECT_EQ(run({column("ID", 10, 4), column("NAME")}, {{"1", "A&B"}, {"", ""}}, false),
            "<table border=\"1\">\r\n"
            "<tr>\r\n"
            "<th>ID</th>\r\n"
            "<th>NAME</th>\r\n"
            "</tr>\r\n"
            "<tr>\r\n"
            "<td>1</td>\r\n"
            "<td>A&amp;B</td>\r\n"
            "</tr>\r\n"
            "<tr>\r\n"
            "<td></td>\r\n"
            "<td></td>\r\n"
            "</tr>\r\n"
            "</table>\r\n");
}

TEST_F(HtmlWriterTest, NoRowsStillStartsAndEndsTheTable) {
  EXPECT_EQ(run({column("A")}, {}, false),
            "<table border=\"1\">\r\n<tr>\r\n<th>A</th>\r\n</tr>\r\n</table>\r\n");
}

TEST_F(HtmlWriterTest, MarkupIsEscapedInHeaderAndDataCells) {
  EXPECT_EQ(run({column("<b>\"x\" & 'y'")}, {{"<script>alert('&')</script>"}}, false),
            "<table border=\"1\">\r\n<tr>\r\n<th>&lt;b&gt;&quot;x&quot; &amp; 'y'</th>\r\n"
            "</tr>\r\n<tr>\r\n<td>&lt;script&gt;alert('&amp;')&lt;/script&gt;</td>\r\n"
            "</tr>\r\n</table>\r\n");
}

TEST_F(HtmlWriterTest, BinaryValueShowsAsText) {
  EXPECT_EQ(oneCell("<BINARY>", 10, false), "<td>&lt;BINARY&gt;</td>\r\n");
  EXPECT_EQ(oneCell("<BINARY>", 5, true), "<td>&lt;BINA</td>\r\n");
}

TEST_F(HtmlWriterTest, LineBreaksAreWrittenThroughTheTextModeFile) {
  EXPECT_EQ(oneCell("one\ntwo", 10, false), "<td>one\r\ntwo</td>\r\n");
  EXPECT_EQ(oneCell("one\r\ntwo", 10, false), "<td>one\r\r\ntwo</td>\r\n");
  EXPECT_EQ(oneCell("one\rtwo", 10, false), "<td>one\rtwo</td>\r\n");
}

TEST_F(HtmlWriterTest, HeaderLineFeedBecomesCrLf) {
  EXPECT_EQ(run({column("a\nb")}, {}, false),
            "<table border=\"1\">\r\n<tr>\r\n<th>a\r\nb</th>\r\n</tr>\r\n</table>\r\n");
}

TEST_F(HtmlWriterTest, FixedWidthIsCountedBeforeEscaping) {
  EXPECT_EQ(oneCell("ab", 5, true), "<td>ab   </td>\r\n");
  EXPECT_EQ(oneCell("abcdefg", 5, true), "<td>abcde</td>\r\n");
  EXPECT_EQ(oneCell("", 5, true), "<td>     </td>\r\n");
  EXPECT_EQ(oneCell("a&b", 2, true), "<td>a&amp;</td>\r\n");
  EXPECT_EQ(oneCell("a&b", 5, true), "<td>a&amp;b  </td>\r\n");
  EXPECT_EQ(oneCell("\"<>", 3, true), "<td>&quot;&lt;&gt;</td>\r\n");
  EXPECT_EQ(oneCell("abc", 0, true), "<td></td>\r\n");
  EXPECT_EQ(oneCell("abc", -3, true), "<td></td>\r\n");
  EXPECT_EQ(oneCell("abcdefg", 5, false), "<td>abcdefg</td>\r\n");
}

TEST_F(HtmlWriterTest, FixedWidthCutInsideAMultiByteCharacter) {
  EXPECT_EQ(oneCell("a\xC3\xA9\xE2\x82\xAC", 2, true), "<td>a </td>\r\n");
  EXPECT_EQ(oneCell("a\xC3\xA9\xE2\x82\xAC", 4, true), "<td>a\xC3\xA9 </td>\r\n");
  EXPECT_EQ(oneCell("a\xC3\xA9\xE2\x82\xAC", 6, true), "<td>a\xC3\xA9\xE2\x82\xAC</td>\r\n");
}

TEST_F(HtmlWriterTest, OtherBytesPassUnchanged) {
  EXPECT_EQ(oneCell("caf\xC3\xA9 \xE9 'q' \t", 10, false), "<td>caf\xC3\xA9 \xE9 'q' \t</td>\r\n");
}

// A report is one page: each sheet's name as an escaped heading, then the sheet's table.
TEST_F(HtmlWriterTest, AReportHeadsEachSheetsTableWithItsName) {
  HtmlWriter writer;
  const std::string file = support::writeReport(
      writer, dir_ / "report.html",
      {{"Orders", {column("ID", 10, 4), column("NAME")}, {{"1", "A&B"}, {"2", std::nullopt}}},
       {"Q&A <\"1\"> Zürich", {column("X")}, {}},
       {"last", {column("Y")}, {{"y"}}}});
  EXPECT_EQ(file,
            "<h2>Orders</h2>\r\n"
            "<table border=\"1\">\r\n"
            "<tr>\r\n<th>ID</th>\r\n<th>NAME</th>\r\n</tr>\r\n"
            "<tr>\r\n<td>1</td>\r\n<td>A&amp;B</td>\r\n</tr>\r\n"
            "<tr>\r\n<td>2</td>\r\n<td></td>\r\n</tr>\r\n"
            "</table>\r\n"
            "<h2>Q&amp;A &lt;&quot;1&quot;&gt; Zürich</h2>\r\n"
            "<table border=\"1\">\r\n"
            "<tr>\r\n<th>X</th>\r\n</tr>\r\n"
            "</table>\r\n"
            "<h2>last</h2>\r\n"
            "<table border=\"1\">\r\n"
            "<tr>\r\n<th>Y</th>\r\n</tr>\r\n"
            "<tr>\r\n<td>y</td>\r\n</tr>\r\n"
            "</table>\r\n");
}

// A job whose run ends before its header row still gets its one table, as it always did.
TEST_F(HtmlWriterTest, AJobEndedBeforeItsHeaderRowStillStartsAndEndsTheTable) {
  const std::string path = dir_ / "bare.html";
  OutputFile out = OutputFile::create(path, true);
  ASSERT_TRUE(out.isOpen());
  HtmlWriter writer;
  writer.begin(out);
  writer.finish(0, 1);
  ASSERT_TRUE(out.close());
  EXPECT_EQ(support::readFile(path), "<table border=\"1\">\r\n<tr>\r\n</table>\r\n");
}

}  // namespace
}  // namespace rowpress
