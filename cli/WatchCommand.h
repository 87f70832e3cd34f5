// `lynx-cli watch`: its options, and its printing of events, apart from
// running it, so they can be checked.
#pragma once

#include "site/Watch.h"

#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace lynx::cli {

enum class WatchFormat { Table, Json };

struct WatchOptions {
    int intervalSeconds = 10;
    int missedRounds = site::Watch::kDefaultMissedRounds;
    std::optional<long long> durationSeconds;  // none: until SIGINT or SIGTERM
    WatchFormat format = WatchFormat::Table;
    std::vector<std::string> interfaces;       // --interface, repeatable; empty: every card
    bool help = false;
};

// nullopt and a message in *error for an option that is not understood.
std::optional<WatchOptions> ParseWatchOptions(const std::vector<std::string>& args, std::string* error);

const char* WatchUsage();

// One event as a line of the table (no newline), in the selected language:
// time, event, MAC, IP aligned in columns, then what else it says.
std::string WatchEventLine(const site::WatchEvent& event);

// Prints each event on its own line, flushed at once so that a reader of a
// pipe sees it live; tells onFailure once when the output cannot be written.
class WatchPrinter : public site::WatchSink {
public:
    WatchPrinter(std::ostream& out, WatchFormat format, std::function<void()> onFailure = {})
        : m_out(out), m_format(format), m_onFailure(std::move(onFailure))
    {
    }
    void Event(const site::WatchEvent& event) override;
    bool Failed() const { return m_failed; }

private:
    std::ostream& m_out;
    WatchFormat m_format;
    std::function<void()> m_onFailure;
    bool m_failed = false;
};

// The summary printed at the end, one line each, in the selected language.
std::string WatchSummaryText(const site::WatchSummary& summary);

} // namespace lynx::cli
