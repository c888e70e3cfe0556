#include "job/utf8.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/fuzz/random_input.h"

namespace rowpress {
namespace {

// A part that a buffer cut off, cut at its own end: a character that the end splits goes.
std::size_t withoutCutShortEnd(std::string_view text) {
  return cutOnCharacterBoundary(text, text.size(), TextEnd::CutOff);
}

TEST(Utf8, CutsNeverSplitACharacter) {
  const std::string text = "ab\xC3\xA9z\xE2\x82\xAC";  // a b é z €
  EXPECT_EQ(cutOnCharacterBoundary(text, 100), text.size());
  EXPECT_EQ(cutOnCharacterBoundary(text, 2), 2u);
  EXPECT_EQ(cutOnCharacterBoundary(text, 3), 2u);  // inside é
  EXPECT_EQ(cutOnCharacterBoundary(text, 4), 4u);
  EXPECT_EQ(cutOnCharacterBoundary(text, 6), 5u);  // one byte into €
  EXPECT_EQ(cutOnCharacterBoundary(text, 7), 5u);  // two bytes into €
  EXPECT_EQ(cutOnCharacterBoundary("abc", 3), 3u);
  EXPECT_EQ(cutOnCharacterBoundary("abc", 0), 0u);
  EXPECT_EQ(cutOnCharacterBoundary("\xC3\xA9", 1), 0u);
  EXPECT_EQ(cutOnCharacterBoundary("\xF0\x9F\x98\x80", 3), 0u);

  // A part that a buffer cut off loses the character that the cut split.
  EXPECT_EQ(withoutCutShortEnd(text), text.size());
  EXPECT_EQ(withoutCutShortEnd(text.substr(0, 6)), 5u);
  EXPECT_EQ(withoutCutShortEnd(text.substr(0, 3)), 2u);
  EXPECT_EQ(withoutCutShortEnd("abc"), 3u);
  EXPECT_EQ(withoutCutShortEnd("a\xF0\x9F\x98"), 1u);
}

TEST(Utf8, BytesThatStartNoCharacterAreCharactersOfOneByte) {
  // Stray continuation bytes, each one of its own.
  EXPECT_EQ(cutOnCharacterBoundary("\x80\x80\x80", 2), 2u);
  EXPECT_EQ(cutOnCharacterBoundary("\x80\x80\x80\x80\x80\x80", 4), 4u);
  EXPECT_EQ(cutOnCharacterBoundary("a\x80\x80\x80\x80", 2), 2u);
  // A lead byte followed by a byte that cannot continue it.
  EXPECT_EQ(cutOnCharacterBoundary("a\xE9z", 2), 2u);
  EXPECT_EQ(cutOnCharacterBoundary("\xE2\x41\x82", 2), 2u);
  // A whole character followed by a stray continuation byte.
  EXPECT_EQ(cutOnCharacterBoundary("\xC3\xA9\x80", 2), 2u);
  EXPECT_EQ(cutOnCharacterBoundary("\xE2\x82\xAC\x80", 3), 3u);
  // Bytes that never start a character: C0 and C1 (overlong forms), F5 and above.
  EXPECT_EQ(cutOnCharacterBoundary("\xC0\x80", 1), 1u);
  EXPECT_EQ(cutOnCharacterBoundary("\xF5\x80\x80\x80", 2), 2u);
  EXPECT_EQ(cutOnCharacterBoundary("\xFF\xBF", 1), 1u);
  // Sequences that are not well-formed: overlong, a surrogate, above U+10FFFF.
  EXPECT_EQ(cutOnCharacterBoundary("\xE0\x80\x80", 2), 2u);
  EXPECT_EQ(cutOnCharacterBoundary("\xED\xA0\x80", 2), 2u);
  EXPECT_EQ(cutOnCharacterBoundary("\xF4\x90\x80\x80", 3), 3u);
  // A whole text that fits comes back whole, even when it is no UTF-8 (Latin-1 "café").
  EXPECT_EQ(cutOnCharacterBoundary("caf\xE9", 4), 4u);
  EXPECT_EQ(cutOnCharacterBoundary("ab\xF0\x9F\x98", 10), 5u);
  EXPECT_EQ(cutOnCharacterBoundary("a\xF0\x9F\x98", 2), 2u);
  // At the end of a part, only the start of a well-formed sequence goes.
  EXPECT_EQ(withoutCutShortEnd("ab\xC0"), 3u);
  EXPECT_EQ(withoutCutShortEnd("ab\xED\xA0"), 4u);
  EXPECT_EQ(withoutCutShortEnd("ab\xED\x9F"), 2u);
  EXPECT_EQ(withoutCutShortEnd("ab\x80\x80\x80"), 5u);
}

// An independent reading of UTF-8, by code points: the lengths of the pieces of `text` in
// order, each a character or a single byte; at the end of a cut-off text, the start of a
// sequence that can still become a character is one whose length reaches past the end.
std::vector<std::size_t> pieces(std::string_view text, TextEnd end) {
  std::vector<std::size_t> lengths;
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    int ones = 0;
    while (ones < 8 && (lead & (0x80 >> ones))) ++ones;
    std::size_t length = 1;
    if (ones >= 2 && ones <= 4) {
      const std::size_t n = static_cast<std::size_t>(ones);
      const std::uint32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
      std::uint32_t low = lead & (0x7F >> ones);  // the code point with the rest all 0 bits
      std::size_t seen = 1;
      bool continued = true;  // every byte so far continues the sequence
      for (; seen < n && i + seen < text.size(); ++seen) {
        const auto next = static_cast<unsigned char>(text[i + seen]);
        if ((next >> 6) != 2) {
          continued = false;
          break;
        }
        low = (low << 6) | (next & 0x3F);
      }
      if (continued) {
        // The code points the sequence can still stand for, however it ends.
        const std::size_t missing = n - seen;
        const std::uint32_t first = low << (6 * missing);
        const std::uint32_t last = first | ((1u << (6 * missing)) - 1);
        auto scalar = [&](std::uint32_t from, std::uint32_t to) {
          // Some value in [from, to] is a scalar value of this length.
          const std::uint32_t a = std::max(from, smallest[n]);
          const std::uint32_t b = std::min(to, 0x10FFFFu);
          return a <= b && !(a >= 0xD800 && b <= 0xDFFF);
        };
        if (scalar(first, last) && (missing == 0 || end == TextEnd::CutOff)) length = n;
      }
    }
    lengths.push_back(length);
    i += length;
  }
  return lengths;
}

TEST(Utf8, RandomBytesAreCutWhereAnIndependentReadingCutsThem) {
  support::RandomInput random(20261209);
  // Bytes of every kind, more of them near the borders of the well-formed ranges.
  const std::string alphabet =
      "aZ \x7F\x80\x8F\x90\x9F\xA0\xBF\xC0\xC1\xC2\xDF\xE0\xE1\xEC\xED\xEE\xEF\xF0\xF1\xF3\xF4"
      "\xF5\xF7\xF8\xFE\xFF";
  const int inputs = support::RandomInput::count(200000);
  for (int n = 0; n < inputs; ++n) {
    const std::size_t size = static_cast<std::size_t>(random.between(0, 12));
    const std::string text = random.chance(0.2)   ? random.awkwardText(6)
                             : random.chance(0.5) ? random.from(alphabet, size)
                                                  : random.bytes(size);
    const auto limit = static_cast<std::size_t>(random.between(0, text.size() + 2));
    const TextEnd end = random.chance(0.5) ? TextEnd::Whole : TextEnd::CutOff;
    // The longest prefix within the limit that ends after a whole piece.
    std::size_t expected = 0;
    std::size_t pieceEnd = 0;
    for (std::size_t length : pieces(text, end)) {
      pieceEnd += length;
      if (pieceEnd <= limit && pieceEnd <= text.size()) expected = pieceEnd;
    }
    ASSERT_EQ(cutOnCharacterBoundary(text, limit, end), expected)
        << "limit " << limit << (end == TextEnd::CutOff ? ", cut off" : ", whole") << ", bytes "
        << ::testing::PrintToString(text) << " (ROWPRESS_FUZZ_START=" << random.start() << ")";
  }
}

}  // namespace
}  // namespace rowpress
