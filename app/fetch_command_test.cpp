// The fetch command on its own: what it shows and passes on before and around the export
// step, which these tests replace.
#include "app/fetch_command.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/odbc_fixture.h"

namespace rowpress {
namespace {

using ::testing::ElementsAre;
using ::testing::StartsWith;

class FetchCommandTest : public support::OdbcTest {
 protected:
  // Runs the fetch with an export step that records what it was given.
  FetchResult run(const std::string& sql) {
    view_.appendLine(ControlId::StatusList, "a line of the last command");
    view_.setText(ControlId::SqlBox, sql);
    return runFetch(job_, view_, [this](const OdbcSession& session, std::string& working) {
      sessions_.push_back(session.statement() != SQL_NULL_HSTMT);
      given_ = working;
      working = "rewritten by the export";
      return RunOutcome::Exported;
    });
  }

  std::vector<bool> sessions_;  // one entry per call of the export step: had a statement
  std::string given_;
};

TEST_F(FetchCommandTest, TheExportGetsAnOpenSessionAndACopyOfTheSqlText) {
  job_.dataSource = "rowtest";
  const FetchResult result = run("select 1\r\nfrom people");
  EXPECT_EQ(result.outcome, RunOutcome::Exported);
  EXPECT_EQ(result.failureLine, "");
  EXPECT_THAT(sessions_, ElementsAre(true));
  EXPECT_EQ(given_, "select 1\r\nfrom people");
  // The status list starts afresh with the SQL text, its line break escaped; the box and the
  // job keep the text.
  EXPECT_THAT(view_.lines(ControlId::StatusList), ElementsAre("select 1\\r\\nfrom people"));
  EXPECT_EQ(view_.text(ControlId::SqlBox), "select 1\r\nfrom people");
  EXPECT_EQ(job_.sql, "select 1\r\nfrom people");
}

TEST_F(FetchCommandTest, AFailedConnectionIsALineAndAResultWithoutAnExport) {
  job_.dataSource = "no such source";
  const FetchResult result = run("select 1");
  EXPECT_EQ(result.outcome, RunOutcome::NoConnection);
  EXPECT_EQ(result.failureLine, "did not connect");
  EXPECT_THAT(result.connectDiagnostic, StartsWith("[IM002] "));
  EXPECT_TRUE(sessions_.empty());
  // The reason follows on a line of its own, as the unattended run logs it.
  EXPECT_THAT(view_.lines(ControlId::StatusList),
              ElementsAre("select 1", "did not connect", result.connectDiagnostic));
}

TEST_F(FetchCommandTest, ARefusedValueEndsTheFetchBeforeConnecting) {
  job_.dataSource = "rowtest";
  job_.outFileName = std::string(300, 'x');
  const FetchResult result = run("select 1");
  EXPECT_EQ(result.outcome, RunOutcome::OutputFile);
  EXPECT_EQ(result.failureLine, "The output file name is longer than 255 bytes and was refused.");
  EXPECT_TRUE(sessions_.empty());
  EXPECT_THAT(view_.lines(ControlId::StatusList), ElementsAre("select 1", result.failureLine));
}

}  // namespace
}  // namespace rowpress
