#include "job/job_settings.h"

#include <utility>

namespace rowpress {

OutputType outputTypeOf(const JobSettings& job) {
  if (job.outputHtml) return OutputType::Html;
  if (job.outputTsv) return OutputType::Tsv;
  if (job.outputCsv) return OutputType::Csv;
  return OutputType::Xml;
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

std::optional<LimitProblem> findLimitProblem(const JobSettings& job) {
  struct Check {
    const std::string& value;
    std::size_t limit;
    const char* field;
    RunOutcome outcome;
  };
  const Check checks[] = {
      {job.dataSource, kCredentialLimit, "The data source name", RunOutcome::NoConnection},
      {job.userName, kCredentialLimit, "The user name", RunOutcome::NoConnection},
      {job.password, kCredentialLimit, "The password", RunOutcome::NoConnection},
      {job.sql, kSqlLimit, "The SQL text", RunOutcome::StatementFailed},
      {job.outFileName, kPathLimit, "The output file name", RunOutcome::OutputFile},
      {job.launchApplication, kPathLimit, "The application to launch", RunOutcome::OutputFile},
  };
  for (const Check& c : checks) {
    // The application matters only to a run that launches it.
    if (&c.value == &job.launchApplication && job.noAutoOpen) continue;
    if (auto refusal = refusalOf(c.value, c.limit, c.field)) {
      return LimitProblem{std::move(*refusal), c.outcome};
    }
  }
  return std::nullopt;
}

}  // namespace rowpress
