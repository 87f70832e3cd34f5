// The readdress flow of the site engine: changes sent by MAC, each confirmed
// by the camera's answer from its new address.
#include "SessionInLan.h"
#include "site/ReaddressFlow.h"
#include "site/SearchFlow.h"

#include <gtest/gtest.h>

namespace {

using namespace lynx;
using namespace lynx::test;

using SiteReaddress = SessionInLan;

TEST_F(SiteReaddress, ConfirmsTheCameraThatAnswersAtItsNewAddressAndNotTheMacNobodyHas)
{
    const Json::Value cameras = NetlabCameras();
    ASSERT_GE(cameras.size(), 2u);
    const std::string mac = cameras[1]["mac"].asString();
    site::ReaddressRequest request;
    request.changes = {{"02:99:00:00:00:09", "192.168.1.171", "255.255.255.0", "192.168.1.1"},
                       {mac, "192.168.1.170", "255.255.255.0", "192.168.1.1"}};
    request.confirmSeconds = 20;
    std::vector<std::pair<size_t, bool>> sent;
    std::vector<size_t> answered;
    std::vector<site::ReaddressProgress> progress;
    site::ReaddressEvents events;
    events.sent = [&](size_t i, bool ok) { sent.emplace_back(i, ok); };
    events.answered = [&](size_t i) { answered.push_back(i); };
    events.progress = [&](const site::ReaddressProgress& p) { progress.push_back(p); };
    const auto start = site::Clock::now();
    const site::ReaddressResult result = site::Readdress(session, request, events);
    ASSERT_TRUE(result.ok());
    ASSERT_EQ(result.cameras.size(), 2u);
    EXPECT_TRUE(result.cameras[0].sent);
    EXPECT_FALSE(result.cameras[0].confirmed);
    EXPECT_TRUE(result.cameras[1].sent);
    EXPECT_TRUE(result.cameras[1].confirmed);
    EXPECT_EQ(sent, (std::vector<std::pair<size_t, bool>>{{0, true}, {1, true}}));
    EXPECT_EQ(answered, std::vector<size_t>{1});
    // The MAC nobody has keeps it waiting to the end.
    EXPECT_GE(site::Clock::now() - start, std::chrono::seconds(20));
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.front().answered, 0u);
    EXPECT_EQ(progress.front().awaited, 2u);
    EXPECT_EQ(progress.back().answered, 1u);
    EXPECT_LE(progress.size(), 20u * 4 + 8);

    // Where it answers now, and the others as they were.
    site::SearchRequest search;
    search.seconds = 1;
    const site::SearchResult after = site::Search(session, search);
    int atNew = 0;
    for (const protocol::DeviceRow& row : after.rows)
        atNew += std::string(row.record.deviceIp) == "192.168.1.170" ? 1 : 0;
    EXPECT_EQ(atNew, 1);
    EXPECT_EQ(after.rows.size(), cameras.size());
}

TEST_F(SiteReaddress, SendOnlyWaitsForNothingAndAChangeOnNoCardIsNotSent)
{
    site::ReaddressRequest request;
    request.changes = {{"02:99:00:00:00:0a", "192.168.1.172", "255.255.255.0", "192.168.1.1"}};
    request.confirmSeconds = 0;
    const auto start = site::Clock::now();
    const site::ReaddressResult sentOnly = site::Readdress(session, request);
    EXPECT_LT(site::Clock::now() - start, std::chrono::seconds(1));
    ASSERT_EQ(sentOnly.cameras.size(), 1u);
    EXPECT_TRUE(sentOnly.cameras[0].sent);
    EXPECT_FALSE(sentOnly.cameras[0].confirmed);

    request.interfaces = {"no-such-card"};
    request.confirmSeconds = 5;
    const site::ReaddressResult none = site::Readdress(session, request);
    ASSERT_TRUE(none.ok());
    EXPECT_FALSE(none.cameras[0].sent);
    EXPECT_FALSE(none.cameras[0].confirmed);
    EXPECT_LT(site::Clock::now() - start, std::chrono::seconds(2)) << "nothing sent, nothing awaited";
}

} // namespace
