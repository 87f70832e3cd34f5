#include "cli/SearchSession.h"

#include "protocol/Transport.h"

#include <mutex>

namespace lynx::cli {

namespace {

// The transport's callbacks carry no context: the one session that receives.
std::mutex g_activeMutex;
SearchSession* g_active = nullptr;

void OnConnectionNotify(uint16_t, int) {}

void InitTransportOnce()
{
    static std::once_flag once;
    std::call_once(once, [] {
        tarn_Init(1, 35, 35, "C://log//", 0, 0, 0, 0);
        tarn_SetLogFlag(1);
        tarn_RegisterConnectionNotify(&OnConnectionNotify);
    });
}

} // namespace

SearchSession::SearchSession(protocol::DuplicateFilter filter) : m_filter(filter) {}

SearchSession::~SearchSession()
{
    std::lock_guard lock(g_activeMutex);
    if (g_active == this)
        g_active = nullptr;
}

bool SearchSession::Start(std::string* error)
{
    {
        std::lock_guard lock(g_activeMutex);
        if (g_active && g_active != this) {
            *error = "another search session is receiving in this process";
            return false;
        }
        g_active = this;
    }
    InitTransportOnce();
    if (tarn_StartUDPServer(&m_reportSocket, &SearchSession::OnReportDatagram, 0, 0, protocol::kReportPort) != 1) {
        m_reportSocket = 0;
        *error = "cannot receive on UDP port " + std::to_string(protocol::kReportPort);
        return false;
    }
    return true;
}

bool SearchSession::Search()
{
    {
        std::lock_guard lock(m_queueMutex);
        m_queue.clear();
    }
    protocol::ClearDeviceTable(m_deviceList, m_deviceMap, m_nDeviceCount);
    m_lastRowAdded.reset();
    return protocol::SendSearch(m_reportSocket);
}

int SearchSession::OnReportDatagram(uint32_t, uint32_t, PacketHeader header, uint32_t, const char* body)
{
    std::lock_guard lock(g_activeMutex);
    if (g_active)
        g_active->Deliver(header, body);
    return 0;
}

void SearchSession::Deliver(const PacketHeader& header, const char* body)
{
    if (header.bodyMarker != protocol::kMarkerBody)
        return;
    // Parsed here, off the collecting thread; only the table update is handed over.
    auto record = protocol::ParseDeviceReport(body);
    {
        std::lock_guard lock(m_queueMutex);
        m_queue.push_back(std::move(record));
    }
    m_queueReady.notify_one();
}

void SearchSession::CollectUntil(Clock::time_point deadline)
{
    for (;;) {
        std::vector<std::unique_ptr<DeviceRecord>> batch;
        {
            std::unique_lock lock(m_queueMutex);
            m_queueReady.wait_until(lock, deadline, [this] { return !m_queue.empty(); });
            batch.swap(m_queue);
        }
        Apply(std::move(batch));
        if (Clock::now() >= deadline)
            return;
    }
}

void SearchSession::Apply(std::vector<std::unique_ptr<DeviceRecord>> reports)
{
    for (auto& record : reports)
        if (protocol::AddDeviceRecord(m_deviceList, m_deviceMap, m_nDeviceCount, std::move(record), m_filter) > 0)
            m_lastRowAdded = std::chrono::system_clock::now();
}

std::vector<DeviceRow> SearchSession::Rows() const
{
    std::vector<DeviceRow> rows;
    rows.reserve(m_deviceMap.size());
    for (const auto& [number, record] : m_deviceMap)
        rows.push_back(DeviceRow{number, *record});
    return rows;
}

} // namespace lynx::cli
