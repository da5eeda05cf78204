#pragma once

#include <array>
#include <bitset>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "shell_pattern.h"

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

// Exclusion patterns ready to be matched against every entry of a walk. An entry is excluded when a pattern
// matches its whole path (as the search names it) or what follows any separator in it, so "*.o" and "a/b"
// each match below any directory, and "*" matches separators too.
class ExcludePatterns {
public:
    ExcludePatterns() = default;
    // The patterns, or nullopt and the first one that cannot be matched, with why, in problem.
    static std::optional<ExcludePatterns> Make(const std::vector<std::string>& patterns, char separator,
                                               std::string& problem);

    bool Empty() const { return plainNames_.empty() && plainPaths_.empty() && globs_.empty(); }
    // Whether the name could be one of the plain names, by its first and last bytes.
    bool MayBePlainName(std::string_view name) const { return !name.empty() && plainNameEnds_.test(Ends(name)); }
    // Whether the entry at path is excluded.
    bool Excludes(std::string_view path) const;

private:
    static size_t Ends(std::string_view text)
    {
        return static_cast<size_t>(static_cast<unsigned char>(text.front())) << 8 |
               static_cast<unsigned char>(text.back());
    }
    // Whether a glob without a plain end excludes path.
    bool OpenGlobExcludes(std::string_view path) const;
    struct Glob;
    bool GlobExcludes(const Glob& glob, std::string_view path) const;

    struct Glob {
        std::string pattern;
        std::string plainStart;  // what every text it matches begins with
        std::string plainEnd;    // and ends with
        std::string plainPiece;  // and holds somewhere: its longest run of plain characters, where it is sure
        // Of a pattern of one leading "*" and none after: the bytes the rest takes, tried at the path's end only.
        std::optional<PatternBytes> afterStar;
    };
    struct Hash {
        using is_transparent = void;
        size_t operator()(std::string_view text) const noexcept { return std::hash<std::string_view>()(text); }
    };
    using PlainSet = std::unordered_set<std::string, Hash, std::equal_to<>>;

    char separator_ = '/';
    PlainSet plainNames_;  // without wildcards or separators: only a name can equal one
    std::bitset<1 << 16> plainNameEnds_;  // of plainNames_ by their first and last bytes, to pass most names at once
    PlainSet plainPaths_;  // without wildcards, with a separator
    std::vector<Glob> globs_;
    std::unordered_map<uint16_t, std::vector<size_t>> globsByLastTwo_;  // of globs_ by their plain end's last two bytes
    std::array<std::vector<size_t>, 256> globsByLastByte_;  // of globs_ with a plain end of one byte, by it
    // Of globs_ without, by their plain start's first byte: only a text beginning with it can match; those
    // without a plain start apart.
    std::array<std::vector<size_t>, 256> globsOpenAtEndByStart_;
    std::vector<size_t> globsOpenAtBothEnds_;
    bool openAtEnd_ = false;  // some glob is without a plain end
};

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
