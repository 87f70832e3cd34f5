// lynx-flood: a hostile host on the LAN. Sends COUNT datagrams to IP:PORT as
// fast as one thread can (sendmmsg, 64 at a time), or spread evenly over
// --over SECONDS, then prints how many went out and at what rate.
//
//   lynx-flood IP PORT COUNT [--kind hostile|reports|crowd|notices|claims|connections]
//                            [--over SECONDS] [--from IP] [--seed N]
//                            [--devices FILE] [--status N] [--version V] [--ready PATH]
//                            [--report-ip IP] [--first N] [--forge-source yes] [--as-named 1]
//
// hostile (the default) mixes what anyone on a site's LAN may send, each
// datagram different: short ones, oversized ones (64 KiB), the report marker
// missing or wrong, random bodies, deep nesting, invalid UTF-8, GBK text,
// wrong JSON types, reports cut short, and forged update replies and status
// notifications. Made-up devices that it describes have addresses in
// 10.250.0.0/16 and up (wrong markers in 10.252.0.0/16), never a real
// camera's. reports sends well-formed reports of made-up devices, one each.
// --from binds the sender to an address: one of its host's, or any other
// (a forged source address: the kernel is told the address is free to use).
// --report-ip IP has
// every made-up device of reports name IP as its address (many MACs at one
// address, the sender's own when it is --from's), and --first N numbers the
// made-up devices from N, so that floods one after another make new ones.
// crowd sends well-formed reports of made-up devices, each its own MAC, all
// at the sender's own address (--from, which it needs): every one its
// sender's own word, as cameras fresh from the factory, or a forger's crowd.
// --as-named 1 sends each report of made-up devices from the address it
// names, as a host that forges its source address does (needs CAP_NET_ADMIN:
// IP_TRANSPARENT).
//
// A forger that has searched the LAN (FILE: lynx-cli search --format json)
// speaks for its cameras, in turn: notices are upgrade results (status N,
// default 0) with each camera's identifier; claims are search reports with
// each camera's address, MAC and identifier and software version V. With
// --forge-source yes each of them goes out from the address of the camera it
// speaks for, whether or not its host holds that address (IP_TRANSPARENT:
// root), as a host that forges source addresses sends them.
// connections opens COUNT TCP connections to IP:PORT (trying again while
// they are refused, as the server may not listen yet), sends nothing and
// holds them for --over SECONDS or until the server has closed them all, then
// prints how many it closed; --ready PATH creates that file once all are open.
#include "tarn.h"
#include "tools/camsim/Wire.h"

#include <json/json.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// The UDP payload limit over IPv4.
constexpr size_t kLargest = 65507;

// A camera's header, with the marker and the magic the flood chooses.
std::string Header(uint16_t command, uint8_t marker, uint16_t result = 0, uint32_t tag = 0, uint16_t magic = TARN_MAGIC)
{
    PacketHeader header = camsim::AnswerHeader(command, result, tag);
    header.bodyMarker = marker;
    header.magic = magic;
    return std::string(reinterpret_cast<const char*>(&header), sizeof header);
}

std::string Address(int block, long i)
{
    return "10." + std::to_string(block) + "." + std::to_string((i >> 8) & 255) + "." + std::to_string(i & 255);
}

std::string Mac(long i)
{
    char mac[32];
    std::snprintf(mac, sizeof mac, "FE:%02lX:%02lX:%02lX:00:01", (i >> 16) & 255, (i >> 8) & 255, i & 255);
    return mac;
}

std::string Report(const std::string& ip, const std::string& mac, const std::string& name)
{
    return R"({"data":{"deviceIp":")" + ip + R"(","netMask":"255.0.0.0","deviceId":"FLOOD)" + mac.substr(3, 8) +
           R"(","machineInfo":{"mac":")" + mac + R"(","name":")" + name + R"(","model":"FAKE","softwareVersion":"V0"}}})";
}

class Hostile {
public:
    explicit Hostile(unsigned seed) : m_random(seed) {}

    std::string Datagram(long i)
    {
        const std::string report = Header(0x701, '$');
        switch (Pick(16)) {
        case 0:  // shorter than a header
            return Random(Pick(TARN_HEADER_SIZE));
        case 1:  // as large as a datagram can be, valid or cut off
            if (i % 8 == 0) {
                std::string body = Report(Address(250, i), Mac(i), std::string(kLargest, 'N'));
                body.resize(kLargest - TARN_HEADER_SIZE);
                return report + body;
            }
            return report + Random(200);
        case 2:  // a report without the report marker
            return Header(0x701, "#\0x"[Pick(3)]) + Report(Address(252, i), Mac(i), "wrong marker");
        case 3:  // random bytes after a good header
            return report + Random(1 + Pick(1400));
        case 4:  // random bytes throughout
            return Random(TARN_HEADER_SIZE + Pick(600));
        case 5: {  // deep nesting
            const size_t depth = std::vector<size_t>{65, 1000, 50000}[Pick(3)];
            std::string body;
            for (size_t d = 0; d < depth; ++d)
                body += Pick(2) ? R"({"data":)" : "[";
            return report + body;
        }
        case 6: {  // invalid UTF-8 in every text
            const char* bad[] = {"\xff\xfe", "\xc0\xaf", "\xed\xa0\x80", "\xe8\xbd", "\xf8\x88\x80\x80\x80"};
            const std::string b = bad[Pick(5)];
            return report + Report(Address(253, i) + b, Mac(i) + b, "cam" + b);
        }
        case 7:  // code page 936 (GBK) text where UTF-8 belongs: "车位相机"
            return report + Report(Address(254, i), Mac(i), "\xb3\xb5\xce\xbb\xcf\xe0\xbb\xfa");
        case 8: {  // the wrong JSON types
            const char* bodies[] = {
                R"({"data":{"deviceIp":[1,2,3],"machineInfo":{"mac":{"a":1}}}})",
                R"({"data":{"deviceIp":1e400,"machineInfo":{"mac":-1,"sn":1e999,"type":"x"}}})",
                R"({"data":"x"})", R"([{"data":{}}])", R"(null)", R"({"data":{"deviceIp":null,"machineInfo":[]}})",
            };
            return report + bodies[Pick(6)];
        }
        case 9: {  // a report cut short
            const std::string body = Report(Address(251, i), Mac(i), "cut");
            return report + body.substr(0, Pick(body.size()));
        }
        case 10:  // forged update replies: tags are small numbers
            return Header(0x711, '$', Pick(2) ? 0x4F4B : static_cast<uint16_t>(Pick(65536)), Pick(64));
        case 11:  // status notifications of devices nobody upgrades, and worse
            return Header(0x712, '$') +
                   std::vector<std::string>{R"({"deviceId":"FLOOD)" + std::to_string(i) + R"(","status":0})",
                                            R"({"deviceId":42,"status":"1"})", R"({"status":2})",
                                            R"({"deviceId":"\ud800","status":1.5})", "{\"deviceId\":\"\xff\"}"}[Pick(5)];
        case 12:  // a header claiming another protocol
            return Header(static_cast<uint16_t>(Pick(65536)), '$', 0, 0, static_cast<uint16_t>(Pick(65536))) + Random(Pick(64));
        case 13:  // NUL bytes inside the JSON
            return report + std::string(R"({"data":{"deviceIp":"10.250.0.1)") + '\0' + R"(","machineInfo":{"mac":"FE)" +
                   '\0' + R"("}}})";
        case 14:  // a huge number of members
            return report + "{\"data\":{" + std::string(Pick(2000), ' ') + Repeat(R"("a":1,)", 500) + R"("b":2}})";
        default:  // an empty body
            return report;
        }
    }

private:
    size_t Pick(size_t n) { return n == 0 ? 0 : static_cast<size_t>(m_random() % n); }
    std::string Random(size_t n)
    {
        std::string bytes(n, '\0');
        for (char& c : bytes)
            c = static_cast<char>(m_random());
        return bytes;
    }
    static std::string Repeat(const std::string& part, size_t n)
    {
        std::string out;
        for (size_t k = 0; k < n; ++k)
            out += part;
        return out;
    }

    std::mt19937 m_random;
};

int Usage()
{
    std::fprintf(stderr, "usage: lynx-flood IP PORT COUNT [--kind hostile|reports|crowd|notices|claims|connections]\n"
                         "                  [--over SECONDS] [--from IP] [--seed N] [--devices FILE] [--status N]\n"
                         "                  [--version V] [--ready PATH] [--report-ip IP] [--first N]\n"
                         "                  [--forge-source yes] [--as-named 1]\n");
    return 2;
}

// The cameras a search found, as lynx-cli prints them in JSON.
std::vector<Json::Value> ReadDevices(const std::string& path)
{
    std::ifstream in(path);
    Json::Value rows;
    Json::CharReaderBuilder builder;
    std::string errors;
    std::vector<Json::Value> devices;
    if (!in || !Json::parseFromStream(builder, in, &rows, &errors) || !rows.isArray())
        return devices;
    for (const Json::Value& row : rows) {
        if (row.isObject())
            devices.push_back(row);
    }
    return devices;
}

std::string Compact(const Json::Value& value)
{
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    return Json::writeString(builder, value);
}

// An upgrade result in a camera's name.
std::string Notice(const Json::Value& device, int status)
{
    Json::Value body(Json::objectValue);
    body["deviceId"] = device["deviceId"].asString();
    body["status"] = status;
    return Header(0x712, '$') + Compact(body);
}

// A search report in a camera's name, with another software version.
std::string Claim(const Json::Value& device, const std::string& version)
{
    Json::Value info(Json::objectValue);
    info["mac"] = device["mac"].asString();
    info["name"] = device["name"].asString();
    info["model"] = device["model"].asString();
    info["softwareVersion"] = version;
    Json::Value data(Json::objectValue);
    data["deviceIp"] = device["deviceIp"].asString();
    data["netMask"] = device["netMask"].asString();
    data["gatewayIp"] = device["gatewayIp"].asString();
    data["deviceId"] = device["deviceId"].asString();
    data["machineInfo"] = info;
    Json::Value root(Json::objectValue);
    root["data"] = data;
    return Header(0x701, '$') + Compact(root);
}

// Binds the socket to the address (none: the kernel's choice), one this host
// holds or not; a failure is told.
bool SendFrom(int fd, const std::string& from)
{
    if (from.empty())
        return true;
    // Binding to an address the host lacks, and sending from it, take both.
    const int on = 1;
    ::setsockopt(fd, IPPROTO_IP, IP_FREEBIND, &on, sizeof on);
    ::setsockopt(fd, IPPROTO_IP, IP_TRANSPARENT, &on, sizeof on);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    if (::inet_pton(AF_INET, from.c_str(), &local.sin_addr) == 1 &&
        ::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0)
        return true;
    std::fprintf(stderr, "lynx-flood: cannot send from %s: %s\n", from.c_str(), std::strerror(errno));
    return false;
}

// A socket that sends from the address given, which need not be its host's.
int ForgingSocket(const std::string& source)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    sockaddr_in local{};
    local.sin_family = AF_INET;
    if (fd >= 0 && ::setsockopt(fd, SOL_IP, IP_TRANSPARENT, &on, sizeof on) == 0 &&
        ::setsockopt(fd, SOL_IP, IP_FREEBIND, &on, sizeof on) == 0 &&
        ::inet_pton(AF_INET, source.c_str(), &local.sin_addr) == 1 &&
        ::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0)
        return fd;
    std::fprintf(stderr, "lynx-flood: cannot send from %s: %s\n", source.c_str(), std::strerror(errno));
    if (fd >= 0)
        ::close(fd);
    return -1;
}

// Sends the datagrams spoken for the devices, each from its device's address,
// count in all, spread over the given time.
int SendForged(const sockaddr_in& to, long count, double over, const std::vector<Json::Value>& devices,
               const std::function<std::string(const Json::Value&)>& datagramOf)
{
    std::map<std::string, int> sockets;  // by device address
    for (const Json::Value& device : devices) {
        const std::string ip = device["deviceIp"].asString();
        if (sockets.count(ip) == 0 && (sockets[ip] = ForgingSocket(ip)) < 0)
            return 1;
    }
    unsigned long long bytes = 0;
    const auto start = Clock::now();
    for (long sent = 0; sent < count; ++sent) {
        if (over > 0)
            std::this_thread::sleep_until(start + std::chrono::duration_cast<Clock::duration>(
                                                      std::chrono::duration<double>(over * sent / count)));
        const Json::Value& device = devices[static_cast<size_t>(sent) % devices.size()];
        const std::string datagram = datagramOf(device);
        while (::sendto(sockets[device["deviceIp"].asString()], datagram.data(), datagram.size(), 0,
                        reinterpret_cast<const sockaddr*>(&to), sizeof to) < 0) {
            if (errno != EAGAIN && errno != ENOBUFS && errno != EINTR) {
                std::fprintf(stderr, "lynx-flood: %s\n", std::strerror(errno));
                return 1;
            }
        }
        bytes += datagram.size();
    }
    for (const auto& [ip, fd] : sockets)
        ::close(fd);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("flood: %ld datagrams (%llu bytes) from %zu forged sources in %.2f s\n", count, bytes, sockets.size(),
                seconds);
    return 0;
}

// Makes message go out from address (IP_PKTINFO), in control.
template <size_t N>
void SendAs(msghdr& message, char (&control)[N], const std::string& address)
{
    std::memset(control, 0, N);
    message.msg_control = control;
    message.msg_controllen = N;
    cmsghdr* header = CMSG_FIRSTHDR(&message);
    header->cmsg_level = IPPROTO_IP;
    header->cmsg_type = IP_PKTINFO;
    header->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
    in_pktinfo info{};
    ::inet_pton(AF_INET, address.c_str(), &info.ipi_spec_dst);
    std::memcpy(CMSG_DATA(header), &info, sizeof info);
}

// Holds count silent connections to the address for the given time.
int HoldConnections(const sockaddr_in& to, long count, double seconds, const std::string& from, const std::string& ready)
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
    const auto start = Clock::now();
    const auto end = start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    std::vector<int> held;
    while (static_cast<long>(held.size()) < count && Clock::now() < end) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            std::fprintf(stderr, "lynx-flood: %s\n", std::strerror(errno));
            break;
        }
        if (!SendFrom(fd, from)) {
            ::close(fd);
            return 1;
        }
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0) {
            held.push_back(fd);
        } else {
            ::close(fd);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    std::printf("connections: %zu held\n", held.size());
    std::fflush(stdout);
    if (!ready.empty() && static_cast<long>(held.size()) == count)
        std::ofstream(ready.c_str()) << held.size() << "\n";
    // Until the time is up, or until the server has closed every one.
    std::vector<pollfd> open;
    for (int fd : held)
        open.push_back({fd, POLLIN, 0});
    size_t closed = 0;
    while (closed < held.size()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
        if (left <= 0 || ::poll(open.data(), open.size(), static_cast<int>(std::min<long long>(left, 1000))) < 0)
            break;
        for (pollfd& p : open) {
            if (p.fd < 0 || p.revents == 0)
                continue;
            char byte;
            const ssize_t n = ::recv(p.fd, &byte, 1, MSG_DONTWAIT);
            if (n > 0 || (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)))
                continue;
            ++closed;
            p.fd = -1;  // poll skips it from now on
        }
    }
    for (int fd : held)
        ::close(fd);
    std::printf("connections: %zu of %zu closed by the server\n", closed, held.size());
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 4)
        return Usage();
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(std::atoi(argv[2])));
    if (::inet_pton(AF_INET, argv[1], &to.sin_addr) != 1)
        return Usage();
    const long count = std::atol(argv[3]);
    std::string kind = "hostile", from, devicesFile, version = "V9.9.9", ready, reportIp;
    bool forgeSource = false;
    double over = 0;
    unsigned seed = 1;
    long first = 0;
    bool asNamed = false;
    int status = 0;
    for (int a = 4; a < argc; a += 2) {
        if (a + 1 >= argc)
            return Usage();
        const std::string name = argv[a], value = argv[a + 1];
        if (name == "--kind" && (value == "hostile" || value == "reports" || value == "crowd" || value == "notices" ||
                                 value == "claims" || value == "connections"))
            kind = value;
        else if (name == "--devices")
            devicesFile = value;
        else if (name == "--status")
            status = std::atoi(value.c_str());
        else if (name == "--version")
            version = value;
        else if (name == "--ready")
            ready = value;
        else if (name == "--over")
            over = std::atof(value.c_str());
        else if (name == "--from")
            from = value;
        else if (name == "--report-ip")
            reportIp = value;
        else if (name == "--first")
            first = std::atol(value.c_str());
        else if (name == "--forge-source" && (value == "yes" || value == "no"))
            forgeSource = value == "yes";
        else if (name == "--as-named")
            asNamed = value == "1";
        else if (name == "--seed")
            seed = static_cast<unsigned>(std::strtoul(value.c_str(), nullptr, 10));
        else
            return Usage();
    }
    if (kind == "connections")
        return HoldConnections(to, count, over, from, ready);
    std::vector<Json::Value> devices;
    if (kind == "notices" || kind == "claims") {
        devices = ReadDevices(devicesFile);
        if (devices.empty()) {
            std::fprintf(stderr, "lynx-flood: no devices in '%s'\n", devicesFile.c_str());
            return 2;
        }
    }
    if (forgeSource) {
        if (devices.empty())
            return Usage();
        return SendForged(to, count, over, devices, [&](const Json::Value& device) {
            return kind == "notices" ? Notice(device, status) : Claim(device, version);
        });
    }
    if (kind == "crowd" && from.empty()) {
        std::fprintf(stderr, "lynx-flood: --kind crowd needs --from, the address its devices report\n");
        return 2;
    }
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const int big = 4 << 20;
    ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &big, sizeof big);
    if (!SendFrom(fd, from))
        return 1;
    const int on = 1;
    if (asNamed && ::setsockopt(fd, SOL_IP, IP_TRANSPARENT, &on, sizeof on) != 0) {
        std::fprintf(stderr, "lynx-flood: cannot send from other addresses: %s\n", std::strerror(errno));
        return 1;
    }

    Hostile hostile(seed);
    constexpr int kBatch = 64;
    std::vector<std::string> datagrams(kBatch);
    std::vector<iovec> iov(kBatch);
    std::vector<mmsghdr> messages(kBatch);
    // Each datagram's source address, when it is sent from the address it names.
    struct SourceControl {
        alignas(cmsghdr) char bytes[CMSG_SPACE(sizeof(in_pktinfo))];
    };
    std::vector<SourceControl> sources(kBatch);
    long sent = 0;
    unsigned long long bytes = 0;
    const auto start = Clock::now();
    while (sent < count) {
        if (over > 0)
            std::this_thread::sleep_until(start + std::chrono::duration_cast<Clock::duration>(
                                                      std::chrono::duration<double>(over * sent / count)));
        const int n = static_cast<int>(std::min<long>(kBatch, count - sent));
        for (int i = 0; i < n; ++i) {
            const long index = sent + i;
            std::string& d = datagrams[static_cast<size_t>(i)];
            const Json::Value& device = devices.empty() ? Json::Value::nullSingleton()
                                                        : devices[static_cast<size_t>(index) % devices.size()];
            const long made = first + index;
            const std::string reported =
                reportIp.empty() ? Address(200 + static_cast<int>((made >> 16) % 50), made) : reportIp;
            d = kind == "reports"   ? Header(0x701, '$') + Report(reported, Mac(made), "FAKE")
                : kind == "crowd"   ? Header(0x701, '$') + Report(from, Mac(made), "CROWD")
                : kind == "notices" ? Notice(device, status)
                : kind == "claims"  ? Claim(device, version)
                                    : hostile.Datagram(index);
            if (d.size() > kLargest)
                d.resize(kLargest);
            iov[static_cast<size_t>(i)] = {d.data(), d.size()};
            messages[static_cast<size_t>(i)] = {};
            messages[static_cast<size_t>(i)].msg_hdr.msg_name = &to;
            messages[static_cast<size_t>(i)].msg_hdr.msg_namelen = sizeof to;
            messages[static_cast<size_t>(i)].msg_hdr.msg_iov = &iov[static_cast<size_t>(i)];
            messages[static_cast<size_t>(i)].msg_hdr.msg_iovlen = 1;
            if (asNamed && kind == "reports")
                SendAs(messages[static_cast<size_t>(i)].msg_hdr, sources[static_cast<size_t>(i)].bytes, reported);
        }
        int done = 0;
        while (done < n) {
            const int out = ::sendmmsg(fd, messages.data() + done, static_cast<unsigned>(n - done), 0);
            if (out > 0) {
                for (int i = done; i < done + out; ++i)
                    bytes += datagrams[static_cast<size_t>(i)].size();
                done += out;
            } else if (errno != EAGAIN && errno != ENOBUFS && errno != EINTR) {
                std::fprintf(stderr, "lynx-flood: %s\n", std::strerror(errno));
                return 1;
            }
        }
        sent += n;
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("flood: %ld datagrams (%llu bytes) in %.2f s, %.0f per second\n", sent, bytes, seconds, sent / seconds);
    ::close(fd);
    return 0;
}
