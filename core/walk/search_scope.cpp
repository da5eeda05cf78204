#include "search_scope.h"

#include "shell_pattern.h"

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
            (pattern.find(separator) == std::string::npos ? made.plainNames_ : made.plainPaths_).insert(pattern);
            continue;
        }
        const size_t lastSpecial = pattern.find_last_of("*?[]\\");
        made.globs_.push_back({pattern, pattern.substr(lastSpecial + 1)});
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
    if (plainNames_.find(name) != plainNames_.end())
        return true;
    for (const std::string& plain : plainPaths_)
        if (IsTail(path, plain, separator_))
            return true;
    for (const Glob& glob : globs_) {
        // Every text tried ends where the path does, so a pattern whose plain end the path lacks matches none.
        if (glob.plainEnd.size() > path.size() || path.substr(path.size() - glob.plainEnd.size()) != glob.plainEnd)
            continue;
        if (PatternMatches(glob.pattern, path))
            return true;
        // A leading "*" takes whatever comes before a tail, so a pattern that matches none of the path
        // matches none of its tails: a deep path costs its length, not its length times its depth.
        if (glob.pattern.front() == '*')
            continue;
        for (size_t at = path.find(separator_); at != std::string_view::npos; at = path.find(separator_, at + 1))
            if (at + 1 < path.size() && path[at + 1] != separator_ && PatternMatches(glob.pattern, path.substr(at + 1)))
                return true;
    }
    return false;
}

}  // namespace murako
