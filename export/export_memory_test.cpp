// The run holds one row at a time: the peak memory of the real executable does not grow with
// the number of rows, for any output type, and on a data source written without the driver's
// options too.
#include <gtest/gtest.h>

#include <string>

#include "tests/support/child_process.h"
#include "tests/support/odbc_fixture.h"

namespace rowpress {
namespace {

class ExportMemoryTest : public support::OdbcTest {
 protected:
  void SetUp() override {
    OdbcTest::SetUp();
    execute(
        "create table big as with recursive c(i) as (select 1 union all select i + 1 from c "
        "where i < 200000) select i, 'row ' || i || ', with some text' as t, i * 0.5 as x, "
        "case when i % 3 = 0 then null else hex(randomblob(20)) end as h from c");
  }

  // Runs the executable unattended on the first `rows` rows; returns its peak RSS in KiB.
  long peakKiB(const std::string& flag, long rows, const std::string& dataSource = "rowtest") {
    return peakKiBOf("Database=\"" + dataSource + "\";\nSQL=\"select * from big limit " +
                     std::to_string(rows) + "\";\n" + flag + "=\"1\";\n");
  }
  // Runs the job `text` unattended, writing to `out`; returns its peak RSS in KiB.
  long peakKiBOf(const std::string& text, const std::string& out = "out") {
    const std::string job = temp_ / "job.DIRU";
    support::writeFile(job, text);
    const support::ChildResult result = support::runRowpress(
        temp_.path(), {"-silent", "-noautoopen", "-file=" + job, "-outfile=" + (temp_ / out)},
        support::forPeakMemory());
    EXPECT_EQ(result.exitStatus, 0) << text << "\n" << result.err;
    return result.peakKiB;
  }
};

TEST_F(ExportMemoryTest, PeakMemoryIsFlatInTheNumberOfRows) {
  // 2007 raises the workbook's row limit above the row count.
  for (const std::string flag : {"CSV", "TSV", "HTML", "2007"}) {
    const long small = peakKiB(flag, 10000);
    const long large = peakKiB(flag, 200000);
    EXPECT_LE(large, small + small / 10)
        << flag << ": " << small << " KiB at 10,000 rows, " << large << " KiB at 200,000";
  }
}

TEST_F(ExportMemoryTest, ADataSourceWithoutDriverOptionsIsStreamedToo) {
  // Without StepAPI=1 the SQLite driver would read the whole result first.
  addDataSourceSection("plain", "Driver=SQLite3\nDatabase=" + database() + "\n");
  const long small = peakKiB("CSV", 10000, "plain");
  const long large = peakKiB("CSV", 200000, "plain");
  EXPECT_LE(large, small + small / 10)
      << small << " KiB at 10,000 rows, " << large << " KiB at 200,000";
  // Columns without a declared type are described by a second run in the typed mode, which
  // reads one row: memory stays flat for them too.
  auto expressions = [&](long rows) {
    return peakKiBOf(
        "Database=\"plain\";\nSQL=\"select i, i * 2 as twice, t || '!' as t2 from "
        "big limit " +
        std::to_string(rows) + "\";\nCSV=\"1\";\n");
  };
  const long typedSmall = expressions(10000);
  const long typedLarge = expressions(200000);
  EXPECT_LE(typedLarge, typedSmall + typedSmall / 10)
      << typedSmall << " KiB at 10,000 rows, " << typedLarge << " KiB at 200,000";
}

TEST_F(ExportMemoryTest, StandardCsvAndTsvTakeLongValuesWholeWithoutHoldingThem) {
  // Values of 24,000,003 bytes whose separator and double quote come last.
  execute(
      "create table wide as with recursive c(i) as (select 1 union all select i + 1 from c "
      "where i < 3) select i, replace(hex(zeroblob(12000000)), '0', 'a') || ',\"' || char(9) || "
      "i as v from c");
  const std::string sql = "Database=\"rowtest\";\nSQL=\"select i, v from wide order by i\";\n";
  const long classic = peakKiBOf(sql + "CSV=\"1\";\n", "classic.csv");
  const long standard = peakKiBOf(sql + "CSV=\"1\";\nQuoteFields=\"1\";\n", "standard.csv");
  const long tsv = peakKiBOf(sql + "TSV=\"1\";\nQuoteFields=\"1\";\n", "standard.tsv");
  const std::string body(24000000, 'a');
  std::string csv = "i,v\r\n", tabs = "i\tv\r\n";
  for (int i = 1; i <= 3; ++i) {
    csv += std::to_string(i) + ",\"" + body + ",\"\"\t" + std::to_string(i) + "\"\r\n";
    tabs += std::to_string(i) + "\t\"" + body + ",\"\"\t" + std::to_string(i) + "\"\r\n";
  }
  EXPECT_TRUE(support::readFile(temp_ / "standard.csv") == csv) << "a value lost or gained bytes";
  EXPECT_TRUE(support::readFile(temp_ / "standard.tsv") == tabs) << "a value lost or gained bytes";
  // The classic CSV keeps its 65,536 bytes of each; the standard files read each value in parts
  // of at most 4 MiB and hold none whole in memory: they cost less than one value more than it.
  EXPECT_EQ(support::fileSize(temp_ / "classic.csv").value_or(0), 6 + 3 * (2 + 65536 + 3));
  constexpr long kValueKiB = 24000000 / 1024;
  EXPECT_LT(standard, classic + kValueKiB)
      << classic << " KiB classic, " << standard << " standard";
  EXPECT_LT(tsv, classic + kValueKiB) << classic << " KiB classic, " << tsv << " standard TSV";
}

}  // namespace
}  // namespace rowpress
