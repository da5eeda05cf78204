#pragma once
// What both readers of an export file share: the info object as read, and the tree built from the info objects
// and the directories' ends in the order of the file.

#include <cstdint>
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

enum class InfoKey { Name, Asize, Dsize, Dev, Ino, Nlink, Hlnkc, ReadError, Notreg, Excluded, Failure, Other };

inline InfoKey KeyOf(std::string_view key)
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
struct DirectoryBeingRead {
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
        DirectoryBeingRead& dir = open_[depth_];
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
        DirectoryBeingRead& dir = open_[depth_ - 1];
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
        DirectoryBeingRead& open = open_[depth_ - 1];
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

    std::vector<DirectoryBeingRead> open_;  // the first depth_ are open
    size_t depth_ = 0;
    std::vector<size_t> notEnteredFrom_;  // the depths of open directories marked excluded
    std::unique_ptr<KeptTree> tree_;
};

}  // namespace murako::kept_json
