// The password of a settings file is stored scrambled: one length byte, then each byte of
// the password mixed with a fixed key. This keeps it from being read at a glance; it is not
// encryption, which is why settings files are created readable by their owner only.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace rowpress {

// The key mixed into the password. The key stream is these 17 bytes followed by one zero
// byte, repeating every 18 bytes.
inline constexpr std::string_view passwordKey = "KtMv-508-4-297HJN";

// The length byte is the password's length plus 20 and must stay within 20..127, so at most
// 107 bytes of password fit.
inline constexpr std::size_t kScrambledPasswordLimit = 107;

// The scrambled bytes of `password`: n + 1 bytes for n bytes of password. Nothing when the
// password is longer than kScrambledPasswordLimit: a cut password would connect with
// another one, so it is refused whole.
std::optional<std::string> scramblePassword(std::string_view password);

// The password held by `scrambled`, or nothing when `scrambled` is not a scrambled password
// (empty, a length byte outside 20..127, or fewer bytes than the length byte announces).
// Bytes after the announced length play no part.
std::optional<std::string> unscramblePassword(std::string_view scrambled);

}  // namespace rowpress
