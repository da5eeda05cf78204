#include "exclude_patterns.h"

#include <algorithm>
#include <span>

#include "shell_pattern.h"

namespace murako {

namespace {

// One piece of a pattern: "*", "?", a set, or a plain byte (an escaped one without its "\").
struct Piece {
    enum class Kind : uint8_t { Star, Any, Set, Plain };
    Kind kind;
    unsigned char byte = 0;  // of a plain piece
    size_t at = 0;           // where it begins in the pattern
};

std::vector<Piece> PiecesOf(std::string_view pattern)
{
    std::vector<Piece> pieces;
    for (size_t at = 0; at < pattern.size(); ++at) {
        const size_t begin = at;
        if (pattern[at] == '*') {
            pieces.push_back({Piece::Kind::Star, 0, begin});
        } else if (pattern[at] == '?') {
            pieces.push_back({Piece::Kind::Any, 0, begin});
        } else if (pattern[at] == '[') {
            pieces.push_back({Piece::Kind::Set, 0, begin});
            at = MatchSetAt(pattern, at, 0).end - 1;
        } else {
            if (pattern[at] == '\\' && at + 1 < pattern.size())
                ++at;
            pieces.push_back({Piece::Kind::Plain, static_cast<unsigned char>(pattern[at]), begin});
        }
    }
    return pieces;
}

bool CanMatch(std::string_view pattern, const Piece& piece, char c)
{
    switch (piece.kind) {
    case Piece::Kind::Plain: return piece.byte == static_cast<unsigned char>(c);
    case Piece::Kind::Set: return MatchSetAt(pattern, piece.at, static_cast<unsigned char>(c)).matched;
    default: return true;
    }
}

// The bytes a piece matches where it matches characters of one byte only; nullopt where it can match longer.
std::optional<std::bitset<256>> OneByteClass(std::string_view pattern, const Piece& piece)
{
    std::bitset<256> bytes;
    if (piece.kind == Piece::Kind::Plain) {
        bytes.set(piece.byte);
        return bytes;
    }
    if (piece.kind != Piece::Kind::Set)
        return std::nullopt;
    const std::string_view inside = pattern.substr(piece.at + 1, MatchSetAt(pattern, piece.at, 0).end - piece.at - 2);
    // A set written in ASCII alone and not negated has no range reaching past ASCII.
    if (inside.front() == '!' || inside.front() == '^' ||
        std::any_of(inside.begin(), inside.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; }))
        return std::nullopt;
    for (char32_t c = 0; c < 0x80; ++c)
        bytes.set(c, MatchSetAt(pattern, piece.at, c).matched);
    return bytes;
}

std::optional<std::vector<std::bitset<256>>> OneByteClasses(std::string_view pattern, std::span<const Piece> pieces)
{
    std::vector<std::bitset<256>> classes;
    for (const Piece& piece : pieces) {
        std::optional<std::bitset<256>> bytes = OneByteClass(pattern, piece);
        if (!bytes)
            return std::nullopt;
        classes.push_back(*bytes);
    }
    return classes;
}

// The plain bytes pieces begin with, up to one that is not plain or is the separator.
std::string PlainStart(std::span<const Piece> pieces, char separator)
{
    std::string plain;
    for (const Piece& piece : pieces) {
        if (piece.kind != Piece::Kind::Plain || piece.byte == static_cast<unsigned char>(separator))
            break;
        plain += static_cast<char>(piece.byte);
    }
    return plain;
}

std::string PlainEnd(std::span<const Piece> pieces, char separator)
{
    std::vector<Piece> reversed(pieces.rbegin(), pieces.rend());
    std::string plain = PlainStart(reversed, separator);
    std::reverse(plain.begin(), plain.end());
    return plain;
}

// The keys of pieces of a byte each, read from one end: every choice of a byte for each piece in turn, as long
// as the choices stay few; with a bit for each byte of them that stands for a set.
struct ExpandedKeys {
    std::vector<std::string> keys{std::string()};
    uint64_t fromSets = 0;
};
ExpandedKeys KeysOf(std::span<const Piece> pieces, const std::vector<std::bitset<256>>& classes, bool fromEnd)
{
    constexpr size_t kMostKeys = 64;
    ExpandedKeys expanded;
    for (size_t depth = 0; depth < classes.size() && depth < 64; ++depth) {
        const size_t piece = fromEnd ? classes.size() - 1 - depth : depth;
        if (expanded.keys.size() * classes[piece].count() > kMostKeys)
            break;
        std::string bytes;
        for (size_t byte = 0; byte < 256; ++byte)
            if (classes[piece].test(byte))
                bytes += static_cast<char>(byte);
        std::vector<std::string> longer;
        for (const std::string& key : expanded.keys)
            for (const char byte : bytes)
                longer.push_back(fromEnd ? byte + key : key + byte);
        expanded.keys = std::move(longer);
        if (pieces[piece].kind == Piece::Kind::Set)
            expanded.fromSets |= uint64_t{1} << depth;
    }
    return expanded;
}

// Whether classes, a byte each, match the end (or the start) of text; nullopt where a byte of more than ASCII
// is met before a mismatch, as a character of several bytes could then shift what each piece takes.
std::optional<bool> BytesMatch(const std::vector<std::bitset<256>>& classes, std::string_view text, bool atEnd)
{
    if (text.size() < classes.size())
        return atEnd ? std::optional(false) : std::nullopt;
    const size_t from = atEnd ? text.size() - classes.size() : 0;
    for (size_t i = 0; i < classes.size(); ++i) {
        const size_t piece = atEnd ? classes.size() - 1 - i : i;
        const auto byte = static_cast<unsigned char>(text[from + piece]);
        if (byte >= 0x80)
            return std::nullopt;
        if (!classes[piece].test(byte))
            return false;
    }
    return true;
}

}  // namespace

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
        made.Add(pattern);
    }
    return made;
}

void ExcludePatterns::Add(std::string_view text)
{
    const std::vector<Piece> pieces = PiecesOf(text);
    const auto isStar = [](const Piece& piece) { return piece.kind == Piece::Kind::Star; };
    const auto firstStar = std::find_if(pieces.begin(), pieces.end(), isStar);
    const auto afterStars = std::find_if(pieces.rbegin(), pieces.rend(), isStar).base();
    const bool oneRunOfStars = std::all_of(firstStar, afterStars, isStar);
    const bool withinNames = std::none_of(pieces.begin(), pieces.end(), [&](const Piece& piece) {
        return !isStar(piece) && CanMatch(text, piece, separator_);
    });
    const std::span<const Piece> before(pieces.begin(), firstStar);
    const std::span<const Piece> after(afterStars, pieces.end());
    const auto index = static_cast<uint32_t>(patterns_.size());
    Pattern& pattern = patterns_.emplace_back();
    pattern.text = text;
    pattern.plainStart = PlainStart(pieces, '\0');
    const auto candidate = [this, index](KeyTrie& trie, const std::string& key, Check check) {
        trie.Add(key, static_cast<uint32_t>(candidates_.size()));
        candidates_.push_back({check, index});
    };
    // Pieces of a byte each are looked for by every byte they can be, so that "*.sw[a-p]" costs a name
    // ending in none of them one look.
    const auto byBytes = [this, index](KeyTrie& trie, std::span<const Piece> pieces,
                                       const std::vector<std::bitset<256>>& classes, Check check) {
        const ExpandedKeys expanded = KeysOf(pieces, classes, check == Check::EndBytes);
        for (const std::string& key : expanded.keys)
            trie.Add(key, static_cast<uint32_t>(candidates_.size()), expanded.fromSets);
        candidates_.push_back({check, index});
    };
    if (!withinNames || !oneRunOfStars)
        return candidate(nameEnds_, PlainEnd(pieces, separator_), Check::Path);
    if (firstStar == pieces.end()) {
        const std::string plain = PlainStart(pieces, separator_);
        if (plain.size() == pieces.size()) {
            // An empty pattern matches no name, only an empty path.
            if (!plain.empty()) {
                plainNames_.insert(plain);
                plainNameEnds_.set(Ends(plain));
            }
            return;
        }
        const std::string plainEnd = PlainEnd(pieces, separator_);
        return plainEnd.empty() ? candidate(nameStarts_, plain, Check::Name)
                                : candidate(nameEnds_, plainEnd, Check::Name);
    }
    pattern.firstStar = firstStar->at;
    pattern.lastStar = std::prev(afterStars)->at;
    if (!before.empty())
        directoryStarts_.Add(PlainStart(before, separator_), index);
    if (!before.empty() && !after.empty()) {
        const std::string plainEnd = PlainEnd(after, separator_);
        return plainEnd.empty() ? candidate(nameStarts_, PlainStart(before, separator_), Check::Name)
                                : candidate(nameEnds_, plainEnd, Check::Name);
    }
    const std::span<const Piece> side = before.empty() ? after : before;
    if (std::optional<std::vector<std::bitset<256>>> bytes = OneByteClasses(text, side)) {
        pattern.bytes = std::move(*bytes);
        return before.empty() ? byBytes(nameEnds_, side, pattern.bytes, Check::EndBytes)
                              : byBytes(nameStarts_, side, pattern.bytes, Check::StartBytes);
    }
    if (before.empty())
        return candidate(nameEnds_, PlainEnd(after, separator_), Check::Name);
    candidate(nameStarts_, PlainStart(before, separator_), Check::Name);
}

ExcludePatterns::InDirectory ExcludePatterns::In(std::string_view path) const
{
    return InDirectory(*this, path, path.empty() || path.back() != separator_);
}

bool ExcludePatterns::Excludes(std::string_view path) const
{
    const size_t lastSeparator = path.rfind(separator_);
    const size_t namesAt = lastSeparator == std::string_view::npos ? 0 : lastSeparator + 1;
    return InDirectory(*this, path.substr(0, namesAt), false).Excludes(path.substr(namesAt));
}

bool ExcludePatterns::MatchesPathOrTail(const Pattern& pattern, std::string_view path) const
{
    if (path.starts_with(pattern.plainStart) && PatternMatches(pattern.text, path))
        return true;
    // A leading "*" takes whatever comes before a tail, so a pattern that matches none of the path matches
    // none of its tails: a deep path costs its length, not its length times its depth.
    if (pattern.firstStar == 0)
        return false;
    for (size_t at = path.find(separator_); at != std::string_view::npos; at = path.find(separator_, at + 1)) {
        const std::string_view tail = path.substr(at + 1);
        if (!tail.empty() && tail.front() != separator_ && tail.starts_with(pattern.plainStart) &&
            PatternMatches(pattern.text, tail))
            return true;
    }
    return false;
}

ExcludePatterns::InDirectory::InDirectory(const ExcludePatterns& patterns, std::string_view path, bool withSeparator)
    : patterns_(&patterns), directory_(path), withSeparator_(withSeparator)
{
    const char separator = patterns.separator_;
    // The path itself and what follows each separator, as tails are tried (one that begins with a separator
    // cannot match a part before "*", which matches none). A tail is tried without the separator that may
    // follow it: such a part ends before it.
    for (size_t start = 0; start < directory_.size() && !excludesAll_;) {
        TryDirectoryTail(directory_.substr(start));
        const size_t end = directory_.find(separator, start);
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
}

const std::string& ExcludePatterns::InDirectory::PathOf(std::string_view name)
{
    if (namesAt_ == std::string::npos) {
        path_.assign(directory_);
        if (withSeparator_)
            path_ += patterns_->separator_;
        namesAt_ = path_.size();
    }
    path_.resize(namesAt_);
    return path_.append(name);
}

void ExcludePatterns::InDirectory::TryDirectoryTail(std::string_view tail)
{
    patterns_->directoryStarts_.Walk(tail, [&](uint32_t index) {
        const Pattern& pattern = patterns_->patterns_[index];
        // Its part before "*" lies within the tail's first name, which a separator ends: the names listed here
        // cannot change whether it matches.
        if (!PatternMatches(std::string_view(pattern.text).substr(0, pattern.firstStar + 1), tail))
            return false;
        excludesAll_ = excludesAll_ || pattern.lastStar + 1 == pattern.text.size();
        if (std::find(reaching_.begin(), reaching_.end(), index) == reaching_.end())
            reaching_.push_back(index);
        return excludesAll_;
    });
}

bool ExcludePatterns::InDirectory::Excludes(std::string_view name)
{
    if (excludesAll_)
        return true;
    if (name.empty()) {
        // Only a whole path that ends in a separator has no name: every pattern is tried on it as it is.
        const std::string& path = PathOf(name);
        return std::any_of(patterns_->patterns_.begin(), patterns_->patterns_.end(),
                           [&](const Pattern& pattern) { return patterns_->MatchesPathOrTail(pattern, path); });
    }
    if (patterns_->IsPlainName(name))
        return true;
    for (const uint32_t index : reaching_) {
        const Pattern& pattern = patterns_->patterns_[index];
        if (PatternMatches(std::string_view(pattern.text).substr(pattern.lastStar), name))
            return true;
    }
    const auto passes = [&](uint32_t candidate) { return Passes(patterns_->candidates_[candidate], name); };
    return patterns_->nameEnds_.Walk(name, passes) || patterns_->nameStarts_.Walk(name, passes);
}

bool ExcludePatterns::InDirectory::Passes(const Candidate& candidate, std::string_view name)
{
    const Pattern& pattern = patterns_->patterns_[candidate.pattern];
    switch (candidate.check) {
    case Check::EndBytes:
    case Check::StartBytes:
        if (const std::optional<bool> sure = BytesMatch(pattern.bytes, name, candidate.check == Check::EndBytes))
            return *sure;
        return PatternMatches(pattern.text, name);
    case Check::Name: return PatternMatches(pattern.text, name);
    case Check::Path: return patterns_->MatchesPathOrTail(pattern, PathOf(name));
    }
    return false;
}

}  // namespace murako
