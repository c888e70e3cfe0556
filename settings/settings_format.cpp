#include "settings/settings_format.h"

#include <cstdio>
#include <optional>

#include "settings/password_scramble.h"

namespace rowpress {

namespace {

constexpr std::string_view kLineEnd = "\r\n";

std::string rule(char c) { return "-- " + std::string(88, c); }

const char* flag(bool on) { return on ? "1" : "0"; }

// A setting that is written only when on: its comment line and its value line.
void appendWhenOn(std::string& out, bool on, std::string_view comment, SettingKey key) {
  if (!on) return;
  out += comment;
  out += kLineEnd;
  out += valueLine(key, "1");
}

// The settings that came after the first twelve, each only when set, so that a file without
// them stays as it always was and older readers pass their lines over.
void appendNewerSettings(std::string& out, const JobSettings& job) {
  appendWhenOn(out, job.outputXlsx, "-- The XLSX Output Preference ", SettingKey::Xlsx);
  appendWhenOn(out, job.quoteFields, "-- Quote Fields of CSV and TSV Output ",
               SettingKey::QuoteFields);
  appendWhenOn(out, job.byteOrderMark, "-- UTF-8 Byte Order Mark of CSV and TSV Output ",
               SettingKey::ByteOrderMark);
  if (job.timeoutSeconds > 0) {
    out += "-- The Timeout in seconds for connecting, executing and each row (0 or absent: none) ";
    out += kLineEnd;
    out += valueLine(SettingKey::Timeout, std::to_string(job.timeoutSeconds));
  }
}

}  // namespace

std::string_view keyStringOf(SettingKey key) {
  switch (key) {
    case SettingKey::Database:
      return "Database=\"";
    case SettingKey::UserName:
      return "UserName=\"";
    case SettingKey::DoLaunchApplication:
      return "DoLaunchApplication=\"";
    case SettingKey::ForceFullLength:
      return "ForceFullLength=\"";
    case SettingKey::Excel2007:
      return "2007=\"";
    case SettingKey::LaunchApplication:
      return "LaunchApplication=\"";
    case SettingKey::OutFileName:
      return "OutFileName=\"";
    case SettingKey::Password:
      return "Password=\"";
    case SettingKey::Sql:
      return "SQL=\"";
    case SettingKey::Tsv:
      return "TSV=\"";
    case SettingKey::Csv:
      return "CSV=\"";
    case SettingKey::Html:
      return "HTML=\"";
    case SettingKey::Xlsx:
      return "XLSX=\"";
    case SettingKey::QuoteFields:
      return "QuoteFields=\"";
    case SettingKey::ByteOrderMark:
      return "ByteOrderMark=\"";
    case SettingKey::Timeout:
      return "Timeout=\"";
  }
  return {};
}

const TextField* textFieldOf(SettingKey key) {
  switch (key) {
    case SettingKey::Database:
      return &kDataSourceField;
    case SettingKey::UserName:
      return &kUserNameField;
    case SettingKey::Sql:
      return &kSqlField;
    case SettingKey::LaunchApplication:
      return &kLaunchApplicationField;
    case SettingKey::OutFileName:
      return &kOutFileNameField;
    default:
      return nullptr;
  }
}

const FlagField& flagFieldOf(SettingKey key) {
  switch (key) {
    case SettingKey::DoLaunchApplication:
      return kNoAutoOpenField;
    case SettingKey::ForceFullLength:
      return kForceFullLengthField;
    case SettingKey::Excel2007:
      return kExcel2007Field;
    case SettingKey::Tsv:
      return kOutputTsvField;
    case SettingKey::Csv:
      return kOutputCsvField;
    case SettingKey::Xlsx:
      return kOutputXlsxField;
    case SettingKey::QuoteFields:
      return kQuoteFieldsField;
    case SettingKey::ByteOrderMark:
      return kByteOrderMarkField;
    default:
      return kOutputHtmlField;
  }
}

const char* fieldNameOf(SettingKey key) {
  if (key == SettingKey::Timeout) return kTimeoutFieldName;
  if (key == SettingKey::Password) return kPasswordField.name;
  const TextField* text = textFieldOf(key);
  return text ? text->name : flagFieldOf(key).name;
}

std::string formatGeneratedDate(const std::tm& local) {
  int hour12 = local.tm_hour % 12 == 0 ? 12 : local.tm_hour % 12;
  char text[64];
  std::snprintf(text, sizeof text, "%02d/%02d/%04d %02d:%02d:%02d %s", local.tm_mon + 1,
                local.tm_mday, local.tm_year + 1900, hour12, local.tm_min, local.tm_sec,
                local.tm_hour < 12 ? "AM" : "PM");
  return text;
}

std::string encodeSqlValue(std::string_view sql) {
  std::string out;
  out.reserve(sql.size() + sql.size() / 16);
  for (char c : sql) {
    if (c == '\r') {
      out += ' ';
    } else if (c == '\n') {
      out += ' ';
      out += kContinuationPair;
      out += kLineEnd;
      out += "    \"";
    } else {
      out += c;
    }
  }
  return out;
}

std::string valueLine(SettingKey key, std::string_view value) {
  std::string line(keyStringOf(key));
  line += value;
  line += kClosingPair;
  line += kLineEnd;
  return line;
}

std::string formatSettingsFile(const JobSettings& job, std::time_t when, bool withPassword) {
  const std::string dashes = rule('-');
  const std::string dots = rule('.');
  std::tm local{};
  localtime_r(&when, &local);

  std::optional<std::string> scrambled;
  if (withPassword) scrambled = scramblePassword(job.password.view());

  std::string out;
  auto line = [&out](std::string_view text) {
    out += text;
    out += kLineEnd;
  };
  line(dashes);
  line("-- ROWPRESS Settings File");
  line("-- ");
  line("-- Generated : " + formatGeneratedDate(local));
  line(dashes);
  line("-- The Database Name ");
  out += valueLine(SettingKey::Database, job.dataSource);
  line(dots);
  line("-- The User Name ");
  out += valueLine(SettingKey::UserName, job.userName);
  line(dots);
  line("-- The Password ");
  out += valueLine(SettingKey::Password, scrambled.value_or(std::string()));
  line(dots);
  line("-- The SQL ");
  out += valueLine(SettingKey::Sql, encodeSqlValue(job.sql));
  line(dots);
  line("-- Excell 2007 Compatible Mode ");
  out += valueLine(SettingKey::Excel2007, flag(job.excel2007));
  line(dots);
  line(dots);
  line("-- Force Full Column Length ");
  out += valueLine(SettingKey::ForceFullLength, flag(job.forceFullLength));
  line(dots);
  line(dots);
  line("-- The CSV Output Preference ");
  out += valueLine(SettingKey::Csv, flag(job.outputCsv));
  line(dots);
  line(dots);
  line("-- The TSV Output Preference ");
  out += valueLine(SettingKey::Tsv, flag(job.outputTsv));
  line(dots);
  line("-- The HTML Output Preference ");
  out += valueLine(SettingKey::Html, flag(job.outputHtml));
  line(dots);
  line(
      "-- The Launch Application Preference (setting to \"\" forces excel as launch "
      "application) ");
  out += valueLine(SettingKey::LaunchApplication, job.launchApplication);
  out += valueLine(SettingKey::DoLaunchApplication, flag(!job.noAutoOpen));
  line(dashes);
  line("-- The OutPut File Name Preference (set to \"\" to force unique temp names) ");
  out += valueLine(SettingKey::OutFileName, job.outFileName);
  line(dashes);
  appendNewerSettings(out, job);
  line("-- END");
  line(dashes);
  return out;
}

}  // namespace rowpress
