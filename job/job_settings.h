// The extraction job: one record for the life of the process, filled by start-up, the
// dialog's controls, settings files and data source selection, read by the fetch, the
// export run and the settings writer.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "job/exit_status.h"
#include "job/secret.h"
#include "job/utf8.h"

namespace rowpress {

// Limits of the record, in bytes of UTF-8 text.
inline constexpr std::size_t kCredentialLimit = 127;  // dataSource, userName, password
inline constexpr std::size_t kPathLimit = 255;   // launchApplication, outFileName, settingsFile
inline constexpr std::size_t kSqlLimit = 32767;  // what the fetch passes on to the driver

// The most sheets that a report runs: every sheet of a CSV report may take a reserved name
// and a temporary file, and a stop must know them all.
inline constexpr std::size_t kMaxReportSheets = 100;

// A sheet of a report job: the name of its worksheet (of its file, for CSV and TSV; of its
// heading, for HTML) and the statement that fills it.
struct JobSheet {
  std::string name;
  std::string sql;  // line breaks as CR LF
  bool operator==(const JobSheet&) const = default;
};

// The value of a parameter: every marker ":name" of the job's statements is bound to it.
struct JobParameter {
  std::string name;
  std::string value;
  bool operator==(const JobParameter&) const = default;
};

// A file by its device and inode number: the same file under any of its names or links.
struct FileIdentity {
  dev_t device = 0;
  ino_t inode = 0;
  bool operator==(const FileIdentity&) const = default;
};

struct JobSettings {
  std::string dataSource;
  std::string userName;
  Secret password;  // move-only: a job with a password is moved, never copied
  std::string sql;  // line breaks as CR LF; in a report job, the first sheet's
  bool excel2007 = false;
  bool forceFullLength = false;
  bool outputCsv = false;
  bool outputTsv = false;
  bool outputHtml = false;
  std::string launchApplication;
  bool noAutoOpen = false;
  std::string outFileName;
  bool outputXlsx = false;  // the Office Open XML workbook (.xlsx)
  // Standard CSV for the CSV and TSV outputs: a field is quoted where it must be and every
  // value is written as it is; and a UTF-8 byte order mark at the start of those files.
  bool quoteFields = false;
  bool byteOrderMark = false;
  // The field separator of standard CSV: "" or "," the comma, ";" or "|". And numeric
  // columns' values written with a decimal comma, for a separator other than the comma.
  std::string separator;
  bool decimalComma = false;
  // The character encoding of CSV and TSV files, a name iconv knows; "" for UTF-8.
  std::string encoding;
  // The session's time zone, a name the database knows ("Europe/Berlin", "+02:00"), set
  // through the driver when the session connects; "" leaves the data source's own.
  std::string timeZone;
  bool silent = false;
  std::string settingsFile;
  // The password that the environment or a password file gave at start-up, kept while the
  // job may still use it: a settings file saved with this password leaves it out.
  std::optional<Secret> outsidePassword;
  // Seconds that connecting, executing the statement and each wait for the next row may
  // take; 0 for no limit.
  int timeoutSeconds = 0;
  // A run that would change a value to fit the output (cut it, drop or replace characters)
  // fails instead, and publishes nothing.
  bool strict = false;
  // A manifest beside the output ("PATH.manifest.json"), with the parameters' values when
  // `manifestValues` (else their names only).
  bool manifest = false;
  bool manifestValues = false;
  // The settings files the job was read from: a run never writes its output or its type
  // report over one of them.
  std::vector<FileIdentity> readFrom;
  // A report job's sheets, in order, the first one's statement also in `sql`; empty for a job
  // of one statement.
  std::vector<JobSheet> sheets;
  // The values of the markers, each name once, in the order first given.
  std::vector<JobParameter> parameters;
};

// The statements of the job: a report's sheets, or the one statement as a sheet without a
// name.
std::vector<JobSheet> sheetsOf(const JobSettings& job);

// Whether `name` is a parameter name: a letter, then letters, digits and underscores (ASCII).
bool isParameterName(std::string_view name);
// Gives parameter `name` the value `value`: the last value given for a name wins.
void setParameter(JobSettings& job, std::string_view name, std::string_view value);
// The value of parameter `name`, if the job gives one.
const std::string* parameterValue(const JobSettings& job, std::string_view name);
// Reads "NAME=VALUE" (the form of a Param key's value and of -param=) into the job; the
// message that refuses it otherwise: a name that is no parameter name, or no "=".
std::optional<std::string> applyParameter(JobSettings& job, std::string_view text);

// A second job with every field of `job`, its passwords included: made on purpose, when a
// run is handed a job of its own while the window keeps editing the first.
JobSettings copyOf(const JobSettings& job);

enum class OutputType { Xml, Csv, Tsv, Html, Xlsx };

// HTML beats TSV beats CSV beats XLSX; none set means the workbook. Loading and the window
// set one flag at most; the older flags keep their order over the newest one.
OutputType outputTypeOf(const JobSettings& job);
// Sets the flag of `type` alone (the XML workbook has none).
void setOutputType(JobSettings& job, OutputType type);

// A field of the job that cannot be used as it stands, with the message that names it and
// the outcome of refusing it. Over-long values are refused, never cut: a cut path writes
// somewhere else and a cut password connects with another one. A value holding a NUL byte is
// refused too: every system call and the driver manager would read it only up to the NUL.
struct LimitProblem {
  std::string message;
  RunOutcome outcome;
};
std::optional<LimitProblem> findLimitProblem(const JobSettings& job);

// The message for a value of `field` that is longer than `limit` bytes.
std::string tooLongMessage(const char* field, std::size_t limit);

// The seconds of a timeout written as a whole number ("0" for none): digits only, at most
// kTimeoutLimit. Nothing when the text is not such a number.
inline constexpr int kTimeoutLimit = 999999999;
std::optional<int> parseTimeoutSeconds(std::string_view text);
// The message for a timeout that parseTimeoutSeconds does not take because it is no whole
// number.
inline constexpr const char* kTimeoutRefused =
    "The timeout is not a whole number of seconds and was refused.";
// The message for `text`, a timeout that parseTimeoutSeconds does not take: kTimeoutRefused,
// or for a whole number above kTimeoutLimit one that says the largest value.
std::string timeoutRefusal(std::string_view text);

// Why a value of `field` is refused: longer than `limit` bytes, or holding a NUL byte.
// Nothing when the value can be used.
std::optional<std::string> refusalOf(std::string_view value, std::size_t limit, const char* field);

}  // namespace rowpress
