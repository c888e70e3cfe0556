#include "export/output_naming.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>

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
  EXPECT_THAT(viewerCommand(job, OutputType::Html, "/d/r.html"), ElementsAre("xdg-open", "/d/r.html"));
  auto spreadsheet = viewerCommand(job, OutputType::Csv, "/d/r.csv");
  ASSERT_FALSE(spreadsheet.empty());
  EXPECT_EQ(spreadsheet.back(), "/d/r.csv");
  EXPECT_TRUE(spreadsheet.front() == "libreoffice" || spreadsheet.front() == "xdg-open");

  job.launchApplication = "mousepad --new-window";
  EXPECT_THAT(viewerCommand(job, OutputType::Html, "/d/a b.html"),
              ElementsAre("mousepad", "--new-window", "/d/a b.html"));
  job.noAutoOpen = true;
  EXPECT_TRUE(viewerCommand(job, OutputType::Xml, "/d/r.xls").empty());
}

class OutputPathTest : public ::testing::Test {
 protected:
  void SetUp() override { ::setenv("ROWPRESS_HOME", (dir_ / "a/b/home").c_str(), 1); }
  void TearDown() override { ::unsetenv("ROWPRESS_HOME"); }
  TempDir dir_;
};

TEST_F(OutputPathTest, CreatesTheDefaultDirectoryAndLeavesNoReservedName) {
  JobSettings job;
  OutputPath first = prepareOutputPath(job, OutputType::Xml);
  OutputPath second = prepareOutputPath(job, OutputType::Xml);
  EXPECT_THAT(first.path, ::testing::MatchesRegex(dir_.path() + "/a/b/home/row[0-9A-F]{4}\\.TMP\\.xls"));
  EXPECT_TRUE(listDirectory(dir_ / "a/b/home").empty());
  EXPECT_NE(first.path, second.path);

  job.outFileName = "/data/out";
  EXPECT_EQ(prepareOutputPath(job, OutputType::Html).path, "/data/out");
  job.excel2007 = true;
  EXPECT_THAT(prepareOutputPath(job, OutputType::Xml).path, ::testing::EndsWith(".TMP.xml"));
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
    EXPECT_EQ(out.temporaryPath(), temporaryNameFor(target, ::getpid()));
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

TEST(OutputTarget, RemovesLeftoversOfDeadRunsOnly) {
  TempDir dir;
  const std::string target = dir / "r.xls";
  // A process id far above pid_max belongs to nobody; our own is alive.
  const std::string dead = temporaryNameFor(target, 99999999);
  const std::string alive = temporaryNameFor(target, ::getppid());
  writeFile(dead, "partial");
  writeFile(alive, "in progress");
  OutputTarget out;
  ASSERT_TRUE(out.open(target));
  EXPECT_FALSE(fileExists(dead));
  EXPECT_TRUE(fileExists(alive));
}

TEST(OutputTarget, UncreatableFileGivesTheReason) {
  OutputTarget out;
  EXPECT_FALSE(out.open("/nonexistent-dir/x.csv"));
  EXPECT_EQ(out.error(), "No such file or directory");
  EXPECT_FALSE(out.keep());
}

}  // namespace
}  // namespace rowpress
