#include "run/viewer.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pthread.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>

#include "tests/support/odbc_fixture.h"

namespace rowpress {
namespace {

using support::fileExists;
using support::listDirectory;
using support::readFile;
using support::TempDir;
using support::writeFile;
using ::testing::ElementsAre;

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

// Debian's no-GUI LibreOffice cannot show the file: the desktop's opener is asked instead.
// LibreOffice is told by its program directory (soffice.bin beside the script on the PATH),
// and one that shows windows by a window system plugin there.
TEST(ViewerCommand, ALibreOfficeWithoutWindowsIsPassedOver) {
  TempDir dir;
  const std::filesystem::path program = std::filesystem::path(dir.path()) / "program";
  std::filesystem::create_directories(program);
  writeFile(program / "soffice", "#!/bin/sh\n");
  ASSERT_EQ(::chmod((program / "soffice").c_str(), 0755), 0);
  std::filesystem::create_symlink(program / "soffice", dir.path() + "/libreoffice");
  const char* before = std::getenv("PATH");
  const std::string saved = before ? before : "";
  ::setenv("PATH", (dir.path() + ":/usr/bin:/bin").c_str(), 1);
  JobSettings job;
  // A script that is not LibreOffice's, and then each kind of LibreOffice.
  EXPECT_EQ(viewerCommand(job, OutputType::Csv, "/d/r.csv").front(), "libreoffice");
  writeFile(program / "soffice.bin", "");
  EXPECT_EQ(viewerCommand(job, OutputType::Csv, "/d/r.csv").front(), "xdg-open");
  writeFile(program / "libvclplug_genlo.so", "");
  EXPECT_THAT(viewerCommand(job, OutputType::Xlsx, "/d/r.xlsx"),
              ElementsAre("libreoffice", "--calc", "/d/r.xlsx"));
  ::setenv("PATH", saved.c_str(), 1);
}

// The window's launcher watches each viewer for its first seconds: a failure status comes
// through the watch, a good end closes it without a word; the unattended run's launcher
// watches nothing.
TEST(LaunchViewer, TheWatchingLauncherGivesTheStatusOfAViewerThatEndedAtOnce) {
  auto endOf = [](const std::vector<std::string>& command) -> std::optional<int> {
    Launcher& launcher = watchingLauncher();
    EXPECT_EQ(launcher.start(command), "");
    const int ended = launcher.takeEndWatch();
    EXPECT_GE(ended, 0);
    if (ended < 0) return std::nullopt;
    int status = 0;
    const ssize_t got = ::read(ended, &status, sizeof status);
    ::close(ended);
    if (got != static_cast<ssize_t>(sizeof status)) return std::nullopt;
    return status;
  };
  const std::optional<int> failed = endOf({"sh", "-c", "exit 3"});
  ASSERT_TRUE(failed.has_value());
  EXPECT_EQ(viewerEndLine("sh", *failed), "sh ended with status 3");
  const std::optional<int> killed = endOf({"sh", "-c", "kill -9 $$"});
  ASSERT_TRUE(killed.has_value());
  EXPECT_EQ(viewerEndLine("sh", *killed), "sh ended by signal 9");
  const std::optional<int> good = endOf({"true"});
  ASSERT_TRUE(good.has_value());
  EXPECT_EQ(viewerEndLine("true", *good), "");
  // While it waits for a viewer still running, the watcher holds none of this process's
  // descriptors: the write end of a pipe closed here leaves the pipe at its end.
  int pipeFds[2];
  ASSERT_EQ(::pipe2(pipeFds, O_CLOEXEC), 0);
  // Above the few low descriptors that the watcher takes for itself.
  const int writeEnd = ::fcntl(pipeFds[1], F_DUPFD_CLOEXEC, 20);
  ASSERT_GE(writeEnd, 20);
  ::close(pipeFds[1]);
  pipeFds[1] = writeEnd;
  EXPECT_EQ(watchingLauncher().start({"sleep", "3"}), "");
  const int running = watchingLauncher().takeEndWatch();
  ::close(pipeFds[1]);
  pollfd atEnd{pipeFds[0], POLLIN, 0};
  EXPECT_EQ(::poll(&atEnd, 1, 1000), 1) << "the watcher holds the pipe's write end";
  char byte;
  EXPECT_EQ(::read(pipeFds[0], &byte, 1), 0);
  ::close(pipeFds[0]);
  ::close(running);
  EXPECT_EQ(watchingLauncher().start({"/nonexistent/viewer"}), "No such file or directory");
  EXPECT_EQ(watchingLauncher().takeEndWatch(), -1);
  EXPECT_EQ(processLauncher().start({"true"}), "");
  EXPECT_EQ(processLauncher().takeEndWatch(), -1);
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

}  // namespace
}  // namespace rowpress
