#include "UiTestSupport.h"

#include "ui/Filters.h"
#include "ui/cvReportModel.h"

#include <QAbstractItemModelTester>
#include <QItemSelectionModel>
#include <QSignalSpy>
#include <QTableView>

#include <random>

namespace {

// A report model over a list of numbered objects that the test rearranges.
struct Rows {
    std::vector<int> ids;
    int objects[1000];
    TcvReportModel model{{"Id", "Twice"}};
    Rows() {
        model.RowCount = [this] { return static_cast<int>(ids.size()); };
        model.RowObject = [this](int row) -> const void* { return &objects[ids[static_cast<size_t>(row)]]; };
        model.Cell = [this](int row, int column) {
            return QString::number(ids[static_cast<size_t>(row)] * (column + 1));
        };
    }
    std::vector<int> shown() const {
        std::vector<int> out;
        for (int r = 0; r < model.rowCount(); ++r) out.push_back(model.data(model.index(r, 0)).toInt());
        return out;
    }
};

}  // namespace

TEST(ReportModelTest, RefreshFollowsRemovalsMovesAndInsertionsAndKeepsTheSelectionOnItsObjects) {
    Rows rows;
    QAbstractItemModelTester tester(&rows.model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    QItemSelectionModel selection(&rows.model);
    QSignalSpy resets(&rows.model, &QAbstractItemModel::modelReset);
    rows.ids = {1, 2, 3, 4, 5, 6, 7, 8};
    rows.model.Refresh();
    selection.select(rows.model.index(2, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    selection.select(rows.model.index(6, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    selection.setCurrentIndex(rows.model.index(6, 1), QItemSelectionModel::NoUpdate);

    // 3 and 7 are selected; remove some, move some, add some.
    std::mt19937 random(3);
    for (int round = 0; round < 40; ++round) {
        std::vector<int> next;
        for (int id : rows.ids)
            if (id == 3 || id == 7 || random() % 4) next.push_back(id);
        for (int k = 0; k < 3; ++k) next.push_back(100 + round * 5 + k);
        std::shuffle(next.begin(), next.end(), random);
        rows.ids = next;
        rows.model.Refresh();
        ASSERT_EQ(rows.shown(), rows.ids) << "round " << round;
        std::vector<int> selectedIds;
        for (const QModelIndex& index : selection.selectedRows()) selectedIds.push_back(rows.ids[index.row()]);
        std::sort(selectedIds.begin(), selectedIds.end());
        ASSERT_EQ(selectedIds, (std::vector<int>{3, 7})) << "round " << round;
        ASSERT_EQ(rows.ids[selection.currentIndex().row()], 7);
        ASSERT_EQ(selection.currentIndex().column(), 1);
    }
    EXPECT_EQ(resets.count(), 0);

    // Many scattered removals and insertions at once.
    std::vector<int> many;
    for (int id = 0; id < 600; ++id) many.push_back(id);
    rows.ids = many;
    rows.model.Refresh();
    std::vector<int> thinned;
    for (int id : many)
        if (id % 3 != 0 || id == 3) thinned.push_back(id);
    rows.ids = thinned;
    rows.model.Refresh();
    EXPECT_EQ(rows.shown(), rows.ids);
    rows.ids = many;
    rows.model.Refresh();
    EXPECT_EQ(rows.shown(), rows.ids);
    EXPECT_EQ(resets.count(), 0);
    rows.ids.clear();
    rows.model.Refresh();
    EXPECT_EQ(rows.model.rowCount(), 0);
}

TEST(ReportModelTest, ModelWithoutRowObjectsFollowsTheCountAtTheEnd) {
    Rows rows;
    rows.model.RowObject = nullptr;
    QAbstractItemModelTester tester(&rows.model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    QSignalSpy inserted(&rows.model, &QAbstractItemModel::rowsInserted);
    QSignalSpy removed(&rows.model, &QAbstractItemModel::rowsRemoved);
    rows.ids = {1, 2, 3};
    rows.model.Refresh();
    rows.ids = {4};
    rows.model.Refresh();
    EXPECT_EQ(rows.shown(), std::vector<int>{4});
    EXPECT_EQ(inserted.count(), 1);
    ASSERT_EQ(removed.count(), 1);
    EXPECT_EQ(removed[0][1].toInt(), 1);
    EXPECT_EQ(removed[0][2].toInt(), 2);
    // Rows past the list's end (changed without a refresh) show nothing.
    rows.ids.clear();
    EXPECT_FALSE(rows.model.data(rows.model.index(0, 0)).isValid());
}

TEST(FilterTest, ShowsNothingWithoutAcceptFunctionAndSortsWithTheCompareFunction) {
    TcvSetup setup;
    TcvGroup* group = addGroup(setup, "GRP", {"d@x.com", "a@x.com", "c@x.com", "b@x.com", "e@x.com"});
    TFilter filter;
    int changes = 0;
    filter.OnChange = [&](TFilter&) { ++changes; };
    filter.SetSource(group);
    EXPECT_EQ(filter.Count(), 0);
    EXPECT_EQ(changes, 2);

    filter.CompareTag = 7;
    filter.FilterTag = 9;
    int filterTag = 0, compareTag = 0;
    filter.OnFilter = [&](TFilter&, TcvContact* c, int tag, bool& accept) {
        filterTag = tag;
        accept = c->Email != "c@x.com";
    };
    filter.OnCompare = [&](TFilter&, TcvContact* a, int tag, TcvContact* b) {
        compareTag = tag;
        return -a->Email.compare(b->Email);
    };
    filter.Update();
    EXPECT_EQ(filterTag, 9);
    EXPECT_EQ(compareTag, 7);
    ASSERT_EQ(filter.Count(), 4);
    EXPECT_EQ(filter.Items(0)->Email, "e@x.com");
    EXPECT_EQ(filter.Items(3)->Email, "a@x.com");
    EXPECT_EQ(filter.IndexOf(group->Contacts(1)), 2);
    EXPECT_EQ(filter.Items(4), nullptr);

    // A contact freed since the update reads as none; a freed source shows nothing.
    group->DeleteContact(0);
    EXPECT_EQ(filter.Items(3), nullptr);
    setup.DeleteGroup(0);
    filter.Update();
    EXPECT_EQ(filter.Source(), nullptr);
    EXPECT_EQ(filter.Count(), 0);
}

TEST(FilterTest, SelectedIndicesListsSelectedRowsInOrderWhetherFewOrMostAreSelected) {
    Rows rows;
    for (int i = 0; i < 10; ++i) rows.ids.push_back(i);
    rows.model.Refresh();
    QTableView view;
    view.setModel(&rows.model);
    view.setSelectionBehavior(QAbstractItemView::SelectRows);
    auto select = [&](std::vector<int> list) {
        view.selectionModel()->clearSelection();
        for (int row : list)
            view.selectionModel()->select(rows.model.index(row, 0),
                                          QItemSelectionModel::Select | QItemSelectionModel::Rows);
    };
    auto indices = [&] {
        std::vector<int> out;
        const auto list = SelectedIndices(view);
        for (int row : *list) out.push_back(row);
        return out;
    };
    EXPECT_TRUE(indices().empty());
    select({7, 2, 5});
    EXPECT_EQ(indices(), (std::vector<int>{2, 5, 7}));
    EXPECT_EQ(SelectedCount(view), 3);
    select({9, 0, 1, 2, 3, 4, 6});
    EXPECT_EQ(indices(), (std::vector<int>{0, 1, 2, 3, 4, 6, 9}));
    EXPECT_EQ(SelectedCount(view), 7);
}
