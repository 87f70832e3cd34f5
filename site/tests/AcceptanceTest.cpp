// A site's acceptance: each planned camera and each device heard given one
// state, the precedence where several apply, the version matched as the
// camera reports it or as the list shows it, and the counts.
#include "site/Acceptance.h"

#include "Reports.h"
#include "platform/Translation.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using lynx::site::AcceptanceState;
using lynx::site::CheckAcceptance;
using lynx::site::PlannedCamera;
using lynx::site::SiteFile;
using lynx::test::ReportJson;
using lynx::test::WithField;

PlannedCamera Planned(const std::string& mac, const std::string& ip, const std::string& version = "",
                      const std::string& mask = "255.255.255.0", const std::string& gateway = "192.168.1.1")
{
    PlannedCamera camera;
    camera.mac = mac;
    camera.ip = ip;
    camera.mask = mask;
    camera.gateway = gateway;
    camera.softwareVersion = version;
    return camera;
}

struct Heard {
    std::string ip, mac, version = "V2.0.0", mask = "255.255.255.0", gateway = "192.168.1.1";
    std::string from = {};  // the sender's address; empty: not known
};

lynx::protocol::DeviceTable TableOf(const std::vector<Heard>& devices)
{
    lynx::protocol::DeviceTable table;
    for (const Heard& d : devices) {
        std::string report = ReportJson(d.ip, d.mac, "cam", d.version, "2018-11-07");
        report = WithField(WithField(report, "netMask", d.mask), "gatewayIp", d.gateway);
        EXPECT_GT(table.AddReport(report, {}, {"eth0", "192.168.1.100", d.from}), 0) << report;
    }
    return table;
}

TEST(Acceptance, EachCameraGetsOneStateAndWhereSeveralApplyConflictThenAddressThenVersion)
{
    const struct {
        const char* name;
        PlannedCamera plan;
        std::vector<Heard> heard;
        AcceptanceState state;
    } cases[] = {
        {"where planned, on its version", Planned("00:1A:2B:00:00:01", "192.168.1.21", "V2.0.0"),
         {{"192.168.1.21", "00-1a-2b-00-00-01"}}, AcceptanceState::Ok},
        {"another IP", Planned("00:1A:2B:00:00:01", "192.168.1.21"), {{"192.168.1.31", "00:1A:2B:00:00:01"}},
         AcceptanceState::Address},
        {"another mask", Planned("00:1A:2B:00:00:01", "192.168.1.21"),
         {{"192.168.1.21", "00:1A:2B:00:00:01", "V2.0.0", "255.255.0.0"}}, AcceptanceState::Address},
        {"another gateway", Planned("00:1A:2B:00:00:01", "192.168.1.21"),
         {{"192.168.1.21", "00:1A:2B:00:00:01", "V2.0.0", "255.255.255.0", "192.168.1.254"}}, AcceptanceState::Address},
        {"another version", Planned("00:1A:2B:00:00:01", "192.168.1.21", "V2.0.0"),
         {{"192.168.1.21", "00:1A:2B:00:00:01", "V1.0.3"}}, AcceptanceState::Version},
        {"not heard", Planned("00:1A:2B:00:00:01", "192.168.1.21"), {{"192.168.1.22", "00:1A:2B:00:00:02"}},
         AcceptanceState::Missing},
        {"another camera on its address", Planned("00:1A:2B:00:00:01", "192.168.1.21"),
         {{"192.168.1.21", "00:1A:2B:00:00:01"}, {"192.168.1.21", "00:1A:2B:00:00:02"}}, AcceptanceState::Conflict},
        {"address and version wrong: address", Planned("00:1A:2B:00:00:01", "192.168.1.21", "V2.0.0"),
         {{"192.168.1.31", "00:1A:2B:00:00:01", "V1.0.3"}}, AcceptanceState::Address},
        {"conflict, address and version wrong: conflict", Planned("00:1A:2B:00:00:01", "192.168.1.21", "V2.0.0"),
         {{"192.168.1.31", "00:1A:2B:00:00:01", "V1.0.3"}, {"192.168.1.31", "00:1A:2B:00:00:02"}},
         AcceptanceState::Conflict},
        {"nothing planned but the MAC", Planned("00:1A:2B:00:00:01", "", "", "", ""),
         {{"10.0.0.9", "00:1A:2B:00:00:01", "V0.1", "255.0.0.0", "10.0.0.1"}}, AcceptanceState::Ok},
    };
    for (const auto& c : cases) {
        SiteFile site;
        site.cameras.push_back(c.plan);
        const auto table = TableOf(c.heard);
        const auto result = CheckAcceptance(site, table);
        ASSERT_GE(result.cameras.size(), 1u) << c.name;
        EXPECT_EQ(result.cameras[0].state, c.state) << c.name;
        EXPECT_EQ(result.cameras[0].mac, c.plan.mac) << c.name;
    }
}

TEST(Acceptance, AnAddressMismatchKeepsThePlannedAndTheFoundValues)
{
    SiteFile site;
    site.cameras.push_back(Planned("00:1A:2B:00:00:01", "192.168.1.21", "V2.0.0"));
    site.cameras.back().label = "B2-017";
    site.cameras.back().line = 4;
    const auto table = TableOf({{"192.168.1.31", "00:1A:2B:00:00:01", "V1.0.3", "255.255.0.0", "192.168.1.254"}});
    const auto camera = CheckAcceptance(site, table).cameras.at(0);
    EXPECT_EQ(camera.state, AcceptanceState::Address);
    EXPECT_EQ(camera.line, 4);
    EXPECT_EQ(camera.label, "B2-017");
    EXPECT_EQ(camera.number, 1);
    EXPECT_EQ(camera.plannedIp + " " + camera.plannedMask + " " + camera.plannedGateway + " " + camera.plannedVersion,
              "192.168.1.21 255.255.255.0 192.168.1.1 V2.0.0");
    EXPECT_EQ(camera.ip + " " + camera.mask + " " + camera.gateway + " " + camera.softwareVersion,
              "192.168.1.31 255.255.0.0 192.168.1.254 V1.0.3");
    EXPECT_EQ(camera.versionText, "V1.0.3 build[2018-11-07]");
}

TEST(Acceptance, AVersionMatchesAsReportedOrAsTheListShowsIt)
{
    const auto table = TableOf({{"192.168.1.21", "00:1A:2B:00:00:01", "V2.0.0"}});
    const DeviceRecord& record = *table.ByNumber(1);
    const struct {
        const char* expected;
        bool matches;
    } cases[] = {
        {"V2.0.0", true},
        {"V2.0.0 build[2018-11-07]", true},
        {"", true},
        {"V2.0", false},
        {"v2.0.0", false},
        {"V2.0.0 build[2018-11-08]", false},
        {"build[2018-11-07]", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(lynx::site::VersionMatches(c.expected, record), c.matches) << c.expected;
        // The same through the classification, from the file or from --expect-version.
        SiteFile own;
        own.cameras.push_back(Planned("00:1A:2B:00:00:01", "192.168.1.21", c.expected));
        SiteFile none;
        none.cameras.push_back(Planned("00:1A:2B:00:00:01", "192.168.1.21"));
        const AcceptanceState state = c.matches ? AcceptanceState::Ok : AcceptanceState::Version;
        EXPECT_EQ(CheckAcceptance(own, table).cameras[0].state, state) << c.expected;
        EXPECT_EQ(CheckAcceptance(none, table, c.expected).cameras[0].state, state) << c.expected;
    }
    // A camera's own version wins over the one for all.
    SiteFile own;
    own.cameras.push_back(Planned("00:1A:2B:00:00:01", "192.168.1.21", "V2.0.0"));
    const auto camera = CheckAcceptance(own, table, "V3.0.0").cameras[0];
    EXPECT_EQ(camera.state, AcceptanceState::Ok);
    EXPECT_EQ(camera.plannedVersion, "V2.0.0");
}

TEST(Acceptance, ADeviceNotPlannedIsUnexpectedEvenOnAPlannedCamerasAddress)
{
    SiteFile site;
    site.cameras.push_back(Planned("00:1A:2B:00:00:01", "192.168.1.21"));
    site.cameras.push_back(Planned("00:1A:2B:00:00:02", "192.168.1.22"));
    const auto table = TableOf({{"192.168.1.50", "00:1A:2B:00:00:09"},
                                {"192.168.1.21", "00:1A:2B:00:00:01"},
                                {"192.168.1.21", "00:1A:2B:00:00:08"}});
    const auto result = CheckAcceptance(site, table);
    ASSERT_EQ(result.cameras.size(), 4u);
    // The planned in the file's order, then the others in the table's.
    EXPECT_EQ(result.cameras[0].state, AcceptanceState::Conflict);
    EXPECT_EQ(result.cameras[0].conflictWith, std::vector<std::string>{"00:1A:2B:00:00:08"});
    EXPECT_EQ(result.cameras[1].state, AcceptanceState::Missing);
    EXPECT_EQ(result.cameras[1].ip, "");
    EXPECT_EQ(result.cameras[2].mac, "00:1A:2B:00:00:09");
    EXPECT_EQ(result.cameras[2].state, AcceptanceState::Unexpected);
    EXPECT_EQ(result.cameras[2].line, 0);
    EXPECT_EQ(result.cameras[3].mac, "00:1A:2B:00:00:08");
    EXPECT_EQ(result.cameras[3].state, AcceptanceState::Unexpected);
    EXPECT_EQ(result.cameras[3].conflictWith, std::vector<std::string>{"00:1A:2B:00:00:01"});
}

TEST(Acceptance, ACameraThatAnsweredFromTwoAddressesIsOneCameraJudgedByItsPlannedOne)
{
    SiteFile site;
    site.cameras.push_back(Planned("00:1A:2B:00:00:01", "192.168.1.21"));
    const auto table = TableOf({{"192.168.1.31", "00:1A:2B:00:00:01"}, {"192.168.1.21", "00:1A:2B:00:00:01"}});
    const auto result = CheckAcceptance(site, table);
    ASSERT_EQ(result.cameras.size(), 1u);
    EXPECT_EQ(result.cameras[0].state, AcceptanceState::Ok);
    EXPECT_EQ(result.cameras[0].number, 2);
}

TEST(Acceptance, TheSummaryCountsEachStateAndThePassRule)
{
    SiteFile site;
    for (const int last : {1, 2, 3, 4, 5, 6})
        site.cameras.push_back(Planned("00:1A:2B:00:00:0" + std::to_string(last), "192.168.1." + std::to_string(last), "V2.0.0"));
    const auto table = TableOf({{"192.168.1.1", "00:1A:2B:00:00:01"},
                                {"192.168.1.2", "00:1A:2B:00:00:02"},
                                {"192.168.1.33", "00:1A:2B:00:00:03"},
                                {"192.168.1.4", "00:1A:2B:00:00:04", "V1.0.3"},
                                {"192.168.1.6", "00:1A:2B:00:00:06"},
                                {"192.168.1.6", "00:1A:2B:00:00:07"},
                                {"192.168.1.99", "00:1A:2B:00:00:09"}});
    const auto result = CheckAcceptance(site, table);
    const auto& s = result.summary;
    EXPECT_EQ(s.expected, 6u);
    EXPECT_EQ(s.ok, 2u);
    EXPECT_EQ(s.address, 1u);
    EXPECT_EQ(s.version, 1u);
    EXPECT_EQ(s.missing, 1u);
    EXPECT_EQ(s.conflict, 1u);
    EXPECT_EQ(s.unexpected, 2u);
    EXPECT_FALSE(result.Passed(true));
    EXPECT_EQ(lynx::site::SummaryText(s), "应有 6 台，正常 2，地址不符 1，版本不符 1，未找到 1，多余 2，地址冲突 1");
    lynx::platform::SelectLanguage("en");
    EXPECT_EQ(lynx::site::SummaryText(s), "expected 6, ok 2, address 1, version 1, missing 1, unexpected 2, conflict 1");
    EXPECT_EQ(lynx::site::StateText(AcceptanceState::Conflict), "IP conflict");
    lynx::platform::SelectLanguage("");
    EXPECT_EQ(lynx::site::StateText(AcceptanceState::Address), "地址不符");

    // Every planned camera ok: passed, unless a device is unexpected and not allowed.
    SiteFile two;
    two.cameras.push_back(Planned("00:1A:2B:00:00:01", "192.168.1.1"));
    two.cameras.push_back(Planned("00:1A:2B:00:00:02", "192.168.1.2"));
    const auto passed = CheckAcceptance(two, TableOf({{"192.168.1.1", "00:1A:2B:00:00:01"},
                                                      {"192.168.1.2", "00:1A:2B:00:00:02"}}));
    EXPECT_TRUE(passed.Passed(false));
    const auto extra = CheckAcceptance(two, TableOf({{"192.168.1.1", "00:1A:2B:00:00:01"},
                                                     {"192.168.1.2", "00:1A:2B:00:00:02"},
                                                     {"192.168.1.3", "00:1A:2B:00:00:03"}}));
    EXPECT_FALSE(extra.Passed(false));
    EXPECT_TRUE(extra.Passed(true));
}

} // namespace

namespace {

constexpr const char* kStranger = "192.168.1.66";

// A report of the camera sent by another host: its MAC, at the address given.
Heard Said(const std::string& ip, const std::string& mac, const std::string& by = kStranger)
{
    Heard heard{ip, mac};
    heard.from = by;
    return heard;
}

Heard Own(const std::string& ip, const std::string& mac)
{
    Heard heard{ip, mac};
    heard.from = ip;
    return heard;
}

} // namespace

TEST(Acceptance, APlannedCamerasStateComesFromItsOwnReportsAndHearsayIsNamedNeverBelieved)
{
    const std::string mac = "00:1A:2B:00:00:01", ip = "192.168.1.21";
    const struct {
        const char* name;
        std::vector<Heard> heard;
        AcceptanceState state;
        std::vector<std::string> hearsayFrom;
        size_t senders;
    } cases[] = {
        {"only another host answers, at the planned address", {Said(ip, mac)}, AcceptanceState::Missing, {kStranger}, 1},
        {"two hosts answer, twice each",
         {Said(ip, mac), Said("192.168.1.30", mac, "192.168.1.67"), Said("192.168.1.31", mac)},
         AcceptanceState::Missing,
         {kStranger, "192.168.1.67"},
         2},
        {"the camera answers too", {Said(ip, mac), Own(ip, mac)}, AcceptanceState::Ok, {kStranger}, 1},
        {"the camera elsewhere, hearsay where planned",
         {Own("192.168.1.40", mac), Said(ip, mac)},
         AcceptanceState::Address,
         {kStranger},
         1},
        {"a sender not known counts as the camera", {Heard{ip, mac}}, AcceptanceState::Ok, {}, 0},
    };
    for (const auto& c : cases) {
        SiteFile site;
        site.cameras.push_back(Planned(mac, ip));
        const auto table = TableOf(c.heard);
        const auto result = CheckAcceptance(site, table);
        ASSERT_EQ(result.cameras.size(), 1u) << c.name;
        const auto& camera = result.cameras[0];
        EXPECT_EQ(camera.state, c.state) << c.name;
        EXPECT_EQ(camera.hearsayFrom, c.hearsayFrom) << c.name;
        EXPECT_EQ(camera.hearsaySenders, c.senders) << c.name;
        EXPECT_EQ(result.Passed(false), c.state == AcceptanceState::Ok) << c.name;
        EXPECT_EQ(result.summary.ok, c.state == AcceptanceState::Ok ? 1u : 0u) << c.name;
        if (c.state == AcceptanceState::Missing) {
            EXPECT_EQ(camera.ip, "") << c.name << ": nothing another host said is shown as found";
        }
    }
}

TEST(Acceptance, HearsayAtACamerasAddressMakesNoConflictAndAnUnplannedMacSaidByAnotherHostIsListed)
{
    SiteFile site;
    site.cameras.push_back(Planned("00:1A:2B:00:00:01", "192.168.1.21"));
    const auto table = TableOf({Own("192.168.1.21", "00:1A:2B:00:00:01"), Said("192.168.1.21", "00:1A:2B:00:00:08")});
    const auto result = CheckAcceptance(site, table);
    ASSERT_EQ(result.cameras.size(), 2u);
    EXPECT_EQ(result.cameras[0].state, AcceptanceState::Ok);
    EXPECT_EQ(result.cameras[0].conflicts, 0u);
    EXPECT_EQ(result.cameras[1].mac, "00:1A:2B:00:00:08");
    EXPECT_EQ(result.cameras[1].state, AcceptanceState::Unexpected);
    EXPECT_EQ(result.cameras[1].conflicts, 0u);
    EXPECT_EQ(result.cameras[1].hearsayFrom, std::vector<std::string>{kStranger});
    lynx::platform::SelectLanguage("en");
    EXPECT_EQ(lynx::site::HearsayText(result.cameras[1]), "another host at 192.168.1.66 answers for this camera");
    lynx::platform::SelectLanguage("");
    EXPECT_EQ(lynx::site::HearsayText(result.cameras[1]), "另一台主机 192.168.1.66 替这台摄像机应答");
}

TEST(Acceptance, ThousandsOfMacsAtOnePlannedAddressAreCountedAndOnlyTheFirstFewNamed)
{
    SiteFile site;
    site.cameras.push_back(Planned("00:1A:2B:00:00:01", "192.168.1.21"));
    std::vector<Heard> heard{Own("192.168.1.21", "00:1A:2B:00:00:01")};
    char mac[32];
    for (int i = 0; i < 3000; ++i) {
        std::snprintf(mac, sizeof mac, "FE:00:00:00:%02X:%02X", i / 256, i % 256);
        heard.push_back(Own("192.168.1.21", mac));
    }
    const auto result = CheckAcceptance(site, TableOf(heard));
    ASSERT_EQ(result.cameras.size(), 3001u);
    for (const auto& camera : result.cameras) {
        EXPECT_EQ(camera.conflicts, 3000u) << camera.mac;
        ASSERT_EQ(camera.conflictWith.size(), lynx::site::kListedByName) << camera.mac;
    }
    EXPECT_EQ(result.cameras[0].state, AcceptanceState::Conflict);
    EXPECT_EQ(result.cameras[0].conflictWith[0], "FE:00:00:00:00:00");
    EXPECT_EQ(lynx::site::ListedText({"a", "b"}, 5), "a b 及另外 3 个");
}
