#include "file_types.h"

#include <algorithm>
#include <optional>
#include <unordered_map>

#include "kept_counts.h"

namespace murako {

namespace {

struct GroupInfo {
    const char* name;
    uint32_t colour;
    const char* extensions;  // separated by spaces
};

// The one table of groups, their colours and their extensions.
constexpr std::array<GroupInfo, TypeGroupCount> Groups{{
    {"画像", 0x4caf50, "jpg jpeg png gif bmp tif tiff webp heic heif svg ico raw cr2 nef arw dng psd xcf"},
    {"動画", 0xe53935, "mp4 m4v mov avi mkv wmv flv webm mpg mpeg m2ts mts ts vob 3gp"},
    {"音声", 0xfb8c00, "mp3 wav flac aac m4a ogg oga opus wma aiff aif mid midi"},
    {"文書", 0x1e88e5,
     "txt md rst pdf doc docx xls xlsx ppt pptx odt ods odp rtf csv tsv html htm xml json yaml yml tex epub "
     "info man"},
    {"アーカイブ", 0x8e24aa,
     "zip tar gz tgz bz2 xz zst lz4 lzma 7z rar cab iso img deb rpm apk jar war whl gem dmg vhd vmdk qcow2"},
    {"プログラム", 0x00acc1,
     "exe dll so a o obj lib bin elf msi sh bash bat cmd ps1 py pyc js mjs ts c h cc cpp hpp cxx rs go java class "
     "rb pl pm php lua cs swift kt wasm"},
    {"システム", 0x8d6e63, "sys log tmp cache db sqlite lock pid swp bak ko mo pak dat idx pack conf cfg ini"},
    {"その他", 0xbdbdbd, ""},
}};

const std::unordered_map<std::string_view, TypeGroup>& GroupsByExtension()
{
    static const auto table = [] {
        std::unordered_map<std::string_view, TypeGroup> byExtension;
        for (size_t group = 0; group < Groups.size(); ++group) {
            std::string_view list = Groups[group].extensions;
            while (!list.empty()) {
                const size_t end = std::min(list.find(' '), list.size());
                byExtension.emplace(list.substr(0, end), static_cast<TypeGroup>(group));
                list.remove_prefix(std::min(end + 1, list.size()));
            }
        }
        return byExtension;
    }();
    return table;
}

}  // namespace

const char* TypeGroupName(TypeGroup group) { return Groups[static_cast<size_t>(group)].name; }
uint32_t TypeGroupColour(TypeGroup group) { return Groups[static_cast<size_t>(group)].colour; }

std::string ExtensionOf(std::string_view fileName)
{
    auto isNumber = [](std::string_view part) {
        return !part.empty() && std::all_of(part.begin(), part.end(), [](char c) { return c >= '0' && c <= '9'; });
    };
    size_t dot = fileName.rfind('.');
    // A version after the extension ("libc.so.6", "syslog.log.1") is no extension of its own.
    auto partAfter = [&](size_t at) { return fileName.substr(at + 1, fileName.find('.', at + 1) - at - 1); };
    while (dot != std::string_view::npos && dot > 0 && isNumber(partAfter(dot)))
        dot = fileName.rfind('.', dot - 1);
    if (dot == std::string_view::npos || dot == 0)
        return {};
    std::string extension(partAfter(dot));
    for (char& c : extension)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return extension;
}

TypeGroup TypeGroupOf(std::string_view fileName)
{
    const auto& table = GroupsByExtension();
    const auto found = table.find(ExtensionOf(fileName));
    return found == table.end() ? TypeGroup::Other : found->second;
}

namespace {

// Counts by extension, one look-up per file: its extension's count, which knows its group.
class ExtensionTally {
public:
    void Add(std::string&& extension, int64_t bytes, std::optional<TypeGroup> group)
    {
        auto [at, added] = byExtension_.try_emplace(std::move(extension));
        if (added) {
            at->second.extension.extension = at->first;
            const auto found = group ? groups_.end() : groups_.find(at->first);
            at->second.group = group ? *group : found == groups_.end() ? TypeGroup::Other : found->second;
        }
        ++at->second.extension.files;
        at->second.extension.bytes += bytes;
    }

    // Into space's groups, each group's extensions largest first.
    void Into(TypeSpace& space)
    {
        for (size_t group = 0; group < TypeGroupCount; ++group)
            space.groups[group].group = static_cast<TypeGroup>(group);
        for (auto& [name, counted] : byExtension_) {
            TypeSpace::Group& group = space.groups[static_cast<size_t>(counted.group)];
            group.files += counted.extension.files;
            group.bytes += counted.extension.bytes;
            space.files += counted.extension.files;
            group.extensions.push_back(std::move(counted.extension));
        }
        for (TypeSpace::Group& group : space.groups)
            std::sort(group.extensions.begin(), group.extensions.end(), [](const auto& a, const auto& b) {
                return a.bytes != b.bytes ? a.bytes > b.bytes : a.extension < b.extension;
            });
    }

private:
    struct Counted {
        TypeGroup group;
        TypeSpace::Extension extension;
    };
    std::unordered_map<std::string, Counted> byExtension_;
    const std::unordered_map<std::string_view, TypeGroup>& groups_ = GroupsByExtension();
};

}  // namespace

TypeSpace SpaceByType(const KeptDirectory& dir, SizeMeasure measure)
{
    ExtensionTally tally;
    const KeptCounts counts(dir, measure);
    // On disk a directory's own blocks count too (what its files leave of its own); lengths count files only.
    int64_t ownLeft = 0;
    auto addOwnLeft = [&] {
        if (ownLeft != 0)
            tally.Add(std::string(DirectoriesExtension), ownLeft, TypeGroup::System);
    };
    for (KeptWalk walk(dir); walk.Next();) {
        if (walk.AtFile()) {
            const int64_t bytes = counts.FileSize(walk.File());
            ownLeft -= bytes;
            tally.Add(ExtensionOf(walk.File().name), bytes, std::nullopt);
            continue;
        }
        addOwnLeft();
        ownLeft = counts.Own(walk.Directory());
    }
    addOwnLeft();
    TypeSpace space;
    space.total = counts.Size(dir);
    tally.Into(space);
    return space;
}

}  // namespace murako
