// The search duration as typed into the seconds box (or given to lynx-cli).
#pragma once

#include "platform/Numbers.h"

#include <string_view>

namespace lynx::protocol {

constexpr int kDefaultSearchSeconds = 12;
constexpr int kMaxSearchSeconds = 3600;

// Reads the entry as the window reads an integer from a dialog item; anything
// else counts as 0. The result is brought into 0..3600 seconds, so that a
// negative or huge entry cannot give a negative or overflowing time-out (the
// search then runs entry + 1 seconds).
inline int ParseSearchSeconds(std::string_view text)
{
    const long long value = platform::DialogInteger(text).value_or(0);
    return value < 0 ? 0 : value > kMaxSearchSeconds ? kMaxSearchSeconds : static_cast<int>(value);
}

} // namespace lynx::protocol
