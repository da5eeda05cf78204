#pragma once
// Why a file could not be read or saved, as every part of the program reports it: one reason, what it names, and
// in a file the byte where reading stopped; and the words the window shows for each, beside English ones for
// murako-bench.

#include <cstdint>
#include <optional>
#include <string>

namespace murako {

enum class Reason : uint8_t {
    None,
    // Opening and reading a file.
    NoSuchFile,
    NoPermission,
    IsDirectory,
    CannotOpen,
    CannotReadToEnd,
    CannotReadAgain,
    // The file's JSON.
    EndsBeforeJson,
    NotJson,
    NoValueForLong,
    NestedTooDeep,
    LoneSurrogate,
    // The export format.
    NotAnArray,
    UnknownMajorVersion,
    VersionNotNumber,
    MetadataNotObject,
    TopNotArray,
    DirectoryWithoutInfo,
    MoreThanOneTop,
    EndsBeforeDirectory,
    MisplacedValue,
    FieldOfWrongKind,
    FieldNegative,
    FieldTooLarge,
    SizesTooLarge,
    // Names in the file.
    NoName,
    EmptyName,
    EmptyTopName,
    DotName,
    NameWithNul,
    NameWithSeparator,
    // Acting on results read from a file.
    TopRelative,
    TopOfOtherSystem,
    OutsideTop,
    NamedAlike,
    HoldsNamedAlike,
    NotHereNow,
    // Comparing with results read from a file.
    EmptySearch,
    SearchOfOtherDirectory,
    // Saving a file.
    NoFolder,
    ReadOnlyVolume,
    NoRoomOnDisk,
    LinkLeadsNowhere,
    NotAPlainFile,
    CannotSave,
};

struct Failure {
    Reason reason = Reason::None;
    std::string detail;            // what the reason names: a field, a version, the system's own words
    std::optional<uint64_t> byte;  // in a file being read: where reading stopped

    explicit operator bool() const { return reason != Reason::None; }
};

// The reason from an errno value of opening or saving a file, the system's words kept as its detail.
Failure FailureFromErrno(int error, Reason otherwise);

// The window's words: "1,000 バイト目: ファイルが JSON の途中で終わっています。"
std::string ReasonText(const Failure& failure);
// murako-bench's: "the file ends before its JSON does (at byte 1000)"
std::string ReasonTextInEnglish(const Failure& failure);

}  // namespace murako
