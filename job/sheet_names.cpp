#include "job/sheet_names.h"

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

// The lower case of an upper-case letter of the scripts that sameSheetName folds.
char32_t foldCase(char32_t c) {
  if (c >= U'A' && c <= U'Z') return c + 0x20;
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 0x20;  // Latin-1, not the × sign
  if (c >= 0x100 && c <= 0x137) return c | 1;                // Latin Extended-A in pairs
  if (c >= 0x139 && c <= 0x148) return (c & 1) ? c + 1 : c;
  if (c >= 0x14A && c <= 0x177) return c | 1;
  if (c == 0x178) return 0xFF;
  if (c >= 0x179 && c <= 0x17E) return (c & 1) ? c + 1 : c;
  if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) return c + 0x20;  // Greek
  if (c >= 0x400 && c <= 0x40F) return c + 0x50;                // Cyrillic
  if (c >= 0x410 && c <= 0x42F) return c + 0x20;
  return c;
}

}  // namespace

std::string sheetNameProblem(std::string_view name) {
  if (name.empty()) return "the name is empty";
  std::size_t units = 0;
  for (std::string_view rest = name; !rest.empty();) {
    const Character c = firstCharacter(rest);
    if (!c.valid) return "the name is not valid UTF-8";
    if (isControl(c.codePoint)) return "the name holds a control character";
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
  while (!a.empty() && !b.empty()) {
    const Character x = firstCharacter(a);
    const Character y = firstCharacter(b);
    if (x.valid != y.valid) return false;
    if (x.valid ? foldCase(x.codePoint) != foldCase(y.codePoint) : a[0] != b[0]) return false;
    a.remove_prefix(x.length);
    b.remove_prefix(y.length);
  }
  return a.empty() && b.empty();
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
