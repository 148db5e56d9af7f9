#include "platform/CodePage.h"
#include "platform/Locale.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

using namespace platform;

TEST(CodePage, EveryByteRoundTripsThroughDisplayAndUtf8) {
    std::string all;
    for (int b = 1; b < 256; ++b) all += static_cast<char>(b);
    EXPECT_EQ(fromDisplay(toDisplay(all)), all);
    EXPECT_EQ(fromUtf8(toUtf8(all)), all);
}

TEST(CodePage, Windows1252SpecialsAndUnmappable) {
    EXPECT_EQ(toDisplay("\x80"), QString(QChar(0x20AC)));
    EXPECT_EQ(toUtf8("\xE9"), "\xC3\xA9");
    EXPECT_EQ(fromUtf8("\xE2\x82\xAC"), "\x80");
    EXPECT_EQ(fromDisplay(QString(QChar(0x4E2D))), "?");
    EXPECT_EQ(fromUtf8("a\xC3"), "a?");   // truncated sequence
    EXPECT_EQ(fromUtf8("\xFF" "b"), "?b"); // invalid lead byte
}

TEST(Locale, CompareTextIgnoresCaseAndIsOrdered) {
    EXPECT_EQ(compareText("Example.COM", "example.com"), 0);
    EXPECT_EQ(compareText("abc", "abd"), -1);
    EXPECT_EQ(compareText("b", "A"), 1);
    EXPECT_EQ(compareText("", "a"), -1);
    EXPECT_TRUE(sameText("\xC9t\xE9", "\xE9T\xC9"));  // accented letters in the code page
    EXPECT_FALSE(sameText("\xE9", "e"));
}

TEST(Locale, SeparatorsCanBeOverridden) {
    setSeparators('.', '-');
    EXPECT_EQ(dateSeparator(), '.');
    EXPECT_EQ(timeSeparator(), '-');
    setSeparators('\0', '\0');
    EXPECT_NE(dateSeparator(), '\0');
}

TEST(Locale, AsciiCaseAndTrim) {
    EXPECT_EQ(asciiUpper("ab\xE9z"), "AB\xE9Z");
    EXPECT_EQ(asciiLower("AB\xC9Z"), "ab\xC9z");
    EXPECT_EQ(trim(" \t a b \r\n"), "a b");
}

TEST(Locale, AccentsSortBesideTheirLetterAndOrderIsConsistent) {
    // An accent only decides when the base letters are equal.
    EXPECT_EQ(compareText("\xE9" "a", "eb"), -1);
    EXPECT_EQ(compareText("e", "\xE9"), -1);
    EXPECT_EQ(compareText("\xE9", "f"), -1);
    // Sorting with the comparison must be a strict weak order (no cycles), or binary searches break.
    std::vector<std::string> words = {"b", "A", "\xE0", "a", "Z", "-x", "x-", "9", "\xC9t\xE9", "ete", "", "ab"};
    std::sort(words.begin(), words.end(), [](const std::string& x, const std::string& y) { return compareText(x, y) < 0; });
    for (size_t i = 1; i < words.size(); ++i) EXPECT_LE(compareText(words[i - 1], words[i]), 0) << i;
    for (const auto& x : words)
        for (const auto& y : words) EXPECT_EQ(compareText(x, y), -compareText(y, x)) << x << " " << y;
}
