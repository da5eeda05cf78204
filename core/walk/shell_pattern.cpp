#include "shell_pattern.h"

#include <cctype>

namespace murako {

namespace {

constexpr size_t kUnclosed = std::string_view::npos;

struct Character {
    char32_t code;
    size_t length;
};

// The character at text[at]: one UTF-8 sequence, or a byte that begins none standing alone.
Character CharacterAt(std::string_view text, size_t at)
{
    const auto lead = static_cast<unsigned char>(text[at]);
    const size_t length = lead < 0x80 ? 1 : (lead >> 5) == 6 ? 2 : (lead >> 4) == 14 ? 3 : (lead >> 3) == 30 ? 4 : 0;
    if (length <= 1 || at + length > text.size())
        return {lead, 1};
    char32_t code = lead & (0x7f >> length);
    for (size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(text[at + i]);
        if ((next >> 6) != 2)
            return {lead, 1};
        code = (code << 6) | (next & 0x3f);
    }
    return {code, length};
}

// Whether c is of the named class, as the C locale has it; nullopt for a name that is no class.
std::optional<bool> InClass(std::string_view name, char32_t c)
{
    struct Named {
        std::string_view name;
        int (*test)(int);
    };
    static const Named kClasses[] = {
        {"alnum", std::isalnum}, {"alpha", std::isalpha}, {"blank", std::isblank}, {"cntrl", std::iscntrl},
        {"digit", std::isdigit}, {"graph", std::isgraph}, {"lower", std::islower}, {"print", std::isprint},
        {"punct", std::ispunct}, {"space", std::isspace}, {"upper", std::isupper}, {"xdigit", std::isxdigit},
    };
    for (const Named& named : kClasses)
        if (named.name == name)
            return c < 0x80 && named.test(static_cast<int>(c)) != 0;
    return std::nullopt;
}

// Matches c against the set whose first character is pattern[at], just past its "[": whether it matched, and
// the position past its "]"; kUnclosed, and why in problem, when the set does not end or names no class.
size_t MatchSet(std::string_view pattern, size_t at, char32_t c, bool& matched, std::string* problem)
{
    const bool negated = at < pattern.size() && (pattern[at] == '!' || pattern[at] == '^');
    if (negated)
        ++at;
    bool found = false;
    for (bool first = true; at < pattern.size() && (first || pattern[at] != ']'); first = false) {
        if (pattern.compare(at, 2, "[:") == 0) {
            const size_t close = pattern.find(":]", at + 2);
            if (close != std::string_view::npos) {
                const std::optional<bool> in = InClass(pattern.substr(at + 2, close - at - 2), c);
                if (!in) {
                    if (problem)
                        *problem = "知らない文字クラスです: " + std::string(pattern.substr(at, close + 2 - at));
                    return kUnclosed;
                }
                found = found || *in;
                at = close + 2;
                continue;
            }
        }
        if (pattern[at] == '\\' && at + 1 < pattern.size())
            ++at;
        const Character low = CharacterAt(pattern, at);
        at += low.length;
        Character high = low;
        if (at + 1 < pattern.size() && pattern[at] == '-' && pattern[at + 1] != ']') {
            at += pattern[at + 1] == '\\' && at + 2 < pattern.size() ? 2 : 1;
            high = CharacterAt(pattern, at);
            at += high.length;
        }
        found = found || (low.code <= c && c <= high.code);
    }
    if (at >= pattern.size()) {
        if (problem)
            *problem = "「[」が「]」で閉じられていません";
        return kUnclosed;
    }
    matched = found != negated;
    return at + 1;
}

}  // namespace

SetMatch MatchSetAt(std::string_view pattern, size_t open, char32_t c)
{
    SetMatch set;
    set.end = MatchSet(pattern, open + 1, c, set.matched, nullptr);
    return set;
}

std::optional<std::string> PatternProblem(std::string_view pattern)
{
    for (size_t at = 0; at < pattern.size(); ++at) {
        if (pattern[at] == '\\') {
            ++at;
        } else if (pattern[at] == '[') {
            bool matched = false;
            std::string problem;
            const size_t end = MatchSet(pattern, at + 1, 0, matched, &problem);
            if (end == kUnclosed)
                return problem;
            at = end - 1;
        }
    }
    return std::nullopt;
}

bool PatternMatches(std::string_view pattern, std::string_view text)
{
    size_t p = 0;
    size_t t = 0;
    // Where the last "*" met resumes: past it in the pattern, and how much of the text it takes so far.
    size_t starP = kUnclosed;
    size_t starT = 0;
    while (t < text.size()) {
        if (p < pattern.size()) {
            const char wanted = pattern[p];
            if (wanted == '*') {
                starP = ++p;
                starT = t;
                continue;
            }
            if (wanted == '?') {
                ++p;
                t += CharacterAt(text, t).length;
                continue;
            }
            if (wanted == '[') {
                const Character c = CharacterAt(text, t);
                bool matched = false;
                const size_t end = MatchSet(pattern, p + 1, c.code, matched, nullptr);
                if (end != kUnclosed && matched) {
                    p = end;
                    t += c.length;
                    continue;
                }
            } else {
                const size_t plain = wanted == '\\' && p + 1 < pattern.size() ? p + 1 : p;
                if (pattern[plain] == text[t]) {
                    p = plain + 1;
                    ++t;
                    continue;
                }
            }
        }
        if (starP == kUnclosed)
            return false;
        p = starP;
        starT += CharacterAt(text, starT).length;
        t = starT;
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

}  // namespace murako
