#include "upgrade/UpgradeFileServer.h"

#include "upgrade/UrlPath.h"

#include "tarn.h"
#include "upgrade/Messages.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <deque>
#include <list>
#include <map>
#include <memory>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace lynx::upgrade {

namespace {

constexpr size_t kRequestBytes = 1024;
// sendfile moves at most this much per call, so a stop request is seen between
// chunks and no single call runs for long.
constexpr size_t kSendChunk = 64u << 20;
// And at most a 64th of the file, not below this: each call's end is counted
// as the camera's progress, which a batch shows in steps of 10 %.
constexpr size_t kLeastProgressChunk = 16u << 10;
// Closing a socket with unread request bytes makes the kernel reset the
// connection, which can destroy response bytes the peer has not read yet; the
// server therefore half-closes and reads what is left, for at most this long.
constexpr std::chrono::milliseconds kLingerTime{1000};
// The pause after accept (it paces the cameras' downloads), before a
// connection's request is read.
constexpr std::chrono::milliseconds kAcceptPause{100};
// Connections accepted and not yet sending; beyond them, cameras wait in the
// listen backlog.
constexpr size_t kMaxWaiting = 1024;

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    ~FileDescriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

void CloseFd(int& fd)
{
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

} // namespace

UpgradeFileServer::UpgradeFileServer() : UpgradeFileServer(Options{}) {}

UpgradeFileServer::UpgradeFileServer(Options options) : m_options(std::move(options))
{
    // The wake-up pipe lives as long as the server, so that a stop request from
    // another thread never races with its creation.
    if (::pipe2(m_wakeFds, O_CLOEXEC | O_NONBLOCK) != 0)
        m_wakeFds[0] = m_wakeFds[1] = -1;
}

UpgradeFileServer::~UpgradeFileServer()
{
    Stop();
    CloseFd(m_wakeFds[0]);
    CloseFd(m_wakeFds[1]);
}

UpgradeFileServer::BindResult UpgradeFileServer::Bind()
{
    CloseFd(m_listenFd);
    m_port = 0;
    if (m_wakeFds[0] < 0)
        return BindResult::NoSocket;

    // Non-blocking: the serving loop accepts until no connection is left waiting.
    m_listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_TCP);
    if (m_listenFd < 0)
        return BindResult::NoSocket;
    // Lets a restarted tool take its port back from connections in TIME_WAIT;
    // a port another program listens on still fails to bind on Linux.
    int on = 1;
    ::setsockopt(m_listenFd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);

    sockaddr_in address{};
    address.sin_family = AF_INET;
    if (::inet_pton(AF_INET, m_options.bindAddress.c_str(), &address.sin_addr) != 1) {
        CloseFd(m_listenFd);
        return BindResult::NoSocket;
    }
    int port = m_options.firstPort;
    for (;; ++port) {
        if (m_options.onPortTried)
            m_options.onPortTried(port);
        if (port > 65535) {
            CloseFd(m_listenFd);
            return BindResult::NoPort;
        }
        address.sin_port = htons(static_cast<uint16_t>(port));
        if (::bind(m_listenFd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0)
            break;
    }
    // A backlog that holds every camera of a batch beyond those being served.
    if (::listen(m_listenFd, m_options.backlog) != 0) {
        CloseFd(m_listenFd);
        return BindResult::NoSocket;
    }
    m_port = port;
    return BindResult::Bound;
}

bool UpgradeFileServer::Start()
{
    Stop();
    if (Bind() != BindResult::Bound)
        return false;
    m_thread = std::thread([this] { Serve(); });
    return true;
}

void UpgradeFileServer::RequestStop()
{
    m_stop.request_stop();
    if (m_wakeFds[1] >= 0) {
        char byte = 1;
        [[maybe_unused]] ssize_t n = ::write(m_wakeFds[1], &byte, 1);
    }
}

void UpgradeFileServer::Stop()
{
    RequestStop();
    if (m_thread.joinable())
        m_thread.join();
    CloseFd(m_listenFd);
    m_port = 0;
    // Ready for the next Start: a fresh stop state and an empty wake-up pipe.
    char scratch[64];
    while (m_wakeFds[0] >= 0 && ::read(m_wakeFds[0], scratch, sizeof scratch) > 0) {
    }
    m_stop = std::stop_source();
}

void UpgradeFileServer::SetFile(const std::string& path, const std::string& fileName)
{
    std::lock_guard lock(m_fileMutex);
    m_file = UpgradeFile{path, fileName};
    ++m_account;
    m_downloads.clear();
}

UpgradeFile UpgradeFileServer::File() const
{
    std::lock_guard lock(m_fileMutex);
    return m_file;
}

std::pair<UpgradeFile, uint64_t> UpgradeFileServer::FileAndAccount() const
{
    std::lock_guard lock(m_fileMutex);
    return {m_file, m_account};
}

void UpgradeFileServer::StartAccount()
{
    std::lock_guard lock(m_fileMutex);
    ++m_account;
    m_downloads.clear();
}

void UpgradeFileServer::Account(const Downloader& downloader, const Progress& progress)
{
    const auto now = std::chrono::steady_clock::now();
    std::lock_guard lock(m_fileMutex);
    if (downloader.account != m_account)
        return;
    Download& download = m_downloads[downloader.peer];
    if (download.began == std::chrono::steady_clock::time_point{})
        download.began = now;
    download.sent = progress.sent;
    download.taken = progress.taken;
    download.size = progress.size;
    download.served += progress.more;
    if (progress.complete && !download.complete)
        download.finished = now;
    download.complete = download.complete || progress.complete;
}

std::map<std::string, Download> UpgradeFileServer::Downloads() const
{
    std::map<std::string, Download> all;
    std::lock_guard lock(m_fileMutex);
    for (const auto& [peer, download] : m_downloads) {
        char text[INET_ADDRSTRLEN] = {};
        in_addr address{};
        address.s_addr = peer;
        ::inet_ntop(AF_INET, &address, text, sizeof text);
        all[text] = download;
    }
    return all;
}

Download UpgradeFileServer::DownloadOf(const std::string& ip) const
{
    in_addr address{};
    if (::inet_pton(AF_INET, ip.c_str(), &address) != 1)
        return {};
    std::lock_guard lock(m_fileMutex);
    const auto it = m_downloads.find(address.s_addr);
    return it == m_downloads.end() ? Download{} : it->second;
}

bool UpgradeFileServer::Cut(const std::string& ip)
{
    in_addr address{};
    if (::inet_pton(AF_INET, ip.c_str(), &address) != 1)
        return false;
    // A transfer leaves the registry before it closes its socket, so every
    // descriptor here is still its own.
    // What is queued for the camera is dropped too: the close that follows
    // resets the connection instead of waiting for a camera that reads
    // nothing to take the rest.
    std::lock_guard lock(m_sendingMutex);
    const auto [first, last] = m_sending.equal_range(address.s_addr);
    for (auto it = first; it != last; ++it) {
        const linger reset{1, 0};
        ::setsockopt(it->second, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
        ::shutdown(it->second, SHUT_RDWR);
    }
    return first != last;
}

bool UpgradeFileServer::Admit(const std::string& ip)
{
    in_addr address{};
    if (::inet_pton(AF_INET, ip.c_str(), &address) != 1)
        return false;
    std::lock_guard lock(m_admittedMutex);
    m_admitted.insert(address.s_addr);
    return true;
}

void UpgradeFileServer::ForgetAdmitted()
{
    {
        std::lock_guard lock(m_admittedMutex);
        m_admitted.clear();
    }
    StartAccount();
}

namespace {

// sendfile has no MSG_NOSIGNAL: a camera that hangs up mid-download would raise
// SIGPIPE, which ends the process by default. The signal is held back on the
// serving thread (it is directed at the thread that wrote), and any held one is
// taken before the mask is restored.
class SigpipeBlock {
public:
    SigpipeBlock()
    {
        sigemptyset(&m_pipe);
        sigaddset(&m_pipe, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &m_pipe, &m_previous);
    }
    ~SigpipeBlock()
    {
        const timespec now{0, 0};
        while (sigtimedwait(&m_pipe, nullptr, &now) > 0) {
        }
        pthread_sigmask(SIG_SETMASK, &m_previous, nullptr);
    }

private:
    sigset_t m_pipe;
    sigset_t m_previous;
};

} // namespace

// One loop waits for every connection's request, so that a silent, slow or
// junk-sending connection holds nobody else; each request that names the file
// is then sent on a thread of its own, up to maxConnections at once (the rest
// wait their turn). Cameras arrive together: a download takes longer than the
// pacing of the requests.
class UpgradeFileServer::ServeLoop {
public:
    explicit ServeLoop(UpgradeFileServer& server)
        : m_server(server),
          m_mostSending(static_cast<size_t>(std::max(1, server.m_options.maxConnections))),
          m_mostPerAddress(std::max(1, server.m_options.maxPerAddress)),
          m_linger(std::min(kLingerTime, server.m_options.ioTimeout))
    {
    }
    ~ServeLoop() { CloseAll(); }

    // One turn: senders started, every socket waited on, then what came
    // taken. False when the server is to stop.
    bool Turn()
    {
        Reap(false);
        StartSenders();
        const Clock::time_point now = Clock::now();
        m_fds.assign({{m_server.m_wakeFds[0], POLLIN, 0},
                      {m_pending.size() + m_ready.size() < kMaxWaiting ? m_server.m_listenFd : -1, POLLIN, 0}});
        m_polled.clear();
        Clock::time_point wakeAt = now + std::chrono::milliseconds(m_ready.empty() ? 1000 : 20);
        for (Pending& p : m_pending) {
            wakeAt = std::min(wakeAt, p.deadline);
            if (p.phase == Phase::Request && p.readableAt > now) {
                wakeAt = std::min(wakeAt, p.readableAt);
                continue;
            }
            m_fds.push_back({p.fd, POLLIN, 0});
            m_polled.push_back(&p);
        }
        const auto timeout = std::chrono::duration_cast<std::chrono::milliseconds>(wakeAt - now).count() + 1;
        if (::poll(m_fds.data(), m_fds.size(), static_cast<int>(std::max<int64_t>(0, timeout))) < 0 && errno != EINTR)
            return false;
        if (m_fds[0].revents != 0)
            return false;
        if (m_fds[1].revents != 0)
            Accept();
        m_finished.clear();
        ReadRequests();
        Expire();
        Sweep();
        return true;
    }

private:
    using Clock = std::chrono::steady_clock;
    enum class Phase { Request, Draining };
    struct Pending {
        int fd;
        uint32_t peer;  // network byte order
        Phase phase;
        Clock::time_point readableAt;  // the pause after accept delays this connection only
        Clock::time_point deadline;
    };
    struct Ready {  // a request waiting for a sending slot
        int fd;
        uint32_t peer;
        UpgradeFile file;
        uint64_t account;
    };
    struct Worker {
        std::thread thread;
        uint32_t peer = 0;
        std::shared_ptr<std::atomic<bool>> done = std::make_shared<std::atomic<bool>>(false);
    };

    void Release(uint32_t peer)
    {
        if (const auto it = m_held.find(peer); it != m_held.end() && --it->second <= 0)
            m_held.erase(it);
        --m_server.m_open;
    }
    bool Welcome(uint32_t peer) const
    {
        if (const auto it = m_held.find(peer); it != m_held.end() && it->second >= m_mostPerAddress)
            return false;
        std::lock_guard lock(m_server.m_admittedMutex);
        return m_server.m_admitted.count(peer) > 0;
    }
    void Reap(bool all)
    {
        for (auto it = m_workers.begin(); it != m_workers.end();) {
            if (all || it->done->load()) {
                it->thread.join();
                Release(it->peer);
                it = m_workers.erase(it);
            } else {
                ++it;
            }
        }
    }
    void StartSenders()
    {
        while (!m_ready.empty() && m_workers.size() < m_mostSending) {
            Ready next = std::move(m_ready.front());
            m_ready.pop_front();
            Worker& worker = m_workers.emplace_back();
            worker.peer = next.peer;
            worker.thread = std::thread([server = &m_server, fd = next.fd, file = std::move(next.file),
                                         downloader = Downloader{next.peer, next.account}, done = worker.done] {
                const SigpipeBlock sigpipeBlock;
                server->Transfer(fd, file, downloader);
                done->store(true);
            });
        }
    }
    // Closing with unread request bytes would reset the connection: half-close
    // and read what is left, for at most the linger time.
    void StartDraining(Pending& p)
    {
        ::shutdown(p.fd, SHUT_WR);
        p.phase = Phase::Draining;
        p.deadline = Clock::now() + m_linger;
    }
    void Accept()
    {
        for (size_t n = 0; n < 64 && m_pending.size() + m_ready.size() < kMaxWaiting; ++n) {
            sockaddr_in peer{};
            socklen_t peerSize = sizeof peer;
            const int fd = ::accept4(m_server.m_listenFd, reinterpret_cast<sockaddr*>(&peer), &peerSize,
                                     SOCK_CLOEXEC | SOCK_NONBLOCK);
            if (fd < 0)
                break;
            ++m_server.m_accepted;
            // Not one of the batch's cameras, or one holding its share
            // already: closed before it takes a place or a byte is read.
            if (peer.sin_family != AF_INET || !Welcome(peer.sin_addr.s_addr)) {
                ++m_server.m_turned;
                ::close(fd);
                continue;
            }
            ++m_held[peer.sin_addr.s_addr];
            ++m_server.m_open;
            const Clock::time_point acceptedAt = Clock::now();
            m_pending.push_back({fd, peer.sin_addr.s_addr, Phase::Request, acceptedAt + kAcceptPause,
                                 acceptedAt + kAcceptPause + m_server.m_options.requestTimeout});
        }
    }
    void Drain(Pending& p)
    {
        char scratch[4096];
        ssize_t n;
        while ((n = ::recv(p.fd, scratch, sizeof scratch, 0)) > 0) {
        }
        if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR))
            m_finished.push_back(&p);
    }
    void ReadRequests()
    {
        for (size_t i = 0; i < m_polled.size(); ++i) {
            Pending& p = *m_polled[i];
            if (m_fds[i + 2].revents == 0)
                continue;
            if (p.phase == Phase::Draining) {
                Drain(p);
                continue;
            }
            // Only the first receive counts: the request is never parsed, only
            // searched for the file name.
            char request[kRequestBytes];
            const ssize_t received = ::recv(p.fd, request, sizeof request, 0);
            if (received < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
                continue;
            const auto [file, account] = m_server.FileAndAccount();
            const std::string_view firstReceive(request, received > 0 ? static_cast<size_t>(received) : 0);
            if (Decide(firstReceive, file) == Response::SendFile) {
                m_ready.push_back({p.fd, p.peer, file, account});
                p.fd = -1;
                m_finished.push_back(&p);
            } else {
                ++m_server.m_refused;
                if (received <= 0)
                    m_finished.push_back(&p);
                else
                    StartDraining(p);
            }
        }
    }
    bool Finished(const Pending& p) const
    {
        return std::find(m_finished.begin(), m_finished.end(), &p) != m_finished.end();
    }
    void Expire()
    {
        const Clock::time_point after = Clock::now();
        for (Pending& p : m_pending) {
            if (p.deadline > after || Finished(p))
                continue;
            if (p.phase == Phase::Request) {
                // Nothing came within the time-out: no answer.
                ++m_server.m_refused;
                StartDraining(p);
            } else {
                m_finished.push_back(&p);
            }
        }
    }
    void Sweep()
    {
        m_pending.remove_if([this](Pending& p) {
            if (!Finished(p))
                return false;
            // A connection handed on to the senders is theirs to release.
            if (p.fd >= 0) {
                ::close(p.fd);
                Release(p.peer);
            }
            return true;
        });
    }
    void CloseAll()
    {
        for (Pending& p : m_pending) {
            ::close(p.fd);
            Release(p.peer);
        }
        for (Ready& r : m_ready) {
            ::close(r.fd);
            Release(r.peer);
        }
        m_pending.clear();
        m_ready.clear();
        Reap(true);
    }

    UpgradeFileServer& m_server;
    const size_t m_mostSending;
    const int m_mostPerAddress;
    const std::chrono::milliseconds m_linger;
    std::list<Pending> m_pending;
    std::deque<Ready> m_ready;
    std::list<Worker> m_workers;
    std::map<uint32_t, int> m_held;  // connections held per address, from accept to close
    std::vector<pollfd> m_fds;
    std::vector<Pending*> m_polled;
    std::vector<Pending*> m_finished;
};

bool UpgradeFileServer::Serve()
{
    if (m_listenFd < 0)
        return false;
    const std::stop_token stop = m_stop.get_token();
    ServeLoop loop(*this);
    while (!stop.stop_requested() && loop.Turn()) {
    }
    return true;
}

UpgradeFileServer::Response UpgradeFileServer::Decide(std::string_view firstReceive, const UpgradeFile& file)
{
    // The request names the file when the file's name stands in it anywhere,
    // byte for byte, or in its target once that is percent-decoded (the URL
    // the cameras are given carries the name encoded).
    if (firstReceive.empty() || file.path.empty() || file.fileName.empty())
        return Response::Close;
    const std::string_view request = firstReceive.substr(0, kRequestBytes);
    if (request.find(file.fileName) != std::string_view::npos ||
        DecodedRequestTarget(request).find(file.fileName) != std::string::npos)
        return Response::SendFile;
    return Response::Close;
}

std::string UpgradeFileServer::ResponseHeader(uint64_t fileSize)
{
    char header[160];
    const int length = std::snprintf(header, sizeof header,
        "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: %llu\r\n\r\n",
        static_cast<unsigned long long>(fileSize));
    return std::string(header, static_cast<size_t>(length));
}

bool UpgradeFileServer::WaitReady(int fd, short events, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() < 0)
            return false;
        pollfd fds[2] = {{fd, events, 0}, {m_wakeFds[0], POLLIN, 0}};
        const int n = ::poll(fds, 2, static_cast<int>(left.count()));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0 || fds[1].revents != 0)
            return false;
        return true;
    }
}

bool UpgradeFileServer::SendAll(int fd, const char* data, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL | MSG_MORE);
        if (n > 0) {
            data += n;
            size -= static_cast<size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!WaitReady(fd, POLLOUT, m_options.ioTimeout))
                return false;
        } else {
            return false;
        }
    }
    return true;
}

bool UpgradeFileServer::SendFile(int fd, int fileFd, uint64_t size, const std::function<void(uint64_t sent)>& progress)
{
    off_t offset = 0;
    uint64_t left = size;
    // The file goes out through a blocking socket, with each call bounded by a
    // send time-out: the kernel then streams it without a wake-up per socket
    // buffer (on loopback that is the difference to nginx's pace), and a stop
    // request or a stalled camera is still noticed within a second.
    const int flags = ::fcntl(fd, F_GETFL);
    ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    const auto callLimit = std::min<std::chrono::milliseconds>(m_options.ioTimeout, std::chrono::seconds(1));
    timeval limit{static_cast<time_t>(callLimit.count() / 1000), static_cast<suseconds_t>(callLimit.count() % 1000 * 1000)};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    struct RestoreFlags {
        int fd, flags;
        ~RestoreFlags() { ::fcntl(fd, F_SETFL, flags); }
    } restore{fd, flags};
    const uint64_t mostPerCall = std::clamp<uint64_t>(size / 64, kLeastProgressChunk, kSendChunk);
    while (left > 0) {
        const size_t chunk = static_cast<size_t>(std::min<uint64_t>(left, mostPerCall));
        const ssize_t n = ::sendfile(fd, fileFd, &offset, chunk);
        if (n > 0) {
            left -= static_cast<uint64_t>(n);
            progress(size - left);
            if (m_stop.stop_requested())
                return false;
        } else if (n == 0) {
            return false;  // the file became shorter while it was being sent
        } else if (errno == EINTR) {
            continue;
        } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
            if (!WaitReady(fd, POLLOUT, m_options.ioTimeout))
                return false;
        } else if (errno == EINVAL || errno == ENOSYS) {
            break;  // a file system without sendfile: copy through a buffer below
        } else {
            return false;
        }
    }
    std::vector<char> buffer;
    while (left > 0) {
        buffer.resize(64 * 1024);
        const size_t chunk = static_cast<size_t>(std::min<uint64_t>(left, buffer.size()));
        const ssize_t n = ::pread(fileFd, buffer.data(), chunk, offset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0 || !SendAll(fd, buffer.data(), static_cast<size_t>(n)))
            return false;
        offset += n;
        left -= static_cast<uint64_t>(n);
        progress(size - left);
    }
    return true;
}

bool UpgradeFileServer::WaitAcknowledged(int fd, const std::function<void(uint64_t unacknowledged)>& progress)
{
    // The kernel tells how much of what was written the peer has not yet
    // acknowledged; it is polled, as no event marks an empty send queue. A
    // queue that stops shrinking for the I/O time-out is a camera that no
    // longer takes the file.
    constexpr std::chrono::milliseconds kPoll{5};
    int unacknowledged = 0;
    int before = -1;
    auto stalledAt = std::chrono::steady_clock::now() + m_options.ioTimeout;
    for (;;) {
        tcp_info info{};
        socklen_t length = sizeof info;
        if (::ioctl(fd, SIOCOUTQ, &unacknowledged) != 0 ||
            ::getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &length) != 0)
            return false;
        // A reset empties the queue too, and leaves the connection closed.
        if (info.tcpi_state == TCP_CLOSE)
            return false;
        if (unacknowledged == 0)
            return true;
        const auto now = std::chrono::steady_clock::now();
        if (unacknowledged != before) {
            before = unacknowledged;
            stalledAt = now + m_options.ioTimeout;
            progress(static_cast<uint64_t>(unacknowledged));
        } else if (now >= stalledAt) {
            return false;
        }
        // Wakes early for the stop request; the peer's data is left unread.
        pollfd wake{m_wakeFds[0], POLLIN, 0};
        if (::poll(&wake, 1, static_cast<int>(kPoll.count())) != 0 || m_stop.stop_requested())
            return false;
    }
}

void UpgradeFileServer::CloseConnection(int fd)
{
    ::shutdown(fd, SHUT_WR);
    const auto linger = std::min(kLingerTime, m_options.ioTimeout);
    const auto deadline = std::chrono::steady_clock::now() + linger;
    char scratch[4096];
    for (;;) {
        const ssize_t n = ::recv(fd, scratch, sizeof scratch, 0);
        if (n > 0)
            continue;
        if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR))
            break;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !WaitReady(fd, POLLIN, left))
            break;
    }
    ::close(fd);
}

void UpgradeFileServer::Transfer(int fd, const UpgradeFile& file, const Downloader& downloader)
{
    // Opened anew for every request, so a file replaced on disk is served in
    // its new form; streamed from disk, never held in memory.
    FileDescriptor firmware(::open(file.path.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat status {};
    if (firmware.get() < 0 || ::fstat(firmware.get(), &status) != 0 || !S_ISREG(status.st_mode)) {
        ++m_refused;
        if (m_options.notify) {
            // One message at a time, however many connections fail together.
            std::lock_guard lock(m_notifyMutex);
            m_options.notify(msg::kFileOpenFailed, m_stop.get_token());
        }
        CloseConnection(fd);
        return;
    }
    const uint64_t size = static_cast<uint64_t>(status.st_size);
    const std::string header = ResponseHeader(size);
    std::multimap<uint32_t, int>::iterator sending;
    {
        std::lock_guard lock(m_sendingMutex);
        sending = m_sending.emplace(downloader.peer, fd);
    }
    // What the camera has taken: the bytes written less those its TCP has not
    // acknowledged yet (the header's among them at first).
    uint64_t told = 0;
    uint64_t written = 0;
    const auto tell = [&](uint64_t unacknowledged, bool complete = false) {
        const uint64_t queued = header.size() + written;
        const uint64_t acknowledged = queued - std::min(queued, unacknowledged);
        const uint64_t taken = acknowledged - std::min<uint64_t>(acknowledged, header.size());
        Account(downloader, {written, written - told, taken, size, complete});
        told = written;
    };
    const auto unacknowledged = [fd] {
        int queued = 0;
        return ::ioctl(fd, SIOCOUTQ, &queued) == 0 && queued > 0 ? static_cast<uint64_t>(queued) : 0;
    };
    tell(header.size());
    const auto progress = [&](uint64_t sent) {
        written = sent;
        tell(unacknowledged());
    };
    if (SendAll(fd, header.data(), header.size()) && SendFile(fd, firmware.get(), size, progress)) {
        ++m_served;
        // Written is not yet received: the socket's buffers hold the end of
        // the file until the camera takes it.
        if (WaitAcknowledged(fd, [&](uint64_t left) { tell(left); }))
            tell(0, true);
    }
    {
        std::lock_guard lock(m_sendingMutex);
        m_sending.erase(sending);
    }
    CloseConnection(fd);
}

} // namespace lynx::upgrade

// ---- The process-wide server ----

std::atomic<int> g_nHttpPort{9000};

namespace {

struct ProcessServer {
    std::mutex mutex;  // guards thread and the start/stop sequence
    lynx::upgrade::UpgradeFileServer server;
    lynx::upgrade::MessageNotifier notifier;
    std::thread thread;

    ~ProcessServer() { Stop(); }
    void Stop()
    {
        std::lock_guard lock(mutex);
        server.RequestStop();
        if (thread.joinable())
            thread.join();
        server.Stop();
    }
};

ProcessServer& Process()
{
    static ProcessServer process;
    return process;
}

} // namespace

void SetUpgradeFile(const std::string& path, const std::string& fileName)
{
    Process().server.SetFile(path, fileName);
}

lynx::upgrade::UpgradeFile GetUpgradeFile()
{
    return Process().server.File();
}

bool AdmitUpgradeCamera(const std::string& ip)
{
    return Process().server.Admit(ip);
}

void ForgetUpgradeCameras()
{
    Process().server.ForgetAdmitted();
}

lynx::upgrade::Download UpgradeDownloadOf(const std::string& ip)
{
    return Process().server.DownloadOf(ip);
}

std::map<std::string, lynx::upgrade::Download> UpgradeDownloads()
{
    return Process().server.Downloads();
}

bool CutUpgradeDownload(const std::string& ip)
{
    return Process().server.Cut(ip);
}

namespace {

using lynx::upgrade::UpgradeFileServer;

// Binds the process-wide server from 9000 upward; a socket that cannot be
// made is told to the user, no free port is logged.
UpgradeFileServer::BindResult BindProcessServer(ProcessServer& process)
{
    UpgradeFileServer::Options options;
    options.firstPort = 9000;
    // A camera that stops reading is given up by the batch after its stall
    // time, and cut off then; the server's own limit lies beyond it.
    options.ioTimeout = lynx::upgrade::kDefaultStallTime + std::chrono::seconds(5);
    options.notify = process.notifier;
    options.onPortTried = [](int port) { g_nHttpPort = port; };
    process.server.SetOptions(std::move(options));
    const UpgradeFileServer::BindResult bound = process.server.Bind();
    if (bound == UpgradeFileServer::BindResult::NoSocket && process.notifier)
        process.notifier(lynx::upgrade::msg::kServerSocketFailed, process.server.StopToken());
    else if (bound == UpgradeFileServer::BindResult::NoPort)
        tarn_ext_LogLine("the upgrade-file server found no free TCP port from 9000 up");
    return bound;
}

} // namespace

bool StartUpgradeFileServer(lynx::upgrade::MessageNotifier notifier)
{
    ProcessServer& process = Process();
    std::lock_guard lock(process.mutex);
    if (process.thread.joinable())
        return true;
    process.notifier = std::move(notifier);
    // Bound here, before the thread runs, so that the answer is true only for
    // a server that really listens.
    if (BindProcessServer(process) != UpgradeFileServer::BindResult::Bound)
        return false;
    process.thread = std::thread([&process] { process.server.Serve(); });
    return true;
}

void StopUpgradeFileServer()
{
    Process().Stop();
}
