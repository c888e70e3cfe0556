// The extraction job: one record for the life of the process, filled by start-up, the
// dialog's controls, settings files and data source selection, read by the fetch, the
// export run and the settings writer.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace rowpress {

// Limits of the record, in bytes of UTF-8 text.
inline constexpr std::size_t kCredentialLimit = 127;  // dataSource, userName, password
inline constexpr std::size_t kPathLimit = 255;   // launchApplication, outFileName, settingsFile
inline constexpr std::size_t kSqlLimit = 32767;  // what the fetch passes on to the driver

struct JobSettings {
  std::string dataSource;
  std::string userName;
  std::string password;
  std::string sql;  // line breaks as CR LF
  bool excel2007 = false;
  bool forceFullLength = false;
  bool outputCsv = false;
  bool outputTsv = false;
  bool outputHtml = false;
  std::string launchApplication;
  bool noAutoOpen = false;
  std::string outFileName;
  bool silent = false;
  std::string settingsFile;
};

enum class OutputType { Xml, Csv, Tsv, Html };

// HTML beats TSV beats CSV; none set means the workbook.
OutputType outputTypeOf(const JobSettings& job);

// How one run of the job ended. The values are the exit statuses of an unattended run.
enum class RunOutcome {
  Exported = 0,         // rows were written and the file kept
  NoRows = 1,           // the query returned no rows; no file kept
  NoConnection = 2,     // a session step failed
  StatementFailed = 3,  // execute, column count or a fetch failed
  OutputFile = 4,       // the output file could not be created or written
  Limit = 5,            // stopped at a workbook limit; the partial workbook is kept
  JobUnreadable = 6,    // a settings file could not be read or held a refused value; nothing ran
  Stopped = 128,        // stopped by a request (a signal: the status is 128 + its number)
};

// A field of the job that cannot be used as it stands, with the message that names it and
// the outcome of refusing it. Over-long values are refused, never cut: a cut path writes
// somewhere else and a cut password connects with another one. A value holding a NUL byte is
// refused too: every system call and the driver manager would read it only up to the NUL.
struct LimitProblem {
  std::string message;
  RunOutcome outcome;
};
std::optional<LimitProblem> findLimitProblem(const JobSettings& job);

// The longest prefix of `text` of at most `limit` bytes that does not end inside a UTF-8
// character: a value cut at a limit is cut on a character boundary.
std::size_t cutOnCharacterBoundary(std::string_view text, std::size_t limit);

// The length of `text` without a UTF-8 character that its end cuts short.
std::size_t withoutPartialCharacter(std::string_view text);

// The message for a value of `field` that is longer than `limit` bytes.
std::string tooLongMessage(const char* field, std::size_t limit);

// Why a value of `field` is refused: longer than `limit` bytes, or holding a NUL byte.
// Nothing when the value can be used.
std::optional<std::string> refusalOf(std::string_view value, std::size_t limit, const char* field);

}  // namespace rowpress
