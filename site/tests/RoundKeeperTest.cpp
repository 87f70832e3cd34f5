// The watch's device table without a network: a full watch makes room by
// taking the rows of the cameras it forgot out of the table, and the rows it
// keeps keep their record, their arrival and their camera's number lookup.
#include "site/WatchFlow.h"

#include "Reports.h"
#include "protocol/DeviceTable.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

using namespace lynx;

class NoEvents : public site::WatchSink {
public:
    void Event(const site::WatchEvent&) override {}
};

// A report as it arrives from ip, naming ip and mac.
protocol::Datagram ReportFrom(const std::string& ip, const std::string& mac)
{
    protocol::Datagram datagram;
    datagram.port = protocol::kReportPort;
    datagram.body = test::ReportJson(ip, mac);
    datagram.interfaceName = "eth0";
    datagram.localAddress = "192.168.1.100";
    in_addr address{};
    ::inet_pton(AF_INET, ip.c_str(), &address);
    datagram.peerAddress = ntohl(address.s_addr);
    return datagram;
}

std::string FakeMac(int i)
{
    char mac[18];
    std::snprintf(mac, sizeof mac, "FE:00:00:00:00:%02X", i);
    return mac;
}

TEST(RoundKeeper, AFullWatchTakesTheRowsOfTheCamerasItForgotOutOfTheTable)
{
    constexpr const char* kReal = "00:1A:2B:00:00:01";
    constexpr const char* kLater = "00:1A:2B:00:00:02";
    protocol::DeviceTable table;
    table.SetCapacity(4);
    site::Watch watch(2, {}, 4);
    site::RoundKeeper keeper(table);
    NoEvents sink;
    const auto now = site::WallClock::now();

    keeper.Keep(ReportFrom("192.168.1.101", kReal), watch, sink);
    for (int i = 0; i < 6; ++i)
        keeper.Keep(ReportFrom("192.168.1.66", FakeMac(i)), watch, sink);
    watch.EndRound(now, true, sink);
    EXPECT_EQ(table.Size(), 4u);
    EXPECT_EQ(keeper.MakeRoom(watch), 0u) << "nothing has disappeared yet";
    EXPECT_EQ(keeper.Keep(ReportFrom("192.168.1.102", kLater), watch, sink).number, 0) << "full";

    for (int round = 0; round < 2; ++round) {
        keeper.Keep(ReportFrom("192.168.1.101", kReal), watch, sink);
        watch.EndRound(now, true, sink);
    }
    EXPECT_EQ(keeper.MakeRoom(watch), 3u) << "the made-up cameras, gone";
    ASSERT_EQ(table.Size(), 1u);
    ASSERT_EQ(keeper.NumberOf(kReal), 1);
    EXPECT_EQ(protocol::FieldText(table.ByNumber(1)->mac), kReal);
    EXPECT_EQ(table.ArrivalOf(1)->sourceAddress, "192.168.1.101");
    EXPECT_EQ(keeper.NumberOf(FakeMac(0)), 0);

    const site::RoundKeeper::Kept later = keeper.Keep(ReportFrom("192.168.1.102", kLater), watch, sink);
    EXPECT_TRUE(later.added);
    EXPECT_EQ(later.number, 2);
    EXPECT_EQ(keeper.MakeRoom(watch), 0u) << "room enough: nothing forgotten";
    EXPECT_EQ(table.Size(), 2u);
}

} // namespace
