// The window on a site being commissioned, in a virtual LAN: two cameras given
// one address are marked, the list is exported for the site's records, the
// window grows, and a batch's cameras are checked for their new version.
#include "app/tests/WindowTestSupport.h"

#include "app/shell/PopupMenu.h"
#include "platform/Registry.h"
#include "app/shell/DialogBuilder.h"
#include "app/shell/resource.h"

#include <QCheckBox>
#include <QFile>
#include <QPushButton>
#include <QTest>
#include <QTime>

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

using namespace lynx::test;

Json::Value Camera(const std::string& ip, const std::string& mac, const std::string& id)
{
    Json::Value camera(Json::objectValue);
    camera["ip"] = ip;
    camera["mac"] = mac;
    camera["deviceId"] = id;
    camera["installMs"] = 200;
    camera["restartMs"] = 0;
    return camera;
}

class SiteWindow : public WindowInLan {
protected:
    void SetUpInLan() override
    {
        WindowInLan::SetUpInLan();
        previousMenu = lynx::platform::SetPopupMenuHandler([this](const lynx::platform::MenuItems& items) {
            menu = items;
            return menuChoice;
        });
    }
    void TearDown() override
    {
        WindowInLan::TearDown();
        lynx::platform::SetPopupMenuHandler(previousMenu);
        setenv("LYNX_VERIFY_AFTER_UPGRADE", "0", 1);
    }
    // The version check after a batch on, with its delay and length.
    void checkVersionsAfterBatches(uint32_t rebootSeconds, uint32_t searchSeconds)
    {
        setenv("LYNX_VERIFY_AFTER_UPGRADE", "1", 1);
        auto key = lynx::platform::RegistryKey::Create("Software\\Kova\\Harbor");
        ASSERT_TRUE(key);
        key->SetDword("VerifyRebootSeconds", rebootSeconds);
        key->SetDword("VerifySearchSeconds", searchSeconds);
    }
    void search(bool hideSameIp)
    {
        lynx::res::GetDlgItemAs<QCheckBox>(dlg, IDC_CHK_HIDE_SAME_IP)->setChecked(hideSameIp);
        windowSearch(1);
    }
    int rowOf(const QString& mac, int skip = 0) const
    {
        for (int r = 0; r < dlg.listDevice()->GetItemCount(); ++r)
            if (dlg.listDevice()->GetItemText(r, 2) == mac && skip-- == 0)
                return r;
        return -1;
    }

    lynx::platform::MenuItems menu;
    int menuChoice = 0;
    lynx::platform::PopupMenuHandler previousMenu;
};

// The watch's interval as the window has it, restored after the test.
struct IntervalRestored {
    ~IntervalRestored() { CLynxDlg::SetMonitorIntervalForTesting(0); }
};

TEST_F(SiteWindow, TwoCamerasOnOneAddressAreMarkedAndOneAnsweringTwiceIsNot)
{
    Json::Value list(Json::arrayValue);
    list.append(Camera("192.168.1.101", "00:1A:2B:00:02:01", "S1"));
    list.append(Camera("192.168.1.101", "00:1A:2B:00:02:02", "S2"));
    Json::Value twice = Camera("192.168.1.102", "00:1A:2B:00:02:03", "S3");
    twice["answerTwice"] = true;
    list.append(twice);
    startCameras(list);
    lynx::res::GetDlgItemAs<QCheckBox>(dlg, IDC_CHK_HIDE_SAME_MAC)->setChecked(false);

    search(false);
    ASSERT_EQ(dlg.listDevice()->GetItemCount(), 4);
    CProcessList* rows = dlg.listDevice();
    const QColor warning(DeviceListModel::kConflictColor);
    for (const auto& [mac, other] : {std::pair{"00:1A:2B:00:02:01", "00:1A:2B:00:02:02"},
                                     std::pair{"00:1A:2B:00:02:02", "00:1A:2B:00:02:01"}}) {
        const int r = rowOf(QString::fromLatin1(mac));
        ASSERT_GE(r, 0) << mac;
        EXPECT_EQ(rows->GetItemBackground(r, 1), warning) << mac;
        EXPECT_TRUE(rows->GetItemToolTip(r, 1).startsWith(QStringLiteral("IP冲突：") + QString::fromLatin1(other)))
            << rows->GetItemToolTip(r, 1).toStdString();
        EXPECT_TRUE(rows->GetItemToolTip(r, 1).contains(QStringLiteral("eth0 (192.168.1.100)")));
    }
    for (int skip : {0, 1}) {
        const int r = rowOf(QStringLiteral("00:1A:2B:00:02:03"), skip);
        ASSERT_GE(r, 0);
        EXPECT_FALSE(rows->GetItemBackground(r, 1).isValid());
        EXPECT_FALSE(rows->GetItemToolTip(r, 1).contains(QStringLiteral("IP冲突")));
    }
    // The same search with "屏蔽IP相同" ticked lists one camera per address: no mark.
    search(true);
    ASSERT_EQ(rows->GetItemCount(), 2);
    for (int r = 0; r < 2; ++r)
        EXPECT_FALSE(rows->GetItemBackground(r, 1).isValid()) << r;
}

TEST_F(SiteWindow, TheExportHoldsEveryRowAsShownForSpreadsheets)
{
    Json::Value list(Json::arrayValue);
    Json::Value quoted = Camera("192.168.1.101", "00:1A:2B:00:03:01", "E1");
    quoted["model"] = "KV,\"PG\"";
    list.append(quoted);
    Json::Value formula = Camera("192.168.1.102", "00:1A:2B:00:03:02", "E2");
    formula["model"] = "=1+2";
    list.append(formula);
    startCameras(list);
    search(true);
    ASSERT_EQ(dlg.listDevice()->GetItemCount(), 2);
    dlg.site().SetStatus(dlg.listModel()->DeviceAt(rowOf(QStringLiteral("00:1A:2B:00:03:01"))), {lynx::site::DeviceState::Succeeded});

    // Below the last row, the menu offers the export first, then the site
    // file and the watch.
    chosen = dir.File("site.csv");
    menuChoice = ID_MENU_EXPORT_LIST;
    dlg.OnNMRClickList(-1);
    ASSERT_EQ(menu.size(), 3u);
    EXPECT_EQ(menu[0].second, QStringLiteral("导出列表…"));
    EXPECT_EQ(menu[1].second, QStringLiteral("载入站点清单…"));
    EXPECT_EQ(menu[2].second, QStringLiteral("持续监视"));
    EXPECT_TRUE(fileRequest.save);
    QFile file(QString::fromStdString(chosen));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    ASSERT_TRUE(bytes.startsWith("\xEF\xBB\xBF"));
    const QStringList lines = QString::fromUtf8(bytes.mid(3)).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 3) << bytes.toStdString();
    EXPECT_EQ(lines[0], QStringLiteral("序号,设备IP,MAC地址,网关地址,子网掩码,设备型号,软件版本,状态,网卡"));
    EXPECT_TRUE(lines.filter(QStringLiteral("00:1A:2B:00:03:01,")).value(0).contains(
        QStringLiteral(",\"KV,\"\"PG\"\"\",V1.0.3 build[2018-11-07],升级成功,eth0 (192.168.1.100)")))
        << bytes.toStdString();
    EXPECT_TRUE(lines.filter(QStringLiteral("00:1A:2B:00:03:02,")).value(0).contains(QStringLiteral(",'=1+2,")))
        << bytes.toStdString();

    // On a row: the two entries of before, then the export.
    menuChoice = 0;
    dlg.OnNMRClickList(0);
    ASSERT_EQ(menu.size(), 5u);
    EXPECT_EQ(menu[2].first, ID_MENU_EXPORT_LIST);
}

// Every cell of the list as the user sees it: text, tool tip, colours, tick.
QStringList ListAsShown(const CLynxDlg& dlg)
{
    QStringList cells;
    const DeviceListModel& model = *dlg.listModel();
    for (int r = 0; r < model.rowCount(); ++r)
        for (int c = 0; c < model.columnCount(); ++c)
            for (int role : {int(Qt::DisplayRole), int(Qt::ToolTipRole), int(Qt::ForegroundRole), int(Qt::BackgroundRole),
                             int(Qt::CheckStateRole), DeviceListModel::PercentRole, DeviceListModel::FailedRole})
                cells << model.index(r, c).data(role).toString() + QLatin1Char('|') +
                             model.index(r, c).data(role).typeName();
    return cells;
}

TEST_F(SiteWindow, ASiteFileMarksHowEachCameraDiffersListsTheMissingGreyAndGoesWithoutATrace)
{
    Json::Value list(Json::arrayValue);
    list.append(Camera("192.168.1.101", "00:1A:2B:00:06:01", "P1"));  // as planned
    list.append(Camera("192.168.1.102", "00:1A:2B:00:06:02", "P2"));  // planned at .120
    list.append(Camera("192.168.1.103", "00:1A:2B:00:06:03", "P3"));  // planned on V2.0.0
    list.append(Camera("192.168.1.104", "00:1A:2B:00:06:04", "P4"));  // not planned
    startCameras(list);
    search(true);
    ASSERT_EQ(dlg.listDevice()->GetItemCount(), 4);
    const QStringList plain = ListAsShown(dlg);

    // A file with faults is refused, each named, and nothing is loaded.
    dir.Write("bad.csv", "mac,ip,label\n00:1A:2B:00:06:01,192.168.1.101,B1\nnot-a-mac,192.168.1.300,B2\n");
    chosen = dir.File("bad.csv");
    menuChoice = ID_MENU_LOAD_SITE;
    dlg.OnNMRClickList(-1);
    EXPECT_FALSE(dlg.siteFileLoaded());
    ASSERT_FALSE(boxes.texts().isEmpty());
    EXPECT_TRUE(boxes.texts().last().contains(QStringLiteral("第 3 行，mac 列"))) << boxes.texts().last().toStdString();
    EXPECT_TRUE(boxes.texts().last().contains(QStringLiteral("第 3 行，ip 列"))) << boxes.texts().last().toStdString();
    EXPECT_EQ(ListAsShown(dlg), plain);

    dir.Write("site.csv", "mac,ip,mask,gateway,softwareVersion,label\n"
                          "00:1A:2B:00:06:01,192.168.1.101,255.255.255.0,192.168.1.1,V1.0.3,B1-001\n"
                          "00:1A:2B:00:06:02,192.168.1.120,255.255.255.0,192.168.1.1,,B1-002\n"
                          "00:1A:2B:00:06:03,192.168.1.103,255.255.255.0,192.168.1.1,V2.0.0,B1-003\n"
                          "00:1A:2B:00:06:09,192.168.1.109,255.255.255.0,192.168.1.1,,B1-009\n");
    chosen = dir.File("site.csv");
    dlg.OnNMRClickList(-1);
    ASSERT_TRUE(dlg.siteFileLoaded());
    CProcessList* rows = dlg.listDevice();
    ASSERT_EQ(rows->GetItemCount(), 5);
    const auto status = [&](const char* mac) { return rows->GetItemText(rowOf(QString::fromLatin1(mac)), 7); };
    EXPECT_EQ(status("00:1A:2B:00:06:01"), QString());
    EXPECT_EQ(status("00:1A:2B:00:06:02"), QStringLiteral("地址不符"));
    EXPECT_EQ(status("00:1A:2B:00:06:03"), QStringLiteral("版本不符"));
    EXPECT_EQ(status("00:1A:2B:00:06:04"), QStringLiteral("多余"));
    const QString planTip = rows->GetItemToolTip(rowOf(QStringLiteral("00:1A:2B:00:06:02")), 7);
    EXPECT_TRUE(planTip.contains(QStringLiteral("IP 192.168.1.120"))) << planTip.toStdString();
    EXPECT_TRUE(planTip.contains(QStringLiteral("B1-002"))) << planTip.toStdString();
    EXPECT_TRUE(rows->GetItemToolTip(rowOf(QStringLiteral("00:1A:2B:00:06:03")), 7).contains(QStringLiteral("版本 V2.0.0")));
    // The planned camera not heard: last, grey, at its planned address, not tickable.
    const int missing = rowOf(QStringLiteral("00:1A:2B:00:06:09"));
    EXPECT_EQ(missing, 4);
    EXPECT_EQ(rows->GetItemText(missing, 1), QStringLiteral("192.168.1.109"));
    EXPECT_EQ(rows->GetItemText(missing, 7), QStringLiteral("未找到"));
    EXPECT_EQ(rows->GetItemText(missing, 0), QString());
    EXPECT_EQ(dlg.listModel()->index(missing, 2).data(Qt::ForegroundRole).value<QBrush>().color(), QColor(128, 128, 128));
    EXPECT_FALSE(dlg.listModel()->flags(dlg.listModel()->index(missing, 0)) & Qt::ItemIsUserCheckable);
    const auto counts = [&] { return lynx::res::GetDlgItem(dlg, IDC_STATIC_SITE_COUNTS)->property("text").toString(); };
    EXPECT_EQ(counts(), QStringLiteral("应有 4 台 · 正常 1 · 地址不符 1 · 版本不符 1 · 未找到 1 · 多余 1"));
    // The IP cell says when the camera last answered.
    EXPECT_TRUE(rows->GetItemToolTip(0, 1).contains(QStringLiteral("最后应答：")));

    // A sort keeps the planned camera's row last; the export leaves it out.
    dlg.OnLvnColumnclickList(2);
    EXPECT_EQ(rowOf(QStringLiteral("00:1A:2B:00:06:09")), 4);
    chosen = dir.File("export.csv");
    menuChoice = ID_MENU_EXPORT_LIST;
    dlg.OnNMRClickList(-1);
    QFile exported(QString::fromStdString(chosen));
    ASSERT_TRUE(exported.open(QIODevice::ReadOnly));
    EXPECT_FALSE(exported.readAll().contains("00:1A:2B:00:06:09"));
    // Back to the order of numbers (a second click turns a column's order round).
    while (dlg.listDevice()->GetItemText(0, 0) != QStringLiteral("1"))
        dlg.OnLvnColumnclickList(0);

    // Unloaded, the list is the plain list again, cell for cell.
    menuChoice = ID_MENU_UNLOAD_SITE;
    dlg.OnNMRClickList(0);
    EXPECT_FALSE(dlg.siteFileLoaded());
    EXPECT_EQ(counts(), QString());
    EXPECT_EQ(ListAsShown(dlg), plain);
}

TEST_F(SiteWindow, WatchingGreysACameraSilentForThreeSearchesAndBringsItBackOnOneRow)
{
    IntervalRestored restored;
    CLynxDlg::SetMonitorIntervalForTesting(300);
    Json::Value list(Json::arrayValue);
    list.append(Camera("192.168.1.101", "00:1A:2B:00:07:01", "W1"));
    list.append(Camera("192.168.1.102", "00:1A:2B:00:07:02", "W2"));
    // The second camera is unplugged 2 s after the start, for 4 s.
    startCameras(list, {"--leave", "2@2000+4000"});
    dir.Write("site.csv", "mac,label\n00:1A:2B:00:07:01,A-1\n00:1A:2B:00:07:02,A-2\n");
    chosen = dir.File("site.csv");
    menuChoice = ID_MENU_LOAD_SITE;
    dlg.OnNMRClickList(-1);
    ASSERT_TRUE(dlg.siteFileLoaded());

    menuChoice = ID_MENU_MONITOR;
    dlg.OnNMRClickList(-1);
    ASSERT_TRUE(dlg.monitoring());
    CProcessList* rows = dlg.listDevice();
    const auto status = [&] { return rows->GetItemText(rowOf(QStringLiteral("00:1A:2B:00:07:02")), 7); };
    const auto counts = [&] { return lynx::res::GetDlgItem(dlg, IDC_STATIC_SITE_COUNTS)->property("text").toString(); };
    ASSERT_TRUE(WaitFor([&] { return rows->GetItemCount() == 2; }, 5000));
    ASSERT_TRUE(WaitFor([&] { return status() == QStringLiteral("离线"); }, 10000)) << status().toStdString();
    const int gone = rowOf(QStringLiteral("00:1A:2B:00:07:02"));
    EXPECT_EQ(dlg.listModel()->index(gone, 1).data(Qt::ForegroundRole).value<QBrush>().color(), QColor(128, 128, 128));
    EXPECT_EQ(rows->GetItemText(rowOf(QStringLiteral("00:1A:2B:00:07:01")), 7), QString());
    // Gone dark, it counts as not found.
    EXPECT_TRUE(WaitFor([&] { return counts() == QStringLiteral("应有 2 台 · 正常 1 · 未找到 1"); }, 2000))
        << counts().toStdString();
    ASSERT_TRUE(WaitFor([&] { return status() == QString(); }, 10000)) << status().toStdString();
    EXPECT_TRUE(WaitFor([&] { return counts() == QStringLiteral("应有 2 台 · 正常 2"); }, 2000)) << counts().toStdString();
    // Searched again and again, each camera kept one row.
    EXPECT_EQ(rows->GetItemCount(), 2);

    menuChoice = ID_MENU_MONITOR;
    dlg.OnNMRClickList(-1);
    EXPECT_FALSE(dlg.monitoring());
}

TEST_F(SiteWindow, TheWindowGrowsAndTheListFillsIt)
{
    Json::Value list(Json::arrayValue);
    for (int i = 1; i <= 6; ++i)
        list.append(Camera("192.168.1.10" + std::to_string(i), "00:1A:2B:00:04:0" + std::to_string(i), "R" + std::to_string(i)));
    startCameras(list);
    search(true);
    dlg.show();
    const QSize start = dlg.size();
    const auto rect = [&](int id) { return lynx::res::ControlRect(dlg, id); };
    const QRect list0 = rect(IDC_LIST_DEVICE), upgrade0 = rect(IDC_BTN_BATCH_UPGRADE), search0 = rect(IDC_BTN_SEARCH),
                logo0 = rect(IDC_STATIC_LOGO);
    const int status0 = dlg.listDevice()->columnWidth(7);

    dlg.resize(1600, 900);
    ASSERT_TRUE(WaitFor([&] { return dlg.size() == QSize(1600, 900); }, 2000));
    const int dx = 1600 - start.width(), dy = 900 - start.height();
    EXPECT_EQ(rect(IDC_LIST_DEVICE), list0.adjusted(0, 0, dx, dy));
    EXPECT_EQ(rect(IDC_BTN_BATCH_UPGRADE), upgrade0.translated(dx, dy));
    EXPECT_EQ(rect(IDC_BTN_SEARCH), search0.translated(0, dy));
    EXPECT_EQ(rect(IDC_STATIC_LOGO), logo0.translated(dx, 0));
    EXPECT_EQ(dlg.listDevice()->columnWidth(7), status0 + dx);
    // It never shrinks below its template size.
    EXPECT_EQ(dlg.minimumSize(), start);
    const QImage shot = dlg.grab().toImage();
    EXPECT_EQ(shot.size(), QSize(1600, 900));
    if (const char* folder = std::getenv("LYNX_SCREENSHOT_DIR"))
        shot.save(QString::fromLocal8Bit(folder) + QStringLiteral("/window-1600x900.png"));
}

TEST_F(SiteWindow, AfterABatchTheNewVersionsAreShownAndAnUnchangedOneIsSaid)
{
    checkVersionsAfterBatches(1, 6);
    Json::Value list(Json::arrayValue);
    Json::Value updated = Camera("192.168.1.101", "00:1A:2B:00:05:01", "V1");
    updated["newVersion"] = "V2.0.0";
    list.append(updated);
    list.append(Camera("192.168.1.102", "00:1A:2B:00:05:02", "V2"));  // keeps V1.0.3
    startCameras(list);
    search(true);
    ASSERT_EQ(dlg.listDevice()->GetItemCount(), 2);
    ASSERT_TRUE(MakeFirmwareZip(dir.File("cam.zip"), 100000));
    chosen = dir.File("cam.zip");
    lynx::res::GetDlgItemAs<QCheckBox>(dlg, IDC_CHK_SELECT_ALL)->click();
    lynx::res::GetDlgItemAs<QPushButton>(dlg, IDC_BTN_BATCH_UPGRADE)->click();
    ASSERT_TRUE(WaitFor([&] { return boxes.texts().contains(QStringLiteral("升级完成")); }, 30000));

    const int first = rowOf(QStringLiteral("00:1A:2B:00:05:01")), second = rowOf(QStringLiteral("00:1A:2B:00:05:02"));
    CProcessList* rows = dlg.listDevice();
    ASSERT_TRUE(WaitFor([&] { return rows->GetItemText(first, 7) == QString::fromUtf8(lynx::site::StatusText({lynx::site::DeviceState::VersionUpdated})); }, 15000))
        << rows->GetItemText(first, 7).toStdString();
    EXPECT_EQ(rows->GetItemText(first, 6), QStringLiteral("V2.0.0 build[2018-11-07]"));
    ASSERT_TRUE(WaitFor([&] { return !dlg.versionCheckRunning(); }, 20000));
    EXPECT_EQ(rows->GetItemText(second, 7), QString::fromUtf8(lynx::site::StatusText({lynx::site::DeviceState::VersionUnchanged})));
    EXPECT_EQ(rows->GetItemText(second, 6), QStringLiteral("V1.0.3 build[2018-11-07]"));
    EXPECT_EQ(rows->GetItemCount(), 2);  // the check's answers are not listed again
}

TEST_F(SiteWindow, TheVersionCheckTouchesOnlyItsBatchAndEndsWhenTheNextBatchStarts)
{
    // The check on, the filters off, a camera that comes back from its upgrade
    // with a new version, one outside the batch, and a second batch started
    // while the first one's check waits for the restarts.
    checkVersionsAfterBatches(2, 6);
    Json::Value list(Json::arrayValue);
    Json::Value upgraded = Camera("192.168.1.101", "00:1A:2B:00:06:01", "M1");
    upgraded["newVersion"] = "V2.0.0";
    list.append(upgraded);
    list.append(Camera("192.168.1.102", "00:1A:2B:00:06:02", "M2"));
    list.append(Camera("192.168.1.103", "00:1A:2B:00:06:03", "M3"));  // never in a batch
    startCameras(list);
    lynx::res::GetDlgItemAs<QCheckBox>(dlg, IDC_CHK_HIDE_SAME_MAC)->setChecked(false);
    search(false);
    CProcessList* rows = dlg.listDevice();
    ASSERT_EQ(rows->GetItemCount(), 3);
    const int first = rowOf(QStringLiteral("00:1A:2B:00:06:01")), second = rowOf(QStringLiteral("00:1A:2B:00:06:02")),
              outside = rowOf(QStringLiteral("00:1A:2B:00:06:03"));
    ASSERT_TRUE(MakeFirmwareZip(dir.File("cam.zip"), 100000));
    chosen = dir.File("cam.zip");
    const auto completions = [&] { return boxes.texts().count(QStringLiteral("升级完成")); };

    rows->SetCheck(first, true);
    rows->SetCheck(second, true);
    lynx::res::GetDlgItemAs<QPushButton>(dlg, IDC_BTN_BATCH_UPGRADE)->click();
    ASSERT_TRUE(WaitFor([&] { return completions() == 1; }, 30000));
    ASSERT_TRUE(dlg.versionCheckRunning());

    // The second batch, of the second camera alone, ends the first one's check.
    rows->SetCheck(first, false);
    lynx::res::GetDlgItemAs<QPushButton>(dlg, IDC_BTN_BATCH_UPGRADE)->click();
    EXPECT_FALSE(dlg.versionCheckRunning() && completions() == 1) << "the first batch's check outlived it";
    ASSERT_TRUE(WaitFor([&] { return completions() == 2; }, 30000));
    ASSERT_TRUE(WaitFor([&] { return rows->GetItemText(second, 7) == QString::fromUtf8(lynx::site::StatusText({lynx::site::DeviceState::VersionUnchanged})); },
                        20000))
        << rows->GetItemText(second, 7).toStdString();
    ASSERT_TRUE(WaitFor([&] { return !dlg.versionCheckRunning(); }, 20000));

    // Its searches were answered by every camera: no row was added, and the
    // rows outside the second batch kept what they showed.
    EXPECT_EQ(rows->GetItemCount(), 3);
    EXPECT_EQ(rows->GetItemText(first, 7), QStringLiteral("升级成功"));
    EXPECT_EQ(rows->GetItemText(first, 6), QStringLiteral("V1.0.3 build[2018-11-07]"));
    EXPECT_EQ(rows->GetItemText(outside, 7), QString());
}

// The watch's line as the window shows it.
QString WatchLine(const CLynxDlg& dlg)
{
    return lynx::res::GetDlgItem(dlg, IDC_STATIC_WATCH_STATUS)->property("text").toString();
}

// The time a watch line gives for its last search, invalid when it gives none.
QTime LastSearchOf(const QString& line, const QString& prefix)
{
    return line.startsWith(prefix) ? QTime::fromString(line.mid(prefix.size()), QStringLiteral("HH:mm:ss")) : QTime();
}

TEST_F(SiteWindow, WhileWatchingALineGivesTheIntervalAndTheLastSearchAndGoesWhenItStops)
{
    IntervalRestored restored;
    menuChoice = ID_MENU_MONITOR;
    EXPECT_EQ(WatchLine(dlg), QString());
    dlg.OnNMRClickList(-1);
    ASSERT_TRUE(dlg.monitoring());
    EXPECT_EQ(WatchLine(dlg), QStringLiteral("持续监视中：每 10 秒搜索一次，正在搜索"));
    dlg.OnNMRClickList(-1);
    EXPECT_EQ(WatchLine(dlg), QString());

    CLynxDlg::SetMonitorIntervalForTesting(300);
    dlg.OnNMRClickList(-1);
    EXPECT_EQ(WatchLine(dlg), QStringLiteral("持续监视中：每 0.3 秒搜索一次，正在搜索"));
    // After a round, the time it ended: now, give or take the round.
    const QString last = QStringLiteral("持续监视中：每 0.3 秒搜索一次，上次搜索 ");
    ASSERT_TRUE(WaitFor([&] { return LastSearchOf(WatchLine(dlg), last).isValid(); }, 5000)) << WatchLine(dlg).toStdString();
    const QTime first = LastSearchOf(WatchLine(dlg), last);
    const int secondsAgo = (first.secsTo(QTime::currentTime()) + 86400) % 86400;  // across midnight too
    EXPECT_LE(secondsAgo, 2) << first.toString().toStdString();
    // Each round gives its own.
    EXPECT_TRUE(WaitFor([&] { return LastSearchOf(WatchLine(dlg), last).isValid() && LastSearchOf(WatchLine(dlg), last) != first; }, 5000))
        << WatchLine(dlg).toStdString();
    // A round whose search goes out on no card says so, until one goes out again.
    ASSERT_TRUE(SetPcInterfacesUp(false));
    const bool saidUnsent =
        WaitFor([&] { return WatchLine(dlg) == QStringLiteral("持续监视中：每 0.3 秒搜索一次，搜索未能发出"); }, 5000);
    ASSERT_TRUE(SetPcInterfacesUp(true));
    EXPECT_TRUE(saidUnsent) << WatchLine(dlg).toStdString();
    EXPECT_TRUE(WaitFor([&] { return LastSearchOf(WatchLine(dlg), last).isValid(); }, 5000)) << WatchLine(dlg).toStdString();

    dlg.OnNMRClickList(-1);
    EXPECT_FALSE(dlg.monitoring());
    EXPECT_EQ(WatchLine(dlg), QString());
}

// Ending the window while it watches, with or without a site file loaded: by
// Esc or by the title bar's X, answered yes or no.
class EndingTheWatchingWindow : public SiteWindow, public testing::WithParamInterface<std::tuple<bool, bool, bool>> {};

TEST_P(EndingTheWatchingWindow, AsksNamingTheWatchAndEndsOnlyOnYes)
{
    const auto [withSiteFile, byEscape, yes] = GetParam();
    IntervalRestored restored;
    CLynxDlg::SetMonitorIntervalForTesting(300);
    QStringList named{QStringLiteral("正在持续监视，退出将停止监视。")};
    if (withSiteFile) {
        dir.Write("site.csv", "mac,label\n00:1A:2B:00:08:01,A-1\n");
        chosen = dir.File("site.csv");
        menuChoice = ID_MENU_LOAD_SITE;
        dlg.OnNMRClickList(-1);
        ASSERT_TRUE(dlg.siteFileLoaded());
        named << QStringLiteral("已载入站点清单，退出将卸载清单。");
    }
    menuChoice = ID_MENU_MONITOR;
    dlg.OnNMRClickList(-1);
    ASSERT_TRUE(dlg.monitoring());
    dlg.show();
    boxes.shown.clear();
    boxes.answers = {yes ? lynx::platform::IDOK : lynx::platform::IDCANCEL};

    if (byEscape)
        QTest::keyClick(dlg.listDevice(), Qt::Key_Escape);
    else
        dlg.close();

    ASSERT_EQ(boxes.shown.size(), 1u) << boxes.texts().join(QStringLiteral(" | ")).toStdString();
    EXPECT_EQ(boxes.shown[0].text, (named << QStringLiteral("确定退出吗？")).join(QStringLiteral("\n")));
    EXPECT_EQ(boxes.shown[0].caption, QStringLiteral("提示"));
    EXPECT_EQ(boxes.shown[0].buttons, lynx::platform::MB_OKCANCEL);
    EXPECT_EQ(dlg.isVisible(), !yes);
    if (yes)
        return;
    // The watch goes on searching.
    EXPECT_TRUE(dlg.monitoring());
    EXPECT_EQ(dlg.siteFileLoaded(), withSiteFile);
    EXPECT_TRUE(WaitFor([&] { return WatchLine(dlg).contains(QStringLiteral("上次搜索")); }, 5000)) << WatchLine(dlg).toStdString();
    dlg.OnNMRClickList(-1);
}

INSTANTIATE_TEST_SUITE_P(EachWayAndAnswer, EndingTheWatchingWindow,
                         testing::Combine(testing::Bool(), testing::Bool(), testing::Bool()), [](const auto& info) {
                             return std::string(std::get<0>(info.param) ? "WithSiteFile" : "WatchAlone") +
                                    (std::get<1>(info.param) ? "_Escape" : "_TitleBarX") +
                                    (std::get<2>(info.param) ? "_Yes" : "_No");
                         });

} // namespace
