// The two address commands of the main window: one device after another
// through the ModifyIp dialog, or every ticked device from one MulModifyIP plan.
// Both check the changes against the list before sending, and count a change
// only once its camera answers at the new address.
#include "app/CLynxDlg.h"

#include "addressing/BatchAssignment.h"
#include "addressing/Messages.h"
#include "addressing/PlanFile.h"
#include "app/dialogs/ModifyIp.h"
#include "app/dialogs/MulModifyIP.h"
#include "platform/Translation.h"
#include "platform/CodePage.h"
#include "app/shell/MessageBox.h"
#include "protocol/Transport.h"

#include <QTimer>

#include <algorithm>
#include <cstring>
#include <map>

namespace {

namespace msg = lynx::addressing::msg;
using Steps = lynx::site::ReaddressSteps;

constexpr int kIpColumn = 1;
constexpr int kMacColumn = 2;
constexpr int kGatewayColumn = 3;
constexpr int kMaskColumn = 4;

constexpr const char* kAwaitingChanges = "正在等待设备在新地址应答，请稍候再修改。";
constexpr const char* kConflictsHeading = "下列设备的新地址有冲突：";
constexpr const char* kChangeAnyway = "是否仍要修改？";
constexpr const char* kNotConfirmed = "设备未在新地址应答，修改未生效：";

QString Text(const char* utf8)
{
    return QString::fromUtf8(utf8);
}

} // namespace

bool CLynxDlg::SayIfAwaitingChanges()
{
    if (!awaitingAddressChanges())
        return false;
    lynx::platform::ShowMessageBox(this, lynx::platform::Tr(kAwaitingChanges));
    return true;
}

void CLynxDlg::OnBnClickedModifyIp()
{
    if (SayIfAwaitingChanges() || m_nModifyNextRow >= 0)
        return;
    bool sawTicked = false;
    for (int i = 0; i < m_listDevice->GetItemCount(); ++i)
        sawTicked = sawTicked || m_listDevice->GetCheck(i);
    if (!sawTicked) {
        lynx::platform::ShowMessageBox(this, Text(msg::kSelectOne));
        return;
    }
    ModifyIpFrom(0);
}

void CLynxDlg::ModifyIpFrom(int row)
{
    m_nModifyNextRow = -1;
    // The row count is read before every row: the list may change while a
    // confirmation, the dialog or a camera's restart is awaited.
    for (int i = row; i < m_listDevice->GetItemCount(); ++i) {
        if (!m_listDevice->GetCheck(i))
            continue;
        const int device = m_model->DeviceAt(i);
        const QString ip = m_listDevice->GetItemText(i, kIpColumn);
        const QString mac = m_listDevice->GetItemText(i, kMacColumn);

        if (lynx::platform::ShowMessageBox(this, Text(msg::kConfirmRestart), lynx::platform::MB_OKCANCEL)
            != lynx::platform::IDOK)
            continue;

        ModifyIp dlg(nullptr);
        dlg.m_strIp = ip;
        dlg.m_strGateway = m_listDevice->GetItemText(i, kGatewayColumn);
        dlg.m_strMask = m_listDevice->GetItemText(i, kMaskColumn);
        if (dlg.DoModal() != lynx::platform::IDOK)
            continue;
        const lynx::site::AddressChange change{mac.toStdString(), dlg.m_strIp.toStdString(),
                                               dlg.m_strMask.toStdString(), dlg.m_strGateway.toStdString()};
        if (!ConflictsAccepted({change}))
            continue;

        BeginReaddress(false);
        if (!m_site.AddReaddress(device, ip.toStdString(), change, lynx::site::Site::Clock::now())) {
            m_site.EndReaddress();
            lynx::platform::ShowMessageBox(this, Text(msg::kChangeFailed));
            continue;
        }
        // The next rows once this camera has answered, or its time is up.
        m_nModifyNextRow = i + 1;
        ArmEngineTick();
        return;
    }
}

void CLynxDlg::OnBnClickedMulModifyIp()
{
    if (SayIfAwaitingChanges() || m_nModifyNextRow >= 0)
        return;
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
    // The addresses the devices would be given if every send went out: checked
    // against the list before anything is sent.
    std::vector<lynx::site::AddressChange> planned;
    const lynx::addressing::BatchOutcome dry = lynx::addressing::AssignAddresses(
        devList, plan, [&planned](const std::string& mac, const std::string& ip, const std::string& gateway,
                                  const std::string& mask) {
            planned.push_back({mac, ip, mask, gateway});
            return true;
        });
    if (!dry.refused && !ConflictsAccepted(planned))
        return;

    BeginReaddress(true);
    auto next = devList.begin();
    auto send = [&](const std::string& mac, const std::string& ip, const std::string& gateway, const std::string& mask) {
        const int device = deviceOfRow[next->first];
        const std::string oldIp = next->second.strIp;
        ++next;
        return m_site.AddReaddress(device, oldIp, {mac, ip, mask, gateway}, lynx::site::Site::Clock::now());
    };
    m_bInAddressBatch = true;
    const lynx::addressing::BatchOutcome outcome = lynx::addressing::AssignAddresses(devList, plan, send);
    m_bInAddressBatch = false;
    if (outcome.refused) {
        m_site.EndReaddress();
        lynx::platform::ShowMessageBox(this, QString::fromStdString(outcome.message));
        return;
    }
    if (m_site.Readdressing()->Waiting())
        ArmEngineTick();
    else
        TellReaddressOutcome();
}

bool CLynxDlg::ConflictsAccepted(const std::vector<lynx::site::AddressChange>& changes)
{
    std::vector<lynx::addressing::PlanRow> rows;
    for (const lynx::site::AddressChange& change : changes)
        rows.push_back({static_cast<int>(rows.size()) + 1, change.mac, change.ip, change.mask, change.gateway});
    std::vector<lynx::addressing::FoundCamera> listed;
    for (int number = 1; number <= m_site.Count(); ++number) {
        if (const DeviceRecord* r = m_site.Device(number))
            listed.push_back({lynx::protocol::FieldText(r->mac), lynx::protocol::FieldText(r->deviceIp),
                              lynx::protocol::FieldText(r->netMask), lynx::protocol::FieldText(r->gatewayIp)});
    }
    QStringList lines;
    for (const lynx::addressing::CheckedRow& row : lynx::addressing::CheckPlan(rows, listed)) {
        for (const lynx::addressing::PlanFlag& flag : row.flags) {
            const std::string said = lynx::addressing::FilledIn(lynx::platform::TrUtf8(flag.text), flag.values);
            lines << QStringLiteral("%1 → %2: %3").arg(QString::fromStdString(row.row.mac),
                                                       QString::fromStdString(row.row.ip), QString::fromStdString(said));
        }
    }
    if (lines.isEmpty())
        return true;
    lines.prepend(lynx::platform::Tr(kConflictsHeading));
    lines << lynx::platform::Tr(kChangeAnyway);
    return lynx::platform::ShowMessageBox(this, lines.join(QStringLiteral("\r\n")), lynx::platform::MB_OKCANCEL)
           == lynx::platform::IDOK;
}

void CLynxDlg::BeginReaddress(bool batch)
{
    // How long a camera is given to answer at its new address.
    const int confirmSeconds = static_cast<int>(
        std::clamp<uint32_t>(SettingDword("ConfirmSeconds").value_or(lynx::site::kDefaultConfirmSeconds), 1, 3600));
    m_site.BeginReaddress([this](const std::string& mac, const std::string& ip, const std::string& gateway,
                                 const std::string& mask) {
        return ChangeDeviceIp(QString::fromStdString(mac), QString::fromStdString(ip), QString::fromStdString(gateway),
                              QString::fromStdString(mask));
    }, confirmSeconds);
    m_bReaddressBatch = batch;
}

void CLynxDlg::ReaddressEnded()
{
    // The outcome is told from the event loop, not from inside a report.
    QTimer::singleShot(0, this, [this] {
        if (m_site.Readdressing() && !m_site.Readdressing()->Waiting())
            TellReaddressOutcome();
    });
}

void CLynxDlg::TellReaddressOutcome()
{
    const Steps* steps = m_site.Readdressing();
    if (!steps)
        return;
    const std::vector<lynx::site::Site::ChangedDevice> devices = m_site.ChangedDevices();
    std::vector<Steps::Outcome> outcomes;
    for (std::size_t i = 0; i < steps->Size(); ++i)
        outcomes.push_back(steps->OutcomeOf(i));
    const std::string firstIp = steps->Size() ? steps->Change(0).ip : std::string();
    m_site.EndReaddress();
    if (!m_bReaddressBatch) {
        if (outcomes[0] == Steps::Outcome::Confirmed)
            lynx::platform::ShowMessageBox(this, Text(msg::kChangeSucceeded));
        else
            lynx::platform::ShowMessageBox(
                this, lynx::platform::TrPrefixed(kNotConfirmed, QStringLiteral("ip=%1;mac=%2 → %3")
                                                                    .arg(QString::fromStdString(devices[0].oldIp),
                                                                         QString::fromStdString(devices[0].mac),
                                                                         QString::fromStdString(firstIp))));
        if (m_nModifyNextRow >= 0)
            ModifyIpFrom(m_nModifyNextRow);
        return;
    }
    // A device is listed by its address before the change, whether its change
    // did not go out or it did not answer at its new address.
    QString failed;
    for (std::size_t i = 0; i < outcomes.size(); ++i) {
        if (outcomes[i] != Steps::Outcome::Confirmed)
            failed += QStringLiteral("ip=%1;mac=%2\r\n").arg(QString::fromStdString(devices[i].oldIp),
                                                             QString::fromStdString(devices[i].mac));
    }
    if (failed.isEmpty())
        lynx::platform::ShowMessageBox(this, Text(msg::kAllSucceeded));
    else
        lynx::platform::ShowMessageBox(this, lynx::platform::TrPrefixed(msg::kSomeFailedPrefix, failed));
}

bool CLynxDlg::ChangeDeviceIp(const QString& mac, const QString& ip, const QString& gateway, const QString& mask)
{
    // On every network card: a camera behind any of them must hear it.
    return m_site.Discovery().SendChangeIp(lynx::protocol::MakeChangeIpRecord(mac.toStdString(), ip.toStdString(), gateway.toStdString(),
                                                           mask.toStdString()));
}
