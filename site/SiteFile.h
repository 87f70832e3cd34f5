// A site's expected inventory: the cameras that should be on the LAN, keyed by
// MAC, each with its planned address and software version where the file
// gives them. Read from the address plan of `lynx-cli assign --plan`
// (mac,ip,mask,gateway) or from the list the window exports (its Chinese, or
// English, column titles), with two optional columns more: softwareVersion
// and label. A file with any fault is refused whole, every fault named.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lynx::site {

struct PlannedCamera {
    int line = 0;                   // in the file, from 1
    std::string mac;                // as written (compare with platform::MacKey)
    std::string ip, mask, gateway;  // empty when the file does not give them
    std::string softwareVersion;    // empty: any version is fine
    std::string label;              // a name or place ("B2-017"), may be empty
};

// A fault of a site file: the line (0 for the file as a whole), the column as
// the file's header names it (empty when the fault is the line's), and why,
// translated, UTF-8.
struct SiteFileFault {
    int line = 0;
    std::string column;
    std::string text;
};

// What a front end says once when a file was read so.
inline constexpr const char* kReadAsCp936 = "站点清单不是UTF-8编码，已按GBK（代码页936）读取。";

struct SiteFile {
    std::vector<PlannedCamera> cameras;
    // The file was not UTF-8 and was read as code page 936, which is what
    // Excel and WPS write on a Chinese PC.
    bool readAsCp936 = false;
    // The camera planned under this MAC (compared by MacKey); nullptr when not
    // planned. A walk of the list: a caller asking for many builds its own index.
    const PlannedCamera* Find(std::string_view mac) const;
};

// The file's cameras (a text that is not valid UTF-8 read as code page 936),
// or nullopt with every fault (line, column) in *faults:
// no header naming a mac column, a quoted field not closed, a row with fewer
// fields than the header's columns need, a MAC that is not twelve hex digits,
// an address that is not dotted IPv4, a MAC or an address on two lines (the
// later names the first), no camera at all, and a file over the limits of an
// address plan (addressing/PlanFile.h).
std::optional<SiteFile> ParseSiteFile(std::string_view text, std::vector<SiteFileFault>* faults);
// The same from a file; one that cannot be read is one fault at line 0.
std::optional<SiteFile> ReadSiteFile(const std::string& path, std::vector<SiteFileFault>* faults);
// "第 3 行，ip 列：..." (in English "line 3, column ip: ..."); the line or the
// column left out when the fault has none.
std::string FaultText(const SiteFileFault& fault);

} // namespace lynx::site
