#include "search_scope.h"

#include <algorithm>

namespace murako {

namespace {

bool IsWhiteSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
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

std::optional<WalkScope> WalkScope::Make(const SearchScope& scope, const std::string& basePath, char separator,
                                         std::string& problem)
{
    std::optional<ExcludePatterns> patterns = ExcludePatterns::Make(scope.patterns, separator, problem);
    if (!patterns)
        return std::nullopt;
    return WalkScope{scope.oneFileSystem, scope.excludeCaches, std::move(*patterns), basePath};
}

}  // namespace murako
