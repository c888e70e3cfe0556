// Stopping an export run: a stop request at the next row, the window's Cancel, the files
// of a run that cannot stop, and drivers that are never cancelled from another thread.
#include "export/stop_request.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "export/column_type_report.h"
#include "export/export_run.h"
#include "export/output_naming.h"
#include "tests/support/export_run_fixture.h"
#include "tests/support/odbc_fixture.h"

namespace rowpress {
namespace {

using support::fileExists;
using support::OdbcTest;
using support::readFile;
using support::writeFile;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;

TEST_F(ExportRunTest, AStopRequestEndsTheRunAtTheNextRowAndKeepsTheOldFile) {
  StopRequest& stop = StopRequest::instance();
  stop.reset();
  const std::string target = temp_ / "report.csv";
  writeFile(target, "the old report\r\n");
  setOutputType(job_, OutputType::Csv);
  job_.outFileName = target;
  report_.onRowsDone = [&stop](long long rows) {
    if (rows == 2048) stop.request(0);
  };
  const RunResult stopped = fetch(
      "with recursive c(x) as (select 1 union all select x + 1 from c where x < 100000) "
      "select x from c");
  report_.onRowsDone = nullptr;
  EXPECT_EQ(stopped.outcome, RunOutcome::Stopped);
  EXPECT_EQ(lastExport().rows, 2048);
  EXPECT_EQ(statusList().back(), "Stopped after 2048 rows; no output file was written.");
  EXPECT_TRUE(report_.messages.empty());
  EXPECT_EQ(readFile(target), "the old report\r\n");
  EXPECT_THAT(support::listDirectory(temp_.path()), ::testing::Contains("report.csv"));
  for (const std::string& name : support::listDirectory(temp_.path())) {
    EXPECT_EQ(name.find(".report.csv"), std::string::npos) << name;
  }
  // A request made before a run starts stops it before anything is created.
  job_.outFileName.clear();
  EXPECT_EQ(fetch("select * from people").outcome, RunOutcome::Stopped);
  EXPECT_THAT(outputFiles(), ::testing::IsEmpty());
  // Once forgotten, the next run goes through.
  stop.reset();
  EXPECT_EQ(fetch("select * from people").outcome, RunOutcome::Exported);
}

TEST_F(ExportRunTest, TheWindowsCancelSaysCancelledAndIsForgottenForTheNextRun) {
  StopRequest& stop = StopRequest::instance();
  stop.reset();
  const std::string target = temp_ / "report.csv";
  writeFile(target, "the old report\r\n");
  setOutputType(job_, OutputType::Csv);
  job_.outFileName = target;
  report_.onRowsDone = [&stop](long long rows) {
    if (rows == 1024) stop.requestCancel();
    // A signal after the Cancel changes nothing: the first request wins.
    if (rows == 2048) stop.request(SIGTERM);
  };
  const RunResult cancelled = fetch(
      "with recursive c(x) as (select 1 union all select x + 1 from c where x < 100000) "
      "select x from c");
  report_.onRowsDone = nullptr;
  EXPECT_EQ(cancelled.outcome, RunOutcome::Stopped);
  EXPECT_TRUE(stop.cancelled());
  EXPECT_EQ(stop.signal(), 0);
  EXPECT_EQ(statusList().back(), "Cancelled after 1024 rows");
  EXPECT_EQ(readFile(target), "the old report\r\n");
  for (const std::string& name : support::listDirectory(temp_.path())) {
    EXPECT_EQ(name.find(".report.csv"), std::string::npos) << name;
  }
  // A signal after a reset is a signal again, not a Cancel.
  stop.reset();
  EXPECT_FALSE(stop.cancelled());
  stop.request(SIGTERM);
  EXPECT_FALSE(stop.cancelled());
  EXPECT_EQ(fetch("select * from people").outcome, RunOutcome::Stopped);
  EXPECT_EQ(statusList().back(), "Stopped after 0 rows; no output file was written.");
  stop.reset();
  EXPECT_EQ(fetch("select * from people").outcome, RunOutcome::Exported);
}

TEST(StopRequest, WaitsForTheRunsFilesAndRemovesThemWhenTheRunCannot) {
  support::TempDir dir;
  StopRequest& stop = StopRequest::instance();
  using Clock = std::chrono::steady_clock;
  EXPECT_TRUE(stop.waitUntilIdle(Clock::now()));
  const std::string file = dir / ".report.csv.part";
  writeFile(file, "half");
  stop.addTemporary(file);
  EXPECT_FALSE(stop.waitUntilIdle(Clock::now() + std::chrono::milliseconds(20)));
  // The run removes its own file from another thread: the wait ends then.
  std::thread run([&] { stop.removeTemporary(file); });
  EXPECT_TRUE(stop.waitUntilIdle(Clock::now() + std::chrono::seconds(30)));
  run.join();
  EXPECT_TRUE(fileExists(file));  // the run's own business
  // A run stuck in the driver: its files are removed for it.
  stop.addTemporary(file);
  stop.removeTemporaries();
  EXPECT_FALSE(fileExists(file));
  EXPECT_TRUE(stop.waitUntilIdle(Clock::now()));
  // A step that has created files it has not registered yet is waited for too.
  {
    StepBeforeRegistration step;
    EXPECT_FALSE(stop.waitUntilIdle(Clock::now() + std::chrono::milliseconds(20)));
  }
  EXPECT_TRUE(stop.waitUntilIdle(Clock::now()));
  // A step that must not be cut off (a workbook being assembled) holds the deadline off: the
  // wait goes on past it until the step is over, and then gives the run the same time again
  // to remove its file.
  stop.addTemporary(file);
  stop.beginUninterruptible();
  const auto deadline = Clock::now() + std::chrono::milliseconds(200);
  std::thread assembling([&] {
    while (Clock::now() <= deadline + std::chrono::milliseconds(50)) std::this_thread::yield();
    stop.endUninterruptible();
    stop.removeTemporary(file);
  });
  EXPECT_TRUE(stop.waitUntilIdle(deadline));
  EXPECT_GT(Clock::now(), deadline);
  assembling.join();
}

TEST_F(ExportRunTest, TheSqliteDriverIsNeverCancelledFromAnotherThread) {
  job_.dataSource = "rowtest";
  auto session = OpenSession(job_, kFetchSessionMessages);
  ASSERT_TRUE(session);
  EXPECT_FALSE(driverCancelsSafely(session->connection()));
  EXPECT_FALSE(driverCancelsSafely(SQL_NULL_HDBC));
}

}  // namespace
}  // namespace rowpress
