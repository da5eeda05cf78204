// Runs one search over DIR with the program's own search code and no window, and prints its rows in bytes.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "posix_file_system.h"
#include "headless_run.h"


int main(int argc, char** argv)
{
    int threads = 0;
    std::string dir;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--threads" && i + 1 < argc)
            threads = std::atoi(argv[++i]);
        else
            dir = arg;
    }
    if (dir.empty()) {
        std::fprintf(stderr, "usage: murako-bench [--threads N] DIR\n");
        return 2;
    }

    murako::ResultsTable grid;
    murako::InitGrid(grid);
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
    const auto start = std::chrono::steady_clock::now();
    murako::SearchWithoutWindow(grid, std::make_shared<murako::PosixFileSystem>(), dir, options);
    const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;

    std::fputs(out.c_str(), stdout);
    std::printf("total_bytes=%lld entries=%d seconds=%.3f\n", static_cast<long long>(totalBytes), rows,
                seconds.count());
    return 0;
}
