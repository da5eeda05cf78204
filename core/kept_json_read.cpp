#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include <sys/stat.h>

#include <rapidjson/error/en.h>
#include <rapidjson/filereadstream.h>
#include <rapidjson/memorystream.h>
#include <rapidjson/reader.h>

#include "kept_json.h"
#include "path_text.h"

#ifdef _WIN32
#include "text.h"
#endif

namespace murako {

namespace {

// Names are a few kB at most; a string or a gap between values longer than this is no name but a broken or
// hostile file, which must not make the parser hold gigabytes before it can tell.
constexpr uint64_t kMostBytesBetweenValues = 1 << 20;
constexpr uint64_t kProgressStep = 4 << 20;

// The parser's input, cut off where it has gone too long without a value and telling the bytes read.
template <typename Inner>
class GuardedStream {
public:
    using Ch = char;
    GuardedStream(Inner& inner, const ReadProgress& progress) : inner_(inner), progress_(progress) {}

    Ch Peek() const { return cut_ ? '\0' : inner_.Peek(); }
    RAPIDJSON_FORCEINLINE Ch Take()
    {
        if (cut_ || ++sinceValue_ > kMostBytesBetweenValues) {
            cut_ = true;
            return '\0';
        }
        return inner_.Take();
    }
    size_t Tell() const { return inner_.Tell(); }

    void ValueSeen()
    {
        sinceValue_ = 0;
        if (progress_ && inner_.Tell() >= nextProgress_) {
            progress_(inner_.Tell());
            nextProgress_ = inner_.Tell() + kProgressStep;
        }
    }
    bool Cut() const { return cut_; }
    bool AtEnd() const { return inner_.Peek() == '\0'; }

    // Never written to.
    Ch* PutBegin() { return nullptr; }
    void Put(Ch) {}
    void Flush() {}
    size_t PutEnd(Ch*) { return 0; }

private:
    Inner& inner_;
    const ReadProgress& progress_;
    uint64_t sinceValue_ = 0;
    uint64_t nextProgress_ = kProgressStep;
    bool cut_ = false;
};

enum class InfoKey { Name, Asize, Dsize, Dev, Ino, Nlink, Hlnkc, ReadError, Notreg, Excluded, Failure, Other };

InfoKey KeyOf(std::string_view key)
{
    static constexpr std::pair<std::string_view, InfoKey> known[] = {
        {"name", InfoKey::Name},   {"asize", InfoKey::Asize},          {"dsize", InfoKey::Dsize},   {"dev", InfoKey::Dev},
        {"ino", InfoKey::Ino},     {"nlink", InfoKey::Nlink},          {"hlnkc", InfoKey::Hlnkc},   {"read_error", InfoKey::ReadError},
        {"notreg", InfoKey::Notreg}, {"excluded", InfoKey::Excluded}, {kFailureKey, InfoKey::Failure},
    };
    for (const auto& [text, value] : known)
        if (text == key)
            return value;
    return InfoKey::Other;
}

constexpr uint64_t kLargestSize = std::numeric_limits<int64_t>::max();

// One info object as read so far.
struct Info {
    std::string name;
    bool named = false;
    uint64_t asize = 0;
    uint64_t dsize = 0;
    std::optional<uint64_t> dev;
    uint64_t ino = 0;
    uint64_t nlink = 0;
    bool hlnkc = false;
    bool readError = false;
    bool notreg = false;
    bool excluded = false;
    std::string failure;
};

// A directory whose array is open: what it holds so far.
struct OpenDirectory {
    std::string name;
    DirectoryIdentity identity;
    int64_t ownOnDisk = 0;
    ReadFailure failure = ReadFailure::None;
    KeptFilesWriter files;
    std::vector<KeptDirectory*> subdirectories;
};

// Builds the tree from the info objects and the directories' ends in the order of the file, one open directory
// per level of the file, never by recursion.
class TreeBuilder {
public:
    // Each gives nullptr when done, else why not.
    const char* OpenDirectory(const Info& info)
    {
        if (const char* problem = Named(info))
            return problem;
        const bool top = depth_ == 0;
        if (top)
            tree_ = std::make_unique<KeptTree>(info.name);
        // Each level's record is used again, and with it the room its files have grown to, which AddListed
        // left empty.
        if (depth_ == open_.size())
            open_.emplace_back();
        murako::OpenDirectory& dir = open_[depth_];
        dir.name = top ? LastPathName(info.name) : info.name;
        dir.identity = {info.dev.value_or(top ? 0 : open_[depth_ - 1].identity.device), info.ino};
        dir.ownOnDisk = static_cast<int64_t>(info.dsize);
        dir.failure = !info.readError           ? ReadFailure::None
                      : info.failure.empty()    ? ReadFailure::Other
                                                : FailureFromWord(info.failure);
        dir.subdirectories.clear();
        ++depth_;
        if (info.excluded)
            notEnteredFrom_.push_back(depth_);
        return nullptr;
    }

    // A file, or a place not entered, of the innermost open directory.
    const char* AddEntry(const Info& info)
    {
        if (const char* problem = Named(info))
            return problem;
        murako::OpenDirectory& dir = open_[depth_ - 1];
        if (info.excluded) {
            KeptDirectory* place = tree_->AddListed(info.name, {dir.identity.device, 0}, {}, {}, 0);
            place->flags |= KeptDirectory::PseudoFileSystem;
            dir.subdirectories.push_back(place);
            return nullptr;
        }
        std::optional<FileFacts> facts;
        if (!info.readError) {
            FileFacts known;
            known.length = static_cast<int64_t>(info.asize);
            known.onDisk = static_cast<int64_t>(info.dsize);
            known.regular = !info.notreg;
            if (info.hlnkc || info.nlink > 1) {
                known.inode = info.ino;
                known.links = static_cast<uint32_t>(
                    std::clamp<uint64_t>(info.nlink, 2, std::numeric_limits<uint32_t>::max()));
            }
            facts = known;
        }
        dir.files.Add(info.name, facts);
        return nullptr;
    }

    // The innermost open directory ends; false when it was the top one.
    bool CloseDirectory()
    {
        murako::OpenDirectory& open = open_[depth_ - 1];
        KeptDirectory* dir =
            tree_->AddListed(open.name, open.identity, std::move(open.files), open.subdirectories, open.ownOnDisk);
        dir->failure = open.failure;
        if (!notEnteredFrom_.empty() && notEnteredFrom_.back() == depth_) {
            dir->flags |= KeptDirectory::PseudoFileSystem;
            notEnteredFrom_.pop_back();
        }
        if (--depth_ == 0) {
            tree_->SetBase(*dir);
            return false;
        }
        open_[depth_ - 1].subdirectories.push_back(dir);
        return true;
    }

    // The tree once its top directory has ended, completed; else nullptr.
    std::unique_ptr<KeptTree> Finish()
    {
        if (!tree_ || !tree_->Base() || depth_ > 0)
            return nullptr;
        tree_->Complete();
        return std::move(tree_);
    }

private:
    const char* Named(const Info& info) const
    {
        if (!info.named)
            return "an entry without a name";
        if (info.name.empty() && depth_ > 0)
            return "an entry with an empty name";
        if (depth_ > 0 && info.name.find('/') != std::string::npos)
            return "an entry whose name holds a \"/\"";
        return nullptr;
    }

    std::vector<murako::OpenDirectory> open_;  // the first depth_ are open
    size_t depth_ = 0;
    std::vector<size_t> notEnteredFrom_;  // the depths of open directories marked excluded
    std::unique_ptr<KeptTree> tree_;
};

// Reads the parser's events into a TreeBuilder, telling what is wrong with the file, and where, when it is.
template <typename Stream>
class TreeReader {
public:
    explicit TreeReader(Stream& stream) : stream_(stream) {}

    const std::string& Problem() const { return problem_; }
    std::unique_ptr<KeptTree> Finish()
    {
        std::unique_ptr<KeptTree> tree = expect_ == Expect::Done ? builder_.Finish() : nullptr;
        if (!tree)
            problem_ = "the file ends before its directory does";
        return tree;
    }

    bool Null() { return Scalar("null"); }
    bool Bool(bool value)
    {
        Seen();
        if (Skipping())
            return true;
        if (!inInfo_)
            return Fail(Misplaced("true or false"));
        switch (key_) {
        case InfoKey::Hlnkc: info_.hlnkc = value; break;
        case InfoKey::ReadError: info_.readError = value; break;
        case InfoKey::Notreg: info_.notreg = value; break;
        case InfoKey::Other: break;
        default: return Fail("\"" + keyText_ + "\" is not true or false");
        }
        return true;
    }
    bool Int(int value) { return value < 0 ? Negative() : Number(static_cast<uint64_t>(value)); }
    bool Uint(unsigned value) { return Number(value); }
    bool Int64(int64_t value) { return value < 0 ? Negative() : Number(static_cast<uint64_t>(value)); }
    bool Uint64(uint64_t value) { return Number(value); }
    bool Double(double) { return Scalar("a number that is not whole or too large"); }
    bool RawNumber(const char*, rapidjson::SizeType, bool) { return Scalar("a number"); }
    bool String(const char* text, rapidjson::SizeType length, bool)
    {
        Seen();
        if (Skipping() || (inInfo_ && key_ == InfoKey::Other))
            return true;
        if (!inInfo_)
            return Fail(Misplaced("a string"));
        switch (key_) {
        case InfoKey::Name:
            info_.name.assign(text, length);
            info_.named = true;
            return true;
        case InfoKey::Excluded:
            info_.excluded = true;
            return true;
        case InfoKey::Failure:
            info_.failure.assign(text, length);
            return true;
        default: return Fail("\"" + keyText_ + "\" is a string");
        }
    }
    bool Key(const char* text, rapidjson::SizeType length, bool)
    {
        Seen();
        if (!Skipping()) {
            keyText_.assign(text, std::min<size_t>(length, 64));
            key_ = KeyOf({text, length});
        }
        return true;
    }
    bool StartObject()
    {
        Seen();
        if (StartsSkipped())
            return true;
        switch (expect_) {
        case Expect::Metadata:
            ++skipping_;
            expect_ = Expect::TopDirectory;
            return true;
        case Expect::DirectoryInfo:
        case Expect::Entry:
            if (inInfo_)
                return Fail("\"" + keyText_ + "\" is an object");
            inInfo_ = true;
            info_ = Info{};
            key_ = InfoKey::Other;
            return true;
        default: return Fail(Misplaced("an object"));
        }
    }
    bool EndObject(rapidjson::SizeType)
    {
        Seen();
        if (EndsSkipped())
            return true;
        inInfo_ = false;
        key_ = InfoKey::Other;
        const bool directory = expect_ == Expect::DirectoryInfo;
        expect_ = Expect::Entry;
        if (const char* problem = directory ? builder_.OpenDirectory(info_) : builder_.AddEntry(info_))
            return Fail(problem);
        return true;
    }
    bool StartArray()
    {
        Seen();
        if (StartsSkipped())
            return true;
        if (inInfo_)
            return Fail("\"" + keyText_ + "\" is an array");
        switch (expect_) {
        case Expect::Outer: expect_ = Expect::Major; return true;
        case Expect::TopDirectory:
        case Expect::Entry: expect_ = Expect::DirectoryInfo; return true;
        default: return Fail(Misplaced("an array"));
        }
    }
    bool EndArray(rapidjson::SizeType)
    {
        Seen();
        if (EndsSkipped())
            return true;
        switch (expect_) {
        case Expect::Entry:
            if (!builder_.CloseDirectory())
                expect_ = Expect::AfterTop;
            return true;
        case Expect::AfterTop: expect_ = Expect::Done; return true;
        case Expect::DirectoryInfo: return Fail("a directory without its info object");
        default: return Fail("the file ends before its directory does");
        }
    }

private:
    enum class Expect { Outer, Major, Minor, Metadata, TopDirectory, DirectoryInfo, Entry, AfterTop, Done };

    void Seen() { stream_.ValueSeen(); }
    bool Skipping() const { return skipping_ > 0; }
    // Whether the array or object that starts is read past: within the metadata, or a field not used here.
    bool StartsSkipped()
    {
        if (!Skipping() && !(inInfo_ && key_ == InfoKey::Other))
            return false;
        ++skipping_;
        return true;
    }
    bool EndsSkipped()
    {
        if (!Skipping())
            return false;
        --skipping_;
        return true;
    }
    bool Fail(std::string problem)
    {
        problem_ = std::move(problem);
        return false;
    }
    std::string Misplaced(const std::string& what) const
    {
        switch (expect_) {
        case Expect::Outer: return "the file is not an array";
        case Expect::Major: return "the major version is " + what;
        case Expect::Minor: return "the minor version is " + what;
        case Expect::Metadata: return "the metadata is " + what + ", not an object";
        case Expect::TopDirectory: return "the directory at the top is " + what + ", not an array";
        case Expect::DirectoryInfo: return "a directory begins with " + what + ", not its info object";
        case Expect::AfterTop: return "more than one directory at the top";
        default: return what + " where an entry belongs";
        }
    }
    // Any value but a number or a known key's string or truth.
    bool Scalar(const std::string& what)
    {
        Seen();
        if (Skipping() || (inInfo_ && key_ == InfoKey::Other))
            return true;
        return Fail(inInfo_ ? "\"" + keyText_ + "\" is " + what : Misplaced(what));
    }
    bool Negative()
    {
        Seen();
        if (Skipping() || (inInfo_ && key_ == InfoKey::Other))
            return true;
        return Fail(inInfo_ ? "\"" + keyText_ + "\" is negative" : Misplaced("a negative number"));
    }
    bool Number(uint64_t value)
    {
        Seen();
        if (Skipping())
            return true;
        if (!inInfo_) {
            if (expect_ == Expect::Major) {
                if (value != 1)
                    return Fail("major version " + std::to_string(value) + ", of which only 1 is known");
                expect_ = Expect::Minor;
                return true;
            }
            if (expect_ == Expect::Minor) {
                expect_ = Expect::Metadata;
                return true;
            }
            return Fail(Misplaced("a number"));
        }
        switch (key_) {
        case InfoKey::Asize:
        case InfoKey::Dsize:
            if (value > kLargestSize)
                return Fail("\"" + keyText_ + "\" is too large");
            (key_ == InfoKey::Asize ? info_.asize : info_.dsize) = value;
            return true;
        case InfoKey::Dev: info_.dev = value; return true;
        case InfoKey::Ino: info_.ino = value; return true;
        case InfoKey::Nlink: info_.nlink = value; return true;
        case InfoKey::Other: return true;
        default: return Fail("\"" + keyText_ + "\" is a number");
        }
    }

    Stream& stream_;
    Expect expect_ = Expect::Outer;
    size_t skipping_ = 0;  // depth within a value read past: the metadata, or a field this program does not use
    bool inInfo_ = false;
    InfoKey key_ = InfoKey::Other;
    std::string keyText_;
    Info info_;
    TreeBuilder builder_;
    std::string problem_;
};

// Reads a well-formed file fast, into a TreeBuilder: the file read in large pieces, each value read in place,
// strings copied once. It gives up at anything out of the ordinary (a fraction, an escaped surrogate, a string
// or a gap longer than its window, and any fault) for TreeReader to read the file again, as thoroughly as
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
              Peek() == '{' && SkipValue() && Take(',') && Peek() == '[' && Directories() && Take(']')))
            return nullptr;
        Peek();
        if (at_ != end_)
            return nullptr;
        return builder_.Finish();
    }

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

    // Any value, checked as strictly as TreeReader's parser would, without recursion.
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
            case InfoKey::Hlnkc: read = Truth(info_.hlnkc); break;
            case InfoKey::ReadError: read = Truth(info_.readError); break;
            case InfoKey::Notreg: read = Truth(info_.notreg); break;
            case InfoKey::Excluded: read = info_.excluded = Take('"') && String(scratch_); break;
            case InfoKey::Failure: read = Take('"') && String(info_.failure); break;
            case InfoKey::Other: read = SkipValue(); break;
            }
            if (!read)
                return false;
            const char next = Peek();
            ++at_;
            if (next == '}')
                return true;
            if (next != ',')
                return false;
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
    std::string scratch_;
    std::string skipped_;  // the containers a skipped value has open, innermost last
    TreeBuilder builder_;
};

template <typename Inner>
KeptJsonRead ReadThoroughly(Inner& inner, const ReadProgress& progress)
{
    GuardedStream<Inner> stream(inner, progress);
    TreeReader<GuardedStream<Inner>> handler(stream);
    rapidjson::Reader reader;
    const rapidjson::ParseResult parsed = reader.Parse<rapidjson::kParseIterativeFlag>(stream, handler);
    KeptJsonRead read;
    std::string problem;
    if (parsed) {
        read.tree = handler.Finish();
        problem = handler.Problem();
    } else if (stream.Cut()) {
        problem = "more than " + std::to_string(kMostBytesBetweenValues) + " bytes without a value, as no name is";
    } else if (parsed.Code() == rapidjson::kParseErrorTermination) {
        problem = handler.Problem();
    } else if (stream.AtEnd()) {
        problem = "the file ends before its JSON does";
    } else {
        problem = rapidjson::GetParseError_En(parsed.Code());
    }
    if (!read.tree)
        read.error = problem + " (at byte " + std::to_string(parsed ? stream.Tell() : parsed.Offset()) + ")";
    return read;
}

// The quick reading, or where it gives up, the thorough one from the start.
template <typename Fill, typename Thorough>
KeptJsonRead ReadQuicklyOrThoroughly(Fill& fill, const ReadProgress& progress, const ReadPieces& pieces,
                                     Thorough&& thorough)
{
    if (std::unique_ptr<KeptTree> tree = QuickReader<Fill>(fill, progress, pieces).Read())
        return {std::move(tree), {}, true};
    return thorough();
}

// Whether in is a file on disk, which can be read again from where it is.
bool ReadableAgain(std::FILE* in)
{
#ifdef _WIN32
    struct _stat64 status;
    return _fstat64(_fileno(in), &status) == 0 && (status.st_mode & _S_IFMT) == _S_IFREG && std::ftell(in) >= 0;
#else
    struct stat status;
    return fstat(fileno(in), &status) == 0 && S_ISREG(status.st_mode) && std::ftell(in) >= 0;
#endif
}

KeptJsonRead ReadFileThoroughly(std::FILE* in, const ReadProgress& progress)
{
    std::vector<char> buffer(1 << 16);
    rapidjson::FileReadStream file(in, buffer.data(), buffer.size());
    return ReadThoroughly(file, progress);
}

}  // namespace

KeptJsonRead ReadKeptJson(std::string_view text, const ReadProgress& progress, const ReadPieces& pieces)
{
    size_t read = 0;
    auto fill = [&](char* into, size_t most) {
        const size_t bytes = std::min(most, text.size() - read);
        std::memcpy(into, text.data() + read, bytes);
        read += bytes;
        return bytes;
    };
    return ReadQuicklyOrThoroughly(fill, progress, pieces, [&] {
        rapidjson::MemoryStream memory(text.data(), text.size());
        return ReadThoroughly(memory, progress);
    });
}

KeptJsonRead ReadKeptJsonFile(std::FILE* in, const ReadProgress& progress)
{
    KeptJsonRead read;
    if (ReadableAgain(in)) {
        const long start = std::ftell(in);
        auto fill = [&](char* into, size_t most) { return std::fread(into, 1, most, in); };
        read = ReadQuicklyOrThoroughly(fill, progress, {}, [&] {
            std::clearerr(in);
            return std::fseek(in, start, SEEK_SET) == 0 ? ReadFileThoroughly(in, progress)
                                                         : KeptJsonRead{nullptr, "the file could not be read again"};
        });
    } else {
        read = ReadFileThoroughly(in, progress);
    }
    if (std::ferror(in)) {
        read.tree.reset();
        read.error = "the file could not be read to its end";
    }
    return read;
}
KeptJsonRead OpenKeptJson(const std::string& path, const ReadProgress& progress)
{
    if (path == "-")
        return ReadKeptJsonFile(stdin, progress);
#ifdef _WIN32
    std::FILE* in = _wfopen(reinterpret_cast<const wchar_t*>(Utf16FromWtf8(path).c_str()), L"rb");
#else
    std::FILE* in = std::fopen(path.c_str(), "rb");
#endif
    if (!in)
        return {nullptr, path + ": " + std::strerror(errno)};
    KeptJsonRead read = ReadKeptJsonFile(in, progress);
    std::fclose(in);
    return read;
}

}  // namespace murako
