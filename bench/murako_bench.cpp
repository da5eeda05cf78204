// Runs one search over DIR with the program's own search code and no window, and prints its rows in bytes.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "posix_file_system.h"
#include "queue_host.h"
#include "search_run.h"

namespace {

class NoPresentation : public murako::SearchPresentation {
public:
    void SetSearchCaption(const std::string&) override {}
    void SetExitVisible(bool) override {}
    void SetStatusText(const std::string&) override {}
    void SetBusyPointer(bool) override {}
    void SetDivisorEnabled(bool) override {}
    void SetUnitEnabled(bool) override {}
    void SetDriveListEnabled(bool) override {}
    void SetDirListEnabled(bool) override {}
    void Refresh() override {}
};

class FixedChoices : public murako::SearchChoices {
public:
    explicit FixedChoices(std::string path) : path_(std::move(path)) {}
    std::string HighlightedPath() override { return path_; }
    bool DivisorIs1024() override { return true; }
    bool UnitIsKb() override { return true; }

private:
    std::string path_;
};

}  // namespace

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
    NoPresentation presentation;
    FixedChoices choices(dir);
    murako::PosixFileSystem fileSystem;
    murako::QueueHost host;
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
    murako::SearchController controller(grid, presentation, choices, fileSystem, host, options);

    const auto start = std::chrono::steady_clock::now();
    controller.Command1_Click();
    host.RunUntil([&] { return !controller.Searching(); });
    const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;

    std::fputs(out.c_str(), stdout);
    std::printf("total_bytes=%lld entries=%d seconds=%.3f\n", static_cast<long long>(totalBytes), rows,
                seconds.count());
    return 0;
}
