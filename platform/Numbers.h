// Reading integers from texts as the C run-time library and a dialog's
// integer fields read them, in one place: atoi's leading integer, a dialog item's whole
// integer, and a command line's number. None of them overflows: a value too
// large saturates.
#pragma once

#include <climits>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace lynx::platform {

// The value of the decimal digits at the start of text, at most maxDigits of
// them, saturated at limit; 0 when text does not start with a digit.
template <class Char>
long long LeadingDigits(std::basic_string_view<Char> text, std::size_t maxDigits = SIZE_MAX, long long limit = INT_MAX)
{
    long long value = 0;
    for (std::size_t i = 0; i < text.size() && i < maxDigits && text[i] >= Char('0') && text[i] <= Char('9'); ++i) {
        const int digit = static_cast<int>(text[i] - Char('0'));
        value = value > (limit - digit) / 10 ? limit : value * 10 + digit;
    }
    return value;
}

template <class Char>
bool IsCSpace(Char c)
{
    return c == Char(' ') || (c >= Char('\t') && c <= Char('\r'));
}

// The leading integer as the C library's atoi reads it: white space, an
// optional sign, then the digits up to the first other character; 0 when there
// are none. Saturated at -limit and limit.
template <class Char>
long long AtoiValue(std::basic_string_view<Char> text, long long limit = INT_MAX)
{
    std::size_t i = 0;
    while (i < text.size() && IsCSpace(text[i]))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == Char('-') || text[i] == Char('+')))
        negative = text[i++] == Char('-');
    const long long value = LeadingDigits(text.substr(i), SIZE_MAX, limit);
    return negative ? -value : value;
}

inline int Atoi(std::string_view text)
{
    return static_cast<int>(AtoiValue(text));
}

// A text that is an integer and nothing else, as the framework reads one from
// a dialog item: optional leading white space, an optional sign and at least
// one digit; nullopt for anything else.
inline std::optional<long long> DialogInteger(std::string_view text)
{
    std::size_t i = 0;
    while (i < text.size() && IsCSpace(text[i]))
        ++i;
    if (i < text.size() && (text[i] == '-' || text[i] == '+'))
        ++i;
    if (i == text.size())
        return std::nullopt;
    for (std::size_t j = i; j < text.size(); ++j) {
        if (text[j] < '0' || text[j] > '9')
            return std::nullopt;
    }
    return AtoiValue(text, LLONG_MAX);
}

// A number given on the command line: an optional '-' and digits, nothing
// else (no blanks, no '+'); nullopt for anything else.
inline std::optional<long long> WholeNumber(std::string_view text)
{
    const std::size_t digits = !text.empty() && text[0] == '-' ? 1 : 0;
    if (text.size() == digits)
        return std::nullopt;
    for (std::size_t i = digits; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9')
            return std::nullopt;
    }
    return AtoiValue(text, LLONG_MAX);
}

} // namespace lynx::platform
