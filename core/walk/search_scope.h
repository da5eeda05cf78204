#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "exclude_patterns.h"

namespace murako {

// The names a subtree holds below its top, itself not counted, and the names it left out.
struct EntryCount {
    int64_t entries = 0;
    int64_t excluded = 0;  // names a pattern matched and directories of caches: neither entered nor counted

    bool operator==(const EntryCount&) const = default;
};

// What a search leaves out, as the user chose it.
struct SearchScope {
    bool oneFileSystem = false;  // a directory on another device than the one searched is not entered
    bool excludeCaches = false;  // a directory holding a CACHEDIR.TAG with the standard signature is not entered
    std::vector<std::string> patterns;  // shell patterns, matched as du's --exclude matches them

    bool LeavesOut() const { return oneFileSystem || excludeCaches || !patterns.empty(); }
    bool operator==(const SearchScope&) const = default;
};

// A scope as one text, a line each: "one-file-system", "exclude-caches", then "exclude=" and each pattern, which
// holds no line break; read back, lines of no known kind are passed over.
std::string ScopeText(const SearchScope& scope);
SearchScope ScopeFromText(std::string_view text);

// What a CACHEDIR.TAG begins with when it marks its directory as a cache.
inline constexpr std::string_view kCacheTagName = "CACHEDIR.TAG";
inline constexpr std::string_view kCacheTagSignature = "Signature: 8a477f597d28d172789f06886806bc55";

// The patterns of a pattern file: one a line, trailing white space dropped, blank lines skipped, as du's
// --exclude-from reads them.
std::vector<std::string> PatternsFromText(std::string_view text);

// A scope as a walk checks it: its patterns made, and the base's path as the search names it, which the paths
// the patterns are tried against begin with.
struct WalkScope {
    bool oneFileSystem = false;
    bool excludeCaches = false;
    ExcludePatterns patterns;
    std::string basePath;

    // The scope's patterns made, or nullopt and why in problem.
    static std::optional<WalkScope> Make(const SearchScope& scope, const std::string& basePath, char separator,
                                         std::string& problem);
};

}  // namespace murako
