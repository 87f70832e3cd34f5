// One search from the command line: the report server on port 19027, one
// broadcast search, and the device table filled for as long as the caller
// collects. The transport's receive thread parses each report and hands it
// over under a lock; the table itself belongs to the thread that collects, as
// the window's table belongs to its UI thread. Commands that first need the
// devices on the LAN (search, upgrade) share it.
#pragma once

#include "protocol/DeviceRecord.h"
#include "protocol/DeviceTable.h"
#include "tarn.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace lynx::cli {

struct DeviceRow {
    int number = 0;
    DeviceRecord record{};
};

class SearchSession {
public:
    using Clock = std::chrono::steady_clock;

    explicit SearchSession(protocol::DuplicateFilter filter = {});
    ~SearchSession();
    SearchSession(const SearchSession&) = delete;
    SearchSession& operator=(const SearchSession&) = delete;

    // Starts the transport as the window does and the server on port 19027.
    // One session per process receives the reports at a time.
    bool Start(std::string* error);
    uint16_t ReportSocket() const { return m_reportSocket; }

    // Empties the table (numbers restart at 1) and broadcasts one search.
    bool Search();
    // Applies the reports that arrive until the deadline, on the calling thread.
    void CollectUntil(Clock::time_point deadline);
    void CollectFor(std::chrono::milliseconds duration) { CollectUntil(Clock::now() + duration); }

    // The kept devices in row order. Call on the collecting thread.
    std::vector<DeviceRow> Rows() const;
    // When the last row was added (wall clock, for timing against other processes).
    std::optional<std::chrono::system_clock::time_point> LastRowAdded() const { return m_lastRowAdded; }

    // What the transport's callback does with one datagram: a '$' datagram is a
    // device report whatever its command; anything else is ignored. Safe from
    // any thread.
    void Deliver(const PacketHeader& header, const char* body);

private:
    static int OnReportDatagram(uint32_t peer, uint32_t peerPort, PacketHeader header, uint32_t length,
                                const char* body);
    void Apply(std::vector<std::unique_ptr<DeviceRecord>> reports);

    protocol::DuplicateFilter m_filter;
    uint16_t m_reportSocket = 0;

    std::mutex m_queueMutex;
    std::condition_variable m_queueReady;
    std::vector<std::unique_ptr<DeviceRecord>> m_queue;

    DeviceList m_deviceList;
    DeviceMap m_deviceMap;
    int m_nDeviceCount = 0;
    std::optional<std::chrono::system_clock::time_point> m_lastRowAdded;
};

} // namespace lynx::cli
