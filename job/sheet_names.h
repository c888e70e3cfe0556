// The names of a workbook's sheets: which names a workbook can hold, how two names compare,
// and the name of the sheet that takes a sheet's rows once it is full.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace rowpress {

// A sheet's name holds at most this many UTF-16 code units, as the spreadsheet counts them.
inline constexpr std::size_t kSheetNameUnits = 31;

// Why a workbook cannot hold `name` as the name of a sheet, or an empty text when it can:
// the name is empty; holds bytes that are not well-formed UTF-8, a control character
// (U+0000 to U+001F, U+007F to U+009F), a non-character (U+FDD0 to U+FDEF, U+FFFE and U+FFFF
// in every plane: XML 1.0 cannot carry U+FFFE and U+FFFF) or one of [ ] : * ? / \; is
// longer than 31 UTF-16 code units; or begins or ends with an apostrophe.
std::string sheetNameProblem(std::string_view name);

// Whether two sheet names name the same sheet: the spreadsheet compares them without regard
// to case. Both are compared by Unicode's full case folding (ICU's, without the Turkic
// rules: "İ" is not "ı"); a byte that is not UTF-8 stands for itself.
bool sameSheetName(std::string_view a, std::string_view b);

// The name of the sheet that goes on with the rows of sheet `name` once it is full: the first
// "NAME (k)" with k at least `number` that no name of `taken` names (see sameSheetName), NAME
// cut on a character boundary so that the whole name holds at most 31 UTF-16 code units.
// `number` is left at the k that was used. `name` is a name that a workbook can hold.
std::string overflowSheetName(std::string_view name, int& number,
                              const std::vector<std::string>& taken);

}  // namespace rowpress
