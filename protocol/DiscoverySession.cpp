#include "protocol/DiscoverySession.h"

#include "protocol/JsonMessages.h"
#include "protocol/Transport.h"

#include <cerrno>
#include <cstdlib>
#include <string_view>
#include <mutex>

namespace lynx::protocol {

namespace {

void OnConnectionNotify(uint16_t, int) {}

// The session the session's own callbacks hand datagrams to: the callbacks
// carry no context. Cleared before that session is destroyed.
std::mutex g_receivingMutex;
DiscoverySession* g_receiving = nullptr;

int Receive(uint16_t port, uint32_t peer, const PacketHeader& header, uint32_t length, const char* body)
{
    std::lock_guard lock(g_receivingMutex);
    if (g_receiving)
        g_receiving->Deliver(port, header, body, length, peer);
    return 0;
}

// The inbox's preparation: a report is parsed on the receive thread, off the
// owner's, and its body, read once, is given back; the card it came from is
// looked up, and judged against the MAC the report claims.
void PrepareDatagram(Datagram& datagram, HardwareWitness& witness)
{
    if (datagram.port != kReportPort) {
        datagram.peerHardware = witness.CardOf(datagram.peerAddress);
        return;
    }
    auto record = std::make_shared<DeviceRecord>();  // value-initialised: zero-filled
    ParseReportBody(datagram.body, *record);
    const HardwareVerdict verdict = witness.Judge(FieldBytes(record->mac), datagram.peerAddress);
    datagram.peerHardware = verdict.sender;
    datagram.hardwareDisowns = verdict.disowned;
    datagram.report = std::move(record);
    std::string().swap(datagram.body);
}

} // namespace

DeviceRecord ReportOf(const Datagram& datagram)
{
    if (datagram.report)
        return *datagram.report;
    DeviceRecord record{};
    ParseReportBody(datagram.body, record);
    return record;
}

ReportArrival ArrivalOf(const Datagram& datagram)
{
    return ReportArrival{datagram.interfaceName, datagram.localAddress, SourceText(datagram.peerAddress),
                         datagram.peerHardware, datagram.hardwareDisowns};
}

void InitTransport()
{
    tarn_Init(1, kTransportLogFiles, kTransportLogFileMb, kTransportLogDirectory, 0, 0, 0, 0);
    tarn_SetLogFlag(1);
    tarn_RegisterConnectionNotify(OnConnectionNotify);
}

void SetReceiveBufferSize(uint32_t bytes)
{
    tarn_ext_SetReceiveBufferSize(bytes);
}

void ShutdownTransport()
{
    tarn_ext_Shutdown();
}

void LogLine(const std::string& line)
{
    tarn_ext_LogLine(line.c_str());
}

DiscoverySession::DiscoverySession(DatagramInbox::Wake wake)
    : m_inbox(wake, [this](Datagram& datagram) { PrepareDatagram(datagram, m_witness); })
{
    std::lock_guard lock(g_receivingMutex);
    g_receiving = this;
}

bool DiscoverySession::AnyReceiving()
{
    std::lock_guard lock(g_receivingMutex);
    return g_receiving != nullptr;
}

DiscoverySession::~DiscoverySession()
{
    std::lock_guard lock(g_receivingMutex);
    if (g_receiving == this)
        g_receiving = nullptr;
}

bool DiscoverySession::StartServers(bool serveUpdates)
{
    // Programs that run side by side on one PC on purpose (the tests that
    // drive the window and lynx-cli together, a trainer's set-up) say so with
    // LYNX_SHARE_PORTS=1. The ports are then shared, and a camera's unicast
    // answer reaches only one of them.
    if (const char* share = std::getenv("LYNX_SHARE_PORTS"); share && std::string_view(share) == "1")
        tarn_ext_SharePorts(1);
    m_portTaken = false;
    if (m_reportSocket == 0) {
        if (tarn_StartUDPServer(&m_reportSocket, &DiscoverySession::ReceiveReport, 0, 0, kReportPort) != 1) {
            m_reportSocket = 0;
            m_portTaken = tarn_ext_LastStartError() == EADDRINUSE;
            LogLine("cannot receive device reports on UDP " + std::to_string(kReportPort));
        }
    }
    if (serveUpdates) {
        // A running server is left alone; its handle is not needed.
        uint16_t udpServerSocket = 0;
        if (tarn_StartUDPServer(&udpServerSocket, &DiscoverySession::ReceiveUpdate, 0, 0, kUpdatePort) != 1) {
            m_portTaken = m_portTaken || tarn_ext_LastStartError() == EADDRINUSE;
            LogLine("cannot receive upgrade replies on UDP " + std::to_string(kUpdatePort));
        }
    }
    return m_reportSocket != 0;
}

bool DiscoverySession::SendSearch()
{
    if (protocol::SendSearch(m_reportSocket, m_interfaces))
        return true;
    LogLine("the search request went out on no network interface");
    return false;
}

bool DiscoverySession::SendChangeIp(const DeviceRecord& record)
{
    if (protocol::SendChangeIp(m_reportSocket, record, m_interfaces))
        return true;
    LogLine("an address change went out on no network interface");
    return false;
}

bool DiscoverySession::Search()
{
    // Reports received before this point belong to the list being cleared.
    m_inbox.Drop([](const Datagram& d) { return d.port == kReportPort; });
    m_table.Clear();
    m_lastRowAdded.reset();
    return SendSearch();
}

int DiscoverySession::AddReport(const Datagram& datagram, DuplicateFilter filter)
{
    if (!datagram.report)
        return m_table.AddReport(datagram.body, filter, ArrivalOf(datagram));
    return m_table.Add(std::make_unique<DeviceRecord>(*datagram.report), filter, ArrivalOf(datagram));
}

void DiscoverySession::Deliver(uint16_t port, const PacketHeader& header, const char* body, uint32_t length,
                               uint32_t peer)
{
    // Every '$' datagram on the report port is a device report, whatever its command.
    ++m_delivered;
    if (port == kReportPort && header.bodyMarker != kMarkerBody)
        return;
    Datagram datagram{port, header, std::string(body ? body : "", body ? length : 0), {}, {}, peer};
    // Called on the receive thread, inside the transport's callback: where it came in.
    TARN_ARRIVAL arrival{};
    if (tarn_ext_Arrival(&arrival) == 1) {
        datagram.interfaceName = arrival.interfaceName;
        datagram.localAddress = arrival.localAddress;
    }
    m_inbox.Post(std::move(datagram));
}

void DiscoverySession::CollectUntil(Clock::time_point deadline, DuplicateFilter filter,
                                    const std::function<void(Datagram&)>& other, const std::function<bool()>& done)
{
    do {
        if (done && done())
            return;
        if (!m_inbox.WaitUntil(deadline))
            continue;
        // In slices, so that the deadline is seen however much waits: what is
        // still waiting when it passes has missed the search, as a report that
        // arrives a moment later has, and is left to the session's end.
        m_inbox.Apply(
            [&](Datagram& datagram) {
                if (datagram.port == kReportPort) {
                    ++m_reportsApplied;
                    if (AddReport(datagram, filter) > 0)
                        m_lastRowAdded = std::chrono::system_clock::now();
                } else if (other) {
                    other(datagram);
                }
            },
            std::chrono::milliseconds(20));
    } while (Clock::now() < deadline);
}

int DiscoverySession::ReceiveReport(uint32_t peer, uint32_t, PacketHeader header, uint32_t length, const char* body)
{
    return Receive(kReportPort, peer, header, length, body);
}

int DiscoverySession::ReceiveUpdate(uint32_t peer, uint32_t, PacketHeader header, uint32_t length, const char* body)
{
    return Receive(kUpdatePort, peer, header, length, body);
}

} // namespace lynx::protocol
