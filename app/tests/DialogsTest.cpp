#include "QtTestSupport.h"

#include "app/dialogs/IpAddressCtrl.h"
#include "addressing/LocalAddresses.h"
#include "addressing/Messages.h"
#include "app/dialogs/ModifyIp.h"
#include "app/dialogs/MulModifyIP.h"
#include "app/shell/ModalDialog.h"
#include "platform/Sockets.h"

#include "app/shell/DialogBuilder.h"
#include "app/shell/resource.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

namespace msg = lynx::addressing::msg;
using lynx::addressing::Octets;

namespace {

QString Q(const char* utf8)
{
    return QString::fromUtf8(utf8);
}

// Gives the dialogs a fixed set of local addresses for the test's lifetime.
class FixedAddresses {
public:
    explicit FixedAddresses(std::optional<std::vector<std::string>> addresses)
    {
        m_previous = lynx::addressing::SetLocalAddressProvider([addresses] { return addresses; });
    }
    ~FixedAddresses() { lynx::addressing::SetLocalAddressProvider(m_previous); }

private:
    lynx::addressing::LocalAddressProvider m_previous;
};

class DialogTest : public ::testing::Test {
protected:
    ScriptedBoxes boxes;
};

struct ModifyIpEntries {
    const char* ip;
    const char* mask;
    const char* gateway;
};

} // namespace

// ---- The IP address control ----

TEST_F(DialogTest, IpControlReportsFilledFieldsAndReadsOctets)
{
    CIPAddressCtrl ctrl;
    EXPECT_TRUE(ctrl.IsBlank());
    ctrl.SetWindowText(QStringLiteral("192.168.1.100"));
    Octets octets{};
    EXPECT_EQ(ctrl.GetAddress(octets), 4);
    EXPECT_EQ(octets, (Octets{192, 168, 1, 100}));
    EXPECT_EQ(ctrl.GetWindowText(), QStringLiteral("192.168.1.100"));

    ctrl.SetWindowText(QStringLiteral("10..7."));
    EXPECT_EQ(ctrl.GetAddress(octets), 2);
    EXPECT_EQ(octets, (Octets{10, 0, 7, 0}));
    EXPECT_EQ(ctrl.FieldEdit(1)->text(), QString());

    ctrl.ClearAddress();
    EXPECT_TRUE(ctrl.IsBlank());
}

TEST_F(DialogTest, IpControlFieldsTakeOnlyDigitsUpTo255)
{
    CIPAddressCtrl ctrl;
    QSignalSpy changed(&ctrl, &CIPAddressCtrl::addressChanged);
    QTest::keyClicks(ctrl.FieldEdit(0), QStringLiteral("3x0"));
    EXPECT_EQ(ctrl.FieldEdit(0)->text(), QStringLiteral("30"));
    QTest::keyClicks(ctrl.FieldEdit(0), QStringLiteral("9"));
    EXPECT_EQ(ctrl.FieldEdit(0)->text(), QStringLiteral("255"));
    QTest::keyClicks(ctrl.FieldEdit(0), QStringLiteral("1"));
    EXPECT_EQ(ctrl.FieldEdit(0)->text(), QStringLiteral("255"));
    EXPECT_GE(changed.count(), 2);
    EXPECT_EQ(ctrl.Fields().filled(), 1);
}

// ---- ModifyIp ----

TEST_F(DialogTest, ModifyIpOpensWithTheCallersValues)
{
    ModifyIp dlg;
    dlg.m_strIp = QStringLiteral("192.168.1.9");
    dlg.m_strMask = QStringLiteral("255.255.255.0");
    dlg.m_strGateway = QStringLiteral("192.168.1.");
    EXPECT_TRUE(dlg.OnInitDialog());
    EXPECT_EQ(dlg.windowTitle(), Q("修改IP"));
    EXPECT_EQ(dlg.IpControl(IDC_IPADDRESS_IP)->GetWindowText(), QStringLiteral("192.168.1.9"));
    EXPECT_EQ(dlg.IpControl(IDC_IPADDRESS_MASK)->GetWindowText(), QStringLiteral("255.255.255.0"));
    EXPECT_EQ(dlg.IpControl(IDC_IPADDRESS_GATEWAY)->Fields().filled(), 3);
}

TEST_F(DialogTest, ModifyIpShowsTheFirstFailingMessageAndStaysOpen)
{
    const std::vector<std::pair<ModifyIpEntries, const char*>> cases = {
        {{"192.168.1.", "", ""}, msg::kIpError},
        {{"172.16.5.5", "255.0.255.0", "172.16.0.1"}, msg::kMaskError},
        {{"127.0.0.5", "255.255.255.0", "127.0.1.1"}, msg::kGatewayError},
    };
    for (const auto& [entries, expected] : cases) {
        ScriptedBoxes script;
        ModifyIp dlg;
        dlg.m_strIp = QStringLiteral("1.1.1.1");
        dlg.OnInitDialog();
        dlg.IpControl(IDC_IPADDRESS_IP)->SetWindowText(QString::fromUtf8(entries.ip));
        dlg.IpControl(IDC_IPADDRESS_MASK)->SetWindowText(QString::fromUtf8(entries.mask));
        dlg.IpControl(IDC_IPADDRESS_GATEWAY)->SetWindowText(QString::fromUtf8(entries.gateway));
        dlg.OnOK();
        ASSERT_EQ(script.shown.size(), 1u) << entries.ip;
        EXPECT_EQ(script.shown[0].text, Q(expected)) << entries.ip;
        EXPECT_EQ(script.shown[0].caption, Q("提示"));
        EXPECT_EQ(script.shown[0].buttons, lynx::platform::MB_OK);
        EXPECT_EQ(dlg.result(), 0) << "the dialog stays open";
        EXPECT_EQ(dlg.m_strIp, QStringLiteral("1.1.1.1"));
        EXPECT_EQ(dlg.IpControl(IDC_IPADDRESS_IP)->Fields(), lynx::addressing::ParseIpFields(entries.ip)) << "entries kept";
    }
}

TEST_F(DialogTest, ModifyIpStoresPlainDottedTextOnOk)
{
    ModifyIp dlg;
    dlg.OnInitDialog();
    dlg.IpControl(IDC_IPADDRESS_IP)->SetWindowText(QStringLiteral("10.1.2.3"));
    dlg.IpControl(IDC_IPADDRESS_MASK)->SetWindowText(QStringLiteral("255.255.255.0"));
    dlg.IpControl(IDC_IPADDRESS_GATEWAY)->SetWindowText(QStringLiteral("10.200.0.1"));
    dlg.IpControl(IDC_IPADDRESS_IP)->FieldEdit(1)->setText(QStringLiteral("001"));
    dlg.OnOK();
    EXPECT_TRUE(boxes.shown.empty());
    EXPECT_EQ(dlg.result(), lynx::platform::IDOK);
    EXPECT_EQ(dlg.m_strIp, QStringLiteral("10.1.2.3"));
    EXPECT_EQ(dlg.m_strMask, QStringLiteral("255.255.255.0"));
    EXPECT_EQ(dlg.m_strGateway, QStringLiteral("10.200.0.1"));
}

TEST_F(DialogTest, ModifyIpCancelStoresNothing)
{
    ModifyIp dlg;
    dlg.m_strIp = QStringLiteral("192.168.1.9");
    dlg.m_strMask = QStringLiteral("255.255.255.0");
    dlg.m_strGateway = QStringLiteral("192.168.1.1");
    ScriptedDialogs scripted([](QDialog& d) {
        auto& m = dynamic_cast<ModifyIp&>(d);
        m.IpControl(IDC_IPADDRESS_IP)->SetWindowText(QStringLiteral("192.168.1.50"));
        QTest::keyClick(&m, Qt::Key_Escape);
        return m.result();
    });
    EXPECT_EQ(dlg.DoModal(), lynx::platform::IDCANCEL);
    EXPECT_EQ(dlg.m_strIp, QStringLiteral("192.168.1.9"));
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(DialogTest, ModifyIpOkButtonRunsTheChecks)
{
    ModifyIp dlg;
    ScriptedDialogs scripted([](QDialog& d) {
        auto& m = dynamic_cast<ModifyIp&>(d);
        auto* ok = lynx::res::GetDlgItemAs<QAbstractButton>(m, lynx::res::IDOK);
        ok->click();  // all blank: refused
        m.IpControl(IDC_IPADDRESS_IP)->SetWindowText(QStringLiteral("192.168.1.9"));
        m.IpControl(IDC_IPADDRESS_MASK)->SetWindowText(QStringLiteral("255.255.255.0"));
        m.IpControl(IDC_IPADDRESS_GATEWAY)->SetWindowText(QStringLiteral("192.168.1.1"));
        ok->click();
        return m.result();
    });
    EXPECT_EQ(dlg.DoModal(), lynx::platform::IDOK);
    EXPECT_EQ(boxes.texts(), QStringList{Q(msg::kIpError)});
    EXPECT_EQ(dlg.m_strIp, QStringLiteral("192.168.1.9"));
}

// ---- MulModifyIP: the proposal ----

TEST_F(DialogTest, ProposalFromTheFirstAddressIsAcceptedAtOnce)
{
    FixedAddresses pc({{"192.168.1.100"}});
    MulModifyIP dlg;
    EXPECT_EQ(dlg.m_nIpCount, 0);
    EXPECT_TRUE(dlg.OnInitDialog());
    EXPECT_EQ(dlg.windowTitle(), Q("批量修改IP"));
    ASSERT_EQ(dlg.m_comboNet->count(), 1);
    EXPECT_EQ(dlg.m_comboNet->itemText(0), QStringLiteral("192.168.1.0"));
    EXPECT_EQ(dlg.m_comboNet->currentIndex(), 0);
    EXPECT_EQ(dlg.IpControl(IDC_IPADDRESS_PLAN_GATEWAY)->GetWindowText(), QStringLiteral("192.168.1.1"));
    EXPECT_EQ(dlg.IpControl(IDC_IPADDRESS_PLAN_START)->GetWindowText(), QStringLiteral("192.168.1.2"));
    EXPECT_EQ(dlg.IpControl(IDC_IPADDRESS_PLAN_END)->GetWindowText(), QStringLiteral("192.168.1.254"));
    EXPECT_EQ(dlg.IpControl(IDC_IPADDRESS_PLAN_MASK)->GetWindowText(), QStringLiteral("255.255.255.0"));

    dlg.OnOK();
    EXPECT_TRUE(boxes.shown.empty());
    EXPECT_EQ(dlg.result(), lynx::platform::IDOK);
    EXPECT_EQ(dlg.m_nIpCount, 253);
    EXPECT_EQ(dlg.m_strGateWay, QStringLiteral("192.168.1.1"));
    EXPECT_EQ(dlg.m_strNetMask, QStringLiteral("255.255.255.0"));
    EXPECT_EQ(dlg.m_byStartIp, (Octets{192, 168, 1, 2}));
    EXPECT_EQ(dlg.m_byEndIp, (Octets{192, 168, 1, 254}));
    EXPECT_EQ(dlg.m_byGateWay, (Octets{192, 168, 1, 1}));
}

TEST_F(DialogTest, ProposalMaskFollowsTheClass)
{
    for (auto [address, mask] : {std::pair{"10.0.0.5", "255.0.0.0"}, std::pair{"172.16.3.4", "255.255.0.0"}}) {
        FixedAddresses pc({{address}});
        MulModifyIP dlg;
        dlg.OnInitDialog();
        EXPECT_EQ(dlg.IpControl(IDC_IPADDRESS_PLAN_MASK)->GetWindowText(), QString::fromUtf8(mask));
        dlg.OnOK();
        EXPECT_EQ(dlg.m_nIpCount, 253) << address;
    }
}

TEST_F(DialogTest, TwoAdaptersGiveTwoEntriesAndChoosingOneReplacesTheFields)
{
    FixedAddresses pc({{"192.168.1.100", "10.1.2.7"}});
    MulModifyIP dlg;
    dlg.OnInitDialog();
    ASSERT_EQ(dlg.m_comboNet->count(), 2);
    EXPECT_EQ(dlg.m_comboNet->itemText(0), QStringLiteral("192.168.1.0"));
    EXPECT_EQ(dlg.m_comboNet->itemText(1), QStringLiteral("10.1.2.0"));
    EXPECT_EQ(dlg.IpControl(IDC_IPADDRESS_PLAN_START)->GetWindowText(), QStringLiteral("192.168.1.2"));

    dlg.IpControl(IDC_IPADDRESS_PLAN_START)->SetWindowText(QStringLiteral("192.168.1.77"));
    dlg.m_comboNet->setCurrentIndex(1);
    dlg.OnCbnSelchangeNet();
    EXPECT_EQ(dlg.IpControl(IDC_IPADDRESS_PLAN_GATEWAY)->GetWindowText(), QStringLiteral("10.1.2.1"));
    EXPECT_EQ(dlg.IpControl(IDC_IPADDRESS_PLAN_START)->GetWindowText(), QStringLiteral("10.1.2.2"));
    EXPECT_EQ(dlg.IpControl(IDC_IPADDRESS_PLAN_END)->GetWindowText(), QStringLiteral("10.1.2.254"));
    EXPECT_EQ(dlg.IpControl(IDC_IPADDRESS_PLAN_MASK)->GetWindowText(), QStringLiteral("255.0.0.0"));
}

TEST_F(DialogTest, TheProposalIsInTheNetworkOfTheCardTheCamerasAnsweredOn)
{
    // An office card first, the cameras' card second; the cameras themselves
    // may answer from a subnet of their own, which plays no part.
    FixedAddresses pc({{"192.168.50.100", "10.1.2.100", "192.168.1.100"}});
    const struct {
        const char* answeredOn;
        int entry;
        const char* start;
    } cases[] = {
        {"192.168.1.100", 2, "192.168.1.2"},
        {"10.1.2.100", 1, "10.1.2.2"},
        {"192.168.7.1", 0, "192.168.50.2"},  // no card of this PC: the first, as without one
        {"", 0, "192.168.50.2"},
    };
    for (const auto& c : cases) {
        MulModifyIP dlg;
        dlg.ProposeFromAddress(c.answeredOn);
        ASSERT_TRUE(dlg.OnInitDialog());
        EXPECT_EQ(dlg.m_comboNet->count(), 3);
        EXPECT_EQ(dlg.m_comboNet->currentIndex(), c.entry) << c.answeredOn;
        EXPECT_EQ(dlg.IpControl(IDC_IPADDRESS_PLAN_START)->GetWindowText(), QString::fromUtf8(c.start)) << c.answeredOn;
    }
}

TEST_F(DialogTest, DuplicateNetworksAreListedAsTheyCome)
{
    FixedAddresses pc({{"192.168.1.100", "192.168.1.101"}});
    MulModifyIP dlg;
    dlg.OnInitDialog();
    EXPECT_EQ(dlg.m_comboNet->count(), 2);
}

TEST_F(DialogTest, NoAddressesOrNoSocketsLeaveTheListEmptyAndTheFieldsBlank)
{
    {
        FixedAddresses pc(std::nullopt);
        MulModifyIP dlg;
        EXPECT_TRUE(dlg.OnInitDialog());
        EXPECT_EQ(dlg.m_comboNet->count(), 0);
        EXPECT_TRUE(dlg.IpControl(IDC_IPADDRESS_PLAN_START)->IsBlank());
        dlg.OnCbnSelchangeNet();
        EXPECT_TRUE(dlg.IpControl(IDC_IPADDRESS_PLAN_START)->IsBlank());
    }
    {
        FixedAddresses pc({{"192.168.1.100"}});
        auto previous = lynx::platform::SetSocketInitHandler([] { return false; });
        MulModifyIP dlg;
        EXPECT_FALSE(dlg.OnInitDialog());
        lynx::platform::SetSocketInitHandler(previous);
        EXPECT_EQ(dlg.m_comboNet->count(), 0);
        EXPECT_TRUE(dlg.IpControl(IDC_IPADDRESS_PLAN_GATEWAY)->IsBlank());
        EXPECT_TRUE(dlg.IpControl(IDC_IPADDRESS_PLAN_MASK)->IsBlank());
    }
}

// ---- MulModifyIP: validation through the dialog ----

TEST_F(DialogTest, PlanChecksRunInOrderOnePerOkPress)
{
    FixedAddresses pc({{"192.168.1.100"}});
    MulModifyIP dlg;
    dlg.OnInitDialog();
    dlg.IpControl(IDC_IPADDRESS_PLAN_START)->SetWindowText(QStringLiteral("192.168.1.255"));
    dlg.IpControl(IDC_IPADDRESS_PLAN_MASK)->ClearAddress();
    dlg.OnOK();
    dlg.IpControl(IDC_IPADDRESS_PLAN_START)->SetWindowText(QStringLiteral("192.168.1.20"));
    dlg.OnOK();
    dlg.IpControl(IDC_IPADDRESS_PLAN_MASK)->SetWindowText(QStringLiteral("255.255.0.0"));
    dlg.OnOK();
    dlg.IpControl(IDC_IPADDRESS_PLAN_MASK)->SetWindowText(QStringLiteral("255.255.255.0"));
    dlg.IpControl(IDC_IPADDRESS_PLAN_END)->SetWindowText(QStringLiteral("192.168.1.10"));
    dlg.OnOK();
    dlg.IpControl(IDC_IPADDRESS_PLAN_END)->SetWindowText(QStringLiteral("192.168.1.100"));
    dlg.IpControl(IDC_IPADDRESS_PLAN_GATEWAY)->SetWindowText(QStringLiteral("192.168.2.1"));
    dlg.OnOK();
    EXPECT_EQ(boxes.texts(), (QStringList{Q(msg::kStartAbove254), Q(msg::kMaskError),
                                                   Q(msg::kPlanMaskClassError), Q(msg::kEndBelowStart),
                                                   Q(msg::kStartSubnetError)}));
    EXPECT_EQ(dlg.result(), 0);
    for (const auto& box : boxes.shown)
        EXPECT_EQ(box.caption, Q("提示"));

    dlg.IpControl(IDC_IPADDRESS_PLAN_GATEWAY)->SetWindowText(QStringLiteral("192.168.1.5"));
    dlg.OnOK();
    EXPECT_EQ(dlg.result(), lynx::platform::IDOK);
    EXPECT_EQ(dlg.m_nIpCount, 81);
}

TEST_F(DialogTest, PlanCancelEndsWithCancel)
{
    FixedAddresses pc({{"192.168.1.100"}});
    MulModifyIP dlg;
    ScriptedDialogs scripted([](QDialog& d) {
        lynx::res::GetDlgItemAs<QAbstractButton>(d, lynx::res::IDCANCEL)->click();
        return d.result();
    });
    EXPECT_EQ(dlg.DoModal(), lynx::platform::IDCANCEL);
    EXPECT_EQ(dlg.m_comboNet->count(), 1) << "the proposal was made before the dialog ran";
}
