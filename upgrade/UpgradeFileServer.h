// The upgrade-file HTTP server: serves the firmware file of the current batch
// to the batch's cameras whose request names it, up to 32 connections side by
// side. It does not parse HTTP; a request is answered with the whole file when
// its first receive contains the file name, and closed without an answer
// otherwise. A connection from an address that was not asked to download is
// closed at once, unread, so a stranger on the LAN can neither take the file
// nor hold the places the cameras need.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <stop_token>
#include <string>
#include <string_view>
#include <thread>

namespace lynx::upgrade {

// The firmware file of the current batch: its full path and the name that a
// request must contain. Both empty before the first batch.
struct UpgradeFile {
    std::string path;
    std::string fileName;
};

// What the server has sent of the current batch's file to one address.
struct Download {
    uint64_t sent = 0;      // bytes of the file the latest transfer has written to its socket
    uint64_t taken = 0;     // of those, the bytes the camera's TCP has acknowledged
    uint64_t size = 0;      // the file's size as that transfer found it
    // A transfer wrote the whole file and the camera's TCP acknowledged its
    // last byte: only then has the camera the file.
    bool complete = false;
    // Bytes of the file written to the address by all its transfers, so a
    // transfer begun again counts only what flows.
    uint64_t served = 0;
    // When the address's first transfer began, and when one completed
    // (neither set before it happened).
    std::chrono::steady_clock::time_point began{};
    std::chrono::steady_clock::time_point finished{};
};

// How long a camera's download may stop moving before the batch gives it up
// ("下载停滞") and cuts it off, unless the front end is told another.
inline constexpr std::chrono::seconds kDefaultStallTime{60};

// Called on the server thread to tell the user of a failure ("升级文件打开失败！",
// "HTTP套接字socket创建失败！"); it returns once the box is dismissed, or early
// when stop is requested (the server is being stopped).
using MessageNotifier = std::function<void(const std::string& text, std::stop_token stop)>;

class UpgradeFileServer {
public:
    // How long an admitted connection may stay silent before its request.
    static constexpr std::chrono::milliseconds kRequestTimeout{5000};

    struct Options {
        uint16_t firstPort = 9000;
        // Listening address; the tool serves every interface, tests loopback.
        std::string bindAddress = "0.0.0.0";
        // A connection that stops taking the file for this long is closed.
        std::chrono::milliseconds ioTimeout{10000};
        // A connection whose request has not come this long after the pause
        // that follows its accept is closed: a camera asks at once.
        std::chrono::milliseconds requestTimeout = kRequestTimeout;
        MessageNotifier notify;
        // Told each port as it is tried, and finally the bound one.
        std::function<void(int port)> onPortTried;
        // Connections served at once, and the listen backlog behind them.
        int maxConnections = 32;
        int backlog = 256;
        // Connections held at once from one address (waiting for their request
        // or being served); one more is closed at once.
        int maxPerAddress = 4;
    };

    // What the server does with a connection, given its first receive (at
    // most 1024 bytes are judged) and the current file.
    enum class Response { Close, SendFile };
    static Response Decide(std::string_view firstReceive, const UpgradeFile& file);
    // The header sent before the file's bytes.
    static std::string ResponseHeader(uint64_t fileSize);

    UpgradeFileServer();
    explicit UpgradeFileServer(Options options);
    ~UpgradeFileServer();
    UpgradeFileServer(const UpgradeFileServer&) = delete;
    UpgradeFileServer& operator=(const UpgradeFileServer&) = delete;

    enum class BindResult { Bound, NoSocket, NoPort };
    // Binds the first free port from firstPort up to 65535 and listens.
    BindResult Bind();
    // Serves on the calling thread until Stop; false when not bound.
    bool Serve();
    // Bind, then Serve on a thread of the server's own.
    bool Start();
    // Replaces the options; only while the server is stopped.
    void SetOptions(Options options) { m_options = std::move(options); }
    // Ends serving (a transfer in progress is cut off) and joins the thread.
    void Stop();
    // Asks Serve to return soon, from any thread; Stop still has to follow.
    void RequestStop();
    std::stop_token StopToken() const { return m_stop.get_token(); }

    // The bound port, 0 while none.
    int Port() const { return m_port.load(); }

    // The file that requests are matched against; copies under one lock, so a
    // reader never sees a half-written pair. A new file starts a new account
    // of downloads.
    void SetFile(const std::string& path, const std::string& fileName);
    UpgradeFile File() const;

    // What each address has downloaded of the current file since it was set
    // and the admitted addresses were last forgotten, by IPv4 text; safe from
    // any thread while transfers run. A transfer that began before is not
    // counted.
    std::map<std::string, Download> Downloads() const;
    Download DownloadOf(const std::string& ip) const;
    // Cuts off the transfers in progress to this address (a camera that
    // stopped reading); what they had sent stays counted. False when none
    // was in progress.
    bool Cut(const std::string& ip);

    // The addresses whose connections are served: a batch admits each camera
    // before it tells the camera to download, and forgets them all when the
    // next batch begins. Connections already held are not cut off, but what
    // they send is no longer counted as anyone's download. False for text
    // that is no IPv4 address.
    bool Admit(const std::string& ip);
    void ForgetAdmitted();
    // Connections accepted from admitted addresses and not closed yet: the
    // downloads in flight, and those about to ask.
    int Open() const { return m_open.load(); }

    // Connections accepted; requests answered with the file, and requests
    // closed without answer.
    uint64_t Accepted() const { return m_accepted.load(); }
    uint64_t Served() const { return m_served.load(); }
    uint64_t Refused() const { return m_refused.load(); }
    // Connections closed unread: from an address not admitted, or one more
    // than an address may hold.
    uint64_t Turned() const { return m_turned.load(); }

private:
    // Serve's loop: the connections waiting for their request, those ready
    // to be sent and the senders.
    class ServeLoop;
    friend class ServeLoop;

    // Whose download a transfer is, and of which file: the account it was
    // begun under (a later file or batch begins another).
    struct Downloader {
        uint32_t peer;  // network byte order
        uint64_t account;
    };
    // The current file with the number of its account, under one lock.
    std::pair<UpgradeFile, uint64_t> FileAndAccount() const;
    void StartAccount();
    // What a transfer has written and what the camera has taken of it.
    struct Progress {
        uint64_t sent = 0;
        uint64_t more = 0;  // written since last told
        uint64_t taken = 0;
        uint64_t size = 0;
        bool complete = false;
    };
    // Records what a transfer has sent, unless its account is gone.
    void Account(const Downloader& downloader, const Progress& progress);

    // Sends the file of a request that named it, then closes.
    void Transfer(int fd, const UpgradeFile& file, const Downloader& downloader);
    bool WaitReady(int fd, short events, std::chrono::milliseconds timeout);
    bool SendAll(int fd, const char* data, size_t size);
    bool SendFile(int fd, int fileFd, uint64_t size, const std::function<void(uint64_t sent)>& progress);
    // Waits until the peer's TCP has acknowledged every byte written, while
    // it keeps taking them; false when it stalls, resets or the server stops.
    bool WaitAcknowledged(int fd, const std::function<void(uint64_t unacknowledged)>& progress);
    void CloseConnection(int fd);

    Options m_options;
    int m_listenFd = -1;
    int m_wakeFds[2] = {-1, -1};
    std::atomic<int> m_port{0};
    std::stop_source m_stop;
    std::thread m_thread;
    std::mutex m_notifyMutex;  // one failure message at a time
    mutable std::mutex m_fileMutex;  // the file, its account and the downloads
    UpgradeFile m_file;
    uint64_t m_account = 0;
    std::map<uint32_t, Download> m_downloads;  // by IPv4, network byte order
    std::atomic<uint64_t> m_accepted{0};
    std::atomic<uint64_t> m_served{0};
    std::atomic<uint64_t> m_refused{0};
    std::atomic<uint64_t> m_turned{0};
    std::atomic<int> m_open{0};
    std::mutex m_sendingMutex;
    std::multimap<uint32_t, int> m_sending;  // the transfers' sockets by peer, network byte order
    mutable std::mutex m_admittedMutex;
    std::set<uint32_t> m_admitted;  // IPv4, network byte order
};

} // namespace lynx::upgrade

// The process-wide server of the tool. g_nHttpPort starts at 9000, is raised
// for every port that cannot be bound and then holds the bound port, which the
// download URLs carry.
extern std::atomic<int> g_nHttpPort;

// The file the process-wide server serves (its path, and the name it is asked
// for by), exchanged as copies.
void SetUpgradeFile(const std::string& path, const std::string& fileName);
lynx::upgrade::UpgradeFile GetUpgradeFile();
// The process-wide server's admitted addresses (UpgradeFileServer::Admit).
bool AdmitUpgradeCamera(const std::string& ip);
void ForgetUpgradeCameras();
// What the process-wide server has sent of its file to this address, and to
// each; and its transfers to an address cut off (UpgradeFileServer::Cut).
lynx::upgrade::Download UpgradeDownloadOf(const std::string& ip);
std::map<std::string, lynx::upgrade::Download> UpgradeDownloads();
bool CutUpgradeDownload(const std::string& ip);

// Binds the process-wide server from 9000 upward and serves on a thread of its
// own, once per process until stopped (a later call leaves the running server
// and its notifier alone); notifier shows the server's failure messages, the
// first one ("HTTP套接字socket创建失败！") on the calling thread. True when the
// server listens.
bool StartUpgradeFileServer(lynx::upgrade::MessageNotifier notifier);
// Stops the process-wide server and joins its thread; safe when not running.
void StopUpgradeFileServer();
