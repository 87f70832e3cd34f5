// One search of the LAN over a discovery session, written once for every
// front end that has no event loop: the servers started, the broadcast sent
// on the chosen cards, the reports collected for the seconds asked, with
// progress told along the way.
#pragma once

#include "protocol/DiscoverySession.h"
#include "protocol/SearchTiming.h"
#include "site/Failure.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace lynx::site {

using Clock = protocol::DiscoverySession::Clock;

// How often a flow tells its progress, at most.
inline constexpr std::chrono::milliseconds kProgressInterval{250};

struct SearchRequest {
    int seconds = protocol::kDefaultSearchSeconds;
    protocol::InterfaceNames interfaces;  // empty: every card that can broadcast
    bool keepTable = false;               // add to the rows held instead of starting a new list
    protocol::DuplicateFilter filter;
    std::size_t capacity = protocol::DeviceTable::kDefaultCapacity;  // 0: no limit
    bool serveUpdates = false;            // the update port's server too, for an upgrade's replies
};

struct SearchProgress {
    std::size_t found = 0;  // rows listed so far
    int secondsLeft = 0;    // whole seconds, rounded up
};
using SearchProgressFn = std::function<void(const SearchProgress&)>;

struct SearchResult {
    Failure failure = Failure::None;  // NoCard, PortsTaken or NoReportPort: nothing was searched
    std::vector<protocol::DeviceRow> rows;
    std::uint64_t dropped = 0;        // reports not listed for the table's capacity
    Clock::time_point deadline{};     // when the search was to end
    Clock::time_point ended{};        // when it did
    bool ok() const { return failure == Failure::None; }
};

// Runs one search on session; progress, when given, hears of it at the start
// and every kProgressInterval until the end.
SearchResult Search(protocol::DiscoverySession& session, const SearchRequest& request,
                    const SearchProgressFn& progress = {});

// Searches again and again, every few seconds, each time on a new list and
// without duplicate filter (every answer counts), until settled answers true
// or the deadline passes: for cameras that restart and must be heard from.
// The caller has something to wait for: the first search goes out anyway.
// settled is asked as reports arrive; other takes the datagrams that are no
// report; tick is called every kProgressInterval. False when a search went
// out on no card (the waiting stops there).
bool SearchUntil(protocol::DiscoverySession& session, Clock::time_point deadline, const std::function<bool()>& settled,
                 const std::function<void(protocol::Datagram&)>& other = {}, const std::function<void()>& tick = {});

// Whole seconds from now to deadline, rounded up; 0 once it has passed.
int SecondsLeft(Clock::time_point deadline);

} // namespace lynx::site
