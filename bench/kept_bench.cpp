// What the kept tree costs as it changes: a move in a large tree, with the totals and the table shown again,
// and the memory of many searches again of one large directory. Built trees, not the disk, so that only the
// tree is measured.
//   murako-kept-bench [entries of the large tree, 2000000] [files of the directory searched again, 100000]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "headless_run.h"
#include "posix_file_system.h"
#include "process_memory.h"

using namespace murako;

namespace {

// A base of directories "d0", "d1"... of filesPerDirectory files each, lengths of every size.
std::unique_ptr<KeptTree> BuiltTree(const std::string& basePath, uint32_t directories, uint32_t filesPerDirectory)
{
    auto tree = std::make_unique<KeptTree>(basePath);
    KeptDirectory* base = tree->AddDirectory(nullptr, 0, {}, {});
    base = &tree->SetListing(*base, {}, directories, 4096);
    KeptFilesWriter files;
    for (uint32_t d = 0; d < directories; ++d) {
        files.Clear();
        for (uint32_t f = 0; f < filesPerDirectory; ++f) {
            const int64_t length = (static_cast<int64_t>(f) * 7919 + d * 104729) % 5000000;
            files.Add("file" + std::to_string(f) + ".dat", FileFacts{length, (length + 4095) / 4096 * 4096});
        }
        (void)tree->SetListing(*tree->AddDirectory(base, d, "d" + std::to_string(d), {}), files, 0, 4096);
    }
    tree->Complete();
    return tree;
}

double Milliseconds(std::chrono::steady_clock::duration elapsed)
{
    return std::chrono::duration<double, std::milli>(elapsed).count();
}

// Moves files and directories away from a tree of about entries entries, the base's rows shown.
void TimeMoves(long entries)
{
    const uint32_t directories = 2000;
    const auto filesPerDirectory = static_cast<uint32_t>(std::max(1L, entries / directories - 1));
    ResultsTable table;
    InitGrid(table);
    NoPresentation presentation;
    PathChoices choices;
    QueueHost host;
    SearchController controller(table, presentation, choices, std::make_shared<PosixFileSystem>(), host);
    controller.ShowImported(BuiltTree("/built", directories, filesPerDirectory), "built");
    const KeptTree& tree = *controller.Kept();
    std::vector<double> took;
    for (uint32_t move = 0; move < 40; ++move) {
        const KeptDirectory* dir = tree.Base()->Children()[move * 37 % directories];
        const KeptPlace place = move % 4 == 3 ? KeptPlace{dir, std::nullopt} : KeptPlace{dir, move * 13 % filesPerDirectory};
        const auto start = std::chrono::steady_clock::now();
        controller.MovedAway(place);
        took.push_back(Milliseconds(std::chrono::steady_clock::now() - start));
    }
    std::sort(took.begin(), took.end());
    std::printf("move entries=%lld rows=%d median_ms=%.3f max_ms=%.3f\n", static_cast<long long>(tree.Entries()),
                table.Rows(), took[took.size() / 2], took.back());
}

// Searches one directory of files again and again: the memory after the first, and whenever it grew.
void MemoryOfSearchesAgain(uint32_t files)
{
    std::unique_ptr<KeptTree> tree = BuiltTree("/built", 100, 100);
    long afterFirst = 0;
    long highest = 0;
    int highestAt = 0;
    for (int again = 1; again <= 50; ++again) {
        const KeptDirectory& replaced = *tree->Base()->Children()[42];
        tree->Replace(replaced, BuiltTree("/built/d42", 1, files));
        const long now = ProcessMemoryKb("VmRSS");
        if (again == 1)
            afterFirst = now;
        if (now > highest) {
            highest = now;
            highestAt = again;
        }
    }
    const long afterLast = ProcessMemoryKb("VmRSS");
    std::printf("again files=%u rss_after_first_kb=%ld highest_kb=%ld (after %d) rss_after_50_kb=%ld change=%+.1f%% "
                "tree_bytes=%zu\n",
                files, afterFirst, highest, highestAt, afterLast,
                100.0 * static_cast<double>(afterLast - afterFirst) / static_cast<double>(afterFirst), tree->Bytes());
}

}  // namespace

int main(int argc, char** argv)
{
    const long entries = argc > 1 ? std::atol(argv[1]) : 2000000;
    const auto files = static_cast<uint32_t>(argc > 2 ? std::atol(argv[2]) : 100000);
    MemoryOfSearchesAgain(files);
    TimeMoves(entries);
    return 0;
}
