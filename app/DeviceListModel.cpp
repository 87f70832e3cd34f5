#include "app/DeviceListModel.h"

#include "app/CProcessList.h"
#include "platform/Translation.h"
#include "site/SortKey.h"

#include <QBrush>
#include <QDateTime>

#include <algorithm>
#include <cstring>

namespace {

// Planned cameras not heard and watched devices gone dark: grey rows.
const QColor kAbsentText(128, 128, 128);
const QColor kAbsentBackground(0xF0, 0xF0, 0xF0);

QString Utf8(const std::string& text)
{
    return QString::fromStdString(text);
}

// "计划：IP …，掩码 …，网关 …，版本 …" with what the plan gives, then the label.
QString PlanText(const lynx::site::CameraAcceptance& camera)
{
    QStringList parts;
    const auto add = [&parts](const char* name, const std::string& value) {
        if (!value.empty())
            parts << lynx::platform::Tr(name).arg(Utf8(value));
    };
    add("IP %1", camera.plannedIp);
    add("掩码 %1", camera.plannedMask);
    add("网关 %1", camera.plannedGateway);
    add("版本 %1", camera.plannedVersion);
    QString tip = parts.isEmpty() ? QString() : lynx::platform::TrPrefixed("计划：", parts.join(lynx::platform::Tr("，")));
    const auto line = [&tip](const QString& text) { tip += (tip.isEmpty() ? QString() : QStringLiteral("\n")) + text; };
    if (!camera.label.empty())
        line(lynx::platform::TrPrefixed("名称：", Utf8(camera.label)));
    if (camera.hearsaySenders != 0)
        line(Utf8(lynx::site::HearsayText(camera)));
    return tip;
}

// What another host said of a camera, as one sender's hearsay.
QString HearsayTip(const std::optional<lynx::protocol::ReportArrival>& arrival)
{
    lynx::site::CameraAcceptance said;
    if (arrival && !arrival->sourceAddress.empty()) {
        said.hearsayFrom.push_back(arrival->sourceAddress);
        said.hearsaySenders = 1;
    }
    return Utf8(lynx::site::HearsayText(said));
}

} // namespace

DeviceListModel::DeviceListModel(lynx::site::Site& site, QObject* parent) : QAbstractTableModel(parent), m_site(site)
{
    m_site.AddObserver(this);
}

DeviceListModel::~DeviceListModel()
{
    m_site.RemoveObserver(this);
}

int DeviceListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_devices.size() + m_missing.size());
}

int DeviceListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : lynx::site::kColumnCount;
}

int DeviceListModel::DeviceAt(int row) const
{
    return row >= 0 && static_cast<size_t>(row) < m_devices.size() ? m_devices[static_cast<size_t>(row)] : 0;
}

int DeviceListModel::RowOf(int device) const
{
    return device >= 1 && static_cast<size_t>(device) <= m_rows.size() ? m_rows[static_cast<size_t>(device - 1)] : -1;
}

QString DeviceListModel::IpConflictOf(int device) const
{
    const lynx::protocol::DeviceTable::IpConflicts conflicts = m_site.Table().IpConflictsOf(device);
    std::vector<std::string> macs;
    for (int other : conflicts.first) {
        if (const DeviceRecord* record = m_site.Device(other))
            macs.push_back(lynx::protocol::FieldText(record->mac));
    }
    return Utf8(lynx::site::ListedText(macs, conflicts.count, ", "));
}

const lynx::site::CameraAcceptance* DeviceListModel::MissingAt(int row) const
{
    const size_t beyond = static_cast<size_t>(row) - m_devices.size();
    return row >= 0 && static_cast<size_t>(row) >= m_devices.size() && beyond < m_missing.size()
               ? &m_acceptance->cameras[m_missing[beyond]]
               : nullptr;
}

const lynx::site::CameraAcceptance* DeviceListModel::AcceptanceOf(int device) const
{
    if (device < 1 || static_cast<size_t>(device) > m_acceptanceOf.size())
        return nullptr;
    const int at = m_acceptanceOf[static_cast<size_t>(device - 1)];
    return at < 0 ? nullptr : &m_acceptance->cameras[static_cast<size_t>(at)];
}

bool DeviceListModel::Offline(int device) const
{
    return device >= 1 && static_cast<size_t>(device) <= m_offline.size() && m_offline[static_cast<size_t>(device - 1)];
}

QVariant DeviceListModel::MissingData(const lynx::site::CameraAcceptance& camera, Column column, int role) const
{
    switch (role) {
    case Qt::DisplayRole:
        switch (column) {
        case Column::Ip:
            return Utf8(camera.plannedIp);
        case Column::Mac:
            return Utf8(camera.mac);
        case Column::Gateway:
            return Utf8(camera.plannedGateway);
        case Column::Mask:
            return Utf8(camera.plannedMask);
        case Column::SoftwareVersion:
            return Utf8(camera.plannedVersion);
        case Column::Status:
            return Utf8(lynx::site::StateText(camera.state));
        default:
            return QString();
        }
    case Qt::ToolTipRole:
        return column == Column::Status || column == Column::Mac ? QVariant(PlanText(camera)) : QVariant();
    case Qt::ForegroundRole:
        return QBrush(kAbsentText);
    case Qt::BackgroundRole:
        return QBrush(kAbsentBackground);
    case PercentRole:
        return column == Column::Status ? QVariant(0) : QVariant();
    case FailedRole:
        return column == Column::Status ? QVariant(false) : QVariant();
    default:
        return {};
    }
}

// What a site file or a watch adds to a device's cells; null for nothing.
QVariant DeviceListModel::SiteData(int device, Column column, int role) const
{
    const lynx::site::CameraAcceptance* camera = AcceptanceOf(device);
    const bool offline = Offline(device);
    switch (role) {
    case Qt::DisplayRole:
        if (column != Column::Status || m_site.Status(device).state != lynx::site::DeviceState::None)
            return {};
        if (offline)
            return lynx::platform::Tr("离线");
        if (camera && camera->state != lynx::site::AcceptanceState::Ok)
            return Utf8(lynx::site::StateText(camera->state));
        // Against a plan, a row nothing counts is another host's word for a
        // camera: it must not read as a camera found as planned.
        if (!camera && HasAcceptance() && m_site.Table().Hearsay(device))
            return lynx::platform::Tr("他机代答");
        return {};
    case Qt::ToolTipRole:
        if (camera && (column == Column::Status || column == Column::Mac)) {
            const QString plan = PlanText(*camera);
            return plan.isEmpty() ? QVariant() : QVariant(plan);
        }
        if (!camera && HasAcceptance() && m_site.Table().Hearsay(device) &&
            (column == Column::Status || column == Column::Mac))
            return HearsayTip(m_site.Table().ArrivalOf(device));
        return {};
    case Qt::ForegroundRole:
        return offline ? QVariant(QBrush(kAbsentText)) : QVariant();
    case Qt::BackgroundRole:
        return offline ? QVariant(QBrush(kAbsentBackground)) : QVariant();
    default:
        return {};
    }
}

QVariant DeviceListModel::data(const QModelIndex& index, int role) const
{
    if (index.column() < 0 || index.column() >= lynx::site::kColumnCount)
        return {};
    const auto column = static_cast<Column>(index.column());
    if (const lynx::site::CameraAcceptance* missing = MissingAt(index.row()))
        return MissingData(*missing, column, role);
    const int device = DeviceAt(index.row());
    const DeviceRecord* record = m_site.Device(device);
    if (!record)
        return {};
    if (const QVariant site = SiteData(device, column, role); site.isValid())
        return site;
    switch (role) {
    case Qt::DisplayRole:
        if (column == Column::Status) {
            const char* text = lynx::site::StatusText(m_site.Status(device));
            return *text ? lynx::platform::Tr(text) : QString();
        }
        return QString::fromStdString(lynx::site::ColumnText(*record, device, column));
    case Qt::CheckStateRole:
        if (column == Column::Number)
            return m_site.Ticked(device) ? Qt::Checked : Qt::Unchecked;
        return {};
    case Qt::ToolTipRole:
        if (column == Column::Ip) {
            // Where the report came in, for a PC with several network cards,
            // after the cameras it shares its address with.
            const std::optional<lynx::protocol::ReportArrival> arrival = m_site.Table().ArrivalOf(device);
            QString tip = arrival ? QString::fromStdString(lynx::protocol::ArrivalText(*arrival)) : QString();
            const QString others = IpConflictOf(device);
            if (!others.isEmpty())
                tip = lynx::platform::TrPrefixed("IP冲突：", others) + (tip.isEmpty() ? QString() : QStringLiteral("\n") + tip);
            // First of all: a camera the PC cannot reach must be readdressed
            // before anything else works.
            if (const std::string why = m_site.UnreachableReason(device); !why.empty())
                tip = QString::fromStdString(why) + (tip.isEmpty() ? QString() : QStringLiteral("\n") + tip);
            const size_t at = static_cast<size_t>(device - 1);
            if (m_answerTimesShown && at < m_answered.size() && m_answered[at] != 0) {
                const QString when = QDateTime::fromMSecsSinceEpoch(m_answered[at]).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
                tip += (tip.isEmpty() ? QString() : QStringLiteral("\n")) + lynx::platform::TrPrefixed("最后应答：", when);
            }
            return tip.isEmpty() ? QVariant() : QVariant(tip);
        }
        return {};
    case Qt::BackgroundRole:
        if (column == Column::Ip && m_site.Table().IpConflictCount(device) != 0)
            return QBrush(QColor(kConflictColor));
        return {};
    case PercentRole:
        return column == Column::Status ? QVariant(m_site.Status(device).percent) : QVariant();
    case FailedRole:
        return column == Column::Status ? QVariant(m_site.Status(device).failed()) : QVariant();
    default:
        return {};
    }
}

QVariant DeviceListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= lynx::site::kColumnCount)
        return {};
    if (role == Qt::DisplayRole)
        return lynx::platform::Tr(lynx::site::ColumnTitle(static_cast<Column>(section)));
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
    return {};
}

Qt::ItemFlags DeviceListModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (index.column() == static_cast<int>(Column::Number) && DeviceAt(index.row()) != 0)
        flags |= Qt::ItemIsUserCheckable;
    return flags;
}

bool DeviceListModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    const int device = DeviceAt(index.row());
    if (!m_site.Device(device))
        return false;
    if (role == Qt::CheckStateRole && index.column() == static_cast<int>(Column::Number)) {
        // A click hands the state over as an int, SetCheck as the enum.
        m_site.SetTicked(device, value.toInt() == Qt::Checked);
        return true;
    }
    return false;
}

void DeviceListModel::SortRows(Column column, bool ascending)
{
    // Each device's key once, then a stable sort: equal keys keep their order.
    std::vector<std::pair<lynx::site::SortKey, int>> keyed;
    keyed.reserve(m_devices.size());
    for (int device : m_devices) {
        keyed.emplace_back(column == Column::Status
                               ? lynx::site::TextKey(index(RowOf(device), static_cast<int>(column)).data().toString().toStdString())
                               : lynx::site::SortKeyOf(m_site, device, column),
                           device);
    }
    std::stable_sort(keyed.begin(), keyed.end(), [ascending](const auto& a, const auto& b) {
        return ascending ? a.first < b.first : b.first < a.first;
    });
    std::vector<int> order;
    order.reserve(keyed.size());
    for (const auto& entry : keyed)
        order.push_back(entry.second);

    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    // The selection and the current row follow their devices.
    const QModelIndexList before = persistentIndexList();
    std::vector<int> devicesBefore;
    devicesBefore.reserve(static_cast<size_t>(before.size()));
    for (const QModelIndex& index : before)
        devicesBefore.push_back(DeviceAt(index.row()));
    m_devices = std::move(order);
    for (size_t row = 0; row < m_devices.size(); ++row)
        m_rows[static_cast<size_t>(m_devices[row] - 1)] = static_cast<int>(row);
    QModelIndexList after;
    after.reserve(before.size());
    for (qsizetype i = 0; i < before.size(); ++i) {
        // A planned camera's row stays where it is, after the devices.
        const int device = devicesBefore[static_cast<size_t>(i)];
        after << index(device ? RowOf(device) : before[i].row(), before[i].column());
    }
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void DeviceListModel::DevicesAdded(int first, int count)
{
    if (count <= 0)
        return;
    const int row = static_cast<int>(m_devices.size());
    beginInsertRows(QModelIndex(), row, row + count - 1);
    m_rows.resize(static_cast<size_t>(first + count - 1), -1);
    for (int i = 0; i < count; ++i) {
        m_devices.push_back(first + i);
        m_rows[static_cast<size_t>(first + i - 1)] = row + i;
    }
    endInsertRows();
    // A newcomer that shares an address marks the cameras it shares it with:
    // those whose mark it may have turned on. One with more conflicts than
    // this batch brought was marked before it.
    const lynx::protocol::DeviceTable& table = m_site.Table();
    for (int i = 0; i < count; ++i) {
        for (int other : table.IpConflictsOf(first + i).first) {
            if (other < first && table.IpConflictCount(other) <= static_cast<size_t>(count))
                DeviceChanged(other);
        }
    }
}

void DeviceListModel::DevicesCleared()
{
    beginResetModel();
    m_devices.clear();
    m_rows.clear();
    // The devices' numbers start again: what was known of the old ones goes.
    m_acceptanceOf.clear();
    m_offline.clear();
    m_answered.clear();
    endResetModel();
}

void DeviceListModel::SetAcceptance(std::optional<lynx::site::AcceptanceResult> acceptance)
{
    const int devices = static_cast<int>(m_devices.size());
    if (!m_missing.empty()) {
        beginRemoveRows(QModelIndex(), devices, devices + MissingRows() - 1);
        m_missing.clear();
        endRemoveRows();
    }
    m_acceptance = std::move(acceptance);
    m_acceptanceOf.assign(m_rows.size(), -1);
    std::vector<size_t> missing;
    if (m_acceptance) {
        for (size_t i = 0; i < m_acceptance->cameras.size(); ++i) {
            const lynx::site::CameraAcceptance& camera = m_acceptance->cameras[i];
            if (camera.state == lynx::site::AcceptanceState::Missing)
                missing.push_back(i);
            else if (camera.number >= 1 && static_cast<size_t>(camera.number) <= m_acceptanceOf.size())
                m_acceptanceOf[static_cast<size_t>(camera.number - 1)] = static_cast<int>(i);
        }
    }
    if (!missing.empty()) {
        beginInsertRows(QModelIndex(), devices, devices + static_cast<int>(missing.size()) - 1);
        m_missing = std::move(missing);
        endInsertRows();
    }
    if (devices > 0)
        emit dataChanged(index(0, 0), index(devices - 1, lynx::site::kColumnCount - 1));
}

void DeviceListModel::SetOffline(int device, bool offline)
{
    if (device < 1 || Offline(device) == offline)
        return;
    if (m_offline.size() < static_cast<size_t>(device))
        m_offline.resize(static_cast<size_t>(device), 0);
    m_offline[static_cast<size_t>(device - 1)] = offline;
    DeviceChanged(device);
}

void DeviceListModel::ClearOffline()
{
    std::vector<uint8_t> offline;
    offline.swap(m_offline);
    for (size_t i = 0; i < offline.size(); ++i)
        if (offline[i])
            DeviceChanged(static_cast<int>(i + 1));
}

void DeviceListModel::DeviceAnswered(int device, int64_t msSinceEpoch)
{
    if (device < 1)
        return;
    if (m_answered.size() < static_cast<size_t>(device))
        m_answered.resize(static_cast<size_t>(device), 0);
    m_answered[static_cast<size_t>(device - 1)] = msSinceEpoch;
}

void DeviceListModel::DeviceChanged(int device)
{
    const int row = RowOf(device);
    if (row >= 0)
        emit dataChanged(index(row, 0), index(row, lynx::site::kColumnCount - 1));
}
