// The window's two address commands, driven with scripted message boxes and
// dialogs. Every send here fails before anything leaves the machine: the
// window's report socket is closed first, so the transport has nothing to send
// through. The sends that reach cameras are tested in the virtual LAN.
#include "app/tests/WindowTestSupport.h"
#include "app/shell/resource.h"

#include "app/dialogs/IpAddressCtrl.h"
#include "addressing/LocalAddresses.h"
#include "addressing/Messages.h"
#include "app/dialogs/ModifyIp.h"
#include "app/dialogs/MulModifyIP.h"
#include "app/CLynxDlg.h"
#include "app/shell/ModalDialog.h"
#include "tarn.h"

#include <QComboBox>

#include <gtest/gtest.h>

#include <functional>

namespace msg = lynx::addressing::msg;

namespace {

QString Q(const char* utf8)
{
    return QString::fromUtf8(utf8);
}

struct Row {
    const char* ip;
    const char* mac;
    const char* gateway;
    const char* mask;
    bool ticked;
};

// Scripts every modal dialog for the test's lifetime and records what each
// one showed when it opened.
class DialogScript : public ScriptedDialogs {
public:
    explicit DialogScript(std::function<int(QDialog&)> answer)
        : ScriptedDialogs([this, answer = std::move(answer)](QDialog& dlg) {
              if (auto* single = dynamic_cast<ModifyIp*>(&dlg))
                  openedWith.push_back(single->IpControl(IDC_IPADDRESS_IP)->GetWindowText() + " " +
                                       single->IpControl(IDC_IPADDRESS_MASK)->GetWindowText() + " " +
                                       single->IpControl(IDC_IPADDRESS_GATEWAY)->GetWindowText());
              return answer(dlg);
          })
    {
    }

    std::vector<QString> openedWith;
};

int Cancel(QDialog&)
{
    return lynx::platform::IDCANCEL;
}

// Fills ModifyIp with a valid change and presses OK.
int AcceptNewAddress(QDialog& dlg)
{
    return AcceptModifyIp(dlg, "192.168.1.50", "255.255.255.0", "192.168.1.1");
}

class AddressCommands : public testing::Test {
protected:
    void SetUp() override
    {
        dlg.Create();
        // With the report socket closed, every changeIp send fails without a
        // datagram: nothing is broadcast from this machine's own network.
        ASSERT_NE(dlg.reportSocket(), 0);
        ASSERT_EQ(tarn_ext_Close(dlg.reportSocket()), 1);
        m_previousAddresses = lynx::addressing::SetLocalAddressProvider(
            [] { return std::optional<std::vector<std::string>>({"192.168.1.100"}); });
    }
    void TearDown() override { lynx::addressing::SetLocalAddressProvider(m_previousAddresses); }

    void addRows(const std::vector<Row>& rows)
    {
        CProcessList* list = dlg.listDevice();
        for (const Row& r : rows) {
            const std::string report = ReportJson(r.ip, r.mac);
            DeliverReport(lynx::test::WithField(lynx::test::WithField(report, "gatewayIp", r.gateway), "netMask", r.mask));
            list->SetCheck(list->GetItemCount() - 1, r.ticked);
        }
    }

    QStringList rowCells(int row) const
    {
        return {dlg.listDevice()->GetItemText(row, 1), dlg.listDevice()->GetItemText(row, 3),
                dlg.listDevice()->GetItemText(row, 4)};
    }

    ScriptedBoxes boxes;
    CLynxDlg dlg;

private:
    lynx::addressing::LocalAddressProvider m_previousAddresses;
};

const std::vector<Row> kThreeRows = {
    {"192.168.1.101", "00:1A:2B:00:00:01", "192.168.1.1", "255.255.255.0", true},
    {"192.168.1.102", "00:1A:2B:00:00:02", "192.168.1.1", "255.255.255.0", false},
    {"192.168.1.103", "00:1A:2B:00:00:03", "192.168.1.254", "255.255.0.0", true},
};

} // namespace

// ---- Nothing ticked ----

TEST_F(AddressCommands, NothingTickedShowsOneMessageAndNoConfirmation)
{
    addRows({{"192.168.1.101", "A", "192.168.1.1", "255.255.255.0", false}});
    DialogScript dialogs(Cancel);
    dlg.OnBnClickedModifyIp();
    EXPECT_EQ(boxes.texts(), QStringList{Q(msg::kSelectOne)});
    dlg.OnBnClickedMulModifyIp();
    EXPECT_EQ(boxes.texts(), (QStringList{Q(msg::kSelectOne), Q(msg::kSelectOne)}));
    EXPECT_EQ(dialogs.opened, 0);
    for (const auto& box : boxes.shown) {
        EXPECT_EQ(box.caption, Q("提示"));
        EXPECT_EQ(box.buttons, lynx::platform::MB_OK);
    }
}

// ---- Single change ----

TEST_F(AddressCommands, EveryTickedRowIsOfferedInRowOrderAfterACancelledConfirmation)
{
    addRows(kThreeRows);
    boxes.answers = {lynx::platform::IDCANCEL, lynx::platform::IDOK};
    DialogScript dialogs(Cancel);
    dlg.OnBnClickedModifyIp();
    ASSERT_EQ(boxes.shown.size(), 2u);
    EXPECT_EQ(boxes.shown[0].text, Q(msg::kConfirmRestart));
    EXPECT_EQ(boxes.shown[0].buttons, lynx::platform::MB_OKCANCEL);
    EXPECT_EQ(boxes.shown[0].caption, Q("提示"));
    EXPECT_EQ(boxes.shown[1].text, Q(msg::kConfirmRestart));
    // Only the third row reached its dialog, pre-filled from its cells.
    EXPECT_EQ(dialogs.openedWith, std::vector<QString>{QStringLiteral("192.168.1.103 255.255.0.0 192.168.1.254")});
}

TEST_F(AddressCommands, CancellingTheFirstDialogStillOffersTheSecond)
{
    addRows(kThreeRows);
    DialogScript dialogs(Cancel);
    dlg.OnBnClickedModifyIp();
    EXPECT_EQ(dialogs.openedWith, (std::vector<QString>{QStringLiteral("192.168.1.101 255.255.255.0 192.168.1.1"),
                                                        QStringLiteral("192.168.1.103 255.255.0.0 192.168.1.254")}));
    EXPECT_EQ(boxes.texts(), (QStringList{Q(msg::kConfirmRestart), Q(msg::kConfirmRestart)}));
}

TEST_F(AddressCommands, AFailedSendSaysSoAndLeavesTheRowAsItWas)
{
    addRows({kThreeRows[0]});
    DialogScript dialogs(AcceptNewAddress);
    dlg.OnBnClickedModifyIp();
    EXPECT_EQ(boxes.texts(), (QStringList{Q(msg::kConfirmRestart), Q(msg::kChangeFailed)}));
    EXPECT_EQ(rowCells(0), (QStringList{"192.168.1.101", "192.168.1.1", "255.255.255.0"}));
    EXPECT_TRUE(dlg.listDevice()->GetCheck(0));
}

TEST_F(AddressCommands, RowsAddedWhileADialogIsOpenAreVisitedToo)
{
    addRows(kThreeRows);
    DialogScript dialogs([this](QDialog&) {
        // A report arrives while the first dialog is open and its row is ticked.
        if (dlg.listDevice()->GetItemCount() == 3)
            addRows({{"192.168.1.104", "00:1A:2B:00:00:04", "192.168.1.1", "255.255.255.0", true}});
        return int(lynx::platform::IDCANCEL);
    });
    dlg.OnBnClickedModifyIp();
    EXPECT_EQ(dialogs.opened, 3);
    EXPECT_EQ(dialogs.openedWith.back(), QStringLiteral("192.168.1.104 255.255.255.0 192.168.1.1"));
}

TEST_F(AddressCommands, RowsRemovedWhileADialogIsOpenAreNotVisited)
{
    addRows(kThreeRows);
    DialogScript dialogs([this](QDialog&) {
        // A new search empties the list.
        dlg.site().Clear();
        return int(lynx::platform::IDCANCEL);
    });
    dlg.OnBnClickedModifyIp();
    EXPECT_EQ(dialogs.opened, 1);
    EXPECT_EQ(boxes.texts(), QStringList{Q(msg::kConfirmRestart)});
}

// ---- Batch ----

TEST_F(AddressCommands, BatchStopsAtARefusedConfirmationOrACancelledPlan)
{
    addRows(kThreeRows);
    boxes.answers = {lynx::platform::IDCANCEL};
    DialogScript dialogs(Cancel);
    dlg.OnBnClickedMulModifyIp();
    EXPECT_EQ(dialogs.opened, 0);
    EXPECT_EQ(boxes.texts(), QStringList{Q(msg::kConfirmRestart)});

    dlg.OnBnClickedMulModifyIp();
    EXPECT_EQ(dialogs.opened, 1);
    EXPECT_EQ(boxes.shown.size(), 2u) << "a cancelled plan ends the command without a message";
}

TEST_F(AddressCommands, BatchRefusesAPlanWithFewerAddressesThanTickedRows)
{
    addRows(kThreeRows);
    DialogScript dialogs([](QDialog& d) {
        auto& plan = dynamic_cast<MulModifyIP&>(d);
        plan.IpControl(IDC_EDIT_SEARCH_SECONDS)->SetWindowText(QStringLiteral("192.168.1.2"));  // one address
        plan.OnOK();
        return plan.result();
    });
    dlg.OnBnClickedMulModifyIp();
    EXPECT_EQ(boxes.texts(), (QStringList{Q(msg::kConfirmRestart), Q(msg::kTooManyDevices)}));
    EXPECT_EQ(rowCells(0), (QStringList{"192.168.1.101", "192.168.1.1", "255.255.255.0"}));
}

TEST_F(AddressCommands, BatchListsEveryFailedDeviceByItsOldAddressInRowOrder)
{
    addRows(kThreeRows);
    DialogScript dialogs([](QDialog& d) {
        auto& plan = dynamic_cast<MulModifyIP&>(d);
        EXPECT_EQ(plan.m_comboNet->itemText(0), QStringLiteral("192.168.1.0"));
        plan.OnOK();
        return plan.result();
    });
    dlg.OnBnClickedMulModifyIp();
    ASSERT_EQ(boxes.shown.size(), 2u);
    EXPECT_EQ(boxes.shown[1].text, Q("下列设备ip修改失败:\r\n"
                                     "ip=192.168.1.101;mac=00:1A:2B:00:00:01\r\n"
                                     "ip=192.168.1.103;mac=00:1A:2B:00:00:03\r\n"));
    EXPECT_EQ(boxes.shown[1].buttons, lynx::platform::MB_OK);
    EXPECT_EQ(rowCells(0), (QStringList{"192.168.1.101", "192.168.1.1", "255.255.255.0"}));
    EXPECT_EQ(rowCells(2), (QStringList{"192.168.1.103", "192.168.1.254", "255.255.0.0"}));
}
