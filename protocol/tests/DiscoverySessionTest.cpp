// The discovery session without a network: datagrams handed over from many
// threads reach the device table once each, in the owner's thread; a new
// search starts from an empty table. Reports are parsed on the receive
// thread before they are queued: order, counters and a search's forgetting
// are the same.
#include "protocol/DiscoverySession.h"

#include "protocol/JsonMessages.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <poll.h>

#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

using namespace lynx::protocol;
using namespace std::chrono_literals;
using ::testing::ElementsAre;

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

// ---- The parsing stage ------------------------------------------------------

// A preparation that holds every datagram until the test opens it, so that the
// test can act while one is being prepared.
class Gate {
public:
    void Pass()
    {
        std::unique_lock lock(m_mutex);
        ++m_entered;
        m_changed.notify_all();
        m_changed.wait(lock, [this] { return m_open; });
    }
    bool WaitEntered(int count)
    {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, 10s, [&] { return m_entered >= count; });
    }
    void Open()
    {
        std::lock_guard lock(m_mutex);
        m_open = true;
        m_changed.notify_all();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    int m_entered = 0;
    bool m_open = false;
};

// Applies everything the inbox hands over until count datagrams were applied
// or 10 s passed; their bodies in the order applied.
std::vector<std::string> ApplyBodies(DatagramInbox& inbox, size_t count)
{
    std::vector<std::string> bodies;
    const auto deadline = DatagramInbox::Clock::now() + 10s;
    while (bodies.size() < count && inbox.WaitUntil(deadline))
        inbox.Apply([&](Datagram& d) { bodies.push_back(d.body); });
    return bodies;
}

TEST(PreparingInbox, EveryDatagramIsPreparedBeforeTheOwnerSeesItInArrivalOrder)
{
    DatagramInbox inbox(DatagramInbox::Wake::Condition, [](Datagram& d) { d.body += "+"; });
    constexpr int kBurst = 5000;
    std::thread sender([&] {
        for (int i = 0; i < kBurst; ++i)
            inbox.Post(Datagram{i % 7 ? kReportPort : kUpdatePort, {}, std::to_string(i), {}, {}});
    });
    const std::vector<std::string> applied = ApplyBodies(inbox, kBurst);
    sender.join();
    ASSERT_EQ(applied.size(), static_cast<size_t>(kBurst));
    for (int i = 0; i < kBurst; ++i)
        ASSERT_EQ(applied[static_cast<size_t>(i)], std::to_string(i) + "+");
    EXPECT_FALSE(inbox.Apply([&](Datagram&) { FAIL() << "nothing is left"; }));
}

// A new search's drop must reach a datagram wherever it waits: being prepared
// on a receive thread, or prepared and queued.
TEST(PreparingInbox, ADropForgetsWhatIsBeingPreparedAtThatMoment)
{
    Gate gate;
    DatagramInbox inbox(DatagramInbox::Wake::Condition, [&](Datagram&) { gate.Pass(); });
    std::thread receiver([&] { inbox.Post(Datagram{kReportPort, {}, "old report", {}, {}}); });
    ASSERT_TRUE(gate.WaitEntered(1)) << "the old report is being prepared";
    inbox.Drop([](const Datagram& d) { return d.port == kReportPort; });
    gate.Open();
    receiver.join();
    inbox.Post(Datagram{kUpdatePort, {}, "reply", {}, {}});
    inbox.Post(Datagram{kReportPort, {}, "new report", {}, {}});
    EXPECT_THAT(ApplyBodies(inbox, 2), ElementsAre("reply", "new report"));
    EXPECT_FALSE(inbox.WaitUntil(DatagramInbox::Clock::now() + 50ms)) << "nothing else comes (50 ms)";
}

TEST(PreparingInbox, ADropMadeWhileAnotherIsPreparedKeepsWhatItDoesNotName)
{
    Gate gate;
    DatagramInbox inbox(DatagramInbox::Wake::Condition, [&](Datagram&) { gate.Pass(); });
    std::thread receiver([&] { inbox.Post(Datagram{kUpdatePort, {}, "reply", {}, {}}); });
    ASSERT_TRUE(gate.WaitEntered(1));
    inbox.Drop([](const Datagram& d) { return d.port == kReportPort; });
    gate.Open();
    receiver.join();
    EXPECT_THAT(ApplyBodies(inbox, 1), ElementsAre("reply"));
}

TEST(PreparingInbox, ADropForgetsWhatWasPreparedButNotApplied)
{
    DatagramInbox inbox(DatagramInbox::Wake::Condition, [](Datagram&) {});
    inbox.Post(Datagram{kReportPort, {}, "old report", {}, {}});
    inbox.Post(Datagram{kUpdatePort, {}, "reply", {}, {}});
    ASSERT_TRUE(inbox.WaitUntil(DatagramInbox::Clock::now() + 10s));
    inbox.Drop([](const Datagram& d) { return d.port == kReportPort; });
    inbox.Post(Datagram{kReportPort, {}, "new report", {}, {}});
    EXPECT_THAT(ApplyBodies(inbox, 2), ElementsAre("reply", "new report"));
}

TEST(PreparingInbox, TheWakeFdSignalsOnlyOncePrepared)
{
    Gate gate;
    DatagramInbox inbox(DatagramInbox::Wake::EventFd, [&](Datagram&) { gate.Pass(); });
    std::thread receiver([&] { inbox.Post(Datagram{kReportPort, {}, "report", {}, {}}); });
    ASSERT_TRUE(gate.WaitEntered(1));
    pollfd fd{inbox.WakeFd(), POLLIN, 0};
    EXPECT_EQ(::poll(&fd, 1, 50), 0) << "nothing to take while it is being prepared (50 ms)";
    gate.Open();
    receiver.join();
    ASSERT_EQ(::poll(&fd, 1, 10000), 1);
    inbox.ClearWake();
    EXPECT_THAT(ApplyBodies(inbox, 1), ElementsAre("report"));
}

// ---- Reports parsed ahead of the table --------------------------------------

TEST(DiscoveryParsing, ASearchForgetsEveryReportOfThePreviousOneWhereverItWaits)
{
    DiscoverySession session;
    // Each round searches after a burst of another size, with some of it
    // applied (odd rounds) and the rest parsed and waiting. (A report being
    // parsed at the moment of the search: PreparingInbox above.)
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        for (int i = 0; i < 50 * round + 1; ++i)
            Deliver(session, ReportHeader('$'), Report(i));
        ASSERT_TRUE(session.Inbox().WaitUntil(DiscoverySession::Clock::now() + 10s));
        if (round % 2)
            session.Inbox().Apply([&](Datagram& d) { session.AddReport(d, kBoth); }, std::chrono::nanoseconds(0));
        session.Search();  // no server: nothing is sent
        for (int i = 0; i < 3; ++i)
            Deliver(session, ReportHeader('$'), Report(5000 + i));
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (session.Table().Size() < 3 && std::chrono::steady_clock::now() < deadline)
            session.CollectFor(5ms, kBoth);
        session.CollectFor(20ms, kBoth);  // anything of the old search would be applied by now
        const std::vector<DeviceRow> rows = session.Table().Rows();
        ASSERT_EQ(rows.size(), 3u);
        for (int i = 0; i < 3; ++i) {
            DeviceRecord expected{};
            ASSERT_TRUE(ParseReportBody(Report(5000 + i), expected));
            EXPECT_EQ(rows[static_cast<size_t>(i)].number, i + 1);
            EXPECT_STREQ(rows[static_cast<size_t>(i)].record.deviceIp, expected.deviceIp);
        }
    }
}

TEST(DiscoveryParsing, ReportsAndRepliesAreAppliedInTheOrderTheyArrived)
{
    DiscoverySession session;
    constexpr int kReports = 900;
    std::thread receiver([&] {
        for (int i = 0; i < kReports; ++i) {
            Deliver(session, ReportHeader('$'), Report(i));
            if (i % 3 == 2)
                Deliver(session, ReportHeader('$'), "reply after " + std::to_string(i + 1), kUpdatePort);
        }
    });
    // Each reply finds every report that came before it in the table, and none after.
    std::vector<std::string> replies;
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (replies.size() < kReports / 3 && std::chrono::steady_clock::now() < deadline)
        session.CollectFor(5ms, DuplicateFilter{false, false}, [&](Datagram& d) {
            replies.push_back(d.body);
            EXPECT_EQ(d.body, "reply after " + std::to_string(session.Table().Size()));
        });
    receiver.join();
    session.CollectFor(20ms, DuplicateFilter{false, false});
    ASSERT_EQ(replies.size(), static_cast<size_t>(kReports / 3));
    for (size_t i = 0; i < replies.size(); ++i)
        ASSERT_EQ(replies[i], "reply after " + std::to_string(3 * i + 3));
    const std::vector<DeviceRow> rows = session.Table().Rows();
    ASSERT_EQ(rows.size(), static_cast<size_t>(kReports));
    for (int i = 0; i < kReports; ++i) {
        DeviceRecord expected{};
        ASSERT_TRUE(ParseReportBody(Report(i), expected));
        ASSERT_STREQ(rows[static_cast<size_t>(i)].record.mac, expected.mac) << "row " << i;
    }
}

TEST(DiscoveryParsing, TheCountersCountEveryReportAsTheTableTreatsIt)
{
    DiscoverySession session;
    session.Table().SetCapacity(3);
    for (int i = 0; i < 4; ++i)
        Deliver(session, ReportHeader('$'), Report(i));              // the fourth finds the table full
    Deliver(session, ReportHeader('$'), Report(0));                  // a duplicate
    Deliver(session, ReportHeader('$'), "not json");                 // does not parse
    Deliver(session, ReportHeader('$'), R"({"data":{"deviceIp":"10.0.0.9"}})");  // no MAC
    Deliver(session, ReportHeader('#'), Report(9));                  // not a report
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (session.ReportsApplied() < 7 && std::chrono::steady_clock::now() < deadline)
        session.CollectFor(5ms, kBoth);
    EXPECT_EQ(session.Delivered(), 8u);
    EXPECT_EQ(session.ReportsApplied(), 7u);
    EXPECT_EQ(session.Table().Size(), 3u);
    EXPECT_EQ(session.Table().Dropped(), 1u) << "only the report beyond the capacity is counted as dropped";
    EXPECT_EQ(session.Inbox().Dropped(), 0u);
}

} // namespace
