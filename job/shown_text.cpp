#include "job/shown_text.h"

#include <cstddef>

#include "job/utf8.h"

namespace rowpress {

namespace {

// How many bytes at p escapeControls shows as escapes: a C0 control, DEL, a C1 control
// (two bytes) or one byte that is not part of well-formed UTF-8; 0 for a character that is
// shown as it is.
std::size_t escapedLength(const unsigned char* p, std::size_t avail) {
  const unsigned char c = p[0];
  if (c < 0x20 || c == 0x7F) return 1;
  if (c < 0x80) return 0;
  if (c == 0xC2 && avail >= 2 && p[1] >= 0x80 && p[1] <= 0x9F) return 2;
  return wellFormedSequenceLength(p, avail) == 0 ? 1 : 0;
}

}  // namespace

std::string escapeControls(std::string_view text) {
  // A line feed at the very end is the line's own end, not part of what it shows.
  const bool lineEnd = !text.empty() && text.back() == '\n';
  if (lineEnd) text.remove_suffix(1);
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  std::string out;
  out.reserve(n + 1);
  static constexpr char kHex[] = "0123456789abcdef";
  std::size_t i = 0;
  while (i < n) {
    const std::size_t escaped = escapedLength(p + i, n - i);
    if (escaped == 0) {
      const unsigned char c = p[i];
      std::size_t length = c < 0x80 ? 1 : wellFormedSequenceLength(p + i, n - i);
      if (c == '\\' && i + 1 < n) {
        // A backslash is doubled only where it would read as the start of an escape.
        const unsigned char next = p[i + 1];
        if (next == '\\' || next == 'n' || next == 'r' || next == 't' || next == 'x' ||
            escapedLength(p + i + 1, n - i - 1) != 0) {
          out += '\\';
        }
      }
      out.append(text.substr(i, length));
      i += length;
      continue;
    }
    for (std::size_t k = 0; k < escaped; ++k, ++i) {
      const unsigned char c = p[i];
      out += '\\';
      if (c == '\n') {
        out += 'n';
      } else if (c == '\r') {
        out += 'r';
      } else if (c == '\t') {
        out += 't';
      } else {
        out += 'x';
        out += kHex[c >> 4];
        out += kHex[c & 0x0F];
      }
    }
  }
  if (lineEnd) out += '\n';
  return out;
}

}  // namespace rowpress
