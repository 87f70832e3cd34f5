// The window on a PC with three network cards (tools/netlab --nics 3): an
// office card with the default route, and two camera segments.
#include "app/tests/WindowTestSupport.h"

#include "addressing/Messages.h"
#include "app/dialogs/IpAddressCtrl.h"
#include "app/dialogs/MulModifyIP.h"
#include "app/shell/DialogBuilder.h"
#include "app/shell/resource.h"

#include <QPushButton>

#include <gtest/gtest.h>

#include <map>

namespace {

using namespace lynx::test;

class WindowOnSeveralCards : public WindowInLan {
protected:
    // Searches (two seconds) and returns the row of each IP.
    std::map<QString, int> Search() { return searchRowsBy(1); }
};

TEST_F(WindowOnSeveralCards, FindsTheCamerasBehindEveryCardAndTellsWhereEachAnswered)
{
    const std::map<QString, int> rows = Search();
    const Json::Value first = NetlabCameras(), second = NetlabCameras2();
    EXPECT_EQ(rows.size(), first.size() + second.size());
    for (const auto& [segment, where] : {std::pair{&first, "eth1 (" + PcAddress() + ")"},
                                         std::pair{&second, "eth2 (" + PcAddress3() + ")"}}) {
        for (const Json::Value& camera : *segment) {
            const QString ip = QString::fromStdString(camera["ip"].asString());
            ASSERT_EQ(rows.count(ip), 1u) << ip.toStdString();
            EXPECT_EQ(dlg.listDevice()->GetItemToolTip(rows.at(ip), 1), QString::fromStdString(where));
        }
    }
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(WindowOnSeveralCards, BatchPlanReaddressesTheCamerasBehindTheSecondCard)
{
    std::map<QString, int> rows = Search();
    const Json::Value second = NetlabCameras2();
    for (const Json::Value& camera : second)
        dlg.listDevice()->SetCheck(rows.at(QString::fromStdString(camera["ip"].asString())), true);

    QStringList offered;
    {
        ScriptedDialogs dialogs([&offered](QDialog& d) { return AcceptPlan(d, &offered, QStringLiteral("10.10.0.0")); });
        dlg.OnBnClickedMulModifyIp();
    }
    EXPECT_TRUE(offered.contains(QStringLiteral("10.10.0.0"))) << offered.join(' ').toStdString();
    // Said once every camera answers at its new address.
    ASSERT_TRUE(WaitFor([&] { return !dlg.awaitingAddressChanges(); }, 70000));
    EXPECT_EQ(boxes.texts().back(), QString::fromUtf8(lynx::addressing::msg::kAllSucceeded));

    // The plan of 10.10.0.x: the gateway .1 skipped, from .2 upward in row order.
    const QString last = QStringLiteral("10.10.0.%1").arg(1 + second.size());
    for (int attempt = 0; attempt < 5 && !rows.count(last); ++attempt)
        rows = Search();
    for (Json::ArrayIndex i = 0; i < second.size(); ++i) {
        const QString moved = QStringLiteral("10.10.0.%1").arg(2 + i);
        ASSERT_EQ(rows.count(moved), 1u) << moved.toStdString();
        EXPECT_EQ(dlg.listDevice()->GetItemText(rows.at(moved), 4), QStringLiteral("255.0.0.0"));
    }
}

TEST_F(WindowOnSeveralCards, ThePlanIsProposedInTheNetworkOfTheCardTheTickedCamerasAnsweredOn)
{
    // The office card comes first; the cameras ticked answered on the second
    // camera segment's card (wherever an earlier case moved them in it).
    int ticked = 0;
    for (const auto& [ip, row] : Search())
        if (ip.startsWith(QStringLiteral("10.10.0.")) && dlg.listDevice()->SetCheck(row, true))
            ++ticked;
    ASSERT_EQ(ticked, static_cast<int>(NetlabCameras2().size()));
    QString start, gateway;
    {
        ScriptedDialogs dialogs([&](QDialog& d) {
            auto& plan = dynamic_cast<MulModifyIP&>(d);
            start = plan.IpControl(IDC_IPADDRESS_PLAN_START)->GetWindowText();
            gateway = plan.IpControl(IDC_IPADDRESS_PLAN_GATEWAY)->GetWindowText();
            return lynx::platform::IDCANCEL;
        });
        dlg.OnBnClickedMulModifyIp();
    }
    EXPECT_EQ(start, QStringLiteral("10.10.0.2"));
    EXPECT_EQ(gateway, QStringLiteral("10.10.0.1"));
}

TEST_F(WindowOnSeveralCards, WithEveryCardDownTheSearchSaysItCouldNotBeSent)
{
    ASSERT_TRUE(SetPcInterfacesUp(false));
    dlg.OnBnClickedSearch();
    ASSERT_TRUE(SetPcInterfacesUp(true));
    EXPECT_EQ(boxes.texts(), QStringList{QStringLiteral("搜索命令发送失败！")});
    EXPECT_NE(boxes.shown[0].owner, nullptr);
    dlg.OnBnClickedSearch();  // stop
}

} // namespace
