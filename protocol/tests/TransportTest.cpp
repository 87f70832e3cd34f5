// The request datagrams, checked on the wire. Only loopback is used: the
// search and address-change broadcasts are checked for their failure path
// alone (no socket), which sends nothing.
#include "protocol/JsonMessages.h"
#include "protocol/Transport.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

using namespace lynx::protocol;

namespace {

std::vector<unsigned char> bytesOf(const PacketHeader& header)
{
    const auto* p = reinterpret_cast<const unsigned char*>(&header);
    return std::vector<unsigned char>(p, p + sizeof header);
}

// A plain UDP socket on 127.0.0.1 that stands for a camera's port.
class LoopbackReceiver {
public:
    explicit LoopbackReceiver(uint16_t port)
    {
        fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        // Shares the port with a server another test may run on 0.0.0.0:8025 at
        // the same time; the more specific 127.0.0.1 binding gets the datagrams.
        int on = 1;
        ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(port);
        bound_ = fd_ >= 0 && ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~LoopbackReceiver()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    LoopbackReceiver(const LoopbackReceiver&) = delete;
    LoopbackReceiver& operator=(const LoopbackReceiver&) = delete;

    bool bound() const { return bound_; }

    // One datagram, or nothing after the time-out.
    std::vector<unsigned char> receive(int timeoutMs = 2000)
    {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) != 1)
            return {};
        std::vector<unsigned char> buffer(70000);
        ssize_t n = ::recv(fd_, buffer.data(), buffer.size(), 0);
        buffer.resize(n > 0 ? static_cast<size_t>(n) : 0);
        return buffer;
    }

private:
    int fd_ = -1;
    bool bound_ = false;
};

// A tarn client socket, as the upgrade opens one per device.
class TarnClient {
public:
    TarnClient()
    {
        if (tarn_StartUDPClient(&handle_, "127.0.0.1", kUpdatePort, nullptr) != 1)
            handle_ = 0;
    }
    ~TarnClient()
    {
        if (handle_)
            tarn_ext_Close(handle_);
    }
    uint16_t handle() const { return handle_; }

private:
    uint16_t handle_ = 0;
};

} // namespace

TEST(RequestHeader, SearchHeaderBytes)
{
    const std::vector<unsigned char> expected = {0x00, 0x80, 0x80, 0x42, 0x01, 0x07, 0x00, 0x00, 0x23, 0x00,
                                                 0x00, 0x00, 0x00, 0x00, 0x00, 0x80, 0x00, 0x00, 0x00, 0x00};
    EXPECT_EQ(bytesOf(MakeRequestHeader(kCmdSearch)), expected);
}

TEST(RequestHeader, TagIsSetOnlyForARequestToOneDevice)
{
    const std::vector<unsigned char> update = {0x00, 0x80, 0x80, 0x42, 0x11, 0x07, 0x00, 0x00, 0x23, 0x00,
                                               0x00, 0x00, 0x00, 0x00, 0x00, 0x80, 0x04, 0x03, 0x02, 0x01};
    EXPECT_EQ(bytesOf(MakeRequestHeader(kCmdUpdate, 0x01020304)), update);
    const PacketHeader changeIp = MakeRequestHeader(kCmdChangeIp, 0x01020304);
    EXPECT_EQ(changeIp.command, 0x703);
    EXPECT_EQ(changeIp.tag, 0u);
}

TEST(SendToDevice, DatagramOnTheWireIsHeaderThenUtf8Body)
{
    LoopbackReceiver camera(kUpdatePort);
    if (!camera.bound())
        GTEST_SKIP() << "127.0.0.1:8025 is in use on this machine";
    TarnClient client;
    ASSERT_NE(client.handle(), 0);

    // A code page 936 text goes out as UTF-8, its length the UTF-8 byte count.
    const std::string text = "{\"name\":\"" "\xD6\xD0" "\"}\n";
    ASSERT_TRUE(SendToDevice(text, client.handle(), "127.0.0.1", 5));
    const std::vector<unsigned char> datagram = camera.receive();
    ASSERT_EQ(datagram.size(), 20u + 15u);
    const std::vector<unsigned char> header(datagram.begin(), datagram.begin() + 20);
    EXPECT_EQ(header, bytesOf(MakeRequestHeader(kCmdUpdate, 5)));
    EXPECT_EQ(header[16], 5);
    EXPECT_EQ(std::string(datagram.begin() + 20, datagram.end()), "{\"name\":\"" "\xE4\xB8\xAD" "\"}\n");
}

TEST(SendToDevice, UpdateRequestIsSentWithoutTerminator)
{
    LoopbackReceiver camera(kUpdatePort);
    if (!camera.bound())
        GTEST_SKIP() << "127.0.0.1:8025 is in use on this machine";
    TarnClient client;
    ASSERT_NE(client.handle(), 0);
    const std::string request = BuildJsonRequest("update", "http://127.0.0.1:9000/fw.zip", "KV0001");
    ASSERT_TRUE(SendToDevice(request, client.handle(), "127.0.0.1", 3));
    const std::vector<unsigned char> datagram = camera.receive();
    ASSERT_EQ(datagram.size(), 20u + request.size());
    EXPECT_EQ(std::string(datagram.begin() + 20, datagram.end()), request);
    EXPECT_EQ(datagram.back(), '\n');
}

TEST(SendFailures, ReportedAsFailureWithoutASocket)
{
    DeviceRecord record{};
    std::strcpy(record.mac, "00:1A:2B:3C:4D:5E");
    std::strcpy(record.deviceIp, "192.168.1.50");
    // Handle 0 is no socket: nothing is sent, and nothing claims it was.
    EXPECT_FALSE(SendSearch(0));
    EXPECT_FALSE(SendChangeIp(0, record));
    EXPECT_FALSE(SendToDevice("{}", 0, "127.0.0.1", 1));
}

TEST(SendFailures, BadDeviceAddressIsAFailure)
{
    TarnClient client;
    ASSERT_NE(client.handle(), 0);
    EXPECT_FALSE(SendToDevice("{}", client.handle(), "not-an-address", 1));
    EXPECT_FALSE(SendToDevice("{}", client.handle(), "", 1));
    EXPECT_FALSE(SendToDevice("{}", client.handle(), nullptr, 1));
}
