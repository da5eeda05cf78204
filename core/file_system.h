#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace murako {

enum class EntryKind : uint8_t {
    Directory,
    NotDirectory,
    Unknown,  // the attribute query failed
};

// One open directory: listed once, entry by entry, and the handle its subdirectories are opened from.
// Names are bytes, as the file system holds them.
class Directory {
public:
    virtual ~Directory() = default;
    // Fetches the next name; false when the listing is exhausted or fails.
    virtual bool NextName(std::string_view& name) = 0;
    // The kind of the name fetched last.
    virtual EntryKind Kind() = 0;
    // The length of the name fetched last, as the entry itself holds it (a link's own length); nullopt when
    // the query fails.
    virtual std::optional<int64_t> Length() = 0;
    // The length of any name of this directory; safe to call from several threads at once.
    virtual std::optional<int64_t> LengthOf(std::string_view name) = 0;
    // Opens a subdirectory by name; nullptr when it cannot be listed. Once the listing is done, safe to
    // call from several threads at once.
    virtual std::unique_ptr<Directory> OpenSubdirectory(std::string_view name) = 0;
};

class FileSystem {
public:
    virtual ~FileSystem() = default;
    // Opens a directory by full path; nullptr when it cannot be listed.
    virtual std::unique_ptr<Directory> Open(const std::string& path) = 0;
};

}  // namespace murako
