// The records of a directory and its files: the times they keep, their sums, writing the files as a listing
// goes, reading them back, and the one walk through a kept tree's live entries.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

#include "kept_tree.h"

namespace murako {

namespace {

// Writes value at at, 7 bits a byte, low bits first; returns the end.
char* WriteVarint(char* at, uint64_t value)
{
    while (value >= 0x80) {
        *at++ = static_cast<char>((value & 0x7f) | 0x80);
        value >>= 7;
    }
    *at++ = static_cast<char>(value);
    return at;
}

uint64_t Unsigned(int64_t value)
{
    return value < 0 ? 0 : static_cast<uint64_t>(value);
}

// A difference of times as a varint: small either side of nought, small in bytes.
uint64_t Zigzag(int64_t value)
{
    return (static_cast<uint64_t>(value) << 1) ^ static_cast<uint64_t>(value >> 63);
}

int64_t Unzigzag(uint64_t value)
{
    return static_cast<int64_t>(value >> 1) ^ -static_cast<int64_t>(value & 1);
}

}  // namespace

int64_t KeptDirectory::Own(SizeMeasure measure) const
{
    if (contents_)
        return measure == SizeMeasure::Length ? Held().ownLength : Held().ownOnDisk;
    return measure == SizeMeasure::Length ? 0 : ownOrNewest_.Get() * 512;
}

int64_t KeptDirectory::Size(SizeMeasure measure) const
{
    if (contents_)
        return measure == SizeMeasure::Length ? Held().length : Held().onDisk;
    return Own(measure);
}

KeptFilesWriter::KeptFilesWriter(const KeptFilesWriter& other)
    : count_(other.count_), length_(other.length_), onDisk_(other.onDisk_), chainedTime_(other.chainedTime_),
      newest_(other.newest_), linked_(other.linked_), excluded_(other.excluded_),
      excludedCount_(other.excludedCount_)
{
    Append(other.bytes_, other.size_);
}

KeptFilesWriter::KeptFilesWriter(KeptFilesWriter&& other) noexcept
    : bytes_(std::exchange(other.bytes_, nullptr)), size_(std::exchange(other.size_, 0)),
      room_(std::exchange(other.room_, 0)), count_(std::exchange(other.count_, 0)),
      length_(std::exchange(other.length_, 0)), onDisk_(std::exchange(other.onDisk_, 0)),
      chainedTime_(std::exchange(other.chainedTime_, 0)), newest_(std::exchange(other.newest_, kTimeUnknown)),
      linked_(std::exchange(other.linked_, false)), excluded_(std::move(other.excluded_)),
      excludedCount_(std::exchange(other.excludedCount_, 0))
{
}

KeptFilesWriter& KeptFilesWriter::operator=(KeptFilesWriter other) noexcept
{
    std::swap(bytes_, other.bytes_);
    std::swap(size_, other.size_);
    std::swap(room_, other.room_);
    std::swap(count_, other.count_);
    std::swap(length_, other.length_);
    std::swap(onDisk_, other.onDisk_);
    std::swap(chainedTime_, other.chainedTime_);
    std::swap(newest_, other.newest_);
    std::swap(linked_, other.linked_);
    std::swap(excluded_, other.excluded_);
    std::swap(excludedCount_, other.excludedCount_);
    return *this;
}

KeptFilesWriter::~KeptFilesWriter()
{
    std::free(bytes_);
}

char* KeptFilesWriter::Grow(size_t size)
{
    const size_t room = std::max({size_ + size, 2 * room_, size_t{256}});
    void* grown = std::realloc(bytes_, room);
    if (!grown)
        throw std::bad_alloc();
    bytes_ = static_cast<char*>(grown);
    room_ = room;
    return bytes_ + size_;
}

void KeptFilesWriter::Append(const char* bytes, size_t size)
{
    if (size == 0)
        return;
    std::memcpy(Room(size), bytes, size);
    size_ += size;
}

void KeptFilesWriter::Add(std::string_view name, const std::optional<FileFacts>& facts)
{
    using namespace kept_files;
    uint8_t flags = facts ? 0 : Unmeasured;
    if (facts && facts->links > 1 && facts->inode != 0)
        flags |= Linked;
    if (facts && facts->onDisk % 512 == 0)
        flags |= OnDiskInBlocks;
    if (facts && !facts->regular)
        flags |= NotRegular;
    if (facts && facts->modified == kTimeUnknown)
        flags |= TimeUnknown;
    else if (facts && facts->modified == chainedTime_)
        flags |= SameTime;
    // The longest a record can be: its flags, the name after its length, and five facts of ten bytes each.
    char* const start = Room(1 + 10 + name.size() + 5 * 10);
    char* end = start;
    *end++ = static_cast<char>(flags);
    end = WriteVarint(end, name.size());
    std::memcpy(end, name.data(), name.size());
    end += name.size();
    ++count_;
    if (facts) {
        end = WriteVarint(end, Unsigned(facts->length));
        end = WriteVarint(end, Unsigned(facts->onDisk) / ((flags & OnDiskInBlocks) ? 512 : 1));
        if (!(flags & (TimeUnknown | SameTime))) {
            // Wraps only where both ends lie beyond any file system's times, and unwraps alike.
            end = WriteVarint(end, Zigzag(static_cast<int64_t>(static_cast<uint64_t>(facts->modified) -
                                                               static_cast<uint64_t>(chainedTime_))));
            chainedTime_ = facts->modified;
        }
        newest_ = Newer(newest_, facts->modified);
        AddUnlessOverflow(length_, facts->length);
        AddUnlessOverflow(onDisk_, facts->onDisk);
        if (flags & Linked) {
            end = WriteVarint(end, facts->inode);
            end = WriteVarint(end, facts->links);
            linked_ = true;
        }
    }
    size_ += static_cast<size_t>(end - start);
}

void KeptFilesWriter::AddExcluded(std::string_view name)
{
    char head[10];
    excluded_.append(head, static_cast<size_t>(WriteVarint(head, name.size()) - head));
    excluded_.append(name);
    ++excludedCount_;
}

void KeptFilesWriter::Clear()
{
    size_ = 0;
    excluded_.clear();
    excludedCount_ = 0;
    count_ = 0;
    length_ = onDisk_ = 0;
    chainedTime_ = 0;
    newest_ = kTimeUnknown;
    linked_ = false;
}

std::string_view KeptDirectory::OtherFileSystemType() const
{
    if (!(flags & OtherFileSystem) || !Files() || FileCount() > 0)
        return {};
    const uint8_t* at = Files();
    const auto length = static_cast<size_t>(kept_files::ReadVarint(at));
    return {reinterpret_cast<const char*>(at), length};
}

KeptDirectory& KeptTree::SetOtherFileSystem(KeptDirectory& listed, std::string_view type)
{
    listed.flags |= KeptDirectory::OtherFileSystem;
    if (type.empty() || listed.FileCount() > 0)
        return listed;
    KeptDirectory& dir = WithContents(listed);
    char head[10];
    const auto headBytes = static_cast<size_t>(WriteVarint(head, type.size()) - head);
    auto* bytes = static_cast<uint8_t*>(Allocate(headBytes + type.size()));
    std::memcpy(bytes, head, headBytes);
    std::memcpy(bytes + headBytes, type.data(), type.size());
    dir.Held().files = bytes;
    Finished(dir);  // it is never listed: its sums are its own
    return dir;
}

const uint8_t* ReadKeptFile(const uint8_t* at, uint32_t index, KeptFile& file)
{
    using namespace kept_files;
    file.record = at;
    file.index = index;
    if (index == 0)
        file.chainedTime = 0;
    const uint8_t flags = *at++;
    const size_t nameBytes = ReadVarint(at);
    file.name = {reinterpret_cast<const char*>(at), nameBytes};
    file.countedElsewhere = (flags & CountedElsewhere) != 0;
    file.moved = (flags & Moved) != 0;
    file.facts.reset();
    at += nameBytes;
    if (flags & Unmeasured)
        return at;
    FileFacts facts;
    facts.regular = !(flags & NotRegular);
    facts.length = static_cast<int64_t>(ReadVarint(at));
    facts.onDisk = static_cast<int64_t>(ReadVarint(at)) * ((flags & OnDiskInBlocks) ? 512 : 1);
    if (flags & SameTime) {
        facts.modified = file.chainedTime;
    } else if (!(flags & TimeUnknown)) {
        facts.modified = static_cast<int64_t>(static_cast<uint64_t>(file.chainedTime) +
                                              static_cast<uint64_t>(Unzigzag(ReadVarint(at))));
        file.chainedTime = facts.modified;
    }
    if (flags & Linked) {
        facts.inode = ReadVarint(at);
        facts.links = static_cast<uint32_t>(ReadVarint(at));
    }
    file.facts = facts;
    return at;
}

ModifiedTime NewestOwnFile(const KeptDirectory& dir)
{
    ModifiedTime newest = kTimeUnknown;
    ForEachFile(dir, [&](const KeptFile& file) {
        if (file.facts && !file.moved)
            newest = Newer(newest, file.facts->modified);
    });
    return newest;
}

bool KeptTree::NeedsContents(const KeptFilesWriter& files, size_t subdirectories, int64_t ownOnDisk)
{
    return files.Count() > 0 || files.ExcludedCount() > 0 || subdirectories > 0 || ownOnDisk < 0 || ownOnDisk % 512 != 0 ||
           ownOnDisk / 512 >= int64_t{1} << 39;
}

void KeptTree::SumSubtree(KeptDirectory& dir, bool newestKnown)
{
    if (!dir.contents_)
        return;  // an empty directory's sums are its own
    KeptDirectory::Contents& held = dir.Held();
    held.length = held.ownLength;
    held.onDisk = held.ownOnDisk;
    held.entries = static_cast<int64_t>(held.fileCount) - held.movedFiles;
    held.unreadBelow = dir.failure != ReadFailure::None;
    held.markedBelow = (dir.flags & (KeptDirectory::PseudoFileSystem | KeptDirectory::OtherFileSystem)) != 0;
    held.excludedBelow = held.excludedNames + ((dir.flags & KeptDirectory::Excluded) != 0);
    held.linkedBelow = (dir.flags & KeptDirectory::HasLinkedFiles) != 0;
    // Its listing told its own newest; once summed, that is gone, and its files (some perhaps moved) tell it.
    ModifiedTime newest =
        dir.summed_ && !newestKnown ? Newer(dir.Modified(), NewestOwnFile(dir)) : dir.ownOrNewest_.Get();
    dir.summed_ = true;
    for (uint32_t i = 0; i < held.childCount; ++i) {
        const KeptDirectory* child = held.children[i];
        if (!child || (child->flags & KeptDirectory::Moved))
            continue;
        ++held.entries;
        AddUnlessOverflow(held.length, child->Size(SizeMeasure::Length));
        AddUnlessOverflow(held.onDisk, child->Size(SizeMeasure::OnDisk));
        held.entries += child->Entries();
        held.unreadBelow += child->UnreadBelow();
        held.markedBelow += child->MarkedBelow();
        held.excludedBelow += child->ExcludedBelow();
        held.linkedBelow += child->LinkedBelow();
        newest = Newer(newest, child->Newest());
    }
    dir.ownOrNewest_.Set(newest);
}

// Counts dir's files of several links on disk only where first met: what an earlier completion marked is
// counted again first, as a replaced subtree may have moved where a file is first met. A file moved away is
// met nowhere: its other links count where they are.
void KeptTree::CountLinksOnce(KeptDirectory& dir, std::unordered_set<LinkIdentity, LinkIdentityHash>& met)
{
    using namespace kept_files;
    KeptDirectory::Contents& held = dir.Held();
    ForEachFile(dir, [&](const KeptFile& file) {
        // The flags byte heads the record: the one place a completion writes to.
        uint8_t& flags = *const_cast<uint8_t*>(file.record);
        if (!(flags & Linked) || (flags & Moved))
            return;
        if (flags & CountedElsewhere) {
            flags &= static_cast<uint8_t>(~CountedElsewhere);
            held.ownOnDisk += file.facts->onDisk;
        }
        if (!met.insert({dir.identity.device, file.facts->inode}).second) {
            flags |= CountedElsewhere;
            held.ownOnDisk -= file.facts->onDisk;
        }
    });
}

int64_t KeptFileSize(const KeptFile& file, SizeMeasure measure)
{
    if (!file.facts || file.moved)
        return 0;
    if (measure == SizeMeasure::Length)
        return file.facts->length;
    return file.countedElsewhere ? 0 : file.facts->onDisk;
}

KeptWalk::KeptWalk(const KeptDirectory& start, Scope scope) : start_(&start), scope_(scope) {}

bool KeptWalk::Next()
{
    if (!started_) {
        started_ = true;
        Enter(*start_, 0);
        return true;
    }
    if (NextFile())
        return true;
    while (!open_.empty()) {
        Open& top = open_.back();
        if (top.nextChild == top.dir->ChildCount()) {
            open_.pop_back();
            continue;
        }
        const KeptDirectory* child = top.dir->Children()[top.nextChild++];
        if (!child || (child->flags & KeptDirectory::Moved))
            continue;
        Enter(*child, static_cast<uint32_t>(open_.size()));
        return true;
    }
    return false;
}

void KeptWalk::Enter(const KeptDirectory& dir, uint32_t depth)
{
    dir_ = &dir;
    depth_ = depth;
    atFile_ = false;
    filesLeft_ = 0;
    if (scope_ == Scope::Listing && depth > 0)
        return;
    open_.push_back({&dir, 0});
    if (scope_ != Scope::Directories) {
        nextRecord_ = dir.Files();
        filesLeft_ = dir.FileCount();
    }
}

bool KeptWalk::NextFile()
{
    while (filesLeft_ > 0) {
        --filesLeft_;
        nextRecord_ = ReadKeptFile(nextRecord_, dir_->FileCount() - filesLeft_ - 1, file_);
        if (!file_.moved) {
            atFile_ = true;
            return true;
        }
    }
    atFile_ = false;
    return false;
}

void KeptWalk::PassOver()
{
    if (atFile_ || open_.empty() || open_.back().dir != dir_)
        return;
    open_.pop_back();
    filesLeft_ = 0;
}

}  // namespace murako
