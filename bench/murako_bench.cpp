// Runs one search over DIR with the program's own search code and no window, and prints its rows in bytes,
// then the total and the names listed, then how many places could not be read and the first of them, and
// last the walk's thread count at its end, at its start and the most at once. --on-disk counts the space
// allocated rather than lengths; --keep-tree keeps every entry, as the window does, and tells its memory.
// --export FILE keeps the tree and writes it to FILE in the JSON export format disk usage tools share ("-":
// standard output, and then the rows go to standard error); --import FILE reads such a file instead of
// searching and prints its top directory's rows as a search of it does. --entries adds to each row the names
// it holds (what find DIR -mindepth 1 lists below a subdirectory, a row's files for "[Root Files]"); --newest
// adds after it the newest change in the row, in whole seconds since 1970 ("?" when unknown): of a
// subdirectory and everything below it, of "[Root Files]"'s files, of the directory and everything below. What a
// search leaves out is chosen as du and ncdu choose it: -x or --one-file-system, --exclude PATTERN (again for
// more), --exclude-from FILE (a pattern a line), --exclude-caches.
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "headless_run.h"
#include "kept_json.h"
#include "file_system.h"
#include "row_texts.h"
#include "search_scope.h"
#include "text.h"
#include "walk_pace.h"

namespace {

int Usage(const std::string& problem)
{
    std::fprintf(stderr,
                 "murako-bench: %s\nusage: murako-bench [--threads N] [--on-disk] [--keep-tree] [--export FILE] [--entries]\n"
                 "                    [--newest]\n"
                 "                    [-x|--one-file-system] [--exclude PATTERN]... [--exclude-from FILE]\n"
                 "                    [--exclude-caches] [--] DIR   (N from 1 to %d)\n"
                 "       murako-bench [--on-disk] --import FILE\n"
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

struct Arguments {
    int threads = 0;
    bool onDisk = false;
    bool keepTree = false;
    bool entries = false;
    bool newest = false;
    murako::SearchScope scope;
    std::string exportFile;
    std::string importFile;
    std::string dir;
};

// Adds the patterns of a file, one a line, as du's --exclude-from reads them; false when it cannot be read.
bool AddPatternFile(const std::string& path, std::vector<std::string>& patterns)
{
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    if (!file || !(text << file.rdbuf()) || file.bad())
        return false;
    for (std::string& pattern : murako::PatternsFromText(text.str()))
        patterns.push_back(std::move(pattern));
    return true;
}

// Takes argv[i] when it chooses what the search leaves out (and its value, moving i past it): nullopt when it
// does not; else 0, or the exit status after a message.
std::optional<int> ParseScope(int argc, char** argv, int& i, murako::SearchScope& scope)
{
    const std::string arg = argv[i];
    if (arg == "-x" || arg == "--one-file-system") {
        scope.oneFileSystem = true;
    } else if (arg == "--exclude-caches") {
        scope.excludeCaches = true;
    } else if (arg == "--exclude" || arg == "--exclude-from") {
        if (i + 1 >= argc || argv[i + 1][0] == '\0')
            return Usage(arg + (arg == "--exclude" ? " needs a pattern" : " needs a file"));
        const std::string value = argv[++i];
        if (arg == "--exclude") {
            scope.patterns.push_back(value);
        } else if (!AddPatternFile(value, scope.patterns)) {
            std::fprintf(stderr, "murako-bench: %s: %s\n", value.c_str(), std::strerror(errno));
            return 1;
        }
    } else {
        return std::nullopt;
    }
    return 0;
}

// The arguments, or the exit status when there is nothing to search: after a message, or after the version.
std::optional<int> Parse(int argc, char** argv, Arguments& arguments)
{
    bool options = true;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.empty())
            return Usage("an empty argument");
        if (options && arg == "--") {
            options = false;
        } else if (options && arg == "--version") {
            std::printf("murako-bench %s\n", MURAKO_VERSION);
            return 0;
        } else if (options && arg == "--threads") {
            if (i + 1 >= argc)
                return Usage("--threads needs a number");
            const std::optional<int> count = ThreadCount(argv[++i]);
            if (!count)
                return Usage(std::string("not a thread count: ") + argv[i]);
            arguments.threads = *count;
        } else if (options && arg == "--on-disk") {
            arguments.onDisk = true;
        } else if (options && arg == "--keep-tree") {
            arguments.keepTree = true;
        } else if (options && arg == "--entries") {
            arguments.entries = true;
        } else if (options && arg == "--newest") {
            arguments.newest = true;
        } else if (const std::optional<int> status = options ? ParseScope(argc, argv, i, arguments.scope) : 0;
                   options && status) {
            if (*status != 0)
                return status;
        } else if (options && (arg == "--export" || arg == "--import")) {
            if (i + 1 >= argc || argv[i + 1][0] == '\0')
                return Usage(arg + " needs a file");
            (arg == "--export" ? arguments.exportFile : arguments.importFile) = argv[++i];
        } else if (options && arg.size() > 1 && arg.front() == '-') {
            return Usage("unknown option " + arg);
        } else if (!arguments.dir.empty()) {
            return Usage("one directory only");
        } else {
            arguments.dir = arg;
        }
    }
    if (!arguments.importFile.empty()) {
        if (!arguments.dir.empty() || !arguments.exportFile.empty())
            return Usage("--import reads a file instead of a directory");
        return std::nullopt;
    }
    if (arguments.dir.empty())
        return Usage("no directory given");
    std::string problem;
    if (!murako::ExcludePatterns::Make(arguments.scope.patterns, murako::PathSeparator(), problem))
        return Usage("a pattern that cannot be matched: " + problem);
    return std::nullopt;
}

// A name as one field of a tab-separated line: a backslash, tab, newline or carriage return in it escaped.
std::string Field(std::string_view name)
{
    std::string field;
    for (const char c : name) {
        switch (c) {
        case '\\': field += "\\\\"; break;
        case '\t': field += "\\t"; break;
        case '\n': field += "\\n"; break;
        case '\r': field += "\\r"; break;
        default: field += c;
        }
    }
    return field;
}

// The rows as the table holds them once the search is over, in the order of their № as it leaves them: on disk,
// where rows are written again once the walk has settled where each file of several links counts, the second
// writing. Read from the table rather than kept as they come, so that a wide directory's rows are held once.
void PrintRows(const murako::ResultsTable& table, const Arguments& arguments, std::FILE* report)
{
    for (int32_t row = murako::ResultsTable::FixedRows; row < table.Rows(); ++row) {
        const murako::RowFacts facts = table.Facts(row);
        if (facts.kind == murako::RowKind::NotWritten)
            continue;
        std::string line = std::to_string(facts.number) + '\t' + Field(table.TextAt(row, 1)) + '\t' +
                           std::to_string(facts.bytes.value_or(0));
        if (arguments.entries)
            line += '\t' + (facts.count ? std::to_string(facts.count->entries) : std::string("?"));
        // Whole seconds since 1970, negative before it, as find's %T@ gives them less their fraction.
        if (arguments.newest)
            line += '\t' + (facts.newest == murako::kTimeUnknown ? std::string("?") : std::to_string(facts.newest));
        line += '\n';
        std::fputs(line.c_str(), report);
    }
}

}  // namespace

int main(int argc, char** argv)
{
    const murako::WalkProcessSettings walkSettings;
    Arguments arguments;
    if (const std::optional<int> status = Parse(argc, argv, arguments))
        return *status;
    // "Z:" is the drive's current directory on Windows, which the search would otherwise take for its root.
    const std::string dir = murako::PathFromDriveCurrentDirectory(arguments.dir);
    const std::string& source = arguments.importFile.empty() ? dir : arguments.importFile;

    // A base that cannot be searched at all fails the run rather than giving a total of 0.
    auto fileSystem = murako::MakeLocalFileSystem();
    murako::ReadFailure failure = murako::ReadFailure::None;
    if (arguments.importFile.empty() && !fileSystem->Open(dir, failure)) {
        std::fprintf(stderr, "murako-bench: %s: %s\n", dir.c_str(), murako::FailureText(failure).c_str());
        return 1;
    }

    murako::ResultsTable table;
    murako::InitGrid(table);
    murako::SearchController::Options options;
    options.threads = arguments.threads;
    options.measure = arguments.onDisk ? murako::SizeMeasure::OnDisk : murako::SizeMeasure::Length;
    options.scope = arguments.scope;
    options.keepTree = arguments.keepTree || !arguments.exportFile.empty();
    std::string kept;
    std::string exportProblem;
    options.treeKept = [&](const murako::KeptTree& tree) {
        const auto entries = static_cast<long long>(tree.Entries());
        const auto bytes = static_cast<unsigned long long>(tree.Bytes());
        kept = " kept_entries=" + std::to_string(entries) + " kept_bytes=" + std::to_string(bytes);
        char number[32];
        std::snprintf(number, sizeof number, "%.1f", entries ? static_cast<double>(bytes) / entries : 0.0);
        kept += std::string(" kept_bytes_per_entry=") + number;
        if (arguments.exportFile.empty())
            return;
        const auto start = std::chrono::steady_clock::now();
        if (const murako::Failure failure = murako::SaveKeptJson(tree, arguments.exportFile, MURAKO_VERSION))
            exportProblem = arguments.exportFile + ": " + murako::ReasonTextInEnglish(failure);
        const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
        std::snprintf(number, sizeof number, "%.3f", seconds.count());
        kept += std::string(" export_seconds=") + number;
    };
    murako::WalkThreadCounts counts;
    options.walkThreads = [&](const murako::WalkThreadCounts& chosen) { counts = chosen; };
    const auto start = std::chrono::steady_clock::now();
    int64_t entries = 0;
    if (arguments.importFile.empty()) {
        entries = murako::SearchWithoutWindow(table, fileSystem, dir, options);
    } else {
        murako::KeptJsonRead read = murako::OpenKeptJson(arguments.importFile);
        if (!read.tree) {
            std::fprintf(stderr, "murako-bench: %s: %s\n", source.c_str(),
                         murako::ReasonTextInEnglish(read.failure).c_str());
            return 1;
        }
        entries = murako::ShowImportedWithoutWindow(table, fileSystem, std::move(read.tree), options);
    }
    const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;

    // The export on standard output leaves the report to standard error.
    std::FILE* report = arguments.exportFile == "-" ? stderr : stdout;
    PrintRows(table, arguments, report);
    if (!exportProblem.empty()) {
        std::fprintf(stderr, "murako-bench: %s\n", exportProblem.c_str());
        return 1;
    }
    // A walk that stopped for want of memory or threads writes no total: no total is no result.
    if (table.Facts(table.Rows() - 1).kind != murako::RowKind::Total) {
        std::fprintf(stderr, "murako-bench: %s: the search could not go on\n", source.c_str());
        return 1;
    }
    const murako::RowFacts& totalFacts = table.Facts(table.Rows() - 1);
    const auto totalBytes = static_cast<long long>(totalFacts.bytes.value_or(0));
    std::fprintf(report, "total_bytes=%lld entries=%lld seconds=%.3f%s\n", totalBytes,
                 static_cast<long long>(entries), seconds.count(), kept.c_str());
    // The total row comes last and carries every unread place.
    if (totalFacts.baseExcluded)
        std::fprintf(stderr, "murako-bench: %s: excluded by a pattern, nothing counted\n", source.c_str());
    const murako::UnreadPlaces& unread = totalFacts.unread;
    std::fprintf(report, "unread=%lld\n", static_cast<long long>(unread.count));
    for (const murako::UnreadPlaces::Place& place : unread.first)
        std::fprintf(report, "unread: %s (%s)\n", Field(place.path).c_str(),
                     murako::FailureText(place.failure).c_str());
    // The run has joined its walking thread by now, which set the counts.
    std::fprintf(report, "threads=%d first=%d most=%d\n", counts.last, counts.first, counts.most);
    return 0;
}
