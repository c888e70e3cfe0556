// Random settings files, random jobs saved and loaded back, random scrambled passwords. The
// reader may refuse anything, but it never crashes, never sets a field over its limit,
// never leaves two output types selected or the controls out of step with the job; a saved
// job loads back as it was or the save named what would not come back; and a password
// never loads back as another password.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <sstream>
#include <string>
#include <vector>

#include "app/job_controls.h"
#include "app/memory_view.h"
#include "app/startup.h"
#include "settings/password_scramble.h"
#include "settings/settings_reader.h"
#include "tests/fuzz/random_input.h"
#include "tests/support/run_fixture.h"

namespace rowpress {
namespace {

using support::RandomInput;

// The key strings of a settings file, as a hand-written file holds them.
const std::vector<std::string> kKeyStrings = {
    "Database=\"",
    "UserName=\"",
    "DoLaunchApplication=\"",
    "ForceFullLength=\"",
    "2007=\"",
    "LaunchApplication=\"",
    "OutFileName=\"",
    "Password=\"",
    "SQL=\"",
    "TSV=\"",
    "CSV=\"",
    "HTML=\"",
    "XLSX=\"",
    "QuoteFields=\"",
    "ByteOrderMark=\"",
};

std::string randomSettingsText(RandomInput& random) {
  std::string text;
  const long long lines = random.between(0, 14);
  for (long long i = 0; i < lines; ++i) {
    std::string line;
    if (random.chance(0.2)) line += "-- ";
    if (random.chance(0.85)) line += random.pick(kKeyStrings);
    const long long pieces = random.between(0, 5);
    for (long long p = 0; p < pieces; ++p) {
      switch (random.between(0, 9)) {
        case 0:
          line += "\";";
          break;
        case 1:
          line += "\"+";
          break;
        case 2:
          line += random.pick(kKeyStrings);
          break;
        case 3:
          line += random.chance(0.5) ? "0" : "1";
          break;
        case 4: {
          // Values around the limits: 107, 127, 255, 32,767 bytes and the 65,536-byte line.
          static const std::vector<long long> sizes = {106, 108,   127,   128,   255,
                                                       256, 32767, 32768, 65536, 65540};
          line += random.from("abcXYZ019 .", static_cast<std::size_t>(random.pick(sizes)));
          break;
        }
        case 5:
          line += random.bytes(static_cast<std::size_t>(random.between(1, 12)));
          break;
        default:
          line += random.awkwardText(6);
          break;
      }
    }
    text += line + (random.chance(0.7) ? "\r\n" : "\n");
  }
  return text;
}

// The limits of the job record, restated: a field over its limit, or holding a NUL byte,
// must never be set.
void expectWithinLimits(const JobSettings& job) {
  for (std::string_view text :
       {std::string_view(job.dataSource), std::string_view(job.userName), job.password.view(),
        std::string_view(job.sql), std::string_view(job.launchApplication),
        std::string_view(job.outFileName)}) {
    EXPECT_EQ(text.find('\0'), std::string_view::npos);
  }
  EXPECT_LE(job.dataSource.size(), 127u);
  EXPECT_LE(job.userName.size(), 127u);
  EXPECT_LE(job.password.size(), 107u);  // the most a scrambled password holds
  EXPECT_LE(job.sql.size(), 32767u);
  EXPECT_LE(job.launchApplication.size(), 255u);
  EXPECT_LE(job.outFileName.size(), 255u);
}

// The controls show what the job holds.
void expectControlsInStep(const JobSettings& job, const MemoryView& view) {
  EXPECT_EQ(view.text(ControlId::UserName), job.userName);
  EXPECT_EQ(job.password, view.text(ControlId::Password));
  EXPECT_EQ(view.text(ControlId::SqlBox), job.sql);
  EXPECT_EQ(view.text(ControlId::LaunchApplication), job.launchApplication);
  EXPECT_EQ(view.text(ControlId::OutFileName), job.outFileName);
  EXPECT_EQ(view.isChecked(ControlId::LaunchOnFinish), !job.noAutoOpen);
  EXPECT_EQ(view.isChecked(ControlId::ForceFullLength), job.forceFullLength);
  EXPECT_EQ(view.isChecked(ControlId::Excel2007), job.excel2007);
  EXPECT_EQ(view.isChecked(ControlId::OutputCsv), job.outputCsv);
  EXPECT_EQ(view.isChecked(ControlId::OutputTsv), job.outputTsv);
  EXPECT_EQ(view.isChecked(ControlId::OutputHtml), job.outputHtml);
  EXPECT_EQ(view.isChecked(ControlId::OutputXlsx), job.outputXlsx);
  EXPECT_EQ(view.isChecked(ControlId::QuoteFields), job.quoteFields);
  EXPECT_EQ(view.isChecked(ControlId::ByteOrderMark), job.byteOrderMark);
  EXPECT_LE(job.outputCsv + job.outputTsv + job.outputHtml + job.outputXlsx, 1);
  if (job.outputCsv || job.outputTsv || job.outputHtml || job.outputXlsx) {
    EXPECT_FALSE(view.isChecked(ControlId::OutputXml));
  }
  const int selected = view.selectedIndex(ControlId::DataSourceList);
  if (selected >= 0) {
    EXPECT_EQ(view.lineText(ControlId::DataSourceList, selected), job.dataSource);
  }
}

std::size_t limitOf(SettingKey key) {
  switch (key) {
    case SettingKey::Database:
    case SettingKey::UserName:
      return 127;
    case SettingKey::Sql:
      return 32767;
    case SettingKey::LaunchApplication:
    case SettingKey::OutFileName:
      return 255;
    default:
      return std::string::npos;
  }
}

// A scrambled password: a length byte of 20 to 127 and at least that many bytes after it.
bool isScrambledPassword(const std::string& value) {
  if (value.empty()) return false;
  const int length = static_cast<unsigned char>(value[0]) - 20;
  return length >= 0 && length <= 107 && value.size() >= static_cast<std::size_t>(length) + 1;
}

// Checks each line that the reader made of a random file and counts those whose value it
// must refuse: over the field's limit, holding a NUL byte, or a password that does not
// unscramble to one without a NUL byte.
std::size_t expectLinesAsReadAndCountRefusals(const std::vector<SettingLine>& lines) {
  std::size_t refusals = 0;
  for (const SettingLine& line : lines) {
    const bool emptyAllowed =
        line.key == SettingKey::LaunchApplication || line.key == SettingKey::OutFileName;
    if (!emptyAllowed) {
      EXPECT_FALSE(line.value.empty());
    }
    if (line.key == SettingKey::Sql) {
      // The pieces of a multi-line SQL text are joined with CR LF only.
      for (std::size_t at = line.value.find('\n'); at != std::string::npos;
           at = line.value.find('\n', at + 1)) {
        EXPECT_TRUE(at > 0 && line.value[at - 1] == '\r');
      }
    } else {
      EXPECT_EQ(line.value.find('\n'), std::string::npos);
      EXPECT_EQ(line.value.find("\";"), std::string::npos);
    }
    // A value holding a NUL byte is refused like an over-long one; for the password, the
    // scrambled bytes may hold one, the password they stand for may not.
    const bool holdsNul = line.value.find('\0') != std::string::npos;
    if (line.key == SettingKey::Password) {
      if (!isScrambledPassword(line.value) ||
          unscramblePassword(line.value)->find('\0') != std::string::npos) {
        ++refusals;
      }
    } else if (line.value.size() > limitOf(line.key) || holdsNul) {
      ++refusals;
    }
  }
  return refusals;
}

// Loads `text` as a settings file and expects the same problems and the same job as reading
// it line by line gave; a text that `holdsJob` not is refused and changes nothing.
void expectSameFromFile(const std::string& text, const std::vector<std::string>& problems,
                        const JobSettings& job, bool holdsJob) {
  support::TempDir temp;
  const std::string path = temp / "random.DIRU";
  support::writeFile(path, text);
  JobSettings fromFile;
  MemoryView fileView;
  applyDefaults(fromFile, fileView);
  const std::string sqlBefore = fromFile.sql;
  const bool csvBefore = fromFile.outputCsv;
  SettingsLoadResult loaded = loadSettingsFile(fromFile, fileView, path);
  EXPECT_EQ(loaded.opened, holdsJob);
  EXPECT_EQ(loaded.holdsNoSettings, !holdsJob);
  if (!holdsJob) {
    EXPECT_TRUE(loaded.problems.empty());
    EXPECT_EQ(fromFile.sql, sqlBefore);
    EXPECT_EQ(fromFile.outputCsv, csvBefore);
    return;
  }
  EXPECT_EQ(loaded.problems, problems);
  EXPECT_EQ(fromFile.sql, job.sql);
  EXPECT_EQ(fromFile.password, job.password);
  EXPECT_EQ(fromFile.dataSource, job.dataSource);
  EXPECT_EQ(fromFile.outputHtml, job.outputHtml);
  EXPECT_EQ(fromFile.outputXlsx, job.outputXlsx);
  EXPECT_EQ(fromFile.quoteFields, job.quoteFields);
}

TEST(SettingsFuzzTest, RandomFilesNeverSetAFieldOverItsLimit) {
  RandomInput random(20240601);
  const int inputs = RandomInput::count(4000);
  for (int i = 0; i < inputs && !HasFailure(); ++i) {
    const std::string text = randomSettingsText(random);
    SCOPED_TRACE("input " + std::to_string(i) + " of start value " +
                 std::to_string(random.start()));
    std::istringstream in(text);
    const SettingsText read = readSettingLines(in);
    const std::vector<SettingLine>& lines = read.lines;
    const std::size_t refusals = expectLinesAsReadAndCountRefusals(lines);

    JobSettings job;
    MemoryView view;
    applyDefaults(job, view);
    resetBeforeLoad(job);
    AppliedSettings applied = applySettingLines(lines, job);
    resetControlsBeforeLoad(view);
    showAppliedSettings(applied.shown, view);
    std::vector<std::string> problems = std::move(applied.problems);
    EXPECT_EQ(problems.size(), refusals);
    problems.insert(problems.end(), read.problems.begin(), read.problems.end());
    expectWithinLimits(job);
    expectControlsInStep(job, view);

    // The same text read from a file gives the same job.
    if (i % 8 == 0)
      expectSameFromFile(text, problems, job, read.holdsKey || !read.problems.empty());
  }
  std::cout << "[ fuzz     ] " << inputs << " settings files read\n";
}

// A job as a person could type it into the window, edge values included.
void typeRandomJob(RandomInput& random, MemoryView& view) {
  auto text = [&random](std::size_t longest) {
    std::string value = random.awkwardText(12);
    if (random.chance(0.1)) value += random.from("pqrs/.", longest - 2 + random.between(0, 4));
    return value;
  };
  view.clearList(ControlId::DataSourceList);
  if (random.chance(0.9)) {
    const std::string name = text(127);
    view.appendLine(ControlId::DataSourceList, name);
    view.selectLine(ControlId::DataSourceList, name);
  }
  view.setText(ControlId::UserName, text(127));
  view.setText(ControlId::Password, text(107));
  std::string sql = random.awkwardText(30);
  if (random.chance(0.05)) sql += random.from("x \r\n", 32767);
  view.setText(ControlId::SqlBox, sql);
  view.setText(ControlId::LaunchApplication, text(255));
  view.setText(ControlId::OutFileName, text(255));
  const std::vector<ControlId> outputs = {ControlId::OutputXml, ControlId::OutputCsv,
                                          ControlId::OutputTsv, ControlId::OutputHtml,
                                          ControlId::OutputXlsx};
  const ControlId output = random.pick(outputs);
  for (ControlId box : outputs) view.setChecked(box, box == output);
  view.setChecked(ControlId::QuoteFields, random.chance(0.5));
  view.setChecked(ControlId::ByteOrderMark, random.chance(0.5));
  view.setChecked(ControlId::Excel2007, random.chance(0.5));
  view.setChecked(ControlId::ForceFullLength, random.chance(0.5));
  view.setChecked(ControlId::LaunchOnFinish, random.chance(0.5));
}

bool names(const std::vector<std::string>& problems, const std::string& field) {
  for (const std::string& problem : problems) {
    if (problem.rfind(field, 0) == 0) return true;
  }
  return false;
}

// Each line of the SQL text but the last gains two spaces when it is saved and loaded.
std::string sqlLoadedBack(const std::string& sql) {
  std::string out;
  for (std::size_t i = 0; i < sql.size(); ++i) {
    if (sql.compare(i, 2, "\r\n") == 0) out += "  ";
    out += sql[i];
  }
  return out;
}

TEST(SettingsFuzzTest, SavedJobsLoadBackOrTheSaveNamesWhatWillNot) {
  RandomInput random(777);
  const int inputs = RandomInput::count(400);
  support::TempDir temp;
  const std::string path = temp / "job.DIRU";
  for (int i = 0; i < inputs && !HasFailure(); ++i) {
    SCOPED_TRACE("input " + std::to_string(i) + " of start value " +
                 std::to_string(random.start()));
    JobSettings saved;
    MemoryView view;
    typeRandomJob(random, view);
    SettingsSaveResult result = saveSettingsFile(saved, view, path);
    ASSERT_TRUE(result.written) << result.error;
    struct stat st;
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    JobSettings loaded;
    MemoryView loadedView;
    applyDefaults(loaded, loadedView);
    ASSERT_TRUE(loadSettingsFile(loaded, loadedView, path).opened);
    const auto& problems = result.problems;
    if (loaded.dataSource != saved.dataSource) {
      EXPECT_TRUE(saved.dataSource.empty() || names(problems, "The data source name"));
    }
    if (loaded.userName != saved.userName) {
      EXPECT_TRUE(names(problems, "The user name"));
    }
    // A password comes back as it was, or not at all: never as another password.
    if (loaded.password != saved.password) {
      EXPECT_TRUE(names(problems, "The password"));
      EXPECT_EQ(loaded.password, "");
    }
    if (loaded.sql != sqlLoadedBack(saved.sql)) {
      EXPECT_TRUE(names(problems, "The SQL text"));
    }
    if (loaded.launchApplication != saved.launchApplication) {
      EXPECT_TRUE(names(problems, "The application to launch"));
    }
    if (loaded.outFileName != saved.outFileName) {
      EXPECT_TRUE(names(problems, "The output file name"));
    }
    EXPECT_EQ(loaded.excel2007, saved.excel2007);
    EXPECT_EQ(loaded.forceFullLength, saved.forceFullLength);
    EXPECT_EQ(loaded.noAutoOpen, saved.noAutoOpen);
    EXPECT_EQ(loaded.quoteFields, saved.quoteFields);
    EXPECT_EQ(loaded.byteOrderMark, saved.byteOrderMark);
    EXPECT_EQ(outputTypeOf(loaded), outputTypeOf(saved));
    expectWithinLimits(loaded);
    expectControlsInStep(loaded, loadedView);
  }
  std::cout << "[ fuzz     ] " << inputs << " jobs saved and loaded back\n";
}

TEST(SettingsFuzzTest, PasswordsUnscrambleWithinTheirLimitAndScrambleBack) {
  RandomInput random(4242);
  const int inputs = RandomInput::count(20000);
  for (int i = 0; i < inputs && !HasFailure(); ++i) {
    SCOPED_TRACE("input " + std::to_string(i) + " of start value " +
                 std::to_string(random.start()));
    const std::string scrambled = random.bytes(static_cast<std::size_t>(random.between(0, 130)));
    std::optional<std::string> password = unscramblePassword(scrambled);
    EXPECT_EQ(password.has_value(), isScrambledPassword(scrambled));
    if (password) {
      EXPECT_EQ(password->size() + 20, static_cast<unsigned char>(scrambled[0]));
      EXPECT_EQ(scramblePassword(*password), scrambled.substr(0, password->size() + 1));
    }
    const std::string typed = random.bytes(static_cast<std::size_t>(random.between(0, 120)));
    std::optional<std::string> stored = scramblePassword(typed);
    EXPECT_EQ(stored.has_value(), typed.size() <= 107);
    if (stored) {
      EXPECT_EQ(unscramblePassword(*stored), typed);
    }
  }
  std::cout << "[ fuzz     ] " << 2 * inputs << " passwords unscrambled and scrambled\n";
}

}  // namespace
}  // namespace rowpress
