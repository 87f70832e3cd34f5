// What the device list sorts a column by: the device's own data, typed, never
// a cell's text read back. Numbers sort as numbers, the address columns as
// addresses (.51 before .107, a text that is no address after every
// address), the other columns by their text, code unit by code unit.
#pragma once

#include "site/Site.h"

#include <compare>
#include <cstdint>
#include <string>

namespace lynx::site {

struct SortKey {
    int rank = 0;          // 0: a number or an address; 1: a text that is none
    uint64_t number = 0;   // the device's number, or its address
    std::string text;      // UTF-8
    auto operator<=>(const SortKey&) const = default;
};

// The key of a device for a column of the list; the status column's key is
// the front end's, which knows what its cell shows.
SortKey SortKeyOf(const Site& site, int device, Column column);
inline SortKey TextKey(std::string text)
{
    return {1, 0, std::move(text)};
}

} // namespace lynx::site
