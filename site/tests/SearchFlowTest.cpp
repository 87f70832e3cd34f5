// One search of the site engine: what it lists, how it tells its progress, and
// the failures it reports instead of an empty list.
#include "SessionInLan.h"
#include "site/SearchFlow.h"

#include "platform/Translation.h"
#include "protocol/Messages.h"

#include <gtest/gtest.h>

#include <set>

namespace {

using namespace lynx;
using namespace lynx::test;

using SiteSearch = SessionInLan;

TEST(SiteFailure, EachFailureHasOneTextOfItsOwn)
{
    using site::Failure;
    std::set<std::string> texts;
    for (Failure f : {Failure::NoCard, Failure::SendFailed, Failure::PortsTaken, Failure::NoReportPort,
                      Failure::NoFileServer, Failure::FirmwareUnreadable, Failure::FirmwareNotZip}) {
        EXPECT_FALSE(site::FailureText(f).empty()) << static_cast<int>(f);
        texts.insert(site::FailureText(f));
    }
    EXPECT_EQ(texts.size(), 7u);
    EXPECT_EQ(site::FailureText(Failure::None), "");
    // The window's text for a port held by another program.
    EXPECT_EQ(site::FailureText(Failure::PortsTaken), platform::TrUtf8(protocol::msg::kPortsTaken));
}

TEST_F(SiteSearch, ListsEveryCameraAndTellsItsProgressAFewTimesASecond)
{
    std::vector<site::SearchProgress> events;
    site::SearchRequest request;
    request.seconds = 2;
    const auto started = site::Clock::now();
    const site::SearchResult result =
        site::Search(session, request, [&](const site::SearchProgress& p) { events.push_back(p); });
    ASSERT_TRUE(result.ok()) << site::FailureText(result.failure);
    EXPECT_EQ(result.rows.size(), NetlabCameras().size());
    EXPECT_GE(result.ended, result.deadline);
    EXPECT_LT(result.ended - started, std::chrono::milliseconds(2600));

    ASSERT_GE(events.size(), 4u);
    EXPECT_LE(events.size(), 12u);
    EXPECT_EQ(events.front().found, 0u);
    EXPECT_EQ(events.front().secondsLeft, 2);
    EXPECT_EQ(events.back().found, NetlabCameras().size());
    for (size_t i = 1; i < events.size(); ++i) {
        EXPECT_GE(events[i].found, events[i - 1].found);
        EXPECT_LE(events[i].secondsLeft, events[i - 1].secondsLeft);
    }
}

TEST_F(SiteSearch, KeepsTheTableOrStartsANewListAndHoldsNoMoreThanItsCapacity)
{
    const size_t cameras = NetlabCameras().size();
    site::SearchRequest request;
    request.seconds = 1;
    ASSERT_EQ(site::Search(session, request).rows.size(), cameras);

    // Kept, without the duplicate filter: every camera twice.
    request.keepTable = true;
    request.filter = {false, false};
    EXPECT_EQ(site::Search(session, request).rows.size(), 2 * cameras);
    // A new list.
    request.keepTable = false;
    EXPECT_EQ(site::Search(session, request).rows.size(), cameras);

    request.capacity = 3;
    const site::SearchResult full = site::Search(session, request);
    EXPECT_TRUE(full.ok());
    EXPECT_EQ(full.rows.size(), 3u);
    EXPECT_EQ(full.dropped, cameras - 3);
}

TEST_F(SiteSearch, ARequestThatGoesOutOnNoCardIsAFailureNotAnEmptyList)
{
    site::SearchRequest request;
    request.seconds = 1;
    request.interfaces = {"no-such-card"};
    const site::SearchResult result = site::Search(session, request);
    EXPECT_EQ(result.failure, site::Failure::NoCard);
    EXPECT_TRUE(result.rows.empty());
    EXPECT_NE(site::FailureText(result.failure).find("no network interface"), std::string::npos);

    // Every card down: the same.
    ASSERT_TRUE(SetPcInterfacesUp(false));
    request.interfaces.clear();
    const site::SearchResult down = site::Search(session, request);
    ASSERT_TRUE(SetPcInterfacesUp(true));
    EXPECT_EQ(down.failure, site::Failure::NoCard);
}

TEST_F(SiteSearch, SearchUntilEndsOnceSettledOrAtTheDeadline)
{
    site::SearchRequest request;
    request.seconds = 1;
    ASSERT_TRUE(site::Search(session, request).ok());
    const size_t cameras = NetlabCameras().size();
    const auto start = site::Clock::now();
    EXPECT_TRUE(site::SearchUntil(session, start + std::chrono::seconds(20),
                                  [&] { return session.Table().Size() == cameras; }));
    EXPECT_LT(site::Clock::now() - start, std::chrono::seconds(3));

    int ticks = 0;
    const auto again = site::Clock::now();
    EXPECT_TRUE(site::SearchUntil(session, again + std::chrono::milliseconds(1500), [] { return false; }, {},
                                  [&] { ++ticks; }));
    EXPECT_GE(site::Clock::now() - again, std::chrono::milliseconds(1500));
    EXPECT_LT(site::Clock::now() - again, std::chrono::milliseconds(2500));
    EXPECT_GE(ticks, 4);
    EXPECT_LE(ticks, 10);
}

} // namespace
