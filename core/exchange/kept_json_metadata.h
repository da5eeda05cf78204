#pragma once
// What an export file says of itself before its tree: read from its first bytes alone, so that a window can
// tell the file's date without waiting for the tree.

#include <cstdint>
#include <optional>
#include <string_view>

namespace murako {

// The seconds since 1970 at which the file was written, from the "timestamp" of the metadata that head, the
// file's beginning, holds whole; nothing when head ends first, is no export file or carries no timestamp.
std::optional<int64_t> ExportTimestamp(std::string_view head);

}  // namespace murako
