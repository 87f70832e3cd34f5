// For commissioning a site: the window grows with
// its frame, two cameras holding one address are marked, and the list can be
// exported for the site's records.
#include "app/CLynxDlg.h"

#include "addressing/PlanFile.h"

#include "platform/Csv.h"
#include "app/shell/FileDialog.h"
#include "app/shell/MessageBox.h"
#include "platform/Numbers.h"
#include "platform/Registry.h"
#include "platform/Translation.h"
#include "platform/WholeFile.h"
#include "protocol/JsonMessages.h"
#include "app/shell/DialogBuilder.h"

#include <QResizeEvent>
#include <QTimer>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <optional>

namespace {

QString MacOf(const DeviceRecord& record)
{
    return QString::fromStdString(TextToUtf8(std::string_view(record.mac, strnlen(record.mac, sizeof record.mac))));
}

} // namespace

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
    update();
}

QString CLynxDlg::IpConflictOf(int row) const
{
    const int number = lynx::platform::Atoi(m_listDevice->GetItemText(row, 0).toStdString());
    QStringList others;
    for (int other : m_discovery.Table().IpConflictsOf(number)) {
        if (const DeviceRecord* record = m_discovery.Table().ByNumber(other))
            others << MacOf(*record);
    }
    return others.join(QStringLiteral(", "));
}

void CLynxDlg::MarkIpConflicts(const QString& ip)
{
    // Rare: the rows of one address are looked for only when it is shared.
    for (int row = 0; row < m_listDevice->GetItemCount(); ++row) {
        if (m_listDevice->GetItemText(row, 1) != ip)
            continue;
        const QString others = IpConflictOf(row);
        const int number = lynx::platform::Atoi(m_listDevice->GetItemText(row, 0).toStdString());
        const std::optional<lynx::protocol::ReportArrival> arrival = m_discovery.Table().ArrivalOf(number);
        QString tip = arrival ? QString::fromStdString(lynx::protocol::ArrivalText(*arrival)) : QString();
        if (!others.isEmpty())
            tip = lynx::platform::TrPrefixed("IP冲突：", others) + (tip.isEmpty() ? QString() : QStringLiteral("\n") + tip);
        m_listDevice->SetItemToolTip(row, 1, tip);
        m_listDevice->SetItemBackground(row, 1, others.isEmpty() ? QColor() : QColor(kConflictColor));
    }
}

void CLynxDlg::OnMenuExportList()
{
    const int rows = m_listDevice->GetItemCount();
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
    for (int c = 0; c < m_listDevice->columnCount(); ++c)
        header << m_listDevice->horizontalHeaderItem(c)->text();
    line(header << lynx::platform::Tr("网卡"));
    for (int row = 0; row < rows; ++row) {
        QStringList cells;
        for (int c = 0; c < m_listDevice->columnCount(); ++c)
            cells << m_listDevice->GetItemText(row, c);
        const int number = lynx::platform::Atoi(m_listDevice->GetItemText(row, 0).toStdString());
        const std::optional<lynx::protocol::ReportArrival> arrival = m_discovery.Table().ArrivalOf(number);
        line(cells << (arrival ? QString::fromStdString(lynx::protocol::ArrivalText(*arrival)) : QString()));
    }
    // A list exported before survives whole when this one cannot be written.
    std::string error;
    if (!lynx::platform::WriteFileWhole(path.toStdString(), text, &error))
        lynx::platform::ShowMessageBox(this, lynx::platform::TrPrefixed("导出失败：", QString::fromStdString(error)));
}

namespace {

std::optional<uint32_t> SettingDword(const char* name)
{
    // Read-only: an administrator's value holds for users who cannot write it.
    const auto key = lynx::platform::RegistryKey::Open("Software\\Kova\\Harbor", lynx::platform::RegistryKey::Access::Read);
    return key ? key->QueryDword(name) : std::nullopt;
}

// A camera of the check is known by its MAC, compared as address plans compare it.
std::string MacKeyOf(const DeviceRecord& record)
{
    return lynx::addressing::MacKey(std::string_view(record.mac, strnlen(record.mac, sizeof record.mac)));
}

// The row that shows the record kept under number (rows may have been sorted), -1 for none.
int RowOfNumber(const CProcessList& list, int number)
{
    for (int r = 0; r < list.GetItemCount(); ++r) {
        if (lynx::platform::Atoi(list.GetItemText(r, 0).toStdString()) == number)
            return r;
    }
    return -1;
}

constexpr int kVersionRequestMs = 5000;
constexpr int kSoftwareVersionColumn = 6;

} // namespace

void CLynxDlg::ApplyListCapacity()
{
    // MaxDevices (DWORD, 0: no limit) bounds the rows held, so that a flood of
    // made-up reports cannot exhaust the PC; a /16 by default.
    m_discovery.Table().SetCapacity(SettingDword("MaxDevices").value_or(lynx::protocol::DeviceTable::kDefaultCapacity));
}

void CLynxDlg::SayWhenListIsFull()
{
    if (m_bListFullTold || m_discovery.Table().Dropped() == 0)
        return;
    m_bListFullTold = true;
    // Told once per search, after the slice that filled it.
    QTimer::singleShot(0, this, [this] {
        lynx::platform::ShowMessageBox(
            this, lynx::platform::TrPrefixed(kListFull, QString::number(m_discovery.Table().Capacity())));
    });
}

void CLynxDlg::StartVersionCheck()
{
    CancelVersionCheck();
    // LYNX_VERIFY_AFTER_UPGRADE=0 or 1 overrides the registry (tests run with 0).
    const char* forced = std::getenv("LYNX_VERIFY_AFTER_UPGRADE");
    if (forced && *forced ? std::string(forced) == "0" : SettingDword("VerifyAfterUpgrade").value_or(1) == 0)
        return;
    auto check = std::make_unique<VersionCheck>();
    for (const UgInfo* job : m_upgrade.Batch().jobs()) {
        if (job->state != lynx::upgrade::UgState::Succeeded)
            continue;
        // Only while every row of the batch is still listed as it was.
        const DeviceRecord* record = GetDeviceByRow(job->row);
        if (!record || m_listDevice->GetItemText(job->row, 1).toStdString() != job->ip)
            return;
        VersionCheck::Row row;
        row.number = lynx::platform::Atoi(m_listDevice->GetItemText(job->row, 0).toStdString());
        row.mac = MacKeyOf(*record);
        if (const std::optional<lynx::protocol::ReportArrival> arrival = m_discovery.Table().ArrivalOf(row.number))
            row.card = arrival->interfaceName;
        row.before = m_listDevice->GetItemText(job->row, kSoftwareVersionColumn);
        check->rows.push_back(std::move(row));
    }
    if (check->rows.empty())
        return;
    const uint32_t rebootSeconds = std::min<uint32_t>(SettingDword("VerifyRebootSeconds").value_or(90), 3600);
    const uint32_t searchSeconds = std::clamp<uint32_t>(SettingDword("VerifySearchSeconds").value_or(60), 1, 3600);
    check->requestsLeft = static_cast<int>((searchSeconds * 1000 + kVersionRequestMs - 1) / kVersionRequestMs);
    m_versionCheck = std::move(check);
    if (!m_versionTimer) {
        m_versionTimer = new QTimer(this);
        m_versionTimer->setSingleShot(true);
        connect(m_versionTimer, &QTimer::timeout, this, &CLynxDlg::VersionCheckTick);
    }
    m_versionTimer->start(static_cast<int>(rebootSeconds * 1000));
}

void CLynxDlg::VersionCheckTick()
{
    if (!m_versionCheck)
        return;
    if (m_versionCheck->requestsLeft-- > 0) {
        // The search request alone: the list stays as it is.
        m_discovery.SendSearch();
        m_versionTimer->start(kVersionRequestMs);
        return;
    }
    // The end: a camera heard with its old version says so; one not heard
    // keeps "升级成功".
    for (const VersionCheck::Row& row : m_versionCheck->rows) {
        if (!row.heardSame)
            continue;
        if (const int r = RowOfNumber(*m_listDevice, row.number); r >= 0)
            m_listDevice->SetItemText(r, CProcessList::kStatusColumn, lynx::platform::Tr(kVersionUnchanged));
    }
    m_versionCheck.reset();
}

void CLynxDlg::CancelVersionCheck()
{
    if (m_versionTimer)
        m_versionTimer->stop();
    m_versionCheck.reset();
}

bool CLynxDlg::TakeVersionReport(const lynx::protocol::Datagram& datagram)
{
    if (!m_versionCheck)
        return false;
    const std::string& body = datagram.body;
    // Every report while the check runs answers one of its searches: it
    // touches only the rows of the check's batch, matched by MAC, and adds no
    // row (a camera outside the batch, or one that came back at a new address,
    // would be listed again).
    DeviceRecord report{};
    if (!lynx::protocol::ParseReportBody(body, report) || report.mac[0] == '\0')
        return true;
    const std::string mac = MacKeyOf(report);
    auto& rows = m_versionCheck->rows;
    const auto it = std::find_if(rows.begin(), rows.end(), [&](const VersionCheck::Row& r) { return r.mac == mac; });
    // Only the camera's own word: from the address it reports, on the card
    // it was found on (anyone on the LAN could claim its MAC and a version).
    if (it == rows.end() || !lynx::protocol::FromItsOwnAddress(report, lynx::protocol::ArrivalOf(datagram), it->card))
        return true;
    const QString now = QString::fromStdString(lynx::protocol::SoftwareVersionText(report));
    if (now == it->before) {
        it->heardSame = true;
        return true;
    }
    // The record and the row take the version the camera now runs.
    if (DeviceRecord* record = m_discovery.Table().ByNumber(it->number)) {
        std::memcpy(record->softwareVersion, report.softwareVersion, sizeof record->softwareVersion);
        std::memcpy(record->productDate, report.productDate, sizeof record->productDate);
    }
    if (const int r = RowOfNumber(*m_listDevice, it->number); r >= 0) {
        m_listDevice->SetItemText(r, kSoftwareVersionColumn, now);
        m_listDevice->SetItemText(r, CProcessList::kStatusColumn, lynx::platform::Tr(kVersionUpdated));
    }
    rows.erase(it);
    if (rows.empty())
        CancelVersionCheck();
    return true;
}
