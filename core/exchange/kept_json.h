#pragma once
// A kept tree as the JSON export file that disk usage tools share (format 1.2): every directory an array of its
// info object and its entries, every file an info object, sizes as lengths (asize) and space on disk (dsize).
// Written and read as a stream, without recursion, so that neither a wide nor a deep tree costs more than the
// tree itself.

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "kept_tree.h"
#include "reason_texts.h"

namespace murako {

// Writes tree to out, naming progver as the writer's version; false when a write failed.
bool WriteKeptJson(const KeptTree& tree, std::FILE* out, std::string_view progver);

// Saves tree at path through a file beside it that takes path's place once complete ("-": standard output):
// a file replaced keeps its mode and, where the user may, its owner; a symbolic link stays, and what it leads to
// is replaced. No failure when saved, else why not.
Failure SaveKeptJson(const KeptTree& tree, const std::string& path, std::string_view progver);

struct KeptJsonRead {
    std::unique_ptr<KeptTree> tree;  // complete, or nullptr when the file could not be read
    Failure failure;                 // why not, with the byte where reading stopped
    bool readQuickly = false;  // else read thoroughly: a file out of the ordinary, or one that cannot be read twice
    std::optional<int64_t> timestamp;  // the seconds since 1970 the metadata says the file was written at
};

// The pieces a file is read quickly in: the buffer, and the window of bytes kept ahead of each value, which
// no string and no gap between values may outgrow. Tests make them small.
struct ReadPieces {
    size_t buffer = 1 << 20;
    size_t window = 64 << 10;
};

// Told now and then of the bytes read so far.
using ReadProgress = std::function<void(uint64_t bytesRead)>;

// Reads a file of that format, by this program or another, into a complete kept tree counted as a search
// counts: files' lengths, or space on disk with the directories' own, a file of several links once.
KeptJsonRead ReadKeptJson(std::string_view text, const ReadProgress& progress = {}, const ReadPieces& pieces = {});
KeptJsonRead ReadKeptJsonFile(std::FILE* in, const ReadProgress& progress = {});
// The file at path ("-": standard input).
KeptJsonRead OpenKeptJson(const std::string& path, const ReadProgress& progress = {});

// Why a directory could not be read, as the writer's own field tells it beside the shared read_error.
inline constexpr const char* kFailureKey = "murako_failure";
// This program's own fields: beside read_error, a directory a cancel left unfinished; beside an entry excluded,
// a directory of caches, and another file system's type; in the metadata, what the search left out (as
// ScopeText words it) and that a cancel cut it short.
inline constexpr const char* kCutShortKey = "murako_cut_short";
inline constexpr const char* kCacheKey = "murako_cache";
inline constexpr const char* kFileSystemTypeKey = "murako_fs_type";
inline constexpr const char* kScopeKey = "murako_scope";
inline constexpr const char* kIncompleteKey = "murako_incomplete";
std::string_view FailureWord(ReadFailure failure);
ReadFailure FailureFromWord(std::string_view word);

}  // namespace murako
