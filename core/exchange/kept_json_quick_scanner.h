#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>

#include "kept_json_builder.h"
#include "kept_json_tokens.h"

namespace murako::kept_json {

// A file's bytes as the quick reader takes them: read in large pieces, a window of bytes kept ahead of each
// value, zeros behind the last.
template <typename Fill>  // size_t fill(char* into, size_t most): the bytes read, 0 at the end
class ReadWindow {
public:
    ReadWindow(Fill& fill, const ReadProgress& progress, const ReadPieces& pieces)
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

    Fill& fill_;
    const ReadProgress& progress_;
    const size_t window_;
    std::string buffer_;
    const char* at_ = nullptr;
    const char* end_ = nullptr;
    uint64_t offset_ = 0;  // of the buffer's first byte in the file
    bool ended_ = false;
};

// JSON's values read in place from the window, or skipped, without recursion.
template <typename Fill>  // size_t fill(char* into, size_t most): the bytes read, 0 at the end
class QuickScanner : protected ReadWindow<Fill> {
    using Window = ReadWindow<Fill>;

public:
    using Window::Window;

protected:
    using Window::at_;
    using Window::Peek;
    using Window::Take;

    // A whole number no larger than 19 digits hold: larger ones, negative ones and fractions are left to
    // TreeReader.
    bool Unsigned(uint64_t& value)
    {
        Peek();
        return ReadDigits(at_, value);
    }
    bool Signed(int64_t& value)
    {
        const bool negative = Peek() == '-';
        at_ += negative;
        uint64_t digits = 0;
        if (!ReadDigits(at_, digits) || digits > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()))
            return false;
        value = negative ? -static_cast<int64_t>(digits) : static_cast<int64_t>(digits);
        return true;
    }
    bool Truth(bool& value)
    {
        Peek();
        value = *at_ == 't';
        return value ? ReadWord(at_, "true") : ReadWord(at_, "false");
    }
    // A string's text, escapes decoded, after its opening quote; the string must end within the window.
    bool String(std::string& text) { return ReadString(at_, text); }
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
                if (!ReadDigits(at_, unused))
                    return false;
            } else if (!(c == 't'   ? ReadWord(at_, "true")
                         : c == 'f' ? ReadWord(at_, "false")
                                    : c == 'n' && ReadWord(at_, "null"))) {
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

    std::string scratch_;
    std::string skipped_;  // the containers a skipped value has open, innermost last
};

}  // namespace murako::kept_json
