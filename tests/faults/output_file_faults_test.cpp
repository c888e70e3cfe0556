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
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "job/atomic_file.h"
#include "tests/support/child_process.h"
#include "tests/support/odbc_fixture.h"

namespace rowpress {
namespace {

using testing::ChildResult;
using ::testing::ElementsAre;
using testing::fileExists;
using ::testing::HasSubstr;
using testing::listDirectory;
using testing::readFile;
using testing::shellQuote;
using testing::writeFile;

constexpr char kOld[] = "yesterday's report\r\n";

class OutputFileFaultTest : public testing::OdbcTest {
 protected:
  void SetUp() override {
    OdbcTest::SetUp();
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
    writeFile(file, testing::jobFileText("rowtest", sql, lines));
    return "-file=" + file;
  }

  ChildResult run(const std::string& outFile, const std::string& jobArg,
                  const testing::EnvironmentChanges& changes = {}) {
    return testing::runRowpress(temp_.path(),
                                {"-silent", "-noautoopen", jobArg, "-outfile=" + outFile}, changes);
  }

  // Runs `script` in a mount namespace of its own, as root can.
  ChildResult runInOwnMountNamespace(const std::string& script) {
    EXPECT_FALSE(testing::findProgram("unshare").empty()) << "unshare is missing (util-linux)";
    EXPECT_FALSE(testing::findProgram("mount").empty()) << "mount is missing";
    const std::string inner = temp_ / "namespace.sh";
    writeFile(inner, "set -u\n" + script + "\n");
    return testing::runScript(temp_.path(),
                              "export ROWPRESS\nexec unshare -m /bin/sh " + shellQuote(inner));
  }

  // The statement of the `marks` job ran when n is no longer 0.
  std::string marksJob() { return job("update marks set n = n + 1"); }
  bool marksStatementRan(const std::string& database) {
    const std::string check = temp_ / "marks.txt";
    testing::runShell("sqlite3 " + shellQuote(database) + " 'select n from marks' > " +
                      shellQuote(check));
    return readFile(check) != "0\n";
  }
  bool marksStatementRan() { return marksStatementRan(database()); }

  // Runs the executable as the unprivileged user 65534 with `args`; fails the test when that
  // user cannot be taken on.
  ChildResult runUnprivileged(const std::string& args) {
    EXPECT_FALSE(testing::findProgram("setpriv").empty()) << "setpriv is missing (util-linux)";
    const std::string setpriv = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
    ChildResult who = testing::runScript(temp_.path(), setpriv + "id -u");
    EXPECT_EQ(who.out, "65534\n") << "cannot run as user 65534: " << who.err;
    return testing::runScript(temp_.path(), "exec " + setpriv + "\"$ROWPRESS\" " + args);
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
  const testing::EnvironmentChanges home = {{"ROWPRESS_HOME", temp_ / "plain/rowpress"}};
  // Without a file name there is nowhere to write.
  ChildResult result = testing::runRowpress(
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
  EXPECT_FALSE(testing::findProgram("unshare").empty()) << "unshare is missing (util-linux)";
  // User 54321 in a user namespace of its own, which the password database does not know,
  // without HOME, as a service may run; the test's files are its own there.
  const std::string cwd = temp_ / "cwd";
  std::filesystem::create_directories(cwd);
  const std::string unknownUser = "cd " + shellQuote(cwd) +
                                  " || exit 90\nexec env -u HOME -u ROWPRESS_HOME unshare -U "
                                  "--map-user=54321 --map-group=54321 ";
  ChildResult who =
      testing::runScript(temp_.path(), unknownUser + "sh -c 'id -u; getent passwd 54321'");
  ASSERT_EQ(who.out, "54321\n") << "cannot run as a user without a password entry: " << who.err;
  auto runUnknown = [&](const std::string& args) {
    return testing::runScript(temp_.path(), unknownUser + "\"$ROWPRESS\" " + args);
  };
  const std::string noDirectory =
      "There is no default directory: neither ROWPRESS_HOME nor HOME is set and the user has "
      "no home directory in the password database";

  // A default name cannot be made: the run ends before it connects (to a data source that
  // does not exist, where a connect would end with status 2).
  const std::string nowhere = temp_ / "nowhere.DIRU";
  writeFile(nowhere, testing::jobFileText("no-such-source", "select 1"));
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

// A full file system: the writes fail with ENOSPC, in the middle of the rows (CSV, several
// MiB) or only when the last buffered lines reach the disk (a workbook of about 150 KiB).
TEST_F(OutputFileFaultTest, AFullFileSystemKeepsTheOldFileAndLeavesNoTemporaryFile) {
  struct Case {
    const char* name;
    const char* sql;
    const char* type;
  };
  for (const Case& c : {Case{"report.csv", "select n, label from seq", "CSV=\"1\";"},
                        Case{"report.xls", "select n, label from seq where n <= 1500", ""}}) {
    SCOPED_TRACE(c.name);
    const std::string dir = temp_ / (std::string("full-") + c.name);
    std::filesystem::create_directories(dir);
    const std::string target = dir + "/" + c.name;
    ChildResult result = runInOwnMountNamespace(
        "D=" + shellQuote(dir) +
        "\nmount -t tmpfs -o size=64k tmpfs \"$D\" || exit 90"
        "\nprintf \"yesterday's report\\r\\n\" > " +
        shellQuote(target) + "\n\"$ROWPRESS\" -silent -noautoopen " +
        shellQuote(job(c.sql, {c.type})) + " " + shellQuote("-outfile=" + target) +
        " > \"$D.out\" 2> \"$D.err\" < /dev/null"
        "\necho $? > \"$D.status\"\nls -a \"$D\" > \"$D.listing\"\ncat " +
        shellQuote(target) + " > \"$D.after\"");
    ASSERT_EQ(result.exitStatus, 0) << "mounting a tmpfs failed: " << result.err;
    EXPECT_EQ(readFile(dir + ".status"), "4\n");
    EXPECT_THAT(readFile(dir + ".err"), HasSubstr("Unable to Write Output File: unable to write: " +
                                                  target + " (No space left on device)"));
    EXPECT_EQ(readFile(dir + ".out"), "");
    EXPECT_EQ(readFile(dir + ".listing"), std::string(".\n..\n") + c.name + "\n");
    EXPECT_EQ(readFile(dir + ".after"), kOld);
  }
}

// RLIMIT_FSIZE (ulimit -f): a write past the limit fails with EFBIG, whether SIGXFSZ was
// ignored at start or not (rowpress ignores it; its default action would end the run without
// a word and leave the temporary file behind).
TEST_F(OutputFileFaultTest, AFileSizeLimitKeepsTheOldFile) {
  const std::string target = temp_ / "limited.csv";
  writeFile(target, kOld);
  for (const std::string trap : {"trap '' XFSZ\n", ""}) {
    SCOPED_TRACE(trap.empty() ? "SIGXFSZ at its default action" : "SIGXFSZ ignored");
    ChildResult result = testing::runScript(
        temp_.path(), trap + "ulimit -f 128\nexec \"$ROWPRESS\" -silent -noautoopen " +
                          shellQuote(job("select n, label from seq", {"TSV=\"1\";"})) + " " +
                          shellQuote("-outfile=" + target));
    EXPECT_EQ(result.exitStatus, 4);
    EXPECT_EQ(result.signal, 0);
    EXPECT_THAT(result.err, HasSubstr("unable to write: " + target + " (File too large)"));
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(readFile(target), kOld);
    EXPECT_THAT(listDirectory(temp_.path()),
                ::testing::Not(::testing::Contains(HasSubstr(".rowpress-"))));
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
  ASSERT_FALSE(testing::findProgram("setfacl").empty()) << "setfacl is missing (acl)";
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
  ASSERT_EQ(testing::runShell("setfacl -m u:65534:rw " + shellQuote(rootsShared)), 0);
  ASSERT_EQ(::chown(groupList.c_str(), 65534, 0), 0);
  ASSERT_EQ(testing::runShell("setfacl -m g::rw,u:65533:r " + shellQuote(groupList)), 0);
  const std::string jobFile = area + "/job.DIRU";
  writeFile(jobFile,
            testing::jobFileText("usertest", "update marks set n = n + 1", {"CSV=\"1\";"}));

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

// The target's directory is moved away while the run writes, and another directory takes
// its name: the file is published into neither. Its temporary file, written whole, is
// removed where it is, in the moved directory, and the run ends with status 4.
TEST_F(OutputFileFaultTest, ADirectoryMovedDuringTheRunGetsNoFileAndKeepsNoLeftover) {
  const std::string rep = temp_ / "rep";
  const std::string moved = temp_ / "rep.old";
  std::filesystem::create_directories(rep);
  writeFile(rep + "/out.csv", kOld);
  testing::PausePoint beforeKeeping(temp_.path(), "keep");
  testing::ChildProcess child(temp_.path());
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
  testing::setModifiedAgo(dead, 10 * 60);

  // The path limit is 255 bytes, so the name is given relative to the directory.
  ChildResult result = testing::runScript(
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
