// What the executable says of the values it changed to fit a file: the notes after the summary,
// the manifest beside the file, and the strict run that refuses the first change. The table
// "acct" is built so that each rule meets a known number of values; the counts expected are
// taken from the values the test inserted, not from rowpress.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <utility>
#include <vector>

#include "tests/app_support/startup_test_support.h"

namespace rowpress {
namespace {

using support::fileExists;
using support::readFile;
using support::writeFile;
using ::testing::HasSubstr;

// One row of the table: the value of each column but the number.
struct AcctRow {
  std::string memo, note, ctl, big;
  bool blob = false;
  std::string ts;
};

constexpr int kAcctRows = 24;
const std::string kLongName(300, 'x');  // a column name longer than 255 bytes

std::vector<AcctRow> acctRows() {
  static const char* const kNotes[] = {"a,b", "x\ny", "t\tz", "plain", "toolongvalue", "c\rd"};
  static const char* const kControls[] = {"a\x01z", "bad\xff", "ok", "ok", "ok"};
  std::vector<AcctRow> rows;
  for (int i = 0; i < kAcctRows; ++i) {
    AcctRow row;
    row.memo = i % 7 == 0 ? std::string(70000, 'm') : "m" + std::to_string(i);
    row.note = kNotes[i % 6];
    row.ctl = kControls[i % 5];
    row.big = i % 6 == 1 ? std::string(40000, 'b') : "b";
    row.blob = i % 3 != 0;
    row.ts = i % 8 == 0   ? "2024-01-01 10:00:00.1234"
             : i % 8 == 1 ? "2024-01-01 10:00:00.1230"
                          : "2024-01-01 10:00:00";
    rows.push_back(row);
  }
  return rows;
}

std::string hexText(const std::string& text) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex = "cast(x'";
  for (unsigned char c : text) {
    hex += kDigits[c >> 4];
    hex += kDigits[c & 15];
  }
  return hex + "' as text)";
}

bool holdsAnyOf(const std::string& text, const std::string& bytes) {
  return text.find_first_of(bytes) != std::string::npos;
}
bool holdsControlOrNonAscii(const std::string& text) {
  for (unsigned char c : text) {
    if (c < 0x20 || c >= 0x80) return true;
  }
  return false;
}

using Counts = std::map<std::pair<int, std::string>, long long>;

// The counts of a rule on column `column`: the rows whose value meets `met`.
void expect(Counts& counts, int column, const std::string& rule,
            const std::function<bool(const AcctRow&)>& met) {
  long long count = 0;
  for (const AcctRow& row : acctRows()) count += met(row) ? 1 : 0;
  if (count > 0) counts[{column, rule}] = count;
}

class ValueAccountTest : public support::UnattendedTest {
 protected:
  void SetUp() override {
    UnattendedTest::SetUp();
    execute(
        "create table acct (n integer, memo text, note varchar(8), ctl text, big text, "
        "data blob, ts timestamp)");
    const std::vector<AcctRow> rows = acctRows();
    for (int i = 0; i < kAcctRows; ++i) {
      const AcctRow& row = rows[static_cast<std::size_t>(i)];
      execute("insert into acct values (" + std::to_string(i) + ", " + hexText(row.memo) + ", " +
              hexText(row.note) + ", " + hexText(row.ctl) + ", " + hexText(row.big) + ", " +
              (row.blob ? "x'0102'" : "NULL") + ", '" + row.ts + "')");
    }
  }

  // Runs the job with `lines`, writing to `out`, with a manifest; the manifest read back.
  nlohmann::json runWithManifest(const std::string& sql, const std::vector<std::string>& lines,
                                 const std::string& out) {
    writeFile(job_file_, support::jobFileText("rowtest", sql, lines));
    EXPECT_EQ(runRowpress(
                  {"-silent", "-noautoopen", "-manifest", "-file=" + job_file_, "-outfile=" + out}),
              0)
        << run_.err;
    return nlohmann::json::parse(readFile(out + ".manifest.json"));
  }
};

TEST_F(ValueAccountTest, EachRuleIsCountedExactlyInTheNotesAndTheManifest) {
  const std::string sql =
      "select n as \"" + kLongName + "\", memo, note, ctl, big, data, ts from acct order by n";
  auto cut = [](const AcctRow& r) { return r.memo.size() > 65536; };
  auto longer = [](std::size_t limit) {
    return [limit](const AcctRow& r) { return r.big.size() > limit; };
  };
  auto all = [](const AcctRow&) { return true; };
  struct Case {
    const char* name;
    std::vector<std::string> lines;
    Counts counts;
  };
  std::vector<Case> cases(6);
  cases[0] = {"out.csv", {"CSV=\"1\";"}, {}};
  expect(cases[0].counts, 3, "replaced",
         [](const AcctRow& r) { return holdsAnyOf(r.note, ",\r\n"); });
  cases[1] = {"out.tsv", {"TSV=\"1\";"}, {}};
  expect(cases[1].counts, 3, "replaced",
         [](const AcctRow& r) { return holdsAnyOf(r.note, "\t\r\n"); });
  cases[2] = {"standard.csv", {"CSV=\"1\";", "QuoteFields=\"1\";"}, {}};
  cases[3] = {"out.html", {"HTML=\"1\";"}, {}};
  expect(cases[3].counts, 3, "line-break",
         [](const AcctRow& r) { return holdsAnyOf(r.note, "\n"); });
  cases[4] = {"out.xml", {}, {}};
  expect(cases[4].counts, 2, "too-large", cut);
  expect(cases[4].counts, 3, "dropped",
         [](const AcctRow& r) { return holdsControlOrNonAscii(r.note); });
  expect(cases[4].counts, 4, "dropped",
         [](const AcctRow& r) { return holdsControlOrNonAscii(r.ctl); });
  expect(cases[4].counts, 5, "too-large", longer(32765));
  cases[5] = {"out.xlsx", {"XLSX=\"1\";"}, {}};
  expect(cases[5].counts, 2, "too-large", [](const AcctRow& r) { return r.memo.size() > 32767; });
  expect(cases[5].counts, 3, "dropped",
         [](const AcctRow& r) { return holdsControlOrNonAscii(r.note); });
  expect(cases[5].counts, 4, "dropped",
         [](const AcctRow& r) { return holdsControlOrNonAscii(r.ctl); });
  expect(cases[5].counts, 5, "too-large", longer(32767));
  expect(cases[5].counts, 6, "binary", [](const AcctRow& r) { return r.blob; });
  expect(cases[5].counts, 7, "fraction", [](const AcctRow& r) { return r.ts.ends_with("1234"); });
  for (std::size_t i = 0; i < cases.size(); ++i) {
    Case& c = cases[i];
    c.counts[{1, "column-name"}] = 1;
    // Standard CSV takes values whole; the .xlsx reads what a cell can hold, and the rest is
    // too large.
    if (i != 2 && i != 5) expect(c.counts, 2, "cut", cut);
    // The classic outputs write "<BINARY>" without asking for NULL; standard CSV and the .xlsx
    // leave a NULL empty.
    if (i == 2) expect(c.counts, 6, "binary", [](const AcctRow& r) { return r.blob; });
    if (i != 2 && i != 5) expect(c.counts, 6, "binary", all);
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string out = temp_ / c.name;
    const nlohmann::json manifest = runWithManifest(sql, c.lines, out);
    Counts counted;
    for (const auto& change : manifest.at("changed")) {
      counted[{change.at("column").get<int>(), change.at("rule").get<std::string>()}] =
          change.at("count").get<long long>();
    }
    EXPECT_EQ(counted, c.counts);
    // A note line for each count, after the summary, in the manifest's order.
    std::vector<std::string> notes;
    for (std::size_t at = run_.err.find("rowpress: note: "); at != std::string::npos;
         at = run_.err.find("rowpress: note: ", at + 1)) {
      notes.push_back(run_.err.substr(at, run_.err.find('\n', at) - at));
    }
    ASSERT_EQ(notes.size(), manifest.at("changed").size());
    for (std::size_t k = 0; k < notes.size(); ++k) {
      const auto& change = manifest.at("changed")[k];
      EXPECT_THAT(notes[k],
                  HasSubstr("column " + std::to_string(change.at("column").get<int>()) + " \""));
      if (change.at("rule") != "column-name") {
        EXPECT_THAT(notes[k], HasSubstr(": " + std::to_string(change.at("count").get<long long>()) +
                                        " value"));
      }
    }
    EXPECT_EQ(support::withoutSummary(run_.err), "");
  }
}

// A character the file's encoding cannot hold, or a byte that is no UTF-8, is written as "?"
// and counted, in a value read in parts too, and in a column's name as one of its column's;
// the manifest says how to read the file.
TEST_F(ValueAccountTest, AnEncodingWritesWhatItCannotHoldAsAQuestionMarkAndCountsIt) {
  const std::string out = temp_ / "latin1.csv";
  const nlohmann::json manifest = runWithManifest(
      "select n, ctl, memo || '\u20ac' as \"memo\u20ac\", 'Z\u00fcrich' as city from acct "
      "order by n",
      {"CSV=\"1\";", "QuoteFields=\"1\";", "Separator=\";\";", "Encoding=\"ISO-8859-1\";"}, out);
  Counts counted;
  for (const auto& change : manifest.at("changed")) {
    EXPECT_EQ(change.at("rule"), "unencodable");
    counted[{change.at("column").get<int>(), change.at("rule").get<std::string>()}] =
        change.at("count").get<long long>();
  }
  Counts expected;
  expect(expected, 2, "unencodable",
         [](const AcctRow& r) { return r.ctl.find('\xff') != std::string::npos; });
  expected[{3, "unencodable"}] = kAcctRows + 1;
  EXPECT_EQ(counted, expected);
  EXPECT_EQ(manifest.at("separator"), ";");
  EXPECT_EQ(manifest.at("decimalComma"), false);
  EXPECT_EQ(manifest.at("encoding"), "ISO-8859-1");
  EXPECT_THAT(run_.err, HasSubstr("values with characters the encoding cannot hold written as ?"));
  const std::string file = readFile(out);
  EXPECT_EQ(file.substr(0, file.find('\r')), "n;ctl;memo?;city");
  EXPECT_THAT(file, HasSubstr("\r\n1;bad?;m1?;Z\xfcrich\r\n"));
  EXPECT_THAT(file, HasSubstr("mmm?\";Z\xfcrich\r\n"));  // the long value, in parts
  EXPECT_EQ(file.find('\xe2'), std::string::npos);
}

// SQLite has no time zone of a session: a job that sets one exports as it would without, says
// so on a note line and records no zone; a zone that is no zone name is refused before
// connecting.
TEST_F(ValueAccountTest, SqliteSaysOnANoteLineThatItHasNoTimeZone) {
  const std::string out = temp_ / "zone.csv";
  const nlohmann::json manifest = runWithManifest(
      "select n from acct where n = 1", {"CSV=\"1\";", "TimeZone=\"Europe/Berlin\";"}, out);
  EXPECT_FALSE(manifest.contains("timeZone"));
  EXPECT_THAT(run_.err, HasSubstr("rowpress: note: SQLite has no time zone of a session; the "
                                  "time zone \"Europe/Berlin\" was not used\n"));
  EXPECT_EQ(readFile(out), "n,\r\n1,\r\n");
  EXPECT_EQ(runRowpress({"-silent", "-noautoopen", "-file=" + job_file_, "-timezone=UTC';x",
                         "-outfile=" + (temp_ / "bad.csv")}),
            6);
  EXPECT_THAT(run_.err, HasSubstr("The time zone \"UTC';x\" is not a zone name"));
  EXPECT_FALSE(fileExists(temp_ / "bad.csv"));
}

TEST_F(ValueAccountTest, TheManifestDescribesTheFileAndAgreesWithTheTypeReport) {
  const std::string out = temp_ / "acct.csv";
  const nlohmann::json manifest = runWithManifest("select n, note, data from acct order by n",
                                                  {"CSV=\"1\";", "QuoteFields=\"1\";"}, out);
  // The digest and size of the file as an independent program reads it.
  const support::ChildResult digest =
      support::runProgram({support::findProgram("sha256sum"), out}, std::chrono::seconds(30));
  EXPECT_EQ(manifest.at("sha256"), digest.out.substr(0, 64));
  EXPECT_EQ(manifest.at("bytes").get<long long>(), support::fileSize(out).value_or(-1));
  EXPECT_EQ(manifest.at("rows"), kAcctRows);
  EXPECT_EQ(manifest.at("dataSource"), "rowtest");
  const support::ChildResult sqlDigest = support::runScript(
      temp_.path(), "printf '%s' 'select n, note, data from acct order by n' | sha256sum");
  EXPECT_EQ(manifest.at("sqlSha256"), sqlDigest.out.substr(0, 64));
  EXPECT_LE(manifest.at("started").get<std::string>(), manifest.at("finished").get<std::string>());
  EXPECT_THAT(manifest.at("started").get<std::string>(),
              ::testing::MatchesRegex("[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9:.]+Z"));
  // The type report names the same columns with the same types and sizes.
  const std::string report = readFile(home() + "/lasttablecolumntypeinfo.csv");
  const auto& columns = manifest.at("columns");
  ASSERT_EQ(columns.size(), 3u);
  for (std::size_t k = 0; k < columns.size(); ++k) {
    const std::string line = "\r\n" + std::to_string(k + 1) + "," +
                             columns[k].at("name").get<std::string>() + "," +
                             std::to_string(columns[k].at("sqlType").get<int>()) + "," +
                             std::to_string(columns[k].at("size").get<long long>()) + ",";
    EXPECT_THAT(report, HasSubstr(line));
  }
  EXPECT_EQ(columns[2].at("name"), "data");
  EXPECT_EQ(columns[2].at("sqlType"), -2);  // SQLite's blob: SQL_BINARY

  // A failed run keeps the file and the manifest that were there, and leaves nothing beside.
  const std::string before = readFile(out);
  const std::string manifestBefore = readFile(out + ".manifest.json");
  writeFile(job_file_,
            support::jobFileText("rowtest", "select nothing from nowhere", {"CSV=\"1\";"}));
  EXPECT_EQ(
      runRowpress({"-silent", "-noautoopen", "-manifest", "-file=" + job_file_, "-outfile=" + out}),
      3);
  EXPECT_EQ(readFile(out), before);
  EXPECT_EQ(readFile(out + ".manifest.json"), manifestBefore);
  for (const std::string& name : support::listDirectory(temp_.path())) {
    EXPECT_THAT(name, ::testing::Not(HasSubstr(".rowpress-"))) << name;
  }
}

TEST_F(ValueAccountTest, ACsvReportHasOneManifestListingEachSheetsFile) {
  writeFile(job_file_,
            support::settings({"Database=\"rowtest\";", "Sheet=\"Notes\";",
                               "SQL=\"select note from acct where n < :last order by n\";",
                               "Sheet=\"Nums\";", "SQL=\"select n from acct\";", "CSV=\"1\";",
                               "Param=\"last=4\";"}));
  const std::string out = temp_ / "month.csv";
  for (const char* manifestSwitch : {"-manifest", "-manifest=values"}) {
    EXPECT_EQ(runRowpress({"-silent", "-noautoopen", manifestSwitch, "-file=" + job_file_,
                           "-outfile=" + out}),
              0)
        << run_.err;
    const nlohmann::json manifest =
        nlohmann::json::parse(readFile(temp_ / "month.csv.manifest.json"));
    EXPECT_FALSE(manifest.contains("sha256"));
    const auto& files = manifest.at("files");
    ASSERT_EQ(files.size(), 2u);
    for (const auto& file : files) {
      const std::string path = file.at("path");
      EXPECT_EQ(file.at("bytes").get<long long>(), support::fileSize(path).value_or(-1));
      const support::ChildResult digest =
          support::runProgram({support::findProgram("sha256sum"), path}, std::chrono::seconds(30));
      EXPECT_EQ(file.at("sha256"), digest.out.substr(0, 64));
    }
    EXPECT_EQ(files[0].at("path"), temp_ / "month-Notes.csv");
    EXPECT_EQ(files[1].at("path"), temp_ / "month-Nums.csv");
    const auto& sheets = manifest.at("sheets");
    ASSERT_EQ(sheets.size(), 2u);
    EXPECT_EQ(sheets[0].at("name"), "Notes");
    EXPECT_EQ(sheets[0].at("rows"), 4);
    // "a,b" and "x\ny" of the first four rows.
    EXPECT_EQ(sheets[0].at("changed"),
              nlohmann::json::parse(R"([{"column": 1, "rule": "replaced", "count": 2}])"));
    EXPECT_EQ(sheets[1].at("rows"), kAcctRows);
    EXPECT_EQ(sheets[1].at("changed"), nlohmann::json::array());
    EXPECT_EQ(manifest.at("rows"), 4 + kAcctRows);
    EXPECT_EQ(manifest.at("parameters"), std::string(manifestSwitch) == "-manifest"
                                             ? nlohmann::json::parse(R"(["last"])")
                                             : nlohmann::json::parse(R"({"last": "4"})"));
    EXPECT_THAT(run_.err,
                HasSubstr("rowpress: note: sheet \"Notes\", column 1 \"note\": 2 values"));
  }
}

TEST_F(ValueAccountTest, StrictRefusesTheFirstChangeOfEachRuleAndKeepsTheEarlierFile) {
  struct Case {
    const char* rule;
    std::string select;
    std::vector<std::string> lines;
    const char* file;
    std::function<bool(const AcctRow&)> met;
  };
  const std::vector<Case> cases = {
      {"cut",
       "memo",
       {"CSV=\"1\";"},
       "s.csv",
       [](const AcctRow& r) { return r.memo.size() > 65536; }},
      {"replaced",
       "note",
       {"CSV=\"1\";"},
       "s.csv",
       [](const AcctRow& r) { return holdsAnyOf(r.note, ",\r\n"); }},
      {"fixed-width",
       "note",
       {"CSV=\"1\";", "QuoteFields=\"1\";", "ForceFullLength=\"1\";"},
       "s.csv",
       [](const AcctRow& r) { return r.note.size() > 8; }},
      {"binary", "data", {"HTML=\"1\";"}, "s.html", [](const AcctRow&) { return true; }},
      {"dropped",
       "ctl",
       {},
       "s.xml",
       [](const AcctRow& r) { return holdsControlOrNonAscii(r.ctl); }},
      {"too-large",
       "big",
       {"XLSX=\"1\";"},
       "s.xlsx",
       [](const AcctRow& r) { return r.big.size() > 32767; }},
      {"fraction",
       "ts",
       {"XLSX=\"1\";"},
       "s.xlsx",
       [](const AcctRow& r) { return r.ts.ends_with("1234"); }},
      {"unencodable",
       "ctl",
       {"CSV=\"1\";", "Encoding=\"ISO-8859-1\";"},
       "s.csv",
       [](const AcctRow& r) { return r.ctl.find('\xff') != std::string::npos; }},
  };
  const std::vector<AcctRow> rows = acctRows();
  // Nothing is replaced: the column type report neither.
  const std::string typeReport = home() + "/lasttablecolumntypeinfo.csv";
  std::filesystem::create_directories(home());
  writeFile(typeReport, "the earlier report");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rule);
    // The rows from n = 1 on: the first one that the rule meets is the row named.
    long long row = 0;
    for (int i = 1; i < kAcctRows && row == 0; ++i) {
      if (c.met(rows[static_cast<std::size_t>(i)])) row = i;
    }
    ASSERT_GT(row, 0);
    const std::string out = temp_ / c.file;
    writeFile(out, "the earlier file");
    std::vector<std::string> lines = c.lines;
    lines.push_back("Strict=\"1\";");
    writeFile(job_file_,
              support::jobFileText(
                  "rowtest", "select " + c.select + " from acct where n >= 1 order by n", lines));
    EXPECT_EQ(runRowpress(
                  {"-silent", "-noautoopen", "-manifest", "-file=" + job_file_, "-outfile=" + out}),
              8);
    EXPECT_THAT(run_.err,
                HasSubstr("column 1 \"" + c.select + "\", row " + std::to_string(row) + ": "));
    EXPECT_THAT(run_.err, HasSubstr("(rule " + std::string(c.rule) + "); nothing was written"));
    EXPECT_EQ(readFile(out), "the earlier file");
    EXPECT_FALSE(fileExists(out + ".manifest.json"));
    EXPECT_EQ(readFile(typeReport), "the earlier report");
    EXPECT_EQ(run_.out, "");
  }
  // A column's name is refused before any row; -strict on the command line is the same key.
  writeFile(job_file_,
            support::jobFileText("rowtest", "select n as \"" + kLongName + "\" from acct",
                                 {"CSV=\"1\";"}));
  EXPECT_EQ(runRowpress({"-silent", "-noautoopen", "-strict", "-file=" + job_file_,
                         "-outfile=" + (temp_ / "name.csv")}),
            8);
  EXPECT_THAT(run_.err, HasSubstr("(rule column-name)"));
  EXPECT_FALSE(fileExists(temp_ / "name.csv"));
  EXPECT_EQ(readFile(typeReport), "the earlier report");
  // So is a name that the encoding cannot hold.
  writeFile(job_file_, support::jobFileText("rowtest", "select n as \"n\u20ac\" from acct",
                                            {"CSV=\"1\";", "Encoding=\"ISO-8859-1\";"}));
  EXPECT_EQ(runRowpress({"-silent", "-noautoopen", "-strict", "-file=" + job_file_,
                         "-outfile=" + (temp_ / "name.csv")}),
            8);
  EXPECT_THAT(run_.err, HasSubstr("column 1 \"n\u20ac\": the name holds a character the "
                                  "encoding cannot hold, which would be written as ? (rule "
                                  "unencodable); nothing was written"));
  EXPECT_FALSE(fileExists(temp_ / "name.csv"));
  // Values kept whole as text are no change: numbers of more than 15 digits pass.
  writeFile(job_file_,
            support::jobFileText("rowtest", "select 12345678901234567890 as big, 'plain' as t",
                                 {"XLSX=\"1\";", "Strict=\"1\";"}));
  EXPECT_EQ(runRowpress({"-silent", "-noautoopen", "-file=" + job_file_,
                         "-outfile=" + (temp_ / "whole.xlsx")}),
            0)
      << run_.err;
}

TEST_F(ValueAccountTest, StrictPublishesNothingAtAWorkbookLimit) {
  const std::string out = temp_ / "limit.xml";
  writeFile(out, "the earlier file");
  const std::string sql =
      "with recursive c(x) as (select 1 union all select x + 1 from c where x < 65535) "
      "select x from c";
  writeFile(job_file_, support::jobFileText("rowtest", sql));
  EXPECT_EQ(
      runRowpress({"-silent", "-noautoopen", "-strict", "-file=" + job_file_, "-outfile=" + out}),
      5);
  EXPECT_EQ(readFile(out), "the earlier file");
  // Without -strict the workbook of the rows that fit is kept, as always.
  EXPECT_EQ(runRowpress({"-silent", "-noautoopen", "-file=" + job_file_, "-outfile=" + out}), 5);
  EXPECT_NE(readFile(out), "the earlier file");
}

}  // namespace
}  // namespace rowpress
