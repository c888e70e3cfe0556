#include "settings/password_scramble.h"

namespace rowpress {

namespace {

constexpr std::size_t kKeyPeriod = passwordKey.size() + 1;  // the key, then one zero byte
constexpr int kOffset = 20;

unsigned char keyByte(std::size_t i) {
  std::size_t at = i % kKeyPeriod;
  return at < passwordKey.size() ? static_cast<unsigned char>(passwordKey[at]) : 0;
}

}  // namespace

std::optional<std::string> scramblePassword(std::string_view password) {
  if (password.size() > kScrambledPasswordLimit) return std::nullopt;
  std::string out;
  out.reserve(password.size() + 1);
  out.push_back(static_cast<char>(password.size() + kOffset));
  for (std::size_t i = 0; i < password.size(); ++i) {
    unsigned mixed = keyByte(i) ^ static_cast<unsigned char>(password[i]);
    out.push_back(static_cast<char>(static_cast<unsigned char>(mixed + kOffset)));
  }
  return out;
}

std::optional<std::string> unscramblePassword(std::string_view scrambled) {
  if (scrambled.empty()) return std::nullopt;
  // The length byte is read as a signed byte: anything above 127 is negative and, like
  // anything below 20, announces no password at all.
  int length = static_cast<signed char>(scrambled[0]) - kOffset;
  if (length < 0) return std::nullopt;
  std::size_t n = static_cast<std::size_t>(length);
  if (scrambled.size() < n + 1) return std::nullopt;
  std::string out;
  out.reserve(n);
  for (std::size_t i = 0; i < n; ++i) {
    auto mixed = static_cast<unsigned char>(static_cast<unsigned char>(scrambled[i + 1]) - kOffset);
    out.push_back(static_cast<char>(mixed ^ keyByte(i)));
  }
  return out;
}

}  // namespace rowpress
