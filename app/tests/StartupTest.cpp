// Start-up, the window's defaults, and the ways it ends.
#include "app/tests/WindowTestSupport.h"

#include "NetlabFixture.h"

#include "app/CLynxApp.h"
#include "kova_cpr.h"
#include "app/shell/FileDialog.h"
#include "app/shell/ModalDialog.h"
#include "platform/Sockets.h"
#include "app/shell/DialogBuilder.h"
#include "app/shell/resource.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <thread>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace {

std::string sdkCalls()
{
    char buffer[512];
    KOVA_CPR_ext_CallLog(buffer, sizeof buffer);
    return buffer;
}

class SdkFailure : public testing::TestWithParam<std::pair<const char*, const char*>> {
protected:
    void TearDown() override { unsetenv("KOVA_CPR_FAIL"); }
};

} // namespace

TEST_P(SdkFailure, ShowsExactlyItsOneMessageAndTheWindowStillOpensWithWhatArrivedMeanwhile)
{
    setenv("KOVA_CPR_FAIL", GetParam().first, 1);
    ScriptedBoxes boxes;
    // While the message is up, the event loop runs and the LAN talks: a device
    // report, an update reply and a notification arrive before any control exists.
    boxes.whileShown = [] {
        DeliverReport(ReportJson("192.168.1.77", "00:77:00:00:00:01"));
        DeliverUpdateDatagram(0x711, 0, 0, "");
        DeliverUpdateDatagram(0x712, 0, 0, R"({"deviceId":"ID-192.168.1.77","status":0})");
        Pump(20);
    };
    CLynxDlg dlg;
    boxes.whileShown = nullptr;
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, QString::fromUtf8(GetParam().second));
    EXPECT_EQ(boxes.shown[0].caption, QStringLiteral("提示"));
    EXPECT_EQ(boxes.shown[0].owner, nullptr);
    EXPECT_FALSE(dlg.fileServerStarted());
    dlg.Create();
    dlg.show();
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_NE(dlg.reportSocket(), 0);
    // The report is listed once the list exists, as any report outside a search.
    ASSERT_TRUE(WaitFor([&] { return dlg.listDevice()->GetItemCount() == 1; }, 2000));
    EXPECT_EQ(dlg.listDevice()->GetItemText(0, 1), QStringLiteral("192.168.1.77"));
    EXPECT_EQ(dlg.listDevice()->GetItemText(0, 7), QString());
    EXPECT_EQ(dlg.upgradeFailed(), 0);
}

INSTANTIATE_TEST_SUITE_P(EachStep, SdkFailure,
                         testing::Values(std::make_pair("init", "SDK初始化失败！"),
                                         std::make_pair("getparam", "获取SDK参数失败！"),
                                         std::make_pair("setparam", "设置SDK参数失败！")));

TEST(Startup, BringsTheSdkUpInOrderAndStartsTheFileServer)
{
    ScriptedBoxes boxes;
    KOVA_CPR_ext_ResetCallLog();
    {
        CLynxDlg dlg;
        EXPECT_TRUE(boxes.shown.empty());
        EXPECT_EQ(sdkCalls(), "Init GetParam SetParam SetInfoCallBack SetHeartBeatParam");
        EXPECT_TRUE(dlg.fileServerStarted());
        KOVA_CPR_PARAM written{};
        ASSERT_TRUE(KOVA_CPR_ext_LastParam(&written));
        EXPECT_EQ(written.words[1], 1);
    }
    EXPECT_NE(sdkCalls().find("Cleanup"), std::string::npos);
}

TEST(Startup, SocketFailureEndsWithoutAWindow)
{
    ScriptedBoxes boxes;
    // Captioned with the application's name, as main() sets it, not the
    // program file's (lynx-cameras).
    const QString testName = QCoreApplication::applicationName();
    QCoreApplication::setApplicationName(QStringLiteral("lynx"));
    auto previous = lynx::platform::SetSocketInitHandler([] { return false; });
    KOVA_CPR_ext_ResetCallLog();
    EXPECT_FALSE(theApp.InitInstance());
    lynx::platform::SetSocketInitHandler(previous);
    QCoreApplication::setApplicationName(testName);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, QStringLiteral("Socket Init Error."));
    EXPECT_EQ(boxes.shown[0].caption, QStringLiteral("lynx"));
    EXPECT_EQ(sdkCalls(), "");
}

TEST(MainWindow, OpensWithItsColumnsAndDefaults)
{
    ScriptedBoxes boxes;
    CLynxDlg dlg;
    dlg.Create();
    CProcessList* list = dlg.listDevice();
    ASSERT_NE(list, nullptr);
    const char* titles[] = {"序号", "设备IP", "MAC地址", "网关地址", "子网掩码", "设备型号", "软件版本", "状态"};
    const int widths[] = {50, 110, 120, 100, 100, 120, 230, 160};
    ASSERT_EQ(list->model()->columnCount(), 8);
    for (int c = 0; c < 8; ++c) {
        EXPECT_EQ(list->model()->headerData(c, Qt::Horizontal).toString(), QString::fromUtf8(titles[c]));
        EXPECT_EQ(list->columnWidth(c), widths[c]);
    }
    EXPECT_TRUE(list->showGrid());
    EXPECT_EQ(list->selectionBehavior(), QAbstractItemView::SelectRows);
    EXPECT_EQ(list->GetItemCount(), 0);
    EXPECT_EQ(lynx::res::GetDlgItemAs<QLineEdit>(dlg, IDC_EDIT_SEARCH_SECONDS)->text(), QStringLiteral("12"));
    EXPECT_TRUE(lynx::res::GetDlgItemAs<QCheckBox>(dlg, IDC_CHK_HIDE_SAME_IP)->isChecked());
    EXPECT_TRUE(lynx::res::GetDlgItemAs<QCheckBox>(dlg, IDC_CHK_HIDE_SAME_MAC)->isChecked());
    auto* combo = lynx::res::GetDlgItemAs<QComboBox>(dlg, IDC_COMBO_PROTOCOL);
    EXPECT_EQ(combo->count(), 1);
    EXPECT_EQ(combo->currentText(), QStringLiteral("TARN"));
    EXPECT_EQ(dlg.windowTitle(), QStringLiteral("科瓦诱导摄像机设备搜索软件V1.0.1(Build20181107)"));
    for (QPushButton* button : dlg.findChildren<QPushButton*>()) {
        EXPECT_FALSE(button->isDefault()) << button->text().toStdString();
        EXPECT_FALSE(button->autoDefault()) << button->text().toStdString();
    }
    EXPECT_EQ(g_bUpgrading, 0);
}

TEST(MainWindow, EveryControlOfTheTemplateIsThereByItsId)
{
    ScriptedBoxes boxes;
    CLynxDlg dlg;
    dlg.Create();
    for (int id : {IDC_BTN_SEARCH, IDC_LIST_DEVICE, IDC_BTN_OPEN, IDC_CHK_SELECT_ALL, IDC_BTN_MODIFY_IP,
                   IDC_BTN_MUL_MODIFY_IP, IDC_BTN_BATCH_UPGRADE, IDC_CHK_HIDE_SAME_IP, IDC_CHK_HIDE_SAME_MAC,
                   IDC_STATIC_LOGO, IDC_STATIC_UPGRADE_FILE, IDC_STATIC_UPGRADE_SUMMARY, IDC_EDIT_SEARCH_SECONDS,
                   IDC_COMBO_PROTOCOL})
        EXPECT_NE(lynx::res::GetDlgItem(dlg, id), nullptr) << id;
    EXPECT_FALSE(lynx::res::GetDlgItem(dlg, IDC_STATIC_LOGO)->isVisible());
    // Dialog units become pixels through the font's base units: the list is
    // wider than the buttons and starts below the check boxes.
    QRect listRect = lynx::res::ControlRect(dlg, IDC_LIST_DEVICE);
    EXPECT_GT(listRect.width(), 10 * lynx::res::ControlRect(dlg, IDC_BTN_SEARCH).width());
    EXPECT_GT(listRect.top(), lynx::res::ControlRect(dlg, IDC_CHK_SELECT_ALL).top());
}

namespace {

// Runs the dialog modally and sends one key to a control once it is up.
int endWithKey(int controlId, int key, ScriptedBoxes& boxes, bool* clickedInstead = nullptr)
{
    CLynxDlg dlg;
    dlg.Create();
    QWidget* target = lynx::res::GetDlgItem(dlg, controlId);
    int result = -1;
    QTimer::singleShot(0, &dlg, [&] {
        dlg.activateWindow();
        target->setFocus();
        QTest::keyClick(target, Qt::Key(key));
        if (dlg.isVisible()) {
            if (clickedInstead)
                *clickedInstead = true;
            dlg.reject();
        }
    });
    result = dlg.exec();
    (void)boxes;
    return result;
}

} // namespace

TEST(Ending, EscapeEndsWithCancel)
{
    ScriptedBoxes boxes;
    EXPECT_EQ(endWithKey(IDC_LIST_DEVICE, Qt::Key_Escape, boxes), QDialog::Rejected);
}

TEST(Ending, EnterNeverEndsTheProgram)
{
    ScriptedBoxes boxes;
    for (int id : {IDC_LIST_DEVICE, IDC_COMBO_PROTOCOL, IDC_CHK_SELECT_ALL, IDC_CHK_HIDE_SAME_IP,
                   IDC_CHK_HIDE_SAME_MAC}) {
        bool stillOpen = false;
        EXPECT_EQ(endWithKey(id, Qt::Key_Return, boxes, &stillOpen), QDialog::Rejected) << id;
        EXPECT_TRUE(stillOpen) << id;
    }
}

TEST(Ending, EnterInTheSecondsBoxStartsTheSearchTyped)
{
    ScriptedBoxes boxes;
    CLynxDlg dlg;
    dlg.Create();
    auto* seconds = lynx::res::GetDlgItemAs<QLineEdit>(dlg, IDC_EDIT_SEARCH_SECONDS);
    bool searching = false;
    QTimer::singleShot(0, &dlg, [&] {
        dlg.activateWindow();
        seconds->setFocus();
        seconds->setText(QString());
        QTest::keyClicks(seconds, QStringLiteral("5"));
        QTest::keyClick(seconds, Qt::Key_Return);
        searching = dlg.isSearching();
        QTest::keyClick(seconds, Qt::Key_Enter);  // a second Enter leaves it running
        searching = searching && dlg.isSearching();
        if (dlg.isVisible())
            dlg.reject();
    });
    EXPECT_EQ(dlg.exec(), QDialog::Rejected);
    EXPECT_TRUE(searching);
    EXPECT_EQ(dlg.searchSeconds(), 6);
}

namespace {

// The two ways a person ends the window: Esc, and the title bar's X.
enum class EndBy { Escape, TitleBarX };

// Ends a shown window the given way; true when it has ended.
bool EndWindow(CLynxDlg& dlg, EndBy way)
{
    if (way == EndBy::Escape)
        QTest::keyClick(lynx::res::GetDlgItem(dlg, IDC_LIST_DEVICE), Qt::Key_Escape);
    else
        dlg.close();
    return !dlg.isVisible();
}

const QString kStopsTheBatch = QStringLiteral("正在批量升级，退出将中止升级。");
const QString kUnloadsTheSite = QStringLiteral("已载入站点清单，退出将卸载清单。");
const QString kSure = QStringLiteral("确定退出吗？");

struct WorkCase {
    const char* name;
    bool batch;     // a batch waits for its cameras
    bool siteFile;  // a site file is loaded
    QStringList named;  // what the question says will stop, none: no question
};

void PrintTo(const WorkCase& work, std::ostream* os)
{
    *os << work.name;
}
void PrintTo(EndBy way, std::ostream* os)
{
    *os << (way == EndBy::Escape ? "Esc" : "the title bar's X");
}

class EndingWhileWorkRuns : public testing::TestWithParam<std::tuple<WorkCase, EndBy, bool>> {
protected:
    void TearDown() override
    {
        g_bUpgrading = 0;
        lynx::platform::SetFileDialogHandler(m_previousFiles);
    }
    // The work of the case under way in a shown window.
    void Start(CLynxDlg& dlg, const WorkCase& work)
    {
        dlg.Create();
        dlg.show();
        if (work.siteFile) {
            m_dir.Write("site.csv", "mac,label\n00:1A:2B:00:09:01,A-1\n");
            m_previousFiles = lynx::platform::SetFileDialogHandler(
                [this](const lynx::platform::FileDialogRequest&) { return QString::fromStdString(m_dir.File("site.csv")); });
            dlg.OnMenuLoadSiteFile();
            ASSERT_TRUE(dlg.siteFileLoaded());
        }
        if (work.batch)
            g_bUpgrading = 1;  // the requests are going out
    }

    lynx::test::TempDir m_dir;
    lynx::platform::FileDialogHandler m_previousFiles;
};

} // namespace

TEST_P(EndingWhileWorkRuns, AsksNamingWhatStopsAndEndsOnlyOnYes)
{
    const auto& [work, way, yes] = GetParam();
    ScriptedBoxes boxes;
    CLynxDlg dlg;
    Start(dlg, work);
    boxes.shown.clear();
    boxes.answers = {yes ? lynx::platform::IDOK : lynx::platform::IDCANCEL};

    const bool ended = EndWindow(dlg, way);

    if (work.named.isEmpty()) {
        EXPECT_TRUE(boxes.shown.empty()) << boxes.texts().join(QStringLiteral(" | ")).toStdString();
        EXPECT_TRUE(ended);
        return;
    }
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, (QStringList(work.named) << kSure).join(QStringLiteral("\n")));
    EXPECT_EQ(boxes.shown[0].caption, QStringLiteral("提示"));
    EXPECT_EQ(boxes.shown[0].buttons, lynx::platform::MB_OKCANCEL);
    EXPECT_EQ(boxes.shown[0].owner, &dlg);
    EXPECT_EQ(ended, yes);
    if (yes) {
        EXPECT_EQ(dlg.result(), QDialog::Rejected);
        return;
    }
    // "No" leaves everything as it was.
    EXPECT_EQ(g_bUpgrading, work.batch ? 1 : 0);
    EXPECT_EQ(dlg.siteFileLoaded(), work.siteFile);
    // Once the work is over, the window ends without a question.
    g_bUpgrading = 0;
    dlg.OnMenuUnloadSiteFile();
    boxes.shown.clear();
    EXPECT_TRUE(EndWindow(dlg, way));
    EXPECT_TRUE(boxes.shown.empty()) << boxes.texts().join(QStringLiteral(" | ")).toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    EachWayAndAnswer, EndingWhileWorkRuns,
    testing::Combine(testing::Values(WorkCase{"Nothing", false, false, {}},
                                     WorkCase{"Batch", true, false, {kStopsTheBatch}},
                                     WorkCase{"SiteFile", false, true, {kUnloadsTheSite}},
                                     WorkCase{"BatchAndSiteFile", true, true, {kStopsTheBatch, kUnloadsTheSite}}),
                     testing::Values(EndBy::Escape, EndBy::TitleBarX), testing::Bool()),
    [](const auto& info) {
        return std::string(std::get<0>(info.param).name) +
               (std::get<1>(info.param) == EndBy::Escape ? "_Escape" : "_TitleBarX") +
               (std::get<2>(info.param) ? "_Yes" : "_No");
    });

TEST(SecondLynx, APortHeldByAnotherProgramIsSaidAndTheWindowStaysUsable)
{
    // Another program (a second Lynx) holds the report port.
    lynx::test::PortHolder other(19027);
    ASSERT_TRUE(other.bound());
    const QString taken = QStringLiteral("端口19027或8025已被其他程序占用，无法接收设备应答。");
    ScriptedBoxes boxes;
    CLynxDlg dlg;
    dlg.Create();
    EXPECT_TRUE(WaitFor([&] { return boxes.texts() == QStringList{taken}; }, 2000)) << boxes.texts().join(QStringLiteral(" | ")).toStdString();
    EXPECT_EQ(boxes.shown[0].owner, &dlg);
    auto* search = lynx::res::GetDlgItemAs<QPushButton>(dlg, IDC_BTN_SEARCH);
    search->click();
    EXPECT_EQ(boxes.texts(), (QStringList{taken, taken})) << "a search that would hear nothing";
    EXPECT_FALSE(dlg.isSearching());

    // The other program ends: the next search has the port.
    other.Release();
    search->click();
    EXPECT_TRUE(dlg.isSearching());
    EXPECT_NE(dlg.reportSocket(), 0);
}

TEST(Ending, EnterOnAFocusedPushButtonClicksIt)
{
    ScriptedBoxes boxes;
    bool stillOpen = false;
    endWithKey(IDC_BTN_OPEN, Qt::Key_Return, boxes, &stillOpen);
    EXPECT_TRUE(stillOpen);
    // "打开" with nothing picked says so: the button was clicked.
    EXPECT_EQ(boxes.texts(), QStringList{QStringLiteral("请至少选择一个设备！")});
}

TEST(Ending, CloseRunsTheCloseStepsAndEndsWithCancel)
{
    ScriptedBoxes boxes;
    CLynxDlg dlg;
    dlg.Create();
    KOVA_CPR_ext_ResetCallLog();
    QTimer::singleShot(0, &dlg, [&] { dlg.close(); });
    EXPECT_EQ(dlg.exec(), QDialog::Rejected);
    EXPECT_EQ(sdkCalls(), "StopSearch SetSearchCB");
}

TEST(ReceivePath, AReportBecomesANumberedRow)
{
    ScriptedBoxes boxes;
    CLynxDlg dlg;
    dlg.Create();
    DeliverReport(ReportJson("192.168.1.101", "00:1A:2B:00:00:01"));
    DeliverReport(ReportJson("192.168.1.102", "00:1A:2C:00:00:02"), '#');
    ASSERT_EQ(dlg.listDevice()->GetItemCount(), 1);
    EXPECT_EQ(dlg.listDevice()->GetItemText(0, 0), QStringLiteral("1"));
    EXPECT_EQ(dlg.listDevice()->GetItemText(0, 1), QStringLiteral("192.168.1.101"));
    EXPECT_EQ(dlg.listDevice()->GetItemText(0, 6), QStringLiteral("V1.0 build[2018-11-07]"));
    EXPECT_EQ(dlg.deviceCount(), 1);
}

TEST(ReceivePath, ADatagramAfterTheDialogIsGoneReachesNothing)
{
    ScriptedBoxes boxes;
    const std::string json = ReportJson("192.168.1.101", "00:1A:2B:00:00:01");
    PacketHeader header{};
    header.bodyMarker = '$';
    {
        CLynxDlg dlg;
        dlg.Create();
        // Queued for the UI thread but not yet applied when the dialog goes.
        lynx::protocol::DiscoverySession::ReceiveReport(0, 0, header, static_cast<uint32_t>(json.size()), json.c_str());
        lynx::protocol::DiscoverySession::ReceiveUpdate(0, 0, header, static_cast<uint32_t>(json.size()), json.c_str());
    }
    lynx::protocol::DiscoverySession::ReceiveReport(0, 0, header, static_cast<uint32_t>(json.size()), json.c_str());
    lynx::protocol::DiscoverySession::ReceiveUpdate(0, 0, header, static_cast<uint32_t>(json.size()), json.c_str());
    Pump(20);  // a fixed wait: anything queued would reach the gone dialog now
    EXPECT_FALSE(lynx::protocol::DiscoverySession::AnyReceiving());
}

TEST(ReceivePath, ReportsNotYetAppliedAtAStartClickAreNotListedInTheNewSearch)
{
    ScriptedBoxes boxes;
    CLynxDlg dlg;
    dlg.Create();
    auto* search = lynx::res::GetDlgItemAs<QPushButton>(dlg, IDC_BTN_SEARCH);
    search->click();
    PacketHeader header{};
    header.bodyMarker = '$';
    for (int i = 0; i < 3000; ++i) {
        const std::string json = ReportJson("10.9." + std::to_string(i / 250) + "." + std::to_string(i % 250),
                                            "00:09:00:00:00:01");
        lynx::protocol::DiscoverySession::ReceiveReport(0, 0, header, static_cast<uint32_t>(json.size()), json.c_str());
    }
    // One turn of the event loop applies the first slice of the burst; the
    // rest waits, as it would while the user clicks.
    QCoreApplication::processEvents();
    search->click();  // stop
    search->click();  // start: an empty list
    EXPECT_EQ(dlg.listDevice()->GetItemCount(), 0);
    // Applied in arrival order: once this report is listed, anything still
    // waiting before it would have been too.
    DeliverReport(ReportJson("192.168.1.9", "00:1A:2B:00:00:09"));
    ASSERT_TRUE(WaitFor([&] { return dlg.listDevice()->GetItemCount() > 0; }, 5000));
    ASSERT_EQ(dlg.listDevice()->GetItemCount(), 1);
    EXPECT_EQ(dlg.listDevice()->GetItemText(0, 0), QStringLiteral("1"));
    EXPECT_EQ(dlg.listDevice()->GetItemText(0, 1), QStringLiteral("192.168.1.9"));
}

TEST(ReceivePath, ReportsFromManyThreadsAllArriveOnTheUiThread)
{
    ScriptedBoxes boxes;
    CLynxDlg dlg;
    dlg.Create();
    lynx::res::GetDlgItemAs<QCheckBox>(dlg, IDC_CHK_HIDE_SAME_IP)->setChecked(false);
    lynx::res::GetDlgItemAs<QCheckBox>(dlg, IDC_CHK_HIDE_SAME_MAC)->setChecked(false);
    std::vector<std::thread> senders;
    for (int t = 0; t < 4; ++t) {
        senders.emplace_back([t] {
            PacketHeader header{};
            header.bodyMarker = '$';
            for (int i = 0; i < 250; ++i) {
                std::string json = ReportJson("10.0." + std::to_string(t) + "." + std::to_string(i), "00:00:00:00:00:01");
                lynx::protocol::DiscoverySession::ReceiveReport(0, 0, header, static_cast<uint32_t>(json.size()), json.c_str());
            }
        });
    }
    for (auto& s : senders)
        s.join();
    EXPECT_TRUE(WaitFor([&] { return dlg.listDevice()->GetItemCount() == 1000; }, 20000));
    EXPECT_EQ(dlg.listDevice()->GetItemCount(), 1000);
    EXPECT_EQ(dlg.deviceCount(), 1000);
    EXPECT_EQ(dlg.site().Table().Map().size(), 1000u);
}

TEST(Timers, TheSendLoopsPauseNeverEndsBeforeItsTime)
{
    // Qt's coarse timers may fire up to 5 % early; the pacing between update
    // requests is a promise to the cameras. (The search time-out is checked in
    // the virtual LAN's search test.)
    for (int pause : {3000, 1000}) {
        QElapsedTimer clock;
        clock.start();
        lynx::platform::PauseKeepingPaint(pause);
        EXPECT_GE(clock.elapsed(), pause);
    }
}
