#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace murako {

// One step of UTF-8 decoding at a position: a well-formed sequence gives its code point and length; any
// other byte (a stray continuation, a cut or overlong sequence, an encoded surrogate, a value past
// U+10FFFF) is invalid on its own, with length 1.
struct Utf8Step {
    char32_t codePoint;
    size_t length;
    bool valid;
};
Utf8Step DecodeUtf8(std::string_view text, size_t at);

// A file name's bytes as display text: valid UTF-8 kept, every invalid byte shown as U+FFFD.
std::string DisplayName(std::string_view bytes);

// A text as it draws on one line: each character that would break a line or draw nothing (a control
// character, DEL, a line or paragraph separator) as U+FFFD, as a byte that is not UTF-8 shows; all else, such
// bytes too, as it is. A file name may hold any of them but "/". Fonts seldom have the control pictures ("␊").
std::string OnOneLine(std::string_view text);

// Windows names are UTF-16 that may hold unpaired surrogates; inside they are WTF-8, which is UTF-8 but for
// an unpaired surrogate's three bytes, so that each name turns back into the very units it was listed as.
std::string Wtf8FromUtf16(std::u16string_view units);
std::u16string Utf16FromWtf8(std::string_view bytes);

// The table holds UTF-8; each malformed byte becomes U+FFFD so that a bad name still prints.
std::u16string Utf16FromUtf8(std::string_view text);

}  // namespace murako
