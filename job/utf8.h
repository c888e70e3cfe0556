// Cutting UTF-8 text at a byte limit without leaving part of a character behind: the one rule
// for every value, name, path and message that rowpress cuts.
#pragma once

#include <cstddef>
#include <string_view>

namespace rowpress {

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
