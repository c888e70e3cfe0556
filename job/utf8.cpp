#include "job/utf8.h"

namespace rowpress {

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

}  // namespace rowpress
