// Two network cards of the PC on one camera segment (tools/netlab --twin):
// every camera hears the search twice and answers on both cards. The
// duplicate boxes decide, as for a camera that answers twice.
#include "NetlabFixture.h"

#include <gtest/gtest.h>

#include <set>

namespace {

using namespace lynx::test;

using TwinCards = NetlabTest;

TEST_F(TwinCards, EachCameraIsListedOnceWithTheBoxesAndTwiceWithout)
{
    const Json::Value cameras = NetlabCameras();
    ASSERT_GE(cameras.size(), 1u);
    const Json::Value filtered = CliSearchJson();
    const Json::Value everything = CliSearchJson({"--no-ip-filter", "--no-mac-filter"});
    EXPECT_EQ(filtered.size(), cameras.size());
    EXPECT_EQ(everything.size(), 2 * cameras.size());
    for (const Json::Value& camera : cameras) {
        const std::string ip = camera["ip"].asString();
        EXPECT_EQ(RowsWithIp(filtered, ip), 1) << ip;
        EXPECT_EQ(RowsWithIp(everything, ip), 2) << ip;
        std::set<std::string> cards;
        for (const Json::Value& row : everything)
            if (row["deviceIp"].asString() == ip)
                cards.insert(row["interface"].asString());
        EXPECT_EQ(cards, (std::set<std::string>{"eth0", "eth1"})) << ip;
    }
}

} // namespace
