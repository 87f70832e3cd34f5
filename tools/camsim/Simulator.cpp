#include "Simulator.h"

#include "Firmware.h"
#include "Requests.h"

#include <json/reader.h>
#include <json/value.h>

#include <arpa/inet.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>

namespace camsim {

std::atomic<Simulator*> Simulator::s_running{nullptr};

namespace {

std::string IpText(uint32_t hostOrder)
{
    return FormatIpv4(hostOrder);
}

// Interfaces are only ever changed inside a named namespace (one that `ip
// netns` made, as tools/netlab does): never in the machine's own.
bool InMachineNamespace()
{
    struct stat mine{};
    if (::stat("/proc/self/ns/net", &mine) != 0)
        return true;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/run/netns", error)) {
        struct stat named{};
        if (::stat(entry.path().c_str(), &named) == 0 && named.st_ino == mine.st_ino && named.st_dev == mine.st_dev)
            return false;
    }
    return true;
}

double NowSeconds()
{
    using namespace std::chrono;
    return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count() / 1e6;
}

} // namespace

Simulator::Simulator(SimOptions options, std::vector<CameraConfig> cameras, const Log& log)
    : m_options(std::move(options)), m_log(log), m_probe(m_options.probePort, log)
{
    for (auto& c : cameras)
        m_cameras.emplace_back(std::move(c));
}

Simulator::~Simulator()
{
    Stop();
}

bool Simulator::Start(std::string* error)
{
    Simulator* expected = nullptr;
    if (!s_running.compare_exchange_strong(expected, this)) {
        *error = "another simulator runs in this process";
        return false;
    }
    m_started = true;
    std::vector<std::pair<std::string, int>> addresses;
    {
        std::lock_guard lock(m_mutex);
        for (const Camera& c : m_cameras)
            addresses.emplace_back(c.Config().ip, MaskPrefix(c.Config().mask).value_or(24));
    }
    if (m_options.addAddresses) {
        if (InMachineNamespace()) {
            *error = "--add-addresses changes interfaces: run it inside a virtual LAN (tools/netlab), "
                     "never in the machine's own network namespace";
            return false;
        }
        m_addresses = std::make_unique<AddressManager>(m_options.interface, m_log);
        if (!m_addresses->Ensure(addresses)) {
            *error = "could not add the cameras' addresses on interface '" + m_addresses->Interface() + "'";
            return false;
        }
    }
    RefreshLocalAddresses();

    // The TCP listeners first: once the UDP servers run, datagrams may move cameras.
    if (!m_probe.Start()) {
        *error = "cannot start the TCP listeners";
        return false;
    }
    size_t listening = 0;
    for (const auto& [ip, prefix] : addresses)
        listening += m_probe.Open(ip) ? 1 : 0;

    // Several simulators may play cameras in one network, each hearing the
    // broadcasts: their ports are shared, as a tool's never are.
    tarn_ext_SharePorts(1);
    uint16_t handle = 0;
    if (tarn_StartUDPServer(&handle, &Simulator::OnReportDatagram, 0, 0, m_options.reportPort) != 1) {
        *error = "cannot listen on UDP port " + std::to_string(m_options.reportPort);
        return false;
    }
    m_reportSocket = handle;
    handle = 0;
    if (tarn_StartUDPServer(&handle, &Simulator::OnUpdateDatagram, 0, 0, m_options.updatePort) != 1) {
        *error = "cannot listen on UDP port " + std::to_string(m_options.updatePort);
        return false;
    }
    m_updateSocket = handle;
    m_ready = true;
    m_log.Event("listening: UDP " + std::to_string(ReportPort()) + " and " + std::to_string(UpdatePort()) +
                ", TCP " + std::to_string(m_options.probePort) + " on " + std::to_string(listening) + " of " +
                std::to_string(addresses.size()) + " camera addresses");
    return true;
}

void Simulator::Stop()
{
    if (!m_started || m_stopping.exchange(true))
        return;
    // No datagram arrives after the sockets are closed: their threads are joined.
    if (m_reportSocket)
        tarn_ext_Close(m_reportSocket);
    if (m_updateSocket)
        tarn_ext_Close(m_updateSocket);
    m_scheduler.Stop();
    {
        std::lock_guard lock(m_workersMutex);
        for (Worker& w : m_workers)
            if (w.thread.joinable())
                w.thread.join();
        m_workers.clear();
    }
    m_probe.Stop();
    if (m_addresses)
        m_addresses->RemoveAdded();
    Simulator* self = this;
    s_running.compare_exchange_strong(self, nullptr);
}

uint16_t Simulator::ReportPort() const
{
    return tarn_ext_LocalPort(m_reportSocket);
}

uint16_t Simulator::UpdatePort() const
{
    return tarn_ext_LocalPort(m_updateSocket);
}

std::vector<CameraConfig> Simulator::Cameras() const
{
    std::lock_guard lock(m_mutex);
    std::vector<CameraConfig> out;
    for (const Camera& c : m_cameras)
        out.push_back(c.Config());
    return out;
}

void Simulator::RefreshLocalAddresses()
{
    auto local = LocalIpv4Addresses();
    std::lock_guard lock(m_mutex);
    m_localAddresses.swap(local);
}

int Simulator::OnReportDatagram(uint32_t peer, uint32_t peerPort, PacketHeader header, uint32_t length,
                                const char* body)
{
    if (Simulator* sim = s_running.load())
        sim->Route(Channel::Report, peer, static_cast<uint16_t>(peerPort), header, std::string(body, length));
    return 0;
}

int Simulator::OnUpdateDatagram(uint32_t peer, uint32_t peerPort, PacketHeader header, uint32_t length,
                                const char* body)
{
    if (Simulator* sim = s_running.load())
        sim->Route(Channel::Update, peer, static_cast<uint16_t>(peerPort), header, std::string(body, length));
    return 0;
}

void Simulator::Route(Channel channel, uint32_t peer, uint16_t peerPort, const PacketHeader& header, std::string body)
{
    if (m_stopping || !m_ready)
        return;
    std::string peerIp = IpText(peer);
    switch (KindOf(channel, header)) {
    case RequestKind::NotARequest:
        m_log.Event("ignored a datagram from " + peerIp + " (not a request)");
        break;
    case RequestKind::Search:
        AnswerSearch(peerIp, peerPort);
        break;
    case RequestKind::ChangeIp:
        ChangeAddress(body);
        break;
    case RequestKind::Update:
        UpdateRequest(peerIp, peerPort, header, body);
        break;
    case RequestKind::UnknownCommand: {
        char command[8];
        std::snprintf(command, sizeof command, "0x%X", header.command);
        m_log.Event(std::string("ignored command ") + command + " from " + peerIp);
        break;
    }
    }
}

bool Simulator::Send(uint16_t socket, const PacketHeader& header, const std::string& body, const std::string& fromIp,
                     const std::string& toIp, uint16_t toPort)
{
    bool local;
    {
        std::lock_guard lock(m_mutex);
        local = m_localAddresses.count(fromIp) > 0;
    }
    int length = static_cast<int>(body.size());
    const char* data = body.empty() ? nullptr : body.data();
    // Loopback answers from any 127/8 address, which no interface lists.
    if ((local || fromIp.rfind("127.", 0) == 0) &&
        tarn_ext_UdpSendFrom(socket, &header, length, data, fromIp.c_str(), toIp.c_str(), toPort) == 1)
        return true;
    return tarn_UdpSendTo(socket, &header, 0, length, data, toIp.c_str(), toPort) == 1;
}

void Simulator::AnswerSearch(const std::string& peerIp, uint16_t peerPort)
{
    std::vector<Outgoing> answers;
    {
        std::lock_guard lock(m_mutex);
        auto now = Camera::Clock::now();
        answers.reserve(m_cameras.size());
        for (const Camera& c : m_cameras) {
            const CameraBehaviour& b = c.Behaviour();
            if (b.silent || c.IsRestarting(now))
                continue;
            int delay = 0;
            if (!m_options.burst) {
                delay = b.delayMs;
                if (b.jitterMs > 0)
                    delay += std::uniform_int_distribution<int>(0, b.jitterMs)(m_random);
            }
            if (b.malformed) {
                for (std::string& broken : Camera::MalformedBodies())
                    answers.push_back({c.Config().ip, std::move(broken), delay});
                // The same bodies as status notifications, which the searcher
                // reads on its update port whether or not it upgrades anything.
                for (std::string& broken : Camera::MalformedBodies())
                    answers.push_back({c.Config().ip, std::move(broken), delay, true});
            }
            std::string report = c.ReportBody();
            if (b.answerTwice)
                answers.push_back({c.Config().ip, report, delay});
            answers.push_back({c.Config().ip, std::move(report), delay});
        }
    }
    m_log.Event("search from " + peerIp + ":" + std::to_string(peerPort) + ": " + std::to_string(answers.size()) +
                " reports");
    const PacketHeader header = AnswerHeader(kCmdSearch);
    const PacketHeader notification = AnswerHeader(kCmdUpdateStatus);
    const auto send = [this, header, notification, peerIp, peerPort](const Outgoing& a) {
        if (a.notification)
            return Send(m_updateSocket, notification, a.body, a.fromIp, peerIp, m_options.notifyPort);
        return Send(m_reportSocket, header, a.body, a.fromIp, peerIp, peerPort);
    };
    size_t sent = 0, failed = 0;
    for (Outgoing& a : answers) {
        if (a.delayMs > 0) {
            m_scheduler.After(std::chrono::milliseconds(a.delayMs), [send, a] { send(a); });
            continue;
        }
        if (a.notification)
            send(a);
        else if (send(a))
            ++sent;
        else
            ++failed;
    }
    if (m_options.timing) {
        char line[128];
        std::snprintf(line, sizeof line, "timing: last report sent at %.6f (%zu sent, %zu failed)", NowSeconds(),
                      sent, failed);
        m_log.Always(line);
    }
}

void Simulator::ChangeAddress(const std::string& body)
{
    const std::optional<ChangeIpRequest> change = ParseChangeIpRequest(body);
    if (!change) {
        m_log.Event("ignored a changeIp request that is not complete: " + body);
        return;
    }
    std::unique_lock lock(m_mutex);
    for (Camera& c : m_cameras)
        if (c.MacMatches(change->mac)) {
            MoveCamera(c, change->ip, change->mask, change->gateway, change->prefix, lock);
            return;
        }
    m_log.Event("changeIp for unknown MAC " + change->mac + " ignored");
}

void Simulator::MoveCamera(Camera& camera, const std::string& ip, const std::string& mask, const std::string& gateway,
                           int prefix, std::unique_lock<std::mutex>& lock)
{
    const std::string mac = camera.Config().mac;
    const std::string oldIp = camera.Config().ip;
    camera.TakeAddress(ip, mask, gateway, Camera::Clock::now());
    const int restartMs = camera.Behaviour().restartMs;
    bool oldStillUsed = false;
    for (const Camera& c : m_cameras)
        oldStillUsed = oldStillUsed || c.Config().ip == oldIp;
    lock.unlock();
    m_log.Event("camera " + mac + " moves " + oldIp + " -> " + ip + "/" + std::to_string(prefix) + " gw " + gateway +
                ", restarting for " + std::to_string(restartMs) + " ms");
    if (m_addresses) {
        if (!m_addresses->Move(oldIp, oldStillUsed, ip, prefix))
            m_log.Always("could not move address " + oldIp + " to " + ip);
        RefreshLocalAddresses();
    }
    if (!oldStillUsed)
        m_probe.Close(oldIp);
    m_probe.Open(ip);
}

void Simulator::UpdateRequest(const std::string& peerIp, uint16_t peerPort, const PacketHeader& header,
                              const std::string& body)
{
    const camsim::UpdateRequest request = ParseUpdateRequest(body);
    const std::string& deviceId = request.deviceId;
    const std::string& url = request.url;
    size_t index = 0;
    bool accept = false;
    std::string fromIp;
    {
        std::lock_guard lock(m_mutex);
        auto now = Camera::Clock::now();
        for (index = 0; index < m_cameras.size(); ++index)
            if (m_cameras[index].DeviceIdMatches(deviceId))
                break;
        if (index == m_cameras.size()) {
            m_log.Event("update request for unknown device '" + deviceId + "' ignored");
            return;
        }
        Camera& camera = m_cameras[index];
        if (camera.IsRestarting(now)) {
            m_log.Event("update request for restarting device " + deviceId + " ignored");
            return;
        }
        // A camera that is already upgrading is not ready for another upgrade.
        accept = !camera.Behaviour().refuseUpgrade && !camera.IsUpgrading();
        if (accept)
            camera.SetUpgrading(true);
        fromIp = camera.Config().ip;
    }
    Json::Value reply(Json::objectValue);
    reply["deviceId"] = deviceId;
    PacketHeader answer = AnswerHeader(kCmdUpdate, accept ? kResultAccepted : kResultRefused, header.tag);
    bool sent = Send(m_updateSocket, answer, WriteJson(reply), fromIp, peerIp, peerPort);
    m_log.Event(std::string("update request for ") + deviceId + " from " + peerIp + ":" + std::to_string(peerPort) +
                (accept ? " accepted" : " refused") + ", tag " + std::to_string(header.tag) +
                (sent ? "" : " (reply not sent)") + ", file " + url);
    if (!accept)
        return;
    std::lock_guard lock(m_workersMutex);
    m_workers.remove_if([](Worker& w) {
        if (!w.done)
            return false;
        w.thread.join();
        return true;
    });
    if (m_stopping)
        return;
    Worker& worker = m_workers.emplace_back();
    worker.thread = std::thread([this, index, url, peerIp, &worker] {
        RunUpgrade(index, url, peerIp);
        worker.done = true;
    });
}

void Simulator::RunUpgrade(size_t camera, std::string url, std::string peerIp)
{
    std::string deviceId, path, fromIp;
    CameraBehaviour behaviour;
    {
        std::lock_guard lock(m_mutex);
        deviceId = m_cameras[camera].Config().deviceId;
        behaviour = m_cameras[camera].Behaviour();
        // From the camera's own address where this host has it, as its
        // datagrams are sent.
        const std::string& ip = m_cameras[camera].Config().ip;
        if (m_localAddresses.count(ip) > 0 || ip.rfind("127.", 0) == 0)
            fromIp = ip;
    }
    path = m_options.downloadDir + "/camsim-" + std::to_string(::getpid()) + "-" + std::to_string(++m_downloadSequence) +
           ".zip";
    std::string reason;
    bool good = DownloadFile(url, path, fromIp, m_options.downloadTimeoutSeconds, m_stopping, &reason,
                             m_options.downloadBytesPerSecond) &&
                VerifyArchive(path, &reason);
    ::unlink(path.c_str());
    if (m_stopping)
        return;
    int status = good ? (behaviour.failInstall ? 1 : 0) : 2;
    m_log.Event("device " + deviceId + ": " + (good ? "download checked" : "download or check failed: " + reason) +
                ", installing for " + std::to_string(behaviour.installMs) + " ms");
    m_scheduler.After(std::chrono::milliseconds(good ? behaviour.installMs : 0),
                      [this, camera, status, peerIp] { FinishUpgrade(camera, status, peerIp); });
}

void Simulator::FinishUpgrade(size_t camera, int status, const std::string& peerIp)
{
    std::string deviceId, fromIp;
    CameraBehaviour behaviour;
    {
        std::unique_lock lock(m_mutex);
        Camera& c = m_cameras[camera];
        c.SetUpgrading(false);
        behaviour = c.Behaviour();
        if (status == 0 && c.CountInstall() <= behaviour.failInstalls)
            status = 1;
        if (status == 0 && !behaviour.newVersion.empty())
            c.SetSoftwareVersion(behaviour.newVersion);
        deviceId = c.Config().deviceId;
        // The new firmware comes up at another address, and reports from there.
        if (status == 0 && !behaviour.upgradeIp.empty() && behaviour.upgradeIp != c.Config().ip) {
            const CameraConfig config = c.Config();
            MoveCamera(c, behaviour.upgradeIp, config.mask, config.gateway, MaskPrefix(config.mask).value_or(24), lock);
            lock.lock();
        }
        fromIp = c.Config().ip;
    }
    int reported = behaviour.reportStatus.value_or(status);
    if (behaviour.silentUpgrade) {
        m_log.Event("device " + deviceId + ": upgrade ended with status " + std::to_string(status) + ", not reported");
        return;
    }
    Json::Value note(Json::objectValue);
    note["deviceId"] = deviceId;
    note["status"] = reported;
    std::string body = WriteJson(note);
    PacketHeader header = AnswerHeader(kCmdUpdateStatus);
    int times = behaviour.reportTwice ? 2 : 1;
    for (int i = 0; i < times; ++i)
        Send(m_updateSocket, header, body, fromIp, peerIp, m_options.notifyPort);
    m_log.Event("device " + deviceId + ": status " + std::to_string(reported) + " sent to " + peerIp + ":" +
                std::to_string(m_options.notifyPort) + (times > 1 ? " twice" : ""));
}

} // namespace camsim
