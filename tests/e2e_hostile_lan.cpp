// A hostile LAN: while the window and lynx-cli work with 50 simulated
// cameras, another host on the cameras' segment floods the tool's ports with
// 100,000 datagrams of every broken kind (tools/flood). Every real camera is
// listed, every real notification lands on its row, nothing crashes or hangs.
#include "app/tests/WindowTestSupport.h"

#include "app/shell/DialogBuilder.h"
#include "app/shell/resource.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>

#include <gtest/gtest.h>

#include <set>

namespace {

using namespace lynx::test;

constexpr int kCameras = 50;
constexpr long kFlood = 100000;
// The flooding host: an address of its own beside the cameras.
constexpr const char* kFlooder = "192.168.1.250";

std::string CameraIp(int i)
{
    return "192.168.1." + std::to_string(101 + i);
}

// lynx-flood in the camera namespace, spread over the given time, on a thread
// of its own; Finish waits for it. Constructed, it returns once the flood is
// arriving.
class Flood : public BackgroundRun {
public:
    Flood(uint16_t port, std::chrono::milliseconds spread) : Flood(port, spread, UdpArrivals()) {}

private:
    Flood(uint16_t port, std::chrono::milliseconds spread, long before)
        : BackgroundRun([port, spread] {
              return RunFlood(kFlooder, port, kFlood, std::to_string(spread.count() / 1000.0), {}, spread + 60s);
          })
    {
        WaitUntil([&] { return UdpArrivals() - before > 1000; }, 10s, 5ms);
    }
};

// The window is made by each test, while or after the flood comes.
class HostileLan : public WindowInLan {
protected:
    HostileLan() : WindowInLan({.create = false}) {}
    static void SetUpTestSuite()
    {
        if (InNetlab()) {
            ASSERT_TRUE(AddCameraSegmentHost(kFlooder));
        }
    }

    QStringList windowIps() const
    {
        QStringList ips;
        for (int r = 0; r < dlg.listDevice()->GetItemCount(); ++r)
            ips << dlg.listDevice()->GetItemText(r, 1);
        return ips;
    }
};

void ExpectEveryCameraOnce(const std::vector<std::string>& ips)
{
    std::multiset<std::string> listed(ips.begin(), ips.end());
    for (int i = 0; i < kCameras; ++i)
        EXPECT_EQ(listed.count(CameraIp(i)), 1u) << CameraIp(i);
    // A report without the report marker is never listed.
    for (const std::string& ip : ips)
        EXPECT_NE(ip.rfind("10.252.", 0), 0u) << ip;
}

} // namespace

TEST_F(HostileLan, TheWindowListsEveryCameraWhileTheReportPortIsFlooded)
{
    dlg.Create();
    EventLoopWatch watch;
    Flood flood(19027, 3000ms);
    windowSearch(3);
    const ProcessResult sent = flood.Finish();
    ASSERT_EQ(sent.exitCode, 0) << sent.err;
    std::vector<std::string> ips;
    for (const QString& ip : windowIps())
        ips.push_back(ip.toStdString());
    ExpectEveryCameraOnce(ips);
    // Busy, never frozen: the flood is applied in slices between other events.
    EXPECT_LT(watch.LongestGapMs(), 1000);
    // And the window searches as before once it is over.
    windowSearch(1);
    EXPECT_EQ(dlg.listDevice()->GetItemCount(), kCameras);
}

TEST_F(HostileLan, LynxCliListsEveryCameraWhileTheReportPortIsFlooded)
{
    Flood flood(19027, 3000ms);
    const ProcessResult search = RunCli({"search", "--seconds", "3", "--format", "json"}, 30s);
    const ProcessResult sent = flood.Finish();
    ASSERT_EQ(sent.exitCode, 0) << sent.err;
    ASSERT_FALSE(search.timedOut);
    ASSERT_EQ(search.exitCode, 0) << search.err;
    const Json::Value rows = ParseJson(search.out);
    ASSERT_TRUE(rows.isArray()) << search.out.substr(0, 500);
    std::vector<std::string> ips;
    for (const Json::Value& row : rows)
        ips.push_back(row["deviceIp"].asString());
    ExpectEveryCameraOnce(ips);
}

TEST_F(HostileLan, NotificationsLandOnTheirRowsWhilePort8025IsFlooded)
{
    // Forged replies among the flood name rows 0 to 63 by their tags; a reply
    // counts only from the camera the request went to.
    chosen = dir.File("cam-4.0.zip");
    ASSERT_TRUE(MakeFirmwareZip(chosen, 100000));
    std::vector<std::string> args{"upgrade", "--file", chosen, "--seconds", "2", "--wait", "60"};
    for (int i = 0; i < 5; ++i)
        args.insert(args.end(), {"--ip", CameraIp(i)});
    Flood flood(8025, 20000ms);
    const ProcessResult run = RunCli(args, 120s);
    const ProcessResult sent = flood.Finish();
    ASSERT_EQ(sent.exitCode, 0) << sent.err;
    ASSERT_FALSE(run.timedOut) << run.out << run.err;
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    std::set<QString> upgraded;
    for (int i = 0; i < 5; ++i) {
        EXPECT_NE(run.out.find(CameraIp(i) + "\t升级成功"), std::string::npos) << run.out;
        EXPECT_EQ(run.out.find(CameraIp(i) + "\t设备未就绪"), std::string::npos) << run.out;
        upgraded.insert(QString::fromStdString(CameraIp(i)));
    }
    EXPECT_NE(run.out.find("总共:5    完成:5    成功:5    失败：0"), std::string::npos) << run.out;

    // The window's batch, under the same flood.
    dlg.Create();
    windowSearch(1);
    CProcessList* list = dlg.listDevice();
    for (int r = 0; r < list->GetItemCount(); ++r)
        list->SetCheck(r, upgraded.count(list->GetItemText(r, 1)) > 0);
    EventLoopWatch watch;
    Flood again(8025, 8000ms);
    lynx::res::GetDlgItemAs<QPushButton>(dlg, IDC_BTN_BATCH_UPGRADE)->click();
    EXPECT_TRUE(WaitFor([&] { return completed(); }, 30000))
        << boxes.texts().join(" | ").toStdString();
    ASSERT_EQ(again.Finish().exitCode, 0);
    for (int r = 0; r < list->GetItemCount(); ++r) {
        if (upgraded.count(list->GetItemText(r, 1))) {
            EXPECT_EQ(list->GetItemText(r, 7), QStringLiteral("升级成功")) << r;
        }
    }
    EXPECT_EQ(summary(), QStringLiteral("总共:5    完成:5    成功:5    失败：0"));
    EXPECT_LT(watch.LongestGapMs(), 1000);
}
