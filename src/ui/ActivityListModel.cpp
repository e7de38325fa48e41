// The window's activity rows, dropped from the top once there are 150.
#include "ui/ActivityListModel.h"

namespace orvane {

ActivityListModel::ActivityListModel(QObject* parent) : QAbstractTableModel(parent) {}

void ActivityListModel::Append(const ActivityEntry& entry) {
    if (static_cast<int>(m_rows.size()) >= kMaxRows) {
        beginRemoveRows(QModelIndex(), 0, 0);
        m_rows.pop_front();
        endRemoveRows();
    }
    const int row = static_cast<int>(m_rows.size());
    beginInsertRows(QModelIndex(), row, row);
    m_rows.push_back(entry);
    endInsertRows();
}

int ActivityListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int ActivityListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : 3;
}

QVariant ActivityListModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= rowCount()) return {};
    const ActivityEntry& entry = m_rows[static_cast<size_t>(index.row())];
    switch (index.column()) {
        case 0:
            return QString::fromUtf8(entry.who);
        case 1:
            return QString::fromUtf8(entry.when);
        case 2:
            return QString::fromUtf8(entry.what);
        default:
            return {};
    }
}

QVariant ActivityListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal) return {};
    switch (section) {
        case 0:
            return QStringLiteral("Who");
        case 1:
            return QStringLiteral("When");
        case 2:
            return QStringLiteral("What");
        default:
            return {};
    }
}

}  // namespace orvane
