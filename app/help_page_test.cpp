// Finding the help page beside an installed executable and in a build tree.
#include "app/help_page.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/run_fixture.h"

namespace rowpress {
namespace {

using ::testing::ElementsAre;

TEST(HelpPageTest, FoundBesideAnInstalledExecutableBeforeTheBuildTreePlace) {
  support::TempDir dir;
  const std::string exe = dir / "usr/bin/rowpress";
  const std::string installed = dir / "usr/share/rowpress/help.html";
  const std::string inBuildTree = dir / "usr/bin/share/rowpress/help.html";
  std::filesystem::create_directories(dir / "usr/bin");

  HelpPage page = findHelpPage(exe);
  EXPECT_FALSE(page.found());
  EXPECT_THAT(page.searched, ElementsAre(installed, inBuildTree));

  // A directory of that name is no page.
  std::filesystem::create_directories(inBuildTree);
  EXPECT_FALSE(findHelpPage(exe).found());
  std::filesystem::remove(inBuildTree);

  std::filesystem::create_directories(dir / "usr/bin/share/rowpress");
  support::writeFile(inBuildTree, "build");
  EXPECT_EQ(findHelpPage(exe).path, inBuildTree);

  std::filesystem::create_directories(dir / "usr/share/rowpress");
  support::writeFile(installed, "installed");
  page = findHelpPage(exe);
  EXPECT_EQ(page.path, installed);
  EXPECT_THAT(page.searched, ElementsAre(installed, inBuildTree));

  EXPECT_FALSE(findHelpPage("").found());
}

// The build copies the page beside the executables, where the program run from the build
// tree finds it.
TEST(HelpPageTest, TheBuildTreeHoldsTheHelpPage) {
  const HelpPage page = findHelpPage(ROWPRESS_BINARY);
  const std::string expected =
      (std::filesystem::path(ROWPRESS_BINARY).parent_path() / "share/rowpress/help.html").string();
  EXPECT_EQ(page.path, expected);
  EXPECT_NE(support::readFile(expected).find("<html"), std::string::npos);
}

TEST(HelpPageTest, FileUrlsEncodeEveryByteThatAUrlReserves) {
  EXPECT_EQ(fileUrl("/usr/share/rowpress/help.html"), "file:///usr/share/rowpress/help.html");
  EXPECT_EQ(fileUrl("/a b/Zürich/50%#?&+;=.html"),
            "file:///a%20b/Z%C3%BCrich/50%25%23%3F%26%2B%3B%3D.html");
  EXPECT_EQ(fileUrl("/x~y_z-1.2"), "file:///x~y_z-1.2");
}

TEST(HelpPageTest, TheRunningExecutableIsKnown) {
  const std::string self = currentExecutablePath();
  ASSERT_FALSE(self.empty());
  EXPECT_EQ(std::filesystem::path(self).filename(), "rowpress_app_tests");
  EXPECT_TRUE(std::filesystem::equivalent(self, "/proc/self/exe"));
}

}  // namespace
}  // namespace rowpress
