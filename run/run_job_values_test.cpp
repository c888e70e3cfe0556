// How values travel from the driver into the file: binary columns, long values and their
// cut, values around the fetch's piece size and the bound buffers, NULL.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "export/column_type_report.h"
#include "export/export_run.h"
#include "tests/support/run_fixture.h"

namespace rowpress {
namespace {

using support::readFile;
using support::RunTest;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

using ExportValuesTest = RunTest;

// Keeps every data cell the run hands over: its text and whether it was NULL.
class CellRecorder : public OutputWriter {
 public:
  static inline std::vector<std::pair<std::string, bool>> cells;
  static std::unique_ptr<OutputWriter> make(OutputType, const WriterOptions&) {
    return std::make_unique<CellRecorder>();
  }
  CellRecorder() : OutputWriter(WriterOptions{}) {}
  void begin(OutputFile&) override {}
  void endRow() override {}
  void finish(int, long long) override {}

 private:
  std::vector<ValueChanges> writeHeader(const std::vector<ColumnInfo>& columns) override {
    return std::vector<ValueChanges>(columns.size(), 0);
  }
  void startRow() override {}
  ValueChanges writeCell(const CellValue& value, const ColumnInfo&) override {
    cells.emplace_back(std::string(value.text), value.null);
    return 0;
  }
};

class SilentReport : public ExportReport {
 public:
  void statusLine(std::string_view) override {}
  void rowsDone(long long) override {}
};

// The writers learn which values were NULL, both from bound columns and from values read
// with SQLGetData (a long one), and an empty string is not NULL.
TEST_F(ExportValuesTest, NullAndTheEmptyStringReachTheWriterApart) {
  execute("create table e (n integer, short varchar(5), long text)");
  execute("insert into e values (1, '', '')");
  execute("insert into e values (2, NULL, NULL)");
  execute("insert into e values (3, 'x', '" + std::string(3000, 'y') + "')");
  execute("insert into e values (4, NULL, '" + std::string(3000, 'z') + "')");
  job_.dataSource = "rowtest";
  job_.noAutoOpen = true;
  std::optional<OdbcSession> session = OpenSession(job_, kFetchSessionMessages);
  ASSERT_TRUE(session);
  std::string sql = "select short, long from e order by n";
  SilentReport report;
  CellRecorder::cells.clear();
  ExportRun run(job_, report, StopRequest::instance(), &CellRecorder::make);
  const ExportResult result = run.run(*session, sql);
  EXPECT_EQ(result.outcome, RunOutcome::Exported);
  EXPECT_EQ(result.rows, 4);
  using Cell = std::pair<std::string, bool>;
  EXPECT_THAT(CellRecorder::cells,
              ElementsAre(Cell{"", false}, Cell{"", false}, Cell{"", true}, Cell{"", true},
                          Cell{"x", false}, Cell{std::string(3000, 'y'), false}, Cell{"", true},
                          Cell{std::string(3000, 'z'), false}));
}

TEST_F(ExportValuesTest, BinaryColumnsAreNeverFetched) {
  execute("create table b (id integer, data blob)");
  execute("insert into b values (1, x'00ff10')");
  setOutputType(job_, OutputType::Csv);
  job_.outFileName = temp_ / "b.csv";
  ASSERT_EQ(fetch("select id, data from b").outcome, RunOutcome::Exported);
  EXPECT_EQ(readFile(job_.outFileName), "id,data,\r\n1,<BINARY>,\r\n");
  const std::vector<std::string> lines = statusList();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[lines.size() - 2], "1 | <BINARY> | ");
  EXPECT_EQ(lines.back(), "note: column 2 \"data\": 1 value written as <BINARY>");
}

TEST_F(ExportValuesTest, LongValuesAreCutAt65536BytesOnACharacterBoundary) {
  execute("create table t (v text)");
  // 70,000 bytes of 'a', then 32,767 e-acutes of two bytes: byte 65,536 is split by the cut
  // only in the second row.
  execute("insert into t values (substr(hex(zeroblob(35000)) || '', 1, 70000))");
  execute("insert into t values ('x' || replace(hex(zeroblob(40000)), '00', 'é'))");
  setOutputType(job_, OutputType::Csv);
  job_.outFileName = temp_ / "t.csv";
  ASSERT_EQ(fetch("select v from t").outcome, RunOutcome::Exported);
  std::string file = readFile(job_.outFileName);
  std::string first = std::string(65536, '0');
  std::string second = "x";
  while (second.size() + 2 <= 65536) second += "é";
  EXPECT_EQ(second.size(), 65535u);
  EXPECT_EQ(file, "v,\r\n" + first + ",\r\n" + second + ",\r\n");
  EXPECT_EQ(statusList().back(), "note: column 1 \"v\": 2 values cut at 65,536 bytes");
}

TEST_F(ExportValuesTest, ValuesShorterThanTheLimitPassThroughByteForByte) {
  // Values ending in a byte that looks like the start of a UTF-8 character (Latin-1 e-acute,
  // a lone lead byte, two bytes of a three-byte character), from below the first piece's
  // size to just under the 65,536-byte limit.
  execute("create table t (n integer, v text)");
  std::vector<std::string> values;
  for (std::size_t length : {100u, 511u, 600u, 5000u, 65535u}) {
    for (const char* end : {"\xE9", "\xC3", "\xE2\x82"}) {
      std::string value(length - std::char_traits<char>::length(end), 'a');
      value += end;
      values.push_back(value);
    }
  }
  std::string hex;
  for (std::size_t i = 0; i < values.size(); ++i) {
    static const char* digits = "0123456789ABCDEF";
    hex.clear();
    for (unsigned char c : values[i]) {
      hex += digits[c >> 4];
      hex += digits[c & 15];
    }
    execute("insert into t values (" + std::to_string(i) + ", cast(x'" + hex + "' as text))");
  }
  setOutputType(job_, OutputType::Csv);
  job_.outFileName = temp_ / "t.csv";
  ASSERT_EQ(fetch("select v from t order by n").outcome, RunOutcome::Exported);
  const std::string file = readFile(job_.outFileName);
  std::string expected = "v,\r\n";
  for (const std::string& v : values) expected += v + ",\r\n";
  EXPECT_EQ(file.size(), expected.size());
  EXPECT_TRUE(file == expected) << "a value lost or gained bytes";
  for (const std::string& line : statusList()) EXPECT_THAT(line, Not(StartsWith("note:")));
}

TEST_F(ExportValuesTest, ValuesAroundThePieceSizeArriveWhole) {
  execute("create table t (n integer, v text)");
  std::vector<std::string> values;
  for (int length = 508; length <= 516; ++length) {
    // ASCII, then the same length ending in two-byte characters that straddle the pieces.
    values.push_back(std::string(static_cast<std::size_t>(length), 'a'));
    std::string accented(static_cast<std::size_t>(length - 6), 'b');
    accented += "éèà";
    values.push_back(accented);
  }
  values.push_back("");
  for (std::size_t i = 0; i < values.size(); ++i) {
    execute("insert into t values (" + std::to_string(i) + ", '" + values[i] + "')");
  }
  execute("insert into t values (999, NULL)");
  setOutputType(job_, OutputType::Csv);
  job_.outFileName = temp_ / "t.csv";
  ASSERT_EQ(fetch("select v from t order by n").outcome, RunOutcome::Exported);
  std::string expected = "v,\r\n";
  for (const std::string& v : values) expected += v + ",\r\n";
  expected += ",\r\n";
  EXPECT_EQ(readFile(job_.outFileName), expected);
}

TEST_F(ExportValuesTest, DriverSizesOfZeroAndTwoToThe31AreSafeInFixedWidth) {
  // SQLite's driver takes the size from the declared type.
  execute("create table z (a varchar(0), b varchar(2147483647), c varchar(3))");
  execute("insert into z values ('x', 'y', 'z')");
  setOutputType(job_, OutputType::Csv);
  job_.forceFullLength = true;
  job_.outFileName = temp_ / "z.csv";
  ASSERT_EQ(fetch("select a, b, c from z").outcome, RunOutcome::Exported);
  // Size 0 writes nothing; an "unlimited" size pads no wider than the longest value.
  EXPECT_EQ(readFile(job_.outFileName), "a,b,c,\r\n,y" + std::string(65535, ' ') + ",z  ,\r\n");
  EXPECT_THAT(readFile(home() + "/lasttablecolumntypeinfo.csv"),
              HasSubstr("\r\n2,b,-1,2147483647,0,LONG VARCHAR"));
}

TEST_F(ExportValuesTest, ValuesLongerThanTheirDeclaredSizeArriveWhole) {
  // Short columns are bound with room for their declared size; SQLite does not enforce it,
  // so a longer value comes back cut and is read again.
  execute("create table s (n integer, c varchar(3), d integer)");
  execute("insert into s values (1, 'abc', 1)");
  execute("insert into s values (2, '" + std::string(5000, 'x') + "', 22)");
  execute("insert into s values (3, 'ééééééééééééééééé', 333)");
  execute("insert into s values (4, NULL, NULL)");
  setOutputType(job_, OutputType::Csv);
  job_.outFileName = temp_ / "s.csv";
  ASSERT_EQ(fetch("select c, d from s order by n").outcome, RunOutcome::Exported);
  EXPECT_EQ(readFile(job_.outFileName), "c,d,\r\nabc,1,\r\n" + std::string(5000, 'x') +
                                            ",22,\r\nééééééééééééééééé,333,\r\n,,\r\n");
}

}  // namespace
}  // namespace rowpress
