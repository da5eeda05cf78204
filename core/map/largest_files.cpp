#include "largest_files.h"

#include <algorithm>
#include <queue>

#include "file_types.h"

namespace murako {

std::string KeptPath(const KeptDirectory& dir, const std::string& basePath, char separator)
{
    std::vector<std::string_view> names;
    for (const KeptDirectory* at = &dir; at->parent; at = at->parent)
        names.push_back(at->Name());
    std::string path = basePath;
    if (path.empty() || path.back() != separator)
        path += separator;
    for (auto name = names.rbegin(); name != names.rend(); ++name)
        (path += *name) += separator;
    return path;
}

std::vector<LargeFile> LargestFiles(const KeptDirectory& dir, SizeMeasure measure, const std::string& basePath,
                                    char separator, size_t count)
{
    struct Candidate {
        int64_t bytes;
        const KeptDirectory* dir;
        uint32_t index;
    };
    // The smallest of the winners on top, so that a larger file puts it out.
    auto larger = [](const Candidate& a, const Candidate& b) { return a.bytes > b.bytes; };
    std::priority_queue<Candidate, std::vector<Candidate>, decltype(larger)> winners(larger);
    if (count == 0)
        return {};
    ForEachKeptDirectory(dir, [&](const KeptDirectory& at) {
        uint32_t index = 0;
        ForEachFile(at, [&](const KeptFile& file) {
            const int64_t bytes = KeptFileSize(file, measure);
            // Files only: a symbolic link, a pipe or a device is no file one would clear away for room.
            if (file.facts && !file.facts->regular) {
                ++index;
                return;
            }
            if (winners.size() < count)
                winners.push({bytes, &at, index});
            else if (bytes > winners.top().bytes) {
                winners.pop();
                winners.push({bytes, &at, index});
            }
            ++index;
        });
    });
    std::vector<LargeFile> files;
    files.reserve(winners.size());
    for (; !winners.empty(); winners.pop()) {
        const Candidate& won = winners.top();
        LargeFile file{won.bytes, won.dir, won.index, KeptPath(*won.dir, basePath, separator)};
        uint32_t index = 0;
        ForEachFile(*won.dir, [&](const KeptFile& kept) {
            if (index++ == won.index)
                file.path += kept.name;
        });
        files.push_back(std::move(file));
    }
    std::sort(files.begin(), files.end(),
              [](const LargeFile& a, const LargeFile& b) { return a.bytes != b.bytes ? a.bytes > b.bytes : a.path < b.path; });
    return files;
}

}  // namespace murako
