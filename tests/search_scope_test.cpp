#include <gtest/gtest.h>

#include <ostream>

#include "search_scope.h"
#include "shell_pattern.h"

namespace murako {
namespace {

struct PatternCase {
    const char* pattern;
    const char* text;
    bool matches;
};

void PrintTo(const PatternCase& c, std::ostream* out)
{
    *out << c.pattern << " on " << c.text;
}

class PatternMatchesTest : public ::testing::TestWithParam<PatternCase> {};

TEST_P(PatternMatchesTest, MatchesAsTheShellDoesWithStarsCrossingSeparators)
{
    const PatternCase& c = GetParam();
    ASSERT_FALSE(PatternProblem(c.pattern)) << c.pattern;
    EXPECT_EQ(PatternMatches(c.pattern, c.text), c.matches) << c.pattern << " against " << c.text;
}

INSTANTIATE_TEST_SUITE_P(
    Patterns, PatternMatchesTest,
    ::testing::Values(PatternCase{"*.o", "main.o", true}, PatternCase{"*.o", "main.oo", false},
                      PatternCase{"*.o", "dir/main.o", true},  // "*" takes "/" too
                      PatternCase{"*", ".hidden", true}, PatternCase{"*", "", true}, PatternCase{"?", "", false},
                      PatternCase{"a*b*c", "aXbYbZc", true}, PatternCase{"a*b*c", "aXbYbZ", false},
                      PatternCase{"*ab", "aab", true},  // the star backs off a character at a time
                      PatternCase{"b?ta", "beta", true}, PatternCase{"b?ta", "bta", false},
                      PatternCase{"?", "日", true},  // one character, three bytes
                      PatternCase{"??", "日", false}, PatternCase{"[0-9]*", "2004", true},
                      PatternCase{"[0-9]*", "x2004", false}, PatternCase{"[!0-9]*", "x2004", true},
                      PatternCase{"[^0-9]*", "2004", false}, PatternCase{"[]]", "]", true},
                      PatternCase{"[a-]", "-", true}, PatternCase{"[[:digit:]x]", "x", true},
                      PatternCase{"[[:upper:]]", "a", false}, PatternCase{"[あ-お]", "い", true},
                      PatternCase{"[あ-お]", "か", false}, PatternCase{"\\*", "*", true},
                      PatternCase{"\\*", "a", false}, PatternCase{"a\\", "a\\", true},
                      PatternCase{"[\\]]", "]", true}, PatternCase{"abc", "ABC", false}));

struct ProblemCase {
    const char* pattern;
    const char* reason;  // part of the reason given; nullptr: none
};

void PrintTo(const ProblemCase& c, std::ostream* out)
{
    *out << c.pattern;
}

class PatternProblemTest : public ::testing::TestWithParam<ProblemCase> {};

TEST_P(PatternProblemTest, RefusesWhatCannotBeMatchedWithTheReason)
{
    const std::optional<std::string> problem = PatternProblem(GetParam().pattern);
    if (!GetParam().reason) {
        EXPECT_FALSE(problem) << *problem;
        return;
    }
    ASSERT_TRUE(problem) << GetParam().pattern;
    EXPECT_NE(problem->find(GetParam().reason), std::string::npos) << *problem;
}

INSTANTIATE_TEST_SUITE_P(Patterns, PatternProblemTest,
                         ::testing::Values(ProblemCase{"a[b", "閉じられていません"}, ProblemCase{"[", "閉じられていません"},
                                           ProblemCase{"[!]", "閉じられていません"},
                                           ProblemCase{"[[:nothing:]]", "[:nothing:]"}, ProblemCase{"\\[", nullptr},
                                           ProblemCase{"[]]", nullptr}, ProblemCase{"*", nullptr}));

struct ExcludeCase {
    const char* pattern;
    const char* path;
    bool excluded;
};

void PrintTo(const ExcludeCase& c, std::ostream* out)
{
    *out << c.pattern << " on " << c.path;
}

class ExcludesTest : public ::testing::TestWithParam<ExcludeCase> {};

// du's rule: the whole path, or what follows any of its separators.
TEST_P(ExcludesTest, TriesThePathAndEachOfItsTails)
{
    std::string problem;
    const std::optional<ExcludePatterns> patterns = ExcludePatterns::Make({GetParam().pattern}, '/', problem);
    ASSERT_TRUE(patterns) << problem;
    EXPECT_EQ(patterns->Excludes(GetParam().path), GetParam().excluded) << GetParam().pattern << " " << GetParam().path;
}

INSTANTIATE_TEST_SUITE_P(
    Paths, ExcludesTest,
    ::testing::Values(ExcludeCase{"node_modules", "/home/u/src/node_modules", true},
                      ExcludeCase{"node_modules", "/home/u/node_modules/x", false},  // the name only, plain
                      ExcludeCase{"modules", "/home/u/node_modules", false},
                      ExcludeCase{"src/node_modules", "/home/u/src/node_modules", true},
                      ExcludeCase{"c/node_modules", "/home/u/src/node_modules", false},  // tails begin at a separator
                      ExcludeCase{"/home/u", "/home/u", true}, ExcludeCase{"home/u", "/home/u", true},
                      ExcludeCase{"*.o", "/b/x.o", true}, ExcludeCase{"*.o", "/b/x.o/y", false},
                      ExcludeCase{"u*o", "/usr/lib/foo", true},  // a tail that spans separators
                      ExcludeCase{"lib/*.so*", "/usr/lib/x/libc.so.6", true},
                      ExcludeCase{"lib/?.so", "/usr/lib/x/y.so", false}, ExcludeCase{"s?c", "/a/src", true},
                      ExcludeCase{"*", "/", true}, ExcludeCase{"[0-9]*", "/a/2004", true},
                      ExcludeCase{"[0-9]*", "/a2004/b", false}));

// du's rule as it reads, every tail tried in full: what the sorted and shortened matching must agree with.
bool ExcludedByTheRule(const std::string& pattern, std::string_view path)
{
    if (PatternMatches(pattern, path))
        return true;
    for (size_t at = path.find('/'); at != std::string_view::npos; at = path.find('/', at + 1))
        if (at + 1 < path.size() && path[at + 1] != '/' && PatternMatches(pattern, path.substr(at + 1)))
            return true;
    return false;
}

class ExcludesAsTheRule : public ::testing::TestWithParam<const char*> {};

TEST_P(ExcludesAsTheRule, EveryPathIsExcludedExactlyWhereTheRuleSays)
{
    std::string problem;
    const std::optional<ExcludePatterns> patterns = ExcludePatterns::Make({GetParam()}, '/', problem);
    ASSERT_TRUE(patterns) << problem;
    for (const char* path : {"/a/b.swp", "/a/b.swz", "b.swa", "/x/\xe6\x97\xa5", "/x/\xe6\x97", "/x/\x97\xa5o",
                             "/a/o", "/ao", "/a/b/c", "/usr/lib/python3/foo.pyc", "/u/x.py", "/", "o", "/a/\xc3\xa9" "b",
                             "/a/\xc3" "b", "/x/\xe6\x97\xa5o", "/x/\xe6\x97\xa5" "b", "/a*/b", "/d/.swp", "/d/x.sw"})
        EXPECT_EQ(patterns->Excludes(path), ExcludedByTheRule(GetParam(), path)) << GetParam() << " on " << path;
}

INSTANTIATE_TEST_SUITE_P(Patterns, ExcludesAsTheRule,
                         ::testing::Values("*.sw[a-p]", "*?o", "*[!a]b", "*\xe6\x97\xa5", "*\\*", "*.py[cod]", "*",
                                           "*a?", "*/?", "*?", "*[\xc3\xa9]b", "*\xa5" "b", "*\xa5o", "*.sw?", "a*", "*b/c"));

TEST(ExcludePatternsTest, RefusesTheFirstPatternThatCannotBeMatched)
{
    std::string problem;
    EXPECT_FALSE(ExcludePatterns::Make({"*.o", "a[b", "c["}, '/', problem));
    EXPECT_EQ(problem.rfind("a[b: ", 0), 0U) << problem;
    EXPECT_TRUE(ExcludePatterns::Make({}, '/', problem)->Empty());
}

TEST(ExcludePatternsTest, WindowsPathsAreTriedAfterBackslashes)
{
    std::string problem;
    const std::optional<ExcludePatterns> patterns = ExcludePatterns::Make({"*.tmp"}, '\\', problem);
    ASSERT_TRUE(patterns) << problem;
    EXPECT_TRUE(patterns->Excludes("C:\\Users\\u\\a.tmp"));
    EXPECT_FALSE(patterns->Excludes("C:\\Users\\u\\a.tmp\\b"));
}

TEST(PatternsFromTextTest, ReadsOneALineWithoutTrailingBlanksNorBlankLines)
{
    EXPECT_EQ(PatternsFromText("*.o\n\n  \nnode_modules \t\r\n  lead\nlast"),
              (std::vector<std::string>{"*.o", "node_modules", "  lead", "last"}));
    EXPECT_TRUE(PatternsFromText("").empty());
}

}  // namespace
}  // namespace murako
