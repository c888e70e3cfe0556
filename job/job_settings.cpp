#include "job/job_settings.h"

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
  copy.separator = job.separator;
  copy.decimalComma = job.decimalComma;
  copy.encoding = job.encoding;
  copy.timeZone = job.timeZone;
  copy.silent = job.silent;
  copy.settingsFile = job.settingsFile;
  if (job.outsidePassword) copy.outsidePassword = job.outsidePassword->copy();
  copy.timeoutSeconds = job.timeoutSeconds;
  copy.strict = job.strict;
  copy.manifest = job.manifest;
  copy.manifestValues = job.manifestValues;
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
  // A report's further sheets hold SQL texts of their own (the first one's is the job's SQL).
  const JobField& sql = fieldOf(SettingKey::Sql);
  if (job.sheets.size() > kMaxReportSheets) {
    return LimitProblem{"The report has " + std::to_string(job.sheets.size()) +
                            " sheets, more than the " + std::to_string(kMaxReportSheets) +
                            " that a run writes, and was refused.",
                        RunOutcome::JobUnreadable};
  }
  for (std::size_t i = 1; i < job.sheets.size(); ++i) {
    if (auto refusal = refusalOf(job.sheets[i].sql, sql.limit, sql.name)) {
      return LimitProblem{"Sheet \"" + job.sheets[i].name + "\": " + *refusal, sql.refusedAs};
    }
  }
  return std::nullopt;
}

}  // namespace rowpress
