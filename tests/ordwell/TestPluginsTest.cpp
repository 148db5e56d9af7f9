// The helper plug-ins are loaded by the host's tests; their counters must be right for those
// tests to mean anything.
#include "LoadedPlugin.h"

#include <gtest/gtest.h>

using IntFn = int (*)();
using VoidFn = void (*)();
using TextFn = const char* (*)();

TEST(TestPlugins, NoFreeLacksOnlyFreePointerAndCountsCalls)
{
    LoadedPlugin plugin(NOFREE_PLUGIN_PATH);
    ASSERT_TRUE(plugin.loaded());
    EXPECT_EQ(plugin.symbol("FreePointer"), nullptr);
    auto preprocess = plugin.entry<TPreprocess>("Preprocess");
    auto getFieldnames = plugin.entry<TGetFieldnames>("GetFieldnames");
    auto callCount = plugin.entry<IntFn>("CallCount");
    auto resetCount = plugin.entry<VoidFn>("ResetCount");
    ASSERT_TRUE(preprocess && getFieldnames && callCount && resetCount);

    resetCount();
    EXPECT_EQ(callCount(), 0);
    EXPECT_NE(preprocess("", "", "x"), nullptr);
    EXPECT_NE(getFieldnames(), nullptr);
    EXPECT_EQ(callCount(), 2);
    resetCount();
    EXPECT_EQ(callCount(), 0);
}

TEST(TestPlugins, CountingEchoesBodyAndCountsEveryHandBack)
{
    LoadedPlugin plugin(COUNTING_PLUGIN_PATH);
    ASSERT_TRUE(plugin.loaded());
    auto preprocess = plugin.entry<TPreprocess>("Preprocess");
    auto getFieldnames = plugin.entry<TGetFieldnames>("GetFieldnames");
    auto freePointer = plugin.entry<TFreePointer>("FreePointer");
    auto resultCount = plugin.entry<IntFn>("ResultCount");
    auto freeCount = plugin.entry<IntFn>("FreeCount");
    auto badFreeCount = plugin.entry<IntFn>("BadFreeCount");
    auto outstandingCount = plugin.entry<IntFn>("OutstandingCount");
    auto lastSender = plugin.entry<TextFn>("LastSender");
    auto lastSubject = plugin.entry<TextFn>("LastSubject");
    auto resetCount = plugin.entry<VoidFn>("ResetCount");
    ASSERT_TRUE(preprocess && getFieldnames && freePointer && resultCount && freeCount && badFreeCount
        && outstandingCount && lastSender && lastSubject && resetCount);

    resetCount();
    EXPECT_EQ(copyAndFree(preprocess("a@b.c", "Hi", "email=x@y.z\r\n"), freePointer), "email=x@y.z\r\n");
    EXPECT_STREQ(lastSender(), "a@b.c");
    EXPECT_STREQ(lastSubject(), "Hi");
    EXPECT_EQ(copyAndFree(preprocess("", "", ""), freePointer), std::nullopt);
    EXPECT_EQ(copyAndFree(getFieldnames(), freePointer), "RegService\r\nOrderID\r\nEmail\r\n");
    EXPECT_EQ(resultCount(), 3);
    EXPECT_EQ(freeCount(), 3);
    EXPECT_EQ(outstandingCount(), 0);
    EXPECT_EQ(badFreeCount(), 0);

    char* kept = getFieldnames();
    EXPECT_EQ(outstandingCount(), 1);
    freePointer(kept);
    freePointer(kept);
    EXPECT_EQ(badFreeCount(), 1);
    EXPECT_EQ(freeCount(), 5);

    resetCount();
    EXPECT_EQ(resultCount(), 0);
    EXPECT_EQ(freeCount(), 0);
    EXPECT_EQ(badFreeCount(), 0);
}
