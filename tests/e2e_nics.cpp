// A PC with three network cards (tools/netlab --nics 3): an office card with
// the default route and nothing behind it, and two camera segments on
// different subnets. lynx-cli reaches the cameras behind every card.
#include "NetlabFixture.h"

#include "addressing/Messages.h"

#include <gtest/gtest.h>

namespace {

using namespace lynx::test;

class SeveralCards : public NetlabTest {
protected:
    void SetUpInLan() override
    {
        first = NetlabCameras();
        second = NetlabCameras2();
        ASSERT_GE(first.size(), 2u);
        ASSERT_GE(second.size(), 2u);
    }

    // Searches until the camera with mac answers from ip (a readdressed camera
    // is silent while it restarts).
    static Json::Value SearchUntilAt(const std::string& mac, const std::string& ip)
    {
        Json::Value rows;
        for (int attempt = 0; attempt < 5; ++attempt) {
            rows = CliSearchJson();
            for (const Json::Value& row : rows)
                if (row["mac"].asString() == mac && row["deviceIp"].asString() == ip)
                    return rows;
        }
        return rows;
    }

    Json::Value first, second;
};

TEST_F(SeveralCards, SearchListsTheCamerasBehindEveryCardOnceWithWhereTheyAnswered)
{
    const Json::Value rows = CliSearchJson();
    EXPECT_EQ(rows.size(), first.size() + second.size());
    for (const auto& [segment, card, local] : {std::tuple{&first, "eth1", PcAddress()},
                                               std::tuple{&second, "eth2", PcAddress3()}}) {
        for (const Json::Value& camera : *segment) {
            const std::string ip = camera["ip"].asString();
            ASSERT_EQ(RowsWithIp(rows, ip), 1) << ip;
            for (const Json::Value& row : rows) {
                if (row["deviceIp"].asString() != ip)
                    continue;
                EXPECT_EQ(row["interface"].asString(), card) << ip;
                EXPECT_EQ(row["localAddress"].asString(), local) << ip;
            }
        }
    }
}

TEST_F(SeveralCards, InterfaceOptionLimitsTheSearchToThatCardsSegment)
{
    const Json::Value rows = CliSearchJson({"--interface", "eth1"});
    EXPECT_EQ(rows.size(), first.size());
    for (const Json::Value& row : rows)
        EXPECT_EQ(row["interface"].asString(), "eth1");
    // The office card has nothing behind it.
    EXPECT_EQ(CliSearchJson({"--interface", "eth0"}).size(), 0u);
    const ProcessResult unknown = RunCli({"search", "--seconds", "1", "--interface", "wlan7"});
    EXPECT_EQ(unknown.exitCode, 2);
    EXPECT_NE(unknown.err.find("eth2"), std::string::npos) << "names the cards that exist: " << unknown.err;
}

TEST_F(SeveralCards, SetIpMovesACameraBehindTheSecondCard)
{
    const std::string mac = second[1]["mac"].asString();
    const ProcessResult set = RunCli({"set-ip", "--mac", mac, "--ip", "10.10.0.150", "--mask", "255.255.255.0",
                                      "--gateway", "10.10.0.1"});
    ASSERT_EQ(set.exitCode, 0) << set.err;
    EXPECT_EQ(set.out, std::string(lynx::addressing::msg::kChangeSucceeded) + "\n");
    const Json::Value rows = SearchUntilAt(mac, "10.10.0.150");
    EXPECT_EQ(RowsWithIp(rows, "10.10.0.150"), 1) << rows.toStyledString();
    EXPECT_EQ(RowsWithIp(rows, second[1]["ip"].asString()), 0);
}

TEST_F(SeveralCards, UpgradeReachesACameraOnEachSegmentFromThatCardsAddress)
{
    ASSERT_TRUE(MakeFirmwareZip(dir.File("multi-1.zip"), 100000));
    const std::string a = first[0]["ip"].asString(), b = second[0]["ip"].asString();
    const ProcessResult run =
        RunCli({"upgrade", "--file", dir.File("multi-1.zip"), "--seconds", "2", "--wait", "60", "--ip", a, b}, 90s);
    ASSERT_FALSE(run.timedOut) << run.out << run.err;
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_NE(run.out.find(a + "\t升级成功"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find(b + "\t升级成功"), std::string::npos) << run.out;
    // Each camera was told the PC's address on its own segment.
    EXPECT_NE(SimulatorLog(false).find("file http://" + PcAddress() + ":"), std::string::npos) << SimulatorLog(false);
    EXPECT_NE(SimulatorLog(true).find("file http://" + PcAddress3() + ":"), std::string::npos) << SimulatorLog(true);
}

TEST_F(SeveralCards, WithEveryCardDownTheSearchFailsInsteadOfListingNothing)
{
    ASSERT_TRUE(SetPcInterfacesUp(false));
    const ProcessResult search = RunCli({"search", "--seconds", "1"});
    const ProcessResult set = RunCli({"set-ip", "--mac", first[0]["mac"].asString(), "--ip", "192.168.1.160",
                                      "--mask", "255.255.255.0", "--gateway", "192.168.1.1"});
    ASSERT_TRUE(SetPcInterfacesUp(true));
    EXPECT_EQ(search.exitCode, 1);
    EXPECT_NE(search.err.find("no network interface"), std::string::npos) << search.err;
    EXPECT_EQ(set.exitCode, 1);
    EXPECT_EQ(set.out, std::string(lynx::addressing::msg::kChangeFailed) + "\n");
}

} // namespace
