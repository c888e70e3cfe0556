// Start-up on the in-memory window, and the unattended run of the real executable.
#include "app/startup.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <regex>

#include "settings/password_scramble.h"
#include "tests/support/child_process.h"
#include "tests/support/odbc_fixture.h"
#include "tests/support/output_boxes.h"
#include "tests/support/started_processes.h"

namespace rowpress {
namespace {

using testing::fileExists;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;
using testing::outputState;
using testing::readFile;
using ::testing::StartsWith;
using testing::writeFile;

// A settings file as a person would write it: only value lines, LF line ends.
std::string settings(const std::vector<std::string>& lines) {
  std::string text = "-- hand-written job\n";
  for (const auto& line : lines) text += line + "\n";
  return text;
}

class StartupTest : public testing::OdbcTest {
 protected:
  void start(std::vector<std::string> args) {
    args.insert(args.begin(), "rowpress");
    applyDefaults(job_, view_);
    // As the executable starts: the credentials from outside first.
    const CommandLine line = parseCommandLine(args);
    problems_ = applyCommandLine(line, job_, view_, takeOutsideCredentials(line.passwordFile));
  }

  // Runs the executable with `args` in the fixture's ODBC world and without a display; what
  // it printed stays in run_.
  int runRowpress(const std::vector<std::string>& args) {
    run_ = testing::runRowpress(temp_.path(), args);
    return run_.exitStatus;
  }

  std::vector<std::string> problems_;
  testing::ChildResult run_;
};

TEST_F(StartupTest, WithoutArgumentsTheJobIsTheDefault) {
  start({});
  EXPECT_EQ(outputState(view_, job_), "XML/");
  EXPECT_TRUE(view_.isChecked(ControlId::LaunchOnFinish));
  EXPECT_FALSE(view_.isChecked(ControlId::Excel2007) ||
               view_.isChecked(ControlId::ForceFullLength));
  EXPECT_EQ(view_.text(ControlId::OutFileName), "");
  EXPECT_EQ(view_.text(ControlId::LaunchApplication), "");
  EXPECT_FALSE(job_.noAutoOpen || job_.silent || job_.outputCsv);
  EXPECT_TRUE(problems_.empty());
}

TEST_F(StartupTest, ASwitchBeatsASettingsFileWhereverItStands) {
  writeFile(temp_ / "a.DIRU",
            settings({"OutFileName=\"from-file.xls\";", "LaunchApplication=\"file-app\";"}));
  start({"-outfile=from-switch.xls", "-file=" + (temp_ / "a.DIRU")});
  EXPECT_EQ(job_.outFileName, "from-switch.xls");
  EXPECT_EQ(view_.text(ControlId::OutFileName), "from-switch.xls");
  EXPECT_EQ(job_.launchApplication, "file-app");

  start({"-file=" + (temp_ / "a.DIRU"), "-outfile="});
  EXPECT_EQ(job_.outFileName, "");
  EXPECT_EQ(view_.text(ControlId::OutFileName), "");

  writeFile(temp_ / "t.DIRU", settings({"Timeout=\"30\";"}));
  start({"-file=" + (temp_ / "t.DIRU")});
  EXPECT_EQ(job_.timeoutSeconds, 30);
  start({"-timeout=0", "-file=" + (temp_ / "t.DIRU")});
  EXPECT_EQ(job_.timeoutSeconds, 0);
  EXPECT_TRUE(problems_.empty());
}

TEST_F(StartupTest, ATimeoutThatIsNotAWholeNumberOfSecondsIsAProblem) {
  for (const char* value : {"", "1.5", "-1", "+3", " 3", "3s", "1000000000"}) {
    SCOPED_TRACE(value);
    start({"-timeout=" + std::string(value)});
    EXPECT_EQ(problems_,
              std::vector<std::string>{"-timeout=" + std::string(value) + ": " + kTimeoutRefused});
  }
  start({"-timeout=999999999"});
  EXPECT_EQ(job_.timeoutSeconds, 999999999);
  EXPECT_TRUE(problems_.empty());
}

TEST_F(StartupTest, SettingsFilesAreReadInOrder) {
  writeFile(temp_ / "one.DIRU",
            settings({"Database=\"first\";", "UserName=\"alice\";", "CSV=\"1\";"}));
  writeFile(temp_ / "two.DIRU", settings({"Database=\"second\";"}));
  start({"-file=" + (temp_ / "one.DIRU"), "-file=" + (temp_ / "two.DIRU")});
  EXPECT_EQ(job_.dataSource, "second");
  EXPECT_EQ(job_.userName, "alice");
  // Loading the second file reset the output type; it names none, so XML it is.
  EXPECT_EQ(outputState(view_, job_), "XML/");
  EXPECT_EQ(job_.settingsFile, temp_ / "two.DIRU");
}

TEST_F(StartupTest, OutputFlagAndLaunchFromAFile) {
  writeFile(temp_ / "csv.DIRU", settings({"CSV=\"1\";", "DoLaunchApplication=\"1\";"}));
  start({"-file=" + (temp_ / "csv.DIRU")});
  EXPECT_EQ(outputState(view_, job_), "CSV/c");
  EXPECT_TRUE(view_.isChecked(ControlId::LaunchOnFinish));
  start({"-noautoopen", "-file=" + (temp_ / "csv.DIRU")});
  EXPECT_FALSE(view_.isChecked(ControlId::LaunchOnFinish));
  EXPECT_TRUE(job_.noAutoOpen);
}

TEST_F(StartupTest, AMissingSettingsFileIsNamed) {
  start({"-file=" + (temp_ / "missing.DIRU")});
  ASSERT_EQ(problems_.size(), 1u);
  EXPECT_THAT(problems_[0], HasSubstr("missing.DIRU"));
}

TEST_F(StartupTest, EveryProblemOfEverySettingsFileNamesItsFileAndField) {
  writeFile(temp_ / "one.DIRU", settings({"Database=\"first\";", "SQL=\"select 1\";"}));
  writeFile(temp_ / "two.DIRU",
            settings({"SQL=\"" + std::string(40000, 's') + "\";",
                      "Database=\"t" + std::string(1, '\0') + "zzz\";", "OutFileName=\"o.xls\";"}));
  start({"-file=" + (temp_ / "one.DIRU"), "-file=" + (temp_ / "two.DIRU"), "-file=/dev/null"});
  EXPECT_EQ(problems_,
            (std::vector<std::string>{
                temp_ / "two.DIRU: The SQL text is longer than 32767 bytes and was refused.",
                temp_ / "two.DIRU: The data source name holds a NUL byte and was refused.",
                "/dev/null: The settings file could not be read: not a regular file.",
            }));
  // The rest of the files was read; an unattended run does not go on with it.
  EXPECT_EQ(job_.sql, "select 1");
  EXPECT_EQ(job_.outFileName, "o.xls");
}

TEST_F(StartupTest, CredentialsFromTheEnvironmentBeatTheFileAndLeaveTheEnvironment) {
  testing::SavedVariable user(kUserVariable), password(kPasswordVariable);
  writeFile(temp_ / "a.DIRU", settings({"UserName=\"file-user\";",
                                        "Password=\"" + *scramblePassword("file-pass") + "\";"}));
  ::setenv(kUserVariable, "env-user", 1);
  ::setenv(kPasswordVariable, "env pass", 1);
  start({"-file=" + (temp_ / "a.DIRU")});
  EXPECT_EQ(job_.userName, "env-user");
  EXPECT_EQ(job_.password, "env pass");
  // The window shows them in its boxes, where the user may still change them.
  EXPECT_EQ(view_.text(ControlId::UserName), "env-user");
  EXPECT_EQ(view_.text(ControlId::Password), "env pass");
  EXPECT_THAT(problems_, IsEmpty());
  // No program started later inherits them.
  EXPECT_EQ(std::getenv(kUserVariable), nullptr);
  EXPECT_EQ(std::getenv(kPasswordVariable), nullptr);

  // Set but empty counts as unset: the file's values stand; the variables go all the same.
  ::setenv(kUserVariable, "", 1);
  ::setenv(kPasswordVariable, "", 1);
  start({"-file=" + (temp_ / "a.DIRU")});
  EXPECT_EQ(job_.userName, "file-user");
  EXPECT_EQ(job_.password, "file-pass");
  EXPECT_EQ(std::getenv(kUserVariable), nullptr);
  EXPECT_EQ(std::getenv(kPasswordVariable), nullptr);
}

TEST_F(StartupTest, ThePasswordFileBeatsTheEnvironmentAndOnlyItsOwnerMayReadIt) {
  testing::SavedVariable user(kUserVariable), password(kPasswordVariable);
  const std::string file = temp_ / "pw";
  // The first line, without its line end, whatever follows; a link to a private file is
  // followed.
  const std::string link = temp_ / "pw-link";
  ASSERT_EQ(::symlink(file.c_str(), link.c_str()), 0);
  const struct {
    std::string text;
    std::string path;
    std::string password;
  } read[] = {
      {"from file\r\nsecond line\n", file, "from file"},
      {" lf only \n\n", file, " lf only "},
      {"no line end", link, "no line end"},
      {"ends in CR\r", file, "ends in CR\r"},
      {"\n", file, ""},
  };
  for (const auto& c : read) {
    SCOPED_TRACE(c.text);
    writeFile(file, c.text);
    ASSERT_EQ(::chmod(file.c_str(), 0600), 0);
    ::setenv(kUserVariable, "env-user", 1);
    ::setenv(kPasswordVariable, "env pass", 1);
    start({"-passwordfile=" + c.path});
    EXPECT_THAT(problems_, IsEmpty());
    EXPECT_EQ(job_.password, c.password);
    EXPECT_EQ(view_.text(ControlId::Password), c.password);
    EXPECT_EQ(job_.userName, "env-user");
    EXPECT_EQ(std::getenv(kPasswordVariable), nullptr);
  }

  // Refused, naming the file and why, never the password; nor does the run take the
  // password of the environment instead.
  const std::string secret = "top secret";
  const std::string fifo = temp_ / "fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const struct {
    std::string path;
    mode_t mode;
    std::string problem;
  } refused[] = {
      {file, 0640,
       file + ": The password file gives group or others access (mode 0640); only "
              "its owner may read it (chmod 600)."},
      {file, 0604,
       file + ": The password file gives group or others access (mode 0604); only "
              "its owner may read it (chmod 600)."},
      {file, 0620,
       file + ": The password file gives group or others access (mode 0620); only "
              "its owner may read it (chmod 600)."},
      {link, 0644,
       link + ": The password file gives group or others access (mode 0644); only "
              "its owner may read it (chmod 600)."},
      // Without waiting for a writer.
      {fifo, 0600, fifo + ": The password file is not a regular file."},
      {temp_.path(), 0700, temp_.path() + ": The password file is not a regular file."},
      {temp_ / "missing", 0600,
       temp_ / "missing: The password file could not be read: No such file or directory."},
      {"", 0600, "-passwordfile= names no file; no password was read."},
  };
  for (const auto& c : refused) {
    SCOPED_TRACE(c.problem);
    writeFile(file, secret + "\n");
    ASSERT_EQ(::chmod(file.c_str(), c.mode), 0);
    job_.password.clear();
    ::setenv(kPasswordVariable, "env pass", 1);
    start({"-passwordfile=" + c.path});
    EXPECT_EQ(problems_, std::vector<std::string>{c.problem});
    EXPECT_EQ(job_.password, "");
    EXPECT_EQ(std::getenv(kPasswordVariable), nullptr);
  }
  // A password over the limit of the job record is refused, not cut.
  writeFile(file, std::string(128, 'p') + "\n");
  ASSERT_EQ(::chmod(file.c_str(), 0600), 0);
  start({"-passwordfile=" + file});
  EXPECT_EQ(problems_, std::vector<std::string>{
                           file + ": The password is longer than 127 bytes and was refused."});
  writeFile(file, std::string(127, 'p') + "\r\n");
  start({"-passwordfile=" + file});
  EXPECT_THAT(problems_, IsEmpty());
  EXPECT_EQ(job_.password, std::string(127, 'p'));
}

class UnattendedTest : public StartupTest {
 protected:
  void SetUp() override {
    StartupTest::SetUp();
    execute("create table city (name varchar(40), people integer)");
    execute("insert into city values ('Zürich', 421878)");
    execute("insert into city values ('Genève, GE', 203856)");
    job_file_ = temp_ / "job.DIRU";
  }
  void writeJob(const std::string& sql, const std::string& more = "") {
    writeFile(job_file_, settings({"Database=\"rowtest\";", "SQL=\"" + sql + "\";", more}));
  }
  std::string job_file_;
};

TEST_F(UnattendedTest, ACompleteJobWritesItsFileAndOpensNothing) {
  writeJob("select name, people from city order by people", "CSV=\"1\";");
  const std::string out = temp_ / "cities.csv";
  // Whatever the run starts, even detached, is left to this process once the run ended.
  testing::StartedProcesses started;
  ASSERT_TRUE(started.active());
  // -openwith= names a program that the run would start to open its file.
  EXPECT_EQ(runRowpress({"-noautoopen", "-openwith=touch " + (temp_ / "opened"), "-silent",
                         "-file=" + job_file_, "-outfile=" + out}),
            0);
  EXPECT_EQ(readFile(out), "name,people,\r\nGenève; GE,203856,\r\nZürich,421878,\r\n");
  EXPECT_EQ(run_.out, out + "\n");
  // Standard error is a file here: no progress line, only the summary.
  EXPECT_EQ(testing::withoutSummary(run_.err), "");
  EXPECT_THAT(run_.err, StartsWith("rowpress: 2 rows to " + out + " in "));
  EXPECT_THAT(started.collect(), IsEmpty());
  EXPECT_FALSE(fileExists(temp_ / "opened"));
}

TEST_F(UnattendedTest, AJobThatOpensItsFileLeavesItsViewerRunningOnItsOwn) {
  // What the test above looks for is there when the run opens its file: one viewer, which
  // the run did not wait for.
  writeJob("select name, people from city order by people", "CSV=\"1\";");
  testing::StartedProcesses started;
  ASSERT_TRUE(started.active());
  EXPECT_EQ(runRowpress({"-openwith=touch " + (temp_ / "opened"), "-silent", "-file=" + job_file_,
                         "-outfile=" + (temp_ / "cities.csv")}),
            0);
  EXPECT_EQ(started.collect().size(), 1u);
}

TEST_F(UnattendedTest, ExitStatusTellsTheOutcome) {
  writeJob("select * from city where people < 0");
  EXPECT_EQ(runRowpress({"-silent", "-noautoopen", "-file=" + job_file_}), 1);
  EXPECT_THAT(run_.err, HasSubstr("no rows"));
  // An UPDATE that touches no row has no rows either.
  writeJob("update city set people = 0 where name = 'Atlantis'");
  EXPECT_EQ(runRowpress({"-silent", "-noautoopen", "-file=" + job_file_}), 1);
  EXPECT_EQ(testing::withoutSummary(run_.err),
            "rowpress: the query returned no rows; no file was written\n");
  EXPECT_THAT(run_.err, HasSubstr("\nrowpress: 0 rows in "));

  // A job without SQL: the empty statement fails and the message reaches the log.
  writeFile(job_file_, settings({"Database=\"rowtest\";"}));
  EXPECT_EQ(runRowpress({"-silent", "-noautoopen", "-file=" + job_file_}), 3);
  EXPECT_THAT(run_.err, HasSubstr("SQL statement failed.: [HY"));

  // A settings file that does not exist: the job is not the one written, and nothing runs.
  EXPECT_EQ(runRowpress({"-silent", "-noautoopen", "-file=" + job_file_, "-timeout=soon"}), 6);
  EXPECT_EQ(run_.err,
            "rowpress: -timeout=soon: The timeout is not a whole number of seconds and was "
            "refused.\nrowpress: the job could not be read; nothing was run\n");
  EXPECT_EQ(runRowpress({"-silent", "-file=" + (temp_ / "nope.DIRU")}), 6);
  EXPECT_EQ(run_.err, "rowpress: " + (temp_ / "nope.DIRU") +
                          ": The settings file could not be read: No such file or directory.\n"
                          "rowpress: the job could not be read; nothing was run\n");

  writeJob("select * from city");
  EXPECT_EQ(runRowpress({"-silent", "-noautoopen", "-file=" + job_file_,
                         "-outfile=" + (temp_ / "no-such-dir/x.xls")}),
            4);
  EXPECT_THAT(run_.err, HasSubstr("Unable to Open Output File: unable to create"));
  EXPECT_THAT(run_.err, HasSubstr("x.xls (No such file or directory)"));

  writeJob(
      "with recursive c(x) as (select 1 union all select x + 1 from c where x < 70000) "
      "select x from c");
  EXPECT_EQ(runRowpress({"-silent", "-noautoopen", "-file=" + job_file_,
                         "-outfile=" + (temp_ / "big.xls")}),
            5);
  EXPECT_THAT(run_.err, HasSubstr("TOO BIG: Row Count Larger than 65534"));
  EXPECT_TRUE(fileExists(temp_ / "big.xls"));
  EXPECT_EQ(run_.out, temp_ / "big.xls\n");

  // More columns than a run can hold: refused before anything is written, so no path.
  std::string wide = "select 1 as c1";
  for (int i = 2; i <= 257; ++i) wide += ", " + std::to_string(i) + " as c" + std::to_string(i);
  writeJob(wide, "CSV=\"1\";");
  EXPECT_EQ(runRowpress({"-silent", "-noautoopen", "-file=" + job_file_,
                         "-outfile=" + (temp_ / "wide.csv")}),
            5);
  EXPECT_THAT(run_.err, HasSubstr("Column Count Greater than 256"));
  EXPECT_EQ(run_.out, "");
  EXPECT_FALSE(fileExists(temp_ / "wide.csv"));
}

TEST_F(UnattendedTest, TheSummarySaysWhatFailedAndQuietLeavesOutOnlyTheSummary) {
  writeJob("select * from city");
  const std::vector<std::string> args = {"-silent", "-noautoopen", "-file=" + job_file_,
                                         "-outfile=" + (temp_ / "no-such-dir/x.xls")};
  EXPECT_EQ(runRowpress(args), 4);
  const std::string failure = testing::withoutSummary(run_.err);
  EXPECT_THAT(failure, HasSubstr("unable to create"));
  EXPECT_THAT(run_.err, HasSubstr("\nrowpress: the output file could not be written after "));

  std::vector<std::string> quiet = args;
  quiet.push_back("-quiet");
  EXPECT_EQ(runRowpress(quiet), 4);
  EXPECT_EQ(run_.err, failure);

  writeJob("select name from city", "CSV=\"1\";");
  EXPECT_EQ(runRowpress({"-silent", "-quiet", "-noautoopen", "-file=" + job_file_,
                         "-outfile=" + (temp_ / "c.csv")}),
            0);
  EXPECT_EQ(run_.out, temp_ / "c.csv\n");
  EXPECT_EQ(run_.err, "");
}

// With standard error on a terminal, a line there shows the rows, the rate and the time
// while the run goes on, and is erased before the summary.
TEST_F(UnattendedTest, AProgressLineShowsOnATerminalAndIsErasedAtTheEnd) {
  writeJob(
      "with recursive c(x) as (select 1 union all select x + 1 from c where x < 2000000) "
      "select x from c",
      "CSV=\"1\";");
  // Runs the command with its standard error on a pseudo-terminal and prints what the
  // terminal received.
  writeFile(temp_ / "on_terminal.py",
            "import os, pty, subprocess, sys\n"
            "master, slave = pty.openpty()\n"
            "child = subprocess.Popen(sys.argv[1:], stdin=subprocess.DEVNULL,\n"
            "                         stdout=subprocess.DEVNULL, stderr=slave)\n"
            "os.close(slave)\n"
            "seen = b''\n"
            "while True:\n"
            "    try:\n"
            "        chunk = os.read(master, 65536)\n"
            "    except OSError:\n"
            "        break\n"
            "    if not chunk:\n"
            "        break\n"
            "    seen += chunk\n"
            "sys.stdout.buffer.write(seen)\n"
            "sys.exit(child.wait())\n");
  const std::string out = temp_ / "many.csv";
  const testing::ChildResult run = testing::runScript(
      temp_.path(), "exec /usr/bin/python3 " + testing::shellQuote(temp_ / "on_terminal.py") +
                        " \"$ROWPRESS\" -silent -noautoopen " +
                        testing::shellQuote("-file=" + job_file_) + " " +
                        testing::shellQuote("-outfile=" + out));
  ASSERT_EQ(run.exitStatus, 0) << run.err;
  // The terminal turns each line end into CR LF.
  const std::regex shown(
      "(\r[0-9]+ rows, [0-9]+ rows/s, [0-9]+\\.[0-9] s\x1b\\[K)+\r\x1b\\[K"
      "rowpress: 2000000 rows to [^\r\n]* in [0-9]+\\.[0-9] s\r\n");
  EXPECT_TRUE(std::regex_match(run.out, shown)) << run.out;
}

TEST(SummaryLine, SaysWhatWasDoneOrWhatFailed) {
  using std::chrono::milliseconds;
  ExportResult kept;
  kept.rows = 7500;
  kept.path = "/srv/orders.xls";
  kept.kept = true;
  auto line = [](RunOutcome outcome, const ExportResult& exported, int signal = 0) {
    return summaryLine(FetchResult{outcome, "", ""}, exported, signal, milliseconds(1249));
  };
  EXPECT_EQ(line(RunOutcome::Exported, kept), "rowpress: 7500 rows to /srv/orders.xls in 1.2 s");
  EXPECT_EQ(line(RunOutcome::Limit, kept),
            "rowpress: 7500 rows to /srv/orders.xls in 1.2 s (stopped at a workbook limit)");
  EXPECT_EQ(line(RunOutcome::Limit, ExportResult{}),
            "rowpress: the result is too large for a workbook after 1.2 s");
  EXPECT_EQ(line(RunOutcome::NoRows, ExportResult{}), "rowpress: 0 rows in 1.2 s");
  EXPECT_EQ(line(RunOutcome::NoConnection, ExportResult{}),
            "rowpress: could not connect after 1.2 s");
  EXPECT_EQ(line(RunOutcome::StatementFailed, ExportResult{}),
            "rowpress: the statement failed after 1.2 s");
  EXPECT_EQ(line(RunOutcome::OutputFile, ExportResult{}),
            "rowpress: the output file could not be written after 1.2 s");
  EXPECT_EQ(line(RunOutcome::Stopped, ExportResult{}, 15),
            "rowpress: stopped by signal 15 after 1.2 s");
}

TEST_F(UnattendedTest, NightlyFileNamedSilentRunsUnattended) {
  const std::string nightly = temp_ / "nightly-silent.DIRU";
  writeFile(nightly, settings({"Database=\"rowtest\";", "SQL=\"select name from city\";",
                               "TSV=\"1\";", "DoLaunchApplication=\"0\";"}));
  EXPECT_EQ(runRowpress({"-file=" + nightly}), 0);
  std::string path = run_.out;
  ASSERT_FALSE(path.empty());
  path.pop_back();
  EXPECT_THAT(path, ::testing::MatchesRegex(home() + "/row[0-9A-F]{4}\\.TMP\\.csv"));
  EXPECT_EQ(readFile(path), "name\t\r\nZürich\t\r\nGenève, GE\t\r\n");
}

TEST_F(UnattendedTest, HelpAndVersion) {
  EXPECT_EQ(runRowpress({"--help"}), 0);
  EXPECT_THAT(run_.out, HasSubstr(home()));
  EXPECT_EQ(runRowpress({"--version"}), 0);
  EXPECT_EQ(run_.out, "rowpress 3.1.2\n");
}

}  // namespace
}  // namespace rowpress
