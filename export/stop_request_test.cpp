// Stopping an export run: between the parts of a long value, while a statement executes, in
// a failing fetch; the files of a run that cannot stop, the publication gate, and drivers that
// are never cancelled from another thread. (Whole runs stopped: run/run_job_export_test.cpp.)
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

TEST(StopRequest, RemovesTheFilesOfARunThatCannotAndNothingElse) {
  support::TempDir dir;
  StopRequest& stop = StopRequest::instance();
  EXPECT_TRUE(stop.idle());
  const std::string file = dir / ".report.csv.part";
  writeFile(file, "half");
  stop.addTemporary(file);
  EXPECT_FALSE(stop.idle());
  stop.removeTemporary(file);
  EXPECT_TRUE(stop.idle());
  EXPECT_TRUE(fileExists(file));  // the run's own business
  // A run stuck in the driver: its files are removed for it, through the run's descriptor of
  // their directory, which the run may close in the meantime.
  const int directory = ::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(directory, 0);
  stop.addTemporary(file, directory);
  ::close(directory);
  stop.removeTemporaries();
  EXPECT_FALSE(fileExists(file));
  EXPECT_TRUE(stop.idle());
  stop.removeTemporary(file);  // the run's later release changes nothing
  EXPECT_TRUE(stop.idle());

  // A reserved name goes only while it is the empty file that was reserved: a kept output
  // that has taken the name since stays.
  const std::string given = dir / "row0001.csv";
  const std::string taken = dir / "row0002.csv";
  for (const std::string& name : {given, taken}) {
    writeFile(name, "");
    struct stat st;
    ASSERT_EQ(::stat(name.c_str(), &st), 0);
    stop.addReservation(name, st.st_dev, st.st_ino);
  }
  writeFile(dir / "kept", "the kept output\r\n");
  std::filesystem::rename(dir / "kept", taken);
  stop.removeTemporaries();
  EXPECT_FALSE(fileExists(given));
  EXPECT_EQ(readFile(taken), "the kept output\r\n");
  EXPECT_TRUE(stop.idle());

  // A step that has created files it has not registered yet keeps the run from being idle.
  {
    StepBeforeRegistration step;
    EXPECT_FALSE(stop.idle());
  }
  EXPECT_TRUE(stop.idle());
  // The table has room for a fixed number of files; one more is refused before it exists.
  for (int i = 0; i < StopRequest::kRunFiles; ++i) stop.addTemporary(dir / std::to_string(i));
  EXPECT_THROW(stop.addTemporary(file), std::system_error);
  EXPECT_THROW(stop.addTemporary(std::string(PATH_MAX, 'x')), std::system_error);
  for (int i = 0; i < StopRequest::kRunFiles; ++i) stop.removeTemporary(dir / std::to_string(i));
  EXPECT_TRUE(stop.idle());
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
