// The window on a PC with three network cards (tools/netlab --nics 3): an
// office card with the default route, and two camera segments.
#include "app/tests/WindowTestSupport.h"

#include "NetlabFixture.h"
#include "app/dialogs/IpAddressCtrl.h"
#include "addressing/Messages.h"
#include "app/dialogs/MulModifyIP.h"
#include "app/shell/ModalDialog.h"
#include "app/shell/DialogBuilder.h"
#include "app/shell/resource.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

#include <gtest/gtest.h>

#include <map>

namespace {

using namespace lynx::test;

class WindowOnSeveralCards : public NetlabTest {
protected:
    void SetUp() override
    {
        NetlabTest::SetUp();
        if (IsSkipped())
            return;
        dlg.Create();
        lynx::res::GetDlgItemAs<QLineEdit>(dlg, IDC_EDIT_SEARCH_SECONDS)->setText(QStringLiteral("1"));
    }

    // Searches (two seconds) and returns the row of each IP.
    std::map<QString, int> Search()
    {
        if (dlg.isSearching())
            dlg.OnBnClickedSearch();
        dlg.OnBnClickedSearch();
        EXPECT_TRUE(WaitFor([&] { return !dlg.isSearching(); }, 5000));
        std::map<QString, int> rows;
        for (int r = 0; r < dlg.listDevice()->GetItemCount(); ++r)
            rows[dlg.listDevice()->GetItemText(r, 1)] = r;
        return rows;
    }

    ScriptedBoxes boxes;
    CLynxDlg dlg;
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
    auto previous = lynx::platform::SetModalDialogHandler([&offered](QDialog& d) {
        auto& plan = dynamic_cast<MulModifyIP&>(d);
        for (int i = 0; i < plan.m_comboNet->count(); ++i)
            offered << plan.m_comboNet->itemText(i);
        plan.m_comboNet->setCurrentIndex(plan.m_comboNet->findText(QStringLiteral("10.10.0.0")));
        plan.OnCbnSelchangeNet();
        plan.OnOK();
        return plan.result();
    });
    dlg.OnBnClickedMulModifyIp();
    lynx::platform::SetModalDialogHandler(previous);
    EXPECT_TRUE(offered.contains(QStringLiteral("10.10.0.0"))) << offered.join(' ').toStdString();
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
