// What an export file may say and the program takes from it: names that stay inside their directory, entries
// of one name, links, sizes, the timestamp; and what saving one does to the file it replaces.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "kept_json.h"
#include "kept_rows.h"
#include "opened_places.h"
#include "path_text.h"
#include "reason_texts.h"

namespace murako {
namespace {

using fakes::ExportText;

struct Stamped {
    const char* name;
    std::string metadata;
    std::optional<int64_t> timestamp;
};

void PrintTo(const Stamped& given, std::ostream* out)
{
    *out << given.name;
}

class KeptJsonTimestamp : public ::testing::TestWithParam<Stamped> {};

// The quick reading and the thorough one (a fraction in the metadata makes the quick one give up) read the
// metadata's own timestamp in the pass that reads the tree.
TEST_P(KeptJsonTimestamp, IsTheMetadatasOwnReadInTheSamePassEitherWay)
{
    for (const std::string& more : {std::string(), std::string(R"(,"fraction":0.5)")}) {
        std::string metadata = GetParam().metadata;
        metadata.insert(metadata.size() - 1, metadata.size() > 2 || more.empty() ? more : more.substr(1));
        const KeptJsonRead read = ReadKeptJson("[1,2," + metadata + R"(,[{"name":"/b"},{"name":"f"}]])");
        ASSERT_TRUE(read.tree) << ReasonTextInEnglish(read.failure);
        EXPECT_EQ(read.readQuickly, more.empty());
        EXPECT_EQ(read.timestamp, GetParam().timestamp) << metadata;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Metadata, KeptJsonTimestamp,
    ::testing::Values(Stamped{"Ours", R"({"progname":"murako","progver":"1","timestamp":1765238400})", 1765238400},
                      Stamped{"FieldsNestedBeforeIt",
                              R"({"extra":{"timestamp":5},"list":[1,{"timestamp":6}],"timestamp":7,"after":[8]})", 7},
                      Stamped{"AnArrayInItsPlace", R"({"timestamp":[7]})", std::nullopt},
                      Stamped{"OnlyNestedOnes", R"({"extra":{"timestamp":5}})", std::nullopt},
                      Stamped{"NoneAtAll", R"({"progname":"peer"})", std::nullopt},
                      Stamped{"Negative", R"({"timestamp":-7})", std::nullopt},
                      Stamped{"AString", R"({"timestamp":"7"})", std::nullopt},
                      Stamped{"Empty", "{}", std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(KeptJsonRead, UnusedValuesNestingTenThousandLevelsAreReadAndDeeperOnesRefused)
{
    for (const int levels : {9999, 10001}) {
        const std::string nested = std::string(static_cast<size_t>(levels), '[') + std::string(static_cast<size_t>(levels), ']');
        const KeptJsonRead read = ReadKeptJson(R"([1,2,{},[{"name":"/b"},{"name":"f","x":)" + nested + "}]]");
        EXPECT_EQ(read.tree != nullptr, levels <= 10000) << levels;
        EXPECT_EQ(read.failure.reason, levels <= 10000 ? Reason::None : Reason::NestedTooDeep);
    }
}

// Two entries of one name in one directory are kept, and the directories among them marked, so that nothing
// acts on them nor compares them; a name alone in its directory stays unmarked.
TEST(KeptJsonRead, EntriesOfOneNameAreKeptAndMarked)
{
    const KeptJsonRead read = ReadKeptJson(
        R"([1,2,{},[{"name":"/x"},[{"name":"d"},{"name":"f","asize":1}],[{"name":"d"},{"name":"g","asize":2}],)"
        R"([{"name":"e"},{"name":"f","asize":8}],{"name":"h","asize":3},{"name":"h","asize":4}]])");
    ASSERT_TRUE(read.tree) << ReasonTextInEnglish(read.failure);
    const KeptDirectory& top = *read.tree->Base();
    EXPECT_EQ(top.Size(SizeMeasure::Length), 1 + 2 + 8 + 3 + 4);
    ASSERT_EQ(top.ChildCount(), 3u);
    EXPECT_TRUE(top.flags & KeptDirectory::HoldsDuplicateNames);
    EXPECT_TRUE(top.Children()[0]->flags & KeptDirectory::DuplicateName);
    EXPECT_TRUE(top.Children()[1]->flags & KeptDirectory::DuplicateName);
    EXPECT_FALSE(top.Children()[2]->flags & KeptDirectory::DuplicateName);
    EXPECT_FALSE(top.Children()[2]->flags & KeptDirectory::HoldsDuplicateNames);
    EXPECT_TRUE(HoldsEntriesNamedAlike(*read.tree));
    const KeptJsonRead files = ReadKeptJson(R"([1,2,{},[{"name":"/x"},[{"name":"e"},{"name":"h"},[{"name":"h"}]]]])");
    ASSERT_TRUE(files.tree);
    EXPECT_TRUE(files.tree->Base()->Children()[0]->flags & KeptDirectory::HoldsDuplicateNames) << "a file and a directory alike";
    EXPECT_TRUE(HoldsEntriesNamedAlike(*files.tree)) << "below the top too";
    EXPECT_FALSE(HoldsEntriesNamedAlike(*ReadKeptJson(R"([1,2,{},[{"name":"/x"},[{"name":"e"},{"name":"h"}]]])").tree));
}

class KeptJsonLinkFields : public ::testing::TestWithParam<const char*> {};

// Either field alone says a file has other links: on disk it counts once, where first met.
TEST_P(KeptJsonLinkFields, EitherAloneCountsAFileOfSeveralLinksOnceOnDisk)
{
    const std::string link = GetParam();
    const KeptJsonRead read = ReadKeptJson(R"([1,2,{},[{"name":"/x","dsize":0},{"name":"a","asize":1,"dsize":4096,"ino":5,)" +
                                           link + R"(},[{"name":"d","dsize":0},{"name":"b","asize":1,"dsize":4096,"ino":5,)" +
                                           link + "}]]]");
    ASSERT_TRUE(read.tree) << ReasonTextInEnglish(read.failure);
    EXPECT_EQ(read.tree->Base()->Size(SizeMeasure::Length), 2);
    EXPECT_EQ(read.tree->Base()->Size(SizeMeasure::OnDisk), 4096);
}

INSTANTIATE_TEST_SUITE_P(Fields, KeptJsonLinkFields, ::testing::Values(R"("nlink":2)", R"("hlnkc":true)"));

TEST(KeptJsonRead, SpaceOnDiskIsKeptToTheByteWhetherOrNotItIsWholeBlocks)
{
    for (const int64_t onDisk : {768, 1536, 1, 512}) {
        const KeptJsonRead read = ReadKeptJson(R"([1,2,{},[{"name":"/x","dsize":0},{"name":"f","asize":1,"dsize":)" +
                                               std::to_string(onDisk) + "}]]");
        ASSERT_TRUE(read.tree) << ReasonTextInEnglish(read.failure);
        ForEachFile(*read.tree->Base(), [&](const KeptFile& file) { EXPECT_EQ(file.facts->onDisk, onDisk); });
        EXPECT_EQ(read.tree->Base()->Size(SizeMeasure::OnDisk), onDisk);
    }
}

// A relative top would name another place wherever the file is opened: the writer names it from the root.
TEST(KeptJsonWrite, ARelativeTopIsWrittenAsItsAbsolutePath)
{
    KeptJsonRead relative = ReadKeptJson(R"([1,2,{},[{"name":"rel/base"},{"name":"f","asize":1}]])");
    ASSERT_TRUE(relative.tree);
    const KeptJsonRead back = ReadKeptJson(ExportText(*relative.tree));
    ASSERT_TRUE(back.tree) << ReasonTextInEnglish(back.failure);
    EXPECT_FALSE(PathRoot(back.tree->BasePath()).empty()) << back.tree->BasePath();
    EXPECT_EQ(back.tree->BasePath(), JoinPath(std::filesystem::current_path().string(), "rel/base"));
}

TEST(ReasonTexts, EveryReasonHasWordsInBothLanguagesAndTheByteComesFirstGrouped)
{
    for (int reason = 1; reason <= static_cast<int>(Reason::CannotSave); ++reason) {
        const Failure failure{static_cast<Reason>(reason), "x", 1000};
        EXPECT_EQ(ReasonText(failure).rfind("1,000 バイト目: ", 0), 0u) << reason;
        EXPECT_GT(ReasonText(failure).size(), std::string("1,000 バイト目: ").size()) << reason;
        EXPECT_NE(ReasonTextInEnglish(failure).find("(at byte 1000)"), std::string::npos) << reason;
    }
    EXPECT_EQ(ReasonText({Reason::FieldNegative, "asize", {}}), "「asize」が負の数です。");
}

#ifndef _WIN32
class KeptJsonSave : public ::testing::Test {
protected:
    KeptJsonSave()
    {
        char pattern[] = "/tmp/murako-save-XXXXXX";
        folder_ = mkdtemp(pattern);
        tree_ = ReadKeptJson(R"([1,2,{},[{"name":"/x"},{"name":"f","asize":1}]])").tree;
    }
    ~KeptJsonSave() override { std::filesystem::remove_all(folder_); }

    std::string At(const std::string& name) const { return folder_ + "/" + name; }
    static std::string Text(const std::string& path)
    {
        std::string text;
        if (std::FILE* file = std::fopen(path.c_str(), "rb")) {
            char buffer[4096];
            text.append(buffer, std::fread(buffer, 1, sizeof buffer, file));
            std::fclose(file);
        }
        return text;
    }
    static void Write(const std::string& path, const char* text)
    {
        std::FILE* file = std::fopen(path.c_str(), "wb");
        std::fputs(text, file);
        std::fclose(file);
    }
    static unsigned Mode(const std::string& path)
    {
        struct stat status {};
        lstat(path.c_str(), &status);
        return status.st_mode;
    }

    std::string folder_;
    std::unique_ptr<KeptTree> tree_;
};

TEST_F(KeptJsonSave, AFileReplacedKeepsItsModeAndANewOneHasTheUmasks)
{
    Write(At("private.json"), "old");
    chmod(At("private.json").c_str(), 0600);
    EXPECT_FALSE(SaveKeptJson(*tree_, At("private.json"), "test"));
    EXPECT_EQ(Mode(At("private.json")) & 07777, 0600u);
    EXPECT_NE(Text(At("private.json")).find("\"f\""), std::string::npos);

    const mode_t mask = umask(027);
    EXPECT_FALSE(SaveKeptJson(*tree_, At("new.json"), "test"));
    umask(mask);
    EXPECT_EQ(Mode(At("new.json")) & 07777, 0640u);
}

TEST_F(KeptJsonSave, ASymbolicLinkStaysAndWhatItLeadsToIsReplaced)
{
    Write(At("target.json"), "old");
    chmod(At("target.json").c_str(), 0604);
    ASSERT_EQ(symlink("target.json", At("link.json").c_str()), 0);
    EXPECT_FALSE(SaveKeptJson(*tree_, At("link.json"), "test"));
    EXPECT_TRUE(S_ISLNK(Mode(At("link.json"))));
    EXPECT_NE(Text(At("target.json")).find("\"f\""), std::string::npos);
    EXPECT_EQ(Mode(At("target.json")) & 07777, 0604u);

    ASSERT_EQ(symlink("nowhere/x.json", At("dangling.json").c_str()), 0);
    EXPECT_EQ(SaveKeptJson(*tree_, At("dangling.json"), "test").reason, Reason::LinkLeadsNowhere);
    EXPECT_TRUE(S_ISLNK(Mode(At("dangling.json"))));
    EXPECT_EQ(SaveKeptJson(*tree_, folder_, "test").reason, Reason::NotAPlainFile);
    EXPECT_EQ(SaveKeptJson(*tree_, At("none/x.json"), "test").reason, Reason::NoFolder);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder_), {}), 3) << "no file left behind";
}

// Results opened from a file act only on what lies within its top, each directory opened from the one above
// without following a link, as it is now.
TEST_F(KeptJsonSave, OpenedResultsActOnlyWithinTheirTopDownFromItWithoutLinks)
{
    std::filesystem::create_directories(At("top/a/b"));
    std::filesystem::create_directories(At("outside/b"));
    ASSERT_EQ(symlink(At("outside").c_str(), At("top/l").c_str()), 0);
    const std::string top = At("top");
    const KeptJsonRead read = ReadKeptJson(R"([1,2,{},[{"name":")" + top + R"("},[{"name":"a"},[{"name":"b"}]],)" +
                                           R"([{"name":"l"},[{"name":"b"}]],[{"name":"gone"}],[{"name":"d"}],[{"name":"d"}]]])");
    ASSERT_TRUE(read.tree) << ReasonTextInEnglish(read.failure);
    const KeptTree& tree = *read.tree;
    EXPECT_FALSE(TopActsHere(tree));
    const std::pair<std::string, Reason> cases[] = {
        {top, Reason::None},
        {top + "/", Reason::None},
        {top + "/a/b", Reason::None},
        {top + "//a/b/", Reason::None},
        {top + "/l/b", Reason::NotHereNow},
        {top + "/gone", Reason::NotHereNow},
        {top + "/d", Reason::NamedAlike},
        {top + "/a/../l", Reason::OutsideTop},
        {top + "/..", Reason::OutsideTop},
        {top + "/nothing", Reason::OutsideTop},
        {top + "x/a", Reason::OutsideTop},
        {At("outside"), Reason::OutsideTop},
    };
    for (const auto& [path, reason] : cases)
        EXPECT_EQ(OpenedPlaceActsHere(tree, path, '/').reason, reason) << path;
    // A directory on the way replaced by a link after the file was written.
    std::filesystem::rename(At("top/a"), At("outside/a"));
    ASSERT_EQ(symlink(At("outside/a").c_str(), At("top/a").c_str()), 0);
    EXPECT_EQ(OpenedPlaceActsHere(tree, top + "/a/b", '/').reason, Reason::NotHereNow);
}

struct Elsewhere {
    const char* top;
    Reason reason;
};

class KeptJsonTop : public ::testing::TestWithParam<Elsewhere> {};

TEST_P(KeptJsonTop, ARelativeOrAnotherSystemsTopActsOnNothing)
{
    const KeptJsonRead read =
        ReadKeptJson(std::string(R"([1,2,{},[{"name":")") + GetParam().top + R"("},[{"name":"a"}]]])");
    ASSERT_TRUE(read.tree) << ReasonTextInEnglish(read.failure);
    EXPECT_EQ(TopActsHere(*read.tree).reason, GetParam().reason);
    EXPECT_EQ(OpenedPlaceActsHere(*read.tree, read.tree->BasePath(), '/').reason, GetParam().reason);
}

INSTANTIATE_TEST_SUITE_P(Tops, KeptJsonTop,
                         ::testing::Values(Elsewhere{"base", Reason::TopRelative}, Elsewhere{"./base", Reason::TopRelative},
                                           Elsewhere{R"(C:\\base)", Reason::TopOfOtherSystem},
                                           Elsewhere{R"(\\\\server\\share)", Reason::TopOfOtherSystem}));
#endif

}  // namespace
}  // namespace murako
