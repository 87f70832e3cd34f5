// The window's two address commands in the virtual LAN, driven by the test:
// the cameras they readdress are found at their new addresses.
#include "app/tests/WindowTestSupport.h"

#include "addressing/Messages.h"
#include "app/shell/DialogBuilder.h"
#include "app/shell/resource.h"

#include <gtest/gtest.h>

#include <map>

namespace msg = lynx::addressing::msg;

namespace {

// The window, searching in the virtual LAN.
class NetlabWindow : public WindowInLan {
protected:
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
