// One field of a CSV record (RFC 4180): quoted when it holds a comma, a quote,
// CR or LF, or when it could be misread as something else: a leading '#' (a
// comment line to some readers) or leading or trailing blanks; quotes
// doubled inside.
#pragma once

#include <string>
#include <string_view>

namespace lynx::platform {

inline std::string CsvField(std::string_view text)
{
    const bool blankEdge = !text.empty() && (text.front() == ' ' || text.front() == '\t' || text.back() == ' ' ||
                                             text.back() == '\t');
    if (text.find_first_of(",\"\r\n") == std::string_view::npos && !blankEdge && (text.empty() || text.front() != '#'))
        return std::string(text);
    std::string out = "\"";
    for (char c : text) {
        if (c == '"')
            out += '"';
        out += c;
    }
    return out + '"';
}

// A field of a file meant for spreadsheet programs: a text from the network
// that begins like a formula ('=', '+', '-', '@', or a tab or CR before one)
// is kept as text with a leading apostrophe, so that opening the file never
// runs what a device sent.
inline std::string SpreadsheetField(std::string_view text)
{
    if (!text.empty() && std::string_view("=+-@\t\r").find(text.front()) != std::string_view::npos)
        return CsvField("'" + std::string(text));
    return CsvField(text);
}

} // namespace lynx::platform
