// Texts from the network as lynx-cli prints them: nothing a terminal acts on
// gets through, nothing is dropped without a trace, and a long text is cut
// within its columns.
#include "cli/TerminalText.h"
#include "cli/TextTable.h"
#include "RawControls.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace lynx::cli;
using namespace std::string_literals;

TEST(TerminalText, ControlsAndBytesThatAreNotUtf8AreWrittenOutAndEverythingElseIsKept)
{
    const struct {
        const char* name;
        std::string text;
        std::string shown;
    } cases[] = {
        {"plain text", "KV-PG200 V1.0.3", "KV-PG200 V1.0.3"},
        {"Chinese and a no-break space", "车位引导相机\xC2\xA0" "A", "车位引导相机\xC2\xA0" "A"},
        {"a backslash", "C:\\x1b", "C:\\x1b"},
        {"erase the line above", "\x1b[1A\x1b[2Kcam", "\\x1b[1A\\x1b[2Kcam"},
        {"set the window title", "\x1b]0;owned\x07", "\\x1b]0;owned\\x07"},
        {"clear the screen", "\x1b" "c", "\\x1bc"},
        {"line ends, tab and NUL", "a\rb\nc\td\0e"s, "a\\x0db\\x0ac\\x09d\\x00e"},
        {"DEL", "a\x7f", "a\\x7f"},
        {"C1 controls in UTF-8", "\xC2\x9B" "2J\xC2\x85\xC2\x80\xC2\x9F", "\\u009b2J\\u0085\\u0080\\u009f"},
        {"a C1 byte alone", "\x9b" "2J", "\\x9b2J"},
        {"bytes that never start a character", "\xFF\xFE\x80", "\\xff\\xfe\\x80"},
        {"a cut character", "a\xE4\xB8", "a\\xe4\\xb8"},
        {"an overlong ESC", "\xC0\x9B", "\\xc0\\x9b"},
        {"a surrogate", "\xED\xA0\x80", "\\xed\\xa0\\x80"},
        {"beyond U+10FFFF", "\xF4\x90\x80\x80", "\\xf4\\x90\\x80\\x80"},
        {"the last character", "\xF4\x8F\xBF\xBF", "\xF4\x8F\xBF\xBF"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(TerminalText(c.text), c.shown) << c.name;
        EXPECT_EQ(lynx::test::RawControls(TerminalText(c.text), ""), "") << c.name;
    }
}

TEST(TerminalText, ALongTextIsCutWithinItsColumnsAtAWholeCharacterOrEscape)
{
    const struct {
        const char* name;
        std::string text;
        size_t width;
        std::string shown;
    } cases[] = {
        {"shorter", "V1.0.3", 8, "V1.0.3"},
        {"exactly as wide", "V1.0.3", 6, "V1.0.3"},
        {"one column more", "V1.0.3", 5, "V1.0…"},
        {"wide characters", "车位引导相机", 8, "车位引…"},
        {"a wide character that would cross the edge", "车位引导相机", 7, "车位引…"},
        {"a combining mark stays with its letter", "ae\xCC\x81zz", 3, "ae\xCC\x81…"},
        {"an escape is never cut in two", "ab\x1b[2K", 6, "ab…"},
        {"escapes count as they show", "\x1b\x1b", 8, "\\x1b\\x1b"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(TerminalCell(c.text, c.width), c.shown) << c.name;
        EXPECT_LE(DisplayWidth(TerminalCell(c.text, c.width)), c.width) << c.name;
    }
    // A megabyte in one cell costs no more than the cell.
    const std::string huge = TerminalCell(std::string(1 << 20, '\x1b'), TextTable::kCellWidth);
    EXPECT_LE(DisplayWidth(huge), TextTable::kCellWidth);
    EXPECT_GT(DisplayWidth(huge), TextTable::kCellWidth - 4);
    EXPECT_EQ(huge.size() % 4, 3u) << "whole escapes, then the ellipsis: " << huge;
    EXPECT_EQ(huge.substr(huge.size() - 7), "\\x1b…");
}

TEST(TextTable, AHugeCellWidensNeitherItsColumnNorTheOtherLines)
{
    TextTable table;
    table.Add({"state", "label", "ip"});
    table.Add({"ok", std::string(1 << 20, 'L'), "192.168.1.20"});
    for (int i = 0; i < 2000; ++i)
        table.Add({"unexpected", "", "192.168.1.66"});
    const std::string text = table.Text();
    EXPECT_LT(text.size(), 2002u * (12 + TextTable::kCellWidth + 2 + 14)) << "each line within its cells' bounds";
    const size_t ip = text.find("192.168.1.20");
    const size_t lineStart = text.rfind('\n', ip) + 1;
    EXPECT_EQ(DisplayWidth(text.substr(lineStart, ip - lineStart)), 12 + TextTable::kCellWidth + 2);
    EXPECT_NE(text.find("L…  192.168.1.20\n"), std::string::npos);
}

} // namespace
