#include "registry/ansi_code_page.h"

#include <gtest/gtest.h>

#include <string>

using namespace melofon::registry;

TEST(AnsiCodePage, EveryByteRoundTrips) {
    std::string all;
    for (int b = 0; b < 256; ++b)
        all += char(b);
    const std::string utf8 = fromAnsi(all);
    EXPECT_EQ(toAnsi(utf8), all);
    EXPECT_EQ(toAnsiLossy(utf8), all);
    EXPECT_EQ(fromAnsi("\x80\x8A\x9F\xF1"), "€ŠŸñ");
}

TEST(AnsiCodePage, CharactersWithoutAByteAndMalformedText) {
    EXPECT_EQ(toAnsi("日本"), std::nullopt);
    // A stray continuation byte, a cut sequence, an overlong '/', a surrogate: not text.
    for (const char* bad : {"a\x80", "\xC3", "\xC0\xAF", "\xED\xA0\x80", "\xF5\x80\x80\x80"})
        EXPECT_EQ(toAnsi(bad), std::nullopt) << bad;
    // Lossy keeps one byte a character, so a buffer keeps its length.
    EXPECT_EQ(toAnsiLossy("a日😀\xC3"), "a???");
    EXPECT_EQ(toAnsiLossy("\xE6\x97"), "??");
}

TEST(AnsiCodePage, NamesCompareUpperCased) {
    EXPECT_EQ(upperAnsi("a\xFF\x9A\xE9\xF7\xDF"), u"AŸŠÉ÷ß");
    EXPECT_EQ(upperUtf8("ÿšé÷ßµœž"), upperAnsi("\x9F\x8A\xC9\xF7\xDF\xB5\x8C\x8E"));
    EXPECT_EQ(upperUtf8("😀x"), u"😀X");
}
