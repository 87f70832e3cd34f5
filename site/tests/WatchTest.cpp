// Watching a site round by round: which change each sequence of rounds
// reports, each exactly once, the summary at the end, an event's JSON line,
// and the state that stays bounded however long the watch runs.
#include "site/Watch.h"

#include <gtest/gtest.h>
#include <json/reader.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

using lynx::site::ExpectedCamera;
using lynx::site::HeardCamera;
using lynx::site::Watch;
using lynx::site::WatchEvent;
using lynx::site::WatchEventKind;
using lynx::site::WatchEventName;
using lynx::site::WallClock;

namespace {

constexpr const char* kA = "00:1A:2B:00:00:01";
constexpr const char* kB = "00:1A:2B:00:00:02";

HeardCamera Cam(const char* mac, const std::string& ip = "192.168.1.101", const std::string& version = "V1.0.0",
                const std::string& mask = "255.255.255.0")
{
    return {mac, ip, mask, "192.168.1.1", version};
}

// Each event as "round kind mac ip", with the value before where it changed.
class Recorder : public lynx::site::WatchSink {
public:
    void Event(const WatchEvent& event) override
    {
        std::string line = std::to_string(round) + " " + WatchEventName(event.kind) + " " + event.mac + " " + event.ip;
        if (event.kind == WatchEventKind::Address)
            line += " was " + event.previousIp + "/" + event.previousMask;
        if (event.kind == WatchEventKind::Version)
            line += " was " + event.previousVersion;
        if (!event.label.empty())
            line += " [" + event.label + "]";
        lines.push_back(line);
        events.push_back(event);
    }
    int round = 0;
    std::vector<std::string> lines;
    std::vector<WatchEvent> events;
};

struct Round {
    std::vector<HeardCamera> heard;
    bool complete = true;
};

struct Scenario {
    const char* rule;
    int missed;
    std::vector<ExpectedCamera> expected;
    std::vector<Round> rounds;
    std::vector<std::string> events;  // as Recorder writes them
};

std::vector<std::string> EventsOf(const Scenario& scenario)
{
    Watch watch(scenario.missed, scenario.expected);
    Recorder recorder;
    const auto start = WallClock::now();
    for (const Round& round : scenario.rounds) {
        watch.Round(start + std::chrono::seconds(recorder.round), round.heard, round.complete, recorder);
        ++recorder.round;
    }
    return recorder.lines;
}

const Round kNone{};

TEST(WatchEvents, EachChangeIsReportedOnceInTheRoundItIsKnown)
{
    const std::vector<Scenario> scenarios = {
        {"a camera heard round after round appears once", 3, {},
         {{{Cam(kA)}}, {{Cam(kA)}}, {{Cam(kA)}}},
         {"0 appeared 00:1A:2B:00:00:01 192.168.1.101"}},
        {"gone after exactly N missed rounds, not N-1, and said once", 3, {},
         {{{Cam(kA)}}, kNone, kNone, kNone, kNone, kNone},
         {"0 appeared 00:1A:2B:00:00:01 192.168.1.101", "3 disappeared 00:1A:2B:00:00:01 192.168.1.101"}},
        {"one missed round is enough with --missed 1", 1, {},
         {{{Cam(kA)}}, kNone, kNone},
         {"0 appeared 00:1A:2B:00:00:01 192.168.1.101", "1 disappeared 00:1A:2B:00:00:01 192.168.1.101"}},
        {"fewer than N missed rounds and back: nothing", 3, {},
         {{{Cam(kA)}}, kNone, kNone, {{Cam(kA)}}, kNone, kNone, {{Cam(kA)}}},
         {"0 appeared 00:1A:2B:00:00:01 192.168.1.101"}},
        {"heard again after it disappeared: returned, once", 2, {},
         {{{Cam(kA)}}, kNone, kNone, {{Cam(kA)}}, {{Cam(kA)}}},
         {"0 appeared 00:1A:2B:00:00:01 192.168.1.101", "2 disappeared 00:1A:2B:00:00:01 192.168.1.101",
          "3 returned 00:1A:2B:00:00:01 192.168.1.101"}},
        {"gone and back twice: each time said", 1, {},
         {{{Cam(kA)}}, kNone, {{Cam(kA)}}, kNone, {{Cam(kA)}}},
         {"0 appeared 00:1A:2B:00:00:01 192.168.1.101", "1 disappeared 00:1A:2B:00:00:01 192.168.1.101",
          "2 returned 00:1A:2B:00:00:01 192.168.1.101", "3 disappeared 00:1A:2B:00:00:01 192.168.1.101",
          "4 returned 00:1A:2B:00:00:01 192.168.1.101"}},
        {"a readdressed camera is one address change, not a camera gone and a new one", 2, {},
         {{{Cam(kA, "192.168.1.101"), Cam(kB, "192.168.1.102")}},
          {{Cam(kA, "192.168.1.50"), Cam(kB, "192.168.1.102")}},
          {{Cam(kA, "192.168.1.50"), Cam(kB, "192.168.1.102")}},
          {{Cam(kA, "192.168.1.50"), Cam(kB, "192.168.1.102")}}},
         {"0 appeared 00:1A:2B:00:00:01 192.168.1.101", "0 appeared 00:1A:2B:00:00:02 192.168.1.102",
          "1 address 00:1A:2B:00:00:01 192.168.1.50 was 192.168.1.101/255.255.255.0"}},
        {"a new mask alone is an address change", 3, {},
         {{{Cam(kA)}}, {{Cam(kA, "192.168.1.101", "V1.0.0", "255.255.0.0")}}},
         {"0 appeared 00:1A:2B:00:00:01 192.168.1.101",
          "1 address 00:1A:2B:00:00:01 192.168.1.101 was 192.168.1.101/255.255.255.0"}},
        {"a new software version, once", 3, {},
         {{{Cam(kA)}}, {{Cam(kA, "192.168.1.101", "V2.0.0")}}, {{Cam(kA, "192.168.1.101", "V2.0.0")}}},
         {"0 appeared 00:1A:2B:00:00:01 192.168.1.101", "1 version 00:1A:2B:00:00:01 192.168.1.101 was V1.0.0"}},
        {"back from the dark at a new address and version: returned, then both changes", 1, {},
         {{{Cam(kA)}}, kNone, {{Cam(kA, "192.168.1.60", "V2.0.0")}}},
         {"0 appeared 00:1A:2B:00:00:01 192.168.1.101", "1 disappeared 00:1A:2B:00:00:01 192.168.1.101",
          "2 returned 00:1A:2B:00:00:01 192.168.1.60",
          "2 address 00:1A:2B:00:00:01 192.168.1.60 was 192.168.1.101/255.255.255.0",
          "2 version 00:1A:2B:00:00:01 192.168.1.60 was V1.0.0"}},
        {"one MAC however it is written; an answer twice in a round counts once", 3, {},
         {{{Cam(kA), Cam("00-1a-2b-00-00-01")}}, {{Cam("001a2b000001")}}},
         {"0 appeared 00:1A:2B:00:00:01 192.168.1.101"}},
        {"two hosts claiming one MAC in a round: the first speaks, no change each round", 3, {},
         {{{Cam(kA, "192.168.1.101"), Cam(kA, "192.168.1.99")}}, {{Cam(kA, "192.168.1.101"), Cam(kA, "192.168.1.99")}}},
         {"0 appeared 00:1A:2B:00:00:01 192.168.1.101"}},
        {"rounds cut short count no misses, only whom they heard", 1, {},
         {{{Cam(kA)}}, {{}, false}, {{}, false}, {{Cam(kB)}, false}, kNone},
         {"0 appeared 00:1A:2B:00:00:01 192.168.1.101", "3 appeared 00:1A:2B:00:00:02 192.168.1.101",
          "4 disappeared 00:1A:2B:00:00:01 192.168.1.101", "4 disappeared 00:1A:2B:00:00:02 192.168.1.101"}},
        {"an expected camera never heard is missing once, after N rounds", 2, {{kB, "P1-entrance"}},
         {kNone, kNone, kNone, kNone},
         {"1 missing 00:1A:2B:00:00:02  [P1-entrance]"}},
        {"an expected camera heard carries its label; heard late, it appears", 1,
         {{kA, "P1-entrance"}, {"00-1a-2b-00-00-02", "P2-exit"}},
         {{{Cam(kA)}}, kNone, {{Cam(kB, "192.168.1.102")}}},
         {"0 appeared 00:1A:2B:00:00:01 192.168.1.101 [P1-entrance]", "0 missing 00-1a-2b-00-00-02  [P2-exit]",
          "1 disappeared 00:1A:2B:00:00:01 192.168.1.101 [P1-entrance]",
          "2 appeared 00:1A:2B:00:00:02 192.168.1.102 [P2-exit]"}},
        {"against a site, a camera it does not have is unexpected when first heard, then follows as any", 1,
         {{kA, "P1-entrance"}},
         {{{Cam(kA), Cam(kB, "192.168.1.102")}}, {{Cam(kA)}}, {{Cam(kA), Cam(kB, "192.168.1.102")}}},
         {"0 appeared 00:1A:2B:00:00:01 192.168.1.101 [P1-entrance]", "0 unexpected 00:1A:2B:00:00:02 192.168.1.102",
          "1 disappeared 00:1A:2B:00:00:02 192.168.1.102", "2 returned 00:1A:2B:00:00:02 192.168.1.102"}},
        {"without a site, the same camera simply appears", 1, {},
         {{{Cam(kA), Cam(kB, "192.168.1.102")}}},
         {"0 appeared 00:1A:2B:00:00:01 192.168.1.101", "0 appeared 00:1A:2B:00:00:02 192.168.1.102"}},
    };
    for (const Scenario& scenario : scenarios) {
        SCOPED_TRACE(scenario.rule);
        EXPECT_EQ(EventsOf(scenario), scenario.events);
    }
}

TEST(WatchEvents, AnEventCarriesTheRoundsTimeAndADisappearanceWhenTheCameraWasLastHeard)
{
    Watch watch(2);
    Recorder recorder;
    const auto t0 = WallClock::time_point(std::chrono::seconds(1'800'000'000));
    watch.Round(t0, {Cam(kA)}, true, recorder);
    watch.Round(t0 + std::chrono::seconds(10), {}, true, recorder);
    watch.Round(t0 + std::chrono::seconds(20), {}, true, recorder);
    ASSERT_EQ(recorder.events.size(), 2u);
    EXPECT_EQ(recorder.events[1].kind, WatchEventKind::Disappeared);
    EXPECT_EQ(recorder.events[1].time, t0 + std::chrono::seconds(20));
    EXPECT_EQ(recorder.events[1].lastHeard, t0);
    EXPECT_EQ(recorder.events[1].softwareVersion, "V1.0.0");
}

TEST(WatchEvents, EverySinkHearsEachEventInTheSameOrder)
{
    Recorder first, second;
    lynx::site::WatchSinks sinks;
    sinks.Add(first);
    sinks.Add(second);
    Watch watch(1);
    watch.Round(WallClock::now(), {Cam(kA), Cam(kB, "192.168.1.102")}, true, sinks);
    watch.Round(WallClock::now(), {Cam(kB, "192.168.1.103")}, true, sinks);
    EXPECT_EQ(first.lines.size(), 4u);
    EXPECT_EQ(first.lines, second.lines);
}

TEST(WatchSummary, CountsThePresentTheGoneTheExpectedAbsentAndTheEvents)
{
    Watch watch(1, {{kA, "P1"}, {kB, "P2"}, {"00:1A:2B:00:00:03", "P3"}});
    Recorder recorder;
    const auto t = WallClock::now();
    EXPECT_FALSE(watch.AllExpectedPresent());
    watch.Round(t, {Cam(kA), Cam(kB, "192.168.1.102"), Cam("00:1A:2B:00:00:09", "192.168.1.109")}, true, recorder);
    watch.Round(t, {Cam(kA, "192.168.1.201"), Cam("00:1A:2B:00:00:09", "192.168.1.109")}, true, recorder);

    const lynx::site::WatchSummary summary = watch.Summary();
    EXPECT_EQ(summary.rounds, 2u);
    EXPECT_EQ(summary.present, 2u);      // A and the unexpected camera
    EXPECT_EQ(summary.disappeared, 1u);  // B
    EXPECT_EQ(summary.expectedAbsent, 2u);
    ASSERT_EQ(summary.absent.size(), 2u);
    EXPECT_EQ(summary.absent[0].label, "P2");
    EXPECT_EQ(summary.absent[1].label, "P3");
    EXPECT_EQ(summary.events[static_cast<size_t>(WatchEventKind::Appeared)], 2u);
    EXPECT_EQ(summary.events[static_cast<size_t>(WatchEventKind::Unexpected)], 1u);
    EXPECT_EQ(summary.events[static_cast<size_t>(WatchEventKind::Disappeared)], 1u);
    EXPECT_EQ(summary.events[static_cast<size_t>(WatchEventKind::Address)], 1u);
    EXPECT_EQ(summary.events[static_cast<size_t>(WatchEventKind::Missing)], 1u);
    EXPECT_FALSE(watch.AllExpectedPresent());

    watch.Round(t, {Cam(kA), Cam(kB), Cam("00:1A:2B:00:00:03")}, true, recorder);
    EXPECT_TRUE(watch.AllExpectedPresent());
    EXPECT_EQ(watch.Summary().expectedAbsent, 0u);
    EXPECT_TRUE(Watch(3).AllExpectedPresent()) << "nothing expected, nothing absent";
}

TEST(WatchState, StaysOneEntryPerCameraHoweverLongItRunsAndCapsMadeUpCameras)
{
    Watch watch(2, {}, 100);
    Recorder recorder;
    const auto t = WallClock::now();
    for (int round = 0; round < 2000; ++round) {
        std::vector<HeardCamera> heard;
        for (int i = 0; i < 50; ++i) {
            // A fifth of the cameras come and go; every one changes its version now and then.
            if (i % 5 == 0 && round % 7 < 3)
                continue;
            char mac[18];
            std::snprintf(mac, sizeof mac, "00:1A:2B:00:01:%02X", i);
            heard.push_back(Cam(mac, "192.168.1." + std::to_string(i + 1), "V" + std::to_string(round / 100)));
        }
        watch.Round(t, heard, true, recorder);
    }
    EXPECT_EQ(watch.Tracked(), 50u);
    recorder.events.clear();

    for (int i = 0; i < 500; ++i) {
        char mac[18];
        std::snprintf(mac, sizeof mac, "02:00:00:00:%02X:%02X", i / 256, i % 256);
        watch.Heard(t, Cam(mac), recorder);
    }
    EXPECT_EQ(watch.Tracked(), 100u);
    EXPECT_EQ(recorder.events.size(), 50u) << "the cameras beyond the capacity are not followed";
    EXPECT_EQ(watch.Summary().notTracked, 450u);
}

// A full watch makes room by forgetting the cameras that disappeared, never
// one heard recently nor one the site expects, even while it is away: a
// camera new to the watch is followed again once the flood has gone.
TEST(WatchState, AFullWatchForgetsOnlyTheGoneAndFollowsANewCameraAgain)
{
    constexpr const char* kExpectedAway = "00:1A:2B:00:00:09";
    Watch watch(2, {{kExpectedAway, "B2-009"}}, 6);
    Recorder recorder;
    const auto t = WallClock::now();
    const auto fake = [](int i) {
        static char mac[18];
        std::snprintf(mac, sizeof mac, "FE:00:00:00:00:%02X", i);
        return Cam(mac, "192.168.1.66");
    };
    EXPECT_TRUE(watch.ForgetGone().empty()) << "nothing gone, nothing forgotten";
    // The real cameras, then a flood of made-up ones that fills the watch.
    watch.Round(t, {Cam(kA), Cam(kB)}, true, recorder);
    for (int i = 0; i < 10; ++i)
        watch.Heard(t, fake(i), recorder);
    watch.EndRound(t, true, recorder);
    EXPECT_TRUE(watch.Full());
    EXPECT_EQ(watch.NotTracked(), 7u) << "6 places: the expected camera, kA, kB and three made-up ones";
    // Still full while the made-up ones have not yet missed two rounds.
    watch.Round(t, {Cam(kA), Cam(kB)}, true, recorder);
    EXPECT_TRUE(watch.ForgetGone().empty()) << "one missed round is not gone";
    watch.Round(t, {Cam(kA), Cam(kB)}, true, recorder);

    std::vector<std::string> forgotten = watch.ForgetGone();
    std::sort(forgotten.begin(), forgotten.end());
    EXPECT_EQ(forgotten, (std::vector<std::string>{"FE:00:00:00:00:00", "FE:00:00:00:00:01", "FE:00:00:00:00:02"}))
        << "the expected camera, missing, is kept";
    EXPECT_FALSE(watch.Full());
    EXPECT_EQ(watch.Tracked(), 3u);

    recorder.lines.clear();
    recorder.round = 9;
    watch.Round(t, {Cam(kA), Cam(kB), Cam("00:1A:2B:00:00:03")}, true, recorder);
    // Not on the site: unexpected, as any camera the site does not have.
    EXPECT_EQ(recorder.lines, (std::vector<std::string>{"9 unexpected 00:1A:2B:00:00:03 192.168.1.101"}));
    const lynx::site::WatchSummary summary = watch.Summary();
    EXPECT_EQ(summary.present, 3u);
    EXPECT_EQ(summary.expectedAbsent, 1u);
    EXPECT_EQ(summary.notTracked, 7u) << "what was turned away stays counted";
}

TEST(WatchEventJson, OneObjectOnOneLineWithTheUtcTimeFirstAndTheFieldsThatApply)
{
    WatchEvent event;
    event.time = WallClock::time_point(std::chrono::milliseconds(1'796'874'067'123));
    event.kind = WatchEventKind::Address;
    event.mac = kA;
    event.ip = "192.168.1.50";
    event.mask = "255.255.255.0";
    event.gateway = "192.168.1.1";
    event.previousIp = "192.168.1.101";
    event.previousMask = "255.255.0.0";
    event.previousGateway = "192.168.0.1";
    event.softwareVersion = "V1.0.0";
    event.label = "入口 \"P1\"";
    const std::string line = lynx::site::WatchEventJson(event);

    EXPECT_EQ(line.find('\n'), std::string::npos);
    EXPECT_EQ(line.rfind("{\"time\":\"2026-12-10T03:41:07.123Z\",\"event\":\"address\",\"mac\":\"00:1A:2B:00:00:01\","
                         "\"ip\":\"192.168.1.50\",",
                         0),
              0u)
        << line;
    Json::Value parsed;
    std::istringstream in(line);
    std::string errors;
    ASSERT_TRUE(Json::parseFromStream(Json::CharReaderBuilder(), in, &parsed, &errors)) << errors << line;
    EXPECT_EQ(parsed["label"].asString(), "入口 \"P1\"");
    EXPECT_EQ(parsed["previousIp"].asString(), "192.168.1.101");
    EXPECT_EQ(parsed["previousMask"].asString(), "255.255.0.0");
    EXPECT_EQ(parsed["previousGateway"].asString(), "192.168.0.1");
    EXPECT_EQ(parsed["softwareVersion"].asString(), "V1.0.0");
    EXPECT_FALSE(parsed.isMember("previousVersion"));
    EXPECT_FALSE(parsed.isMember("lastHeard"));

    WatchEvent gone;
    gone.kind = WatchEventKind::Disappeared;
    gone.mac = kB;
    gone.time = event.time;
    gone.lastHeard = event.time - std::chrono::milliseconds(30'123);
    std::istringstream goneIn(lynx::site::WatchEventJson(gone));
    ASSERT_TRUE(Json::parseFromStream(Json::CharReaderBuilder(), goneIn, &parsed, &errors)) << errors;
    EXPECT_EQ(parsed["event"].asString(), "disappeared");
    EXPECT_EQ(parsed["lastHeard"].asString(), "2026-12-10T03:40:37.000Z");
    EXPECT_EQ(parsed["ip"].asString(), "");
    EXPECT_FALSE(parsed.isMember("label"));
}

} // namespace
