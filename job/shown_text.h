// Text as a terminal or the status list shows it.
#pragma once

#include <string>
#include <string_view>

namespace rowpress {

// Text from outside (a path, a driver's message, a value) as a line of standard error or of
// the status list shows it, so that it can neither move a terminal's cursor, erase or
// recolour its lines, nor pass for a line of its own: a line feed, carriage return and tab
// become \n, \r and \t; the other C0 controls, DEL, the C1 controls (U+0080 to U+009F) and
// every byte that is not part of well-formed UTF-8 become \xNN, two lower-case hexadecimal
// digits per byte ("\x1b" for ESC, "\xc2\x9b" for U+009B). A backslash is doubled where it
// would otherwise read as the start of an escape (before "\", "n", "r", "t", "x" or an
// escaped byte), so that every shown text stands for exactly one text; elsewhere it stays
// single, as does every other character. A line feed at the very end is the line's own end
// and stays as it is. A text without any of these comes back unchanged.
std::string escapeControls(std::string_view text);

}  // namespace rowpress
