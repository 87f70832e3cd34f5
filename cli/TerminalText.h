// Texts from the network, from files and from the command line printed on a
// terminal: control characters and bytes that are not UTF-8 are written out
// visibly, so that no host on the LAN can move the cursor, erase a line, set
// the window's title or clear the screen through a camera's name.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace lynx::cli {

// text with every C0 control (tabs and line ends too) and DEL written as
// "\x1b", every C1 control (U+0080..U+009F) as "\u009b", and every byte that
// is not part of a UTF-8 character (cut, overlong, a surrogate, beyond
// U+10FFFF) as "\xff". Everything else, Chinese included, is kept. A
// backslash is kept as it is: the text is for reading, not for reading back.
std::string TerminalText(std::string_view text);

// TerminalText cut to at most maxWidth terminal columns (DisplayWidth): a
// longer text ends in "…" after the last whole character or escape that fits.
std::string TerminalCell(std::string_view text, size_t maxWidth);

// JSON text with what its writer leaves raw in strings written as escapes:
// DEL and the C1 controls as "\u007f" and "\u009b". It reads back the same.
std::string TerminalJson(std::string_view json);

// Terminal columns a UTF-8 text takes: East Asian wide and full-width
// characters take two, combining marks none, everything else one. Bytes that
// are not UTF-8 count one each.
size_t DisplayWidth(std::string_view utf8);

} // namespace lynx::cli
