#include "site/VersionCheck.h"

#include "platform/MacKey.h"
#include "protocol/JsonMessages.h"

#include <algorithm>
#include <cstring>

namespace lynx::site {

namespace {

// A camera of the check is known by its MAC, compared as address plans compare it.
std::string MacKeyOf(const DeviceRecord& record)
{
    return platform::MacKey(protocol::FieldBytes(record.mac));
}

} // namespace

std::unique_ptr<VersionCheck> VersionCheck::Begin(Site& site)
{
    std::unique_ptr<VersionCheck> check(new VersionCheck(site));
    for (const UgInfo* job : site.Upgrade().Batch().jobs()) {
        if (job->state != upgrade::UgState::Succeeded)
            continue;
        // Only while every device of the batch is still listed as it was.
        const DeviceRecord* record = site.Device(job->device);
        if (!record || protocol::FieldBytes(record->deviceIp) != job->ip)
            return nullptr;
        Camera camera;
        camera.number = job->device;
        camera.mac = MacKeyOf(*record);
        if (const std::optional<protocol::ReportArrival> arrival = site.Table().ArrivalOf(camera.number))
            camera.card = arrival->interfaceName;
        camera.before = protocol::SoftwareVersionText(*record);
        check->m_cameras.push_back(std::move(camera));
    }
    return check->m_cameras.empty() ? nullptr : std::move(check);
}

void VersionCheck::Take(const protocol::Datagram& datagram)
{
    const DeviceRecord report = protocol::ReportOf(datagram);
    if (report.mac[0] == '\0')
        return;
    const std::string mac = MacKeyOf(report);
    const auto it = std::find_if(m_cameras.begin(), m_cameras.end(), [&](const Camera& c) { return c.mac == mac; });
    // Anyone on the LAN could claim a camera's MAC and a version.
    if (it == m_cameras.end() || !protocol::FromItsOwnAddress(report, protocol::ArrivalOf(datagram), it->card))
        return;
    if (protocol::SoftwareVersionText(report) == it->before) {
        it->heardSame = true;
        return;
    }
    // The device takes the version the camera now runs.
    m_site.SetVersion(it->number, report);
    m_site.SetStatus(it->number, DeviceStatus{DeviceState::VersionUpdated});
    m_cameras.erase(it);
}

void VersionCheck::Finish()
{
    for (const Camera& camera : m_cameras) {
        if (camera.heardSame)
            m_site.SetStatus(camera.number, DeviceStatus{DeviceState::VersionUnchanged});
    }
    m_cameras.clear();
}

} // namespace lynx::site
