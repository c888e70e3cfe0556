#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "app/job_controls.h"
#include "app/memory_view.h"
#include "settings/password_scramble.h"
#include "settings/settings_reader.h"

namespace rowpress {
namespace {

// The reading rules of settings files, seen in the job and the controls: hand-written file
// text is loaded into a job and a window that already hold other values.
class SettingsLoadTest : public ::testing::Test {
 protected:
  std::vector<std::string> load(const std::string& file) {
    std::istringstream in(file);
    SettingsText text = readSettingLines(in);
    resetBeforeLoad(job);
    AppliedSettings applied = applySettingLines(text.lines, job);
    resetControlsBeforeLoad(view);
    showAppliedSettings(applied.shown, view);
    holdsKey = text.holdsKey;
    std::vector<std::string> problems = std::move(applied.problems);
    problems.insert(problems.end(), text.problems.begin(), text.problems.end());
    return problems;
  }

  JobSettings job;
  MemoryView view;
  bool holdsKey = false;  // whether the text loaded last held any key string
};

// Every flag of the job has its box but those that only a job file and the command line set:
// Strict, Manifest, and the decimal comma (part of the separator choice).
TEST(JobControls, EveryFlagHasItsBoxButThoseOfTheFileAndTheCommandLine) {
  for (const JobField& field : kJobFields) {
    if (field.kind != FieldKind::Flag && field.kind != FieldKind::LaunchFlag &&
        field.kind != FieldKind::OutputFlag) {
      continue;
    }
    const bool fileOnly = field.key == SettingKey::Strict || field.key == SettingKey::Manifest ||
                          field.key == SettingKey::DecimalComma;
    EXPECT_EQ(controlOf(field.key).has_value(), !fileOnly) << field.keyString;
  }
}

TEST_F(SettingsLoadTest, KeyStringIsFoundAnywhereInALineEvenInAComment) {
  load("some text Database=\"dsn\"; more\r\n-- the old line was CSV=\"1\"; \r\n");
  EXPECT_EQ(job.dataSource, "dsn");
  EXPECT_EQ(view.lines(ControlId::DataSourceList), std::vector<std::string>{"dsn"});
  EXPECT_EQ(view.selectedIndex(ControlId::DataSourceList), 0);
  EXPECT_TRUE(job.outputCsv);
  EXPECT_TRUE(view.isChecked(ControlId::OutputCsv));
  EXPECT_FALSE(view.isChecked(ControlId::OutputXml));
}

TEST_F(SettingsLoadTest, FirstKeyInTestOrderDecidesTheLine) {
  job.userName = "before";
  load("Database=\"d\";UserName=\"u\";\r\n");
  EXPECT_EQ(job.dataSource, "d");
  EXPECT_EQ(job.userName, "before");

  // Database still decides, but the line's first closing pair lies before its value.
  job.dataSource = "kept";
  load("UserName=\"u\";Database=\"d\";\r\n");
  EXPECT_EQ(job.dataSource, "kept");
  EXPECT_EQ(job.userName, "before");

  // DoLaunchApplication holds the key string of LaunchApplication, which stays untouched.
  job.launchApplication = "app";
  view.setChecked(ControlId::LaunchOnFinish, true);
  load("DoLaunchApplication=\"0\";\r\n");
  EXPECT_EQ(job.launchApplication, "app");
  EXPECT_TRUE(job.noAutoOpen);
  EXPECT_FALSE(view.isChecked(ControlId::LaunchOnFinish));

  // Timeout comes last: a line that also holds an older key is that key's, as it always was.
  load("CSV=\"1\"; Timeout=\"5\";\r\n");
  EXPECT_TRUE(job.outputCsv);
  EXPECT_EQ(job.timeoutSeconds, 0);
  load("-- give up after Timeout=\"5\"; seconds\r\n");
  EXPECT_EQ(job.timeoutSeconds, 5);
  // A file without a Timeout line leaves none of an earlier file's.
  load("UserName=\"u\";\r\n");
  EXPECT_EQ(job.timeoutSeconds, 0);
}

TEST_F(SettingsLoadTest, OutputTypeIsTheLastOneSetInFileOrder) {
  load("CSV=\"1\";\r\nHTML=\"1\";\r\n");
  EXPECT_FALSE(job.outputCsv || job.outputTsv);
  EXPECT_TRUE(job.outputHtml);
  EXPECT_TRUE(view.isChecked(ControlId::OutputHtml));
  EXPECT_FALSE(view.isChecked(ControlId::OutputCsv) || view.isChecked(ControlId::OutputXml));

  // A value starting with 0 clears only its own flag and does not bring XML back.
  load("TSV=\"1\";\r\nCSV=\"0\";\r\nHTML=\"0x\";\r\n");
  EXPECT_TRUE(job.outputTsv);
  EXPECT_TRUE(view.isChecked(ControlId::OutputTsv));
  EXPECT_FALSE(view.isChecked(ControlId::OutputXml));

  // XLSX takes part like the others, before or after them.
  load("HTML=\"1\";\r\nXLSX=\"1\";\r\n");
  EXPECT_EQ(outputTypeOf(job), OutputType::Xlsx);
  EXPECT_FALSE(job.outputHtml);
  EXPECT_TRUE(view.isChecked(ControlId::OutputXlsx));
  EXPECT_FALSE(view.isChecked(ControlId::OutputHtml) || view.isChecked(ControlId::OutputXml));
  load("XLSX=\"1\";\r\nCSV=\"1\";\r\n");
  EXPECT_EQ(outputTypeOf(job), OutputType::Csv);
  EXPECT_FALSE(job.outputXlsx);
  EXPECT_FALSE(view.isChecked(ControlId::OutputXlsx));
  load("XLSX=\"1\";\r\nXLSX=\"0\";\r\n");
  EXPECT_EQ(outputTypeOf(job), OutputType::Xml);
  EXPECT_FALSE(view.isChecked(ControlId::OutputXlsx) || view.isChecked(ControlId::OutputXml));
}

TEST_F(SettingsLoadTest, QuoteFieldsAndByteOrderMarkAreReadAndClearedByEveryLoad) {
  load("-- \r\nQuoteFields=\"1\";\r\nByteOrderMark=\"1\";\r\n");
  EXPECT_TRUE(job.quoteFields && job.byteOrderMark);
  EXPECT_TRUE(view.isChecked(ControlId::QuoteFields) && view.isChecked(ControlId::ByteOrderMark));
  // A file without them (every file saved with them off) turns them off.
  job.outputXlsx = true;
  load("UserName=\"u\";\r\n");
  EXPECT_FALSE(job.quoteFields || job.byteOrderMark || job.outputXlsx);
  EXPECT_FALSE(view.isChecked(ControlId::QuoteFields) || view.isChecked(ControlId::ByteOrderMark));
  load("QuoteFields=\"1\";ByteOrderMark=\"0\";\r\nByteOrderMark=\"0\";\r\n");
  EXPECT_TRUE(job.quoteFields);
  EXPECT_FALSE(job.byteOrderMark);
}

TEST_F(SettingsLoadTest, LoadingResetsToTheWorkbookAndEmptiesTheDataSourceList) {
  job.dataSource = "old";
  job.outputHtml = true;
  view.appendLine(ControlId::DataSourceList, "old");
  view.appendLine(ControlId::DataSourceList, "other");
  view.setChecked(ControlId::OutputHtml, true);
  view.setChecked(ControlId::OutputXlsx, true);
  view.setChecked(ControlId::OutputTsv, true);
  view.setChecked(ControlId::Excel2007, true);
  load("-- nothing here\r\nUserName=\"u\";\r\n");
  EXPECT_TRUE(view.isChecked(ControlId::OutputXml));
  EXPECT_FALSE(view.isChecked(ControlId::OutputHtml) || view.isChecked(ControlId::OutputTsv) ||
               view.isChecked(ControlId::OutputCsv) || view.isChecked(ControlId::OutputXlsx));
  EXPECT_FALSE(job.outputCsv || job.outputTsv || job.outputHtml);
  EXPECT_EQ(view.lineCount(ControlId::DataSourceList), 0);
  EXPECT_EQ(job.dataSource, "old");  // the field keeps its value without a Database line
  EXPECT_TRUE(view.isChecked(ControlId::Excel2007));  // no key, no change
}

TEST_F(SettingsLoadTest, EmptyValuesAreIgnoredExceptApplicationAndOutputFile) {
  job.dataSource = "d";
  job.userName = "u";
  job.password = "p";
  job.sql = "SELECT 1";
  job.excel2007 = job.forceFullLength = job.noAutoOpen = true;
  job.launchApplication = "app";
  job.outFileName = "out";
  view.setText(ControlId::UserName, "u");
  view.setText(ControlId::LaunchApplication, "app");
  view.setText(ControlId::OutFileName, "out");
  view.setChecked(ControlId::Excel2007, true);
  view.setChecked(ControlId::ForceFullLength, true);
  load(
      "Database=\"\";\nUserName=\"\";\nPassword=\"\";\nSQL=\"\";\n2007=\"\";\n"
      "ForceFullLength=\"\";\nCSV=\"\";\nTSV=\"\";\nHTML=\"\";\nDoLaunchApplication=\"\";\n"
      "LaunchApplication=\"\";\nOutFileName=\"\";\n");
  EXPECT_EQ(job.dataSource, "d");
  EXPECT_EQ(view.lineCount(ControlId::DataSourceList), 0);
  EXPECT_EQ(job.userName, "u");
  EXPECT_EQ(job.password, "p");
  EXPECT_EQ(job.sql, "SELECT 1");
  EXPECT_TRUE(job.excel2007 && job.forceFullLength && job.noAutoOpen);
  EXPECT_TRUE(view.isChecked(ControlId::Excel2007) && view.isChecked(ControlId::ForceFullLength));
  EXPECT_TRUE(view.isChecked(ControlId::OutputXml));
  EXPECT_EQ(job.launchApplication, "");
  EXPECT_EQ(view.text(ControlId::LaunchApplication), "");
  EXPECT_EQ(job.outFileName, "");
  EXPECT_EQ(view.text(ControlId::OutFileName), "");
}

TEST_F(SettingsLoadTest, ValueEndsAtTheFirstClosingPairOfTheLine) {
  load("UserName=\"ab\";cd\";\r\n");
  EXPECT_EQ(job.userName, "ab");
  EXPECT_EQ(view.text(ControlId::UserName), "ab");

  load("x\";UserName=\"late\";\r\nUserName=\"no closing pair\r\n");
  EXPECT_EQ(job.userName, "ab");

  // The key's own quote before a value that begins with ";" closes nothing.
  load("UserName=\";ab\";\r\n");
  EXPECT_EQ(job.userName, ";ab");
}

TEST_F(SettingsLoadTest, LfOnlyLinesReadLikeCrLfAndALoneCrIsContent) {
  const std::string file = "UserName=\"u\";\nOutFileName=\"/tmp/o\";\n2007=\"1\"";  // no final LF
  load(file);
  EXPECT_EQ(job.userName, "u");
  EXPECT_EQ(job.outFileName, "/tmp/o");
  // The last line has no closing pair; with one and no line end it is read.
  EXPECT_FALSE(job.excel2007);
  load("2007=\"1\";");
  EXPECT_TRUE(job.excel2007);
  EXPECT_TRUE(view.isChecked(ControlId::Excel2007));

  load("UserName=\"a\rb\";\r\r\n");
  EXPECT_EQ(job.userName, "a\rb");
}

TEST_F(SettingsLoadTest, LineOverTheLimitEndsTheReading) {
  // A line of exactly the limit, with its CR LF, is still read.
  std::string fits = "UserName=\"fits\";";
  fits.insert(0, 65536 - fits.size(), ' ');
  load(fits + "\r\nOutFileName=\"next\";\r\n");
  EXPECT_EQ(job.userName, "fits");
  EXPECT_EQ(job.outFileName, "next");

  load("UserName=\"first\";\r\n" + std::string(65537, 'x') +
       "\r\nOutFileName=\"after\";\r\n2007=\"1\";\r\n");
  EXPECT_EQ(job.userName, "first");
  EXPECT_EQ(job.outFileName, "next");
  EXPECT_FALSE(job.excel2007);
}

TEST_F(SettingsLoadTest, AnOverLongLineIsNamedWithTheSettingItHolds) {
  const std::string longValue(65536, 'o');
  std::istringstream first("UserName=\"u\";\r\nOutFileName=\"" + longValue +
                           "\";\r\nCSV=\"1\";\r\n");
  SettingsText text = readSettingLines(first);
  ASSERT_EQ(text.lines.size(), 1u);
  EXPECT_EQ(text.problems,
            std::vector<std::string>{"The output file name on line 2 is longer than 65536 bytes; "
                                     "nothing from that line on was read."});

  std::istringstream second("-- " + longValue + "\n");
  text = readSettingLines(second);
  EXPECT_TRUE(text.lines.empty());
  EXPECT_EQ(text.problems, std::vector<std::string>{"Line 1 is longer than 65536 bytes; nothing "
                                                    "from that line on was read."});

  // An SQL text whose continuation line is over-long is not taken at all.
  std::istringstream third("Database=\"d\";\nSQL=\"select 1 \"+\n    \"" + longValue +
                           "\";\nCSV=\"1\";\n");
  text = readSettingLines(third);
  ASSERT_EQ(text.lines.size(), 1u);
  EXPECT_EQ(text.lines[0].key, SettingKey::Database);
  EXPECT_EQ(text.problems,
            std::vector<std::string>{"The SQL text on line 3 is longer than 65536 bytes; nothing "
                                     "from that line on was read."});

  std::istringstream fits("UserName=\"u\";\n");
  text = readSettingLines(fits);
  EXPECT_EQ(text.lines.size(), 1u);
  EXPECT_TRUE(text.problems.empty());
}

TEST_F(SettingsLoadTest, SqlOnOneLineAndAcrossContinuationLines) {
  load("SQL=\"SELECT \"a\" FROM t\";\r\n");
  EXPECT_EQ(job.sql, "SELECT \"a\" FROM t");
  EXPECT_EQ(view.text(ControlId::SqlBox), job.sql);

  load(
      "SQL=\"SELECT a  \"+\r\n"
      "    \"FROM t  \"+\r\n"
      "    \"WHERE b = 1\";\r\n"
      "CSV=\"1\";\r\n");
  EXPECT_EQ(job.sql, "SELECT a  \r\nFROM t  \r\nWHERE b = 1");
  EXPECT_TRUE(job.outputCsv);
}

TEST_F(SettingsLoadTest, EmptyContinuationLinesAddEmptyLinesAndReadingGoesOn) {
  load(
      "SQL=\"SELECT 1\"+\n"
      "    \"+\n"
      "    \"\"+\n"
      "    \"UNION SELECT 2\";\n"
      "UserName=\"u\";\n");
  EXPECT_EQ(job.sql, "SELECT 1\r\n\r\n\r\nUNION SELECT 2");
  EXPECT_EQ(job.userName, "u");
}

TEST_F(SettingsLoadTest, ContinuationLinesAreTakenByTheSqlText) {
  // The line ending the pieces is consumed too: its text between quote and closing pair
  // joins the SQL, and its key is not applied.
  load(
      "SQL=\"SELECT 1 \"+\r\n"
      "  \"Database=\"x\"+\r\n"
      "CSV=\"1\";\r\n"
      "TSV=\"1\";\r\n");
  EXPECT_EQ(job.sql, "SELECT 1 \r\nDatabase=\"x\r\n1");
  EXPECT_EQ(view.lineCount(ControlId::DataSourceList), 0);
  EXPECT_FALSE(job.outputCsv);
  EXPECT_TRUE(job.outputTsv);
}

TEST_F(SettingsLoadTest, AnSqlTextWithoutItsClosingPairIsRefusedWhole) {
  // The file ends after a continuation line: the first half of a statement is not a
  // statement that was written.
  job.sql = "kept";
  EXPECT_EQ(load("Database=\"d\";\r\nSQL=\"delete from victims  \"+\r\n"),
            std::vector<std::string>{"The SQL text that begins on line 2 ends without its closing "
                                     "pair (\";); it was not read."});
  EXPECT_EQ(job.sql, "kept");
  EXPECT_EQ(view.text(ControlId::SqlBox), "");
  EXPECT_EQ(job.dataSource, "d");

  // A continuation line with neither pair ends the text as well; the lines after it are
  // read as usual.
  EXPECT_EQ(load("SQL=\"select 1  \"+\n    \"from t\n    where x = 1\";\nCSV=\"1\";\n").size(), 1u);
  EXPECT_EQ(job.sql, "kept");
  EXPECT_TRUE(job.outputCsv);

  // An empty last piece is a closed text.
  EXPECT_TRUE(load("SQL=\"select 1  \"+\n    \";\n").empty());
  EXPECT_EQ(job.sql, "select 1  \r\n");
}

TEST_F(SettingsLoadTest, TextWithoutAnyKeyHoldsNoJob) {
  for (const std::string& text :
       {std::string(), std::string("myhost\n"), std::string("\xff\xfeS\0Q\0L\0=\0\"\0", 12)}) {
    load(text);
    EXPECT_FALSE(holdsKey) << text;
  }
  // A key with a value that cannot be used is still a key of a job.
  load("UserName=\"\";\n");
  EXPECT_TRUE(holdsKey);
}

TEST_F(SettingsLoadTest, ALineEndOfCrAloneIsReadAsTheLineEndWhenTheFileHasNoLf) {
  EXPECT_TRUE(
      load("-- rule\rDatabase=\"d\";\rSQL=\"select 1  \"+\r    \"from t\";\rCSV=\"1\";\r").empty());
  EXPECT_EQ(job.dataSource, "d");
  EXPECT_EQ(job.sql, "select 1  \r\nfrom t");
  EXPECT_TRUE(job.outputCsv);
}

TEST_F(SettingsLoadTest, AnSqlTextCutOnItsFirstLineIsRefusedAndAnEmptyOneIgnored) {
  job.sql = "kept";
  const auto unclosed = [](int line) {
    return "The SQL text that begins on line " + std::to_string(line) +
           " ends without its closing pair (\";); it was not read.";
  };
  EXPECT_EQ(load("SQL=\"SELECT 1\r\nSQL=\"\";\r\nx\"+ \";SQL=\"SELECT 2\r\n"),
            (std::vector<std::string>{unclosed(1), unclosed(3)}));
  EXPECT_EQ(job.sql, "kept");
}

TEST_F(SettingsLoadTest, ValuesOverTheRecordLimitsAreRefusedWhole) {
  job.userName = "u";
  job.outFileName = "o";
  job.sql = "s";
  std::vector<std::string> problems =
      load("Database=\"" + std::string(127, 'd') + "\";\r\nUserName=\"" + std::string(128, 'u') +
           "\";\r\nOutFileName=\"" + std::string(256, 'o') + "\";\r\nLaunchApplication=\"" +
           std::string(255, 'a') + "\";\r\nSQL=\"" + std::string(32768, 's') + "\";\r\n");
  EXPECT_EQ(job.dataSource, std::string(127, 'd'));
  EXPECT_EQ(job.launchApplication, std::string(255, 'a'));
  EXPECT_EQ(job.userName, "u");
  EXPECT_EQ(job.outFileName, "o");
  EXPECT_EQ(view.text(ControlId::OutFileName), "");
  EXPECT_EQ(job.sql, "s");
  EXPECT_EQ(problems, (std::vector<std::string>{
                          "The user name is longer than 127 bytes and was refused.",
                          "The output file name is longer than 255 bytes and was refused.",
                          "The SQL text is longer than 32767 bytes and was refused.",
                      }));
}

TEST_F(SettingsLoadTest, ValuesHoldingANulByteAreRefusedNeverCutAtIt) {
  job.dataSource = "d";
  job.userName = "u";
  job.sql = "s";
  job.outFileName = "o";
  job.launchApplication = "a";
  view.setChecked(ControlId::Excel2007, false);
  const std::string nul(1, '\0');
  std::vector<std::string> problems =
      load("Database=\"t" + nul + "zzz\";\nUserName=\"" + nul + "\";\nSQL=\"select 1\"+\n    \"" +
           nul + "from t\";\nOutFileName=\"/d/victim" + nul + "x\";\nLaunchApplication=\"app" +
           nul + "\";\n2007=\"1" + nul + "\";\nCSV=\"" + nul + "1\";\n");
  EXPECT_EQ(problems, (std::vector<std::string>{
                          "The data source name holds a NUL byte and was refused.",
                          "The user name holds a NUL byte and was refused.",
                          "The SQL text holds a NUL byte and was refused.",
                          "The output file name holds a NUL byte and was refused.",
                          "The application to launch holds a NUL byte and was refused.",
                          "The 2007 setting holds a NUL byte and was refused.",
                          "The CSV output setting holds a NUL byte and was refused.",
                      }));
  EXPECT_EQ(job.dataSource, "d");
  EXPECT_EQ(view.lineCount(ControlId::DataSourceList), 0);
  EXPECT_EQ(job.userName, "u");
  EXPECT_EQ(job.sql, "s");
  EXPECT_EQ(job.outFileName, "o");
  EXPECT_EQ(view.text(ControlId::OutFileName), "");
  EXPECT_EQ(job.launchApplication, "a");
  EXPECT_FALSE(job.excel2007 || view.isChecked(ControlId::Excel2007));
  EXPECT_FALSE(job.outputCsv);
  EXPECT_TRUE(view.isChecked(ControlId::OutputXml));
}

TEST_F(SettingsLoadTest, APasswordHoldingANulIsRefusedButScrambledNulBytesAreFine) {
  // The scrambled form of "x" then 't' ^ 0xEC holds a NUL byte: (('t' ^ p) + 20) % 256 == 0.
  const std::string password = std::string("x") + static_cast<char>('t' ^ 0xEC);
  const std::optional<std::string> scrambled = scramblePassword(password);
  ASSERT_TRUE(scrambled);
  ASSERT_NE(scrambled->find('\0'), std::string::npos);
  EXPECT_TRUE(load("Password=\"" + *scrambled + "\";\n").empty());
  EXPECT_EQ(job.password, password);

  const std::optional<std::string> withNul = scramblePassword(std::string("ab\0c", 4));
  ASSERT_TRUE(withNul);
  EXPECT_EQ(load("Password=\"" + *withNul + "\";\n"),
            std::vector<std::string>{"The password holds a NUL byte and was refused."});
  EXPECT_EQ(job.password, "");
  EXPECT_EQ(view.text(ControlId::Password), "");
}

TEST_F(SettingsLoadTest, PasswordIsUnscrambledAndABadOneEmptiesIt) {
  EXPECT_TRUE(load("Password=\"\x15>\";\r\n").empty());
  EXPECT_EQ(job.password, "a");
  EXPECT_EQ(view.text(ControlId::Password), "a");

  // Announces 5 bytes, holds 1; then a length byte above 127.
  EXPECT_EQ(load("Password=\"\x19>\";\r\n"),
            std::vector<std::string>{"The password in the settings file is not a scrambled "
                                     "password; it was left empty."});
  EXPECT_EQ(job.password, "");
  EXPECT_EQ(view.text(ControlId::Password), "");
  job.password = "x";
  EXPECT_EQ(load("Password=\"\xC8>\";\r\n").size(), 1u);
  EXPECT_EQ(job.password, "");
}

TEST_F(SettingsLoadTest, FlagsSetBothTheJobAndTheirBoxes) {
  load("2007=\"1\";\nForceFullLength=\"yes\";\nDoLaunchApplication=\"1\";\n");
  EXPECT_TRUE(job.excel2007 && job.forceFullLength);
  EXPECT_FALSE(job.noAutoOpen);
  EXPECT_TRUE(view.isChecked(ControlId::Excel2007) && view.isChecked(ControlId::ForceFullLength) &&
              view.isChecked(ControlId::LaunchOnFinish));
  load("2007=\"0\";\nForceFullLength=\"0\";\n");
  EXPECT_FALSE(job.excel2007 || job.forceFullLength);
  EXPECT_FALSE(view.isChecked(ControlId::Excel2007) || view.isChecked(ControlId::ForceFullLength));
}

}  // namespace
}  // namespace rowpress
