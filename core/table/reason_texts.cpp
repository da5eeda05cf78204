#include "reason_texts.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <string_view>

#include "size_units.h"

namespace murako {

namespace {

struct ReasonWords {
    Reason reason;
    std::string_view japanese;  // "%s" stands for the detail
    std::string_view english;
};

constexpr std::array<ReasonWords, 45> kWords{{
    {Reason::None, "", ""},
    {Reason::NoSuchFile, "ファイルがありません。", "no such file"},
    {Reason::NoPermission, "ファイルを読み書きする権限がありません。", "permission denied"},
    {Reason::IsDirectory, "ファイルではなくフォルダーです。", "a directory, not a file"},
    {Reason::CannotOpen, "ファイルを開けません（%s）。", "cannot open: %s"},
    {Reason::CannotReadToEnd, "ファイルを最後まで読み取れませんでした。", "the file could not be read to its end"},
    {Reason::CannotReadAgain, "ファイルをもう一度読み取れませんでした。", "the file could not be read again"},
    {Reason::EndsBeforeJson, "ファイルが JSON の途中で終わっています。", "the file ends before its JSON does"},
    {Reason::NotJson, "JSON として正しくありません。", "%s"},
    {Reason::NoValueForLong, "値のないまま %s バイトを超えています。名前にしては長すぎます。",
     "more than %s bytes without a value, as no name is"},
    {Reason::NestedTooDeep, "使われない値の入れ子が %s 段を超えています。",
     "a value this program does not use nests deeper than %s levels"},
    {Reason::LoneSurrogate, "対になっていないサロゲート（\\u の文字コード）があります。",
     "a lone surrogate in a string"},
    {Reason::NotAnArray, "ファイルが配列ではありません。", "the file is not an array"},
    {Reason::UnknownMajorVersion, "形式のメジャーバージョンが %s です。読めるのは 1 だけです。",
     "major version %s, of which only 1 is known"},
    {Reason::VersionNotNumber, "形式のバージョンが数ではありません。", "the version is not a number"},
    {Reason::MetadataNotObject, "メタデータがオブジェクトではありません。", "the metadata is not an object"},
    {Reason::TopNotArray, "一番上のディレクトリが配列ではありません。", "the directory at the top is not an array"},
    {Reason::DirectoryWithoutInfo, "情報オブジェクトのないディレクトリがあります。", "a directory without its info object"},
    {Reason::MoreThanOneTop, "一番上のディレクトリが 2 つ以上あります。", "more than one directory at the top"},
    {Reason::EndsBeforeDirectory, "ファイルがディレクトリの途中で終わっています。",
     "the file ends before its directory does"},
    {Reason::MisplacedValue, "項目のあるべき所に別の値があります。", "a value where an entry belongs"},
    {Reason::FieldOfWrongKind, "「%s」の値の種類が違います。", "\"%s\" is of the wrong kind"},
    {Reason::FieldNegative, "「%s」が負の数です。", "\"%s\" is negative"},
    {Reason::FieldTooLarge, "「%s」が大きすぎます。", "\"%s\" is too large"},
    {Reason::SizesTooLarge, "サイズの合計が大きすぎます（2^63 バイト以上）。", "the sizes add up to 2^63 bytes or more"},
    {Reason::NoName, "名前のない項目があります。", "an entry without a name"},
    {Reason::EmptyName, "名前が空の項目があります。", "an entry with an empty name"},
    {Reason::EmptyTopName, "一番上のディレクトリの名前が空です。", "the directory at the top has an empty name"},
    {Reason::DotName, "名前が「.」か「..」の項目があります。", "an entry named \".\" or \"..\""},
    {Reason::NameWithNul, "名前に NUL 文字を含む項目があります。", "an entry whose name holds a NUL"},
    {Reason::NameWithSeparator, "名前に区切り文字「%s」を含む項目があります。",
     "an entry whose name holds a \"%s\""},
    {Reason::TopRelative, "ファイルのフォルダーは相対パスのため、このコンピューターでは開けません",
     "the file's top directory is a relative path"},
    {Reason::TopOfOtherSystem, "ファイルのフォルダーは別の OS のパスのため、このコンピューターでは開けません",
     "the file's top directory is another system's path"},
    {Reason::OutsideTop, "ファイルのフォルダーの外です。", "outside the file's top directory"},
    {Reason::NamedAlike, "同じ名前の項目がファイルに 2 つ以上あるため、どれか分かりません。",
     "the file names more than one entry so"},
    {Reason::HoldsNamedAlike, "同じ名前の項目が 2 つ以上あるフォルダーは、開くことも比較することもできません",
     "directories named alike are neither opened nor compared"},
    {Reason::NotHereNow, "このコンピューターにはそのフォルダーがありません。", "no such directory on this computer now"},
    {Reason::EmptySearch, "保存された検索結果が空です。", "the saved search is empty"},
    {Reason::SearchOfOtherDirectory,
     "保存された検索結果は「%s」の検索です。比較できるのは、検索したディレクトリか、その上または下のディレクトリの検索結果です。",
     "the saved search is of %s, neither the directory searched nor one above or below it"},
    {Reason::NoFolder, "保存先のフォルダーがありません。", "no such folder"},
    {Reason::ReadOnlyVolume, "保存先は読み取り専用です。", "read-only file system"},
    {Reason::NoRoomOnDisk, "ディスクの空きが足りません。", "no space left on the disk"},
    {Reason::LinkLeadsNowhere, "保存先のシンボリックリンクの指す先がありません。", "the symbolic link leads nowhere"},
    {Reason::NotAPlainFile, "保存先がファイルではありません。", "not a plain file"},
    {Reason::CannotSave, "保存できませんでした（%s）。", "could not save: %s"},
}};

std::string_view WordsFor(Reason reason, bool japanese)
{
    for (const ReasonWords& words : kWords)
        if (words.reason == reason)
            return japanese ? words.japanese : words.english;
    return {};
}

std::string Filled(std::string_view pattern, const std::string& detail)
{
    std::string text(pattern);
    if (const size_t at = text.find("%s"); at != std::string::npos)
        text.replace(at, 2, detail);
    return text;
}

}  // namespace

Failure FailureFromErrno(int error, Reason otherwise)
{
    switch (error) {
    case ENOENT: return {Reason::NoSuchFile, {}, {}};
    case EACCES:
    case EPERM: return {Reason::NoPermission, {}, {}};
    case EISDIR: return {Reason::IsDirectory, {}, {}};
    case EROFS: return {Reason::ReadOnlyVolume, {}, {}};
    case ENOSPC: return {Reason::NoRoomOnDisk, {}, {}};
    default: return {otherwise, std::strerror(error), {}};
    }
}

std::string ReasonText(const Failure& failure)
{
    const std::string text = Filled(WordsFor(failure.reason, true), failure.detail);
    if (!failure.byte)
        return text;
    return FormatGrouped(static_cast<int64_t>(*failure.byte), ",") + " バイト目: " + text;
}

std::string ReasonTextInEnglish(const Failure& failure)
{
    const std::string text = Filled(WordsFor(failure.reason, false), failure.detail);
    return failure.byte ? text + " (at byte " + std::to_string(*failure.byte) + ")" : text;
}

}  // namespace murako
