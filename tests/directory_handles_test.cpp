#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <memory>
#include <string>
#include <vector>

#include "child_process.h"
#include "directory_handles.h"
#include "fake_run.h"
#include "posix_file_system.h"
#include "search_run.h"
#include "temp_tree.h"

namespace murako {
namespace {

using fakes::ChildTree;
using fakes::OpenDescriptors;
using fakes::PassesInChild;
using fakes::TempTree;

// The deepest of a chain of directories, and the inodes of it and of the two it holds.
struct Chain {
    std::string path;
    ino_t deepest = 0;
    ino_t end = 0;
    ino_t usr = 0;
};

// The inode of name below the directory fd, or 0.
ino_t InodeAt(int fd, const char* name)
{
    struct stat status {};
    return fstatat(fd, name, &status, 0) == 0 ? status.st_ino : 0;
}

// Below top, directories of names up to 200 bytes until the deepest's path is exactly length bytes, holding
// "end" and "usr".
Chain ChainOfLength(const TempTree& tree, const std::string& top, size_t length)
{
    tree.Dir(top);
    std::string path = tree.Path(top);
    int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    while (fd >= 0 && path.size() < length) {
        const size_t left = length - path.size() - 1;
        const std::string name(left <= NAME_MAX ? left : 200, 'p');
        fakes::MakeAndEnter(fd, name);
        path += "/" + name;
    }
    EXPECT_GE(fd, 0);
    EXPECT_EQ(path.size(), length);
    EXPECT_EQ(mkdirat(fd, "end", 0755), 0);
    EXPECT_EQ(mkdirat(fd, "usr", 0755), 0);
    const Chain chain{path, InodeAt(fd, "."), InodeAt(fd, "end"), InodeAt(fd, "usr")};
    close(fd);
    return chain;
}

// The inode of the directory a path opens, or 0 when it does not open.
ino_t OpenedInode(const std::string& path)
{
    const int fd = OpenDirectoryByPath(path);
    struct stat status {};
    if (fd < 0 || fstat(fd, &status) != 0)
        status.st_ino = 0;
    if (fd >= 0)
        close(fd);
    return status.st_ino;
}

// A path of PATH_MAX bytes or more is opened in pieces cut at separators, wherever a separator, or a run of
// two or three, falls near the limit: a piece after the first that began with one would be opened from the
// root. Whole paths from one byte short of PATH_MAX to a few past it.
TEST(OpenInPieces, PathsFromPathMaxOnOpenWhereverTheirSeparatorsFall)
{
    TempTree tree;
    for (size_t at = PATH_MAX - 5; at <= PATH_MAX + 2; ++at) {
        const Chain chain = ChainOfLength(tree, std::to_string(at), at);
        EXPECT_EQ(OpenedInode(chain.path + "/end"), chain.end)
            << "a separator at offset " << at << ", a whole path of " << at + 4 << " bytes";
        for (const char* run : {"//", "///"}) {
            EXPECT_EQ(OpenedInode(chain.path + run + "end"), chain.end) << "\"" << run << "\" at offset " << at;
            EXPECT_EQ(OpenedInode(chain.path + run + "usr"), chain.usr) << "\"" << run << "\" at offset " << at;
        }
    }
}

// A given path may hold separators doubled anywhere, and one exactly PATH_MAX - 1 bytes long opens whole.
TEST(OpenInPieces, WholePathsAroundPathMaxOpenAndDoubledSeparatorsElsewhereDoNotMatter)
{
    TempTree tree;
    for (const size_t length : {size_t{PATH_MAX} - 1, size_t{PATH_MAX}, size_t{PATH_MAX} + 1}) {
        const Chain chain = ChainOfLength(tree, "whole" + std::to_string(length), length);
        std::string doubled = chain.path;
        doubled.insert(tree.Root().size(), "/");
        EXPECT_EQ(OpenedInode(chain.path), chain.deepest) << "a whole path of " << length << " bytes";
        EXPECT_EQ(OpenedInode(doubled + "/"), chain.deepest) << "\"//\" near the root, " << length << " bytes";
        EXPECT_EQ(OpenedInode("//" + doubled.substr(1) + "//usr"), chain.usr) << length << " bytes";
    }
}

// A place for the directory at name below parent (nullptr: name is a path), its handle adopted.
std::shared_ptr<DirectoryPlace> Place(DirectoryHandles& handles, std::shared_ptr<DirectoryPlace> parent,
                                      const std::string& name)
{
    CountedHandle handle = handles.Reserve();
    const int from = parent ? handles.Pin(*parent) : AT_FDCWD;
    EXPECT_EQ(handle.Open(from, name, ReachedBy::Listing), 0) << name;
    if (parent)
        handles.Unpin(*parent);
    int error = 0;
    const std::optional<IdentifiedDirectory> found = Identify(handle.Fd(), error);
    EXPECT_TRUE(found.has_value()) << name;
    auto place = std::make_shared<DirectoryPlace>(std::move(parent), name, found ? found->identity : DirectoryIdentity{});
    handles.Adopt(*place, std::move(handle));
    return place;
}

// Idle handles make room for new ones, a place whose handle went is reopened when it is used, and when the
// places go every descriptor is closed and every count given back.
TEST(DirectoryHandles, IdleHandlesMakeRoomAndComeBackWhenUsed)
{
    TempTree tree;
    for (int i = 0; i < 10; ++i)
        tree.File("d" + std::to_string(i) + "/f" + std::to_string(i), 1);
    const size_t before = OpenDescriptors();
    constexpr size_t kBudget = 4;
    {
        DirectoryHandles handles(kBudget);
        std::shared_ptr<DirectoryPlace> root = Place(handles, nullptr, tree.Root());
        std::vector<std::shared_ptr<DirectoryPlace>> places;
        for (int i = 0; i < 10; ++i) {
            places.push_back(Place(handles, root, "d" + std::to_string(i)));
            EXPECT_LE(handles.Counted(), kBudget) << i;
            EXPECT_LE(OpenDescriptors() - before, kBudget) << i;
        }
        EXPECT_EQ(places[0]->fd, -1) << "the handle idle longest made room";
        const int fd = handles.Pin(*places[0]);
        ASSERT_GE(fd, 0);
        struct stat status;
        EXPECT_EQ(fstatat(fd, "f0", &status, 0), 0) << "reopened as the directory it was";
        EXPECT_EQ(handles.Pin(*places[0]), fd) << "a pinned handle is shared";
        handles.Unpin(*places[0]);
        handles.Unpin(*places[0]);
        EXPECT_LE(handles.Counted(), kBudget);

        ASSERT_EQ(places[1]->fd, -1);
        ASSERT_EQ(rename(tree.Path("d1").c_str(), tree.Path("moved").c_str()), 0);
        ASSERT_EQ(rename(tree.Path("d2").c_str(), tree.Path("d1").c_str()), 0);
        EXPECT_EQ(handles.Pin(*places[1]), -ENOENT) << "d1 is another directory now";
        for (const auto& place : places)
            handles.Forget(*place);
        handles.Forget(*root);
        EXPECT_EQ(handles.Counted(), 0u);
    }
    EXPECT_EQ(OpenDescriptors(), before);
}

// At every yield of a search deeper and wider than the handles allowed, the walk holds no more descriptors
// than its budget, half of those free, and each walking thread's few.
TEST(DirectoryHandles, AWalkNeverHoldsMoreThanItsBudget)
{
    constexpr rlim_t kLimit = 64;
    TempTree tree{ChildTree()};
    if (!ChildTree()) {
        for (int i = 0; i < 40; ++i)
            tree.File("wide/" + std::to_string(i) + "/a/b/c/f", 1);
        tree.Chain("deep", 200, "level", 1);
        PassesInChild({.tree = tree.Root(), .fileLimit = kLimit});
        return;
    }
    const size_t before = OpenDescriptors();
    auto fs = std::make_shared<PosixFileSystem>();
    const size_t budget = (kLimit - before) / 2;
    for (int threads : {1, 0}) {
        for (const char* name : {"wide", "deep"}) {
            std::atomic<size_t> most{0};
            fakes::ScriptedHost host;
            host.eachYield = [&] {
                const size_t held = OpenDescriptors() - before;
                for (size_t seen = most.load(); held > seen && !most.compare_exchange_weak(seen, held);) {
                }
            };
            fakes::RecordingPresentation presentation;
            fakes::FixedChoices choices;
            choices.path = tree.Path(name);
            SearchController::Options options;
            options.threads = threads;
            ResultsTable table;
            SearchController run(table, presentation, choices, fs, host, options);
            run.Command1_Click();
            const size_t walkers = threads == 1 ? 1 : static_cast<size_t>(fs->MaxWalkThreads());
            EXPECT_LE(most.load(), budget + 4 * walkers) << name << ", " << walkers << " threads";
            if (name == std::string("deep")) {
                EXPECT_GE(most.load(), budget) << "a chain deeper than the budget fills it";
            }
        }
    }
}

}  // namespace
}  // namespace murako
