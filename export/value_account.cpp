#include "export/value_account.h"

namespace rowpress {

namespace {

struct RuleTexts {
  const char* name;
  const char* counted;  // after "N values "
  const char* refused;  // after "the value "
};

constexpr RuleTexts kRuleTexts[kValueRules] = {
    {"cut", "cut at 65,536 bytes", "would be cut at 65,536 bytes"},
    {"too-large", "too large for a cell, written as <Too Large>",
     "is too large for a cell and would be written as <Too Large>"},
    {"dropped", "with control characters or invalid UTF-8 dropped",
     "holds control characters or invalid UTF-8 that would be dropped"},
    {"replaced", "with separators or line breaks replaced",
     "holds a separator or line break that would be replaced"},
    {"fixed-width", "cut to the column's fixed width", "would be cut to the column's fixed width"},
    {"binary", "written as <BINARY>", "is binary and would be written as <BINARY>"},
    {"fraction", "with a fraction of a second cut at the millisecond",
     "has a fraction of a second that would be cut at the millisecond"},
    {"column-name", "cut at 255 bytes", "would be cut at 255 bytes"},
    {"digits", "written with 16 of their 17 significant digits",
     "needs 17 significant digits and would be written with 16"},
    {"line-break", "with line feeds written as CR LF",
     "holds a line feed that would be written as CR LF"},
    {"unencodable", "with characters the encoding cannot hold written as ?",
     "holds a character the encoding cannot hold, which would be written as ?"},
};

const RuleTexts& textsOf(ValueRule rule) { return kRuleTexts[static_cast<int>(rule)]; }

std::string columnText(const std::string& sheet, int column, const std::string& name) {
  std::string text = sheet.empty() ? "" : "sheet \"" + sheet + "\", ";
  return text + "column " + std::to_string(column) + " \"" + name + "\"";
}

}  // namespace

const char* ruleName(ValueRule rule) { return textsOf(rule).name; }

ValueRule firstRule(ValueChanges changes) {
  int rule = 0;
  while (rule + 1 < kValueRules && (changes & changeOf(static_cast<ValueRule>(rule))) == 0) {
    ++rule;
  }
  return static_cast<ValueRule>(rule);
}

std::vector<ValueChange> ValueAccount::changes(const std::vector<ColumnInfo>& columns) const {
  std::vector<ValueChange> found;
  for (std::size_t k = 0; k < counts_.size() && k < columns.size(); ++k) {
    const ColumnInfo& column = columns[k];
    if (column.nameCut) {
      found.push_back({static_cast<int>(k + 1), column.name, ValueRule::ColumnName, 1});
    }
    for (int rule = 0; rule < kValueRules; ++rule) {
      if (counts_[k][rule] == 0) continue;
      found.push_back(
          {static_cast<int>(k + 1), column.name, static_cast<ValueRule>(rule), counts_[k][rule]});
    }
  }
  return found;
}

long long changedValues(const std::vector<SheetAccount>& sheets) {
  long long values = 0;
  for (const SheetAccount& sheet : sheets) {
    for (const ValueChange& change : sheet.changed) {
      if (change.rule != ValueRule::ColumnName) values += change.count;
    }
  }
  return values;
}

std::string changeLine(const std::string& sheet, const ValueChange& change) {
  std::string line = columnText(sheet, change.column, change.name) + ": ";
  if (change.rule == ValueRule::ColumnName) return line + "name " + textsOf(change.rule).counted;
  line += std::to_string(change.count) + (change.count == 1 ? " value " : " values ");
  return line + textsOf(change.rule).counted;
}

std::vector<std::string> noteLines(const std::vector<SheetAccount>& sheets) {
  std::vector<std::string> lines;
  for (const SheetAccount& sheet : sheets) {
    for (const ValueChange& change : sheet.changed) {
      lines.push_back("note: " + changeLine(sheet.sheet, change));
    }
  }
  return lines;
}

std::string strictLine(const std::string& sheet, int column, const std::string& name, long long row,
                       ValueRule rule) {
  std::string line = columnText(sheet, column, name);
  line += row > 0 ? ", row " + std::to_string(row) + ": the value " : ": the name ";
  return line + textsOf(rule).refused + " (rule " + textsOf(rule).name + "); nothing was written";
}

}  // namespace rowpress
