// The real executable against file systems that fail it and targets it may not replace:
// directories it cannot write to, a full file system, a file size limit, a target that is a
// directory or has a second name, a file of someone else. Every such run ends with exit
// status 4, says why on standard error, prints no path, leaves a file that already had the
// target's name as it was, and leaves no temporary file behind; what can be known about the
// target before the statement runs stops the run before it.
//
// The tests run as root, whom permissions do not stop. Faults that stop root too: a path
// below a regular file (ENOTDIR), /proc (no files can be created there), and tmpfs file
// systems mounted read-only or with 64 KiB of room in a mount namespace of their own
// (unshare -m), which disappear with the process that mounted them. Faults of permissions
// are met by the executable run as the unprivileged user 65534 (setpriv).
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "files/atomic_file.h"
#include "files/pause_point.h"
#include "tests/support/child_process.h"
#include "tests/support/run_fixture.h"

namespace rowpress {
namespace {

using support::ChildResult;
using support::fileExists;
using support::listDirectory;
using support::readFile;
using support::shellQuote;
using support::writeFile;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

constexpr char kOld[] = "yesterday's report\r\n";

class OutputFileFaultTest : public support::RunTest {
 protected:
  void SetUp() override {
    RunTest::SetUp();
    // 200,000 rows: several MiB in any output type.
    execute("create table seq (n integer, label varchar(20))");
    execute(
        "insert into seq with recursive c(x) as (select 1 union all select x + 1 from c "
        "where x < 200000) select x, 'r' || x from c");
    execute("create table marks (n integer)");
    execute("insert into marks values (0)");
  }

  std::string job(const std::string& sql, const std::vector<std::string>& lines = {}) {
    const std::string file = temp_ / "job.DIRU";
    writeFile(file, support::jobFileText("rowtest", sql, lines));
    return "-file=" + file;
  }

  ChildResult run(const std::string& outFile, const std::string& jobArg,
                  const support::EnvironmentChanges& changes = {}) {
    return support::runRowpress(temp_.path(),
                                {"-silent", "-noautoopen", jobArg, "-outfile=" + outFile}, changes);
  }

  // Runs `script` in a mount namespace of its own, as root can.
  ChildResult runInOwnMountNamespace(const std::string& script) {
    EXPECT_FALSE(support::findProgram("unshare").empty()) << "unshare is missing (util-linux)";
    EXPECT_FALSE(support::findProgram("mount").empty()) << "mount is missing";
    const std::string inner = temp_ / "namespace.sh";
    writeFile(inner, "set -u\n" + script + "\n");
    return support::runScript(temp_.path(),
                              "export ROWPRESS\nexec unshare -m /bin/sh " + shellQuote(inner));
  }

  // The statement of the `marks` job ran when n is no longer 0.
  std::string marksJob() { return job("update marks set n = n + 1"); }
  bool marksStatementRan(const std::string& database) {
    const std::string check = temp_ / "marks.txt";
    support::runShell("sqlite3 " + shellQuote(database) + " 'select n from marks' > " +
                      shellQuote(check));
    return readFile(check) != "0\n";
  }
  bool marksStatementRan() { return marksStatementRan(database()); }

  // Runs the executable as the unprivileged user 65534 with `args`; fails the test when that
  // user cannot be taken on.
  ChildResult runUnprivileged(const std::string& args) {
    EXPECT_FALSE(support::findProgram("setpriv").empty()) << "setpriv is missing (util-linux)";
    const std::string setpriv = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
    ChildResult who = support::runScript(temp_.path(), setpriv + "id -u");
    EXPECT_EQ(who.out, "65534\n") << "cannot run as user 65534: " << who.err;
    return support::runScript(temp_.path(), "exec " + setpriv + "\"$ROWPRESS\" " + args);
  }
};

TEST_F(OutputFileFaultTest, PathsBelowARegularFileOrInProcAreRefusedBeforeTheStatementRuns) {
  writeFile(temp_ / "plain", "a regular file");
  for (const std::string& outFile :
       {temp_ / "plain/report.csv", "/proc/rowpress-" + std::to_string(::getpid()) + ".xls"}) {
    SCOPED_TRACE(outFile);
    ChildResult result = run(outFile, marksJob());
    EXPECT_EQ(result.exitStatus, 4);
    EXPECT_THAT(result.err, HasSubstr("Unable to Open Output File: unable to create: " + outFile));
    EXPECT_EQ(result.out, "");
    EXPECT_FALSE(marksStatementRan());
  }
  EXPECT_EQ(readFile(temp_ / "plain"), "a regular file");
  EXPECT_TRUE(outputFiles().empty());
}

TEST_F(OutputFileFaultTest, ADefaultDirectoryThatCannotBeCreated) {
  writeFile(temp_ / "plain", "a regular file");
  const support::EnvironmentChanges home = {{"ROWPRESS_HOME", temp_ / "plain/rowpress"}};
  // Without a file name there is nowhere to write.
  ChildResult result = support::runRowpress(
      temp_.path(), {"-silent", "-noautoopen", job("select n from seq where n < 3")}, home);
  EXPECT_EQ(result.exitStatus, 4);
  EXPECT_THAT(result.err, HasSubstr("Unable to Open Output File: unable to create:"));
  EXPECT_EQ(result.out, "");

  // A named file does not need the default directory; only the type report is lost.
  result = run(temp_ / "named.csv", job("select n from seq where n < 3", {"CSV=\"1\";"}), home);
  EXPECT_EQ(result.exitStatus, 0) << result.err;
  EXPECT_EQ(readFile(temp_ / "named.csv"), "n,\r\n1,\r\n2,\r\n");
  EXPECT_EQ(result.out, temp_ / "named.csv\n");
}

TEST_F(OutputFileFaultTest, WithoutHomeOrAPasswordEntryNothingGoesToTheWorkingDirectory) {
  EXPECT_FALSE(support::findProgram("unshare").empty()) << "unshare is missing (util-linux)";
  // User 54321 in a user namespace of its own, which the password database does not know,
  // without HOME, as a service may run; the test's files are its own there.
  const std::string cwd = temp_ / "cwd";
  std::filesystem::create_directories(cwd);
  const std::string unknownUser = "cd " + shellQuote(cwd) +
                                  " || exit 90\nexec env -u HOME -u ROWPRESS_HOME unshare -U "
                                  "--map-user=54321 --map-group=54321 ";
  ChildResult who =
      support::runScript(temp_.path(), unknownUser + "sh -c 'id -u; getent passwd 54321'");
  ASSERT_EQ(who.out, "54321\n") << "cannot run as a user without a password entry: " << who.err;
  auto runUnknown = [&](const std::string& args) {
    return support::runScript(temp_.path(), unknownUser + "\"$ROWPRESS\" " + args);
  };
  const std::string noDirectory =
      "There is no default directory: neither ROWPRESS_HOME nor HOME is set and the user has "
      "no home directory in the password database";

  // A default name cannot be made: the run ends before it connects (to a data source that
  // does not exist, where a connect would end with status 2).
  const std::string nowhere = temp_ / "nowhere.DIRU";
  writeFile(nowhere, support::jobFileText("no-such-source", "select 1"));
  ChildResult result = runUnknown("-silent -noautoopen " + shellQuote("-file=" + nowhere));
  EXPECT_EQ(result.exitStatus, 4);
  EXPECT_THAT(result.err, HasSubstr("rowpress: " + noDirectory + "; name the output file.\n"));
  EXPECT_EQ(result.out, "");

  // A named file is written; the column type report has nowhere to go, and the run says so.
  const std::string named = temp_ / "named.csv";
  result = runUnknown("-silent -noautoopen " +
                      shellQuote(job("select n from seq where n < 3", {"CSV=\"1\";"})) + " " +
                      shellQuote("-outfile=" + named));
  EXPECT_EQ(result.exitStatus, 0) << result.err;
  EXPECT_EQ(readFile(named), "n,\r\n1,\r\n2,\r\n");
  EXPECT_EQ(result.out, named + "\n");
  EXPECT_THAT(result.err, HasSubstr("rowpress: " + noDirectory +
                                    "; the column type report was not written.\n"));

  EXPECT_THAT(runUnknown("--help").out, HasSubstr("default directory: none"));
  EXPECT_THAT(listDirectory(cwd), ::testing::IsEmpty());
}

TEST_F(OutputFileFaultTest, AReadOnlyFileSystem) {
  const std::string dir = temp_ / "readonly";
  std::filesystem::create_directories(dir);
  ChildResult result =
      runInOwnMountNamespace("D=" + shellQuote(dir) +
                             "\nmount -t tmpfs -o size=64k tmpfs \"$D\" || exit 90"
                             "\nprintf \"yesterday's report\\r\\n\" > \"$D/report.xls\""
                             "\nmount -o remount,ro \"$D\" || exit 91"
                             "\n\"$ROWPRESS\" -silent -noautoopen " +
                             shellQuote(marksJob()) +
                             " \"-outfile=$D/report.xls\" > \"$D.out\" 2> \"$D.err\" < /dev/null"
                             "\necho $? > \"$D.status\"\nls -a \"$D\" > \"$D.listing\"\ncat "
                             "\"$D/report.xls\" > \"$D.after\"");
  ASSERT_EQ(result.exitStatus, 0) << "mounting a tmpfs failed: " << result.err;
  EXPECT_EQ(readFile(dir + ".status"), "4\n");
  EXPECT_THAT(readFile(dir + ".err"),
              HasSubstr("Unable to Open Output File: unable to create: " + dir + "/report.xls"));
  EXPECT_EQ(readFile(dir + ".out"), "");
  EXPECT_EQ(readFile(dir + ".listing"), ".\n..\nreport.xls\n");
  EXPECT_EQ(readFile(dir + ".after"), kOld);
  EXPECT_FALSE(marksStatementRan());
}

// The fault matrix: every output type against a disk that fills while the rows stream, one
// that fills at the end (when a buffered file is written out, or while the .xlsx workbook is
// assembled from its sheets' temporary files), a disk that reports errors and a file size
// limit. Each run ends with status 4 and the reason, the earlier file stays whole, and nothing
// of the run is left: no temporary file, no work directory of the workbook library, no
// reserved default name.
struct OutputKind {
  std::string extension;
  std::string line;  // the job line that chooses the type
  // At the end: the rows of a file that fits the disk only in part, and the disk's room. A
  // buffered file of 100 to 200 KiB is written out whole when it is closed (the buffer holds
  // 256 KiB) onto 64 KiB; a workbook's sheet of about 650 KiB fits 1 MiB while the rows
  // stream, but not twice, as its assembly needs.
  int endRows;
  std::string endRoom;
};

const std::vector<OutputKind>& outputKinds() {
  static const std::vector<OutputKind> kinds = {
      {"xls", "", 1300, "64k"},
      {"xlsx", "XLSX=\"1\";", 7000, "1m"},
      {"csv", "CSV=\"1\";", 12000, "64k"},
      {"tsv", "TSV=\"1\";", 12000, "64k"},
      {"html", "HTML=\"1\";", 3500, "64k"},
  };
  return kinds;
}

// What a run on a file system of its own left.
struct MountedRun {
  std::string status, out, err, listing, after;
};

class OutputFaultMatrixTest : public OutputFileFaultTest {
 protected:
  // Runs the job on a tmpfs of `room` mounted at a directory of its own that holds the
  // earlier file `name`: written to that name, or, when `name` is empty, to a default name
  // there (the default directory).
  MountedRun runOnTmpfs(const std::string& room, const std::string& name,
                        const std::string& jobArg) {
    const std::string dir = temp_ / ("disk" + std::to_string(++runs_));
    std::filesystem::create_directories(dir);
    std::string script =
        "D=" + shellQuote(dir) + "\nmount -t tmpfs -o size=" + room + " tmpfs \"$D\" || exit 90\n";
    if (name.empty()) {
      script += "ROWPRESS_HOME=\"$D\" \"$ROWPRESS\" -silent -noautoopen " + shellQuote(jobArg);
    } else {
      script += "printf \"yesterday's report\\r\\n\" > \"$D/" + name + "\"\n" +
                "\"$ROWPRESS\" -silent -noautoopen " + shellQuote(jobArg) + " \"-outfile=$D/" +
                name + "\"";
    }
    script +=
        " > \"$D.out\" 2> \"$D.err\" < /dev/null\necho $? > \"$D.status\"\n"
        "ls -a \"$D\" > \"$D.listing\"\n";
    if (!name.empty()) script += "cat \"$D/" + name + "\" > \"$D.after\"\n";
    ChildResult mounted = runInOwnMountNamespace(script);
    EXPECT_EQ(mounted.exitStatus, 0) << "mounting a tmpfs failed: " << mounted.err;
    MountedRun run;
    run.status = readFile(dir + ".status");
    run.out = readFile(dir + ".out");
    run.err = readFile(dir + ".err");
    run.listing = readFile(dir + ".listing");
    if (!name.empty()) run.after = readFile(dir + ".after");
    target_ = dir + "/" + name;
    return run;
  }

  // The run failed writing its file for `reason`, kept the earlier file and left nothing.
  void expectFailedWhole(const MountedRun& run, const std::string& name,
                         const std::string& reason) {
    EXPECT_EQ(run.status, "4\n") << run.err;
    EXPECT_EQ(run.out, "");
    if (name.empty()) {
      // The column type report was written before the rows; the default name is given back.
      EXPECT_THAT(run.err,
                  HasSubstr("Unable to Write Output File: unable to write: " + target_ + "row"));
      EXPECT_THAT(run.err, HasSubstr(" (" + reason));
      EXPECT_EQ(run.listing, ".\n..\nlasttablecolumntypeinfo.csv\n");
    } else {
      EXPECT_THAT(run.err, HasSubstr("Unable to Write Output File: unable to write: " + target_ +
                                     " (" + reason));
      EXPECT_EQ(run.listing, ".\n..\n" + name + "\n");
      EXPECT_EQ(run.after, kOld);
    }
  }

  std::string kindJob(const OutputKind& kind, const std::string& sql) {
    return job(sql, {kind.line});
  }

  int runs_ = 0;
  std::string target_;
};

TEST_F(OutputFaultMatrixTest, ADiskThatFillsWhileTheRowsStream) {
  for (const OutputKind& kind : outputKinds()) {
    for (const std::string& name : {"report." + kind.extension, std::string()}) {
      SCOPED_TRACE(kind.extension + (name.empty() ? " to a default name" : " to " + name));
      const MountedRun run = runOnTmpfs("64k", name, kindJob(kind, "select n, label from seq"));
      expectFailedWhole(run, name, "No space left on device)");
    }
  }
}

TEST_F(OutputFaultMatrixTest, ADiskThatFillsAtTheEnd) {
  for (const OutputKind& kind : outputKinds()) {
    SCOPED_TRACE(kind.extension);
    const std::string name = "report." + kind.extension;
    const MountedRun run = runOnTmpfs(
        kind.endRoom, name,
        kindJob(kind, "select n, label from seq where n <= " + std::to_string(kind.endRows)));
    // The workbook library does not report the writes of its assembly: the read-back finds
    // the rows that are missing.
    expectFailedWhole(run, name,
                      kind.extension == "xlsx"
                          ? "the workbook did not read back whole: Sheet1 holds "
                          : "No space left on device)");
  }
}

// A disk that reports an error when the rows are written (for the workbook, when its sheet's
// file is flushed) or when the finished file is synced to it.
TEST_F(OutputFaultMatrixTest, ADiskThatReportsErrors) {
  struct Fault {
    std::string fault;
    std::string reason;
    std::string sql;
  };
  const std::string many = "select n, label from seq";
  const std::string few = "select n, label from seq where n <= 1000";
  for (const OutputKind& kind : outputKinds()) {
    const std::string name = "report." + kind.extension;
    for (const Fault& f :
         {Fault{kind.extension == "xlsx" ? "EIO:fflush" : "EIO:write", "Input/output error)", many},
          Fault{"EIO:fsync", "Input/output error)", few},
          Fault{"ENOSPC:fsync", "No space left on device)", few}}) {
      SCOPED_TRACE(kind.extension + " " + f.fault);
      const std::string dir = temp_ / ("failing" + std::to_string(++runs_));
      std::filesystem::create_directories(dir);
      target_ = dir + "/" + name;
      writeFile(target_, kOld);
      const char* asan = std::getenv("ASAN_OPTIONS");
      ChildResult result =
          run(target_, kindJob(kind, f.sql),
              {{"LD_PRELOAD", ROWPRESS_IO_FAULT_SHIM},
               {"ROWPRESS_TEST_FAULT", f.fault},
               {"ROWPRESS_TEST_FAULT_FILE", "/." + name + ".rowpress-"},
               // The shim comes before the sanitizers' runtime in the sanitizer build.
               {"ASAN_OPTIONS", std::string(asan ? asan : "") + ":verify_asan_link_order=0"}});
      MountedRun seen{std::to_string(result.exitStatus) + "\n", result.out, result.err, "",
                      readFile(target_)};
      for (const std::string& entry : listDirectory(dir)) seen.listing += entry + "\n";
      seen.listing = ".\n..\n" + seen.listing;
      expectFailedWhole(seen, name, f.reason);
    }
  }
}

// RLIMIT_FSIZE (ulimit -f): a write past the limit fails with EFBIG, whether SIGXFSZ was
// ignored at start or not (rowpress ignores it; its default action would end the run without
// a word and leave the temporary file behind).
TEST_F(OutputFaultMatrixTest, AFileSizeLimit) {
  for (const OutputKind& kind : outputKinds()) {
    for (const std::string trap : {"trap '' XFSZ\n", ""}) {
      SCOPED_TRACE(kind.extension + (trap.empty() ? " SIGXFSZ at its default action" : ""));
      target_ = temp_ / ("limited." + kind.extension);
      writeFile(target_, kOld);
      ChildResult result = support::runScript(
          temp_.path(), trap + "ulimit -f 128\nexec \"$ROWPRESS\" -silent -noautoopen " +
                            shellQuote(kindJob(kind, "select n, label from seq")) + " " +
                            shellQuote("-outfile=" + target_));
      EXPECT_EQ(result.exitStatus, 4);
      EXPECT_EQ(result.signal, 0);
      EXPECT_THAT(result.err, HasSubstr("unable to write: " + target_ + " (File too large)"));
      EXPECT_EQ(result.out, "");
      EXPECT_EQ(readFile(target_), kOld);
      EXPECT_THAT(listDirectory(temp_.path()),
                  ::testing::Not(::testing::Contains(HasSubstr(".rowpress-"))));
    }
  }
}

// A limit on threads (RLIMIT_NPROC, which does not hold for root: the run is user 65534's)
// changes nothing for an unattended run on SQLite: it needs no thread of its own, neither to
// take the stop signals nor to watch -timeout. A signal still removes its temporary file and
// ends it with 128 plus its number.
TEST_F(OutputFileFaultTest, AnUnattendedRunNeedsNoThreadOfItsOwn) {
  EXPECT_FALSE(support::findProgram("prlimit").empty()) << "prlimit is missing (util-linux)";
  EXPECT_FALSE(support::findProgram("setpriv").empty()) << "setpriv is missing (util-linux)";
  const std::string area = temp_ / "limited";
  std::filesystem::create_directories(area);
  ASSERT_EQ(::chmod(temp_.path().c_str(), 0755), 0);
  ASSERT_EQ(::chmod(std::getenv("ODBCSYSINI"), 0755), 0);
  ASSERT_EQ(::chown(area.c_str(), 65534, 65534), 0);
  const std::string target = area + "/report.xlsx";
  const char* asan = std::getenv("ASAN_OPTIONS");
  const support::EnvironmentChanges changes = {
      {"ROWPRESS_HOME", area + "/home"},
      // The leak check at the end needs a thread of its own.
      {"ASAN_OPTIONS", std::string(asan ? asan : "") + ":detect_leaks=0"}};
  auto limited = [&](const std::string& sql) {
    return std::vector<std::string>{support::findProgram("prlimit"),
                                    "--nproc=1:1",
                                    support::findProgram("setpriv"),
                                    "--reuid=65534",
                                    "--regid=65534",
                                    "--clear-groups",
                                    ROWPRESS_BINARY,
                                    "-silent",
                                    "-noautoopen",
                                    "-timeout=60",
                                    job(sql, {"XLSX=\"1\";"}),
                                    "-outfile=" + target};
  };

  support::ChildProcess child(temp_.path());
  ASSERT_TRUE(child.start(limited("select n, label from seq where n <= 1000"), changes));
  ChildResult result = child.wait(std::chrono::seconds(60));
  EXPECT_EQ(result.signal, 0) << result.err;
  EXPECT_EQ(result.exitStatus, 0) << result.err;
  EXPECT_EQ(support::withoutSummary(result.err), "");
  EXPECT_EQ(result.out, target + "\n");
  EXPECT_THAT(listDirectory(area), ElementsAre("home", "report.xlsx"));

  // SIGTERM ends a run that would go on for long, and its files go with it.
  support::ChildProcess endless(temp_.path());
  ASSERT_TRUE(
      endless.start(limited("with recursive c(x) as (select 1 union all select x + 1 from c "
                            "where x < 100000000) select x from c"),
                    changes));
  ASSERT_TRUE(support::waitFor([&] { return listDirectory(area).size() > 2 || !endless.running(); },
                               std::chrono::seconds(60)));
  ASSERT_TRUE(endless.running()) << endless.err();
  endless.kill(SIGTERM);
  result = endless.wait(std::chrono::seconds(60));
  EXPECT_FALSE(result.timedOut) << "SIGTERM did not end the run";
  EXPECT_EQ(result.signal, 0);
  EXPECT_EQ(result.exitStatus, 128 + SIGTERM) << result.err;
  EXPECT_THAT(listDirectory(area), ElementsAre("home", "report.xlsx"));
}

// Someone who may write the target's directory swaps the temporary file's name for a link to
// another file while the workbook is assembled (a pause point holds the run there). The
// workbook library reaches the file through the run's descriptor, so the link's file stays as
// it was, and the link is not published either. The library keeps its own temporary files in
// the run's work directory, which only the run's user may enter and which the run holds
// locked. Once the library's descriptor of the file has closed (and the read-back's), the run
// still holds a lock of the kind that flock becomes where it is emulated with fcntl locks, as
// on NFS.
TEST_F(OutputFileFaultTest, ATemporaryNameSwappedForALinkDuringTheRunLeadsNowhere) {
  const std::string dir = temp_ / "shared";
  std::filesystem::create_directories(dir);
  const std::string target = dir + "/report.xlsx";
  writeFile(target, kOld);
  const std::string victim = temp_ / "victim";
  writeFile(victim, "not rowpress's to write");
  const std::vector<std::string> args = {
      "-silent", "-noautoopen", job("select n, label from seq where n <= 1000", {"XLSX=\"1\";"}),
      "-outfile=" + target};
  auto leftovers = [&dir](std::string& part, std::string& work) {
    for (const std::string& name : listDirectory(dir)) {
      if (name.ends_with(".part")) part = dir + "/" + name;
      if (name.ends_with(".d")) work = dir + "/" + name;
    }
  };

  std::string part, work;
  {
    support::PausePoint assembling(temp_.path(), kPauseAssembling);
    support::ChildProcess child(temp_.path());
    ASSERT_TRUE(child.startRowpress(args, assembling.environment()));
    ASSERT_TRUE(assembling.waitUntilReached(child)) << child.wait().err;
    leftovers(part, work);
    ASSERT_THAT(part,
                ::testing::MatchesRegex(".*/\\.report\\.xlsx\\.rowpress-[0-9A-Za-z]{12}\\.part"));
    EXPECT_EQ(work, part.substr(0, part.size() - 5) + ".d");
    struct stat st;
    ASSERT_EQ(::lstat(work.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 07777, 0700u);
    const int workFd = ::open(work.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(workFd, 0);
    EXPECT_NE(::flock(workFd, LOCK_EX | LOCK_NB), 0) << "the work directory is not locked";
    ::close(workFd);
    ASSERT_EQ(::rename(part.c_str(), (dir + "/moved-away").c_str()), 0);
    ASSERT_EQ(::symlink(victim.c_str(), part.c_str()), 0);
    assembling.release();

    ChildResult result = child.wait(std::chrono::seconds(60));
    EXPECT_EQ(result.exitStatus, 4) << result.err;
    EXPECT_THAT(result.err, HasSubstr("unable to write: " + target +
                                      " (The temporary file was replaced during the run)"));
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(readFile(victim), "not rowpress's to write");
    EXPECT_FALSE(std::filesystem::is_symlink(target));
    EXPECT_EQ(readFile(target), kOld);
    // What is left is what the other user put there: the run's work directory is gone.
    EXPECT_THAT(listDirectory(dir), ElementsAre(std::filesystem::path(part).filename().string(),
                                                "moved-away", "report.xlsx"));
  }

  // A run left alone, held just before it publishes: its file is locked for the whole file.
  std::filesystem::remove(part);
  std::filesystem::remove(dir + "/moved-away");
  support::PausePoint keeping(temp_.path(), kPauseBeforeKeeping);
  support::ChildProcess child(temp_.path());
  ASSERT_TRUE(child.startRowpress(args, keeping.environment()));
  ASSERT_TRUE(keeping.waitUntilReached(child)) << child.wait().err;
  part.clear();
  leftovers(part, work);
  const int fd = ::open(part.c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(fd, 0) << part;
  struct flock whole {};
  whole.l_type = F_WRLCK;
  whole.l_whence = SEEK_SET;
  ASSERT_EQ(::fcntl(fd, F_GETLK, &whole), 0);
  EXPECT_EQ(whole.l_type, F_WRLCK) << "no lock is held on the run's file";
  ::close(fd);
  keeping.release();
  ChildResult result = child.wait(std::chrono::seconds(60));
  EXPECT_EQ(result.exitStatus, 0) << result.err;
  EXPECT_THAT(listDirectory(dir), ElementsAre("report.xlsx"));
}

// A row taken out of the assembled workbook where the run is about to read it back (through
// its own descriptor, the file rewritten in place), or its workbook part made malformed: the
// read-back finds it, and nothing is published.
TEST_F(OutputFileFaultTest, AWorkbookChangedBeforeTheReadBackIsFound) {
  ASSERT_EQ(::access("/usr/bin/python3", X_OK), 0) << "/usr/bin/python3 is missing (python3)";
  const std::string dir = temp_ / "readback";
  std::filesystem::create_directories(dir);
  const std::string target = dir + "/report.xlsx";
  writeFile(target, kOld);
  // Rewrites the workbook PATH in place: CHANGE "row" drops the sheet's second data row,
  // "xml" cuts the end tag off the workbook part.
  const std::string script = temp_ / "change.py";
  writeFile(script, R"(import io, re, sys, zipfile
path, change = sys.argv[1], sys.argv[2]
src = zipfile.ZipFile(io.BytesIO(open(path, 'rb').read()))
out = io.BytesIO()
with zipfile.ZipFile(out, 'w', zipfile.ZIP_DEFLATED) as dst:
    for info in src.infolist():
        body = src.read(info.filename)
        if change == 'row' and info.filename == 'xl/worksheets/sheet1.xml':
            body = re.sub(rb'<row r="3".*?</row>', b'', body, count=1, flags=re.S)
        if change == 'xml' and info.filename == 'xl/workbook.xml':
            body = body.replace(b'</workbook>', b'')
        dst.writestr(info, body)
with open(path, 'r+b') as f:
    f.write(out.getvalue())
    f.truncate()
)");
  const std::string jobArg = job("select n, label from seq where n <= 10", {"XLSX=\"1\";"});
  const struct {
    const char* change;
    const char* found;
  } changes[] = {{"row", "Sheet1 holds 10 of 11 rows"},
                 {"xml", "xl/workbook.xml is not well-formed XML"}};
  for (const auto& c : changes) {
    SCOPED_TRACE(c.change);
    support::PausePoint readBack(temp_.path(), kPauseReadBack);
    support::ChildProcess child(temp_.path());
    ASSERT_TRUE(child.startRowpress({"-silent", "-noautoopen", jobArg, "-outfile=" + target},
                                    readBack.environment()));
    ASSERT_TRUE(readBack.waitUntilReached(child)) << child.err();
    std::string part;
    for (const std::string& name : listDirectory(dir)) {
      if (name.ends_with(".part")) part = dir + "/" + name;
    }
    ASSERT_FALSE(part.empty());
    const ChildResult changed =
        support::runProgram({"/usr/bin/python3", script, part, c.change}, std::chrono::seconds(60));
    ASSERT_EQ(changed.exitStatus, 0) << changed.err;
    readBack.release();
    ChildResult result = child.wait(std::chrono::seconds(60));
    EXPECT_EQ(result.exitStatus, 4) << result.err;
    EXPECT_THAT(result.err,
                HasSubstr(std::string("the workbook did not read back whole: ") + c.found));
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(readFile(target), kOld);
    EXPECT_THAT(listDirectory(dir), ElementsAre("report.xlsx"));
  }
}

// A directory, a file with a second name (replacing it would split the two) and a FIFO are
// not replaced: the run stops before the statement.
TEST_F(OutputFileFaultTest, TargetsThatCannotBeReplacedStopTheRunBeforeTheStatement) {
  const std::string adir = temp_ / "adir";
  std::filesystem::create_directories(adir);
  writeFile(adir + "/inside", "kept");
  const std::string linked = temp_ / "linked.csv";
  writeFile(linked, kOld);
  ASSERT_EQ(::link(linked.c_str(), (temp_ / "second-name.csv").c_str()), 0);
  const std::string fifo = temp_ / "fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
  struct Case {
    std::string target;
    std::string reason;
  };
  for (const Case& c : {Case{adir, "Is a directory"},
                        Case{linked, "File has 2 hard links; replacing it would split them"},
                        Case{fifo, "Not a regular file"}}) {
    SCOPED_TRACE(c.target);
    ChildResult result = run(c.target, marksJob());
    EXPECT_EQ(result.exitStatus, 4);
    EXPECT_THAT(result.err,
                HasSubstr("Unable to Open Output File: unable to create: " + c.target +
                          "\nrowpress: unable to create: " + c.target + " (" + c.reason + ")\n"));
    EXPECT_EQ(result.out, "");
    EXPECT_FALSE(marksStatementRan());
  }
  EXPECT_THAT(listDirectory(adir), ElementsAre("inside"));
  EXPECT_EQ(readFile(temp_ / "second-name.csv"), kOld);
  EXPECT_THAT(listDirectory(temp_.path()),
              ::testing::Not(::testing::Contains(HasSubstr(".rowpress-"))));
}

// No two files of a run are one file, links followed and hard links counted: a sheet's file
// that is a link to another sheet's, a manifest that is a link to (or a second name of) the
// output, an output that is the type report. Each run is refused before it connects, naming
// both files; nothing is replaced.
TEST_F(OutputFileFaultTest, TwoFilesOfARunThatAreOneFileStopItBeforeItConnects) {
  const std::string dir = temp_ / "same";
  std::filesystem::create_directories(dir);
  const auto reportJob = [this](const std::string& firstSql) {
    const std::string file = temp_ / "report.DIRU";
    writeFile(file, support::withCrLf("Database=\"rowtest\";\nSheet=\"s1\";\nSQL=\"" + firstSql +
                                      "\";\nSheet=\"s2\";\nSQL=\"select n from seq where n < 3\";\n"
                                      "CSV=\"1\";\n"));
    return "-file=" + file;
  };
  const std::string report = reportJob("update marks set n = n + 1");
  const std::string r1 = dir + "/r-s1.csv", r2 = dir + "/r-s2.csv", x = dir + "/x.csv";
  const std::string manifest = x + ".manifest.json";
  const std::string typeReport = home() + "/lasttablecolumntypeinfo.csv";
  struct Case {
    std::string what;
    std::function<void()> make;
    std::vector<std::string> args;
    std::string path, other;
  };
  const std::vector<std::string> csvJob = {job("update marks set n = n + 1", {"CSV=\"1\";"}),
                                           "-outfile=" + x};
  const Case cases[] = {
      {"a sheet's file links to the next one's",
       [&] { ASSERT_EQ(::symlink("r-s2.csv", r1.c_str()), 0); },
       {report, "-outfile=" + dir + "/r.csv"},
       r2,
       r1},
      {"... which exists",
       [&] {
         writeFile(r2, kOld);
         ASSERT_EQ(::symlink("r-s2.csv", r1.c_str()), 0);
       },
       {report, "-outfile=" + dir + "/r.csv"},
       r2,
       r1},
      {"the manifest links to the output",
       [&] { ASSERT_EQ(::symlink("x.csv", manifest.c_str()), 0); },
       {"-manifest", csvJob[0], csvJob[1]},
       manifest,
       x},
      {"the manifest is a second name of the output",
       [&] {
         writeFile(x, kOld);
         ASSERT_EQ(::link(x.c_str(), manifest.c_str()), 0);
       },
       {"-manifest", csvJob[0], csvJob[1]},
       manifest,
       x},
      {"the output links to the type report",
       [&] {
         std::filesystem::create_directories(home());
         writeFile(typeReport, kOld);
         ASSERT_EQ(::symlink(typeReport.c_str(), x.c_str()), 0);
       },
       csvJob, typeReport, x},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    c.make();
    std::vector<std::string> args = {"-silent", "-noautoopen"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    ChildResult result = support::runRowpress(temp_.path(), args);
    EXPECT_EQ(result.exitStatus, 4) << result.err;
    EXPECT_THAT(result.err,
                HasSubstr("rowpress: unable to create: " + c.path + " (it is the same file as " +
                          c.other + ", another file of this run)\n"));
    EXPECT_EQ(result.out, "");
    EXPECT_FALSE(marksStatementRan());
  }
  EXPECT_EQ(readFile(typeReport), kOld);

  // A link made while the run writes is found when it publishes: nothing is replaced.
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  writeFile(r2, kOld);
  support::PausePoint keeping(temp_.path(), kPauseBeforeKeeping);
  support::ChildProcess child(temp_.path());
  ASSERT_TRUE(child.startRowpress(
      {"-silent", "-noautoopen", reportJob("select 1 as one"), "-outfile=" + dir + "/r.csv"},
      keeping.environment()));
  ASSERT_TRUE(keeping.waitUntilReached(child)) << child.err();
  ASSERT_EQ(::symlink("r-s2.csv", r1.c_str()), 0);
  keeping.releaseUntilEnded(child);
  ChildResult result = child.wait();
  EXPECT_EQ(result.exitStatus, 4) << result.err;
  EXPECT_THAT(result.err, HasSubstr("unable to write: " + r2 + " (it is the same file as " + r1 +
                                    ", another file of this run)"));
  EXPECT_EQ(readFile(r2), kOld);
  EXPECT_TRUE(std::filesystem::is_symlink(r1));
  EXPECT_THAT(listDirectory(dir), ElementsAre("r-s1.csv", "r-s2.csv"));
}

// In a sticky directory that anyone may write to, a file of another user may have been
// planted there for the run to write into: root too replaces only its own files there.
TEST_F(OutputFileFaultTest, AFilePlantedInAStickyDirectoryIsRefusedForRootToo) {
  const std::string shared = temp_ / "shared";
  std::filesystem::create_directories(shared);
  ASSERT_EQ(::chmod(shared.c_str(), 01777), 0);
  const std::string planted = shared + "/report.csv";
  writeFile(planted, kOld);
  ASSERT_EQ(::chown(planted.c_str(), 65534, 65534), 0);
  ASSERT_EQ(::chmod(planted.c_str(), 0666), 0);
  ChildResult result = run(planted, marksJob());
  EXPECT_EQ(result.exitStatus, 4);
  EXPECT_THAT(result.err, HasSubstr("rowpress: unable to create: " + planted +
                                    " (File belongs to another user in a sticky directory)\n"));
  EXPECT_EQ(result.out, "");
  EXPECT_FALSE(marksStatementRan());
  EXPECT_EQ(readFile(planted), kOld);
  EXPECT_THAT(listDirectory(shared), ElementsAre("report.csv"));

  // Root's own file there is replaced like any other.
  const std::string own = shared + "/own.csv";
  writeFile(own, kOld);
  result = run(own, job("select n from seq where n < 3", {"CSV=\"1\";"}));
  EXPECT_EQ(result.exitStatus, 0) << result.err;
  EXPECT_EQ(readFile(own), "n,\r\n1,\r\n2,\r\n");
}

// As a user whom permissions stop, the run stops before the statement for: a file the user
// may not write (in a directory the user may write); a file of someone else in a sticky
// directory (which the rename at the end could not replace), or in a sticky directory of the
// user's own that anyone may write to (where it may have been planted); a file of root that
// its access control list lets the user write, whose owner the user's new file could not
// keep; and a file of the user's own whose access control list names a group the user is not
// in, which the new file could not keep either.
TEST_F(OutputFileFaultTest, AFileTheUserMayNotReplaceStopsTheRunBeforeTheStatement) {
  ASSERT_FALSE(support::findProgram("setfacl").empty()) << "setfacl is missing (acl)";
  // The user's corner: a database, a default directory and the targets, reachable by it.
  const std::string area = temp_ / "user";
  std::filesystem::create_directories(area + "/sticky");
  std::filesystem::create_directories(area + "/own-sticky");
  ASSERT_EQ(::chmod(temp_.path().c_str(), 0755), 0);
  ASSERT_EQ(::chmod(std::getenv("ODBCSYSINI"), 0755), 0);
  const std::string db = area + "/user.db";
  addDataSource("usertest", db);
  execute("create table marks (n integer)", "usertest");
  execute("insert into marks values (0)", "usertest");
  ASSERT_EQ(::chown(area.c_str(), 65534, 65534), 0);
  ASSERT_EQ(::chown(db.c_str(), 65534, 65534), 0);
  ASSERT_EQ(::chmod((area + "/sticky").c_str(), 01777), 0);
  ASSERT_EQ(::chown((area + "/own-sticky").c_str(), 65534, 65534), 0);
  ASSERT_EQ(::chmod((area + "/own-sticky").c_str(), 01777), 0);
  const std::string readOnly = area + "/read-only.csv";
  const std::string theirs = area + "/sticky/theirs.csv";
  const std::string plantedForMe = area + "/own-sticky/planted.csv";
  const std::string rootsShared = area + "/roots-shared.csv";
  const std::string groupList = area + "/group-list.csv";
  for (const std::string& file : {readOnly, theirs, plantedForMe, rootsShared, groupList}) {
    writeFile(file, kOld);
  }
  ASSERT_EQ(::chmod(readOnly.c_str(), 0644), 0);
  ASSERT_EQ(::chmod(theirs.c_str(), 0666), 0);  // writable, but not the user's to replace
  ASSERT_EQ(::chown(plantedForMe.c_str(), 65533, 65533), 0);
  ASSERT_EQ(::chmod(plantedForMe.c_str(), 0666), 0);
  ASSERT_EQ(support::runShell("setfacl -m u:65534:rw " + shellQuote(rootsShared)), 0);
  ASSERT_EQ(::chown(groupList.c_str(), 65534, 0), 0);
  ASSERT_EQ(support::runShell("setfacl -m g::rw,u:65533:r " + shellQuote(groupList)), 0);
  const std::string jobFile = area + "/job.DIRU";
  writeFile(jobFile,
            support::jobFileText("usertest", "update marks set n = n + 1", {"CSV=\"1\";"}));

  for (const auto& [target, reason] :
       {std::pair<std::string, std::string>{readOnly, "Permission denied"},
        {theirs, "File belongs to another user in a sticky directory"},
        {plantedForMe, "File belongs to another user in a sticky directory"},
        {rootsShared,
         "File belongs to another user (uid 0); the new file could not keep that owner"},
        {groupList,
         "File has an access control list for its group (gid 0), which the new file could not "
         "keep"}}) {
    SCOPED_TRACE(target);
    ChildResult result = runUnprivileged("-silent -noautoopen " + shellQuote("-file=" + jobFile) +
                                         " " + shellQuote("-outfile=" + target));
    EXPECT_EQ(result.exitStatus, 4);
    EXPECT_THAT(result.err,
                HasSubstr("Unable to Open Output File: unable to create: " + target +
                          "\nrowpress: unable to create: " + target + " (" + reason + ")\n"));
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(readFile(target), kOld);
    EXPECT_FALSE(marksStatementRan(db));
  }
  EXPECT_THAT(listDirectory(area + "/sticky"), ElementsAre("theirs.csv"));
  EXPECT_THAT(listDirectory(area + "/own-sticky"), ElementsAre("planted.csv"));

  // The same user replaces a file of its own there, so the refusals above are not for want
  // of the database or the directories.
  const std::string own = area + "/sticky/own.csv";
  ChildResult result = runUnprivileged("-silent -noautoopen " + shellQuote("-file=" + jobFile) +
                                       " " + shellQuote("-outfile=" + own));
  EXPECT_EQ(result.exitStatus, 1) << result.err;  // an UPDATE: no rows
  EXPECT_TRUE(marksStatementRan(db));
}

// A report's files are all on disk before the first takes its name. When a later one cannot
// take its name (here a directory took it while the run was held), the run ends with status 4
// and says which files it had already replaced; nothing of the run is left behind.
TEST_F(OutputFileFaultTest, AReportWhoseSecondFileCannotBeRenamedNamesTheFirstItReplaced) {
  const std::string dir = temp_ / "report";
  std::filesystem::create_directories(dir);
  writeFile(dir + "/month-A.csv", kOld);
  const std::string jobFile = temp_ / "report.DIRU";
  writeFile(jobFile, support::withCrLf("Database=\"rowtest\";\n"
                                       "Sheet=\"A\";\nSQL=\"select n from seq where n < 3\";\n"
                                       "Sheet=\"B\";\nSQL=\"select label from seq where n < 3\";\n"
                                       "CSV=\"1\";\n"));
  support::PausePoint keeping(temp_.path(), kPauseBeforeKeeping);
  support::ChildProcess child(temp_.path());
  ASSERT_TRUE(child.startRowpress(
      {"-silent", "-noautoopen", "-file=" + jobFile, "-outfile=" + dir + "/month.csv"},
      keeping.environment()));
  ASSERT_TRUE(keeping.waitUntilReached(child)) << child.err();
  std::filesystem::create_directories(dir + "/month-B.csv/inside");
  // The second file's hold is let go too, whenever the run reaches it.
  keeping.releaseUntilEnded(child);

  ChildResult result = child.wait();
  EXPECT_EQ(result.exitStatus, 4);
  EXPECT_THAT(result.err, HasSubstr("unable to write: " + dir + "/month-B.csv (Is a directory)"));
  EXPECT_THAT(result.err, HasSubstr("already replaced: " + dir + "/month-A.csv"));
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(readFile(dir + "/month-A.csv"), support::withCrLf("n,\n1,\n2,\n"));
  EXPECT_THAT(listDirectory(dir), ElementsAre("month-A.csv", "month-B.csv"));
  EXPECT_THAT(listDirectory(dir + "/month-B.csv"), ElementsAre("inside"));
}

// The manifest cannot take its name once the output has taken its own (its temporary name was
// taken by another file while the run was held): the earlier manifest, which describes the
// replaced file, is gone rather than left beside the new one, and the run says so.
TEST_F(OutputFileFaultTest, AManifestThatCannotTakeItsNameLeavesNoEarlierOneBehind) {
  const std::string dir = temp_ / "manifested";
  std::filesystem::create_directories(dir);
  const std::string out = dir + "/x.csv";
  const std::string manifest = out + ".manifest.json";
  writeFile(out, kOld);
  writeFile(manifest, "{\"the earlier\": \"manifest\"}");
  support::PausePoint keeping(temp_.path(), kPauseBeforeKeeping);
  support::ChildProcess child(temp_.path());
  ASSERT_TRUE(
      child.startRowpress({"-silent", "-noautoopen", "-manifest",
                           job("select n from seq where n < 3", {"CSV=\"1\";"}), "-outfile=" + out},
                          keeping.environment()));
  ASSERT_TRUE(keeping.waitUntilReached(child)) << child.err();
  for (const std::string& name : listDirectory(dir)) {
    if (!name.starts_with(".x.csv.manifest.json.rowpress-")) continue;
    ASSERT_EQ(::rename((dir + "/" + name).c_str(), (temp_ / "moved-away").c_str()), 0);
    writeFile(dir + "/" + name, "another file");
  }
  keeping.releaseUntilEnded(child);
  ChildResult result = child.wait();
  EXPECT_EQ(result.exitStatus, 4);
  EXPECT_THAT(result.err, HasSubstr("unable to write: " + manifest + " (" + kTemporaryReplaced +
                                    "); already replaced: " + out +
                                    "; the earlier manifest was removed: " + manifest + "\n"));
  EXPECT_EQ(readFile(out), support::withCrLf("n,\n1,\n2,\n"));
  EXPECT_FALSE(fileExists(manifest));
}

// The target's directory is moved away while the run writes, and another directory takes
// its name: the file is published into neither. Its temporary file, written whole, is
// removed where it is, in the moved directory, and the run ends with status 4.
TEST_F(OutputFileFaultTest, ADirectoryMovedDuringTheRunGetsNoFileAndKeepsNoLeftover) {
  const std::string rep = temp_ / "rep";
  const std::string moved = temp_ / "rep.old";
  std::filesystem::create_directories(rep);
  writeFile(rep + "/out.csv", kOld);
  support::PausePoint beforeKeeping(temp_.path(), "keep");
  support::ChildProcess child(temp_.path());
  ASSERT_TRUE(child.startRowpress(
      {"-silent", "-noautoopen", job("select n, label from seq where n < 100", {"CSV=\"1\";"}),
       "-outfile=" + rep + "/out.csv"},
      beforeKeeping.environment()));
  ASSERT_TRUE(beforeKeeping.waitUntilReached(child)) << "the run never reached the point where "
                                                        "it keeps its file: "
                                                     << child.err();
  EXPECT_THAT(listDirectory(rep),
              ElementsAre(::testing::MatchesRegex("\\.out\\.csv\\.rowpress-[0-9A-Za-z]{12}\\.part"),
                          "out.csv"));
  std::filesystem::rename(rep, moved);
  std::filesystem::create_directories(rep);
  beforeKeeping.release();

  ChildResult result = child.wait();
  EXPECT_EQ(result.exitStatus, 4);
  EXPECT_THAT(result.err,
              HasSubstr("unable to write: " + rep + "/out.csv (" + kDirectoryMoved + ")\n"));
  EXPECT_EQ(result.out, "");
  EXPECT_THAT(listDirectory(moved), ElementsAre("out.csv"));
  EXPECT_EQ(readFile(moved + "/out.csv"), kOld);
  EXPECT_THAT(listDirectory(rep), ::testing::IsEmpty());
}

// A name as long as a file name can be (255 bytes) is written like any other, although its
// temporary name beside it would be longer than that; a leftover under such a name is found.
TEST_F(OutputFileFaultTest, ATargetNameOfTheLongestFileNameIsWritten) {
  const std::string dir = temp_ / "long";
  std::filesystem::create_directories(dir);
  std::string name;
  while (name.size() < 253) name += "é";
  name += "x";  // 255 bytes
  ASSERT_EQ(name.size(), 255u);
  const std::string dead = temporaryNameFor(dir + "/" + name, "000099999999");
  EXPECT_LE(dead.size() - dir.size() - 1, 255u);
  writeFile(dead, "left by a run that died");
  ASSERT_TRUE(fileExists(dead));
  support::setModifiedAgo(dead, 10 * 60);

  // The path limit is 255 bytes, so the name is given relative to the directory.
  ChildResult result = support::runScript(
      temp_.path(), "cd " + shellQuote(dir) + " && exec \"$ROWPRESS\" -silent -noautoopen " +
                        shellQuote(job("select n from seq where n < 3", {"CSV=\"1\";"})) + " " +
                        shellQuote("-outfile=" + name));
  EXPECT_EQ(result.exitStatus, 0) << result.err;
  EXPECT_EQ(result.out, name + "\n");
  EXPECT_EQ(readFile(dir + "/" + name), "n,\r\n1,\r\n2,\r\n");
  EXPECT_THAT(listDirectory(dir), ElementsAre(name));
}

}  // namespace
}  // namespace rowpress
