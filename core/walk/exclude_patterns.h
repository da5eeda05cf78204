#pragma once

#include <bitset>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "key_trie.h"

namespace murako {

// Exclusion patterns ready to be matched against every entry of a walk. An entry is excluded when a pattern
// matches its whole path (as the search names it) or what follows any separator in it, so "*.o" and "a/b"
// each match below any directory, and "*" matches separators too.
//
// Most patterns can only match within one name, but for a run of "*" between them: such a pattern is tried
// on the entry's name alone, and its part before the "*" once per directory on the directory's own path.
// Patterns are sorted once by the plain bytes they begin and end with, so that a name meets only those that
// can match it; only a pattern that can match a separator in another way is tried on the whole path.
class ExcludePatterns {
public:
    class InDirectory;

    ExcludePatterns() = default;
    // The patterns, or nullopt and the first one that cannot be matched, with why, in problem.
    static std::optional<ExcludePatterns> Make(const std::vector<std::string>& patterns, char separator,
                                               std::string& problem);

    bool Empty() const { return patterns_.empty(); }
    // Whether the entry at path is excluded.
    bool Excludes(std::string_view path) const;
    // The patterns as they meet the names listed in the directory at path: made once for its names, which
    // path must outlive.
    InDirectory In(std::string_view path) const;

private:
    // How a name that reached a pattern by its plain bytes is tried further.
    enum class Check : uint8_t {
        EndBytes,    // "*" then pieces of one byte each, compared from the name's end
        StartBytes,  // pieces of one byte each then "*", compared from the name's start
        Name,        // the whole pattern against the name
        Path,        // the whole pattern against the path and each of its tails
    };
    struct Candidate {
        Check check;
        uint32_t pattern;
    };
    struct Pattern {
        std::string text;
        size_t firstStar = std::string::npos;  // where its one run of "*" begins and ends in text
        size_t lastStar = std::string::npos;
        std::string plainStart;                // what every text it matches begins with
        std::vector<std::bitset<256>> bytes;  // for EndBytes and StartBytes: the bytes each piece matches
    };
    struct Hash {
        using is_transparent = void;
        size_t operator()(std::string_view text) const noexcept { return std::hash<std::string_view>()(text); }
    };

    static size_t Ends(std::string_view text)
    {
        return static_cast<size_t>(static_cast<unsigned char>(text.front())) << 8 |
               static_cast<unsigned char>(text.back());
    }
    bool IsPlainName(std::string_view name) const
    {
        return plainNameEnds_.test(Ends(name)) && plainNames_.find(name) != plainNames_.end();
    }
    void Add(std::string_view pattern);
    bool MatchesPathOrTail(const Pattern& pattern, std::string_view path) const;

    char separator_ = '/';
    std::vector<Pattern> patterns_;
    std::unordered_set<std::string, Hash, std::equal_to<>> plainNames_;  // patterns without wildcards nor separators
    BytePairSet plainNameEnds_;  // of plainNames_ by their first and last bytes, to pass most names at once
    std::vector<Candidate> candidates_;
    KeyTrie nameEnds_{KeyTrie::From::End};      // candidates by the plain bytes their names end with
    KeyTrie nameStarts_{KeyTrie::From::Start};  // and by those they begin with, where they end in none
    // Patterns with something before their "*", by its plain start: where it matches a tail of a directory's
    // path, the "*" reaches into every name listed there.
    KeyTrie directoryStarts_{KeyTrie::From::Start};
};

// A directory's names tried against the patterns; made by ExcludePatterns::In, which it must not outlive.
class ExcludePatterns::InDirectory {
public:
    // Whether the entry called name in the directory is excluded.
    bool Excludes(std::string_view name);

private:
    friend class ExcludePatterns;
    // The names of the directory at path follow it after a separator, or directly where withSeparator says
    // path is empty or ends in one.
    InDirectory(const ExcludePatterns& patterns, std::string_view path, bool withSeparator);
    void TryDirectoryTail(std::string_view tail);
    bool Passes(const Candidate& candidate, std::string_view name);
    const std::string& PathOf(std::string_view name);

    const ExcludePatterns* patterns_;
    std::string_view directory_;
    bool withSeparator_;
    std::string path_;  // made where a pattern is tried on a whole path: the directory's, then a name
    size_t namesAt_ = std::string::npos;  // in path_, once made
    bool excludesAll_ = false;  // a pattern's part before its final "*" matches a tail of the directory's path
    std::vector<uint32_t> reaching_;  // patterns whose part before "*" did, where a part after it remains
};

}  // namespace murako
