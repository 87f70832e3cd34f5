// End to end in the virtual LAN (run by netlab in the PC's namespace, with
// simulated cameras beside it): cameras readdressed by lynx-cli and by the
// window's two address commands answer the next search at their new
// addresses. The cameras keep their new addresses from one test to the next,
// so every test finds them by MAC with a search first.
#include "DialogTestSupport.h"

#include "addressing/IpAddressCtrl.h"
#include "addressing/Messages.h"
#include "addressing/ModifyIp.h"
#include "addressing/MulModifyIP.h"
#include "app/CLynxDlg.h"
#include "platform/ModalDialog.h"
#include "res/DialogBuilder.h"
#include "tarn.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QProcess>
#include <QThread>

#include <gtest/gtest.h>

#include <map>

namespace msg = lynx::addressing::msg;

namespace {

// A camera's row as a search lists it.
struct Listed {
    std::string ip, mac, gateway, mask;
};

// MAC -> listed row.
using Listing = std::map<std::string, Listed>;

struct ProcessResult {
    int status = -1;
    std::string out, err;
};

ProcessResult RunCli(const QStringList& args)
{
    QProcess process;
    process.start(QString::fromLocal8Bit(qgetenv("LYNX_BIN_DIR")) + "/lynx-cli", args);
    ProcessResult result;
    if (!process.waitForFinished(60000))
        return result;
    result.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = process.readAllStandardOutput().toStdString();
    result.err = process.readAllStandardError().toStdString();
    return result;
}

std::vector<std::string> Split(const std::string& text, char separator)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        std::size_t at = text.find(separator, start);
        parts.push_back(text.substr(start, at == std::string::npos ? std::string::npos : at - start));
        if (at == std::string::npos)
            return parts;
        start = at + 1;
    }
}

// `lynx-cli search` as CSV: number, IP, MAC, gateway, mask, ...
Listing CliSearch()
{
    ProcessResult r = RunCli({"search", "--seconds", "2", "--format", "csv"});
    EXPECT_EQ(r.status, 0) << r.err;
    Listing listing;
    std::vector<std::string> lines = Split(r.out, '\n');
    for (std::size_t i = 1; i < lines.size(); ++i) {
        std::vector<std::string> cells = Split(lines[i], ',');
        if (cells.size() < 5)
            continue;
        listing[cells[2]] = Listed{cells[1], cells[2], cells[3], cells[4]};
    }
    return listing;
}

// A camera that has taken a new address is silent while it restarts.
void WaitForRestart()
{
    QThread::msleep(2600);
}

void Pump(int milliseconds)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < milliseconds) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(10);
    }
}

std::vector<std::string> Macs(const Listing& listing)
{
    std::vector<std::string> macs;
    for (const auto& [mac, row] : listing)
        macs.push_back(mac);
    return macs;
}

} // namespace

TEST(NetlabCli, AssignReaddressesCamerasAndTheNextSearchListsThemThere)
{
    const Listing before = CliSearch();
    ASSERT_EQ(before.size(), 3u);
    const std::vector<std::string> macs = Macs(before);

    QStringList args{"assign", "--start", "192.168.1.200", "--end", "192.168.1.210", "--gateway", "192.168.1.201",
                     "--mask", "255.255.255.0"};
    for (const std::string& mac : macs)
        args << "--mac" << QString::fromStdString(mac);
    ProcessResult assign = RunCli(args);
    ASSERT_EQ(assign.status, 0) << assign.err;
    EXPECT_EQ(assign.out, macs[0] + " 192.168.1.200\n" + macs[1] + " 192.168.1.202\n" + macs[2] + " 192.168.1.203\n" +
                              msg::kAllSucceeded + "\n");

    WaitForRestart();
    const Listing after = CliSearch();
    ASSERT_EQ(after.size(), 3u);
    const char* expected[] = {"192.168.1.200", "192.168.1.202", "192.168.1.203"};
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(after.count(macs[i]), 1u) << macs[i];
        EXPECT_EQ(after.at(macs[i]).ip, expected[i]);
        EXPECT_EQ(after.at(macs[i]).gateway, "192.168.1.201");
        EXPECT_EQ(after.at(macs[i]).mask, "255.255.255.0");
    }
}

TEST(NetlabCli, SetIpMovesOneCameraAndLeavesTheOthers)
{
    const Listing before = CliSearch();
    ASSERT_EQ(before.size(), 3u);
    const std::string mac = Macs(before).front();
    // Class A: only the first octets of mask and gateway are checked.
    ProcessResult set = RunCli({"set-ip", "--mac", QString::fromStdString(mac), "--ip", "10.1.2.77", "--mask",
                                "255.255.255.0", "--gateway", "10.9.9.1"});
    ASSERT_EQ(set.status, 0) << set.err;
    EXPECT_EQ(set.out, std::string(msg::kChangeSucceeded) + "\n");

    // An invalid entry sends nothing and says why.
    ProcessResult invalid = RunCli({"set-ip", "--mac", QString::fromStdString(mac), "--ip", "192.168.1.78", "--mask",
                                    "255.255.0.0", "--gateway", "192.168.1.1"});
    EXPECT_EQ(invalid.status, 2);
    EXPECT_EQ(invalid.err, std::string(msg::kMaskError) + "\n");

    WaitForRestart();
    const Listing after = CliSearch();
    ASSERT_EQ(after.size(), 3u);
    EXPECT_EQ(after.at(mac).ip, "10.1.2.77");
    EXPECT_EQ(after.at(mac).mask, "255.255.255.0");
    EXPECT_EQ(after.at(mac).gateway, "10.9.9.1");
    for (const auto& [otherMac, row] : before) {
        if (otherMac != mac) {
            EXPECT_EQ(after.at(otherMac).ip, row.ip);
        }
    }
}

namespace {

// The window, searching in the virtual LAN.
class NetlabWindow : public testing::Test {
protected:
    static void SetUpTestSuite() { EnsureApplication(); }
    void SetUp() override
    {
        dlg = std::make_unique<CLynxDlg>();
        dlg->Create();
        lynx::res::GetDlgItemAs<QLineEdit>(*dlg, 1026)->setText(QStringLiteral("1"));
    }
    void TearDown() override
    {
        dlg.reset();
        // The window's report server would otherwise take the replies meant
        // for a later lynx-cli in this namespace.
        tarn_ext_Shutdown();
    }

    // Searches and returns the rows by MAC with their row index.
    std::map<std::string, int> Search()
    {
        if (dlg->isSearching())
            dlg->OnBnClickedSearch();
        dlg->OnBnClickedSearch();
        Pump(2600);
        std::map<std::string, int> rows;
        for (int r = 0; r < dlg->listDevice()->GetItemCount(); ++r)
            rows[dlg->listDevice()->GetItemText(r, 2).toStdString()] = r;
        return rows;
    }

    QString Cell(int row, int column) const { return dlg->listDevice()->GetItemText(row, column); }

    MessageBoxScript boxes;
    std::unique_ptr<CLynxDlg> dlg;
};

} // namespace

TEST_F(NetlabWindow, SingleChangeThroughTheDialogMovesTheTickedCamera)
{
    std::map<std::string, int> rows = Search();
    ASSERT_EQ(rows.size(), 3u);
    const std::string mac = rows.begin()->first;
    dlg->listDevice()->SetCheck(rows.begin()->second, true);

    auto previous = lynx::platform::SetModalDialogHandler([](QDialog& d) {
        auto& m = dynamic_cast<ModifyIp&>(d);
        m.IpControl(1274)->SetWindowText(QStringLiteral("192.168.1.150"));
        m.IpControl(1275)->SetWindowText(QStringLiteral("255.255.255.0"));
        m.IpControl(1276)->SetWindowText(QStringLiteral("192.168.1.254"));
        m.OnOK();
        return m.result();
    });
    dlg->OnBnClickedModifyIp();
    lynx::platform::SetModalDialogHandler(previous);
    EXPECT_EQ(boxes.texts(), (std::vector<QString>{QString::fromUtf8(msg::kConfirmRestart),
                                                   QString::fromUtf8(msg::kChangeSucceeded)}));
    const int row = rows.begin()->second;
    EXPECT_EQ(Cell(row, 1), QStringLiteral("192.168.1.150"));
    EXPECT_EQ(Cell(row, 3), QStringLiteral("192.168.1.254"));
    EXPECT_EQ(Cell(row, 4), QStringLiteral("255.255.255.0"));

    WaitForRestart();
    rows = Search();
    ASSERT_EQ(rows.count(mac), 1u);
    EXPECT_EQ(Cell(rows.at(mac), 1), QStringLiteral("192.168.1.150"));
    EXPECT_EQ(Cell(rows.at(mac), 3), QStringLiteral("192.168.1.254"));
}

TEST_F(NetlabWindow, BatchChangeFromTheProposalOfThePcsOwnInterfaces)
{
    std::map<std::string, int> rows = Search();
    ASSERT_EQ(rows.size(), 3u);
    for (int r = 0; r < 3; ++r)
        dlg->listDevice()->SetCheck(r, true);
    std::vector<std::string> macsInRowOrder(3);
    for (const auto& [mac, row] : rows)
        macsInRowOrder[row] = mac;

    QStringList offered;
    auto previous = lynx::platform::SetModalDialogHandler([&offered](QDialog& d) {
        auto& plan = dynamic_cast<MulModifyIP&>(d);
        for (int i = 0; i < plan.m_comboNet->count(); ++i)
            offered << plan.m_comboNet->itemText(i);
        plan.OnOK();
        return plan.result();
    });
    dlg->OnBnClickedMulModifyIp();
    lynx::platform::SetModalDialogHandler(previous);
    // The PC's interface in the virtual LAN holds 192.168.1.100 and 10.1.2.100.
    EXPECT_EQ(offered, (QStringList{"192.168.1.0", "10.1.2.0"}));
    EXPECT_EQ(boxes.texts(), (std::vector<QString>{QString::fromUtf8(msg::kConfirmRestart),
                                                   QString::fromUtf8(msg::kAllSucceeded)}));

    WaitForRestart();
    rows = Search();
    ASSERT_EQ(rows.size(), 3u);
    const char* expected[] = {"192.168.1.2", "192.168.1.3", "192.168.1.4"};
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(rows.count(macsInRowOrder[i]), 1u);
        EXPECT_EQ(Cell(rows.at(macsInRowOrder[i]), 1), QString::fromUtf8(expected[i]));
        EXPECT_EQ(Cell(rows.at(macsInRowOrder[i]), 3), QStringLiteral("192.168.1.1"));
        EXPECT_EQ(Cell(rows.at(macsInRowOrder[i]), 4), QStringLiteral("255.255.255.0"));
    }
}
