// Modification times in the kept tree: a directory's own, the newest below it as moves change it, times far
// from 1970 either way, and the record of a directory with nothing in it.
#include <gtest/gtest.h>

#include <cstdio>
#include <limits>
#include <memory>
#include <string>

#include "kept_tree.h"

namespace murako {
namespace {

FileFacts File(ModifiedTime modified)
{
    return FileFacts{100, 4096, 0, 1, true, modified};
}

// base (100): files at 50 and 300; "old" (10), empty; "new" (20) holding "deeper" (30) with a file at 5000.
struct AgedTree {
    KeptTree tree{"/base"};
    const KeptDirectory* base;
    const KeptDirectory* older;
    const KeptDirectory* newer;

    AgedTree()
    {
        KeptFilesWriter files;
        files.Add("early", File(50));
        files.Add("later", File(300));
        KeptDirectory* top = &tree.SetListing(*tree.AddDirectory(nullptr, 0, {}, {}, 100), files, 2, 4096);
        files.Clear();
        (void)tree.SetListing(*tree.AddDirectory(top, 0, "old", {}, 10), files, 0, 4096);
        KeptDirectory* fresh = &tree.SetListing(*tree.AddDirectory(top, 1, "new", {}, 20), files, 1, 4096);
        files.Add("newest", File(5000));
        (void)tree.SetListing(*tree.AddDirectory(fresh, 0, "deeper", {}, 30), files, 0, 4096);
        tree.Complete();
        base = tree.Base();
        older = base->Child("old");
        newer = base->Child("new");
    }
};

// A tree summed as a walk sums it, each directory as it finishes: a move of a file of several links sums the
// whole tree again, and the newest change follows the move there too.
TEST(KeptAges, TheNewestFollowsAMoveThatCountsTheFilesOfSeveralLinksAgain)
{
    KeptTree tree{"/base"};
    KeptFilesWriter files;
    FileFacts linked = File(9000);
    linked.inode = 7;
    linked.links = 2;
    files.Add("linked", linked);
    files.Add("plain", File(300));
    KeptDirectory* top = &tree.SetListing(*tree.AddDirectory(nullptr, 0, {}, {}, 100), files, 1, 4096);
    files.Clear();
    linked.modified = 50;
    files.Add("other link", linked);
    tree.Finished(tree.SetListing(*tree.AddDirectory(top, 0, "below", {}, 20), files, 0, 4096));
    tree.Finished(*top);
    tree.CompleteWalk();
    const KeptDirectory& base = *tree.Base();
    EXPECT_EQ(base.Newest(), 9000);
    EXPECT_EQ(base.Size(SizeMeasure::OnDisk), 4 * 4096) << "the other link below is counted where first met";

    tree.MarkFileMoved(base, 0);
    EXPECT_EQ(base.Newest(), 300);
    EXPECT_EQ(base.Size(SizeMeasure::OnDisk), 4 * 4096) << "the other link now counts where it lies";
}

TEST(KeptAges, TheNewestIsCarriedUpFromEveryLevelAndFollowsAMove)
{
    AgedTree aged;
    EXPECT_EQ(aged.older->Modified(), 10);
    EXPECT_EQ(aged.older->Newest(), 10) << "an empty directory's newest is its own";
    EXPECT_EQ(aged.newer->Modified(), 20);
    EXPECT_EQ(aged.newer->Newest(), 5000) << "two levels down";
    EXPECT_EQ(aged.base->Newest(), 5000);
    EXPECT_EQ(NewestOwnFile(*aged.base), 300) << "the base's own files alone";

    aged.tree.MarkFileMoved(*aged.newer->Child("deeper"), 0);
    EXPECT_EQ(aged.newer->Newest(), 30) << "a file moved away changes nothing any more";
    EXPECT_EQ(aged.base->Newest(), 300);
    aged.tree.MarkMoved(*aged.newer);
    EXPECT_EQ(aged.base->Newest(), 300);
    aged.tree.MarkFileMoved(*aged.base, 1);
    EXPECT_EQ(NewestOwnFile(*aged.base), 50);
    EXPECT_EQ(aged.base->Newest(), 100) << "its own time outlasts its files'";
}

// What a directory's time reads back as: exact within 17,000 years of 1970, the nearest beyond, never wrapped.
struct HeldTime {
    ModifiedTime given;
    ModifiedTime read;
};

class KeptDirectoryTime : public testing::TestWithParam<HeldTime> {};

TEST_P(KeptDirectoryTime, ReadsBackExactlyOrAtTheNearestItCanHold)
{
    for (const bool holding : {false, true}) {
        KeptTree tree("/t");
        KeptFilesWriter files;
        if (holding)
            files.Add("f", File(kTimeUnknown));
        const KeptDirectory& dir = tree.SetListing(*tree.AddDirectory(nullptr, 0, {}, {}, GetParam().given), files,
                                                   0, 4096);
        tree.Complete();
        EXPECT_EQ(dir.Modified(), GetParam().read) << (holding ? "holding a file" : "empty");
        EXPECT_EQ(dir.Newest(), GetParam().read) << (holding ? "holding a file" : "empty");
        EXPECT_EQ(dir.Size(SizeMeasure::OnDisk), holding ? 8192 : 4096);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Times, KeptDirectoryTime,
    testing::Values(HeldTime{0, 0}, HeldTime{-1, -1}, HeldTime{4'102'444'800, 4'102'444'800},
                    HeldTime{-2'500'000'000, -2'500'000'000}, HeldTime{kTimeUnknown, kTimeUnknown},
                    HeldTime{(ModifiedTime{1} << 39) - 1, (ModifiedTime{1} << 39) - 1},
                    HeldTime{std::numeric_limits<int64_t>::max(), (ModifiedTime{1} << 39) - 1},
                    HeldTime{kTimeUnknown + 1, -(ModifiedTime{1} << 39) + 1}));

// Each listed by the thread that added it, as a walk does, or all added before any is listed, as a directory
// moves then: either way the parent holds each, found by name, with its time and size.
class EmptyDirectories : public testing::TestWithParam<bool> {};

TEST_P(EmptyDirectories, KeepASmallRecordAndGrowWhenTheyHoldAnything)
{
    constexpr int kCount = 20000;
    const bool addedFirst = GetParam();
    KeptTree tree("/wide");
    KeptDirectory* base = &tree.SetListing(*tree.AddDirectory(nullptr, 0, {}, {}), {}, kCount, 4096);
    std::vector<KeptDirectory*> added;
    auto name = [](int i) {
        char text[16];
        std::snprintf(text, sizeof text, "d%07d", i);
        return std::string(text);
    };
    for (int i = 0; i < kCount; ++i) {
        added.push_back(tree.AddDirectory(base, static_cast<size_t>(i), name(i), {}, i));
        KeptFilesWriter files;
        if (i % 1000 == 0)
            files.Add("one", File(-i));
        if (!addedFirst)
            (void)tree.SetListing(*added.back(), files, 0, 4096);
    }
    for (int i = 0; addedFirst && i < kCount; ++i) {
        KeptFilesWriter files;
        if (i % 1000 == 0)
            files.Add("one", File(-i));
        (void)tree.SetListing(*added[static_cast<size_t>(i)], files, 0, 4096);
    }
    tree.Complete();
    ASSERT_EQ(tree.Base()->ChildCount(), static_cast<uint32_t>(kCount));
    for (int i = 0; i < kCount; ++i) {
        // Each in its slot; by name, a lookup along all its siblings, only now and then.
        const KeptDirectory* dir = tree.Base()->Children()[i];
        ASSERT_NE(dir, nullptr) << name(i);
        if (i % 997 == 0) {
            EXPECT_EQ(tree.Find("/wide/" + name(i), '/'), dir) << name(i);
        }
        EXPECT_EQ(dir->Name(), name(i));
        EXPECT_EQ(dir->Modified(), i);
        EXPECT_EQ(dir->FileCount(), i % 1000 == 0 ? 1u : 0u);
        EXPECT_EQ(dir->Size(SizeMeasure::OnDisk), i % 1000 == 0 ? 8192 : 4096);
    }
    EXPECT_EQ(tree.Base()->Entries(), kCount + kCount / 1000);
    EXPECT_EQ(tree.Base()->Newest(), kCount - 1);
    if (!addedFirst) {
        EXPECT_LE(tree.Bytes(), size_t{64} * kCount) << "an empty directory in a record without contents";
    }
}

INSTANTIATE_TEST_SUITE_P(Orders, EmptyDirectories, testing::Bool());

}  // namespace
}  // namespace murako
