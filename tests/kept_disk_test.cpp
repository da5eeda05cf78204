#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "kept_json.h"
#include "kept_rows.h"
#include "posix_file_system.h"
#include "temp_tree.h"

namespace murako {
namespace {

using fakes::KeptSearch;
using fakes::TempTree;

// What du counts for dir: the space allocated to it and everything below, a file of several links once.
int64_t DuBytes(const std::string& dir)
{
    const std::string command = "du -s --block-size=1 '" + dir + "'";
    FILE* out = popen(command.c_str(), "r");
    long long bytes = -1;
    if (out) {
        if (std::fscanf(out, "%lld", &bytes) != 1)
            bytes = -1;
        pclose(out);
    }
    return bytes;
}

// A file of the given length whose first bytes are written, so that it holds some blocks and is sparse beyond.
void WrittenFile(const std::string& path, off_t length, size_t written)
{
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0) << path;
    const std::string bytes(written, 'x');
    EXPECT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    EXPECT_EQ(ftruncate(fd, length), 0);
    close(fd);
}

// Sparse and written files, links of one file in one directory and across two rows, a symbolic link, and
// empty directories, under root.
void MakeSpaceTree(const TempTree& tree)
{
    WrittenFile(tree.Path("own"), 10, 10);
    WrittenFile(tree.Path("a/sparse"), off_t(1) << 30, 5000);
    WrittenFile(tree.Path("a/p"), 70000, 70000);
    ASSERT_EQ(link(tree.Path("a/p").c_str(), tree.Path("a/q").c_str()), 0);
    WrittenFile(tree.Path("b/t"), 9000, 9000);
    tree.Dir("c/deeper/empty");
    ASSERT_EQ(link(tree.Path("b/t").c_str(), tree.Path("c/deeper/s").c_str()), 0);
    ASSERT_EQ(symlink("a/p", tree.Path("c/link").c_str()), 0);
    tree.Dir("empty");
}

TEST(KeptDisk, SpaceOnDiskIsWhatDuCountsOnADiskAndInMemoryWhateverTheThreads)
{
    for (const std::filesystem::path& under : {std::filesystem::temp_directory_path(), fakes::MemoryTempDirectory()}) {
        TempTree tree(nullptr, under);
        MakeSpaceTree(tree);
        const int64_t du = DuBytes(tree.Root());
        ASSERT_GT(du, 70000);
        for (const int threads : {1, 0}) {
            KeptSearch search(std::make_shared<PosixFileSystem>(), threads, SizeMeasure::OnDisk);
            search.Search(tree.Root());
            const KeptDirectory& base = *search.Controller().Kept()->Base();
            EXPECT_EQ(base.Size(SizeMeasure::OnDisk), du) << under << " threads " << threads;
            EXPECT_EQ(base.Size(SizeMeasure::Length), 10 + (int64_t(1) << 30) + 70000 * 2 + 9000 * 2 + 3) << "every link's length";
            EXPECT_LT(base.Child("a")->Size(SizeMeasure::OnDisk), 200000) << "a sparse file counts only what it holds";
            EXPECT_EQ(base.Child("a")->Size(SizeMeasure::OnDisk), DuBytes(tree.Path("a"))) << "two links in one directory count once";
            struct stat linked;
            ASSERT_EQ(stat(tree.Path("b/t").c_str(), &linked), 0);
            EXPECT_EQ(base.Child("b")->Size(SizeMeasure::OnDisk) + base.Child("c")->Size(SizeMeasure::OnDisk),
                      DuBytes(tree.Path("b")) + DuBytes(tree.Path("c")) - linked.st_blocks * 512)
                << "a link in each of two rows counts in one of them";
        }
    }
}

// Names a shell, a spreadsheet or a careless program would trip over, and a chain far past PATH_MAX.
void MakeAwkwardTree(const TempTree& tree)
{
    for (const char* name : {"a", "a b", "ab", "=1+1", "tab\there", "new\nline", "\xff\xfe not utf-8", "日本語のフォルダ",
                             "-rf", " lead", "trail ", ".hidden"}) {
        tree.File(std::string(name) + "/f", 1000 + std::string(name).size());
        tree.File(std::string(name) + "/" + name + "/g", 7);
    }
    tree.File(std::string(255, 'L') + "/f", 255);
    tree.File("own file", 3);
    tree.Chain("chain", 5000, "d", 11);
}

TEST(KeptDisk, OnADiskEveryDirectoryShownFromTheKeptTreeHasTheRowsOfAFreshSearch)
{
    TempTree tree(nullptr, fakes::MemoryTempDirectory());
    MakeAwkwardTree(tree);
    auto fs = std::make_shared<PosixFileSystem>();
    for (const int threads : {1, 0}) {
        KeptSearch search(fs, threads);
        search.Search(tree.Root());
        // Every directory but for the chain's levels, of which every 500th.
        const std::vector<std::string> directories = search.Directories();
        ASSERT_GT(directories.size(), 5000u);
        size_t compared = 0;
        for (size_t i = 0; i < directories.size(); ++i) {
            const std::string& path = directories[i];
            if (path.find("/chain/d/") != std::string::npos && i % 500 != 0 && i + 1 != directories.size())
                continue;
            EXPECT_EQ(search.Kept(path), search.Fresh(path, threads)) << path;
            ++compared;
        }
        EXPECT_GT(compared, 30u);
    }
}

TEST(KeptDisk, ATreeOfAwkwardNamesSavedAndOpenedAgainShowsEveryDirectoryAsTheSearchDid)
{
    TempTree tree(nullptr, fakes::MemoryTempDirectory());
    MakeAwkwardTree(tree);
    const std::string root = tree.Root();
    ASSERT_EQ(symlink("own file", (root + "/a/link").c_str()), 0);
    // A file of several links that takes space, as the tree's own files are sparse.
    std::FILE* linked = std::fopen((root + "/linked").c_str(), "wb");
    ASSERT_TRUE(linked);
    std::fputs(std::string(5000, 'x').c_str(), linked);
    std::fclose(linked);
    ASSERT_EQ(link((root + "/linked").c_str(), (root + "/ab/second link").c_str()), 0);
    TempTree saves(nullptr, fakes::MemoryTempDirectory());
    const std::string file = saves.Root() + "/saved.json";
    auto fs = std::make_shared<PosixFileSystem>();
    for (const SizeMeasure measure : {SizeMeasure::Length, SizeMeasure::OnDisk}) {
        KeptSearch search(fs, 0, measure);
        search.Search(root);
        ASSERT_EQ(SaveKeptJson(*search.Controller().Kept(), file, "test").reason, Reason::None);
        KeptJsonRead read = OpenKeptJson(file);
        ASSERT_TRUE(read.tree) << ReasonTextInEnglish(read.failure);
        fakes::ImportedView imported(fs, std::move(read.tree), measure);
        const std::vector<std::string> directories = search.Directories();
        for (size_t i = 0; i < directories.size(); ++i) {
            const std::string& path = directories[i];
            if (path.find("/chain/d/") == std::string::npos || i % 500 == 0 || i + 1 == directories.size()) {
                EXPECT_EQ(imported.Rows(path), search.Kept(path)) << path;
            }
        }
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(saves.Root()), {}), 1)
        << "nothing is left beside the file saved";
}

}  // namespace
}  // namespace murako

namespace murako {
namespace {

TEST(KeptMove, AfterAMoveEveryTotalAboveLosesExactlyWhatWasMoved)
{
    TempTree tree(nullptr, fakes::MemoryTempDirectory());
    TempTree trash(nullptr, fakes::MemoryTempDirectory());
    WrittenFile(tree.Path("a/b/big"), 100000, 100000);
    WrittenFile(tree.Path("a/b/c/deeper"), 5000, 5000);
    WrittenFile(tree.Path("a/x"), 3000, 3000);
    WrittenFile(tree.Path("d/y"), 7000, 7000);
    ASSERT_EQ(link(tree.Path("d/y").c_str(), tree.Path("a/b/y").c_str()), 0);  // counted in a/b, listed first
    for (const SizeMeasure measure : {SizeMeasure::Length, SizeMeasure::OnDisk}) {
        KeptSearch search(std::make_shared<PosixFileSystem>(), 0, measure);
        search.Search(tree.Root());
        const KeptTree& kept = *search.Controller().Kept();
        const KeptDirectory* moved = kept.Find(tree.Path("a/b"), '/');
        ASSERT_EQ(rename(tree.Path("a/b").c_str(), trash.Path("b").c_str()), 0);
        search.Controller().MovedAway({moved});
        const KeptPlace file = fakes::FilePlace(kept, tree.Path("a"), "x");
        ASSERT_EQ(rename(tree.Path("a/x").c_str(), trash.Path("x").c_str()), 0);
        search.Controller().MovedAway(file);

        // Fresh searches find the disk as the moves left it; a moved row stays, greyed, at 0.
        const std::vector<std::string> shown = search.Kept(tree.Root());
        const std::vector<std::string> fresh = search.Fresh(tree.Root(), 1);
        EXPECT_EQ(shown.back(), fresh.back()) << "the total";
        EXPECT_EQ(shown, fresh) << "a keeps its row, d now counts the link alone";
        const std::vector<std::string> a = search.Kept(tree.Path("a"));
        ASSERT_EQ(a.size(), 4u);
        EXPECT_NE(a[2].find("|b|0 kb|0|"), std::string::npos) << a[2];
        EXPECT_TRUE(search.Controller().Kept()->Find(tree.Path("a/b"), '/')->flags & KeptDirectory::Moved);

        ASSERT_EQ(rename(trash.Path("b").c_str(), tree.Path("a/b").c_str()), 0);
        ASSERT_EQ(rename(trash.Path("x").c_str(), tree.Path("a/x").c_str()), 0);
    }
}

}  // namespace
}  // namespace murako
