// Runs one search over DIR with the program's own search code and no window, and prints its rows in bytes.
// With --repeat N it searches N times in a row, as a user pressing 検索 again would, and prints each
// search's time with the resident memory after it, then the peak.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "headless_run.h"
#include "posix_file_system.h"
#include "process_memory.h"

int main(int argc, char** argv)
{
    int threads = 0;
    int repeat = 1;
    std::string dir;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--threads" && i + 1 < argc)
            threads = std::atoi(argv[++i]);
        else if (arg == "--repeat" && i + 1 < argc)
            repeat = std::max(1, std::atoi(argv[++i]));
        else
            dir = arg;
    }
    if (dir.empty()) {
        std::fprintf(stderr, "usage: murako-bench [--threads N] [--repeat N] DIR\n");
        return 2;
    }

    int64_t totalBytes = 0;
    int32_t rows = 0;
    std::string out;
    double seconds = 0;
    murako::SearchController::Options options;
    options.threads = threads;
    options.rowWritten = [&](int32_t row, const std::string& name, int64_t bytes) {
        out += std::to_string(row) + '\t' + name + '\t' + std::to_string(bytes) + '\n';
        totalBytes = bytes;
        rows = row;
    };
    const auto fileSystem = std::make_shared<murako::PosixFileSystem>();
    for (int search = 1; search <= repeat; ++search) {
        out.clear();
        murako::ResultsTable grid;
        murako::InitGrid(grid);
        const auto start = std::chrono::steady_clock::now();
        murako::SearchWithoutWindow(grid, fileSystem, dir, options);
        seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (repeat > 1)
            std::printf("search=%d seconds=%.3f rss_kb=%ld\n", search, seconds, ProcessMemoryKb("VmRSS"));
    }

    std::fputs(out.c_str(), stdout);
    if (repeat > 1)
        std::printf("peak_rss_kb=%ld\n", ProcessMemoryKb("VmHWM"));
    std::printf("total_bytes=%lld entries=%d seconds=%.3f\n", static_cast<long long>(totalBytes), rows, seconds);
    return 0;
}
