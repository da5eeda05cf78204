// What a walk holds for a wide directory: its own program, as it counts every allocation the program makes.
#include <gtest/gtest.h>

#include <malloc.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <new>

#include "rows_in_order.h"
#include "walk_pace.h"
#include "walker.h"

namespace {

std::atomic<int64_t> liveBytes{0};
std::atomic<int64_t> peakBytes{0};

void Counted(void* block)
{
    const int64_t live = liveBytes.fetch_add(static_cast<int64_t>(malloc_usable_size(block))) +
                         static_cast<int64_t>(malloc_usable_size(block));
    for (int64_t peak = peakBytes.load(); live > peak && !peakBytes.compare_exchange_weak(peak, live);) {
    }
}

}  // namespace

void* operator new(size_t size)
{
    void* block = std::malloc(size ? size : 1);
    if (!block)
        throw std::bad_alloc();
    Counted(block);
    return block;
}

// GCC takes free here for a mismatch: the new above allocates with malloc.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* block) noexcept
{
    if (block)
        liveBytes.fetch_sub(static_cast<int64_t>(malloc_usable_size(block)));
    std::free(block);
}

void operator delete(void* block, size_t) noexcept { operator delete(block); }
#pragma GCC diagnostic pop

namespace murako {
namespace {

// A directory of many subdirectories, each holding one empty subdirectory, made up as it is listed; counts
// how many of its directories are open at once.
class WideDirectory : public Directory {
public:
    WideDirectory(size_t children, int level, std::atomic<int>& open, std::atomic<int>& mostOpen)
        : children_(level == 0 ? children : level == 1 ? 1 : 0), level_(level), open_(open), mostOpen_(mostOpen)
    {
        const int now = ++open_;
        for (int most = mostOpen_.load(); now > most && !mostOpen_.compare_exchange_weak(most, now);) {
        }
    }
    ~WideDirectory() override { --open_; }

    bool NextName(std::string_view& name) override
    {
        if (listed_ == children_)
            return false;
        std::snprintf(name_, sizeof name_, "d%07zu", listed_++);
        name = name_;
        return true;
    }
    ReadFailure ListingFailure() const override { return ReadFailure::None; }
    EntryKind Kind() override { return EntryKind::Directory; }
    std::optional<FileFacts> Facts(ReadFailure&) override { return std::nullopt; }
    std::optional<FileFacts> FactsOf(std::string_view, ReadFailure&) override { return std::nullopt; }
    std::unique_ptr<Directory> OpenSubdirectory(std::string_view, ReadFailure&) override
    {
        return std::make_unique<WideDirectory>(0, level_ + 1, open_, mostOpen_);
    }

private:
    size_t children_;
    int level_;
    size_t listed_ = 0;
    char name_[16] = {};
    std::atomic<int>& open_;
    std::atomic<int>& mostOpen_;
};

class QuietHost : public RunHost {
public:
    void PostToUi(std::function<void()> apply) override { apply(); }
};

class WalkMemoryTest : public ::testing::TestWithParam<bool> {};

// A finished subdirectory leaves behind no more than its name, which the rows share, and its size: what its
// walk held, its handle and its record, is let go as it is done, however many siblings are still to come.
TEST_P(WalkMemoryTest, HoldsNothingOfFinishedSiblings)
{
    constexpr size_t kChildren = 200'000;
    QuietHost host;
    const std::atomic<bool> searching{true};
    WalkPace pace(0, 128);
    WalkContext context{host, searching};
    context.parallel = GetParam();
    context.pace = GetParam() ? &pace : nullptr;
    const std::string basePath = "/wide/";
    const std::function<void(RunEvent)> post = [](RunEvent) {};
    RowsInOrder rows(basePath, '/', post);
    // Threaded, rows finished ahead of an earlier one wait in the rows' record, as many as the walk runs ahead
    // on a busy machine; serially none waits, and what the rows hold is the names they share.
    if (!GetParam())
        context.rows = &rows;
    std::atomic<int> open{0};
    std::atomic<int> mostOpen{0};
    auto base = std::make_unique<WideDirectory>(kChildren, 0, open, mostOpen);
    const int64_t before = liveBytes.load();
    peakBytes = before;

    EXPECT_EQ(SumDirectory(std::move(base), context), 0);

    EXPECT_EQ(open.load(), 0);
    EXPECT_LE(mostOpen.load(), 2 + 3 * pace.Counts().most);
    // A name of 8 bytes, its end and its size come to 24 bytes; room for a listing's growth on top.
    EXPECT_LE((peakBytes.load() - before) / static_cast<int64_t>(kChildren), 40);
}

INSTANTIATE_TEST_SUITE_P(Walks, WalkMemoryTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Threaded" : "Serial"; });

}  // namespace
}  // namespace murako
