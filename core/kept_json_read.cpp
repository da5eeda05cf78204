#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <vector>

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

// Builds the tree from the parser's events, one level of the file per open directory, never by recursion.
template <typename Stream>
class TreeReader {
public:
    explicit TreeReader(Stream& stream) : stream_(stream) {}

    const std::string& Problem() const { return problem_; }
    std::unique_ptr<KeptTree> Finish()
    {
        if (expect_ != Expect::Done || !tree_ || !tree_->Base()) {
            problem_ = "the file ends before its directory does";
            return nullptr;
        }
        tree_->Complete();
        return std::move(tree_);
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
        return expect_ == Expect::DirectoryInfo ? OpenDirectoryInfo() : AddEntry();
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
        case Expect::Entry: return CloseDirectory();
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
        constexpr auto kLargest = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
        switch (key_) {
        case InfoKey::Asize:
        case InfoKey::Dsize:
            if (value > kLargest)
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

    bool Named()
    {
        if (!info_.named)
            return Fail("an entry without a name");
        if (info_.name.empty() && !open_.empty())
            return Fail("an entry with an empty name");
        if (!open_.empty() && info_.name.find('/') != std::string::npos)
            return Fail("an entry whose name holds a \"/\"");
        return true;
    }

    bool OpenDirectoryInfo()
    {
        if (!Named())
            return false;
        OpenDirectory dir;
        if (open_.empty()) {
            tree_ = std::make_unique<KeptTree>(info_.name);
            dir.name = LastPathName(info_.name);
        } else {
            dir.name = std::move(info_.name);
        }
        dir.identity = {info_.dev.value_or(open_.empty() ? 0 : open_.back().identity.device), info_.ino};
        dir.ownOnDisk = static_cast<int64_t>(info_.dsize);
        if (info_.readError)
            dir.failure = info_.failure.empty() ? ReadFailure::Other : FailureFromWord(info_.failure);
        open_.push_back(std::move(dir));
        if (info_.excluded)
            notEnteredFrom_.push_back(open_.size());
        expect_ = Expect::Entry;
        return true;
    }

    // A file, or a place not entered, of the innermost open directory.
    bool AddEntry()
    {
        if (!Named())
            return false;
        OpenDirectory& dir = open_.back();
        if (info_.excluded) {
            KeptDirectory* place = tree_->AddListed(info_.name, {dir.identity.device, 0}, {}, {}, 0);
            place->flags |= KeptDirectory::PseudoFileSystem;
            dir.subdirectories.push_back(place);
            return true;
        }
        std::optional<FileFacts> facts;
        if (!info_.readError) {
            FileFacts known;
            known.length = static_cast<int64_t>(info_.asize);
            known.onDisk = static_cast<int64_t>(info_.dsize);
            known.regular = !info_.notreg;
            if (info_.hlnkc || info_.nlink > 1) {
                known.inode = info_.ino;
                known.links = static_cast<uint32_t>(
                    std::clamp<uint64_t>(info_.nlink, 2, std::numeric_limits<uint32_t>::max()));
            }
            facts = known;
        }
        dir.files.Add(info_.name, facts);
        return true;
    }

    bool CloseDirectory()
    {
        OpenDirectory& open = open_.back();
        KeptDirectory* dir =
            tree_->AddListed(open.name, open.identity, open.files, open.subdirectories, open.ownOnDisk);
        dir->failure = open.failure;
        if (!notEnteredFrom_.empty() && notEnteredFrom_.back() == open_.size()) {
            dir->flags |= KeptDirectory::PseudoFileSystem;
            notEnteredFrom_.pop_back();
        }
        open_.pop_back();
        if (open_.empty()) {
            tree_->SetBase(*dir);
            expect_ = Expect::AfterTop;
        } else {
            open_.back().subdirectories.push_back(dir);
        }
        return true;
    }

    Stream& stream_;
    Expect expect_ = Expect::Outer;
    size_t skipping_ = 0;  // depth within a value read past: the metadata, or a field this program does not use
    bool inInfo_ = false;
    InfoKey key_ = InfoKey::Other;
    std::string keyText_;
    Info info_;
    std::vector<OpenDirectory> open_;
    std::vector<size_t> notEnteredFrom_;  // the depths of open directories marked excluded
    std::unique_ptr<KeptTree> tree_;
    std::string problem_;
};

template <typename Inner>
KeptJsonRead Read(Inner& inner, const ReadProgress& progress)
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

}  // namespace

KeptJsonRead ReadKeptJson(std::string_view text, const ReadProgress& progress)
{
    rapidjson::MemoryStream memory(text.data(), text.size());
    return Read(memory, progress);
}

KeptJsonRead ReadKeptJsonFile(std::FILE* in, const ReadProgress& progress)
{
    std::vector<char> buffer(1 << 16);
    rapidjson::FileReadStream file(in, buffer.data(), buffer.size());
    KeptJsonRead read = Read(file, progress);
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
