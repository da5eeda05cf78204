#include "path_text.h"

#include <gtest/gtest.h>

namespace murako {
namespace {

struct PathCase {
    std::string path;
    std::string root;
    std::optional<std::string> parent;
    std::string lastName;
};

void PrintTo(const PathCase& given, std::ostream* out)
{
    *out << given.path;
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
    PathCase{"C:\\Users\\me\\", "C:\\", "C:\\Users", "me"},
    PathCase{"C:\\Users", "C:\\", "C:\\", "Users"},
    PathCase{"c:/data/2024/", "c:\\", "c:/data", "2024"},
    PathCase{"C:\\", "C:\\", std::nullopt, ""},
    PathCase{"C:", "C:\\", std::nullopt, ""},
    PathCase{"\\\\server\\share\\", "\\\\server\\share\\", std::nullopt, ""},
    PathCase{"\\\\server\\share", "\\\\server\\share\\", std::nullopt, ""},
    PathCase{"\\\\server\\share\\dir\\", "\\\\server\\share\\", "\\\\server\\share\\", "dir"},
    PathCase{"//server/share/a/b", "\\\\server\\share\\", "//server/share/a", "b"},
    PathCase{"\\\\?\\C:\\long\\name\\", "\\\\?\\C:\\", "\\\\?\\C:\\long", "name"},
    PathCase{"\\\\?\\C:\\", "\\\\?\\C:\\", std::nullopt, ""},
    PathCase{"\\\\?\\UNC\\server\\share\\dir", "\\\\?\\UNC\\server\\share\\", "\\\\?\\UNC\\server\\share\\", "dir"},
    PathCase{"\\\\?\\unc\\server\\share\\", "\\\\?\\unc\\server\\share\\", std::nullopt, ""},
    PathCase{"\\\\?\\Volume{1b3b}\\dir\\", "\\\\?\\Volume{1b3b}\\", "\\\\?\\Volume{1b3b}\\", "dir"},
    PathCase{"dir\\sub", "", "dir", "sub"},
    PathCase{"dir", "", std::nullopt, "dir"}));

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
    PathCase{"/home/me/", "/", "/home", "me"},
    PathCase{"/home", "/", "/", "home"},
    PathCase{"/", "/", std::nullopt, ""},
    PathCase{"//", "/", std::nullopt, ""},
    PathCase{"/srv//data///", "/", "/srv", "data"},
    PathCase{"/mnt/a\\b\\", "/", "/mnt", "a\\b\\"},
    PathCase{"/C:\\", "/", "/", "C:\\"},
    PathCase{"dir/sub", "", "dir", "sub"},
    PathCase{"dir", "", std::nullopt, "dir"}));

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
