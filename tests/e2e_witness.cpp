// A third host on the cameras' segment (192.168.1.66, a namespace and a card
// of its own) speaks for cameras from its own address: it claims their MACs
// in reports that name its own address, so that the address they come from
// proves nothing. The card they come from does: three cameras here have
// cards of their own, with the MAC they report, and two more share one card,
// as cameras behind a bridge do. The watch, the search and the upgrade
// believe only what a camera's own card says, and hide no real camera.
#include "tests/support/NetlabFixture.h"

#include <json/writer.h>

#include <signal.h>

#include <fstream>
#include <memory>
#include <sstream>

namespace {

using namespace lynx::test;

constexpr const char* kStranger = "192.168.1.66";
constexpr const char* kPulled = "00:1A:2B:00:00:01";   // unplugged, then claimed by the stranger
constexpr const char* kFaked = "00:1A:2B:00:00:02";    // present, its address and version faked
constexpr const char* kKeptUp = "00:1A:2B:00:00:03";   // claimed all along, then unplugged
constexpr const char* kNeverThere = "00:1A:2B:00:00:09";  // on the site's list, never on the LAN

// A camera's row as the stranger's own search would list it, at the
// stranger's own address.
Json::Value ClaimAtStranger(const char* mac)
{
    Json::Value row(Json::objectValue);
    row["mac"] = mac;
    row["deviceIp"] = kStranger;
    row["netMask"] = "255.255.255.0";
    row["gatewayIp"] = "192.168.1.1";
    row["deviceId"] = std::string("KV") + mac;
    row["name"] = "camera";
    row["model"] = "KV-PG200";
    return row;
}

// lynx-flood on the stranger's host, claiming the cameras one after another
// (version V9.9.9), spread over the given time, on a thread of its own.
struct Stranger : BackgroundRun {
    Stranger(const std::string& devices, long count, std::chrono::seconds over)
        : BackgroundRun([=] {
              return RunFlood(kStranger, 19027, count, std::to_string(over.count()), {"--kind", "claims", "--devices", devices},
                              over + 60s);
          })
    {
    }
};

// Pulls a camera's own cable (its card, mvN), or puts it back.
bool SetOwnCardUp(int n, bool up)
{
    return SetLinkUp("mv" + std::to_string(n), up);
}

class Witness : public NetlabTest {
protected:
    static void SetUpTestSuite()
    {
        if (InNetlab()) {
            ASSERT_TRUE(AddCameraSegmentHost(kStranger));
        }
    }
    void SetUpInLan() override
    {
        for (int n = 1; n <= 3; ++n)
            ASSERT_TRUE(SetOwnCardUp(n, true));
        strangerCard = HostHardwareAddress(kStranger);
        ASSERT_EQ(strangerCard.size(), 17u);
    }
    void TearDown() override
    {
        if (m_pid > 0)
            ::kill(m_pid, SIGKILL);
        m_watch.reset();
    }

    std::string Claims(std::initializer_list<const char*> macs)
    {
        Json::Value rows(Json::arrayValue);
        for (const char* mac : macs)
            rows.append(ClaimAtStranger(mac));
        return dir.Write("claims" + std::to_string(++m_files) + ".json", Json::writeString(Json::StreamWriterBuilder(), rows));
    }

    // lynx-cli watch in the background, its output read as it grows.
    void StartWatch(const std::vector<std::string>& options)
    {
        std::string command = "echo $$ > " + dir.File("pid") + "; exec " + BinDir() + "/lynx-cli watch --format json";
        for (const std::string& option : options)
            command += " " + option;
        command += " > " + dir.File("events") + " 2> " + dir.File("err");
        m_watch = std::make_unique<BackgroundRun>(
            [command] { return RunProcess({"/bin/sh", "-c", command}, 120s, {"LYNX_LANG=zh"}); });
        ASSERT_TRUE(WaitUntil([&] { return (m_pid = std::atoi(Read("pid").c_str())) > 0; }, 10s));
    }
    ProcessResult EndWatch(bool signal)
    {
        if (signal)
            ::kill(m_pid, SIGTERM);
        ProcessResult result = m_watch->Finish();
        m_watch.reset();
        m_pid = -1;
        result.out = Read("events");
        result.err = Read("err");
        return result;
    }
    std::string Read(const std::string& name) const
    {
        std::ifstream in(dir.File(name), std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    int CountOf(const std::string& event, const std::string& mac) const
    {
        int n = 0;
        std::istringstream lines(Read("events"));
        for (std::string line; std::getline(lines, line);) {
            const Json::Value e = ParseJson(line);
            n += e["event"].asString() == event && (mac.empty() || e["mac"].asString() == mac) ? 1 : 0;
        }
        return n;
    }
    bool WaitFor(const std::string& event, const std::string& mac, std::chrono::milliseconds timeout = 20s) const
    {
        return WaitUntil([&] { return CountOf(event, mac) > 0; }, timeout);
    }
    // How often the stranger is named on standard error, as the sender of a claim.
    size_t StrangerNamed(const std::string& err) const
    {
        return Count(err, std::string(kStranger) + "（硬件地址 " + strangerCard + "）");
    }

    std::string strangerCard;

private:
    std::unique_ptr<BackgroundRun> m_watch;
    pid_t m_pid = -1;
    int m_files = 0;
};

} // namespace

TEST_F(Witness, TheWatchBelievesNoClaimFromAnotherCardThanTheCamerasOwn)
{
    StartWatch({"--interval", "1", "--missed", "2"});
    for (const char* mac : {kPulled, kFaked, kKeptUp})
        ASSERT_TRUE(WaitFor("appeared", mac)) << Read("events") << Read("err");

    // The stranger claims two present cameras, with another version, at its
    // own address; then one of them is unplugged.
    Stranger keeping(Claims({kFaked, kKeptUp}), 300, 15s);
    ASSERT_TRUE(SetOwnCardUp(3, false));
    // Two missed searches of a second each, well before the claims end.
    EXPECT_TRUE(WaitFor("disappeared", kKeptUp, 8s)) << "kept present by the stranger's claims\n" << Read("events");

    // A camera unplugged before the stranger speaks for it does not return.
    ASSERT_TRUE(SetOwnCardUp(1, false));
    ASSERT_TRUE(WaitFor("disappeared", kPulled)) << Read("events");
    Stranger returning(Claims({kPulled}), 60, 3s);
    EXPECT_EQ(returning.Finish().exitCode, 0);
    EXPECT_EQ(keeping.Finish().exitCode, 0);
    // Two more searches, proving that no event comes late: a fixed wait.
    std::this_thread::sleep_for(2500ms);
    const ProcessResult watch = EndWatch(true);
    EXPECT_EQ(watch.exitCode, 0) << watch.err;

    // Neither the camera unplugged under the stranger's claims nor the one
    // claimed after it went comes back at the stranger's address.
    EXPECT_EQ(CountOf("returned", kPulled), 0) << watch.out;
    EXPECT_EQ(CountOf("returned", kKeptUp), 0) << watch.out;
    EXPECT_EQ(CountOf("address", ""), 0) << watch.out;
    EXPECT_EQ(CountOf("version", ""), 0) << watch.out;
    EXPECT_EQ(CountOf("disappeared", kKeptUp), 1) << watch.out;
    EXPECT_EQ(Count(watch.out, kStranger), 0u) << watch.out;
    // Said once for the sender, whatever it claimed and however often.
    EXPECT_EQ(StrangerNamed(watch.err), 1u) << watch.err;
    EXPECT_NE(watch.err.find("自称 MAC"), std::string::npos) << watch.err;
}

TEST_F(Witness, AWatchOfASiteFailsForAPlannedCameraOnlyAStrangerClaims)
{
    const std::string site = dir.Write("site.csv", "mac,ip,label\n"
                                                   "00:1A:2B:00:00:01,192.168.1.101,A-01\n"
                                                   "00:1A:2B:00:00:02,192.168.1.102,A-02\n"
                                                   "00:1A:2B:00:00:03,192.168.1.103,A-03\n"
                                                   "00:1A:2B:00:00:09,192.168.1.66,A-09\n");
    Stranger claiming(Claims({kNeverThere}), 200, 10s);
    StartWatch({"--site", site, "--interval", "1", "--missed", "2", "--duration", "6"});
    const ProcessResult watch = EndWatch(false);
    EXPECT_EQ(watch.exitCode, 1) << watch.out << watch.err;
    EXPECT_EQ(CountOf("appeared", kNeverThere), 0) << watch.out;
    EXPECT_EQ(CountOf("missing", kNeverThere), 1) << watch.out;
    for (const char* mac : {kPulled, kFaked, kKeptUp})
        EXPECT_EQ(CountOf("appeared", mac), 1) << mac << watch.out;
    EXPECT_NE(watch.err.find("缺席：00:1A:2B:00:00:09"), std::string::npos) << watch.err;
    EXPECT_EQ(StrangerNamed(watch.err), 1u) << watch.err;
}

TEST_F(Witness, TheSearchListsAndMarksTheStrangersClaimsAndTheUpgradeLeavesThemOut)
{
    const std::string firmware = dir.File("cam-2.0.zip");
    ASSERT_TRUE(MakeFirmwareZip(firmware, 100000));
    const std::string claims = Claims({kPulled, kNeverThere});

    {
        Stranger claiming(claims, 100, 4s);
        const ProcessResult search = RunCli({"search", "--seconds", "3", "--format", "json"});
        EXPECT_EQ(search.exitCode, 0) << search.err;
        const Json::Value rows = ParseJson(search.out);
        ASSERT_TRUE(rows.isArray()) << search.out;
        int marked = 0;
        for (const Json::Value& row : rows) {
            const bool strangers = row["deviceIp"].asString() == kStranger;
            EXPECT_EQ(row["hearsay"].asBool(), strangers) << row;
            marked += strangers ? 1 : 0;
        }
        EXPECT_EQ(marked, 2) << "listed, marked: " << search.out;
        EXPECT_EQ(RowsWithIp(rows, "192.168.1.101"), 1) << search.out;
        EXPECT_EQ(StrangerNamed(search.err), 1u) << search.err;
        EXPECT_EQ(claiming.Finish().exitCode, 0);
    }
    {
        Stranger claiming(claims, 100, 4s);
        const ProcessResult table = RunCli({"search", "--seconds", "3"});
        EXPECT_EQ(table.exitCode, 0) << table.err;
        size_t strangersLines = 0;
        std::istringstream lines(table.out);
        for (std::string line; std::getline(lines, line);) {
            if (line.find(kStranger) != std::string::npos) {
                ++strangersLines;
                EXPECT_NE(line.find("他机代答"), std::string::npos) << line;
            }
        }
        EXPECT_EQ(strangersLines, 2u) << table.out;
        EXPECT_EQ(claiming.Finish().exitCode, 0);
    }

    Stranger claiming(claims, 200, 6s);
    const ProcessResult run =
        RunCli({"upgrade", "--file", firmware, "--seconds", "3", "--all", "--parallel", "8", "--wait", "60"}, 150s);
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_EQ(Count(run.out, kStranger), 0u) << "the stranger's claims are no cameras to upgrade\n" << run.out;
    for (int last = 101; last <= 105; ++last)
        EXPECT_NE(run.out.find("192.168.1." + std::to_string(last) + "\t升级成功"), std::string::npos) << run.out;
}

// What the rule must not do: hide cameras that share one card (the upgrade
// above made the PC resolve 192.168.1.104 and .105, both at the namespace's
// card), a camera readdressed, or a camera whose card the PC does not know.
TEST_F(Witness, CamerasBehindOneCardAReaddressedCameraAndUnknownSendersAreBelieved)
{
    for (const char* ip : {"192.168.1.101", "192.168.1.104", "192.168.1.105"})
        ASSERT_TRUE(CanConnect(ip, 8021)) << ip << ": the PC resolves its card";
    const auto expectAllOwn = [](const Json::Value& rows, size_t count) {
        EXPECT_EQ(rows.size(), count);
        for (const Json::Value& row : rows)
            EXPECT_FALSE(row["hearsay"].asBool()) << row;
    };
    const auto cardOf = [](const Json::Value& rows, const std::string& ip) {
        for (const Json::Value& row : rows)
            if (row["deviceIp"].asString() == ip)
                return row.get("senderHardware", "").asString();
        return std::string("no row");
    };
    const Json::Value known = CliSearchJson();
    expectAllOwn(known, 5);
    // The cases are the ones meant: one card for two cameras, and an own card.
    EXPECT_EQ(cardOf(known, "192.168.1.104"), cardOf(known, "192.168.1.105"));
    EXPECT_EQ(cardOf(known, "192.168.1.104").size(), 17u);
    EXPECT_EQ(cardOf(known, "192.168.1.101"), "00:1a:2b:00:00:01");

    // An unknown sender: a camera at an address the PC never resolved.
    CamsimProcess unknown;
    std::string error;
    Json::Value oneMore(Json::arrayValue);
    oneMore.append(SimCamera(120, "UNKNOWN", {{"mac", "00:1A:2B:00:00:20"}}));
    ASSERT_TRUE(unknown.StartCameras(oneMore, {}, &error)) << error;
    const Json::Value withUnknown = CliSearchJson();
    expectAllOwn(withUnknown, 6);
    EXPECT_EQ(cardOf(withUnknown, "192.168.1.120"), "") << "the PC has not resolved it";
    unknown.Stop();

    // Two cameras readdressed: one with a card of its own, one behind the
    // shared card; the PC learns their new addresses' cards.
    for (const auto& [mac, ip] : {std::pair{"00:1A:2B:00:00:01", "192.168.1.151"}, {"00:1A:2B:00:00:04", "192.168.1.154"}}) {
        const ProcessResult moved =
            RunCli({"set-ip", "--mac", mac, "--ip", ip, "--mask", "255.255.255.0", "--gateway", "192.168.1.1"}, 60s);
        ASSERT_EQ(moved.exitCode, 0) << moved.out << moved.err;
        EXPECT_TRUE(CanConnect(ip, 8021)) << ip;
    }
    const Json::Value rows = CliSearchJson();
    expectAllOwn(rows, 5);
    EXPECT_EQ(cardOf(rows, "192.168.1.151"), "00:1a:2b:00:00:01");
    EXPECT_EQ(cardOf(rows, "192.168.1.154"), cardOf(known, "192.168.1.104"));
    EXPECT_EQ(RowsWithIp(rows, "192.168.1.151"), 1);
    EXPECT_EQ(RowsWithIp(rows, "192.168.1.154"), 1);
    for (const auto& [mac, ip] : {std::pair{"00:1A:2B:00:00:01", "192.168.1.101"}, {"00:1A:2B:00:00:04", "192.168.1.104"}})
        RunCli({"set-ip", "--mac", mac, "--ip", ip, "--mask", "255.255.255.0", "--gateway", "192.168.1.1"}, 60s);
}
