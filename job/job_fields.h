// The fields of the job record as one table: how messages name each field, its limit, and what
// refusing a value of it means for a run. The record's limit checks, the settings reader and
// the read-back after a save all take them from here.
#pragma once

#include <cstddef>
#include <string>

#include "job/exit_status.h"
#include "job/job_settings.h"

namespace rowpress {

struct TextField {
  std::string JobSettings::*member;
  std::size_t limit;
  const char* name;      // as messages name it: "The output file name"
  RunOutcome refusedAs;  // the outcome of a run whose value is refused
};

inline constexpr TextField kDataSourceField{&JobSettings::dataSource, kCredentialLimit,
                                            "The data source name", RunOutcome::NoConnection};
inline constexpr TextField kUserNameField{&JobSettings::userName, kCredentialLimit, "The user name",
                                          RunOutcome::NoConnection};
inline constexpr TextField kSqlField{&JobSettings::sql, kSqlLimit, "The SQL text",
                                     RunOutcome::StatementFailed};
inline constexpr TextField kOutFileNameField{&JobSettings::outFileName, kPathLimit,
                                             "The output file name", RunOutcome::OutputFile};
inline constexpr TextField kLaunchApplicationField{&JobSettings::launchApplication, kPathLimit,
                                                   "The application to launch",
                                                   RunOutcome::OutputFile};

// The password, held as a Secret: its limit and name as those of the text fields.
struct SecretField {
  Secret JobSettings::*member;
  std::size_t limit;
  const char* name;
  RunOutcome refusedAs;
};

inline constexpr SecretField kPasswordField{&JobSettings::password, kCredentialLimit,
                                            "The password", RunOutcome::NoConnection};

// In the order in which a run checks them: the password comes after the user name.
inline constexpr const TextField* kCredentialTextFields[] = {&kDataSourceField, &kUserNameField};
inline constexpr const TextField* kOtherTextFields[] = {&kSqlField, &kOutFileNameField,
                                                        &kLaunchApplicationField};

struct FlagField {
  bool JobSettings::*member;
  const char* name;
};

// noAutoOpen is "Launch On Finish" unchecked, as the window and the settings file show it.
inline constexpr FlagField kExcel2007Field{&JobSettings::excel2007, "The 2007 setting"};
inline constexpr FlagField kForceFullLengthField{&JobSettings::forceFullLength,
                                                 "The Force Full Length setting"};
inline constexpr FlagField kOutputCsvField{&JobSettings::outputCsv, "The CSV output setting"};
inline constexpr FlagField kOutputTsvField{&JobSettings::outputTsv, "The TSV output setting"};
inline constexpr FlagField kOutputHtmlField{&JobSettings::outputHtml, "The HTML output setting"};
inline constexpr FlagField kNoAutoOpenField{&JobSettings::noAutoOpen,
                                            "The Launch On Finish setting"};
inline constexpr FlagField kOutputXlsxField{&JobSettings::outputXlsx, "The XLSX output setting"};
inline constexpr FlagField kQuoteFieldsField{&JobSettings::quoteFields, "The Quote Fields setting"};
inline constexpr FlagField kByteOrderMarkField{&JobSettings::byteOrderMark,
                                               "The UTF-8 Byte Order Mark setting"};

// The timeout is a number of seconds (see parseTimeoutSeconds); messages name it so.
inline constexpr const char* kTimeoutFieldName = "The timeout";

inline constexpr const FlagField* kFlagFields[] = {
    &kExcel2007Field,  &kForceFullLengthField, &kOutputCsvField,
    &kOutputTsvField,  &kOutputHtmlField,      &kNoAutoOpenField,
    &kOutputXlsxField, &kQuoteFieldsField,     &kByteOrderMarkField,
};

}  // namespace rowpress
