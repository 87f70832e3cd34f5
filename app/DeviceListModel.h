// The device list as a model over the site engine: a row per device, in the
// order the user sorted them, each showing its record, its tick and its
// status. Nothing is copied into the model but the order of the rows: every
// text is read from the engine when the view asks for it.
#pragma once

#include "site/Acceptance.h"
#include "site/Site.h"

#include <QAbstractTableModel>
#include <QColor>

#include <optional>
#include <vector>

using lynx::site::Column;

class DeviceListModel : public QAbstractTableModel, private lynx::site::SiteObserver {
    Q_OBJECT
public:
    // A status cell's bar: its percentage (int) and whether it is a failure's
    // full red bar (bool).
    static constexpr int PercentRole = Qt::UserRole + 1;
    static constexpr int FailedRole = Qt::UserRole + 2;
    // The IP cell's background when two cameras hold one address.
    static constexpr QRgb kConflictColor = 0xFFE0B2;

    // The model observes site from now until it is destroyed, which must be
    // before site is.
    explicit DeviceListModel(lynx::site::Site& site, QObject* parent = nullptr);
    ~DeviceListModel() override;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    // The tick (Qt::CheckStateRole on the first column); a status is the engine's.
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;

    // A site file's view of the list: each device's state against the plan
    // (its status when it has none of its own, the plan in its tool tip), and
    // the planned cameras not heard as grey rows after the devices. None: the
    // plain list.
    void SetAcceptance(std::optional<lynx::site::AcceptanceResult> acceptance);
    bool HasAcceptance() const { return m_acceptance.has_value(); }
    // The planned cameras not heard, listed after the devices.
    int MissingRows() const { return static_cast<int>(m_missing.size()); }
    // A watched device gone dark: grey, "离线", until it answers again.
    void SetOffline(int device, bool offline);
    bool Offline(int device) const;
    void ClearOffline();
    // When each device last answered (ms since the epoch), shown in the IP
    // cell's tool tip while answer times are shown; the engine tells it.
    void DeviceAnswered(int device, int64_t msSinceEpoch) override;
    void ShowAnswerTimes(bool shown) { m_answerTimesShown = shown; }

    // The device shown in a row, 0 for none (a planned camera's row too); the
    // row showing a device, -1.
    int DeviceAt(int row) const;
    int RowOf(int device) const;
    // "<mac>, <mac>" of the other cameras holding a device's IP, empty for none.
    QString IpConflictOf(int device) const;

    // Puts the rows in the order of a column's typed keys (site/SortKey.h;
    // the status column by what its cells show), a stable sort. Ticks,
    // statuses, the selection and the current row stay with their devices.
    void SortRows(Column column, bool ascending);

    // A device's cells changed outside the engine's own telling (the watch's
    // rows, the offline marks).
    void DeviceChanged(int device) override;

private:
    // What the site engine tells the list.
    void DevicesAdded(int first, int count) override;
    void DevicesCleared() override;

    // The planned camera a row beyond the devices shows, null for none.
    const lynx::site::CameraAcceptance* MissingAt(int row) const;
    const lynx::site::CameraAcceptance* AcceptanceOf(int device) const;
    QVariant MissingData(const lynx::site::CameraAcceptance& camera, Column column, int role) const;
    QVariant SiteData(int device, Column column, int role) const;

    lynx::site::Site& m_site;
    std::vector<int> m_devices;  // by row
    std::vector<int> m_rows;     // by device - 1
    std::optional<lynx::site::AcceptanceResult> m_acceptance;
    std::vector<int> m_acceptanceOf;  // by device - 1: its index in m_acceptance's cameras, -1
    std::vector<size_t> m_missing;    // by row beyond the devices: an index in m_acceptance's cameras
    std::vector<uint8_t> m_offline;   // by device - 1
    std::vector<qint64> m_answered;   // by device - 1, 0: not known
    bool m_answerTimesShown = false;
};
