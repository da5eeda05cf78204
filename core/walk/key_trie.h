#pragma once

#include <bitset>
#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

namespace murako {

// One bit for each pair of bytes, held on the heap: the walk's threads have small stacks, and a search's
// patterns are made on one of them.
class BytePairSet {
public:
    bool test(size_t pair) const { return (words_[pair / 64] >> (pair % 64)) & 1; }
    void set(size_t pair) { words_[pair / 64] |= uint64_t{1} << (pair % 64); }

private:
    std::vector<uint64_t> words_ = std::vector<uint64_t>((1 << 16) / 64);
};

// Byte keys, each with the values it leads to, read along a text from its start or from its end: the values
// of every key the text begins (or ends) with are visited, shortest key first. A text whose first byte begins
// no key costs one look into a table. A key may say of some of its bytes that they stand for a set of ASCII
// characters: where the text holds a byte beyond ASCII at such a place, a character of several bytes could be
// one of the set, so the value is visited there too, to be tried in full.
class KeyTrie {
public:
    enum class From : uint8_t { Start, End };

    explicit KeyTrie(From from) : from_(from) {}

    // key as the text holds it, whichever end it is read from; fromSets holds a bit for each byte of the key,
    // counted in reading order, that stands for a set.
    void Add(std::string_view key, uint32_t value, uint64_t fromSets = 0)
    {
        NoteFirstBytes(key, fromSets);
        uint32_t node = 0;
        for (size_t depth = 0; depth < key.size(); ++depth) {
            std::vector<uint32_t>& wild = nodes_[node].wild;
            if (depth < 64 && (fromSets >> depth & 1) && (wild.empty() || wild.back() != value))
                wild.push_back(value);
            const unsigned char byte = ByteAt(key, depth);
            uint32_t child = Child(node, byte);
            if (child == 0) {
                child = static_cast<uint32_t>(nodes_.size());
                nodes_.emplace_back();
                if (node == 0)
                    rootChildren_[byte] = child;
                else
                    nodes_[node].children.emplace_back(byte, child);
            }
            node = child;
        }
        nodes_[node].values.push_back(value);
    }

    // Visits the values of the keys text begins or ends with until visit returns true; whether it did.
    template <typename Visit>
    bool Walk(std::string_view text, Visit&& visit) const
    {
        return MayLead(text) && WalkAll(text, visit);
    }

private:
    // Whether the first two bytes of text lead anywhere, or its one byte.
    bool MayLead(std::string_view text) const
    {
        if (rootValues_)
            return true;
        if (text.size() < 2)
            return !text.empty() && firstByte_.test(ByteAt(text, 0));
        return firstTwo_.test(static_cast<size_t>(ByteAt(text, 0)) << 8 | ByteAt(text, 1));
    }

    void NoteFirstBytes(std::string_view key, uint64_t fromSets)
    {
        if (key.empty()) {
            rootValues_ = true;
            return;
        }
        const size_t first = ByteAt(key, 0);
        firstByte_.set(first);
        for (size_t other = 0; other < 256; ++other)
            if (key.size() == 1 || (other >= 0x80 && (fromSets >> 1 & 1)))
                firstTwo_.set(first << 8 | other);
        if (key.size() > 1)
            firstTwo_.set(first << 8 | ByteAt(key, 1));
        // A set at the key's first byte: any text that begins beyond ASCII is walked.
        if ((fromSets & 1) && !beyondAsciiWalked_) {
            beyondAsciiWalked_ = true;
            for (size_t byte = 0x80; byte < 256; ++byte) {
                firstByte_.set(byte);
                for (size_t second = 0; second < 256; ++second)
                    firstTwo_.set(byte << 8 | second);
            }
        }
    }

    template <typename Visit>
    bool WalkAll(std::string_view text, Visit&& visit) const
    {
        uint32_t node = 0;
        for (size_t depth = 0;; ++depth) {
            for (const uint32_t value : nodes_[node].values)
                if (visit(value))
                    return true;
            if (depth == text.size())
                return false;
            const unsigned char byte = ByteAt(text, depth);
            if (byte >= 0x80)
                for (const uint32_t value : nodes_[node].wild)
                    if (visit(value))
                        return true;
            node = Child(node, byte);
            if (node == 0)
                return false;
        }
    }

    struct Node {
        std::vector<std::pair<unsigned char, uint32_t>> children;  // few: looked through in turn
        std::vector<uint32_t> values;
        std::vector<uint32_t> wild;  // of keys whose next byte stands for a set
    };

    unsigned char ByteAt(std::string_view text, size_t depth) const
    {
        return static_cast<unsigned char>(from_ == From::Start ? text[depth] : text[text.size() - 1 - depth]);
    }

    uint32_t Child(uint32_t node, unsigned char byte) const
    {
        if (node == 0)
            return rootChildren_[byte];
        for (const auto& [key, child] : nodes_[node].children)
            if (key == byte)
                return child;
        return 0;
    }

    From from_;
    std::vector<Node> nodes_{1};  // the root first; no node is a child of another at 0, which means none
    std::vector<uint32_t> rootChildren_ = std::vector<uint32_t>(256);
    bool rootValues_ = false;      // some key is empty: every text is walked
    std::bitset<256> firstByte_;   // the bytes a text of one byte is walked for
    BytePairSet firstTwo_;         // and the first two bytes a longer one is
    bool beyondAsciiWalked_ = false;
};

}  // namespace murako
