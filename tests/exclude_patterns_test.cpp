#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <random>
#include <string>
#include <vector>

#ifndef _WIN32
#include <fnmatch.h>
#endif

#include "exclude_patterns.h"
#include "shell_pattern.h"

namespace murako {
namespace {

// The rule as du's --exclude reads: the pattern against the whole path, then against what follows each
// separator, every tail tried in full.
bool ExcludedByTheRule(const std::vector<std::string>& patterns, std::string_view path, char separator)
{
    for (const std::string& pattern : patterns) {
        if (PatternMatches(pattern, path))
            return true;
        for (size_t at = path.find(separator); at != std::string_view::npos; at = path.find(separator, at + 1))
            if (at + 1 < path.size() && path[at + 1] != separator && PatternMatches(pattern, path.substr(at + 1)))
                return true;
    }
    return false;
}

// Small alphabets, so that random patterns often match random paths: a separator ("/", which the Windows run
// turns into "\"), both cases, characters of one to three bytes, bytes that begin or continue no whole character, an
// overlong sequence whose code is ASCII's, and the pattern characters themselves as plain ones.
constexpr const char* kOverlongA = "\xc1\xa1";
const std::vector<std::string> kNamePieces = {"a", "b", "o", "O", ".", ".", "/", "\xe6\x97\xa5", "\xc3\xa9", "\xa5",
                                              "\xe6\x97", kOverlongA, "*", "[", "-", "0", "7"};
const std::vector<std::string> kPatternPieces = {
    "*", "*", "**", "?", "a", "B", "o", ".", ".", "/", "\xe6\x97\xa5", "\xc3\xa9", "\xa5", "\xe6\x97", "0",
    "[a-c]", "[!a]", "[.o]", "[\xe6\x97\xa5\xc3\xa9]", "\\*", "\\[", "[[:alpha:]]", "[/]", "[^/o]", "[0-9]", "-",
    "[a\xc3\xa9]", "\\"};

std::string RandomText(std::mt19937& random, const std::vector<std::string>& pieces, size_t most)
{
    std::string text;
    const size_t count = std::uniform_int_distribution<size_t>(0, most)(random);
    for (size_t i = 0; i < count; ++i)
        text += pieces[std::uniform_int_distribution<size_t>(0, pieces.size() - 1)(random)];
    return text;
}

std::string WithSeparator(std::string text, char separator)
{
    for (char& c : text)
        if (c == '/')
            c = separator;
    return text;
}

// A pattern of random pieces; on Windows, where "\" is the separator, a pattern writes it escaped.
std::string RandomPattern(std::mt19937& random, char separator)
{
    std::string pattern = RandomText(random, kPatternPieces, 5);
    if (separator == '\\')
        for (size_t at = pattern.find('/'); at != std::string::npos; at = pattern.find('/', at + 2))
            pattern.replace(at, 1, "\\\\");
    return pattern;
}

// A pattern made from a stretch of path, some of its bytes turned into "?", "*" or a set, so that patterns
// and paths often meet, across separators and within characters of several bytes too; the overlong "a" is
// met by a set of ASCII now and then, as one character.
std::string PatternFrom(std::mt19937& random, std::string_view path)
{
    const size_t start = std::uniform_int_distribution<size_t>(0, path.size())(random);
    const std::string_view stretch = path.substr(start, random() % (path.size() - start + 1));
    std::string pattern = random() % 2 ? "*" : "";
    for (size_t at = 0; at < stretch.size(); ++at) {
        const char c = stretch[at];
        const unsigned choice = random() % 10;
        if (choice < 2) {
            pattern += '?';
        } else if (choice == 2) {
            pattern += '*';
        } else if (choice == 3 && stretch.substr(at).starts_with(kOverlongA)) {
            pattern += "[xa]";
            ++at;
        } else if (choice == 3 && std::isalnum(static_cast<unsigned char>(c))) {
            pattern.append("[x").append(1, c).append("]");
        } else {
            pattern.append(std::string_view("*?[\\").find(c) == std::string_view::npos ? "" : "\\").append(1, c);
        }
    }
    return pattern + (random() % 2 ? "*" : "");
}

class ExcludesLikeTheRule : public ::testing::TestWithParam<char> {};

// Whatever way the patterns are sorted and shortened, an entry is excluded exactly where the rule says, whether
// its whole path is given or its directory's path once and then its name.
TEST_P(ExcludesLikeTheRule, OnRandomPatternsAndPaths)
{
    const char separator = GetParam();
    std::mt19937 random(20261209);
    size_t excluded = 0;
    constexpr size_t kRounds = 30000;
    for (size_t round = 0; round < kRounds; ++round) {
        const std::string directory = WithSeparator(RandomText(random, kNamePieces, 7), separator);
        std::string name = WithSeparator(RandomText(random, kNamePieces, 4), separator);
        name.erase(std::remove(name.begin(), name.end(), separator), name.end());
        std::string listed = directory;
        if (listed.empty() || listed.back() != separator)
            listed += separator;
        // The whole path: most often a name after a separator, as a walk makes them, else whatever came.
        const std::string path = (round % 4 == 0 ? directory : listed) + name;
        std::vector<std::string> patterns;
        std::string shown;
        for (size_t count = 1 + random() % 3; patterns.size() < count;) {
            const std::string pattern = random() % 2 ? RandomPattern(random, separator) : PatternFrom(random, path);
            if (!PatternProblem(pattern)) {
                patterns.push_back(pattern);
                shown += "[" + pattern + "] ";
            }
        }
        std::string problem;
        const std::optional<ExcludePatterns> made = ExcludePatterns::Make(patterns, separator, problem);
        ASSERT_TRUE(made) << problem;
        const bool expected = ExcludedByTheRule(patterns, path, separator);
        excluded += expected;
        ASSERT_EQ(made->Excludes(path), expected) << shown << "on " << path;
        if (!name.empty()) {
            ASSERT_EQ(made->In(directory).Excludes(name), ExcludedByTheRule(patterns, listed + name, separator))
                << shown << "on " << name << " in " << directory;
        }
    }
    // Enough of both answers for the comparison to mean something.
    EXPECT_GT(excluded, kRounds / 5) << excluded;
    EXPECT_LT(excluded, kRounds * 4 / 5) << excluded;
}

INSTANTIATE_TEST_SUITE_P(Separators, ExcludesLikeTheRule, ::testing::Values('/', '\\'));

// Every name of a directory is asked in turn, as a walk asks them: what one name left behind must not change
// the answer for the next.
TEST(ExcludesInDirectoryTest, EachNameOfADirectoryIsAnsweredAlone)
{
    std::string problem;
    const std::optional<ExcludePatterns> made =
        ExcludePatterns::Make({"*/tmp/*.part", "src*.o", "lib*", "x/y", "*.sw[a-p]"}, '/', problem);
    ASSERT_TRUE(made) << problem;
    ExcludePatterns::InDirectory tmp = made->In("/home/u/tmp");
    EXPECT_TRUE(tmp.Excludes("a.part"));
    EXPECT_FALSE(tmp.Excludes("a.parts"));
    EXPECT_TRUE(tmp.Excludes("b.swp"));
    EXPECT_FALSE(tmp.Excludes("b.swq"));
    EXPECT_TRUE(made->In("/home/u/src/x").Excludes("a.o"));  // "src" begins a tail the "*" carries on from
    EXPECT_FALSE(made->In("/home/u/src/x").Excludes("a.c"));
    EXPECT_TRUE(made->In("/usr/lib64/x").Excludes("anything"));
    EXPECT_TRUE(made->In("/a/x").Excludes("y"));
    EXPECT_FALSE(made->In("/a/xx").Excludes("y"));
    EXPECT_TRUE(made->In("").Excludes("library"));
}

#ifndef _WIN32
// The matcher itself against the C library's, on ASCII, where the two agree on what a character is: the
// reference for "*", "?", sets, ranges, classes and escapes.
TEST(PatternMatchesTest, AgreesWithFnmatchOnAscii)
{
    const std::vector<std::string> patternPieces = {"*", "?", "a", "b", ".", "/", "[a-c]", "[!a]", "[^b]",
                                                    "[.o]", "\\*", "[[:alpha:]]", "[]a]", "[a-]", "o"};
    const std::vector<std::string> textPieces = {"a", "b", "c", ".", "/", "o", "*", "]", "-"};
    std::mt19937 random(7);
    for (size_t round = 0; round < 20000; ++round) {
        const std::string pattern = RandomText(random, patternPieces, 5);
        const std::string text = RandomText(random, textPieces, 6);
        ASSERT_EQ(PatternMatches(pattern, text), fnmatch(pattern.c_str(), text.c_str(), 0) == 0)
            << pattern << " on " << text;
    }
}
#endif

}  // namespace
}  // namespace murako
