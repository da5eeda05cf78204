// Runs one search over DIR with the program's own search code and no window, and prints its rows in bytes,
// then the total, then how many places could not be read and the first of them, and last the walk's thread
// count at its end, at its start and the most at once.
#include <charconv>
#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "headless_run.h"
#include "file_system.h"
#include "row_texts.h"
#include "text.h"
#include "walker.h"

namespace {

int Usage(const std::string& problem)
{
    std::fprintf(stderr,
                 "murako-bench: %s\nusage: murako-bench [--threads N] DIR   (N from 1 to %d)\n"
                 "       murako-bench --version\n",
                 problem.c_str(), murako::kMostWalkThreads);
    return 2;
}

std::optional<int> ThreadCount(std::string_view text)
{
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < 1 || value > murako::kMostWalkThreads)
        return std::nullopt;
    return value;
}

}  // namespace

int main(int argc, char** argv)
{
    const murako::WalkProcessSettings walkSettings;
    int threads = 0;
    std::string dir;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--version") {
            std::printf("murako-bench %s\n", MURAKO_VERSION);
            return 0;
        }
        if (arg == "--threads") {
            if (i + 1 >= argc)
                return Usage("--threads needs a number");
            const std::optional<int> count = ThreadCount(argv[++i]);
            if (!count)
                return Usage(std::string("not a thread count: ") + argv[i]);
            threads = *count;
        } else if (arg.size() > 1 && arg.front() == '-') {
            return Usage("unknown option " + arg);
        } else if (!dir.empty()) {
            return Usage("one directory only");
        } else {
            dir = arg;
        }
    }
    if (dir.empty())
        return Usage("no directory given");
    // "Z:" is the drive's current directory on Windows, which the search would otherwise take for its root.
    dir = murako::PathFromDriveCurrentDirectory(dir);

    // A base that cannot be searched at all fails the run rather than giving a total of 0.
    auto fileSystem = murako::MakeLocalFileSystem();
    murako::ReadFailure failure = murako::ReadFailure::None;
    if (!fileSystem->Open(dir, failure)) {
        std::fprintf(stderr, "murako-bench: %s: %s\n", dir.c_str(), murako::FailureText(failure).c_str());
        return 1;
    }

    murako::ResultsTable table;
    murako::InitGrid(table);
    int64_t totalBytes = 0;
    int32_t rows = 0;
    std::string out;
    murako::SearchController::Options options;
    options.threads = threads;
    options.rowWritten = [&](int32_t row, const std::string& name, int64_t bytes) {
        out += std::to_string(row) + '\t' + name + '\t' + std::to_string(bytes) + '\n';
        totalBytes = bytes;
        rows = row;
    };
    murako::WalkThreadCounts counts;
    options.walkThreads = [&](const murako::WalkThreadCounts& chosen) { counts = chosen; };
    const auto start = std::chrono::steady_clock::now();
    murako::SearchWithoutWindow(table, fileSystem, dir, options);
    const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;

    std::fputs(out.c_str(), stdout);
    std::printf("total_bytes=%lld entries=%d seconds=%.3f\n", static_cast<long long>(totalBytes), rows,
                seconds.count());
    // The total row comes last and carries every unread place.
    const murako::UnreadPlaces& unread = table.Facts(table.Rows() - 1).unread;
    std::printf("unread=%lld\n", static_cast<long long>(unread.count));
    for (const murako::UnreadPlaces::Place& place : unread.first)
        std::printf("unread: %s (%s)\n", place.path.c_str(), murako::FailureText(place.failure).c_str());
    // The run has joined its walking thread by now, which set the counts.
    std::printf("threads=%d first=%d most=%d\n", counts.last, counts.first, counts.most);
    return 0;
}
