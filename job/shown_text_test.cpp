// Text from outside as a terminal or the status list shows it.
#include "job/shown_text.h"

#include <gtest/gtest.h>

#include <string>

namespace rowpress {
namespace {

TEST(ShownText, ControlsAreEscapedForTheTerminalAndValidUtf8StaysAsItIs) {
  // The summary line that a crafted output path would paint over the real one.
  EXPECT_EQ(escapeControls("x\x1b[2K\rrowpress: 0 rows in 0.0 s"),
            "x\\x1b[2K\\rrowpress: 0 rows in 0.0 s");
  EXPECT_EQ(escapeControls("a\tb\nc\x7f\x01"), "a\\tb\\nc\\x7f\\x01");
  // U+009B is a terminal's one-byte CSI; U+00A0 and later are text.
  EXPECT_EQ(escapeControls("\xC2\x9B[2J \xC2\xA0 \xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"),
            "\\xc2\\x9b[2J \xC2\xA0 \xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80");
  // Bytes that are no UTF-8, each on its own: a stray continuation byte, a lead byte without
  // its continuation, a surrogate, an overlong form.
  EXPECT_EQ(escapeControls("\x80|\xC3|\xED\xA0\x80|\xC0\xAF"),
            "\\x80|\\xc3|\\xed\\xa0\\x80|\\xc0\\xaf");
  // The line end of a diagnostic line stays; line feeds inside it do not.
  EXPECT_EQ(escapeControls("[42601] ERROR: near \"`\";\nError (1)\n"),
            "[42601] ERROR: near \"`\";\\nError (1)\n");
  EXPECT_EQ(escapeControls("\n\n"), "\\n\n");
  EXPECT_EQ(escapeControls(""), "");
  EXPECT_EQ(escapeControls(std::string("a\0b", 3)), "a\\x00b");
}

TEST(ShownText, ABackslashIsDoubledOnlyWhereItWouldReadAsAnEscape) {
  EXPECT_EQ(escapeControls("C:\\Temp\\a b\\"), "C:\\Temp\\a b\\");
  EXPECT_EQ(escapeControls("\\d+\\.\\w"), "\\d+\\.\\w");
  // Before the letters of an escape and before another backslash, it is doubled ...
  EXPECT_EQ(escapeControls("C:\\new\\x.csv"), "C:\\\\new\\\\x.csv");
  EXPECT_EQ(escapeControls("a\\\\b"), "a\\\\\\b");
  EXPECT_EQ(escapeControls("\\r\\t"), "\\\\r\\\\t");
  // ... and before a byte that is escaped, so that "\" and a line feed do not read as "\n".
  EXPECT_EQ(escapeControls("a\\\n b"), "a\\\\\\n b");
  EXPECT_EQ(escapeControls("a\\\xC2\x85"), "a\\\\\\xc2\\x85");
}

}  // namespace
}  // namespace rowpress
