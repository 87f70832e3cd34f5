// The simulator's side of an address change, driven through the tool's own
// protocol code in a virtual LAN: the camera named by its MAC goes quiet for its
// restart time, then answers from its new address with its new values.
#include "SessionInLan.h"

#include "protocol/Transport.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <thread>

namespace {

using namespace lynx::test;
using lynx::protocol::DeviceRow;

const DeviceRow* RowWithIp(const std::vector<DeviceRow>& rows, const std::string& ip)
{
    for (const DeviceRow& r : rows)
        if (ip == r.record.deviceIp)
            return &r;
    return nullptr;
}

DeviceRecord ChangeRequest(const std::string& mac, const char* ip, const char* mask, const char* gateway)
{
    DeviceRecord r{};
    std::strncpy(r.mac, mac.c_str(), sizeof r.mac - 1);
    std::strncpy(r.deviceIp, ip, sizeof r.deviceIp - 1);
    std::strncpy(r.netMask, mask, sizeof r.netMask - 1);
    std::strncpy(r.gatewayIp, gateway, sizeof r.gatewayIp - 1);
    return r;
}

class ChangeIpEndToEnd : public SessionInLan {
protected:
    void SetUpInLan() override
    {
        SessionInLan::SetUpInLan();
        ASSERT_TRUE(session.StartServers(false));
    }

    std::vector<DeviceRow> SearchFor(std::chrono::milliseconds time)
    {
        EXPECT_TRUE(session.Search());
        session.CollectFor(time, {});
        return session.Table().Rows();
    }
};

TEST_F(ChangeIpEndToEnd, CameraRestartsThenAnswersFromItsNewAddress)
{
    Json::Value cameras = NetlabCameras();
    ASSERT_GE(cameras.size(), 2u);
    const Json::Value& moving = cameras[1];
    const std::string oldIp = moving["ip"].asString();
    ASSERT_NE(RowWithIp(SearchFor(1500ms), oldIp), nullptr);
    ASSERT_TRUE(CanConnect(oldIp, 8021));

    auto sentAt = std::chrono::steady_clock::now();
    ASSERT_TRUE(lynx::protocol::SendChangeIp(
        session.ReportSocket(), ChangeRequest(moving["mac"].asString(), "192.168.1.150", "255.255.0.0", "192.168.1.254")));

    // Restarting: neither address answers, every other camera does.
    std::vector<DeviceRow> during = SearchFor(800ms);
    EXPECT_EQ(RowWithIp(during, oldIp), nullptr);
    EXPECT_EQ(RowWithIp(during, "192.168.1.150"), nullptr);
    EXPECT_EQ(during.size(), cameras.size() - 1);

    std::this_thread::sleep_until(sentAt + std::chrono::milliseconds(moving["restartMs"].asInt()) + 300ms);
    std::vector<DeviceRow> after = SearchFor(1500ms);
    EXPECT_EQ(after.size(), cameras.size());
    EXPECT_EQ(RowWithIp(after, oldIp), nullptr);
    const DeviceRow* moved = RowWithIp(after, "192.168.1.150");
    ASSERT_NE(moved, nullptr);
    EXPECT_STREQ(moved->record.mac, moving["mac"].asCString());
    EXPECT_STREQ(moved->record.netMask, "255.255.0.0");
    EXPECT_STREQ(moved->record.gatewayIp, "192.168.1.254");
    EXPECT_STREQ(moved->record.deviceId, moving["deviceId"].asCString());

    // The address really moved on the camera side.
    EXPECT_TRUE(CanConnect("192.168.1.150", 8021));
    EXPECT_FALSE(CanConnect(oldIp, 8021));
    // Its neighbours on the same network kept theirs.
    EXPECT_TRUE(CanConnect(cameras[0]["ip"].asString(), 8021));
}

TEST_F(ChangeIpEndToEnd, RequestForAnUnknownMacChangesNothing)
{
    std::vector<DeviceRow> before = SearchFor(1500ms);
    ASSERT_FALSE(before.empty());
    ASSERT_TRUE(lynx::protocol::SendChangeIp(
        session.ReportSocket(), ChangeRequest("AA:BB:CC:DD:EE:FF", "192.168.1.160", "255.255.255.0", "192.168.1.1")));
    std::vector<DeviceRow> after = SearchFor(1500ms);
    ASSERT_EQ(after.size(), before.size());
    for (const DeviceRow& row : before) {
        const DeviceRow* same = RowWithIp(after, row.record.deviceIp);
        ASSERT_NE(same, nullptr) << row.record.deviceIp;
        EXPECT_STREQ(same->record.mac, row.record.mac);
        EXPECT_STREQ(same->record.gatewayIp, row.record.gatewayIp);
    }
    EXPECT_EQ(RowWithIp(after, "192.168.1.160"), nullptr);
}

} // namespace
