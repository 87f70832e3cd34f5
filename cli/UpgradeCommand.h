// `lynx-cli upgrade`: the window's batch upgrade without questions: search,
// one job per chosen device, the paced update requests, the firmware served by
// the tool's own server, and every status change printed as it happens.
#pragma once

#include "cli/Commands.h"

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace lynx::cli {

struct UpgradeOptions {
    std::string file;
    int seconds = 12;  // search time, as the window's default entry
    int waitSeconds = 600;
    bool all = false;
    std::vector<std::string> ips;
    std::vector<std::string> macs;        // --mac, as written
    std::string site;                     // --site FILE: its cameras, by MAC
    std::vector<std::string> interfaces;  // --interface: the cards the search goes out on
    bool verify = false;                  // search again and check each camera's version
    int rebootWaitSeconds = 120;
    std::string expectVersion;            // the version a verified camera must report
    int parallel = 0;                     // 0: the window's pacing
    int retries = 0;
    std::string report;                   // --report FILE
    int stallSeconds = 60;
    bool json = false;                    // --format json: one JSON line per camera event
    bool help = false;
};

// nullopt and a message in *error for input that is not understood: no file or
// one that is not a readable regular file, no devices or --all with a choice of
// devices, an address that is not dotted IPv4, a MAC that is not twelve hex
// digits, a count that is not a whole number, a format other than text or json.
std::optional<UpgradeOptions> ParseUpgradeOptions(const std::vector<std::string>& args, std::string* error);

const char* UpgradeUsage();

// Runs the command; the exit status is 0 only when every chosen device
// reported success.
int RunUpgrade(const Arguments& args, std::ostream& out, std::ostream& err);

} // namespace lynx::cli
