// The search duration as typed into the seconds box (or given to lynx-cli).
#pragma once

#include <cctype>
#include <climits>
#include <string_view>

namespace lynx::protocol {

constexpr int kDefaultSearchSeconds = 12;
constexpr int kMaxSearchSeconds = 3600;

// Reads the entry as the window reads an integer from a dialog item: optional
// white space, an optional sign and decimal digits, nothing else; anything
// else counts as 0. The result is brought into 0..3600 seconds, so that a
// negative or huge entry cannot give a negative or overflowing time-out (the
// search then runs entry + 1 seconds).
inline int ParseSearchSeconds(std::string_view text)
{
    size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+'))
        negative = text[i++] == '-';
    if (i == text.size())
        return 0;
    long long value = 0;
    for (; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (!std::isdigit(c))
            return 0;
        if (value <= kMaxSearchSeconds)
            value = value * 10 + (c - '0');
    }
    if (negative)
        return 0;
    return value > kMaxSearchSeconds ? kMaxSearchSeconds : static_cast<int>(value);
}

} // namespace lynx::protocol
