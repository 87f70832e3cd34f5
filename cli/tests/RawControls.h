// What a terminal would act on in a text lynx-cli printed: for the tests that
// feed it hostile texts.
#pragma once

#include <string>
#include <string_view>

namespace lynx::test {

// Each C0 control (but those allowed), DEL and UTF-8 encoded C1
// control in text, written as "offset:byte" for a failure message; empty
// when there is none.
inline std::string RawControls(std::string_view text, std::string_view allowed = "\n")
{
    std::string found;
    for (size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        const bool c0 = byte < 0x20 && allowed.find(static_cast<char>(byte)) == std::string_view::npos;
        const bool c1 = byte == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                        static_cast<unsigned char>(text[i + 1]) <= 0x9F;
        if (c0 || c1 || byte == 0x7F)
            found += std::to_string(i) + ":" + std::to_string(byte) + " ";
    }
    return found;
}

} // namespace lynx::test
