#include "app/job_settings.h"

#include <utility>

namespace rowpress {

OutputType outputTypeOf(const JobSettings& job) {
  if (job.outputHtml) return OutputType::Html;
  if (job.outputTsv) return OutputType::Tsv;
  if (job.outputCsv) return OutputType::Csv;
  return OutputType::Xml;
}

std::size_t cutOnCharacterBoundary(std::string_view text, std::size_t limit) {
  if (text.size() <= limit) return text.size();
  std::size_t cut = limit;
  // Step back over continuation bytes to the lead byte of the character that the cut splits.
  std::size_t back = cut;
  while (back > 0 && (static_cast<unsigned char>(text[back - 1]) & 0xC0) == 0x80) --back;
  if (back == 0) return cut;
  unsigned char lead = static_cast<unsigned char>(text[back - 1]);
  std::size_t length = lead < 0x80           ? 1
                       : (lead >> 5) == 0x06 ? 2
                       : (lead >> 4) == 0x0E ? 3
                       : (lead >> 3) == 0x1E ? 4
                                             : 1;
  // A lead byte without its continuation bytes is not a character: it stands alone.
  for (std::size_t i = back; i < back - 1 + length; ++i) {
    if (i >= text.size() || (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) length = 1;
  }
  // The character starting at back-1 is whole when it ends at or before the cut.
  return back - 1 + length <= cut ? cut : back - 1;
}

std::size_t withoutPartialCharacter(std::string_view text) {
  std::size_t end = text.size();
  std::size_t back = end;
  while (back > 0 && end - back < 3 &&
         (static_cast<unsigned char>(text[back - 1]) & 0xC0) == 0x80) {
    --back;
  }
  if (back == 0) return end;
  unsigned char lead = static_cast<unsigned char>(text[back - 1]);
  std::size_t length = (lead >> 5) == 0x06   ? 2
                       : (lead >> 4) == 0x0E ? 3
                       : (lead >> 3) == 0x1E ? 4
                                             : 1;
  return back - 1 + length > end ? back - 1 : end;
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
