#include "job/sheet_names.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace rowpress {
namespace {

TEST(SheetNames, NamesAWorkbookHolds) {
  for (const char* name : {"Orders", "a", "Q1 2024 (north)", "O'Neil", "Zürich € 日本語", "😀",
                           "sum = a + b; #1 & <2>", "1234567890123456789012345678901"}) {
    EXPECT_EQ(sheetNameProblem(name), "") << name;
  }
  // 15 characters beyond U+FFFF and one more: 31 UTF-16 code units.
  std::string astral;
  for (int i = 0; i < 15; ++i) astral += "😀";
  EXPECT_EQ(sheetNameProblem(astral + "x"), "");
}

TEST(SheetNames, NamesAWorkbookCannotHoldSayWhy) {
  EXPECT_EQ(sheetNameProblem(""), "the name is empty");
  for (const char* bad : {"a[1]", "]", "a:b", "*", "why?", "a/b", "a\\b"}) {
    const std::string problem = sheetNameProblem(bad);
    EXPECT_NE(problem.find("which a sheet's name cannot hold"), std::string::npos) << bad;
  }
  EXPECT_EQ(sheetNameProblem("a/b"), "the name holds \"/\", which a sheet's name cannot hold");
  EXPECT_EQ(sheetNameProblem("12345678901234567890123456789012"),
            "the name is 32 characters long, more than 31");
  // Counted in UTF-16 code units: 16 characters beyond U+FFFF are 32 units, 16 of U+20AC 16.
  std::string astral, euros;
  for (int i = 0; i < 16; ++i) {
    astral += "😀";
    euros += "€";
  }
  EXPECT_EQ(sheetNameProblem(astral), "the name is 32 characters long, more than 31");
  EXPECT_EQ(sheetNameProblem(euros), "");
  EXPECT_EQ(sheetNameProblem("'quoted"), "the name begins or ends with an apostrophe");
  EXPECT_EQ(sheetNameProblem("quoted'"), "the name begins or ends with an apostrophe");
  EXPECT_EQ(sheetNameProblem("'"), "the name begins or ends with an apostrophe");
  for (const std::string& control :
       {std::string("a\tb"), std::string("a\nb"), std::string("a\0b", 3), std::string("a\x7f"),
        std::string("a\xC2\x9B"
                    "b")}) {
    EXPECT_EQ(sheetNameProblem(control), "the name holds a control character");
  }
  // A stray continuation byte, a cut sequence, an overlong form and a surrogate.
  for (const std::string& invalid :
       {std::string("a\x80"), std::string("a\xE2\x82"), std::string("\xC0\xAF"),
        std::string("\xED\xA0\x80"), std::string("\xFF")}) {
    EXPECT_EQ(sheetNameProblem(invalid), "the name is not valid UTF-8");
  }
}

TEST(SheetNames, NamesCompareWithoutCase) {
  EXPECT_TRUE(sameSheetName("Orders", "ORDERS"));
  EXPECT_TRUE(sameSheetName("zürich", "ZÜRICH"));
  EXPECT_TRUE(sameSheetName("Łódź", "łÓDŹ"));
  EXPECT_TRUE(sameSheetName("ΑΘΗΝΑ", "αθηνα"));
  EXPECT_TRUE(sameSheetName("Москва", "МОСКВА"));
  EXPECT_TRUE(sameSheetName("ÿ", "Ÿ"));
  EXPECT_FALSE(sameSheetName("Orders", "Orders2"));
  EXPECT_FALSE(sameSheetName("Orders2", "Orders"));
  EXPECT_FALSE(sameSheetName("a×b", "a÷b"));  // not letters: U+00D7 and U+00F7
  EXPECT_FALSE(sameSheetName("e", "é"));
  EXPECT_FALSE(sameSheetName("\xFF", "\xC3\xBF"));  // a byte that is not UTF-8 is no ÿ
}

TEST(SheetNames, OverflowNamesNumberOnAndSkipNamesInUse) {
  int number = 2;
  EXPECT_EQ(overflowSheetName("Orders", number, {"Orders"}), "Orders (2)");
  EXPECT_EQ(number, 2);
  number = 2;
  EXPECT_EQ(overflowSheetName("Orders", number, {"Orders", "orders (2)", "ORDERS (3)"}),
            "Orders (4)");
  EXPECT_EQ(number, 4);
  number = 5;
  EXPECT_EQ(overflowSheetName("Orders", number, {"Orders", "Orders (2)"}), "Orders (5)");
}

TEST(SheetNames, OverflowNamesAreCutToFitOnCharacterBoundaries) {
  const std::string thirtyOne = "abcdefghijklmnopqrstuvwxyz01234";
  int number = 2;
  EXPECT_EQ(overflowSheetName(thirtyOne, number, {thirtyOne}), "abcdefghijklmnopqrstuvwxyz0 (2)");
  // A longer number takes more of the name.
  number = 10;
  EXPECT_EQ(overflowSheetName(thirtyOne, number, {}), "abcdefghijklmnopqrstuvwxyz (10)");
  // A cut lands before a character that no longer fits whole: "😀" is two code units.
  std::string astral;
  for (int i = 0; i < 15; ++i) astral += "😀";
  number = 2;
  const std::string cut = overflowSheetName(astral, number, {});
  EXPECT_EQ(cut, astral.substr(0, 13 * 4) + " (2)");  // 26 units and 4 more
  EXPECT_EQ(sheetNameProblem(cut), "");
  // "€" is one code unit of three bytes: 27 of them fit before " (2)".
  std::string euros;
  for (int i = 0; i < 31; ++i) euros += "€";
  number = 2;
  EXPECT_EQ(overflowSheetName(euros, number, {}), euros.substr(0, 27 * 3) + " (2)");
  // The cut name is compared as the whole name is: a cut that meets a name in use goes on.
  number = 2;
  EXPECT_EQ(overflowSheetName(thirtyOne, number, {"ABCDEFGHIJKLMNOPQRSTUVWXYZ0 (2)"}),
            "abcdefghijklmnopqrstuvwxyz0 (3)");
}

}  // namespace
}  // namespace rowpress
