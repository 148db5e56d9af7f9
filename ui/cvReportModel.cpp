#include "ui/cvReportModel.h"

#include <algorithm>
#include <utility>

TcvReportModel::TcvReportModel(QStringList headers, QObject* parent)
    : QAbstractTableModel(parent), headers_(std::move(headers)) {}

int TcvReportModel::liveCount() const { return RowCount ? std::max(RowCount(), 0) : 0; }

void TcvReportModel::snapshot() {
    count_ = liveCount();
    objects_.clear();
    if (!RowObject) return;
    objects_.reserve(static_cast<size_t>(count_));
    for (int i = 0; i < count_; ++i) objects_.push_back(RowObject(i));
}

void TcvReportModel::Reset() {
    beginResetModel();
    snapshot();
    endResetModel();
}

void TcvReportModel::SetHeaders(QStringList headers) {
    beginResetModel();
    headers_ = std::move(headers);
    snapshot();
    endResetModel();
}

void TcvReportModel::RowsChanged(int first, int last) {
    first = std::max(first, 0);
    last = std::min(last, count_ - 1);
    if (first > last || headers_.isEmpty()) return;
    emit dataChanged(index(first, 0), index(last, static_cast<int>(headers_.size()) - 1));
}

int TcvReportModel::RowOf(const void* object) const {
    const auto it = std::find(objects_.begin(), objects_.end(), object);
    return it == objects_.end() ? -1 : static_cast<int>(it - objects_.begin());
}

void TcvReportModel::Refresh() {
    const int live = liveCount();
    if (!RowObject) {
        if (live > count_) {
            beginInsertRows(QModelIndex(), count_, live - 1);
            count_ = live;
            endInsertRows();
        } else if (live < count_) {
            beginRemoveRows(QModelIndex(), live, count_ - 1);
            count_ = live;
            endRemoveRows();
        }
        RowsChanged(0, count_ - 1);
        return;
    }
    std::vector<const void*> next;
    next.reserve(static_cast<size_t>(live));
    for (int i = 0; i < live; ++i) next.push_back(RowObject(i));
    if (next != objects_) {
        // Between the steps the rows the view knows differ from the list: no data until done.
        changing_ = true;
        removeMissing(next);
        reorder(next);
        insertNew(next);
        changing_ = false;
    }
    RowsChanged(0, count_ - 1);
}

namespace {

// The positions of the objects of a list, found by binary search: cheaper to build for long lists
// than a hash table.
class PositionIndex {
public:
    explicit PositionIndex(const std::vector<const void*>& objects) {
        entries_.reserve(objects.size());
        for (size_t i = 0; i < objects.size(); ++i) entries_.emplace_back(objects[i], static_cast<int>(i));
        std::sort(entries_.begin(), entries_.end());
    }
    int find(const void* object) const {
        const auto it = std::lower_bound(entries_.begin(), entries_.end(), std::make_pair(object, -1));
        return it != entries_.end() && it->first == object ? it->second : -1;
    }
    bool contains(const void* object) const { return find(object) >= 0; }

private:
    std::vector<std::pair<const void*, int>> entries_;
};

// Beyond this many separate runs of rows, rows are moved and then removed or inserted as one block:
// a view pays for each removal or insertion with work over all its rows.
constexpr int FewRuns = 16;

}  // namespace

// Rows whose object is no longer listed go, each run of neighbours in one step, from the end so
// that the positions still to visit stay valid. Many runs are first moved to the end.
void TcvReportModel::removeMissing(const std::vector<const void*>& next) {
    const PositionIndex index(next);
    std::vector<char> kept(objects_.size());
    int runs = 0;
    for (size_t i = 0; i < objects_.size(); ++i) {
        kept[i] = index.contains(objects_[i]);
        if (!kept[i] && (i == 0 || kept[i - 1])) ++runs;
    }
    if (runs == 0) return;
    if (runs > FewRuns) {
        std::vector<const void*> order;
        order.reserve(objects_.size());
        for (size_t i = 0; i < objects_.size(); ++i)
            if (kept[i]) order.push_back(objects_[i]);
        const int first = static_cast<int>(order.size());
        for (size_t i = 0; i < objects_.size(); ++i)
            if (!kept[i]) order.push_back(objects_[i]);
        moveRows(std::move(order));
        beginRemoveRows(QModelIndex(), first, count_ - 1);
        objects_.resize(static_cast<size_t>(first));
        count_ = first;
        endRemoveRows();
        return;
    }
    int row = static_cast<int>(objects_.size()) - 1;
    while (row >= 0) {
        if (kept[static_cast<size_t>(row)]) {
            --row;
            continue;
        }
        const int last = row;
        while (row > 0 && !kept[static_cast<size_t>(row - 1)]) --row;
        beginRemoveRows(QModelIndex(), row, last);
        objects_.erase(objects_.begin() + row, objects_.begin() + last + 1);
        kept.erase(kept.begin() + row, kept.begin() + last + 1);
        count_ = static_cast<int>(objects_.size());
        endRemoveRows();
        --row;
    }
}

// The remaining rows take the order they have in the new list.
void TcvReportModel::reorder(const std::vector<const void*>& next) {
    const PositionIndex present(objects_);
    std::vector<const void*> target;
    target.reserve(objects_.size());
    for (const void* object : next)
        if (present.contains(object)) target.push_back(object);
    moveRows(std::move(target));
}

// Shows the same objects in a new order; the view's selection and current row move with their
// objects.
void TcvReportModel::moveRows(std::vector<const void*> order) {
    if (order == objects_) return;
    emit layoutAboutToBeChanged();
    const QModelIndexList from = persistentIndexList();
    if (!from.isEmpty()) {
        const PositionIndex newRow(order);
        QModelIndexList to;
        to.reserve(from.size());
        for (const QModelIndex& index : from) {
            const int row = index.row();
            const int moved =
                row >= 0 && row < static_cast<int>(objects_.size()) ? newRow.find(objects_[static_cast<size_t>(row)]) : -1;
            to.append(moved < 0 ? QModelIndex() : createIndex(moved, index.column()));
        }
        changePersistentIndexList(from, to);
    }
    objects_ = std::move(order);
    emit layoutChanged();
}

// Objects new to the list are inserted where the new list has them, each run in one step; many
// runs are inserted at the end as one block and then moved into place.
void TcvReportModel::insertNew(const std::vector<const void*>& next) {
    if (next.size() == objects_.size()) return;
    int runs = 0;
    {
        size_t j = 0;
        bool inRun = false;
        for (const void* object : next) {
            const bool old = j < objects_.size() && object == objects_[j];
            if (old) ++j;
            if (!old && !inRun) ++runs;
            inRun = !old;
        }
    }
    if (runs > FewRuns) {
        const PositionIndex present(objects_);
        const int first = count_;
        beginInsertRows(QModelIndex(), first, static_cast<int>(next.size()) - 1);
        for (const void* object : next)
            if (!present.contains(object)) objects_.push_back(object);
        count_ = static_cast<int>(objects_.size());
        endInsertRows();
        moveRows(next);
        return;
    }
    size_t j = 0;
    size_t i = 0;
    while (i < next.size()) {
        if (j < objects_.size() && next[i] == objects_[j]) {
            ++i;
            ++j;
            continue;
        }
        size_t end = i;
        while (end < next.size() && (j >= objects_.size() || next[end] != objects_[j])) ++end;
        beginInsertRows(QModelIndex(), static_cast<int>(i), static_cast<int>(end) - 1);
        objects_.insert(objects_.begin() + static_cast<std::ptrdiff_t>(j), next.begin() + static_cast<std::ptrdiff_t>(i),
                        next.begin() + static_cast<std::ptrdiff_t>(end));
        count_ = static_cast<int>(objects_.size());
        endInsertRows();
        j += end - i;
        i = end;
    }
}

int TcvReportModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : count_; }

int TcvReportModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : headers_.size(); }

QVariant TcvReportModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) return {};
    if (role == Qt::BackgroundRole) return index.row() % 2 == 1 ? QVariant(OddRowColor()) : QVariant();
    if (changing_ || (Updating && Updating())) return {};
    // The setup may have changed since the last refresh: never ask past its end.
    if (index.row() >= liveCount()) return {};
    if (role == Qt::DecorationRole && index.column() == 0 && Icon) return Icon(index.row());
    if ((role != Qt::DisplayRole && role != Qt::EditRole) || !Cell) return {};
    return Cell(index.row(), index.column());
}

QVariant TcvReportModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < headers_.size())
        return headers_[section];
    return {};
}

Qt::ItemFlags TcvReportModel::flags(const QModelIndex& index) const {
    Qt::ItemFlags flags = QAbstractTableModel::flags(index);
    if (index.isValid() && index.column() == 0 && EditCell) flags |= Qt::ItemIsEditable;
    return flags;
}

bool TcvReportModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (!index.isValid() || index.column() != 0 || role != Qt::EditRole || !EditCell) return false;
    if (index.row() >= liveCount()) return false;
    EditCell(index.row(), value.toString());
    return true;
}
