#pragma once
// The item model behind a virtual report list: rows and cells come from functions over the setup,
// so the list never copies the model. While the window's update guard is held it supplies no row
// data. Odd rows are painted pale yellow.
//
// Refresh brings the rows in line with the setup by telling the view only what changed (rows
// removed, moved or inserted, cells changed), so that the user's selection, current row and scroll
// position survive a change elsewhere in the list, such as a mail sent to one contact.
#include <QAbstractTableModel>
#include <QColor>
#include <QStringList>

#include <functional>
#include <vector>

class TcvReportModel : public QAbstractTableModel {
    Q_OBJECT
public:
    static QColor OddRowColor() { return QColor(255, 255, 204); }

    TcvReportModel(QStringList headers, QObject* parent = nullptr);

    std::function<int()> RowCount;
    std::function<QString(int row, int column)> Cell;
    std::function<bool()> Updating;
    // The object a row shows: lets Refresh follow rows that moved. Without it rows are matched by
    // position.
    std::function<const void*(int row)> RowObject;
    // The icon of a row (first column); none when unset.
    std::function<QVariant(int row)> Icon;
    // An in-place edit of the first column ended with this text.
    std::function<void(int row, const QString& text)> EditCell;

    // The rows changed beyond following (another list is shown): the view forgets its selection.
    void Reset();
    // Follows the setup's rows with the smallest changes and repaints.
    void Refresh();
    // The cells of these rows changed.
    void RowsChanged(int first, int last);
    // New columns; the rows are shown again from the start.
    void SetHeaders(QStringList headers);
    const QStringList& Headers() const { return headers_; }
    // The row at which the model shows this object, or -1 (only with RowObject).
    int RowOf(const void* object) const;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;

private:
    int liveCount() const;
    void snapshot();
    void removeMissing(const std::vector<const void*>& next);
    void reorder(const std::vector<const void*>& next);
    void insertNew(const std::vector<const void*>& next);
    void moveRows(std::vector<const void*> order);

    QStringList headers_;
    // The rows as the view knows them: their count, and their objects when RowObject is set.
    int count_ = 0;
    std::vector<const void*> objects_;
    bool changing_ = false;
};
