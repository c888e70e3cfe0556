// The account of a run: every value that an output could not hold as it is and changed to fit,
// counted per column and per rule while the rows stream. The writers say which rules a value
// met; the run adds them up, names them after the summary line and in the status list, and
// with "strict" refuses the first one.
#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <string>
#include <vector>

#include "db/result_columns.h"

namespace rowpress {

// The ways a value is changed to fit an output. Each has a name for lines and the manifest.
enum class ValueRule : std::uint8_t {
  Cut,          // "cut": longer than the 65,536 bytes that a value may hold, cut there
  TooLarge,     // "too-large": more than a workbook's cell holds, written as "<Too Large>"
  Dropped,      // "dropped": control characters or invalid UTF-8 left out of a workbook's cell
  Replaced,     // "replaced": separators, CR or LF replaced in a classic CSV or TSV field
  FixedWidth,   // "fixed-width": cut to its column's width by "Force Full Length"
  Binary,       // "binary": a binary value written as "<BINARY>"
  Fraction,     // "fraction": an .xlsx time's fraction of a second cut at the millisecond
  ColumnName,   // "column-name": a column's name cut at 255 bytes
  Digits,       // "digits": an .xlsx number that needs 17 significant digits, written with 16
  LineBreak,    // "line-break": a line feed written as CR LF in the HTML output
  Unencodable,  // "unencodable": a character CSV's or TSV's encoding cannot hold, written as "?"
};
inline constexpr int kValueRules = 11;

// The rules one value met, a bit for each (none: written as it is).
using ValueChanges = std::uint16_t;
constexpr ValueChanges changeOf(ValueRule rule) {
  return static_cast<ValueChanges>(1U << static_cast<unsigned>(rule));
}

// The rule's name: "cut", "too-large", ...
const char* ruleName(ValueRule rule);

// One column's count of one rule in a sheet.
struct ValueChange {
  int column = 0;  // from 1
  std::string name;
  ValueRule rule = ValueRule::Cut;
  long long count = 0;
};

// What one statement of a run gave: its sheet (empty for a job of one statement), its columns
// as described, its data rows and the values changed, by column and then by rule.
struct SheetAccount {
  std::string sheet;
  std::vector<ColumnInfo> columns;
  long long rows = 0;
  std::vector<ValueChange> changed;
};

// The counters of one sheet while its rows stream: one per column and rule.
class ValueAccount {
 public:
  void reset(int columns) { counts_.assign(static_cast<std::size_t>(columns), {}); }
  // Column k (from 1) of a row met `changes`.
  void add(int k, ValueChanges changes) {
    auto& counts = counts_[static_cast<std::size_t>(k - 1)];
    for (; changes != 0; changes &= static_cast<ValueChanges>(changes - 1)) {
      ++counts[static_cast<std::size_t>(std::countr_zero(changes))];
    }
  }
  // The counts that are not zero, with each column's name cut in its place.
  std::vector<ValueChange> changes(const std::vector<ColumnInfo>& columns) const;

 private:
  std::vector<std::array<long long, kValueRules>> counts_;
};

// The values changed in all the sheets.
long long changedValues(const std::vector<SheetAccount>& sheets);

// The line that says one count, without a program name: `sheet "Orders", column 3 "memo": 2
// values cut at 65,536 bytes`; the sheet only in a report job.
std::string changeLine(const std::string& sheet, const ValueChange& change);

// The lines of every count of `sheets`, in order, each "note: " and its changeLine.
std::vector<std::string> noteLines(const std::vector<SheetAccount>& sheets);

// The line that refuses a run in strict mode at the first value it would change: `sheet
// "Orders", column 3 "memo", row 17: the value would be cut at 65,536 bytes (rule cut);
// nothing was written`. A row of 0 is the header: the column's name.
std::string strictLine(const std::string& sheet, int column, const std::string& name, long long row,
                       ValueRule rule);

// The first rule of `changes`, which holds at least one.
ValueRule firstRule(ValueChanges changes);

}  // namespace rowpress
