// The confirmed readdress as steps, below any front end: a fake clock, scripted
// sends, searches and reports, and the events the steps tell.
#include "site/ReaddressFlow.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <string>
#include <vector>

namespace {

using lynx::site::AddressChange;
using lynx::site::ReaddressSteps;
using namespace std::chrono_literals;
using Kind = ReaddressSteps::Event::Kind;
using Outcome = ReaddressSteps::Outcome;

DeviceRecord Report(const std::string& mac, const std::string& ip)
{
    DeviceRecord record{};
    std::strncpy(record.mac, mac.c_str(), sizeof record.mac - 1);
    std::strncpy(record.deviceIp, ip.c_str(), sizeof record.deviceIp - 1);
    return record;
}

// One moment of a script: at ms from the start, a report (mac and ip) or,
// with an empty mac, a tick.
struct Step {
    int ms;
    std::string mac;
    std::string ip;
};

struct Case {
    const char* name;
    std::vector<AddressChange> changes;  // all added at 0
    std::vector<bool> sendsOk;           // per change
    bool searchesGoOut;
    int confirmSeconds;
    std::vector<Step> script;
    std::string events;                  // "sent0 answered0 ended ..."
    std::vector<Outcome> outcomes;
    int searches;
};

const AddressChange kA{"00:1A:2B:00:00:01", "192.168.1.51", "255.255.255.0", "192.168.1.1"};
const AddressChange kB{"00:1a:2b:00:00:02", "192.168.1.52", "255.255.255.0", "192.168.1.1"};

const Case kCases[] = {
    {"the camera answers at its new address after a round",
     {kA}, {true}, true, 60,
     {{0, "", ""}, {1000, kA.mac, "192.168.1.101"}, {3000, "", ""}, {3500, kA.mac, kA.ip}},
     "sent0 answered0 ended", {Outcome::Confirmed}, 2},
    {"a MAC written otherwise is the same camera",
     {kB}, {true}, true, 60,
     {{0, "", ""}, {500, "00-1A-2B-00-00-02", kB.ip}},
     "sent0 answered0 ended", {Outcome::Confirmed}, 1},
    {"a camera heard only at its old address is away once its time is up",
     {kA}, {true}, true, 10,
     {{0, "", ""}, {2000, kA.mac, "192.168.1.101"}, {9999, "", ""}, {10000, "", ""}, {12000, kA.mac, kA.ip}},
     "sent0 away0 ended", {Outcome::Away}, 2},
    {"another camera at the new address confirms nothing",
     {kA}, {true}, true, 5,
     {{0, "", ""}, {1000, "00:1A:2B:00:00:09", kA.ip}, {5000, "", ""}},
     "sent0 away0 ended", {Outcome::Away}, 1},
    {"a change that did not go out is not awaited",
     {kA, kB}, {false, true}, true, 60,
     {{0, "", ""}, {100, kA.mac, kA.ip}, {200, kB.mac, kB.ip}},
     "sent0 sent1 answered1 ended", {Outcome::SendFailed, Outcome::Confirmed}, 1},
    {"a search on no card ends the waiting",
     {kA}, {true}, false, 60,
     {{0, "", ""}},
     "sent0 away0 ended", {Outcome::Away}, 1},
    {"the end comes once, after the last camera",
     {kA, kB}, {true, true}, true, 8,
     {{0, "", ""}, {1000, kB.mac, kB.ip}, {8000, "", ""}, {9000, kA.mac, kA.ip}},
     "sent0 sent1 answered1 away0 ended", {Outcome::Away, Outcome::Confirmed}, 1},
};

class ReaddressStepsTable : public testing::TestWithParam<Case> {};

TEST_P(ReaddressStepsTable, TellsEachCamerasOutcomeInOrder)
{
    const Case& c = GetParam();
    const auto start = ReaddressSteps::Clock::time_point{} + 1h;
    size_t sends = 0;
    int searches = 0;
    ReaddressSteps steps(
        [&](const std::string&, const std::string&, const std::string&, const std::string&) { return c.sendsOk[sends++]; },
        [&] {
            ++searches;
            return c.searchesGoOut;
        },
        c.confirmSeconds);
    std::string events;
    steps.SetSink([&](const ReaddressSteps::Event& e) {
        static const char* names[] = {"sent", "answered", "away", "ended"};
        events += std::string(events.empty() ? "" : " ") + names[static_cast<int>(e.kind)];
        if (e.kind != Kind::Ended)
            events += std::to_string(e.index);
    });
    for (const AddressChange& change : c.changes)
        steps.Add(change, start);
    for (const Step& step : c.script) {
        const auto now = start + std::chrono::milliseconds(step.ms);
        if (step.mac.empty())
            steps.Tick(now);
        else
            steps.OnReport(Report(step.mac, step.ip));
    }
    EXPECT_EQ(events, c.events);
    ASSERT_EQ(steps.Size(), c.outcomes.size());
    for (size_t i = 0; i < c.outcomes.size(); ++i)
        EXPECT_EQ(steps.OutcomeOf(i), c.outcomes[i]) << i;
    EXPECT_EQ(searches, c.searches);
    EXPECT_FALSE(steps.Waiting());
    EXPECT_FALSE(steps.NextDeadline());
}

INSTANTIATE_TEST_SUITE_P(Script, ReaddressStepsTable, testing::ValuesIn(kCases), [](const auto& info) {
    std::string name;
    for (const char* p = info.param.name; *p; ++p)
        name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
    return name;
});

TEST(ReaddressSteps, DeadlinesFollowTheRoundsAndTheConfirmationTime)
{
    const auto start = ReaddressSteps::Clock::time_point{} + 1h;
    ReaddressSteps steps([](auto&&...) { return true; }, [] { return true; }, 5);
    EXPECT_FALSE(steps.NextDeadline()) << "nothing awaited";
    steps.Add(kA, start);
    EXPECT_EQ(steps.NextDeadline(), start) << "the first search at once";
    steps.Tick(start);
    EXPECT_EQ(steps.NextDeadline(), start + ReaddressSteps::kRound);
    steps.Tick(start + ReaddressSteps::kRound);
    EXPECT_EQ(steps.NextDeadline(), start + 5s) << "the time up comes before the next round";
    const lynx::site::ReaddressProgress progress = steps.Progress(start + 4500ms);
    EXPECT_EQ(progress.awaited, 1u);
    EXPECT_EQ(progress.answered, 0u);
    EXPECT_EQ(progress.secondsLeft, 1);
    // A report of another camera is not the flow's; one of its camera is.
    EXPECT_FALSE(steps.OnReport(Report("00:1A:2B:00:00:09", "192.168.1.9")));
    EXPECT_EQ(steps.OnReport(Report(kA.mac, "192.168.1.101")), 0u);
    EXPECT_TRUE(steps.Waiting());
}

TEST(ReaddressSteps, SendOnlyAwaitsNothing)
{
    const auto start = ReaddressSteps::Clock::time_point{} + 1h;
    int searches = 0;
    ReaddressSteps steps([](auto&&...) { return true; }, [&] { return ++searches > 0; }, 0);
    bool ended = false;
    steps.SetSink([&](const ReaddressSteps::Event& e) { ended = ended || e.kind == Kind::Ended; });
    steps.Add(kA, start);
    steps.Tick(start);
    EXPECT_EQ(steps.OutcomeOf(0), Outcome::Sent) << "sent, and left to the camera";
    EXPECT_FALSE(steps.Waiting());
    EXPECT_EQ(searches, 0);
    EXPECT_FALSE(ended);
}

} // namespace
