#include "settings/settings_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string_view>
#include <system_error>

#include "app/atomic_file.h"
#include "settings/password_scramble.h"
#include "settings/settings_format.h"
#include "settings/settings_reader.h"

namespace rowpress {

namespace {

std::string reasonOf(int err) {
  return err == 0 ? std::string("unknown error") : std::generic_category().message(err);
}

void takeJobFromView(JobSettings& job, const View& view) {
  int selected = view.selectedIndex(ControlId::DataSourceList);
  job.dataSource =
      selected < 0 ? std::string() : view.lineText(ControlId::DataSourceList, selected);
  job.userName = view.text(ControlId::UserName);
  job.password = view.text(ControlId::Password);
  job.launchApplication = view.text(ControlId::LaunchApplication);
  job.outFileName = view.text(ControlId::OutFileName);
  job.outputCsv = view.isChecked(ControlId::OutputCsv);
  job.outputTsv = view.isChecked(ControlId::OutputTsv);
  job.outputHtml = view.isChecked(ControlId::OutputHtml);
  job.sql = view.text(ControlId::SqlBox);
  job.excel2007 = view.isChecked(ControlId::Excel2007);
  job.forceFullLength = view.isChecked(ControlId::ForceFullLength);
  job.noAutoOpen = !view.isChecked(ControlId::LaunchOnFinish);
}

enum class PasswordFit { Fits, TooLong, WouldNotLoadBack };

// Whether the password line reads back as the same password. The scrambled bytes can hold
// a closing pair, a line feed or the key string of a key tested before Password.
PasswordFit passwordFit(const std::string& password) {
  std::optional<std::string> scrambled = scramblePassword(password);
  if (!scrambled) return PasswordFit::TooLong;
  std::istringstream line(valueLine(SettingKey::Password, *scrambled));
  std::vector<SettingLine> found = readSettingLines(line);
  bool same = found.size() == 1 && found[0].key == SettingKey::Password &&
              unscramblePassword(found[0].value) == password;
  return same ? PasswordFit::Fits : PasswordFit::WouldNotLoadBack;
}

// Writes `bytes` to a new file beside `path` and renames it over `path` (see AtomicFile: an
// existing file keeps its permissions, a link is followed). A new settings file is for its
// owner only: it holds a recoverable password. Returns the reason when the file could not
// be written; the temporary file is then removed again.
std::optional<std::string> replaceFile(const std::string& path, std::string_view bytes) {
  AtomicFile file;
  if (!file.open(path, S_IRUSR | S_IWUSR)) return file.error();
  while (!bytes.empty()) {
    ssize_t done = write(file.descriptor(), bytes.data(), bytes.size());
    if (done < 0) {
      if (errno == EINTR) continue;
      return reasonOf(errno);  // the file's destructor removes the temporary file
    }
    bytes.remove_prefix(static_cast<std::size_t>(done));
  }
  if (!file.commit()) return file.error();
  return std::nullopt;
}

// Opens `path` for reading; a folder is not a settings file.
std::optional<std::string> openForReading(const std::string& path, std::ifstream& in) {
  errno = 0;
  in.open(path, std::ios::binary);
  if (!in.is_open()) return reasonOf(errno);
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) return reasonOf(EISDIR);
  return std::nullopt;
}

std::string willNotLoadBack(const char* field) {
  return std::string(field) + " will not load back as saved.";
}

std::string tooLongToLoadBack(const char* field, std::size_t limit) {
  return std::string(field) + " is longer than " + std::to_string(limit) +
         " bytes and will not load back.";
}

// One line for each field of `saved` that `loaded` does not give back.
std::vector<std::string> compareLoadedBack(const JobSettings& saved, const JobSettings& loaded,
                                           PasswordFit fit) {
  std::vector<std::string> problems;
  struct TextCheck {
    const char* field;
    const std::string& saved;
    const std::string& loaded;
    std::size_t limit;
  };
  const std::string expectedSql = sqlAsLoadedBack(saved.sql);
  const TextCheck before[] = {
      {"The data source name", saved.dataSource, loaded.dataSource, kCredentialLimit},
      {"The user name", saved.userName, loaded.userName, kCredentialLimit},
  };
  const TextCheck after[] = {
      {"The application to launch", saved.launchApplication, loaded.launchApplication, kPathLimit},
      {"The output file name", saved.outFileName, loaded.outFileName, kPathLimit},
  };
  auto checkText = [&problems](const TextCheck& c) {
    if (c.saved == c.loaded) return;
    problems.push_back(c.saved.size() > c.limit ? tooLongToLoadBack(c.field, c.limit)
                                                : willNotLoadBack(c.field));
  };
  for (const TextCheck& c : before) checkText(c);

  if (fit == PasswordFit::TooLong) {
    problems.push_back("The password is longer than " + std::to_string(kScrambledPasswordLimit) +
                       " bytes and was not saved.");
  } else if (fit == PasswordFit::WouldNotLoadBack) {
    problems.push_back("The password cannot be stored in a settings file and was not saved.");
  } else if (saved.password != loaded.password) {
    problems.push_back(willNotLoadBack("The password"));
  }

  if (expectedSql != loaded.sql) {
    if (expectedSql.size() > kSqlLimit) {
      problems.push_back(saved.sql.size() > kSqlLimit
                             ? tooLongToLoadBack("The SQL text", kSqlLimit)
                             : "The SQL text grows past " + std::to_string(kSqlLimit) +
                                   " bytes in the settings file and will not load back.");
    } else {
      problems.push_back(willNotLoadBack("The SQL text"));
    }
  }

  struct FlagCheck {
    const char* field;
    bool JobSettings::*flag;
  };
  const FlagCheck flags[] = {
      {"The 2007 setting", &JobSettings::excel2007},
      {"The Force Full Length setting", &JobSettings::forceFullLength},
      {"The CSV output setting", &JobSettings::outputCsv},
      {"The TSV output setting", &JobSettings::outputTsv},
      {"The HTML output setting", &JobSettings::outputHtml},
      {"The Launch On Finish setting", &JobSettings::noAutoOpen},
  };
  for (const FlagCheck& f : flags) {
    if (saved.*f.flag != loaded.*f.flag) problems.push_back(willNotLoadBack(f.field));
  }
  for (const TextCheck& c : after) checkText(c);
  return problems;
}

}  // namespace

std::string sqlAsLoadedBack(const std::string& sql) {
  std::string out;
  out.reserve(sql.size() + sql.size() / 16);
  for (std::size_t i = 0; i < sql.size(); ++i) {
    if (sql[i] == '\r' && i + 1 < sql.size() && sql[i + 1] == '\n') out += "  ";
    out += sql[i];
  }
  return out;
}

SettingsSaveResult saveSettingsFile(JobSettings& job, View& view, const std::string& path) {
  takeJobFromView(job, view);
  const PasswordFit fit = passwordFit(job.password);
  const std::string text = formatSettingsFile(job, std::time(nullptr), fit == PasswordFit::Fits);

  SettingsSaveResult result;
  if (std::optional<std::string> reason = replaceFile(path, text)) {
    result.error = "The settings file could not be written: " + *reason + ".";
    return result;
  }
  result.written = true;

  if (job.dataSource.empty()) {
    result.problems.push_back("No data source was selected; the settings file names none.");
  }
  std::ifstream in;
  if (std::optional<std::string> reason = openForReading(path, in)) {
    result.problems.push_back("The settings file could not be read back: " + *reason + ".");
    return result;
  }
  JobSettings loaded;
  resetBeforeLoad(loaded, nullptr);
  applySettingLines(readSettingLines(in), loaded, nullptr);
  for (std::string& line : compareLoadedBack(job, loaded, fit)) {
    result.problems.push_back(std::move(line));
  }
  return result;
}

SettingsLoadResult loadSettingsFile(JobSettings& job, View& view, const std::string& path) {
  SettingsLoadResult result;
  std::ifstream in;
  if (std::optional<std::string> reason = openForReading(path, in)) {
    result.error = "The settings file could not be read: " + *reason + ".";
    return result;
  }
  result.opened = true;
  resetBeforeLoad(job, &view);
  result.problems = applySettingLines(readSettingLines(in), job, &view);
  return result;
}

}  // namespace rowpress
