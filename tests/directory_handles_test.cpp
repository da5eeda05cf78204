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

// A path past PATH_MAX is opened in pieces cut at separators, wherever they fall near the limit.
TEST(OpenInPieces, PathsPastPathMaxOpenWhereverTheirSeparatorsFall)
{
    TempTree tree;
    for (size_t at = PATH_MAX - 2; at <= PATH_MAX + 2; ++at) {
        std::string path = tree.Path(std::to_string(at));
        tree.Dir(std::to_string(at));
        int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        while (fd >= 0 && path.size() < at) {
            // Names of 200 bytes, the last one cut so that the separator after it falls at offset at.
            const size_t left = at - path.size() - 1;
            const std::string name(left <= NAME_MAX ? left : 200, 'p');
            EXPECT_EQ(mkdirat(fd, name.c_str(), 0755), 0);
            const int next = openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            close(fd);
            fd = next;
            path += "/" + name;
        }
        ASSERT_GE(fd, 0);
        ASSERT_EQ(path.size(), at);
        ASSERT_EQ(mkdirat(fd, "end", 0755), 0);
        struct stat expected, opened;
        ASSERT_EQ(fstatat(fd, "end", &expected, 0), 0);
        close(fd);
        const int end = OpenDirectoryByPath(path + "/end");
        ASSERT_GE(end, 0) << "a separator at offset " << at;
        ASSERT_EQ(fstat(end, &opened), 0);
        close(end);
        EXPECT_EQ(opened.st_ino, expected.st_ino) << "a separator at offset " << at;
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
