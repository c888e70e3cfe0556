// The layout of a settings (DIRU) file as rowpress writes it: commented value lines, one per
// setting of the job, every line ended by CR LF. The reader (settings_reader.h) is much
// looser than this layout; both share the key strings defined here.
#pragma once

#include <ctime>
#include <string>
#include <string_view>

#include "job/job_fields.h"
#include "job/job_settings.h"

namespace rowpress {

// The key string: the key, its equals sign and the opening double quote, as `CSV="`.
constexpr std::string_view keyStringOf(SettingKey key) { return fieldOf(key).keyString; }
// How messages name the field that a setting fills, as "The output file name".
constexpr const char* fieldNameOf(SettingKey key) { return fieldOf(key).name; }

// A value ends at the closing pair; a line of the SQL text that goes on ends with the
// continuation pair.
inline constexpr std::string_view kClosingPair = "\";";
inline constexpr std::string_view kContinuationPair = "\"+";

// The date and time of the "-- Generated : " line, as 06/12/2010 02:05:09 PM. Built by hand
// rather than with strftime so that the process locale cannot change the AM/PM text.
std::string formatGeneratedDate(const std::tm& local);

// The SQL value as written: CR becomes a space and LF becomes a space, the continuation pair,
// the line break and four spaces and a double quote opening the next file line.
std::string encodeSqlValue(std::string_view sql);

// The whole file for `job`, dated with the local time of `when`. The settings added since the
// first twelve are written only when on, each as a comment line and its value line before
// the end, so that a file without them stays as it always was. The password is written
// scrambled; `withPassword` false, or a password too long to scramble, writes an empty
// password value instead.
std::string formatSettingsFile(const JobSettings& job, std::time_t when, bool withPassword = true);

// One value line with its line break, as `CSV="0";` CR LF.
std::string valueLine(SettingKey key, std::string_view value);

}  // namespace rowpress
