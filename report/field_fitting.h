#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace murako {

// Half-width columns one UTF-16 code unit takes when printed: 2 when its code page 932 form is
// two bytes, else 1 (half-width katakana, characters outside code page 932 and lone surrogates).
int ColumnWidth(char16_t unit);

// Half-width columns a text takes when printed: the sum of its units' widths.
int32_t Columns(std::u16string_view text);

// The text as code page 932 prints it, character for character: a character that code page 932 cannot
// represent (one outside the Basic Multilingual Plane, a lone surrogate), and a control character, becomes
// the one-byte substitute "?"; a best-fit mapping becomes the character it maps to. Every printed glyph is
// then as wide as the columns counted for it, whatever the script.
std::u16string Cp932PrintForm(std::u16string_view text);

// Fits TgtStr into exactly PrmLen columns: keeps the leading units that fit, drops everything from the
// first unit that does not, and pads with ASCII spaces after the text, or before it when PrmRightSpace.
std::u16string LeftAndSpace(std::u16string_view TgtStr, int32_t PrmLen, bool PrmRightSpace = false);

}  // namespace murako
