#include "job/sheet_names.h"

#include <unicode/uchar.h>
#include <unicode/ustring.h>
#include <unicode/utf16.h>

#include <cstdio>

#include "job/utf8.h"

namespace rowpress {

namespace {

// The character at the start of non-empty text: its bytes, its code point and whether it is
// well-formed UTF-8. A byte that starts no well-formed sequence is a character of its own.
struct Character {
  std::size_t length = 1;
  char32_t codePoint = 0;
  bool valid = false;
};

Character firstCharacter(std::string_view text) {
  // The shortest prefix that a cut keeps whole is the first character (at most four bytes).
  Character c;
  for (std::size_t limit = 1; limit <= 4 && limit <= text.size(); ++limit) {
    if (cutOnCharacterBoundary(text, limit) == limit) {
      c.length = limit;
      break;
    }
  }
  const auto lead = static_cast<unsigned char>(text[0]);
  if (c.length == 1) {
    c.valid = lead < 0x80;
    c.codePoint = lead;
    return c;
  }
  c.valid = true;
  static constexpr unsigned char kLeadBits[] = {0, 0, 0x1F, 0x0F, 0x07};
  c.codePoint = lead & kLeadBits[c.length];
  for (std::size_t i = 1; i < c.length; ++i) {
    c.codePoint = (c.codePoint << 6) | (static_cast<unsigned char>(text[i]) & 0x3F);
  }
  return c;
}

// The UTF-16 code units of a well-formed character.
std::size_t unitsOf(const Character& c) { return c.codePoint > 0xFFFF ? 2 : 1; }

bool isControl(char32_t c) { return c < 0x20 || (c >= 0x7F && c <= 0x9F); }

// The non-characters, which XML 1.0 does not carry (U+FFFE, U+FFFF) or which a reader may
// refuse: U+FDD0 to U+FDEF and the last two code points of every plane.
bool isNonCharacter(char32_t c) { return (c >= 0xFDD0 && c <= 0xFDEF) || (c & 0xFFFE) == 0xFFFE; }

// The full case folding of a character, as ICU gives it ("ß" folds to "ss", "ς" to "σ"); a
// byte that is not UTF-8 stands for itself, apart from every character.
std::u32string foldedCase(std::string_view text) {
  std::u32string folded;
  while (!text.empty()) {
    const Character c = firstCharacter(text);
    if (!c.valid) {
      // Above every code point: never equal to a character.
      folded.push_back(0x110000 + static_cast<unsigned char>(text[0]));
    } else {
      UChar units[2];
      int32_t length = 0;
      U16_APPEND_UNSAFE(units, length, static_cast<UChar32>(c.codePoint));
      UChar out[8];
      UErrorCode status = U_ZERO_ERROR;
      const int32_t n = u_strFoldCase(out, 8, units, length, U_FOLD_CASE_DEFAULT, &status);
      if (U_FAILURE(status)) {
        folded.push_back(c.codePoint);
      } else {
        for (int32_t i = 0; i < n;) {
          UChar32 cp;
          U16_NEXT_UNSAFE(out, i, cp);
          folded.push_back(static_cast<char32_t>(cp));
        }
      }
    }
    text.remove_prefix(c.length);
  }
  return folded;
}

}  // namespace

std::string sheetNameProblem(std::string_view name) {
  if (name.empty()) return "the name is empty";
  std::size_t units = 0;
  for (std::string_view rest = name; !rest.empty();) {
    const Character c = firstCharacter(rest);
    if (!c.valid) return "the name is not valid UTF-8";
    if (isControl(c.codePoint)) return "the name holds a control character";
    if (isNonCharacter(c.codePoint)) {
      char code[16];
      std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(c.codePoint));
      return std::string("the name holds the non-character ") + code +
             ", which a workbook cannot hold";
    }
    switch (c.codePoint) {
      case U'[':
      case U']':
      case U':':
      case U'*':
      case U'?':
      case U'/':
      case U'\\':
        return std::string("the name holds \"") + static_cast<char>(c.codePoint) +
               "\", which a sheet's name cannot hold";
      default:
        break;
    }
    units += unitsOf(c);
    rest.remove_prefix(c.length);
  }
  if (units > kSheetNameUnits) {
    return "the name is " + std::to_string(units) + " characters long, more than " +
           std::to_string(kSheetNameUnits);
  }
  if (name.front() == '\'' || name.back() == '\'') {
    return "the name begins or ends with an apostrophe";
  }
  return {};
}

bool sameSheetName(std::string_view a, std::string_view b) {
  return foldedCase(a) == foldedCase(b);
}

std::string overflowSheetName(std::string_view name, int& number,
                              const std::vector<std::string>& taken) {
  for (;; ++number) {
    const std::string suffix = " (" + std::to_string(number) + ")";
    // The longest start of the name that leaves room for the suffix.
    std::size_t bytes = 0;
    std::size_t units = suffix.size();
    while (bytes < name.size()) {
      const Character c = firstCharacter(name.substr(bytes));
      const std::size_t more = c.valid ? unitsOf(c) : 1;
      if (units + more > kSheetNameUnits) break;
      units += more;
      bytes += c.length;
    }
    std::string candidate = std::string(name.substr(0, bytes)) + suffix;
    bool used = false;
    for (const std::string& t : taken) used = used || sameSheetName(t, candidate);
    if (!used) return candidate;
  }
}

}  // namespace rowpress
