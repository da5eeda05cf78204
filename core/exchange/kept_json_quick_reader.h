#pragma once

#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "kept_json_builder.h"

namespace murako::kept_json {

// Reads a well-formed file fast, into a TreeBuilder: the file read in large pieces, each value read in place,
// strings copied once. It gives up at anything out of the ordinary (a fraction, an escaped surrogate, a string
// or a gap longer than its window, and any fault) for the thorough reader to read the file again, as thoroughly as
// ever, and tell what is wrong and where.
template <typename Fill>  // size_t fill(char* into, size_t most): the bytes read, 0 at the end
class QuickReader {
public:
    QuickReader(Fill& fill, const ReadProgress& progress, const ReadPieces& pieces)
        : fill_(fill), progress_(progress), window_(pieces.window),
          // Zeros behind the bytes read stop every scan at the end, and let a word be compared whole.
          buffer_(std::max(pieces.buffer, 2 * pieces.window) + kPadding, '\0')
    {
    }

    // The tree, or nullptr when it gave up.
    std::unique_ptr<KeptTree> Read()
    {
        at_ = end_ = buffer_.data();
        Refill();
        uint64_t major = 0;
        uint64_t minor = 0;
        if (!(Take('[') && Unsigned(major) && major == 1 && Take(',') && Unsigned(minor) && Take(',') &&
              Take('{') && Metadata() && Take(',') && Peek() == '[' && Directories() && Take(']')))
            return nullptr;
        Peek();
        if (at_ != end_)
            return nullptr;
        return builder_.Finish();
    }
    // The metadata's timestamp, once Read gave a tree.
    std::optional<int64_t> Timestamp() const { return timestamp_; }

private:
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
                if (!Escape(text))
                    return false;
                run = at_;
                continue;
            }
            if (c < 0x20)
                return false;  // the end of the bytes read, or a control character JSON does not allow
            ++at_;
        }
    }
    bool Escape(std::string& text)
    {
        static constexpr std::string_view from = "\"\\/bfnrt";
        static constexpr std::string_view to = "\"\\/\b\f\n\r\t";
        const char kind = at_[1];
        at_ += 2;
        if (const size_t simple = from.find(kind); kind != '\0' && simple != std::string_view::npos) {
            text.push_back(to[simple]);
            return true;
        }
        if (kind != 'u')
            return false;
        unsigned code = 0;
        for (int i = 0; i < 4; ++i, ++at_) {
            const char c = *at_;
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

    // The metadata's members, after its opening brace: its timestamp read, the rest skipped.
    bool Metadata()
    {
        if (Peek() == '}') {
            ++at_;
            return true;
        }
        for (;;) {
            if (!Member())
                return false;
            if (scratch_ == "timestamp" && static_cast<unsigned char>(Peek() - '0') < 10) {
                uint64_t seconds = 0;
                if (!Unsigned(seconds) || seconds > kLargestSize)
                    return false;
                timestamp_ = static_cast<int64_t>(seconds);
            } else if (!SkipValue()) {
                return false;
            }
            if (bool ended = false; !MemberEnded(ended) || ended)
                return ended;
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

    // An info object's fields, after its opening brace.
    bool InfoObject()
    {
        info_.named = false;
        info_.asize = info_.dsize = info_.ino = info_.nlink = 0;
        info_.dev.reset();
        info_.mtime = kTimeUnknown;
        info_.hlnkc = info_.readError = info_.notreg = info_.excluded = false;
        info_.failure.clear();
        if (Peek() == '}') {
            ++at_;
            return true;
        }
        for (;;) {
            if (!Take('"'))
                return false;
            const char* name = at_;
            while (*at_ != '"' && *at_ != '\\' && static_cast<unsigned char>(*at_) >= 0x20)
                ++at_;
            if (*at_ != '"')
                return false;
            const InfoKey key = KeyOf({name, static_cast<size_t>(at_ - name)});
            ++at_;
            if (!Take(':'))
                return false;
            bool read = false;
            switch (key) {
            case InfoKey::Name:
                read = Take('"') && String(info_.name);
                info_.named = true;
                break;
            case InfoKey::Asize: read = Unsigned(info_.asize) && info_.asize <= kLargestSize; break;
            case InfoKey::Dsize: read = Unsigned(info_.dsize) && info_.dsize <= kLargestSize; break;
            case InfoKey::Dev: read = Unsigned(info_.dev.emplace()); break;
            case InfoKey::Ino: read = Unsigned(info_.ino); break;
            case InfoKey::Nlink: read = Unsigned(info_.nlink); break;
            case InfoKey::Mtime: read = Signed(info_.mtime); break;
            case InfoKey::Hlnkc: read = Truth(info_.hlnkc); break;
            case InfoKey::ReadError: read = Truth(info_.readError); break;
            case InfoKey::Notreg: read = Truth(info_.notreg); break;
            case InfoKey::Excluded: read = info_.excluded = Take('"') && String(scratch_); break;
            case InfoKey::Failure: read = Take('"') && String(info_.failure); break;
            case InfoKey::Other: read = SkipValue(); break;
            }
            if (bool ended = false; !read || !MemberEnded(ended) || ended)
                return read && ended;
        }
    }

    // The top directory's array and all within it, each directory as its info object comes.
    bool Directories()
    {
        size_t depth = 0;
        for (;;) {
            // At a directory's opening bracket.
            ++at_;
            if (!Take('{') || !InfoObject() || builder_.OpenDirectory(info_))
                return false;
            ++depth;
            for (;;) {
                const char next = Peek();
                ++at_;
                if (next == ']') {
                    builder_.CloseDirectory();
                    if (--depth == 0)
                        return true;
                    continue;
                }
                if (next != ',')
                    return false;
                const char entry = Peek();
                if (entry == '[')
                    break;
                if (entry != '{')
                    return false;
                ++at_;
                if (!InfoObject() || builder_.AddEntry(info_))
                    return false;
            }
        }
    }

    Fill& fill_;
    const ReadProgress& progress_;
    const size_t window_;
    std::string buffer_;
    char* at_ = nullptr;
    char* end_ = nullptr;
    uint64_t offset_ = 0;  // of the buffer's first byte in the file
    bool ended_ = false;
    Info info_;
    std::optional<int64_t> timestamp_;
    std::string scratch_;
    std::string skipped_;  // the containers a skipped value has open, innermost last
    TreeBuilder builder_;
};

}  // namespace murako::kept_json
