// `lynx-cli search`: its options, apart from running it, so they can be checked.
#pragma once

#include "cli/DeviceOutput.h"
#include "protocol/DeviceTable.h"
#include "protocol/DiscoverySession.h"
#include "protocol/SearchTiming.h"

#include <optional>
#include <string>
#include <vector>

namespace lynx::cli {

struct SearchOptions {
    int seconds = protocol::kDefaultSearchSeconds;  // as the window's default entry
    protocol::DuplicateFilter filter;
    OutputFormat format = OutputFormat::Table;
    std::vector<std::string> interfaces;  // --interface, repeatable; empty: every card
    size_t maxDevices = protocol::DeviceTable::kDefaultCapacity;  // --max-devices; 0: no limit
    bool timing = false;
    bool help = false;
};

// Search seconds are brought into 1..kMaxSearchSeconds (an hour, the window's
// limit too): a search shorter than a second would miss every camera, one
// longer than an hour is a typing error.
int ClampSearchSeconds(long long seconds);

// nullopt and a message in *error for an option that is not understood.
std::optional<SearchOptions> ParseSearchOptions(const std::vector<std::string>& args, std::string* error);

const char* SearchUsage();

// Why a session's servers did not start, for a command's error line: another
// program holds a port (the window's text, translated), or the port could not
// be opened.
std::string ServerFailureText(const protocol::DiscoverySession& session);

} // namespace lynx::cli
