// Faults in the middle of the work, in a virtual LAN: the cameras' cable is
// pulled during a search and during a download, a camera goes silent after
// accepting, a camera comes back from its upgrade at another address. The
// window stays responsive, every row ends in a truthful status, and lynx-cli
// ends within its --wait, naming the cameras that did not finish.
#include "app/tests/WindowTestSupport.h"

#include "app/shell/DialogBuilder.h"
#include "app/shell/resource.h"

#include <QLineEdit>
#include <QPushButton>

#include <gtest/gtest.h>

#include <map>
#include <set>

namespace {

using namespace lynx::test;
using Clock = std::chrono::steady_clock;

Json::Value Camera(int last, const char* option = nullptr, Json::Value value = true)
{
    return SimCamera(last, "FLT", {{"restartMs", 0}}, option, value);
}

// lynx-cli on a thread of its own, so that the test can pull the cable meanwhile.
struct CliRun : BackgroundRun {
    explicit CliRun(std::vector<std::string> args)
        : BackgroundRun([args = std::move(args)] { return RunCli(args, 120s); })
    {
    }
};

// The window is made by each test, after what lynx-cli does alone.
class Faults : public WindowInLan {
protected:
    Faults() : WindowInLan({.create = false}) {}
    void SetUpInLan() override
    {
        WindowInLan::SetUpInLan();
        chosen = dir.File("cam-5.0.zip");
        ASSERT_TRUE(MakeFirmwareZip(chosen, 4 << 20));
    }
    void TearDown() override
    {
        SetCameraLinkUp(true);
        WindowInLan::TearDown();
    }

    std::vector<std::string> upgradeArgs(const std::vector<int>& lasts, int wait) const
    {
        std::vector<std::string> args{"upgrade", "--file", chosen, "--seconds", "1", "--wait", std::to_string(wait)};
        for (int last : lasts)
            args.insert(args.end(), {"--ip", "192.168.1." + std::to_string(last)});
        return args;
    }

    void tickAllAndUpgrade()
    {
        boxes.shown.clear();
        TickAllAndUpgrade(dlg);
    }
};

const QString kSucceeded = QStringLiteral("升级成功");
const QString kUpgrading = QStringLiteral("升级中");

} // namespace

TEST_F(Faults, ACablePulledDuringASearchEndsItOnTimeWithOnlyTheCamerasHeard)
{
    Json::Value list(Json::arrayValue);
    for (int last = 101; last <= 108; ++last)
        list.append(Camera(last, "jitterMs", 2500));  // the answers spread over the search
    startCameras(list);
    const std::set<std::string> real{"192.168.1.101", "192.168.1.102", "192.168.1.103", "192.168.1.104",
                                     "192.168.1.105", "192.168.1.106", "192.168.1.107", "192.168.1.108"};
    dlg.Create();

    EventLoopWatch watch;
    lynx::res::GetDlgItemAs<QLineEdit>(dlg, IDC_EDIT_SEARCH_SECONDS)->setText("3");
    const auto start = Clock::now();
    lynx::res::GetDlgItemAs<QPushButton>(dlg, IDC_BTN_SEARCH)->click();
    ASSERT_TRUE(WaitFor([&] { return dlg.listDevice()->GetItemCount() >= 1; }, 3000));
    ASSERT_TRUE(SetCameraLinkUp(false));
    ASSERT_TRUE(WaitFor([&] { return !dlg.isSearching(); }, 8000));
    EXPECT_LT(Clock::now() - start, 5s);  // the search's 3 s and its one more
    const auto heard = statuses();
    EXPECT_GE(heard.size(), 1u);
    for (const auto& [ip, status] : heard)
        EXPECT_EQ(real.count(ip), 1u) << ip;
    EXPECT_LT(watch.LongestGapMs(), 1000);

    // lynx-cli, the cable pulled a second into its search.
    ASSERT_TRUE(SetCameraLinkUp(true));
    {
        const long before = UdpArrivals();
        CliRun search({"search", "--seconds", "3", "--format", "json"});
        ASSERT_TRUE(WaitUntil([&] { return UdpArrivals() > before; }, 5s, 5ms));  // the first answer
        ASSERT_TRUE(SetCameraLinkUp(false));
        const ProcessResult r = search.Finish();
        ASSERT_FALSE(r.timedOut);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        const Json::Value rows = ParseJson(r.out);
        ASSERT_TRUE(rows.isArray()) << r.out;
        EXPECT_LT(rows.size(), real.size());
        for (const Json::Value& row : rows)
            EXPECT_EQ(real.count(row["deviceIp"].asString()), 1u) << row["deviceIp"].asString();
    }

    // The cable back: the next search hears every camera again.
    ASSERT_TRUE(SetCameraLinkUp(true));
    windowSearch(3);
    EXPECT_EQ(statuses().size(), real.size());
}

TEST_F(Faults, ACablePulledDuringTheDownloadLeavesRowsUpgradingAndTheNextBatchSucceeds)
{
    // 4 MiB at 256 KiB a second: sixteen seconds of download, given up after
    // eight (lynx-cli asks the second camera three seconds after the first).
    startCameras([] {
        Json::Value list(Json::arrayValue);
        list.append(Camera(111));
        list.append(Camera(112));
        return list;
    }(), {"--download-rate", "262144", "--download-timeout", "8"});
    // Once both cameras of the batch (its round-th) are downloading, the cable
    // is out until both have given up. A report sent meanwhile may be lost or
    // come late; either way the row tells the truth.
    const auto pullDuringDownloads = [&](size_t round) {
        EXPECT_TRUE(WaitFor([&] { return Count(cameras.Log(), " accepted") >= 2 * round; }, 30000));
        EXPECT_TRUE(SetCameraLinkUp(false));
        EXPECT_TRUE(WaitFor([&] { return Count(cameras.Log(), "download or check failed") >= 2 * round; }, 20000));
        EXPECT_TRUE(SetCameraLinkUp(true));
    };

    const std::set<QString> truthful{kUpgrading, QStringLiteral("下载或校验失败")};
    // lynx-cli: ends within --wait, naming a camera whose report it never had.
    {
        const auto start = Clock::now();
        CliRun run(upgradeArgs({111, 112}, 12));
        pullDuringDownloads(1);
        const ProcessResult r = run.Finish();
        ASSERT_FALSE(r.timedOut) << r.out << r.err;
        EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
        EXPECT_LT(Clock::now() - start, 30s) << r.out;
        for (const char* ip : {"192.168.1.111", "192.168.1.112"}) {
            EXPECT_NE(r.out.find(std::string(ip) + "\t升级中"), std::string::npos) << r.out;
            EXPECT_NE(r.out.find(std::string(ip) + "\t未报告升级结果") == std::string::npos,
                      r.out.find(std::string(ip) + "\t下载或校验失败") == std::string::npos)
                << r.out;
            EXPECT_EQ(r.out.find(std::string(ip) + "\t升级成功"), std::string::npos) << r.out;
        }
        EXPECT_NE(r.out.find("成功:0"), std::string::npos) << r.out;
    }

    // The window: the rows stay "升级中" (no report came), the window answers.
    dlg.Create();
    windowSearch(1);
    ASSERT_EQ(statuses().size(), 2u);
    EventLoopWatch watch;
    tickAllAndUpgrade();
    pullDuringDownloads(2);
    // A report sent while the cable was out is lost or late: time enough for
    // a late one, over at once when both have come.
    WaitFor([&] { return completed(); }, 1500);
    int reported = 0;
    for (const auto& [ip, status] : statuses()) {
        EXPECT_EQ(truthful.count(status), 1u) << ip << " " << status.toStdString();
        reported += status != kUpgrading;
    }
    EXPECT_EQ(completed(), reported == 2);
    EXPECT_EQ(summary(), QStringLiteral("总共:2    完成:%1    成功:0    失败：%1").arg(reported));
    EXPECT_LT(watch.LongestGapMs(), 1000);

    // The cable back, the next batch downloads in full: nothing was left stuck.
    chosen = dir.File("cam-small.zip");
    ASSERT_TRUE(MakeFirmwareZip(chosen, 100000));
    tickAllAndUpgrade();
    ASSERT_TRUE(WaitFor([&] { return completed(); }, 30000)) << boxes.texts().join(" | ").toStdString();
    for (const auto& [ip, status] : statuses())
        EXPECT_EQ(status, kSucceeded) << ip;
    EXPECT_EQ(summary(), QStringLiteral("总共:2    完成:2    成功:2    失败：0"));
}

TEST_F(Faults, ASilentCameraAndOneThatReportsFromANewAddressAreNotCountedAsReported)
{
    Json::Value list(Json::arrayValue);
    list.append(Camera(101));
    list.append(Camera(102, "silentUpgrade"));
    list.append(Camera(103, "upgradeIp", "192.168.1.203"));
    startCameras(list);

    // lynx-cli: the moved camera reports from an address it was not asked at,
    // which anyone could; unheard, it is named with the silent one.
    const auto start = Clock::now();
    const ProcessResult r = RunCli(upgradeArgs({101, 102, 103}, 6), 60s);
    ASSERT_FALSE(r.timedOut) << r.out << r.err;
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
    EXPECT_LT(Clock::now() - start, 30s) << r.out;
    EXPECT_NE(r.out.find("192.168.1.101\t升级成功"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("192.168.1.102\t未报告升级结果"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("192.168.1.103\t未报告升级结果"), std::string::npos) << r.out;
    EXPECT_EQ(Count(r.out, "升级成功"), 1u) << r.out;
    const Json::Value found = CliSearchJson();
    EXPECT_EQ(RowsWithIp(found, "192.168.1.203"), 1);
    EXPECT_EQ(RowsWithIp(found, "192.168.1.103"), 0);

    // The window, with the cameras as they are now (the third back at .103 first).
    cameras.Stop();
    startCameras(list);
    dlg.Create();
    windowSearch(1);
    ASSERT_EQ(statuses().size(), 3u);
    EventLoopWatch watch;
    tickAllAndUpgrade();
    ASSERT_TRUE(WaitFor([&] { return statuses()["192.168.1.101"] == kSucceeded; }, 20000));
    // The moved camera has reported, from its new address.
    ASSERT_TRUE(WaitFor([&] { return cameras.Log().find("device FLT103: status 0 sent") != std::string::npos; }, 20000))
        << cameras.Log();
    // A fixed wait: its report is on its way, and must not count.
    Pump(1000);
    const auto now = statuses();
    EXPECT_EQ(now.at("192.168.1.102"), kUpgrading);
    EXPECT_EQ(now.at("192.168.1.103"), kUpgrading);
    EXPECT_FALSE(completed());
    // The two still upgrading have not ended.
    EXPECT_EQ(summary(), QStringLiteral("总共:3    完成:1    成功:1    失败：0"));
    EXPECT_LT(watch.LongestGapMs(), 1000);
}
