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

std::u16string Utf16FromUtf8(std::string_view text)
{
    std::u16string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const Utf8Step step = DecodeUtf8(text, i);
        char32_t codePoint = step.codePoint;
        if (codePoint < 0x10000) {
            out.push_back(static_cast<char16_t>(codePoint));
        } else {
            codePoint -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (codePoint >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (codePoint & 0x3FF)));
        }
        i += step.length;
    }
    return out;
}

}  // namespace murako
