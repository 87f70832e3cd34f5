// The device list as a model over the site engine: a row per device, in the
// order the user sorted them, each showing its record, its tick and its
// status. Nothing is copied into the model but the order of the rows: every
// text is read from the engine when the view asks for it.
#pragma once

#include "site/Site.h"

#include <QAbstractTableModel>
#include <QColor>

#include <functional>
#include <vector>

class DeviceListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    // A status cell's bar: its percentage (int) and whether it is a failure's
    // full red bar (bool).
    static constexpr int PercentRole = Qt::UserRole + 1;
    static constexpr int FailedRole = Qt::UserRole + 2;
    // The IP cell's background when two cameras hold one address.
    static constexpr QRgb kConflictColor = 0xFFE0B2;

    explicit DeviceListModel(lynx::site::Site& site, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    // The tick (Qt::CheckStateRole on the first column), and a status given
    // as a text of the status-cell convention (Qt::EditRole on the status
    // column): leading digits for a bar, a leading '-' for a failure's.
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;

    // The device shown in a row, 0 for none; the row showing a device, -1.
    int DeviceAt(int row) const;
    int RowOf(int device) const;
    // "<mac>, <mac>" of the other cameras holding a device's IP, empty for none.
    QString IpConflictOf(int device) const;

    // Puts the rows in a new order: a stable sort by goesBefore over the
    // devices. Ticks, statuses, the selection and the current row stay with
    // their devices.
    void SortRows(const std::function<bool(int deviceA, int deviceB)>& goesBefore);

    // What the site engine tells the list.
    void DevicesAdded(int first, int count);
    void DevicesCleared();
    void DeviceChanged(int device);

private:
    lynx::site::Site& m_site;
    std::vector<int> m_devices;  // by row
    std::vector<int> m_rows;     // by device - 1
};
