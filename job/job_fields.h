// The fields of the job record as one table: each setting one row, with its key in the
// settings file, the member of the record it fills, its kind, how messages name it, its limit,
// what refusing a value of it means for a run. The settings reader and writer, the read-back
// after a save, the limit checks of a run and the controls' showJob and takeJob all take them
// from here: a new setting is a new row (and, where a control shows it, a row of the window's
// table in app/job_controls.cpp).
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "job/exit_status.h"
#include "job/job_settings.h"

namespace rowpress {

// The settings a file can hold.
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
  // A setting added after the first twelve is written only when set, after this comment
  // line, so that a file without it stays as it always was; nullptr for the first twelve.
  const char* newerComment = nullptr;
};

// In the order in which the settings file holds them.
inline constexpr JobField kJobFields[] = {
    {.key = SettingKey::Database,
     .keyString = "Database=\"",
     .kind = FieldKind::Text,
     .name = "The data source name",
     .text = &JobSettings::dataSource,
     .limit = kCredentialLimit,
     .refusedAs = RunOutcome::NoConnection},
    {.key = SettingKey::UserName,
     .keyString = "UserName=\"",
     .kind = FieldKind::Text,
     .name = "The user name",
     .text = &JobSettings::userName,
     .limit = kCredentialLimit,
     .refusedAs = RunOutcome::NoConnection},
    {.key = SettingKey::Password,
     .keyString = "Password=\"",
     .kind = FieldKind::Password,
     .name = "The password",
     .secret = &JobSettings::password,
     .limit = kCredentialLimit,
     .refusedAs = RunOutcome::NoConnection},
    {.key = SettingKey::Sql,
     .keyString = "SQL=\"",
     .kind = FieldKind::Text,
     .name = "The SQL text",
     .text = &JobSettings::sql,
     .limit = kSqlLimit,
     .refusedAs = RunOutcome::StatementFailed},
    {.key = SettingKey::Excel2007,
     .keyString = "2007=\"",
     .kind = FieldKind::Flag,
     .name = "The 2007 setting",
     .flag = &JobSettings::excel2007},
    {.key = SettingKey::ForceFullLength,
     .keyString = "ForceFullLength=\"",
     .kind = FieldKind::Flag,
     .name = "The Force Full Length setting",
     .flag = &JobSettings::forceFullLength},
    {.key = SettingKey::Csv,
     .keyString = "CSV=\"",
     .kind = FieldKind::OutputFlag,
     .name = "The CSV output setting",
     .flag = &JobSettings::outputCsv,
     .output = OutputType::Csv},
    {.key = SettingKey::Tsv,
     .keyString = "TSV=\"",
     .kind = FieldKind::OutputFlag,
     .name = "The TSV output setting",
     .flag = &JobSettings::outputTsv,
     .output = OutputType::Tsv},
    {.key = SettingKey::Html,
     .keyString = "HTML=\"",
     .kind = FieldKind::OutputFlag,
     .name = "The HTML output setting",
     .flag = &JobSettings::outputHtml,
     .output = OutputType::Html},
    {.key = SettingKey::LaunchApplication,
     .keyString = "LaunchApplication=\"",
     .kind = FieldKind::Text,
     .name = "The application to launch",
     .text = &JobSettings::launchApplication,
     .limit = kPathLimit,
     .refusedAs = RunOutcome::OutputFile},
    {.key = SettingKey::DoLaunchApplication,
     .keyString = "DoLaunchApplication=\"",
     .kind = FieldKind::LaunchFlag,
     .name = "The Launch On Finish setting",
     .flag = &JobSettings::noAutoOpen},
    {.key = SettingKey::OutFileName,
     .keyString = "OutFileName=\"",
     .kind = FieldKind::Text,
     .name = "The output file name",
     .text = &JobSettings::outFileName,
     .limit = kPathLimit,
     .refusedAs = RunOutcome::OutputFile},
    {.key = SettingKey::Xlsx,
     .keyString = "XLSX=\"",
     .kind = FieldKind::OutputFlag,
     .name = "The XLSX output setting",
     .flag = &JobSettings::outputXlsx,
     .output = OutputType::Xlsx,
     .newerComment = "-- The XLSX Output Preference "},
    {.key = SettingKey::QuoteFields,
     .keyString = "QuoteFields=\"",
     .kind = FieldKind::Flag,
     .name = "The Quote Fields setting",
     .flag = &JobSettings::quoteFields,
     .newerComment = "-- Quote Fields of CSV and TSV Output "},
    {.key = SettingKey::ByteOrderMark,
     .keyString = "ByteOrderMark=\"",
     .kind = FieldKind::Flag,
     .name = "The UTF-8 Byte Order Mark setting",
     .flag = &JobSettings::byteOrderMark,
     .newerComment = "-- UTF-8 Byte Order Mark of CSV and TSV Output "},
    {.key = SettingKey::Timeout,
     .keyString = "Timeout=\"",
     .kind = FieldKind::Seconds,
     .name = "The timeout",
     .seconds = &JobSettings::timeoutSeconds,
     .newerComment =
         "-- The Timeout in seconds for connecting, executing and each row (0 or absent: none) "},
    {.key = SettingKey::Strict,
     .keyString = "Strict=\"",
     .kind = FieldKind::Flag,
     .name = "The Strict setting",
     .flag = &JobSettings::strict,
     .newerComment = "-- Strict: Fail Rather Than Change a Value to Fit the Output "},
    {.key = SettingKey::Manifest,
     .keyString = "Manifest=\"",
     .kind = FieldKind::Flag,
     .name = "The Manifest setting",
     .flag = &JobSettings::manifest,
     .newerComment = "-- A Manifest of the Output beside it, as PATH.manifest.json "},
    {.key = SettingKey::Sheet,
     .keyString = "Sheet=\"",
     .kind = FieldKind::SheetName,
     .name = "The sheet name",
     .limit = kPathLimit,
     .newerComment = "-- A Further Sheet of the Report: its Name, then its SQL "},
    {.key = SettingKey::Param,
     .keyString = "Param=\"",
     .kind = FieldKind::Parameter,
     .name = "The parameter",
     .limit = kSqlLimit,
     .newerComment = "-- A Parameter of the Report's SQL, as NAME=VALUE "},
    {.key = SettingKey::Separator,
     .keyString = "Separator=\"",
     .kind = FieldKind::Text,
     .name = "The separator",
     .text = &JobSettings::separator,
     .limit = kCredentialLimit,
     .newerComment = "-- The Field Separator of Standard CSV: , ; or | "},
    {.key = SettingKey::DecimalComma,
     .keyString = "DecimalComma=\"",
     .kind = FieldKind::Flag,
     .name = "The Decimal Comma setting",
     .flag = &JobSettings::decimalComma,
     .newerComment = "-- Numbers of CSV and TSV Output with a Decimal Comma "},
    {.key = SettingKey::Encoding,
     .keyString = "Encoding=\"",
     .kind = FieldKind::Text,
     .name = "The encoding",
     .text = &JobSettings::encoding,
     .limit = kCredentialLimit,
     .newerComment = "-- The Character Encoding of CSV and TSV Output (absent: UTF-8) "},
    {.key = SettingKey::TimeZone,
     .keyString = "TimeZone=\"",
     .kind = FieldKind::Text,
     .name = "The time zone",
     .text = &JobSettings::timeZone,
     .limit = kCredentialLimit,
     .newerComment = "-- The Time Zone of the Session (absent: the data source's) "},
};

// The row of `key`.
constexpr const JobField& fieldOf(SettingKey key) {
  for (const JobField& field : kJobFields) {
    if (field.key == key) return field;
  }
  return kJobFields[0];  // every key has its row (a test checks it)
}

}  // namespace rowpress
