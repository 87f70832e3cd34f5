#include "cli/TerminalText.h"

#include <cstdio>

namespace lynx::cli {

namespace {

struct Decoded {
    char32_t code;
    size_t length;  // 0: the byte at hand starts no UTF-8 character
};

// The character at s[i], strictly: the shortest form only, no surrogates,
// nothing beyond U+10FFFF.
Decoded DecodeUtf8(std::string_view s, size_t i)
{
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char b = byte(i);
    const size_t length = b < 0x80 ? 1 : (b >> 5) == 0x6 ? 2 : (b >> 4) == 0xE ? 3 : (b >> 3) == 0x1E ? 4 : 0;
    if (length == 0 || i + length > s.size())
        return {b, 0};
    char32_t code = length == 1 ? b : b & (0x7F >> length);
    for (size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80)
            return {b, 0};
        code = (code << 6) | (byte(i + k) & 0x3F);
    }
    static constexpr char32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < kLeast[length] || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF)
        return {b, 0};
    return {code, length};
}

bool IsCombining(char32_t c)
{
    return (c >= 0x0300 && c <= 0x036F) || (c >= 0x1AB0 && c <= 0x1AFF) || (c >= 0x20D0 && c <= 0x20FF) ||
           (c >= 0xFE20 && c <= 0xFE2F) || c == 0x200B || c == 0x200D;
}

bool IsWide(char32_t c)
{
    return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0x303E) || (c >= 0x3041 && c <= 0x33FF) ||
           (c >= 0x3400 && c <= 0x4DBF) || (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0xA000 && c <= 0xA4CF) ||
           (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFE30 && c <= 0xFE4F) ||
           (c >= 0xFF00 && c <= 0xFF60) || (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x1F300 && c <= 0x1F64F) ||
           (c >= 0x1F900 && c <= 0x1F9FF) || (c >= 0x20000 && c <= 0x3FFFD);
}

size_t WidthOf(char32_t c)
{
    return IsCombining(c) ? 0 : IsWide(c) ? 2 : 1;
}

bool IsControl(char32_t c)
{
    return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

// Appends what the character or byte at s[i] shows as to out; gives the
// bytes of s it took and, in *width, the columns it adds.
size_t AppendShown(std::string_view s, size_t i, std::string& out, size_t* width)
{
    const Decoded d = DecodeUtf8(s, i);
    if (d.length != 0 && !IsControl(d.code)) {
        out.append(s.substr(i, d.length));
        *width = WidthOf(d.code);
        return d.length;
    }
    char escape[8];
    const int n = d.length == 2 ? std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(d.code))
                                : std::snprintf(escape, sizeof escape, "\\x%02x", static_cast<unsigned>(d.code));
    out.append(escape, static_cast<size_t>(n));
    *width = static_cast<size_t>(n);
    return d.length == 0 ? 1 : d.length;
}

} // namespace

std::string TerminalText(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    size_t width = 0;
    for (size_t i = 0; i < text.size();)
        i += AppendShown(text, i, out, &width);
    return out;
}

std::string TerminalCell(std::string_view text, size_t maxWidth)
{
    static constexpr std::string_view kEllipsis = "…";
    std::string out;
    size_t width = 0;
    size_t fitsWithEllipsis = 0;  // the bytes of out that leave a column for the ellipsis
    for (size_t i = 0; i < text.size();) {
        size_t added = 0;
        i += AppendShown(text, i, out, &added);
        width += added;
        if (width < maxWidth)
            fitsWithEllipsis = out.size();
        else if (width > maxWidth) {
            out.resize(fitsWithEllipsis);
            return maxWidth == 0 ? out : out.append(kEllipsis);
        }
    }
    return out;
}

std::string TerminalJson(std::string_view json)
{
    std::string out;
    out.reserve(json.size());
    for (size_t i = 0; i < json.size(); ++i) {
        const auto byte = static_cast<unsigned char>(json[i]);
        const auto next = i + 1 < json.size() ? static_cast<unsigned char>(json[i + 1]) : 0;
        // Outside its strings JSON is ASCII: DEL and C2 80..9F are inside one.
        if (byte == 0x7F || (byte == 0xC2 && next >= 0x80 && next <= 0x9F)) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", byte == 0x7F ? 0x7Fu : static_cast<unsigned>(next));
            out += escape;
            i += byte == 0x7F ? 0 : 1;
        } else {
            out += json[i];
        }
    }
    return out;
}

size_t DisplayWidth(std::string_view utf8)
{
    size_t width = 0;
    for (size_t i = 0; i < utf8.size();) {
        const Decoded d = DecodeUtf8(utf8, i);
        i += d.length == 0 ? 1 : d.length;
        width += d.length == 0 ? 1 : WidthOf(d.code);
    }
    return width;
}

} // namespace lynx::cli
