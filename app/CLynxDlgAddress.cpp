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
            m_listDevice->SetItemText(i, kIpColumn, dlg.m_strIp);
            m_listDevice->SetItemText(i, kGatewayColumn, dlg.m_strGateway);
            m_listDevice->SetItemText(i, kMaskColumn, dlg.m_strMask);
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
    lynx::addressing::DevList devList;
    for (int i = 0; i < m_listDevice->GetItemCount(); ++i) {
        if (m_listDevice->GetCheck(i))
            devList[i] = lynx::addressing::DevIpItem{m_listDevice->GetItemText(i, kIpColumn).toStdString(),
                                                     m_listDevice->GetItemText(i, kMacColumn).toStdString()};
    }
    if (devList.empty()) {
        lynx::platform::ShowMessageBox(this, Text(msg::kSelectOne));
        return;
    }
    if (lynx::platform::ShowMessageBox(this, Text(msg::kConfirmRestart), lynx::platform::MB_OKCANCEL)
        != lynx::platform::IDOK)
        return;

    MulModifyIP dlg(nullptr);
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
    const lynx::addressing::BatchOutcome outcome = lynx::addressing::AssignAddresses(devList, plan, send);
    // The rows collected before the dialogs are rewritten by those indexes.
    for (const lynx::addressing::DeviceAssignment& assignment : outcome.assignments) {
        if (!assignment.sent)
            continue;
        m_listDevice->SetItemText(assignment.row, kIpColumn, QString::fromStdString(assignment.newIp));
        m_listDevice->SetItemText(assignment.row, kGatewayColumn, gateway);
        m_listDevice->SetItemText(assignment.row, kMaskColumn, mask);
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
    return SendChangeIp(lynx::protocol::MakeChangeIpRecord(mac.toStdString(), ip.toStdString(), gateway.toStdString(),
                                                           mask.toStdString()));
}
