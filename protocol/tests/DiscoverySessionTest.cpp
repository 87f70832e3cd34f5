// The discovery session without a network: datagrams handed over from many
// threads reach the device table once each, in the owner's thread; a new
// search starts from an empty table.
#include "protocol/DiscoverySession.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

using namespace lynx::protocol;
using namespace std::chrono_literals;

constexpr DuplicateFilter kBoth{true, true};

void Deliver(DiscoverySession& session, const PacketHeader& header, const std::string& body,
             uint16_t port = kReportPort)
{
    session.Deliver(port, header, body.c_str(), static_cast<uint32_t>(body.size()));
}

PacketHeader ReportHeader(uint8_t marker, uint16_t command = 0x701)
{
    PacketHeader h{};
    h.magic = TARN_MAGIC;
    h.command = command;
    h.bodyMarker = marker;
    return h;
}

std::string Report(int n)
{
    return R"({"data":{"deviceIp":"10.0.)" + std::to_string(n / 250) + "." + std::to_string(n % 250 + 1) +
           R"(","machineInfo":{"mac":"02:00:00:00:)" + std::to_string(n / 250) + ":" + std::to_string(n % 250) +
           R"(","name":"相机"}}})";
}

TEST(DiscoveryHandOver, ReportsFromManyThreadsAllReachTheTableOnce)
{
    DiscoverySession session;
    constexpr int kThreads = 4, kEach = 200;
    std::vector<std::thread> senders;
    for (int t = 0; t < kThreads; ++t)
        senders.emplace_back([&session, t] {
            for (int i = 0; i < kEach; ++i) {
                std::string body = Report(t * kEach + i);
                Deliver(session, ReportHeader('$'), body);
                // The same report again: the filters drop it.
                Deliver(session, ReportHeader('$'), body);
            }
        });
    // Collect while the senders still run, as a search does.
    auto deadline = std::chrono::steady_clock::now() + 10s;
    while (session.Table().Rows().size() < kThreads * kEach && std::chrono::steady_clock::now() < deadline)
        session.CollectFor(20ms, kBoth);
    for (auto& s : senders)
        s.join();
    session.CollectFor(50ms, kBoth);
    auto rows = session.Table().Rows();
    ASSERT_EQ(rows.size(), static_cast<size_t>(kThreads * kEach));
    for (size_t i = 0; i < rows.size(); ++i)
        EXPECT_EQ(rows[i].number, static_cast<int>(i) + 1);
    EXPECT_TRUE(session.LastRowAdded().has_value());
}

TEST(DiscoveryHandOver, OnlyDatagramsMarkedAsCarryingABodyAreReports)
{
    DiscoverySession session;
    std::string body = Report(1);
    Deliver(session, ReportHeader('#'), body);              // our own search, heard back
    Deliver(session, ReportHeader('$', 0x9999), Report(2));  // any command with '$' is a report
    Deliver(session, ReportHeader('$'), "not json");
    Deliver(session, ReportHeader('$'), R"({"data":{"deviceIp":"10.0.0.9"}})");  // no MAC
    session.CollectFor(50ms, kBoth);
    auto rows = session.Table().Rows();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_STREQ(rows[0].record.deviceIp, "10.0.0.3");
}

TEST(DiscoveryHandOver, FiltersFollowTheOptions)
{
    DiscoverySession unfiltered;
    std::string body = Report(1);
    Deliver(unfiltered, ReportHeader('$'), body);
    Deliver(unfiltered, ReportHeader('$'), body);
    unfiltered.CollectFor(30ms, DuplicateFilter{false, false});
    EXPECT_EQ(unfiltered.Table().Rows().size(), 2u);
}

TEST(DiscoveryHandOver, CollectingWithNothingToCollectReturnsAtTheDeadline)
{
    DiscoverySession session;
    auto start = std::chrono::steady_clock::now();
    session.CollectFor(100ms, kBoth);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 100ms);
    EXPECT_TRUE(session.Table().Rows().empty());
    EXPECT_FALSE(session.LastRowAdded().has_value());
}

TEST(DiscoveryHandOver, ASearchForgetsTheReportsNotAppliedAndEmptiesTheTable)
{
    DiscoverySession session;
    Deliver(session, ReportHeader('$'), Report(1));
    session.CollectFor(20ms, kBoth);
    Deliver(session, ReportHeader('$'), Report(2));  // received, not applied yet
    Deliver(session, ReportHeader('$'), "{}", kUpdatePort);
    session.Search();  // no server: the request is not sent, the rest holds
    std::vector<Datagram> others;
    session.CollectFor(30ms, kBoth, [&](Datagram& d) { others.push_back(d); });
    EXPECT_TRUE(session.Table().Rows().empty());
    ASSERT_EQ(others.size(), 1u) << "what is not a report is kept";
    EXPECT_EQ(others[0].port, kUpdatePort);
}

TEST(Inbox, ABurstThatOutrunsASliceIsAppliedCompletelyAndInOrder)
{
    DatagramInbox inbox;
    constexpr int kBurst = 5000;
    std::thread sender([&] {
        for (int i = 0; i < kBurst; ++i)
            inbox.Post(Datagram{kReportPort, {}, std::to_string(i), {}, {}});
    });
    std::vector<int> applied;
    int slices = 0;
    // Slices of no time at all: one datagram each, until none waits.
    while (static_cast<int>(applied.size()) < kBurst) {
        inbox.WaitUntil(DatagramInbox::Clock::now() + 5s);
        inbox.Apply([&](Datagram& d) { applied.push_back(std::stoi(d.body)); }, std::chrono::nanoseconds(0));
        ASSERT_LT(++slices, 10 * kBurst) << "stuck at " << applied.size();
    }
    sender.join();
    EXPECT_FALSE(inbox.Apply([&](Datagram&) { FAIL() << "nothing is left"; }));
    for (int i = 0; i < kBurst; ++i)
        ASSERT_EQ(applied[static_cast<size_t>(i)], i);
    EXPECT_GT(slices, 1);
}

TEST(Inbox, AFloodBeyondItsBoundIsDroppedNotHeld)
{
    DatagramInbox inbox;
    const std::string big(1024 * 1024, 'x');
    for (int i = 0; i < 100; ++i)
        inbox.Post(Datagram{kReportPort, {}, big, {}, {}});
    EXPECT_GE(inbox.Dropped(), 100u - DatagramInbox::kMaxQueuedBytes / big.size());
    size_t held = 0;
    inbox.Apply([&](Datagram&) { ++held; });
    EXPECT_LE(held * big.size(), DatagramInbox::kMaxQueuedBytes);
    EXPECT_GT(held, 0u);
}

} // namespace
