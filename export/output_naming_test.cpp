#include "export/output_naming.h"

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
#include <optional>

#include "tests/odbc_fixture.h"

namespace rowpress {
namespace {

using ::testing::ElementsAre;
using testing::fileExists;
using testing::listDirectory;
using testing::readFile;
using testing::TempDir;
using testing::writeFile;

TEST(SplitCommandWords, GroupsQuotesWithoutExpandingAnything) {
  EXPECT_THAT(splitCommandWords("gnumeric"), ElementsAre("gnumeric"));
  EXPECT_THAT(splitCommandWords("  libreoffice   --calc "), ElementsAre("libreoffice", "--calc"));
  EXPECT_THAT(splitCommandWords("'/opt/my app/run' \"a b\" c\\ d"),
              ElementsAre("/opt/my app/run", "a b", "c d"));
  EXPECT_THAT(splitCommandWords("echo $HOME `id` \"\\\"q\\\"\" ''"),
              ElementsAre("echo", "$HOME", "`id`", "\"q\"", ""));
  EXPECT_TRUE(splitCommandWords("   ").empty());
}

TEST(ViewerCommand, ChoosesTheApplicationWord) {
  JobSettings job;
  EXPECT_THAT(viewerCommand(job, OutputType::Html, "/d/r.html"),
              ElementsAre("xdg-open", "/d/r.html"));
  auto spreadsheet = viewerCommand(job, OutputType::Csv, "/d/r.csv");
  ASSERT_FALSE(spreadsheet.empty());
  EXPECT_EQ(spreadsheet.back(), "/d/r.csv");
  EXPECT_TRUE(spreadsheet.front() == "libreoffice" || spreadsheet.front() == "xdg-open");

  job.launchApplication = "mousepad --new-window";
  EXPECT_THAT(viewerCommand(job, OutputType::Html, "/d/a b.html"),
              ElementsAre("mousepad", "--new-window", "/d/a b.html"));
  // A relative path that begins with "-" is no option of the viewer.
  EXPECT_THAT(viewerCommand(job, OutputType::Html, "-r.html"),
              ElementsAre("mousepad", "--new-window", "./-r.html"));
  EXPECT_EQ(viewerCommand(job, OutputType::Html, "d/-r.html").back(), "d/-r.html");
  job.noAutoOpen = true;
  EXPECT_TRUE(viewerCommand(job, OutputType::Xml, "/d/r.xls").empty());
}

// The viewer gets none of rowpress's input and output (a script reading rowpress's output
// would wait for the viewer to end) and none of its blocked signals.
TEST(LaunchViewer, TheViewerHasDevNullForInputAndOutputAndNoSignalBlocked) {
  TempDir dir;
  const std::string record = dir / "viewer.txt";
  const std::string viewer = dir / "viewer";
  // The viewer's own descriptors and blocked signals, read before it redirects anything.
  writeFile(viewer,
            "#!/bin/sh\nfds=$(for n in 0 1 2; do readlink /proc/$$/fd/$n; done)\n"
            "blocked=$(grep '^SigBlk:' /proc/$$/status)\n"
            "printf '%s\\n' \"$fds\" \"$blocked\" \"$@\" > \"" +
                record + ".tmp\"\nmv \"" + record + ".tmp\" \"" + record + "\"\n");
  ASSERT_EQ(::chmod(viewer.c_str(), 0755), 0);

  // This thread's standard output and error are a pipe, and the signals that stop a run are
  // blocked, as they are in rowpress.
  int pipeFds[2];
  ASSERT_EQ(::pipe(pipeFds), 0);
  const int savedOut = ::dup(STDOUT_FILENO), savedErr = ::dup(STDERR_FILENO);
  sigset_t stopping, before;
  sigemptyset(&stopping);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&stopping, signal);
  ::pthread_sigmask(SIG_BLOCK, &stopping, &before);
  ::dup2(pipeFds[1], STDOUT_FILENO);
  ::dup2(pipeFds[1], STDERR_FILENO);
  JobSettings job;
  job.launchApplication = "'" + viewer + "'";
  const std::string cwd = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  launchViewer(job, OutputType::Csv, "-report.csv");
  std::filesystem::current_path(cwd);
  ::dup2(savedOut, STDOUT_FILENO);
  ::dup2(savedErr, STDERR_FILENO);
  ::close(savedOut);
  ::close(savedErr);
  ::close(pipeFds[1]);
  ::pthread_sigmask(SIG_SETMASK, &before, nullptr);

  for (int i = 0; i < 400 && !fileExists(record); ++i) ::usleep(25 * 1000);
  EXPECT_EQ(readFile(record),
            "/dev/null\n/dev/null\n/dev/null\nSigBlk:\t0000000000000000\n./-report.csv\n");
  ::close(pipeFds[0]);
}

class OutputPathTest : public ::testing::Test {
 protected:
  void SetUp() override { ::setenv("ROWPRESS_HOME", (dir_ / "a/b/home").c_str(), 1); }
  void TearDown() override { ::unsetenv("ROWPRESS_HOME"); }
  TempDir dir_;
};

TEST_F(OutputPathTest, CreatesTheDefaultDirectoryAndReservesTheNameWithItsExtension) {
  JobSettings job;
  {
    OutputPath first = prepareOutputPath(job, OutputType::Xml);
    OutputPath second = prepareOutputPath(job, OutputType::Xml);
    EXPECT_THAT(first.path,
                ::testing::MatchesRegex(dir_.path() + "/a/b/home/row[0-9A-F]{4}\\.TMP\\.xls"));
    EXPECT_NE(first.path, second.path);
    // The names with their extensions are taken while their runs go on; no ".TMP" is left.
    EXPECT_EQ(std::filesystem::file_size(first.path), 0u);
    EXPECT_EQ(listDirectory(dir_ / "a/b/home").size(), 2u);
  }
  EXPECT_TRUE(listDirectory(dir_ / "a/b/home").empty());

  job.outFileName = "/data/out";
  EXPECT_EQ(prepareOutputPath(job, OutputType::Html).path, "/data/out");
  EXPECT_TRUE(listDirectory(dir_ / "a/b/home").empty());
  job.excel2007 = true;
  EXPECT_THAT(prepareOutputPath(job, OutputType::Xml).path, ::testing::EndsWith(".TMP.xml"));
}

// Every name but one is taken, half by a file "rowXXXX.TMP" and half by the name with the
// extension (an earlier run's report): the one free name is found, and no earlier file is
// ever chosen. With that one taken too, no name is left.
TEST_F(OutputPathTest, SkipsNamesOfWhichEitherFormIsTaken) {
  const std::string home = dir_ / "a/b/home";
  ASSERT_TRUE(createDefaultDirectory(home));
  for (unsigned n = 0; n < 0x10000u; ++n) {
    if (n == 0xBEEF) continue;
    char name[32];
    std::snprintf(name, sizeof name, "row%04X.TMP%s", n, n % 2 ? "" : ".csv");
    int fd = ::open((home + "/" + name).c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    ASSERT_GE(fd, 0) << name;
    ::close(fd);
  }
  writeFile(home + "/row0001.TMP.csv", "an earlier run's report");
  {
    OutputPath path = prepareOutputPath(JobSettings{}, OutputType::Tsv);
    EXPECT_EQ(path.path, home + "/rowBEEF.TMP.csv");
    EXPECT_TRUE(fileExists(home + "/rowBEEF.TMP.csv"));
    EXPECT_FALSE(fileExists(home + "/rowBEEF.TMP"));

    OutputPath none = prepareOutputPath(JobSettings{}, OutputType::Csv);
    EXPECT_EQ(none.path, "");
    EXPECT_EQ(none.error, "no free name is left in " + home);
  }
  EXPECT_EQ(readFile(home + "/row0001.TMP.csv"), "an earlier run's report");
  EXPECT_FALSE(fileExists(home + "/rowBEEF.TMP.csv"));
}

// A reserved name is removed only while it is still the empty file that was reserved.
TEST_F(OutputPathTest, AReservedNameThatHoldsAnotherFileStays) {
  OutputPath path = prepareOutputPath(JobSettings{}, OutputType::Csv);
  ASSERT_FALSE(path.path.empty());
  writeFile(path.path + ".new", "someone else's file");
  ASSERT_EQ(::rename((path.path + ".new").c_str(), path.path.c_str()), 0);
  path.reserved.remove();
  EXPECT_EQ(readFile(path.path), "someone else's file");
}

TEST_F(OutputPathTest, ReportsWhenNoNameCanBeMade) {
  writeFile(dir_ / "a", "a file where a directory should be");
  JobSettings job;
  OutputPath path = prepareOutputPath(job, OutputType::Csv);
  EXPECT_TRUE(path.path.empty());
  EXPECT_THAT(path.error, ::testing::HasSubstr("cannot create the directory"));
  job.outFileName = dir_ / "named.csv";
  EXPECT_EQ(prepareOutputPath(job, OutputType::Csv).path, job.outFileName);
}

TEST_F(OutputPathTest, RefusesPathsOverTheLimit) {
  ::setenv("ROWPRESS_HOME", (dir_.path() + "/" + std::string(250, 'd')).c_str(), 1);
  OutputPath path = prepareOutputPath(JobSettings{}, OutputType::Csv);
  EXPECT_TRUE(path.path.empty());
  EXPECT_EQ(path.error, "The output path is longer than 255 bytes and was refused.");
}

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
    EXPECT_FALSE(testing::lockCanBeTaken(out.temporaryPath()));
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
    testing::setModifiedAgo(file, 10 * 60);
  }
  testing::setModifiedAgo(young, 4 * 60);
  testing::HeldLock lock(locked);
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

TEST(DefaultDirectory, ComesFromTheEnvironmentElseThePasswordEntryNeverTheWorkingDirectory) {
  // Restores a variable of the environment when the test ends.
  struct Saved {
    const char* name;
    std::optional<std::string> value;
    explicit Saved(const char* n) : name(n) {
      if (const char* v = std::getenv(n)) value = v;
    }
    ~Saved() {
      if (value) {
        ::setenv(name, value->c_str(), 1);
      } else {
        ::unsetenv(name);
      }
    }
  } home("HOME"), rowpressHome("ROWPRESS_HOME");
  ::setenv("ROWPRESS_HOME", "/srv/reports", 1);
  EXPECT_EQ(defaultDirectory(), "/srv/reports");
  ::setenv("ROWPRESS_HOME", "", 1);
  ::setenv("HOME", "/home/analyst", 1);
  EXPECT_EQ(defaultDirectory(), "/home/analyst/rowpress");
  // As under cron or a service without HOME.
  ::unsetenv("HOME");
  const passwd* entry = ::getpwuid(::getuid());
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(defaultDirectory(), std::string(entry->pw_dir) + "/rowpress");
}

}  // namespace
}  // namespace rowpress
