#include "ui/Filters.h"

#include "model/cvSetup.h"

#include <QAbstractItemView>
#include <QItemSelectionModel>

void TFilter::SetSource(const TcvGroup* group) {
    source_ = group;
    sourceAlive_ = group ? group->Alive() : std::weak_ptr<const void>();
    Update();
}

const TcvGroup* TFilter::Source() const { return source_ && !sourceAlive_.expired() ? source_ : nullptr; }

void TFilter::Update() {
    items_.clear();
    if (const TcvGroup* group = Source()) {
        const int count = group->ContactCount();
        items_.reserve(static_cast<size_t>(count));
        for (int i = 0; i < count; ++i) {
            TcvContact* contact = group->Contacts(i);
            bool accept = false;
            if (OnFilter) OnFilter(*this, contact, FilterTag, accept);
            if (accept) items_.push_back({contact, 0, contact->Alive()});
        }
    }
    Sort();
    changed();
}

void TFilter::Sort() {
    if (OnCompare && !items_.empty()) {
        if (OnPrepareSort && OnCompareKeys) {
            std::vector<TcvContact*> contacts;
            contacts.reserve(items_.size());
            for (size_t i = 0; i < items_.size(); ++i) {
                items_[i].key = static_cast<int>(i);
                contacts.push_back(items_[i].contact);
            }
            OnPrepareSort(*this, contacts);
            quickSort(0, Count() - 1, [this](const Entry& a, const Entry& b) { return OnCompareKeys(*this, a.key, b.key); });
        } else {
            quickSort(0, Count() - 1, [this](const Entry& a, const Entry& b) {
                return OnCompare(*this, a.contact, CompareTag, b.contact);
            });
        }
    }
    changed();
}

void TFilter::changed() {
    if (OnChange) OnChange(*this);
}

// The classic partition around the middle item, recursing into the left part and looping on the
// right one.
template <class Compare>
void TFilter::quickSort(int left, int right, const Compare& compare) {
    int i = left;
    do {
        i = left;
        int j = right;
        const Entry& middle = items_[static_cast<size_t>((left + right) / 2)];
        const Entry pivot{middle.contact, middle.key, {}};
        do {
            while (compare(items_[static_cast<size_t>(i)], pivot) < 0) ++i;
            while (compare(items_[static_cast<size_t>(j)], pivot) > 0) --j;
            if (i <= j) {
                std::swap(items_[static_cast<size_t>(i)], items_[static_cast<size_t>(j)]);
                ++i;
                --j;
            }
        } while (i <= j);
        if (left < j) quickSort(left, j, compare);
        left = i;
    } while (i < right);
}

TcvContact* TFilter::Items(int index) const {
    if (index < 0 || index >= Count()) return nullptr;
    const Entry& entry = items_[static_cast<size_t>(index)];
    return entry.alive.expired() ? nullptr : entry.contact;
}

int TFilter::IndexOf(const TcvContact* contact) const {
    if (!contact) return -1;
    for (size_t i = 0; i < items_.size(); ++i)
        if (items_[i].contact == contact && !items_[i].alive.expired()) return static_cast<int>(i);
    return -1;
}

namespace {

// Selections of whole rows are kept as ranges; a row selected in several columns counts once.
QItemSelection rowRanges(const QAbstractItemView& view) {
    const QItemSelectionModel* selection = view.selectionModel();
    return selection ? selection->selection() : QItemSelection();
}

}  // namespace

int SelectedCount(const QAbstractItemView& view) {
    if (view.selectionBehavior() == QAbstractItemView::SelectRows) {
        int count = 0;
        for (const QItemSelectionRange& range : rowRanges(view)) count += range.height();
        return count;
    }
    return static_cast<int>(SelectedIndices(view)->Count());
}

std::unique_ptr<TIntegerList> SelectedIndices(const QAbstractItemView& view) {
    auto list = std::make_unique<TIntegerList>();
    const QAbstractItemModel* model = view.model();
    const QItemSelection ranges = rowRanges(view);
    if (!model || ranges.isEmpty()) return list;
    const int rows = model->rowCount(view.rootIndex());
    std::vector<char> selected;
    int count = 0;
    for (const QItemSelectionRange& range : ranges) count += range.height();
    if (count > rows / 2) {
        // Most rows are selected: one pass over all rows.
        selected.assign(static_cast<size_t>(rows), 0);
        for (const QItemSelectionRange& range : ranges)
            for (int r = std::max(range.top(), 0); r <= range.bottom() && r < rows; ++r)
                selected[static_cast<size_t>(r)] = 1;
        list->Reserve(count);
        for (int r = 0; r < rows; ++r)
            if (selected[static_cast<size_t>(r)]) list->Add(r);
        return list;
    }
    // Few rows are selected: visit only those.
    std::vector<int> found;
    found.reserve(static_cast<size_t>(count));
    for (const QItemSelectionRange& range : ranges)
        for (int r = std::max(range.top(), 0); r <= range.bottom() && r < rows; ++r) found.push_back(r);
    std::sort(found.begin(), found.end());
    found.erase(std::unique(found.begin(), found.end()), found.end());
    list->Reserve(static_cast<int>(found.size()));
    for (int r : found) list->Add(r);
    return list;
}
