// The two address commands of the main window: one device after another
// through the ModifyIp dialog, or every ticked device from one MulModifyIP plan.
#include "app/CLynxDlg.h"

#include "addressing/BatchAssignment.h"
#include "addressing/Messages.h"
#include "app/dialogs/ModifyIp.h"
#include "app/dialogs/MulModifyIP.h"
#include "platform/Translation.h"
#include "platform/CodePage.h"
#include "app/shell/MessageBox.h"
#include "protocol/Transport.h"

#include <cstring>
#include <map>

namespace {

namespace msg = lynx::addressing::msg;

constexpr int kIpColumn = 1;
constexpr int kMacColumn = 2;
constexpr int kGatewayColumn = 3;
constexpr int kMaskColumn = 4;

QString Text(const char* utf8)
{
    return QString::fromUtf8(utf8);
}

} // namespace

void CLynxDlg::OnBnClickedModifyIp()
{
    bool sawTicked = false;
    // The row count is read before every row: the list may change while a
    // confirmation or the dialog is open.
    for (int i = 0; i < m_listDevice->GetItemCount(); ++i) {
        if (!m_listDevice->GetCheck(i))
            continue;
        sawTicked = true;
        const int device = m_model->DeviceAt(i);
        const QString ip = m_listDevice->GetItemText(i, kIpColumn);
        const QString mac = m_listDevice->GetItemText(i, kMacColumn);
        const QString gateway = m_listDevice->GetItemText(i, kGatewayColumn);
        const QString mask = m_listDevice->GetItemText(i, kMaskColumn);

        if (lynx::platform::ShowMessageBox(this, Text(msg::kConfirmRestart), lynx::platform::MB_OKCANCEL)
            != lynx::platform::IDOK)
            continue;

        ModifyIp dlg(nullptr);
        dlg.m_strIp = ip;
        dlg.m_strGateway = gateway;
        dlg.m_strMask = mask;
        if (dlg.DoModal() != lynx::platform::IDOK)
            continue;

        if (ChangeDeviceIp(mac, dlg.m_strIp, dlg.m_strGateway, dlg.m_strMask)) {
            // The device, which may have moved in the list meanwhile.
            m_site.Readdress(device, dlg.m_strIp.toStdString(), dlg.m_strGateway.toStdString(),
                             dlg.m_strMask.toStdString());
            lynx::platform::ShowMessageBox(this, Text(msg::kChangeSucceeded));
        } else {
            lynx::platform::ShowMessageBox(this, Text(msg::kChangeFailed));
        }
    }
    if (!sawTicked)
        lynx::platform::ShowMessageBox(this, Text(msg::kSelectOne));
}

void CLynxDlg::OnBnClickedMulModifyIp()
{
    // The ticked devices in the order the list shows them, which is the
    // order the plan's addresses are given in.
    lynx::addressing::DevList devList;
    std::map<int, int> deviceOfRow;
    for (int i = 0; i < m_listDevice->GetItemCount(); ++i) {
        if (!m_listDevice->GetCheck(i))
            continue;
        devList[i] = lynx::addressing::DevIpItem{m_listDevice->GetItemText(i, kIpColumn).toStdString(),
                                                 m_listDevice->GetItemText(i, kMacColumn).toStdString()};
        deviceOfRow[i] = m_model->DeviceAt(i);
    }
    if (devList.empty()) {
        lynx::platform::ShowMessageBox(this, Text(msg::kSelectOne));
        return;
    }
    if (lynx::platform::ShowMessageBox(this, Text(msg::kConfirmRestart), lynx::platform::MB_OKCANCEL)
        != lynx::platform::IDOK)
        return;

    MulModifyIP dlg(nullptr);
    // In the network of the card the first of them answered on.
    if (const auto arrival = m_site.Table().ArrivalOf(deviceOfRow.begin()->second))
        dlg.ProposeFromAddress(arrival->localAddress);
    if (dlg.DoModal() != lynx::platform::IDOK)
        return;

    const lynx::addressing::BatchPlan plan{dlg.m_nIpCount, dlg.m_byStartIp, dlg.m_strGateWay.toStdString(),
                                           dlg.m_strNetMask.toStdString()};
    const QString gateway = dlg.m_strGateWay;
    const QString mask = dlg.m_strNetMask;
    auto send = [this, &gateway, &mask](const std::string& mac, const std::string& ip, const std::string&,
                                        const std::string&) {
        return ChangeDeviceIp(QString::fromStdString(mac), QString::fromStdString(ip), gateway, mask);
    };
    m_bInAddressBatch = true;
    const lynx::addressing::BatchOutcome outcome = lynx::addressing::AssignAddresses(devList, plan, send);
    m_bInAddressBatch = false;
    // Each device collected before the dialogs takes its new address.
    for (const lynx::addressing::DeviceAssignment& assignment : outcome.assignments) {
        if (assignment.sent)
            m_site.Readdress(deviceOfRow[assignment.row], assignment.newIp, gateway.toStdString(), mask.toStdString());
    }
    // The failed devices' list follows its heading, which alone is translated.
    const std::string prefix = msg::kSomeFailedPrefix;
    if (outcome.message.rfind(prefix, 0) == 0)
        lynx::platform::ShowMessageBox(
            this, lynx::platform::TrPrefixed(msg::kSomeFailedPrefix, QString::fromStdString(outcome.message.substr(prefix.size()))));
    else
        lynx::platform::ShowMessageBox(this, QString::fromStdString(outcome.message));
}

bool CLynxDlg::ChangeDeviceIp(const QString& mac, const QString& ip, const QString& gateway, const QString& mask)
{
    // On every network card: a camera behind any of them must hear it.
    return m_site.Discovery().SendChangeIp(lynx::protocol::MakeChangeIpRecord(mac.toStdString(), ip.toStdString(), gateway.toStdString(),
                                                           mask.toStdString()));
}
