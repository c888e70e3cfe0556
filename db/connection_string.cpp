#include "db/connection_string.h"

#include <odbcinst.h>
#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <vector>

#include "db/postgres_attributes.h"

namespace rowpress {

namespace {

struct StreamingOption {
  const char* key;
  const char* value;
  // The driver's connection attribute that sets it after connecting, or 0: then it goes into
  // the connection string.
  SQLINTEGER attribute = 0;
  // For an option whose streaming describes a column without a declared type as text: the
  // value that gives the driver's typed mode, which takes such a column's type from its value.
  const char* typedValue = nullptr;
};

// A driver that reads whole results unless told otherwise, known by a part of its name or of
// its library's file name (compared without regard to case), and the options that make it
// stream.
struct StreamingDriver {
  const char* namePart;
  const char* libraryPart;
  std::array<StreamingOption, 3> options;  // a null key ends the list early
};

constexpr std::array<StreamingDriver, 2> kStreamingDrivers = {{
    // A server-side cursor fetched 10,000 rows at a time; booleans described as the driver's
    // BIT type rather than as text, so that they stay booleans.
    {"postgresql",
     "psqlodbc",
     {{{"UseDeclareFetch", "1", kPgUseDeclareFetch},
       {"Fetch", "10000", kPgFetch},
       {"BoolsAsChar", "0", kPgBoolsAsChar}}}},
    // Rows stepped through as SQLite produces them.
    {"sqlite3",
     "sqlite3odbc",
     {{{"StepAPI", "1", 0, "0"}, {nullptr, nullptr}, {nullptr, nullptr}}}},
}};

bool containsIgnoringCase(std::string_view text, std::string_view part) {
  return std::search(text.begin(), text.end(), part.begin(), part.end(), [](char a, char b) {
           return std::tolower(static_cast<unsigned char>(a)) ==
                  std::tolower(static_cast<unsigned char>(b));
         }) != text.end();
}

bool needsBraces(std::string_view value) {
  return value.find_first_of(";{}") != std::string_view::npos ||
         (!value.empty() && value.front() == ' ');
}

// Adds ";KEY=VALUE" (no ";" before the first pair), the value quoted as it must be. `Text` is
// a std::string or, for a string that holds the password, a Secret.
template <class Text>
void appendPair(Text& text, std::string_view key, std::string_view value) {
  if (!text.empty()) text.append(";");
  text.append(key).append("=");
  if (!needsBraces(value)) {
    text.append(value);
    return;
  }
  text.append("{");
  for (std::size_t start = 0; start < value.size();) {
    const std::size_t brace = value.find('}', start);
    if (brace == std::string_view::npos) {
      text.append(value.substr(start));
      break;
    }
    text.append(value.substr(start, brace + 1 - start)).append("}");
    start = brace + 1;
  }
  text.append("}");
}

template <class Text>
void build(Text& text, const JobSettings& job, const std::vector<StreamingOption>& options) {
  appendPair(text, "DSN", job.dataSource);
  if (!job.userName.empty()) appendPair(text, "UID", job.userName);
  if (!job.password.empty()) appendPair(text, "PWD", job.password.view());
  for (const StreamingOption& option : options) appendPair(text, option.key, option.value);
}

}  // namespace

std::string readOdbcIni(const char* file, const std::string& section, const char* key) {
  // The data sources of both files, the user's first, as the driver manager looks them up.
  UWORD mode = ODBC_BOTH_DSN;
  const bool modeKnown = SQLGetConfigMode(&mode);
  SQLSetConfigMode(ODBC_BOTH_DSN);
  char value[1024] = {0};
  const int length =
      SQLGetPrivateProfileString(section.c_str(), key, "", value, sizeof value, file);
  if (modeKnown) SQLSetConfigMode(mode);
  return length > 0 ? std::string(value) : std::string();
}

namespace {

// The streaming driver that the job's data source names, with the driver's section; nothing
// for another driver.
const StreamingDriver* driverOf(const JobSettings& job, const OdbcIniReader& read,
                                std::string& driver) {
  if (job.dataSource.empty()) return nullptr;
  driver = read("odbc.ini", job.dataSource, "Driver");
  if (driver.empty()) return nullptr;
  // A data source names a driver of odbcinst.ini, or the library itself.
  const std::string library = read("odbcinst.ini", driver, "Driver");
  const auto known = std::find_if(kStreamingDrivers.begin(), kStreamingDrivers.end(),
                                  [&](const StreamingDriver& d) {
                                    return containsIgnoringCase(driver, d.namePart) ||
                                           containsIgnoringCase(driver, d.libraryPart) ||
                                           containsIgnoringCase(library, d.libraryPart);
                                  });
  return known == kStreamingDrivers.end() ? nullptr : &*known;
}

// What the data source's section, else its driver's, sets the option to; empty when neither.
std::string setValue(const JobSettings& job, const std::string& driver, const char* key,
                     const OdbcIniReader& read) {
  std::string value = read("odbc.ini", job.dataSource, key);
  return value.empty() ? read("odbcinst.ini", driver, key) : value;
}

// The streaming options that the job's data source needs and neither its section nor its
// driver's sets.
std::vector<StreamingOption> missingOptions(const JobSettings& job, const OdbcIniReader& read) {
  std::string driver;
  const StreamingDriver* known = driverOf(job, read, driver);
  if (known == nullptr) return {};
  std::vector<StreamingOption> options;
  for (const StreamingOption& option : known->options) {
    if (!option.key) break;
    // What an administrator set, in either place and to whatever value, stays as it is.
    if (setValue(job, driver, option.key, read).empty()) options.push_back(option);
  }
  return options;
}

// Whether a data source and user can be named in a connection string as they are.
bool fitsAString(const JobSettings& job) {
  return job.dataSource.size() <= SQL_MAX_DSN_LENGTH && !needsBraces(job.dataSource) &&
         !needsBraces(job.userName);
}

ConnectionString connectionString(const JobSettings& job,
                                  const std::vector<StreamingOption>& options) {
  ConnectionString connection;
  if (job.password.empty()) {
    build(connection.plain, job, options);
  } else {
    build(connection.withPassword, job, options);
  }
  return connection;
}

}  // namespace

std::vector<StreamingAttribute> streamingAttributes(const JobSettings& job,
                                                    const OdbcIniReader& read) {
  std::vector<StreamingAttribute> attributes;
  for (const StreamingOption& option : missingOptions(job, read)) {
    if (option.attribute != 0) {
      attributes.push_back({option.attribute, std::stoul(option.value)});
    }
  }
  return attributes;
}

std::optional<ConnectionString> streamingConnectionString(const JobSettings& job,
                                                          const OdbcIniReader& read) {
  if (!fitsAString(job)) return std::nullopt;
  std::vector<StreamingOption> options = missingOptions(job, read);
  std::erase_if(options, [](const StreamingOption& option) { return option.attribute != 0; });
  if (options.empty()) return std::nullopt;
  return connectionString(job, options);
}

std::optional<ConnectionString> typedModeConnectionString(const JobSettings& job,
                                                          const OdbcIniReader& read) {
  std::string driver;
  const StreamingDriver* known = fitsAString(job) ? driverOf(job, read, driver) : nullptr;
  if (known == nullptr) return std::nullopt;
  for (const StreamingOption& option : known->options) {
    if (!option.key || !option.typedValue) continue;
    // Streaming when the session adds the option, or when it is set to anything but the
    // typed mode's value.
    const std::string value = setValue(job, driver, option.key, read);
    if (value != option.typedValue) {
      return connectionString(job, {{option.key, option.typedValue}});
    }
  }
  return std::nullopt;
}

}  // namespace rowpress
