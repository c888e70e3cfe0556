// SIGINT, SIGTERM and SIGHUP stop a run of the real executable: its temporary file goes, a
// file that already had the target's name stays as it was, and the exit status is 128 plus
// the signal number, reached through an exit of its own (not by dying of the signal). A
// signal that was ignored when rowpress started stays ignored. A statement past -timeout is
// stopped the same way and ends as a failed statement. While a run kept busy this way holds a
// password from outside, its environment block holds no copy of it and it is not dumpable.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/run_fixture.h"

namespace rowpress {
namespace {

using support::listDirectory;
using support::readFile;
using support::writeFile;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

// Rows enough to keep a run busy for far longer than any test waits.
constexpr char kEndlessRows[] =
    "with recursive c(x) as (select 1 union all select x + 1 from c where x < 100000000) "
    "select x, 'some text to make the lines longer ' || x as label from c";

class SignalStopTest : public support::RunTest {
 protected:
  void SetUp() override {
    RunTest::SetUp();
    dir_ = temp_ / "reports";
    std::filesystem::create_directories(dir_);
    target_ = dir_ + "/big.csv";
    writeFile(target_, "yesterday's report\r\n");
    job_ = temp_ / "job.DIRU";
  }

  void startJob(support::ChildProcess& child, const std::string& sql,
                const std::vector<std::string>& more = {}) {
    writeFile(job_, support::jobFileText("rowtest", sql, {"CSV=\"1\";"}));
    std::vector<std::string> args = {"-silent", "-noautoopen", "-file=" + job_,
                                     "-outfile=" + target_};
    args.insert(args.end(), more.begin(), more.end());
    ASSERT_TRUE(child.startRowpress(args));
  }

  // The temporary file beside the target, once the run has written at least `bytes` to it.
  std::string waitForTemporary(long long bytes) {
    std::string found;
    const bool grown = support::waitFor(
        [&] {
          for (const std::string& name : listDirectory(dir_)) {
            if (name == "big.csv") continue;
            found = dir_ + "/" + name;
            if (support::fileSize(found).value_or(-1) >= bytes) return true;
          }
          return false;
        },
        std::chrono::seconds(60));
    if (grown) return found;
    ADD_FAILURE() << "no temporary file of " << bytes << " bytes appeared in " << dir_;
    return std::string();
  }

  std::string dir_;
  std::string target_;
  std::string job_;
};

TEST_F(SignalStopTest, EachStopSignalRemovesTheTemporaryFileAndExitsWith128PlusItsNumber) {
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(strsignal(signal));
    support::ChildProcess child(temp_.path());
    startJob(child, kEndlessRows, {"-timeout=600"});
    // Stopped in the fetch loop, after its first flushes.
    ASSERT_FALSE(waitForTemporary(512 * 1024).empty());
    // Neither the signals nor the timeout take a thread: the SQLite driver's locks stay
    // those of a process that never had a second one.
    EXPECT_EQ(child.threads(), 1);
    child.kill(signal);
    support::ChildResult stopped = child.wait();
    EXPECT_EQ(stopped.signal, 0) << "died of the signal instead of exiting";
    EXPECT_EQ(stopped.exitStatus, 128 + signal) << stopped.err;
    EXPECT_EQ(stopped.out, "");
    // Said once, by whichever thread ended the process.
    const std::string said = "stopped by signal " + std::to_string(signal) + " (";
    EXPECT_THAT(stopped.err, HasSubstr(said));
    EXPECT_EQ(stopped.err.find(said), stopped.err.rfind(said)) << stopped.err;
    // The summary ends the log of a stopped run too.
    const std::string log = support::withoutSummary(stopped.err);
    EXPECT_THAT(stopped.err.substr(log.size()),
                ::testing::StartsWith("rowpress: stopped by signal " + std::to_string(signal)));
    EXPECT_THAT(listDirectory(dir_), ElementsAre("big.csv"));
    EXPECT_EQ(readFile(target_), "yesterday's report\r\n");
  }
}

TEST_F(SignalStopTest, AStopAfterThePublicationBeganLetsTheRunFinishAndSayWhatItDid) {
  // Held as it replaces the target (before the file is synced and renamed) and once it has
  // (before it opens the file and disconnects): the target is the new file either way, and
  // the run says so with the status and path of a kept file.
  for (const char* point : {"keep", "kept"}) {
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
      SCOPED_TRACE(std::string(point) + ", " + strsignal(signal));
      writeFile(target_, "yesterday's report\r\n");
      writeFile(job_, support::jobFileText("rowtest", "select 1 as one", {"CSV=\"1\";"}));
      support::PausePoint pause(temp_.path(), point);
      support::ChildProcess child(temp_.path());
      ASSERT_TRUE(child.startRowpress(
          {"-silent", "-noautoopen", "-file=" + job_, "-outfile=" + target_}, pause.environment()));
      ASSERT_TRUE(pause.waitUntilReached(child)) << child.err();
      child.kill(signal);
      pause.release();
      support::ChildResult run = child.wait();
      EXPECT_EQ(run.exitStatus, 0) << run.err;
      EXPECT_EQ(run.out, target_ + "\n");
      const std::string log = support::withoutSummary(run.err);
      EXPECT_THAT(run.err.substr(log.size()), ::testing::StartsWith("rowpress: 1 rows to "));
      EXPECT_THAT(run.err, ::testing::Not(HasSubstr("stopped")));
      EXPECT_EQ(readFile(target_), "one,\r\n1,\r\n");
      EXPECT_THAT(listDirectory(dir_), ElementsAre("big.csv"));
    }
  }
}

TEST_F(SignalStopTest, ARunInsideOneLongDriverStepIsStoppedAndItsFileRemovedForIt) {
  // The SQLite driver computes this aggregate inside one call, which no one can interrupt;
  // the temporary file exists from before the statement runs.
  support::ChildProcess child(temp_.path());
  startJob(child,
           "with recursive c(x) as (select 1 union all select x + 1 from c where x < 10000000000) "
           "select count(*) as n from c");
  ASSERT_FALSE(waitForTemporary(0).empty());
  // The file is removed from the directory it was made in, wherever that has gone since.
  const std::string moved = dir_ + ".old";
  std::filesystem::rename(dir_, moved);
  child.kill(SIGTERM);
  support::ChildResult stopped = child.wait();
  EXPECT_EQ(stopped.signal, 0);
  EXPECT_EQ(stopped.exitStatus, 128 + SIGTERM) << stopped.err;
  // Ended by the thread that took the signal, with the summary all the same.
  support::withoutSummary(stopped.err);
  EXPECT_THAT(listDirectory(moved), ElementsAre("big.csv"));
  EXPECT_EQ(readFile(moved + "/big.csv"), "yesterday's report\r\n");
}

TEST_F(SignalStopTest, AStoppedRunGivesBackTheDefaultNameItReserved) {
  // No output file named: the run reserves a default name in the default directory, and
  // the stop (here the forced one, inside one long driver step) gives it back.
  writeFile(job_, support::jobFileText(
                      "rowtest",
                      "with recursive c(x) as (select 1 union all select x + 1 from c where x < "
                      "10000000000) select count(*) as n from c",
                      {"CSV=\"1\";"}));
  support::ChildProcess child(temp_.path());
  ASSERT_TRUE(child.startRowpress({"-silent", "-noautoopen", "-file=" + job_}));
  const bool reserved = support::waitFor(
      [&] {
        for (const std::string& name : listDirectory(home())) {
          if (name.rfind("row", 0) == 0 && name.size() > 12 && name.substr(11) == ".csv") {
            return true;
          }
        }
        return false;
      },
      std::chrono::seconds(60));
  ASSERT_TRUE(reserved) << "no default name was reserved in " << home();
  child.kill(SIGTERM);
  support::ChildResult stopped = child.wait();
  EXPECT_EQ(stopped.exitStatus, 128 + SIGTERM) << stopped.err;
  for (const std::string& name : listDirectory(home())) {
    EXPECT_EQ(name.find("row"), std::string::npos) << "left behind: " << name;
  }
}

TEST_F(SignalStopTest, AStatementPastTheTimeoutFailsInTimeAndLeavesNoFileBehind) {
  // Inside one driver step that no one can interrupt: the files are removed for the run.
  writeFile(job_, support::jobFileText(
                      "rowtest",
                      "with recursive c(x) as (select 1 union all select x + 1 from c where x < "
                      "10000000000) select count(*) as n from c",
                      {"CSV=\"1\";", "Timeout=\"1\";"}));
  // Once onto an existing file, once onto a default name that the run reserved.
  for (bool named : {true, false}) {
    SCOPED_TRACE(named ? "named output" : "default name");
    std::vector<std::string> args = {"-silent", "-noautoopen", "-file=" + job_};
    if (named) args.push_back("-outfile=" + target_);
    const auto started = std::chrono::steady_clock::now();
    support::ChildResult run =
        support::runRowpress(temp_.path(), args, {}, std::chrono::seconds(60));
    const auto took = std::chrono::steady_clock::now() - started;
    EXPECT_GE(took, std::chrono::seconds(1));
    EXPECT_LT(took, std::chrono::seconds(8)) << "the limit, then the grace of a stop";
    EXPECT_EQ(run.exitStatus, 3) << run.err;
    EXPECT_EQ(support::withoutSummary(run.err), "SQL statement failed.: timed out after 1 s\n");
    EXPECT_EQ(run.out, "");
    EXPECT_THAT(listDirectory(dir_), ElementsAre("big.csv"));
    EXPECT_EQ(readFile(target_), "yesterday's report\r\n");
    for (const std::string& name : listDirectory(home())) {
      EXPECT_EQ(name.find("row"), std::string::npos) << "left behind: " << name;
    }
  }
}

TEST_F(SignalStopTest, ASignalIgnoredAtStartStaysIgnored) {
  // As under nohup: SIGHUP during the run changes nothing, the run ends with every row.
  support::ChildProcess child(temp_.path());
  child.ignoreAtStart(SIGHUP);
  startJob(child,
           "with recursive c(x) as (select 1 union all select x + 1 from c where x < 2000000) "
           "select x from c");
  ASSERT_FALSE(waitForTemporary(1024 * 1024).empty());
  child.kill(SIGHUP);
  support::ChildResult done = child.wait();
  EXPECT_EQ(done.signal, 0);
  EXPECT_EQ(done.exitStatus, 0) << done.err;
  EXPECT_EQ(done.out, target_ + "\n");
  const std::string file = readFile(target_);
  EXPECT_EQ(file.substr(0, 5), "x,\r\n1");
  EXPECT_THAT(file, ::testing::EndsWith("\r\n2000000,\r\n"));
  EXPECT_THAT(listDirectory(dir_), ElementsAre("big.csv"));
}

// The run goes on as the unprivileged user 65534, for whom the owner of /proc/PID/environ
// tells whether the process is dumpable: its own user when it is, root when it is not. Root
// (the test) reads /proc/PID/environ either way: the block the process was started with.
TEST_F(SignalStopTest, ARunHoldingAPasswordKeepsNoCopyInItsEnvironmentAndIsNotDumpable) {
  const std::string setpriv = support::findProgram("setpriv");
  ASSERT_FALSE(setpriv.empty()) << "setpriv is missing (util-linux)";
  ASSERT_EQ(::geteuid(), 0u) << "the test needs root to run rowpress as another user";
  // What the user needs: the ODBC files to read, the database and a directory of its own.
  ASSERT_EQ(::chmod(temp_.path().c_str(), 0755), 0);
  ASSERT_EQ(::chmod(std::getenv("ODBCSYSINI"), 0755), 0);
  std::filesystem::create_directories(home());
  execute("create table unused (n integer)");  // the database file
  for (const std::string& mine : {dir_, home(), database()}) {
    ASSERT_EQ(::chown(mine.c_str(), 65534, 65534), 0);
  }
  writeFile(job_, support::jobFileText("rowtest", kEndlessRows, {"CSV=\"1\";"}));
  const std::vector<std::string> argv = {
      setpriv,          "--reuid=65534", "--regid=65534",
      "--clear-groups", ROWPRESS_BINARY, "-silent",
      "-noautoopen",    "-file=" + job_, "-outfile=" + dir_ + "/held.csv"};
  const support::EnvironmentChanges display = {{"DISPLAY", std::nullopt},
                                               {"WAYLAND_DISPLAY", std::nullopt}};
  // A name may stand twice in the block a program is started with; getenv sees the first.
  const std::string first = "first-" + std::to_string(::getpid()) + "-pass";
  const std::string second = "second-" + std::to_string(::getpid()) + "-pass";
  std::vector<std::string> withPassword = support::environmentWith(display);
  withPassword.push_back("ROWPRESS_PASSWORD=" + first);
  withPassword.push_back("ROWPRESS_USER=reporter");
  withPassword.push_back("ROWPRESS_PASSWORD=" + second);

  for (bool password : {false, true}) {
    SCOPED_TRACE(password ? "with a password" : "without a password");
    support::ChildProcess child(temp_.path());
    ASSERT_TRUE(child.startWithEnvironment(
        argv, password ? withPassword : support::environmentWith(display)));
    ASSERT_FALSE(waitForTemporary(512 * 1024).empty()) << child.err();
    const std::string proc = "/proc/" + std::to_string(child.pid());
    struct stat owner {};
    ASSERT_EQ(::stat((proc + "/environ").c_str(), &owner), 0);
    const std::string environment = readFile(proc + "/environ");
    EXPECT_THAT(environment, HasSubstr("ODBCINI="));
    if (password) {
      EXPECT_EQ(owner.st_uid, 0u) << "the run holding a password is dumpable";
      for (const std::string& gone : {first, second, std::string("ROWPRESS_PASSWORD"),
                                      std::string("ROWPRESS_USER"), std::string("reporter")}) {
        EXPECT_THAT(environment, ::testing::Not(HasSubstr(gone)));
      }
    } else {
      // Without a password the run is dumpable, as any process of its user: the owner tells.
      EXPECT_EQ(owner.st_uid, 65534u);
    }
    child.kill(SIGTERM);
    EXPECT_EQ(child.wait(std::chrono::seconds(60)).exitStatus, 128 + SIGTERM) << child.err();
  }
}

}  // namespace
}  // namespace rowpress
