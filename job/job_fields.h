// The fields of the job record as one table: each setting one row, with its key in the
// settings file, the member of the record it fills, its kind, how messages name it, its limit,
// what refusing a value of it means for a run. The settings reader and writer, the read-back
// after a save, the limit checks of a run and the controls' showJob and takeJob all take them
// from here: a new setting is a new row (and, where a control shows it, a row of the window's
// table in app/job_controls.cpp).
#pragma once

#include <cstddef>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>

#include "job/exit_status.h"
#include "job/job_settings.h"

namespace rowpress {

// The settings a file can hold, in the order in which the settings reader tests a line for
// their key strings: the first key found decides the line. DoLaunchApplication comes before
// LaunchApplication because its key string holds the other. The keys added since the first
// twelve come after them: no key string holds another one's, so a reader that does not know
// them passes their lines over.
enum class SettingKey {
  Database,
  UserName,
  DoLaunchApplication,
  ForceFullLength,
  Excel2007,
  LaunchApplication,
  OutFileName,
  Password,
  Sql,
  Tsv,
  Csv,
  Html,
  Xlsx,
  QuoteFields,
  ByteOrderMark,
  Timeout,
  Strict,
  Manifest,
  Sheet,
  Param,
  Separator,
  DecimalComma,
  Encoding,
  TimeZone,
};

enum class FieldKind {
  Text,        // a text of the record, in a text box (the data source: the data source list)
  Password,    // the password, held as a Secret, in its box; written scrambled
  Flag,        // a flag, in a check box
  LaunchFlag,  // noAutoOpen, which the file and the window show inverted: "Launch On Finish"
  OutputFlag,  // the flag of an output type: setting one clears the others
  Seconds,     // the timeout, a whole number of seconds (see parseTimeoutSeconds); no control
  // The name of a report job's sheet, grouped with the SQL key that follows it: one for each
  // of the job's sheets. No member of its own: the sheets are JobSettings::sheets.
  SheetName,
  // A parameter's value, "NAME=VALUE", repeated for each parameter: JobSettings::parameters.
  Parameter,
};

struct JobField {
  SettingKey key;
  std::string_view keyString;  // the key, its equals sign and the opening quote: `CSV="`
  FieldKind kind;
  const char* name;  // as messages name it: "The output file name"
  std::string JobSettings::*text = nullptr;
  Secret JobSettings::*secret = nullptr;
  bool JobSettings::*flag = nullptr;
  int JobSettings::*seconds = nullptr;
  std::size_t limit = 0;                             // of a text or the password, in bytes
  RunOutcome refusedAs = RunOutcome::JobUnreadable;  // the outcome of a run whose value is refused
  OutputType output = OutputType::Xml;               // the type that an output flag selects
  // The comment line above the value line in the file; nullptr for DoLaunchApplication,
  // whose value line follows LaunchApplication's.
  const char* comment = nullptr;
  // A setting added after the first twelve is written only when set, after its comment, so
  // that a file without it stays as it always was.
  bool newer = false;
  // The rule lines that follow the value line of one of the first twelve, in order: '.' a
  // line of dots, '-' a line of dashes.
  std::string_view rulesAfter = {};
};

// In the order in which the settings file holds them.
inline constexpr JobField kJobFields[] = {
    {.key = SettingKey::Database,
     .keyString = "Database=\"",
     .kind = FieldKind::Text,
     .name = "The data source name",
     .text = &JobSettings::dataSource,
     .limit = kCredentialLimit,
     .refusedAs = RunOutcome::NoConnection,
     .comment = "-- The Database Name ",
     .rulesAfter = "."},
    {.key = SettingKey::UserName,
     .keyString = "UserName=\"",
     .kind = FieldKind::Text,
     .name = "The user name",
     .text = &JobSettings::userName,
     .limit = kCredentialLimit,
     .refusedAs = RunOutcome::NoConnection,
     .comment = "-- The User Name ",
     .rulesAfter = "."},
    {.key = SettingKey::Password,
     .keyString = "Password=\"",
     .kind = FieldKind::Password,
     .name = "The password",
     .secret = &JobSettings::password,
     .limit = kCredentialLimit,
     .refusedAs = RunOutcome::NoConnection,
     .comment = "-- The Password ",
     .rulesAfter = "."},
    {.key = SettingKey::Sql,
     .keyString = "SQL=\"",
     .kind = FieldKind::Text,
     .name = "The SQL text",
     .text = &JobSettings::sql,
     .limit = kSqlLimit,
     .refusedAs = RunOutcome::StatementFailed,
     .comment = "-- The SQL ",
     .rulesAfter = "."},
    {.key = SettingKey::Excel2007,
     .keyString = "2007=\"",
     .kind = FieldKind::Flag,
     .name = "The 2007 setting",
     .flag = &JobSettings::excel2007,
     .comment = "-- Excell 2007 Compatible Mode ",
     .rulesAfter = ".."},
    {.key = SettingKey::ForceFullLength,
     .keyString = "ForceFullLength=\"",
     .kind = FieldKind::Flag,
     .name = "The Force Full Length setting",
     .flag = &JobSettings::forceFullLength,
     .comment = "-- Force Full Column Length ",
     .rulesAfter = ".."},
    {.key = SettingKey::Csv,
     .keyString = "CSV=\"",
     .kind = FieldKind::OutputFlag,
     .name = "The CSV output setting",
     .flag = &JobSettings::outputCsv,
     .output = OutputType::Csv,
     .comment = "-- The CSV Output Preference ",
     .rulesAfter = ".."},
    {.key = SettingKey::Tsv,
     .keyString = "TSV=\"",
     .kind = FieldKind::OutputFlag,
     .name = "The TSV output setting",
     .flag = &JobSettings::outputTsv,
     .output = OutputType::Tsv,
     .comment = "-- The TSV Output Preference ",
     .rulesAfter = "."},
    {.key = SettingKey::Html,
     .keyString = "HTML=\"",
     .kind = FieldKind::OutputFlag,
     .name = "The HTML output setting",
     .flag = &JobSettings::outputHtml,
     .output = OutputType::Html,
     .comment = "-- The HTML Output Preference ",
     .rulesAfter = "."},
    {.key = SettingKey::LaunchApplication,
     .keyString = "LaunchApplication=\"",
     .kind = FieldKind::Text,
     .name = "The application to launch",
     .text = &JobSettings::launchApplication,
     .limit = kPathLimit,
     .refusedAs = RunOutcome::OutputFile,
     .comment = "-- The Launch Application Preference (setting to \"\" forces excel as launch "
                "application) "},
    {.key = SettingKey::DoLaunchApplication,
     .keyString = "DoLaunchApplication=\"",
     .kind = FieldKind::LaunchFlag,
     .name = "The Launch On Finish setting",
     .flag = &JobSettings::noAutoOpen,
     .rulesAfter = "-"},
    {.key = SettingKey::OutFileName,
     .keyString = "OutFileName=\"",
     .kind = FieldKind::Text,
     .name = "The output file name",
     .text = &JobSettings::outFileName,
     .limit = kPathLimit,
     .refusedAs = RunOutcome::OutputFile,
     .comment = "-- The OutPut File Name Preference (set to \"\" to force unique temp names) ",
     .rulesAfter = "-"},
    {.key = SettingKey::Xlsx,
     .keyString = "XLSX=\"",
     .kind = FieldKind::OutputFlag,
     .name = "The XLSX output setting",
     .flag = &JobSettings::outputXlsx,
     .output = OutputType::Xlsx,
     .comment = "-- The XLSX Output Preference ",
     .newer = true},
    {.key = SettingKey::QuoteFields,
     .keyString = "QuoteFields=\"",
     .kind = FieldKind::Flag,
     .name = "The Quote Fields setting",
     .flag = &JobSettings::quoteFields,
     .comment = "-- Quote Fields of CSV and TSV Output ",
     .newer = true},
    {.key = SettingKey::ByteOrderMark,
     .keyString = "ByteOrderMark=\"",
     .kind = FieldKind::Flag,
     .name = "The UTF-8 Byte Order Mark setting",
     .flag = &JobSettings::byteOrderMark,
     .comment = "-- UTF-8 Byte Order Mark of CSV and TSV Output ",
     .newer = true},
    {.key = SettingKey::Timeout,
     .keyString = "Timeout=\"",
     .kind = FieldKind::Seconds,
     .name = "The timeout",
     .seconds = &JobSettings::timeoutSeconds,
     .comment =
         "-- The Timeout in seconds for connecting, executing and each row (0 or absent: none) ",
     .newer = true},
    {.key = SettingKey::Strict,
     .keyString = "Strict=\"",
     .kind = FieldKind::Flag,
     .name = "The Strict setting",
     .flag = &JobSettings::strict,
     .comment = "-- Strict: Fail Rather Than Change a Value to Fit the Output ",
     .newer = true},
    {.key = SettingKey::Manifest,
     .keyString = "Manifest=\"",
     .kind = FieldKind::Flag,
     .name = "The Manifest setting",
     .flag = &JobSettings::manifest,
     .comment = "-- A Manifest of the Output beside it, as PATH.manifest.json ",
     .newer = true},
    {.key = SettingKey::Sheet,
     .keyString = "Sheet=\"",
     .kind = FieldKind::SheetName,
     .name = "The sheet name",
     .limit = kPathLimit,
     .comment = "-- A Further Sheet of the Report: its Name, then its SQL ",
     .newer = true},
    {.key = SettingKey::Param,
     .keyString = "Param=\"",
     .kind = FieldKind::Parameter,
     .name = "The parameter",
     .limit = kSqlLimit,
     .comment = "-- A Parameter of the Report's SQL, as NAME=VALUE ",
     .newer = true},
    {.key = SettingKey::Separator,
     .keyString = "Separator=\"",
     .kind = FieldKind::Text,
     .name = "The separator",
     .text = &JobSettings::separator,
     .limit = kCredentialLimit,
     .comment = "-- The Field Separator of Standard CSV: , ; or | ",
     .newer = true},
    {.key = SettingKey::DecimalComma,
     .keyString = "DecimalComma=\"",
     .kind = FieldKind::Flag,
     .name = "The Decimal Comma setting",
     .flag = &JobSettings::decimalComma,
     .comment = "-- Numbers of CSV and TSV Output with a Decimal Comma ",
     .newer = true},
    {.key = SettingKey::Encoding,
     .keyString = "Encoding=\"",
     .kind = FieldKind::Text,
     .name = "The encoding",
     .text = &JobSettings::encoding,
     .limit = kCredentialLimit,
     .comment = "-- The Character Encoding of CSV and TSV Output (absent: UTF-8) ",
     .newer = true},
    {.key = SettingKey::TimeZone,
     .keyString = "TimeZone=\"",
     .kind = FieldKind::Text,
     .name = "The time zone",
     .text = &JobSettings::timeZone,
     .limit = kCredentialLimit,
     .comment = "-- The Time Zone of the Session (absent: the data source's) ",
     .newer = true},
};

// The number of settings: SettingKey's values are 0 to kSettingCount - 1.
inline constexpr int kSettingCount = static_cast<int>(SettingKey::TimeZone) + 1;

// Whether every setting has exactly one row: a key added to SettingKey without its row (or
// given two) does not compile.
constexpr bool everySettingHasOneRow() {
  if (std::size(kJobFields) != kSettingCount) return false;
  for (int key = 0; key < kSettingCount; ++key) {
    int rows = 0;
    for (const JobField& field : kJobFields) rows += static_cast<int>(field.key) == key;
    if (rows != 1) return false;
  }
  return true;
}
static_assert(everySettingHasOneRow());

// The row of `key`.
constexpr const JobField& fieldOf(SettingKey key) {
  for (const JobField& field : kJobFields) {
    if (field.key == key) return field;
  }
  return kJobFields[0];  // not reached: every key has its row
}

}  // namespace rowpress
