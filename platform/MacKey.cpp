#include "platform/MacKey.h"

#include <cctype>

namespace lynx::platform {

std::string MacKey(std::string_view mac)
{
    std::string digits;
    for (char c : mac) {
        if (std::isxdigit(static_cast<unsigned char>(c)))
            digits += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        else if (c != ':' && c != '-' && c != '.' && c != ' ')
            digits = "#";  // not a MAC of hex digits
        if (digits == "#")
            break;
    }
    if (digits.size() == 12)
        return digits;
    std::string upper(mac);
    for (char& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return "=" + upper;
}

} // namespace lynx::platform
