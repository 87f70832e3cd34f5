// The device search and the device table's rows.
#include "app/CLynxDlg.h"

#include "kova_cpr.h"
#include "protocol/JsonMessages.h"
#include "protocol/SearchTiming.h"
#include "res/DialogBuilder.h"

#include <QLineEdit>
#include <QPushButton>

#include <cstring>

void CLynxDlg::OnBnClickedSearch()
{
    // Asked at every click: a report server that failed to start is tried again.
    StartUdpServers();
    auto* button = lynx::res::GetDlgItemAs<QPushButton>(*this, 1000);
    if (m_bSearching) {
        KillTimer(kSearchTimer);
        m_bSearching = 0;
        button->setText(QStringLiteral("搜索"));
        return;
    }
    // Reports received before this click and not yet applied belong to the
    // list being cleared: a new search always begins from an empty list.
    DropWaitingReports();
    if (m_listDevice->GetItemCount() > 0)
        m_listDevice->DeleteAllItems();
    while (!m_deviceList.empty())
        m_deviceList.pop_front();
    m_btnSelectAll->setChecked(false);
    m_nDeviceCount = 0;
    m_deviceMap.clear();
    SendSearch();
    const QString entry = lynx::res::GetDlgItemAs<QLineEdit>(*this, 1026)->text();
    m_nSearchSeconds = lynx::protocol::ParseSearchSeconds(entry.toStdString()) + 1;
    SetTimer(kSearchTimer, m_nSearchSeconds * 1000);
    m_bSearching = 1;
    button->setText(QStringLiteral("停止"));
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
        lynx::res::GetDlgItemAs<QPushButton>(*this, 1000)->setText(QStringLiteral("搜索"));
    }
}

void CLynxDlg::OnDeviceReport(const char* cp936Text)
{
    auto record = std::make_unique<DeviceRecord>();
    std::memset(record.get(), 0, sizeof(DeviceRecord));
    // The boxes as they are now: a change affects only the reports after it.
    lynx::protocol::DuplicateFilter filter;
    filter.hideSameIp = m_chkHideSameIp->isChecked();
    filter.hideSameMac = m_chkHideSameMac->isChecked();
    ParseJsonMessage("basicCfg", record.get(), cp936Text);
    const DeviceRecord* kept = record.get();
    const int number = lynx::protocol::AddDeviceRecord(m_deviceList, m_deviceMap, m_nDeviceCount, std::move(record), filter);
    if (number == 0)
        return;
    const auto texts = lynx::protocol::DeviceRowTexts(*kept, number);
    const int row = m_listDevice->InsertItem(number - 1, QString());
    for (int column = 0; column < 7; ++column)
        m_listDevice->SetItemText(row, column, QString::fromStdString(texts[static_cast<size_t>(column)]));
}

void CLynxDlg::OnDeviceReportUtf8(const char* utf8Body)
{
    OnDeviceReport(Utf8ToGbk(utf8Body).c_str());
}

DeviceRecord* CLynxDlg::GetDeviceByRow(int row)
{
    if (row < 0 || row >= m_listDevice->GetItemCount())
        return nullptr;
    const int number = std::atoi(m_listDevice->GetItemText(row, 0).toStdString().c_str());
    auto it = m_deviceMap.find(number);
    return it == m_deviceMap.end() ? nullptr : it->second;
}
