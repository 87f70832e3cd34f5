// `lynx-cli check`: a site's acceptance, is every planned camera there, at
// its planned address, on its planned version, and nothing else? Its options,
// apart from running it, so they can be checked.
#pragma once

#include "cli/Commands.h"
#include "cli/DeviceOutput.h"
#include "protocol/SearchTiming.h"
#include "site/Acceptance.h"

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace lynx::cli {

struct CheckOptions {
    std::string site;           // --site FILE: the expected inventory
    std::string expectVersion;  // for every camera the file gives no version of
    int seconds = protocol::kDefaultSearchSeconds;
    bool allowUnexpected = false;
    OutputFormat format = OutputFormat::Table;
    std::string report;                   // CSV, or JSON when it ends in .json
    std::vector<std::string> interfaces;  // empty: every card
    bool help = false;
};

// nullopt and a message in *error for options that are not understood, a
// missing --site, or a report that cannot be written.
std::optional<CheckOptions> ParseCheckOptions(const Arguments& args, std::string* error);
const char* CheckUsage();

// The result as lynx-cli prints it: an aligned table (translated headers and
// states), a JSON array of objects, or CSV (UTF-8 with a byte-order mark,
// CRLF), one row per camera, in the result's order.
// The table's cells are shown through TerminalText, cut to a bounded width.
std::string FormatAcceptance(OutputFormat format, const site::AcceptanceResult& result);
// The same on out, the table a line at a time.
void WriteAcceptance(std::ostream& out, OutputFormat format, const site::AcceptanceResult& result);

} // namespace lynx::cli
