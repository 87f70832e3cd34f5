// The device search and the device table's rows.
#include "app/CLynxDlg.h"

#include "platform/Translation.h"
#include "app/shell/MessageBox.h"
#include "protocol/Messages.h"
#include "protocol/SearchTiming.h"
#include "app/shell/DialogBuilder.h"
#include "app/shell/resource.h"
#include "site/CameraSdk.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

void CLynxDlg::OnBnClickedSearch()
{
    // Asked at every click: a report server that failed to start is tried again.
    StartUdpServers();
    auto* button = lynx::res::GetDlgItemAs<QPushButton>(*this, IDC_BTN_SEARCH);
    if (m_bSearching) {
        m_site.StopSearch();
        m_bSearching = 0;
        button->setText(lynx::platform::Tr("搜索"));
        return;
    }
    if (SayIfReportPortTaken())
        return;
    m_site.CancelVersionCheck();  // its devices go with the list
    m_bListFullTold = false;
    m_btnSelectAll->setChecked(false);
    // The devices, their ticks and statuses emptied, and the reports received
    // but not applied yet forgotten: a new search always begins from an empty
    // list. Then the request goes out, on every network card.
    const QString entry = lynx::res::GetDlgItemAs<QLineEdit>(*this, IDC_EDIT_SEARCH_SECONDS)->text();
    m_nSearchSeconds = lynx::protocol::ParseSearchSeconds(entry.toStdString()) + 1;
    // The engine's tick ends it at its time-out (SearchEnded).
    const bool sent = m_site.Search(std::chrono::seconds(m_nSearchSeconds), lynx::site::Site::Clock::now());
    ArmEngineTick();
    m_bSearching = 1;
    button->setText(lynx::platform::Tr("停止"));
    // A request that reached no card (no network, a cable out) would look
    // like a LAN without cameras: say so.
    if (!sent)
        lynx::platform::ShowMessageBox(this, QString::fromUtf8(lynx::protocol::msg::kSearchSendFailed));
}

bool CLynxDlg::SayIfReportPortTaken()
{
    // Another program holds the report port: the cameras' answers would go
    // to it, and a search here would look like a LAN without cameras.
    if (m_site.Discovery().ReportSocket() != 0 || !m_site.Discovery().PortTaken())
        return false;
    lynx::platform::ShowMessageBox(this, QString::fromUtf8(lynx::protocol::msg::kPortsTaken));
    return true;
}

void CLynxDlg::SearchEnded()
{
    if (m_bSearching) {
        m_bSearching = 0;
        lynx::site::StopCameraSdkSearch(this);
        lynx::res::GetDlgItemAs<QPushButton>(*this, IDC_BTN_SEARCH)->setText(lynx::platform::Tr("搜索"));
    }
}

lynx::protocol::DuplicateFilter CLynxDlg::DuplicateBoxes() const
{
    // The boxes as they are now: a change affects only the reports after it.
    return {m_chkHideSameIp->isChecked(), m_chkHideSameMac->isChecked()};
}

DeviceRecord* CLynxDlg::GetDeviceByRow(int row)
{
    return m_site.Table().ByNumber(m_model->DeviceAt(row));
}
