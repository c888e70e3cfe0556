#include "settings/password_scramble.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace rowpress {
namespace {

std::string bytes(std::initializer_list<int> values) {
  std::string out;
  for (int v : values) out.push_back(static_cast<char>(v));
  return out;
}

TEST(PasswordScramble, KnownPairsWorkedOutByHand) {
  // byte 0: length + 20; then (key XOR password) + 20. 'K' ^ 'a' = 42, 't' ^ 'b' = 22.
  EXPECT_EQ(scramblePassword("a"), bytes({21, 62}));
  EXPECT_EQ(scramblePassword("ab"), bytes({22, 62, 42}));
  EXPECT_EQ(scramblePassword("Secret!"), bytes({27, 44, 37, 66, 24, 92, 85, 37}));
  // 'K' ^ 0xBB = 240; 240 + 20 wraps round to 4.
  EXPECT_EQ(scramblePassword("\xBB"), bytes({21, 4}));
}

TEST(PasswordScramble, KeyStreamEndsWithAZeroByteAndRepeatsEvery18Bytes) {
  // Byte 17 of the password meets the zero byte ('R' + 20); byte 18 meets 'K' again.
  EXPECT_EQ(scramblePassword("ABCDEFGHIJKLMNOPQRS"),
            bytes({39,  30,  74,  34,  70,  124, 135, 139, 132, 120,
                   146, 122, 146, 136, 141, 27,  46,  51,  102, 44}));
}

TEST(PasswordScramble, EmptyPasswordIsTheSingleByte20) {
  EXPECT_EQ(scramblePassword(""), bytes({20}));
  EXPECT_EQ(unscramblePassword(bytes({20})), "");
}

TEST(PasswordScramble, At107BytesItFitsAndOneMoreIsRefusedNotCut) {
  std::string longest(107, 'p');
  std::optional<std::string> scrambled = scramblePassword(longest);
  ASSERT_TRUE(scrambled);
  EXPECT_EQ(scrambled->size(), 108u);
  EXPECT_EQ(static_cast<unsigned char>((*scrambled)[0]), 127);
  EXPECT_EQ(unscramblePassword(*scrambled), longest);

  EXPECT_EQ(scramblePassword(longest + "p"), std::nullopt);
  EXPECT_EQ(scramblePassword(std::string(127, 'p')), std::nullopt);
}

TEST(PasswordScramble, EveryByteValueComesBack) {
  for (int start = 0; start < 256; start += 100) {
    std::string password;
    for (int i = 0; i < 100; ++i) password.push_back(static_cast<char>((start + i) % 256));
    std::optional<std::string> scrambled = scramblePassword(password);
    ASSERT_TRUE(scrambled);
    EXPECT_EQ(unscramblePassword(*scrambled), password) << "from byte " << start;
  }
}

TEST(PasswordScramble, ScrambledFormCanHoldAClosingPair) {
  // 14 bytes give the length byte 34, a double quote; 'K' ^ 'l' = 39 gives 59, a semicolon.
  std::optional<std::string> scrambled = scramblePassword("l" + std::string(13, 'x'));
  ASSERT_TRUE(scrambled);
  EXPECT_EQ(scrambled->substr(0, 2), "\";");
}

TEST(PasswordScramble, BytesAfterTheAnnouncedLengthPlayNoPart) {
  EXPECT_EQ(unscramblePassword(bytes({21, 62, 'z', 'z'})), "a");
  EXPECT_EQ(unscramblePassword(bytes({20, 62})), "");
}

TEST(PasswordScramble, ValuesThatAreNotScrambledPasswordsGiveNothing) {
  EXPECT_EQ(unscramblePassword(""), std::nullopt);
  EXPECT_EQ(unscramblePassword(bytes({19, 62})), std::nullopt);  // length byte below 20
  EXPECT_EQ(unscramblePassword(bytes({0})), std::nullopt);
  EXPECT_EQ(unscramblePassword(bytes({128, 62})), std::nullopt);  // negative as a signed byte
  EXPECT_EQ(unscramblePassword(bytes({255})), std::nullopt);
  // Even followed by enough bytes for 108 or 235 characters.
  EXPECT_EQ(unscramblePassword("\x80" + std::string(300, 'A')), std::nullopt);
  EXPECT_EQ(unscramblePassword("\xFF" + std::string(300, 'A')), std::nullopt);
  // Announces 5 bytes but holds 2: never read past the end.
  EXPECT_EQ(unscramblePassword(bytes({25, 62, 42})), std::nullopt);
  EXPECT_EQ(unscramblePassword(bytes({127})), std::nullopt);
}

}  // namespace
}  // namespace rowpress
