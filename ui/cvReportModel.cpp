#include "ui/cvReportModel.h"

TcvReportModel::TcvReportModel(QStringList headers, QObject* parent)
    : QAbstractTableModel(parent), headers_(std::move(headers)) {}

void TcvReportModel::Reset() {
    beginResetModel();
    endResetModel();
}

int TcvReportModel::rowCount(const QModelIndex& parent) const {
    if (parent.isValid() || !RowCount) return 0;
    return RowCount();
}

int TcvReportModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : headers_.size(); }

QVariant TcvReportModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) return {};
    if (role == Qt::BackgroundRole) return index.row() % 2 == 1 ? QVariant(OddRowColor()) : QVariant();
    if (role != Qt::DisplayRole || !Cell || (Updating && Updating())) return {};
    if (index.row() >= rowCount()) return {};
    return Cell(index.row(), index.column());
}

QVariant TcvReportModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < headers_.size())
        return headers_[section];
    return {};
}
