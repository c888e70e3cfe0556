#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "app/job_controls.h"
#include "app/memory_view.h"
#include "job/job_fields.h"
#include "settings/settings_reader.h"
#include "tests/support/run_fixture.h"

namespace rowpress {
namespace {

using support::readFile;
using support::writeFile;

// A window showing a whole job, as a user would leave it before saving.
void fillWindow(MemoryView& view) {
  view.appendLine(ControlId::DataSourceList, "warehouse");
  view.appendLine(ControlId::DataSourceList, "sales");
  view.select(ControlId::DataSourceList, 1);
  view.setText(ControlId::UserName, "clerk");
  view.setText(ControlId::Password, "s3cret pass");
  view.setText(ControlId::SqlBox, "SELECT * FROM stock WHERE name <> \"x\"");
  view.setChecked(ControlId::OutputCsv, true);
  view.setChecked(ControlId::Excel2007, true);
  view.setChecked(ControlId::LaunchOnFinish, false);
  view.setText(ControlId::LaunchApplication, "gnumeric --no-splash");
  view.setText(ControlId::OutFileName, "/tmp/stock.csv");
}

// The names of the fields in which `a` and `b` differ, taken from the field table, so that a
// setting added later is compared too; the sheets and the parameters each as a whole.
std::vector<std::string> differingFields(const JobSettings& a, const JobSettings& b) {
  std::vector<std::string> names;
  for (const JobField& field : kJobFields) {
    bool same = field.kind == FieldKind::SheetName   ? a.sheets == b.sheets
                : field.kind == FieldKind::Parameter ? a.parameters == b.parameters
                : field.text                         ? a.*field.text == b.*field.text
                : field.secret                       ? a.*field.secret == b.*field.secret
                : field.flag                         ? a.*field.flag == b.*field.flag
                                                     : a.*field.seconds == b.*field.seconds;
    if (!same) names.push_back(field.name);
  }
  return names;
}

void expectSameJob(const JobSettings& a, const JobSettings& b) {
  EXPECT_EQ(differingFields(a, b), std::vector<std::string>{});
}

class SettingsFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/rowpress-settings-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string path(const std::string& name) const { return dir_ + "/" + name; }
  std::vector<std::string> filesInDir() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir_)) {
      names.push_back(entry.path().filename().string());
    }
    return names;
  }

  std::string dir_;
};

TEST_F(SettingsFileTest, SaveThenLoadGivesTheSameJobAndControls) {
  MemoryView saving;
  fillWindow(saving);
  JobSettings saved;
  saved.dataSource = "stale";
  saved.outputHtml = true;
  // No box shows the timeout: the job keeps the one it was loaded with.
  saved.timeoutSeconds = 90;
  SettingsSaveResult result = saveSettingsFile(saved, saving, path("job.DIRU"));
  ASSERT_TRUE(result.written) << result.error;
  EXPECT_EQ(result.problems, std::vector<std::string>{});
  // The job now holds what the window showed.
  EXPECT_EQ(saved.dataSource, "sales");
  EXPECT_EQ(saved.password, "s3cret pass");
  EXPECT_TRUE(saved.outputCsv && saved.excel2007 && saved.noAutoOpen);
  EXPECT_FALSE(saved.outputHtml || saved.forceFullLength);
  EXPECT_NE(readFile(path("job.DIRU")).find("\r\nDoLaunchApplication=\"0\";\r\n"),
            std::string::npos);

  // The loading window shows another job; loading replaces it.
  MemoryView loading;
  loading.appendLine(ControlId::DataSourceList, "other");
  loading.setChecked(ControlId::OutputHtml, true);
  loading.setChecked(ControlId::LaunchOnFinish, true);
  JobSettings loaded;
  loaded.outputHtml = true;
  SettingsLoadResult load = loadSettingsFile(loaded, loading, path("job.DIRU"));
  ASSERT_TRUE(load.opened) << load.error;
  EXPECT_EQ(load.problems, std::vector<std::string>{});
  expectSameJob(saved, loaded);

  EXPECT_EQ(loading.lines(ControlId::DataSourceList), std::vector<std::string>{"sales"});
  EXPECT_EQ(loading.selectedIndex(ControlId::DataSourceList), 0);
  for (ControlId box : {ControlId::UserName, ControlId::Password, ControlId::SqlBox,
                        ControlId::LaunchApplication, ControlId::OutFileName}) {
    EXPECT_EQ(loading.text(box), saving.text(box)) << static_cast<int>(box);
  }
  for (ControlId box :
       {ControlId::OutputCsv, ControlId::OutputTsv, ControlId::OutputHtml, ControlId::OutputXml,
        ControlId::Excel2007, ControlId::ForceFullLength, ControlId::LaunchOnFinish}) {
    EXPECT_EQ(loading.isChecked(box), saving.isChecked(box)) << static_cast<int>(box);
  }
}

TEST_F(SettingsFileTest, TheXlsxOutputAndTheCsvOptionsGoAndComeBack) {
  MemoryView saving;
  fillWindow(saving);
  saving.setChecked(ControlId::OutputCsv, false);
  saving.setChecked(ControlId::OutputXlsx, true);
  saving.setChecked(ControlId::QuoteFields, true);
  saving.setChecked(ControlId::ByteOrderMark, true);
  JobSettings saved;
  SettingsSaveResult result = saveSettingsFile(saved, saving, path("job.DIRU"));
  ASSERT_TRUE(result.written) << result.error;
  EXPECT_EQ(result.problems, std::vector<std::string>{});
  EXPECT_TRUE(saved.outputXlsx && saved.quoteFields && saved.byteOrderMark);

  MemoryView loading;
  loading.setChecked(ControlId::OutputHtml, true);
  JobSettings loaded;
  loaded.outputHtml = true;
  SettingsLoadResult load = loadSettingsFile(loaded, loading, path("job.DIRU"));
  ASSERT_TRUE(load.opened) << load.error;
  EXPECT_EQ(load.problems, std::vector<std::string>{});
  expectSameJob(saved, loaded);
  EXPECT_EQ(outputTypeOf(loaded), OutputType::Xlsx);
  for (ControlId box :
       {ControlId::OutputCsv, ControlId::OutputTsv, ControlId::OutputHtml, ControlId::OutputXml,
        ControlId::OutputXlsx, ControlId::QuoteFields, ControlId::ByteOrderMark}) {
    EXPECT_EQ(loading.isChecked(box), saving.isChecked(box)) << static_cast<int>(box);
  }

  // Unchecked again, they leave the file as it always was and a load turns them off.
  saving.setChecked(ControlId::OutputXlsx, false);
  saving.setChecked(ControlId::QuoteFields, false);
  saving.setChecked(ControlId::ByteOrderMark, false);
  ASSERT_TRUE(saveSettingsFile(saved, saving, path("job.DIRU")).written);
  const std::string text = readFile(path("job.DIRU"));
  EXPECT_EQ(text.find("XLSX"), std::string::npos);
  EXPECT_EQ(text.find("QuoteFields"), std::string::npos);
  EXPECT_EQ(text.find("ByteOrderMark"), std::string::npos);
  ASSERT_TRUE(loadSettingsFile(loaded, loading, path("job.DIRU")).opened);
  EXPECT_FALSE(loaded.outputXlsx || loaded.quoteFields || loaded.byteOrderMark);
  EXPECT_TRUE(loading.isChecked(ControlId::OutputXml));
  EXPECT_FALSE(loading.isChecked(ControlId::QuoteFields) ||
               loading.isChecked(ControlId::ByteOrderMark));
}

// The separator and the decimal comma are one choice of four lines; the encoding and the time
// zone are boxes. Each goes to the file only when set, comes back as the file has it, and a
// file without them shows the comma and empty boxes again.
TEST_F(SettingsFileTest, TheSeparatorChoiceEncodingAndTimeZoneGoAndComeBack) {
  MemoryView saving;
  fillWindow(saving);
  saving.setChecked(ControlId::QuoteFields, true);
  JobSettings saved;
  showSeparatorChoice(saved, saving);
  EXPECT_EQ(
      saving.lines(ControlId::SeparatorChoice),
      (std::vector<std::string>{"comma", "semicolon", "semicolon with decimal comma", "bar"}));
  EXPECT_EQ(saving.selectedIndex(ControlId::SeparatorChoice), 0);
  saving.select(ControlId::SeparatorChoice, 2);
  saving.setText(ControlId::Encoding, "windows-1252");
  saving.setText(ControlId::TimeZone, "Europe/Berlin");
  ASSERT_TRUE(saveSettingsFile(saved, saving, path("job.DIRU")).written);
  EXPECT_EQ(saved.separator, ";");
  EXPECT_TRUE(saved.decimalComma);
  const std::string text = readFile(path("job.DIRU"));
  for (const char* line :
       {"\r\nSeparator=\";\";\r\n", "\r\nDecimalComma=\"1\";\r\n",
        "\r\nEncoding=\"windows-1252\";\r\n", "\r\nTimeZone=\"Europe/Berlin\";\r\n"}) {
    EXPECT_NE(text.find(line), std::string::npos) << line;
  }

  MemoryView loading;
  JobSettings loaded;
  ASSERT_TRUE(loadSettingsFile(loaded, loading, path("job.DIRU")).opened);
  expectSameJob(saved, loaded);
  EXPECT_EQ(loading.selectedIndex(ControlId::SeparatorChoice), 2);
  EXPECT_EQ(loading.text(ControlId::Encoding), "windows-1252");
  EXPECT_EQ(loading.text(ControlId::TimeZone), "Europe/Berlin");

  // A job that no line shows whole (the bar with the decimal comma) keeps what it holds while
  // its line stays chosen; another line replaces both.
  loaded.separator = "|";
  showSeparatorChoice(loaded, loading);
  EXPECT_EQ(loading.selectedIndex(ControlId::SeparatorChoice), 3);
  EXPECT_TRUE(jobInControls(loaded, loading).decimalComma);
  loading.select(ControlId::SeparatorChoice, 1);
  const JobSettings chosen = jobInControls(loaded, loading);
  EXPECT_EQ(chosen.separator, ";");
  EXPECT_FALSE(chosen.decimalComma);

  // The comma and empty boxes leave the file as it was; loading it clears what the window
  // showed.
  saving.select(ControlId::SeparatorChoice, 0);
  saving.setText(ControlId::Encoding, "");
  saving.setText(ControlId::TimeZone, "");
  ASSERT_TRUE(saveSettingsFile(saved, saving, path("plain.DIRU")).written);
  const std::string plain = readFile(path("plain.DIRU"));
  for (const char* key : {"Separator", "DecimalComma", "Encoding", "TimeZone"}) {
    EXPECT_EQ(plain.find(key), std::string::npos) << key;
  }
  ASSERT_TRUE(loadSettingsFile(loaded, loading, path("plain.DIRU")).opened);
  expectSameJob(saved, loaded);
  EXPECT_EQ(loading.selectedIndex(ControlId::SeparatorChoice), 0);
  EXPECT_EQ(loading.text(ControlId::Encoding), "");
  EXPECT_EQ(loading.text(ControlId::TimeZone), "");
}

TEST_F(SettingsFileTest, NoSelectedDataSourceSavesAnEmptyNameAndSaysSo) {
  MemoryView view;
  view.appendLine(ControlId::DataSourceList, "sales");
  view.setText(ControlId::UserName, "clerk");
  JobSettings job;
  job.dataSource = "sales";
  SettingsSaveResult result = saveSettingsFile(job, view, path("a.DIRU"));
  ASSERT_TRUE(result.written);
  EXPECT_EQ(result.problems,
            std::vector<std::string>{"No data source was selected; the settings file names none."});
  EXPECT_EQ(job.dataSource, "");
  EXPECT_NE(readFile(path("a.DIRU")).find("\r\nDatabase=\"\";\r\n"), std::string::npos);
}

TEST_F(SettingsFileTest, MultiLineSqlGainsTwoSpacesPerLineOnEachRound) {
  MemoryView first;
  fillWindow(first);
  first.setText(ControlId::SqlBox, "SELECT a\r\nFROM t\r\n\r\nWHERE b = 1");
  JobSettings job;
  SettingsSaveResult save = saveSettingsFile(job, first, path("a.DIRU"));
  ASSERT_TRUE(save.written);
  EXPECT_EQ(save.problems, std::vector<std::string>{});  // the added spaces are expected

  MemoryView second;
  ASSERT_TRUE(loadSettingsFile(job, second, path("a.DIRU")).opened);
  EXPECT_EQ(job.sql, "SELECT a  \r\nFROM t  \r\n  \r\nWHERE b = 1");

  save = saveSettingsFile(job, second, path("a.DIRU"));
  ASSERT_TRUE(save.written);
  EXPECT_EQ(save.problems, std::vector<std::string>{});
  MemoryView third;
  ASSERT_TRUE(loadSettingsFile(job, third, path("a.DIRU")).opened);
  EXPECT_EQ(job.sql, "SELECT a    \r\nFROM t    \r\n    \r\nWHERE b = 1");
  EXPECT_EQ(third.text(ControlId::SqlBox), job.sql);
}

// A new settings file is for its owner only (it holds a recoverable password); a file that
// is replaced keeps its permissions, and a link keeps pointing to the saved file.
TEST_F(SettingsFileTest, ANewFileIsForItsOwnerOnlyAndAReplacedOneKeepsItsPermissions) {
  MemoryView view;
  fillWindow(view);
  JobSettings job;
  struct stat st {};
  ASSERT_TRUE(saveSettingsFile(job, view, path("new.DIRU")).written);
  ASSERT_EQ(stat(path("new.DIRU").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  const std::string target = path("a.DIRU");
  writeFile(target, "old contents");
  ASSERT_EQ(chmod(target.c_str(), 0640), 0);
  std::filesystem::create_symlink("a.DIRU", path("link.DIRU"));
  ASSERT_TRUE(saveSettingsFile(job, view, path("link.DIRU")).written);
  ASSERT_EQ(stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  EXPECT_EQ(readFile(target).rfind("-- ---", 0), 0u);
  EXPECT_TRUE(std::filesystem::is_symlink(path("link.DIRU")));
  std::vector<std::string> files = filesInDir();
  std::sort(files.begin(), files.end());
  EXPECT_EQ(files, (std::vector<std::string>{"a.DIRU", "link.DIRU", "new.DIRU"}));

  // A second name of the same file would keep the old settings: refused.
  ASSERT_EQ(link(target.c_str(), path("b.DIRU").c_str()), 0);
  SettingsSaveResult refused = saveSettingsFile(job, view, target);
  EXPECT_FALSE(refused.written);
  EXPECT_EQ(refused.error,
            "The settings file could not be written: File has 2 hard links; replacing it would "
            "split them.");
}

TEST_F(SettingsFileTest, FileThatCannotBeCreatedIsReportedAndLeavesNothing) {
  MemoryView view;
  fillWindow(view);
  JobSettings job;
  SettingsSaveResult result = saveSettingsFile(job, view, path("missing/a.DIRU"));
  EXPECT_FALSE(result.written);
  EXPECT_EQ(result.error, "The settings file could not be written: No such file or directory.");

  // A folder in the way is refused before anything is written.
  std::filesystem::create_directory(path("folder"));
  result = saveSettingsFile(job, view, path("folder"));
  EXPECT_FALSE(result.written);
  EXPECT_EQ(result.error, "The settings file could not be written: Is a directory.");
  EXPECT_EQ(filesInDir(), std::vector<std::string>{"folder"});
  EXPECT_TRUE(std::filesystem::is_empty(path("folder")));
}

TEST_F(SettingsFileTest, FailedWriteKeepsTheOldFileWhole) {
  const std::string target = path("a.DIRU");
  writeFile(target, "old contents");
  MemoryView view;
  fillWindow(view);
  JobSettings job;

  // Let the file grow to 512 bytes only: the write fails halfway through.
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  rlimit small = saved;
  small.rlim_cur = 512;
  auto oldHandler = signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  SettingsSaveResult result = saveSettingsFile(job, view, target);
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, oldHandler);

  EXPECT_FALSE(result.written);
  EXPECT_EQ(result.error, "The settings file could not be written: File too large.");
  EXPECT_EQ(readFile(target), "old contents");
  EXPECT_EQ(filesInDir(), std::vector<std::string>{"a.DIRU"});
}

TEST_F(SettingsFileTest, PasswordThatWouldNotLoadBackIsNotWritten) {
  struct Case {
    std::string password;
    std::string problem;
  };
  const Case cases[] = {
      // Scrambles to a closing pair right at the start of the value.
      {"l" + std::string(13, 'x'),
       "The password cannot be stored in a settings file and was not saved."},
      // Scrambles to a line feed ('K' ^ 0xBD = 246, + 20 wraps round to 10).
      {"\xBD", "The password cannot be stored in a settings file and was not saved."},
      {std::string(108, 'p'), "The password is longer than 107 bytes and was not saved."},
      // Loading refuses a password that holds a NUL byte.
      {std::string("pa\0ss", 5),
       "The password cannot be stored in a settings file and was not saved."},
  };
  for (const Case& c : cases) {
    MemoryView view;
    fillWindow(view);
    view.setText(ControlId::Password, c.password);
    JobSettings job;
    SettingsSaveResult result = saveSettingsFile(job, view, path("a.DIRU"));
    ASSERT_TRUE(result.written);
    EXPECT_EQ(result.problems, std::vector<std::string>{c.problem});
    EXPECT_EQ(job.password, c.password);  // the job keeps connecting with it
    EXPECT_NE(readFile(path("a.DIRU")).find("\r\nPassword=\"\";\r\n"), std::string::npos);

    // Loading keeps the password that was there: an empty value is ignored.
    JobSettings loaded;
    loaded.password = "earlier";
    MemoryView loading;
    ASSERT_TRUE(loadSettingsFile(loaded, loading, path("a.DIRU")).opened);
    EXPECT_EQ(loaded.password, "earlier");
    EXPECT_EQ(loaded.userName, "clerk");
  }
}

TEST_F(SettingsFileTest, APasswordFromOutsideIsNotWrittenUntilTheUserTypesAnother) {
  MemoryView view;
  fillWindow(view);
  JobSettings job;
  // As start-up leaves it when ROWPRESS_PASSWORD or a password file gave the password.
  job.password = "s3cret pass";
  job.outsidePassword = "s3cret pass";
  SettingsSaveResult result = saveSettingsFile(job, view, path("a.DIRU"));
  ASSERT_TRUE(result.written);
  EXPECT_EQ(result.problems,
            std::vector<std::string>{
                "The password came from ROWPRESS_PASSWORD or a password file and was not saved."});
  EXPECT_NE(readFile(path("a.DIRU")).find("\r\nPassword=\"\";\r\n"), std::string::npos);
  EXPECT_EQ(job.password, "s3cret pass");  // the job keeps connecting with it

  // A password the user typed is the user's: saved as any other.
  view.setText(ControlId::Password, "typed");
  result = saveSettingsFile(job, view, path("b.DIRU"));
  EXPECT_TRUE(result.problems.empty());
  JobSettings loaded;
  MemoryView loading;
  ASSERT_TRUE(loadSettingsFile(loaded, loading, path("b.DIRU")).opened);
  EXPECT_EQ(loaded.password, "typed");

  // Back in the box, the password from outside stays out again; once a settings file gave
  // the password, none is from outside any more.
  view.setText(ControlId::Password, "s3cret pass");
  EXPECT_EQ(saveSettingsFile(job, view, path("c.DIRU")).problems.size(), 1u);
  ASSERT_TRUE(loadSettingsFile(job, view, path("b.DIRU")).opened);
  view.setText(ControlId::Password, "s3cret pass");
  EXPECT_TRUE(saveSettingsFile(job, view, path("c.DIRU")).problems.empty());
  ASSERT_TRUE(loadSettingsFile(loaded, loading, path("c.DIRU")).opened);
  EXPECT_EQ(loaded.password, "s3cret pass");
}

TEST_F(SettingsFileTest, EveryFieldThatWouldNotLoadBackIsNamed) {
  MemoryView view;
  fillWindow(view);
  view.setText(ControlId::UserName, "a\";b");
  view.setText(ControlId::SqlBox, "SELECT '\"+'\r\nFROM t");
  view.setChecked(ControlId::OutputHtml, true);  // with CSV: only the last one comes back
  view.setText(ControlId::OutFileName, "/" + std::string(255, 'o'));
  JobSettings job;
  SettingsSaveResult result = saveSettingsFile(job, view, path("a.DIRU"));
  ASSERT_TRUE(result.written);
  EXPECT_EQ(result.problems,
            (std::vector<std::string>{
                "The user name will not load back as saved.",
                "The SQL text will not load back as saved.",
                "The CSV output setting will not load back as saved.",
                "The output file name is longer than 255 bytes and will not load back.",
            }));
}

TEST_F(SettingsFileTest, FileThatCannotBeOpenedChangesNothing) {
  MemoryView view;
  view.appendLine(ControlId::DataSourceList, "sales");
  view.setChecked(ControlId::OutputHtml, true);
  JobSettings job;
  job.outputHtml = true;
  job.userName = "clerk";

  SettingsLoadResult result = loadSettingsFile(job, view, path("missing.DIRU"));
  EXPECT_FALSE(result.opened);
  EXPECT_EQ(result.error, "The settings file could not be read: No such file or directory.");
  EXPECT_FALSE(loadSettingsFile(job, view, dir_).opened);  // a folder is no settings file

  EXPECT_EQ(view.lines(ControlId::DataSourceList), std::vector<std::string>{"sales"});
  EXPECT_TRUE(view.isChecked(ControlId::OutputHtml));
  EXPECT_FALSE(view.isChecked(ControlId::OutputXml));
  EXPECT_TRUE(job.outputHtml);
  EXPECT_EQ(job.userName, "clerk");
}

TEST_F(SettingsFileTest, OnlyARegularFileIsReadAndAReadErrorIsReported) {
  MemoryView view;
  view.appendLine(ControlId::DataSourceList, "sales");
  JobSettings job;
  job.userName = "clerk";
  struct Case {
    std::string path;
    std::string error;
  };
  const Case cases[] = {
      {dir_, "The settings file could not be read: Is a directory."},
      {"/dev/null", "The settings file could not be read: not a regular file."},
      // A regular file whose first read fails with EIO.
      {"/proc/self/mem", "The settings file could not be read: Input/output error."},
  };
  for (const Case& c : cases) {
    SettingsLoadResult result = loadSettingsFile(job, view, c.path);
    EXPECT_FALSE(result.opened) << c.path;
    EXPECT_EQ(result.error, c.error);
  }
  EXPECT_EQ(view.lines(ControlId::DataSourceList), std::vector<std::string>{"sales"});
  EXPECT_EQ(job.userName, "clerk");
}

TEST_F(SettingsFileTest, AnOverLongLineIsAProblemAndWhatCameBeforeItStaysApplied) {
  writeFile(path("a.DIRU"), "UserName=\"u\";\n" + std::string(70000, 'x') + "\nCSV=\"1\";\n");
  JobSettings job;
  MemoryView view;
  SettingsLoadResult result = loadSettingsFile(job, view, path("a.DIRU"));
  ASSERT_TRUE(result.opened);
  EXPECT_EQ(result.problems,
            std::vector<std::string>{
                "Line 2 is longer than 65536 bytes; nothing from that line on was read."});
  EXPECT_EQ(job.userName, "u");
  EXPECT_FALSE(job.outputCsv);
}

TEST_F(SettingsFileTest, LoadingNamesTheValuesItRefused) {
  writeFile(path("a.DIRU"),
            "Password=\"\x19>\";\nDatabase=\"" + std::string(128, 'd') + "\";\nUserName=\"u\";\n");
  JobSettings job;
  MemoryView view;
  SettingsLoadResult result = loadSettingsFile(job, view, path("a.DIRU"));
  ASSERT_TRUE(result.opened);
  EXPECT_EQ(result.problems,
            (std::vector<std::string>{
                "The password in the settings file is not a scrambled password; it was left empty.",
                "The data source name is longer than 127 bytes and was refused."}));
  // A timeout that is not a whole number of seconds is refused: loading started from none,
  // and none it stays (an earlier file's 20 s does not carry over).
  job.timeoutSeconds = 20;
  writeFile(path("b.DIRU"), "Timeout=\"1.5\";\nTimeout=\"\";\n");
  result = loadSettingsFile(job, view, path("b.DIRU"));
  EXPECT_EQ(result.problems, std::vector<std::string>{
                                 "The timeout is not a whole number of seconds and was refused."});
  EXPECT_EQ(job.timeoutSeconds, 0);
  EXPECT_EQ(job.dataSource, "");
  EXPECT_EQ(view.lineCount(ControlId::DataSourceList), 0);
  EXPECT_EQ(job.userName, "u");
}

}  // namespace
}  // namespace rowpress
