// A parking site's LAN is shared: another host on the cameras' segment
// (192.168.1.66) has searched it, knows every camera's identifier, address and
// MAC, and speaks in their names while Lynx upgrades them. It forges upgrade
// results and search reports, and holds a thousand idle connections to the
// firmware server. The window and lynx-cli believe only the cameras they
// asked, serve only them, and report the truth. And a firmware whose file name
// no URL may carry as it is reaches every camera.
#include "app/tests/WindowTestSupport.h"

#include "app/shell/DialogBuilder.h"
#include "app/shell/resource.h"

#include <QLineEdit>
#include <QPushButton>

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

namespace {

using namespace lynx::test;

constexpr const char* kForger = "192.168.1.66";
constexpr int kCameras = 6;

std::string CameraIp(int i)
{
    return "192.168.1." + std::to_string(101 + i);
}

Json::Value Cameras(const char* option = nullptr)
{
    Json::Value list(Json::arrayValue);
    for (int i = 0; i < kCameras; ++i)
        list.append(SimCamera(101 + i, "SH", {{"softwareVersion", "V1.0.0"}, {"restartMs", 0}}, option));
    return list;
}

// lynx-flood on the forging host, on a thread of its own.
struct Forger : BackgroundRun {
    Forger(uint16_t port, long count, std::chrono::seconds over, std::vector<std::string> kind)
        : BackgroundRun([=] { return RunFlood(kForger, port, count, std::to_string(over.count()), kind, over + 60s); })
    {
    }
};

// The window is made by each test, after what lynx-cli does alone.
class SharedLan : public WindowInLan {
protected:
    SharedLan() : WindowInLan({.create = false}) {}
    static void SetUpTestSuite()
    {
        if (InNetlab()) {
            ASSERT_TRUE(AddCameraSegmentHost(kForger));
        }
    }
    void SetUpInLan() override
    {
        WindowInLan::SetUpInLan();
        chosen = dir.File("cam-2.0.zip");
        ASSERT_TRUE(MakeFirmwareZip(chosen, 200000));
    }

    // What the forger learns with a search of its own.
    std::string forgersSearch()
    {
        const ProcessResult found = RunCli({"search", "--seconds", "1", "--format", "json"});
        EXPECT_EQ(found.exitCode, 0) << found.err;
        EXPECT_EQ(ParseJson(found.out).size(), static_cast<Json::ArrayIndex>(kCameras)) << found.out;
        const std::string file = dir.File("found.json");
        EXPECT_TRUE(WriteFile(file, found.out));
        return file;
    }

    // Every camera ticked and upgraded; true once the batch announced its end.
    bool windowBatch()
    {
        boxes.shown.clear();
        TickAllAndUpgrade(dlg);
        return WaitFor([&] { return completed(); }, 60000);
    }
};

} // namespace

// Run first: the window's firmware server is then the one on port 9000, and
// lynx-cli's own the one on 9001. More connections than a server without
// limits holds waiting (1,024) and in its backlog (256) together.
TEST_F(SharedLan, ThousandsOfIdleConnectionsFromAStrangerDelayNoCamera)
{
    constexpr long kIdle = 1300;
    const std::string kAllClosed = "1300 of 1300 closed by the server";
    startCameras(Cameras());
    dlg.Create();
    windowSearch(1);
    ASSERT_EQ(statuses().size(), static_cast<size_t>(kCameras));

    // The window's server, held by a stranger before the batch begins.
    {
        const std::string ready = dir.File("holding");
        Forger holder(9000, kIdle, 40s, {"--kind", "connections", "--ready", ready});
        ASSERT_TRUE(WaitFor([&] { return std::filesystem::exists(ready); }, 20000));
        EXPECT_TRUE(windowBatch()) << boxes.texts().join(" | ").toStdString();
        for (const auto& [ip, status] : statuses())
            EXPECT_EQ(status, QStringLiteral("升级成功")) << ip;
        const ProcessResult held = holder.Finish();
        EXPECT_EQ(held.exitCode, 0) << held.err;
        EXPECT_NE(held.out.find(kAllClosed), std::string::npos) << held.out;
    }

    // lynx-cli's, held as soon as it listens, while it searches.
    Forger holder(9001, kIdle, 30s, {"--kind", "connections"});
    const ProcessResult run =
        RunCli({"upgrade", "--file", chosen, "--seconds", "3", "--all", "--parallel", "6", "--wait", "60"}, 120s);
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    for (int i = 0; i < kCameras; ++i)
        EXPECT_NE(run.out.find(CameraIp(i) + "\t升级成功"), std::string::npos) << run.out;
    const ProcessResult held = holder.Finish();
    EXPECT_EQ(held.exitCode, 0) << held.err;
    EXPECT_NE(held.out.find(kAllClosed), std::string::npos) << held.out;
}

TEST_F(SharedLan, ForgedSuccessesLeaveFailingCamerasFailed)
{
    startCameras(Cameras("failInstall"));
    const std::string found = forgersSearch();

    // lynx-cli paced as the window is, one camera every 3 seconds: the forger
    // claims success for every camera, those not asked yet among them.
    const std::string report = dir.File("report.json");
    {
        Forger forger(8025, 4400, 22s, {"--kind", "notices", "--devices", found, "--status", "0"});
        const ProcessResult run =
            RunCli({"upgrade", "--file", chosen, "--seconds", "1", "--all", "--wait", "60", "--report", report},
                   120s);
        EXPECT_EQ(run.exitCode, 1) << run.out << run.err;
        // Every camera was told to download and did: its own report says
        // the install failed, which only a camera that got the file says.
        for (int i = 0; i < kCameras; ++i)
            EXPECT_NE(run.out.find(CameraIp(i) + "\t升级失败"), std::string::npos) << run.out;
        EXPECT_EQ(run.out.find("升级成功"), std::string::npos) << run.out;
        EXPECT_NE(run.out.find("总共:6    完成:6    成功:0    失败：6"), std::string::npos) << run.out;
        ASSERT_EQ(forger.Finish().exitCode, 0);
    }
    const Json::Value rows = ReadJsonFile(report);
    ASSERT_EQ(rows.size(), static_cast<Json::ArrayIndex>(kCameras));
    for (const Json::Value& row : rows)
        EXPECT_EQ(row["outcome"].asString(), "升级失败") << row.toStyledString();

    // The window, under the same forgery.
    dlg.Create();
    windowSearch(1);
    Forger forger(8025, 1200, 6s, {"--kind", "notices", "--devices", found, "--status", "0"});
    EXPECT_TRUE(windowBatch()) << boxes.texts().join(" | ").toStdString();
    for (const auto& [ip, status] : statuses())
        EXPECT_EQ(status, QStringLiteral("升级失败")) << ip;
    EXPECT_EQ(summary(), QStringLiteral("总共:6    完成:6    成功:0    失败：6"));
    ASSERT_EQ(forger.Finish().exitCode, 0);
}

TEST_F(SharedLan, ForgedFailuresAndVersionReportsChangeNoOutcome)
{
    // The cameras report success but come back with their old version; the
    // forger says they failed, and then that they run the new version.
    startCameras(Cameras());
    const std::string found = forgersSearch();
    const std::string report = dir.File("report.json");
    Forger failures(8025, 3000, 25s, {"--kind", "notices", "--devices", found, "--status", "1"});
    Forger claims(19027, 5000, 25s, {"--kind", "claims", "--devices", found, "--version", "V2.0.0"});
    const ProcessResult run =
        RunCli({"upgrade", "--file", chosen, "--seconds", "1", "--all", "--parallel", "3", "--verify",
                "--reboot-wait", "6", "--expect-version", "V2.0.0", "--report", report},
               120s);
    EXPECT_EQ(run.exitCode, 1) << run.out << run.err;
    for (int i = 0; i < kCameras; ++i)
        EXPECT_NE(run.out.find(CameraIp(i) + "\t升级成功"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("升级失败"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("verified: V2.0.0"), std::string::npos) << run.out;
    EXPECT_EQ(Count(run.out, "not verified: reported success but still runs V1.0.0"), static_cast<size_t>(kCameras))
        << run.out;
    const Json::Value rows = ReadJsonFile(report);
    ASSERT_EQ(rows.size(), static_cast<Json::ArrayIndex>(kCameras));
    for (const Json::Value& row : rows) {
        // The forger's reports came during the search too: the version before
        // is the camera's own.
        EXPECT_EQ(row["oldVersion"].asString(), "V1.0.0") << row.toStyledString();
        EXPECT_EQ(row["newVersion"].asString(), "V1.0.0") << row.toStyledString();
        EXPECT_EQ(row["outcome"].asString(), "reported success but still runs V1.0.0") << row.toStyledString();
    }
    EXPECT_EQ(failures.Finish().exitCode, 0);
    EXPECT_EQ(claims.Finish().exitCode, 0);
}

// The cameras' TCP receive buffers as small as an embedded device's, for the
// scope: what their TCP acknowledges is then what they have read, give or
// take the buffer, and not a whole firmware taken into a PC's large one.
class SmallCameraBuffers {
public:
    SmallCameraBuffers()
    {
        m_before = Sysctl({"-n", kName});
        while (!m_before.empty() && m_before.back() == '\n')
            m_before.pop_back();
        EXPECT_FALSE(m_before.empty());
        EXPECT_EQ(Sysctl({"-qw", std::string(kName) + "=4096 65536 131072"}), "");
    }
    ~SmallCameraBuffers()
    {
        if (!m_before.empty())
            Sysctl({"-qw", std::string(kName) + "=" + m_before});
    }
    SmallCameraBuffers(const SmallCameraBuffers&) = delete;
    SmallCameraBuffers& operator=(const SmallCameraBuffers&) = delete;

private:
    static constexpr const char* kName = "net.ipv4.tcp_rmem";
    static std::string Sysctl(const std::vector<std::string>& args)
    {
        std::vector<std::string> argv{"/usr/bin/env", "ip", "netns", "exec", CameraNamespace(), "sysctl"};
        argv.insert(argv.end(), args.begin(), args.end());
        const ProcessResult run = RunProcess(argv, 10s);
        EXPECT_EQ(run.exitCode, 0) << run.err;
        return run.out;
    }
    std::string m_before;
};

// A forger that speaks from each camera's own address, as a host that forges
// source addresses does: every notice of success claims the camera's own.
struct OwnAddressForger : Forger {
    OwnAddressForger(long count, std::chrono::seconds over, const std::string& found)
        : Forger(8025, count, over,
                 {"--kind", "notices", "--devices", found, "--status", "0", "--forge-source", "yes"})
    {
    }
};

TEST_F(SharedLan, SuccessesForgedFromTheCamerasOwnAddressesCountForNoCameraThatDidNotDownload)
{
    // Every camera's download breaks off: its link is too slow for its
    // time-out. Half of them then report the failure, half say nothing.
    const SmallCameraBuffers embedded;
    Json::Value list(Json::arrayValue);
    for (int i = 0; i < kCameras; ++i)
        list.append(SimCamera(101 + i, "SH", {{"softwareVersion", "V1.0.0"}, {"restartMs", 0}},
                              i % 2 ? "silentUpgrade" : nullptr));
    startCameras(list, {"--download-rate", "20000", "--download-timeout", "1"});
    ASSERT_TRUE(MakeFirmwareZip(chosen, 2000000));
    const std::string found = forgersSearch();
    const auto expected = [](int i) { return i % 2 ? "未下载固件，不予采信" : "下载或校验失败"; };

    const std::string report = dir.File("report.json");
    {
        OwnAddressForger forger(1500, 10s, found);
        const ProcessResult run = RunCli({"upgrade", "--file", chosen, "--seconds", "1", "--all", "--parallel", "6",
                                          "--wait", "8", "--report", report},
                                         120s);
        EXPECT_EQ(run.exitCode, 1) << run.out << run.err;
        for (int i = 0; i < kCameras; ++i)
            EXPECT_NE(run.out.find(CameraIp(i) + "\t" + expected(i)), std::string::npos) << run.out;
        EXPECT_EQ(run.out.find("升级成功"), std::string::npos) << run.out;
        EXPECT_NE(run.out.find("总共:6    完成:6    成功:0    失败：6"), std::string::npos) << run.out;
        const ProcessResult forged = forger.Finish();
        ASSERT_EQ(forged.exitCode, 0) << forged.err;
        EXPECT_NE(forged.out.find("from 6 forged sources"), std::string::npos) << forged.out;
    }
    const Json::Value rows = ReadJsonFile(report);
    ASSERT_EQ(rows.size(), static_cast<Json::ArrayIndex>(kCameras));
    for (const Json::Value& row : rows) {
        const int i = std::stoi(row["oldIp"].asString().substr(10)) - 101;
        EXPECT_EQ(row["outcome"].asString(), expected(i)) << row.toStyledString();
    }

    // The window, under the same forgery: the jobs without a download show
    // that their success is not believed, and every one counts as failed.
    dlg.Create();
    windowSearch(1);
    // Paced: the last camera is asked 15 seconds after the first.
    OwnAddressForger forger(2200, 22s, found);
    TickAllAndUpgrade(dlg);
    const auto allFailed = [&] {
        return summary() == QStringLiteral("总共:6    完成:6    成功:0    失败：6");
    };
    EXPECT_TRUE(WaitFor(allFailed, 60000)) << summary().toStdString();
    for (int i = 0; i < kCameras; ++i)
        EXPECT_EQ(statuses()[CameraIp(i)], QString::fromUtf8(expected(i))) << CameraIp(i);
    ASSERT_EQ(forger.Finish().exitCode, 0);
}

TEST_F(SharedLan, CamerasStillDownloadingWhenTheirSuccessIsForgedSucceedOnTheirOwnReport)
{
    // Each download takes ten seconds, far longer than a notice waits for
    // its download: the forged ones are disbelieved first, and the cameras'
    // own reports after their downloads are the outcome.
    const SmallCameraBuffers embedded;
    startCameras(Cameras(), {"--download-rate", "200000"});
    ASSERT_TRUE(MakeFirmwareZip(chosen, 2000000));
    const std::string found = forgersSearch();
    OwnAddressForger forger(2000, 14s, found);
    const ProcessResult run =
        RunCli({"upgrade", "--file", chosen, "--seconds", "1", "--all", "--parallel", "6", "--wait", "60"}, 120s);
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    // How soon a camera's TCP has taken the whole file depends on how its
    // HTTP client paces itself: at least one was still at it when its forged
    // success had waited out its grace.
    int disbelievedFirst = 0;
    for (int i = 0; i < kCameras; ++i) {
        const size_t disbelieved = run.out.find(CameraIp(i) + "\t未下载固件，不予采信");
        const size_t succeeded = run.out.find(CameraIp(i) + "\t升级成功");
        EXPECT_NE(succeeded, std::string::npos) << run.out;
        disbelievedFirst += disbelieved < succeeded ? 1 : 0;
    }
    EXPECT_GE(disbelievedFirst, 1) << run.out;
    EXPECT_NE(run.out.find("总共:6    完成:6    成功:6    失败：0"), std::string::npos) << run.out;
    ASSERT_EQ(forger.Finish().exitCode, 0);
}

TEST_F(SharedLan, AFirmwareNamedInChineseWithASpaceAndAHashReachesEveryCamera)
{
    startCameras(Cameras());
    chosen = dir.File("固件 V2#1.zip");
    ASSERT_TRUE(MakeFirmwareZip(chosen, 200000));
    const ProcessResult run =
        RunCli({"upgrade", "--file", chosen, "--seconds", "1", "--all", "--parallel", "6", "--wait", "60"}, 120s);
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_NE(run.out.find("总共:6    完成:6    成功:6    失败：0"), std::string::npos) << run.out;

    dlg.Create();
    windowSearch(1);
    EXPECT_TRUE(windowBatch()) << boxes.texts().join(" | ").toStdString();
    for (const auto& [ip, status] : statuses())
        EXPECT_EQ(status, QStringLiteral("升级成功")) << ip;
}
