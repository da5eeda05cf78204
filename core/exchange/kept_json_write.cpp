#include <array>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "kept_json.h"
#include "path_text.h"

#ifdef _WIN32
#include <direct.h>

#include <cwchar>

#include "text.h"
#else
#include <climits>

#include <unistd.h>
#endif

namespace murako {

namespace {

constexpr std::array<std::pair<ReadFailure, const char*>, 10> kFailureWords{{
    {ReadFailure::Permission, "permission"},
    {ReadFailure::Vanished, "vanished"},
    {ReadFailure::TooManyOpenFiles, "too_many_open_files"},
    {ReadFailure::Other, "other"},
    {ReadFailure::Loop, "loop"},
    {ReadFailure::NotFound, "not_found"},
    {ReadFailure::NotDirectory, "not_directory"},
    {ReadFailure::ReplacedByLink, "replaced_by_link"},
    {ReadFailure::LinkLoop, "link_loop"},
    {ReadFailure::NameTooLong, "name_too_long"},
}};

// Output through a buffer of its own, as a tree of millions of entries makes as many small writes: each put
// is a copy, a constant one where the text is.
class JsonOut {
public:
    explicit JsonOut(std::FILE* file) : file_(file), buffer_(std::make_unique_for_overwrite<char[]>(kBufferBytes)) {}

    void Put(std::string_view text)
    {
        if (text.size() > kBufferBytes - used_) {
            Flush();
            if (text.size() > kBufferBytes) {
                Write(text.data(), text.size());
                return;
            }
        }
        std::memcpy(buffer_.get() + used_, text.data(), text.size());
        used_ += text.size();
    }

    // Key and value, after a comma: every field but the name follows another.
    void Field(std::string_view key, uint64_t value)
    {
        char* const start = Reserve(key.size() + 4 + kDigits);
        char* at = Key(start, key);
        at = std::to_chars(at, at + kDigits, value).ptr;
        used_ += static_cast<size_t>(at - start);
    }

    // A time, negative before 1970; none where it is unknown, as a reader then takes it.
    void Time(ModifiedTime time)
    {
        if (time == kTimeUnknown)
            return;
        constexpr std::string_view key = ",\"mtime\":";
        char* const start = Reserve(key.size() + 1 + kDigits);
        char* at = start;
        std::memcpy(at, key.data(), key.size());
        at += key.size();
        if (time < 0)
            *at++ = '-';
        at = std::to_chars(at, at + kDigits, time < 0 ? 0 - static_cast<uint64_t>(time) : static_cast<uint64_t>(time)).ptr;
        used_ += static_cast<size_t>(at - start);
    }

    void True(std::string_view key)
    {
        char* const start = Reserve(key.size() + 8);
        char* at = Key(start, key);
        std::memcpy(at, "true", 4);
        used_ += static_cast<size_t>(at + 4 - start);
    }

    // A JSON string of the name's bytes: quotes, backslashes and control characters escaped, the rest as
    // they are, bytes that are not UTF-8 included, as the format allows.
    void String(std::string_view bytes)
    {
        Put("\"");
        size_t plain = 0;
        for (size_t i = PlainBytes(bytes, 0); i < bytes.size(); i = PlainBytes(bytes, i + 1)) {
            const auto c = static_cast<unsigned char>(bytes[i]);
            Put(bytes.substr(plain, i - plain));
            plain = i + 1;
            switch (c) {
            case '"': Put("\\\""); break;
            case '\\': Put("\\\\"); break;
            case '\n': Put("\\n"); break;
            case '\r': Put("\\r"); break;
            case '\t': Put("\\t"); break;
            case '\b': Put("\\b"); break;
            case '\f': Put("\\f"); break;
            default: {
                static constexpr char hex[] = "0123456789abcdef";
                const char escaped[] = {'\\', 'u', '0', '0', hex[c >> 4], hex[c & 15]};
                Put({escaped, sizeof escaped});
            }
            }
        }
        Put(bytes.substr(plain));
        Put("\"");
    }

    bool Flush()
    {
        Write(buffer_.get(), used_);
        used_ = 0;
        return !failed_;
    }

private:
    static constexpr size_t kDigits = 20;

    // Room for size bytes, at most a key and a value's; written in place, and counted by the writer.
    char* Reserve(size_t size)
    {
        if (size > kBufferBytes - used_)
            Flush();
        return buffer_.get() + used_;
    }

    // Writes ,"key": at at; returns its end.
    static char* Key(char* at, std::string_view key)
    {
        *at++ = ',';
        *at++ = '"';
        std::memcpy(at, key.data(), key.size());
        at += key.size();
        *at++ = '"';
        *at++ = ':';
        return at;
    }

    static bool Escaped(unsigned char c) { return c < 0x20 || c == '"' || c == '\\'; }

    // Where the first byte at or after from that must be escaped lies: names are read eight bytes at a time.
    static size_t PlainBytes(std::string_view bytes, size_t from)
    {
        constexpr uint64_t kOnes = 0x0101010101010101ULL;
        constexpr uint64_t kHighs = 0x8080808080808080ULL;
        for (; from + 8 <= bytes.size(); from += 8) {
            uint64_t word;
            std::memcpy(&word, bytes.data() + from, 8);
            // A byte below 0x20, or one that equals a quote or a backslash, sets its high bit in one of these;
            // a byte with its own high bit set is cleared by ~word.
            const uint64_t quote = word ^ (kOnes * '"');
            const uint64_t backslash = word ^ (kOnes * '\\');
            const uint64_t found = ((word - kOnes * 0x20) | (quote - kOnes) | (backslash - kOnes)) & ~word & kHighs;
            if (found)
                break;
        }
        while (from < bytes.size() && !Escaped(static_cast<unsigned char>(bytes[from])))
            ++from;
        return from;
    }

    void Write(const char* bytes, size_t size)
    {
        if (size > 0 && std::fwrite(bytes, 1, size, file_) != size)
            failed_ = true;
    }

    static constexpr size_t kBufferBytes = 1 << 18;
    std::FILE* file_;
    std::unique_ptr<char[]> buffer_;
    size_t used_ = 0;
    bool failed_ = false;
};

uint64_t Unsigned(int64_t value)
{
    return value < 0 ? 0 : static_cast<uint64_t>(value);
}

// The space of dir itself: its own on disk is its files' and its own.
int64_t DirectoryOwnOnDisk(const KeptDirectory& dir)
{
    int64_t files = 0;
    ForEachFile(dir, [&](const KeptFile& file) { files += KeptFileSize(file, SizeMeasure::OnDisk); });
    return dir.Own(SizeMeasure::OnDisk) - files;
}

void WriteFile(JsonOut& out, const KeptFile& file)
{
    out.Put(",{\"name\":");
    out.String(file.name);
    if (!file.facts) {
        out.True("read_error");
    } else {
        out.Field("asize", Unsigned(file.facts->length));
        out.Field("dsize", Unsigned(file.facts->onDisk));
        if (file.facts->links > 1 && file.facts->inode != 0) {
            out.Field("ino", file.facts->inode);
            out.True("hlnkc");
            out.Field("nlink", file.facts->links);
        }
        if (!file.facts->regular)
            out.True("notreg");
        out.Time(file.facts->modified);
    }
    out.Put("}");
}

// Opens dir's array with its info object; its files and subdirectories follow.
void OpenDirectory(JsonOut& out, const KeptDirectory& dir, std::string_view name)
{
    out.Put("[{\"name\":");
    out.String(name);
    // A directory's own length is not counted by this program, its own space is.
    out.Field("asize", 0);
    out.Field("dsize", Unsigned(DirectoryOwnOnDisk(dir)));
    if (!dir.parent || dir.parent->identity.device != dir.identity.device)
        out.Field("dev", dir.identity.device);
    if (dir.identity.inode != 0)
        out.Field("ino", dir.identity.inode);
    out.Time(dir.Modified());
    // A directory a cancel left unfinished reads as one that could not be read to its end.
    if (dir.failure != ReadFailure::None || (dir.flags & KeptDirectory::CutShort))
        out.True("read_error");
    if (dir.failure != ReadFailure::None) {
        out.Put(",\"");
        out.Put(kFailureKey);
        out.Put("\":\"");
        out.Put(FailureWord(dir.failure));
        out.Put("\"");
    }
    if (dir.flags & KeptDirectory::CutShort)
        out.True(kCutShortKey);
    out.Put("}");
    if (dir.ExcludedNames() == 0)
        return;  // else the files are read through to the names after them
    ForEachExcludedName(dir, [&](std::string_view name) {
        out.Put(",{\"name\":");
        out.String(name);
        out.Put(",\"excluded\":\"pattern\"}");
    });
}

// A directory the search did not enter, as the reason it was left out.
void WriteNotEntered(JsonOut& out, const KeptDirectory& dir)
{
    out.Put(",{\"name\":");
    out.String(dir.Name());
    if (dir.flags & KeptDirectory::OtherFileSystem) {
        out.Put(",\"excluded\":\"otherfs\"");
        if (const std::string_view type = dir.OtherFileSystemType(); !type.empty()) {
            out.Put(",\"");
            out.Put(kFileSystemTypeKey);
            out.Put("\":");
            out.String(type);
        }
    } else if (dir.flags & KeptDirectory::Excluded) {
        out.Put(",\"excluded\":\"pattern\"");
        out.True(kCacheKey);
    } else {
        out.Put(",\"excluded\":\"kernfs\"");
    }
    out.Put("}");
}

// The metadata's fields of this program's own: what the search left out, and whether a cancel cut it short.
void WriteOwnMetadata(JsonOut& out, const KeptTree& tree)
{
    if (tree.Scope().LeavesOut()) {
        out.Put(",\"");
        out.Put(kScopeKey);
        out.Put("\":");
        out.String(ScopeText(tree.Scope()));
    }
    if (tree.CutShort())
        out.True(kIncompleteKey);
}

#ifdef _WIN32
std::string CurrentDirectory()
{
    std::wstring directory(32768, L'\0');
    if (!_wgetcwd(directory.data(), static_cast<int>(directory.size())))
        return {};
    directory.resize(std::wcslen(directory.c_str()));
    return Wtf8FromUtf16(std::u16string(directory.begin(), directory.end()));
}
#else
std::string CurrentDirectory()
{
    std::string directory(PATH_MAX, '\0');
    if (!getcwd(directory.data(), directory.size()))
        return {};
    directory.resize(std::strlen(directory.c_str()));
    return directory;
}
#endif

// The base's name as the format has it: its absolute path, which ends in a separator only when a root. A
// relative one would name another place in any other working directory; one from the root of the current
// drive (Windows' "\base") names the same place wherever the program runs on that drive.
std::string TopName(std::string_view path)
{
    const bool relative = PathRoot(path).empty() && (path.empty() || !IsPathSeparator(path.front()));
    std::string name = relative ? JoinPath(CurrentDirectory(), path) : std::string(path);
    const size_t root = PathRoot(name).size();
    while (name.size() > root && IsPathSeparator(name.back()))
        name.pop_back();
    return name;
}

}  // namespace

std::string_view FailureWord(ReadFailure failure)
{
    for (const auto& [known, word] : kFailureWords)
        if (known == failure)
            return word;
    return "other";
}

ReadFailure FailureFromWord(std::string_view word)
{
    for (const auto& [failure, known] : kFailureWords)
        if (word == known)
            return failure;
    return ReadFailure::Other;
}

bool WriteKeptJson(const KeptTree& tree, std::FILE* out, std::string_view progver)
{
    JsonOut json(out);
    json.Put("[1,2,{\"progname\":\"murako\",\"progver\":");
    json.String(progver);
    json.Field("timestamp", Unsigned(static_cast<int64_t>(std::time(nullptr))));
    WriteOwnMetadata(json, tree);
    json.Put("}");
    // What was moved away since the search is no longer there, and the walk passes it over.
    uint32_t open = 0;  // directories whose arrays are open
    if (const KeptDirectory* base = tree.Base()) {
        for (KeptWalk walk(*base); walk.Next();) {
            if (walk.AtFile()) {
                WriteFile(json, walk.File());
                continue;
            }
            for (; open > walk.Depth(); --open)
                json.Put("]");
            const KeptDirectory& dir = walk.Directory();
            constexpr uint8_t notEntered =
                KeptDirectory::PseudoFileSystem | KeptDirectory::OtherFileSystem | KeptDirectory::Excluded;
            if (walk.Depth() > 0 && (dir.flags & notEntered)) {
                WriteNotEntered(json, dir);
                walk.PassOver();
                continue;
            }
            json.Put(",\n");
            OpenDirectory(json, dir, walk.Depth() == 0 ? TopName(tree.BasePath()) : dir.Name());
            ++open;
        }
    }
    for (; open > 0; --open)
        json.Put("]");
    json.Put("]\n");
    return json.Flush() && std::fflush(out) == 0 && !std::ferror(out);
}

}  // namespace murako
