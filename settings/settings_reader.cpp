#include "settings/settings_reader.h"

#include <algorithm>
#include <optional>
#include <sstream>
#include <string_view>

#include "job/sheet_names.h"
#include "settings/password_scramble.h"

namespace rowpress {

namespace {

// Hands out the lines of the file one by one. After the end of the file or an over-long line
// it hands out nothing more; an over-long line is remembered with its number and the start
// of its text.
class LineReader {
 public:
  explicit LineReader(std::istream& in) : buf_(in.rdbuf()) {}

  std::optional<std::string> next() {
    if (done_ || buf_ == nullptr) return std::nullopt;
    using Traits = std::char_traits<char>;
    std::string line;
    bool ended = false;
    ++number_;
    for (;;) {
      Traits::int_type c = buf_->sbumpc();
      if (Traits::eq_int_type(c, Traits::eof())) break;
      if (c == '\n') {
        ended = true;
        sawLineFeed_ = true;
        break;
      }
      line.push_back(Traits::to_char_type(c));
      // One byte more than the limit may still be the CR of a CR LF line end; beyond that
      // the line is over-long whatever follows, and is not read any further.
      if (line.size() > kSettingsLineLimit + 1) return overLong(std::move(line));
    }
    if (!ended && line.empty()) return finish();
    if (ended && !line.empty() && line.back() == '\r') line.pop_back();
    if (line.size() > kSettingsLineLimit) return overLong(std::move(line));
    return line;
  }

  // Whether any line so far ended with a LF.
  bool sawLineFeed() const { return sawLineFeed_; }
  // The number of the line handed out last.
  std::size_t lineNumber() const { return number_; }
  // The number of the over-long line that ended the reading, 0 when none did.
  std::size_t overLongLine() const { return overLongLine_; }
  const std::string& overLongStart() const { return overLongStart_; }

 private:
  std::optional<std::string> finish() {
    done_ = true;
    return std::nullopt;
  }
  std::optional<std::string> overLong(std::string start) {
    overLongLine_ = number_;
    overLongStart_ = std::move(start);
    return finish();
  }

  std::streambuf* buf_;
  bool sawLineFeed_ = false;
  bool done_ = false;
  std::size_t number_ = 0;
  std::size_t overLongLine_ = 0;
  std::string overLongStart_;
};

struct KeyFound {
  SettingKey key;
  std::size_t valueStart;
};

std::optional<KeyFound> findKey(const std::string& line) {
  // In SettingKey's order, which is the order in which a line is tested for the keys.
  for (int index = 0; index < kSettingCount; ++index) {
    const auto key = static_cast<SettingKey>(index);
    std::string_view keyString = keyStringOf(key);
    std::size_t at = line.find(keyString);
    if (at != std::string::npos) return KeyFound{key, at + keyString.size()};
  }
  return std::nullopt;
}

// An empty sheet name or parameter is kept, to be refused by name: passing it over would run
// another report than the one the file describes.
bool acceptsEmptyValue(SettingKey key) {
  return key == SettingKey::LaunchApplication || key == SettingKey::OutFileName ||
         key == SettingKey::Sheet || key == SettingKey::Param;
}

// The value of a one-line setting: from the end of the key string to the first closing
// pair of the line, which must not lie before the value.
std::optional<std::string> readValue(const std::string& line, const KeyFound& found) {
  // The key's own opening quote before a value that begins with ";" (Separator=";";) is no
  // closing pair: the value's pair is looked for after it.
  std::size_t close = line.find(kClosingPair);
  if (close != std::string::npos && close + 1 == found.valueStart) {
    close = line.find(kClosingPair, found.valueStart);
  }
  if (close == std::string::npos || close < found.valueStart) return std::nullopt;
  std::string value = line.substr(found.valueStart, close - found.valueStart);
  if (value.empty() && !acceptsEmptyValue(found.key)) return std::nullopt;
  return value;
}

// The SQL text: on one line like any other value, or as pieces, each from the first double
// quote of a line to its first continuation pair, the last piece ending at a closing pair.
// A text that is cut wherever it is cut (its first line holds neither pair after the key,
// the file ended after a continuation line, or a continuation line holds neither pair) is
// not the text that was written: `unclosed` is set and nothing is returned. Only the empty
// text (the closing pair right after the key) is passed over.
std::optional<std::string> readSql(const std::string& first, const KeyFound& found,
                                   LineReader& reader, bool& unclosed) {
  if (auto value = readValue(first, found)) return value;
  std::size_t close = first.find(kClosingPair);
  if (close != std::string::npos && close >= found.valueStart) return std::nullopt;  // empty
  std::size_t pair = first.find(kContinuationPair);
  if (pair == std::string::npos || pair < found.valueStart) {
    unclosed = true;
    return std::nullopt;
  }

  std::string sql;
  std::string current = first;
  for (;;) {
    std::size_t quote = current.find('"');
    pair = current.find(kContinuationPair);
    if (quote == std::string::npos || pair == std::string::npos) break;
    // The pair can start at the quote itself; then the piece is empty.
    if (pair > quote) sql.append(current, quote + 1, pair - quote - 1);
    sql += "\r\n";
    current = reader.next().value_or(std::string());
  }
  // The closing pair begins with a double quote, so a line that holds one holds a quote.
  std::size_t quote = current.find('"');
  close = current.find(kClosingPair);
  if (close == std::string::npos) {
    unclosed = true;
    return std::nullopt;
  }
  if (close > quote) sql.append(current, quote + 1, close - quote - 1);
  return sql;
}

// The output flags exclude each other: setting one clears the others; clearing one touches
// nothing else.
void applyOutput(const JobField& output, bool on, JobSettings& job) {
  for (const JobField& field : kJobFields) {
    if (field.kind != FieldKind::OutputFlag) continue;
    if (&field == &output) {
      job.*field.flag = on;
    } else if (on) {
      job.*field.flag = false;
    }
  }
}

// Applies one setting to the job; what the window is to show of it goes to `shown`.
std::optional<std::string> applySetting(const SettingLine& line, JobSettings& job,
                                        std::vector<AppliedSetting>& shown) {
  const JobField& field = fieldOf(line.key);
  // The scrambled bytes of a password may be NUL (the password they stand for may not, which
  // is checked below); any other value is refused whole for a NUL byte or its length.
  if (field.kind != FieldKind::Password) {
    const std::size_t limit = field.kind == FieldKind::Text ? field.limit : line.value.size();
    if (auto refusal = refusalOf(line.value, limit, field.name)) return refusal;
  }
  const bool on = settingIsOn(line.value);
  switch (field.kind) {
    case FieldKind::Text:
      job.*field.text = line.value;
      shown.push_back({line.key, line.value, false});
      return std::nullopt;
    case FieldKind::Password: {
      std::optional<std::string> password = unscramblePassword(line.value);
      std::optional<std::string> refusal = password ? refusalOf(*password, field.limit, field.name)
                                                    : std::string(kBadPasswordMessage);
      job.*field.secret = refusal ? std::string() : *password;
      // A refused password empties the box as well.
      shown.push_back({line.key, std::string((job.*field.secret).view()), false});
      return refusal;
    }
    case FieldKind::Seconds: {
      std::optional<int> seconds = parseTimeoutSeconds(line.value);
      if (!seconds) return timeoutRefusal(line.value);
      job.*field.seconds = *seconds;
      return std::nullopt;
    }
    case FieldKind::SheetName:
      // Paired with the SQL text that follows it once the whole file is read.
      return std::nullopt;
    case FieldKind::Parameter:
      return applyParameter(job, line.value);
    case FieldKind::Flag:
      job.*field.flag = on;
      break;
    case FieldKind::LaunchFlag:
      job.*field.flag = !on;
      break;
    case FieldKind::OutputFlag:
      applyOutput(field, on, job);
      break;
  }
  shown.push_back({line.key, std::string(), on});
  return std::nullopt;
}

// The line naming the over-long line that ended the reading, and the setting it holds.
std::string overLongLineProblem(const LineReader& reader, std::optional<SettingKey> key) {
  const std::string number = std::to_string(reader.overLongLine());
  return (key ? std::string(fieldNameOf(*key)) + " on line " + number : "Line " + number) +
         " is longer than " + std::to_string(kSettingsLineLimit) +
         " bytes; nothing from that line on was read.";
}

// The settings of the lines that `reader` hands out, the first of them already taken.
SettingsText readLines(LineReader& reader, std::optional<std::string> line) {
  SettingsText text;
  for (; line; line = reader.next()) {
    std::optional<KeyFound> key = findKey(*line);
    if (!key) continue;
    text.holdsKey = true;
    const std::size_t number = reader.lineNumber();
    bool unclosed = false;
    std::optional<std::string> value = key->key == SettingKey::Sql
                                           ? readSql(*line, *key, reader, unclosed)
                                           : readValue(*line, *key);
    // An SQL text whose continuation line was over-long is not the text that was written.
    if (reader.overLongLine() != 0 && key->key == SettingKey::Sql) {
      text.problems.push_back(overLongLineProblem(reader, SettingKey::Sql));
      return text;
    }
    if (unclosed) {
      text.problems.push_back(std::string(fieldNameOf(SettingKey::Sql)) + " that begins on line " +
                              std::to_string(number) +
                              " ends without its closing pair (\";); it was not read.");
    }
    if (value) text.lines.push_back({key->key, std::move(*value)});
  }
  if (reader.overLongLine() != 0) {
    const std::optional<KeyFound> key = findKey(reader.overLongStart());
    text.problems.push_back(
        overLongLineProblem(reader, key ? std::optional(key->key) : std::nullopt));
  }
  return text;
}

// The sheets of a report job from one file's lines: each Sheet key names the SQL key after it.
// A file with SQL keys replaces the job's sheets (one without Sheet keys leaves a job of one
// statement); a file without SQL keys keeps them. In a file with Sheet keys, an SQL key without
// its own Sheet key before it, a Sheet key without an SQL key after it, and a name that a
// workbook cannot hold or that an earlier sheet has are refused: the job is not what was meant,
// so it keeps no sheets and names the problem.
void applySheets(const std::vector<SettingLine>& lines, JobSettings& job,
                 std::vector<std::string>& problems) {
  const auto isKey = [](SettingKey key) {
    return [key](const SettingLine& line) { return line.key == key; };
  };
  const bool anySql = std::any_of(lines.begin(), lines.end(), isKey(SettingKey::Sql));
  const bool anySheet = std::any_of(lines.begin(), lines.end(), isKey(SettingKey::Sheet));
  if (!anySql && !anySheet) return;
  job.sheets.clear();
  if (!anySheet) return;

  std::vector<JobSheet> sheets;
  std::vector<std::string> refused;
  std::optional<std::string> pending;  // a Sheet key's name waiting for its SQL key
  std::size_t sqlNumber = 0;
  for (const SettingLine& line : lines) {
    if (line.key == SettingKey::Sheet) {
      if (pending) refused.push_back("The sheet \"" + *pending + "\" has no SQL key after it.");
      pending = line.value;
    } else if (line.key == SettingKey::Sql) {
      ++sqlNumber;
      if (!pending) {
        refused.push_back("SQL key " + std::to_string(sqlNumber) +
                          " has no Sheet key before it, as every SQL key of a report needs.");
        continue;
      }
      if (const std::string problem = sheetNameProblem(*pending); !problem.empty()) {
        refused.push_back("The sheet name \"" + *pending + "\" cannot be used: " + problem + ".");
      } else if (std::any_of(sheets.begin(), sheets.end(), [&](const JobSheet& sheet) {
                   return sameSheetName(sheet.name, *pending);
                 })) {
        refused.push_back("The sheet name \"" + *pending + "\" is used twice (case aside).");
      } else {
        sheets.push_back({std::move(*pending), line.value});
      }
      pending.reset();
    }
  }
  if (pending) refused.push_back("The sheet \"" + *pending + "\" has no SQL key after it.");
  if (!refused.empty()) {
    for (std::string& problem : refused) problems.push_back(std::move(problem) + kReportRefused);
    return;
  }
  job.sql = sheets.front().sql;
  job.sheets = std::move(sheets);
}

}  // namespace

SettingsText readSettingLines(std::istream& in) {
  LineReader reader(in);
  std::optional<std::string> first = reader.next();
  // A file without a single LF whose text holds a CR was written with CR line ends: it is
  // read line by line, never as one line that only its first key would decide.
  if (first && !reader.sawLineFeed() && first->find('\r') != std::string::npos) {
    std::string text = std::move(*first);
    std::replace(text.begin(), text.end(), '\r', '\n');
    std::istringstream lines(text);
    LineReader crReader(lines);
    return readLines(crReader, crReader.next());
  }
  return readLines(reader, std::move(first));
}

bool settingIsOn(std::string_view value) { return value.empty() || value[0] != '0'; }

void resetBeforeLoad(JobSettings& job) {
  job.outputTsv = false;
  job.outputCsv = false;
  job.outputHtml = false;
  job.outputXlsx = false;
  job.quoteFields = false;
  job.byteOrderMark = false;
  job.separator.clear();
  job.decimalComma = false;
  job.encoding.clear();
  job.timeZone.clear();
  job.timeoutSeconds = 0;
}

AppliedSettings applySettingLines(const std::vector<SettingLine>& lines, JobSettings& job) {
  AppliedSettings result;
  for (const SettingLine& line : lines) {
    if (std::optional<std::string> problem = applySetting(line, job, result.shown)) {
      result.problems.push_back(std::move(*problem));
    }
  }
  applySheets(lines, job, result.problems);
  return result;
}

}  // namespace rowpress
