// Sorting, select-all, the context menu, device details and web pages.
#include "app/CLynxDlg.h"

#include "platform/Translation.h"
#include "app/shell/Browser.h"
#include "app/shell/MessageBox.h"
#include "app/shell/PopupMenu.h"
#include "app/shell/resource.h"

#include <QCursor>
#include <QHeaderView>
#include <QStringList>
#include <QThread>

#include <string>
#include <vector>

int g_nLastNumSortCol = -1;
int g_nLastTextSortCol = -1;

void CLynxDlg::OnLvnColumnclickList(int column)
{
    if (g_bUpgrading || column < 0 || column >= lynx::site::kColumnCount)
        return;
    int sort = 0;
    if (column == 0) {
        if (g_nLastNumSortCol == 0) {
            g_nLastNumSortCol = -1;
            sort = 1;
        } else {
            g_nLastNumSortCol = 0;
        }
    } else {
        if (g_nLastTextSortCol == column) {
            g_nLastTextSortCol = -1;
            sort = 1;
        } else {
            g_nLastTextSortCol = column;
        }
    }
    m_model->SortRows(static_cast<lynx::site::Column>(column), sort == 1);
    // The arrow says which column the rows follow, and which way.
    m_listDevice->horizontalHeader()->setSortIndicatorShown(true);
    m_listDevice->horizontalHeader()->setSortIndicator(column, sort ? Qt::AscendingOrder : Qt::DescendingOrder);
}

void CLynxDlg::OnBnClickedSelectAll()
{
    if (m_listDevice->GetItemCount() == m_model->MissingRows()) {
        lynx::platform::ShowMessageBox(this, QStringLiteral("列表中没有设备！"));
        return;
    }
    m_site.TickAll(m_btnSelectAll->isChecked());
}

void CLynxDlg::OnNMRClickList(int row)
{
    m_nMenuRow = row;
    // Below the last row only the export and the site commands are offered.
    lynx::platform::MenuItems items;
    if (m_nMenuRow != -1)
        items = {{ID_MENU_IE_BROWSE, lynx::platform::Tr("IE浏览")}, {ID_MENU_MORE_INFO, lynx::platform::Tr("更多信息")}};
    items.emplace_back(ID_MENU_EXPORT_LIST, lynx::platform::Tr("导出列表…"));
    items.emplace_back(ID_MENU_LOAD_SITE, lynx::platform::Tr("载入站点清单…"));
    if (siteFileLoaded())
        items.emplace_back(ID_MENU_UNLOAD_SITE, lynx::platform::Tr("卸载站点清单"));
    items.emplace_back(ID_MENU_MONITOR, lynx::platform::Tr("持续监视"));
    std::vector<int> checked;
    if (monitoring())
        checked.push_back(ID_MENU_MONITOR);
    const int command = lynx::platform::TrackPopupMenu(this, items, QCursor::pos(), checked);
    if (command == ID_MENU_IE_BROWSE)
        OnMenuIeBrowse();
    else if (command == ID_MENU_MORE_INFO)
        OnMenuMoreInfo();
    else if (command == ID_MENU_EXPORT_LIST)
        OnMenuExportList();
    else if (command == ID_MENU_LOAD_SITE)
        OnMenuLoadSiteFile();
    else if (command == ID_MENU_UNLOAD_SITE)
        OnMenuUnloadSiteFile();
    else if (command == ID_MENU_MONITOR)
        OnMenuMonitor();
}

void CLynxDlg::OnMenuIeBrowse()
{
    DeviceRecord* record = GetDeviceByRow(m_nMenuRow);
    if (!record)
        return;
    if (const QString unreachable = UnreachableAt(m_nMenuRow); !unreachable.isEmpty())
        lynx::platform::ShowMessageBox(this, unreachable);
    else if (!OpenWebPage(*record))
        SayNoBrowser();
}

QString CLynxDlg::UnreachableAt(int row) const
{
    const int device = m_model->DeviceAt(row);
    const std::string why = m_site.UnreachableReason(device);
    if (why.empty())
        return {};
    return QString::fromStdString(lynx::protocol::FieldText(m_site.Device(device)->deviceIp)) +
           lynx::platform::Tr("：") + QString::fromStdString(why);
}

void CLynxDlg::SayNoBrowser()
{
    // Several pages asked for at once fail together: one box says it.
    if (m_bBrowserBoxUp)
        return;
    m_bBrowserBoxUp = true;
    lynx::platform::ShowMessageBox(this, QString::fromUtf8(kNoBrowser));
    m_bBrowserBoxUp = false;
}

bool CLynxDlg::OpenWebPage(const DeviceRecord& record)
{
    // A PC without a browser would otherwise do nothing at all.
    return lynx::platform::OpenInBrowser(QString::fromStdString(lynx::protocol::DeviceUrl(record)),
                                         [this] { SayNoBrowser(); });
}

void CLynxDlg::OnMenuMoreInfo()
{
    DeviceRecord* record = GetDeviceByRow(m_nMenuRow);
    if (!record)
        return;
    // Modeless: the main window stays usable while it is shown. Owned by the
    // main window, so that it opens over it and closes while that runs modally.
    lynx::platform::MessageBoxRequest request;
    request.owner = this;
    request.text = QString::fromStdString(lynx::protocol::DeviceDetailsText(*record));
    // The details are the camera's report, not asked of its address: said as
    // they are, with why nothing else can be asked of it.
    if (const QString unreachable = UnreachableAt(m_nMenuRow); !unreachable.isEmpty())
        request.text += unreachable + QStringLiteral("\n");
    request.caption = QStringLiteral("更多信息");
    request.modeless = true;
    lynx::platform::ShowMessageBox(request);
}

void CLynxDlg::OnBnClickedOpen()
{
    int opened = 0;
    bool noBrowser = false;
    QStringList unreachable;
    for (int i = 0; i < m_listDevice->GetItemCount(); ++i) {
        if (!m_listDevice->IsRowSelected(i) && !m_listDevice->GetCheck(i))
            continue;
        DeviceRecord* record = GetDeviceByRow(i);
        if (!record)
            continue;
        ++opened;
        if (const QString why = UnreachableAt(i); !why.isEmpty()) {
            unreachable << why;
            continue;
        }
        if (!OpenWebPage(*record))
            noBrowser = true;
        QThread::msleep(2);
    }
    if (noBrowser)
        SayNoBrowser();
    if (!unreachable.isEmpty())
        lynx::platform::ShowMessageBox(this, unreachable.join(QStringLiteral("\n")));
    if (opened == 0)
        lynx::platform::ShowMessageBox(this, QStringLiteral("请至少选择一个设备！"));
}
