// Code page conversions between UTF-8 and code page 936 (GBK), done with
// glibc's iconv. This platform has no ANSI code page of its own: device texts
// use code page 936, file system paths the system's own encoding (UTF-8).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace lynx::platform {

// A sequence that does not convert becomes '?'; nothing else is lost.
std::string Utf8ToCp936(std::string_view utf8);
std::string Cp936ToUtf8(std::string_view cp936);

// The longest prefix of a code page 936 text that fits maxBytes and does not
// end in the first half of a double-byte character.
std::string TruncateCp936(std::string_view cp936, std::size_t maxBytes);

} // namespace lynx::platform
