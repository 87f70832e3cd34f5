#include "site/Site.h"

#include "site/Unreachable.h"
#include "site/VersionCheck.h"
#include "site/WatchFlow.h"

#include <algorithm>
#include <cstring>

namespace lynx::site {

// The batch's side of the engine: each job's state and download become its
// device's status.
class Site::UpgradeView : public upgrade::UpgradeView {
public:
    explicit UpgradeView(Site& site) : m_site(site) {}
    // The download follows every state (SetDownload), and with it the bar.
    void SetStatus(int device, upgrade::UgState state) override { m_site.SetStatus(device, StatusOf(state)); }
    void SetDownload(int device, upgrade::UgState state, const upgrade::DownloadProgress& download) override
    {
        m_site.SetStatus(device, StatusOf(state, download));
    }
    void SetSummaryText(const std::string& text) override
    {
        m_site.Tell([&](SiteObserver& observer) { observer.UpgradeSummary(text); });
    }
    void SetUpgrading(bool upgrading) override
    {
        m_site.Tell([&](SiteObserver& observer) { observer.UpgradingChanged(upgrading); });
    }
    void AnnounceComplete() override
    {
        m_site.Tell([](SiteObserver& observer) { observer.UpgradeComplete(); });
    }
    std::string SummaryFormat() const override
    {
        for (const SiteObserver* observer : m_site.m_observers) {
            if (std::string format = observer->SummaryFormat(); !format.empty())
                return format;
        }
        return upgrade::UpgradeView::SummaryFormat();
    }
    void ReviewAfter(int milliseconds) override
    {
        m_site.Tell([&](SiteObserver& observer) { observer.UpgradeReviewDue(milliseconds); });
    }

private:
    Site& m_site;
};

Site::Site(protocol::DatagramInbox::Wake wake, upgrade::UpgradeRun::FrontEnd upgradeFrontEnd)
    : m_discovery(wake), m_upgrade(std::make_unique<UpgradeView>(*this), std::move(upgradeFrontEnd))
{
}

Site::~Site()
{
    m_observers.clear();
}

void Site::AddObserver(SiteObserver* observer)
{
    if (observer && std::find(m_observers.begin(), m_observers.end(), observer) == m_observers.end())
        m_observers.push_back(observer);
}

void Site::RemoveObserver(SiteObserver* observer)
{
    m_observers.erase(std::remove(m_observers.begin(), m_observers.end(), observer), m_observers.end());
}


bool Site::Search()
{
    Clear();
    return m_discovery.Search();
}

bool Site::Search(std::chrono::milliseconds length, Clock::time_point now)
{
    m_searchEnds = now + length;
    m_listening = true;
    return Search();
}

void Site::StopSearch()
{
    m_searchEnds.reset();
    m_listening = false;
}

void Site::Clear()
{
    Table().Clear();
    m_ticks.clear();
    m_statuses.clear();
    m_announced = 0;
    // The cameras awaited at new addresses have no row to show it in any more.
    for (ChangedDevice& changed : m_changed)
        changed.device = 0;
    if (m_keeper)
        m_keeper->Reindex();
    Tell([](SiteObserver& observer) { observer.DevicesCleared(); });
}

int Site::AddReport(const protocol::Datagram& datagram, protocol::DuplicateFilter filter)
{
    return m_discovery.AddReport(datagram, filter);
}

void Site::AnnounceAdded()
{
    const int count = Count();
    if (count <= m_announced)
        return;
    const int first = m_announced + 1;
    m_announced = count;
    m_ticks.resize(static_cast<size_t>(count), 0);
    Tell([&](SiteObserver& observer) { observer.DevicesAdded(first, count - first + 1); });
}

bool Site::Ticked(int number) const
{
    return number >= 1 && static_cast<size_t>(number) <= m_ticks.size() && m_ticks[static_cast<size_t>(number - 1)];
}

void Site::SetTicked(int number, bool ticked)
{
    if (number < 1 || number > m_announced || Ticked(number) == ticked)
        return;
    m_ticks[static_cast<size_t>(number - 1)] = ticked;
    Changed(number);
}

void Site::TickAll(bool ticked)
{
    for (int number = 1; number <= m_announced; ++number)
        SetTicked(number, ticked);
}

std::vector<int> Site::TickedDevices() const
{
    std::vector<int> numbers;
    for (size_t i = 0; i < m_ticks.size(); ++i) {
        if (m_ticks[i])
            numbers.push_back(static_cast<int>(i + 1));
    }
    return numbers;
}

bool Site::AnyTicked() const
{
    for (uint8_t tick : m_ticks) {
        if (tick)
            return true;
    }
    return false;
}

const DeviceStatus& Site::Status(int number) const
{
    static const DeviceStatus none;
    const auto it = m_statuses.find(number);
    return it == m_statuses.end() ? none : it->second;
}

void Site::SetStatus(int number, DeviceStatus status)
{
    if (!Device(number) || Status(number) == status)
        return;
    if (status == DeviceStatus{})
        m_statuses.erase(number);
    else
        m_statuses[number] = std::move(status);
    Changed(number);
}

void Site::Readdress(int number, const std::string& ip, const std::string& gateway, const std::string& mask)
{
    const DeviceRecord* record = Device(number);
    if (!record)
        return;
    // The cameras that shared the old or share the new address are marked
    // anew, as the device itself is: the first few, as many as a row lists,
    // for a camera joining or leaving a crowd at one address changes no mark
    // but those of a camera it alone shared the address with.
    std::vector<int> touched = Table().IpConflictsOf(number).first;
    Table().Readdress(number, ip, gateway, mask);
    for (int other : Table().IpConflictsOf(number).first)
        touched.push_back(other);
    Changed(number);
    for (int other : touched)
        Changed(other);
}

void Site::SetVersion(int number, const DeviceRecord& report)
{
    DeviceRecord* record = Table().ByNumber(number);
    if (!record)
        return;
    std::memcpy(record->softwareVersion, report.softwareVersion, sizeof record->softwareVersion);
    std::memcpy(record->productDate, report.productDate, sizeof record->productDate);
    Changed(number);
}

std::string Site::UnreachableReason(int number) const
{
    return UnreachableReason(number, CardSubnets());
}

std::string Site::UnreachableReason(int number, const CardSubnets& cards) const
{
    const DeviceRecord* record = Device(number);
    if (!record)
        return {};
    return cards.UnreachableReason(*record, Table().ArrivalOf(number).value_or(protocol::ReportArrival{}));
}

std::vector<upgrade::BatchDevice> Site::BatchOf(const std::vector<int>& numbers) const
{
    const CardSubnets cards;
    std::vector<upgrade::BatchDevice> devices;
    for (int number : numbers) {
        if (const DeviceRecord* record = Device(number))
            devices.push_back({number, std::string(protocol::FieldBytes(record->deviceIp)),
                               std::string(protocol::FieldBytes(record->deviceId)), UnreachableReason(number, cards)});
    }
    return devices;
}

void Site::Changed(int number)
{
    if (number <= m_announced)
        Tell([number](SiteObserver& observer) { observer.DeviceChanged(number); });
}

} // namespace lynx::site
