#include "settings/settings_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <optional>
#include <sstream>
#include <streambuf>
#include <string_view>
#include <system_error>

#include "files/atomic_file.h"
#include "files/file_descriptor.h"
#include "job/job_fields.h"
#include "settings/password_scramble.h"
#include "settings/settings_format.h"
#include "settings/settings_reader.h"

namespace rowpress {

namespace {

std::string reasonOf(int err) {
  return err == 0 ? std::string("unknown error") : std::generic_category().message(err);
}

enum class PasswordFit { Fits, TooLong, WouldNotLoadBack, FromOutside };

// Whether the password line reads back as the same password. The scrambled bytes can hold
// a closing pair, a line feed or the key string of a key tested before Password, and a
// password holding a NUL byte is refused on reading.
PasswordFit passwordFit(std::string_view password) {
  std::optional<std::string> scrambled = scramblePassword(password);
  if (!scrambled) return PasswordFit::TooLong;
  std::istringstream line(valueLine(SettingKey::Password, *scrambled));
  std::vector<SettingLine> found = readSettingLines(line).lines;
  JobSettings loaded;
  bool same = found.size() == 1 && found[0].key == SettingKey::Password &&
              applySettingLines(found, loaded).problems.empty() && loaded.password == password;
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

// Reads a settings file through its descriptor and keeps the first read error, where a file
// stream would throw or pass it off as the end of the file.
class SettingsFileBuffer : public std::streambuf {
 public:
  explicit SettingsFileBuffer(int fd) : fd_(fd) {}
  int error() const { return error_; }

 protected:
  int_type underflow() override {
    if (error_ != 0) return traits_type::eof();
    for (;;) {
      const ssize_t n = ::read(fd_, buffer_, sizeof buffer_);
      if (n > 0) {
        setg(buffer_, buffer_, buffer_ + n);
        return traits_type::to_int_type(buffer_[0]);
      }
      if (n == 0) return traits_type::eof();
      if (errno == EINTR) continue;
      error_ = errno;
      return traits_type::eof();
    }
  }

 private:
  int fd_;
  int error_ = 0;
  char buffer_[16384];
};

// Reads the settings of the file at `path`; returns why it could not be read. Only a regular
// file is read: it is opened without waiting (a FIFO with no writer, a device) and refused
// unless it is one, so a path naming anything else never blocks the program.
// `identity`, when given, receives the identity of the file that was read.
std::optional<std::string> readSettingsFile(const std::string& path, SettingsText& text,
                                            FileIdentity* identity = nullptr) {
  const FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!fd) return reasonOf(errno);
  struct stat st {};
  std::optional<std::string> problem;
  if (fstat(fd.get(), &st) != 0) {
    problem = reasonOf(errno);
  } else if (S_ISDIR(st.st_mode)) {
    problem = reasonOf(EISDIR);
  } else if (!S_ISREG(st.st_mode)) {
    problem = "not a regular file";
  } else {
    SettingsFileBuffer buffer(fd.get());
    std::istream in(&buffer);
    text = readSettingLines(in);
    if (buffer.error() != 0) problem = reasonOf(buffer.error());
    if (identity) *identity = FileIdentity{st.st_dev, st.st_ino};
  }
  return problem;
}

std::string willNotLoadBack(const char* field) {
  return std::string(field) + " will not load back as saved.";
}

std::string tooLongToLoadBack(const char* field, std::size_t limit) {
  return std::string(field) + " is longer than " + std::to_string(limit) +
         " bytes and will not load back.";
}

// One line for each field of `saved` that `loaded` does not give back.
namespace {

// Why the password is not in the settings file as it was: it was not saved (`fit` says why),
// or it `differs` once loaded back; empty when it loads back.
std::string passwordNotLoadedBack(PasswordFit fit, bool differs) {
  switch (fit) {
    case PasswordFit::TooLong:
      return "The password is longer than " + std::to_string(kScrambledPasswordLimit) +
             " bytes and was not saved.";
    case PasswordFit::FromOutside:
      return "The password came from ROWPRESS_PASSWORD or a password file and was not saved.";
    case PasswordFit::WouldNotLoadBack:
      return "The password cannot be stored in a settings file and was not saved.";
    case PasswordFit::Fits:
      break;
  }
  return differs ? willNotLoadBack(fieldOf(SettingKey::Password).name) : "";
}

}  // namespace

std::vector<std::string> compareLoadedBack(const JobSettings& saved, const JobSettings& loaded,
                                           PasswordFit fit) {
  std::vector<std::string> problems;
  const std::string expectedSql = sqlAsLoadedBack(saved.sql);
  for (const JobField& field : kJobFields) {
    switch (field.kind) {
      case FieldKind::Text:
        if (field.key == SettingKey::Sql) {
          if (expectedSql == loaded.sql) break;
          if (expectedSql.size() <= field.limit) {
            problems.push_back(willNotLoadBack(field.name));
          } else if (saved.sql.size() > field.limit) {
            problems.push_back(tooLongToLoadBack(field.name, field.limit));
          } else {
            problems.push_back(std::string(field.name) + " grows past " +
                               std::to_string(field.limit) +
                               " bytes in the settings file and will not load back.");
          }
        } else if (saved.*field.text != loaded.*field.text) {
          problems.push_back((saved.*field.text).size() > field.limit
                                 ? tooLongToLoadBack(field.name, field.limit)
                                 : willNotLoadBack(field.name));
        }
        break;
      case FieldKind::Password:
        if (std::string problem =
                passwordNotLoadedBack(fit, saved.*field.secret != loaded.*field.secret);
            !problem.empty()) {
          problems.push_back(std::move(problem));
        }
        break;
      case FieldKind::Flag:
      case FieldKind::LaunchFlag:
      case FieldKind::OutputFlag:
        if (saved.*field.flag != loaded.*field.flag)
          problems.push_back(willNotLoadBack(field.name));
        break;
      case FieldKind::Seconds:
        if (saved.*field.seconds != loaded.*field.seconds) {
          problems.push_back(willNotLoadBack(field.name));
        }
        break;
      case FieldKind::SheetName: {
        std::vector<JobSheet> expected = saved.sheets;
        for (JobSheet& sheet : expected) sheet.sql = sqlAsLoadedBack(sheet.sql);
        if (expected != loaded.sheets)
          problems.push_back("The report's sheets will not load back as saved.");
        break;
      }
      case FieldKind::Parameter:
        if (saved.parameters != loaded.parameters) {
          problems.push_back("The parameters will not load back as saved.");
        }
        break;
    }
  }
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

SettingsSaveResult saveSettings(const JobSettings& job, const std::string& path) {
  // A password given from outside stays outside: the file is where it must not be.
  const PasswordFit fit = job.outsidePassword && *job.outsidePassword == job.password
                              ? PasswordFit::FromOutside
                              : passwordFit(job.password.view());
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
  SettingsText readBack;
  if (std::optional<std::string> reason = readSettingsFile(path, readBack)) {
    result.problems.push_back("The settings file could not be read back: " + *reason + ".");
    return result;
  }
  JobSettings loaded;
  resetBeforeLoad(loaded);
  applySettingLines(readBack.lines, loaded);
  for (std::string& line : compareLoadedBack(job, loaded, fit)) {
    result.problems.push_back(std::move(line));
  }
  return result;
}

SettingsLoadResult loadSettings(JobSettings& job, const std::string& path) {
  SettingsLoadResult result;
  // The whole file is read before anything is applied: a file that fails halfway changes
  // nothing.
  SettingsText text;
  FileIdentity identity;
  if (std::optional<std::string> reason = readSettingsFile(path, text, &identity)) {
    result.error = "The settings file could not be read: " + *reason + ".";
    return result;
  }
  // A file without a single setting is not a job file at all (another file named by
  // mistake, a settings file in another encoding): it changes nothing.
  if (!text.holdsKey && text.problems.empty()) {
    result.holdsNoSettings = true;
    result.error = "The file holds no rowpress settings; nothing was loaded.";
    return result;
  }
  result.opened = true;
  if (std::find(job.readFrom.begin(), job.readFrom.end(), identity) == job.readFrom.end()) {
    job.readFrom.push_back(identity);
  }
  resetBeforeLoad(job);
  AppliedSettings applied = applySettingLines(text.lines, job);
  result.problems = std::move(applied.problems);
  result.problems.insert(result.problems.end(), text.problems.begin(), text.problems.end());
  result.shown = std::move(applied.shown);
  // A password read from the file replaces the one given from outside.
  for (const AppliedSetting& setting : result.shown) {
    if (setting.key == SettingKey::Password) job.outsidePassword.reset();
  }
  return result;
}

}  // namespace rowpress
