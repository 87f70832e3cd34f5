#include "app/DeviceListModel.h"

#include "app/CProcessList.h"
#include "platform/Translation.h"

#include <QBrush>

#include <algorithm>
#include <cstring>

using lynx::site::Column;

DeviceListModel::DeviceListModel(lynx::site::Site& site, QObject* parent) : QAbstractTableModel(parent), m_site(site) {}

int DeviceListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_devices.size());
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
    QStringList others;
    for (int other : m_site.Table().IpConflictsOf(device)) {
        if (const DeviceRecord* record = m_site.Device(other))
            others << QString::fromStdString(lynx::protocol::FieldText(record->mac));
    }
    return others.join(QStringLiteral(", "));
}

QVariant DeviceListModel::data(const QModelIndex& index, int role) const
{
    const int device = DeviceAt(index.row());
    const DeviceRecord* record = m_site.Device(device);
    if (!record || index.column() < 0 || index.column() >= lynx::site::kColumnCount)
        return {};
    const auto column = static_cast<Column>(index.column());
    switch (role) {
    case Qt::DisplayRole:
        if (column == Column::Status) {
            const std::string& text = m_site.Status(device).text;
            return text.empty() ? QString() : lynx::platform::Tr(text.c_str());
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
            return tip.isEmpty() ? QVariant() : QVariant(tip);
        }
        return {};
    case Qt::BackgroundRole:
        if (column == Column::Ip && !m_site.Table().IpConflictsOf(device).empty())
            return QBrush(QColor(kConflictColor));
        return {};
    case PercentRole:
        return column == Column::Status ? QVariant(m_site.Status(device).percent) : QVariant();
    case FailedRole:
        return column == Column::Status ? QVariant(m_site.Status(device).failed) : QVariant();
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
    if (index.column() == static_cast<int>(Column::Number))
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
    if (role == Qt::EditRole && index.column() == static_cast<int>(Column::Status)) {
        const QString text = value.toString();
        const StatusCellStyle style = StatusCellStyleOf(text);
        const bool failed = text.startsWith(QLatin1Char('-'));
        m_site.SetStatus(device, lynx::site::DeviceStatus{style.text.toStdString(), failed ? 100 : style.percent, failed});
        return true;
    }
    return false;
}

void DeviceListModel::SortRows(const std::function<bool(int, int)>& goesBefore)
{
    std::vector<int> order = m_devices;
    // Bottom-up merge sort. The right-hand device is taken first only when it
    // goes strictly before the left-hand one: asked both ways, a tie answers
    // the same twice, whether the comparator says "equal" ("no" both ways) or
    // never does ("yes" both ways), and on a tie the left-hand one stays
    // first. So equal keys keep their order for either comparator.
    const auto strictlyBefore = [&](int x, int y) { return goesBefore(x, y) && !goesBefore(y, x); };
    std::vector<int> buffer(order.size());
    for (size_t width = 1; width < order.size(); width *= 2) {
        for (size_t lo = 0; lo < order.size(); lo += 2 * width) {
            const size_t mid = std::min(lo + width, order.size());
            const size_t hi = std::min(lo + 2 * width, order.size());
            size_t a = lo, b = mid, out = lo;
            while (a < mid && b < hi)
                buffer[out++] = strictlyBefore(order[b], order[a]) ? order[b++] : order[a++];
            while (a < mid)
                buffer[out++] = order[a++];
            while (b < hi)
                buffer[out++] = order[b++];
        }
        order.swap(buffer);
    }

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
    for (qsizetype i = 0; i < before.size(); ++i)
        after << index(RowOf(devicesBefore[static_cast<size_t>(i)]), before[i].column());
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
    // A newcomer that shares an address marks the cameras it shares it with.
    for (int i = 0; i < count; ++i) {
        for (int other : m_site.Table().IpConflictsOf(first + i)) {
            if (other < first)
                DeviceChanged(other);
        }
    }
}

void DeviceListModel::DevicesCleared()
{
    beginResetModel();
    m_devices.clear();
    m_rows.clear();
    endResetModel();
}

void DeviceListModel::DeviceChanged(int device)
{
    const int row = RowOf(device);
    if (row >= 0)
        emit dataChanged(index(row, 0), index(row, lynx::site::kColumnCount - 1));
}
