#include "app/tests/WindowTestSupport.h"

#include "app/dialogs/IpAddressCtrl.h"
#include "app/dialogs/ModifyIp.h"
#include "app/dialogs/MulModifyIP.h"
#include "app/shell/DialogBuilder.h"
#include "app/shell/resource.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <chrono>

std::shared_ptr<std::vector<int>> SkipUpgradePauses(CLynxDlg& dlg)
{
    auto skipped = std::make_shared<std::vector<int>>();
    lynx::upgrade::UpgradeBatch& batch = dlg.site().Upgrade().Batch();
    batch.SetClock([&batch, skipped, ahead = std::chrono::steady_clock::duration::zero()]() mutable {
        auto now = std::chrono::steady_clock::now() + ahead;
        if (const auto due = batch.NextSendAt(); due && *due > now) {
            const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(*due - now).count();
            skipped->push_back(static_cast<int>((ms + 50) / 100 * 100));
            ahead += *due - now;
            now = *due;
        }
        return now;
    });
    return skipped;
}

void DeliverReport(const std::string& json, uint8_t marker)
{
    PacketHeader header{};
    header.magic = 0x8000;
    header.command = 0x701;
    header.bodyMarker = marker;
    lynx::protocol::DiscoverySession::ReceiveReport(0x7F000001, 19027, header, static_cast<uint32_t>(json.size()), json.c_str());
    Pump();
}

void DeliverUpdateDatagram(uint16_t command, uint16_t result, uint32_t tag, const std::string& body)
{
    PacketHeader header{};
    header.magic = 0x8000;
    header.command = command;
    header.result = result;
    header.tag = tag;
    header.bodyMarker = '$';
    lynx::protocol::DiscoverySession::ReceiveUpdate(0x7F000001, 8025, header, static_cast<uint32_t>(body.size()), body.c_str());
    Pump();
}

int AcceptModifyIp(QDialog& dialog, const QString& ip, const QString& mask, const QString& gateway)
{
    auto& modify = dynamic_cast<ModifyIp&>(dialog);
    for (const auto& [id, text] : {std::pair{IDC_IPADDRESS_IP, ip}, std::pair{IDC_IPADDRESS_MASK, mask},
                                   std::pair{IDC_IPADDRESS_GATEWAY, gateway}})
        if (!text.isEmpty())
            modify.IpControl(id)->SetWindowText(text);
    modify.OnOK();
    return modify.result();
}

int AcceptPlan(QDialog& dialog, QStringList* offered, const QString& network)
{
    auto& plan = dynamic_cast<MulModifyIP&>(dialog);
    for (int i = 0; offered && i < plan.m_comboNet->count(); ++i)
        *offered << plan.m_comboNet->itemText(i);
    if (!network.isEmpty()) {
        plan.m_comboNet->setCurrentIndex(plan.m_comboNet->findText(network));
        plan.OnCbnSelchangeNet();
    }
    plan.OnOK();
    return plan.result();
}

bool SearchInWindow(CLynxDlg& dlg, int seconds)
{
    lynx::res::GetDlgItemAs<QLineEdit>(dlg, IDC_EDIT_SEARCH_SECONDS)->setText(QString::number(seconds));
    lynx::res::GetDlgItemAs<QPushButton>(dlg, IDC_BTN_SEARCH)->click();
    return WaitFor([&] { return !dlg.isSearching(); }, (seconds + 5) * 1000);
}

std::map<std::string, QString> StatusesByIp(const CLynxDlg& dlg)
{
    std::map<std::string, QString> byIp;
    for (int r = 0; r < dlg.listDevice()->GetItemCount(); ++r)
        byIp[dlg.listDevice()->GetItemText(r, 1).toStdString()] = dlg.listDevice()->GetItemText(r, 7);
    return byIp;
}

void TickAllAndUpgrade(CLynxDlg& dlg)
{
    for (int r = 0; r < dlg.listDevice()->GetItemCount(); ++r)
        dlg.listDevice()->SetCheck(r, true);
    lynx::res::GetDlgItemAs<QPushButton>(dlg, IDC_BTN_BATCH_UPGRADE)->click();
}

void WindowInLan::SetUpInLan()
{
    SkipUpgradePauses(dlg);
    m_handlersSet = true;
    m_previousFiles = lynx::platform::SetFileDialogHandler([this](const lynx::platform::FileDialogRequest& request) {
        fileRequest = request;
        return QString::fromStdString(chosen);
    });
    if (!m_options.create)
        return;
    dlg.Create();
    if (m_options.searchSeconds)
        lynx::res::GetDlgItemAs<QLineEdit>(dlg, IDC_EDIT_SEARCH_SECONDS)->setText(m_options.searchSeconds);
}

void WindowInLan::TearDown()
{
    if (!m_handlersSet)
        return;
    lynx::platform::SetFileDialogHandler(m_previousFiles);
}

std::map<QString, int> WindowInLan::searchRowsBy(int column)
{
    if (dlg.isSearching())
        dlg.OnBnClickedSearch();
    dlg.OnBnClickedSearch();
    EXPECT_TRUE(WaitFor([&] { return !dlg.isSearching(); }, 5000));
    std::map<QString, int> rows;
    for (int r = 0; r < dlg.listDevice()->GetItemCount(); ++r)
        rows[dlg.listDevice()->GetItemText(r, column)] = r;
    return rows;
}

QString WindowInLan::summary() const
{
    return lynx::res::GetDlgItemAs<QLabel>(dlg, IDC_STATIC_UPGRADE_SUMMARY)->text();
}
