// The site engine: what a front end knows of the cameras of a site and what
// it does with them, without a widget. It owns the discovery session (with
// the device table the reports fill), each device's tick and status, and the
// upgrade run with its jobs. A device is known by its record's number in the
// table, which stays its own until the table is cleared; rows, cells and
// their texts belong to the front ends.
#pragma once

#include "protocol/DiscoverySession.h"
#include "site/DeviceStatus.h"
#include "site/ReaddressFlow.h"
#include "upgrade/UpgradeRun.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace lynx::site {

class CardSubnets;
class RoundKeeper;
class VersionCheck;
class Watch;
class WatchSink;

// The columns of the device list (protocol/DeviceTable.h).
using protocol::Column;
using protocol::ColumnText;
using protocol::ColumnTitle;
using protocol::kColumnCount;

// What a front end is told as the engine's state changes. Every call comes on
// the thread that owns the engine; an observer hears only what it overrides.
class SiteObserver {
public:
    virtual ~SiteObserver() = default;
    // Devices numbered first .. first + count - 1 were added.
    virtual void DevicesAdded(int /*first*/, int /*count*/) {}
    // The table is empty again: every device is gone.
    virtual void DevicesCleared() {}
    // A device's fields, tick or status changed.
    virtual void DeviceChanged(int /*number*/) {}
    // The batch's summary line, the "being sent" flag and its end.
    virtual void UpgradeSummary(const std::string& /*text*/) {}
    virtual void UpgradingChanged(bool /*upgrading*/) {}
    virtual void UpgradeComplete() {}
    // The summary line's format in the front end's language; empty: another
    // observer's, or the batch's own.
    virtual std::string SummaryFormat() const { return {}; }
    // The batch wants the engine's tick (upgrade::UpgradeRun::Tick) this long
    // from now at the latest: a request due, a held success notice, downloads
    // to follow.
    virtual void UpgradeReviewDue(int /*milliseconds*/) {}
    // A device's camera answered (ms since the epoch).
    virtual void DeviceAnswered(int /*number*/, int64_t /*msSinceEpoch*/) {}
    // No address change is awaited any more: its outcome can be told.
    virtual void ReaddressEnded() {}
    // A watch's round ended; searchSent: whether its search had gone out.
    virtual void WatchRoundEnded(bool /*searchSent*/) {}
    // The search's time-out passed.
    virtual void SearchEnded() {}
};

class Site {
public:
    Site(protocol::DatagramInbox::Wake wake, upgrade::UpgradeRun::FrontEnd upgradeFrontEnd);
    ~Site();
    Site(const Site&) = delete;
    Site& operator=(const Site&) = delete;

    // Observers are told in the order they were added; one that goes away
    // removes itself first.
    void AddObserver(SiteObserver* observer);
    void RemoveObserver(SiteObserver* observer);

    protocol::DiscoverySession& Discovery() { return m_discovery; }
    const protocol::DiscoverySession& Discovery() const { return m_discovery; }
    protocol::DeviceTable& Table() { return m_discovery.Table(); }
    const protocol::DeviceTable& Table() const { return m_discovery.Table(); }
    upgrade::UpgradeRun& Upgrade() { return m_upgrade; }
    const upgrade::UpgradeRun& Upgrade() const { return m_upgrade; }

    // The devices are numbered 1 .. Count().
    int Count() const { return static_cast<int>(Table().Size()); }
    const DeviceRecord* Device(int number) const { return Table().ByNumber(number); }

    // A new search: the table, the ticks and the statuses emptied, and the
    // request sent (false when it went out on no card).
    bool Search();
    // A search of the user's own, which ends after length (its time-out,
    // told to the observers from Tick) or when stopped; the other cameras'
    // answers are listed while it runs.
    bool Search(std::chrono::milliseconds length, std::chrono::steady_clock::time_point now);
    void StopSearch();
    bool Searching() const { return m_searchEnds.has_value(); }
    // Empties the table, the ticks and the statuses, sending nothing.
    void Clear();
    // Adds one received report under the duplicate boxes; the number it was
    // kept under, 0 when dropped. Observers hear of it from Announce.
    int AddReport(const protocol::Datagram& datagram, protocol::DuplicateFilter filter);
    // Tells the observer of the devices added since the last call, in one go.
    void AnnounceAdded();

    // What has arrived, taken in this one place, for at most budget (none:
    // everything waiting): each report goes to the flow that awaits it (an
    // address change's confirmation, the version check, the watch), else into
    // the table under filter; each reply or notification to the batch. The
    // devices added are told at the end. True when more is waiting.
    bool Drain(protocol::DuplicateFilter filter, std::optional<std::chrono::milliseconds> budget, int64_t nowMs);
    // A search or a watch of the user's own is under way: while address
    // changes are confirmed, the other cameras' answers are listed only then.
    void SetListening(bool listening) { m_listening = listening; }

    // The engine's tick: the address changes' rounds and ends, the version
    // check's searches and end, the batch's sends, downloads and notices.
    using Clock = std::chrono::steady_clock;
    void Tick(Clock::time_point now);
    // How long from now until Tick is next wanted; none when nothing waits.
    std::optional<std::chrono::milliseconds> NextTick(Clock::time_point now) const;

    // Address changes of listed devices, confirmed by each camera answering
    // at its new address: its device shows the wait, then the new address, or
    // that it was not heard there. One set of changes at a time.
    struct ChangedDevice {
        int device = 0;     // 0 once the list was emptied
        std::string oldIp;  // as it was listed
        std::string mac;
    };
    // searchAgain asks the LAN once more (none: the session's search request).
    void BeginReaddress(addressing::ChangeIpSender send, int confirmSeconds, std::function<bool()> searchAgain = {});
    // Sends a change of device now; false when it could not be sent.
    bool AddReaddress(int device, std::string oldIp, const AddressChange& change, Clock::time_point now);
    // The changes under way (null: none), and their devices by the change's index.
    const ReaddressSteps* Readdressing() const { return m_readdress.get(); }
    const std::vector<ChangedDevice>& ChangedDevices() const { return m_changed; }
    // The changes are forgotten (their outcome told, or none sent).
    void EndReaddress();

    // After a batch, the cameras that reported success heard again: a wait
    // for their restart, then a search every so often, then the end.
    struct VersionCheckTiming {
        std::chrono::milliseconds reboot{90000};
        int searches = 12;
        std::chrono::milliseconds every{5000};
    };
    // False when there is nothing to check.
    bool StartVersionCheck(const VersionCheckTiming& timing, Clock::time_point now);
    void CancelVersionCheck();
    bool VersionChecking() const { return m_versionCheck != nullptr; }

    // A watch's rounds: each camera's report kept in its row and told to the
    // watch as it arrives; every interval (from Tick) the round ends with
    // those heard and the next round's search goes out. The first search goes
    // out now: false when it went out on no card.
    bool StartWatch(Watch& watch, WatchSink& sink, std::chrono::milliseconds interval, Clock::time_point now);
    // Whether the search of the round under way went out.
    bool WatchSearchSent() const { return m_watchSent; }
    void StopWatch();
    bool Watching() const { return m_keeper != nullptr; }
    // The row of the watched camera with this MAC, 0 for none.
    int WatchedNumberOf(std::string_view mac) const;

    bool Ticked(int number) const;
    void SetTicked(int number, bool ticked);
    void TickAll(bool ticked);
    // The ticked devices, in ascending number.
    std::vector<int> TickedDevices() const;
    bool AnyTicked() const;

    // A device's status (none: an empty one).
    const DeviceStatus& Status(int number) const;
    void SetStatus(int number, DeviceStatus status);

    // A device was given a new address: its record shows it from now on.
    void Readdress(int number, const std::string& ip, const std::string& gateway, const std::string& mask);
    // A device answered with another software version (and build date).
    void SetVersion(int number, const DeviceRecord& report);

    // Why the PC cannot reach the device at its address (UTF-8, translated),
    // judged against the cards as they are now; empty when it can, or when
    // there is no such device.
    std::string UnreachableReason(int number) const;
    std::string UnreachableReason(int number, const CardSubnets& cards) const;

    // The ticked devices as a batch's devices; the ones whose record has gone
    // are left out, and a device the PC cannot reach carries why.
    std::vector<upgrade::BatchDevice> BatchOf(const std::vector<int>& numbers) const;

private:
    class UpgradeView;
    void Changed(int number);
    // A report, to the flow that awaits it or into the table.
    void TakeReport(const protocol::Datagram& datagram, protocol::DuplicateFilter filter, int64_t nowMs);
    bool TakeReaddressReport(const protocol::Datagram& datagram);
    bool TakeWatchReport(const protocol::Datagram& datagram, int64_t nowMs);
    void ReaddressEvent(const ReaddressSteps::Event& event);
    void EndWatchRound(Clock::time_point now);

    template <class Call>
    void Tell(const Call& call) const
    {
        // By index: an observer told may add or remove one.
        for (size_t i = 0; i < m_observers.size(); ++i)
            call(*m_observers[i]);
    }

    std::vector<SiteObserver*> m_observers;
    protocol::DiscoverySession m_discovery;
    upgrade::UpgradeRun m_upgrade;
    std::vector<uint8_t> m_ticks;                        // by number - 1
    std::unordered_map<int, DeviceStatus> m_statuses;    // only the devices that have one
    int m_announced = 0;                                  // devices the observer has heard of
    bool m_listening = false;
    std::optional<Clock::time_point> m_searchEnds;  // while a search of the user's own runs

    std::unique_ptr<ReaddressSteps> m_readdress;
    std::vector<ChangedDevice> m_changed;  // by the change's index

    std::unique_ptr<VersionCheck> m_versionCheck;
    VersionCheckTiming m_versionTiming;
    int m_versionSearchesLeft = 0;
    Clock::time_point m_versionNext{};

    std::unique_ptr<RoundKeeper> m_keeper;
    Watch* m_watch = nullptr;
    WatchSink* m_watchSink = nullptr;
    std::chrono::milliseconds m_watchInterval{0};
    Clock::time_point m_watchNext{};
    bool m_watchSent = false;
};

} // namespace lynx::site
