// Cutting UTF-8 text at a byte limit without leaving part of a character behind: the one rule
// for every value, name, path and message that rowpress cuts.
#pragma once

#include <cstddef>
#include <string_view>

namespace rowpress {

// Whether `c` continues a UTF-8 sequence (a byte 10xxxxxx).
constexpr bool isUtf8Continuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// What a lead byte starts, after Unicode table 3-7 (well-formed UTF-8): the length of its
// sequence (1 for a byte that starts no sequence of two or more: ASCII, a stray continuation
// byte, C0, C1, F5 to FF) and the range of the sequence's second byte, which rules out
// overlong forms, surrogates and everything above U+10FFFF; further bytes are continuations.
struct Utf8Lead {
  std::size_t length = 1;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
};
constexpr Utf8Lead utf8Lead(unsigned char lead) {
  if (lead >= 0xC2 && lead <= 0xDF) return {2, 0x80, 0xBF};
  if (lead >= 0xE0 && lead <= 0xEF) {
    // Overlong below U+0800 after E0; surrogates after ED.
    return {3, static_cast<unsigned char>(lead == 0xE0 ? 0xA0 : 0x80),
            static_cast<unsigned char>(lead == 0xED ? 0x9F : 0xBF)};
  }
  if (lead >= 0xF0 && lead <= 0xF4) {
    // Overlong below U+10000 after F0; above U+10FFFF after F4.
    return {4, static_cast<unsigned char>(lead == 0xF0 ? 0x90 : 0x80),
            static_cast<unsigned char>(lead == 0xF4 ? 0x8F : 0xBF)};
  }
  return {};
}

// The length of the well-formed UTF-8 sequence of two or more bytes at p, of the `avail`
// bytes there; 0 when the bytes there are not one.
std::size_t wellFormedSequenceLength(const unsigned char* p, std::size_t avail);

// Whether a text is the whole input or its first bytes, the input going on past them (a part
// that a buffer cut off).
enum class TextEnd { Whole, CutOff };

// The length of the longest prefix of `text` of at most `limit` bytes that does not end inside
// a character that the input starts. The input is read from its start as a row of
//  - characters: well-formed UTF-8 sequences (Unicode table 3-7: no overlong form, no
//    surrogate, nothing above U+10FFFF);
//  - single bytes: every other byte (a stray continuation byte, C0, C1, F5 to FF, a lead byte
//    whose sequence breaks off before a byte that cannot continue it) counts as a character
//    of one byte, so invalid input is cut at the limit itself.
// Where `text` ends before the last byte of a sequence that is well-formed so far, that
// sequence is a character which the end of a cut-off text splits, and goes with the rest of
// it; the end of a whole text completes nothing, so there its bytes are single bytes and stay.
// Valid UTF-8 is cut on its character boundaries, and a whole text that fits comes back whole.
std::size_t cutOnCharacterBoundary(std::string_view text, std::size_t limit,
                                   TextEnd end = TextEnd::Whole);

}  // namespace rowpress
