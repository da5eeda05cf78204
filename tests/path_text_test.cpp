#include "path_text.h"

#include <gtest/gtest.h>

namespace murako {
namespace {

struct PathCase {
    const char* name;  // of the test, as a path's backslashes would not pass through CTest's test names
    std::string path;
    std::string root;
    std::optional<std::string> parent;
    std::string lastName;
};

void PrintTo(const PathCase& given, std::ostream* out)
{
    *out << given.name;
}

std::string CaseName(const ::testing::TestParamInfo<PathCase>& info)
{
    return info.param.name;
}

class PathTextTest : public ::testing::TestWithParam<PathCase> {};

TEST_P(PathTextTest, RootParentAndLastNameFollowThePlatformsRules)
{
    const PathCase& given = GetParam();
    EXPECT_EQ(PathRoot(given.path), given.root);
    EXPECT_EQ(ParentPath(given.path), given.parent);
    EXPECT_EQ(LastPathName(given.path), given.lastName);
    // Going up and then down by the last name comes back: what Backspace and a double click rely on.
    if (given.parent && !given.lastName.empty()) {
        const std::optional<std::string> again = ParentPath(JoinPath(*given.parent, given.lastName) + PathSeparator());
        EXPECT_EQ(again, given.parent);
    }
}

#if defined(_WIN32)
// Searched paths end in a separator, as the search writes them; "/" separates as "\" does.
INSTANTIATE_TEST_SUITE_P(Windows, PathTextTest, ::testing::Values(
    PathCase{"DirectoryOnADrive", "C:\\Users\\me\\", "C:\\", "C:\\Users", "me"},
    PathCase{"DirectoryAtADrivesRoot", "C:\\Users", "C:\\", "C:\\", "Users"},
    PathCase{"ForwardSlashes", "c:/data/2024/", "c:\\", "c:/data", "2024"},
    PathCase{"DriveRoot", "C:\\", "C:\\", std::nullopt, ""},
    PathCase{"DriveAlone", "C:", "C:\\", std::nullopt, ""},
    PathCase{"ShareRoot", "\\\\server\\share\\", "\\\\server\\share\\", std::nullopt, ""},
    PathCase{"ShareRootWithoutItsSeparator", "\\\\server\\share", "\\\\server\\share\\", std::nullopt, ""},
    PathCase{"DirectoryOnAShare", "\\\\server\\share\\dir\\", "\\\\server\\share\\", "\\\\server\\share\\",
             "dir"},
    PathCase{"ShareInForwardSlashes", "//server/share/a/b", "\\\\server\\share\\", "//server/share/a", "b"},
    PathCase{"LongPathOnADrive", "\\\\?\\C:\\long\\name\\", "\\\\?\\C:\\", "\\\\?\\C:\\long", "name"},
    PathCase{"LongPathDriveRoot", "\\\\?\\C:\\", "\\\\?\\C:\\", std::nullopt, ""},
    PathCase{"LongPathOnAShare", "\\\\?\\UNC\\server\\share\\dir", "\\\\?\\UNC\\server\\share\\",
             "\\\\?\\UNC\\server\\share\\", "dir"},
    PathCase{"LongPathShareRootInLowerCase", "\\\\?\\unc\\server\\share\\", "\\\\?\\unc\\server\\share\\",
             std::nullopt, ""},
    PathCase{"LongPathOnAVolumeName", "\\\\?\\Volume{1b3b}\\dir\\", "\\\\?\\Volume{1b3b}\\",
             "\\\\?\\Volume{1b3b}\\", "dir"},
    PathCase{"Relative", "dir\\sub", "", "dir", "sub"},
    PathCase{"RelativeName", "dir", "", std::nullopt, "dir"}), CaseName);

TEST(JoinPath, PutsOneBackslashBetweenUnlessTheDirectoryEndsInASeparator)
{
    EXPECT_EQ(JoinPath("C:\\", "x"), "C:\\x");
    EXPECT_EQ(JoinPath("C:\\a", "x"), "C:\\a\\x");
    EXPECT_EQ(JoinPath("C:/a/", "x"), "C:/a/x");
    EXPECT_EQ(JoinPath("\\\\server\\share\\", "x"), "\\\\server\\share\\x");
}
#else
// A backslash is part of a name here, as any byte but "/" is.
INSTANTIATE_TEST_SUITE_P(Posix, PathTextTest, ::testing::Values(
    PathCase{"Directory", "/home/me/", "/", "/home", "me"},
    PathCase{"DirectoryAtTheRoot", "/home", "/", "/", "home"},
    PathCase{"Root", "/", "/", std::nullopt, ""},
    PathCase{"RootTwice", "//", "/", std::nullopt, ""},
    PathCase{"DoubledSeparators", "/srv//data///", "/", "/srv", "data"},
    PathCase{"BackslashesInAName", "/mnt/a\\b\\", "/", "/mnt", "a\\b\\"},
    PathCase{"ANameLikeADrive", "/C:\\", "/", "/", "C:\\"},
    PathCase{"Relative", "dir/sub", "", "dir", "sub"},
    PathCase{"RelativeName", "dir", "", std::nullopt, "dir"}), CaseName);

TEST(JoinPath, PutsOneSlashBetweenUnlessTheDirectoryEndsInOne)
{
    EXPECT_EQ(JoinPath("/", "x"), "/x");
    EXPECT_EQ(JoinPath("/a", "x"), "/a/x");
    EXPECT_EQ(JoinPath("/a/", "x"), "/a/x");
    EXPECT_EQ(JoinPath("/a\\", "x"), "/a\\/x");
}
#endif

}  // namespace
}  // namespace murako
