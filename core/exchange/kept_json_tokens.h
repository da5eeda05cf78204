#pragma once
// JSON's numbers, words and strings read in place from bytes that zeros end, each from a cursor left after what it
// read. What is out of the ordinary for the quick reader (a fraction, an escaped surrogate) is refused as a fault is.

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace murako::kept_json {

// The escape at at, a backslash and what follows, decoded into text; at left after it. False at one out of the
// ordinary: an escaped surrogate, or an escape JSON has not.
inline bool ReadEscape(const char*& at, std::string& text)
{
    static constexpr std::string_view from = "\"\\/bfnrt";
    static constexpr std::string_view to = "\"\\/\b\f\n\r\t";
    const char kind = at[1];
    at += 2;
    if (const size_t simple = from.find(kind); kind != '\0' && simple != std::string_view::npos) {
        text.push_back(to[simple]);
        return true;
    }
    if (kind != 'u')
        return false;
    unsigned code = 0;
    for (int i = 0; i < 4; ++i, ++at) {
        const char c = *at;
        const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10
                        : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
        if (digit < 0)
            return false;
        code = code * 16 + static_cast<unsigned>(digit);
    }
    if (code >= 0xd800 && code < 0xe000)
        return false;
    if (code < 0x80) {
        text.push_back(static_cast<char>(code));
    } else if (code < 0x800) {
        text.push_back(static_cast<char>(0xc0 | (code >> 6)));
        text.push_back(static_cast<char>(0x80 | (code & 0x3f)));
    } else {
        text.push_back(static_cast<char>(0xe0 | (code >> 12)));
        text.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3f)));
        text.push_back(static_cast<char>(0x80 | (code & 0x3f)));
    }
    return true;
}

// A whole number's digits, no more than 19 of them and without a leading zero; false also where a fraction or an
// exponent follows them.
inline bool ReadDigits(const char*& at, uint64_t& value)
{
    const char* digits = at;
    value = 0;
    while (static_cast<unsigned char>(*at - '0') < 10)
        value = value * 10 + static_cast<unsigned char>(*at++ - '0');
    const size_t count = static_cast<size_t>(at - digits);
    return count > 0 && count < 20 && (count == 1 || *digits != '0') && *at != '.' && *at != 'e' && *at != 'E';
}

// The word at at, compared whole: the zeros behind the bytes read never match a word's letters.
inline bool ReadWord(const char*& at, std::string_view word)
{
    if (std::memcmp(at, word.data(), word.size()) != 0)
        return false;
    at += word.size();
    return true;
}

// A string's text, escapes decoded, after its opening quote; false where the bytes end first.
inline bool ReadString(const char*& at, std::string& text)
{
    text.clear();
    const char* run = at;
    for (;;) {
        const auto c = static_cast<unsigned char>(*at);
        if (c == '"') {
            text.append(run, static_cast<size_t>(at - run));
            ++at;
            return true;
        }
        if (c == '\\') {
            text.append(run, static_cast<size_t>(at - run));
            if (!ReadEscape(at, text))
                return false;
            run = at;
            continue;
        }
        if (c < 0x20)
            return false;  // the end of the bytes read, or a control character JSON does not allow
        ++at;
    }
}

// A string without escapes, in place, after its opening quote; false at an escape too.
inline bool ReadPlainString(const char*& at, std::string_view& text)
{
    const char* start = at;
    while (*at != '"' && *at != '\\' && static_cast<unsigned char>(*at) >= 0x20)
        ++at;
    if (*at != '"')
        return false;
    text = {start, static_cast<size_t>(at - start)};
    ++at;
    return true;
}

}  // namespace murako::kept_json
