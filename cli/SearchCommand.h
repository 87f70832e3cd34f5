// `lynx-cli search`: its options, apart from running it, so they can be checked.
#pragma once

#include "cli/DeviceOutput.h"
#include "protocol/DeviceTable.h"
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

// nullopt and a message in *error for an option that is not understood.
std::optional<SearchOptions> ParseSearchOptions(const std::vector<std::string>& args, std::string* error);

const char* SearchUsage();

class OptionReader;
// --format's value: table, json or csv; a fault of reader for anything else.
bool ReadFormat(const std::string& text, OutputFormat& format, OptionReader& reader);

} // namespace lynx::cli
