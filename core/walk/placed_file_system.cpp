#include "placed_file_system.h"

#include <algorithm>
#include <cerrno>

namespace murako {

int OpenInPieces(int from, std::string_view path, size_t mostBytes, char separator, const PieceOpener& openPiece)
{
    if (path.empty())
        return -ENOENT;
    int at = from;
    for (size_t start = 0;;) {
        size_t end = path.size();
        if (end - start >= mostBytes) {
            end = path.rfind(separator, start + mostBytes - 1);
            if (end == std::string_view::npos || end < start) {
                if (at != from)
                    CloseDirectoryHandle(at);
                return -ENAMETOOLONG;  // one name longer than any path
            }
        }
        // Cut just after the root, the first piece is the root itself.
        const std::string piece(path.substr(start, std::max<size_t>(end - start, 1)));
        const int opened = openPiece(at, piece);
        if (at != from)
            CloseDirectoryHandle(at);
        if (opened < 0)
            return opened;
        at = opened;
        start = path.find_first_not_of(separator, end);
        if (start == std::string_view::npos)
            return at;
    }
}

PlacedDirectory::~PlacedDirectory()
{
    if (listingHandle_ >= 0)
        handles_->Unpin(*place_);
    handles_->Forget(*place_);
}

template <typename Use>
auto PlacedDirectory::WhilePinned(ReadFailure& failure, Use use) const -> decltype(use(0))
{
    const int handle = handles_->Pin(*place_);
    if (handle < 0) {
        failure = ReadFailureFromErrno(-handle);
        return std::nullopt;
    }
    auto result = use(handle);
    handles_->Unpin(*place_);
    return result;
}

std::optional<FileFacts> PlacedDirectory::FactsOf(std::string_view name, ReadFailure& failure)
{
    return WhilePinned(failure, [&](int handle) { return MeasureBelow(handle, name, failure); });
}

bool PlacedDirectory::FileBegins(std::string_view name, std::string_view start)
{
    ReadFailure failure = ReadFailure::None;
    const std::optional<std::string> read =
        WhilePinned(failure, [&](int handle) { return ReadBelow(handle, name, start.size()); });
    return read && *read == start;
}

std::string PlacedDirectory::FileSystemType() const
{
    ReadFailure failure = ReadFailure::None;
    return WhilePinned(failure, [&](int handle) { return std::optional<std::string>(TypeOf(handle)); }).value_or("");
}

std::optional<IdentifiedDirectory> PlacedDirectory::IdentifyOpened(const CountedHandle& handle, ReadFailure& failure)
{
    int error = 0;
    std::optional<IdentifiedDirectory> found = Identify(handle.Fd(), error);
    if (!found)
        failure = ReadFailureFromErrno(error);
    return found;
}

int PlacedDirectory::ListingHandle()
{
    if (listingEnded_)
        return -1;
    if (listingHandle_ < 0) {
        const int handle = handles_->Pin(*place_);
        if (handle < 0) {
            EndListing(ReadFailureFromErrno(-handle));
            return -1;
        }
        listingHandle_ = handle;
    }
    return listingHandle_;
}

void PlacedDirectory::EndListing(ReadFailure failure)
{
    listingEnded_ = true;
    listingFailure_ = failure;
    if (std::exchange(listingHandle_, -1) >= 0)
        handles_->Unpin(*place_);
}

std::optional<CountedHandle> PlacedDirectory::OpenBelow(std::string_view name, ReadFailure& failure)
{
    return WhilePinned(failure, [&](int parent) -> std::optional<CountedHandle> {
        CountedHandle handle = handles_->Reserve();
        if (const int error = handle.Open(parent, name, ReachedBy::Listing)) {
            failure = ReadFailureFromErrno(error);
            return std::nullopt;
        }
        return handle;
    });
}

PlacedFileSystem::PlacedFileSystem(size_t budget) : handles_(std::make_shared<DirectoryHandles>(budget)) {}

PlacedFileSystem::~PlacedFileSystem() = default;

int PlacedFileSystem::MaxWalkThreads() const
{
    return static_cast<int>(std::max<size_t>(1, handles_->Budget() / kHandlesPerThread));
}

std::unique_ptr<Directory> PlacedFileSystem::Open(const std::string& path, ReadFailure& failure)
{
    if (handles_->Budget() < kHandlesPerThread) {
        failure = ReadFailure::TooManyOpenFiles;
        return nullptr;
    }
    CountedHandle handle = handles_->Reserve();
    if (const int error = handle.Open(kNoAnchor, path, ReachedBy::GivenPath)) {
        failure = ReadFailureFromErrno(error, ReachedBy::GivenPath);
        return nullptr;
    }
    return AdoptGiven(std::move(handle), path, failure);
}

}  // namespace murako
