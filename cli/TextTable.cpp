#include "cli/TextTable.h"

#include "cli/TerminalText.h"

#include <algorithm>
#include <ostream>
#include <sstream>

namespace lynx::cli {

void TextTable::Add(const std::vector<std::string>& cells)
{
    std::vector<Cell> line;
    line.reserve(cells.size());
    for (size_t c = 0; c < cells.size(); ++c) {
        std::string shown = TerminalCell(cells[c], c + 1 < cells.size() ? kCellWidth : kLastCellWidth);
        const size_t width = DisplayWidth(shown);
        line.push_back({std::move(shown), width});
    }
    m_widths.resize(std::max(m_widths.size(), line.size()));
    for (size_t c = 0; c < line.size(); ++c)
        m_widths[c] = std::max(m_widths[c], line[c].width);
    m_lines.push_back(std::move(line));
}

std::string TextTable::Line(const std::vector<Cell>& cells) const
{
    std::string line;
    for (size_t c = 0; c < cells.size(); ++c) {
        line += cells[c].text;
        if (c + 1 < cells.size())
            line.append(m_widths[c] - cells[c].width + 2, ' ');
    }
    while (!line.empty() && line.back() == ' ')
        line.pop_back();
    return line + "\n";
}

void TextTable::Write(std::ostream& out) const
{
    for (const std::vector<Cell>& cells : m_lines)
        out << Line(cells);
}

std::string TextTable::Text() const
{
    std::ostringstream out;
    Write(out);
    return out.str();
}

} // namespace lynx::cli
