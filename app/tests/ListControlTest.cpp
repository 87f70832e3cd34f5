// The device list: the status-cell convention and its drawing, sorting,
// select-all, the context menu, device details and web pages.
#include "app/tests/WindowTestSupport.h"

#include "app/shell/Browser.h"
#include "app/shell/PopupMenu.h"
#include "app/shell/DialogBuilder.h"
#include "app/shell/resource.h"
#include "app/shell/FileDialog.h"
#include "app/shell/MessageBox.h"
#include "platform/CodePage.h"
#include "platform/Translation.h"
#include "tests/support/PcCards.h"

#include <QAbstractItemModelTester>
#include <QCoreApplication>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QStyleOptionButton>
#include <QTest>
#include <QImage>
#include <QPainter>

#include <QTemporaryDir>
#include <QFile>
#include <gtest/gtest.h>

extern int g_nLastNumSortCol;
extern int g_nLastTextSortCol;

namespace {

const QColor kDefaultBar(21, 16, 240);

struct CellCase {
    const char* text;
    int percent;
    QColor bar;
    const char* shown;
};

} // namespace

TEST(StatusCell, FollowsTheConventionForEveryKindOfText)
{
    const CellCase cases[] = {
        {"7", 7, kDefaultBar, ""},
        {"0上传文件", 0, kDefaultBar, "上传文件"},
        {"100", 100, QColor(0, 255, 0), ""},
        {"99升级中", 99, kDefaultBar, "升级中"},
        {"-", 100, QColor(255, 0, 0), ""},
        {"-升级失败", 100, QColor(255, 0, 0), "升级失败"},
        {"", 0, kDefaultBar, ""},
        {"等待中", 0, kDefaultBar, "等待中"},
        {"5a7bc", 5, kDefaultBar, "7bc"},     // second and third characters tested apart
        {"250", 250, kDefaultBar, ""},
        {"1234abc", 1234, kDefaultBar, "4abc"},  // every digit counts, three are skipped
        {"45上传文件", 45, kDefaultBar, "上传文件"},
    };
    for (const auto& c : cases) {
        StatusCellStyle style = StatusCellStyleOf(QString::fromUtf8(c.text));
        EXPECT_EQ(style.percent, c.percent) << c.text;
        EXPECT_EQ(style.barColor, c.bar) << c.text;
        EXPECT_EQ(style.text, QString::fromUtf8(c.shown)) << c.text;
    }
}

TEST(StatusCell, BarStartsOnePixelInAndIsPercentOfTheWidthLessTwo)
{
    const QRect cell(10, 20, 160, 18);
    QRect bar = ProgressBarRect(cell, 45);
    EXPECT_EQ(bar.left(), 11);
    EXPECT_EQ(bar.top(), 20);
    EXPECT_EQ(bar.height(), 17);
    EXPECT_EQ(bar.width(), 160 * 45 / 100 - 2);
    // A full bar covers the inner width; more than 100 stops there too.
    EXPECT_EQ(ProgressBarRect(cell, 100).right(), cell.right() - 1);
    EXPECT_EQ(ProgressBarRect(cell, 250), ProgressBarRect(cell, 100));
    // Nothing at 0 percent, nor where the width rule leaves no bar.
    EXPECT_TRUE(ProgressBarRect(cell, 0).isEmpty());
    EXPECT_TRUE(ProgressBarRect(cell, 1).isEmpty());
    EXPECT_EQ(ProgressBarRect(cell, 2).width(), 1);
}

namespace {

int countPixels(const QImage& image, int y, QColor color)
{
    int n = 0;
    for (int x = 0; x < image.width(); ++x)
        n += image.pixelColor(x, y) == color;
    return n;
}

} // namespace

TEST(StatusCell, A45PercentCellPaints45PercentLessTwoPixelsOfTheBarColour)
{
    QImage image(160, 20, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    DrawStatusCell(painter, StatusCellStyleOf(QString::fromUtf8("45上传文件")), Qt::black, Qt::white, QRect(0, 0, 160, 20));
    painter.end();
    // Below the text's line: only the bar is drawn there.
    EXPECT_EQ(countPixels(image, 17, kDefaultBar), 160 * 45 / 100 - 2);
    EXPECT_EQ(image.pixelColor(1, 17), kDefaultBar);
    EXPECT_NE(image.pixelColor(0, 17), kDefaultBar);
}

TEST(StatusCell, TheListItselfPaintsBarsInItsStatusColumn)
{
    ScriptedBoxes boxes;
    CLynxDlg dlg;
    dlg.Create();
    DeliverReport(ReportJson("192.168.1.101", "00:1A:2B:00:00:01"));
    DeliverReport(ReportJson("192.168.1.102", "00:1A:2B:00:00:02"));
    CProcessList& list = *dlg.listDevice();
    // The status column in view, 200 pixels wide.
    for (int c = 1; c < 7; ++c)
        list.setColumnHidden(c, true);
    list.setColumnWidth(7, 200);
    dlg.site().SetStatus(1, {lynx::site::DeviceState::Succeeded, lynx::site::FailureReason::None, 100});
    dlg.site().SetStatus(2, lynx::site::FailureOf(lynx::site::FailureReason::CameraFailed));
    dlg.show();
    QImage shot = list.grab().toImage();
    int green = 0, red = 0;
    for (int y = 0; y < shot.height(); ++y) {
        green += countPixels(shot, y, QColor(0, 255, 0));
        red += countPixels(shot, y, QColor(255, 0, 0));
    }
    EXPECT_GT(green, 150 * 10);
    EXPECT_GT(red, 150 * 10);
}

TEST(StatusCell, AnUpgradesFailureIsPaintedOverARedBarAndADownloadOverItsOwnBar)
{
    const lynx::test::PcCards pc{{"eth0", "192.168.1.100", 24}};
    ScriptedBoxes boxes;
    CLynxDlg dlg;
    dlg.Create();
    DeliverReport(ReportJson("192.168.1.101", "00:1A:2B:00:00:01"));
    DeliverReport(ReportJson("192.168.1.102", "00:1A:2B:00:00:02"));
    CProcessList& list = *dlg.listDevice();
    for (int c = 1; c < 7; ++c)
        list.setColumnHidden(c, true);
    list.setColumnWidth(7, 200);

    // The engine's batch, its network and the file server's account scripted.
    lynx::upgrade::UpgradeBatch& batch = dlg.site().Upgrade().Batch();
    std::map<std::string, lynx::upgrade::DownloadProgress> accounts;
    batch.SetDownloadAccount([&](const std::string& ip) { return accounts[ip]; });
    ASSERT_EQ(batch.Prepare(dlg.site().BatchOf({1, 2})), 2);
    lynx::upgrade::UpgradeSendHooks hooks;
    hooks.publishFile = [](const std::string&, const std::string&) {};
    hooks.httpPort = [] { return 9000; };
    hooks.startClient = [](const std::string&, uint16_t& handle) { return handle = 1, true; };
    hooks.clientFailed = [] {};
    hooks.localAddress = [](const std::string&) { return std::string("192.168.1.100"); };
    hooks.sendUpdate = [](const std::string&, const std::string&, uint16_t, const std::string&, uint32_t) { return true; };
    batch.Confirm("/fw/cam.zip", hooks);
    // Every request out, each when it is due.
    while (const auto due = batch.NextSendAt())
        batch.SendDue(*due);
    const auto start = std::chrono::steady_clock::now();
    accounts["192.168.1.101"] = {100, 1000, false, 100};
    accounts["192.168.1.102"] = {100, 1000, false, 100};
    batch.TrackDownloads(start, std::chrono::seconds(60));
    accounts["192.168.1.101"] = {450, 1000, false, 450};
    batch.TrackDownloads(start + std::chrono::seconds(60), std::chrono::seconds(60));

    EXPECT_EQ(list.GetItemText(0, 7), QStringLiteral("已发送升级命令,等待升级"));
    EXPECT_EQ(list.GetItemText(1, 7), QStringLiteral("下载停滞"));
    dlg.show();
    const QImage shot = list.viewport()->grab().toImage();
    const int rowTop = list.visualRect(list.model()->index(0, 7)).top();
    const int secondTop = list.visualRect(list.model()->index(1, 7)).top();
    int bar = 0, red = 0, redInFirst = 0;
    for (int y = rowTop; y < secondTop; ++y) {
        bar += countPixels(shot, y, kDefaultBar);
        redInFirst += countPixels(shot, y, QColor(255, 0, 0));
    }
    for (int y = secondTop; y < shot.height(); ++y)
        red += countPixels(shot, y, QColor(255, 0, 0));
    const int lines = secondTop - rowTop - 2;
    // 45 % of 200 pixels, less 2, on each line of the downloading row, the
    // text drawn over some of them; a full red bar under the stalled one's.
    EXPECT_GT(bar, 40 * lines);
    EXPECT_LT(bar, 89 * (lines + 2));
    EXPECT_EQ(redInFirst, 0);
    EXPECT_GT(red, 120 * lines);
}

namespace {

// A window with rows numbered 1..n whose cells are given per column.
class WindowWithRows : public testing::Test {
protected:
    void SetUp() override
    {
        g_nLastNumSortCol = -1;
        g_nLastTextSortCol = -1;
        g_bUpgrading = 0;
        dlg.Create();
        previousBrowser = lynx::platform::SetBrowserHandler([this](const QString& url) {
            opened << url;
            return true;
        });
    }
    void TearDown() override { lynx::platform::SetBrowserHandler(previousBrowser); }

    void addDevices(int n)
    {
        for (int i = 1; i <= n; ++i)
            addDevice(i);
    }
    // Device i (192.168.1.100 + i), with a gateway and a model of its own when given.
    void addDevice(int i, const std::string& gateway = "", const std::string& model = "")
    {
        std::string json = ReportJson("192.168.1." + std::to_string(100 + i), "00:1A:2B:00:00:" + std::to_string(10 + i));
        if (!gateway.empty())
            json = lynx::test::WithField(json, "gatewayIp", gateway);
        if (!model.empty())
            json = lynx::test::WithField(json, "model", model);
        DeliverReport(json);
    }

    QStringList column(int c) const
    {
        QStringList texts;
        for (int r = 0; r < dlg.listDevice()->GetItemCount(); ++r)
            texts << dlg.listDevice()->GetItemText(r, c);
        return texts;
    }

    ScriptedBoxes boxes;
    // The devices' subnet is the PC's: their pages can be opened.
    lynx::test::PcCards pc{{"eth0", "192.168.1.100", 24}};
    CLynxDlg dlg;
    QStringList opened;
    lynx::platform::BrowserHandler previousBrowser;
};

} // namespace

TEST_F(WindowWithRows, ColumnZeroSortsByNumberAndTextColumnsByCodeUnits)
{
    for (int i = 1; i <= 10; ++i)
        addDevice(i, std::to_string(i));
    dlg.OnLvnColumnclickList(0);  // descending
    EXPECT_EQ(column(0).first(), QStringLiteral("10"));
    dlg.OnLvnColumnclickList(0);  // ascending: 9 before 10
    EXPECT_EQ(column(0), (QStringList{"1", "2", "3", "4", "5", "6", "7", "8", "9", "10"}));
    dlg.OnLvnColumnclickList(3);  // descending as text
    dlg.OnLvnColumnclickList(3);  // ascending as text: 10 before 9
    EXPECT_EQ(column(3), (QStringList{"1", "10", "2", "3", "4", "5", "6", "7", "8", "9"}));
    // Whole rows move: each row keeps its own device's address.
    for (int r = 0; r < 10; ++r)
        EXPECT_EQ(dlg.listDevice()->GetItemText(r, 1),
                  QStringLiteral("192.168.1.%1").arg(100 + dlg.listDevice()->GetItemText(r, 0).toInt()));
}

TEST_F(WindowWithRows, AddressColumnsSortAsAddressesUnderAnArrow)
{
    // Device i is at 192.168.1.(100 + i): .101 .. .112; gateways .51, .107, .9.
    for (int i = 1; i <= 12; ++i)
        addDevice(i, i % 3 == 0 ? "192.168.1.9" : i % 3 == 1 ? "192.168.1.51" : "192.168.1.107");
    addDevice(13, "gateway?");
    dlg.OnLvnColumnclickList(1);  // descending
    EXPECT_EQ(column(1).first(), QStringLiteral("192.168.1.113"));
    EXPECT_EQ(column(1).last(), QStringLiteral("192.168.1.101"));
    const QHeaderView* header = dlg.listDevice()->horizontalHeader();
    EXPECT_TRUE(header->isSortIndicatorShown());
    EXPECT_EQ(header->sortIndicatorSection(), 1);
    EXPECT_EQ(header->sortIndicatorOrder(), Qt::DescendingOrder);
    dlg.OnLvnColumnclickList(3);
    dlg.OnLvnColumnclickList(3);  // ascending: .9 before .51 before .107, a text after every address
    const QStringList gateways = column(3);
    EXPECT_EQ(gateways.first(), QStringLiteral("192.168.1.9"));
    EXPECT_EQ(gateways.indexOf(QStringLiteral("192.168.1.51")), 4);
    EXPECT_EQ(gateways.indexOf(QStringLiteral("192.168.1.107")), 8);
    EXPECT_EQ(gateways.last(), QStringLiteral("gateway?"));
    EXPECT_EQ(header->sortIndicatorSection(), 3);
    EXPECT_EQ(header->sortIndicatorOrder(), Qt::AscendingOrder);
    // Equal addresses keep the order they had: the rows of .9 by descending IP.
    EXPECT_EQ(column(0).mid(0, 4), (QStringList{"12", "9", "6", "3"}));
}

TEST_F(WindowWithRows, TheSiteCountsLineIsShownWholeAtAnySizeInEitherLanguage)
{
    // A camera answering from its own address with another version, and two
    // planned ones not heard.
    DeliverReport(ReportJson("127.0.0.1", "00:1A:2B:00:00:11"));
    lynx::test::TempDir dir;
    const std::string file = dir.Write("site.csv", "mac,ip,softwareVersion\n"
                                                   "00:1A:2B:00:00:11,127.0.0.1,V9.9.9\n"
                                                   "00:1A:2B:00:00:12,192.168.1.150,\n"
                                                   "00:1A:2B:00:00:99,192.168.1.199,\n");
    const auto previous = lynx::platform::SetFileDialogHandler([&](const lynx::platform::FileDialogRequest&) {
        return QString::fromStdString(file);
    });
    dlg.OnMenuLoadSiteFile();
    lynx::platform::SetFileDialogHandler(previous);
    ASSERT_TRUE(dlg.siteFileLoaded());
    dlg.show();
    auto* counts = lynx::res::GetDlgItemAs<QLabel>(dlg, IDC_STATIC_SITE_COUNTS);
    const QWidget* protocol = lynx::res::GetDlgItem(dlg, IDC_COMBO_PROTOCOL);
    const QSize templateSize = dlg.size();
    for (const char* language : {"", "en"}) {
        ASSERT_TRUE(lynx::platform::SelectLanguage(language));
        for (const QSize size : {templateSize, templateSize + QSize(600, 200), templateSize}) {
            dlg.resize(size);
            dlg.RefreshSiteView();
            QCoreApplication::processEvents();
            const QString text = counts->text();
            ASSERT_EQ(text.count(QStringLiteral(" · ")), 3) << text.toStdString();
            const QRect needed = counts->fontMetrics().boundingRect(QRect(0, 0, counts->width(), 10000),
                                                                    Qt::TextWordWrap, text);
            EXPECT_LE(needed.height(), counts->height()) << language << " " << text.toStdString();
            EXPECT_LE(needed.width(), counts->width()) << language << " " << text.toStdString();
            EXPECT_LT(counts->geometry().bottom(), dlg.listDevice()->geometry().top()) << language;
            EXPECT_LE(counts->geometry().right(), protocol->geometry().left()) << language;
        }
    }
    lynx::platform::SelectLanguage("");
}

TEST_F(WindowWithRows, ASiteFileSavedInCodePage936LoadsAndIsSaidOnce)
{
    DeliverReport(ReportJson("127.0.0.1", "00:1A:2B:00:00:11"));
    lynx::test::TempDir dir;
    const std::string file = dir.Write(
        "site.csv", lynx::platform::Utf8ToCp936("序号,设备IP,MAC地址,label\r\n1,127.0.0.1,00:1A:2B:00:00:11,地下二层-017\r\n"));
    const auto previous = lynx::platform::SetFileDialogHandler([&](const lynx::platform::FileDialogRequest&) {
        return QString::fromStdString(file);
    });
    dlg.OnMenuLoadSiteFile();
    lynx::platform::SetFileDialogHandler(previous);
    ASSERT_TRUE(dlg.siteFileLoaded()) << boxes.texts().join(" | ").toStdString();
    EXPECT_EQ(boxes.texts(), QStringList{QStringLiteral("站点清单不是UTF-8编码，已按GBK（代码页936）读取。")});
    dlg.RefreshSiteView();
    EXPECT_TRUE(dlg.listDevice()->GetItemToolTip(0, 7).contains(QStringLiteral("地下二层-017")))
        << dlg.listDevice()->GetItemToolTip(0, 7).toStdString();
}

TEST_F(WindowWithRows, ClickSequencesFollowTheTwoSortMemories)
{
    addDevice(1, "b", "x");
    addDevice(2, "a");
    addDevice(3, "c");
    // 0, 3, 0: column 0 descending, column 3 descending, column 0 ascending.
    dlg.OnLvnColumnclickList(0);
    EXPECT_EQ(column(0), (QStringList{"3", "2", "1"}));
    dlg.OnLvnColumnclickList(3);
    EXPECT_EQ(column(3), (QStringList{"c", "b", "a"}));
    dlg.OnLvnColumnclickList(0);
    EXPECT_EQ(column(0), (QStringList{"1", "2", "3"}));
    // 3, 5, 3 (after a click elsewhere): descending each time.
    dlg.OnLvnColumnclickList(5);
    dlg.OnLvnColumnclickList(3);
    EXPECT_EQ(column(3), (QStringList{"c", "b", "a"}));
    dlg.OnLvnColumnclickList(5);
    dlg.OnLvnColumnclickList(3);
    EXPECT_EQ(column(3), (QStringList{"c", "b", "a"}));
    dlg.OnLvnColumnclickList(3);
    EXPECT_EQ(column(3), (QStringList{"a", "b", "c"}));
}

TEST_F(WindowWithRows, EqualAddressesKeepASoundOrder)
{
    // Gateways 10.0.0.7, 10.0.0.5, 10.0.0.7, ... sorted as addresses,
    // descending: the equal ones keep the order they had.
    for (int i = 1; i <= 6; ++i)
        addDevice(i, i % 2 ? "10.0.0.7" : "10.0.0.5");
    dlg.OnLvnColumnclickList(3);
    EXPECT_EQ(column(0), (QStringList{"1", "3", "5", "2", "4", "6"}));
    EXPECT_EQ(column(1), (QStringList{"192.168.1.101", "192.168.1.103", "192.168.1.105", "192.168.1.102",
                                      "192.168.1.104", "192.168.1.106"}));
}

TEST_F(WindowWithRows, EqualTextsKeepTheirOrderAcrossSorts)
{
    const char* models[] = {"KV-100", "KV-200", "KV-100", "KV-200", "KV-100"};
    for (int i = 1; i <= 5; ++i)
        addDevice(i, "", models[i - 1]);
    dlg.OnLvnColumnclickList(5);  // descending
    EXPECT_EQ(column(1), (QStringList{"192.168.1.102", "192.168.1.104", "192.168.1.101", "192.168.1.103",
                                      "192.168.1.105"}));
    dlg.OnLvnColumnclickList(5);  // ascending
    EXPECT_EQ(column(1), (QStringList{"192.168.1.101", "192.168.1.103", "192.168.1.105", "192.168.1.102",
                                      "192.168.1.104"}));
}

TEST_F(WindowWithRows, SelectionAndTicksMoveWithTheirRows)
{
    const char* gateways[] = {"d", "c", "b", "a"};
    for (int i = 1; i <= 4; ++i)
        addDevice(i, gateways[i - 1]);
    dlg.listDevice()->selectRow(1);  // 192.168.1.102
    dlg.listDevice()->SetCheck(3, true);
    dlg.OnLvnColumnclickList(3);
    dlg.OnLvnColumnclickList(3);  // ascending: the rows turn round
    ASSERT_EQ(column(1), (QStringList{"192.168.1.104", "192.168.1.103", "192.168.1.102", "192.168.1.101"}));
    for (int r = 0; r < 4; ++r) {
        EXPECT_EQ(dlg.listDevice()->IsRowSelected(r), r == 2) << r;
        EXPECT_EQ(dlg.listDevice()->GetCheck(r), r == 0) << r;
    }
    dlg.listDevice()->SetCheck(0, false);
    dlg.OnBnClickedOpen();
    EXPECT_EQ(opened, QStringList{"http://192.168.1.102"});
}

TEST_F(WindowWithRows, SortingIsRefusedWhileABatchIsBeingSent)
{
    addDevices(3);
    g_bUpgrading = 1;
    dlg.OnLvnColumnclickList(0);
    g_bUpgrading = 0;
    EXPECT_EQ(column(0), (QStringList{"1", "2", "3"}));
    EXPECT_EQ(g_nLastNumSortCol, -1);
}

TEST_F(WindowWithRows, SelectAllTicksAndUnticksEveryRow)
{
    QCheckBox* all = lynx::res::GetDlgItemAs<QCheckBox>(dlg, IDC_CHK_SELECT_ALL);
    all->click();
    EXPECT_EQ(boxes.texts(), QStringList{QStringLiteral("列表中没有设备！")});
    EXPECT_TRUE(all->isChecked());
    all->setChecked(false);
    addDevices(3);
    all->click();
    for (int r = 0; r < 3; ++r)
        EXPECT_TRUE(dlg.listDevice()->GetCheck(r));
    all->click();
    for (int r = 0; r < 3; ++r)
        EXPECT_FALSE(dlg.listDevice()->GetCheck(r));
    EXPECT_EQ(boxes.shown.size(), 1u);
}

TEST_F(WindowWithRows, RightClickOnARowOffersTheMenuAndItsCommandsReachTheDevice)
{
    addDevices(3);
    lynx::platform::MenuItems offered;
    auto previous = lynx::platform::SetPopupMenuHandler([&](const lynx::platform::MenuItems& items) {
        offered = items;
        return ID_MENU_IE_BROWSE;
    });
    dlg.OnLvnColumnclickList(0);  // rows now 3, 2, 1
    dlg.OnNMRClickList(0);
    lynx::platform::SetPopupMenuHandler(previous);
    ASSERT_EQ(offered.size(), 5u);
    EXPECT_EQ(offered[0], std::make_pair(ID_MENU_IE_BROWSE, QStringLiteral("IE浏览")));
    EXPECT_EQ(offered[1], std::make_pair(ID_MENU_MORE_INFO, QStringLiteral("更多信息")));
    EXPECT_EQ(offered[2], std::make_pair(ID_MENU_EXPORT_LIST, QStringLiteral("导出列表…")));
    EXPECT_EQ(offered[3], std::make_pair(ID_MENU_LOAD_SITE, QStringLiteral("载入站点清单…")));
    EXPECT_EQ(offered[4], std::make_pair(ID_MENU_MONITOR, QStringLiteral("持续监视")));
    EXPECT_EQ(dlg.menuRow(), 0);
    EXPECT_EQ(opened, QStringList{QStringLiteral("http://192.168.1.103")});
}

TEST_F(WindowWithRows, RightClickBelowTheLastRowOffersTheExportAndTheSiteCommandsAndLaterCommandsDoNothing)
{
    addDevices(2);
    lynx::platform::MenuItems offered;
    auto previous = lynx::platform::SetPopupMenuHandler([&](const lynx::platform::MenuItems& items) {
        offered = items;
        return 0;
    });
    dlg.OnNMRClickList(-1);
    lynx::platform::SetPopupMenuHandler(previous);
    ASSERT_EQ(offered.size(), 3u);
    EXPECT_EQ(offered[0].first, ID_MENU_EXPORT_LIST);
    EXPECT_EQ(offered[1].first, ID_MENU_LOAD_SITE);
    EXPECT_EQ(offered[2].first, ID_MENU_MONITOR);
    EXPECT_EQ(dlg.menuRow(), -1);
    dlg.OnMenuIeBrowse();
    dlg.OnMenuMoreInfo();
    EXPECT_TRUE(opened.isEmpty());
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(WindowWithRows, MoreInfoShowsTheDetailsInAModelessBoxOfTheWindow)
{
    DeliverReport(ReportJson("192.168.1.101", "00:1A:2B:00:00:01", "cam", "V1.0", ""));
    auto previous = lynx::platform::SetPopupMenuHandler([](const lynx::platform::MenuItems&) { return ID_MENU_MORE_INFO; });
    dlg.OnNMRClickList(0);
    lynx::platform::SetPopupMenuHandler(previous);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].caption, QStringLiteral("更多信息"));
    EXPECT_EQ(boxes.shown[0].owner, &dlg);
    EXPECT_TRUE(boxes.shown[0].modeless);
    EXPECT_EQ(boxes.shown[0].text,
              QStringLiteral("IP\t\t:\t192.168.1.101\nID\t\t:\tID-192.168.1.10\nname\t\t:\tcam\nmodel\t\t:\tKV-100\n"
                             "manufacturer\t:\tKova\ncompany\t\t:\tKova\nMAC\t\t:\t00:1A:2B:00:00:01\n"
                             "protocal ver\t:\t0.0\nproduct type\t:\t7\nproduct sub type\t:\t0\nsn\t\t:\t42\n"
                             "HW feature\t:\t0x0\nconsumer sn\t:\t0\nSW VER\t\t:\tV1.0 build[]\nHW VER\t\t:\tH1\n"));
}

TEST_F(WindowWithRows, TheDetailsBoxShowsItsValuesInOneColumn)
{
    DeliverReport(ReportJson("192.168.1.101", "00:1A:2B:00:00:01", "cam", "V1.0", ""));
    // The real box this time, modeless: it is up when the command returns.
    const auto scripted = lynx::platform::SetMessageBoxHandler(nullptr);
    auto previous = lynx::platform::SetPopupMenuHandler([](const lynx::platform::MenuItems&) { return ID_MENU_MORE_INFO; });
    dlg.OnNMRClickList(0);
    lynx::platform::SetPopupMenuHandler(previous);
    lynx::platform::SetMessageBoxHandler(scripted);
    const QList<QMessageBox*> shown = dlg.findChildren<QMessageBox*>();
    ASSERT_EQ(shown.size(), 1);
    QMessageBox* box = shown.front();
    EXPECT_EQ(box->textFormat(), Qt::RichText);
    // One row a field: the label, the colon, the value, each in its own cell.
    EXPECT_EQ(box->text().count(QStringLiteral("<tr>")), 15);
    EXPECT_TRUE(box->text().contains(QStringLiteral("<td>product sub type</td><td>&nbsp;:&nbsp;</td><td>0</td>")))
        << box->text().toStdString();
    EXPECT_TRUE(box->text().contains(QStringLiteral("<td>IP</td><td>&nbsp;:&nbsp;</td><td>192.168.1.101</td>")));
    delete box;
}

TEST_F(WindowWithRows, OpenVisitsEachPickedDeviceOnce)
{
    addDevices(3);
    dlg.listDevice()->selectRow(1);
    dlg.listDevice()->SetCheck(1, true);
    dlg.listDevice()->SetCheck(2, true);
    dlg.OnBnClickedOpen();
    EXPECT_EQ(opened, (QStringList{"http://192.168.1.102", "http://192.168.1.103"}));
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(WindowWithRows, TheWebPageOfADeviceOnASubnetOfNoCardIsNotOpenedAndTheWindowSaysWhy)
{
    addDevice(1);
    DeliverReport(ReportJson("192.168.0.64", "00:1A:2B:00:00:64"));
    const QString why = QStringLiteral("192.168.0.64：不在本机网段：网卡 eth0 为 192.168.1.100/24");
    auto previous = lynx::platform::SetPopupMenuHandler([](const lynx::platform::MenuItems&) { return ID_MENU_IE_BROWSE; });
    dlg.OnNMRClickList(1);
    lynx::platform::SetPopupMenuHandler(previous);
    EXPECT_TRUE(opened.isEmpty());
    EXPECT_EQ(boxes.texts(), QStringList{why});

    dlg.listDevice()->SetCheck(0, true);
    dlg.listDevice()->SetCheck(1, true);
    dlg.OnBnClickedOpen();
    EXPECT_EQ(opened, QStringList{"http://192.168.1.101"}) << "the reachable one still opens";
    EXPECT_EQ(boxes.texts(), (QStringList{why, why}));

    // Its details are its report's, said as they are, with the reason.
    dlg.OnMenuMoreInfo();
    ASSERT_EQ(boxes.shown.size(), 3u);
    EXPECT_TRUE(boxes.shown[2].text.startsWith(QStringLiteral("IP\t\t:\t192.168.0.64\n"))) << boxes.shown[2].text.toStdString();
    EXPECT_TRUE(boxes.shown[2].text.endsWith(why + QStringLiteral("\n"))) << boxes.shown[2].text.toStdString();
}

TEST_F(WindowWithRows, OpenWithNothingPickedSaysSo)
{
    addDevices(2);
    dlg.listDevice()->clearSelection();
    dlg.OnBnClickedOpen();
    EXPECT_TRUE(opened.isEmpty());
    EXPECT_EQ(boxes.texts(), QStringList{QStringLiteral("请至少选择一个设备！")});
    EXPECT_NE(boxes.shown[0].owner, nullptr);
}

TEST_F(WindowWithRows, WithoutABrowserTheWindowSaysWhyOnce)
{
    addDevices(2);
    lynx::platform::SetBrowserHandler([](const QString&) { return false; });
    dlg.listDevice()->SetCheck(0, true);
    dlg.listDevice()->SetCheck(1, true);
    dlg.OnBnClickedOpen();
    EXPECT_EQ(boxes.texts(), QStringList{QString::fromUtf8(CLynxDlg::kNoBrowser)}) << "one box for two pages";
    EXPECT_EQ(boxes.shown[0].owner, &dlg);
}

TEST(Browser, ALauncherThatFindsNoBrowserIsReported)
{
    // xdg-open stands on the PATH as a script: one that finds no browser (its
    // status 3), one that hands the page over; and none at all.
    QTemporaryDir bin;
    const auto launcher = [&](int status) {
        QFile script(bin.filePath(QStringLiteral("xdg-open")));
        script.open(QIODevice::WriteOnly | QIODevice::Truncate);
        script.write(QByteArray("#!/bin/sh\nexit ") + QByteArray::number(status) + "\n");
        script.close();
        script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    };
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", bin.path().toLocal8Bit());
    for (int status : {3, 0}) {
        launcher(status);
        bool failed = false;
        EXPECT_TRUE(lynx::platform::OpenInBrowser(QStringLiteral("http://192.168.1.101"), [&] { failed = true; }));
        // The launcher's end is seen on the event loop; a status 0 says nothing.
        const bool ended = WaitFor([&] { return failed; }, status ? 5000 : 500);
        EXPECT_EQ(ended, status != 0) << "status " << status;
    }
    QFile::remove(bin.filePath(QStringLiteral("xdg-open")));
    EXPECT_FALSE(lynx::platform::OpenInBrowser(QStringLiteral("http://192.168.1.101"), [] {}));
    qputenv("PATH", path);
}

TEST_F(WindowWithRows, ARowThatShowsNoDeviceIsSkipped)
{
    addDevices(1);
    EXPECT_EQ(dlg.GetDeviceByRow(1), nullptr);
    EXPECT_EQ(dlg.GetDeviceByRow(-1), nullptr);
    EXPECT_FALSE(dlg.listDevice()->SetCheck(1, true));
    dlg.OnBnClickedOpen();
    EXPECT_TRUE(opened.isEmpty());
    EXPECT_EQ(boxes.texts(), QStringList{QStringLiteral("请至少选择一个设备！")});
}

TEST_F(WindowWithRows, TheModelStaysSoundThroughArrivalsSortsTicksStatusesAndANewSearch)
{
    // Qt's own checker of a model's promises to its views, failing at once.
    QAbstractItemModelTester tester(dlg.listModel(), QAbstractItemModelTester::FailureReportingMode::Fatal);
    addDevices(5);
    dlg.listDevice()->selectRow(4);
    dlg.listDevice()->SetCheck(4, true);
    dlg.site().SetStatus(dlg.listModel()->DeviceAt(4), {lynx::site::DeviceState::Upgrading});
    dlg.OnLvnColumnclickList(0);  // descending: device 5 comes first
    DeliverReport(ReportJson("192.168.1.120", "00:1A:2B:00:00:99"));
    // The tick, the status and the selection belong to the device, wherever
    // its row goes.
    ASSERT_EQ(dlg.listDevice()->GetItemText(0, 0), QStringLiteral("5"));
    EXPECT_TRUE(dlg.listDevice()->GetCheck(0));
    EXPECT_TRUE(dlg.listDevice()->IsRowSelected(0));
    EXPECT_EQ(dlg.listDevice()->GetItemText(0, 7), QString::fromUtf8("升级中"));
    EXPECT_EQ(dlg.listDevice()->GetItemText(5, 0), QStringLiteral("6"));  // a newcomer goes last
    EXPECT_FALSE(dlg.listDevice()->GetCheck(5));
    dlg.site().Clear();
    EXPECT_EQ(dlg.listDevice()->GetItemCount(), 0);
    addDevices(2);
    EXPECT_EQ(dlg.listDevice()->GetItemText(0, 7), QString());
    EXPECT_FALSE(dlg.listDevice()->GetCheck(0));
}

TEST_F(WindowWithRows, AClickOnARowsCheckBoxTicksItsDeviceAndASecondUnticksIt)
{
    addDevices(2);
    dlg.show();
    CProcessList* list = dlg.listDevice();
    // The check box sits at the left of the number cell.
    const QRect cell = list->visualRect(list->model()->index(1, 0));
    QStyleOptionButton box;
    const int indicator = list->style()->pixelMetric(QStyle::PM_IndicatorWidth, &box, list);
    const QPoint onBox(cell.left() + 3 + indicator / 2, cell.center().y());
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, onBox);
    EXPECT_TRUE(dlg.site().Ticked(2));
    EXPECT_FALSE(dlg.site().Ticked(1));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, onBox);
    EXPECT_FALSE(dlg.site().Ticked(2));
}
