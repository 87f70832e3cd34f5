// A watch of the LAN over a discovery session, for a front end without an
// event loop: a search every interval, the cameras that answered each round
// fed to a Watch, until the duration passes or the stop descriptor becomes
// readable. The device table is kept between rounds, one row per camera: a
// camera heard at a new address or with a new version has its row updated,
// so that the table (and its IP-conflict marks) shows the site as it is now.
#pragma once

#include "protocol/DiscoverySession.h"
#include "site/Failure.h"
#include "site/Watch.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace lynx::site {

// The reports of a watch's rounds kept in a device table, one row per camera
// (by MAC): a camera heard at a new address or with a new version has its row
// updated, so that the table (and its IP-conflict marks) shows the site as it
// is now. Each camera's own report is told to the watch as it arrives.
class RoundKeeper {
public:
    // The rows already in table are the cameras' rows from now on.
    explicit RoundKeeper(protocol::DeviceTable& table);
    // The table was emptied or filled by someone else: its rows taken again.
    void Reindex();

    struct Kept {
        int number = 0;        // the camera's row; 0 when the report was not kept
        bool added = false;    // a new row
        bool changed = false;  // its address or version changed
        bool hearsay = false;  // from another address or card than the camera's own: not counted
    };
    Kept Keep(const protocol::Datagram& datagram, Watch& watch, WatchSink& sink);
    // The row of the camera with this MAC, 0 for none.
    int NumberOf(std::string_view mac) const;
    // When the watch or the table is full, forgets the cameras the watch has
    // seen disappear (Watch::ForgetGone) and takes their rows out of the
    // table, which is filled again in its order: the rows' numbers change.
    // How many rows went; 0 when nothing changed.
    std::size_t MakeRoom(Watch& watch);

private:
    protocol::DeviceTable& m_table;
    std::unordered_map<std::string, int> m_rows;  // MacKey -> number
};

struct WatchRequest {
    std::chrono::milliseconds interval{10000};             // from one search to the next
    std::optional<std::chrono::milliseconds> duration;     // none: until stopped
    protocol::InterfaceNames interfaces;                    // empty: every card that can broadcast
    int stopFd = -1;  // the watch ends as soon as this descriptor is readable (-1: none)
    // Called once, the first time a camera is turned away because the watch
    // follows as many as it can (its argument: that number).
    std::function<void(std::size_t capacity)> onFull;
    // Told of each hearsay report, which the watch does not count, on its thread.
    std::function<void(const DeviceRecord&, const protocol::ReportArrival&)> onHearsay;
};

struct WatchRun {
    Failure failure = Failure::None;  // PortsTaken, NoReportPort, or NoCard for a first search sent on no card
    bool stopped = false;             // ended by the stop descriptor, not by the duration
    std::uint64_t roundsUnsent = 0;   // later rounds whose search went out on no card (not counted as misses)
    std::uint64_t hearsay = 0;        // reports from another address or card than the camera's own: not counted
    bool full = false;                // a camera was turned away, the watch following as many as it can
    bool ok() const { return failure == Failure::None; }
};

// Runs the watch; session must wake by its eventfd (DatagramInbox::Wake::EventFd),
// so that the stop descriptor and the reports are waited on together.
// Returns early with a failure when nothing could be searched at all.
WatchRun RunWatch(protocol::DiscoverySession& session, Watch& watch, WatchSink& sink, const WatchRequest& request);

} // namespace lynx::site
