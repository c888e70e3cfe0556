#include "export/text_rules.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "export/output_file.h"

namespace rowpress {
namespace {

std::string xml(std::string_view text) {
  std::string out;
  appendXmlEscaped(out, text);
  return out;
}

std::string html(std::string_view text) {
  std::string out;
  appendHtmlEscaped(out, text);
  return out;
}

std::string fixed(std::string_view value, std::int32_t declaredSize) {
  const FixedWidth f = fixedWidth(value, declaredSize);
  return std::string(f.text) + std::string(f.padding, ' ');
}

TEST(TextRules, NumericTextIsSignDigitsAndAtMostOneFullStop) {
  for (const char* yes : {"0", "12", "-12", "+12", "3.25", "-3.25", "+.5", ".5", "7.", "-0.0",
                          "00012", "123456789012345678901234567890"}) {
    EXPECT_TRUE(isNumericText(yes)) << yes;
  }
  for (const char* no :
       {"",    "+",     "-",  ".",  "+.",  "-.",  "1-2", "1.2.3", "..",  "1..", "1E+10",
        "1e5", "1,000", " 1", "1 ", "--1", "+-1", "1+",  "0x10",  "NaN", "inf", "1\n"}) {
    EXPECT_FALSE(isNumericText(no)) << no;
  }
}

TEST(TextRules, LongNumbersHaveMoreThan15SignificantDigits) {
  for (const char* yes :
       {"1234567890123456", "12345678901234567", "-1234567890123456", "+1000000000000000000",
        "0001234567890123456", "-00001234567890123456", "9999999999999999", "1234567890123456.5",
        "12345678901234567.", ".12345678901234567", "1.2345678901234567",
        "-0.0000001234567890123456", "10000000000000000.0", "123456789012345.60"}) {
    EXPECT_TRUE(isLongNumber(yes)) << yes;
  }
  for (const char* no : {"123456789012345", "-123456789012345", "000000000000000001",
                         "0000000000000000000000", "-000123456789012345", "0.000000000000000001",
                         "1.50000000000000000000", "12345678901234.5", "-1234567890123.450000",
                         "0.0", "0", "", "12345678901234567E1", "1-2345678901234567", "."}) {
    EXPECT_FALSE(isLongNumber(no)) << no;
  }
  // A double's shortest form is the value itself; its whole numbers still count.
  EXPECT_FALSE(isLongNumber("0.3333333333333333", true));
  EXPECT_TRUE(isLongNumber("0.3333333333333333", false));
  EXPECT_TRUE(isLongNumber("12345678901234567", true));
}

TEST(TextRules, FixedWidthPadsAndCuts) {
  EXPECT_EQ(fixed("ab", 5), "ab   ");
  EXPECT_EQ(fixed("abcdefg", 5), "abcde");
  EXPECT_EQ(fixed("abcde", 5), "abcde");
  EXPECT_EQ(fixed("", 5), "     ");
  EXPECT_EQ(fixed("", 1), " ");
  EXPECT_EQ(fixed("abc", 0), "");
  EXPECT_EQ(fixed("abc", -1), "");
  EXPECT_EQ(fixed("abc", INT32_MIN), "");
  EXPECT_EQ(fixed("", 0), "");
  // A driver's "unlimited" size pads no wider than the longest possible value.
  EXPECT_EQ(fixed("ab", INT32_MAX).size(), 65536u);
  EXPECT_EQ(fixed("ab", 65537).size(), 65536u);
  EXPECT_EQ(fixed("ab", 65536).size(), 65536u);
}

TEST(TextRules, FixedWidthCutsOnCharacterBoundary) {
  // "é" is C3 A9; "€" is E2 82 AC; "😀" is F0 9F 98 80.
  EXPECT_EQ(fixed("a\xC3\xA9", 2), "a ");
  EXPECT_EQ(fixed("a\xC3\xA9", 3), "a\xC3\xA9");
  EXPECT_EQ(fixed("a\xC3\xA9z", 3), "a\xC3\xA9");
  EXPECT_EQ(fixed("\xE2\x82\xAC", 1), " ");
  EXPECT_EQ(fixed("\xE2\x82\xAC", 2), "  ");
  EXPECT_EQ(fixed("\xE2\x82\xAC!", 3), "\xE2\x82\xAC");
  EXPECT_EQ(fixed("x\xF0\x9F\x98\x80", 2), "x ");
  EXPECT_EQ(fixed("x\xF0\x9F\x98\x80", 3), "x  ");
  EXPECT_EQ(fixed("x\xF0\x9F\x98\x80", 4), "x   ");
  EXPECT_EQ(fixed("x\xF0\x9F\x98\x80y", 5), "x\xF0\x9F\x98\x80");
  EXPECT_EQ(fixed("\xC3\xA9\xC3\xA9\xC3\xA9", 5), "\xC3\xA9\xC3\xA9 ");
  // Every result is exactly declaredSize bytes.
  for (int width = 1; width <= 12; ++width) {
    EXPECT_EQ(fixed(std::string("\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80") + "abc", width).size(),
              static_cast<std::size_t>(width));
  }
}

TEST(TextRules, XmlEscapingReplacesTheFiveSpecialCharacters) {
  EXPECT_EQ(xml("O'Neil <x>"), "O&apos;Neil &lt;x&gt;");
  EXPECT_EQ(xml("A&B"), "A&amp;B");
  EXPECT_EQ(xml("say \"hi\""), "say &quot;hi&quot;");
  EXPECT_EQ(xml("<>&\"'"), "&lt;&gt;&amp;&quot;&apos;");
  EXPECT_EQ(xml("plain text 123 ~!@#$%^*()_+=-`[]{}|\\;:,./?\x7F"),
            "plain text 123 ~!@#$%^*()_+=-`[]{}|\\;:,./?\x7F");
  EXPECT_EQ(xml(""), "");
}

TEST(TextRules, XmlEscapingDropsControlBytes) {
  std::string all;
  for (int c = 0; c < 32; ++c) all.push_back(static_cast<char>(c));
  EXPECT_EQ(xml(all), "");
  EXPECT_EQ(xml("a\tb\r\nc"), "abc");
  EXPECT_EQ(xml(std::string("x\0y", 3)), "xy");
}

TEST(TextRules, XmlEscapingKeepsValidUtf8) {
  EXPECT_EQ(xml("caf\xC3\xA9"), "caf\xC3\xA9");                            // é
  EXPECT_EQ(xml("\xC2\x80\xDF\xBF"), "\xC2\x80\xDF\xBF");                  // U+0080, U+07FF
  EXPECT_EQ(xml("\xE0\xA0\x80\xE2\x82\xAC"), "\xE0\xA0\x80\xE2\x82\xAC");  // U+0800, €
  EXPECT_EQ(xml("\xE6\x97\xA5\xE6\x9C\xAC"), "\xE6\x97\xA5\xE6\x9C\xAC");  // 日本
  EXPECT_EQ(xml("\xED\x9F\xBF\xEE\x80\x80"), "\xED\x9F\xBF\xEE\x80\x80");  // U+D7FF, U+E000
  EXPECT_EQ(xml("\xEF\xBF\xBD"), "\xEF\xBF\xBD");                          // U+FFFD
  EXPECT_EQ(xml("\xF0\x90\x80\x80\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF"),
            "\xF0\x90\x80\x80\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF");  // U+10000, 😀, U+10FFFF
  EXPECT_EQ(xml("\xC3\xA9<\xC3\xA9"), "\xC3\xA9&lt;\xC3\xA9");
}

TEST(TextRules, XmlEscapingDropsInvalidUtf8) {
  EXPECT_EQ(xml("a\xE9z"), "az");  // a lone Latin-1 byte (233)
  EXPECT_EQ(xml("a\x80z"), "az");  // stray continuation byte
  EXPECT_EQ(xml("a\xBF\xBFz"), "az");
  EXPECT_EQ(xml("a\xC0\x80z"), "az");          // overlong NUL
  EXPECT_EQ(xml("a\xC1\xBFz"), "az");          // overlong
  EXPECT_EQ(xml("a\xE0\x80\xAFz"), "az");      // overlong "/"
  EXPECT_EQ(xml("a\xF0\x80\x80\xAFz"), "az");  // overlong "/"
  EXPECT_EQ(xml("a\xED\xA0\x80z"), "az");      // surrogate U+D800
  EXPECT_EQ(xml("a\xED\xBF\xBFz"), "az");      // surrogate U+DFFF
  EXPECT_EQ(xml("a\xF4\x90\x80\x80z"), "az");  // U+110000
  EXPECT_EQ(xml("a\xF5\x80\x80\x80z"), "az");
  EXPECT_EQ(xml("a\xFF\xFEz"), "az");
  EXPECT_EQ(xml("a\xEF\xBF\xBEz"), "az");  // U+FFFE
  EXPECT_EQ(xml("a\xEF\xBF\xBFz"), "az");  // U+FFFF
  EXPECT_EQ(xml("a\xE2\x82z"), "az");      // truncated, followed by ASCII
  EXPECT_EQ(xml("a\xE2\x82"), "a");        // truncated at the end
  EXPECT_EQ(xml("a\xC3"), "a");
  EXPECT_EQ(xml("a\xF0\x9F\x98"), "a");
  EXPECT_EQ(xml("\xC3\xC3\xA9"), "\xC3\xA9");  // a bad lead, then a good character
  EXPECT_EQ(xml("\xE2\x82<"), "&lt;");
}

TEST(TextRules, HtmlEscapingReplacesFourCharactersAndKeepsTheRest) {
  EXPECT_EQ(html("<BINARY>"), "&lt;BINARY&gt;");
  EXPECT_EQ(html("a&b \"q\" 'x'"), "a&amp;b &quot;q&quot; 'x'");
  EXPECT_EQ(html("line1\r\nline2\ttab \xC3\xA9 \xE9"), "line1\r\nline2\ttab \xC3\xA9 \xE9");
  EXPECT_EQ(html(""), "");
  EXPECT_EQ(html("&&"), "&amp;&amp;");
}

class TextRulesFile : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "rowpress-rules-XXXXXX");
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::string read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  std::filesystem::path dir_;
};

TEST_F(TextRulesFile, WritingFormsMatchTheAppendingForms) {
  const std::string path = dir_ / "out.txt";
  OutputFile out = OutputFile::create(path, true);
  ASSERT_TRUE(out.isOpen());
  writeXmlEscaped(out, "a<b\xE9\xC3\xA9&'\"\n");
  out.put('|');
  writeHtmlEscaped(out, "x<y>&\"z\nw");
  out.put('|');
  writeSpaces(out, 300);
  out.put('|');
  writeSpaces(out, 0);
  out.put('|');
  ASSERT_TRUE(out.close());
  EXPECT_EQ(read(path), "a&lt;b\xC3\xA9&amp;&apos;&quot;|x&lt;y&gt;&amp;&quot;z\r\nw|" +
                            std::string(300, ' ') + "||");
}

}  // namespace
}  // namespace rowpress
