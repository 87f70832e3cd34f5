#include "platform/CodePage.h"

#include <iconv.h>

#include <cerrno>
#include <vector>

namespace lynx::platform {

namespace {

// Converts with iconv; an input sequence that does not convert becomes '?' and
// the conversion goes on after it.
std::string convert(const char* to, const char* from, std::string_view input)
{
    iconv_t cd = ::iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1))
        return std::string(input);
    std::string output;
    std::vector<char> chunk(4 * input.size() + 16);
    char* in = const_cast<char*>(input.data());
    size_t inLeft = input.size();
    while (inLeft > 0) {
        char* out = chunk.data();
        size_t outLeft = chunk.size();
        size_t r = ::iconv(cd, &in, &inLeft, &out, &outLeft);
        output.append(chunk.data(), chunk.size() - outLeft);
        if (r == static_cast<size_t>(-1)) {
            if (errno == E2BIG)
                continue;
            // EILSEQ or EINVAL (a sequence cut short at the end): skip one byte.
            output.push_back('?');
            ++in;
            --inLeft;
            ::iconv(cd, nullptr, nullptr, nullptr, nullptr);
        }
    }
    char* out = chunk.data();
    size_t outLeft = chunk.size();
    ::iconv(cd, nullptr, nullptr, &out, &outLeft);
    output.append(chunk.data(), chunk.size() - outLeft);
    ::iconv_close(cd);
    return output;
}

} // namespace

std::string Utf8ToCp936(std::string_view utf8)
{
    return convert("CP936", "UTF-8", utf8);
}

std::string Cp936ToUtf8(std::string_view cp936)
{
    return convert("UTF-8", "CP936", cp936);
}

std::string TruncateCp936(std::string_view cp936, std::size_t maxBytes)
{
    std::size_t i = 0;
    while (i < cp936.size()) {
        // A lead byte 0x81..0xFE starts a double-byte character (code page 936
        // has no longer ones); 0x80 and 0xFF stand alone.
        unsigned char c = static_cast<unsigned char>(cp936[i]);
        std::size_t width = (c >= 0x81 && c <= 0xFE && i + 1 < cp936.size()) ? 2 : 1;
        if (i + width > maxBytes)
            break;
        i += width;
    }
    return std::string(cp936.substr(0, i));
}

} // namespace lynx::platform
