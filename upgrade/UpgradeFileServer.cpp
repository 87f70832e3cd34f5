#include "upgrade/UpgradeFileServer.h"

#include "tarn.h"
#include "upgrade/Messages.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
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
// Closing a socket with unread request bytes makes the kernel reset the
// connection, which can destroy response bytes the peer has not read yet; the
// server therefore half-closes and reads what is left, for at most this long.
constexpr std::chrono::milliseconds kLingerTime{1000};

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

    m_listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
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
    // A backlog of one: cameras beyond the one being served wait or retry.
    if (::listen(m_listenFd, 1) != 0) {
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
}

UpgradeFile UpgradeFileServer::File() const
{
    std::lock_guard lock(m_fileMutex);
    return m_file;
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

bool UpgradeFileServer::Serve()
{
    if (m_listenFd < 0)
        return false;
    const SigpipeBlock sigpipeBlock;
    const std::stop_token stop = m_stop.get_token();
    while (!stop.stop_requested()) {
        pollfd fds[2] = {{m_listenFd, POLLIN, 0}, {m_wakeFds[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (fds[1].revents != 0)
            break;
        const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd >= 0)
            ++m_accepted;
        // The pause after every accept keeps the server from spinning when
        // accept keeps failing; it ends early only for a stop.
        pollfd wake{m_wakeFds[0], POLLIN, 0};
        ::poll(&wake, 1, 100);
        if (fd < 0)
            continue;
        if (stop.stop_requested()) {
            ::close(fd);
            break;
        }
        HandleConnection(fd);
    }
    return true;
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

bool UpgradeFileServer::SendFile(int fd, int fileFd, uint64_t size)
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
    while (left > 0) {
        const size_t chunk = static_cast<size_t>(std::min<uint64_t>(left, kSendChunk));
        const ssize_t n = ::sendfile(fd, fileFd, &offset, chunk);
        if (n > 0) {
            left -= static_cast<uint64_t>(n);
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
    }
    return true;
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

void UpgradeFileServer::HandleConnection(int fd)
{
    // Only the first receive counts: the request is never parsed, only searched
    // for the file name.
    char request[kRequestBytes] = {};
    ssize_t received = -1;
    if (WaitReady(fd, POLLIN, m_options.ioTimeout)) {
        do {
            received = ::recv(fd, request, sizeof request, 0);
        } while (received < 0 && errno == EINTR);
    }
    const UpgradeFile file = File();
    const bool named = received > 0 && !file.path.empty() && !file.fileName.empty()
        && ::memmem(request, static_cast<size_t>(received), file.fileName.data(), file.fileName.size()) != nullptr;
    if (!named) {
        ++m_refused;
        CloseConnection(fd);
        return;
    }

    // Opened anew for every request, so a file replaced on disk is served in
    // its new form; streamed from disk, never held in memory.
    FileDescriptor firmware(::open(file.path.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat status {};
    if (firmware.get() < 0 || ::fstat(firmware.get(), &status) != 0 || !S_ISREG(status.st_mode)) {
        ++m_refused;
        if (m_options.notify)
            m_options.notify(msg::kFileOpenFailed, m_stop.get_token());
        CloseConnection(fd);
        return;
    }
    const uint64_t size = static_cast<uint64_t>(status.st_size);
    char header[160];
    const int headerLength = std::snprintf(header, sizeof header,
        "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: %llu\r\n\r\n",
        static_cast<unsigned long long>(size));
    if (SendAll(fd, header, static_cast<size_t>(headerLength)) && SendFile(fd, firmware.get(), size))
        ++m_served;
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

namespace {

using lynx::upgrade::UpgradeFileServer;

// Binds the process-wide server from 9000 upward; a socket that cannot be
// made is told to the user, no free port is logged.
UpgradeFileServer::BindResult BindProcessServer(ProcessServer& process)
{
    UpgradeFileServer::Options options;
    options.firstPort = 9000;
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

unsigned UpgradeFileServerThread(void* /*mainDlg*/)
{
    ProcessServer& process = Process();
    if (BindProcessServer(process) == UpgradeFileServer::BindResult::Bound)
        process.server.Serve();
    return 0;
}

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
