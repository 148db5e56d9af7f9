#pragma once
// The contact filter: the ordered list of the current group's contacts that the contact list
// shows, filtered and sorted by the window's functions; and the helper that lists the selected rows
// of a list view.
#include <functional>
#include <memory>
#include <vector>

class QAbstractItemView;
class TcvContact;
class TcvGroup;

// A list of integers, used for the indices of selected rows.
class TIntegerList {
public:
    void Add(int value) { items_.push_back(value); }
    int Count() const { return static_cast<int>(items_.size()); }
    int operator[](int index) const { return items_[static_cast<size_t>(index)]; }
    std::vector<int>::const_iterator begin() const { return items_.begin(); }
    std::vector<int>::const_iterator end() const { return items_.end(); }
    void Reserve(int count) { items_.reserve(static_cast<size_t>(count)); }

private:
    std::vector<int> items_;
};

class TFilter {
public:
    using ChangeEvent = std::function<void(TFilter& sender)>;
    using CompareEvent = std::function<int(TFilter& sender, TcvContact* first, int tag, TcvContact* second)>;
    using FilterEvent = std::function<void(TFilter& sender, TcvContact* item, int tag, bool& accept)>;

    virtual ~TFilter() = default;

    int CompareTag = 0;
    int FilterTag = 0;
    ChangeEvent OnChange;
    CompareEvent OnCompare;
    FilterEvent OnFilter;
    // Optional, for long lists: OnPrepareSort turns the items into compact sort keys when a sort
    // begins, and OnCompareKeys then compares two items by the positions they had at that moment.
    // They must order exactly as OnCompare does; the sort procedure stays the same.
    std::function<void(TFilter& sender, const std::vector<TcvContact*>& items)> OnPrepareSort;
    std::function<int(TFilter& sender, int first, int second)> OnCompareKeys;

    // The group whose contacts are filtered (not owned), or none; filters at once.
    void SetSource(const TcvGroup* group);
    // The source, or null once it was freed.
    const TcvGroup* Source() const;

    // Takes every contact of the source that the accept function lets through, then sorts.
    virtual void Update();
    // Sorts with the compare function (not a stable sort).
    virtual void Sort();

    int Count() const { return static_cast<int>(items_.size()); }
    // The contact shown at a position; null out of range or when it was freed since the last update.
    TcvContact* Items(int index) const;
    // What is shown at a position, for telling rows apart only: it may have been freed.
    const void* Identity(int index) const {
        return index >= 0 && index < Count() ? items_[static_cast<size_t>(index)].contact : nullptr;
    }
    // The position of a contact, or -1.
    int IndexOf(const TcvContact* contact) const;

private:
    struct Entry {
        TcvContact* contact;
        int key;
        std::weak_ptr<const void> alive;
    };
    template <class Compare>
    void quickSort(int left, int right, const Compare& compare);
    void changed();

    const TcvGroup* source_ = nullptr;
    std::weak_ptr<const void> sourceAlive_;
    std::vector<Entry> items_;
};

// The indices of the selected rows of a list view, ascending. Only the selected rows are visited
// unless more than half of the rows are selected.
std::unique_ptr<TIntegerList> SelectedIndices(const QAbstractItemView& view);
// The number of selected rows, without visiting them.
int SelectedCount(const QAbstractItemView& view);
