// The packed records of a directory's files: writing them as a listing goes, reading them back; the one walk
// through a kept tree's live entries, and a directory found by its path.
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

}  // namespace

KeptFilesWriter::KeptFilesWriter(const KeptFilesWriter& other)
    : count_(other.count_), length_(other.length_), onDisk_(other.onDisk_), linked_(other.linked_),
      excluded_(other.excluded_), excludedCount_(other.excludedCount_)
{
    Append(other.bytes_, other.size_);
}

KeptFilesWriter::KeptFilesWriter(KeptFilesWriter&& other) noexcept
    : bytes_(std::exchange(other.bytes_, nullptr)), size_(std::exchange(other.size_, 0)),
      room_(std::exchange(other.room_, 0)), count_(std::exchange(other.count_, 0)),
      length_(std::exchange(other.length_, 0)), onDisk_(std::exchange(other.onDisk_, 0)),
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
    std::swap(linked_, other.linked_);
    std::swap(excluded_, other.excluded_);
    std::swap(excludedCount_, other.excludedCount_);
    return *this;
}

KeptFilesWriter::~KeptFilesWriter()
{
    std::free(bytes_);
}

void KeptFilesWriter::Append(const char* bytes, size_t size)
{
    if (size == 0)
        return;
    if (size_ + size > room_) {
        const size_t room = std::max({size_ + size, 2 * room_, size_t{256}});
        void* grown = std::realloc(bytes_, room);
        if (!grown)
            throw std::bad_alloc();
        bytes_ = static_cast<char*>(grown);
        room_ = room;
    }
    std::memcpy(bytes_ + size_, bytes, size);
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
    // The record in three appends: what comes before the name, the name, and the facts.
    char head[11];
    head[0] = static_cast<char>(flags);
    Append(head, static_cast<size_t>(WriteVarint(head + 1, name.size()) - head));
    Append(name.data(), name.size());
    ++count_;
    if (!facts)
        return;
    char tail[40];
    char* end = WriteVarint(tail, Unsigned(facts->length));
    end = WriteVarint(end, Unsigned(facts->onDisk) / ((flags & OnDiskInBlocks) ? 512 : 1));
    AddUnlessOverflow(length_, facts->length);
    AddUnlessOverflow(onDisk_, facts->onDisk);
    if (flags & Linked) {
        end = WriteVarint(end, facts->inode);
        end = WriteVarint(end, facts->links);
        linked_ = true;
    }
    Append(tail, static_cast<size_t>(end - tail));
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
    linked_ = false;
}

std::string_view KeptDirectory::OtherFileSystemType() const
{
    if (!(flags & OtherFileSystem) || !files)
        return {};
    return {reinterpret_cast<const char*>(files), filesBytes};
}

void KeptTree::SetOtherFileSystem(KeptDirectory& dir, std::string_view type)
{
    dir.flags |= KeptDirectory::OtherFileSystem;
    if (type.empty() || dir.fileCount > 0)
        return;
    auto* bytes = static_cast<uint8_t*>(Allocate(type.size()));
    std::memcpy(bytes, type.data(), type.size());
    dir.files = bytes;
    dir.filesBytes = static_cast<uint32_t>(type.size());
}

const uint8_t* ReadKeptFile(const uint8_t* at, uint32_t index, KeptFile& file)
{
    using namespace kept_files;
    file.record = at;
    file.index = index;
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
    if (flags & Linked) {
        facts.inode = ReadVarint(at);
        facts.links = static_cast<uint32_t>(ReadVarint(at));
    }
    file.facts = facts;
    return at;
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
        if (top.nextChild == top.dir->childCount) {
            open_.pop_back();
            continue;
        }
        const KeptDirectory* child = top.dir->children[top.nextChild++];
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
        nextRecord_ = dir.files;
        filesLeft_ = dir.fileCount;
    }
}

bool KeptWalk::NextFile()
{
    while (filesLeft_ > 0) {
        --filesLeft_;
        nextRecord_ = ReadKeptFile(nextRecord_, dir_->fileCount - filesLeft_ - 1, file_);
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

const KeptDirectory* KeptDirectory::Child(std::string_view name) const
{
    for (uint32_t i = 0; i < childCount; ++i)
        if (children[i] && children[i]->Name() == name)
            return children[i];
    return nullptr;
}

const KeptDirectory* KeptTree::Find(const std::string& path, char separator) const
{
    std::string_view base = basePath_;
    while (base.size() > 1 && base.back() == separator)
        base.remove_suffix(1);
    std::string_view rest = path;
    if (!base_ || rest.substr(0, base.size()) != base)
        return nullptr;
    rest.remove_prefix(base.size());
    if (!rest.empty() && rest.front() != separator && base.back() != separator)
        return nullptr;  // a sibling whose name begins with the base's
    const KeptDirectory* dir = base_;
    while (dir && !rest.empty()) {
        const size_t start = rest.find_first_not_of(separator);
        if (start == std::string_view::npos)
            break;
        rest.remove_prefix(start);
        const size_t end = rest.find(separator);
        dir = dir->Child(rest.substr(0, end));
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end);
    }
    return dir;
}

}  // namespace murako
