// The IP transport library over real UDP/IPv4 sockets: one receive thread per
// socket, woken for shut-down through an eventfd.
#include "tarn.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

// Sized for a burst of 10,000 device reports: the kernel counts each small
// datagram at about 2.3 KB against the buffer, and the receive thread may not
// be scheduled for tens of milliseconds on a busy PC.
constexpr int kReceiveBufferBytes = 32 * 1024 * 1024;
constexpr size_t kMaxDatagram = 65536;
// The log's limits when tarn_Init gives none: the numbers the maker's tool passes.
constexpr int kDefaultLogFiles = 35;
constexpr uint64_t kDefaultLogFileBytes = 35ull * 1024 * 1024;
constexpr const char* kLogName = "tarn.log";

struct Socket {
    uint16_t handle = 0;
    int fd = -1;
    int wakeFd = -1;
    uint16_t localPort = 0;
    bool isServer = false;
    TARN_RECV_CALLBACK callback = nullptr;
    std::atomic<bool> closing{false};
    std::thread thread;

    ~Socket()
    {
        if (fd >= 0)
            ::close(fd);
        if (wakeFd >= 0)
            ::close(wakeFd);
    }
};

struct Registry {
    std::mutex mutex;
    std::mutex serverStartMutex;
    std::map<uint16_t, std::shared_ptr<Socket>> sockets;
    std::map<uint16_t, uint16_t> serverByPort;
    uint16_t lastHandle = 0;
    std::atomic<bool> logOn{false};
    std::atomic<int> receiveBufferBytes{kReceiveBufferBytes};
    std::atomic<bool> sharePorts{false};
    std::mutex logMutex;  // guards everything below
    std::string logDirectory;
    int logFiles = kDefaultLogFiles;             // tarn.log and tarn.log.1 .. tarn.log.(logFiles - 1)
    uint64_t logFileBytes = kDefaultLogFileBytes;  // a file is rotated before it grows past this
    FILE* logFile = nullptr;                     // tarn.log, open while in use (not inherited by children)
    uint64_t logFileSize = 0;
};

// Never destroyed: receive threads of a process that did not shut the library
// down may still run while static objects are torn down at exit.
Registry& registry()
{
    static Registry* r = new Registry;
    return *r;
}

std::string defaultLogDirectory()
{
    if (const char* dir = std::getenv("LYNX_LOG_DIR"); dir && *dir)
        return dir;
    if (const char* state = std::getenv("XDG_STATE_HOME"); state && *state)
        return std::string(state) + "/lynx/log";
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : "/tmp") + "/.local/state/lynx/log";
}

std::string logPath(const Registry& r, int index)
{
    std::string path = r.logDirectory + "/" + kLogName;
    return index == 0 ? path : path + "." + std::to_string(index);
}

void closeLog(Registry& r)
{
    if (r.logFile)
        std::fclose(r.logFile);
    r.logFile = nullptr;
    r.logFileSize = 0;
}

// The oldest file goes, the others move up one: tarn.log becomes tarn.log.1.
void rotateLog(Registry& r)
{
    closeLog(r);
    std::error_code ec;
    std::filesystem::remove(logPath(r, r.logFiles - 1), ec);
    for (int i = r.logFiles - 2; i >= 0; --i)
        std::filesystem::rename(logPath(r, i), logPath(r, i + 1), ec);
}

// One line per event, bounded on disk: a tool left running on site for weeks
// must not fill the disk, so the log is at most logFiles files of at most
// logFileBytes each (a single line longer than a file is cut to fit).
void logLine(const std::string& line)
{
    Registry& r = registry();
    if (!r.logOn.load())
        return;
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    std::string text = std::string(stamp) + " " + line + "\n";

    std::lock_guard lock(r.logMutex);
    if (text.size() > r.logFileBytes)
        text = text.substr(0, static_cast<size_t>(r.logFileBytes - 1)) + "\n";
    if (r.logFile && r.logFileSize + text.size() > r.logFileBytes)
        rotateLog(r);
    if (!r.logFile) {
        std::error_code ec;
        std::filesystem::create_directories(r.logDirectory, ec);
        if (ec)
            return;
        r.logFile = std::fopen(logPath(r, 0).c_str(), "ae");
        if (!r.logFile)
            return;
        std::fseek(r.logFile, 0, SEEK_END);
        const long size = std::ftell(r.logFile);
        r.logFileSize = size > 0 ? static_cast<uint64_t>(size) : 0;
        // A log left by an earlier run may already be full.
        if (r.logFileSize > 0 && r.logFileSize + text.size() > r.logFileBytes) {
            rotateLog(r);
            r.logFile = std::fopen(logPath(r, 0).c_str(), "ae");
            if (!r.logFile)
                return;
        }
    }
    std::fwrite(text.data(), 1, text.size(), r.logFile);
    std::fflush(r.logFile);
    r.logFileSize += text.size();
}

uint16_t allocateHandle(Registry& r)
{
    for (int i = 0; i < 65535; ++i) {
        uint16_t h = static_cast<uint16_t>(r.lastHandle + 1);
        if (h == 0)
            h = 1;
        r.lastHandle = h;
        if (!r.sockets.count(h))
            return h;
    }
    return 0;
}

// Where the datagram that a receive thread is delivering arrived, for
// tarn_ext_Arrival inside the callback.
thread_local TARN_ARRIVAL t_arrival{};
thread_local bool t_hasArrival = false;

// An interface's name by its index, asked of the system once per thread and
// index: a flood of datagrams must not cost a system call each.
const char* interfaceName(unsigned index)
{
    thread_local std::map<unsigned, std::string> names;
    auto it = names.find(index);
    if (it == names.end()) {
        char name[IF_NAMESIZE] = {};
        it = names.emplace(index, ::if_indextoname(index, name) ? name : "").first;
    }
    return it->second.c_str();
}

void noteArrival(msghdr& msg)
{
    t_hasArrival = false;
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
        if (c->cmsg_level != IPPROTO_IP || c->cmsg_type != IP_PKTINFO)
            continue;
        in_pktinfo info;
        std::memcpy(&info, CMSG_DATA(c), sizeof info);
        t_arrival = TARN_ARRIVAL{};
        t_arrival.interfaceIndex = static_cast<unsigned>(info.ipi_ifindex);
        std::strncpy(t_arrival.interfaceName, interfaceName(t_arrival.interfaceIndex),
                     sizeof t_arrival.interfaceName - 1);
        ::inet_ntop(AF_INET, &info.ipi_spec_dst, t_arrival.localAddress, sizeof t_arrival.localAddress);
        t_hasArrival = true;
    }
}

// Datagrams a receive thread takes from the kernel with one call; a server's
// burst of reports (or a flood) costs a system call per batch, not per datagram.
constexpr unsigned kServerBatch = 32;

// The thread shares ownership of its socket: a socket closed from its own
// callback detaches the thread, which must still find its socket afterwards.
void receiveLoop(std::shared_ptr<Socket> s)
{
    const unsigned batch = s->isServer ? kServerBatch : 1;
    std::vector<std::vector<char>> buffers(batch, std::vector<char>(kMaxDatagram + 1));
    std::vector<sockaddr_in> peers(batch);
    std::vector<iovec> iovs(batch);
    struct Control {
        alignas(cmsghdr) char bytes[CMSG_SPACE(sizeof(in_pktinfo))];
    };
    std::vector<Control> controls(batch);
    std::vector<mmsghdr> messages(batch);
    pollfd fds[2] = {{s->fd, POLLIN, 0}, {s->wakeFd, POLLIN, 0}};
    for (;;) {
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[1].revents)
            return;
        // Empty the socket completely each time it is readable, but stop at once
        // when the socket is closed, from its own callback too.
        while (!s->closing.load()) {
            for (unsigned i = 0; i < batch; ++i) {
                iovs[i] = {buffers[i].data(), kMaxDatagram};
                messages[i] = {};
                messages[i].msg_hdr.msg_name = &peers[i];
                messages[i].msg_hdr.msg_namelen = sizeof peers[i];
                messages[i].msg_hdr.msg_iov = &iovs[i];
                messages[i].msg_hdr.msg_iovlen = 1;
                messages[i].msg_hdr.msg_control = controls[i].bytes;
                messages[i].msg_hdr.msg_controllen = sizeof controls[i].bytes;
            }
            const int received = ::recvmmsg(s->fd, messages.data(), batch, MSG_DONTWAIT, nullptr);
            if (received <= 0)
                break;
            for (int i = 0; i < received && !s->closing.load(); ++i) {
                const size_t n = messages[static_cast<size_t>(i)].msg_len;
                char* data = buffers[static_cast<size_t>(i)].data();
                PacketHeader header;
                const char* body = nullptr;
                uint32_t bodyLength = 0;
                if (tarn_ext_DecodeDatagram(data, n, &header, &body, &bodyLength) != 1)
                    continue;
                // The body reaches the callback NUL-terminated.
                data[n] = '\0';
                noteArrival(messages[static_cast<size_t>(i)].msg_hdr);
                const sockaddr_in& peer = peers[static_cast<size_t>(i)];
                if (s->callback)
                    s->callback(ntohl(peer.sin_addr.s_addr), ntohs(peer.sin_port), header, bodyLength, body);
                t_hasArrival = false;
            }
        }
    }
}

void setReceiveBuffer(int fd, int size)
{
    // SO_RCVBUFFORCE passes the system's limit where the process may; else ask
    // (the kernel caps it at net.core.rmem_max).
    if (::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size) != 0)
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
}

int openUdpSocket()
{
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    // No SO_REUSEADDR unless asked: with it a second program on the PC could
    // bind the same port, and the unicast answers would reach only the newer
    // one. A port held elsewhere fails to bind (EADDRINUSE), which the caller
    // can tell.
    if (registry().sharePorts.load())
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    ::setsockopt(fd, IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
    setReceiveBuffer(fd, registry().receiveBufferBytes.load());
    return fd;
}

// Why the calling thread's last socket start failed (an errno value).
thread_local int t_lastStartError = 0;

unsigned char failStart(int error)
{
    t_lastStartError = error;
    return 0;
}

unsigned char startSocket(uint16_t* handle, TARN_RECV_CALLBACK callback, uint16_t localPort, bool isServer)
{
    Registry& r = registry();
    auto s = std::make_shared<Socket>();  // closes what it holds on every failure
    s->fd = openUdpSocket();
    if (s->fd < 0)
        return failStart(errno);
    s->isServer = isServer;
    s->callback = callback;
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    local.sin_port = htons(localPort);
    if (::bind(s->fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0)
        return failStart(errno);
    socklen_t len = sizeof local;
    ::getsockname(s->fd, reinterpret_cast<sockaddr*>(&local), &len);
    s->localPort = ntohs(local.sin_port);
    s->wakeFd = ::eventfd(0, EFD_CLOEXEC);
    if (s->wakeFd < 0)
        return failStart(errno);
    {
        std::lock_guard lock(r.mutex);
        s->handle = allocateHandle(r);
        if (s->handle == 0)
            return failStart(EMFILE);
        r.sockets[s->handle] = s;
        if (isServer)
            r.serverByPort[s->localPort] = s->handle;
        s->thread = std::thread(receiveLoop, s);
        *handle = s->handle;
    }
    return 1;
}

std::shared_ptr<Socket> findSocket(uint16_t handle)
{
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    auto it = r.sockets.find(handle);
    return it == r.sockets.end() ? nullptr : it->second;
}

bool parseAddress(const char* text, in_addr* out)
{
    return text && ::inet_pton(AF_INET, text, out) == 1;
}

unsigned char sendDatagram(uint16_t handle, const PacketHeader* header, int bodyLength, const char* body,
                           const char* sourceIp, unsigned interfaceIndex, const char* destIp, uint16_t destPort)
{
    if (!header || bodyLength < 0 || (bodyLength > 0 && !body) ||
        static_cast<size_t>(bodyLength) > kMaxDatagram - TARN_HEADER_SIZE)
        return 0;
    auto s = findSocket(handle);
    sockaddr_in dest{};
    dest.sin_family = AF_INET;
    dest.sin_port = htons(destPort);
    if (!s || !parseAddress(destIp, &dest.sin_addr)) {
        logLine(std::string("send failed: no socket or bad address ") + (destIp ? destIp : "(null)"));
        return 0;
    }
    std::vector<char> datagram(TARN_HEADER_SIZE + static_cast<size_t>(bodyLength));
    std::memcpy(datagram.data(), header, TARN_HEADER_SIZE);
    if (bodyLength > 0)
        std::memcpy(datagram.data() + TARN_HEADER_SIZE, body, static_cast<size_t>(bodyLength));

    iovec iov{datagram.data(), datagram.size()};
    msghdr msg{};
    msg.msg_name = &dest;
    msg.msg_namelen = sizeof dest;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
    if (sourceIp || interfaceIndex != 0) {
        // The interface decides where even a limited broadcast goes out.
        in_pktinfo info{};
        info.ipi_ifindex = static_cast<int>(interfaceIndex);
        if (sourceIp && !parseAddress(sourceIp, &info.ipi_spec_dst))
            return 0;
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        cmsghdr* c = CMSG_FIRSTHDR(&msg);
        c->cmsg_level = IPPROTO_IP;
        c->cmsg_type = IP_PKTINFO;
        c->cmsg_len = CMSG_LEN(sizeof info);
        std::memcpy(CMSG_DATA(c), &info, sizeof info);
    }
    ssize_t sent;
    do
        sent = ::sendmsg(s->fd, &msg, 0);
    while (sent < 0 && errno == EINTR);
    if (sent != static_cast<ssize_t>(datagram.size())) {
        logLine(std::string("send failed to ") + destIp + ": " + std::strerror(errno));
        return 0;
    }
    return 1;
}

void closeSocket(const std::shared_ptr<Socket>& s)
{
    s->closing.store(true);
    uint64_t one = 1;
    [[maybe_unused]] ssize_t w = ::write(s->wakeFd, &one, sizeof one);
    if (s->thread.joinable()) {
        if (s->thread.get_id() == std::this_thread::get_id())
            s->thread.detach();
        else
            s->thread.join();
    }
}

} // namespace

extern "C" {

unsigned char tarn_Init(int, int maxFiles, int maxFileMb, const char*, int, int, int, int)
{
    Registry& r = registry();
    std::lock_guard lock(r.logMutex);
    closeLog(r);
    // The maker's library takes a Windows path ("C://log//"); it is never used as
    // a path here, so that no folder named "C:" appears anywhere.
    r.logDirectory = defaultLogDirectory();
    r.logFiles = maxFiles > 0 ? maxFiles : kDefaultLogFiles;
    r.logFileBytes = maxFileMb > 0 ? static_cast<uint64_t>(maxFileMb) * 1024 * 1024 : kDefaultLogFileBytes;
    return 1;
}

void tarn_SetLogFlag(int enabled)
{
    Registry& r = registry();
    {
        std::lock_guard lock(r.logMutex);
        if (r.logDirectory.empty())
            r.logDirectory = defaultLogDirectory();
    }
    r.logOn.store(enabled != 0);
}

void tarn_RegisterConnectionNotify(TARN_CONNECTION_NOTIFY) {}

unsigned char tarn_StartUDPServer(uint16_t* handle, TARN_RECV_CALLBACK callback, int, int, uint16_t localPort)
{
    if (!handle)
        return 0;
    Registry& r = registry();
    // One server start at a time: a caller that finds the port served by
    // this process gets the running server, never a second socket.
    std::lock_guard starting(r.serverStartMutex);
    {
        std::lock_guard lock(r.mutex);
        auto it = r.serverByPort.find(localPort);
        if (it != r.serverByPort.end() && localPort != 0) {
            *handle = it->second;
            return 1;
        }
    }
    unsigned char ok = startSocket(handle, callback, localPort, true);
    logLine("server on port " + std::to_string(localPort) + (ok ? " started" : " failed"));
    return ok;
}

void tarn_ext_SharePorts(int share)
{
    registry().sharePorts.store(share != 0);
}

int tarn_ext_LastStartError(void)
{
    return t_lastStartError;
}

unsigned char tarn_StartUDPClient(uint16_t* handle, const char* deviceIp, uint16_t port, TARN_RECV_CALLBACK callback)
{
    in_addr address;
    if (!handle || !parseAddress(deviceIp, &address))
        return 0;
    unsigned char ok = startSocket(handle, callback, 0, false);
    logLine(std::string("client towards ") + deviceIp + ":" + std::to_string(port) + (ok ? " started" : " failed"));
    return ok;
}

unsigned char tarn_UdpSendTo(uint16_t handle, const PacketHeader* header, int, int bodyLength, const char* body,
                             const char* destIp, uint16_t destPort)
{
    return sendDatagram(handle, header, bodyLength, body, nullptr, 0, destIp, destPort);
}

unsigned char tarn_ext_UdpSendFrom(uint16_t handle, const PacketHeader* header, int bodyLength, const char* body,
                                   const char* sourceIp, const char* destIp, uint16_t destPort)
{
    return sendDatagram(handle, header, bodyLength, body, sourceIp, 0, destIp, destPort);
}

unsigned char tarn_ext_UdpSendVia(uint16_t handle, const PacketHeader* header, int bodyLength, const char* body,
                                  unsigned interfaceIndex, const char* sourceIp, const char* destIp, uint16_t destPort)
{
    if (interfaceIndex == 0)
        return 0;
    return sendDatagram(handle, header, bodyLength, body, sourceIp, interfaceIndex, destIp, destPort);
}

unsigned char tarn_ext_Arrival(TARN_ARRIVAL* arrival)
{
    if (!arrival || !t_hasArrival)
        return 0;
    *arrival = t_arrival;
    return 1;
}

void tarn_ext_SetLogLimits(int maxFiles, uint64_t maxFileBytes)
{
    Registry& r = registry();
    std::lock_guard lock(r.logMutex);
    closeLog(r);
    r.logFiles = maxFiles > 0 ? maxFiles : kDefaultLogFiles;
    r.logFileBytes = maxFileBytes > 0 ? maxFileBytes : kDefaultLogFileBytes;
}

unsigned char tarn_ext_DecodeDatagram(const char* bytes, size_t length, PacketHeader* header, const char** body,
                                      uint32_t* bodyLength)
{
    if (!bytes || length < TARN_HEADER_SIZE || length > kMaxDatagram || !header || !body || !bodyLength)
        return 0;
    std::memcpy(header, bytes, sizeof *header);
    *body = bytes + TARN_HEADER_SIZE;
    *bodyLength = static_cast<uint32_t>(length - TARN_HEADER_SIZE);
    return 1;
}

void tarn_ext_LogLine(const char* line)
{
    if (line)
        logLine(line);
}

void tarn_ext_SetReceiveBufferSize(uint32_t bytes)
{
    Registry& r = registry();
    const int size = static_cast<int>(std::min<uint32_t>(std::max<uint32_t>(bytes, kReceiveBufferBytes), INT32_MAX / 2));
    r.receiveBufferBytes.store(size);
    std::lock_guard lock(r.mutex);
    for (auto& [handle, s] : r.sockets)
        setReceiveBuffer(s->fd, size);
}

uint32_t tarn_ext_ReceiveBufferSize(uint16_t handle)
{
    auto s = findSocket(handle);
    int size = 0;
    socklen_t length = sizeof size;
    if (!s || ::getsockopt(s->fd, SOL_SOCKET, SO_RCVBUF, &size, &length) != 0)
        return 0;
    return static_cast<uint32_t>(size);
}

uint16_t tarn_ext_LocalPort(uint16_t handle)
{
    auto s = findSocket(handle);
    return s ? s->localPort : 0;
}

unsigned char tarn_ext_Close(uint16_t handle)
{
    Registry& r = registry();
    std::shared_ptr<Socket> s;
    {
        std::lock_guard lock(r.mutex);
        auto it = r.sockets.find(handle);
        if (it == r.sockets.end())
            return 0;
        s = it->second;
        r.sockets.erase(it);
        auto port = r.serverByPort.find(s->localPort);
        if (s->isServer && port != r.serverByPort.end() && port->second == handle)
            r.serverByPort.erase(port);
    }
    closeSocket(s);
    return 1;
}

void tarn_ext_Shutdown(void)
{
    Registry& r = registry();
    std::map<uint16_t, std::shared_ptr<Socket>> all;
    {
        std::lock_guard lock(r.mutex);
        all.swap(r.sockets);
        r.serverByPort.clear();
    }
    for (auto& [handle, s] : all)
        closeSocket(s);
}

} // extern "C"
