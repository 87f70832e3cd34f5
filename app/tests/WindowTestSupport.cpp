#include "app/tests/WindowTestSupport.h"

#include "app/shell/DialogBuilder.h"
#include "app/shell/resource.h"

#include <QLineEdit>
#include <QPushButton>

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
