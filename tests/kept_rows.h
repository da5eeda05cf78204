#pragma once
// A search that keeps its tree, held to fresh searches of the same directories.

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#ifdef _WIN32
#include <process.h>
#endif

#include "fake_run.h"
#include "headless_run.h"
#include "kept_json.h"
#include "kept_tree.h"
#include "move_away.h"
#include "search_run.h"

namespace murako::fakes {

// The place in the kept tree of a file by its directory's path and its name.
inline KeptPlace FilePlace(const KeptTree& tree, const std::string& dir, const std::string& name)
{
    KeptPlace place{tree.Find(dir, '/'), std::nullopt};
    uint32_t index = 0;
    if (place.dir)
        ForEachFile(*place.dir, [&](const KeptFile& file) {
            if (file.name == name)
                place.file = index;
            ++index;
        });
    return place;
}

// Every row of the table as one line: its cells, then every fact a view or a report reads.
inline std::vector<std::string> TableLines(const ResultsTable& table)
{
    auto places = [](const UnreadPlaces& unread) {
        std::string text = std::to_string(unread.count);
        for (const UnreadPlaces::Place& place : unread.first)
            text += " [" + place.path + " " + std::to_string(static_cast<int>(place.failure)) + "]";
        return text;
    };
    std::vector<std::string> lines;
    for (int32_t row = 0; row < table.Rows(); ++row) {
        const RowFacts& facts = table.Facts(row);
        lines.push_back(table.TextAt(row, 0) + "|" + table.TextAt(row, 1) + "|" + table.TextAt(row, 2) + "|" +
                        (facts.bytes ? std::to_string(*facts.bytes) : "-") + "|" +
                        std::to_string(static_cast<int>(facts.kind)) + "|" + places(facts.unread) + "|" +
                        places(facts.notEntered) + "|" + std::to_string(facts.interrupted) + "|" +
                        std::to_string(facts.number) + "|" + facts.listedName + "|" +
                        (facts.count ? std::to_string(facts.count->entries) + " " +
                                           std::to_string(facts.count->excluded)
                                     : "-") +
                        "|" + places(facts.otherFileSystems) + "|" + std::to_string(facts.baseExcluded));
    }
    return lines;
}

class KeptSearch {
public:
    KeptSearch(std::shared_ptr<FileSystem> fileSystem, int threads, SizeMeasure measure = SizeMeasure::Length,
               SearchScope scope = {})
        : fileSystem_(std::move(fileSystem)), threads_(threads), measure_(measure), scope_(std::move(scope))
    {
        InitGrid(table_);
        SearchController::Options options;
        options.threads = threads;
        options.keepTree = true;
        options.measure = measure;
        options.scope = scope_;
        controller_ = std::make_unique<SearchController>(table_, presentation_, choices_, fileSystem_, host_, options);
    }

    SearchController& Controller() { return *controller_; }
    const ResultsTable& Table() const { return table_; }
    // What the second panel said last.
    const std::string& Progress() const { return presentation_.progress.back(); }

    void Search(const std::string& path)
    {
        choices_.path = path;
        controller_->Command1_Click();
        Finish();
    }

    // Runs the search under way to its end.
    void Finish()
    {
        host_.RunUntil([&] { return !controller_->Searching(); });
    }
    // Applies what the walk posts until done holds.
    void RunUntil(const std::function<bool()>& done) { host_.RunUntil(done); }
    void SetPath(const std::string& path) { choices_.path = path; }

    // Shows path from the kept tree and searches it again there.
    void SearchAgain(const std::string& path)
    {
        ASSERT_TRUE(controller_->ShowKept(path)) << path;
        controller_->SearchShownAgain();
        host_.RunUntil([&] { return !controller_->Searching(); });
    }

    // The table as the kept tree shows path; empty when it cannot.
    std::vector<std::string> Kept(const std::string& path)
    {
        if (!controller_->ShowKept(path))
            return {};
        return TableLines(table_);
    }

    // The table as a fresh search of path, that keeps nothing, shows it.
    std::vector<std::string> Fresh(const std::string& path, int threads) const
    {
        ResultsTable table;
        InitGrid(table);
        SearchController::Options options;
        options.threads = threads;
        options.measure = measure_;
        options.scope = scope_;
        SearchWithoutWindow(table, fileSystem_, path, options);
        return TableLines(table);
    }

    // The paths of the kept tree's directories, the base's first, every stride-th of them.
    std::vector<std::string> Directories(size_t stride = 1) const
    {
        const KeptTree* tree = controller_->Kept();
        std::vector<std::string> paths;
        if (!tree)
            return paths;
        std::vector<std::pair<const KeptDirectory*, std::string>> stack{{tree->Base(), tree->BasePath()}};
        for (size_t i = 0; !stack.empty(); ++i) {
            auto [dir, path] = stack.back();
            stack.pop_back();
            if (i % stride == 0)
                paths.push_back(path);
            const std::string prefix = path.back() == '/' ? path : path + "/";
            for (uint32_t child = 0; child < dir->ChildCount(); ++child)
                stack.emplace_back(dir->Children()[child], prefix + std::string(dir->Children()[child]->Name()));
        }
        return paths;
    }

private:
    std::shared_ptr<FileSystem> fileSystem_;
    const int threads_;
    const SizeMeasure measure_;
    const SearchScope scope_;
    ResultsTable table_;
    RecordingPresentation presentation_;
    FixedChoices choices_;
    QueueHost host_;
    std::unique_ptr<SearchController> controller_;
};

// A file of the test's own, removed as it is closed. Windows' tmpfile() names its files by a count each
// program keeps, so that two test programs side by side write the same file.
inline std::FILE* TestFile()
{
#ifdef _WIN32
    static std::atomic<int> made{0};
    const std::filesystem::path path = std::filesystem::temp_directory_path() /
        ("murako-test-" + std::to_string(_getpid()) + "-" + std::to_string(made++) + ".tmp");
    return _wfopen(path.c_str(), L"w+bD");  // D: removed once closed
#else
    return std::tmpfile();
#endif
}

// The export file of tree as text.
inline std::string ExportText(const KeptTree& tree)
{
    std::FILE* file = TestFile();
    std::string text;
    if (!file)
        return text;
    if (WriteKeptJson(tree, file, "test")) {
        std::rewind(file);
        char buffer[1 << 16];
        for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, file)) > 0;)
            text.append(buffer, got);
    }
    std::fclose(file);
    return text;
}

// A tree read from a file, shown directory by directory as the window shows it.
class ImportedView {
public:
    ImportedView(std::shared_ptr<FileSystem> fileSystem, std::unique_ptr<KeptTree> tree,
                 SizeMeasure measure = SizeMeasure::Length)
    {
        InitGrid(table_);
        SearchController::Options options;
        options.measure = measure;
        controller_ = std::make_unique<SearchController>(table_, presentation_, choices_, std::move(fileSystem),
                                                         host_, options);
        controller_->ShowImported(std::move(tree), "imported");
    }

    SearchController& Controller() { return *controller_; }
    const ResultsTable& Table() const { return table_; }

    // The table as the imported tree shows path; empty when it cannot.
    std::vector<std::string> Rows(const std::string& path)
    {
        if (!controller_->ShowKept(path))
            return {};
        return TableLines(table_);
    }

private:
    ResultsTable table_;
    NoPresentation presentation_;
    FixedChoices choices_;
    QueueHost host_;
    std::unique_ptr<SearchController> controller_;
};

}  // namespace murako::fakes
