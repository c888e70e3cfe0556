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
    const std::string job = temp_ / ("job-" + std::to_string(rows) + ".DIRU");
    support::writeFile(job, "Database=\"" + dataSource + "\";\nSQL=\"select * from big limit " +
                                std::to_string(rows) + "\";\n" + flag + "=\"1\";\n");
    const support::ChildResult result = support::runRowpress(
        temp_.path(), {"-silent", "-noautoopen", "-file=" + job, "-outfile=" + (temp_ / "out")},
        support::forPeakMemory());
    EXPECT_EQ(result.exitStatus, 0) << flag << " " << rows << "\n" << result.err;
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
}

}  // namespace
}  // namespace rowpress
