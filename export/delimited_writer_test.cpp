#include "export/delimited_writer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "export/output_file.h"
#include "export/writer_test_support.h"

namespace rowpress {
namespace {

using testing::column;

class DelimitedWriterTest : public ::testing::Test {
 protected:
  // Writes a whole result (header row and rows, in the export run's order) and returns the
  // file's bytes.
  std::string run(DelimitedWriter& writer, const std::vector<ColumnInfo>& columns,
                  const std::vector<std::vector<std::string>>& rows, bool forceFullLength) {
    const std::string path = dir_ / ("out" + std::to_string(++files_) + ".csv");
    return testing::writeResult(writer, path, columns, rows, forceFullLength);
  }

  std::string csv(const std::vector<ColumnInfo>& columns,
                  const std::vector<std::vector<std::string>>& rows, bool force = false) {
    DelimitedWriter w(OutputType::Csv);
    return run(w, columns, rows, force);
  }
  std::string tsv(const std::vector<ColumnInfo>& columns,
                  const std::vector<std::vector<std::string>>& rows, bool force = false) {
    DelimitedWriter w(OutputType::Tsv);
    return run(w, columns, rows, force);
  }

  testing::TempDir dir_;
  int files_ = 0;
};

TEST_F(DelimitedWriterTest, SeparatorFollowsTheOutputType) {
  EXPECT_EQ(DelimitedWriter(OutputType::Csv).separator(), ',');
  EXPECT_EQ(DelimitedWriter(OutputType::Tsv).separator(), '\t');
  EXPECT_EQ(DelimitedWriter(';').separator(), ';');
}

TEST_F(DelimitedWriterTest, CsvWholeFile) {
  EXPECT_EQ(csv({column("ID", 10, 4), column("NAME")}, {{"1", "A&B"}, {"", ""}}),
            "ID,NAME,\r\n1,A&B,\r\n,,\r\n");
}

TEST_F(DelimitedWriterTest, CsvValuesWithCommaAndNull) {
  EXPECT_EQ(csv({column("A"), column("B"), column("C")}, {{"1", "a,b", ""}}),
            "A,B,C,\r\n1,a;b,,\r\n");
}

TEST_F(DelimitedWriterTest, TsvWholeFileReplacesTabsAndKeepsCommas) {
  EXPECT_EQ(tsv({column("ID"), column("NA\tME")}, {{"1", "a\tb,c"}, {"", ""}}),
            "ID\tNA;ME\t\r\n1\ta;b,c\t\r\n\t\t\r\n");
}

TEST_F(DelimitedWriterTest, LineBreaksBecomeBars) {
  EXPECT_EQ(csv({column("A")}, {{"one\r\ntwo"}, {"a\nb\rc"}, {"\r\n\r\n"}}),
            "A,\r\none||two,\r\na|b|c,\r\n||||,\r\n");
  EXPECT_EQ(tsv({column("A")}, {{"one\r\ntwo"}}), "A\t\r\none||two\t\r\n");
}

TEST_F(DelimitedWriterTest, QuotesAreNeverAddedOrChanged) {
  EXPECT_EQ(csv({column("A\"")}, {{"say \"hi\""}, {"\""}}), "A\",\r\nsay \"hi\",\r\n\",\r\n");
}

TEST_F(DelimitedWriterTest, FixedWidthAfterReplacement) {
  const std::vector<ColumnInfo> c5 = {column("A", 5)};
  EXPECT_EQ(csv(c5, {{"ab"}, {"abcdefg"}, {""}}, true), "A,\r\nab   ,\r\nabcde,\r\n     ,\r\n");
  EXPECT_EQ(csv(c5, {{"a,b\r\nc,d"}}, true), "A,\r\na;b||,\r\n");
  EXPECT_EQ(csv({column("A", 0), column("B", -5)}, {{"abc", "def"}}, true), "A,B,\r\n,,\r\n");
  // Without forceFullLength the declared size plays no part.
  EXPECT_EQ(csv(c5, {{"abcdefg"}}, false), "A,\r\nabcdefg,\r\n");
}

TEST_F(DelimitedWriterTest, BinaryValueIsPaddedOrCutLikeAnyValue) {
  EXPECT_EQ(csv({column("B", 5, -3)}, {{"<BINARY>"}}, true), "B,\r\n<BINA,\r\n");
  EXPECT_EQ(csv({column("B", 10, -3)}, {{"<BINARY>"}}, true), "B,\r\n<BINARY>  ,\r\n");
  EXPECT_EQ(csv({column("B", 5, -3)}, {{"<BINARY>"}}, false), "B,\r\n<BINARY>,\r\n");
}

TEST_F(DelimitedWriterTest, FixedWidthCutInsideAMultiByteCharacter) {
  // "aé€" is 61 C3 A9 E2 82 AC.
  EXPECT_EQ(csv({column("A", 2)}, {{"a\xC3\xA9\xE2\x82\xAC"}}, true), "A,\r\na ,\r\n");
  EXPECT_EQ(csv({column("A", 5)}, {{"a\xC3\xA9\xE2\x82\xAC"}}, true), "A,\r\na\xC3\xA9  ,\r\n");
  EXPECT_EQ(csv({column("A", 6)}, {{"a\xC3\xA9\xE2\x82\xAC"}}, true),
            "A,\r\na\xC3\xA9\xE2\x82\xAC,\r\n");
}

TEST_F(DelimitedWriterTest, HeaderNamesGetOnlyTheSeparatorReplacement) {
  // A comma becomes ";"; a CR stays; a line feed is written through the text-mode file and
  // so becomes CR LF, breaking the header line.
  EXPECT_EQ(csv({column("a,b"), column("c\rd"), column("e\nf")}, {}), "a;b,c\rd,e\r\nf,\r\n");
  EXPECT_EQ(tsv({column("a,b\tc")}, {}), "a,b;c\t\r\n");
}

TEST_F(DelimitedWriterTest, BytesPassUnchanged) {
  EXPECT_EQ(csv({column("caf\xC3\xA9")}, {{"\xE9<&>\x01'\xFF"}}),
            "caf\xC3\xA9,\r\n\xE9<&>\x01'\xFF,\r\n");
}

TEST_F(DelimitedWriterTest, OtherSeparator) {
  DelimitedWriter w('|');
  EXPECT_EQ(run(w, {column("a|b")}, {{"x|y\r\nz"}}, false), "a;b|\r\nx;y||z|\r\n");
}

TEST_F(DelimitedWriterTest, NoColumnsGiveEmptyLines) {
  EXPECT_EQ(csv({}, {{}, {}}), "\r\n\r\n\r\n");
}

}  // namespace
}  // namespace rowpress
