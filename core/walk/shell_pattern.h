#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace murako {

// Shell patterns as du's --exclude reads them: "*" matches any run of characters, "/" and a leading "." too;
// "?" one character; "[...]" one character of a set ("[!...]" or "[^...]" one outside it), with ranges
// ("a-z") and classes ("[:digit:]"); "\" makes the next character plain. A character is one UTF-8 sequence,
// or a single byte where the bytes are no UTF-8. Case counts.

// Why pattern cannot be matched (an unclosed "[", an unknown class); nullopt when it can.
std::optional<std::string> PatternProblem(std::string_view pattern);

// Whether the whole of text matches pattern, which PatternProblem accepted.
bool PatternMatches(std::string_view pattern, std::string_view text);

// Whether the set whose "[" is pattern[open] matches the character c, and the position past its "]"; of a
// pattern PatternProblem accepted.
struct SetMatch {
    bool matched = false;
    size_t end = 0;
};
SetMatch MatchSetAt(std::string_view pattern, size_t open, char32_t c);

}  // namespace murako
