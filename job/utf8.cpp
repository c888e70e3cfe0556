#include "job/utf8.h"

namespace rowpress {

namespace {

// The length of the character that starts at p, of the `avail` bytes there: the length of the
// well-formed sequence at p, or 1 for a byte that starts none. Where the bytes end before the
// last byte of a sequence that is well-formed so far, its full length when they are cut off
// (it then reaches past them), 1 when they are whole.
std::size_t characterLength(const unsigned char* p, std::size_t avail, TextEnd end) {
  const Utf8Lead lead = utf8Lead(p[0]);
  for (std::size_t i = 1; i < lead.length; ++i) {
    if (i == avail) return end == TextEnd::CutOff ? lead.length : 1;
    const bool fits = i == 1 ? p[i] >= lead.low && p[i] <= lead.high : isUtf8Continuation(p[i]);
    if (!fits) return 1;
  }
  return lead.length;
}

}  // namespace

std::size_t wellFormedSequenceLength(const unsigned char* p, std::size_t avail) {
  const Utf8Lead lead = utf8Lead(p[0]);
  if (lead.length < 2 || avail < lead.length) return 0;
  if (p[1] < lead.low || p[1] > lead.high) return 0;
  for (std::size_t i = 2; i < lead.length; ++i) {
    if (!isUtf8Continuation(p[i])) return 0;
  }
  return lead.length;
}

std::size_t cutOnCharacterBoundary(std::string_view text, std::size_t limit, TextEnd end) {
  if (end == TextEnd::Whole && text.size() <= limit) return text.size();
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t cut = limit < text.size() ? limit : text.size();
  // A character starts at every byte that is no continuation byte, and no character is longer
  // than four bytes: the one that the cut may split starts at most three bytes before it.
  if (cut < text.size() && !isUtf8Continuation(p[cut])) return cut;
  std::size_t start = cut;
  while (start > 0 && cut - start < 3 && isUtf8Continuation(p[start - 1])) --start;
  if (start == 0 || isUtf8Continuation(p[start - 1])) return cut;  // only single bytes before
  --start;
  return start + characterLength(p + start, text.size() - start, end) > cut ? start : cut;
}

}  // namespace rowpress
