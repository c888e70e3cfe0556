// Text rules shared by the output writers: the fixed-width form of forceFullLength, the
// numeric-text test of Number cells, and the escaping of SpreadsheetML String content and of
// HTML cells. Nothing here allocates per value: the writing forms hand runs of the value to
// the output file in as few pieces as the escaping allows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace rowpress {

class OutputFile;

// The fixed-width form of a value for a column of `declaredSize`: exactly declaredSize bytes,
// made of `text` (a prefix of the value, cut on a UTF-8 character boundary when the value is
// longer, by the rule of job/utf8.h) followed by `padding` spaces. A declaredSize of 0 or less
// gives nothing at all.
struct FixedWidth {
  std::string_view text;
  std::size_t padding = 0;
};
// The widest fixed-width field: the longest value a cell can hold.
inline constexpr std::size_t kFixedWidthLimit = 65536;

FixedWidth fixedWidth(std::string_view value, std::int32_t declaredSize);

// Writes `count` spaces.
void writeSpaces(OutputFile& out, std::size_t count);

// Numeric text for a Number cell: an optional "+" or "-", then ASCII digits with at most one
// full stop among them, and at least one digit ("12", "-3.25", "+.5", "7."; not "", "-",
// ".", "1-2", "1.2.3", "1E+10").
bool isNumericText(std::string_view text);

// The significant digits that a spreadsheet keeps of a number.
inline constexpr std::size_t kSpreadsheetDigits = 15;

// Numeric text that a spreadsheet would change: more than kSpreadsheetDigits significant
// digits. They are counted from the first digit that is not zero (sign and leading zeros
// aside) to the end of a whole number, and to the last digit that is not zero of a decimal
// ("12345678901234567", "-1000000000000000000", "0.12345678901234567",
// "1234567890123456.5"; not "000000000000000001", "0.000000000000000001" nor
// "1.50000000000000000000"). A decimal of an approximate column (`approximate`) is never
// long: its digits are those of the binary value that the cell holds.
bool isLongNumber(std::string_view text, bool approximate = false);

// SpreadsheetML String content: bytes 0 to 31, bytes that are not part of a well-formed
// UTF-8 sequence (overlong forms, surrogates, code points above U+10FFFF, stray continuation
// bytes, truncated sequences) and the non-characters U+FFFE and U+FFFF are dropped; "<", ">",
// "&", '"' and "'" become &lt; &gt; &amp; &quot; &apos;; everything else is kept as it is.
// The writing forms return whether a byte was dropped.
bool writeXmlEscaped(OutputFile& out, std::string_view text);
void appendXmlEscaped(std::string& out, std::string_view text);
// The same text without escaping, for a writer whose library escapes it: the same bytes are
// dropped, "<", ">", "&", '"' and "'" are kept as they are.
bool appendXmlText(std::string& out, std::string_view text);

// The length of well-formed UTF-8 text in UTF-16 code units, as a spreadsheet counts the
// characters of a cell: a character beyond U+FFFF counts two.
std::size_t utf16Length(std::string_view text);

// HTML cell text: "&", "<", ">" and '"' become &amp; &lt; &gt; &quot;; everything else,
// line breaks included, is kept as it is (a line feed written to an OutputFile becomes CR LF).
void writeHtmlEscaped(OutputFile& out, std::string_view text);
void appendHtmlEscaped(std::string& out, std::string_view text);

}  // namespace rowpress
