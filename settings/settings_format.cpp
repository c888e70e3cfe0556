#include "settings/settings_format.h"

#include <cstdio>
#include <optional>

#include "settings/password_scramble.h"

namespace rowpress {

namespace {

constexpr std::string_view kLineEnd = "\r\n";

std::string rule(char c) { return "-- " + std::string(88, c); }

const char* flag(bool on) { return on ? "1" : "0"; }

// One of the settings that came after the first twelve, only when set, so that a file
// without it stays as it always was and older readers pass its lines over.
void appendNewerSetting(std::string& out, const JobField& field, const JobSettings& job) {
  auto comment = [&out, &field] {
    out += field.comment;
    out += kLineEnd;
  };
  if (field.kind == FieldKind::SheetName) {
    // The first sheet's name stands with the SQL text in its usual place.
    for (std::size_t i = 1; i < job.sheets.size(); ++i) {
      comment();
      out += valueLine(SettingKey::Sheet, job.sheets[i].name);
      out += valueLine(SettingKey::Sql, encodeSqlValue(job.sheets[i].sql));
    }
    return;
  }
  if (field.kind == FieldKind::Parameter) {
    for (const JobParameter& parameter : job.parameters) {
      comment();
      out += valueLine(SettingKey::Param, parameter.name + "=" + parameter.value);
    }
    return;
  }
  std::string value;
  if (field.flag && job.*field.flag) value = "1";
  if (field.seconds && job.*field.seconds > 0) value = std::to_string(job.*field.seconds);
  if (field.text) value = job.*field.text;
  if (value.empty()) return;
  comment();
  out += valueLine(field.key, value);
}

// The value of one of the first twelve settings, which the file always holds; the first
// sheet of a report gives the SQL text.
std::string firstTwelveValue(const JobField& field, const JobSettings& job,
                             const std::optional<std::string>& scrambled) {
  switch (field.kind) {
    case FieldKind::Password:
      return scrambled.value_or(std::string());
    case FieldKind::LaunchFlag:
      return flag(!(job.*field.flag));
    case FieldKind::Flag:
    case FieldKind::OutputFlag:
      return flag(job.*field.flag);
    default:
      break;
  }
  if (field.key != SettingKey::Sql) return job.*field.text;
  return encodeSqlValue(job.sheets.empty() ? job.sql : job.sheets.front().sql);
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
  for (const JobField& field : kJobFields) {
    if (field.newer) {
      appendNewerSetting(out, field, job);
      continue;
    }
    if (field.comment != nullptr) line(field.comment);
    if (field.key == SettingKey::Sql && !job.sheets.empty()) {
      out += valueLine(SettingKey::Sheet, job.sheets.front().name);
    }
    out += valueLine(field.key, firstTwelveValue(field, job, scrambled));
    for (char after : field.rulesAfter) line(after == '.' ? dots : dashes);
  }
  line("-- END");
  line(dashes);
  return out;
}

}  // namespace rowpress
