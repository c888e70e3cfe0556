#include "settings/settings_format.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "settings/settings_file.h"
#include "settings/settings_reader.h"
#include "tests/support/test_files.h"

namespace rowpress {
namespace {

std::vector<std::string> splitCrLf(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t at; (at = text.find("\r\n", start)) != std::string::npos; start = at + 2) {
    lines.push_back(text.substr(start, at - start));
  }
  EXPECT_EQ(start, text.size()) << "text after the last CR LF";
  return lines;
}

JobSettings stockJob() {
  JobSettings job;
  job.dataSource = "Sales DB";
  job.userName = "clerk";
  job.password = "a";
  job.sql = "SELECT name, \"qty\"\r\nFROM stock\r\nWHERE qty > 0";
  job.excel2007 = true;
  job.outputTsv = true;
  job.launchApplication = "gnumeric --no-splash";
  job.outFileName = "/tmp/stock.tsv";
  return job;
}

// The file that saving stockJob() writes, with "<date>" for the date of the save.
constexpr char kStockJobFile[] =
    "-- "
    "----------------------------------------------------------------------------------------\r\n"
    "-- ROWPRESS Settings File\r\n"
    "-- \r\n"
    "-- Generated : <date>\r\n"
    "-- "
    "----------------------------------------------------------------------------------------\r\n"
    "-- The Database Name \r\n"
    "Database=\"Sales DB\";\r\n"
    "-- "
    "........................................................................................\r\n"
    "-- The User Name \r\n"
    "UserName=\"clerk\";\r\n"
    "-- "
    "........................................................................................\r\n"
    "-- The Password \r\n"
    "Password=\"\x15>\";\r\n"
    "-- "
    "........................................................................................\r\n"
    "-- The SQL \r\n"
    "SQL=\"SELECT name, \"qty\"  \"+\r\n"
    "    \"FROM stock  \"+\r\n"
    "    \"WHERE qty > 0\";\r\n"
    "-- "
    "........................................................................................\r\n"
    "-- Excell 2007 Compatible Mode \r\n"
    "2007=\"1\";\r\n"
    "-- "
    "........................................................................................\r\n"
    "-- "
    "........................................................................................\r\n"
    "-- Force Full Column Length \r\n"
    "ForceFullLength=\"0\";\r\n"
    "-- "
    "........................................................................................\r\n"
    "-- "
    "........................................................................................\r\n"
    "-- The CSV Output Preference \r\n"
    "CSV=\"0\";\r\n"
    "-- "
    "........................................................................................\r\n"
    "-- "
    "........................................................................................\r\n"
    "-- The TSV Output Preference \r\n"
    "TSV=\"1\";\r\n"
    "-- "
    "........................................................................................\r\n"
    "-- The HTML Output Preference \r\n"
    "HTML=\"0\";\r\n"
    "-- "
    "........................................................................................\r\n"
    "-- The Launch Application Preference (setting to \"\" forces excel as launch application) "
    "\r\n"
    "LaunchApplication=\"gnumeric --no-splash\";\r\n"
    "DoLaunchApplication=\"1\";\r\n"
    "-- "
    "----------------------------------------------------------------------------------------\r\n"
    "-- The OutPut File Name Preference (set to \"\" to force unique temp names) \r\n"
    "OutFileName=\"/tmp/stock.tsv\";\r\n"
    "-- "
    "----------------------------------------------------------------------------------------\r\n"
    "-- END\r\n"
    "-- "
    "----------------------------------------------------------------------------------------"
    "\r\n";

// `written` with its date, which changes from one save to the next, as "<date>".
std::string withoutDate(std::string written) {
  const std::string dateLead = "-- Generated : ";
  std::size_t date = written.find(dateLead);
  if (date == std::string::npos) {
    ADD_FAILURE() << "no date line";
    return written;
  }
  date += dateLead.size();
  std::size_t end = written.find("\r\n", date);
  if (end == std::string::npos) {
    ADD_FAILURE() << "the date line does not end";
    return written;
  }
  EXPECT_EQ(end - date, 22u) << "MM/DD/YYYY HH:MM:SS AM";
  return written.replace(date, end - date, "<date>");
}

TEST(SettingsFormat, WholeFileByteForByte) {
  EXPECT_EQ(withoutDate(formatSettingsFile(stockJob(), std::time(nullptr))), kStockJobFile);
}

TEST(SettingsFormat, ATimeoutIsWrittenOnlyWhenSetInItsBlockBeforeTheEnd) {
  // Without one the file is the same as ever (WholeFileByteForByte).
  JobSettings job = stockJob();
  job.timeoutSeconds = 45;
  std::string expected = kStockJobFile;
  expected.insert(expected.find("-- END\r\n"),
                  "-- The Timeout in seconds for connecting, executing and each row (0 or absent: "
                  "none) \r\n"
                  "Timeout=\"45\";\r\n");
  EXPECT_EQ(withoutDate(formatSettingsFile(job, std::time(nullptr))), expected);
}

TEST(SettingsFormat, TheNewerSettingsComeBeforeTheEndOnlyWhenOn) {
  JobSettings job = stockJob();
  job.outputTsv = false;
  job.outputXlsx = true;
  job.quoteFields = true;
  job.byteOrderMark = true;
  job.timeoutSeconds = 45;
  job.separator = ";";
  job.decimalComma = true;
  std::string expected = kStockJobFile;
  expected.replace(expected.find("TSV=\"1\""), 7, "TSV=\"0\"");
  const std::string end = "-- END\r\n";
  expected.insert(expected.find(end),
                  "-- The XLSX Output Preference \r\n"
                  "XLSX=\"1\";\r\n"
                  "-- Quote Fields of CSV and TSV Output \r\n"
                  "QuoteFields=\"1\";\r\n"
                  "-- UTF-8 Byte Order Mark of CSV and TSV Output \r\n"
                  "ByteOrderMark=\"1\";\r\n"
                  "-- The Timeout in seconds for connecting, executing and each row (0 or absent: "
                  "none) \r\n"
                  "Timeout=\"45\";\r\n"
                  "-- The Field Separator of Standard CSV: , ; or | \r\n"
                  "Separator=\";\";\r\n"
                  "-- Numbers of CSV and TSV Output with a Decimal Comma \r\n"
                  "DecimalComma=\"1\";\r\n");
  EXPECT_EQ(withoutDate(formatSettingsFile(job, std::time(nullptr))), expected);
  // Each alone, in its place.
  job.outputXlsx = job.byteOrderMark = job.decimalComma = false;
  job.separator.clear();
  job.timeoutSeconds = 0;
  const std::string quoteOnly = withoutDate(formatSettingsFile(job, std::time(nullptr)));
  EXPECT_NE(
      quoteOnly.find("(set to \"\" to force unique temp names) \r\nOutFileName=\"/tmp/stock.tsv\";"
                     "\r\n-- " +
                     std::string(88, '-') +
                     "\r\n-- Quote Fields of CSV and TSV Output \r\nQuoteFields=\"1\";\r\n-- END"),
      std::string::npos);
}

TEST(SettingsFormat, EveryRowHasTheMemberOfItsKind) {
  for (const JobField& field : kJobFields) {
    // The one member that the kind reads and writes, and nothing else; the sheets and the
    // parameters are lists of their own.
    const int members = (field.text != nullptr) + (field.secret != nullptr) +
                        (field.flag != nullptr) + (field.seconds != nullptr);
    const bool list = field.kind == FieldKind::SheetName || field.kind == FieldKind::Parameter;
    EXPECT_EQ(members, list ? 0 : 1) << field.keyString;
    switch (field.kind) {
      case FieldKind::Text:
        EXPECT_TRUE(field.text && field.limit > 0) << field.keyString;
        break;
      case FieldKind::Password:
        EXPECT_TRUE(field.secret && field.limit > 0) << field.keyString;
        break;
      case FieldKind::Flag:
      case FieldKind::LaunchFlag:
      case FieldKind::OutputFlag:
        EXPECT_TRUE(field.flag) << field.keyString;
        break;
      case FieldKind::Seconds:
        EXPECT_TRUE(field.seconds) << field.keyString;
        break;
      case FieldKind::SheetName:
      case FieldKind::Parameter:
        break;
    }
  }
}

TEST(SettingsFormat, NoKeyStringHoldsAnotherOneOrTheWordsOfAComment) {
  // Readers of older files pass the newer lines over only when no key they know lies in them;
  // DoLaunchApplication holds LaunchApplication, which the test order allows for.
  for (const JobField& row : kJobFields) {
    for (const JobField& otherRow : kJobFields) {
      const SettingKey key = row.key;
      const SettingKey other = otherRow.key;
      if (key == other ||
          (key == SettingKey::DoLaunchApplication && other == SettingKey::LaunchApplication)) {
        continue;
      }
      EXPECT_EQ(keyStringOf(key).find(keyStringOf(other)), std::string_view::npos)
          << keyStringOf(key) << " holds " << keyStringOf(other);
    }
  }
  JobSettings job;
  job.outputXlsx = job.quoteFields = job.byteOrderMark = true;
  job.timeoutSeconds = 5;
  for (const std::string& line : splitCrLf(formatSettingsFile(job, 0))) {
    if (line.rfind("--", 0) == 0) {
      EXPECT_EQ(line.find("=\""), std::string::npos) << line;
    }
  }
}

TEST(SettingsFormat, GeneratedDateUsesTwelveHourClockWithAmPm) {
  std::tm t{};
  t.tm_year = 2010 - 1900;
  t.tm_mon = 5;
  t.tm_mday = 12;
  t.tm_hour = 14;
  t.tm_min = 5;
  t.tm_sec = 9;
  EXPECT_EQ(formatGeneratedDate(t), "06/12/2010 02:05:09 PM");
  t.tm_hour = 0;
  EXPECT_EQ(formatGeneratedDate(t), "06/12/2010 12:05:09 AM");
  t.tm_hour = 12;
  EXPECT_EQ(formatGeneratedDate(t), "06/12/2010 12:05:09 PM");
  t.tm_hour = 11;
  t.tm_mon = 11;
  t.tm_mday = 31;
  EXPECT_EQ(formatGeneratedDate(t), "12/31/2010 11:05:09 AM");
}

TEST(SettingsFormat, OneLineSqlGives44LinesAndEachFurtherLineOneMore) {
  JobSettings job;
  job.sql = "SELECT 1";
  std::vector<std::string> lines = splitCrLf(formatSettingsFile(job, 0));
  ASSERT_EQ(lines.size(), 44u);
  EXPECT_EQ(lines[15], "SQL=\"SELECT 1\";");

  job.sql = "SELECT 1\r\nUNION\r\nSELECT 2\r\n\r\n";
  lines = splitCrLf(formatSettingsFile(job, 0));
  ASSERT_EQ(lines.size(), 48u);
  EXPECT_EQ(lines[15], "SQL=\"SELECT 1  \"+");
  EXPECT_EQ(lines[16], "    \"UNION  \"+");
  EXPECT_EQ(lines[17], "    \"SELECT 2  \"+");
  EXPECT_EQ(lines[18], "    \"  \"+");
  EXPECT_EQ(lines[19], "    \"\";");
  EXPECT_EQ(lines.back(), "-- " + std::string(88, '-'));
  for (const std::string& line : lines) EXPECT_EQ(line.find('\n'), std::string::npos);

  // A CR alone becomes a space; an LF alone still starts a new file line.
  EXPECT_EQ(encodeSqlValue("a\rb\nc"), "a b \"+\r\n    \"c");
}

// A report job's keys as a settings file holds them, read as loading reads one file.
struct Loaded {
  std::vector<std::string> problems;
};
Loaded loadText(JobSettings& job, const std::string& text) {
  std::istringstream in(text);
  SettingsText read = readSettingLines(in);
  resetBeforeLoad(job);
  return {applySettingLines(read.lines, job).problems};
}

// The separator, the decimal comma, the encoding and the time zone load back as written, and a
// file without them runs with the comma, the decimal point, UTF-8 and the data source's zone
// again.
TEST(SettingsFormat,
     TheSeparatorDecimalCommaEncodingAndTimeZoneLoadBackAndAFileWithoutThemClearsThem) {
  JobSettings job = stockJob();
  job.separator = ";";
  job.decimalComma = true;
  job.encoding = "windows-1252";
  job.timeZone = "Europe/Berlin";
  JobSettings loaded;
  const std::string text = formatSettingsFile(job, 0);
  EXPECT_NE(text.find("\r\nEncoding=\"windows-1252\";\r\n"
                      "-- The Time Zone of the Session (absent: the data source's) \r\n"
                      "TimeZone=\"Europe/Berlin\";\r\n-- END"),
            std::string::npos);
  EXPECT_TRUE(loadText(loaded, text).problems.empty());
  EXPECT_EQ(loaded.separator, ";");
  EXPECT_TRUE(loaded.decimalComma);
  EXPECT_EQ(loaded.encoding, "windows-1252");
  EXPECT_EQ(loaded.timeZone, "Europe/Berlin");
  EXPECT_TRUE(loadText(loaded, formatSettingsFile(stockJob(), 0)).problems.empty());
  EXPECT_EQ(loaded.separator, "");
  EXPECT_FALSE(loaded.decimalComma);
  EXPECT_EQ(loaded.encoding, "");
  EXPECT_EQ(loaded.timeZone, "");
}

TEST(ReportJobSettings, EachSheetKeyNamesTheSqlKeyAfterItAndParametersComeInFileOrder) {
  JobSettings job;
  job.sheets = {{"Old", "select 0"}};
  const Loaded loaded = loadText(job,
                                 "Database=\"sales\";\r\n"
                                 "Sheet=\"Orders\";\r\n"
                                 "SQL=\"select * from orders where month = :month\";\r\n"
                                 "Param=\"month=2026-11\";\r\n"
                                 "-- a comment between the pairs\r\n"
                                 "Sheet=\"Order Lines\";\r\n"
                                 "SQL=\"select *  \"+\r\n"
                                 "    \"from lines\";\r\n"
                                 "Param=\"region=north=west\";\r\n"
                                 "Param=\"month=2026-12\";\r\n");
  EXPECT_TRUE(loaded.problems.empty()) << loaded.problems.front();
  EXPECT_EQ(job.sheets,
            (std::vector<JobSheet>{{"Orders", "select * from orders where month = :month"},
                                   {"Order Lines", "select *  \r\nfrom lines"}}));
  EXPECT_EQ(job.sql, job.sheets.front().sql);  // the window shows the first sheet
  EXPECT_EQ(job.parameters,
            (std::vector<JobParameter>{{"month", "2026-12"}, {"region", "north=west"}}));
}

TEST(ReportJobSettings, SheetKeysThatDoNotPairWithSqlKeysRefuseTheReport) {
  const struct {
    const char* text;
    const char* named;
  } cases[] = {
      {"Sheet=\"A\";\r\nSQL=\"select 1\";\r\nSQL=\"select 2\";\r\n", "SQL key 2"},
      {"SQL=\"select 1\";\r\nSheet=\"A\";\r\nSQL=\"select 2\";\r\n", "SQL key 1"},
      {"Sheet=\"A\";\r\nSQL=\"select 1\";\r\nSheet=\"B\";\r\n", "\"B\" has no SQL key"},
      {"Sheet=\"A\";\r\nSheet=\"B\";\r\nSQL=\"select 1\";\r\n", "\"A\" has no SQL key"},
      {"Sheet=\"A\";\r\n", "\"A\" has no SQL key"},
      {"Sheet=\"Q1/Q2\";\r\nSQL=\"select 1\";\r\n", "\"Q1/Q2\""},
      {"Sheet=\"\";\r\nSQL=\"select 1\";\r\n", "empty"},
      {"Sheet=\"Orders\";\r\nSQL=\"select 1\";\r\nSheet=\"ORDERS\";\r\nSQL=\"select 2\";\r\n",
       "\"ORDERS\" is used twice"},
  };
  for (const auto& each : cases) {
    JobSettings job;
    const Loaded loaded = loadText(job, each.text);
    ASSERT_EQ(loaded.problems.size(), 1u) << each.text;
    EXPECT_NE(loaded.problems[0].find(each.named), std::string::npos) << loaded.problems[0];
    EXPECT_TRUE(loaded.problems[0].ends_with(kReportRefused)) << loaded.problems[0];
    EXPECT_TRUE(job.sheets.empty()) << each.text;
  }
}

TEST(ReportJobSettings, AFileWithSqlKeysReplacesTheSheetsAndOneWithoutKeepsThem) {
  const std::string report =
      "Sheet=\"A\";\r\nSQL=\"select 1\";\r\nSheet=\"B\";\r\nSQL=\"select 2\";\r\n";
  JobSettings job;
  loadText(job, report);
  ASSERT_EQ(job.sheets.size(), 2u);
  loadText(job, "CSV=\"1\";\r\nParam=\"a=1\";\r\n");
  EXPECT_EQ(job.sheets.size(), 2u);
  loadText(job, "SQL=\"select 3\";\r\n");
  EXPECT_TRUE(job.sheets.empty());
  EXPECT_EQ(job.sql, "select 3");
  EXPECT_EQ(job.parameters, (std::vector<JobParameter>{{"a", "1"}}));

  const Loaded bad = loadText(job, "Param=\"1a=x\";\r\nParam=\"novalue\";\r\n");
  EXPECT_EQ(bad.problems.size(), 2u);
}

TEST(ReportJobSettings, TheFirstSheetStandsWithTheSqlAndTheRestBeforeTheEnd) {
  JobSettings job = stockJob();
  job.sheets = {{"Stock", job.sql}, {"Low", "select name\r\nfrom stock where qty < 5"}};
  job.parameters = {{"month", "2026-11"}};
  const std::vector<std::string> lines = splitCrLf(formatSettingsFile(job, 0));
  const auto at = [&](const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) - lines.begin();
  };
  const auto sql = at("SQL=\"SELECT name, \"qty\"  \"+");
  ASSERT_LT(sql, static_cast<long>(lines.size()));
  EXPECT_EQ(lines[sql - 1], "Sheet=\"Stock\";");
  const auto outFile = at("OutFileName=\"/tmp/stock.tsv\";");
  const auto low = at("Sheet=\"Low\";");
  const auto param = at("Param=\"month=2026-11\";");
  const auto end = at("-- END");
  EXPECT_LT(outFile, low);
  EXPECT_EQ(lines[low + 1], "SQL=\"select name  \"+");
  EXPECT_LT(low, param);
  EXPECT_LT(param, end);

  // What is written loads back as the same report.
  JobSettings loaded;
  std::string text = formatSettingsFile(job, 0);
  EXPECT_TRUE(loadText(loaded, text).problems.empty());
  ASSERT_EQ(loaded.sheets.size(), 2u);
  EXPECT_EQ(loaded.sheets[1].name, "Low");
  EXPECT_EQ(loaded.sheets[1].sql, "select name  \r\nfrom stock where qty < 5");
  EXPECT_EQ(loaded.parameters, job.parameters);

  // Without sheets or parameters, none of their keys is written.
  const std::string plain = formatSettingsFile(stockJob(), 0);
  EXPECT_EQ(plain.find("Sheet="), std::string::npos);
  EXPECT_EQ(plain.find("Param="), std::string::npos);
}

TEST(ReportJobSettings, AValueThatWouldNotLoadBackIsNamedWhenSaved) {
  support::TempDir dir;
  const std::string path = dir / "report.DIRU";
  JobSettings job = stockJob();
  job.parameters = {{"note", "ends\";early"}};
  SettingsSaveResult saved = saveSettings(job, path);
  EXPECT_TRUE(saved.written);
  EXPECT_NE(std::find(saved.problems.begin(), saved.problems.end(),
                      "The parameters will not load back as saved."),
            saved.problems.end());
}

}  // namespace
}  // namespace rowpress
