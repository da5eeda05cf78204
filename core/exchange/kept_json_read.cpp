#include <algorithm>
#include <cerrno>
#include <cmath>
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
#include "kept_json_builder.h"
#include "kept_json_guarded_stream.h"
#include "kept_json_quick_reader.h"
#include "path_text.h"
#include "size_units.h"

#ifdef _WIN32
#include "text.h"
#endif

namespace murako {

namespace {

using namespace kept_json;

// Reads the parser's events into a TreeBuilder, telling what is wrong with the file, and where, when it is.
template <typename Stream>
class TreeReader {
public:
    explicit TreeReader(Stream& stream) : stream_(stream) {}

    const Failure& Problem() const { return problem_; }
    std::optional<int64_t> Timestamp() const { return timestamp_; }
    std::unique_ptr<KeptTree> Finish()
    {
        std::unique_ptr<KeptTree> tree = expect_ == Expect::Done ? builder_.Finish() : nullptr;
        if (!tree)
            problem_ = {Reason::EndsBeforeDirectory, {}, {}};
        return tree;
    }

    bool Null() { return Scalar(); }
    bool Bool(bool value)
    {
        Seen();
        if (Skipping())
            return true;
        if (!inInfo_)
            return Fail(Misplaced());
        switch (key_) {
        case InfoKey::Hlnkc: info_.hlnkc = value; break;
        case InfoKey::ReadError: info_.readError = value; break;
        case InfoKey::Notreg: info_.notreg = value; break;
        case InfoKey::Other: break;
        default: return Fail(Field(Reason::FieldOfWrongKind));
        }
        return true;
    }
    bool Int(int value) { return value < 0 ? Negative(value) : Number(static_cast<uint64_t>(value)); }
    bool Uint(unsigned value) { return Number(value); }
    bool Int64(int64_t value) { return value < 0 ? Negative(value) : Number(static_cast<uint64_t>(value)); }
    bool Uint64(uint64_t value) { return Number(value); }
    bool Double(double value)
    {
        // A time with a fraction counts in its whole second; one beyond any clock's is unknown.
        if (inInfo_ && key_ == InfoKey::Mtime && !Skipping()) {
            Seen();
            if (std::isfinite(value) && std::fabs(value) < 1e18)
                info_.mtime = static_cast<ModifiedTime>(std::floor(value));
            return true;
        }
        return Scalar();
    }
    bool RawNumber(const char*, rapidjson::SizeType, bool) { return Scalar(); }
    bool String(const char* text, rapidjson::SizeType length, bool)
    {
        Seen();
        if (Skipping() || (inInfo_ && key_ == InfoKey::Other))
            return true;
        if (!inInfo_)
            return Fail(Misplaced());
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
        default: return Fail(Field(Reason::FieldOfWrongKind));
        }
    }
    bool Key(const char* text, rapidjson::SizeType length, bool)
    {
        Seen();
        timestampNext_ = inMetadata_ && skipping_ == 1 && std::string_view(text, length) == "timestamp";
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
            return skipping_ <= kMostUnusedNesting;
        switch (expect_) {
        case Expect::Metadata:
            ++skipping_;
            inMetadata_ = true;
            expect_ = Expect::TopDirectory;
            return true;
        case Expect::DirectoryInfo:
        case Expect::Entry:
            if (inInfo_)
                return Fail(Field(Reason::FieldOfWrongKind));
            inInfo_ = true;
            info_ = Info{};
            key_ = InfoKey::Other;
            return true;
        default: return Fail(Misplaced());
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
        if (Failure problem = directory ? builder_.OpenDirectory(info_) : builder_.AddEntry(info_))
            return Fail(std::move(problem));
        return true;
    }
    bool StartArray()
    {
        Seen();
        if (StartsSkipped())
            return skipping_ <= kMostUnusedNesting;
        if (inInfo_)
            return Fail(Field(Reason::FieldOfWrongKind));
        switch (expect_) {
        case Expect::Outer: expect_ = Expect::Major; return true;
        case Expect::TopDirectory:
        case Expect::Entry: expect_ = Expect::DirectoryInfo; return true;
        default: return Fail(Misplaced());
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
        case Expect::DirectoryInfo: return Fail({Reason::DirectoryWithoutInfo, {}, {}});
        default: return Fail({Reason::EndsBeforeDirectory, {}, {}});
        }
    }

private:
    enum class Expect { Outer, Major, Minor, Metadata, TopDirectory, DirectoryInfo, Entry, AfterTop, Done };

    void Seen() { stream_.ValueSeen(); }
    bool Skipping() const { return skipping_ > 0; }
    // Whether the array or object that starts is read past: within the metadata, or a field not used here; one
    // nested too deep is the file's fault.
    bool StartsSkipped()
    {
        if (!Skipping() && !(inInfo_ && key_ == InfoKey::Other))
            return false;
        if (++skipping_ > kMostUnusedNesting)
            Fail({Reason::NestedTooDeep, "10,000", {}});
        return true;
    }
    bool EndsSkipped()
    {
        if (!Skipping())
            return false;
        if (--skipping_ == 0)
            inMetadata_ = false;
        return true;
    }
    bool Fail(Failure problem)
    {
        problem_ = std::move(problem);
        return false;
    }
    Failure Field(Reason reason) const { return {reason, keyText_, {}}; }
    Failure Misplaced() const
    {
        switch (expect_) {
        case Expect::Outer: return {Reason::NotAnArray, {}, {}};
        case Expect::Major:
        case Expect::Minor: return {Reason::VersionNotNumber, {}, {}};
        case Expect::Metadata: return {Reason::MetadataNotObject, {}, {}};
        case Expect::TopDirectory: return {Reason::TopNotArray, {}, {}};
        case Expect::DirectoryInfo: return {Reason::DirectoryWithoutInfo, {}, {}};
        case Expect::AfterTop: return {Reason::MoreThanOneTop, {}, {}};
        default: return {Reason::MisplacedValue, {}, {}};
        }
    }
    // Any value but a number or a known key's string or truth.
    bool Scalar()
    {
        Seen();
        if (Skipping() || (inInfo_ && key_ == InfoKey::Other))
            return true;
        return Fail(inInfo_ ? Field(Reason::FieldOfWrongKind) : Misplaced());
    }
    bool Negative(int64_t value)
    {
        Seen();
        if (inInfo_ && key_ == InfoKey::Mtime && !Skipping()) {
            info_.mtime = value;  // before 1970
            return true;
        }
        if (Skipping() || (inInfo_ && key_ == InfoKey::Other))
            return true;
        return Fail(inInfo_ ? Field(Reason::FieldNegative) : Misplaced());
    }
    bool Number(uint64_t value)
    {
        Seen();
        if (timestampNext_ && inMetadata_ && skipping_ == 1 && value <= kLargestSize)
            timestamp_ = static_cast<int64_t>(value);
        if (Skipping())
            return true;
        if (!inInfo_) {
            if (expect_ == Expect::Major) {
                if (value != 1)
                    return Fail({Reason::UnknownMajorVersion, std::to_string(value), {}});
                expect_ = Expect::Minor;
                return true;
            }
            if (expect_ == Expect::Minor) {
                expect_ = Expect::Metadata;
                return true;
            }
            return Fail(Misplaced());
        }
        switch (key_) {
        case InfoKey::Asize:
        case InfoKey::Dsize:
            if (value > kLargestSize)
                return Fail(Field(Reason::FieldTooLarge));
            (key_ == InfoKey::Asize ? info_.asize : info_.dsize) = value;
            return true;
        case InfoKey::Dev: info_.dev = value; return true;
        case InfoKey::Ino: info_.ino = value; return true;
        case InfoKey::Nlink: info_.nlink = value; return true;
        case InfoKey::Mtime:
            info_.mtime = static_cast<ModifiedTime>(std::min<uint64_t>(value, kLargestSize));
            return true;
        case InfoKey::Other: return true;
        default: return Fail(Field(Reason::FieldOfWrongKind));
        }
    }

    Stream& stream_;
    Expect expect_ = Expect::Outer;
    size_t skipping_ = 0;  // depth within a value read past: the metadata, or a field this program does not use
    bool inMetadata_ = false;  // skipping the metadata, whose timestamp is read
    bool timestampNext_ = false;
    std::optional<int64_t> timestamp_;
    bool inInfo_ = false;
    InfoKey key_ = InfoKey::Other;
    std::string keyText_;
    Info info_;
    TreeBuilder builder_;
    Failure problem_;
};


template <typename Inner>
KeptJsonRead ReadThoroughly(Inner& inner, const ReadProgress& progress)
{
    GuardedStream<Inner> stream(inner, progress);
    TreeReader<GuardedStream<Inner>> handler(stream);
    rapidjson::Reader reader;
    const rapidjson::ParseResult parsed = reader.Parse<rapidjson::kParseIterativeFlag>(stream, handler);
    KeptJsonRead read;
    Failure problem;
    if (parsed) {
        read.tree = handler.Finish();
        read.timestamp = handler.Timestamp();
        problem = handler.Problem();
    } else if (stream.LoneSurrogate() || parsed.Code() == rapidjson::kParseErrorStringUnicodeSurrogateInvalid) {
        problem = {Reason::LoneSurrogate, {}, {}};
    } else if (stream.Cut()) {
        problem = {Reason::NoValueForLong, FormatGrouped(kMostBytesBetweenValues, ","), {}};
    } else if (parsed.Code() == rapidjson::kParseErrorTermination) {
        problem = handler.Problem();
    } else if (stream.AtEnd()) {
        problem = {Reason::EndsBeforeJson, {}, {}};
    } else {
        problem = {Reason::NotJson, rapidjson::GetParseError_En(parsed.Code()), {}};
    }
    if (!read.tree) {
        read.failure = std::move(problem);
        read.failure.byte = parsed ? stream.Tell() : parsed.Offset();
    }
    return read;
}

// The quick reading, or where it gives up, the thorough one from the start.
template <typename Fill, typename Thorough>
KeptJsonRead ReadQuicklyOrThoroughly(Fill& fill, const ReadProgress& progress, const ReadPieces& pieces,
                                     Thorough&& thorough)
{
    QuickReader<Fill> quick(fill, progress, pieces);
    if (std::unique_ptr<KeptTree> tree = quick.Read())
        return {std::move(tree), {}, true, quick.Timestamp()};
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
                                                         : KeptJsonRead{nullptr, {Reason::CannotReadAgain, {}, {}}, false, {}};
        });
    } else {
        read = ReadFileThoroughly(in, progress);
    }
    if (std::ferror(in)) {
        read.tree.reset();
        read.failure = {Reason::CannotReadToEnd, {}, {}};
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
        return {nullptr, FailureFromErrno(errno, Reason::CannotOpen), false, {}};
    KeptJsonRead read = ReadKeptJsonFile(in, progress);
    std::fclose(in);
    return read;
}

}  // namespace murako
