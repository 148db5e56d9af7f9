#include "model/cvContactList.h"
#include "model/cvSetup.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <vector>

namespace {

void expectSame(const TcvContactList& list, const std::vector<TcvContact*>& expected, std::mt19937& random) {
    ASSERT_EQ(list.size(), expected.size());
    // Forwards, backwards, by jumps and by the walk, since reads keep a place to start from.
    for (size_t i = 0; i < expected.size(); ++i) ASSERT_EQ(list[i], expected[i]) << "position " << i;
    for (size_t i = expected.size(); i-- > 0;) ASSERT_EQ(list[i], expected[i]) << "position " << i;
    for (int k = 0; k < 200 && !expected.empty(); ++k) {
        const size_t i = random() % expected.size();
        ASSERT_EQ(list[i], expected[i]) << "position " << i;
    }
    size_t walked = 0;
    list.forEach([&](TcvContact* c) { ASSERT_EQ(c, expected[walked++]); });
    EXPECT_EQ(walked, expected.size());
    if (!expected.empty()) {
        const size_t i = random() % expected.size();
        EXPECT_EQ(list.indexOf(expected[i]), static_cast<long>(i));
        EXPECT_EQ(list.back(), expected.back());
    }
}

}  // namespace

// Long enough for blocks to split when they fill and to join when they empty.
TEST(ContactList, KeepsTheOrderOfAPlainArrayThroughInsertionsRemovalsAndReorders) {
    std::mt19937 random(20261210);
    TcvContactList list;
    std::vector<TcvContact*> expected;
    auto insertAt = [&](size_t position) {
        auto contact = std::make_unique<TcvContact>();
        expected.insert(expected.begin() + static_cast<long>(position), contact.get());
        list.insert(position, std::move(contact));
    };
    for (int round = 0; round < 6; ++round) {
        // Growing: at the end (as a sorted load appends), at the front and anywhere.
        for (int i = 0; i < 3000; ++i) {
            const unsigned how = random() % 3;
            insertAt(how == 0 ? expected.size() : how == 1 ? 0 : random() % (expected.size() + 1));
        }
        expectSame(list, expected, random);
        // Shrinking by most of the list, from one region first so that blocks run empty.
        const size_t keep = expected.size() / 5;
        while (expected.size() > keep) {
            const size_t position = expected.size() > 2 * keep ? std::min(expected.size() - 1, size_t{100})
                                                               : random() % expected.size();
            std::unique_ptr<TcvContact> taken = list.extract(position);
            ASSERT_EQ(taken.get(), expected[position]);
            expected.erase(expected.begin() + static_cast<long>(position));
        }
        expectSame(list, expected, random);
        if (round % 2 == 1) {
            // A new order holding every contact and some new ones, which the list then owns.
            std::vector<std::unique_ptr<TcvContact>> added(50);
            for (auto& c : added) {
                c = std::make_unique<TcvContact>();
                expected.push_back(c.get());
            }
            std::shuffle(expected.begin(), expected.end(), random);
            const uint64_t before = list.changes();
            list.reorder(expected);
            for (auto& c : added) static_cast<void>(c.release());
            EXPECT_GT(list.changes(), before);
            expectSame(list, expected, random);
        }
    }
    list.clear();
    EXPECT_TRUE(list.empty());
    expected.clear();
    insertAt(0);
    expectSame(list, expected, random);
}
