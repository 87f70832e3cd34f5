// The second witness: the card a report came from, as the PC's neighbour
// table (scripted here) knows its sender, against the MAC the report claims
// and the card the camera was heard from before.
#include "protocol/DiscoverySession.h"
#include "protocol/HardwareWitness.h"

#include "platform/NeighbourTable.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <string>
#include <vector>

namespace {

using namespace lynx;
using namespace lynx::protocol;
using platform::HardwareAddress;
using platform::Neighbour;
using platform::NeighbourSighting;
using namespace std::chrono_literals;

constexpr HardwareAddress kCamera1 = 0x001A2B000001;  // the card of the camera claiming 00:1A:2B:00:00:01
constexpr HardwareAddress kCamera2 = 0x001A2B000002;
constexpr HardwareAddress kStranger = 0x02AABBCCDDEE;  // a third host's own card
constexpr HardwareAddress kBridge = 0x0200000000B1;   // one card in front of several cameras
constexpr const char* kMac1 = "00:1A:2B:00:00:01";
constexpr const char* kMac2 = "00-1a-2b-00-00-02";

uint32_t Ip(const char* text)
{
    in_addr address{};
    ::inet_pton(AF_INET, text, &address);
    return ntohl(address.s_addr);
}

// A scripted neighbour table for the scope of a test.
class ScriptedNeighbours {
public:
    ScriptedNeighbours()
    {
        platform::SetNeighbourTableHandler([this] {
            ++reads;
            return entries;
        });
    }
    ~ScriptedNeighbours() { platform::SetNeighbourTableHandler({}); }
    ScriptedNeighbours(const ScriptedNeighbours&) = delete;
    ScriptedNeighbours& operator=(const ScriptedNeighbours&) = delete;

    std::vector<Neighbour> entries;
    std::atomic<int> reads{0};
};

struct Report {
    const char* claims;
    NeighbourSighting from;
    bool disowned;
    const char* why;
};

// Each case a sequence of reports to one witness, with the verdict on each.
struct Story {
    const char* name;
    std::vector<Report> reports;
};

TEST(HardwareWitness, JudgesEachReportByItsCardAndTheCameraCardBefore)
{
    const NeighbourSighting unknown{0, 0};
    const NeighbourSighting own1{kCamera1, 1}, own2{kCamera2, 1};
    const NeighbourSighting stranger{kStranger, 1};
    const NeighbourSighting bridge{kBridge, 3};
    const NeighbourSighting bridgeAlone{kBridge, 1};
    const std::vector<Story> stories = {
        {"a camera from its own card, readdressed",
         {{kMac1, own1, false, "its own card"}, {kMac1, own1, false, "the same card at its new address"}}},
        {"a stranger claims a camera never heard",
         {{kMac1, stranger, true, "a card answering for one address that is not the MAC it claims"}}},
        {"a stranger claims a camera heard before",
         {{kMac1, own1, false, "the camera"},
          {kMac1, stranger, true, "another card than the camera's"},
          {kMac1, own1, false, "the camera again"}}},
        {"the stranger speaks first",
         {{kMac1, stranger, true, "nothing learnt from it"}, {kMac1, own1, false, "the camera is believed"}}},
        {"cameras behind one card",
         {{kMac1, bridge, false, "a card answering for several addresses"},
          {kMac2, bridge, false, "another camera behind it"},
          {kMac1, bridgeAlone, false, "its card is known, though the table now holds one address for it"},
          {kMac1, stranger, true, "not the card it was heard from"}}},
        {"unknown senders",
         {{kMac1, unknown, false, "no entry: the rule says nothing"},
          {kMac1, own1, false, "the camera"},
          {kMac1, unknown, false, "no entry, even after the camera was heard"}}},
        {"two cameras swap their addresses",
         {{kMac1, own1, false, "camera 1"}, {kMac2, own2, false, "camera 2"},
          {kMac2, own1, false, "camera 2 at camera 1's old address, the entry not renewed yet"}}},
        {"cameras fresh from the factory, all at one address",
         {{kMac1, own1, false, "camera 1, whose card the table holds for the address"},
          {kMac2, own1, false, "camera 2 at the same address: the table's one entry is camera 1's"},
          {kMac2, own2, false, "camera 2 once the entry is its own"},
          {kMac1, own2, false, "camera 1 while the entry is camera 2's"},
          {kMac1, stranger, true, "still: not a card either camera has"}}},
        {"a text that is no MAC",
         {{"not a mac", stranger, false, "nothing to compare"}, {"", stranger, false, "nothing to compare"}}},
    };
    for (const Story& story : stories) {
        HardwareWitness witness;
        int n = 0;
        for (const Report& report : story.reports) {
            const HardwareVerdict verdict = witness.Judge(report.claims, report.from);
            EXPECT_EQ(verdict.disowned, report.disowned) << story.name << ", report " << ++n << ": " << report.why;
            EXPECT_EQ(verdict.sender, report.from.hardware) << story.name;
        }
    }
}

TEST(HardwareWitness, AskTheNeighbourTableBySenderAddress)
{
    ScriptedNeighbours table;
    table.entries = {{Ip("192.168.1.101"), kCamera1}, {Ip("192.168.1.66"), kStranger},
                     {Ip("192.168.1.103"), kBridge}, {Ip("192.168.1.104"), kBridge}};
    HardwareWitness witness;
    EXPECT_FALSE(witness.Judge(kMac1, Ip("192.168.1.101")).disowned);
    EXPECT_TRUE(witness.Judge(kMac1, Ip("192.168.1.66")).disowned);
    EXPECT_EQ(witness.Judge(kMac1, Ip("192.168.1.66")).sender, kStranger);
    EXPECT_FALSE(witness.Judge("00:1A:2B:00:00:03", Ip("192.168.1.103")).disowned) << "behind a bridge";
    EXPECT_FALSE(witness.Judge(kMac2, Ip("192.168.1.77")).disowned) << "no entry";
    EXPECT_EQ(witness.Judge(kMac2, Ip("192.168.1.77")).sender, 0u);
    EXPECT_EQ(witness.CardOf(Ip("192.168.1.101")), kCamera1);
    EXPECT_EQ(witness.CardOf(0), 0u);
}

TEST(NeighbourCache, ABurstFromThousandsOfUnknownSendersReadsTheTableAFewTimes)
{
    ScriptedNeighbours table;
    table.entries = {{Ip("192.168.1.101"), kCamera1}};
    platform::NeighbourCache cache;
    for (uint32_t i = 0; i < 10000; ++i)
        EXPECT_EQ(cache.Lookup(Ip("10.0.0.0") + i).hardware, 0u);
    EXPECT_LE(table.reads.load(), 2) << "a miss reads the table at most once each "
                                     << platform::NeighbourCache::kRefreshEvery.count() << " ms";
    EXPECT_EQ(cache.Lookup(Ip("192.168.1.101")).hardware, kCamera1);

    // A sender the table learns later is found once the bound allows a read.
    table.entries.push_back({Ip("192.168.1.66"), kStranger});
    const auto start = std::chrono::steady_clock::now();
    while (cache.Lookup(Ip("192.168.1.66")).hardware == 0 && std::chrono::steady_clock::now() - start < 5s)
        std::this_thread::sleep_for(10ms);
    EXPECT_EQ(cache.Lookup(Ip("192.168.1.66")).hardware, kStranger);
    EXPECT_EQ(cache.Lookup(Ip("192.168.1.66")).addressesAtHardware, 1u);
}

TEST(NeighbourCache, AKnownSenderWhoseCardChangedIsSeenOnceTheCacheIsOld)
{
    ScriptedNeighbours table;
    table.entries = {{Ip("192.168.1.101"), kCamera1}, {Ip("192.168.1.102"), kCamera2}};
    platform::NeighbourCache cache;
    EXPECT_EQ(cache.Lookup(Ip("192.168.1.101")).hardware, kCamera1);
    table.entries[0].hardware = kStranger;
    table.entries[1].hardware = kStranger;
    const auto start = std::chrono::steady_clock::now();
    while (cache.Lookup(Ip("192.168.1.101")).hardware == kCamera1 && std::chrono::steady_clock::now() - start < 10s)
        std::this_thread::sleep_for(20ms);
    EXPECT_EQ(cache.Lookup(Ip("192.168.1.101")).hardware, kStranger);
    EXPECT_EQ(cache.Lookup(Ip("192.168.1.101")).addressesAtHardware, 2u);
}

TEST(HardwareText, ReadsAndWritesMacTexts)
{
    EXPECT_EQ(platform::ParseHardware("00:1A:2B:00:00:01"), kCamera1);
    EXPECT_EQ(platform::ParseHardware("00-1a-2b-00-00-01"), kCamera1);
    EXPECT_EQ(platform::ParseHardware("001A2B000001"), kCamera1);
    for (const char* bad : {"", "00:1A:2B:00:00", "00:1A:2B:00:00:01:02", "00:1A:2B:00:00:0G", "00 1A 2B 00 00 01"})
        EXPECT_EQ(platform::ParseHardware(bad), 0u) << bad;
    EXPECT_EQ(platform::HardwareText(kStranger), "02:aa:bb:cc:dd:ee");
    EXPECT_EQ(platform::HardwareText(0), "");
}

PacketHeader ReportHeader()
{
    PacketHeader h{};
    h.magic = TARN_MAGIC;
    h.command = 0x701;
    h.bodyMarker = '$';
    return h;
}

std::string ReportBody(const char* ip, const char* mac)
{
    return std::string(R"({"data":{"deviceIp":")") + ip + R"(","machineInfo":{"mac":")" + mac + R"("}}})";
}

TEST(HardwareWitness, ASessionsRowsCarryTheCardAndItsVerdictToEveryReader)
{
    ScriptedNeighbours table;
    table.entries = {{Ip("192.168.1.101"), kCamera1}, {Ip("192.168.1.66"), kStranger}};
    DiscoverySession session;
    const auto deliver = [&](const char* from, const char* ip, const char* mac) {
        const std::string body = ReportBody(ip, mac);
        session.Deliver(kReportPort, ReportHeader(), body.c_str(), static_cast<uint32_t>(body.size()), Ip(from));
    };
    // The stranger speaks at its own address for a camera, then the camera
    // itself; then the stranger for a camera never heard.
    deliver("192.168.1.66", "192.168.1.66", kMac1);
    deliver("192.168.1.101", "192.168.1.101", kMac1);
    deliver("192.168.1.66", "192.168.1.66", "00:1A:2B:00:00:09");
    session.CollectUntil(DiscoverySession::Clock::now() + 2s, DuplicateFilter{true, true}, {},
                         [&] { return session.Table().Size() == 3; });
    const std::vector<DeviceRow> rows = session.Table().Rows();
    ASSERT_EQ(rows.size(), 3u) << "the camera's own report is listed beside the stranger's";
    const bool hearsay[] = {true, false, true};
    const HardwareAddress cards[] = {kStranger, kCamera1, kStranger};
    for (size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(IsHearsay(rows[i].record, rows[i].arrival), hearsay[i]) << i;
        EXPECT_EQ(FromItsOwnAddress(rows[i].record, rows[i].arrival), !hearsay[i]) << i;
        EXPECT_EQ(rows[i].arrival.sourceHardware, cards[i]) << i;
    }
}

} // namespace
