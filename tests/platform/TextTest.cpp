#include "platform/CodePage.h"
#include "platform/Locale.h"

#include <gtest/gtest.h>

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
