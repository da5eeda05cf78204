#include "search_scope.h"

#include <algorithm>
#include <bitset>

namespace murako {

namespace {

bool IsWhiteSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

bool HasWildcard(std::string_view pattern)
{
    return pattern.find_first_of("*?[\\") != std::string_view::npos;
}

// Whether text is the whole of path or what follows one of its separators.
bool IsTail(std::string_view path, std::string_view text, char separator)
{
    if (text.size() > path.size() || path.substr(path.size() - text.size()) != text)
        return false;
    return text.size() == path.size() || path[path.size() - text.size() - 1] == separator;
}

// The longest run of plain characters between wildcards; empty where a set or an escape makes runs unsure.
std::string LongestPlainPiece(std::string_view pattern)
{
    if (pattern.find_first_of("[\\") != std::string_view::npos)
        return {};
    std::string_view longest;
    for (size_t at = 0; at < pattern.size();) {
        const size_t end = std::min(pattern.find_first_of("*?", at), pattern.size());
        if (end - at > longest.size())
            longest = pattern.substr(at, end - at);
        at = end + 1;
    }
    // Separators begin and end many runs of a path: the piece is looked for by its rarer inner bytes.
    while (longest.size() > 1 && longest.front() == '/')
        longest.remove_prefix(1);
    while (longest.size() > 1 && longest.back() == '/')
        longest.remove_suffix(1);
    return std::string(longest);
}

// The last two bytes of text, which holds two or more.
uint16_t LastTwo(std::string_view text)
{
    return static_cast<uint16_t>(static_cast<unsigned char>(text[text.size() - 2]) << 8 |
                                 static_cast<unsigned char>(text.back()));
}

}  // namespace

std::vector<std::string> PatternsFromText(std::string_view text)
{
    std::vector<std::string> patterns;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        while (!line.empty() && IsWhiteSpace(line.back()))
            line.remove_suffix(1);
        if (!line.empty())
            patterns.emplace_back(line);
    }
    return patterns;
}

namespace {
constexpr std::string_view kOneFileSystemLine = "one-file-system";
constexpr std::string_view kExcludeCachesLine = "exclude-caches";
constexpr std::string_view kPatternLine = "exclude=";
}  // namespace

std::string ScopeText(const SearchScope& scope)
{
    std::string text;
    const auto line = [&text](std::string_view kind, std::string_view rest = {}) {
        text.append(text.empty() ? "" : "\n").append(kind).append(rest);
    };
    if (scope.oneFileSystem)
        line(kOneFileSystemLine);
    if (scope.excludeCaches)
        line(kExcludeCachesLine);
    for (const std::string& pattern : scope.patterns)
        line(kPatternLine, pattern);
    return text;
}

SearchScope ScopeFromText(std::string_view text)
{
    SearchScope scope;
    while (!text.empty()) {
        const size_t end = std::min(text.find('\n'), text.size());
        const std::string_view line = text.substr(0, end);
        text.remove_prefix(std::min(end + 1, text.size()));
        if (line == kOneFileSystemLine)
            scope.oneFileSystem = true;
        else if (line == kExcludeCachesLine)
            scope.excludeCaches = true;
        else if (line.starts_with(kPatternLine) && line.size() > kPatternLine.size())
            scope.patterns.emplace_back(line.substr(kPatternLine.size()));
    }
    return scope;
}

std::optional<ExcludePatterns> ExcludePatterns::Make(const std::vector<std::string>& patterns, char separator,
                                                     std::string& problem)
{
    ExcludePatterns made;
    made.separator_ = separator;
    for (const std::string& pattern : patterns) {
        if (std::optional<std::string> why = PatternProblem(pattern)) {
            problem = pattern + ": " + *why;
            return std::nullopt;
        }
        if (!HasWildcard(pattern)) {
            if (pattern.find(separator) != std::string::npos) {
                made.plainPaths_.insert(pattern);
            } else {
                made.plainNames_.insert(pattern);
                made.plainNameEnds_.set(Ends(pattern));
            }
            continue;
        }
        const size_t lastSpecial = pattern.find_last_of("*?[]\\");
        const size_t plainEnd = pattern.size() - lastSpecial - 1;
        const size_t firstSpecial = pattern.find_first_of("*?[]\\");
        made.openAtEnd_ = made.openAtEnd_ || plainEnd == 0;
        (plainEnd >= 2       ? made.globsByLastTwo_[LastTwo(pattern)]
         : plainEnd == 1     ? made.globsByLastByte_[static_cast<unsigned char>(pattern.back())]
         : firstSpecial == 0 ? made.globsOpenAtBothEnds_
                             : made.globsOpenAtEndByStart_[static_cast<unsigned char>(pattern.front())])
            .push_back(made.globs_.size());
        made.globs_.push_back({pattern, pattern.substr(0, pattern.find_first_of("*?[]\\")),
                               pattern.substr(lastSpecial + 1), LongestPlainPiece(pattern),
                               pattern.front() == '*' ? BytesMatched(pattern.substr(1)) : std::nullopt});
    }
    return made;
}

std::optional<WalkScope> WalkScope::Make(const SearchScope& scope, const std::string& basePath, char separator,
                                         std::string& problem)
{
    std::optional<ExcludePatterns> patterns = ExcludePatterns::Make(scope.patterns, separator, problem);
    if (!patterns)
        return std::nullopt;
    return WalkScope{scope.oneFileSystem, scope.excludeCaches, std::move(*patterns), basePath};
}

bool ExcludePatterns::Excludes(std::string_view path) const
{
    const size_t lastSeparator = path.rfind(separator_);
    const std::string_view name = lastSeparator == std::string_view::npos ? path : path.substr(lastSeparator + 1);
    if (MayBePlainName(name) && plainNames_.find(name) != plainNames_.end())
        return true;
    for (const std::string& plain : plainPaths_)
        if (IsTail(path, plain, separator_))
            return true;
    // Every text tried ends where the path does: only patterns whose plain end ends as it does can match.
    if (!path.empty())
        for (const size_t glob : globsByLastByte_[static_cast<unsigned char>(path.back())])
            if (GlobExcludes(globs_[glob], path))
                return true;
    const auto found = path.size() >= 2 ? globsByLastTwo_.find(LastTwo(path)) : globsByLastTwo_.end();
    if (found != globsByLastTwo_.end())
        for (const size_t glob : found->second)
            if (GlobExcludes(globs_[glob], path))
                return true;
    return openAtEnd_ && OpenGlobExcludes(path);
}

bool ExcludePatterns::OpenGlobExcludes(std::string_view path) const
{
    for (const size_t glob : globsOpenAtBothEnds_)
        if (GlobExcludes(globs_[glob], path))
            return true;
    // A pattern with a plain start can only match a text beginning with its first byte: each such byte at the
    // start of the path or past a separator tries its patterns once.
    std::bitset<256> tried;
    for (size_t at = 0; at < path.size();) {
        const auto start = static_cast<unsigned char>(path[at]);
        if (!tried.test(start)) {
            tried.set(start);
            for (const size_t glob : globsOpenAtEndByStart_[start])
                if (GlobExcludes(globs_[glob], path))
                    return true;
        }
        const size_t next = path.find(separator_, at);
        if (next == std::string_view::npos)
            break;
        at = next + 1;
    }
    return false;
}

bool ExcludePatterns::GlobExcludes(const Glob& glob, std::string_view path) const
{
    if (!path.ends_with(glob.plainEnd) || path.find(glob.plainPiece) == std::string_view::npos)
        return false;
    if (glob.afterStar)
        return StarThenMatches(std::string_view(glob.pattern).substr(1), *glob.afterStar, path);
    if (path.starts_with(glob.plainStart) && PatternMatches(glob.pattern, path))
        return true;
    // A leading "*" takes whatever comes before a tail, so a pattern that matches none of the path matches
    // none of its tails: a deep path costs its length, not its length times its depth.
    if (glob.pattern.front() == '*')
        return false;
    for (size_t at = path.find(separator_); at != std::string_view::npos; at = path.find(separator_, at + 1)) {
        const std::string_view tail = path.substr(at + 1);
        if (!tail.empty() && tail.front() != separator_ && tail.starts_with(glob.plainStart) &&
            PatternMatches(glob.pattern, tail))
            return true;
    }
    return false;
}

}  // namespace murako
