// The run of a job on its own: what it reports before and around the export, and that the job
// it is given is all it reads.
#include "run/run_job.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <ctime>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/odbc_fixture.h"
#include "tests/support/recording_report.h"

namespace rowpress {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::StartsWith;

class RunJobTest : public support::OdbcTest {
 protected:
  RunResult run(JobSettings job) {
    return runJob(std::move(job), report_, launcher_, StopRequest::instance());
  }

  JobSettings jobOn(const std::string& dataSource, const std::string& sql) {
    JobSettings job;
    job.dataSource = dataSource;
    job.sql = sql;
    job.noAutoOpen = true;
    return job;
  }

  support::RecordingReport report_;
};

TEST_F(RunJobTest, TheSqlTextIsTheFirstLineAndTheExportRunsOnIt) {
  execute("create table people(name text); insert into people values ('Ann'), ('Bo')");
  JobSettings job = jobOn("rowtest", "select name\r\nfrom people");
  job.outputCsv = true;
  const RunResult result = run(std::move(job));
  EXPECT_EQ(result.outcome, RunOutcome::Exported);
  EXPECT_TRUE(result.exported);
  EXPECT_EQ(result.failureLine, "");
  EXPECT_EQ(result.export_.rows, 2);
  EXPECT_TRUE(result.export_.kept);
  EXPECT_EQ(support::readFile(result.export_.path), support::withCrLf("name,\nAnn,\nBo,\n"));
  // The text as the driver got it, unescaped: the status list escapes it for the window.
  ASSERT_FALSE(report_.lines.empty());
  EXPECT_EQ(report_.lines.front(), "select name\r\nfrom people");
  EXPECT_EQ(report_.lastRowsDone, 2);
  EXPECT_THAT(report_.messages, IsEmpty());
  EXPECT_THAT(launcher_.started, IsEmpty());
}

TEST_F(RunJobTest, AFailedConnectionIsALineAndAResultWithoutAnExport) {
  const RunResult result = run(jobOn("no such source", "select 1"));
  EXPECT_EQ(result.outcome, RunOutcome::NoConnection);
  EXPECT_FALSE(result.exported);
  EXPECT_EQ(result.failureLine, "did not connect");
  EXPECT_THAT(result.connectDiagnostic, StartsWith("[IM002] "));
  // The reason follows on a line of its own, as the unattended run logs it.
  EXPECT_THAT(report_.lines, ElementsAre("select 1", "did not connect", result.connectDiagnostic));
}

TEST_F(RunJobTest, ARefusedValueEndsTheRunBeforeConnecting) {
  JobSettings job = jobOn("no such source", "select 1");
  job.outFileName = std::string(300, 'x');
  const RunResult result = run(std::move(job));
  EXPECT_EQ(result.outcome, RunOutcome::OutputFile);
  EXPECT_EQ(result.failureLine, "The output file name is longer than 255 bytes and was refused.");
  EXPECT_FALSE(result.exported);
  EXPECT_THAT(report_.lines, ElementsAre("select 1", result.failureLine));
}

TEST_F(RunJobTest, TheOutputNameTakesTheDateAndParametersOrRefusesTheRun) {
  execute("create table t(n integer); insert into t values (1)");
  support::TempDir dir;
  JobSettings job = jobOn("rowtest", "select n from t where :region <> ''");
  job.outputCsv = true;
  job.outFileName = dir / "sales-{region}-{date}.csv";
  job.parameters = {{"region", "north/east"}};
  const std::time_t before = std::time(nullptr);
  const RunResult result = run(copyOf(job));
  const std::time_t after = std::time(nullptr);
  EXPECT_EQ(result.outcome, RunOutcome::Exported);
  // The date of the run, whichever side of midnight it fell.
  std::vector<std::string> names;
  for (std::time_t t : {before, after}) {
    char date[16];
    std::strftime(date, sizeof date, "%Y-%m-%d", std::localtime(&t));
    names.push_back(dir / ("sales-north_east-" + std::string(date) + ".csv"));
  }
  EXPECT_THAT(names, ::testing::Contains(result.export_.path));
  EXPECT_TRUE(support::fileExists(result.export_.path));

  job.parameters = {{"region", ".."}};
  const RunResult refused = run(std::move(job));
  EXPECT_EQ(refused.outcome, RunOutcome::JobUnreadable);
  EXPECT_FALSE(refused.exported);
  EXPECT_THAT(refused.failureLine, ::testing::HasSubstr("region"));
  EXPECT_EQ(support::listDirectory(dir.path()).size(), 1u);
}

TEST_F(RunJobTest, TheMessagesOfTheExportReachTheReportAfterItsLines) {
  execute("create table empty(id integer)");
  const RunResult result = run(jobOn("rowtest", "select id from empty"));
  EXPECT_EQ(result.outcome, RunOutcome::NoRows);
  ASSERT_EQ(report_.messages.size(), 1u);
  EXPECT_EQ(report_.messages[0].text, "No Results Found");
  EXPECT_EQ(report_.messages[0].caption, "SQL statement failed.");
  EXPECT_THAT(outputFiles(), IsEmpty());
}

}  // namespace
}  // namespace rowpress
