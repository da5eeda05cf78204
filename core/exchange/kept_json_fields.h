#pragma once
// What the thorough reader keeps as the parser's events come: where in the file's shape it is, the fields of the
// info object being read, and the values it reads past.

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "kept_json_builder.h"

namespace murako::kept_json {

// Where in the file's shape the next value comes, moved on as arrays and objects start and end outside the values
// read past.
class FileShape {
public:
    // What an object that starts is.
    enum class Object { Metadata, Info, Misplaced };

    bool Done() const { return expect_ == Expect::Done; }
    Object ObjectStarts()
    {
        switch (expect_) {
        case Expect::Metadata: expect_ = Expect::TopDirectory; return Object::Metadata;
        case Expect::DirectoryInfo:
        case Expect::Entry: return Object::Info;
        default: return Object::Misplaced;
        }
    }
    // An info object ends: true when it was a directory's, whose entries come next.
    bool InfoEnds() { return std::exchange(expect_, Expect::Entry) == Expect::DirectoryInfo; }
    // Each gives no failure when the value may come where the file is, else why not.
    Failure ArrayStarts()
    {
        switch (expect_) {
        case Expect::Outer: expect_ = Expect::Major; return {};
        case Expect::TopDirectory:
        case Expect::Entry: expect_ = Expect::DirectoryInfo; return {};
        default: return Misplaced();
        }
    }
    // A directory's end closes it in builder; the top directory's leaves only the file's own end to come.
    Failure ArrayEnds(TreeBuilder& builder)
    {
        switch (expect_) {
        case Expect::Entry:
            if (!builder.CloseDirectory())
                expect_ = Expect::AfterTop;
            return {};
        case Expect::AfterTop: expect_ = Expect::Done; return {};
        case Expect::DirectoryInfo: return {Reason::DirectoryWithoutInfo, {}, {}};
        default: return {Reason::EndsBeforeDirectory, {}, {}};
        }
    }
    // A number outside every info object: the format's version, major then minor.
    Failure Version(uint64_t value)
    {
        if (expect_ == Expect::Major) {
            if (value != 1)
                return {Reason::UnknownMajorVersion, std::to_string(value), {}};
            expect_ = Expect::Minor;
            return {};
        }
        if (expect_ == Expect::Minor) {
            expect_ = Expect::Metadata;
            return {};
        }
        return Misplaced();
    }
    // Why no value but the one expected can come where the file is.
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

private:
    enum class Expect { Outer, Major, Minor, Metadata, TopDirectory, DirectoryInfo, Entry, AfterTop, Done };
    Expect expect_ = Expect::Outer;
};

// The fields of the info object being read, each checked as its value comes.
class InfoFields {
public:
    bool Open() const { return open_; }
    void Start()
    {
        open_ = true;
        info_ = Info{};
        key_ = InfoKey::Other;
    }
    const Info& End()
    {
        open_ = false;
        key_ = InfoKey::Other;
        return info_;
    }
    // Whether the value that comes is a field this program does not read.
    bool Unused() const { return open_ && key_ == InfoKey::Other; }
    void Key(std::string_view text)
    {
        keyText_.assign(text.substr(0, 64));
        key_ = KeyOf(text);
    }
    // The value of the field named last; a failure naming the field where the field takes no such value.
    Failure Truth(bool value)
    {
        switch (key_) {
        case InfoKey::CutShort: info_.cutShort = value; break;
        case InfoKey::Cache: info_.cache = value; break;
        case InfoKey::Hlnkc: info_.hlnkc = value; break;
        case InfoKey::ReadError: info_.readError = value; break;
        case InfoKey::Notreg: info_.notreg = value; break;
        case InfoKey::Other: break;
        default: return Field(Reason::FieldOfWrongKind);
        }
        return {};
    }
    Failure Text(std::string_view text)
    {
        switch (key_) {
        case InfoKey::Name:
            info_.name.assign(text);
            info_.named = true;
            return {};
        case InfoKey::Excluded:
            info_.excluded = true;
            info_.excludedWhy.assign(text);
            return {};
        case InfoKey::FsType: info_.fsType.assign(text); return {};
        case InfoKey::Failure: info_.failure.assign(text); return {};
        default: return Field(Reason::FieldOfWrongKind);
        }
    }
    Failure Number(uint64_t value)
    {
        switch (key_) {
        case InfoKey::Asize:
        case InfoKey::Dsize:
            if (value > kLargestSize)
                return Field(Reason::FieldTooLarge);
            (key_ == InfoKey::Asize ? info_.asize : info_.dsize) = value;
            return {};
        case InfoKey::Dev: info_.dev = value; return {};
        case InfoKey::Ino: info_.ino = value; return {};
        case InfoKey::Nlink: info_.nlink = value; return {};
        case InfoKey::Mtime: info_.mtime = static_cast<ModifiedTime>(std::min<uint64_t>(value, kLargestSize)); return {};
        case InfoKey::Other: return {};
        default: return Field(Reason::FieldOfWrongKind);
        }
    }
    // A time of any sign or a fraction, which only the time field takes; false where another is read.
    bool Time(ModifiedTime time)
    {
        if (!open_ || key_ != InfoKey::Mtime)
            return false;
        info_.mtime = time;
        return true;
    }
    Failure Field(Reason reason) const { return {reason, keyText_, {}}; }

private:
    bool open_ = false;
    InfoKey key_ = InfoKey::Other;
    std::string keyText_;  // the field's name as the file has it, for a failure to name
    Info info_;
};

// The values read past: the metadata, whose timestamp is read, and fields this program does not use.
class PassedOver {
public:
    bool Active() const { return depth_ > 0; }
    // Deeper than the thorough reader's parser takes a value nobody reads.
    bool TooDeep() const { return depth_ > kMostUnusedNesting; }
    void StartMetadata()
    {
        ++depth_;
        inMetadata_ = true;
    }
    // An array or an object starts within what is read past; false once it nests too deep.
    bool Start() { return ++depth_ <= kMostUnusedNesting; }
    // One ends; false where nothing was read past.
    bool End()
    {
        if (!Active())
            return false;
        if (--depth_ == 0)
            inMetadata_ = false;
        return true;
    }
    void Key(std::string_view key)
    {
        metadataKey_ = inMetadata_ && depth_ == 1 ? std::string(key.substr(0, 64)) : std::string();
    }
    // Whether the value read is the metadata's member of that name.
    bool MetadataMember(std::string_view key) const { return inMetadata_ && depth_ == 1 && metadataKey_ == key; }
    void Number(uint64_t value)
    {
        if (MetadataMember("timestamp") && value <= kLargestSize)
            timestamp_ = static_cast<int64_t>(value);
    }
    // The metadata's timestamp, once read.
    std::optional<int64_t> Timestamp() const { return timestamp_; }

private:
    size_t depth_ = 0;
    bool inMetadata_ = false;
    std::string metadataKey_;  // of the metadata's member being read
    std::optional<int64_t> timestamp_;
};

}  // namespace murako::kept_json
