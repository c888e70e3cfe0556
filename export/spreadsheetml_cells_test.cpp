// The cells of the workbook writer: which values become Number cells, escaping, UTF-8, the
// string limit and fixed width.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "export/spreadsheetml_writer.h"
#include "tests/support/spreadsheetml_test_support.h"
#include "tests/support/xml_check.h"

namespace rowpress {
namespace {

using namespace support;  // the workbook's lines and cells, the writer fixture

TEST_F(SpreadsheetMlWriterTest, NumericTypesWithNumericTextGiveNumberCells) {
  EXPECT_EQ(oneCell(column("N", kInteger), "-12", false), numberCell("-12"));
  EXPECT_EQ(oneCell(column("N", kDouble), "3.25", false), numberCell("3.25"));
  for (std::int16_t type : {2, 3, 4, 5, 6, 7, 8, -6, -5}) {
    EXPECT_EQ(oneCell(column("N", type), "+7.5", false), numberCell("+7.5")) << type;
  }
  // With forceFullLength a Number cell is still the value unchanged.
  EXPECT_EQ(oneCell(column("N", kInteger, 10), "42", true), numberCell("42"));
  EXPECT_EQ(oneCell(column("N", kInteger, 1), "12345", true), numberCell("12345"));
}

TEST_F(SpreadsheetMlWriterTest, OtherValuesGiveStringCells) {
  EXPECT_EQ(oneCell(column("N", kDouble), "1.5E+10", false), stringCell("1.5E+10"));
  EXPECT_EQ(oneCell(column("N", kVarchar), "42", false), stringCell("42"));
  EXPECT_EQ(oneCell(column("N", -7), "1", false), stringCell("1"));  // SQL_BIT
  EXPECT_EQ(oneCell(column("N", kInteger), "1-2", false), stringCell("1-2"));
  EXPECT_EQ(oneCell(column("N", 3), "1.2.3", false), stringCell("1.2.3"));
  EXPECT_EQ(oneCell(column("N", kInteger), "1,000", false), stringCell("1,000"));
  // A NULL (the empty value) is an empty String cell, in a numeric column too.
  EXPECT_EQ(oneCell(column("N", kInteger), "", false), stringCell(""));
  EXPECT_EQ(oneCell(column("N", kVarchar), "", false), stringCell(""));
  // With forceFullLength the String cell of a numeric column gets the fixed-width form.
  EXPECT_EQ(oneCell(column("N", kInteger, 3), "", true), stringCell("   "));
  EXPECT_EQ(oneCell(column("N", kVarchar, 4), "", true), stringCell("    "));
  EXPECT_EQ(oneCell(column("N", kDouble, 5), "1-2", true), stringCell("1-2  "));
}

TEST_F(SpreadsheetMlWriterTest, NumbersOfMoreThan15SignificantDigitsGiveStringCells) {
  for (std::int16_t type : {2, 3, 4, 5, 6, 7, 8, -6, -5}) {
    EXPECT_EQ(oneCell(column("N", type), "12345678901234567", false),
              stringCell("12345678901234567"))
        << type;
  }
  EXPECT_EQ(oneCell(column("N", -5), "1000000000000000000", false),
            stringCell("1000000000000000000"));
  EXPECT_EQ(oneCell(column("N", -5), "-1234567890123456", false), stringCell("-1234567890123456"));
  // As a String cell it takes the fixed width like any other.
  EXPECT_EQ(oneCell(column("N", -5, 20), "12345678901234567", true),
            stringCell("12345678901234567   "));
  // Fifteen digits and leading zeros stay Numbers.
  EXPECT_EQ(oneCell(column("N", -5), "123456789012345", false), numberCell("123456789012345"));
  EXPECT_EQ(oneCell(column("N", -5), "-000123456789012345", false),
            numberCell("-000123456789012345"));
  // A DECIMAL's digits count to its last one that is not zero; a DOUBLE's decimal is the
  // shortest form of the binary value that the cell holds.
  EXPECT_EQ(oneCell(column("N", 3), "1234567890123456.25", false),
            stringCell("1234567890123456.25"));
  EXPECT_EQ(oneCell(column("N", 3), "12345.678901234500", false), numberCell("12345.678901234500"));
  EXPECT_EQ(oneCell(column("N", 8), "0.3333333333333333", false), numberCell("0.3333333333333333"));
}

TEST_F(SpreadsheetMlWriterTest, BinaryColumnsGiveTheBinaryCellWhateverTheValue) {
  for (std::int16_t type : {-2, -3, -4}) {
    EXPECT_EQ(oneCell(column("B", type, 3), "<BINARY>", false), kBinaryCell) << type;
    EXPECT_EQ(oneCell(column("B", type, 3), "<BINARY>", true), kBinaryCell) << type;
    EXPECT_EQ(oneCell(column("B", type, 100), "", true), kBinaryCell) << type;
    EXPECT_EQ(oneCell(column("B", type, 0), "123", false), kBinaryCell) << type;
  }
}

TEST_F(SpreadsheetMlWriterTest, StringContentIsEscapedAndControlBytesDropped) {
  EXPECT_EQ(oneCell(column("S", kVarchar), "O'Neil <x>", false),
            stringCell("O&apos;Neil &lt;x&gt;"));
  EXPECT_EQ(oneCell(column("S", kVarchar), "a\tb\r\nc\xE9z", false), stringCell("abcz"));
  EXPECT_EQ(oneCell(column("S", kVarchar), "say \"hi\" & bye", false),
            stringCell("say &quot;hi&quot; &amp; bye"));
}

TEST_F(SpreadsheetMlWriterTest, Utf8IsKeptAndInvalidBytesDropped) {
  EXPECT_EQ(oneCell(column("S", kVarchar),
                    "Z\xC3\xBCrich \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80", false),
            stringCell("Z\xC3\xBCrich \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80"));
  EXPECT_EQ(oneCell(column("S", kVarchar),
                    "a\xC0\x80"
                    "b\xED\xA0\x80"
                    "c\xF4\x90\x80\x80"
                    "d\x80"
                    "e\xEF\xBF\xBE"
                    "f\xEF\xBF\xBF"
                    "g\xE2\x82",
                    false),
            stringCell("abcdefg"));
}

TEST_F(SpreadsheetMlWriterTest, StringLimitIs32765Bytes) {
  const std::string fits(32765, 'x');
  const std::string over(32766, 'x');
  EXPECT_EQ(oneCell(column("S", kVarchar), fits, false), stringCell(fits));
  EXPECT_EQ(oneCell(column("S", kVarchar), over, false), stringCell("&lt;Too Large&gt;"));
  // Measured in bytes before any change: escaping growth does not count, dropping neither.
  const std::string ampersands(32765, '&');
  std::string escaped;
  for (int i = 0; i < 32765; ++i) escaped += "&amp;";
  EXPECT_EQ(oneCell(column("S", kVarchar), ampersands, false), stringCell(escaped));
  EXPECT_EQ(oneCell(column("S", kVarchar), std::string(32766, '\t'), false),
            stringCell("&lt;Too Large&gt;"));
  // Two-byte characters: 32,766 bytes are too large.
  std::string twoByte;
  for (int i = 0; i < 16383; ++i) twoByte += "\xC3\xA9";
  EXPECT_EQ(oneCell(column("S", kVarchar), twoByte, false), stringCell("&lt;Too Large&gt;"));
  // The limit is tested before the fixed width.
  EXPECT_EQ(oneCell(column("S", kVarchar, 5), over, true), stringCell("&lt;Too Large&gt;"));
  EXPECT_EQ(oneCell(column("S", kVarchar, 5), fits, true), stringCell("xxxxx"));
  // A Number cell is never too large; a whole number of that many digits is a String cell.
  const std::string digits = std::string(40000, '9') + ".5";
  EXPECT_EQ(oneCell(column("N", kDouble), digits, false), numberCell(digits));
  EXPECT_EQ(oneCell(column("N", kInteger), std::string(40000, '9'), false),
            stringCell("&lt;Too Large&gt;"));
}

TEST_F(SpreadsheetMlWriterTest, FixedWidthIsCountedBeforeEscaping) {
  EXPECT_EQ(oneCell(column("S", kVarchar, 5), "ab", true), stringCell("ab   "));
  EXPECT_EQ(oneCell(column("S", kVarchar, 5), "abcdefg", true), stringCell("abcde"));
  EXPECT_EQ(oneCell(column("S", kVarchar, 4), "a&b<c", true), stringCell("a&amp;b&lt;"));
  EXPECT_EQ(oneCell(column("S", kVarchar, 3), "&", true), stringCell("&amp;  "));
  EXPECT_EQ(oneCell(column("S", kVarchar, 0), "abc", true), stringCell(""));
  EXPECT_EQ(oneCell(column("S", kVarchar, -1), "abc", true), stringCell(""));
  // Control bytes count towards the width, then are dropped.
  EXPECT_EQ(oneCell(column("S", kVarchar, 4), "a\tb", true), stringCell("ab "));
}

TEST_F(SpreadsheetMlWriterTest, FixedWidthCutInsideAMultiByteCharacter) {
  // "aé€" is 61 C3 A9 E2 82 AC.
  EXPECT_EQ(oneCell(column("S", kVarchar, 2), "a\xC3\xA9\xE2\x82\xAC", true), stringCell("a "));
  EXPECT_EQ(oneCell(column("S", kVarchar, 4), "a\xC3\xA9\xE2\x82\xAC", true),
            stringCell("a\xC3\xA9 "));
  EXPECT_EQ(oneCell(column("S", kVarchar, 5), "a\xC3\xA9\xE2\x82\xAC", true),
            stringCell("a\xC3\xA9  "));
  EXPECT_EQ(oneCell(column("S", kVarchar, 6), "a\xC3\xA9\xE2\x82\xAC", true),
            stringCell("a\xC3\xA9\xE2\x82\xAC"));
  EXPECT_EQ(oneCell(column("S", kVarchar, 8), "a\xC3\xA9\xE2\x82\xAC", true),
            stringCell("a\xC3\xA9\xE2\x82\xAC  "));
}

TEST_F(SpreadsheetMlWriterTest, HeaderNamesAreEscapedLikeStringContent) {
  const std::string file =
      workbook({column("a<b&c", kVarchar), column("O'Neil \"q\" >", kInteger),
                column("tab\there\xE9", kVarchar), column("caf\xC3\xA9", kVarchar)},
               {}, false);
  EXPECT_EQ(file, header() + tag(4, 1) + "      \r\n<Row>\r\n" + stringCell("a&lt;b&amp;c") +
                      stringCell("O&apos;Neil &quot;q&quot; &gt;") + stringCell("tabhere") +
                      stringCell("caf\xC3\xA9") + "</Row>\r\n" + trailer());
  expectWellFormed(path_);
}

}  // namespace
}  // namespace rowpress
