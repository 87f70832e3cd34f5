// The two broadcasts (search and address change), checked on the wire inside a
// virtual LAN: the PC's own report server hears its broadcast looped back.
// Outside such a LAN the test refuses to run, so that it never broadcasts on
// the machine's own network.
#include "protocol/JsonMessages.h"
#include "protocol/Transport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

using namespace lynx::protocol;

namespace {

bool insideVirtualLan()
{
    const char* pcNamespace = std::getenv("LYNX_NETLAB_PC_NS");
    if (!pcNamespace || !*pcNamespace || std::strchr(pcNamespace, '/'))
        return false;
    // Running in the LAN's PC namespace itself, not merely with its name set.
    struct stat own {};
    struct stat lan {};
    const std::string lanPath = std::string("/run/netns/") + pcNamespace;
    return ::stat("/proc/self/ns/net", &own) == 0 && ::stat(lanPath.c_str(), &lan) == 0 &&
           own.st_ino == lan.st_ino && own.st_dev == lan.st_dev;
}

struct Heard {
    PacketHeader header{};
    std::string body;
};

std::mutex g_mutex;
std::condition_variable g_changed;
std::vector<Heard> g_requests;

// Only requests ('#'): a camera's report ('$') on the same port is not ours.
int onReportPort(uint32_t, uint32_t, PacketHeader header, uint32_t bodyLength, const char* body)
{
    if (header.bodyMarker != kMarkerRequest)
        return 0;
    std::lock_guard lock(g_mutex);
    g_requests.push_back({header, std::string(body, bodyLength)});
    g_changed.notify_all();
    return 0;
}

std::vector<Heard> waitForRequests(size_t count)
{
    std::unique_lock lock(g_mutex);
    g_changed.wait_for(lock, std::chrono::seconds(3), [&] { return g_requests.size() >= count; });
    return g_requests;
}

class Broadcasts : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!insideVirtualLan())
            GTEST_SKIP() << "broadcasts are only sent inside a virtual LAN (tools/netlab)";
        std::lock_guard lock(g_mutex);
        g_requests.clear();
        ASSERT_EQ(tarn_StartUDPServer(&reportSocket_, onReportPort, 0, 0, kReportPort), 1);
    }
    void TearDown() override { tarn_ext_Shutdown(); }

    uint16_t reportSocket_ = 0;
};

} // namespace

TEST_F(Broadcasts, SearchIsABareHeader)
{
    ASSERT_TRUE(SendSearch(reportSocket_));
    const auto heard = waitForRequests(1);
    ASSERT_EQ(heard.size(), 1u);
    const PacketHeader expected = MakeRequestHeader(kCmdSearch);
    EXPECT_EQ(std::memcmp(&heard[0].header, &expected, sizeof expected), 0);
    EXPECT_EQ(heard[0].header.command, 0x701);
    EXPECT_EQ(heard[0].body, "");
}

TEST_F(Broadcasts, ChangeIpCarriesTheStyledRequestInUtf8)
{
    DeviceRecord record{};
    std::strcpy(record.mac, "02:00:00:00:00:99");  // no simulated camera has it
    std::strcpy(record.deviceIp, "192.168.1.77");
    std::strcpy(record.netMask, "255.255.255.0");
    std::strcpy(record.gatewayIp, "192.168.1.1");
    ASSERT_TRUE(SendChangeIp(reportSocket_, record));
    const auto heard = waitForRequests(1);
    ASSERT_EQ(heard.size(), 1u);
    EXPECT_EQ(heard[0].header.command, 0x703);
    EXPECT_EQ(heard[0].header.tag, 0u);
    EXPECT_EQ(heard[0].body,
              "{\n"
              "\t\"deviceIp\" : \"192.168.1.77\",\n"
              "\t\"gatewayIp\" : \"192.168.1.1\",\n"
              "\t\"mac\" : \"02:00:00:00:00:99\",\n"
              "\t\"netMask\" : \"255.255.255.0\",\n"
              "\t\"type\" : 64\n"
              "}\n");
}
