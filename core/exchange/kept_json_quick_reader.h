#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "kept_json_quick_scanner.h"

namespace murako::kept_json {

// An info object read in place into an Info, each field checked as its value comes.
template <typename Fill>  // size_t fill(char* into, size_t most): the bytes read, 0 at the end
class QuickInfoFields : protected QuickScanner<Fill> {
    using Scanner = QuickScanner<Fill>;

public:
    using Scanner::Scanner;

protected:
    using Scanner::at_;
    using Scanner::Peek;
    using Scanner::Take;
    using Scanner::Unsigned;
    using Scanner::Signed;
    using Scanner::Truth;
    using Scanner::String;
    using Scanner::MemberEnded;
    using Scanner::SkipValue;

    // An info object's fields, after its opening brace.
    bool InfoObject()
    {
        info_.named = false;
        info_.asize = info_.dsize = info_.ino = info_.nlink = 0;
        info_.dev.reset();
        info_.mtime = kTimeUnknown;
        info_.hlnkc = info_.readError = info_.notreg = info_.excluded = info_.cutShort = info_.cache = false;
        info_.failure.clear();
        info_.fsType.clear();
        if (Peek() == '}') {
            ++at_;
            return true;
        }
        for (;;) {
            // The name is known before Take may read more bytes, and move those it lies in.
            std::string_view name;
            if (!Take('"') || !ReadPlainString(at_, name))
                return false;
            const InfoKey key = KeyOf(name);
            if (!Take(':'))
                return false;
            const bool read = Field(key);
            if (bool ended = false; !read || !MemberEnded(ended) || ended)
                return read && ended;
        }
    }

    Info info_;

private:
    // The value of the field key names.
    bool Field(InfoKey key)
    {
        switch (key) {
        case InfoKey::Name: info_.named = true; return Take('"') && String(info_.name);
        case InfoKey::Asize: return Unsigned(info_.asize) && info_.asize <= kLargestSize;
        case InfoKey::Dsize: return Unsigned(info_.dsize) && info_.dsize <= kLargestSize;
        case InfoKey::Dev: return Unsigned(info_.dev.emplace());
        case InfoKey::Ino: return Unsigned(info_.ino);
        case InfoKey::Nlink: return Unsigned(info_.nlink);
        case InfoKey::Mtime: return Signed(info_.mtime);
        case InfoKey::Hlnkc: return Truth(info_.hlnkc);
        case InfoKey::ReadError: return Truth(info_.readError);
        case InfoKey::Notreg: return Truth(info_.notreg);
        case InfoKey::Excluded: return info_.excluded = Take('"') && String(info_.excludedWhy);
        case InfoKey::Failure: return Take('"') && String(info_.failure);
        case InfoKey::CutShort: return Truth(info_.cutShort);
        case InfoKey::Cache: return Truth(info_.cache);
        case InfoKey::FsType: return Take('"') && String(info_.fsType);
        case InfoKey::Other: return SkipValue();
        }
        return false;
    }
};

// Reads a well-formed file fast, into a TreeBuilder: the file read in large pieces, each value read in place,
// strings copied once. It gives up at anything out of the ordinary (a fraction, an escaped surrogate, a string
// or a gap longer than its window, and any fault) for the thorough reader to read the file again, as thoroughly as
// ever, and tell what is wrong and where.
template <typename Fill>  // size_t fill(char* into, size_t most): the bytes read, 0 at the end
class QuickReader : private QuickInfoFields<Fill> {
    using Fields = QuickInfoFields<Fill>;

public:
    using Fields::Fields;

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
    using Fields::at_;
    using Fields::end_;
    using Fields::buffer_;
    using Fields::scratch_;
    using Fields::info_;
    using Fields::Refill;
    using Fields::Peek;
    using Fields::Take;
    using Fields::Unsigned;
    using Fields::Truth;
    using Fields::String;
    using Fields::Member;
    using Fields::MemberEnded;
    using Fields::SkipValue;
    using Fields::InfoObject;

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
            } else if (scratch_ == kIncompleteKey && (Peek() == 't' || Peek() == 'f')) {
                bool incomplete = false;
                if (!Truth(incomplete))
                    return false;
                builder_.SetIncomplete(incomplete);
            } else if (scratch_ == kScopeKey && Peek() == '"') {
                std::string text;
                if (!Take('"') || !String(text))
                    return false;
                builder_.SetScopeText(text);
            } else if (!SkipValue()) {
                return false;
            }
            if (bool ended = false; !MemberEnded(ended) || ended)
                return ended;
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

    std::optional<int64_t> timestamp_;
    TreeBuilder builder_;
};

}  // namespace murako::kept_json
