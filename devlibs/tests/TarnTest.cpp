// The transport library on loopback only: real sockets on 127.0.0.x and
// ephemeral ports, never a broadcast.
#include "tarn.h"

#include "NetlabFixture.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Received {
    uint32_t peerAddress = 0;
    uint32_t peerPort = 0;
    PacketHeader header{};
    std::string body;
    bool terminated = false;
    TARN_ARRIVAL arrival{};  // as tarn_ext_Arrival told it inside the callback
};

// What a receive callback saw. Callbacks are plain functions, so each inbox
// is a static object behind its own callback.
class Inbox {
public:
    void put(Received r)
    {
        std::lock_guard lock(mutex_);
        items_.push_back(std::move(r));
        changed_.notify_all();
    }

    // Waits until count datagrams are in, or the time-out.
    std::vector<Received> waitFor(size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(3))
    {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, timeout, [&] { return items_.size() >= count; });
        return items_;
    }

    void clear()
    {
        std::lock_guard lock(mutex_);
        items_.clear();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Received> items_;
};

Inbox& firstInbox()
{
    static Inbox inbox;
    return inbox;
}

Inbox& secondInbox()
{
    static Inbox inbox;
    return inbox;
}

Received makeReceived(uint32_t peerAddress, uint32_t peerPort, const PacketHeader& header, uint32_t bodyLength,
                      const char* body)
{
    Received r;
    r.peerAddress = peerAddress;
    r.peerPort = peerPort;
    r.header = header;
    r.body.assign(body, bodyLength);
    r.terminated = body[bodyLength] == '\0';
    tarn_ext_Arrival(&r.arrival);
    return r;
}

int toFirst(uint32_t peerAddress, uint32_t peerPort, PacketHeader header, uint32_t bodyLength, const char* body)
{
    firstInbox().put(makeReceived(peerAddress, peerPort, header, bodyLength, body));
    return 0;
}

int toSecond(uint32_t peerAddress, uint32_t peerPort, PacketHeader header, uint32_t bodyLength, const char* body)
{
    secondInbox().put(makeReceived(peerAddress, peerPort, header, bodyLength, body));
    return 0;
}

// A plain POSIX UDP socket on a loopback address, to see and make raw datagrams.
class RawSocket {
public:
    explicit RawSocket(const char* address = "127.0.0.1")
    {
        fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        ::inet_pton(AF_INET, address, &local.sin_addr);
        ::bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local);
        socklen_t len = sizeof local;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &len);
        port_ = ntohs(local.sin_port);
    }
    ~RawSocket() { ::close(fd_); }
    RawSocket(const RawSocket&) = delete;
    RawSocket& operator=(const RawSocket&) = delete;

    uint16_t port() const { return port_; }

    void sendTo(uint16_t port, const void* data, size_t size)
    {
        sockaddr_in dest{};
        dest.sin_family = AF_INET;
        dest.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        dest.sin_port = htons(port);
        ASSERT_EQ(::sendto(fd_, data, size, 0, reinterpret_cast<sockaddr*>(&dest), sizeof dest),
                  static_cast<ssize_t>(size));
    }

    // One datagram and its source address, or an empty one after the time-out.
    std::vector<unsigned char> receive(std::string* source = nullptr, int timeoutMs = 2000)
    {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) != 1)
            return {};
        std::vector<unsigned char> buffer(70000);
        sockaddr_in from{};
        socklen_t len = sizeof from;
        ssize_t n = ::recvfrom(fd_, buffer.data(), buffer.size(), 0, reinterpret_cast<sockaddr*>(&from), &len);
        buffer.resize(n > 0 ? static_cast<size_t>(n) : 0);
        if (source) {
            char text[INET_ADDRSTRLEN] = {};
            ::inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
            *source = text;
        }
        return buffer;
    }

private:
    int fd_ = -1;
    uint16_t port_ = 0;
};

PacketHeader knownHeader()
{
    PacketHeader h{};
    h.magic = 0x8000;
    h.category = 0x80;
    h.subCategory = 0x42;
    h.command = 0x711;
    h.result = 0x4F4B;
    h.bodyMarker = '$';
    h.flags = 0x80000000u;
    h.tag = 0x0A0B0C0D;
    return h;
}

// An ephemeral port that nothing uses at this moment.
uint16_t freePort()
{
    RawSocket probe;
    return probe.port();
}

class Tarn : public ::testing::Test {
protected:
    void SetUp() override
    {
        firstInbox().clear();
        secondInbox().clear();
    }
    void TearDown() override { tarn_ext_Shutdown(); }

    uint16_t startServer(TARN_RECV_CALLBACK callback, uint16_t port = 0)
    {
        uint16_t handle = 0;
        EXPECT_EQ(tarn_StartUDPServer(&handle, callback, 0, 0, port), 1);
        EXPECT_NE(handle, 0);
        return handle;
    }

    uint16_t startClient(TARN_RECV_CALLBACK callback = nullptr, uint16_t port = 8025)
    {
        uint16_t handle = 0;
        EXPECT_EQ(tarn_StartUDPClient(&handle, "127.0.0.1", port, callback), 1);
        EXPECT_NE(handle, 0);
        return handle;
    }
};

} // namespace

TEST_F(Tarn, HeaderGoesOnTheWireAsTwentyLittleEndianBytes)
{
    RawSocket camera;
    const uint16_t client = startClient();
    const PacketHeader header = knownHeader();
    ASSERT_EQ(tarn_UdpSendTo(client, &header, 0, 0, nullptr, "127.0.0.1", camera.port()), 1);
    const std::vector<unsigned char> expected = {0x00, 0x80, 0x80, 0x42, 0x11, 0x07, 0x4B, 0x4F, 0x24, 0x00,
                                                 0x00, 0x00, 0x00, 0x00, 0x00, 0x80, 0x0D, 0x0C, 0x0B, 0x0A};
    EXPECT_EQ(camera.receive(), expected);
}

TEST_F(Tarn, ADatagramSentViaAnInterfaceArrivesThereAndSaysWhere)
{
    const uint16_t server = startServer(toFirst);
    const uint16_t client = startClient();
    const PacketHeader header = knownHeader();
    const unsigned loopback = if_nametoindex("lo");
    ASSERT_NE(loopback, 0u);
    ASSERT_EQ(tarn_ext_UdpSendVia(client, &header, 0, nullptr, loopback, nullptr, "127.0.0.1",
                                  tarn_ext_LocalPort(server)),
              1);
    EXPECT_EQ(tarn_ext_UdpSendVia(client, &header, 0, nullptr, 0, nullptr, "127.0.0.1", tarn_ext_LocalPort(server)),
              0)
        << "interface 0 is no interface";
    const auto received = firstInbox().waitFor(1);
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].arrival.interfaceIndex, loopback);
    EXPECT_STREQ(received[0].arrival.interfaceName, "lo");
    EXPECT_STREQ(received[0].arrival.localAddress, "127.0.0.1");
    TARN_ARRIVAL outside{};
    EXPECT_EQ(tarn_ext_Arrival(&outside), 0) << "only inside a receive callback";
}

TEST_F(Tarn, ReceiveBufferIsTheLargerOfTheDefaultAndWhatIsAskedFor)
{
    if (::getuid() != 0)
        GTEST_SKIP() << "without privileges the system caps the buffer at net.core.rmem_max";
    const uint16_t server = startServer(toFirst);
    constexpr uint32_t kMiB = 1024 * 1024;
    EXPECT_GE(tarn_ext_ReceiveBufferSize(server), 32 * kMiB);
    tarn_ext_SetReceiveBufferSize(80 * kMiB);
    EXPECT_GE(tarn_ext_ReceiveBufferSize(server), 80 * kMiB) << "an open socket grows too";
    EXPECT_GE(tarn_ext_ReceiveBufferSize(startClient()), 80 * kMiB);
    tarn_ext_SetReceiveBufferSize(1 * kMiB);
    EXPECT_GE(tarn_ext_ReceiveBufferSize(server), 32 * kMiB) << "never below the default";
    EXPECT_LT(tarn_ext_ReceiveBufferSize(server), 80 * kMiB);
    EXPECT_EQ(tarn_ext_ReceiveBufferSize(0), 0u);
}

TEST_F(Tarn, BodiesRoundTripByteForByte)
{
    const uint16_t server = startServer(toFirst);
    const uint16_t serverPort = tarn_ext_LocalPort(server);
    ASSERT_NE(serverPort, 0);
    const uint16_t client = startClient();

    std::string large(60000, '\0');
    std::mt19937 random(7);
    for (char& c : large)
        c = static_cast<char>(random());
    const std::string bodies[] = {"{\"a\":1}", large, "", std::string("with\0nul", 8)};
    const PacketHeader header = knownHeader();
    for (const std::string& body : bodies)
        ASSERT_EQ(tarn_UdpSendTo(client, &header, 0, static_cast<int>(body.size()), body.empty() ? nullptr : body.data(),
                                 "127.0.0.1", serverPort),
                  1);

    const auto received = firstInbox().waitFor(4);
    ASSERT_EQ(received.size(), 4u);
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(received[i].body, bodies[i]) << "datagram " << i;
        EXPECT_TRUE(received[i].terminated) << "datagram " << i;
        EXPECT_EQ(std::memcmp(&received[i].header, &header, sizeof header), 0) << "datagram " << i;
        EXPECT_EQ(received[i].peerAddress, 0x7F000001u);
        EXPECT_EQ(received[i].peerPort, tarn_ext_LocalPort(client));
    }
}

TEST_F(Tarn, DatagramShorterThanAHeaderIsDropped)
{
    const uint16_t server = startServer(toFirst);
    RawSocket sender;
    const PacketHeader header = knownHeader();
    sender.sendTo(tarn_ext_LocalPort(server), &header, 19);
    sender.sendTo(tarn_ext_LocalPort(server), "", 0);
    sender.sendTo(tarn_ext_LocalPort(server), &header, 20);
    const auto received = firstInbox().waitFor(2, std::chrono::milliseconds(500));
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].body, "");
    EXPECT_TRUE(received[0].terminated);
}

TEST_F(Tarn, SecondServerOnAServedPortGetsTheRunningOne)
{
    const uint16_t port = freePort();
    const uint16_t first = startServer(toFirst, port);
    uint16_t second = 0;
    EXPECT_EQ(tarn_StartUDPServer(&second, toSecond, 0, 0, port), 1);
    EXPECT_EQ(second, first);

    RawSocket sender;
    const PacketHeader header = knownHeader();
    sender.sendTo(port, &header, sizeof header);
    EXPECT_EQ(firstInbox().waitFor(1).size(), 1u) << "the first server keeps working";
    EXPECT_TRUE(secondInbox().waitFor(1, std::chrono::milliseconds(200)).empty());
}

TEST_F(Tarn, APortHeldByAnotherProgramIsNeverShared)
{
    // Held elsewhere first: the server fails, says why, and starts once freed.
    const uint16_t port = freePort();
    lynx::test::PortHolder other(port);
    ASSERT_TRUE(other.bound());
    uint16_t handle = 0;
    EXPECT_EQ(tarn_StartUDPServer(&handle, toFirst, 0, 0, port), 0) << "the port would be shared";
    EXPECT_EQ(tarn_ext_LastStartError(), EADDRINUSE);
    other.Release();
    EXPECT_EQ(tarn_StartUDPServer(&handle, toFirst, 0, 0, port), 1) << "tried again once the port is free";

    // Served here first: the other program cannot bind it beside the server.
    EXPECT_FALSE(lynx::test::PortHolder(port).bound()) << "a second program would take the unicast answers";
}

TEST_F(Tarn, ServersStartedTogetherOnOnePortAreOneServer)
{
    constexpr int kRounds = 20;
    constexpr int kCallers = 8;
    uint16_t port = 0;
    for (int round = 0; round < kRounds; ++round) {
        port = freePort();
        std::vector<uint16_t> handles(kCallers, 0);
        std::vector<unsigned char> results(kCallers, 0);
        std::atomic<bool> go{false};
        std::vector<std::thread> callers;
        for (int i = 0; i < kCallers; ++i)
            callers.emplace_back([&, i] {
                while (!go.load())
                    std::this_thread::yield();
                results[i] = tarn_StartUDPServer(&handles[i], toFirst, 0, 0, port);
            });
        go.store(true);
        for (auto& t : callers)
            t.join();
        for (int i = 0; i < kCallers; ++i) {
            ASSERT_EQ(results[i], 1) << "round " << round;
            ASSERT_EQ(handles[i], handles[0]) << "round " << round << ": two servers on one port";
        }
    }
    RawSocket sender;
    const PacketHeader header = knownHeader();
    for (int i = 0; i < 10; ++i)
        sender.sendTo(port, &header, sizeof header);
    EXPECT_EQ(firstInbox().waitFor(10).size(), 10u) << "every datagram reaches the one server";
}

TEST_F(Tarn, SendFromSetsTheSourceAddress)
{
    RawSocket pc;
    const uint16_t camera = startServer(toFirst);
    const PacketHeader header = knownHeader();
    std::string source;
    for (const char* address : {"127.0.0.1", "127.0.0.2"}) {
        ASSERT_EQ(tarn_ext_UdpSendFrom(camera, &header, 2, "{}", address, "127.0.0.1", pc.port()), 1) << address;
        const auto datagram = pc.receive(&source);
        EXPECT_EQ(datagram.size(), 22u);
        EXPECT_EQ(source, address);
    }
    EXPECT_EQ(tarn_ext_UdpSendFrom(camera, &header, 0, nullptr, "not-an-ip", "127.0.0.1", pc.port()), 0);
}

TEST_F(Tarn, ClosedSocketStopsAndItsPortCanBeServedAgain)
{
    const uint16_t port = freePort();
    const uint16_t first = startServer(toFirst, port);
    EXPECT_EQ(tarn_ext_Close(first), 1);
    EXPECT_EQ(tarn_ext_Close(first), 0);
    EXPECT_EQ(tarn_ext_LocalPort(first), 0);
    const PacketHeader header = knownHeader();
    EXPECT_EQ(tarn_UdpSendTo(first, &header, 0, 0, nullptr, "127.0.0.1", port), 0);

    const uint16_t again = startServer(toSecond, port);
    EXPECT_NE(again, first);
    RawSocket sender;
    sender.sendTo(port, &header, sizeof header);
    EXPECT_EQ(secondInbox().waitFor(1).size(), 1u);
    EXPECT_TRUE(firstInbox().waitFor(1, std::chrono::milliseconds(100)).empty());
}

namespace {

std::atomic<uint16_t> g_selfClosing{0};
std::atomic<int> g_selfCloseCalls{0};

int closeFromCallback(uint32_t, uint32_t, PacketHeader, uint32_t, const char*)
{
    ++g_selfCloseCalls;
    tarn_ext_Close(g_selfClosing);
    return 0;
}

} // namespace

TEST_F(Tarn, SocketClosedFromItsOwnCallbackGetsNoFurtherCallback)
{
    g_selfClosing = startServer(closeFromCallback);
    const uint16_t port = tarn_ext_LocalPort(g_selfClosing);
    RawSocket sender;
    const PacketHeader header = knownHeader();
    for (int i = 0; i < 5; ++i)
        sender.sendTo(port, &header, sizeof header);
    for (int i = 0; i < 100 && tarn_ext_LocalPort(g_selfClosing) != 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    // Proving that no callback follows needs a window of time: the four
    // datagrams still queued would arrive within it, were they delivered.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(tarn_ext_LocalPort(g_selfClosing), 0);
    EXPECT_EQ(g_selfCloseCalls.load(), 1);
}

TEST_F(Tarn, RejectsBadSends)
{
    const uint16_t client = startClient();
    const PacketHeader header = knownHeader();
    RawSocket camera;
    EXPECT_EQ(tarn_UdpSendTo(0, &header, 0, 0, nullptr, "127.0.0.1", camera.port()), 0) << "handle 0 is no socket";
    EXPECT_EQ(tarn_UdpSendTo(client, nullptr, 0, 0, nullptr, "127.0.0.1", camera.port()), 0);
    EXPECT_EQ(tarn_UdpSendTo(client, &header, 0, -1, "x", "127.0.0.1", camera.port()), 0);
    EXPECT_EQ(tarn_UdpSendTo(client, &header, 0, 4, nullptr, "127.0.0.1", camera.port()), 0);
    EXPECT_EQ(tarn_UdpSendTo(client, &header, 0, 0, nullptr, "127.0.0.256", camera.port()), 0);
    EXPECT_EQ(tarn_UdpSendTo(client, &header, 0, 0, nullptr, nullptr, camera.port()), 0);
    std::string tooLarge(65536, 'x');
    EXPECT_EQ(tarn_UdpSendTo(client, &header, 0, static_cast<int>(tooLarge.size()), tooLarge.data(), "127.0.0.1",
                             camera.port()),
              0);
    EXPECT_TRUE(camera.receive(nullptr, 100).empty()) << "nothing went out";
    uint16_t handle = 0;
    EXPECT_EQ(tarn_StartUDPClient(&handle, "nowhere", 8025, nullptr), 0);
    EXPECT_EQ(tarn_StartUDPServer(nullptr, toFirst, 0, 0, 0), 0);
}

TEST_F(Tarn, ClientReceivesTheRepliesToItsRequests)
{
    const uint16_t client = startClient(toFirst);
    RawSocket camera;
    const PacketHeader header = knownHeader();
    ASSERT_EQ(tarn_UdpSendTo(client, &header, 0, 0, nullptr, "127.0.0.1", camera.port()), 1);
    ASSERT_EQ(camera.receive().size(), 20u);
    camera.sendTo(tarn_ext_LocalPort(client), &header, sizeof header);
    const auto replies = firstInbox().waitFor(1);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].header.tag, 0x0A0B0C0Du);
    EXPECT_EQ(replies[0].peerPort, camera.port());
}

TEST_F(Tarn, ShutdownJoinsEveryReceiveThread)
{
    for (int i = 0; i < 4; ++i) {
        startServer(toFirst);
        startClient(toSecond);
    }
    tarn_ext_Shutdown();
    // A new start after a shut-down works as before.
    const uint16_t server = startServer(toFirst);
    RawSocket sender;
    const PacketHeader header = knownHeader();
    sender.sendTo(tarn_ext_LocalPort(server), &header, sizeof header);
    EXPECT_EQ(firstInbox().waitFor(1).size(), 1u);
}

namespace {

std::vector<std::string> LogLines(const std::string& path)
{
    std::vector<std::string> lines;
    FILE* f = std::fopen(path.c_str(), "r");
    if (!f)
        return lines;
    char line[512];
    while (std::fgets(line, sizeof line, f))
        lines.emplace_back(line);
    std::fclose(f);
    return lines;
}

// The number a "send failed ... bad-N" line names.
int SendNumber(const std::string& line)
{
    const size_t at = line.rfind("bad-");
    return at == std::string::npos ? -1 : std::atoi(line.c_str() + at + 4);
}

} // namespace

TEST(TarnLog, KeepsAtMostItsFilesOfAtMostItsSizeAndDropsTheOldestFirst)
{
    char pattern[] = "/tmp/tarn-log-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const std::string dir = pattern;
    ::setenv("LYNX_LOG_DIR", dir.c_str(), 1);
    tarn_Init(1, 35, 35, "C://log//", 0, 0, 0, 0);
    tarn_SetLogFlag(1);
    tarn_ext_SetLogLimits(3, 1000);
    // Every failed send writes a line (about 60 bytes): 400 of them fill far
    // more than three files.
    PacketHeader header{};
    for (int i = 0; i < 400; ++i)
        tarn_UdpSendTo(0, &header, 0, 0, nullptr, ("bad-" + std::to_string(i)).c_str(), 1);
    tarn_SetLogFlag(0);
    tarn_ext_SetLogLimits(0, 0);
    ::unsetenv("LYNX_LOG_DIR");

    std::vector<std::string> kept;
    for (const char* name : {"tarn.log.2", "tarn.log.1", "tarn.log"}) {
        const std::string path = dir + "/" + name;
        FILE* f = std::fopen(path.c_str(), "r");
        ASSERT_NE(f, nullptr) << name;
        std::fseek(f, 0, SEEK_END);
        EXPECT_LE(std::ftell(f), 1000) << name;
        if (std::string(name) != "tarn.log") {
            EXPECT_GT(std::ftell(f), 900) << name << " was rotated before it was full";
        }
        std::fclose(f);
        for (const std::string& line : LogLines(path))
            kept.push_back(line);
    }
    EXPECT_FALSE(std::filesystem::exists(dir + "/tarn.log.3"));
    // Oldest file first, the newest lines last, nothing missing in between.
    ASSERT_FALSE(kept.empty());
    EXPECT_EQ(SendNumber(kept.back()), 399);
    for (size_t i = 1; i < kept.size(); ++i)
        EXPECT_EQ(SendNumber(kept[i]), SendNumber(kept[i - 1]) + 1) << kept[i];
    std::filesystem::remove_all(dir);
}
