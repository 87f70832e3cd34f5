// The site engine: what a front end knows of the cameras of a site and what
// it does with them, without a widget. It owns the discovery session (with
// the device table the reports fill), each device's tick and status, and the
// upgrade run with its jobs. A device is known by its record's number in the
// table, which stays its own until the table is cleared; rows, cells and
// their texts belong to the front ends.
#pragma once

#include "protocol/DiscoverySession.h"
#include "site/DeviceStatus.h"
#include "upgrade/UpgradeRun.h"

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace lynx::site {

class CardSubnets;

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
    // Empties the table, the ticks and the statuses, sending nothing.
    void Clear();
    // Adds one received report under the duplicate boxes; the number it was
    // kept under, 0 when dropped. Observers hear of it from Announce.
    int AddReport(const protocol::Datagram& datagram, protocol::DuplicateFilter filter);
    // Tells the observer of the devices added since the last call, in one go.
    void AnnounceAdded();

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

    template <class Call>
    void Tell(const Call& call) const;

    std::vector<SiteObserver*> m_observers;
    protocol::DiscoverySession m_discovery;
    upgrade::UpgradeRun m_upgrade;
    std::vector<uint8_t> m_ticks;                        // by number - 1
    std::unordered_map<int, DeviceStatus> m_statuses;    // only the devices that have one
    int m_announced = 0;                                  // devices the observer has heard of
};

} // namespace lynx::site
