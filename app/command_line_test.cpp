#include "app/command_line.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace rowpress {
namespace {

using ::testing::ElementsAre;

CommandLine parse(std::vector<std::string> args) {
  args.insert(args.begin(), "/usr/bin/rowpress");
  return parseCommandLine(args);
}

TEST(CommandLine, SwitchesAndTheirValues) {
  CommandLine line = parse({"-file=a.DIRU", "-outfile=/tmp/x y.xls", "-openwith=gnumeric",
                            "-noautoopen", "-silent", "-file=b=c.DIRU"});
  EXPECT_THAT(line.settingsFiles, ElementsAre("a.DIRU", "b=c.DIRU"));
  EXPECT_EQ(line.outFile, "/tmp/x y.xls");
  EXPECT_EQ(line.openWith, "gnumeric");
  EXPECT_TRUE(line.noAutoOpen);
  EXPECT_TRUE(line.silent);

  CommandLine none = parse({});
  EXPECT_TRUE(none.settingsFiles.empty());
  EXPECT_FALSE(none.outFile || none.openWith || none.noAutoOpen || none.silent || none.help);
}

TEST(CommandLine, SwitchesAreFoundAnywhereInAnArgument) {
  // A settings file whose name holds -silent also runs the job unattended.
  CommandLine line = parse({"-file=/jobs/nightly-silent.DIRU"});
  EXPECT_THAT(line.settingsFiles, ElementsAre("/jobs/nightly-silent.DIRU"));
  EXPECT_TRUE(line.silent);
  // After -openwith= the later tests look only at its value.
  line = parse({"-openwith=viewer -outfile=/tmp/o.csv"});
  EXPECT_EQ(line.openWith, "viewer -outfile=/tmp/o.csv");
  EXPECT_EQ(line.outFile, "/tmp/o.csv");
  // Switches are case-sensitive.
  line = parse({"-SILENT", "-OutFile=x"});
  EXPECT_FALSE(line.silent || line.outFile);
}

TEST(CommandLine, EmptyValuesAndRepeats) {
  CommandLine line = parse({"-outfile=first", "-outfile=", "-file=", "-openwith="});
  EXPECT_EQ(line.outFile, "");
  EXPECT_EQ(line.openWith, "");
  EXPECT_THAT(line.settingsFiles, ElementsAre(""));
}

TEST(CommandLine, HelpAndVersionHoldNoSwitchText) {
  EXPECT_TRUE(parse({"--help"}).help);
  EXPECT_TRUE(parse({"--version"}).version);
  CommandLine help = parse({"--help"});
  EXPECT_FALSE(help.silent || help.noAutoOpen || help.outFile || !help.settingsFiles.empty());
  std::string text = helpText("/home/u/rowpress");
  for (const char* word : {"-file=", "-outfile=", "-openwith=", "-noautoopen", "-silent",
                           "/home/u/rowpress", "ROWPRESS_HOME", "5  stopped",
                           "6  the job could not be read", "128+N  stopped by signal N"}) {
    EXPECT_NE(text.find(word), std::string::npos) << word;
  }
}

}  // namespace
}  // namespace rowpress
