// Cutting UTF-8 text at a byte limit without leaving part of a character behind.
#pragma once

#include <cstddef>
#include <string_view>

namespace rowpress {

// The longest prefix of `text` of at most `limit` bytes that does not end inside a UTF-8
// character: a value cut at a limit is cut on a character boundary.
std::size_t cutOnCharacterBoundary(std::string_view text, std::size_t limit);

// The length of `text` without a UTF-8 character that its end cuts short.
std::size_t withoutPartialCharacter(std::string_view text);

}  // namespace rowpress
