#pragma once

#include <memory>
#include <optional>
#include <string>

#include "kept_json_quick_scanner.h"

namespace murako::kept_json {

// Reads a well-formed file fast, into a TreeBuilder: the file read in large pieces, each value read in place,
// strings copied once. It gives up at anything out of the ordinary (a fraction, an escaped surrogate, a string
// or a gap longer than its window, and any fault) for the thorough reader to read the file again, as thoroughly as
// ever, and tell what is wrong and where.
template <typename Fill>  // size_t fill(char* into, size_t most): the bytes read, 0 at the end
class QuickReader : private QuickScanner<Fill> {
    using Scanner = QuickScanner<Fill>;

public:
    QuickReader(Fill& fill, const ReadProgress& progress, const ReadPieces& pieces) : Scanner(fill, progress, pieces) {}

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
    using Scanner::at_;
    using Scanner::end_;
    using Scanner::buffer_;
    using Scanner::scratch_;
    using Scanner::Refill;
    using Scanner::Peek;
    using Scanner::Take;
    using Scanner::Unsigned;
    using Scanner::Signed;
    using Scanner::Truth;
    using Scanner::String;
    using Scanner::Member;
    using Scanner::MemberEnded;
    using Scanner::SkipValue;

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
            case InfoKey::Excluded: read = info_.excluded = Take('"') && String(info_.excludedWhy); break;
            case InfoKey::Failure: read = Take('"') && String(info_.failure); break;
            case InfoKey::CutShort: read = Truth(info_.cutShort); break;
            case InfoKey::Cache: read = Truth(info_.cache); break;
            case InfoKey::FsType: read = Take('"') && String(info_.fsType); break;
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

    Info info_;
    std::optional<int64_t> timestamp_;
    TreeBuilder builder_;
};

}  // namespace murako::kept_json
