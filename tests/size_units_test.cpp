#include "size_units.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

namespace murako {
namespace {

struct Case {
    int64_t bytes;
    const char* text;
};

void ExpectTexts(int32_t kiloUnit, const char* sizeUnit, const std::vector<Case>& cases)
{
    const SizeUnits units{kiloUnit, sizeUnit};
    for (const Case& c : cases)
        EXPECT_EQ(SizeText(c.bytes, units), c.text) << c.bytes << " bytes, " << kiloUnit << " " << sizeUnit;
}

TEST(SizeText, Divisor1024InKb)
{
    ExpectTexts(1024, "kb",
                {{0, "0 kb"},
                 {512, "0 kb"},
                 {513, "1 kb"},
                 {1023, "1 kb"},
                 {1024, "1 kb"},
                 {1536, "2 kb"},
                 {2560, "2 kb"},
                 {1234567, "1,206 kb"},
                 {2147483647, "2,097,152 kb"},
                 {-1536, "-2 kb"},
                 {-512, "0 kb"},
                 {-2560, "-2 kb"},
                 {-2561, "-3 kb"}});
}

TEST(SizeText, Divisor1000InKb)
{
    ExpectTexts(1000, "kb",
                {{500, "0 kb"},
                 {999, "1 kb"},
                 {1500, "2 kb"},
                 {2500, "2 kb"},
                 {1234567, "1,235 kb"},
                 {2147483647, "2,147,484 kb"},
                 {5000000000, "5,000,000 kb"}});
}

TEST(SizeText, Divisor1024InMb)
{
    ExpectTexts(1024, "Mb",
                {{524288, "0 Mb"},
                 {1048575, "1 Mb"},
                 {1572864, "2 Mb"},
                 {2621440, "2 Mb"},
                 {2147483647, "2,048 Mb"},
                 {5000000000, "4,768 Mb"}});
}

TEST(SizeText, Divisor1000InMbRoundsTwice)
{
    ExpectTexts(1000, "Mb",
                {{1234567, "1 Mb"},
                 {1499500, "2 Mb"},
                 {2147483647, "2,147 Mb"},
                 {5000000000, "5,000 Mb"},
                 {std::numeric_limits<int64_t>::max(), "9,223,372,036,855 Mb"}});
}

TEST(SizeText, OnlyTheExactTextMbSelectsTheSecondDivision)
{
    ExpectTexts(1024, "MB", {{1572864, "1,536 MB"}});
    ExpectTexts(1024, "mb", {{1572864, "1,536 mb"}});
}

TEST(SizeText, IsExactForEverySixtyFourBitSize)
{
    // 2^53 + 1 is the first integer a double cannot hold; halves above it must still go to even.
    const int64_t twoTo53 = int64_t{1} << 53;
    EXPECT_EQ(DivideRoundingHalfToEven(2 * (twoTo53 + 1) + 1, 2), twoTo53 + 2);
    EXPECT_EQ(DivideRoundingHalfToEven(2 * (twoTo53 + 2) + 1, 2), twoTo53 + 2);
    EXPECT_EQ(DivideRoundingHalfToEven((twoTo53 + 3) * 1000 + 500, 1000), twoTo53 + 4);
    EXPECT_EQ(DivideRoundingHalfToEven((twoTo53 + 3) * 1000 + 501, 1000), twoTo53 + 4);
    EXPECT_EQ(DivideRoundingHalfToEven((twoTo53 + 3) * 1000 + 499, 1000), twoTo53 + 3);

    const int64_t max = std::numeric_limits<int64_t>::max();  // 9,223,372,036,854,775,807
    const int64_t min = std::numeric_limits<int64_t>::min();
    ExpectTexts(1024, "kb", {{max, "9,007,199,254,740,992 kb"}, {min, "-9,007,199,254,740,992 kb"}});
    ExpectTexts(1000, "kb", {{max, "9,223,372,036,854,776 kb"}, {min, "-9,223,372,036,854,776 kb"}});
    EXPECT_EQ(DivideRoundingHalfToEven(max, max), 1);
    EXPECT_EQ(DivideRoundingHalfToEven(max / 2, max), 0) << "just under a half";
    EXPECT_EQ(DivideRoundingHalfToEven(max / 2 + 1, max), 1) << "just over a half";
    EXPECT_EQ(DivideRoundingHalfToEven(min, 1), min);
}

TEST(SizeText, MatchesTheDoubleRoundingForEveryThirtyTwoBitSize)
{
    // Below 2^31 the double quotient is never nudged across a half, so both must agree.
    for (int64_t bytes = -3000000; bytes <= 2147483647; bytes += 9973) {
        for (int64_t kilo : {int64_t{1024}, int64_t{1000}}) {
            const double quotient = static_cast<double>(bytes) / static_cast<double>(kilo);
            ASSERT_EQ(DivideRoundingHalfToEven(bytes, kilo), static_cast<int64_t>(std::nearbyint(quotient)))
                << bytes << " / " << kilo;
        }
    }
}

TEST(SizeText, UsesTheGivenGroupSeparator)
{
    EXPECT_EQ(FormatGrouped(0, ","), "0");
    EXPECT_EQ(FormatGrouped(999, ","), "999");
    EXPECT_EQ(FormatGrouped(1000, ","), "1,000");
    EXPECT_EQ(FormatGrouped(-123456, ","), "-123,456");
    EXPECT_EQ(FormatGrouped(1234567, "."), "1.234.567");
    EXPECT_EQ(FormatGrouped(1234567, "\u202F"), "1\u202F234\u202F567");
    EXPECT_EQ(SizeText(1234567, SizeUnits{1000, "kb", " "}), "1 235 kb");
}

TEST(SizeText, ADivisorOfZeroIsAnError)
{
    EXPECT_THROW(SizeText(1, SizeUnits{}), std::domain_error);
}

TEST(WriteResultRow, FillsTheRowInColumnOrderAndLeavesColumnTwoCurrent)
{
    ResultsTable table;
    InitGrid(table);
    table.SetRows(4);
    const SizeUnits units{1024, "kb"};
    WriteResultRow(table, units, 3, 1234, "[Root Files]", 1234567);
    EXPECT_EQ(table.TextAt(3, 0), "1234") << "no group separator in the row number";
    EXPECT_EQ(table.TextAt(3, 1), "[Root Files]");
    EXPECT_EQ(table.TextAt(3, 2), "1,206 kb");
    EXPECT_EQ(table.Row(), 3);
    EXPECT_EQ(table.Col(), 2);

    WriteResultRow(table, units, 2, -7, "/home/u/合計", 4608);
    EXPECT_EQ(table.TextAt(2, 0), "-7");
    EXPECT_EQ(table.TextAt(2, 1), "/home/u/合計");
    EXPECT_EQ(table.TextAt(2, 2), "4 kb") << "4.5 goes to the even 4";

    // The exact byte count stays beside the rounded text, and goes with its row.
    EXPECT_EQ(table.Facts(3).bytes, 1234567);
    EXPECT_EQ(table.Facts(2).bytes, 4608);
    EXPECT_EQ(table.Facts(1).bytes, std::nullopt);
    table.SetRows(3);
    table.SetRows(4);
    EXPECT_EQ(table.Facts(3).bytes, std::nullopt);
    EXPECT_EQ(table.Facts(2).bytes, 4608);
}

TEST(WriteResultRow, WritesNothingWhenTheDivisionFailsAndStopsAtAMissingRow)
{
    ResultsTable table;
    EXPECT_THROW(WriteResultRow(table, SizeUnits{}, 1, 1, "x", 10), std::domain_error);
    EXPECT_EQ(table.TextAt(1, 0), "");
    EXPECT_THROW(WriteResultRow(table, SizeUnits{1024, "kb"}, 2, 2, "x", 10), TableIndexError);
    EXPECT_EQ(table.Rows(), 2);
}

}  // namespace
}  // namespace murako
