#include "upgrade/FirmwareFile.h"

#include <zip.h>

#include <sys/stat.h>
#include <unistd.h>

namespace lynx::upgrade {

std::optional<std::string> FirmwareFileFault(const std::string& path)
{
    struct stat status {};
    if (path.empty() || ::stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode) ||
        ::access(path.c_str(), R_OK) != 0)
        return std::string(kFirmwareUnreadable);
    int error = 0;
    zip_t* archive = ::zip_open(path.c_str(), ZIP_RDONLY, &error);
    if (!archive)
        return std::string(kFirmwareNotZip);
    const bool hasEntries = ::zip_get_num_entries(archive, 0) > 0;
    ::zip_discard(archive);
    if (!hasEntries)
        return std::string(kFirmwareNotZip);
    return std::nullopt;
}

} // namespace lynx::upgrade
