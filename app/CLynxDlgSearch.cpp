// The device search and the device table's rows.
#include "app/CLynxDlg.h"

#include "kova_cpr.h"
#include "platform/Translation.h"
#include "platform/CodePage.h"
#include "app/shell/MessageBox.h"
#include "platform/Numbers.h"
#include "protocol/Messages.h"
#include "protocol/SearchTiming.h"
#include "app/shell/DialogBuilder.h"
#include "app/shell/resource.h"

#include <QLineEdit>
#include <QPushButton>

void CLynxDlg::OnBnClickedSearch()
{
    // Asked at every click: a report server that failed to start is tried again.
    StartUdpServers();
    auto* button = lynx::res::GetDlgItemAs<QPushButton>(*this, IDC_BTN_SEARCH);
    if (m_bSearching) {
        KillTimer(kSearchTimer);
        m_bSearching = 0;
        button->setText(lynx::platform::Tr("搜索"));
        return;
    }
    // Another program holds the report port: the cameras' answers would go
    // to it, and a search here would look like a LAN without cameras.
    if (m_reportSocket == 0 && m_discovery.PortTaken()) {
        lynx::platform::ShowMessageBox(this, QString::fromUtf8(lynx::protocol::msg::kPortsTaken));
        return;
    }
    CancelVersionCheck();  // its rows go with the list
    m_bListFullTold = false;
    if (m_listDevice->GetItemCount() > 0)
        m_listDevice->DeleteAllItems();
    m_btnSelectAll->setChecked(false);
    // The records, the map and the count emptied, and the reports received but
    // not applied yet forgotten: a new search always begins from an empty
    // list. Then the request goes out, on every network card.
    const bool sent = m_discovery.Search();
    const QString entry = lynx::res::GetDlgItemAs<QLineEdit>(*this, IDC_EDIT_SEARCH_SECONDS)->text();
    m_nSearchSeconds = lynx::protocol::ParseSearchSeconds(entry.toStdString()) + 1;
    SetTimer(kSearchTimer, m_nSearchSeconds * 1000);
    m_bSearching = 1;
    button->setText(lynx::platform::Tr("停止"));
    // A request that reached no card (no network, a cable out) would look
    // like a LAN without cameras: say so.
    if (!sent)
        lynx::platform::ShowMessageBox(this, QString::fromUtf8(lynx::protocol::msg::kSearchSendFailed));
}

void CLynxDlg::OnTimer(int timerId)
{
    if (timerId != kSearchTimer)
        return;
    KillTimer(kSearchTimer);
    if (m_bSearching) {
        m_bSearching = 0;
        KOVA_CPR_StopSearch();
        KOVA_CPR_SetSearchCB(nullptr, this);
        lynx::res::GetDlgItemAs<QPushButton>(*this, IDC_BTN_SEARCH)->setText(lynx::platform::Tr("搜索"));
    }
}

lynx::protocol::DuplicateFilter CLynxDlg::DuplicateBoxes() const
{
    // The boxes as they are now: a change affects only the reports after it.
    return {m_chkHideSameIp->isChecked(), m_chkHideSameMac->isChecked()};
}

void CLynxDlg::OnDeviceReport(const char* cp936Text)
{
    AddDeviceRow(m_discovery.Table().AddReport(lynx::platform::Cp936ToUtf8(cp936Text ? cp936Text : ""),
                                               DuplicateBoxes()));
}

void CLynxDlg::OnDeviceReportUtf8(const char* utf8Body)
{
    AddDeviceRow(m_discovery.Table().AddReport(utf8Body ? utf8Body : "", DuplicateBoxes()));
}

void CLynxDlg::AddDeviceRows(const std::vector<int>& numbers)
{
    // Row n + 1 goes to index n: the list holds exactly the rows numbered so
    // far, so the new ones are appended, in their numbers' order.
    std::vector<QStringList> rows;
    std::vector<QString> arrivals;
    for (int number : numbers) {
        const DeviceRecord* record = m_discovery.Table().ByNumber(number);
        if (!record)
            continue;
        QStringList cells;
        for (const std::string& text : lynx::protocol::DeviceRowTexts(*record, number))
            cells << QString::fromStdString(text);
        rows.push_back(cells);
        // Where the report came in, for a PC with several network cards.
        const std::optional<lynx::protocol::ReportArrival> arrival = m_discovery.Table().ArrivalOf(number);
        arrivals.push_back(arrival ? QString::fromStdString(lynx::protocol::ArrivalText(*arrival)) : QString());
    }
    const int first = m_listDevice->GetItemCount();
    m_listDevice->AppendRows(rows);
    for (size_t i = 0; i < arrivals.size(); ++i)
        m_listDevice->SetItemToolTip(first + static_cast<int>(i), 1, arrivals[i]);
    // Two cameras given one address are marked, both of them.
    for (int number : numbers) {
        if (m_discovery.Table().IpConflictsOf(number).empty())
            continue;
        const DeviceRecord* record = m_discovery.Table().ByNumber(number);
        MarkIpConflicts(QString::fromUtf8(record->deviceIp, static_cast<qsizetype>(strnlen(record->deviceIp, sizeof record->deviceIp))));
    }
}

DeviceRecord* CLynxDlg::GetDeviceByRow(int row)
{
    if (row < 0 || row >= m_listDevice->GetItemCount())
        return nullptr;
    return m_discovery.Table().ByNumber(lynx::platform::Atoi(m_listDevice->GetItemText(row, 0).toStdString()));
}
