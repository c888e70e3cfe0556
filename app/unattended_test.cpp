// The unattended run of the real executable: its file, its exit statuses, its log lines.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <regex>
#include <set>

#include "settings/password_scramble.h"
#include "tests/app_support/output_boxes.h"
#include "tests/app_support/startup_test_support.h"
#include "tests/support/child_process.h"
#include "tests/support/run_fixture.h"
#include "tests/support/started_processes.h"

namespace rowpress {
namespace {

using support::fileExists;
using support::outputState;
using support::readFile;
using support::settings;
using support::StartupTest;
using support::UnattendedTest;
using support::writeFile;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;
using ::testing::StartsWith;

TEST_F(UnattendedTest, ACompleteJobWritesItsFileAndOpensNothing) {
  writeJob("select name, people from city order by people", "CSV=\"1\";");
  const std::string out = temp_ / "cities.csv";
  // Whatever the run starts, even detached, is left to this process once the run ended.
  support::StartedProcesses started;
  ASSERT_TRUE(started.active());
  // -openwith= names a program that the run would start to open its file.
  EXPECT_EQ(runRowpress({"-noautoopen", "-openwith=touch " + (temp_ / "opened"), "-silent",
                         "-file=" + job_file_, "-outfile=" + out}),
            0);
  EXPECT_EQ(readFile(out), "name,people,\r\nGenève; GE,203856,\r\nZürich,421878,\r\n");
  EXPECT_EQ(run_.out, out + "\n");
  // Standard error is a file here: no progress line, only the summary, and a note for the
  // comma of "Genève, GE" that the classic CSV wrote as ";".
  EXPECT_EQ(support::withoutSummary(run_.err), "");
  EXPECT_THAT(run_.err, StartsWith("rowpress: 2 rows to " + out + " in "));
  EXPECT_THAT(run_.err, EndsWith(" s\nrowpress: note: column 1 \"name\": 1 value with separators "
                                 "or line breaks replaced\n"));
  EXPECT_THAT(started.collect(), IsEmpty());
  EXPECT_FALSE(fileExists(temp_ / "opened"));
}

TEST_F(UnattendedTest, AJobThatOpensItsFileLeavesItsViewerRunningOnItsOwn) {
  // What the test above looks for is there when the run opens its file: one viewer, which
  // the run did not wait for.
  writeJob("select name, people from city order by people", "CSV=\"1\";");
  support::StartedProcesses started;
  ASSERT_TRUE(started.active());
  EXPECT_EQ(runRowpress({"-openwith=touch " + (temp_ / "opened"), "-silent", "-file=" + job_file_,
                         "-outfile=" + (temp_ / "cities.csv")}),
            0);
  EXPECT_EQ(started.collect().size(), 1u);
}

// The viewer gets SIGPIPE and SIGXFSZ as rowpress found them, whatever rowpress does with them
// for its own writes: ignored when they were ignored, with their default action otherwise.
TEST_F(UnattendedTest, TheViewerGetsTheWriteSignalsAsRowpressFoundThem) {
  writeJob("select name from city", "CSV=\"1\";");
  // The viewer notes which signals it ignores (SigIgn, a mask with bit N-1 for signal N).
  const std::string viewer = temp_ / "viewer";
  writeFile(
      viewer,
      "#!/bin/sh\ngrep '^SigIgn:' /proc/$$/status > \"$1.part\" && mv \"$1.part\" \"$1.sig\"\n");
  ASSERT_EQ(::chmod(viewer.c_str(), 0755), 0);
  auto bit = [](int signal) { return 1ull << (signal - 1); };
  for (int ignored : {SIGPIPE, SIGXFSZ}) {
    SCOPED_TRACE(strsignal(ignored));
    const std::string out = temp_ / ("cities-" + std::to_string(ignored) + ".csv");
    support::StartedProcesses started;
    ASSERT_TRUE(started.active());
    support::ChildProcess child(temp_.path());
    child.ignoreAtStart(ignored);
    ASSERT_TRUE(child.startRowpress(
        {"-silent", "-file=" + job_file_, "-outfile=" + out, "-openwith=" + viewer}));
    EXPECT_EQ(child.wait(std::chrono::seconds(60)).exitStatus, 0);
    ASSERT_TRUE(support::waitForFile(out + ".sig", std::chrono::seconds(30)))
        << "the viewer did not run";
    const std::string line = readFile(out + ".sig");
    ASSERT_THAT(line, StartsWith("SigIgn:\t"));
    const unsigned long long mask = std::stoull(line.substr(8), nullptr, 16);
    EXPECT_EQ(mask & (bit(SIGPIPE) | bit(SIGXFSZ)), bit(ignored));
  }
}

// A viewer that cannot start is said on standard error; the file was written all the same.
TEST_F(UnattendedTest, AViewerThatCannotStartIsReportedAndTheRunStillSucceeds) {
  writeJob("select name from city", "CSV=\"1\";");
  const std::string notExecutable = temp_ / "viewer.txt";
  writeFile(notExecutable, "#!/bin/sh\n");
  ASSERT_EQ(::chmod(notExecutable.c_str(), 0644), 0);
  for (const auto& [viewer, reason] :
       {std::pair<std::string, std::string>{temp_ / "no-such-viewer", "No such file or directory"},
        {notExecutable, "Permission denied"},
        {"rowpress-no-such-program-on-the-path", "No such file or directory"}}) {
    SCOPED_TRACE(viewer);
    const std::string out = temp_ / "cities.csv";
    EXPECT_EQ(runRowpress({"-silent", "-file=" + job_file_, "-outfile=" + out,
                           "-openwith=" + viewer + " --calc"}),
              0);
    EXPECT_EQ(run_.out, out + "\n");
    EXPECT_EQ(readFile(out), "name,\r\nZürich,\r\nGenève; GE,\r\n");
    EXPECT_EQ(support::withoutSummary(run_.err),
              "rowpress: could not start " + viewer + ": " + reason + "\n");
  }
}

TEST_F(UnattendedTest, ExitStatusTellsTheOutcome) {
  writeJob("select * from city where people < 0");
  EXPECT_EQ(runRowpress({"-silent", "-noautoopen", "-file=" + job_file_}), 1);
  EXPECT_THAT(run_.err, HasSubstr("no rows"));
  // An UPDATE that touches no row has no rows either.
  writeJob("update city set people = 0 where name = 'Atlantis'");
  EXPECT_EQ(runRowpress({"-silent", "-noautoopen", "-file=" + job_file_}), 1);
  EXPECT_EQ(support::withoutSummary(run_.err),
            "rowpress: the statement returned no result set (0 rows affected); no file was "
            "written\n");
  EXPECT_THAT(run_.err, HasSubstr("\nrowpress: 0 rows in "));
  // Rows that a statement changed are counted where the driver tells them, and the type
  // report of the last query stays: there are no columns to report.
  const std::string report = home() + "/lasttablecolumntypeinfo.csv";
  ::mkdir(home().c_str(), 0700);
  writeFile(report, "the last query's columns\r\n");
  writeJob("insert into city select name, people + 1 from city");
  EXPECT_EQ(runRowpress({"-silent", "-noautoopen", "-file=" + job_file_}), 1);
  EXPECT_EQ(support::withoutSummary(run_.err),
            "rowpress: the statement returned no result set (2 rows affected); no file was "
            "written\n");
  EXPECT_EQ(readFile(report), "the last query's columns\r\n");

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

// A pipe whose reading end is already closed: a write to it fails with EPIPE (or, where
// SIGPIPE has its default action, ends the writer).
struct PipeWithoutReader {
  PipeWithoutReader() {
    EXPECT_EQ(::pipe(fds), 0);
    ::close(fds[0]);
  }
  ~PipeWithoutReader() { ::close(fds[1]); }
  int fds[2] = {-1, -1};
};

// Standard output that cannot take the path line: status 7, the file stays, and the log says
// where it is. The path line is all that goes there, so a run without a file is not touched.
TEST_F(UnattendedTest, APathLineThatStandardOutputCannotTakeIsStatus7AndTheFileStays) {
  writeJob("select name from city", "CSV=\"1\";");
  PipeWithoutReader closedPipe;
  const int full = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
  ASSERT_GE(full, 0) << "no /dev/full";
  struct Case {
    const char* what;
    int fd;
    const char* reason;
  };
  for (const Case& c : {Case{"a pipe without a reader", closedPipe.fds[1], "Broken pipe"},
                        Case{"/dev/full", full, "No space left on device"},
                        Case{"closed at start", -1, "it was closed"}}) {
    SCOPED_TRACE(c.what);
    const std::string out = temp_ / "cities.csv";
    ::unlink(out.c_str());
    support::ChildProcess child(temp_.path());
    child.giveDescriptor(STDOUT_FILENO, c.fd);
    ASSERT_TRUE(
        child.startRowpress({"-silent", "-noautoopen", "-file=" + job_file_, "-outfile=" + out}));
    const support::ChildResult result = child.wait(std::chrono::seconds(60));
    EXPECT_EQ(result.signal, 0) << "died of a signal instead of exiting";
    EXPECT_EQ(result.exitStatus, 7);
    EXPECT_EQ(readFile(out), "name,\r\nZürich,\r\nGenève; GE,\r\n");
    EXPECT_EQ(support::withoutSummary(result.err),
              std::string("rowpress: standard output could not take the path (") + c.reason +
                  "); the file was written: " + out + "\n");
    EXPECT_THAT(result.err, HasSubstr("rowpress: 2 rows to " + out + " in "));

    // A run that keeps no file has no path to print: its own status.
    writeJob("select name from city where people < 0", "CSV=\"1\";");
    support::ChildProcess none(temp_.path());
    none.giveDescriptor(STDOUT_FILENO, c.fd);
    ASSERT_TRUE(
        none.startRowpress({"-silent", "-noautoopen", "-file=" + job_file_, "-outfile=" + out}));
    EXPECT_EQ(none.wait(std::chrono::seconds(60)).exitStatus, 1);
    writeJob("select name from city", "CSV=\"1\";");
  }
  ::close(full);
}

// A standard error that went away changes nothing: the status is the run's own.
TEST_F(UnattendedTest, AStandardErrorThatWentAwayChangesNoStatus) {
  PipeWithoutReader closedPipe;
  for (int fd : {closedPipe.fds[1], -1}) {
    SCOPED_TRACE(fd < 0 ? "closed at start" : "a pipe without a reader");
    const std::string out = temp_ / "cities.csv";
    for (const auto& [sql, status] : {std::pair<std::string, int>{"select name from city", 0},
                                      {"select nothing from city", 3},
                                      {"select name from city where people < 0", 1}}) {
      SCOPED_TRACE(sql);
      writeJob(sql, "CSV=\"1\";");
      support::ChildProcess child(temp_.path());
      child.giveDescriptor(STDERR_FILENO, fd);
      ASSERT_TRUE(
          child.startRowpress({"-silent", "-noautoopen", "-file=" + job_file_, "-outfile=" + out}));
      const support::ChildResult result = child.wait(std::chrono::seconds(60));
      EXPECT_EQ(result.signal, 0) << "died of a signal instead of exiting";
      EXPECT_EQ(result.exitStatus, status);
      EXPECT_EQ(result.out, status == 0 ? out + "\n" : "");
    }
  }
}

// What comes from outside (here an output path) cannot paint the terminal: on standard error
// its control characters are escaped; standard output gets the path's own bytes.
TEST_F(UnattendedTest, ControlCharactersFromOutsideAreEscapedOnStandardError) {
  writeJob("select name from city", "CSV=\"1\";");
  const std::string out = temp_ / "x\x1b[2K\rrowpress: 0 rows in 0.0 s";
  EXPECT_EQ(runRowpress({"-silent", "-noautoopen", "-file=" + job_file_, "-outfile=" + out}), 0);
  EXPECT_EQ(run_.out, out + "\n");
  EXPECT_EQ(readFile(out), "name,\r\nZürich,\r\nGenève; GE,\r\n");
  EXPECT_THAT(run_.err, StartsWith("rowpress: 2 rows to " + temp_.path() +
                                   "/x\\x1b[2K\\rrowpress: 0 rows in 0.0 s in "));
  EXPECT_EQ(run_.err.find('\x1b'), std::string::npos) << run_.err;
  EXPECT_EQ(run_.err.find('\r'), std::string::npos) << run_.err;

  // The lines of a failure: the message box, the reason, a refused settings file.
  const std::string badDir = temp_ / "no\nrowpress: fake line/x.csv";
  EXPECT_EQ(runRowpress({"-silent", "-noautoopen", "-file=" + job_file_, "-outfile=" + badDir}), 4);
  const std::string shown = temp_ / "no\\nrowpress: fake line/x.csv";
  EXPECT_EQ(support::withoutSummary(run_.err),
            "Unable to Open Output File: unable to create: " + shown +
                "\nrowpress: unable to create: " + shown + " (No such file or directory)\n");
  const std::string badJob = temp_ / "job\x07\x1b]0;title\x07.DIRU";
  EXPECT_EQ(runRowpress({"-silent", "-file=" + badJob}), 6);
  EXPECT_EQ(run_.err, "rowpress: " + temp_.path() +
                          "/job\\x07\\x1b]0;title\\x07.DIRU: The settings file could not be "
                          "read: No such file or directory.\n"
                          "rowpress: the job could not be read; nothing was run\n");
}

TEST_F(UnattendedTest, TheSummarySaysWhatFailedAndQuietLeavesOutOnlyTheSummary) {
  writeJob("select * from city");
  const std::vector<std::string> args = {"-silent", "-noautoopen", "-file=" + job_file_,
                                         "-outfile=" + (temp_ / "no-such-dir/x.xls")};
  EXPECT_EQ(runRowpress(args), 4);
  const std::string failure = support::withoutSummary(run_.err);
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
  // The note is about the data: it stays.
  EXPECT_EQ(run_.err,
            "rowpress: note: column 1 \"name\": 1 value with separators or line breaks replaced\n");

  // A name whose extension names another type is written as named; the log says so, unless
  // quiet.
  const std::string named = temp_ / "c.xlsx";
  EXPECT_EQ(runRowpress({"-silent", "-noautoopen", "-file=" + job_file_, "-outfile=" + named}), 0);
  EXPECT_EQ(run_.out, named + "\n");
  EXPECT_THAT(run_.err, HasSubstr("rowpress: The output file name " + named + " ends in .xlsx"));
  EXPECT_EQ(readFile(named).substr(0, 5), "name,");
  EXPECT_EQ(
      runRowpress({"-silent", "-quiet", "-noautoopen", "-file=" + job_file_, "-outfile=" + named}),
      0);
  EXPECT_THAT(run_.err, Not(HasSubstr("ends in .xlsx")));
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
  const support::ChildResult run = support::runScript(
      temp_.path(), "exec /usr/bin/python3 " + support::shellQuote(temp_ / "on_terminal.py") +
                        " \"$ROWPRESS\" -silent -noautoopen " +
                        support::shellQuote("-file=" + job_file_) + " " +
                        support::shellQuote("-outfile=" + out));
  ASSERT_EQ(run.exitStatus, 0) << run.err;
  // The terminal turns each line end into CR LF.
  const std::regex shown(
      "(\r[0-9]+ rows, [0-9]+ rows/s, [0-9]+\\.[0-9] s\x1b\\[K)+\r\x1b\\[K"
      "rowpress: 2000000 rows to [^\r\n]* in [0-9]+\\.[0-9] s\r\n");
  EXPECT_TRUE(std::regex_match(run.out, shown)) << run.out;
}

TEST(SummaryLine, TellsEveryOutcomeApartAndEndsEveryLog) {
  using std::chrono::milliseconds;
  ExportResult kept;
  kept.rows = 7500;
  kept.path = "/srv/orders.xls";
  kept.kept = true;
  ExportResult refused;  // a result refused at a limit before anything was written
  refused.path = kept.path;
  struct Case {
    RunOutcome outcome;
    const ExportResult& exported;
    int signal;
  };
  const Case cases[] = {
      {RunOutcome::Exported, kept, 0},        {RunOutcome::Limit, kept, 0},
      {RunOutcome::Limit, refused, 0},        {RunOutcome::NoRows, refused, 0},
      {RunOutcome::NoConnection, refused, 0}, {RunOutcome::StatementFailed, refused, 0},
      {RunOutcome::OutputFile, refused, 0},   {RunOutcome::JobUnreadable, refused, 0},
      {RunOutcome::Stopped, refused, 15},     {RunOutcome::Stopped, refused, 2},
  };
  std::set<std::string> lines;
  for (const Case& c : cases) {
    const std::string line = summaryLine(RunResult{c.outcome, "", "", false, {}}, c.exported,
                                         c.signal, milliseconds(1249));
    SCOPED_TRACE(line);
    // A log tells every outcome apart by its last line.
    EXPECT_TRUE(lines.insert(line).second);
    // The line that the tests of the executable take for the summary is this one.
    EXPECT_EQ(support::withoutSummary("rowpress: a failure\n" + line + "\n"),
              "rowpress: a failure\n");
    EXPECT_NE(line.find(" 1.2 s"), std::string::npos);
    // Only a file that is there is named, with its rows.
    const bool named = line.find(kept.path) != std::string::npos;
    EXPECT_EQ(named, c.exported.kept);
    EXPECT_EQ(line.find("7500 rows") != std::string::npos, c.exported.kept);
    if (c.signal != 0) {
      EXPECT_NE(line.find("signal " + std::to_string(c.signal)), std::string::npos);
    }
  }
}

TEST_F(UnattendedTest, SwitchTextInsideAnArgumentIsOnlyText) {
  // An earlier export whose name holds "-file=" is a value, never read as a job.
  const std::string notes = temp_ / "notes-file=1.csv";
  writeFile(notes, settings({"Database=\"rowtest\";", "SQL=\"delete from city\";"}));
  writeJob("select name from city order by name", "TSV=\"1\";");
  EXPECT_EQ(runRowpress({"-silent", "-noautoopen", "-file=" + job_file_, "-outfile=" + notes}), 0);
  EXPECT_EQ(readFile(notes), "name\t\r\nGenève, GE\t\r\nZürich\t\r\n");
  const std::string timed = temp_ / "x-timeout=abc.csv";
  EXPECT_EQ(runRowpress({"-silent", "-noautoopen", "-file=" + job_file_, "-outfile=" + timed}), 0);
  EXPECT_EQ(run_.out, timed + "\n");

  // A mistyped switch runs nothing, whatever else the command line holds.
  const std::string typo = temp_ / "typo.csv";
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"-silent", "-file=" + job_file_, "-outfiel=" + typo},
        std::vector<std::string>{"-outfiel=" + typo, "--help"}}) {
    EXPECT_EQ(runRowpress(args), 6);
    EXPECT_EQ(run_.err, "rowpress: -outfiel=" + typo +
                            ": not a switch of rowpress (see rowpress --help)\n"
                            "rowpress: the job could not be read; nothing was run\n");
    EXPECT_EQ(run_.out, "");
  }
  EXPECT_FALSE(fileExists(typo));

  // Without -silent a name holding it opens the window, which cannot start without a
  // display: no run, no file, no summary. A build without the window says how to run a job.
  const std::string nightly = temp_ / "nightly-silent.DIRU";
  writeFile(nightly, readFile(job_file_));
  runRowpress({"-file=" + nightly, "-outfile=" + (temp_ / "a-silent.csv")});
  EXPECT_TRUE(run_.exitStatus != 0 || run_.signal != 0);
  EXPECT_EQ(run_.out, "");
  if (ROWPRESS_HAS_WINDOW) {
    EXPECT_THAT(run_.err, Not(HasSubstr("rowpress: ")));
  } else {
    EXPECT_EQ(run_.exitStatus, 6);
    EXPECT_EQ(run_.err,
              "rowpress: this rowpress was built without its window; run a job with -silent (see "
              "rowpress --help)\n");
  }
  EXPECT_FALSE(fileExists(temp_ / "a-silent.csv"));
}

TEST_F(UnattendedTest, TheOutputItsManifestAndTheTypeReportAreNeverAJobFileOfTheRun) {
  writeJob("select name from city", "CSV=\"1\";");
  const std::string job = readFile(job_file_);
  const std::string link = temp_ / "link.csv";
  ASSERT_EQ(::symlink(job_file_.c_str(), link.c_str()), 0);
  for (const std::string& out : {job_file_, link}) {
    EXPECT_EQ(runRowpress({"-silent", "-noautoopen", "-file=" + job_file_, "-outfile=" + out}), 4);
    EXPECT_EQ(support::withoutSummary(run_.err),
              "rowpress: unable to create: " + out + " (the job was read from it)\n");
    EXPECT_EQ(readFile(job_file_), job);
  }
  // So does the password file.
  const std::string password = temp_ / "pw";
  writeFile(password, "secret\n");
  ASSERT_EQ(::chmod(password.c_str(), 0600), 0);
  EXPECT_EQ(runRowpress({"-silent", "-noautoopen", "-file=" + job_file_,
                         "-passwordfile=" + password, "-outfile=" + password}),
            4);
  EXPECT_EQ(readFile(password), "secret\n");
  // A second job file counts as much as the first.
  const std::string more = temp_ / "more.DIRU";
  writeFile(more, settings({"TSV=\"1\";"}));
  EXPECT_EQ(runRowpress({"-silent", "-noautoopen", "-file=" + job_file_, "-file=" + more,
                         "-outfile=" + more}),
            4);
  EXPECT_EQ(readFile(more), settings({"TSV=\"1\";"}));

  // The job kept where the type report goes: the run does not replace it either.
  const std::string report = home() + "/lasttablecolumntypeinfo.csv";
  ::mkdir(home().c_str(), 0700);
  writeFile(report, job);
  EXPECT_EQ(
      runRowpress({"-silent", "-noautoopen", "-file=" + report, "-outfile=" + (temp_ / "out.csv")}),
      4);
  EXPECT_EQ(support::withoutSummary(run_.err),
            "rowpress: unable to create: " + report + " (the job was read from it)\n");
  EXPECT_EQ(readFile(report), job);
  EXPECT_FALSE(fileExists(temp_ / "out.csv"));

  // Nor where the manifest goes beside the output.
  const std::string manifest = temp_ / "m.csv.manifest.json";
  writeFile(manifest, job);
  EXPECT_EQ(runRowpress({"-silent", "-noautoopen", "-manifest", "-file=" + manifest,
                         "-outfile=" + (temp_ / "m.csv")}),
            4);
  EXPECT_EQ(support::withoutSummary(run_.err),
            "rowpress: unable to create: " + manifest + " (the job was read from it)\n");
  EXPECT_EQ(readFile(manifest), job);
  EXPECT_FALSE(fileExists(temp_ / "m.csv"));
}

TEST_F(UnattendedTest, ARelativeHomeIsNoDefaultDirectory) {
  writeJob("select name from city", "CSV=\"1\";");
  const std::string work = temp_ / "work";
  ASSERT_EQ(::mkdir(work.c_str(), 0700), 0);
  for (const char* variables : {"ROWPRESS_HOME=relhome", "ROWPRESS_HOME= HOME=relhome"}) {
    SCOPED_TRACE(variables);
    run_ = support::runScript(temp_.path(), "cd " + support::shellQuote(work) + " && " + variables +
                                                " \"$ROWPRESS\" -silent -noautoopen -file=" +
                                                support::shellQuote(job_file_));
    EXPECT_EQ(run_.exitStatus, 4);
    EXPECT_THAT(run_.err, HasSubstr("is not an absolute path; name the output file.\n"));
    EXPECT_EQ(run_.out, "");
    EXPECT_FALSE(fileExists(work + "/relhome"));
  }
}

// A report's output name takes the date of the run and a parameter's value. A value that would
// make the name's directory "." or ".." (or nothing) is refused before the run connects.
TEST_F(UnattendedTest, AReportsOutputNameTakesTheDateAndAParameter) {
  // Connecting creates the database file of this data source: whether it exists after a run
  // tells whether the run connected.
  const std::string database = temp_ / "fresh.db";
  addDataSource("fresh", database);
  writeFile(job_file_, settings({"Database=\"fresh\";", "Sheet=\"Month\";",
                                 "SQL=\"select :month as month\";", "XLSX=\"1\";"}));
  const std::string out = temp_ / "out";
  ASSERT_EQ(::mkdir(out.c_str(), 0700), 0);
  for (const char* value : {"..", ".", ""}) {
    SCOPED_TRACE(std::string("month=") + value);
    EXPECT_EQ(runRowpress({"-silent", "-noautoopen", "-file=" + job_file_,
                           "-outfile=" + out + "/{month}/sales.xlsx",
                           std::string("-param=month=") + value}),
              6);
    EXPECT_THAT(run_.err, HasSubstr("parameter month"));
    EXPECT_EQ(run_.out, "");
    EXPECT_FALSE(fileExists(database));
  }
  EXPECT_THAT(support::listDirectory(out), IsEmpty());

  const auto today = [] {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char date[16];
    std::strftime(date, sizeof date, "%Y-%m-%d", &local);
    return std::string(date);
  };
  const std::string before = today();
  EXPECT_EQ(runRowpress({"-silent", "-noautoopen", "-file=" + job_file_,
                         "-outfile=" + out + "/sales-{month}-{date}.xlsx", "-param=month=2026-11"}),
            0)
      << run_.err;
  const std::string after = today();
  const std::vector<std::string> written = support::listDirectory(out);
  ASSERT_EQ(written.size(), 1u);
  // The run may have started before midnight and ended after it.
  EXPECT_THAT(written[0], ::testing::AnyOf("sales-2026-11-" + before + ".xlsx",
                                           "sales-2026-11-" + after + ".xlsx"));
  EXPECT_EQ(run_.out, out + "/" + written[0] + "\n");
  EXPECT_TRUE(fileExists(database));
}

// A report whose markers and values do not fit, or whose file pairs its keys wrongly, is
// refused before its first sheet, an INSERT, reaches the database.
TEST_F(UnattendedTest, AReportThatDoesNotFitItsValuesRunsNoSheet) {
  const std::vector<std::string> report = {
      "Database=\"rowtest\";", "CSV=\"1\";",
      "Sheet=\"Log\";",        "SQL=\"insert into city values ('ran', 1)\";",
      "Sheet=\"Cities\";",     "SQL=\"select name from city where name = :who\";"};
  writeFile(job_file_, settings(report));
  const std::string out = temp_ / "cities.csv";
  const struct {
    std::vector<std::string> switches;
    const char* named;  // what the refusal names
  } refused[] = {
      {{}, ":who"},                                             // a marker without a value
      {{"-param=who=Z\xc3\xbcrich", "-param=what=1"}, "what"},  // a value without a marker
      {{"-param=who"}, "-param=who"},                           // no "=" between name and value
  };
  for (const auto& [switches, named] : refused) {
    SCOPED_TRACE(named);
    std::vector<std::string> args = {"-silent", "-noautoopen", "-file=" + job_file_,
                                     "-outfile=" + out};
    args.insert(args.end(), switches.begin(), switches.end());
    EXPECT_EQ(runRowpress(args), 6);
    EXPECT_THAT(run_.err, HasSubstr(named));
    EXPECT_EQ(run_.out, "");
  }
  // An SQL key without its own Sheet key before it.
  std::vector<std::string> unpaired = report;
  unpaired.erase(unpaired.begin() + 4);
  writeFile(job_file_, settings(unpaired));
  EXPECT_EQ(runRowpress({"-silent", "-noautoopen", "-file=" + job_file_, "-outfile=" + out,
                         "-param=who=Z\xc3\xbcrich"}),
            6);
  EXPECT_EQ(run_.out, "");
  EXPECT_FALSE(fileExists(temp_ / "cities-Cities.csv"));

  // The row that the INSERT would have added.
  const std::string added = "select name from city where name = 'ran'";
  EXPECT_EQ(fetch(added).outcome, RunOutcome::NoRows);
  // With values that fit, the INSERT runs: as a sheet without a result set it fails the report.
  writeFile(job_file_, settings(report));
  EXPECT_EQ(runRowpress({"-silent", "-noautoopen", "-file=" + job_file_, "-outfile=" + out,
                         "-param=who=Z\xc3\xbcrich"}),
            3);
  const RunResult after = fetch(added);
  EXPECT_EQ(after.outcome, RunOutcome::Exported);
  EXPECT_EQ(after.export_.rows, 1);
}

TEST_F(UnattendedTest, HelpAndVersion) {
  EXPECT_EQ(runRowpress({"--help"}), 0);
  EXPECT_THAT(run_.out, HasSubstr(home()));
  EXPECT_EQ(runRowpress({"--version"}), 0);
  EXPECT_EQ(run_.out, "rowpress 3.1.2\n");
}

}  // namespace
}  // namespace rowpress
