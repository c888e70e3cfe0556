// Random inputs for the fuzz tests. Every test draws from a generator whose start value is
// printed, so that a failure can be repeated: ROWPRESS_FUZZ_START=N runs the same inputs
// again, and ROWPRESS_FUZZ_SCALE=K runs K times as many of them.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace rowpress::support {

class RandomInput {
 public:
  // `fixedStart` is used unless ROWPRESS_FUZZ_START gives another start value.
  explicit RandomInput(std::uint64_t fixedStart)
      : start_(startValue(fixedStart)), engine_(start_) {}

  std::uint64_t start() const { return start_; }

  // The number of inputs to try: `base` times ROWPRESS_FUZZ_SCALE (1 when unset).
  static int count(int base) {
    const char* scale = std::getenv("ROWPRESS_FUZZ_SCALE");
    long k = scale ? std::strtol(scale, nullptr, 10) : 1;
    return base * static_cast<int>(k > 0 ? k : 1);
  }

  // A whole number in [low, high].
  long long between(long long low, long long high) {
    return std::uniform_int_distribution<long long>(low, high)(engine_);
  }
  bool chance(double p) { return std::bernoulli_distribution(p)(engine_); }
  template <typename T>
  const T& pick(const std::vector<T>& items) {
    return items[static_cast<std::size_t>(between(0, static_cast<long long>(items.size()) - 1))];
  }

  // `n` bytes of any value, 0 included.
  std::string bytes(std::size_t n) {
    std::string out(n, '\0');
    for (char& c : out) c = static_cast<char>(between(0, 255));
    return out;
  }

  // `n` bytes drawn from `alphabet`.
  std::string from(std::string_view alphabet, std::size_t n) {
    std::string out(n, ' ');
    const auto last = static_cast<long long>(alphabet.size()) - 1;
    for (char& c : out) c = alphabet[static_cast<std::size_t>(between(0, last))];
    return out;
  }

  // Text of the kind that gives writers and readers trouble: markup and separators, quotes,
  // line breaks and other control bytes, well-formed and broken UTF-8, any byte at all.
  std::string awkwardText(std::size_t maxPieces) {
    static const std::vector<std::string> pieces = {
        "a",
        "Zz",
        "0",
        "42",
        "-3.25",
        " ",
        "  ",
        "<",
        ">",
        "&",
        "&amp;",
        "\"",
        "'",
        ",",
        "\t",
        "\r",
        "\n",
        "\r\n",
        ";",
        "|",
        "\";",
        "\"+",
        "é",
        "€",
        "😀",
        "\xC3",
        "\x80",
        "\xFF",
        "\xED\xA0\x80",
        "\xEF\xBF\xBE",
        "\x01",
        "\x1F",
        "\x7F",
        "]]>",
        "<!--",
        "<b>",
        "=1+1",
        "1E+10",
    };
    std::string out;
    const auto n = static_cast<std::size_t>(between(0, static_cast<long long>(maxPieces)));
    for (std::size_t i = 0; i < n; ++i) {
      out += chance(0.1) ? bytes(static_cast<std::size_t>(between(1, 3))) : pick(pieces);
    }
    return out;
  }

 private:
  static std::uint64_t startValue(std::uint64_t fixedStart) {
    const char* text = std::getenv("ROWPRESS_FUZZ_START");
    std::uint64_t value = text && *text ? std::strtoull(text, nullptr, 10) : fixedStart;
    std::cout << "[ fuzz     ] start value " << value << " (ROWPRESS_FUZZ_START)\n";
    return value;
  }

  std::uint64_t start_;
  std::mt19937_64 engine_;
};

}  // namespace rowpress::support
