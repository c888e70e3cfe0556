#include "app/command_line.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <utility>

#include "job/exit_status.h"
#include "tests/support/child_process.h"
#include "tests/support/run_fixture.h"

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

// Each exit status with its meaning, in the order a text lists them.
using Statuses = std::vector<std::pair<std::string, std::string>>;

// Runs of blanks and line ends as one space, none at either end.
std::string collapseBlanks(const std::string& text) {
  std::string collapsed = std::regex_replace(text, std::regex(R"(\s+)"), " ");
  const std::size_t first = collapsed.find_first_not_of(' ');
  if (first == std::string::npos) return "";
  return collapsed.substr(first, collapsed.find_last_not_of(' ') - first + 1);
}

// The statuses of --help: the block after "Exit status of an unattended run:", up to its
// blank line. A status stands as "N  MEANING", two to a line where the block has two columns;
// a line indented deeper than the statuses goes on with the meaning above it, a line at their
// indent that holds no status (the note on -timeout) ends it.
Statuses statusesOfHelp(const std::string& help) {
  Statuses statuses;
  const std::string heading = "Exit status of an unattended run:\n";
  const std::size_t start = help.find(heading);
  if (start == std::string::npos) return statuses;
  std::istringstream lines(help.substr(start + heading.size()));
  static const std::regex kColumn(" {3,}");
  static const std::regex kStatus(R"(^(\d+|128\+N)  (.+)$)");
  bool goesOn = false;
  for (std::string line; std::getline(lines, line) && !line.empty();) {
    const std::size_t indent = line.find_first_not_of(' ');
    const std::string text = line.substr(indent);
    bool found = false;
    for (std::sregex_token_iterator it(text.begin(), text.end(), kColumn, -1), end; it != end;
         ++it) {
      const std::string column = *it;
      std::smatch status;
      if (std::regex_match(column, status, kStatus)) {
        statuses.emplace_back(status[1], status[2]);
        found = true;
      }
    }
    if (!found && goesOn && indent > 2) statuses.back().second += " " + text;
    goesOn = found || (goesOn && indent > 2);
  }
  for (auto& [status, meaning] : statuses) meaning = collapseBlanks(meaning);
  return statuses;
}

// One line of roff as the reader sees it: a font macro's words joined (.BR, .BI and the
// like alternate fonts without a space between them), other requests dropped, "\-" read
// as "-".
std::string roffText(const std::string& line) {
  std::string text = line;
  if (line.starts_with('.')) {
    const std::size_t space = line.find(' ');
    const std::string macro = line.substr(1, space == std::string::npos ? 0 : space - 1);
    const std::string arguments = space == std::string::npos ? "" : line.substr(space + 1);
    if (macro == "B" || macro == "I") {
      text = arguments;
    } else if (macro.size() == 2 && std::string("BIR").find(macro[0]) != std::string::npos &&
               std::string("BIR").find(macro[1]) != std::string::npos) {
      text = std::regex_replace(arguments, std::regex(" "), "");
    } else {
      text = "";
    }
  }
  return std::regex_replace(text, std::regex(R"(\\-)"), "-");
}

// The statuses of the man page: in its EXIT STATUS section, the tag after each .TP and the
// lines up to the next one.
Statuses statusesOfManPage(const std::string& roff) {
  Statuses statuses;
  const std::size_t start = roff.find("\n.SH EXIT STATUS\n");
  if (start == std::string::npos) return statuses;
  std::istringstream lines(roff.substr(start + 1, roff.find("\n.SH ", start + 1) - start));
  bool tag = false;
  for (std::string line; std::getline(lines, line);) {
    if (line == ".TP") {
      tag = true;
    } else if (tag) {
      statuses.emplace_back(roffText(line), "");
      tag = false;
    } else if (!statuses.empty()) {
      statuses.back().second += " " + roffText(line);
    }
  }
  for (auto& [status, meaning] : statuses) meaning = collapseBlanks(meaning);
  return statuses;
}

// The statuses of the help page: the rows of the table under <h2 id="status">, the markup
// taken out and the status's blanks too ("128 + N").
Statuses statusesOfHelpPage(const std::string& html) {
  Statuses statuses;
  const std::size_t start = html.find("<h2 id=\"status\">");
  if (start == std::string::npos) return statuses;
  const std::string table = html.substr(start, html.find("</table>", start) - start);
  static const std::regex kRow(R"(<tr><td>([\s\S]*?)</td><td>([\s\S]*?)</td></tr>)");
  const auto text = [](const std::string& cell) {
    std::string plain = std::regex_replace(cell, std::regex("<[^>]*>"), "");
    for (const auto& [entity, character] : {std::pair{"&lt;", "<"}, std::pair{"&gt;", ">"},
                                            std::pair{"&quot;", "\""}, std::pair{"&amp;", "&"}}) {
      plain = std::regex_replace(plain, std::regex(entity), character);
    }
    return collapseBlanks(plain);
  };
  for (std::sregex_iterator it(table.begin(), table.end(), kRow), end; it != end; ++it) {
    statuses.emplace_back(std::regex_replace(text((*it)[1]), std::regex(" "), ""), text((*it)[2]));
  }
  return statuses;
}

// Whether `entry` says `meaning`: the same words (the first letter's case aside), then
// nothing, or a stop, comma, semicolon, colon or parenthesis that goes on with details.
bool saysMeaning(std::string entry, const std::string& meaning) {
  if (!entry.empty()) entry[0] = static_cast<char>(std::tolower(entry[0]));
  if (!entry.starts_with(meaning)) return false;
  const std::string rest = entry.substr(meaning.size());
  return rest.empty() || std::string(".,;:").find(rest[0]) != std::string::npos ||
         rest.starts_with(" (");
}

// The statuses by their number (128+N by 128), each with its name as the text writes it.
std::map<int, std::pair<std::string, std::string>> byNumber(const Statuses& statuses) {
  std::map<int, std::pair<std::string, std::string>> numbered;
  for (const auto& status : statuses) numbered[std::stoi(status.first)] = status;
  return numbered;
}

// The statuses' names in the order of their numbers.
std::vector<std::string> statusNames(const Statuses& statuses) {
  std::vector<std::string> names;
  for (const auto& [number, status] : byNumber(statuses)) names.push_back(status.first);
  if (names.size() != statuses.size()) names.push_back("(a status given twice)");
  return names;
}

// --help gives each exit status a meaning of one line; the man page and the help page list
// the same statuses, and each of their entries begins with that meaning.
TEST(CommandLine, HelpManPageAndHelpPageGiveTheSameExitStatuses) {
  const support::ChildResult run =
      support::runProgram({ROWPRESS_BINARY, "--help"}, std::chrono::seconds(60));
  ASSERT_EQ(run.exitStatus, 0) << ROWPRESS_BINARY << " --help did not run: " << run.err;
  const Statuses help = statusesOfHelp(run.out);
  std::vector<std::string> outcomes;
  for (int status = static_cast<int>(RunOutcome::Exported);
       status <= static_cast<int>(RunOutcome::Changed); ++status) {
    outcomes.push_back(std::to_string(status));
  }
  outcomes.push_back(std::to_string(static_cast<int>(RunOutcome::Stopped)) + "+N");
  ASSERT_EQ(statusNames(help), outcomes) << "--help does not list every exit status once:\n"
                                         << run.out;

  const std::string manPage = support::readFile(ROWPRESS_SOURCE_DIR "/docs/rowpress.1");
  ASSERT_FALSE(manPage.empty()) << "the man page docs/rowpress.1 is missing or empty";
  const std::string helpPage = support::readFile(ROWPRESS_SOURCE_DIR "/docs/help.html");
  ASSERT_FALSE(helpPage.empty()) << "the help page docs/help.html is missing or empty";
  for (const auto& [name, statuses] : {std::pair{"docs/rowpress.1", statusesOfManPage(manPage)},
                                       std::pair{"docs/help.html", statusesOfHelpPage(helpPage)}}) {
    EXPECT_EQ(statusNames(statuses), outcomes) << name << " lists other exit statuses";
    const auto numbered = byNumber(statuses);
    for (const auto& [number, status] : byNumber(help)) {
      const auto entry = numbered.find(number);
      if (entry == numbered.end()) continue;
      EXPECT_TRUE(saysMeaning(entry->second.second, status.second))
          << name << " says of status " << entry->second.first << ": \"" << entry->second.second
          << "\"\n--help says of status " << status.first << ": \"" << status.second << "\"";
    }
  }
}

}  // namespace
}  // namespace rowpress
