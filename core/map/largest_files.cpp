#include "largest_files.h"

#include <algorithm>
#include <queue>

#include "kept_counts.h"

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
                                    char separator, size_t count, const std::function<bool(const KeptFile&)>& wanted)
{
    struct Candidate {
        int64_t bytes;
        const KeptDirectory* dir;
        uint32_t index;
        std::string_view name;
        ModifiedTime modified;
    };
    // The smallest of the winners on top, so that a larger file puts it out.
    auto larger = [](const Candidate& a, const Candidate& b) { return a.bytes > b.bytes; };
    std::priority_queue<Candidate, std::vector<Candidate>, decltype(larger)> winners(larger);
    if (count == 0)
        return {};
    const KeptCounts counts(dir, measure);
    for (KeptWalk walk(dir); walk.Next();) {
        // Files only: a link, a device or a pipe is no file of its own size.
        if (!walk.AtFile() || (walk.File().facts && !walk.File().facts->regular) || (wanted && !wanted(walk.File())))
            continue;
        const KeptFile& file = walk.File();
        const Candidate candidate{counts.FileSize(file), &walk.Directory(), file.index, file.name,
                                  file.facts ? file.facts->modified : kTimeUnknown};
        if (winners.size() < count)
            winners.push(candidate);
        else if (candidate.bytes > winners.top().bytes) {
            winners.pop();
            winners.push(candidate);
        }
    }
    std::vector<LargeFile> files;
    files.reserve(winners.size());
    for (; !winners.empty(); winners.pop()) {
        const Candidate& won = winners.top();
        LargeFile file{won.bytes, won.dir, won.index, won.modified, KeptPath(*won.dir, basePath, separator)};
        file.path += won.name;
        files.push_back(std::move(file));
    }
    std::sort(files.begin(), files.end(),
              [](const LargeFile& a, const LargeFile& b) { return a.bytes != b.bytes ? a.bytes > b.bytes : a.path < b.path; });
    return files;
}

}  // namespace murako
