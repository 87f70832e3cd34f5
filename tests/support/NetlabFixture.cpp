#include "NetlabFixture.h"

#include <zip.h>

#include <json/reader.h>
#include <json/writer.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

namespace lynx::test {

namespace fs = std::filesystem;

std::string EnvOr(const char* name, const std::string& fallback)
{
    const char* value = std::getenv(name);
    return value && *value ? value : fallback;
}

bool InNetlab()
{
    return !EnvOr("LYNX_NETLAB_PC_NS", "").empty() && !EnvOr("LYNX_NETLAB_CAMERA_NS", "").empty();
}

std::string BinDir()
{
    return EnvOr("LYNX_BIN_DIR", ".");
}

std::string CameraNamespace()
{
    return EnvOr("LYNX_NETLAB_CAMERA_NS", "");
}

std::string CameraInterface()
{
    return EnvOr("LYNX_NETLAB_CAMERA_IF", "eth0");
}

std::string PcAddress()
{
    return EnvOr("LYNX_NETLAB_PC_IP", "192.168.1.100");
}

Json::Value NetlabCameras()
{
    return ReadJsonFile(EnvOr("LYNX_NETLAB_CAMERAS", ""));
}

Json::Value CliSearchJson(const std::vector<std::string>& options)
{
    std::vector<std::string> args{"search", "--seconds", "2", "--format", "json"};
    args.insert(args.end(), options.begin(), options.end());
    const ProcessResult r = RunCli(args);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    Json::Value rows = ParseJson(r.out);
    EXPECT_TRUE(rows.isArray()) << r.out;
    return rows.isArray() ? rows : Json::Value(Json::arrayValue);
}

Json::Value SimCamera(int last, const std::string& idPrefix,
                      std::initializer_list<std::pair<const char*, Json::Value>> fields, const char* option,
                      const Json::Value& value)
{
    Json::Value camera(Json::objectValue);
    camera["ip"] = "192.168.1." + std::to_string(last);
    camera["deviceId"] = idPrefix + std::to_string(last);
    camera["installMs"] = 200;
    for (const auto& [name, field] : fields)
        camera[name] = field;
    if (option)
        camera[option] = value;
    return camera;
}

int RowsWithIp(const Json::Value& rows, const std::string& ip)
{
    int n = 0;
    for (const Json::Value& row : rows)
        n += row["deviceIp"].asString() == ip ? 1 : 0;
    return n;
}

Json::Value NetlabCameras2()
{
    return ReadJsonFile(EnvOr("LYNX_NETLAB_CAMERAS2", ""));
}

std::string PcAddress3()
{
    return EnvOr("LYNX_NETLAB_PC_IP3", "10.10.0.100");
}

std::string SimulatorLog(bool second)
{
    std::ifstream in(EnvOr(second ? "LYNX_NETLAB_CAMSIM2_LOG" : "LYNX_NETLAB_CAMSIM_LOG", ""));
    return std::string(std::istreambuf_iterator<char>(in), {});
}

bool SetPcInterfacesUp(bool up)
{
    // Only ever inside the LAN's PC namespace, never the machine's own.
    if (!InNetlab())
        return false;
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator("/sys/class/net"))
        if (entry.path().filename() != "lo")
            names.push_back(entry.path().filename());
    // The fixed neighbour entries the LAN gave the PC go with its links, and
    // come back with them.
    static std::vector<std::vector<std::string>> fixedNeighbours;
    if (!up) {
        fixedNeighbours.clear();
        std::istringstream lines(RunProcess({"/usr/sbin/ip", "-4", "neigh", "show", "nud", "permanent"}).out);
        for (std::string line; std::getline(lines, line);) {
            std::istringstream words(line);
            std::vector<std::string> entry{"/usr/sbin/ip", "neigh", "replace"};
            for (std::string word; words >> word && word != "PERMANENT";)
                entry.push_back(word);
            entry.insert(entry.end(), {"nud", "permanent"});
            fixedNeighbours.push_back(entry);
        }
    }
    bool ok = true;
    for (const std::string& name : names)
        ok = RunProcess({"/usr/sbin/ip", "link", "set", name, up ? "up" : "down"}).exitCode == 0 && ok;
    if (up) {
        RunProcess({"/usr/sbin/ip", "route", "replace", "default", "dev", "eth0"});
        for (const std::vector<std::string>& entry : fixedNeighbours)
            RunProcess(entry);
    }
    return ok;
}

long UdpArrivals()
{
    std::ifstream snmp("/proc/net/snmp");
    std::string line;
    bool header = true;
    while (std::getline(snmp, line)) {
        if (line.rfind("Udp: ", 0) != 0)
            continue;
        if (header) {
            header = false;
            continue;
        }
        std::istringstream fields(line.substr(5));
        long inDatagrams = 0, noPorts = 0, inErrors = 0;
        fields >> inDatagrams >> noPorts >> inErrors;
        return inDatagrams + inErrors;
    }
    return 0;
}

namespace {

std::string NetlabScript()
{
    return EnvOr("LYNX_SOURCE_DIR", ".") + "/tools/netlab/netlab";
}

bool AddHost(const std::string& ip, bool routed)
{
    if (!HostNamespace(ip).empty())
        return true;
    std::vector<std::string> argv{NetlabScript(), "host", "--name", EnvOr("LYNX_NETLAB_NAME", "")};
    if (!routed)
        argv.push_back("--no-route");
    argv.push_back(ip);
    const ProcessResult added = RunProcess(argv);
    EXPECT_EQ(added.exitCode, 0) << added.err;
    return added.exitCode == 0;
}

} // namespace

// From the LAN's own record, so that every process of the test finds it.
std::string HostNamespace(const std::string& ip)
{
    std::ifstream hosts(EnvOr("LYNX_NETLAB_STATE", "") + "/hosts");
    std::string ns, address;
    while (hosts >> ns >> address)
        if (address == ip)
            return ns;
    return "";
}

bool AddCameraSegmentHost(const std::string& ip)
{
    return AddHost(ip, true);
}

bool AddUnroutedCameraSegmentHost(const std::string& ip)
{
    return AddHost(ip, false);
}

std::string HostHardwareAddress(const std::string& ip)
{
    const std::string ns = HostNamespace(ip);
    if (ns.empty())
        return "";
    const ProcessResult link = RunProcess({"/usr/bin/env", "ip", "-n", ns, "-o", "link", "show", "eth0"});
    const size_t at = link.out.find("link/ether ");
    return at == std::string::npos ? "" : link.out.substr(at + 11, 17);
}

bool AddPcNeighbour(const std::string& ip, const std::string& hardware)
{
    // Only ever inside the LAN's PC namespace, never the machine's own.
    if (!InNetlab() || hardware.empty())
        return false;
    const ProcessResult added = RunProcess({"/usr/bin/env", "ip", "neigh", "replace", ip, "lladdr", hardware, "dev",
                                            EnvOr("LYNX_NETLAB_PC_IF", "eth0"), "nud", "permanent"});
    EXPECT_EQ(added.exitCode, 0) << added.err;
    return added.exitCode == 0;
}

ProcessResult RunFloodAs(const std::string& host, const std::string& from, uint16_t port, long count,
                         const std::string& over, const std::vector<std::string>& more,
                         std::chrono::milliseconds timeout)
{
    const std::string own = HostNamespace(host);
    std::vector<std::string> argv{"/usr/bin/env", "ip", "netns", "exec", own.empty() ? CameraNamespace() : own,
                                  BinDir() + "/lynx-flood", PcAddress(), std::to_string(port), std::to_string(count),
                                  "--over", over, "--from", from};
    argv.insert(argv.end(), more.begin(), more.end());
    return RunProcess(argv, timeout);
}

ProcessResult RunFlood(const std::string& from, uint16_t port, long count, const std::string& over,
                       const std::vector<std::string>& more, std::chrono::milliseconds timeout)
{
    return RunFloodAs(from, from, port, count, over, more, timeout);
}

bool SetCameraLinkUp(bool up)
{
    return SetLinkUp("cam0", up);
}

bool SetLinkUp(const std::string& port, bool up)
{
    if (!InNetlab())
        return false;
    return RunProcess({NetlabScript(), "link", "--name", EnvOr("LYNX_NETLAB_NAME", ""), port, up ? "up" : "down"})
               .exitCode == 0;
}

namespace {

void CloseQuietly(int& fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

// This process's environment with changes made to it, as execve wants it
// (built before fork: the child may only exec). A change NAME=value sets the
// variable, a change NAME alone removes it.
std::vector<std::string> MergedEnvironment(const std::vector<std::string>& changes)
{
    std::vector<std::string> merged;
    for (char** e = environ; *e; ++e)
        merged.emplace_back(*e);
    for (const std::string& change : changes) {
        const size_t equals = change.find('=');
        const std::string name = change.substr(0, equals) + "=";
        std::erase_if(merged, [&](const std::string& e) { return e.rfind(name, 0) == 0; });
        if (equals != std::string::npos)
            merged.push_back(change);
    }
    return merged;
}

// fork + exec with the given descriptors as stdout and stderr; -1 on failure.
pid_t Spawn(const std::vector<std::string>& argv, int outFd, int errFd, const std::vector<std::string>& environment = {})
{
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const std::vector<std::string> merged = MergedEnvironment(environment);
    std::vector<char*> env;
    for (const std::string& e : merged)
        env.push_back(const_cast<char*>(e.c_str()));
    env.push_back(nullptr);
    pid_t pid = ::fork();
    if (pid == 0) {
        int devnull = ::open("/dev/null", O_RDONLY);
        ::dup2(devnull, 0);
        ::dup2(outFd, 1);
        ::dup2(errFd, 2);
        // A test runs in its own process group under ctest; its children stay in it.
        ::execve(args[0], args.data(), env.data());
        ::_exit(127);
    }
    return pid;
}

int WaitExit(pid_t pid)
{
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

namespace {

// A pseudo-terminal's two ends, as a pipe's: [0] the master, read by the
// test, [1] the terminal the program writes to, passing its bytes unchanged.
int OpenTerminal(int ends[2])
{
    if (::openpty(&ends[0], &ends[1], nullptr, nullptr, nullptr) != 0)
        return -1;
    termios raw{};
    ::tcgetattr(ends[1], &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(ends[1], TCSANOW, &raw);
    ::fcntl(ends[0], F_SETFD, FD_CLOEXEC);
    ::fcntl(ends[1], F_SETFD, FD_CLOEXEC);
    return 0;
}

ProcessResult Run(const std::vector<std::string>& argv, std::chrono::milliseconds timeout,
                  const std::vector<std::string>& environment, bool errOnTerminal)
{
    ProcessResult result;
    int out[2], err[2];
    if (argv.empty() || ::pipe2(out, O_CLOEXEC) != 0)
        return result;
    if ((errOnTerminal ? OpenTerminal(err) : ::pipe2(err, O_CLOEXEC)) != 0) {
        ::close(out[0]);
        ::close(out[1]);
        return result;
    }
    pid_t pid = Spawn(argv, out[1], err[1], environment);
    ::close(out[1]);
    ::close(err[1]);
    if (pid < 0) {
        ::close(out[0]);
        ::close(err[0]);
        return result;
    }
    auto deadline = std::chrono::steady_clock::now() + timeout;
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    int open = 2;
    char buffer[8192];
    while (open > 0) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            result.timedOut = true;
            ::kill(pid, SIGKILL);
            break;
        }
        if (::poll(fds, 2, static_cast<int>(left.count())) < 0 && errno != EINTR)
            break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0)
                sinks[i]->append(buffer, static_cast<size_t>(n));
            else {
                ::close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    for (pollfd& p : fds)
        if (p.fd >= 0)
            ::close(p.fd);
    int code = WaitExit(pid);
    result.exitCode = result.timedOut ? -1 : code;
    return result;
}

} // namespace

ProcessResult RunProcess(const std::vector<std::string>& argv, std::chrono::milliseconds timeout,
                         const std::vector<std::string>& environment)
{
    return Run(argv, timeout, environment, false);
}

ProcessResult RunCli(const std::vector<std::string>& args, std::chrono::milliseconds timeout)
{
    std::vector<std::string> argv{BinDir() + "/lynx-cli"};
    argv.insert(argv.end(), args.begin(), args.end());
    // Its texts in Chinese, as the tests read them, whatever the locale
    // (lynx-cli follows the locale; --lang in args still wins).
    return RunProcess(argv, timeout, {"LYNX_LANG=zh"});
}

ProcessResult RunCliOnTerminal(const std::vector<std::string>& args, std::chrono::milliseconds timeout)
{
    std::vector<std::string> argv{BinDir() + "/lynx-cli"};
    argv.insert(argv.end(), args.begin(), args.end());
    return Run(argv, timeout, {"LYNX_LANG=zh"}, true);
}

size_t Count(const std::string& text, const std::string& part)
{
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size()))
        ++n;
    return n;
}

Json::Value ParseJson(const std::string& text)
{
    Json::CharReaderBuilder builder;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value root;
    std::string errors;
    if (!reader->parse(text.data(), text.data() + text.size(), &root, &errors))
        return Json::Value();
    return root;
}

Json::Value ReadJsonFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return Json::Value();
    std::stringstream text;
    text << in.rdbuf();
    return ParseJson(text.str());
}

bool WriteFile(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    return out && out.write(bytes.data(), static_cast<std::streamsize>(bytes.size())) && out.flush();
}

bool CanConnect(const std::string& ip, uint16_t port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    ::inet_pton(AF_INET, ip.c_str(), &address.sin_addr);
    timeval limit{2, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    const bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

bool SendUdp(const std::string& ip, uint16_t port, const std::string& bytes)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    ::inet_pton(AF_INET, ip.c_str(), &to.sin_addr);
    const ssize_t sent = ::sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    ::close(fd);
    return sent == static_cast<ssize_t>(bytes.size());
}

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout,
               std::chrono::milliseconds step)
{
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (condition())
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return condition();
        std::this_thread::sleep_for(step);
    }
}

PortHolder::PortHolder(uint16_t port)
{
    m_fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    int on = 1;
    ::setsockopt(m_fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_addr.s_addr = htonl(INADDR_ANY);
    any.sin_port = htons(port);
    if (::bind(m_fd, reinterpret_cast<sockaddr*>(&any), sizeof any) != 0)
        Release();
}

void PortHolder::Release()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

TempDir::TempDir()
{
    std::string pattern = (fs::temp_directory_path() / "lynx-test-XXXXXX").string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (::mkdtemp(buffer.data()))
        m_path = buffer.data();
}

TempDir::~TempDir()
{
    std::error_code error;
    if (!m_path.empty())
        fs::remove_all(m_path, error);
}

std::string TempDir::Write(const std::string& name, const std::string& bytes) const
{
    const std::string file = File(name);
    WriteFile(file, bytes);
    return file;
}

CamsimProcess::CamsimProcess() = default;

CamsimProcess::~CamsimProcess()
{
    Stop();
}

bool CamsimProcess::Start(const std::vector<std::string>& args, std::string* error, bool inCameraNamespace,
                          std::chrono::milliseconds timeout)
{
    if (inCameraNamespace && CameraNamespace().empty()) {
        *error = "not inside a virtual LAN (LYNX_NETLAB_CAMERA_NS is not set)";
        return false;
    }
    return StartIn(inCameraNamespace ? CameraNamespace() : std::string(), args, error, timeout);
}

bool CamsimProcess::StartIn(const std::string& ns, const std::vector<std::string>& args, std::string* error,
                            std::chrono::milliseconds timeout)
{
    std::vector<std::string> argv;
    if (!ns.empty()) {
        argv = {"/usr/sbin/ip", "netns", "exec", ns};
        if (!fs::exists(argv[0]))
            argv[0] = "/sbin/ip";
    }
    std::string ready = m_dir.File("camsim.ready");
    argv.push_back(BinDir() + "/lynx-camsim");
    argv.insert(argv.end(), args.begin(), args.end());
    argv.insert(argv.end(), {"--ready-file", ready, "--verbose"});
    int log = ::open(m_dir.File("camsim.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (log < 0) {
        *error = "cannot write the simulator's log";
        return false;
    }
    m_pid = Spawn(argv, log, log);
    ::close(log);
    if (m_pid < 0) {
        *error = "cannot start " + argv[0];
        return false;
    }
    bool up = WaitUntil([&] { return fs::exists(ready) || !Running(); }, timeout, 20ms) && fs::exists(ready);
    if (!up) {
        *error = "lynx-camsim did not become ready: " + Log();
        Stop();
    }
    return up;
}

bool CamsimProcess::StartCameras(const Json::Value& cameras, const std::vector<std::string>& extraArgs,
                                 std::string* error)
{
    std::string config = m_dir.File("cameras.json");
    Json::StreamWriterBuilder builder;
    builder["emitUTF8"] = true;
    if (!WriteFile(config, Json::writeString(builder, cameras))) {
        *error = "cannot write " + config;
        return false;
    }
    std::vector<std::string> args{"--config", config, "--add-addresses", "--interface", CameraInterface()};
    args.insert(args.end(), extraArgs.begin(), extraArgs.end());
    return Start(args, error);
}

bool CamsimProcess::Running() const
{
    if (m_pid <= 0)
        return false;
    int status = 0;
    return ::waitpid(m_pid, &status, WNOHANG) == 0;
}

void CamsimProcess::Stop()
{
    if (m_pid <= 0)
        return;
    ::kill(m_pid, SIGTERM);
    bool ended = WaitUntil(
        [&] {
            int status = 0;
            return ::waitpid(m_pid, &status, WNOHANG) != 0;
        },
        5s, 20ms);
    if (!ended) {
        ::kill(m_pid, SIGKILL);
        WaitExit(m_pid);
    }
    m_pid = -1;
}

std::string CamsimProcess::Log() const
{
    std::ifstream in(m_dir.File("camsim.log"));
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

FileHttpServer::~FileHttpServer()
{
    Stop();
}

bool FileHttpServer::Start(const std::string& bindIp, std::string* error)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    if (::inet_pton(AF_INET, bindIp.c_str(), &address.sin_addr) != 1) {
        *error = "not an address: " + bindIp;
        return false;
    }
    m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int on = 1;
    ::setsockopt(m_listen, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    socklen_t length = sizeof address;
    if (m_listen < 0 || ::bind(m_listen, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(m_listen, 16) != 0 || ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        *error = std::string("cannot listen: ") + std::strerror(errno);
        CloseQuietly(m_listen);
        return false;
    }
    m_port = ntohs(address.sin_port);
    m_wake = ::eventfd(0, EFD_CLOEXEC);
    m_thread = std::thread([this] { Run(); });
    return true;
}

void FileHttpServer::Stop()
{
    if (m_thread.joinable()) {
        uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(m_wake, &one, sizeof one);
        m_thread.join();
    }
    CloseQuietly(m_listen);
    CloseQuietly(m_wake);
}

void FileHttpServer::Serve(const std::string& name, const std::string& path)
{
    std::lock_guard lock(m_mutex);
    m_files.emplace_back(name, path);
}

std::string FileHttpServer::Url(const std::string& host, const std::string& name) const
{
    return "http://" + host + ":" + std::to_string(m_port) + "/" + name;
}

void FileHttpServer::Run()
{
    pollfd fds[2] = {{m_listen, POLLIN, 0}, {m_wake, POLLIN, 0}};
    for (;;) {
        if (::poll(fds, 2, -1) < 0 && errno != EINTR)
            return;
        if (fds[1].revents)
            return;
        if (fds[0].revents & POLLIN) {
            int client = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
            if (client >= 0) {
                Answer(client);
                ::close(client);
            }
        }
    }
}

void FileHttpServer::Answer(int client)
{
    timeval limit{5, 0};
    ::setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    std::string request;
    char buffer[4096];
    while (request.find("\r\n\r\n") == std::string::npos && request.size() < 65536) {
        ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
        if (n <= 0)
            return;
        request.append(buffer, static_cast<size_t>(n));
    }
    std::string path;
    if (request.rfind("GET /", 0) == 0) {
        size_t end = request.find(' ', 4);
        if (end != std::string::npos)
            path = request.substr(5, end - 5);
    }
    std::string file;
    {
        std::lock_guard lock(m_mutex);
        for (const auto& [name, p] : m_files)
            if (name == path)
                file = p;
    }
    std::string body;
    std::string head;
    if (!file.empty()) {
        std::ifstream in(file, std::ios::binary);
        std::stringstream bytes;
        bytes << in.rdbuf();
        body = bytes.str();
        head = "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: " +
               std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n";
    } else {
        head = "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
    }
    std::string response = head + body;
    size_t sent = 0;
    while (sent < response.size()) {
        ssize_t n = ::send(client, response.data() + sent, response.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            return;
        sent += static_cast<size_t>(n);
    }
    if (!file.empty())
        ++m_served;
}

bool MakeStoredZip(const std::string& path, const std::vector<std::pair<std::string, std::string>>& entries)
{
    int error = 0;
    zip_t* archive = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (!archive)
        return false;
    for (const auto& [name, content] : entries) {
        zip_source_t* source = zip_source_buffer(archive, content.data(), content.size(), 0);
        const zip_int64_t index = source ? zip_file_add(archive, name.c_str(), source, ZIP_FL_OVERWRITE) : -1;
        if (index < 0) {
            zip_source_free(source);
            zip_discard(archive);
            return false;
        }
        zip_set_file_compression(archive, static_cast<zip_uint64_t>(index), ZIP_CM_STORE, 0);
    }
    return zip_close(archive) == 0;
}

bool MakeFirmwareZip(const std::string& path, size_t size)
{
    std::string firmware(size, '\0');
    for (size_t i = 0; i < firmware.size(); ++i)
        firmware[i] = static_cast<char>(i * 7 + i / 13);
    return MakeStoredZip(path, {{"firmware.bin", firmware}});
}

bool WriteCorruptCopy(const std::string& path, const std::string& corruptPath)
{
    std::ifstream in(path, std::ios::binary);
    std::string bytes{std::istreambuf_iterator<char>(in), {}};
    if (bytes.empty())
        return false;
    bytes[bytes.size() / 2] ^= 0x5A;
    return WriteFile(corruptPath, bytes);
}

} // namespace lynx::test
