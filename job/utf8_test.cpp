#include "job/utf8.h"

#include <gtest/gtest.h>

#include <string>

namespace rowpress {
namespace {

TEST(Utf8, CutsNeverSplitACharacter) {
  const std::string text = "ab\xC3\xA9z\xE2\x82\xAC";  // a b é z €
  EXPECT_EQ(cutOnCharacterBoundary(text, 100), text.size());
  EXPECT_EQ(cutOnCharacterBoundary(text, 2), 2u);
  EXPECT_EQ(cutOnCharacterBoundary(text, 3), 2u);  // inside é
  EXPECT_EQ(cutOnCharacterBoundary(text, 4), 4u);
  EXPECT_EQ(cutOnCharacterBoundary(text, 6), 5u);  // one byte into €
  EXPECT_EQ(cutOnCharacterBoundary(text, 7), 5u);  // two bytes into €
  // Bytes that are not UTF-8 are cut where the limit falls.
  EXPECT_EQ(cutOnCharacterBoundary("\x80\x80\x80", 2), 2u);
  EXPECT_EQ(cutOnCharacterBoundary("a\xE9z", 2), 2u);

  EXPECT_EQ(withoutPartialCharacter(text), text.size());
  EXPECT_EQ(withoutPartialCharacter(text.substr(0, 6)), 5u);
  EXPECT_EQ(withoutPartialCharacter(text.substr(0, 3)), 2u);
  EXPECT_EQ(withoutPartialCharacter("abc"), 3u);
}

}  // namespace
}  // namespace rowpress
