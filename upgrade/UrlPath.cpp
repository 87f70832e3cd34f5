#include "upgrade/UrlPath.h"

#include <cctype>

namespace lynx::upgrade {

namespace {

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

std::string PercentEncoded(std::string_view segment)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(segment.size());
    for (const char c : segment) {
        const auto byte = static_cast<unsigned char>(c);
        if (std::isalnum(byte) || c == '-' || c == '.' || c == '_' || c == '~') {
            out += c;
        } else {
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 0x0F];
        }
    }
    return out;
}

std::string DecodedRequestTarget(std::string_view request)
{
    const std::string_view line = request.substr(0, request.find_first_of("\r\n"));
    const size_t start = line.find(' ');
    if (start == std::string_view::npos)
        return {};
    const size_t end = line.find(' ', start + 1);
    const std::string_view target = line.substr(start + 1, end == std::string_view::npos ? end : end - start - 1);
    std::string decoded;
    decoded.reserve(target.size());
    for (size_t i = 0; i < target.size(); ++i) {
        const int high = target[i] == '%' && i + 2 < target.size() ? HexValue(target[i + 1]) : -1;
        const int low = high >= 0 ? HexValue(target[i + 2]) : -1;
        if (high >= 0 && low >= 0) {
            decoded += static_cast<char>(high * 16 + low);
            i += 2;
        } else {
            decoded += target[i];
        }
    }
    return decoded;
}

} // namespace lynx::upgrade
