#include "field_fitting.h"

#include "cp932_double_byte_table.h"

#include <utility>

namespace murako {

int ColumnWidth(char16_t unit)
{
    const bool doubleByte = (kCp932DoubleByteBits[unit / 64] >> (unit % 64)) & 1u;
    return doubleByte ? 2 : 1;
}

int32_t Columns(std::u16string_view text)
{
    int32_t columns = 0;
    for (const char16_t unit : text)
        columns += ColumnWidth(unit);
    return columns;
}

namespace {

// glibc's CP932 converter maps these to another character's code; printing that character keeps its width.
constexpr std::pair<char16_t, char16_t> kBestFit[] = {
    {u'\u00A2', u'\uFFE0'}, {u'\u00A3', u'\uFFE1'}, {u'\u00A5', u'\\'}, {u'\u00AC', u'\uFFE2'}, {u'\u2014', u'\u2015'},
    {u'\u2016', u'\u2225'}, {u'\u203E', u'~'}, {u'\u2212', u'\uFF0D'}, {u'\u301C', u'\uFF5E'},
};

char16_t PrintedUnit(char16_t unit)
{
    constexpr char16_t substitute = u'?';
    if (unit < 0x20 || (unit >= 0x7F && unit <= 0x9F))
        return substitute;
    if (unit < 0x80 || (unit >= 0xFF61 && unit <= 0xFF9F))
        return unit;
    for (const auto& [from, to] : kBestFit)
        if (unit == from)
            return to;
    // Apart from the single bytes above, code page 932 represents exactly its double-byte characters.
    return ColumnWidth(unit) == 2 ? unit : substitute;
}

}  // namespace

std::u16string Cp932PrintForm(std::u16string_view text)
{
    std::u16string printed;
    printed.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        // A character outside the Basic Multilingual Plane is two units but one character, so one "?".
        const bool pair = i + 1 < text.size() && text[i] >= 0xD800 && text[i] <= 0xDBFF && text[i + 1] >= 0xDC00 &&
                          text[i + 1] <= 0xDFFF;
        printed.push_back(PrintedUnit(text[i]));
        i += pair ? 1 : 0;
    }
    return printed;
}

std::u16string LeftAndSpace(std::u16string_view TgtStr, int32_t PrmLen, bool PrmRightSpace)
{
    if (PrmLen <= 0)
        return {};
    int32_t used = 0;
    size_t kept = 0;
    for (const char16_t unit : TgtStr) {
        const int width = ColumnWidth(unit);
        if (used + width > PrmLen)
            break;
        used += width;
        ++kept;
    }
    const std::u16string filler(static_cast<size_t>(PrmLen - used), u' ');
    const std::u16string_view text = TgtStr.substr(0, kept);
    return PrmRightSpace ? filler + std::u16string(text) : std::u16string(text) + filler;
}

}  // namespace murako
