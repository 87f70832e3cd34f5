// The window's two address commands in the virtual LAN, driven by the test:
// the cameras they readdress are found at their new addresses.
#include "app/tests/WindowTestSupport.h"

#include "addressing/Messages.h"
#include "app/shell/DialogBuilder.h"
#include "app/shell/resource.h"
#include "app/dialogs/ModifyIp.h"
#include "app/dialogs/MulModifyIP.h"
#include "app/dialogs/IpAddressCtrl.h"
#include "platform/Registry.h"
#include "platform/Translation.h"

#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

namespace msg = lynx::addressing::msg;

namespace {

constexpr int kConfirmSeconds = 10;

// The window, searching in the virtual LAN, giving a readdressed camera ten
// seconds to answer at its new address.
class NetlabWindow : public WindowInLan {
protected:
    void SetUpInLan() override
    {
        auto key = lynx::platform::RegistryKey::Create("Software\\Kova\\Harbor");
        ASSERT_TRUE(key);
        key->SetDword("ConfirmSeconds", kConfirmSeconds);
        WindowInLan::SetUpInLan();
    }

    // Waits for the command's outcome: the boxes shown reach count.
    bool boxesReach(size_t count)
    {
        return WaitFor([&] { return boxes.shown.size() >= count; }, (kConfirmSeconds + 10) * 1000);
    }
    // A camera that answered once and is away now: its report, listed.
    void listAwayCamera()
    {
        DeliverReport(ReportJson(kAwayIp, kAwayMac));
    }
    // The plan check's flag for an address held by the camera of mac, in the
    // language chosen.
    static QString HeldBy(const QString& mac) { return lynx::platform::Tr("address held by %1").arg(mac); }
    static constexpr const char* kAwayIp = "192.168.1.160";
    static constexpr const char* kAwayMac = "02:99:00:00:00:31";

    // Searches (two seconds) and returns the rows by MAC with their row index.
    std::map<std::string, int> Search()
    {
        std::map<std::string, int> rows;
        for (const auto& [mac, row] : searchRowsBy(2))
            rows[mac.toStdString()] = row;
        return rows;
    }

    // Searches again until the camera with mac answers from ip: a readdressed
    // camera is silent while it restarts.
    std::map<std::string, int> SearchUntilAt(const std::string& mac, const char* ip)
    {
        std::map<std::string, int> rows;
        for (int attempt = 0; attempt < 5; ++attempt) {
            rows = Search();
            if (rows.count(mac) && Cell(rows.at(mac), 1) == QString::fromUtf8(ip))
                break;
        }
        return rows;
    }

    QString Cell(int row, int column) const { return dlg.listDevice()->GetItemText(row, column); }
};

} // namespace

TEST_F(NetlabWindow, SingleChangeThroughTheDialogMovesTheTickedCamera)
{
    std::map<std::string, int> rows = Search();
    ASSERT_EQ(rows.size(), 3u);
    const std::string mac = rows.begin()->first;
    dlg.listDevice()->SetCheck(rows.begin()->second, true);

    {
        ScriptedDialogs dialogs(
            [](QDialog& d) { return AcceptModifyIp(d, "192.168.1.150", "255.255.255.0", "192.168.1.254"); });
        dlg.OnBnClickedModifyIp();
    }
    // Said once the camera answers at its new address.
    ASSERT_TRUE(boxesReach(2));
    EXPECT_EQ(boxes.texts(), (QStringList{QString::fromUtf8(msg::kConfirmRestart),
                                                   QString::fromUtf8(msg::kChangeSucceeded)}));
    const int row = rows.begin()->second;
    EXPECT_EQ(Cell(row, 1), QStringLiteral("192.168.1.150"));
    EXPECT_EQ(Cell(row, 3), QStringLiteral("192.168.1.254"));
    EXPECT_EQ(Cell(row, 4), QStringLiteral("255.255.255.0"));

    rows = SearchUntilAt(mac, "192.168.1.150");
    ASSERT_EQ(rows.count(mac), 1u);
    EXPECT_EQ(Cell(rows.at(mac), 1), QStringLiteral("192.168.1.150"));
    EXPECT_EQ(Cell(rows.at(mac), 3), QStringLiteral("192.168.1.254"));
}

TEST_F(NetlabWindow, BatchChangeFromTheProposalOfThePcsOwnInterfaces)
{
    std::map<std::string, int> rows = Search();
    ASSERT_EQ(rows.size(), 3u);
    for (int r = 0; r < 3; ++r)
        dlg.listDevice()->SetCheck(r, true);
    std::vector<std::string> macsInRowOrder(3);
    for (const auto& [mac, row] : rows)
        macsInRowOrder[row] = mac;

    QStringList offered;
    {
        ScriptedDialogs dialogs([&offered](QDialog& d) { return AcceptPlan(d, &offered); });
        dlg.OnBnClickedMulModifyIp();
    }
    // The PC's interface in the virtual LAN holds 192.168.1.100 and 10.1.2.100.
    EXPECT_EQ(offered, (QStringList{"192.168.1.0", "10.1.2.0"}));
    ASSERT_TRUE(boxesReach(2));
    EXPECT_EQ(boxes.texts(), (QStringList{QString::fromUtf8(msg::kConfirmRestart),
                                                   QString::fromUtf8(msg::kAllSucceeded)}));

    const char* expected[] = {"192.168.1.2", "192.168.1.3", "192.168.1.4"};
    rows = SearchUntilAt(macsInRowOrder[2], expected[2]);
    ASSERT_EQ(rows.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(rows.count(macsInRowOrder[i]), 1u);
        EXPECT_EQ(Cell(rows.at(macsInRowOrder[i]), 1), QString::fromUtf8(expected[i]));
        EXPECT_EQ(Cell(rows.at(macsInRowOrder[i]), 3), QStringLiteral("192.168.1.1"));
        EXPECT_EQ(Cell(rows.at(macsInRowOrder[i]), 4), QStringLiteral("255.255.255.0"));
    }
}

TEST_F(NetlabWindow, AChangeToACameraThatIsAwayIsNotCalledASuccessAndItsRowKeepsItsAddress)
{
    listAwayCamera();
    ASSERT_EQ(dlg.listDevice()->GetItemCount(), 1);
    dlg.listDevice()->SetCheck(0, true);
    {
        ScriptedDialogs dialogs(
            [](QDialog& d) { return AcceptModifyIp(d, "192.168.1.161", "255.255.255.0", "192.168.1.1"); });
        dlg.OnBnClickedModifyIp();
    }
    // While it is awaited the row says so, and ending the window asks.
    EXPECT_TRUE(dlg.awaitingAddressChanges());
    EXPECT_EQ(Cell(0, 7), lynx::platform::Tr(lynx::site::StatusText({lynx::site::DeviceState::AwaitingAddress})));
    const std::vector<CLynxDlg::Work> running = dlg.WorkInProgress();
    EXPECT_NE(std::find(running.begin(), running.end(), CLynxDlg::Work::AddressConfirmation), running.end());
    dlg.show();
    boxes.answers = {lynx::platform::IDCANCEL};
    QTest::keyClick(dlg.listDevice(), Qt::Key_Escape);
    ASSERT_EQ(boxes.shown.size(), 2u);
    EXPECT_TRUE(boxes.shown[1].text.contains(QStringLiteral("正在等待设备在新地址应答"))) << boxes.shown[1].text.toStdString();
    EXPECT_EQ(boxes.shown[1].buttons, lynx::platform::MB_OKCANCEL);
    EXPECT_TRUE(dlg.isVisible());

    ASSERT_TRUE(boxesReach(3));
    ASSERT_EQ(boxes.shown.size(), 3u);
    EXPECT_FALSE(boxes.texts().contains(QString::fromUtf8(msg::kChangeSucceeded)));
    EXPECT_TRUE(boxes.shown[2].text.startsWith(QStringLiteral("设备未在新地址应答"))) << boxes.shown[2].text.toStdString();
    EXPECT_TRUE(boxes.shown[2].text.contains(QStringLiteral("192.168.1.161")));
    EXPECT_EQ(Cell(0, 1), QString::fromUtf8(kAwayIp));
    EXPECT_EQ(Cell(0, 7), QString::fromUtf8(lynx::site::StatusText(lynx::site::FailureOf(lynx::site::FailureReason::NotAtNewAddress))));
    EXPECT_TRUE(dlg.listModel()->index(0, 7).data(DeviceListModel::FailedRole).toBool());
    EXPECT_FALSE(dlg.awaitingAddressChanges());
}

TEST_F(NetlabWindow, ABatchNamesTheCameraThatIsAwayAndMovesTheOthers)
{
    std::map<std::string, int> rows = Search();
    ASSERT_EQ(rows.size(), 3u);
    listAwayCamera();
    ASSERT_EQ(dlg.listDevice()->GetItemCount(), 4);
    std::vector<std::string> macsInRowOrder(3);
    for (const auto& [mac, row] : rows)
        macsInRowOrder[row] = mac;
    for (int r = 0; r < 4; ++r)
        dlg.listDevice()->SetCheck(r, true);
    {
        ScriptedDialogs dialogs([](QDialog& d) { return AcceptPlan(d); });
        dlg.OnBnClickedMulModifyIp();
    }
    ASSERT_TRUE(boxesReach(2));
    ASSERT_EQ(boxes.shown.size(), 2u);
    EXPECT_EQ(boxes.shown[1].text, QStringLiteral("下列设备ip修改失败:\r\nip=192.168.1.160;mac=02:99:00:00:00:31\r\n"));
    // Each answering camera's row shows its new address; the away one keeps its own.
    const char* expected[] = {"192.168.1.2", "192.168.1.3", "192.168.1.4"};
    for (int r = 0; r < 3; ++r) {
        EXPECT_EQ(Cell(r, 1), QString::fromUtf8(expected[r])) << r;
        EXPECT_EQ(Cell(r, 7), QString::fromUtf8(msg::kChangeSucceeded)) << r;
    }
    EXPECT_EQ(Cell(3, 1), QString::fromUtf8(kAwayIp));
    EXPECT_EQ(Cell(3, 7), QString::fromUtf8(lynx::site::StatusText(lynx::site::FailureOf(lynx::site::FailureReason::NotAtNewAddress))));
}

TEST_F(NetlabWindow, ChangesOntoAddressesOtherCamerasHoldAreFlaggedBeforeAnythingIsSent)
{
    std::map<std::string, int> rows = Search();
    ASSERT_EQ(rows.size(), 3u);
    QStringList before;
    for (int r = 0; r < 3; ++r)
        before << Cell(r, 1);
    const QString held = Cell(2, 1);

    // The plan for the first two rows starts at the third camera's address;
    // the user refuses it.
    dlg.listDevice()->SetCheck(0, true);
    dlg.listDevice()->SetCheck(1, true);
    boxes.answers = {lynx::platform::IDOK, lynx::platform::IDCANCEL};
    {
        ScriptedDialogs dialogs([&held](QDialog& d) {
            auto& plan = dynamic_cast<MulModifyIP&>(d);
            plan.IpControl(IDC_IPADDRESS_PLAN_START)->SetWindowText(held);
            plan.OnOK();
            return plan.result();
        });
        dlg.OnBnClickedMulModifyIp();
    }
    ASSERT_EQ(boxes.shown.size(), 2u);
    EXPECT_TRUE(boxes.shown[1].text.startsWith(QStringLiteral("下列设备的新地址有冲突：")));
    EXPECT_TRUE(boxes.shown[1].text.contains(HeldBy(Cell(2, 2))))
        << boxes.shown[1].text.toStdString();
    EXPECT_EQ(boxes.shown[1].buttons, lynx::platform::MB_OKCANCEL);
    EXPECT_FALSE(dlg.awaitingAddressChanges());

    // A single change onto the second camera's address, refused too.
    dlg.listDevice()->SetCheck(1, false);
    boxes.answers = {lynx::platform::IDOK, lynx::platform::IDCANCEL};
    {
        const QString second = Cell(1, 1);
        ScriptedDialogs dialogs([&second](QDialog& d) { return AcceptModifyIp(d, second); });
        dlg.OnBnClickedModifyIp();
    }
    ASSERT_EQ(boxes.shown.size(), 4u);
    EXPECT_TRUE(boxes.shown[3].text.contains(HeldBy(Cell(1, 2))));
    EXPECT_FALSE(dlg.awaitingAddressChanges());

    // Nothing was sent: every camera still answers where it did.
    std::map<std::string, int> after = Search();
    QStringList now;
    for (int r = 0; r < 3; ++r)
        now << Cell(r, 1);
    before.sort();
    now.sort();
    EXPECT_EQ(now, before);
}
