#include "export/output_target.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/odbc_fixture.h"

namespace rowpress {
namespace {

using support::fileExists;
using support::listDirectory;
using support::readFile;
using support::TempDir;
using support::writeFile;
using ::testing::ElementsAre;

TEST(OutputTarget, WritesBesideTheTargetAndReplacesItOnlyWhenKept) {
  TempDir dir;
  const std::string target = dir / "report.csv";
  writeFile(target, "old");
  {
    OutputTarget out;
    ASSERT_TRUE(out.open(target));
    EXPECT_THAT(
        out.temporaryPath(),
        ::testing::MatchesRegex(dir.path() + "/\\.report\\.csv\\.rowpress-[0-9A-Za-z]{12}\\.part"));
    // The run holds the lock on its temporary file for as long as it writes it.
    EXPECT_FALSE(support::lockCanBeTaken(out.temporaryPath()));
    out.file().write("new\n");
    out.discard();
  }
  EXPECT_EQ(readFile(target), "old");
  EXPECT_THAT(listDirectory(dir.path()), ElementsAre("report.csv"));
  {
    OutputTarget out;
    ASSERT_TRUE(out.open(target));
    out.file().write("new\n");
  }  // dropped without keep(): as if the run failed
  EXPECT_EQ(readFile(target), "old");
  OutputTarget out;
  ASSERT_TRUE(out.open(target));
  out.file().write("new\n");
  ASSERT_TRUE(out.keep());
  EXPECT_EQ(readFile(target), "new\r\n");
  EXPECT_THAT(listDirectory(dir.path()), ElementsAre("report.csv"));
}

// Leftovers beside the target: only one of this target whose lock can be taken and that is
// more than a few minutes old goes. A locked one belongs to a live run (in whatever PID
// namespace), a young one to a run that may not hold its lock yet.
TEST(OutputTarget, RemovesOnlyOldUnlockedLeftoversOfTheSameTarget) {
  TempDir dir;
  const std::string target = dir / "r.xls";
  const std::string abandoned = temporaryNameFor(target, "000099999999");
  const std::string locked = temporaryNameFor(target, "abcdefABCDEF");
  const std::string young = temporaryNameFor(target, "0123456789ab");
  const std::string otherTarget = temporaryNameFor(dir / "s.xls", "0123456789ab");
  const std::string notOurs = dir / ".r.xls.rowpress-0123456789.part";
  for (const std::string& file : {abandoned, locked, young, otherTarget, notOurs}) {
    writeFile(file, "rows of another run");
  }
  for (const std::string& file : {abandoned, locked, otherTarget, notOurs}) {
    support::setModifiedAgo(file, 10 * 60);
  }
  support::setModifiedAgo(young, 4 * 60);
  support::HeldLock lock(locked);
  ASSERT_TRUE(lock.held());
  OutputTarget out;
  ASSERT_TRUE(out.open(target));
  EXPECT_FALSE(fileExists(abandoned));
  for (const std::string& file : {locked, young, otherTarget, notOurs}) {
    EXPECT_EQ(readFile(file), "rows of another run") << file;
  }
  // Nor does keeping the file publish another run's rows.
  out.file().write("mine\n");
  ASSERT_TRUE(out.keep());
  EXPECT_EQ(readFile(target), "mine\r\n");
  EXPECT_EQ(readFile(locked), "rows of another run");
}

// Work directories are leftovers like temporary files: an abandoned one goes with what the
// workbook library left in it; a locked or young one, one of another target and a link
// that only has such a name stay, and so does what the link points to.
TEST(OutputTarget, RemovesAbandonedWorkDirectoriesWithWhatIsInThem) {
  TempDir dir;
  const std::string target = dir / "r.xlsx";
  auto workOf = [&](const std::string& file, const char* random) {
    return workDirectoryFor(temporaryNameFor(file, random));
  };
  const std::string abandoned = workOf(target, "000099999999");
  const std::string locked = workOf(target, "abcdefABCDEF");
  const std::string young = workOf(target, "0123456789ab");
  const std::string otherTarget = workOf(dir / "s.xlsx", "0123456789ab");
  const std::string link = workOf(target, "zzzzzzzzzzzz");
  EXPECT_EQ(abandoned, dir / ".r.xlsx.rowpress-000099999999.d");
  const std::string pointedTo = dir / "elsewhere";
  for (const std::string& d : {abandoned, locked, young, otherTarget, pointedTo}) {
    std::filesystem::create_directories(d);
    writeFile(d + "/XXXXa1b2c3", "a sheet's rows");
  }
  std::filesystem::create_directory_symlink(pointedTo, link);
  for (const std::string& d : {abandoned, locked, otherTarget, pointedTo, link}) {
    support::setModifiedAgo(d, 10 * 60);
  }
  support::setModifiedAgo(young, 4 * 60);
  support::HeldLock lock(locked);
  ASSERT_TRUE(lock.held());

  OutputTarget out;
  ASSERT_TRUE(out.open(target));
  EXPECT_FALSE(std::filesystem::exists(abandoned));
  for (const std::string& d : {locked, young, otherTarget, pointedTo}) {
    EXPECT_EQ(readFile(d + "/XXXXa1b2c3"), "a sheet's rows") << d;
  }
  EXPECT_TRUE(std::filesystem::is_symlink(link));
}

// A replaced file keeps its permission bits, owner and group; a new file gets the mode of a
// new file.
TEST(OutputTarget, KeepsThePermissionsOwnerAndGroupOfTheReplacedFile) {
  TempDir dir;
  const std::string target = dir / "private.csv";
  writeFile(target, "old");
  ASSERT_EQ(::chmod(target.c_str(), 0640), 0);
  ASSERT_EQ(::chown(target.c_str(), 65534, 65534), 0) << "the tests run as root";
  OutputTarget out;
  ASSERT_TRUE(out.open(target));
  out.file().write("new\n");
  ASSERT_TRUE(out.keep());
  struct stat st;
  ASSERT_EQ(::stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(st.st_uid, 65534u);
  EXPECT_EQ(st.st_gid, 65534u);
  EXPECT_EQ(readFile(target), "new\r\n");

  const mode_t mask = ::umask(022);
  OutputTarget fresh;
  ASSERT_TRUE(fresh.open(dir / "new.csv"));
  ASSERT_TRUE(fresh.keep());
  ::umask(mask);
  ASSERT_EQ(::stat((dir / "new.csv").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0644u);
}

// A replaced file keeps its access control list and its extended attributes, whoever owns
// it, but never a file capability: the new content is not the program it was given to. A
// file that had no access control list gets none from its directory's default one either.
TEST(OutputTarget, KeepsTheAccessControlListAndTheExtendedAttributesButNoCapability) {
  std::map<std::string, std::string> tools;
  for (const char* tool : {"getfacl", "setfacl", "getfattr", "setfattr"}) {
    tools[tool] = support::findProgram(tool);
    ASSERT_FALSE(tools[tool].empty())
        << tool << " is missing (Debian's " << (std::string(tool).ends_with("acl") ? "acl" : "attr")
        << ")";
  }
  auto run = [&tools](const char* tool, std::vector<std::string> args) {
    args.insert(args.begin(), tools[tool]);
    support::ChildResult result = support::runProgram(args, std::chrono::seconds(30));
    EXPECT_EQ(result.exitStatus, 0) << tool << ": " << result.err;
    return result.out;
  };
  // Every attribute but the line that names the file.
  auto attributesOf = [&run](const std::string& path) {
    const std::string all =
        run("getfattr", {"--absolute-names", "-d", "-m", "-", "-e", "hex", path});
    return all.substr(all.find('\n') + 1);
  };
  TempDir dir;
  const std::string target = dir / "shared.csv";
  const std::string plain = dir / "plain.csv";
  writeFile(target, "old");
  writeFile(plain, "old");
  ASSERT_EQ(::chown(target.c_str(), 65534, 65534), 0) << "the tests run as root";
  ASSERT_EQ(::chmod(target.c_str(), 0640), 0);
  run("setfacl", {"-m", "u:1234:rw,g:2345:r", target});
  run("setfattr", {"-n", "user.origin", "-v", "nightly", target});
  run("setfattr", {"-n", "trusted.checked", "-v", "yes", target});
  // cap_net_bind_service=ep, as the kernel stores it.
  run("setfattr", {"-n", "security.capability", "-v", "0sAQAAAgAEAAAAAAAAAAAAAAAAAAA=", target});
  run("setfacl", {"-d", "-m", "u:1234:rw", dir.path()});
  const std::string acl = run("getfacl", {"--omit-header", target});
  std::string kept = attributesOf(target);
  for (const char* name :
       {"security.capability=", "system.posix_acl_access=", "trusted.checked=", "user.origin="}) {
    ASSERT_THAT(kept, ::testing::HasSubstr(name)) << "the file system keeps no " << name;
  }
  const auto capability = kept.find("security.capability=");
  kept.erase(capability, kept.find('\n', capability) + 1 - capability);

  for (const std::string& path : {target, plain}) {
    OutputTarget out;
    ASSERT_TRUE(out.open(path)) << out.error();
    out.file().write("new\n");
    ASSERT_TRUE(out.keep()) << out.error();
    EXPECT_EQ(readFile(path), "new\r\n");
  }
  EXPECT_EQ(run("getfacl", {"--omit-header", target}), acl);
  EXPECT_EQ(attributesOf(target), kept);
  EXPECT_EQ(attributesOf(plain), "");
  struct stat st;
  ASSERT_EQ(::stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, 65534u);
  EXPECT_EQ(st.st_mode & 0777, 0660u);  // the group bits show the list's mask
}

// A link is followed to the file it points to, through chains and relative links; the
// temporary file lives beside that file and the links stay links. A link that points
// nowhere creates the file it names.
TEST(OutputTarget, ReplacesTheFileALinkPointsTo) {
  TempDir dir;
  std::filesystem::create_directories(dir / "data");
  writeFile(dir / "data/report.csv", "old");
  std::filesystem::create_symlink("data/report.csv", dir / "second");
  std::filesystem::create_symlink(dir / "second", dir / "first");
  OutputTarget out;
  ASSERT_TRUE(out.open(dir / "first"));
  EXPECT_THAT(out.temporaryPath(), ::testing::StartsWith(dir / "data/.report.csv.rowpress-"));
  out.file().write("new\n");
  ASSERT_TRUE(out.keep());
  EXPECT_EQ(readFile(dir / "data/report.csv"), "new\r\n");
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "first"));
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "second"));
  EXPECT_THAT(listDirectory(dir / "data"), ElementsAre("report.csv"));

  std::filesystem::create_symlink("data/later.csv", dir / "dangling");
  OutputTarget later;
  ASSERT_TRUE(later.open(dir / "dangling"));
  later.file().write("created\n");
  ASSERT_TRUE(later.keep());
  EXPECT_EQ(readFile(dir / "data/later.csv"), "created\r\n");
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "dangling"));
}

// What the rename at the end would not replace, or should not, is refused when the file is
// opened, and nothing is created.
TEST(OutputTarget, RefusesTargetsThatItMayNotReplace) {
  TempDir dir;
  std::filesystem::create_directories(dir / "adir");
  writeFile(dir / "linked.csv", "shared");
  ASSERT_EQ(::link((dir / "linked.csv").c_str(), (dir / "other-name.csv").c_str()), 0);
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0644), 0);
  // A link that someone else planted in a sticky directory that anyone may write to.
  std::filesystem::create_directories(dir / "tmp");
  ASSERT_EQ(::chmod((dir / "tmp").c_str(), 01777), 0);
  std::filesystem::create_symlink(dir / "linked.csv", dir / "tmp/planted");
  ASSERT_EQ(::lchown((dir / "tmp/planted").c_str(), 65534, 65534), 0);
  struct Case {
    std::string path;
    std::string error;
  };
  for (const Case& c :
       {Case{dir / "adir", "Is a directory"},
        Case{dir / "linked.csv", "File has 2 hard links; replacing it would split them"},
        Case{dir / "fifo", "Not a regular file"},
        Case{dir / "tmp/planted", "Symbolic link in a sticky directory belongs to another user"}}) {
    SCOPED_TRACE(c.path);
    OutputTarget out;
    EXPECT_FALSE(out.open(c.path));
    EXPECT_EQ(out.error(), c.error);
    EXPECT_EQ(out.temporaryPath(), "");
  }
  EXPECT_EQ(readFile(dir / "linked.csv"), "shared");
  EXPECT_THAT(listDirectory(dir.path()),
              ElementsAre("adir", "fifo", "linked.csv", "other-name.csv", "tmp"));
  EXPECT_THAT(listDirectory(dir / "tmp"), ElementsAre("planted"));
}

TEST(OutputTarget, UncreatableFileGivesTheReason) {
  OutputTarget out;
  EXPECT_FALSE(out.open("/nonexistent-dir/x.csv"));
  EXPECT_EQ(out.error(), "No such file or directory");
  EXPECT_FALSE(out.keep());
}

}  // namespace
}  // namespace rowpress
