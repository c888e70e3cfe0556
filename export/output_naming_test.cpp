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

#include "tests/support/odbc_fixture.h"

namespace rowpress {
namespace {

using support::fileExists;
using support::listDirectory;
using support::readFile;
using support::TempDir;
using support::writeFile;
using ::testing::ElementsAre;

class OutputPathTest : public ::testing::Test {
 protected:
  void SetUp() override { ::setenv("ROWPRESS_HOME", (dir_ / "a/b/home").c_str(), 1); }
  void TearDown() override { ::unsetenv("ROWPRESS_HOME"); }
  TempDir dir_;
};

TEST_F(OutputPathTest, CreatesTheDefaultDirectoryAndReservesTheNameWithItsExtension) {
  JobSettings job;
  {
    OutputPath first = prepareOutputPath(job, OutputType::Xml, StopRequest::instance());
    OutputPath second = prepareOutputPath(job, OutputType::Xml, StopRequest::instance());
    EXPECT_THAT(first.path,
                ::testing::MatchesRegex(dir_.path() + "/a/b/home/row[0-9A-F]{4}\\.TMP\\.xls"));
    EXPECT_NE(first.path, second.path);
    // The names with their extensions are taken while their runs go on; no ".TMP" is left.
    EXPECT_EQ(std::filesystem::file_size(first.path), 0u);
    EXPECT_EQ(listDirectory(dir_ / "a/b/home").size(), 2u);
  }
  EXPECT_TRUE(listDirectory(dir_ / "a/b/home").empty());

  job.outFileName = "/data/out";
  EXPECT_EQ(prepareOutputPath(job, OutputType::Html, StopRequest::instance()).path, "/data/out");
  EXPECT_TRUE(listDirectory(dir_ / "a/b/home").empty());
  job.excel2007 = true;
  EXPECT_THAT(prepareOutputPath(job, OutputType::Xml, StopRequest::instance()).path,
              ::testing::EndsWith(".TMP.xml"));
}

// Every name but one is taken, by a file "rowXXXX.TMP" or by a name of any form that an
// earlier run published (its output, a report's sheet file, a manifest): the one free name
// is found, and no earlier file is ever chosen. With that one taken too, no name is left.
TEST_F(OutputPathTest, SkipsNumbersOfWhichAnyFormIsTaken) {
  const std::string home = dir_ / "a/b/home";
  ASSERT_TRUE(createDefaultDirectory(home));
  const char* const forms[] = {"", ".csv", ".csv.manifest.json", "-Orders.csv", ".xlsx.tmp"};
  for (unsigned n = 0; n < 0x10000u; ++n) {
    if (n == 0xBEEF) continue;
    char name[48];
    std::snprintf(name, sizeof name, "row%04X.TMP%s", n, forms[n % 5]);
    int fd = ::open((home + "/" + name).c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    ASSERT_GE(fd, 0) << name;
    ::close(fd);
  }
  writeFile(home + "/row0001.TMP.csv", "an earlier run's report");
  {
    OutputPath path = prepareOutputPath(JobSettings{}, OutputType::Tsv, StopRequest::instance());
    EXPECT_EQ(path.path, home + "/rowBEEF.TMP.csv");
    EXPECT_TRUE(fileExists(home + "/rowBEEF.TMP.csv"));
    EXPECT_FALSE(fileExists(home + "/rowBEEF.TMP"));

    OutputPath none = prepareOutputPath(JobSettings{}, OutputType::Csv, StopRequest::instance());
    EXPECT_EQ(none.path, "");
    EXPECT_EQ(none.error, "no free name is left in " + home);
  }
  EXPECT_EQ(readFile(home + "/row0001.TMP.csv"), "an earlier run's report");
  EXPECT_FALSE(fileExists(home + "/rowBEEF.TMP.csv"));

  // A run with a manifest reserves the manifest's name under the same number, last.
  JobSettings job;
  job.manifest = true;
  std::vector<OutputPath> paths = prepareOutputPaths(job, OutputType::Csv, StopRequest::instance());
  ASSERT_EQ(paths.size(), 2u);
  EXPECT_EQ(paths[0].path, home + "/rowBEEF.TMP.csv");
  EXPECT_EQ(paths[1].path, home + "/rowBEEF.TMP.csv.manifest.json");
  EXPECT_TRUE(fileExists(paths[1].path));
  EXPECT_TRUE(isReservedName("rowBEEF.TMP.csv.manifest.json"));
  EXPECT_TRUE(isReservedName("rowBEEF.TMP-Orders.csv"));
  EXPECT_FALSE(isReservedName("rowBEEF.TMP.manifest.json"));
  EXPECT_FALSE(isReservedName("rowBEEF.TMP.xlsx.tmp"));
}

// A reserved name is removed only while it is still the empty file that was reserved.
TEST_F(OutputPathTest, AReservedNameThatHoldsAnotherFileStays) {
  OutputPath path = prepareOutputPath(JobSettings{}, OutputType::Csv, StopRequest::instance());
  ASSERT_FALSE(path.path.empty());
  writeFile(path.path + ".new", "someone else's file");
  ASSERT_EQ(::rename((path.path + ".new").c_str(), path.path.c_str()), 0);
  path.reserved.remove();
  EXPECT_EQ(readFile(path.path), "someone else's file");
}

TEST_F(OutputPathTest, ReportsWhenNoNameCanBeMade) {
  writeFile(dir_ / "a", "a file where a directory should be");
  JobSettings job;
  OutputPath path = prepareOutputPath(job, OutputType::Csv, StopRequest::instance());
  EXPECT_TRUE(path.path.empty());
  EXPECT_THAT(path.error, ::testing::HasSubstr("cannot create the directory"));
  job.outFileName = dir_ / "named.csv";
  EXPECT_EQ(prepareOutputPath(job, OutputType::Csv, StopRequest::instance()).path, job.outFileName);
}

TEST_F(OutputPathTest, RefusesPathsOverTheLimit) {
  ::setenv("ROWPRESS_HOME", (dir_.path() + "/" + std::string(250, 'd')).c_str(), 1);
  OutputPath path = prepareOutputPath(JobSettings{}, OutputType::Csv, StopRequest::instance());
  EXPECT_TRUE(path.path.empty());
  EXPECT_EQ(path.error, "The output path is longer than 255 bytes and was refused.");
}

TEST(OutputName, AnExtensionOfAnotherOutputTypeIsSaid) {
  struct Row {
    const char* path;
    OutputType type;
    bool said;
  };
  const Row rows[] = {
      {"/srv/products.xlsx", OutputType::Csv, true},
      {"/srv/products.XLSX", OutputType::Xlsx, false},
      {"/srv/a.csv", OutputType::Tsv, false},  // a TSV's default name ends in .csv
      {"/srv/a.tsv", OutputType::Csv, true},
      {"/srv/a.xml", OutputType::Xml, false},
      {"/srv/a.htm", OutputType::Html, false},
      {"/srv/a.xls", OutputType::Html, true},
      {"/srv/a.txt", OutputType::Xml, false},
      {"/srv/report", OutputType::Csv, false},
      {"/srv/x.csv/report", OutputType::Xml, false},
      {"/srv/.xlsx", OutputType::Csv, false},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(otherTypeNamed(row.path, row.type).has_value(), row.said) << row.path;
  }
}

TEST(OutputName, PlaceholdersTakeTheDateTheTimeAndParametersMadeSafe) {
  std::tm local{};
  local.tm_year = 2026 - 1900;
  local.tm_mon = 0;
  local.tm_mday = 5;
  local.tm_hour = 7;
  local.tm_min = 4;
  local.tm_sec = 9;
  const std::vector<JobParameter> parameters = {
      {"month", "2026-11"}, {"who", "../etc/päss wd"}, {"dot", "."}, {"gone", "/"}, {"nil", ""}};
  const auto name = [&](std::string_view text) {
    ExpandedName expanded = expandOutputName(text, parameters, local);
    return expanded.refusal ? "refused: " + *expanded.refusal : expanded.name;
  };
  EXPECT_EQ(name("/srv/out/sales-{date}-{time}.xlsx"), "/srv/out/sales-2026-01-05-070409.xlsx");
  EXPECT_EQ(name("/srv/{month}/{month}.csv"), "/srv/2026-11/2026-11.csv");
  // A value adds no directory and no hidden name: each byte that is not a letter, a digit, '-',
  // '_' or '.' becomes '_'.
  EXPECT_EQ(name("/srv/{who}.csv"), "/srv/.._etc_p__ss_wd.csv");
  // Other braces stay: unknown names (case counts), unclosed or empty ones.
  EXPECT_EQ(name("/srv/{Month}{x}{}{date.csv"), "/srv/{Month}{x}{}{date.csv");
  EXPECT_EQ(name("{{date}}"), "{2026-01-05}");
  EXPECT_EQ(name(""), "");
  for (const char* refused : {"/srv/{dot}", "/srv/{nil}.csv"}) {
    EXPECT_TRUE(name(refused).starts_with("refused: ")) << refused;
  }
  EXPECT_EQ(name("/srv/{gone}.csv"), "/srv/_.csv");
}

TEST(DefaultDirectory, ComesFromTheEnvironmentElseThePasswordEntryNeverTheWorkingDirectory) {
  support::SavedVariable home("HOME"), rowpressHome("ROWPRESS_HOME");
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
