#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "kept_json_metadata.h"

namespace murako {
namespace {

struct HeadCase {
    const char* name;
    std::string head;
    std::optional<int64_t> timestamp;
};

void PrintTo(const HeadCase& given, std::ostream* out)
{
    *out << given.head;
}

class ExportTimestampTest : public ::testing::TestWithParam<HeadCase> {};

TEST_P(ExportTimestampTest, IsReadFromTheMetadataAloneAndOnlyWhenItIsWhole)
{
    EXPECT_EQ(ExportTimestamp(GetParam().head), GetParam().timestamp);
}

INSTANTIATE_TEST_SUITE_P(
    Heads, ExportTimestampTest,
    ::testing::Values(
        HeadCase{"Ours", R"([1,2,{"progname":"murako","progver":"1","timestamp":1765238400},)" "\n[{\"name\":\"/b", 1765238400},
        HeadCase{"FieldsNestedBeforeIt",
                 R"([1,2,{"extra":{"timestamp":5},"list":[1,{"timestamp":6}],"timestamp":7,"after":[8]},[{"name":"/"}]])",
                 7},
        HeadCase{"OnlyNestedOnes", R"([1,2,{"extra":{"timestamp":5}}, [{"name":"/"}]])", std::nullopt},
        HeadCase{"NoneAtAll", R"([1,2,{"progname":"peer"},[{"name":"/"}]])", std::nullopt},
        HeadCase{"HeadEndsInTheMetadata", R"([1,2,{"timestamp":7,"progname":"pe)", std::nullopt},
        HeadCase{"Negative", R"([1,2,{"timestamp":-7}])", std::nullopt},
        HeadCase{"Fractional", R"([1,2,{"timestamp":7.5}])", std::nullopt},
        HeadCase{"AString", R"([1,2,{"timestamp":"7"}])", std::nullopt},
        HeadCase{"NotAnArray", R"({"timestamp":7})", std::nullopt},
        HeadCase{"MetadataTooEarly", R"([1,{"timestamp":7}])", std::nullopt},
        HeadCase{"MetadataTooLate", R"([1,2,3,{"timestamp":7}])", std::nullopt},
        HeadCase{"TreeInItsPlace", R"([1,2,[{"timestamp":7}]])", std::nullopt},
        HeadCase{"Empty", "", std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

// However the first bytes are cut, the timestamp is read once the metadata is whole, and never before.
TEST(ExportTimestamp, IsReadFromAHeadCutAnywhereOnlyOnceItHoldsTheMetadata)
{
    const std::string file = R"([1,2,{"progname":"x","timestamp":1765238400,"more":[{}]},[{"name":"/b"},{"name":"f"}]])";
    const size_t metadataEnd = file.find("]},") + 2;
    for (size_t length = 0; length <= file.size(); ++length)
        EXPECT_EQ(ExportTimestamp(std::string_view(file).substr(0, length)),
                  length >= metadataEnd ? std::optional<int64_t>(1765238400) : std::nullopt)
            << file.substr(0, length);
}

}  // namespace
}  // namespace murako
