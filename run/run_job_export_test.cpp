// Whole runs of a job on SQLite, from the job to the kept file: every output type byte for
// byte, default names, a failing or empty statement, the files that stop a run before its
// statement, the viewer, and a stop request or the window's Cancel in the middle of a run.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <thread>

#include "export/column_type_report.h"
#include "export/export_run.h"
#include "export/output_naming.h"
#include "export/stop_request.h"
#include "run/run_job.h"
#include "tests/support/export_run_fixture.h"
#include "tests/support/run_fixture.h"

namespace rowpress {
namespace {

using support::fileExists;
using support::readFile;
using support::writeFile;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;

using RunExportTest = WithPeople<support::RunTest>;

constexpr std::size_t kTagOffset = 1052;

TEST_F(RunExportTest, WorkbookHoldsTypedCellsAndTheRealCounts) {
  ASSERT_EQ(fetch("select id, name from people order by id desc").outcome, RunOutcome::Exported);
  std::string path = onlyOutput();
  EXPECT_THAT(path, ::testing::MatchesRegex(".*/row[0-9A-F]{4}\\.TMP\\.xls"));
  std::string file = readFile(path);
  ASSERT_GT(file.size(), kTagOffset);
  EXPECT_THAT(file.substr(0, 60), StartsWith("<?xml version=\"1.0\"?>\r\n"));
  // 1 in a numeric column is a Number; the NULL there has no number, so it is an empty String.
  EXPECT_EQ(file.substr(kTagOffset),
            "<Table ss:ExpandedColumnCount=\"2\" ss:ExpandedRowCount=\"3\" x:FullColumns=\"1\" "
            "x:FullRows=\"1\">      \r\n"
            "<Row>\r\n"
            "    <Cell><Data ss:Type=\"String\">id</Data></Cell>\r\n"
            "    <Cell><Data ss:Type=\"String\">name</Data></Cell>\r\n"
            "</Row>\r\n"
            "<Row>\r\n"
            "    <Cell><Data ss:Type=\"Number\">1</Data></Cell>\r\n"
            "    <Cell><Data ss:Type=\"String\">A&amp;B</Data></Cell>\r\n"
            "</Row>\r\n"
            "<Row>\r\n"
            "    <Cell><Data ss:Type=\"String\"></Data></Cell>\r\n"
            "    <Cell><Data ss:Type=\"String\"></Data></Cell>\r\n"
            "</Row>\r\n"
            "</Table>\r\n"
            "<WorksheetOptions xmlns=\"urn:schemas-microsoft-com:office:excel\">\r\n"
            "<Selected/>\r\n<Panes>\r\n<Pane>\r\n     <Number>3</Number>\r\n"
            "<ActiveRow>1</ActiveRow>\r\n<ActiveCol>1</ActiveCol>\r\n</Pane>\r\n</Panes>\r\n"
            "<ProtectObjects>False</ProtectObjects>\r\n"
            "<ProtectScenarios>False</ProtectScenarios>\r\n"
            " </WorksheetOptions>\r\n</Worksheet>\r\n</Workbook>\r\n");
  EXPECT_THAT(statusList(), ElementsAre("select id, name from people order by id desc",
                                        "id | name | ", "1 | A&B | ", " |  | "));
  EXPECT_TRUE(report_.messages.empty());
}

TEST_F(RunExportTest, DelimitedAndHtmlOutputsByteForByte) {
  execute("insert into people values (2, 'a,b\tc\r\nd\"<i>')");
  const std::string sql = "select id, name as \"x,y\" from people where id = 2";

  setOutputType(job_, OutputType::Csv);
  job_.outFileName = temp_ / "out.csv";
  ASSERT_EQ(fetch(sql).outcome, RunOutcome::Exported);
  EXPECT_EQ(readFile(job_.outFileName), "id,x;y,\r\n2,a;b\tc||d\"<i>,\r\n");

  setOutputType(job_, OutputType::Tsv);
  job_.outFileName = temp_ / "out.tsv";
  ASSERT_EQ(fetch(sql).outcome, RunOutcome::Exported);
  EXPECT_EQ(readFile(job_.outFileName), "id\tx,y\t\r\n2\ta,b;c||d\"<i>\t\r\n");

  setOutputType(job_, OutputType::Html);
  job_.outFileName = temp_ / "out.html";
  ASSERT_EQ(fetch(sql).outcome, RunOutcome::Exported);
  EXPECT_EQ(readFile(job_.outFileName),
            "<table border=\"1\">\r\n<tr>\r\n<th>id</th>\r\n<th>x,y</th>\r\n</tr>\r\n<tr>\r\n"
            "<td>2</td>\r\n<td>a,b\tc\r\r\nd&quot;&lt;i&gt;</td>\r\n</tr>\r\n</table>\r\n");
}

TEST_F(RunExportTest, DefaultNamesCarryTheTemporaryNameAndTheExtension) {
  struct Case {
    OutputType type;
    bool excel2007;
    const char* pattern;
  };
  for (const Case& c : {Case{OutputType::Xml, true, "row[0-9A-F]{4}\\.TMP\\.xml"},
                        Case{OutputType::Csv, false, "row[0-9A-F]{4}\\.TMP\\.csv"},
                        Case{OutputType::Tsv, false, "row[0-9A-F]{4}\\.TMP\\.csv"},
                        Case{OutputType::Html, false, "row[0-9A-F]{4}\\.TMP\\.html"},
                        Case{OutputType::Xlsx, true, "row[0-9A-F]{4}\\.TMP\\.xlsx"}}) {
    std::filesystem::remove_all(home());
    setOutputType(job_, c.type);
    job_.excel2007 = c.excel2007;
    ASSERT_EQ(fetch("select * from people").outcome, RunOutcome::Exported);
    auto files = outputFiles();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_THAT(files[0], ::testing::MatchesRegex(c.pattern));
  }
}

TEST_F(RunExportTest, Excel2007IgnoresTheNamedFileAndNamesItsOwn) {
  job_.excel2007 = true;
  job_.outFileName = temp_ / "named.xls";
  writeFile(job_.outFileName, "keep me");
  const ExportResult result = fetch("select * from people").export_;
  ASSERT_EQ(result.outcome, RunOutcome::Exported);
  EXPECT_EQ(readFile(job_.outFileName), "keep me");
  EXPECT_THAT(onlyOutput(), HasSubstr(".TMP.xml"));
  // Said, so that a job that waits for the named file learns where the file went.
  const std::string said = "the 2007 format ignores the output name: written to " + result.path;
  EXPECT_EQ(result.outputNameIgnored, said);
  EXPECT_THAT(statusList(), ::testing::Contains(said));
}

TEST_F(RunExportTest, NoRowsKeepsNoFileAndLeavesAnExistingOneAlone) {
  job_.outFileName = temp_ / "report";
  writeFile(job_.outFileName, "yesterday's report");
  ASSERT_EQ(fetch("select * from people where id > 100").outcome, RunOutcome::NoRows);
  EXPECT_EQ(readFile(job_.outFileName), "yesterday's report");
  ASSERT_EQ(report_.messages.size(), 1u);
  EXPECT_EQ(report_.messages[0].text, "No Results Found");
  EXPECT_EQ(report_.messages[0].caption, "SQL statement failed.");
  EXPECT_THAT(statusList(), ElementsAre("select * from people where id > 100", "id | name | "));
  EXPECT_THAT(support::listDirectory(temp_.path()),
              ::testing::Not(::testing::Contains(::testing::HasSubstr(".part"))));

  // Unattended, the message is not shown.
  report_.messages.clear();
  job_.silent = true;
  ASSERT_EQ(fetch("select * from people where id > 100").outcome, RunOutcome::NoRows);
  EXPECT_TRUE(report_.messages.empty());

  // A default name reserved for the run is given back, as after a failed statement.
  job_.outFileName.clear();
  ASSERT_EQ(fetch("select * from people where id > 100").outcome, RunOutcome::NoRows);
  ASSERT_EQ(fetch("select nonsense from nowhere").outcome, RunOutcome::StatementFailed);
  EXPECT_TRUE(outputFiles().empty());
}

TEST_F(RunExportTest, FailingStatementReportsItsDiagnosticAndKeepsTheOldFiles) {
  ASSERT_EQ(fetch("select * from people").outcome, RunOutcome::Exported);
  const std::string report = readFile(home() + "/lasttablecolumntypeinfo.csv");
  std::filesystem::remove(onlyOutput());
  job_.outFileName = temp_ / "old.xls";
  writeFile(job_.outFileName, "old");

  ASSERT_EQ(fetch("select nonsense from nowhere").outcome, RunOutcome::StatementFailed);
  auto lines = statusList();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "select nonsense from nowhere");
  EXPECT_EQ(lines[1], "SQL statement failed.");
  EXPECT_THAT(lines[2],
              ::testing::MatchesRegex("\\[HY000\\] .*no such table: nowhere.* \\(1\\)\n"));
  ASSERT_EQ(report_.messages.size(), 1u);
  EXPECT_EQ(report_.messages[0].text, lines[2]);
  EXPECT_EQ(report_.messages[0].caption, "SQL statement failed.");
  EXPECT_EQ(readFile(job_.outFileName), "old");
  EXPECT_EQ(readFile(home() + "/lasttablecolumntypeinfo.csv"), report);
  EXPECT_TRUE(outputFiles().empty());
}

TEST_F(RunExportTest, AnEmptyStatementFailsCleanlyAndABlankOneHasNoRows) {
  EXPECT_EQ(fetch("").outcome, RunOutcome::StatementFailed);
  auto lines = statusList();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "");
  EXPECT_EQ(lines[1], "SQL statement failed.");
  EXPECT_THAT(lines[2], ::testing::EndsWith("\n"));
  // The driver executes blanks and line breaks as nothing and answers SQL_NO_DATA.
  // The status list shows the line break escaped.
  for (auto [sql, shown] : {std::pair{"     ", "     "}, std::pair{"   \r\n  ", "   \\r\\n  "}}) {
    EXPECT_EQ(fetch(sql).outcome, RunOutcome::NoRows) << '"' << sql << '"';
    EXPECT_THAT(
        statusList(),
        ElementsAre(shown, ::testing::StartsWith("the statement returned no result set"), ""));
  }
  EXPECT_TRUE(outputFiles().empty());
}

TEST_F(RunExportTest, StatementWithoutResultColumnsEndsAsNoRows) {
  // The type report of the last query stays: such a statement has no columns to report.
  ::mkdir(home().c_str(), 0700);
  writeFile(home() + "/lasttablecolumntypeinfo.csv", "the last query's\r\n");
  EXPECT_EQ(fetch("update people set name = 'x' where id = 1").outcome, RunOutcome::NoRows);
  EXPECT_THAT(
      statusList(),
      ElementsAre(::testing::_, "the statement returned no result set (1 rows affected)", ""));
  // Touching no row, SQLExecDirect returns SQL_NO_DATA: no rows as well, not a failure.
  for (const char* none :
       {"update people set name = 'y' where id = 99", "delete from people where id = 99"}) {
    SCOPED_TRACE(none);
    EXPECT_EQ(fetch(none).outcome, RunOutcome::NoRows);
    EXPECT_THAT(statusList(),
                ElementsAre(none, "the statement returned no result set (0 rows affected)", ""));
    EXPECT_THAT(report_.messages.back().text, "No Results Found");
  }
  EXPECT_EQ(readFile(home() + "/lasttablecolumntypeinfo.csv"), "the last query's\r\n");
  EXPECT_TRUE(outputFiles().empty());
}

// A type report that cannot be replaced (the last one has a second name, or a directory has
// its name) stays as it was, though it no longer describes the last query: the status list
// says so, and the run goes on.
TEST_F(RunExportTest, ATypeReportThatCannotBeReplacedIsSaidAndTheRunGoesOn) {
  const std::string report = home() + "/lasttablecolumntypeinfo.csv";
  ::mkdir(home().c_str(), 0700);
  writeFile(report, "the last query's\r\n");
  ASSERT_EQ(::link(report.c_str(), (temp_ / "second-name.csv").c_str()), 0);
  setOutputType(job_, OutputType::Csv);
  job_.outFileName = temp_ / "p.csv";
  for (const char* reason :
       {"File has 2 hard links; replacing it would split them", "Is a directory"}) {
    SCOPED_TRACE(reason);
    ASSERT_EQ(fetch("select id from people where id = 1").outcome, RunOutcome::Exported);
    const std::string said = "unable to create: " + report + " (" + reason +
                             "); the column type report was not written.";
    EXPECT_EQ(lastExport().typeReportSkipped, said);
    EXPECT_THAT(statusList(), ElementsAre(::testing::_, said, "id | ", "1 | "));
    EXPECT_EQ(readFile(job_.outFileName), "id,\r\n1,\r\n");

    std::filesystem::remove(job_.outFileName);
    std::filesystem::remove(report);
    ::mkdir(report.c_str(), 0700);
  }
  EXPECT_EQ(readFile(temp_ / "second-name.csv"), "the last query's\r\n");
}

TEST_F(RunExportTest, SqlGoesToTheDriverAsWrittenWithItsLineBreaks) {
  setOutputType(job_, OutputType::Csv);
  job_.outFileName = temp_ / "p.csv";
  // A "--" comment ends at the end of its line: the next line is part of the statement.
  const std::string sql = "select id -- the key\r\nfrom people\r\nwhere id = 1";
  ASSERT_EQ(fetch(sql).outcome, RunOutcome::Exported);
  EXPECT_EQ(readFile(job_.outFileName), "id,\r\n1,\r\n");
  // The status list shows the text with its line breaks escaped, one entry.
  EXPECT_EQ(statusList()[0], "select id -- the key\\r\\nfrom people\\r\\nwhere id = 1");

  // The comment does not swallow the condition on the next line, with LF line ends too.
  ASSERT_EQ(fetch("select id, name from people -- every row\nwhere id is null").outcome,
            RunOutcome::Exported);
  EXPECT_EQ(readFile(job_.outFileName), "id,name,\r\n,,\r\n");
}

TEST_F(RunExportTest, StatusListShowsTheColumnLineAndElevenRows) {
  execute("create table n (v integer)");
  for (int i = 1; i <= 14; ++i) execute("insert into n values (" + std::to_string(i) + ")");
  setOutputType(job_, OutputType::Csv);
  ASSERT_EQ(fetch("select v from n order by v").outcome, RunOutcome::Exported);
  auto lines = statusList();
  ASSERT_EQ(lines.size(), 13u);
  EXPECT_EQ(lines[1], "v | ");
  EXPECT_EQ(lines[2], "1 | ");
  EXPECT_EQ(lines[12], "11 | ");
}

TEST_F(RunExportTest, MissingDataSourceReportsDidNotConnect) {
  job_.dataSource = "nosuchsource";
  RunResult result = fetch("select 1");
  EXPECT_EQ(result.outcome, RunOutcome::NoConnection);
  EXPECT_THAT(result.connectDiagnostic, HasSubstr("IM002"));
  EXPECT_THAT(statusList(), ElementsAre("select 1", "did not connect", result.connectDiagnostic));
  EXPECT_TRUE(report_.messages.empty());
  EXPECT_FALSE(fileExists(home()));
}

TEST_F(RunExportTest, OverLongCredentialsAreRefusedBeforeConnecting) {
  job_.password = std::string(128, 'p');
  EXPECT_EQ(fetch("select 1").outcome, RunOutcome::NoConnection);
  EXPECT_THAT(statusList(),
              ElementsAre("select 1", "The password is longer than 127 bytes and was refused."));
}

TEST_F(RunExportTest, AnOverLongApplicationRefusesOnlyARunThatLaunchesIt) {
  setOutputType(job_, OutputType::Csv);
  job_.outFileName = temp_ / "p.csv";
  job_.launchApplication = std::string(300, 'a');
  job_.noAutoOpen = true;
  EXPECT_EQ(fetch("select id from people where id = 1").outcome, RunOutcome::Exported);
  EXPECT_EQ(readFile(job_.outFileName), "id,\r\n1,\r\n");

  job_.noAutoOpen = false;
  EXPECT_EQ(fetch("insert into people values (9, 'must not run')").outcome, RunOutcome::OutputFile);
  EXPECT_THAT(statusList(),
              ElementsAre("insert into people values (9, 'must not run')",
                          "The application to launch is longer than 255 bytes and was refused."));
  job_.noAutoOpen = true;
  ASSERT_EQ(fetch("select count(*) from people where id = 9").outcome, RunOutcome::Exported);
  EXPECT_EQ(statusList().back(), "0 | ");
}

TEST_F(RunExportTest, UncreatableOutputFileStopsTheRunBeforeTheStatement) {
  for (OutputType type : {OutputType::Xml, OutputType::Csv, OutputType::Tsv, OutputType::Html}) {
    setOutputType(job_, type);
    report_.messages.clear();
    job_.outFileName = temp_ / "missing-dir/out";
    EXPECT_EQ(fetch("insert into people values (9, 'must not run')").outcome,
              RunOutcome::OutputFile);
    ASSERT_EQ(report_.messages.size(), 1u);
    EXPECT_EQ(report_.messages[0].text, "unable to create: " + job_.outFileName + " ");
    EXPECT_EQ(report_.messages[0].caption, "Unable to Open Output File");
    // The box gives the reason that the status list shows after the name.
    EXPECT_FALSE(report_.messages[0].reason.empty());
    EXPECT_EQ(statusList().back(),
              "unable to create: " + job_.outFileName + " (" + report_.messages[0].reason + ")");
  }
  job_.outFileName.clear();
  setOutputType(job_, OutputType::Csv);
  ASSERT_EQ(fetch("select count(*) from people where id = 9").outcome, RunOutcome::Exported);
  EXPECT_EQ(statusList().back(), "0 | ");
}

// With every default name taken, the run fails as one whose output file cannot be created,
// naming the directory, before the statement runs; no earlier file is touched.
TEST_F(RunExportTest, WhenEveryDefaultNameIsTakenNothingRuns) {
  ASSERT_TRUE(createDefaultDirectory(home()));
  for (unsigned n = 0; n < 0x10000u; ++n) {
    char name[32];
    std::snprintf(name, sizeof name, "row%04X.TMP.csv", n);
    int fd = ::open((home() + "/" + name).c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    ASSERT_GE(fd, 0) << name;
    if (n == 0x1234) {
      ASSERT_EQ(::write(fd, "kept", 4), 4);
    }
    ::close(fd);
  }
  setOutputType(job_, OutputType::Csv);
  EXPECT_EQ(fetch("insert into people values (9, 'must not run')").outcome, RunOutcome::OutputFile);
  ASSERT_EQ(report_.messages.size(), 1u);
  EXPECT_EQ(report_.messages[0].text, "unable to create: " + home() + " ");
  EXPECT_EQ(report_.messages[0].caption, "Unable to Open Output File");
  EXPECT_EQ(statusList().back(),
            "unable to create: " + home() + " (no free name is left in " + home() + ")");
  EXPECT_EQ(readFile(home() + "/row1234.TMP.csv"), "kept");
  EXPECT_EQ(outputFiles().size(), 0x10000u);

  job_.outFileName = temp_ / "named.csv";
  ASSERT_EQ(fetch("select count(*) from people where id = 9").outcome, RunOutcome::Exported);
  EXPECT_EQ(readFile(job_.outFileName), "count(*),\r\n0,\r\n");
}

TEST_F(RunExportTest, LaunchesTheApplicationWithThePathAsLastArgument) {
  setOutputType(job_, OutputType::Csv);
  job_.noAutoOpen = false;
  job_.launchApplication = "'/opt/record args' --first \"two words\"";
  job_.outFileName = temp_ / "with space.csv";
  ASSERT_EQ(fetch("select * from people").outcome, RunOutcome::Exported);
  using Command = std::vector<std::string>;
  EXPECT_THAT(launcher_.started,
              ElementsAre(Command{"/opt/record args", "--first", "two words", job_.outFileName}));
}

TEST_F(RunExportTest, NothingIsLaunchedWithoutRowsOrWithNoAutoOpen) {
  job_.launchApplication = "viewer";
  job_.noAutoOpen = false;
  setOutputType(job_, OutputType::Csv);
  ASSERT_EQ(fetch("select * from people where 0").outcome, RunOutcome::NoRows);
  job_.noAutoOpen = true;
  ASSERT_EQ(fetch("select * from people").outcome, RunOutcome::Exported);
  EXPECT_THAT(launcher_.started, ::testing::IsEmpty());
  // The same job with launching on does start it.
  job_.noAutoOpen = false;
  ASSERT_EQ(fetch("select * from people").outcome, RunOutcome::Exported);
  ASSERT_EQ(launcher_.started.size(), 1u);
  EXPECT_EQ(launcher_.started[0][0], "viewer");
}

// A viewer that the real launcher cannot start: the status list says so after the rows,
// and the run is an export all the same.
TEST_F(RunExportTest, AViewerThatCannotStartIsAStatusLine) {
  useLauncher(processLauncher());
  setOutputType(job_, OutputType::Csv);
  job_.noAutoOpen = false;
  job_.launchApplication = "'" + (temp_ / "no such viewer\x1b[2J") + "' --calc";
  job_.outFileName = temp_ / "p.csv";
  ASSERT_EQ(fetch("select * from people").outcome, RunOutcome::Exported);
  EXPECT_EQ(readFile(job_.outFileName), "id,name,\r\n1,A&B,\r\n,,\r\n");
  EXPECT_THAT(statusList(),
              ElementsAre("select * from people", "id | name | ", "1 | A&B | ", " |  | ",
                          "could not start " + temp_.path() +
                              "/no such viewer\\x1b[2J: No such file or directory"));
  EXPECT_EQ(lastExport().viewerFailure,
            "could not start " + (temp_ / "no such viewer\x1b[2J") + ": No such file or directory");
}

// A CSV run over an old report, of 100,000 rows, stopped in the middle.
class RunStopTest : public RunExportTest {
 protected:
  void SetUp() override {
    RunExportTest::SetUp();
    StopRequest::instance().reset();
    writeFile(target_, "the old report\r\n");
    setOutputType(job_, OutputType::Csv);
    job_.outFileName = target_;
  }
  // The run, with `onRowsDone` called at every row count.
  RunResult fetchStopped(std::function<void(long long)> onRowsDone) {
    report_.onRowsDone = std::move(onRowsDone);
    const RunResult result = fetch(
        "with recursive c(x) as (select 1 union all select x + 1 from c where x < 100000) "
        "select x from c");
    report_.onRowsDone = nullptr;
    return result;
  }
  // The old report is as it was and no temporary file of the run is left beside it.
  void expectOldReportKept() {
    EXPECT_EQ(readFile(target_), "the old report\r\n");
    for (const std::string& name : support::listDirectory(temp_.path())) {
      EXPECT_EQ(name.find(".report.csv"), std::string::npos) << name;
    }
  }

  StopRequest& stop_ = StopRequest::instance();
  const std::string target_ = temp_ / "report.csv";
};

TEST_F(RunStopTest, AStopRequestEndsTheRunAtTheNextRowAndKeepsTheOldFile) {
  const RunResult stopped = fetchStopped([this](long long rows) {
    if (rows == 2048) stop_.request(0);
  });
  EXPECT_EQ(stopped.outcome, RunOutcome::Stopped);
  EXPECT_EQ(lastExport().rows, 2048);
  EXPECT_EQ(statusList().back(), "Stopped after 2048 rows; no output file was written.");
  EXPECT_TRUE(report_.messages.empty());
  expectOldReportKept();
  // A request made before a run starts stops it before anything is created.
  job_.outFileName.clear();
  EXPECT_EQ(fetch("select * from people").outcome, RunOutcome::Stopped);
  EXPECT_THAT(outputFiles(), ::testing::IsEmpty());
  // Once forgotten, the next run goes through.
  stop_.reset();
  EXPECT_EQ(fetch("select * from people").outcome, RunOutcome::Exported);
}

TEST_F(RunStopTest, TheWindowsCancelSaysCancelledAndIsForgottenForTheNextRun) {
  const RunResult cancelled = fetchStopped([this](long long rows) {
    if (rows == 1024) stop_.requestCancel();
    // A signal after the Cancel changes nothing: the first request wins.
    if (rows == 2048) stop_.request(SIGTERM);
  });
  EXPECT_EQ(cancelled.outcome, RunOutcome::Stopped);
  EXPECT_TRUE(stop_.cancelled());
  EXPECT_EQ(stop_.signal(), 0);
  EXPECT_EQ(statusList().back(), "Cancelled after 1024 rows");
  expectOldReportKept();
  // A signal after a reset is a signal again, not a Cancel.
  stop_.reset();
  EXPECT_FALSE(stop_.cancelled());
  stop_.request(SIGTERM);
  EXPECT_FALSE(stop_.cancelled());
  EXPECT_EQ(fetch("select * from people").outcome, RunOutcome::Stopped);
  EXPECT_EQ(statusList().back(), "Stopped after 0 rows; no output file was written.");
  stop_.reset();
  EXPECT_EQ(fetch("select * from people").outcome, RunOutcome::Exported);
}

}  // namespace
}  // namespace rowpress
