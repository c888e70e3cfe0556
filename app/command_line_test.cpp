#include "app/command_line.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <sstream>

#include "tests/support/odbc_fixture.h"

namespace rowpress {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAre;

CommandLine parse(std::vector<std::string> args) {
  args.insert(args.begin(), "/usr/bin/rowpress");
  return parseCommandLine(args);
}

TEST(CommandLine, SwitchesAndTheirValues) {
  CommandLine line =
      parse({"-file=a.DIRU", "-outfile=/tmp/x y.xls", "-openwith=gnumeric", "-noautoopen",
             "-silent", "-file=b=c.DIRU", "-timeout=30", "-separator=;", "-decimalcomma",
             "-encoding=UTF-16LE", "-timezone=Europe/Berlin"});
  EXPECT_THAT(line.settingsFiles, ElementsAre("a.DIRU", "b=c.DIRU"));
  EXPECT_EQ(line.outFile, "/tmp/x y.xls");
  EXPECT_EQ(line.openWith, "gnumeric");
  EXPECT_TRUE(line.noAutoOpen);
  EXPECT_TRUE(line.silent);
  EXPECT_FALSE(line.quiet);
  EXPECT_TRUE(parse({"-silent", "-quiet"}).quiet);
  EXPECT_EQ(line.timeout, "30");
  EXPECT_EQ(line.separator, ";");
  EXPECT_TRUE(line.decimalComma);
  EXPECT_EQ(line.encoding, "UTF-16LE");
  EXPECT_EQ(line.timeZone, "Europe/Berlin");

  CommandLine none = parse({});
  EXPECT_TRUE(none.settingsFiles.empty());
  EXPECT_FALSE(none.outFile || none.openWith || none.noAutoOpen || none.silent || none.help ||
               none.quiet || none.passwordFile || none.timeout || none.separator ||
               none.decimalComma || none.encoding || none.timeZone);
}

TEST(CommandLine, AnArgumentIsASwitchOnlyAsAWhole) {
  // A value is everything after its switch's "=": switch text inside it is only text.
  CommandLine line =
      parse({"-outfile=/r/notes-file=1.csv", "-openwith=viewer -outfile=/tmp/o.csv",
             "-file=/jobs/nightly-silent.DIRU", "-passwordfile=/run/pw-quiet", "-timeout=5"});
  EXPECT_EQ(line.outFile, "/r/notes-file=1.csv");
  EXPECT_EQ(line.openWith, "viewer -outfile=/tmp/o.csv");
  EXPECT_THAT(line.settingsFiles, ElementsAre("/jobs/nightly-silent.DIRU"));
  EXPECT_EQ(line.passwordFile, "/run/pw-quiet");
  EXPECT_EQ(line.timeout, "5");
  EXPECT_FALSE(line.silent || line.quiet || line.noAutoOpen);
  EXPECT_TRUE(line.refused.empty());
  line = parse({"-outfile=/tmp/x-timeout=abc.csv", "-outfile=/tmp/a-silent.csv"});
  EXPECT_EQ(line.outFile, "/tmp/a-silent.csv");
  EXPECT_FALSE(line.timeout || line.silent);

  // Anything else is refused, in order: mistyped or differently cased switches, switches
  // inside other text, a bare value, an empty argument.
  line = parse({"-outfiel=x", "-SILENT", "-OutFile=x", "x-silent", "-silent-", "-passwordfile",
                "report.DIRU", "", "--quiet", "-silent"});
  EXPECT_THAT(line.refused, ElementsAre("-outfiel=x", "-SILENT", "-OutFile=x", "x-silent",
                                        "-silent-", "-passwordfile", "report.DIRU", "", "--quiet"));
  EXPECT_TRUE(line.silent);
  EXPECT_FALSE(line.outFile || line.quiet || line.passwordFile);
}

TEST(CommandLine, TheProgramsOwnPathIsNotScanned) {
  CommandLine line = parseCommandLine({"/opt/jobs-silent/-file=x/rowpress"});
  EXPECT_FALSE(line.silent);
  EXPECT_TRUE(line.settingsFiles.empty());
  EXPECT_TRUE(line.refused.empty());
}

TEST(CommandLine, EmptyValuesAndRepeats) {
  CommandLine line = parse({"-outfile=first", "-outfile=", "-file=", "-openwith=", "-manifest="});
  EXPECT_EQ(line.outFile, "");
  EXPECT_EQ(line.openWith, "");
  // An empty settings file name or manifest value is refused, not taken as none.
  EXPECT_THAT(line.settingsFiles, IsEmpty());
  EXPECT_FALSE(line.manifest);
  EXPECT_THAT(line.emptyValues, ElementsAre("-file=", "-manifest="));
}

TEST(CommandLine, HelpAndVersionHoldNoSwitchText) {
  EXPECT_TRUE(parse({"--help"}).help);
  EXPECT_TRUE(parse({"--version"}).version);
  CommandLine help = parse({"--help"});
  EXPECT_FALSE(help.silent || help.noAutoOpen || help.outFile || !help.settingsFiles.empty());
  std::string text = helpText("/home/u/rowpress");
  for (const char* word : {"-file=",
                           "-outfile=",
                           "-openwith=",
                           "-noautoopen",
                           "-silent",
                           "-passwordfile=PATH",
                           "ROWPRESS_USER",
                           "ROWPRESS_PASSWORD",
                           "/home/u/rowpress",
                           "ROWPRESS_HOME",
                           "5  stopped",
                           "6  the job could not be read",
                           "7  the file was written",
                           "128+N  stopped by signal N",
                           "\"timed out after N s\"",
                           "XLSX=1",
                           "QuoteFields=1",
                           "ByteOrderMark=1",
                           ".xlsx",
                           "Separator=\";\"",
                           "DecimalComma=1"}) {
    EXPECT_NE(text.find(word), std::string::npos) << word;
  }
  // Without any default directory the text says so instead of naming a relative one.
  EXPECT_NE(helpText("").find("default directory: none"), std::string::npos);
}

// The switch that each word of `text` begins with, as "-file=" of "-file=JOB.DIRU".
void addSwitches(const std::string& text, std::set<std::string>& switches) {
  static const std::regex kSwitch("(^|[ ,])(--?[a-z]+=?)");
  for (std::sregex_iterator it(text.begin(), text.end(), kSwitch), end; it != end; ++it) {
    switches.insert((*it)[2]);
  }
}

// The switches that --help lists: the first column of the lines that begin with a switch.
std::set<std::string> switchesOfHelp(const std::string& help) {
  std::set<std::string> switches;
  std::istringstream lines(help);
  for (std::string line; std::getline(lines, line);) {
    if (!line.starts_with("  -")) continue;
    addSwitches(line.substr(2, line.find("  ", 2) - 2), switches);
  }
  return switches;
}

// The switches that the man page lists: the tags of its OPTIONS section, the line after
// each .TP, with the roff minus "\-" read as "-".
std::set<std::string> switchesOfManPage(const std::string& roff) {
  std::set<std::string> switches;
  const std::size_t start = roff.find("\n.SH OPTIONS\n");
  if (start == std::string::npos) return switches;
  std::istringstream lines(roff.substr(start + 1, roff.find("\n.SH ", start + 1) - start));
  bool tag = false;
  for (std::string line; std::getline(lines, line);) {
    if (tag) {
      line = std::regex_replace(line, std::regex(R"(\\-)"), "-");
      addSwitches(line.substr(line.find(' ') + 1), switches);
    }
    tag = line == ".TP";
  }
  return switches;
}

// The switches that the help page lists: the first cells of its table of switches.
std::set<std::string> switchesOfHelpPage(const std::string& html) {
  std::set<std::string> switches;
  const std::size_t start = html.find("<h2 id=\"switches\">");
  if (start == std::string::npos) return switches;
  const std::string section = html.substr(start, html.find("<h2", start + 1) - start);
  static const std::regex kFirstCell("<tr><td><code>(--?[a-z]+=?)");
  for (std::sregex_iterator it(section.begin(), section.end(), kFirstCell), end; it != end; ++it) {
    switches.insert((*it)[1]);
  }
  return switches;
}

TEST(CommandLine, HelpAndManPageListTheSameSwitches) {
  const std::string manPage = support::readFile(ROWPRESS_SOURCE_DIR "/docs/rowpress.1");
  ASSERT_FALSE(manPage.empty()) << "the man page docs/rowpress.1 is missing or empty";
  const std::set<std::string> help = switchesOfHelp(helpText("/home/u/rowpress"));
  EXPECT_THAT(help,
              UnorderedElementsAre("-file=", "-outfile=", "-openwith=", "-noautoopen", "-silent",
                                   "-quiet", "-passwordfile=", "-timeout=", "-param=", "-strict",
                                   "-manifest", "-manifest=", "-separator=", "-decimalcomma",
                                   "-encoding=", "-timezone=", "--help", "--version"));
  EXPECT_EQ(switchesOfManPage(manPage), help);
}

// The build copies the help page beside the executable, where the window looks for it in a
// build tree (an installed one looks in ../share/rowpress/).
TEST(CommandLine, HelpPageBesideTheBuiltExecutableListsTheSameSwitches) {
  const std::string binary = ROWPRESS_BINARY;
  const std::string helpPage = binary.substr(0, binary.rfind('/')) + "/share/rowpress/help.html";
  const std::string html = support::readFile(helpPage);
  ASSERT_FALSE(html.empty()) << helpPage << " is missing or empty";
  EXPECT_TRUE(html == support::readFile(ROWPRESS_SOURCE_DIR "/docs/help.html"))
      << helpPage << " is not a copy of docs/help.html";
  EXPECT_EQ(switchesOfHelpPage(html), switchesOfHelp(helpText("/home/u/rowpress")));
}

}  // namespace
}  // namespace rowpress
