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

// The bytes of a text that a pattern without "*" matches: a plain character takes one, "?" and a set one
// character, of one to four bytes.
struct PatternBytes {
    size_t least = 0;
    size_t most = 0;
};
// nullopt for a pattern with a "*".
std::optional<PatternBytes> BytesMatched(std::string_view pattern);

// Whether "*" followed by rest, which BytesMatched measured as bytes, matches the whole of text: only where rest
// can begin, within bytes of the text's end, is it tried, so that a long text costs no more than a short one.
bool StarThenMatches(std::string_view rest, PatternBytes bytes, std::string_view text);

}  // namespace murako
