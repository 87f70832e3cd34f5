// For commissioning a site: the window grows with its frame, two cameras
// holding one address are marked, the list can be exported for the site's
// records, and the versions of the cameras a batch upgraded are checked.
#include "app/CLynxDlg.h"

#include "platform/Csv.h"
#include "app/shell/FileDialog.h"
#include "app/shell/MessageBox.h"
#include "platform/Registry.h"
#include "platform/Translation.h"
#include "platform/WholeFile.h"
#include "protocol/JsonMessages.h"
#include "app/shell/DialogBuilder.h"

#include <QLabel>
#include <QResizeEvent>
#include <QTimer>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <optional>

void CLynxDlg::CaptureTemplateLayout()
{
    // The template fixed the size; from here on it is the least size.
    m_templateSize = size();
    setMinimumSize(m_templateSize);
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    m_templateStatusWidth = m_listDevice->columnWidth(CProcessList::kStatusColumn);
    // Where each control goes when the window grows, decided once: the list
    // takes what the window gains; controls below it keep their distance to
    // the bottom edge, those in the right half theirs to the right edge; the
    // upgrade file's name gets the width gained.
    const QRect list = m_listDevice->geometry();
    const QWidget* fileName = lynx::res::GetDlgItem(*this, IDC_STATIC_UPGRADE_FILE);
    m_templateLayout.clear();
    for (QWidget* control : findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        TemplatePlace place{control, control->geometry()};
        if (control == m_listDevice) {
            place.grows = true;
        } else {
            place.movesDown = place.rect.top() > list.bottom();
            place.widens = control == fileName;
            place.movesRight = !place.widens && place.rect.left() >= m_templateSize.width() / 2;
        }
        m_templateLayout.push_back(place);
    }
}

void CLynxDlg::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    if (m_templateLayout.empty())
        return;
    const int dx = std::max(0, width() - m_templateSize.width());
    const int dy = std::max(0, height() - m_templateSize.height());
    for (const TemplatePlace& place : m_templateLayout) {
        QRect r = place.rect;
        if (place.grows)
            r.setSize(r.size() + QSize(dx, dy));
        r.translate(place.movesRight ? dx : 0, place.movesDown ? dy : 0);
        if (place.widens)
            r.setWidth(r.width() + dx);
        place.control->setGeometry(r);
    }
    // The status column's bars fill the wider cells.
    m_listDevice->setColumnWidth(CProcessList::kStatusColumn, m_templateStatusWidth + dx);
    PlaceSiteCounts();
    update();
}

void CLynxDlg::PlaceSiteCounts()
{
    auto* counts = qobject_cast<QLabel*>(lynx::res::GetDlgItem(*this, IDC_STATIC_SITE_COUNTS));
    const auto placeOf = [this](const QWidget* control) {
        const auto it = std::find_if(m_templateLayout.begin(), m_templateLayout.end(),
                                     [control](const TemplatePlace& p) { return p.control == control; });
        return it == m_templateLayout.end() ? nullptr : &*it;
    };
    const TemplatePlace* own = placeOf(counts);
    const TemplatePlace* list = placeOf(m_listDevice);
    if (!own || !list)
        return;
    // It has the top row up to the next control on its right, wherever the
    // window's width has put that, and as many lines as its text needs there;
    // the list starts below it.
    int right = width();
    for (const TemplatePlace& place : m_templateLayout) {
        const bool sameRow = place.rect.top() <= own->rect.bottom() && place.rect.bottom() >= own->rect.top();
        if (place.control != counts && sameRow && place.rect.left() > own->rect.left())
            right = std::min(right, place.control->geometry().left());
    }
    const int lineWidth = std::max(own->rect.width(), right - own->rect.left() - 4);
    counts->setWordWrap(true);
    const int height = std::max(own->rect.height(), counts->heightForWidth(lineWidth));
    counts->setGeometry(own->rect.left(), own->rect.top(), lineWidth, height);
    QRect listRect = m_listDevice->geometry();
    listRect.setTop(std::max(list->rect.top(), own->rect.top() + height + 2));
    m_listDevice->setGeometry(listRect);
}

void CLynxDlg::OnMenuExportList()
{
    // The devices heard: a site file's planned cameras not heard are not exported.
    const int rows = m_model->rowCount() - m_model->MissingRows();
    if (rows == 0) {
        lynx::platform::ShowMessageBox(this, QStringLiteral("列表中没有设备！"));
        return;
    }
    lynx::platform::FileDialogRequest request;
    request.parent = this;
    request.filter = QStringLiteral("(*.csv)|*.csv|");
    request.defaultName = QStringLiteral("devices.csv");
    const QString path = lynx::platform::GetSaveFileName(request);
    if (path.isEmpty())
        return;
    // UTF-8 with a byte-order mark, so that spreadsheet programs read the
    // Chinese texts; every row as shown, with the card it answered on.
    std::string text = "\xEF\xBB\xBF";
    const auto line = [&text](const QStringList& cells) {
        for (int c = 0; c < cells.size(); ++c)
            text += (c ? "," : "") + lynx::platform::SpreadsheetField(cells[c].toStdString());
        text += "\r\n";
    };
    QStringList header;
    for (int c = 0; c < lynx::site::kColumnCount; ++c)
        header << m_model->headerData(c, Qt::Horizontal).toString();
    line(header << lynx::platform::Tr("网卡"));
    for (int row = 0; row < rows; ++row) {
        QStringList cells;
        for (int c = 0; c < lynx::site::kColumnCount; ++c)
            cells << m_model->index(row, c).data().toString();
        const std::optional<lynx::protocol::ReportArrival> arrival = m_site.Table().ArrivalOf(m_model->DeviceAt(row));
        line(cells << (arrival ? QString::fromStdString(lynx::protocol::ArrivalText(*arrival)) : QString()));
    }
    // A list exported before survives whole when this one cannot be written.
    std::string error;
    if (!lynx::platform::WriteFileWhole(path.toStdString(), text, &error))
        lynx::platform::ShowMessageBox(this, lynx::platform::TrPrefixed("导出失败：", QString::fromStdString(error)));
}

std::optional<uint32_t> CLynxDlg::SettingDword(const char* name)
{
    // Read-only: an administrator's value holds for users who cannot write it.
    const auto key = lynx::platform::RegistryKey::Open("Software\\Kova\\Harbor", lynx::platform::RegistryKey::Access::Read);
    return key ? key->QueryDword(name) : std::nullopt;
}

namespace {

constexpr int kVersionRequestMs = 5000;

} // namespace

void CLynxDlg::ApplyListCapacity()
{
    // MaxDevices (DWORD, 0: no limit) bounds the rows held, so that a flood of
    // made-up reports cannot exhaust the PC; a /16 by default.
    m_site.Table().SetCapacity(SettingDword("MaxDevices").value_or(lynx::protocol::DeviceTable::kDefaultCapacity));
}

void CLynxDlg::SayWhenListIsFull()
{
    if (m_bListFullTold || m_site.Table().Dropped() == 0)
        return;
    m_bListFullTold = true;
    // Told once per search, after the slice that filled it.
    QTimer::singleShot(0, this, [this] {
        lynx::platform::ShowMessageBox(
            this, lynx::platform::TrPrefixed(kListFull, QString::number(m_site.Table().Capacity())));
    });
}

void CLynxDlg::StartVersionCheck()
{
    m_site.CancelVersionCheck();
    // LYNX_VERIFY_AFTER_UPGRADE=0 or 1 overrides the registry (tests run with 0).
    const char* forced = std::getenv("LYNX_VERIFY_AFTER_UPGRADE");
    if (forced && *forced ? std::string(forced) == "0" : SettingDword("VerifyAfterUpgrade").value_or(1) == 0)
        return;
    const uint32_t rebootSeconds = std::min<uint32_t>(SettingDword("VerifyRebootSeconds").value_or(90), 3600);
    const uint32_t searchSeconds = std::clamp<uint32_t>(SettingDword("VerifySearchSeconds").value_or(60), 1, 3600);
    lynx::site::Site::VersionCheckTiming timing;
    timing.reboot = std::chrono::seconds(rebootSeconds);
    timing.every = std::chrono::milliseconds(kVersionRequestMs);
    timing.searches = static_cast<int>((searchSeconds * 1000 + kVersionRequestMs - 1) / kVersionRequestMs);
    if (m_site.StartVersionCheck(timing, lynx::site::Site::Clock::now()))
        ArmEngineTick();
}
