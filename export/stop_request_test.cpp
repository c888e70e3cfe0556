// Stopping an export run: between the parts of a long value, while a statement executes (and
// the thread that cancels it), in a failing fetch; when the run is idle, the publication gate,
// and drivers that are never cancelled from another thread. (Whole runs stopped:
// run/run_job_export_test.cpp.)
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
#include <system_error>

#include "export/column_type_report.h"
#include "export/export_run.h"
#include "export/output_naming.h"
#include "export/statement_canceller.h"
#include "files/run_files.h"
#include "tests/support/export_run_fixture.h"
#include "tests/support/fake_result_cursor.h"
#include "tests/support/odbc_fixture.h"

namespace rowpress {
namespace {

using support::FakeResultCursor;
using support::fileExists;
using support::readFile;
using support::RecordingReport;
using support::writeFile;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;

// A long value read in parts answers a stop request between its parts: the rest of it is
// never read.
TEST_F(ExportRunTest, AStopRequestEndsTheRunBetweenThePartsOfALongValue) {
  StopRequest& stop = StopRequest::instance();
  stop.reset();
  FakeResultCursor cursor;
  cursor.columns = {ColumnInfo{"memo", -1, 0, 0}};
  cursor.rows = {{std::string(10 * kValueLimit, 'm')}};
  cursor.beforePart = [&](int part) {
    if (part == 3) stop.request(SIGTERM);
  };
  setOutputType(job_, OutputType::Csv);
  job_.quoteFields = true;
  RecordingReport report;
  std::string sql = "select memo from t";
  const ExportResult result = ExportRun(job_, report, StopRequest::instance()).run(cursor, sql);
  EXPECT_EQ(result.outcome, RunOutcome::Stopped);
  EXPECT_EQ(cursor.partsRead, 2);
  EXPECT_TRUE(outputFiles().empty());
  stop.reset();
}

// The run is idle only when a stop has nothing to clean up: none of its files listed, no step
// creating files before it lists them. (The files themselves: files/run_files_test.cpp.)
TEST(StopRequest, IsIdleOnlyWithNoFileListedAndNoStepCreatingFiles) {
  StopRequest& stop = StopRequest::instance();
  EXPECT_TRUE(stop.idle());
  {
    RegisteredTemporary registered;
    registered.set("/nonexistent/.report.csv.part");
    EXPECT_FALSE(stop.idle());
  }
  EXPECT_TRUE(stop.idle());
  {
    StepBeforeRegistration step(stop);
    EXPECT_FALSE(stop.idle());
  }
  EXPECT_TRUE(stop.idle());
}

// The canceller's thread cancels a statement once when woken, with the stop signals blocked
// (their handlers run on the run's thread), and never once the statement has ended.
TEST(StopRequest, TheCancellerCancelsOnceWhenWokenAndNeverAfterTheStatementEnded) {
  struct SignalMaskCursor : FakeResultCursor {
    std::atomic<bool> termBlocked{false};
    void cancel() override {
      sigset_t mask;
      pthread_sigmask(SIG_SETMASK, nullptr, &mask);
      termBlocked = sigismember(&mask, SIGTERM) == 1;
      FakeResultCursor::cancel();
    }
  };
  StatementCanceller canceller;
  canceller.wake();  // no thread waits: nothing to wake
  SignalMaskCursor cursor;
  ASSERT_EQ(canceller.start(cursor), "");
  canceller.finish();
  EXPECT_EQ(cursor.cancels.load(), 0);

  ASSERT_EQ(canceller.start(cursor), "");
  canceller.wake();
  ASSERT_TRUE(
      support::waitFor([&cursor] { return cursor.cancels.load() > 0; }, std::chrono::seconds(10)));
  canceller.wake();
  canceller.finish();
  EXPECT_EQ(cursor.cancels.load(), 1);
  EXPECT_TRUE(cursor.termBlocked);
  canceller.finish();  // a second finish has no thread to end
}

TEST(StopRequest, APublicationBeginsOnlyBeforeAStopAndHoldsItOff) {
  StopRequest& stop = StopRequest::instance();
  stop.reset();
  {
    PublishingStep publishing(stop);
    ASSERT_TRUE(publishing.begun());
    EXPECT_TRUE(stop.holdsOff());
    stop.request(SIGTERM);
    EXPECT_TRUE(stop.holdsOff());
    publishing.published();
  }
  // Published: the stop leaves the outcome to the run.
  EXPECT_FALSE(stop.holdsOff());
  EXPECT_TRUE(stop.publishing());
  // A publication that failed gives the stop its say again.
  stop.reset();
  { PublishingStep failed(stop); }
  EXPECT_FALSE(stop.publishing());
  // One after a stop never begins.
  stop.request(SIGINT);
  {
    PublishingStep late(stop);
    EXPECT_FALSE(late.begun());
    EXPECT_FALSE(stop.holdsOff());
  }
  EXPECT_FALSE(stop.publishing());
  stop.reset();
}

// A stop requested while the statement executes cancels it through its cursor, and only a
// cursor whose driver allows that from another thread; the run ends as stopped either way.
TEST_F(ExportRunTest, AStopWhileExecutingCancelsOnlyACursorThatAllowsIt) {
  StopRequest& stop = StopRequest::instance();
  for (bool safe : {false, true}) {
    SCOPED_TRACE(safe);
    stop.reset();
    FakeResultCursor cursor = FakeResultCursor::numbered(3);
    cursor.safeToCancel = safe;
    // As a driver does, the statement runs until the cancel reaches it (or, where the driver
    // is never cancelled, ends by itself).
    cursor.whileExecuting = [&stop, &cursor, safe] {
      stop.request(SIGTERM);
      if (safe) {
        EXPECT_TRUE(support::waitFor([&cursor] { return cursor.cancels.load() > 0; },
                                     std::chrono::seconds(10)));
      }
    };
    RecordingReport report;
    std::string sql = "select n, name from t";
    const ExportResult result = ExportRun(job_, report, StopRequest::instance()).run(cursor, sql);
    EXPECT_EQ(result.outcome, RunOutcome::Stopped);
    EXPECT_EQ(cursor.cancels.load(), safe ? 1 : 0);
    EXPECT_EQ(cursor.described, -1);
    EXPECT_THAT(report.lines, ElementsAre("Stopped after 0 rows; no output file was written."));
    EXPECT_TRUE(stop.idle());
    EXPECT_TRUE(outputFiles().empty());
  }
  stop.reset();
}

// A fetch that fails because the run was asked to stop (the driver's own timeout, a cancel)
// ends as the request says, not as a failed statement.
TEST_F(ExportRunTest, AFetchThatFailsUnderAStopRequestEndsAsTheRequestSays) {
  StopRequest& stop = StopRequest::instance();
  struct Case {
    void (*ask)(StopRequest&);
    RunOutcome outcome;
    std::vector<std::string> last;
  } cases[] = {
      {[](StopRequest& s) { s.requestTimeout(30); },
       RunOutcome::StatementFailed,
       {"SQL statement failed.", "timed out after 30 s"}},
      {[](StopRequest& s) { s.requestCancel(); }, RunOutcome::Stopped, {"Cancelled after 4 rows"}},
  };
  for (const Case& c : cases) {
    stop.reset();
    FakeResultCursor cursor = FakeResultCursor::numbered(9);
    cursor.failFetchOf = 5;
    cursor.beforeFetch = [&](int row) {
      if (row == 5) c.ask(stop);
    };
    RecordingReport report;
    std::string sql = "select n, name from t";
    const ExportResult result = ExportRun(job_, report, StopRequest::instance()).run(cursor, sql);
    EXPECT_EQ(result.outcome, c.outcome);
    EXPECT_EQ(result.rows, 4);
    EXPECT_TRUE(result.messages.empty());
    ASSERT_GE(report.lines.size(), c.last.size());
    EXPECT_EQ(
        std::vector(report.lines.end() - static_cast<long>(c.last.size()), report.lines.end()),
        c.last);
    EXPECT_TRUE(outputFiles().empty());
  }
  stop.reset();
}

}  // namespace
}  // namespace rowpress
