// The run of a job on its own: what it reports before and around the export, and that the job
// it is given is all it reads.
#include "run/run_job.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <ctime>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/run_fixture.h"

namespace rowpress {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::StartsWith;

class RunJobTest : public support::RunTest {
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
  const RunResult refused = run(copyOf(job));
  EXPECT_EQ(refused.outcome, RunOutcome::JobUnreadable);
  EXPECT_FALSE(refused.exported);
  EXPECT_THAT(refused.failureLine, ::testing::HasSubstr("region"));
  // A value that makes the name longer than a name may be is the job's fault too.
  job.parameters = {{"region", std::string(255, 'r')}};
  const RunResult tooLong = run(std::move(job));
  EXPECT_EQ(tooLong.outcome, RunOutcome::JobUnreadable);
  EXPECT_EQ(tooLong.failureLine, "The output file name is longer than 255 bytes and was refused.");
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

// A report job of three sheets on the fixture's people table: the second has no rows.
JobSettings reportOn(std::vector<JobSheet> sheets) {
  JobSettings job;
  job.dataSource = "rowtest";
  job.noAutoOpen = true;
  job.sql = sheets.front().sql;
  job.sheets = std::move(sheets);
  return job;
}

class ReportRunTest : public RunJobTest {
 protected:
  void SetUp() override {
    RunJobTest::SetUp();
    execute(
        "create table people(id integer, name text, born date);"
        "insert into people values (1, 'Ann', '1990-05-01'), (2, 'Bo', '2001-02-03'),"
        " (3, 'Cy', '2001-12-24')");
  }
  support::TempDir out_;
};

TEST_F(ReportRunTest, EverySheetIsWrittenAndACsvReportHasAFileForEachSheet) {
  JobSettings job = reportOn({{"All", "select id, name from people order by id"},
                              {"None", "select name from people where id > 9"},
                              {"Born", "select name from people where born >= :from"}});
  job.parameters = {{"from", "2001-01-01"}};
  job.outputCsv = true;
  job.outFileName = out_ / "people.csv";
  const RunResult result = run(std::move(job));
  ASSERT_EQ(result.outcome, RunOutcome::Exported) << ::testing::PrintToString(report_.lines);
  EXPECT_EQ(result.export_.sheets, 3);
  EXPECT_EQ(result.export_.rows, 5);
  EXPECT_THAT(result.export_.paths, ElementsAre(out_ / "people-All.csv", out_ / "people-None.csv",
                                                out_ / "people-Born.csv"));
  EXPECT_EQ(support::readFile(out_ / "people-All.csv"),
            support::withCrLf("id,name,\n1,Ann,\n2,Bo,\n3,Cy,\n"));
  // An empty sheet keeps its header row.
  EXPECT_EQ(support::readFile(out_ / "people-None.csv"), support::withCrLf("name,\n"));
  EXPECT_EQ(support::readFile(out_ / "people-Born.csv"), support::withCrLf("name,\nBo,\nCy,\n"));
  // The status list names each sheet before its text, which shows the markers.
  EXPECT_THAT(report_.lines,
              ::testing::IsSupersetOf({"Sheet \"All\"", "Sheet \"Born\"",
                                       "select name from people where born >= :from"}));
  // One type report holds a block for each sheet.
  const std::string types = support::readFile(home() + "/lasttablecolumntypeinfo.csv");
  EXPECT_THAT(types, HasSubstr("\r\nSheet,All\r\n1,id,"));
  EXPECT_THAT(types, HasSubstr("\r\nSheet,None\r\n1,name,"));
  EXPECT_THAT(types, HasSubstr("\r\nSheet,Born\r\n1,name,"));

  // A sheet's file whose path is too long is the file named.
  JobSettings longer = reportOn({{"All", "select id from people"}});
  longer.outputCsv = true;
  longer.outFileName = out_ / (std::string(249 - out_.path().size(), 'p') + ".csv");
  const std::string sheetFile = sheetFileName(longer.outFileName, "All");
  const RunResult refused = run(std::move(longer));
  EXPECT_EQ(refused.outcome, RunOutcome::OutputFile);
  EXPECT_EQ(refused.export_.outputFailure,
            "unable to create: " + sheetFile +
                " (The output path is longer than 255 bytes and was refused.)");
}

TEST_F(ReportRunTest, ACsvReportWithoutANameReservesOneNumberForEverySheet) {
  JobSettings job =
      reportOn({{"One", "select id from people"}, {"Two", "select name from people"}});
  job.outputTsv = true;
  const RunResult result = run(std::move(job));
  ASSERT_EQ(result.outcome, RunOutcome::Exported);
  ASSERT_EQ(result.export_.paths.size(), 2u);
  const std::string first = result.export_.paths[0];
  EXPECT_THAT(first, ::testing::MatchesRegex(".*/row[0-9A-F]{4}\\.TMP-One\\.csv"));
  EXPECT_EQ(result.export_.paths[1], first.substr(0, first.size() - 8) + "-Two.csv");
  const std::string number = first.substr(first.rfind('/') + 1, 11);
  EXPECT_THAT(outputFiles(), ElementsAre(number + "-One.csv", number + "-Two.csv"));

  // Forty sheets hold eighty files of the run at once, every one known to the stop request.
  std::vector<JobSheet> many;
  for (int i = 1; i <= 40; ++i) many.push_back({"S" + std::to_string(i), "select id from people"});
  JobSettings large = reportOn(std::move(many));
  large.outputCsv = true;
  const RunResult forty = run(std::move(large));
  EXPECT_EQ(forty.outcome, RunOutcome::Exported) << forty.export_.outputFailure;
  EXPECT_EQ(forty.export_.paths.size(), 40u);
}

TEST_F(ReportRunTest, AFailingSheetPublishesNothingAndKeepsEveryEarlierFile) {
  support::writeFile(out_ / "people-All.csv", "old all");
  support::writeFile(out_ / "book.xls", "old book");
  for (const OutputType type : {OutputType::Csv, OutputType::Xml}) {
    SCOPED_TRACE(static_cast<int>(type));
    JobSettings job = reportOn({{"All", "select id, name from people"},
                                {"Broken", "select nothing from nowhere"},
                                {"Never", "insert into people values (4, 'Di', null)"}});
    setOutputType(job, type);
    job.outFileName = out_ / (type == OutputType::Csv ? "people.csv" : "book.xls");
    const RunResult result = run(std::move(job));
    EXPECT_EQ(result.outcome, RunOutcome::StatementFailed);
    EXPECT_FALSE(result.export_.kept);
  }
  EXPECT_EQ(support::readFile(out_ / "people-All.csv"), "old all");
  EXPECT_EQ(support::readFile(out_ / "book.xls"), "old book");
  EXPECT_THAT(support::listDirectory(out_.path()), ElementsAre("book.xls", "people-All.csv"));
}

TEST_F(ReportRunTest, EmptySheetsEverywhereAreNoRowsAndASheetWithoutAResultFails) {
  JobSettings empty = reportOn(
      {{"A", "select id from people where id > 9"}, {"B", "select name from people where id < 0"}});
  empty.outFileName = out_ / "empty.xls";
  EXPECT_EQ(run(std::move(empty)).outcome, RunOutcome::NoRows);

  JobSettings update = reportOn(
      {{"A", "select id from people"}, {"B", "update people set name = name where id > 9"}});
  update.outFileName = out_ / "update.xls";
  const RunResult result = run(std::move(update));
  EXPECT_EQ(result.outcome, RunOutcome::StatementFailed);
  ASSERT_FALSE(result.export_.messages.empty());
  EXPECT_THAT(result.export_.messages.back().text, HasSubstr("\"B\" has no result set"));
  EXPECT_THAT(support::listDirectory(out_.path()), IsEmpty());
}

TEST_F(ReportRunTest, MarkersAndValuesThatDoNotFitRefuseTheJobBeforeAnythingRuns) {
  const struct {
    std::vector<JobParameter> parameters;
    const char* second;
    const char* named;
  } cases[] = {
      {{}, "select name from people where id = :id", ":id"},
      {{{"id", "1"}, {"spare", "x"}}, "select name from people where id = :id", "spare"},
      {{{"id", "1"}}, "select name from people where id = :id or id = ?", "?"},
  };
  for (const auto& each : cases) {
    SCOPED_TRACE(each.second);
    JobSettings job = reportOn(
        {{"Insert", "insert into people values (9, 'Zed', null)"}, {"Select", each.second}});
    job.parameters = each.parameters;
    job.outFileName = out_ / "refused.xls";
    const RunResult result = run(std::move(job));
    EXPECT_EQ(result.outcome, RunOutcome::JobUnreadable);
    EXPECT_THAT(result.failureLine, HasSubstr(each.named));
    EXPECT_FALSE(result.exported);
  }
  // A value is bound, never read as SQL: the quote selects nothing and nothing was inserted.
  JobSettings job = jobOn("rowtest", "select count(*) from people where name = :name");
  job.parameters = {{"name", "x' or '1'='1"}};
  job.outputCsv = true;
  job.outFileName = out_ / "count.csv";
  ASSERT_EQ(run(std::move(job)).outcome, RunOutcome::Exported);
  EXPECT_EQ(support::readFile(out_ / "count.csv"), support::withCrLf("count(*),\n0,\n"));
}

}  // namespace
}  // namespace rowpress
