// Sorting, select-all, the context menu, device details and web pages.
#include "app/CLynxDlg.h"

#include "platform/Browser.h"
#include "platform/MessageBox.h"
#include "platform/PopupMenu.h"

#include <QCursor>
#include <QThread>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

int g_nLastNumSortCol = -1;
int g_nLastTextSortCol = -1;

namespace {

constexpr int kMenuIeBrowse = 3000;
constexpr int kMenuMoreInfo = 3001;

// The leading signed decimal integer of a text, as the run-time library reads
// it (white space skipped, 0 when there is none), kept from overflowing.
long long leadingInteger(const std::u16string& text)
{
    size_t i = 0;
    while (i < text.size() && (text[i] == u' ' || (text[i] >= u'\t' && text[i] <= u'\r')))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'-' || text[i] == u'+'))
        negative = text[i++] == u'-';
    long long value = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i)
        value = std::min<long long>(value * 10 + (text[i] - u'0'), 1LL << 40);
    return negative ? -value : value;
}

} // namespace

int CompareNumber(const std::u16string& key1, const std::u16string& key2, int sort)
{
    const long long x = leadingInteger(key1);
    const long long y = leadingInteger(key2);
    if (sort == 0)
        return y > x ? 1 : -1;
    return y < x ? 1 : -1;
}

int CompareText(const std::u16string& key1, const std::u16string& key2, int sort)
{
    return sort == 0 ? key2.compare(key1) : key1.compare(key2);
}

void CLynxDlg::OnLvnColumnclickList(int column)
{
    const int count = m_listDevice->GetItemCount();
    if (g_bUpgrading)
        return;
    // itemData: one text per row in the clicked column; a row's key is its index.
    std::vector<std::u16string> itemData(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i)
        itemData[static_cast<size_t>(i)] = m_listDevice->GetItemText(i, column).toStdU16String();
    int sort = 0;
    int (*compare)(const std::u16string&, const std::u16string&, int);
    if (column == 0) {
        if (g_nLastNumSortCol == 0) {
            g_nLastNumSortCol = -1;
            sort = 1;
        } else {
            g_nLastNumSortCol = 0;
        }
        compare = CompareNumber;
    } else {
        if (g_nLastTextSortCol == column) {
            g_nLastTextSortCol = -1;
            sort = 1;
        } else {
            g_nLastTextSortCol = column;
        }
        compare = CompareText;
    }
    m_listDevice->SortRows([&](int a, int b) {
        return compare(itemData[static_cast<size_t>(a)], itemData[static_cast<size_t>(b)], sort) < 0;
    });
}

void CLynxDlg::OnBnClickedSelectAll()
{
    if (m_listDevice->GetItemCount() == 0) {
        lynx::platform::ShowMessageBox(this, QStringLiteral("列表中没有设备！"));
        return;
    }
    const bool checked = m_btnSelectAll->isChecked();
    for (int row = 0; row < m_listDevice->GetItemCount(); ++row)
        m_listDevice->SetCheck(row, checked);
}

void CLynxDlg::OnNMRClickList(int row)
{
    m_nMenuRow = row;
    if (m_nMenuRow == -1)
        return;
    const int command = lynx::platform::TrackPopupMenu(
        this, {{kMenuIeBrowse, QStringLiteral("IE浏览")}, {kMenuMoreInfo, QStringLiteral("更多信息")}}, QCursor::pos());
    if (command == kMenuIeBrowse)
        OnMenuIeBrowse();
    else if (command == kMenuMoreInfo)
        OnMenuMoreInfo();
}

void CLynxDlg::OnMenuIeBrowse()
{
    DeviceRecord* record = GetDeviceByRow(m_nMenuRow);
    if (!record)
        return;
    lynx::platform::OpenInBrowser(QString::fromStdString(lynx::protocol::DeviceUrl(*record)));
}

void CLynxDlg::OnMenuMoreInfo()
{
    DeviceRecord* record = GetDeviceByRow(m_nMenuRow);
    if (!record)
        return;
    // No owner and modeless: the main window stays usable while it is shown.
    lynx::platform::MessageBoxRequest request;
    request.text = QString::fromStdString(lynx::protocol::DeviceDetailsText(*record));
    request.caption = QStringLiteral("更多信息");
    request.modeless = true;
    lynx::platform::ShowMessageBox(request);
}

void CLynxDlg::OnBnClickedOpen()
{
    int opened = 0;
    for (int i = 0; i < m_listDevice->GetItemCount(); ++i) {
        if (!m_listDevice->IsRowSelected(i) && !m_listDevice->GetCheck(i))
            continue;
        DeviceRecord* record = GetDeviceByRow(i);
        if (!record)
            continue;
        lynx::platform::OpenInBrowser(QString::fromStdString(lynx::protocol::DeviceUrl(*record)));
        ++opened;
        QThread::msleep(2);
    }
    if (opened == 0)
        lynx::platform::ShowMessageBox(this, QStringLiteral("请至少选择一个设备！"));
}
