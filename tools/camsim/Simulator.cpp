#include "Simulator.h"

#include "Firmware.h"
#include "Requests.h"

#include <json/reader.h>
#include <json/value.h>

#include <arpa/inet.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <numeric>

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
    return PlanAbsences(error);
}

bool Simulator::PlanAbsences(std::string* error)
{
    using std::chrono::milliseconds;
    const std::vector<CameraConfig> cameras = Cameras();
    const auto start = Scheduler::Clock::now();
    for (const LeaveSpec& spec : m_options.leaves) {
        const std::optional<size_t> camera = FindCamera(spec.who, cameras);
        if (!camera) {
            *error = "--leave: no camera '" + spec.who + "'";
            return false;
        }
        // The return is timed from the start too, so that a late leave (a
        // loaded machine) does not shift the whole plan.
        const auto back = spec.forMs ? std::optional(start + milliseconds(spec.atMs + *spec.forMs)) : std::nullopt;
        m_scheduler.At(start + milliseconds(spec.atMs), [this, index = *camera, back] {
            if (Leave(index, "plan") && back)
                m_scheduler.At(*back, [this, index] { Return(index, "plan"); });
        });
    }
    if (!m_options.churn)
        return true;
    const ChurnSpec& churn = *m_options.churn;
    const uint32_t seed = churn.seed.value_or(std::random_device{}());
    std::vector<size_t> moving(cameras.size());
    std::iota(moving.begin(), moving.end(), size_t{0});
    {
        std::lock_guard lock(m_churnMutex);
        m_churnRandom.seed(seed);
        std::shuffle(moving.begin(), moving.end(), m_churnRandom);
    }
    moving.resize(ChurnCount(cameras.size(), churn.percent));
    m_log.Always("churn: " + std::to_string(moving.size()) + " of " + std::to_string(cameras.size()) +
                 " cameras come and go, " + std::to_string(churn.minMs) + " to " + std::to_string(churn.maxMs) +
                 " ms, seed " + std::to_string(seed));
    for (size_t index : moving)
        m_scheduler.After(milliseconds(ChurnDelayMs()), [this, index] { ChurnLeave(index); });
    return true;
}

int Simulator::ChurnDelayMs()
{
    std::lock_guard lock(m_churnMutex);
    return std::uniform_int_distribution<int>(m_options.churn->minMs, m_options.churn->maxMs)(m_churnRandom);
}

void Simulator::ChurnLeave(size_t camera)
{
    // A camera a signal took away already is tried again later.
    const bool left = Leave(camera, "churn");
    m_scheduler.After(std::chrono::milliseconds(ChurnDelayMs()), [this, camera, left] {
        if (left)
            ChurnReturn(camera);
        else
            ChurnLeave(camera);
    });
}

void Simulator::ChurnReturn(size_t camera)
{
    Return(camera, "churn");
    m_scheduler.After(std::chrono::milliseconds(ChurnDelayMs()), [this, camera] { ChurnLeave(camera); });
}

bool Simulator::Leave(size_t camera, const std::string& why)
{
    // One leave or return at a time, so that the TCP listener and the log
    // follow the order the cameras really changed in.
    std::lock_guard presence(m_presenceMutex);
    if (!m_ready || m_stopping)
        return false;
    CameraConfig config;
    bool addressStillAnswers = false;
    {
        std::lock_guard lock(m_mutex);
        if (camera >= m_cameras.size() || m_cameras[camera].IsAway())
            return false;
        m_cameras[camera].SetAway(true, Camera::Clock::now());
        config = m_cameras[camera].Config();
        for (const Camera& c : m_cameras)
            addressStillAnswers = addressStillAnswers || (!c.IsAway() && c.Config().ip == config.ip);
    }
    if (!addressStillAnswers)
        m_probe.Close(config.ip);
    LogPresence("left", config, why);
    return true;
}

bool Simulator::Return(size_t camera, const std::string& why)
{
    std::lock_guard presence(m_presenceMutex);
    if (!m_ready || m_stopping)
        return false;
    CameraConfig config;
    {
        std::lock_guard lock(m_mutex);
        if (camera >= m_cameras.size() || !m_cameras[camera].IsAway())
            return false;
        m_cameras[camera].SetAway(false, Camera::Clock::now());
        config = m_cameras[camera].Config();
    }
    m_probe.Open(config.ip);
    LogPresence("returned", config, why);
    return true;
}

std::optional<size_t> Simulator::LeaveNext(const std::string& why)
{
    for (size_t i = 0;; ++i) {
        {
            std::lock_guard lock(m_mutex);
            if (i >= m_cameras.size())
                return std::nullopt;
        }
        if (Leave(i, why))
            return i;
    }
}

std::optional<size_t> Simulator::ReturnLongestAway(const std::string& why)
{
    std::optional<size_t> longest;
    {
        std::lock_guard lock(m_mutex);
        for (size_t i = 0; i < m_cameras.size(); ++i)
            if (m_cameras[i].IsAway() && (!longest || m_cameras[i].AwaySince() < m_cameras[*longest].AwaySince()))
                longest = i;
    }
    if (longest && Return(*longest, why))
        return longest;
    return std::nullopt;
}

size_t Simulator::AwayCount() const
{
    std::lock_guard lock(m_mutex);
    return static_cast<size_t>(
        std::count_if(m_cameras.begin(), m_cameras.end(), [](const Camera& c) { return c.IsAway(); }));
}

bool Simulator::IsPresent(size_t camera) const
{
    std::lock_guard lock(m_mutex);
    return camera < m_cameras.size() && !m_cameras[camera].IsAway();
}

void Simulator::LogPresence(const char* what, const CameraConfig& camera, const std::string& why) const
{
    char time[32];
    std::snprintf(time, sizeof time, "%.6f", NowSeconds());
    m_log.Always(std::string(what) + " " + camera.mac + " t=" + time + " ip=" + camera.ip + " by=" + why);
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
        for (size_t index = 0; index < m_cameras.size(); ++index) {
            const Camera& c = m_cameras[index];
            const CameraBehaviour& b = c.Behaviour();
            if (b.silent || c.IsAway() || c.IsRestarting(now))
                continue;
            int delay = 0;
            if (!m_options.burst) {
                delay = b.delayMs;
                if (b.jitterMs > 0)
                    delay += std::uniform_int_distribution<int>(0, b.jitterMs)(m_random);
            }
            if (b.malformed) {
                for (std::string& broken : Camera::MalformedBodies())
                    answers.push_back({c.Config().ip, std::move(broken), delay, false, index});
                // The same bodies as status notifications, which the searcher
                // reads on its update port whether or not it upgrades anything.
                for (std::string& broken : Camera::MalformedBodies())
                    answers.push_back({c.Config().ip, std::move(broken), delay, true, index});
            }
            std::string report = c.ReportBody();
            if (b.answerTwice)
                answers.push_back({c.Config().ip, report, delay, false, index});
            answers.push_back({c.Config().ip, std::move(report), delay, false, index});
        }
    }
    m_log.Event("search from " + peerIp + ":" + std::to_string(peerPort) + ": " + std::to_string(answers.size()) +
                " reports");
    const PacketHeader header = AnswerHeader(kCmdSearch);
    const PacketHeader notification = AnswerHeader(kCmdUpdateStatus);
    const std::string answerTo = m_options.answerBroadcast ? "255.255.255.255" : peerIp;
    const auto send = [this, header, notification, peerIp, peerPort, answerTo](const Outgoing& a) {
        if (a.notification)
            return Send(m_updateSocket, notification, a.body, a.fromIp, peerIp, m_options.notifyPort);
        return Send(m_reportSocket, header, a.body, a.fromIp, answerTo, peerPort);
    };
    size_t sent = 0, failed = 0;
    for (Outgoing& a : answers) {
        if (a.delayMs > 0) {
            // A camera that leaves before its delayed answer is due sends nothing.
            m_scheduler.After(std::chrono::milliseconds(a.delayMs), [this, send, a] {
                if (IsPresent(a.camera))
                    send(a);
            });
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
        if (c.MacMatches(change->mac) && !c.IsAway()) {
            MoveCamera(c, change->ip, change->mask, change->gateway, change->prefix, lock);
            return;
        }
    m_log.Event("changeIp for MAC " + change->mac + " ignored: no such camera is present");
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
        if (camera.IsAway()) {
            m_log.Event("update request for device " + deviceId + " ignored: the camera is away");
            return;
        }
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
                             m_options.downloadBytesPerSecond, behaviour.stallAfterBytes) &&
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
        deviceId = c.Config().deviceId;
        // Gone in the middle of its upgrade: it comes back with the firmware
        // it had, and tells no one.
        if (c.IsAway()) {
            lock.unlock();
            m_log.Event("device " + deviceId + " left during its upgrade: the upgrade is lost");
            return;
        }
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
