// Replacing a file as a whole: what goes of the runs before, what the replaced file passes on
// to the new one, the links followed and the targets refused. (The output file that a run
// keeps or discards on top of it: export/output_target_test.cpp.)
#include "files/atomic_file.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "files/temporary_files.h"
#include "tests/support/child_process.h"
#include "tests/support/test_files.h"

namespace rowpress {
namespace {

using support::fileExists;
using support::listDirectory;
using support::readFile;
using support::TempDir;
using support::writeFile;
using ::testing::ElementsAre;

// Writes `content` to the temporary file of `file`, as a run writes its rows.
void writeInto(AtomicFile& file, const std::string& content) {
  ASSERT_EQ(::write(file.descriptor(), content.data(), content.size()),
            static_cast<ssize_t>(content.size()));
}

// Leftovers beside the target: only one of this target whose lock can be taken and that is
// more than a few minutes old goes. A locked one belongs to a live run (in whatever PID
// namespace), a young one to a run that may not hold its lock yet.
TEST(AtomicFile, RemovesOnlyOldUnlockedLeftoversOfTheSameTarget) {
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
  AtomicFile out;
  ASSERT_TRUE(out.open(target, 0666));
  EXPECT_FALSE(fileExists(abandoned));
  for (const std::string& file : {locked, young, otherTarget, notOurs}) {
    EXPECT_EQ(readFile(file), "rows of another run") << file;
  }
  // Nor does the commit publish another run's rows.
  writeInto(out, "mine\n");
  ASSERT_TRUE(out.commit());
  EXPECT_EQ(readFile(target), "mine\n");
  EXPECT_EQ(readFile(locked), "rows of another run");
}

// Work directories are leftovers like temporary files: an abandoned one goes with what the
// workbook library left in it; a locked or young one, one of another target and a link
// that only has such a name stay, and so does what the link points to.
TEST(AtomicFile, RemovesAbandonedWorkDirectoriesWithWhatIsInThem) {
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

  AtomicFile out;
  ASSERT_TRUE(out.open(target, 0666));
  EXPECT_FALSE(std::filesystem::exists(abandoned));
  for (const std::string& d : {locked, young, otherTarget, pointedTo}) {
    EXPECT_EQ(readFile(d + "/XXXXa1b2c3"), "a sheet's rows") << d;
  }
  EXPECT_TRUE(std::filesystem::is_symlink(link));
}

// A replaced file keeps its permission bits, owner and group; a new file gets the mode of a
// new file.
TEST(AtomicFile, KeepsThePermissionsOwnerAndGroupOfTheReplacedFile) {
  TempDir dir;
  const std::string target = dir / "private.csv";
  writeFile(target, "old");
  ASSERT_EQ(::chmod(target.c_str(), 0640), 0);
  ASSERT_EQ(::chown(target.c_str(), 65534, 65534), 0) << "the tests run as root";
  AtomicFile out;
  ASSERT_TRUE(out.open(target, 0666));
  writeInto(out, "new\n");
  ASSERT_TRUE(out.commit());
  struct stat st;
  ASSERT_EQ(::stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(st.st_uid, 65534u);
  EXPECT_EQ(st.st_gid, 65534u);
  EXPECT_EQ(readFile(target), "new\n");

  const mode_t mask = ::umask(022);
  AtomicFile fresh;
  ASSERT_TRUE(fresh.open(dir / "new.csv", 0666));
  ASSERT_TRUE(fresh.commit());
  ::umask(mask);
  ASSERT_EQ(::stat((dir / "new.csv").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0644u);
}

// A replaced file keeps its access control list and its extended attributes, whoever owns
// it, but never a file capability: the new content is not the program it was given to. A
// file that had no access control list gets none from its directory's default one either.
TEST(AtomicFile, KeepsTheAccessControlListAndTheExtendedAttributesButNoCapability) {
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
    AtomicFile out;
    ASSERT_TRUE(out.open(path, 0666)) << out.error();
    writeInto(out, "new\n");
    ASSERT_TRUE(out.commit()) << out.error();
    EXPECT_EQ(readFile(path), "new\n");
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
TEST(AtomicFile, ReplacesTheFileALinkPointsTo) {
  TempDir dir;
  std::filesystem::create_directories(dir / "data");
  writeFile(dir / "data/report.csv", "old");
  std::filesystem::create_symlink("data/report.csv", dir / "second");
  std::filesystem::create_symlink(dir / "second", dir / "first");
  AtomicFile out;
  ASSERT_TRUE(out.open(dir / "first", 0666));
  EXPECT_THAT(out.temporaryPath(), ::testing::StartsWith(dir / "data/.report.csv.rowpress-"));
  writeInto(out, "new\n");
  ASSERT_TRUE(out.commit());
  EXPECT_EQ(readFile(dir / "data/report.csv"), "new\n");
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "first"));
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "second"));
  EXPECT_THAT(listDirectory(dir / "data"), ElementsAre("report.csv"));

  std::filesystem::create_symlink("data/later.csv", dir / "dangling");
  AtomicFile later;
  ASSERT_TRUE(later.open(dir / "dangling", 0666));
  writeInto(later, "created\n");
  ASSERT_TRUE(later.commit());
  EXPECT_EQ(readFile(dir / "data/later.csv"), "created\n");
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "dangling"));
}

// What the rename at the end would not replace, or should not, and a directory that is not
// there, are refused when the file is opened, and nothing is created.
TEST(AtomicFile, RefusesTargetsThatItMayNotReplace) {
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
        Case{dir / "tmp/planted", "Symbolic link in a sticky directory belongs to another user"},
        Case{"/nonexistent-dir/x.csv", "No such file or directory"}}) {
    SCOPED_TRACE(c.path);
    AtomicFile out;
    EXPECT_FALSE(out.open(c.path, 0666));
    EXPECT_EQ(out.error(), c.error);
    EXPECT_EQ(out.temporaryPath(), "");
  }
  EXPECT_EQ(readFile(dir / "linked.csv"), "shared");
  EXPECT_THAT(listDirectory(dir.path()),
              ElementsAre("adir", "fifo", "linked.csv", "other-name.csv", "tmp"));
  EXPECT_THAT(listDirectory(dir / "tmp"), ElementsAre("planted"));
}

}  // namespace
}  // namespace rowpress
