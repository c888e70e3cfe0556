// Start-up on the in-memory window: defaults, settings files, switches, credentials.
#include "app/startup.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <regex>

#include "settings/password_scramble.h"
#include "tests/app_support/output_boxes.h"
#include "tests/app_support/startup_test_support.h"
#include "tests/support/child_process.h"
#include "tests/support/run_fixture.h"
#include "tests/support/started_processes.h"

namespace rowpress {
namespace {

using support::fileExists;
using support::outputState;
using support::readFile;
using support::settings;
using support::StartupTest;
using support::UnattendedTest;
using support::writeFile;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;
using ::testing::StartsWith;

TEST_F(StartupTest, WithoutArgumentsTheJobIsTheDefault) {
  start({});
  EXPECT_EQ(outputState(view_, job_), "XML/");
  EXPECT_TRUE(view_.isChecked(ControlId::LaunchOnFinish));
  EXPECT_FALSE(view_.isChecked(ControlId::Excel2007) ||
               view_.isChecked(ControlId::ForceFullLength));
  EXPECT_EQ(view_.text(ControlId::OutFileName), "");
  EXPECT_EQ(view_.text(ControlId::LaunchApplication), "");
  EXPECT_FALSE(job_.noAutoOpen || job_.silent || job_.outputCsv);
  EXPECT_TRUE(problems_.empty());
}

TEST_F(StartupTest, ASwitchBeatsASettingsFileWhereverItStands) {
  writeFile(temp_ / "a.DIRU",
            settings({"OutFileName=\"from-file.xls\";", "LaunchApplication=\"file-app\";"}));
  start({"-outfile=from-switch.xls", "-file=" + (temp_ / "a.DIRU")});
  EXPECT_EQ(job_.outFileName, "from-switch.xls");
  EXPECT_EQ(view_.text(ControlId::OutFileName), "from-switch.xls");
  EXPECT_EQ(job_.launchApplication, "file-app");

  start({"-file=" + (temp_ / "a.DIRU"), "-outfile="});
  EXPECT_EQ(job_.outFileName, "");
  EXPECT_EQ(view_.text(ControlId::OutFileName), "");

  writeFile(temp_ / "t.DIRU", settings({"Timeout=\"30\";"}));
  start({"-file=" + (temp_ / "t.DIRU")});
  EXPECT_EQ(job_.timeoutSeconds, 30);
  start({"-timeout=0", "-file=" + (temp_ / "t.DIRU")});
  EXPECT_EQ(job_.timeoutSeconds, 0);
  EXPECT_TRUE(problems_.empty());
}

TEST_F(StartupTest, AParameterSwitchBeatsTheFileAndAMalformedOneIsAProblem) {
  writeFile(temp_ / "p.DIRU", settings({"Param=\"month=2026-10\";", "Param=\"region=north\";"}));
  start({"-param=month=2026-11", "-file=" + (temp_ / "p.DIRU"), "-param=month=2026-12",
         "-param=empty="});
  EXPECT_EQ(job_.parameters,
            (std::vector<JobParameter>{{"month", "2026-12"}, {"region", "north"}, {"empty", ""}}));
  EXPECT_TRUE(problems_.empty());

  for (const auto& [value, named] : {std::pair<std::string, std::string>{"month", "month"},
                                     {"=secret", ""},
                                     {"2nd=secret", "2nd"},
                                     {"a b=secret", "a b"}}) {
    start({"-param=" + value});
    ASSERT_EQ(problems_.size(), 1u) << value;
    EXPECT_THAT(problems_[0], StartsWith("-param=" + named + ": "));
    EXPECT_THAT(problems_[0], Not(HasSubstr("secret")));  // a value is never shown
  }
}

TEST_F(StartupTest, StrictAndTheManifestComeFromTheFileOrTheSwitchAndOtherValuesAreAProblem) {
  writeFile(temp_ / "s.DIRU", settings({"Strict=\"1\";", "Manifest=\"1\";"}));
  start({"-file=" + (temp_ / "s.DIRU")});
  EXPECT_TRUE(job_.strict);
  EXPECT_TRUE(job_.manifest);
  EXPECT_FALSE(job_.manifestValues);
  job_ = JobSettings{};
  start({"-strict", "-manifest=values"});
  EXPECT_TRUE(job_.strict && job_.manifest && job_.manifestValues);
  EXPECT_TRUE(problems_.empty());
  start({"-manifest=all"});
  ASSERT_EQ(problems_.size(), 1u);
  EXPECT_THAT(problems_[0], StartsWith("-manifest=all: "));
}

TEST_F(StartupTest, ATimeoutThatIsNotAWholeNumberOfSecondsIsAProblem) {
  for (const char* value : {"", "1.5", "-1", "+3", " 3", "3s"}) {
    SCOPED_TRACE(value);
    start({"-timeout=" + std::string(value)});
    EXPECT_EQ(problems_, std::vector<std::string>{
                             "-timeout=" + std::string(value) +
                             ": The timeout is not a whole number of seconds and was refused."});
  }
  // A whole number past the largest value says which value that is.
  for (const char* value : {"1000000000", "99999999999999999999999"}) {
    start({"-timeout=" + std::string(value)});
    ASSERT_EQ(problems_.size(), 1u);
    EXPECT_THAT(problems_[0], ::testing::HasSubstr("more than 999999999 seconds"));
  }
  start({"-timeout=999999999"});
  EXPECT_EQ(job_.timeoutSeconds, 999999999);
  EXPECT_TRUE(problems_.empty());
}

TEST_F(StartupTest, SettingsFilesAreReadInOrder) {
  writeFile(temp_ / "one.DIRU",
            settings({"Database=\"first\";", "UserName=\"alice\";", "CSV=\"1\";"}));
  writeFile(temp_ / "two.DIRU", settings({"Database=\"second\";"}));
  start({"-file=" + (temp_ / "one.DIRU"), "-file=" + (temp_ / "two.DIRU")});
  EXPECT_EQ(job_.dataSource, "second");
  EXPECT_EQ(job_.userName, "alice");
  // Loading the second file reset the output type; it names none, so XML it is.
  EXPECT_EQ(outputState(view_, job_), "XML/");
  EXPECT_EQ(job_.settingsFile, temp_ / "two.DIRU");
}

TEST_F(StartupTest, TheControlsShowTheJobOnceWhateverTheFilesAndSwitchesSay) {
  writeFile(temp_ / "one.DIRU", settings({"Database=\"first\";", "OutFileName=\"/tmp/a.xml\";",
                                          "LaunchApplication=\"viewer-a\";"}));
  writeFile(temp_ / "two.DIRU", settings({"Database=\"second\";", "Database=\"third\";",
                                          "OutFileName=\"/tmp/b.xml\";"}));
  // After the defaults, as the window starts: the separator choice shows the comma.
  applyDefaults(job_, view_);
  EXPECT_EQ(view_.selectedIndex(ControlId::SeparatorChoice), 0);
  std::map<ControlId, int> changes;
  view_.setListener([&changes](ControlId id, Notification what) {
    if (what == Notification::TextChanged) ++changes[id];
  });
  EXPECT_THAT(
      applyCommandLine(parseCommandLine({"rowpress", "-file=" + (temp_ / "one.DIRU"),
                                         "-file=" + (temp_ / "two.DIRU"), "-outfile=/tmp/c.xml"}),
                       job_, view_),
      ::testing::IsEmpty());
  EXPECT_EQ(changes[ControlId::OutFileName], 1);
  EXPECT_EQ(changes[ControlId::LaunchApplication], 1);
  EXPECT_EQ(view_.text(ControlId::OutFileName), "/tmp/c.xml");
  EXPECT_EQ(view_.text(ControlId::LaunchApplication), "viewer-a");
  // The list shows the data sources of the last file, the last one selected.
  EXPECT_THAT(view_.lines(ControlId::DataSourceList), ::testing::ElementsAre("second", "third"));
  EXPECT_EQ(view_.selectedIndex(ControlId::DataSourceList), 1);
  EXPECT_EQ(job_.dataSource, "third");
}

TEST_F(StartupTest, OutputFlagAndLaunchFromAFile) {
  writeFile(temp_ / "csv.DIRU", settings({"CSV=\"1\";", "DoLaunchApplication=\"1\";"}));
  start({"-file=" + (temp_ / "csv.DIRU")});
  EXPECT_EQ(outputState(view_, job_), "CSV/c");
  EXPECT_TRUE(view_.isChecked(ControlId::LaunchOnFinish));
  start({"-noautoopen", "-file=" + (temp_ / "csv.DIRU")});
  EXPECT_FALSE(view_.isChecked(ControlId::LaunchOnFinish));
  EXPECT_TRUE(job_.noAutoOpen);
}

TEST_F(StartupTest, AMissingSettingsFileIsNamed) {
  start({"-file=" + (temp_ / "missing.DIRU")});
  ASSERT_EQ(problems_.size(), 1u);
  EXPECT_THAT(problems_[0], HasSubstr("missing.DIRU"));
}

TEST_F(StartupTest, EveryProblemOfEverySettingsFileNamesItsFileAndField) {
  writeFile(temp_ / "one.DIRU", settings({"Database=\"first\";", "SQL=\"select 1\";"}));
  writeFile(temp_ / "two.DIRU",
            settings({"SQL=\"" + std::string(40000, 's') + "\";",
                      "Database=\"t" + std::string(1, '\0') + "zzz\";", "OutFileName=\"o.xls\";"}));
  start({"-file=" + (temp_ / "one.DIRU"), "-file=" + (temp_ / "two.DIRU"), "-file=/dev/null"});
  EXPECT_EQ(problems_,
            (std::vector<std::string>{
                temp_ / "two.DIRU: The SQL text is longer than 32767 bytes and was refused.",
                temp_ / "two.DIRU: The data source name holds a NUL byte and was refused.",
                "/dev/null: The settings file could not be read: not a regular file.",
            }));
  // The rest of the files was read; an unattended run does not go on with it.
  EXPECT_EQ(job_.sql, "select 1");
  EXPECT_EQ(job_.outFileName, "o.xls");
}

TEST_F(StartupTest, CredentialsFromTheEnvironmentBeatTheFileAndLeaveTheEnvironment) {
  support::SavedVariable user(kUserVariable), password(kPasswordVariable);
  writeFile(temp_ / "a.DIRU", settings({"UserName=\"file-user\";",
                                        "Password=\"" + *scramblePassword("file-pass") + "\";"}));
  ::setenv(kUserVariable, "env-user", 1);
  ::setenv(kPasswordVariable, "env pass", 1);
  start({"-file=" + (temp_ / "a.DIRU")});
  EXPECT_EQ(job_.userName, "env-user");
  EXPECT_EQ(job_.password, "env pass");
  // The window shows them in its boxes, where the user may still change them.
  EXPECT_EQ(view_.text(ControlId::UserName), "env-user");
  EXPECT_EQ(view_.text(ControlId::Password), "env pass");
  EXPECT_THAT(problems_, IsEmpty());
  // No program started later inherits them.
  EXPECT_EQ(std::getenv(kUserVariable), nullptr);
  EXPECT_EQ(std::getenv(kPasswordVariable), nullptr);

  // Set but empty counts as unset: the file's values stand; the variables go all the same.
  ::setenv(kUserVariable, "", 1);
  ::setenv(kPasswordVariable, "", 1);
  start({"-file=" + (temp_ / "a.DIRU")});
  EXPECT_EQ(job_.userName, "file-user");
  EXPECT_EQ(job_.password, "file-pass");
  EXPECT_EQ(std::getenv(kUserVariable), nullptr);
  EXPECT_EQ(std::getenv(kPasswordVariable), nullptr);
}

TEST_F(StartupTest, ThePasswordFileBeatsTheEnvironment) {
  support::SavedVariable user(kUserVariable), password(kPasswordVariable);
  const std::string file = temp_ / "pw";
  // The first line, without its line end, whatever follows; a link to a private file is
  // followed.
  const std::string link = temp_ / "pw-link";
  ASSERT_EQ(::symlink(file.c_str(), link.c_str()), 0);
  const struct {
    std::string text;
    std::string path;
    std::string password;
  } read[] = {
      {"from file\r\nsecond line\n", file, "from file"},
      {" lf only \n\n", file, " lf only "},
      {"no line end", link, "no line end"},
      {"ends in CR\r", file, "ends in CR\r"},
      {"\n", file, ""},
  };
  for (const auto& c : read) {
    SCOPED_TRACE(c.text);
    writeFile(file, c.text);
    ASSERT_EQ(::chmod(file.c_str(), 0600), 0);
    ::setenv(kUserVariable, "env-user", 1);
    ::setenv(kPasswordVariable, "env pass", 1);
    start({"-passwordfile=" + c.path});
    EXPECT_THAT(problems_, IsEmpty());
    EXPECT_EQ(job_.password, c.password);
    EXPECT_EQ(view_.text(ControlId::Password), c.password);
    EXPECT_EQ(job_.userName, "env-user");
    EXPECT_EQ(std::getenv(kPasswordVariable), nullptr);
  }
}

// Refused, naming the file and why, never the password; nor does the run take the password of
// the environment instead.
TEST_F(StartupTest, APasswordFileThatOthersMayReadOrThatIsNoFileIsRefused) {
  support::SavedVariable password(kPasswordVariable);
  const std::string file = temp_ / "pw";
  const std::string link = temp_ / "pw-link";
  ASSERT_EQ(::symlink(file.c_str(), link.c_str()), 0);
  const std::string secret = "top secret";
  const std::string fifo = temp_ / "fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const struct {
    std::string path;
    mode_t mode;
    std::string problem;
  } refused[] = {
      {file, 0640,
       file + ": The password file gives group or others access (mode 0640); only "
              "its owner may read it (chmod 600)."},
      {file, 0604,
       file + ": The password file gives group or others access (mode 0604); only "
              "its owner may read it (chmod 600)."},
      {file, 0620,
       file + ": The password file gives group or others access (mode 0620); only "
              "its owner may read it (chmod 600)."},
      {link, 0644,
       link + ": The password file gives group or others access (mode 0644); only "
              "its owner may read it (chmod 600)."},
      // Without waiting for a writer.
      {fifo, 0600, fifo + ": The password file is not a regular file."},
      {temp_.path(), 0700, temp_.path() + ": The password file is not a regular file."},
      {temp_ / "missing", 0600,
       temp_ / "missing: The password file could not be read: No such file or directory."},
      {"", 0600, "-passwordfile= names no file; no password was read."},
  };
  for (const auto& c : refused) {
    SCOPED_TRACE(c.problem);
    writeFile(file, secret + "\n");
    ASSERT_EQ(::chmod(file.c_str(), c.mode), 0);
    job_.password.clear();
    ::setenv(kPasswordVariable, "env pass", 1);
    start({"-passwordfile=" + c.path});
    EXPECT_EQ(problems_, std::vector<std::string>{c.problem});
    EXPECT_EQ(job_.password, "");
    EXPECT_EQ(std::getenv(kPasswordVariable), nullptr);
  }
  // A password over the limit of the job record is refused, not cut.
  writeFile(file, std::string(128, 'p') + "\n");
  ASSERT_EQ(::chmod(file.c_str(), 0600), 0);
  start({"-passwordfile=" + file});
  EXPECT_EQ(problems_, std::vector<std::string>{
                           file + ": The password is longer than 127 bytes and was refused."});
  writeFile(file, std::string(127, 'p') + "\r\n");
  start({"-passwordfile=" + file});
  EXPECT_THAT(problems_, IsEmpty());
  EXPECT_EQ(job_.password, std::string(127, 'p'));
}

}  // namespace
}  // namespace rowpress
