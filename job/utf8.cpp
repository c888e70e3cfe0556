#include "job/utf8.h"

namespace rowpress {

namespace {

constexpr bool isContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// The length of the character that starts at p, of the `avail` bytes there: the length of the
// well-formed sequence at p, or 1 for a byte that starts none. Where the bytes end before the
// last byte of a sequence that is well-formed so far, its full length when they are cut off
// (it then reaches past them), 1 when they are whole.
std::size_t characterLength(const unsigned char* p, std::size_t avail, TextEnd end) {
  const unsigned char lead = p[0];
  std::size_t length = 1;
  unsigned char low = 0x80;  // the range of the second byte
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;   // overlong below U+0800
    if (lead == 0xED) high = 0x9F;  // surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;   // overlong below U+10000
    if (lead == 0xF4) high = 0x8F;  // above U+10FFFF
  }
  for (std::size_t i = 1; i < length; ++i) {
    if (i == avail) return end == TextEnd::CutOff ? length : 1;
    const bool fits = i == 1 ? p[i] >= low && p[i] <= high : isContinuation(p[i]);
    if (!fits) return 1;
  }
  return length;
}

}  // namespace

std::size_t cutOnCharacterBoundary(std::string_view text, std::size_t limit, TextEnd end) {
  if (end == TextEnd::Whole && text.size() <= limit) return text.size();
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t cut = limit < text.size() ? limit : text.size();
  // A character starts at every byte that is no continuation byte, and no character is longer
  // than four bytes: the one that the cut may split starts at most three bytes before it.
  if (cut < text.size() && !isContinuation(p[cut])) return cut;
  std::size_t start = cut;
  while (start > 0 && cut - start < 3 && isContinuation(p[start - 1])) --start;
  if (start == 0 || isContinuation(p[start - 1])) return cut;  // only single bytes before
  --start;
  return start + characterLength(p + start, text.size() - start, end) > cut ? start : cut;
}

}  // namespace rowpress
