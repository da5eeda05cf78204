#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>

#include "kept_json_builder.h"

namespace murako::kept_json {

// The escape at at, a backslash and what follows, decoded into text; at left after it. False at one out of the
// ordinary: an escaped surrogate, or an escape JSON has not.
inline bool ReadEscape(char*& at, std::string& text)
{
    static constexpr std::string_view from = "\"\\/bfnrt";
    static constexpr std::string_view to = "\"\\/\b\f\n\r\t";
    const char kind = at[1];
    at += 2;
    if (const size_t simple = from.find(kind); kind != '\0' && simple != std::string_view::npos) {
        text.push_back(to[simple]);
        return true;
    }
    if (kind != 'u')
        return false;
    unsigned code = 0;
    for (int i = 0; i < 4; ++i, ++at) {
        const char c = *at;
        const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10
                        : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
        if (digit < 0)
            return false;
        code = code * 16 + static_cast<unsigned>(digit);
    }
    if (code >= 0xd800 && code < 0xe000)
        return false;
    if (code < 0x80) {
        text.push_back(static_cast<char>(code));
    } else if (code < 0x800) {
        text.push_back(static_cast<char>(0xc0 | (code >> 6)));
        text.push_back(static_cast<char>(0x80 | (code & 0x3f)));
    } else {
        text.push_back(static_cast<char>(0xe0 | (code >> 12)));
        text.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3f)));
        text.push_back(static_cast<char>(0x80 | (code & 0x3f)));
    }
    return true;
}

// A file's bytes as the quick reader takes them: read in large pieces, a window of bytes kept ahead of each
// value, and JSON's values read in place, or skipped, without recursion.
template <typename Fill>  // size_t fill(char* into, size_t most): the bytes read, 0 at the end
class QuickScanner {
public:
    QuickScanner(Fill& fill, const ReadProgress& progress, const ReadPieces& pieces)
        : fill_(fill), progress_(progress), window_(pieces.window),
          // Zeros behind the bytes read stop every scan at the end, and let a word be compared whole.
          buffer_(std::max(pieces.buffer, 2 * pieces.window) + kPadding, '\0')
    {
    }

protected:
    static constexpr size_t kPadding = 8;

    // Keeps the bytes from at_ on, and reads more behind them.
    void Refill()
    {
        const size_t kept = static_cast<size_t>(end_ - at_);
        offset_ += static_cast<uint64_t>(at_ - buffer_.data());
        std::memmove(buffer_.data(), at_, kept);
        const size_t room = buffer_.size() - kPadding;
        size_t have = kept;
        while (have < room && !ended_) {
            const size_t got = fill_(buffer_.data() + have, room - have);
            ended_ = got == 0;
            have += got;
        }
        std::memset(buffer_.data() + have, 0, kPadding);
        at_ = buffer_.data();
        end_ = at_ + have;
        if (progress_ && offset_ > 0)
            progress_(offset_);
    }

    static bool Space(char c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t'; }

    // The next value's first byte, with a whole window of bytes behind it unless the file ends first; a zero
    // at the end, or after a gap longer than the window.
    char Peek()
    {
        const char* const gapStart = at_;
        const uint64_t gapOffset = offset_;
        for (;;) {
            while (Space(*at_))
                ++at_;
            if (ended_ || static_cast<size_t>(end_ - at_) >= window_)
                return *at_;
            if (offset_ + static_cast<uint64_t>(at_ - buffer_.data()) - gapOffset -
                    static_cast<uint64_t>(gapStart - buffer_.data()) > window_)
                return '\0';
            Refill();
        }
    }
    bool Take(char c)
    {
        if (Peek() != c)
            return false;
        ++at_;
        return true;
    }

    // A whole number no larger than 19 digits hold: larger ones, negative ones and fractions are left to
    // TreeReader.
    bool Unsigned(uint64_t& value)
    {
        Peek();
        return Digits(value);
    }
    bool Signed(int64_t& value)
    {
        const bool negative = Peek() == '-';
        at_ += negative;
        uint64_t digits = 0;
        if (!Digits(digits) || digits > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()))
            return false;
        value = negative ? -static_cast<int64_t>(digits) : static_cast<int64_t>(digits);
        return true;
    }
    bool Digits(uint64_t& value)
    {
        const char* digits = at_;
        value = 0;
        while (static_cast<unsigned char>(*at_ - '0') < 10)
            value = value * 10 + static_cast<unsigned char>(*at_++ - '0');
        const size_t count = static_cast<size_t>(at_ - digits);
        return count > 0 && count < 20 && (count == 1 || *digits != '0') && *at_ != '.' && *at_ != 'e' &&
               *at_ != 'E';
    }
    bool Word(std::string_view word)
    {
        if (std::memcmp(at_, word.data(), word.size()) != 0)
            return false;
        at_ += word.size();
        return true;
    }
    bool Truth(bool& value)
    {
        Peek();
        value = *at_ == 't';
        return value ? Word("true") : Word("false");
    }

    // A string's text, escapes decoded, after its opening quote; the string must end within the window.
    bool String(std::string& text)
    {
        text.clear();
        const char* run = at_;
        for (;;) {
            const auto c = static_cast<unsigned char>(*at_);
            if (c == '"') {
                text.append(run, static_cast<size_t>(at_ - run));
                ++at_;
                return true;
            }
            if (c == '\\') {
                text.append(run, static_cast<size_t>(at_ - run));
                if (!ReadEscape(at_, text))
                    return false;
                run = at_;
                continue;
            }
            if (c < 0x20)
                return false;  // the end of the bytes read, or a control character JSON does not allow
            ++at_;
        }
    }
    // After a member's value: whether its object ends there, else a comma must follow; false at anything else.
    bool MemberEnded(bool& ended)
    {
        const char next = Peek();
        ++at_;
        ended = next == '}';
        return ended || next == ',';
    }

    // Any value, checked as strictly as TreeReader's parser would, without recursion; one nested deeper than
    // TreeReader takes is left to it.
    bool SkipValue()
    {
        skipped_.clear();
        for (;;) {
            const char c = Peek();
            if (c == '{' || c == '[') {
                ++at_;
                if (Peek() == (c == '{' ? '}' : ']')) {
                    ++at_;
                } else {
                    if (skipped_.size() >= kMostUnusedNesting - 1)
                        return false;
                    skipped_.push_back(c);
                    if (c == '{' && !Member())
                        return false;
                    continue;
                }
            } else if (c == '"') {
                ++at_;
                if (!String(scratch_))
                    return false;
            } else if (c == '-' || (c >= '0' && c <= '9')) {
                uint64_t unused;
                at_ += c == '-';
                if (!Digits(unused))
                    return false;
            } else if (!(c == 't' ? Word("true") : c == 'f' ? Word("false") : c == 'n' && Word("null"))) {
                return false;
            }
            // The value has ended: the containers it ends.
            for (;;) {
                if (skipped_.empty())
                    return true;
                const char next = Peek();
                ++at_;
                if (next == ',') {
                    if (skipped_.back() == '{' && !Member())
                        return false;
                    break;
                }
                if (next != (skipped_.back() == '{' ? '}' : ']'))
                    return false;
                skipped_.pop_back();
            }
        }
    }
    // An object member's name and colon.
    bool Member() { return Take('"') && String(scratch_) && Take(':'); }

    Fill& fill_;
    const ReadProgress& progress_;
    const size_t window_;
    std::string buffer_;
    char* at_ = nullptr;
    char* end_ = nullptr;
    uint64_t offset_ = 0;  // of the buffer's first byte in the file
    bool ended_ = false;
    std::string scratch_;
    std::string skipped_;  // the containers a skipped value has open, innermost last
};

}  // namespace murako::kept_json
