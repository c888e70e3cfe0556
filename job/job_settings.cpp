#include "job/job_settings.h"

#include <cstdint>
#include <utility>

#include "job/job_fields.h"

namespace rowpress {

JobSettings copyOf(const JobSettings& job) {
  JobSettings copy;
  copy.dataSource = job.dataSource;
  copy.userName = job.userName;
  copy.password = job.password.copy();
  copy.sql = job.sql;
  copy.excel2007 = job.excel2007;
  copy.forceFullLength = job.forceFullLength;
  copy.outputCsv = job.outputCsv;
  copy.outputTsv = job.outputTsv;
  copy.outputHtml = job.outputHtml;
  copy.launchApplication = job.launchApplication;
  copy.noAutoOpen = job.noAutoOpen;
  copy.outFileName = job.outFileName;
  copy.outputXlsx = job.outputXlsx;
  copy.quoteFields = job.quoteFields;
  copy.byteOrderMark = job.byteOrderMark;
  copy.silent = job.silent;
  copy.settingsFile = job.settingsFile;
  if (job.outsidePassword) copy.outsidePassword = job.outsidePassword->copy();
  copy.timeoutSeconds = job.timeoutSeconds;
  copy.readFrom = job.readFrom;
  copy.sheets = job.sheets;
  copy.parameters = job.parameters;
  return copy;
}

OutputType outputTypeOf(const JobSettings& job) {
  if (job.outputHtml) return OutputType::Html;
  if (job.outputTsv) return OutputType::Tsv;
  if (job.outputCsv) return OutputType::Csv;
  if (job.outputXlsx) return OutputType::Xlsx;
  return OutputType::Xml;
}

void setOutputType(JobSettings& job, OutputType type) {
  job.outputCsv = type == OutputType::Csv;
  job.outputTsv = type == OutputType::Tsv;
  job.outputHtml = type == OutputType::Html;
  job.outputXlsx = type == OutputType::Xlsx;
}

std::string tooLongMessage(const char* field, std::size_t limit) {
  return std::string(field) + " is longer than " + std::to_string(limit) +
         " bytes and was refused.";
}

std::optional<std::string> refusalOf(std::string_view value, std::size_t limit, const char* field) {
  if (value.size() > limit) return tooLongMessage(field, limit);
  if (value.find('\0') != std::string_view::npos) {
    return std::string(field) + " holds a NUL byte and was refused.";
  }
  return std::nullopt;
}

std::optional<int> parseTimeoutSeconds(std::string_view text) {
  if (text.empty()) return std::nullopt;
  long long seconds = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    seconds = seconds * 10 + (c - '0');
    if (seconds > kTimeoutLimit) return std::nullopt;
  }
  return static_cast<int>(seconds);
}

std::string timeoutRefusal(std::string_view text) {
  const bool digits =
      !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
  if (!digits) return kTimeoutRefused;
  return "The timeout is more than " + std::to_string(kTimeoutLimit) +
         " seconds, the largest value, and was refused.";
}

namespace {

bool isAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// The code points of well-formed UTF-8 (no overlong form, no surrogate, nothing above
// U+10FFFF); nothing when `text` is not well-formed.
std::optional<std::vector<char32_t>> decodeUtf8(std::string_view text) {
  std::vector<char32_t> out;
  for (std::size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t length = 0;
    char32_t code = 0, least = 0;
    if (lead < 0x80) {
      length = 1, code = lead;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2, code = lead & 0x1F, least = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3, code = lead & 0x0F, least = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4, code = lead & 0x07, least = 0x10000;
    } else {
      return std::nullopt;
    }
    if (i + length > text.size()) return std::nullopt;
    for (std::size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return std::nullopt;
      code = (code << 6) | (next & 0x3F);
    }
    if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
      return std::nullopt;
    }
    out.push_back(code);
    i += length;
  }
  return out;
}

// The lower case of the letters whose case a spreadsheet folds in sheet names: ASCII, Latin-1,
// Latin Extended-A, Greek and Cyrillic capitals.
char32_t foldCase(char32_t c) {
  if ((c >= U'A' && c <= U'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7)) return c + 0x20;
  if (c >= 0x100 && c <= 0x137 && c % 2 == 0) return c + 1;
  if (c >= 0x139 && c <= 0x148 && c % 2 == 1) return c + 1;
  if (c >= 0x14A && c <= 0x177 && c % 2 == 0) return c + 1;
  if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) return c + 0x20;
  if (c >= 0x410 && c <= 0x42F) return c + 0x20;
  if (c >= 0x400 && c <= 0x40F) return c + 0x50;
  return c;
}

}  // namespace

std::vector<JobSheet> sheetsOf(const JobSettings& job) {
  if (!job.sheets.empty()) return job.sheets;
  return {JobSheet{std::string(), job.sql}};
}

bool isParameterName(std::string_view name) {
  if (name.empty() || !isAsciiLetter(name[0])) return false;
  for (char c : name) {
    if (!isAsciiLetter(c) && !(c >= '0' && c <= '9') && c != '_') return false;
  }
  return true;
}

void setParameter(JobSettings& job, std::string_view name, std::string_view value) {
  for (JobParameter& parameter : job.parameters) {
    if (parameter.name == name) {
      parameter.value = value;
      return;
    }
  }
  job.parameters.push_back({std::string(name), std::string(value)});
}

const std::string* parameterValue(const JobSettings& job, std::string_view name) {
  for (const JobParameter& parameter : job.parameters) {
    if (parameter.name == name) return &parameter.value;
  }
  return nullptr;
}

std::optional<std::string> applyParameter(JobSettings& job, std::string_view text) {
  const std::size_t equals = text.find('=');
  if (equals == std::string_view::npos) {
    return "The parameter \"" + std::string(text) + "\" has no \"=\" between its name and value.";
  }
  const std::string_view name = text.substr(0, equals);
  if (!isParameterName(name)) {
    return "The parameter name \"" + std::string(name) +
           "\" is not a letter followed by letters, digits and underscores.";
  }
  const std::string_view value = text.substr(equals + 1);
  if (auto refusal = refusalOf(value, kSqlLimit, "The parameter's value")) return refusal;
  setParameter(job, name, value);
  return std::nullopt;
}

std::optional<std::string> sheetNameProblem(std::string_view name) {
  const std::string quoted = "The sheet name \"" + std::string(name) + "\" ";
  if (name.empty()) return std::string("A sheet name is empty.");
  std::optional<std::vector<char32_t>> characters = decodeUtf8(name);
  if (!characters) return quoted + "is not valid UTF-8.";
  std::size_t units = 0;
  for (char32_t c : *characters) {
    units += c >= 0x10000 ? 2 : 1;
    if (c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0)) {
      return quoted + "holds a control character.";
    }
    if (std::u32string_view(U"[]:*?/\\").find(c) != std::u32string_view::npos) {
      return quoted + "holds one of [ ] : * ? / \\, which a workbook does not take.";
    }
  }
  if (units > kSheetNameLimit) {
    return quoted + "is longer than " + std::to_string(kSheetNameLimit) + " characters.";
  }
  if (name.front() == '\'' || name.back() == '\'') {
    return quoted + "begins or ends with an apostrophe, which a workbook does not take.";
  }
  return std::nullopt;
}

bool sameSheetName(std::string_view a, std::string_view b) {
  std::optional<std::vector<char32_t>> left = decodeUtf8(a), right = decodeUtf8(b);
  if (!left || !right) return a == b;
  if (left->size() != right->size()) return false;
  for (std::size_t i = 0; i < left->size(); ++i) {
    if (foldCase((*left)[i]) != foldCase((*right)[i])) return false;
  }
  return true;
}

std::optional<LimitProblem> findLimitProblem(const JobSettings& job) {
  for (const JobField& field : kJobFields) {
    std::string_view value;
    if (field.kind == FieldKind::Text) {
      value = job.*field.text;
    } else if (field.kind == FieldKind::Password) {
      value = (job.*field.secret).view();
    } else {
      continue;
    }
    // The application matters only to a run that launches it.
    if (field.key == SettingKey::LaunchApplication && job.noAutoOpen) continue;
    if (auto refusal = refusalOf(value, field.limit, field.name)) {
      return LimitProblem{std::move(*refusal), field.refusedAs};
    }
  }
  return std::nullopt;
}

}  // namespace rowpress
