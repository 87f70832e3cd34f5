// The simulated cameras together: one place where every datagram arrives and is
// routed to the camera it concerns (searches to all of them, an address change
// by MAC, an update request by device identifier), plus the timers, downloads
// and TCP listeners the cameras need.
#pragma once

#include "AddressManager.h"
#include "Camera.h"
#include "Log.h"
#include "Presence.h"
#include "ProbeListener.h"
#include "Requests.h"
#include "Scheduler.h"
#include "Wire.h"
#include "tarn.h"

#include <atomic>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace camsim {

struct SimOptions {
    bool burst = false;          // every answer built first, then sent back to back
    // Search answers go to the broadcast address, not to the searcher's: a
    // camera with no route to the searcher's subnet (fresh from the factory,
    // on another subnet) is still heard.
    bool answerBroadcast = false;
    bool addAddresses = false;   // put the cameras' addresses on the interface
    bool timing = false;         // print when the last report of a search went out
    std::string interface;
    // Tests on loopback pick free ports (0: any); the real ones are the default.
    uint16_t reportPort = kReportPort;
    uint16_t updatePort = kUpdatePort;
    uint16_t probePort = kProbePort;
    uint16_t notifyPort = kUpdatePort;  // where status notifications go
    int downloadTimeoutSeconds = 300;
    long long downloadBytesPerSecond = 0;  // 0: as fast as the link allows
    std::string downloadDir = "/tmp";
    std::vector<LeaveSpec> leaves;   // planned absences, timed from Start
    std::optional<ChurnSpec> churn;  // random absences from Start until Stop
};

class Simulator {
public:
    Simulator(SimOptions options, std::vector<CameraConfig> cameras, const Log& log);
    ~Simulator();
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // Opens the UDP servers and the TCP listeners (and the addresses, when
    // asked). Only one simulator per process runs at a time.
    bool Start(std::string* error);
    void Stop();

    uint16_t ReportPort() const;
    uint16_t UpdatePort() const;
    // The cameras as they stand now.
    std::vector<CameraConfig> Cameras() const;
    size_t ProbeListenerCount() const { return m_probe.Count(); }

    // Takes a camera (its position in the list) off the network or brings it
    // back, logging it; false when there is no such camera, it is already
    // away (present), or the simulator is not running. why ends the log line.
    bool Leave(size_t camera, const std::string& why);
    bool Return(size_t camera, const std::string& why);
    // The first camera in the list that is present leaves; the one away the
    // longest returns. The camera moved, nullopt when there was none.
    std::optional<size_t> LeaveNext(const std::string& why);
    std::optional<size_t> ReturnLongestAway(const std::string& why);
    size_t AwayCount() const;

private:
    struct Outgoing {
        std::string fromIp;
        std::string body;
        int delayMs = 0;
        bool notification = false;  // a status notification to the searcher's notify port
        size_t camera = 0;          // sent only while it is present
    };
    struct Worker {
        std::thread thread;
        std::atomic<bool> done{false};
    };

    static int OnReportDatagram(uint32_t peer, uint32_t peerPort, PacketHeader header, uint32_t length,
                                const char* body);
    static int OnUpdateDatagram(uint32_t peer, uint32_t peerPort, PacketHeader header, uint32_t length,
                                const char* body);
    void Route(Channel channel, uint32_t peer, uint16_t peerPort, const PacketHeader& header, std::string body);

    void AnswerSearch(const std::string& peerIp, uint16_t peerPort);
    void ChangeAddress(const std::string& body);
    // Gives a camera a new address (as a changeIp request does) and moves the
    // namespace's addresses and probe listeners along.
    void MoveCamera(Camera& camera, const std::string& ip, const std::string& mask, const std::string& gateway,
                    int prefix, std::unique_lock<std::mutex>& lock);
    void UpdateRequest(const std::string& peerIp, uint16_t peerPort, const PacketHeader& header,
                       const std::string& body);
    void RunUpgrade(size_t camera, std::string url, std::string peerIp);
    void FinishUpgrade(size_t camera, int status, const std::string& peerIp);

    // From the camera's own address where this host has it, else from any.
    bool IsPresent(size_t camera) const;
    void LogPresence(const char* what, const CameraConfig& camera, const std::string& why) const;
    // Schedules the absences asked for in the options.
    bool PlanAbsences(std::string* error);
    void ChurnLeave(size_t camera);
    void ChurnReturn(size_t camera);
    int ChurnDelayMs();

    bool Send(uint16_t socket, const PacketHeader& header, const std::string& body, const std::string& fromIp,
              const std::string& toIp, uint16_t toPort);
    void RefreshLocalAddresses();

    SimOptions m_options;
    const Log& m_log;
    mutable std::mutex m_mutex;  // the cameras and the local address set
    std::vector<Camera> m_cameras;
    std::set<std::string> m_localAddresses;
    std::mt19937 m_random{std::random_device{}()};
    std::mutex m_presenceMutex;  // one leave or return at a time
    std::mutex m_churnMutex;
    std::mt19937 m_churnRandom;

    // The transport hands a handle out only after its receive thread runs, so
    // datagrams are routed once both handles are known (m_ready).
    std::atomic<uint16_t> m_reportSocket{0};
    std::atomic<uint16_t> m_updateSocket{0};
    std::atomic<bool> m_ready{false};
    std::atomic<bool> m_stopping{false};
    bool m_started = false;
    Scheduler m_scheduler;
    ProbeListener m_probe;
    std::unique_ptr<AddressManager> m_addresses;

    std::mutex m_workersMutex;
    std::list<Worker> m_workers;
    std::atomic<uint64_t> m_downloadSequence{0};

    static std::atomic<Simulator*> s_running;  // the transport's callbacks carry no context
};

} // namespace camsim
