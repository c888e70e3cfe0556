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
  // Non-characters: XML 1.0 carries no U+FFFE or U+FFFF, and a reader may refuse the others.
  const struct {
    const char* name;
    const char* code;
  } nonCharacters[] = {{"A\xEF\xBF\xBE"
                        "B",
                        "U+FFFE"},
                       {"A\xEF\xBF\xBF", "U+FFFF"},
                       {"\xEF\xB7\x90", "U+FDD0"},
                       {"\xEF\xB7\xAF", "U+FDEF"},
                       {"\xF0\x9F\xBF\xBE", "U+1FFFE"},
                       {"\xF4\x8F\xBF\xBF", "U+10FFFF"}};
  for (const auto& c : nonCharacters) {
    EXPECT_EQ(sheetNameProblem(c.name), std::string("the name holds the non-character ") + c.code +
                                            ", which a workbook cannot hold");
  }
  EXPECT_EQ(sheetNameProblem("\xEF\xB7\x8F\xEF\xB7\xB0\xEF\xBF\xBD"), "");  // U+FDCF U+FDF0 U+FFFD
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
  // Unicode's full case folding, in every script, as the spreadsheet compares them.
  EXPECT_TRUE(sameSheetName("Ạ", "ạ"));
  EXPECT_TRUE(sameSheetName("Ａ", "ａ"));  // fullwidth
  EXPECT_TRUE(sameSheetName("Ǎ", "ǎ"));
  EXPECT_TRUE(sameSheetName("Ա", "ա"));  // Armenian
  EXPECT_TRUE(sameSheetName("Σ", "ς"));
  EXPECT_TRUE(sameSheetName("STRASSE", "straße"));
  // The dotted capital I folds to i with a dot above, not to the dotless ı.
  EXPECT_FALSE(sameSheetName("İ", "ı"));
  EXPECT_FALSE(
      sameSheetName("\xFF"
                    "a",
                    "\xFF"
                    "b"));
  EXPECT_TRUE(
      sameSheetName("\xFF"
                    "A",
                    "\xFF"
                    "a"));
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
