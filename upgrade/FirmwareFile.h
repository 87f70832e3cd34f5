// A firmware file is checked on the PC before any camera is told to fetch it:
// a camera sent a file it cannot unpack fails only after its download, and
// every camera of the batch would.
#pragma once

#include <optional>
#include <string>

namespace lynx::upgrade {

// The beginning of the message for a file that cannot be sent (source
// language, UTF-8); the file's path follows it.
inline constexpr const char* kFirmwareUnreadable = "升级文件无法读取：";
inline constexpr const char* kFirmwareNotZip = "升级文件不是有效的zip压缩包：";

// Empty when the file at path exists, is a readable regular file and opens as
// a zip archive with at least one entry; otherwise which of the two messages
// above applies.
std::optional<std::string> FirmwareFileFault(const std::string& path);

} // namespace lynx::upgrade
