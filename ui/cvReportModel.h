#pragma once
// The item model behind a virtual report list: rows and cells come from functions over the setup,
// so the list never copies the model. While the window's update guard is held it supplies no row
// data. Odd rows are painted pale yellow.
#include <QAbstractTableModel>
#include <QColor>
#include <QStringList>

#include <functional>

class TcvReportModel : public QAbstractTableModel {
    Q_OBJECT
public:
    static QColor OddRowColor() { return QColor(255, 255, 204); }

    TcvReportModel(QStringList headers, QObject* parent = nullptr);

    std::function<int()> RowCount;
    std::function<QString(int row, int column)> Cell;
    std::function<bool()> Updating;

    // The rows changed as a whole (added, deleted or reordered).
    void Reset();

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    QStringList headers_;
};
