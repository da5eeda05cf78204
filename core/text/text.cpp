#include "text.h"

namespace murako {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

}  // namespace

Utf8Step DecodeUtf8(std::string_view text, size_t at)
{
    const auto lead = static_cast<unsigned char>(text[at]);
    const Utf8Step invalid{kReplacement, 1, false};
    if (lead < 0x80)
        return {lead, 1, true};
    size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // the range of the second byte, narrowed for some leads
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            low = 0xA0;  // no overlong forms
        if (lead == 0xED)
            high = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            low = 0x90;
        if (lead == 0xF4)
            high = 0x8F;  // nothing past U+10FFFF
    } else {
        return invalid;
    }
    if (at + length > text.size())
        return invalid;
    char32_t codePoint = lead & (0x7F >> length);
    for (size_t k = 1; k < length; ++k) {
        const auto next = static_cast<unsigned char>(text[at + k]);
        if (k == 1 ? (next < low || next > high) : (next < 0x80 || next > 0xBF))
            return invalid;
        codePoint = (codePoint << 6) | (next & 0x3F);
    }
    return {codePoint, length, true};
}

std::string DisplayName(std::string_view bytes)
{
    static const char kReplacementUtf8[] = "\xEF\xBF\xBD";
    std::string text;
    text.reserve(bytes.size());
    for (size_t i = 0; i < bytes.size();) {
        const Utf8Step step = DecodeUtf8(bytes, i);
        if (step.valid)
            text.append(bytes.substr(i, step.length));
        else
            text += kReplacementUtf8;
        i += step.length;
    }
    return text;
}

namespace {

bool IsHighSurrogate(char32_t unit)
{
    return unit >= 0xD800 && unit <= 0xDBFF;
}

bool IsLowSurrogate(char32_t unit)
{
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

void AppendUtf8(std::string& out, char32_t codePoint)
{
    if (codePoint < 0x80) {
        out.push_back(static_cast<char>(codePoint));
    } else if (codePoint < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (codePoint >> 6)));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    } else if (codePoint < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (codePoint >> 12)));
        out.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (codePoint >> 18)));
        out.push_back(static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    }
}

void AppendUtf16(std::u16string& out, char32_t codePoint)
{
    if (codePoint < 0x10000) {
        out.push_back(static_cast<char16_t>(codePoint));
    } else {
        codePoint -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (codePoint >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (codePoint & 0x3FF)));
    }
}

// A character that would break a line or draw nothing: the C0 and C1 controls, DEL, the line and paragraph
// separators.
bool BreaksOrHides(char32_t c)
{
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029;
}

// A surrogate's own three bytes, which strict UTF-8 rejects.
bool IsEncodedSurrogate(std::string_view bytes, size_t at)
{
    return at + 3 <= bytes.size() && static_cast<unsigned char>(bytes[at]) == 0xED &&
           static_cast<unsigned char>(bytes[at + 1]) >= 0xA0 && static_cast<unsigned char>(bytes[at + 1]) <= 0xBF &&
           (static_cast<unsigned char>(bytes[at + 2]) & 0xC0) == 0x80;
}

}  // namespace

std::string Wtf8FromUtf16(std::u16string_view units)
{
    std::string out;
    out.reserve(units.size() * 3);
    for (size_t i = 0; i < units.size(); ++i) {
        char32_t unit = units[i];
        if (IsHighSurrogate(unit) && i + 1 < units.size() && IsLowSurrogate(units[i + 1]))
            unit = 0x10000 + ((unit - 0xD800) << 10) + (units[++i] - 0xDC00);
        AppendUtf8(out, unit);
    }
    return out;
}

std::u16string Utf16FromWtf8(std::string_view bytes)
{
    std::u16string out;
    out.reserve(bytes.size());
    for (size_t i = 0; i < bytes.size();) {
        if (IsEncodedSurrogate(bytes, i)) {
            out.push_back(static_cast<char16_t>(((bytes[i] & 0x0F) << 12) | ((bytes[i + 1] & 0x3F) << 6) |
                                                (bytes[i + 2] & 0x3F)));
            i += 3;
            continue;
        }
        const Utf8Step step = DecodeUtf8(bytes, i);
        AppendUtf16(out, step.codePoint);
        i += step.length;
    }
    return out;
}

std::u16string Utf16FromUtf8(std::string_view text)
{
    std::u16string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const Utf8Step step = DecodeUtf8(text, i);
        AppendUtf16(out, step.codePoint);
        i += step.length;
    }
    return out;
}

std::string OnOneLine(std::string_view text)
{
    std::string shown;
    shown.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const Utf8Step step = DecodeUtf8(text, i);
        if (step.valid && BreaksOrHides(step.codePoint))
            AppendUtf8(shown, kReplacement);
        else
            shown.append(text.substr(i, step.length));
        i += step.length;
    }
    return shown;
}

}  // namespace murako
