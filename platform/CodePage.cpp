#include "platform/CodePage.h"

#include <iconv.h>

#include <cerrno>
#include <vector>

namespace lynx::platform {

namespace {

bool isAscii(std::string_view text)
{
    for (char c : text)
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    return true;
}

// One conversion descriptor per direction and thread, opened at its first use:
// opening one costs more than converting a report's texts.
struct Converter {
    iconv_t cd;
    Converter(const char* to, const char* from) : cd(::iconv_open(to, from)) {}
    ~Converter()
    {
        if (cd != reinterpret_cast<iconv_t>(-1))
            ::iconv_close(cd);
    }
};

// Converts with iconv; an input sequence that does not convert becomes '?' and
// the conversion goes on after it. ASCII is the same in both code pages.
std::string convert(const Converter& converter, std::string_view input)
{
    if (isAscii(input))
        return std::string(input);
    iconv_t cd = converter.cd;
    if (cd == reinterpret_cast<iconv_t>(-1))
        return std::string(input);
    ::iconv(cd, nullptr, nullptr, nullptr, nullptr);
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
    return output;
}

} // namespace

std::string Utf8ToCp936(std::string_view utf8)
{
    thread_local const Converter converter("CP936", "UTF-8");
    return convert(converter, utf8);
}

std::string Cp936ToUtf8(std::string_view cp936)
{
    thread_local const Converter converter("UTF-8", "CP936");
    return convert(converter, cp936);
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
