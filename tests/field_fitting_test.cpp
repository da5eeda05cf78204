#include "field_fitting.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace murako {
namespace {

std::u16string Spaces(int count)
{
    return std::u16string(static_cast<size_t>(count), u' ');
}

TEST(LeftAndSpace, FitsTheDocumentedCases)
{
    EXPECT_EQ(LeftAndSpace(u"12", 3, true), u" 12");
    EXPECT_EQ(LeftAndSpace(u"12", 3, false), u"12 ");
    EXPECT_EQ(LeftAndSpace(u"12", 3), u"12 ");
    EXPECT_EQ(LeftAndSpace(u"1234", 3, true), u"123");
    EXPECT_EQ(LeftAndSpace(u"№", 3, true), u" №");
    EXPECT_EQ(LeftAndSpace(u"ディレクトリ", 60, false), u"ディレクトリ" + Spaces(48));
    EXPECT_EQ(LeftAndSpace(u"サイズ", 15, true), Spaces(9) + u"サイズ");
    EXPECT_EQ(LeftAndSpace(u"1,234 kb", 15, true), Spaces(7) + u"1,234 kb");
    EXPECT_EQ(LeftAndSpace(u"ｱｲｳｴ", 3, false), u"ｱｲｳ");
}

TEST(LeftAndSpace, ATwoColumnCharacterThatWouldCrossTheEndBecomesOneSpace)
{
    EXPECT_EQ(LeftAndSpace(u"abあ", 3, false), u"ab ");
    EXPECT_EQ(LeftAndSpace(u"abあ", 3, true), u" ab");
    // Dropped from the first misfit on, even where a later one-column character would still fit.
    EXPECT_EQ(LeftAndSpace(u"abあc", 3, false), u"ab ");
    // Exactly on the last two columns it is kept.
    EXPECT_EQ(LeftAndSpace(u"aあ", 3, false), u"aあ");
    EXPECT_EQ(LeftAndSpace(u"あ", 2, true), u"あ");
    EXPECT_EQ(LeftAndSpace(u"あ", 1, true), u" ");
}

TEST(LeftAndSpace, EmptyTextAndNonPositiveWidths)
{
    EXPECT_EQ(LeftAndSpace(u"", 5, true), Spaces(5));
    EXPECT_EQ(LeftAndSpace(u"", 5, false), Spaces(5));
    for (const int32_t width : {0, -1, -100}) {
        EXPECT_EQ(LeftAndSpace(u"abc", width, true), u"");
        EXPECT_EQ(LeftAndSpace(u"あ", width, false), u"");
    }
}

TEST(ColumnWidth, FollowsCodePage932)
{
    EXPECT_EQ(ColumnWidth(u'A'), 1);
    EXPECT_EQ(ColumnWidth(u'~'), 1);
    EXPECT_EQ(ColumnWidth(u'ｱ'), 1);   // half-width katakana, single byte 0xB1
    EXPECT_EQ(ColumnWidth(u'№'), 2);
    EXPECT_EQ(ColumnWidth(u'　'), 2);
    EXPECT_EQ(ColumnWidth(u'あ'), 2);
    EXPECT_EQ(ColumnWidth(u'髙'), 2);  // NEC-selected IBM extension
    EXPECT_EQ(ColumnWidth(u'é'), 1);   // outside code page 932: the one-byte substitute
    EXPECT_EQ(ColumnWidth(u'\uFFFD'), 1);
    EXPECT_EQ(ColumnWidth(u'\uE000'), 2);  // user-defined area, lead bytes 0xF0 to 0xF9
    EXPECT_EQ(ColumnWidth(char16_t{0xD83D}), 1);  // a surrogate counts per unit
    EXPECT_EQ(ColumnWidth(char16_t{0xDE00}), 1);
}

TEST(ColumnWidth, CountsTheBestFitMappingsAsTwoColumns)
{
    for (const char16_t unit : {u'\u00A2', u'\u00A3', u'\u00AC', u'\u2014', u'\u2016', u'\u2212', u'\u301C'})
        EXPECT_EQ(ColumnWidth(unit), 2) << std::hex << static_cast<int>(unit);
}

TEST(LeftAndSpace, KeepsItsPromisesOnRandomTexts)
{
    const std::u16string pool = u"a1 .\\~ｱﾟあ漢№　é\u2014\u301C\uFFFD\U0001F600";
    std::mt19937 random(20240607);
    std::uniform_int_distribution<size_t> pick(0, pool.size() - 1);
    std::uniform_int_distribution<int> length(0, 30);
    std::uniform_int_distribution<int32_t> width(-2, 25);
    for (int trial = 0; trial < 20000; ++trial) {
        std::u16string text;
        for (int n = length(random); n > 0; --n)
            text.push_back(pool[pick(random)]);
        const int32_t fieldWidth = width(random);
        const bool right = trial % 2 == 1;
        const std::u16string fitted = LeftAndSpace(text, fieldWidth, right);
        SCOPED_TRACE(::testing::Message() << "trial " << trial << " width " << fieldWidth);

        if (fieldWidth <= 0) {
            ASSERT_TRUE(fitted.empty());
            continue;
        }
        int doubleWidth = 0;
        for (const char16_t unit : fitted)
            doubleWidth += ColumnWidth(unit) == 2;
        ASSERT_EQ(Columns(fitted), fieldWidth);
        ASSERT_EQ(static_cast<int>(fitted.size()), fieldWidth - doubleWidth);

        // Some split into ASCII-space filler on one side and a prefix of the text that stops only where
        // the text ends or its next character no longer fits.
        bool matched = false;
        for (size_t fill = 0; fill <= fitted.size() && !matched; ++fill) {
            const std::u16string filler = right ? fitted.substr(0, fill) : fitted.substr(fitted.size() - fill);
            const std::u16string kept = right ? fitted.substr(fill) : fitted.substr(0, fitted.size() - fill);
            if (filler != Spaces(static_cast<int>(fill)) || text.compare(0, kept.size(), kept) != 0)
                continue;
            matched = kept.size() == text.size() || Columns(kept) + ColumnWidth(text[kept.size()]) > fieldWidth;
        }
        ASSERT_TRUE(matched) << "not filler plus a maximal prefix";
    }
}

}  // namespace
}  // namespace murako
