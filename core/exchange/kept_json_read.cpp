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
#include "kept_json_fields.h"
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
    std::optional<int64_t> Timestamp() const { return passed_.Timestamp(); }
    std::unique_ptr<KeptTree> Finish()
    {
        std::unique_ptr<KeptTree> tree = shape_.Done() ? builder_.Finish() : nullptr;
        if (!tree)
            problem_ = {Reason::EndsBeforeDirectory, {}, {}};
        return tree;
    }

    bool Null() { return Scalar(); }
    bool Bool(bool value)
    {
        Seen();
        if (passed_.MetadataMember(kIncompleteKey))
            builder_.SetIncomplete(value);
        if (Skipping())
            return true;
        return fields_.Open() ? Check(fields_.Truth(value)) : Fail(shape_.Misplaced());
    }
    bool Int(int value) { return value < 0 ? Negative(value) : Number(static_cast<uint64_t>(value)); }
    bool Uint(unsigned value) { return Number(value); }
    bool Int64(int64_t value) { return value < 0 ? Negative(value) : Number(static_cast<uint64_t>(value)); }
    bool Uint64(uint64_t value) { return Number(value); }
    bool Double(double value)
    {
        // A time with a fraction counts in its whole second; one beyond any clock's is unknown.
        const bool clock = std::isfinite(value) && std::fabs(value) < 1e18;
        if (!Skipping() && fields_.Time(clock ? static_cast<ModifiedTime>(std::floor(value)) : kTimeUnknown)) {
            Seen();
            return true;
        }
        return Scalar();
    }
    bool RawNumber(const char*, rapidjson::SizeType, bool) { return Scalar(); }
    bool String(const char* text, rapidjson::SizeType length, bool)
    {
        Seen();
        if (passed_.MetadataMember(kScopeKey))
            builder_.SetScopeText({text, length});
        if (Skipping() || fields_.Unused())
            return true;
        return fields_.Open() ? Check(fields_.Text({text, length})) : Fail(shape_.Misplaced());
    }
    bool Key(const char* text, rapidjson::SizeType length, bool)
    {
        Seen();
        passed_.Key({text, length});
        if (!Skipping())
            fields_.Key({text, length});
        return true;
    }
    bool StartObject()
    {
        Seen();
        if (StartsSkipped())
            return !passed_.TooDeep();
        switch (shape_.ObjectStarts()) {
        case FileShape::Object::Metadata: passed_.StartMetadata(); return true;
        case FileShape::Object::Info:
            if (fields_.Open())
                return Fail(fields_.Field(Reason::FieldOfWrongKind));
            fields_.Start();
            return true;
        case FileShape::Object::Misplaced: break;
        }
        return Fail(shape_.Misplaced());
    }
    bool EndObject(rapidjson::SizeType)
    {
        Seen();
        if (passed_.End())
            return true;
        const Info& info = fields_.End();
        return Check(shape_.InfoEnds() ? builder_.OpenDirectory(info) : builder_.AddEntry(info));
    }
    bool StartArray()
    {
        Seen();
        if (StartsSkipped())
            return !passed_.TooDeep();
        if (fields_.Open())
            return Fail(fields_.Field(Reason::FieldOfWrongKind));
        return Check(shape_.ArrayStarts());
    }
    bool EndArray(rapidjson::SizeType)
    {
        Seen();
        if (passed_.End())
            return true;
        return Check(shape_.ArrayEnds(builder_));
    }

private:
    void Seen() { stream_.ValueSeen(); }
    bool Skipping() const { return passed_.Active(); }
    // Whether the array or object that starts is read past: within the metadata, or a field not used here; one
    // nested too deep is the file's fault.
    bool StartsSkipped()
    {
        if (!Skipping() && !fields_.Unused())
            return false;
        if (!passed_.Start())
            Fail({Reason::NestedTooDeep, "10,000", {}});
        return true;
    }
    bool Fail(Failure problem)
    {
        problem_ = std::move(problem);
        return false;
    }
    bool Check(Failure problem) { return problem ? Fail(std::move(problem)) : true; }
    // A value no field this program reads takes: any but a number or a known key's string or truth (inField: the
    // reason where a field is read), or a negative number.
    bool Unread(Reason inField)
    {
        Seen();
        if (Skipping() || fields_.Unused())
            return true;
        return Fail(fields_.Open() ? fields_.Field(inField) : shape_.Misplaced());
    }
    bool Scalar() { return Unread(Reason::FieldOfWrongKind); }
    bool Negative(int64_t value)
    {
        if (!Skipping() && fields_.Time(value)) {  // before 1970
            Seen();
            return true;
        }
        return Unread(Reason::FieldNegative);
    }
    bool Number(uint64_t value)
    {
        Seen();
        passed_.Number(value);
        if (Skipping())
            return true;
        return Check(fields_.Open() ? fields_.Number(value) : shape_.Version(value));
    }

    Stream& stream_;
    FileShape shape_;
    PassedOver passed_;
    InfoFields fields_;
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
