// Reading a settings (DIRU) file. The reader does not follow the writer's layout: it looks
// for a key string anywhere in each line, takes the value up to the line's first closing
// pair, and lets the SQL text run over several lines joined by continuation pairs. Reading
// is split in two steps: finding the settings in the text, then applying them to the job,
// which says what it applied so that a window can show it.
#pragma once

#include <cstddef>
#include <istream>
#include <string>
#include <string_view>
#include <vector>

#include "job/job_settings.h"
#include "settings/settings_format.h"

namespace rowpress {

// The longest line the reader accepts, in bytes, without its line end. A longer line ends
// the reading as the end of the file does.
inline constexpr std::size_t kSettingsLineLimit = 65536;

// One setting found in the file: its key and its value as it stands in the file (for
// Password the scrambled bytes, for SQL the text with CR LF line breaks).
struct SettingLine {
  SettingKey key;
  std::string value;
};

// What the text of a settings file holds.
struct SettingsText {
  // The settings, in file order.
  std::vector<SettingLine> lines;
  // One line for each part of the text that was not read as written: an SQL text that ends
  // without its closing pair, a line over kSettingsLineLimit (which ends the reading). Each
  // names the line and the setting it holds.
  std::vector<std::string> problems;
  // Whether any line held a key string: a text without one (an empty file, another kind of
  // file, a settings file in another encoding) holds no job at all.
  bool holdsKey = false;
};

// The settings of the text read from `in`. Lines end at LF, a CR right before the LF
// dropped; a text without any LF that holds a CR was written with CR line ends and is read
// with CR as the line end. Lines
// without a key string and values that cannot be used are passed over; the first key found
// on a line, in SettingKey's order, decides the line. The continuation lines of the SQL text are
// taken by the SQL setting and searched for nothing else. A continuation line holding no
// text adds an empty line to the SQL text. An SQL text without its closing pair is not
// taken. A line over kSettingsLineLimit ends the reading (an SQL text that it belongs to is
// dropped).
SettingsText readSettingLines(std::istream& in);

// What loading does to the job before the first setting: the output type goes back to the
// workbook (the CSV, TSV, HTML and XLSX flags cleared), the settings that a file holds only
// when they are set (Quote Fields, UTF-8 Byte Order Mark, the separator, the decimal comma,
// the encoding, the time zone) are cleared, and the timeout goes to
// none, so that a file without a Timeout line runs without one. Every other field keeps its
// value until a setting changes it.
void resetBeforeLoad(JobSettings& job);

// A setting as it was applied, for the window to show: its key, the text of its box (a text
// setting's value, the password as read, or empty when it was refused), or whether a flag is
// on.
struct AppliedSetting {
  SettingKey key;
  std::string text;
  bool on = false;
};

struct AppliedSettings {
  // One line for each setting that was refused.
  std::vector<std::string> problems;
  // The settings that changed the job, in file order.
  std::vector<AppliedSetting> shown;
};

// Applies the settings in order to the job. Values over the limits of the job record or
// holding a NUL byte are refused whole, never cut: the setting is not applied and a line
// naming it is returned. A password value that is not a scrambled password empties the
// password (a password meant for another data source is never kept) and is named as well.
AppliedSettings applySettingLines(const std::vector<SettingLine>& lines, JobSettings& job);

// Ends each line that refuses the sheets of a report job: the job keeps none of them.
inline constexpr const char* kReportRefused = " The report's sheets were not read.";

// Whether a flag's value sets it: anything but a value starting with "0".
bool settingIsOn(std::string_view value);

// The problem line for a password value that is not a scrambled password.
inline constexpr const char* kBadPasswordMessage =
    "The password in the settings file is not a scrambled password; it was left empty.";

}  // namespace rowpress
