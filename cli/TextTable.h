// Lines of cells printed as aligned columns on a terminal: each column as wide
// as its widest cell plus two spaces, no blanks at a line's end. Every cell is
// shown through TerminalCell and cut to a bounded width, so that one long text
// (a label of a megabyte, a camera's name full of escapes) widens neither its
// column nor the lines of every other row; the full texts are for JSON and CSV.
#pragma once

#include <cstddef>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

namespace lynx::cli {

class TextTable {
public:
    // The widest a cell is shown, in terminal columns; a line's last cell
    // pads nothing after it and may take more (a row's explanation).
    static constexpr size_t kCellWidth = 64;
    static constexpr size_t kLastCellWidth = 256;

    void Add(const std::vector<std::string>& cells);
    // The lines, one write each.
    void Write(std::ostream& out) const;
    std::string Text() const;

private:
    struct Cell {
        std::string text;
        size_t width;
    };
    std::string Line(const std::vector<Cell>& cells) const;

    std::vector<std::vector<Cell>> m_lines;
    std::vector<size_t> m_widths;
};

} // namespace lynx::cli
