// Discovery without widgets, as both front ends drive it: the transport's
// start-up, the servers on the report port (19027) and the update port
// (8025), the search broadcast, the hand-off of what the servers receive, and
// the device table that the reports fill.
#pragma once

#include "protocol/DatagramInbox.h"
#include "protocol/DeviceTable.h"
#include "protocol/HardwareWitness.h"
#include "protocol/Transport.h"
#include "tarn.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace lynx::protocol {

// The log the maker's tool asks of the transport: at most 35 files of 35 MiB,
// in "C://log//" (which the transport maps to a folder of this system).
constexpr int kTransportLogFiles = 35;
constexpr int kTransportLogFileMb = 35;
constexpr const char* kTransportLogDirectory = "C://log//";

// Initialises the transport, switches its log on and registers the
// connection notification (which does nothing: UDP has no connections).
void InitTransport();

// The receive buffer the transport's servers ask for, in bytes (0: its
// default); for sites whose bursts of reports outgrow it.
void SetReceiveBufferSize(uint32_t bytes);
// Ends the transport's servers and their receive threads, before the
// process ends.
void ShutdownTransport();

// Writes one line of this system's own into the transport's log, for a
// failure the user is not told of.
void LogLine(const std::string& line);

// Where a received datagram came in, as the device table keeps it.
ReportArrival ArrivalOf(const Datagram& datagram);
// A report datagram's record: as the session's inbox parsed it, or parsed
// from its body now (zero-filled when it does not parse).
DeviceRecord ReportOf(const Datagram& datagram);

class DiscoverySession {
public:
    using Clock = DatagramInbox::Clock;

    // The session receives from now on: one session per process receives at a
    // time, the one made last, until it is destroyed. Its inbox parses each
    // report on the receive thread, before the owner takes it.
    explicit DiscoverySession(DatagramInbox::Wake wake = DatagramInbox::Wake::Condition);
    ~DiscoverySession();
    DiscoverySession(const DiscoverySession&) = delete;
    DiscoverySession& operator=(const DiscoverySession&) = delete;

    // Asks for the servers: the report server only while none runs (a failed
    // start is tried again at the next call), and, when serveUpdates, the
    // update server (a running one is left alone). A failure is logged.
    // True when the report server runs.
    bool StartServers(bool serveUpdates = true);
    // Whether the last StartServers found a port it asked for held by another
    // program (msg::kPortsTaken): this session cannot hear what arrives there.
    bool PortTaken() const { return m_portTaken; }
    // The report server's handle, 0 while none runs.
    uint16_t ReportSocket() const { return m_reportSocket; }

    // The interfaces searches and address changes go out on; empty (the
    // default): every interface that can broadcast, read afresh at each send.
    void SetInterfaces(InterfaceNames names) { m_interfaces = std::move(names); }
    const InterfaceNames& Interfaces() const { return m_interfaces; }

    // Keeps a report datagram in the table under filter (its record as the
    // inbox parsed it, or its body parsed now); the number it was kept under,
    // 0 when dropped.
    int AddReport(const Datagram& datagram, DuplicateFilter filter);

    // A new search: the reports received and not applied yet are forgotten, the
    // table emptied (numbers restart at 1), and the broadcast sent. False, and
    // logged, when the request went out on no interface.
    bool Search();
    // The search request alone, through the report server.
    bool SendSearch();
    // An address change, broadcast on the session's interfaces; false when it
    // went out on none.
    bool SendChangeIp(const DeviceRecord& record);

    // What a receive callback does with a datagram: a report port datagram
    // counts only with the '$' marker; everything else is handed over. peer is
    // the sender's address in host byte order (0 when not known).
    void Deliver(uint16_t port, const PacketHeader& header, const char* body, uint32_t length, uint32_t peer = 0);

    DatagramInbox& Inbox() { return m_inbox; }
    DeviceTable& Table() { return m_table; }
    const DeviceTable& Table() const { return m_table; }

    // For an owner without an event loop: applies what arrives until the
    // deadline, or until done answers true; reports go to the table under
    // filter, everything else to other.
    void CollectUntil(Clock::time_point deadline, DuplicateFilter filter,
                      const std::function<void(Datagram&)>& other = {}, const std::function<bool()>& done = {});
    void CollectFor(std::chrono::milliseconds duration, DuplicateFilter filter,
                    const std::function<void(Datagram&)>& other = {})
    {
        CollectUntil(Clock::now() + duration, filter, other);
    }
    // When the last row was added by CollectUntil (wall clock, for timing).
    std::optional<std::chrono::system_clock::time_point> LastRowAdded() const { return m_lastRowAdded; }
    // Datagrams handed over since the session began, and reports applied.
    uint64_t Delivered() const { return m_delivered.load(); }
    uint64_t ReportsApplied() const { return m_reportsApplied; }

    // The receive callbacks of the servers and of the upgrade's clients: they
    // only hand the datagram to the session that receives (none: dropped).
    static int ReceiveReport(uint32_t peer, uint32_t peerPort, PacketHeader header, uint32_t length, const char* body);
    static int ReceiveUpdate(uint32_t peer, uint32_t peerPort, PacketHeader header, uint32_t length, const char* body);
    // Whether a session receives.
    static bool AnyReceiving();

private:
    InterfaceNames m_interfaces;
    HardwareWitness m_witness;  // before the inbox, whose preparation asks it; kept across searches
    DatagramInbox m_inbox;
    DeviceTable m_table;
    uint16_t m_reportSocket = 0;
    bool m_portTaken = false;
    std::optional<std::chrono::system_clock::time_point> m_lastRowAdded;
    std::atomic<uint64_t> m_delivered{0};
    uint64_t m_reportsApplied = 0;
};

} // namespace lynx::protocol
