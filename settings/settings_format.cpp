#include "settings/settings_format.h"

#include <cstdio>
#include <optional>

#include "settings/password_scramble.h"

namespace rowpress {

namespace {

constexpr std::string_view kLineEnd = "\r\n";

std::string rule(char c) { return "-- " + std::string(88, c); }

const char* flag(bool on) { return on ? "1" : "0"; }

// The settings that came after the first twelve, each only when set, so that a file without
// them stays as it always was and older readers pass their lines over.
void appendNewerSettings(std::string& out, const JobSettings& job) {
  for (const JobField& field : kJobFields) {
    if (field.newerComment == nullptr) continue;
    if (field.kind == FieldKind::SheetName) {
      // The first sheet's name stands with the SQL text in its usual place.
      for (std::size_t i = 1; i < job.sheets.size(); ++i) {
        out += field.newerComment;
        out += kLineEnd;
        out += valueLine(SettingKey::Sheet, job.sheets[i].name);
        out += valueLine(SettingKey::Sql, encodeSqlValue(job.sheets[i].sql));
      }
      continue;
    }
    if (field.kind == FieldKind::Parameter) {
      for (const JobParameter& parameter : job.parameters) {
        out += field.newerComment;
        out += kLineEnd;
        out += valueLine(SettingKey::Param, parameter.name + "=" + parameter.value);
      }
      continue;
    }
    std::string value;
    if (field.flag && job.*field.flag) value = "1";
    if (field.seconds && job.*field.seconds > 0) value = std::to_string(job.*field.seconds);
    if (field.text) value = job.*field.text;
    if (value.empty()) continue;
    out += field.newerComment;
    out += kLineEnd;
    out += valueLine(field.key, value);
  }
}

}  // namespace

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
  if (!job.sheets.empty()) out += valueLine(SettingKey::Sheet, job.sheets.front().name);
  out += valueLine(SettingKey::Sql,
                   encodeSqlValue(job.sheets.empty() ? job.sql : job.sheets.front().sql));
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
