// The window's list of activity entries: at most 150 rows, the newest at the bottom.
#pragma once

#include <QAbstractTableModel>
#include <deque>

#include "config/ActivityLog.h"

namespace orvane {

// The rows the window shows: at most 150, added at the bottom, removed from the top.
class ActivityListModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    static constexpr int kMaxRows = 150;

    explicit ActivityListModel(QObject* parent = nullptr);
    void Append(const ActivityEntry& entry);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

private:
    std::deque<ActivityEntry> m_rows;
};

}  // namespace orvane
