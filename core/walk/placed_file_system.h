#pragma once
// What both file system backends share: every directory is a place the walk's handles hold, opened below its
// parent's handle, and the file system opens the first one by path. A backend is left to list a directory,
// identify and measure what it holds, and open one piece of a path.

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "directory_handles.h"
#include "file_system.h"

namespace murako {

// Opens one piece of a path from a handle: the handle, or -errno.
using PieceOpener = std::function<int(int from, const std::string& piece)>;

// Opens path relative to from in pieces shorter than mostBytes, cut at separators, each piece opened from the
// handle the last one opened. A run of separators separates as one, so that no piece after the first begins
// with one, which would be taken from the root. The handle, or -errno (ENOENT for an empty path).
int OpenInPieces(int from, std::string_view path, size_t mostBytes, char separator, const PieceOpener& openPiece);

// A directory whose handle the walk's handles hold: its handle is pinned from the first name of its listing
// to the end, and subdirectories are opened relative to it.
class PlacedDirectory : public Directory {
public:
    PlacedDirectory(std::shared_ptr<DirectoryHandles> handles, std::shared_ptr<DirectoryPlace> place,
                    const IdentifiedDirectory& found)
        : handles_(std::move(handles)), place_(std::move(place)), mountRoot_(found.mountRoot), onDisk_(found.onDisk),
          modified_(found.modified)
    {
    }
    ~PlacedDirectory() override;
    PlacedDirectory(const PlacedDirectory&) = delete;
    PlacedDirectory& operator=(const PlacedDirectory&) = delete;

    ReadFailure ListingFailure() const override { return listingFailure_; }
    std::optional<FileFacts> FactsOf(std::string_view name, ReadFailure& failure) final;
    void SubdirectoriesOpened() override { handles_->Retire(*place_); }
    std::optional<DirectoryIdentity> Identity() const override { return place_->identity; }
    bool IsMountRoot() const override { return mountRoot_; }
    int64_t OwnOnDisk() const override { return onDisk_; }
    ModifiedTime Modified() const override { return modified_; }
    bool FileBegins(std::string_view name, std::string_view start) final;
    std::string FileSystemType() const final;

    // What the walk sees instead of a directory just opened and identified, met under parent (nullptr: opened
    // by path); nullptr to walk it. A backend that leaves some directories out hides this.
    static std::unique_ptr<Directory> Instead(const CountedHandle&, const IdentifiedDirectory&, const DirectoryPlace*)
    {
        return nullptr;
    }

protected:
    // The facts of name below the directory whose handle is given, pinned for the call.
    virtual std::optional<FileFacts> MeasureBelow(int handle, std::string_view name, ReadFailure& failure) = 0;
    // Up to bytes of the start of the file name below the directory whose handle is given; nullopt where it
    // cannot be read.
    virtual std::optional<std::string> ReadBelow(int /*handle*/, std::string_view /*name*/, size_t /*bytes*/)
    {
        return std::nullopt;
    }
    // The type of the file system the directory whose handle is given lies on, where the handle tells it.
    virtual std::string TypeOf(int /*handle*/) const { return {}; }

    // The identity of a handle just opened, or why it has none: then it cannot be walked safely.
    static std::optional<IdentifiedDirectory> IdentifyOpened(const CountedHandle& handle, ReadFailure& failure);

    // The handle to list from, pinned until EndListing; -1 once the listing is over or could not start.
    int ListingHandle();
    void EndListing(ReadFailure failure);

    // Opens name below this directory into a handle of the budget, or nullopt and why not.
    std::optional<CountedHandle> OpenBelow(std::string_view name, ReadFailure& failure);

    const std::shared_ptr<DirectoryHandles> handles_;
    const std::shared_ptr<DirectoryPlace> place_;

private:
    // What use gives with this directory's handle pinned for the call; nullopt and why when it cannot be had.
    template <typename Use>
    auto WhilePinned(ReadFailure& failure, Use use) const -> decltype(use(0));

    const bool mountRoot_;
    const int64_t onDisk_;
    const ModifiedTime modified_;
    int listingHandle_ = -1;  // pinned
    bool listingEnded_ = false;
    ReadFailure listingFailure_ = ReadFailure::None;
};

// A backend's directory, Self: its subdirectories are of its own kind.
template <typename Self>
class PlacedDirectoryOf : public PlacedDirectory {
public:
    using PlacedDirectory::PlacedDirectory;

    // Takes the handle just opened for a directory met under parent (nullptr: opened by path), or lets it go
    // and gives what the walk should see instead.
    static std::unique_ptr<Directory> Adopt(const std::shared_ptr<DirectoryHandles>& handles, CountedHandle handle,
                                            std::shared_ptr<DirectoryPlace> parent, std::string name,
                                            ReadFailure& failure)
    {
        const std::optional<IdentifiedDirectory> found = IdentifyOpened(handle, failure);
        if (!found)
            return nullptr;
        if (std::unique_ptr<Directory> instead = Self::Instead(handle, *found, parent.get()))
            return instead;
        auto place = std::make_shared<DirectoryPlace>(std::move(parent), std::move(name), found->identity);
        handles->Adopt(*place, std::move(handle));
        return std::make_unique<Self>(handles, std::move(place), *found);
    }

    std::unique_ptr<Directory> OpenSubdirectory(std::string_view name, ReadFailure& failure) final
    {
        std::optional<CountedHandle> handle = OpenBelow(name, failure);
        if (!handle)
            return nullptr;
        return Adopt(handles_, std::move(*handle), place_, std::string(name), failure);
    }
};

// A file system walked through a budget of directory handles, shared with every directory opened.
class PlacedFileSystem : public FileSystem {
public:
    // Each walking thread may hold a few handles beyond the idle ones: the directory it lists, the one it
    // opens, and one it reopens through. A walk needs at least one thread's.
    static constexpr size_t kHandlesPerThread = 4;

    ~PlacedFileSystem() override;
    PlacedFileSystem(const PlacedFileSystem&) = delete;
    PlacedFileSystem& operator=(const PlacedFileSystem&) = delete;

    // With a budget too small for one walking thread, every search is refused as TooManyOpenFiles rather
    // than walked in part.
    std::unique_ptr<Directory> Open(const std::string& path, ReadFailure& failure) final;
    int MaxWalkThreads() const final;
    // The names opened again so far to reach directories whose handle had gone.
    size_t NamesRetraced() const { return handles_->NamesRetraced(); }

protected:
    explicit PlacedFileSystem(size_t budget);
    // The backend's directory for a handle just opened by path.
    virtual std::unique_ptr<Directory> AdoptGiven(CountedHandle handle, const std::string& path,
                                                  ReadFailure& failure) = 0;

    const std::shared_ptr<DirectoryHandles> handles_;
};

}  // namespace murako
