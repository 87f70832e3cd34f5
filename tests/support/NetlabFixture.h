// Helpers for tests that run inside a virtual LAN (lynx_add_test ... NETLAB n):
// the LAN's names from the environment, running lynx-cli and capturing what it
// prints, extra simulators in the camera namespace, and a small HTTP file
// server for firmware downloads.
#pragma once

#include <gtest/gtest.h>
#include <json/value.h>

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace lynx::test {

using namespace std::chrono_literals;

// True inside a LAN made by tools/netlab (LYNX_NETLAB_* are set).
bool InNetlab();

std::string EnvOr(const char* name, const std::string& fallback);
std::string BinDir();                          // LYNX_BIN_DIR
std::string CameraNamespace();                 // LYNX_NETLAB_CAMERA_NS
std::string CameraInterface();                 // LYNX_NETLAB_CAMERA_IF
std::string PcAddress();                       // LYNX_NETLAB_PC_IP
// The cameras the LAN's own simulator plays, as it wrote them (--write-config).
Json::Value NetlabCameras();
// With netlab --nics 3: the second camera segment's, and its PC address.
Json::Value NetlabCameras2();
std::string PcAddress3();                      // LYNX_NETLAB_PC_IP3
// The whole log of the LAN's own simulator (second: the second segment's).
std::string SimulatorLog(bool second = false);
// Brings every interface of the PC down but loopback, or back up with the
// default route the LAN gave it; for tests of a PC without a network.
bool SetPcInterfacesUp(bool up);
// Datagrams that have reached this namespace's UDP layer so far, taken or
// dropped (from /proc/net/snmp): a test sees another process receiving.
long UdpArrivals();
// Pulls the cameras' cable at the switch (netlab link cam0 down), or puts it back.
bool SetCameraLinkUp(bool up);
// The same for any of netlab link's ports, a camera's own card (mvN) among them.
bool SetLinkUp(const std::string& port, bool up);

struct ProcessResult {
    int exitCode = -1;      // -1 when killed by a signal or not started
    bool timedOut = false;
    std::string out;
    std::string err;
};

// Runs argv[0] (a path) with its arguments, captures stdout and stderr, and
// kills it when it outlives the time-out. environment: changes to this
// process's environment for it, NAME=value to set a variable, NAME to remove it.
ProcessResult RunProcess(const std::vector<std::string>& argv, std::chrono::milliseconds timeout = 60s,
                         const std::vector<std::string>& environment = {});
// lynx-cli from LYNX_BIN_DIR, in the current (PC) namespace, in Chinese
// (LYNX_LANG=zh), the language the tests read its texts in.
ProcessResult RunCli(const std::vector<std::string>& args, std::chrono::milliseconds timeout = 60s);
// The same with its standard error on a pseudo-terminal, as at a user's
// terminal (standard output still a pipe): err holds the terminal's bytes.
ProcessResult RunCliOnTerminal(const std::vector<std::string>& args, std::chrono::milliseconds timeout = 60s);
// A third host on the cameras' segment (netlab host): a namespace of its own
// on the switch, with the address ip/24 and a hardware address of its own;
// false (with a failure) when it cannot be made. Made once per LAN.
bool AddCameraSegmentHost(const std::string& ip);
// The same with no route beyond its own /24 (netlab host --no-route): a
// camera fresh from the factory on a subnet no card of the PC is in.
bool AddUnroutedCameraSegmentHost(const std::string& ip);
// The namespace of the host made for ip, empty when there is none.
std::string HostNamespace(const std::string& ip);
// That host's hardware address (lower case), empty when there is no such host.
std::string HostHardwareAddress(const std::string& ip);
// A fixed entry in the PC's neighbour table: the card with this hardware
// address answers for ip too, as a bridge's card does for the bridge's own
// address and the cameras behind it.
bool AddPcNeighbour(const std::string& ip, const std::string& hardware);
// lynx-flood on the host that holds the address `from` (one made by
// AddCameraSegmentHost, else the camera namespace): count datagrams (or
// connections) to the PC's port, spread over `over` seconds.
ProcessResult RunFlood(const std::string& from, uint16_t port, long count, const std::string& over,
                       const std::vector<std::string>& more, std::chrono::milliseconds timeout);
// The same from the host made for `host`, sending from `from`, an address
// that host need not hold (a forged source address).
ProcessResult RunFloodAs(const std::string& host, const std::string& from, uint16_t port, long count,
                         const std::string& over, const std::vector<std::string>& more,
                         std::chrono::milliseconds timeout);

// A process run on a thread of its own while the test goes on; Finish waits for
// it and gives its result (so does the destructor, dropping it).
class BackgroundRun {
public:
    explicit BackgroundRun(std::function<ProcessResult()> run)
        : m_thread([this, run = std::move(run)] { m_result = run(); })
    {
    }
    BackgroundRun(const BackgroundRun&) = delete;
    BackgroundRun& operator=(const BackgroundRun&) = delete;
    ~BackgroundRun()
    {
        if (m_thread.joinable())
            m_thread.join();
    }
    ProcessResult Finish()
    {
        if (m_thread.joinable())
            m_thread.join();
        return m_result;
    }

private:
    ProcessResult m_result;
    std::thread m_thread;  // last: it starts once m_result exists
};

Json::Value ParseJson(const std::string& text);  // null when it does not parse
// How often part occurs in text, without overlaps.
size_t Count(const std::string& text, const std::string& part);
// `lynx-cli search --seconds 2 --format json` with more options: the rows, or
// an empty array (and a failure) when it did not succeed.
Json::Value CliSearchJson(const std::vector<std::string>& options = {});
// How many rows have the given deviceIp.
int RowsWithIp(const Json::Value& rows, const std::string& ip);
Json::Value ReadJsonFile(const std::string& path);
bool WriteFile(const std::string& path, const std::string& bytes);

// A zip archive of stored (uncompressed) entries, so that a byte flipped in a
// copy lands in the data and only the CRC check tells.
bool MakeStoredZip(const std::string& path, const std::vector<std::pair<std::string, std::string>>& entries);
// A firmware archive of one stored entry of size patterned bytes.
bool MakeFirmwareZip(const std::string& path, size_t size);
// The file's bytes with one byte in the middle flipped, written to corruptPath.
bool WriteCorruptCopy(const std::string& path, const std::string& corruptPath);

// Whether a TCP connection to ip:port is accepted (a camera's port 8021),
// giving up after two seconds.
bool CanConnect(const std::string& ip, uint16_t port);

// One UDP datagram from an ephemeral port of this namespace to ip:port
// (255.255.255.255 broadcasts); false when it was not sent whole.
bool SendUdp(const std::string& ip, uint16_t port, const std::string& bytes);

// Polls until the condition holds or the time is up; the condition's last value.
bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout,
               std::chrono::milliseconds step = 50ms);

// A UDP port held by "another program": a socket on every address of the PC,
// asking for address reuse as a transport that shares its ports does.
// Released with the object, or earlier by Release().
class PortHolder {
public:
    explicit PortHolder(uint16_t port);
    ~PortHolder() { Release(); }
    PortHolder(const PortHolder&) = delete;
    PortHolder& operator=(const PortHolder&) = delete;
    bool bound() const { return m_fd >= 0; }
    void Release();

private:
    int m_fd = -1;
};

// A fresh folder, removed with everything in it at the end of the scope.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return m_path; }
    std::string File(const std::string& name) const { return m_path + "/" + name; }
    // Writes a file of the folder and returns its path.
    std::string Write(const std::string& name, const std::string& bytes) const;

private:
    std::string m_path;
};

// One extra lynx-camsim, by default in the camera namespace, stopped (SIGTERM)
// at the end of the scope. Start returns once its ready file exists.
class CamsimProcess {
public:
    CamsimProcess();
    ~CamsimProcess();
    CamsimProcess(const CamsimProcess&) = delete;
    CamsimProcess& operator=(const CamsimProcess&) = delete;

    bool Start(const std::vector<std::string>& args, std::string* error, bool inCameraNamespace = true,
               std::chrono::milliseconds timeout = 20s);
    // The same in the namespace ns (empty: this process's own).
    bool StartIn(const std::string& ns, const std::vector<std::string>& args, std::string* error,
                 std::chrono::milliseconds timeout = 20s);
    // A simulator of the cameras described by the JSON array, with their
    // addresses put on the camera namespace's interface.
    bool StartCameras(const Json::Value& cameras, const std::vector<std::string>& extraArgs, std::string* error);
    void Stop();
    bool Running() const;
    pid_t Pid() const { return m_pid; }
    std::string Log() const;

private:
    TempDir m_dir;
    pid_t m_pid = -1;
};

// One camera of a simulator's configuration: 192.168.1.<last>, deviceId
// idPrefix<last>, an install of 200 ms; then the fields given, and option set
// to value when there is one.
Json::Value SimCamera(int last, const std::string& idPrefix,
                      std::initializer_list<std::pair<const char*, Json::Value>> fields = {},
                      const char* option = nullptr, const Json::Value& value = true);

// A test of the virtual LAN: skipped unless tools/netlab runs it. A suite's
// own set-up goes in SetUpInLan, which a skipped test never reaches. Each
// test has a folder of its own and a simulator it may start.
class NetlabTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!InNetlab())
            GTEST_SKIP() << "runs inside a virtual LAN: ctest runs it through tools/netlab";
        SetUpInLan();
    }
    virtual void SetUpInLan() {}

    // Starts the test's simulator playing the cameras of the JSON array.
    void startCameras(const Json::Value& list, const std::vector<std::string>& args = {})
    {
        std::string error;
        ASSERT_TRUE(cameras.StartCameras(list, args, &error)) << error;
    }

    TempDir dir;
    CamsimProcess cameras;
};

// A minimal HTTP/1.1 file server for tests: GET /NAME answers with the file
// registered under NAME, anything else with 404. One connection at a time.
class FileHttpServer {
public:
    FileHttpServer() = default;
    ~FileHttpServer();
    FileHttpServer(const FileHttpServer&) = delete;
    FileHttpServer& operator=(const FileHttpServer&) = delete;

    bool Start(const std::string& bindIp, std::string* error);
    void Stop();
    void Serve(const std::string& name, const std::string& path);
    uint16_t Port() const { return m_port; }
    std::string Url(const std::string& host, const std::string& name) const;
    int RequestsServed() const { return m_served.load(); }

private:
    void Run();
    void Answer(int client);

    int m_listen = -1;
    int m_wake = -1;
    uint16_t m_port = 0;
    std::thread m_thread;
    std::mutex m_mutex;
    std::vector<std::pair<std::string, std::string>> m_files;
    std::atomic<int> m_served{0};
};

} // namespace lynx::test
