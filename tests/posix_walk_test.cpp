#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <tbb/global_control.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "posix_file_system.h"
#include "fake_run.h"
#include "temp_tree.h"
#include "child_process.h"
#include "headless_run.h"
#include "row_texts.h"
#include "search_run.h"
#include "walker.h"

namespace murako {
namespace {

using fakes::ChildTree;
using fakes::OpenDescriptors;
using fakes::PassesInChild;
using fakes::TempTree;

// "name bytes" for every row, and " unread N: path why, ..." after those with places that could not be read.
class MarkedRows {
public:
    void Watch(SearchController::Options& options, const ResultsTable& table)
    {
        options.rowWritten = [this, &table](int32_t row, const std::string& name, int64_t bytes) {
            std::string& text = rows_[row];
            text = name + " " + std::to_string(bytes);
            const UnreadPlaces& unread = table.Facts(row).unread;
            if (unread.count == 0)
                return;
            text += " unread " + std::to_string(unread.count) + ":";
            for (const UnreadPlaces::Place& place : unread.first)
                text += " " + place.path + " " + FailureText(place.failure) + ",";
        };
    }
    // Sorted, since subdirectories come in the file system's order.
    std::vector<std::string> Sorted() const
    {
        std::vector<std::string> texts;
        for (const auto& [row, text] : rows_)
            texts.push_back(text);
        std::sort(texts.begin(), texts.end());
        return texts;
    }

private:
    std::map<int32_t, std::string> rows_;
};


// A directory chain below parentFd, each level holding a file of fileLength bytes.
void MakeChain(int parentFd, int depth, off_t fileLength)
{
    int level = dup(parentFd);
    for (int i = 0; i < depth; ++i) {
        ASSERT_EQ(mkdirat(level, "level", 0755), 0);
        const int next = openat(level, "level", O_RDONLY | O_DIRECTORY);
        close(level);
        level = next;
        const int file = openat(level, "f", O_WRONLY | O_CREAT, 0644);
        ASSERT_EQ(ftruncate(file, fileLength), 0);
        close(file);
    }
    close(level);
}

std::vector<std::string> ListedNames(Directory& dir)
{
    std::vector<std::string> listed;
    for (std::string_view name; dir.NextName(name);)
        if (name != "." && name != "..")
            listed.emplace_back(name);
    return listed;
}

// The real file system, but for one file that is removed the moment a listing returns its name, as another
// program might remove it: its length query fails, on whichever thread it is made.
class RemovingFileSystem : public FileSystem {
public:
    RemovingFileSystem(std::shared_ptr<FileSystem> real, std::string victim)
        : real_(std::move(real)), victim_(std::move(victim))
    {
    }
    std::unique_ptr<Directory> Open(const std::string& path, ReadFailure& failure) override
    {
        return Wrap(real_->Open(path, failure), fakes::FakeFileSystem::Normal(path));
    }
    int MaxWalkThreads() const override { return real_->MaxWalkThreads(); }

private:
    class Removing : public fakes::ForwardingDirectory {
    public:
        Removing(RemovingFileSystem& fs, std::unique_ptr<Directory> real, std::string path)
            : ForwardingDirectory(std::move(real)), fs_(fs), path_(std::move(path))
        {
        }
        bool NextName(std::string_view& name) override
        {
            if (!inner_->NextName(name))
                return false;
            if (path_ + "/" + std::string(name) == fs_.victim_) {
                EXPECT_EQ(unlink(fs_.victim_.c_str()), 0);
            }
            return true;
        }
        std::unique_ptr<Directory> OpenSubdirectory(std::string_view name, ReadFailure& failure) override
        {
            return fs_.Wrap(inner_->OpenSubdirectory(name, failure), path_ + "/" + std::string(name));
        }

    private:
        RemovingFileSystem& fs_;
        std::string path_;
    };

    std::unique_ptr<Directory> Wrap(std::unique_ptr<Directory> real, std::string path)
    {
        if (!real)
            return nullptr;
        return std::make_unique<Removing>(*this, std::move(real), std::move(path));
    }

    std::shared_ptr<FileSystem> real_;
    std::string victim_;
};

class PosixWalkTest : public ::testing::Test {
protected:
    int64_t Sum(const std::string& relative)
    {
        const WalkContext context{host, searching};
        ReadFailure failure = ReadFailure::None;
        return SumDirectory(fs->Open(tree.Path(relative), failure), context);
    }

    // Every row of a search over relative, in bytes, walked with the given thread count.
    std::vector<std::string> Search(const std::string& relative, int threads)
    {
        return fakes::SearchRows(table, fs, tree.Path(relative), threads);
    }

    // The same with each row's unread places, sorted, as MarkedRows gives them.
    std::vector<std::string> SearchMarked(const std::string& relative, int threads)
    {
        MarkedRows rows;
        SearchController::Options options;
        options.threads = threads;
        rows.Watch(options, table);
        SearchWithoutWindow(table, fs, tree.Path(relative), options);
        return rows.Sorted();
    }

    TempTree tree{ChildTree()};
    std::shared_ptr<PosixFileSystem> fs = std::make_shared<PosixFileSystem>();
    QueueHost host;
    std::atomic<bool> searching{true};
    ResultsTable table;
};

TEST_F(PosixWalkTest, SumsFilesOfEveryKindAtEveryDepth)
{
    tree.Dir("empty");
    EXPECT_EQ(Sum("empty"), 0);
    EXPECT_EQ(Sum("missing"), 0);

    tree.Dir("t");
    tree.File("t/a", 100);
    tree.File("t/.hidden", 7);
    ASSERT_EQ(chmod(tree.Path("t/a").c_str(), 0444), 0);
    tree.Dir("t/s");
    tree.File("t/s/b", 50);
    tree.Dir("t/s/.dot");
    tree.File("t/s/.dot/c", 25);
    EXPECT_EQ(Sum("t"), 182);
}

TEST_F(PosixWalkTest, LinksCountTheirOwnLengthAndAreNeverFollowed)
{
    tree.Dir("l");
    tree.File("l/file", 10);
    ASSERT_EQ(symlink("..", tree.Path("l/up").c_str()), 0);          // a loop if followed
    ASSERT_EQ(symlink("/usr", tree.Path("l/usr").c_str()), 0);       // a large tree if followed
    ASSERT_EQ(symlink("nowhere", tree.Path("l/dangling").c_str()), 0);
    EXPECT_EQ(Sum("l"), 10 + 2 + 4 + 7);
}

TEST_F(PosixWalkTest, SparseFilesCountTheirWholeLength)
{
    tree.Dir("s");
    tree.File("s/sparse", off_t{5} << 30);
    EXPECT_EQ(Sum("s"), int64_t{5} << 30);
}

TEST_F(PosixWalkTest, NamesThatAreNotUtf8AreCountedAndShownWithReplacements)
{
    tree.Dir("n");
    tree.Dir("n/caf\xE9");
    tree.File("n/caf\xE9/f", 3);
    tree.File("n/\xFF\xFE", 4);
    EXPECT_EQ(Search("n", 1), (std::vector<std::string>{"1 [Root Files] 4", "2 caf\uFFFD 3",
                                                         "3 " + tree.Path("n/") + "合計 7"}));
}

TEST_F(PosixWalkTest, AsAnOrdinaryUserUnreadableAndVanishedDirectoriesCountZeroAndAreMarked)
{
    if (geteuid() == 0) {
        if (!PassesInChild({.tree = {}, .asNobody = true}))
            GTEST_SKIP() << "running as root, and the user nobody is missing or cannot run this program";
        return;
    }
    tree.Dir("t");
    tree.File("t/own", 1);
    tree.Dir("t/open");
    tree.File("t/open/f", 10);
    tree.Dir("t/open/sealed");
    tree.File("t/open/sealed/hidden", 5);
    ASSERT_EQ(chmod(tree.Path("t/open/sealed").c_str(), 0), 0);
    tree.Dir("t/noexec");
    tree.File("t/noexec/nf", 7);
    tree.Dir("t/noexec/ns");
    ASSERT_EQ(chmod(tree.Path("t/noexec").c_str(), 0644), 0);  // listable, but nothing in it can be reached
    tree.Dir("t/gone");
    tree.Dir("t/fine");
    tree.File("t/fine/g", 3);

    const std::string t = tree.Path("t");
    const std::vector<std::string> kept{
        "fine 3",
        "noexec 0 unread 2: " + t + "/noexec アクセス権がありません, " + t + "/noexec/ns アクセス権がありません,",
        "open 10 unread 1: " + t + "/open/sealed アクセス権がありません,"};
    {
        // One thread, so that the removal falls between the base's listing and the walk of "gone".
        fakes::ScriptedHost host;
        host.atYield[1] = [&] { ASSERT_EQ(rmdir(tree.Path("t/gone").c_str()), 0); };
        fakes::RecordingPresentation presentation;
        fakes::FixedChoices choices;
        choices.path = t;
        MarkedRows rows;
        SearchController::Options options;
        options.threads = 1;
        rows.Watch(options, table);
        SearchController run(table, presentation, choices, fs, host, options);
        run.Command1_Click();
        std::vector<std::string> expected = kept;
        expected.push_back("[Root Files] 1");
        expected.push_back("gone 0 unread 1: " + t + "/gone 検索中に削除または置き換えられました,");
        expected.push_back(t + "/合計 14 unread 4: " + t + "/gone 検索中に削除または置き換えられました, " + t +
                           "/noexec アクセス権がありません, " + t + "/noexec/ns アクセス権がありません, " + t +
                           "/open/sealed アクセス権がありません,");
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(rows.Sorted(), expected);
        EXPECT_NE(presentation.progress.back().find("　読み取れなかったディレクトリ: 4"), std::string::npos);
    }
    {
        MarkedRows rows;
        SearchController::Options options;
        options.threads = 2;
        rows.Watch(options, table);
        SearchWithoutWindow(table, fs, t, options);
        std::vector<std::string> expected = kept;
        expected.push_back("[Root Files] 1");
        expected.push_back(t + "/合計 14 unread 3: " + t + "/noexec アクセス権がありません, " + t +
                           "/noexec/ns アクセス権がありません, " + t + "/open/sealed アクセス権がありません,");
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(rows.Sorted(), expected) << "threaded";
    }
}

TEST_F(PosixWalkTest, PseudoFileSystemsAreNotEntered)
{
    EXPECT_TRUE(IsPseudoFileSystem(0x9fa0));
    EXPECT_FALSE(IsPseudoFileSystem(0xef53)) << "ext4";
    EXPECT_FALSE(IsPseudoFileSystem(0)) << "an entry without a magic of its own matches none";
    EXPECT_TRUE(IsPseudoFileSystemType("nsfs"));
    EXPECT_TRUE(IsPseudoFileSystemType("devtmpfs"));
    EXPECT_FALSE(IsPseudoFileSystemType("tmpfs"));
    ReadFailure failure = ReadFailure::None;
    std::unique_ptr<Directory> top = fs->Open("/", failure);
    ASSERT_NE(top, nullptr);
    std::unique_ptr<Directory> proc = top->OpenSubdirectory("proc", failure);
    if (!proc)
        GTEST_SKIP() << "no /proc here";
    std::string_view name;
    EXPECT_FALSE(proc->NextName(name));
}

TEST_F(PosixWalkTest, AChainFarPastPathMaxIsMeasuredExactly)
{
    constexpr int kDepth = 20000;
    tree.Dir("chain");
    const int fd = open(tree.Path("chain").c_str(), O_RDONLY | O_DIRECTORY);
    MakeChain(fd, kDepth, 2);
    close(fd);
    // Far fewer handles than levels must do; the file system takes its share of the limit when it is made.
    struct rlimit limit;
    getrlimit(RLIMIT_NOFILE, &limit);
    const rlimit saved = limit;
    limit.rlim_cur = 256;
    setrlimit(RLIMIT_NOFILE, &limit);
    fs = std::make_shared<PosixFileSystem>();
    EXPECT_EQ(Sum("chain"), 2 * kDepth);
    EXPECT_EQ(Search("chain", 2), (std::vector<std::string>{"1 [Root Files] 0", "2 level " + std::to_string(2 * kDepth),
                                                             "3 " + tree.Path("chain/") + "合計 " + std::to_string(2 * kDepth)}));
    setrlimit(RLIMIT_NOFILE, &saved);
}

TEST_F(PosixWalkTest, ADirectoryWhosePathIsLongerThanPathMaxIsOpenedAndSearched)
{
    const std::string deep = tree.Chain("long", 24, std::string(200, 'd'), 3);
    ASSERT_GT(deep.size(), size_t{PATH_MAX});
    const int fd = OpenDirectoryByPath(deep);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(mkdirat(fd, "sub", 0755), 0);
    close(fd);

    EXPECT_LT(OpenDirectoryByPath(deep + "/missing"), 0);
    EXPECT_LT(OpenDirectoryByPath(deep + "/" + std::string(300, 'x')), 0) << "a name longer than NAME_MAX";
    for (int threads : {1, 0})
        EXPECT_EQ(Search(deep.substr(tree.Root().size() + 1), threads),
                  (std::vector<std::string>{"1 [Root Files] 3", "2 sub 0", "3 " + deep + "/合計 3"}))
            << threads << " threads";
}

TEST_F(PosixWalkTest, EveryOneOfFortyThousandSubdirectoriesGetsItsRow)
{
    constexpr int kCount = 40000;
    const TempTree memory(nullptr, fakes::MemoryTempDirectory());
    memory.Dir("wide");
    const int fd = open(memory.Path("wide").c_str(), O_RDONLY | O_DIRECTORY);
    for (int i = 0; i < kCount; ++i) {
        const std::string name = std::to_string(i);
        ASSERT_EQ(mkdirat(fd, name.c_str(), 0755), 0);
    }
    close(fd);
    memory.File("wide/39999/f", 9);
    for (int threads : {1, 2}) {
        const std::vector<std::string> rows = fakes::SearchRows(table, fs, memory.Path("wide"), threads);
        ASSERT_EQ(rows.size(), kCount + 2u);
        EXPECT_EQ(rows.back(), std::to_string(kCount + 2) + " " + memory.Path("wide/") + "合計 9");
        EXPECT_EQ(table.Rows(), kCount + 3);
    }
}

TEST_F(PosixWalkTest, ParallelAndSerialSearchesAgreeOnALargeDirectory)
{
    tree.Dir("big");
    tree.Dir("big/sub");
    int64_t expected = 0;
    for (int i = 0; i < 3000; ++i) {
        tree.File("big/f" + std::to_string(i), i * 3);
        expected += i * 3;
    }
    const std::vector<std::string> serial = Search("big", 1);
    EXPECT_EQ(serial.front(), "1 [Root Files] " + std::to_string(expected));
    EXPECT_EQ(Search("big", 2), serial);
}


// Each level holds two directories: the one the file system lists first goes on to the next level, the
// other holds a 1-byte file. A walk that keeps a level open until all its subdirectories are opened holds
// one handle per level.
void MakeComb(int parentFd, int depth)
{
    int level = dup(parentFd);
    for (int i = 0; i < depth; ++i) {
        ASSERT_EQ(mkdirat(level, "a", 0755), 0);
        ASSERT_EQ(mkdirat(level, "b", 0755), 0);
        const std::vector<std::string> names = fakes::NamesIn(level);
        ASSERT_EQ(names.size(), 2u);
        const int side = openat(level, names[1].c_str(), O_RDONLY | O_DIRECTORY);
        const int file = openat(side, "f", O_WRONLY | O_CREAT, 0644);
        ASSERT_EQ(ftruncate(file, 1), 0);
        close(file);
        close(side);
        const int next = openat(level, names[0].c_str(), O_RDONLY | O_DIRECTORY);
        close(level);
        level = next;
    }
    close(level);
}

// Combs and a chain far deeper than the handles allowed: a handle lost to the limit would leave a subtree
// out, differently from run to run. Each level holds one byte, and costs at most this many names opened again.
constexpr size_t kRetracedPerLevel = 2;
TEST_F(PosixWalkTest, ShapesDeeperThanTheOpenFileLimitAreMeasuredExactlyInEveryMode)
{
    const std::vector<std::pair<std::string, int>> combs{{"comb300", 300}, {"comb1000", 1000}, {"comb5000", 5000}};
    if (!ChildTree()) {
        const int top = open(tree.Root().c_str(), O_RDONLY | O_DIRECTORY);
        for (const auto& [name, depth] : combs) {
            ASSERT_EQ(mkdirat(top, name.c_str(), 0755), 0);
            const int comb = openat(top, name.c_str(), O_RDONLY | O_DIRECTORY);
            MakeComb(comb, depth);
            close(comb);
        }
        ASSERT_EQ(mkdirat(top, "chain", 0755), 0);
        const int chain = openat(top, "chain", O_RDONLY | O_DIRECTORY);
        MakeChain(chain, 5000, 1);
        close(chain);
        close(top);
        PassesInChild({.tree = tree.Root(), .fileLimit = 64});
        return;
    }
    // Each search reaches a directory whose handle went from close by, through ".." on the way back up or
    // down from a handle kept near: a way retraced from far above would cost the square of the depth.
    auto searchRetracingLittle = [&](const std::string& name, int levels, int threads) {
        const size_t before = fs->NamesRetraced();
        std::vector<std::string> rows = Search(name, threads);
        EXPECT_LE(fs->NamesRetraced() - before, kRetracedPerLevel * levels) << name << ", " << threads << " threads";
        return rows;
    };
    auto expectExactEverywhere = [&](const std::string& name, int bytes) {
        const std::vector<std::string> first = searchRetracingLittle(name, bytes, 1);
        ASSERT_EQ(first.size(), 3u + (name == "chain" ? 0 : 1)) << name;
        EXPECT_EQ(first.back(), std::to_string(first.size()) + " " + tree.Path(name + "/") + "合計 " + std::to_string(bytes));
        for (int threads : {1, 0})
            for (int repeat = 0; repeat < 2; ++repeat)
                EXPECT_EQ(searchRetracingLittle(name, bytes, threads), first) << name << ", " << threads << " threads";
    };
    for (const auto& [name, depth] : combs)
        expectExactEverywhere(name, depth);
    expectExactEverywhere("chain", 5000);
    EXPECT_EQ(Sum("comb1000"), 1000);
}

// A directory whose handle was given up is reopened by its way from the nearest handle still held, and only
// if what is found there is the directory met before.
TEST_F(PosixWalkTest, AReopenedDirectoryMustBeTheOneMetBefore)
{
    if (!ChildTree()) {
        tree.File("a/b1/c/f", 1);
        tree.File("a/b2/c/f", 1);
        tree.File("x/b2/impostor", 1);
        for (int i = 0; i < 40; ++i)
            tree.Dir("others/" + std::to_string(i));
        PassesInChild({.tree = tree.Root(), .fileLimit = 64});
        return;
    }
    const size_t descriptors = OpenDescriptors();
    ReadFailure failure = ReadFailure::None;
    std::unique_ptr<Directory> root = fs->Open(tree.Root(), failure);
    std::unique_ptr<Directory> a = root->OpenSubdirectory("a", failure);
    std::unique_ptr<Directory> b1 = a->OpenSubdirectory("b1", failure);
    std::unique_ptr<Directory> b2 = a->OpenSubdirectory("b2", failure);
    a.reset();
    // More directories than the handles allowed at a limit of 64 push out those of b1 and b2.
    std::unique_ptr<Directory> others = root->OpenSubdirectory("others", failure);
    std::vector<std::unique_ptr<Directory>> opened;
    for (int i = 0; i < 40; ++i)
        opened.push_back(others->OpenSubdirectory(std::to_string(i), failure));
    EXPECT_EQ(ListedNames(*b1), std::vector<std::string>{"c"});
    ASSERT_EQ(rename(tree.Path("a").c_str(), tree.Path("gone").c_str()), 0);
    ASSERT_EQ(rename(tree.Path("x").c_str(), tree.Path("a").c_str()), 0);
    EXPECT_EQ(ListedNames(*b2), std::vector<std::string>{});
    EXPECT_EQ(b2->ListingFailure(), ReadFailure::Vanished);
    root.reset();
    b1.reset();
    b2.reset();
    others.reset();
    opened.clear();
    EXPECT_EQ(OpenDescriptors(), descriptors) << "the impostor's handle is closed again";
}

// A bind mount of a directory below itself would have the walk meet that directory again and again: a
// directory met again on its own way down is a loop, not entered, wherever the way passed the mount.
TEST_F(PosixWalkTest, ABindMountOfAnAncestorIsALoopWhereverTheWayDownMeetsIt)
{
    if (!ChildTree()) {
        tree.File("L/f", 100);
        tree.File("L/a/g", 10);
        tree.Dir("L/a/b");
        tree.File("L/c/h", 1);
        tree.File("anc/x", 1000);
        tree.File("anc/L2/f", 5);
        tree.Dir("anc/L2/up");
        tree.File("nested/one", 1);
        for (int i = 1; i <= 4; ++i)
            tree.Dir("nested/m" + std::to_string(i));
        if (!PassesInChild({.tree = tree.Root(), .ownMounts = true}))
            GTEST_SKIP() << "SKIPPED, NOT TESTED: bind mounts need root (or CAP_SYS_ADMIN) and a mount namespace";
        return;
    }
    auto bind = [&](const std::string& from, const std::string& to, unsigned long flags = 0) {
        ASSERT_EQ(mount(tree.Path(from).c_str(), tree.Path(to).c_str(), nullptr, MS_BIND | flags, nullptr), 0)
            << std::strerror(errno);
    };
    bind("L", "L/a/b");
    bind("anc", "anc/L2/up");
    // Each nested recursive bind copies every mount before it: unchecked, the file would count 2^4 times.
    for (int i = 1; i <= 4; ++i)
        bind("nested", "nested/m" + std::to_string(i), MS_REC);
    const std::string loop = " 自身の上位ディレクトリです (ループ),";
    const std::string l = tree.Path("L");
    const std::string l2 = tree.Path("anc/L2");
    for (int threads : {1, 2}) {
        EXPECT_EQ(SearchMarked("L", threads),
                  (std::vector<std::string>{l + "/合計 111 unread 1: " + l + "/a/b" + loop, "[Root Files] 100",
                                            "a 10 unread 1: " + l + "/a/b" + loop, "c 1"}))
            << threads << " threads";
        // The mount is L, not on the way down from L/a: the loop closes at L/a/b/a, an ordinary directory.
        EXPECT_EQ(SearchMarked("L/a", threads),
                  (std::vector<std::string>{l + "/a/合計 111 unread 1: " + l + "/a/b/a" + loop, "[Root Files] 10",
                                            "b 101 unread 1: " + l + "/a/b/a" + loop}))
            << threads << " threads";
        EXPECT_EQ(SearchMarked("anc/L2", threads),
                  (std::vector<std::string>{l2 + "/合計 1005 unread 1: " + l2 + "/up/L2" + loop, "[Root Files] 5",
                                            "up 1000 unread 1: " + l2 + "/up/L2" + loop}))
            << threads << " threads";
        const std::vector<std::string> nested = Search("nested", threads);
        EXPECT_EQ(nested.back(), "6 " + tree.Path("nested/") + "合計 1");
    }
}

TEST(MountedTypesTest, EachDeviceIsNamedByTheTypeTheTableGivesItFirst)
{
    std::istringstream table(
        "22 1 0:21 / /proc rw,nosuid shared:12 - proc proc rw\n"
        "30 25 0:40 / /mnt/nas rw master:3 unbindable - nfs4 nas:/export rw,vers=4.2\n"
        "31 25 0:40 /sub /mnt/again rw - nfs4 nas:/export rw\n"
        "32 25 8:1 / / rw - ext4 /dev/sda1 rw\n"
        "broken line\n");
    const MountedTypes types = MountedTypesFromTable(table);
    EXPECT_EQ(types, (MountedTypes{{makedev(0, 21), "proc"}, {makedev(0, 40), "nfs4"}, {makedev(8, 1), "ext4"}}));
}

// Another file system below is named in its row's tooltip by the type the mounts give it.
TEST_F(PosixWalkTest, AnotherFileSystemBelowIsNamedByItsType)
{
    if (!ChildTree()) {
        tree.File("top/f", 10);
        tree.Dir("top/mnt");
        if (!PassesInChild({.tree = tree.Root(), .ownMounts = true}))
            GTEST_SKIP() << "SKIPPED, NOT TESTED: a tmpfs mount needs root (or CAP_SYS_ADMIN) and a mount namespace";
        return;
    }
    // Mounted in the child's own namespace, which takes it away with the child, whatever fails.
    ASSERT_EQ(mount("murako-test", tree.Path("top/mnt").c_str(), "tmpfs", 0, "size=64k"), 0) << std::strerror(errno);
    for (const int threads : {1, 2}) {
        ResultsTable table;
        InitGrid(table);
        SearchController::Options options;
        options.threads = threads;
        options.scope.oneFileSystem = true;
        SearchWithoutWindow(table, fs, tree.Path("top"), options);
        ASSERT_EQ(table.Facts(2).listedName, "mnt");
        ASSERT_EQ(table.Facts(2).otherFileSystems.count, 1) << threads;
        EXPECT_EQ(table.Facts(2).otherFileSystems.first.at(0).path, "tmpfs, " + tree.Path("top/mnt")) << threads;
    }
}

// A finished directory's handle climbs to its parent through "..", which leads wherever the directory is
// now: moved meanwhile, it leads elsewhere, and only the parent met before may be taken.
TEST_F(PosixWalkTest, AParentReachedAgainThroughDotDotMustBeTheOneMetBefore)
{
    if (!ChildTree()) {
        tree.Dir("a/c1");
        tree.File("a/c2/own", 1);
        tree.File("x/c2/impostor", 1);
        for (int i = 0; i < 40; ++i)
            tree.Dir("others/" + std::to_string(i));
        PassesInChild({.tree = tree.Root(), .fileLimit = 64});
        return;
    }
    ReadFailure failure = ReadFailure::None;
    std::unique_ptr<Directory> root = fs->Open(tree.Root(), failure);
    std::unique_ptr<Directory> a = root->OpenSubdirectory("a", failure);
    std::unique_ptr<Directory> c1 = a->OpenSubdirectory("c1", failure);
    std::string_view name;
    ASSERT_TRUE(c1->NextName(name)) << "c1's handle stays open while it is listed";
    // More directories than the handles allowed at a limit of 64 push out a's.
    std::unique_ptr<Directory> others = root->OpenSubdirectory("others", failure);
    std::vector<std::unique_ptr<Directory>> opened;
    for (int i = 0; i < 40; ++i)
        opened.push_back(others->OpenSubdirectory(std::to_string(i), failure));
    ASSERT_EQ(rename(tree.Path("a/c1").c_str(), tree.Path("x/c1").c_str()), 0);
    while (c1->NextName(name)) {
    }
    c1.reset();
    std::unique_ptr<Directory> c2 = a->OpenSubdirectory("c2", failure);
    ASSERT_NE(c2, nullptr);
    EXPECT_EQ(ListedNames(*c2), std::vector<std::string>{"own"});
}

// A name can change kind between its listing and the query of its length or the opening of it: what it
// has become is not counted, and the reason tells what happened. A path given to be searched was never
// listed, so it was not removed or replaced.
TEST_F(PosixWalkTest, ANameThatChangesKindAfterItsListingCountsNothingOfWhatItBecame)
{
    tree.File("t/d/inside", 1);
    tree.File("t/file", 1);
    ASSERT_EQ(symlink("nowhere", tree.Path("t/x").c_str()), 0);
    ReadFailure failure = ReadFailure::None;
    std::unique_ptr<Directory> t = fs->Open(tree.Path("t"), failure);
    ASSERT_NE(t, nullptr);
    std::string_view name;
    while (t->NextName(name) && name != "x") {
    }
    ASSERT_EQ(name, "x");
    EXPECT_EQ(t->Kind(), EntryKind::NotDirectory);
    ASSERT_EQ(renameat2(AT_FDCWD, tree.Path("t/x").c_str(), AT_FDCWD, tree.Path("t/d").c_str(), RENAME_EXCHANGE), 0);
    EXPECT_EQ(t->Facts(failure), std::nullopt) << "x is a directory now, not the link listed";
    EXPECT_EQ(failure, ReadFailure::Vanished);
    failure = ReadFailure::None;
    EXPECT_EQ(t->FactsOf("x", failure), std::nullopt);
    EXPECT_EQ(failure, ReadFailure::Vanished);
    EXPECT_EQ(t->OpenSubdirectory("d", failure), nullptr) << "d is a link now, never followed";
    EXPECT_EQ(failure, ReadFailure::ReplacedByLink);
    EXPECT_EQ(t->OpenSubdirectory("removed", failure), nullptr);
    EXPECT_EQ(failure, ReadFailure::Vanished);

    EXPECT_EQ(fs->Open(tree.Path("never"), failure), nullptr);
    EXPECT_EQ(failure, ReadFailure::NotFound);
    EXPECT_EQ(fs->Open(tree.Path("t/file"), failure), nullptr);
    EXPECT_EQ(failure, ReadFailure::NotDirectory);
}

// Freeing the record of a deep directory frees its ancestors' with it: one after the other, never by a
// recursion as deep as the tree, which would overflow a small stack. Every thread here has 128 KB.
TEST_F(PosixWalkTest, DeepTreesAreLetGoOfOnSmallStacks)
{
    constexpr int kDepth = 20000;
#if defined(__SANITIZE_THREAD__)
    // The thread sanitizer's own calls, as in loading the task scheduler on the run's thread, take more than
    // 128 KB; a walk that went one call deeper per level would still need several times this.
    constexpr size_t kStack = 1024 * 1024;
#else
    constexpr size_t kStack = 128 * 1024;
#endif
    if (!ChildTree()) {
        const TempTree memory(nullptr, fakes::MemoryTempDirectory());
        for (const char* name : {"chain", "comb"}) {
            memory.Dir(name);
            const int fd = open(memory.Path(name).c_str(), O_RDONLY | O_DIRECTORY);
            if (name == std::string("chain"))
                MakeChain(fd, kDepth, 1);
            else
                MakeComb(fd, 2000);
            close(fd);
        }
        PassesInChild({.tree = memory.Root(), .stackLimit = kStack});
        return;
    }
    const tbb::global_control stack(tbb::global_control::thread_stack_size, kStack);
    {
        ReadFailure failure = ReadFailure::None;
        std::unique_ptr<Directory> level = fs->Open(tree.Path("chain"), failure);
        for (int i = 0; i < kDepth && level; ++i)
            level = level->OpenSubdirectory("level", failure);
        ASSERT_NE(level, nullptr);
    }  // the deepest goes, and with it the records of every level above
    for (int repeat = 0; repeat < 3; ++repeat) {
        EXPECT_EQ(Search("chain", 0).back(), "3 " + tree.Path("chain/") + "合計 " + std::to_string(kDepth));
        EXPECT_EQ(Search("comb", 0).back(), "4 " + tree.Path("comb/") + "合計 2000");
    }
}

// Each walking thread holds a few handles besides those the walk keeps: at a small limit the walk runs
// fewer threads rather than lose directories to the limit, and below what one thread needs it refuses.
TEST_F(PosixWalkTest, AtASmallFileLimitEveryDirectoryIsWalkedOrTheSearchIsRefusedWhole)
{
    if (!ChildTree()) {
        for (int i = 0; i < 12; ++i)
            for (int j = 0; j < 12; ++j)
                for (int k = 0; k < 6; ++k)
                    tree.File(std::to_string(i) + "/" + std::to_string(j) + "/" + std::to_string(k) + "/f", 1);
        PassesInChild({.tree = tree.Root(), .fileLimit = 12});
        PassesInChild({.tree = tree.Root(), .fileLimit = 10});
        return;
    }
    struct rlimit limit;
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &limit), 0);
    const std::string root = tree.Path("");
    if (limit.rlim_cur == 10) {
        const std::string refused = " unread 1: " + root + " 開いているファイルが多すぎます,";
        EXPECT_EQ(SearchMarked("", 0), (std::vector<std::string>{root + "合計 0" + refused, "[Root Files] 0" + refused}));
        return;
    }
    std::vector<std::string> expected{root + "合計 864", "[Root Files] 0"};
    for (int i = 0; i < 12; ++i)
        expected.push_back(std::to_string(i) + " 72");
    std::sort(expected.begin(), expected.end());
    for (int repeat = 0; repeat < 10; ++repeat)
        EXPECT_EQ(SearchMarked("", 0), expected) << "run " << repeat;
}

// The lengths of a large directory's files are queried aside on other threads in a threaded walk; a file
// removed after its listing fails there as it fails inline.
TEST_F(PosixWalkTest, AFileRemovedDuringTheSearchOfALargeDirectoryIsToldInEveryMode)
{
    int64_t total = 0;
    for (int i = 0; i < 2000; ++i) {
        tree.File("big/f" + std::to_string(i), i);
        total += i;
    }
    // Listed last, its length is queried aside.
    const std::string victim = tree.Path("big/" + fakes::ListingOrder(tree.Path("big")).back());
    struct stat status;
    ASSERT_EQ(stat(victim.c_str(), &status), 0);
    const std::string expected = std::to_string(total - status.st_size) + " unread 1: " + tree.Path("big/") +
                                 " 検索中に削除または置き換えられました,";
    for (int threads : {1, 2}) {
        fs = std::make_shared<PosixFileSystem>();
        MarkedRows rows;
        SearchController::Options options;
        options.threads = threads;
        rows.Watch(options, table);
        ASSERT_EQ(truncate(victim.c_str(), 0), 0);
        ASSERT_EQ(truncate(victim.c_str(), status.st_size), 0);
        SearchWithoutWindow(table, std::make_shared<RemovingFileSystem>(fs, victim), tree.Path("big"), options);
        EXPECT_EQ(rows.Sorted(), (std::vector<std::string>{tree.Path("big/") + "合計 " + expected, "[Root Files] " + expected}))
            << threads << " threads";
        const int file = open(victim.c_str(), O_WRONLY | O_CREAT, 0644);
        ASSERT_EQ(ftruncate(file, status.st_size), 0);
        close(file);
    }
}

// Searches finished or cancelled at any point, and a directory reopened far below its nearest open
// ancestor, leave no descriptor open.
TEST_F(PosixWalkTest, NoDescriptorOutlivesASearchOrAReopen)
{
    constexpr int kLevels = 30;
    const std::string component(200, 'n');
    if (!ChildTree()) {
        tree.File("t/a/b/f", 1);
        tree.File("t/a/c/f", 2);
        tree.File("t/d/f", 4);
        tree.File("t/g", 8);
        tree.Chain("deep", kLevels, component, 1);
        for (int i = 0; i < 40; ++i)
            tree.Dir("others/" + std::to_string(i));
        tree.Dir("comb");
        const int comb = open(tree.Path("comb").c_str(), O_RDONLY | O_DIRECTORY);
        MakeComb(comb, 100);
        close(comb);
        PassesInChild({.tree = tree.Root(), .fileLimit = 64});
        return;
    }
    const size_t before = OpenDescriptors();
    for (int threads : {1, 0}) {
        EXPECT_EQ(Search("t", threads).back(), "4 " + tree.Path("t/") + "合計 15");
        // Deeper than the handles allowed, so that finished directories climb to their parents.
        EXPECT_EQ(Search("comb", threads).back(), "4 " + tree.Path("comb/") + "合計 100");
        EXPECT_EQ(OpenDescriptors(), before) << "after a finished search, " << threads << " threads";
        std::atomic<bool> cancelled = true;
        for (int at = 1; cancelled; ++at) {
            fakes::ScriptedHost host;
            fakes::RecordingPresentation presentation;
            fakes::FixedChoices choices;
            choices.path = tree.Path("t");
            SearchController::Options options;
            options.threads = threads;
            SearchController run(table, presentation, choices, fs, host, options);
            cancelled = false;
            host.atYield[at] = [&] {
                cancelled = true;
                run.Command1_Click();
            };
            run.Command1_Click();
            EXPECT_EQ(OpenDescriptors(), before) << "cancelled at yield " << at << ", " << threads << " threads";
        }
    }
    {
        ReadFailure failure = ReadFailure::None;
        std::unique_ptr<Directory> top = fs->Open(tree.Path("deep"), failure);
        std::unique_ptr<Directory> deepest = top->OpenSubdirectory(component, failure);
        for (int i = 1; i < kLevels && deepest; ++i)
            deepest = deepest->OpenSubdirectory(component, failure);
        ASSERT_NE(deepest, nullptr);
        // More directories than the handles allowed push out the deepest's: it is reopened from the top,
        // 6,000 bytes of path in two pieces.
        std::unique_ptr<Directory> others = fs->Open(tree.Path("others"), failure);
        std::vector<std::unique_ptr<Directory>> opened;
        for (int i = 0; i < 40; ++i)
            opened.push_back(others->OpenSubdirectory(std::to_string(i), failure));
        EXPECT_EQ(ListedNames(*deepest), std::vector<std::string>{"f"});
    }
    EXPECT_EQ(OpenDescriptors(), before) << "after a reopen";
}

}  // namespace
}  // namespace murako
