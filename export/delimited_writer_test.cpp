#include "export/delimited_writer.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "export/export_run.h"
#include "export/output_file.h"
#include "tests/support/writer_test_support.h"

namespace rowpress {
namespace {

using support::column;

class DelimitedWriterTest : public ::testing::Test {
 protected:
  // Writes a whole result (header row and rows, in the export run's order) and returns the
  // file's bytes.
  std::string run(OutputWriter& writer, const std::vector<ColumnInfo>& columns,
                  const std::vector<std::vector<std::string>>& rows) {
    return support::writeResult(writer, nextPath(), columns, rows);
  }
  static WriterOptions fixedWidth(bool force) {
    WriterOptions options;
    options.forceFullLength = force;
    return options;
  }
  std::string nextPath() { return dir_ / ("out" + std::to_string(++files_) + ".csv"); }

  std::string csv(const std::vector<ColumnInfo>& columns,
                  const std::vector<std::vector<std::string>>& rows, bool force = false) {
    DelimitedWriter w(OutputType::Csv, fixedWidth(force));
    return run(w, columns, rows);
  }
  std::string tsv(const std::vector<ColumnInfo>& columns,
                  const std::vector<std::vector<std::string>>& rows, bool force = false) {
    DelimitedWriter w(OutputType::Tsv, fixedWidth(force));
    return run(w, columns, rows);
  }

  // Standard CSV (quoteFields) with `separator`; std::nullopt values are NULL.
  std::string standard(const std::vector<ColumnInfo>& columns,
                       const std::vector<std::vector<std::optional<std::string>>>& rows,
                       bool force = false, char separator = ',', bool byteOrderMark = false) {
    WriterOptions options = fixedWidth(force);
    options.quoteFields = true;
    options.byteOrderMark = byteOrderMark;
    DelimitedWriter w(separator, options);
    return support::writeResult(w, nextPath(), columns, rows);
  }

  support::TempDir dir_;
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
  EXPECT_EQ(run(w, {column("a|b")}, {{"x|y\r\nz"}}), "a;b|\r\nx;y||z|\r\n");
}

TEST_F(DelimitedWriterTest, NoColumnsGiveEmptyLines) {
  EXPECT_EQ(csv({}, {{}, {}}), "\r\n\r\n\r\n");
}

// Standard CSV: a field is quoted only when it holds the separator, a double quote, CR or LF;
// inside the quotes every byte stays (no LF turned into CR LF), quotes are doubled; no
// separator after the last field; the line end stays CR LF.
TEST_F(DelimitedWriterTest, StandardCsvQuotesOnlyWhatNeedsIt) {
  EXPECT_EQ(standard({column("ID"), column("NAME")}, {{"1", "a,b"},
                                                      {"2", "say \"hi\""},
                                                      {"3", "cr\rlf\ncrlf\r\n"},
                                                      {"4", "\""},
                                                      {"5", ","},
                                                      {"6", "  lead;|x"},
                                                      {"7", "caf\xC3\xA9 \xFF\x01'<&>"}}),
            "ID,NAME\r\n1,\"a,b\"\r\n2,\"say \"\"hi\"\"\"\r\n3,\"cr\rlf\ncrlf\r\n\"\r\n"
            "4,\"\"\"\"\r\n5,\",\"\r\n6,  lead;|x\r\n7,caf\xC3\xA9 \xFF\x01'<&>\r\n");
  // A NUL byte inside a value stays as it is, quoted or not.
  EXPECT_EQ(standard({column("A")}, {{std::string("a\0b", 3)}, {std::string("\"\0", 2)}}),
            std::string("A\r\na\0b\r\n\"\"\"\0\"\r\n", 15));
}

TEST_F(DelimitedWriterTest, StandardCsvTellsNullFromTheEmptyString) {
  EXPECT_EQ(standard({column("A"), column("B"), column("C")},
                     {{std::nullopt, "", std::nullopt}, {"", std::nullopt, ""}}),
            "A,B,C\r\n,\"\",\r\n\"\",,\"\"\r\n");
  // One column of NULL is an empty line, of the empty string a quoted one.
  EXPECT_EQ(standard({column("A")}, {{std::nullopt}, {""}}), "A\r\n\r\n\"\"\r\n");
  EXPECT_EQ(standard({}, {{}, {}}), "\r\n\r\n\r\n");
}

TEST_F(DelimitedWriterTest, StandardTsvQuotesTabsAndKeepsCommas) {
  EXPECT_EQ(standard({column("ID"), column("NA\tME")},
                     {{"1", "a\tb,c"}, {"2", "x\"y"}, {std::nullopt, ""}}, false, '\t'),
            "ID\t\"NA\tME\"\r\n1\t\"a\tb,c\"\r\n2\t\"x\"\"y\"\r\n\t\"\"\r\n");
}

TEST_F(DelimitedWriterTest, StandardHeaderNamesFollowTheSameRules) {
  EXPECT_EQ(standard({column("a,b"), column("c\rd"), column("e\nf"), column("g\"h"), column(""),
                      column(" i ")},
                     {}),
            "\"a,b\",\"c\rd\",\"e\nf\",\"g\"\"h\",\"\", i \r\n");
}

// Force Full Length makes the fixed-width form of the value first and quotes that; the empty
// string stays "" and NULL an empty field, not both the same blanks.
TEST_F(DelimitedWriterTest, StandardFixedWidthPadsBeforeQuoting) {
  const std::vector<ColumnInfo> c6 = {column("A", 6)};
  EXPECT_EQ(
      standard(c6, {{"ab"}, {"a,b"}, {"a\"bcdefg"}, {"abc\r\nd,e"}, {""}, {std::nullopt}}, true),
      "A\r\nab    \r\n\"a,b   \"\r\n\"a\"\"bcde\"\r\n\"abc\r\nd\"\r\n\"\"\r\n\r\n");
  // The cut keeps whole UTF-8 characters; "aé€" is 61 C3 A9 E2 82 AC.
  EXPECT_EQ(standard({column("A", 5), column("B", 4)},
                     {{"a\xC3\xA9\xE2\x82\xAC", "\"a\xE2\x82\xAC"}}, true),
            "A,B\r\na\xC3\xA9  ,\"\"\"a  \"\r\n");
  // No width: nothing is left of a value, but NULL and the empty string stay apart.
  EXPECT_EQ(standard({column("A", 0), column("B", -5), column("C", 0)}, {{"abc", std::nullopt, ""}},
                     true),
            "A,B,C\r\n\"\",,\"\"\r\n");
}

TEST_F(DelimitedWriterTest, ByteOrderMarkStartsTheFile) {
  WriterOptions bom;
  bom.byteOrderMark = true;
  DelimitedWriter csvWithBom(OutputType::Csv, bom);
  EXPECT_EQ(run(csvWithBom, {column("A"), column("B")}, {{"a,b", "c"}}),
            "\xEF\xBB\xBF"
            "A,B,\r\na;b,c,\r\n");
  DelimitedWriter tsvWithBom(OutputType::Tsv, bom);
  EXPECT_EQ(run(tsvWithBom, {column("A")}, {}),
            "\xEF\xBB\xBF"
            "A\t\r\n");
  EXPECT_EQ(standard({column("A")}, {{"x,y"}}, false, '\t', true),
            "\xEF\xBB\xBF"
            "A\r\nx,y\r\n");
  EXPECT_EQ(standard({column("A")}, {{"x,y"}}, false, '\t', false), "A\r\nx,y\r\n");
}

// The export run hands the job's options to the writer it makes.
TEST_F(DelimitedWriterTest, MakeWriterPassesTheJobsOptions) {
  JobSettings job;
  job.quoteFields = true;
  job.byteOrderMark = true;
  for (OutputType type : {OutputType::Csv, OutputType::Tsv}) {
    std::unique_ptr<OutputWriter> writer = makeWriter(type, writerOptionsOf(job));
    EXPECT_EQ(run(*writer, {column("A"), column("B")}, {{"a,b", ""}}),
              type == OutputType::Csv ? "\xEF\xBB\xBF"
                                        "A,B\r\n\"a,b\",\"\"\r\n"
                                      : "\xEF\xBB\xBF"
                                        "A\tB\r\na,b\t\"\"\r\n");
  }
  // The separator is standard CSV's: TSV keeps its tab, the classic CSV its comma.
  job.byteOrderMark = false;
  job.separator = ";";
  for (auto [type, quote, expected] : {std::tuple{OutputType::Csv, true, "A;B\r\na,b;\"\"\r\n"},
                                       std::tuple{OutputType::Tsv, true, "A\tB\r\na,b\t\"\"\r\n"},
                                       std::tuple{OutputType::Csv, false, "A,B,\r\na;b,,\r\n"}}) {
    job.quoteFields = quote;
    std::unique_ptr<OutputWriter> writer = makeWriter(type, writerOptionsOf(job));
    EXPECT_EQ(run(*writer, {column("A"), column("B")}, {{"a,b", ""}}), expected);
  }
  // Without the options the writer keeps its earlier bytes.
  std::unique_ptr<OutputWriter> plain = makeWriter(OutputType::Csv, writerOptionsOf(JobSettings{}));
  EXPECT_EQ(run(*plain, {column("A"), column("B")}, {{"a,b", ""}}), "A,B,\r\na;b,,\r\n");
}

// A numeric column's decimal point becomes a comma, its exponent and NaN or infinity staying;
// text and dates keep their points; a field holding the separator is still quoted.
TEST_F(DelimitedWriterTest, DecimalCommaTouchesNumericColumnsOnly) {
  WriterOptions options;
  options.quoteFields = true;
  options.separator = ';';
  options.decimalComma = true;
  const std::vector<ColumnInfo> columns = {column("D", 10, 3), column("F", 10, 8),
                                           column("I", 10, -5), column("T", 10, 12),
                                           column("W", 10, 93)};
  DelimitedWriter standardCsv(OutputType::Csv, options);
  EXPECT_EQ(
      support::writeResult(standardCsv, nextPath(), columns,
                           std::vector<std::vector<std::optional<std::string>>>{
                               {"-1250.75", "1.5E-10", "12", "1.5;2.5", "2024-06-30 09:59:59.5"},
                               {".5", "NaN", std::nullopt, "", std::nullopt},
                               {"0", "-Infinity", "-3", "x", "2024-01-01"}}),
      "D;F;I;T;W\r\n-1250,75;1,5E-10;12;\"1.5;2.5\";2024-06-30 09:59:59.5\r\n"
      ",5;NaN;;\"\";\r\n0;-Infinity;-3;x;2024-01-01\r\n");
  // The classic TSV and the fixed width: the cut is the value's, the comma in its place.
  options.quoteFields = false;
  options.forceFullLength = true;
  DelimitedWriter classicTsv(OutputType::Tsv, options);
  EXPECT_EQ(run(classicTsv, {column("N", 4, 2), column("T", 4)}, {{"3.14159", "3.14159"}}),
            "N\tT\t\r\n3,14\t3.14\t\r\n");
}

// The whole file goes out in the encoding: a character it cannot hold, or a byte that is no
// UTF-8, becomes "?" and the value meets "unencodable"; a character cut between the parts of
// a long value is one character. UTF-16LE starts with its byte order mark.
TEST_F(DelimitedWriterTest, AnEncodingWritesTheWholeFileAndCountsWhatItCannotHold) {
  WriterOptions options;
  options.quoteFields = true;
  options.separator = ';';
  options.encoding = "windows-1252";
  DelimitedWriter writer(OutputType::Csv, options);
  const std::string path = nextPath();
  OutputFile file = OutputFile::create(path, true);
  writer.begin(file);
  writer.header({column("Pr\xC3\xA9nom"), column("B")});
  std::vector<ValueChanges> changes;
  writer.beginRow();
  changes.push_back(
      writer.cell({"caf\xC3\xA9 \xE2\x82\xAC"
                   "5;"}));
  changes.push_back(writer.cell({"\xE6\x97\xA5x\xFF"}));
  writer.endRow();
  writer.beginRow();
  writer.cell({"\xE2\x82\xAC"});
  writer.beginCellParts();
  writer.cellPart("a\xE2\x82");
  writer.cellPart("\xAC\xE6");
  writer.cellPart("\x97\xA5");
  changes.push_back(writer.endCellParts());
  writer.endRow();
  writer.finish(2, 3);
  ASSERT_TRUE(file.close());
  EXPECT_EQ(support::readFile(path),
            "Pr\xE9nom;B\r\n\"caf\xE9 \x80"
            "5;\";?x?\r\n\x80;\"a\x80?\"\r\n");
  EXPECT_EQ(changes, (std::vector<ValueChanges>{0, changeOf(ValueRule::Unencodable),
                                                changeOf(ValueRule::Unencodable)}));

  options.encoding = "UTF-16LE";
  DelimitedWriter utf16(OutputType::Tsv, options);
  EXPECT_EQ(run(utf16, {column("A")}, {{"\xC3\xA9\t"}}),
            std::string("\xFF\xFE"
                        "A\0\r\0\n\0\"\0\xE9\0\t\0\"\0\r\0\n\0",
                        20));
}

// A separator, decimal comma or encoding that the output cannot use refuses the job; the
// outputs without a separator leave them be.
TEST_F(DelimitedWriterTest, OptionsTheOutputCannotUseAreRefused) {
  struct Case {
    OutputType type;
    bool quote;
    std::string separator;
    bool decimalComma;
    std::string refusal;  // its beginning; empty: none
    std::string encoding = "";
    bool byteOrderMark = false;
  };
  const Case cases[] = {
      {OutputType::Csv, true, ";", true, ""},
      {OutputType::Csv, true, "|", false, ""},
      {OutputType::Csv, false, ",", false, ""},
      {OutputType::Tsv, false, "", true, ""},
      {OutputType::Xlsx, false, "|", true, ""},
      {OutputType::Xlsx, false, ";;", false, "The separator \";;\" is not one of"},
      {OutputType::Csv, true, "\t", false, "The separator \"\t\" is not one of"},
      {OutputType::Csv, false, ";", false, "The separator \";\" was refused without Quote"},
      {OutputType::Tsv, true, "|", false, "The separator \"|\" was refused: TSV"},
      {OutputType::Csv, true, ",", true, "The decimal comma was refused"},
      {OutputType::Csv, true, "", true, "The decimal comma was refused"},
      {OutputType::Tsv, false, "", false, "", "windows-1252"},
      {OutputType::Csv, false, "", false, "", "utf8", true},
      {OutputType::Html, false, "", false, "", "UTF-16LE", true},
      {OutputType::Xlsx, false, "", false, "The encoding \"klingon\" is not one", "klingon"},
      {OutputType::Csv, false, "", false, "The encoding \"ASCII//TRANSLIT\" is not one",
       "ASCII//TRANSLIT"},
      {OutputType::Tsv, false, "", false, "The UTF-8 byte order mark was refused", "UTF-16LE",
       true},
  };
  for (const Case& c : cases) {
    JobSettings job;
    setOutputType(job, c.type);
    job.quoteFields = c.quote;
    job.separator = c.separator;
    job.decimalComma = c.decimalComma;
    job.encoding = c.encoding;
    job.byteOrderMark = c.byteOrderMark;
    const std::optional<std::string> problem = delimitedOptionsProblem(job);
    SCOPED_TRACE(c.separator + " " + c.refusal);
    if (c.refusal.empty()) {
      EXPECT_FALSE(problem) << *problem;
    } else {
      ASSERT_TRUE(problem);
      EXPECT_TRUE(problem->starts_with(c.refusal)) << *problem;
    }
  }
}

// Each sheet of a report goes to a file of its own: starting and ending the sheet writes
// nothing, so a sheet's file holds what a job with the same result writes.
TEST_F(DelimitedWriterTest, AReportSheetsFileHoldsWhatAJobWithItsResultWrites) {
  const std::vector<ColumnInfo> columns{column("A"), column("B")};
  const std::vector<std::vector<std::optional<std::string>>> rows{{"a,b", std::nullopt},
                                                                  {"c\nd", ""}};
  WriterOptions quoted;
  quoted.quoteFields = true;
  quoted.byteOrderMark = true;
  for (const auto& [separator, options] :
       {std::pair{',', WriterOptions{}}, std::pair{'\t', WriterOptions{}},
        std::pair{',', quoted}}) {
    DelimitedWriter plain(separator, options), report(separator, options);
    const std::string expected = support::writeResult(plain, nextPath(), columns, rows);
    const std::string sheet = support::writeReport(report, nextPath(), {{"Orders", columns, rows}});
    EXPECT_EQ(sheet, expected) << "separator " << int(separator);
    EXPECT_NE(expected.find("A"), std::string::npos);
    EXPECT_EQ(sheet.find("Orders"), std::string::npos);
  }
}

}  // namespace
}  // namespace rowpress
