// lynx-cli's text outputs in a virtual LAN where cameras' texts carry
// terminal control sequences: no table, CSV, watch line or message passes
// one on raw, and check's table stays small beside a huge label.
#include "NetlabFixture.h"
#include "RawControls.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

using namespace lynx::test;

// Erases the line above, sets the window's title, clears the screen.
constexpr const char* kEraseAbove = "\x1b[1A\x1b[2K";
constexpr const char* kTitle = "\x1b]0;owned\x07";
constexpr const char* kClear = "\x1b[2J\x1b[H";
constexpr const char* kPlainMac = "02:00:5E:10:00:41";

class CliTextOutput : public NetlabTest {
protected:
    void startHostileCameras()
    {
        Json::Value list(Json::arrayValue);
        list.append(SimCamera(141, "TXT",
                              {{"mac", kPlainMac}, {"model", kEraseAbove}, {"name", kClear}, {"softwareVersion", kTitle}}));
        list.append(SimCamera(142, "TXT", {{"mac", std::string("02:00:5E:10:00:42") + kClear}}));
        startCameras(list);
    }

    // allowed: the controls lynx-cli writes itself (line ends, upgrade's tabs).
    static void ExpectNothingRaw(const ProcessResult& r, const std::string& what, const char* allowed = "\n")
    {
        EXPECT_FALSE(r.timedOut) << what;
        EXPECT_EQ(RawControls(r.out, allowed), "") << what << ":\n" << r.out;
        EXPECT_EQ(RawControls(r.err), "") << what << ":\n" << r.err;
    }
};

TEST_F(CliTextOutput, ControlSequencesInACamerasTextsAreShownAsTextInEveryTextOutput)
{
    startHostileCameras();
    const std::string site = dir.Write("site.csv", std::string("mac,label\n") + kPlainMac + ",\"B2\x1b[2J\"\n");
    const struct {
        std::vector<std::string> args;
        const char* lineEnds;
        const char* shown;  // what must be in the output instead of the sequence
    } runs[] = {
        {{"search", "--seconds", "2"}, "\n", "\\x1b[1A\\x1b[2K"},
        {{"search", "--seconds", "2", "--format", "csv"}, "\r\n", "\\x1b]0;owned\\x07"},
        {{"watch", "--interval", "1", "--duration", "3"}, "\n", "02:00:5E:10:00:42\\x1b[2J\\x1b[H"},
        {{"watch", "--interval", "1", "--duration", "3", "--site", site}, "\n", "B2\\x1b[2J"},
        {{"check", "--site", site, "--seconds", "2"}, "\n", "B2\\x1b[2J"},
        {{"check", "--site", site, "--seconds", "2", "--format", "csv"}, "\r\n", "\\x1b]0;owned\\x07"},
    };
    for (const auto& run : runs) {
        std::string what;
        for (const std::string& arg : run.args)
            what += arg + " ";
        const ProcessResult r = RunCli(run.args, 60s);
        ExpectNothingRaw(r, what, run.lineEnds);
        EXPECT_NE(r.out.find(run.shown), std::string::npos) << what << ":\n" << r.out;
    }
}

TEST_F(CliTextOutput, ChecksTableStaysSmallBesideAHugeLabelAndManyCameras)
{
    // 150 cameras the site does not plan, and a planned one, not there, with
    // a label of a megabyte: each row is padded to its cells' bounds only.
    Json::Value list(Json::arrayValue);
    for (int i = 0; i < 150; ++i) {
        char mac[18];
        std::snprintf(mac, sizeof mac, "02:00:5E:11:00:%02X", i);
        list.append(SimCamera(101 + i, "MANY", {{"mac", mac}}));
    }
    startCameras(list);
    const std::string label(1 << 20, 'L');
    const std::string site = dir.Write("site.csv", "mac,label\n02:00:5E:10:00:4F," + label + "\n");
    const ProcessResult r = RunCli({"check", "--site", site, "--seconds", "3"}, 120s);
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_GE(Count(r.out, "02:00:5E:11:00:"), 150u) << r.err;
    EXPECT_LT(r.out.size(), 151u * 512) << "bytes: " << r.out.size();
    EXPECT_EQ(Count(r.out, label.substr(0, 1000)), 0u) << "the label is cut in the table";
}

TEST_F(CliTextOutput, UpgradesAndAssignsLinesShowTheCamerasTextsAsText)
{
    Json::Value list(Json::arrayValue);
    const std::string hostileMac = std::string("02:00:5E:10:00:45") + kClear;
    list.append(SimCamera(145, "TXT", {{"mac", hostileMac}, {"newVersion", kTitle}, {"restartMs", 300}}));
    // Says it succeeded and keeps its version, which erases the line above.
    list.append(SimCamera(146, "TXT", {{"softwareVersion", kEraseAbove}, {"newVersion", ""}, {"restartMs", 300}}));
    startCameras(list);
    const std::string firmware = dir.File("cam-3.0.zip");
    ASSERT_TRUE(MakeFirmwareZip(firmware, 100000));
    const ProcessResult upgrade = RunCli({"upgrade", "--file", firmware, "--all", "--seconds", "2", "--wait", "60",
                                          "--verify", "--reboot-wait", "10"},
                                         120s);
    ExpectNothingRaw(upgrade, "upgrade", "\n\t");
    EXPECT_NE(upgrade.out.find("verified: \\x1b]0;owned\\x07 at 192.168.1.145"), std::string::npos) << upgrade.out;
    EXPECT_NE(upgrade.out.find("still runs \\x1b[1A\\x1b[2K"), std::string::npos) << upgrade.out;
    EXPECT_NE(upgrade.out.find("02:00:5E:10:00:45\\x1b[2J\\x1b[H\t"), std::string::npos) << upgrade.out;

    // The plan names the camera by its MAC as it reports it.
    const std::string plan = dir.Write("plan.csv", "mac,ip,mask,gateway\n\"" + hostileMac +
                                                       "\",192.168.1.150,255.255.255.0,192.168.1.1\n");
    const ProcessResult assign = RunCli({"assign", "--plan", plan, "--dry-run", "--seconds", "2"});
    ExpectNothingRaw(assign, "assign --dry-run");
    EXPECT_NE(assign.out.find("02:00:5E:10:00:45\\x1b[2J\\x1b[H  192.168.1.145 -> 192.168.1.150"), std::string::npos)
        << assign.out;
}

TEST_F(CliTextOutput, TheFaultsOfAFileShowItsControlCharactersAsText)
{
    // Refused before anything is sent; a file may hold what a camera sent.
    const std::string site = dir.Write("site.csv", std::string("mac\n\"02:00:5E\x1b[2J\"\n"));
    const ProcessResult check = RunCli({"check", "--site", site});
    EXPECT_EQ(check.exitCode, 2) << check.err;
    ExpectNothingRaw(check, "check with a bad site file");
    EXPECT_NE(check.err.find("02:00:5E\\x1b[2J"), std::string::npos) << check.err;

    const std::string plan =
        dir.Write("plan.csv", std::string("mac,ip,mask,gateway\n02:00:5E:10:00:41,\"1\x1b]0;x\x07\",255.255.255.0,192.168.1.1\n"));
    const ProcessResult assign = RunCli({"assign", "--plan", plan, "--dry-run"});
    EXPECT_EQ(assign.exitCode, 2) << assign.err;
    ExpectNothingRaw(assign, "assign with a bad plan");
    // Quoted as the language the command speaks quotes (Chinese here).
    EXPECT_NE(assign.err.find("“1\\x1b]0;x\\x07”"), std::string::npos) << assign.err;
}

} // namespace
