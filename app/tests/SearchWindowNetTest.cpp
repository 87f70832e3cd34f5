// The window's search against the simulated cameras of a virtual LAN (run by
// tools/netlab with 8 cameras at 192.168.1.101 and up).
#include "app/tests/WindowTestSupport.h"

#include "kova_cpr.h"
#include "app/shell/DialogBuilder.h"
#include "app/shell/resource.h"

#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>

#include <gtest/gtest.h>

#include <functional>

namespace {

constexpr int kCameras = 8;

// The window with its own default search time (13 seconds).
class WindowSearch : public WindowInLan {
protected:
    WindowSearch() : WindowInLan({.searchSeconds = nullptr}) {}

    QPushButton* searchButton() { return lynx::res::GetDlgItemAs<QPushButton>(dlg, IDC_BTN_SEARCH); }
    void setSeconds(const QString& text) { lynx::res::GetDlgItemAs<QLineEdit>(dlg, IDC_EDIT_SEARCH_SECONDS)->setText(text); }
    int rows() { return dlg.listDevice()->GetItemCount(); }
};

std::string sdkCalls()
{
    char buffer[512];
    KOVA_CPR_ext_CallLog(buffer, sizeof buffer);
    return buffer;
}

} // namespace

TEST_F(WindowSearch, FindsEverySimulatedCameraAsANumberedRow)
{
    searchButton()->click();
    EXPECT_EQ(searchButton()->text(), QStringLiteral("停止"));
    EXPECT_EQ(dlg.searchSeconds(), 13);
    ASSERT_TRUE(WaitFor([&] { return rows() == kCameras; }, 5000)) << rows();
    QStringList ips;
    for (int r = 0; r < rows(); ++r) {
        EXPECT_EQ(dlg.listDevice()->GetItemText(r, 0), QString::number(r + 1));
        ips << dlg.listDevice()->GetItemText(r, 1);
    }
    ips.sort();
    for (int i = 0; i < kCameras; ++i)
        EXPECT_TRUE(ips.contains(QStringLiteral("192.168.1.%1").arg(101 + i))) << i;
    EXPECT_EQ(dlg.deviceCount(), kCameras);
    EXPECT_EQ(dlg.site().Table().Map().size(), size_t(kCameras));
    EXPECT_EQ(dlg.site().Table().List().size(), size_t(kCameras));
    searchButton()->click();  // stop
}

TEST_F(WindowSearch, TimesOutAfterTheEnteredSecondsPlusOne)
{
    for (const QString& entry : {QStringLiteral("0"), QStringLiteral(""), QStringLiteral("abc")}) {
        setSeconds(entry);
        KOVA_CPR_ext_ResetCallLog();
        QElapsedTimer clock;
        clock.start();
        searchButton()->click();
        EXPECT_EQ(dlg.searchSeconds(), 1) << entry.toStdString();
        ASSERT_TRUE(WaitFor([&] { return !dlg.isSearching(); }, 4000)) << entry.toStdString();
        // Never early, as a coarse timer may be (up to 5 %).
        EXPECT_GE(clock.elapsed(), 1000) << entry.toStdString();
        EXPECT_EQ(searchButton()->text(), QStringLiteral("搜索"));
        EXPECT_EQ(sdkCalls(), "StopSearch SetSearchCB");
    }
}

TEST_F(WindowSearch, AStopClickEndsAtOnceKeepsTheRowsAndNoTimeOutFollows)
{
    setSeconds("1");
    searchButton()->click();
    ASSERT_TRUE(WaitFor([&] { return rows() == kCameras; }, 5000));
    KOVA_CPR_ext_ResetCallLog();
    searchButton()->click();
    EXPECT_FALSE(dlg.isSearching());
    EXPECT_EQ(searchButton()->text(), QStringLiteral("搜索"));
    // The time-out would have come two seconds after the start: a fixed wait
    // past it, to see that it does not.
    Pump(2500);
    EXPECT_EQ(rows(), kCameras);
    // Neither the stop click nor a late time-out calls the camera SDK.
    EXPECT_EQ(sdkCalls(), "");
}

TEST_F(WindowSearch, AStartClickClearsEverythingAndNumbersRestartAtOne)
{
    searchButton()->click();
    ASSERT_TRUE(WaitFor([&] { return rows() == kCameras; }, 5000));
    searchButton()->click();
    dlg.site().SetStatus(dlg.listModel()->DeviceAt(0), {lynx::site::DeviceState::Succeeded});
    lynx::res::GetDlgItemAs<QCheckBox>(dlg, IDC_CHK_SELECT_ALL)->setChecked(true);
    searchButton()->click();
    EXPECT_EQ(rows(), 0);
    EXPECT_EQ(dlg.deviceCount(), 0);
    EXPECT_TRUE(dlg.site().Table().Map().empty());
    EXPECT_TRUE(dlg.site().Table().List().empty());
    EXPECT_FALSE(lynx::res::GetDlgItemAs<QCheckBox>(dlg, IDC_CHK_SELECT_ALL)->isChecked());
    ASSERT_TRUE(WaitFor([&] { return rows() == kCameras; }, 5000));
    EXPECT_EQ(dlg.listDevice()->GetItemText(0, 0), QStringLiteral("1"));
    EXPECT_EQ(dlg.listDevice()->GetItemText(0, 7), QString());
    searchButton()->click();
}

TEST_F(WindowSearch, AReportAfterTheTimeOutIsStillListed)
{
    setSeconds("0");
    searchButton()->click();
    ASSERT_TRUE(WaitFor([&] { return !dlg.isSearching(); }, 4000));
    const int before = rows();
    DeliverReport(ReportJson("192.168.1.250", "00:AA:BB:CC:DD:EE"));
    EXPECT_EQ(rows(), before + 1);
    EXPECT_EQ(dlg.listDevice()->GetItemText(before, 0), QString::number(before + 1));
}

TEST_F(WindowSearch, ListedCamerasShowEveryKindOfStatusCell)
{
    dlg.show();
    setSeconds("1");
    searchButton()->click();
    ASSERT_TRUE(WaitFor([&] { return rows() == kCameras && !dlg.isSearching(); }, 5000));
    dlg.OnLvnColumnclickList(0);
    dlg.OnLvnColumnclickList(0);  // ascending, 1 at the top
    using lynx::site::DeviceState;
    const lynx::site::DeviceStatus statuses[] = {
        {DeviceState::Upgrading, {}, 45},   {DeviceState::Succeeded, {}, 100},
        lynx::site::FailureOf(lynx::site::FailureReason::CameraFailed),
        {DeviceState::Waiting},             {DeviceState::Upgrading},
        {DeviceState::Sent, {}, 7},         {},
        {DeviceState::Upgrading, {}, 99}};
    for (int r = 0; r < kCameras; ++r)
        dlg.site().SetStatus(dlg.listModel()->DeviceAt(r), statuses[r]);
    dlg.listDevice()->SetCheck(1, true);
    dlg.listDevice()->SetCheck(2, true);
    QImage shot;
    auto count = [&](QColor colour) {
        int n = 0;
        for (int y = 0; y < shot.height(); ++y)
            for (int x = 0; x < shot.width(); ++x)
                n += shot.pixelColor(x, y) == colour;
        return n;
    };
    // Until the view has laid out the new cells and draws every kind of bar.
    WaitFor([&] {
        shot = dlg.grab().toImage();
        return count(QColor(0, 255, 0)) > 100 && count(QColor(255, 0, 0)) > 100 && count(QColor(21, 16, 240)) > 100;
    }, 3000);
    if (const char* path = getenv("LYNX_SCREENSHOT"))
        shot.save(QString::fromLocal8Bit(path));
    EXPECT_GT(count(QColor(0, 255, 0)), 100);     // the full green bar
    EXPECT_GT(count(QColor(255, 0, 0)), 100);     // the failure bar
    EXPECT_GT(count(QColor(21, 16, 240)), 100);   // bars in progress
}

TEST_F(WindowSearch, HostileBodiesOnBothPortsLeaveTheWindowListingTheGoodReportAfterThem)
{
    // This camera sends, before its good report, broken bodies (one of them a
    // thousand '[') as reports to 19027 and as notifications to 8025.
    Json::Value hostile(Json::arrayValue);
    hostile.append(Json::Value(Json::objectValue));
    hostile[0]["ip"] = "192.168.1.210";
    hostile[0]["mac"] = "02:66:00:00:00:10";
    hostile[0]["malformed"] = true;
    startCameras(hostile);

    searchButton()->click();
    ASSERT_TRUE(WaitFor([&] { return rows() == kCameras + 1; }, 5000)) << rows();
    QStringList ips;
    for (int r = 0; r < rows(); ++r)
        ips << dlg.listDevice()->GetItemText(r, 1);
    EXPECT_TRUE(ips.contains(QStringLiteral("192.168.1.210"))) << ips.join(' ').toStdString();
    EXPECT_FALSE(ips.join(' ').contains(QStringLiteral("10.99."))) << "a broken report became a row";
    searchButton()->click();
}

TEST(WindowSearchWithoutSdk, StillFindsTheCameras)
{
    setenv("KOVA_CPR_FAIL", "init", 1);
    ScriptedBoxes boxes;
    CLynxDlg dlg;
    unsetenv("KOVA_CPR_FAIL");
    dlg.Create();
    EXPECT_EQ(boxes.texts(), QStringList{QStringLiteral("SDK初始化失败！")});
    lynx::res::GetDlgItemAs<QPushButton>(dlg, IDC_BTN_SEARCH)->click();
    EXPECT_TRUE(WaitFor([&] { return dlg.listDevice()->GetItemCount() == kCameras; }, 5000));
}
