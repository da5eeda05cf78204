#pragma once
// What both readers of an export file share: the info object as read, and the tree built from the info objects
// and the directories' ends in the order of the file.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "kept_json.h"
#include "kept_tree.h"
#include "path_text.h"

namespace murako::kept_json {

enum class InfoKey {
    Name, Asize, Dsize, Dev, Ino, Nlink, Hlnkc, ReadError, Notreg, Excluded, Failure, CutShort, Cache, FsType, Mtime,
    Other
};

inline InfoKey KeyOf(std::string_view key)
{
    static constexpr std::pair<std::string_view, InfoKey> known[] = {
        {"name", InfoKey::Name},   {"asize", InfoKey::Asize},          {"dsize", InfoKey::Dsize},   {"dev", InfoKey::Dev},
        {"ino", InfoKey::Ino},     {"nlink", InfoKey::Nlink},          {"hlnkc", InfoKey::Hlnkc},   {"read_error", InfoKey::ReadError},
        {"notreg", InfoKey::Notreg}, {"excluded", InfoKey::Excluded}, {kFailureKey, InfoKey::Failure},
        {kCutShortKey, InfoKey::CutShort}, {kCacheKey, InfoKey::Cache}, {kFileSystemTypeKey, InfoKey::FsType},
        {"mtime", InfoKey::Mtime},
    };
    // Compared as memory of each known key's own length, which the compiler expands in place for every key.
    for (const auto& [text, value] : known)
        if (key.size() == text.size() && std::memcmp(key.data(), text.data(), text.size()) == 0)
            return value;
    return InfoKey::Other;
}

// A drive's or a share's path, as a file written on Windows names its top directory.
inline bool IsWindowsPath(std::string_view path)
{
    const bool drive = path.size() >= 2 && path[1] == ':' && ((path[0] | 0x20) >= 'a' && (path[0] | 0x20) <= 'z');
    return drive || path.substr(0, 2) == "\\\\";
}

constexpr uint64_t kLargestSize = std::numeric_limits<int64_t>::max();
// A value the program does not use (in the metadata, or a field it does not know) may nest no deeper: each
// level costs the parser memory, and an endless one would cost it all. The tree's own directories may nest as
// deep as the file holds.
constexpr size_t kMostUnusedNesting = 10000;

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
    ModifiedTime mtime = kTimeUnknown;  // a file without times leaves every entry's unknown
    bool readError = false;
    bool notreg = false;
    bool excluded = false;
    std::string excludedWhy;  // "pattern", "otherfs", "kernfs", ...
    std::string failure;
    bool cutShort = false;
    bool cache = false;
    std::string fsType;
};

// Why an entry was left out of the search that wrote it.
enum class LeftOut { None, Pattern, Cache, OtherFileSystem, NotEntered };

inline LeftOut LeftOutOf(const Info& info)
{
    if (!info.excluded)
        return LeftOut::None;
    if (info.cache)
        return LeftOut::Cache;
    if (info.excludedWhy == "pattern")
        return LeftOut::Pattern;
    // ncdu 1 wrote "othfs", ncdu 2 and this program "otherfs".
    if (info.excludedWhy == "otherfs" || info.excludedWhy == "othfs")
        return LeftOut::OtherFileSystem;
    return LeftOut::NotEntered;
}

// A directory whose array is open: what it holds so far.
struct DirectoryBeingRead {
    std::string name;
    DirectoryIdentity identity;
    ModifiedTime modified = kTimeUnknown;
    int64_t ownOnDisk = 0;
    ReadFailure failure = ReadFailure::None;
    bool cutShort = false;  // a cancel left it unfinished
    KeptFilesWriter files;
    std::vector<KeptDirectory*> subdirectories;
    std::vector<size_t> nameHashes;  // of every entry's name, to tell quickly that no two are alike
};

// What the tree takes of an info object: a name that leads nowhere out of its directory, and sizes whose sums
// still fit once the tree adds them up.
class EntryCheck {
public:
    // No failure when the tree takes info, else why not; top: info is the top directory's, named by its path.
    Failure Check(const Info& info, bool top)
    {
        // One failure named and returned, built in place: the check runs for every entry of the file.
        Failure failure = Named(info, top);
        if (!failure && !Counted(info))
            failure.reason = Reason::SizesTooLarge;
        if (!failure && top)
            windowsTop_ = IsWindowsPath(info.name);
        return failure;
    }

private:
    // A name that would lead out of its directory, or name another place than the file's top directory has
    // below it, is refused: "." and "..", a NUL, a separator of the top's platform.
    Failure Named(const Info& info, bool top) const
    {
        if (!info.named)
            return {Reason::NoName, {}, {}};
        if (info.name.empty())
            return {top ? Reason::EmptyTopName : Reason::EmptyName, {}, {}};
        if (info.name.find('\0') != std::string::npos)
            return {Reason::NameWithNul, {}, {}};
        if (top)
            return {};
        if (info.name == "." || info.name == "..")
            return {Reason::DotName, {}, {}};
        if (const size_t at = info.name.find_first_of(windowsTop_ ? "/\\" : "/"); at != std::string::npos)
            return {Reason::NameWithSeparator, info.name.substr(at, 1), {}};
        return {};
    }

    // Sizes are added up as the tree completes: whether their sums still fit.
    bool Counted(const Info& info)
    {
        lengths_ += info.asize;
        onDisk_ += info.dsize;
        return lengths_ <= kLargestSize && onDisk_ <= kLargestSize;
    }

    bool windowsTop_ = false;  // the top directory's name is a Windows path, so "\\" parts names too
    uint64_t lengths_ = 0;     // each no larger than kLargestSize, so their sums cannot wrap
    uint64_t onDisk_ = 0;
};

// Entries of one name in one directory (a writer that stood in U+FFFD for bytes that were not UTF-8 makes
// distinct names collide) are kept, and the directories among them marked, as no path names them apart.
class DuplicateNames {
public:
    // Marks them in dir, whose entries' names hash to nameHashes (sorted here): names are compared only where two
    // hashes are alike.
    void Mark(KeptDirectory& dir, std::vector<size_t>& nameHashes)
    {
        std::sort(nameHashes.begin(), nameHashes.end());
        if (std::adjacent_find(nameHashes.begin(), nameHashes.end()) == nameHashes.end())
            return;
        names_.clear();
        ForEachFile(dir, [&](const KeptFile& file) { names_.push_back(file.name); });
        for (uint32_t i = 0; i < dir.ChildCount(); ++i)
            names_.push_back(dir.Children()[i]->Name());
        std::sort(names_.begin(), names_.end());
        if (std::adjacent_find(names_.begin(), names_.end()) == names_.end())
            return;
        dir.flags |= KeptDirectory::HoldsDuplicateNames;
        for (uint32_t i = 0; i < dir.ChildCount(); ++i) {
            const auto [first, last] = std::equal_range(names_.begin(), names_.end(), dir.Children()[i]->Name());
            if (last - first > 1)
                dir.Children()[i]->flags |= KeptDirectory::DuplicateName;
        }
    }

private:
    std::vector<std::string_view> names_;
};

// Builds the tree from the info objects and the directories' ends in the order of the file, one open directory
// per level of the file, never by recursion.
class TreeBuilder {
public:
    // Each gives no failure when done, else why not.
    Failure OpenDirectory(const Info& info)
    {
        const bool top = depth_ == 0;
        if (Failure failure = check_.Check(info, top))
            return failure;
        if (top) {
            tree_ = std::make_unique<KeptTree>(info.name);
        } else {
            open_[depth_ - 1].nameHashes.push_back(std::hash<std::string_view>{}(info.name));
        }
        // Each level's record is used again, and with it the room its files have grown to, which AddListed
        // left empty.
        if (depth_ == open_.size())
            open_.emplace_back();
        DirectoryBeingRead& dir = open_[depth_];
        dir.name = top ? LastPathName(info.name) : info.name;
        dir.identity = {info.dev.value_or(top ? 0 : open_[depth_ - 1].identity.device), info.ino};
        dir.ownOnDisk = static_cast<int64_t>(info.dsize);
        dir.cutShort = info.readError && info.cutShort;
        dir.modified = info.mtime;
        dir.failure = !info.readError           ? ReadFailure::None
                      : !info.failure.empty()   ? FailureFromWord(info.failure)
                      : dir.cutShort            ? ReadFailure::None
                                                : ReadFailure::Other;
        dir.subdirectories.clear();
        dir.nameHashes.clear();
        ++depth_;
        if (const LeftOut why = LeftOutOf(info); why != LeftOut::None)
            notEnteredFrom_.push_back({depth_, why, info.fsType});
        return {};
    }

    // A file, or a place not entered, of the innermost open directory.
    Failure AddEntry(const Info& info)
    {
        if (Failure failure = check_.Check(info, false))
            return failure;
        DirectoryBeingRead& dir = open_[depth_ - 1];
        dir.nameHashes.push_back(std::hash<std::string_view>{}(info.name));
        if (const LeftOut why = LeftOutOf(info); why == LeftOut::Pattern) {
            dir.files.AddExcluded(info.name);
            return {};
        } else if (why != LeftOut::None) {
            KeptDirectory* place =
                &MarkLeftOut(*tree_->AddListed(info.name, {dir.identity.device, 0}, info.mtime, {}, {}, 0), why,
                             info.fsType);
            dir.subdirectories.push_back(place);
            return {};
        }
        std::optional<FileFacts> facts;
        if (!info.readError) {
            FileFacts known;
            known.length = static_cast<int64_t>(info.asize);
            known.onDisk = static_cast<int64_t>(info.dsize);
            known.regular = !info.notreg;
            known.modified = info.mtime;
            if (info.hlnkc || info.nlink > 1) {
                known.inode = info.ino;
                known.links = static_cast<uint32_t>(
                    std::clamp<uint64_t>(info.nlink, 2, std::numeric_limits<uint32_t>::max()));
            }
            facts = known;
        }
        dir.files.Add(info.name, facts);
        return {};
    }

    // The innermost open directory ends; false when it was the top one.
    bool CloseDirectory()
    {
        DirectoryBeingRead& open = open_[depth_ - 1];
        const bool leftOut = !notEnteredFrom_.empty() && notEnteredFrom_.back().depth == depth_;
        if (leftOut && notEnteredFrom_.back().why == LeftOut::Pattern && depth_ > 1) {
            // A name a pattern left out, written as a directory: what it holds, if anything, was not counted.
            notEnteredFrom_.pop_back();
            open.files.Clear();
            open_[--depth_ - 1].files.AddExcluded(open.name);
            return true;
        }
        KeptDirectory* dir =
            tree_->AddListed(open.name, open.identity, open.modified, std::move(open.files), open.subdirectories,
                             open.ownOnDisk);
        dir->failure = open.failure;
        if (open.cutShort)
            dir->flags |= KeptDirectory::CutShort;
        duplicates_.Mark(*dir, open.nameHashes);
        if (leftOut) {
            dir = &MarkLeftOut(*dir, notEnteredFrom_.back().why, notEnteredFrom_.back().type);
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
        tree_->SetScope(std::move(scope_));
        tree_->SetCutShort(incomplete_);
        tree_->Complete();
        return std::move(tree_);
    }

    // The metadata's fields of this program's own.
    void SetScopeText(std::string_view text) { scope_ = ScopeFromText(text); }
    void SetIncomplete(bool incomplete) { incomplete_ = incomplete; }

private:
    // A place not entered, marked with why, where its record now lies; a pattern's names are no places.
    [[nodiscard]] KeptDirectory& MarkLeftOut(KeptDirectory& place, LeftOut why, const std::string& type)
    {
        if (why == LeftOut::OtherFileSystem)
            return tree_->SetOtherFileSystem(place, type);
        place.flags |= why == LeftOut::NotEntered ? KeptDirectory::PseudoFileSystem : KeptDirectory::Excluded;
        return place;
    }

    std::vector<DirectoryBeingRead> open_;  // the first depth_ are open
    size_t depth_ = 0;
    // Open directories marked excluded: their depths, why, and another file system's type.
    struct NotEntered {
        size_t depth;
        LeftOut why;
        std::string type;
    };
    std::vector<NotEntered> notEnteredFrom_;
    SearchScope scope_;
    bool incomplete_ = false;
    std::unique_ptr<KeptTree> tree_;
    EntryCheck check_;
    DuplicateNames duplicates_;
};

}  // namespace murako::kept_json
