#pragma once
// RapidJSON's input for the thorough reading: cut off where it has gone too long without a value, or at an
// escaped low surrogate with no high one before it, and telling the bytes read.

#include <cstdint>

#include <rapidjson/rapidjson.h>

#include "kept_json.h"

namespace murako::kept_json {

// Names are a few kB at most; a string or a gap between values longer than this is no name but a broken or
// hostile file, which must not make the parser hold gigabytes before it can tell.
constexpr uint64_t kMostBytesBetweenValues = 1 << 20;
constexpr uint64_t kProgressStep = 4 << 20;

// The parser's input, cut off where it has gone too long without a value and telling the bytes read.
template <typename Inner>
class GuardedStream {
public:
    using Ch = char;
    GuardedStream(Inner& inner, const ReadProgress& progress) : inner_(inner), progress_(progress) {}

    Ch Peek() const { return cut_ ? '\0' : inner_.Peek(); }
    RAPIDJSON_FORCEINLINE Ch Take()
    {
        if (cut_ || ++sinceValue_ > kMostBytesBetweenValues) {
            cut_ = true;
            return '\0';
        }
        const Ch c = inner_.Take();
        if (c == '\\' || escaped_ || hexLeft_ > 0)
            WatchEscape(c);
        else
            afterHigh_ = false;
        return c;
    }
    size_t Tell() const { return inner_.Tell(); }

    void ValueSeen()
    {
        sinceValue_ = 0;
        if (progress_ && inner_.Tell() >= nextProgress_) {
            progress_(inner_.Tell());
            nextProgress_ = inner_.Tell() + kProgressStep;
        }
    }
    bool Cut() const { return cut_ && !loneSurrogate_; }
    bool LoneSurrogate() const { return loneSurrogate_; }
    bool AtEnd() const { return inner_.Peek() == '\0'; }

    // Never written to.
    Ch* PutBegin() { return nullptr; }
    void Put(Ch) {}
    void Flush() {}
    size_t PutEnd(Ch*) { return 0; }

private:
    // The parser takes a low surrogate's escape without the high one before it as bytes no UTF-8 has; it is
    // cut off after its digits instead, as it takes a lone high one.
    void WatchEscape(Ch c)
    {
        if (hexLeft_ > 0) {
            const int digit = c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
            code_ = code_ * 16 + static_cast<unsigned>(digit);
            if (--hexLeft_ > 0)
                return;
            const bool low = code_ >= 0xdc00 && code_ < 0xe000;
            if (low && !afterHigh_)
                cut_ = loneSurrogate_ = true;
            afterHigh_ = code_ >= 0xd800 && code_ < 0xdc00;
        } else if (escaped_) {
            escaped_ = false;
            if (c == 'u') {
                hexLeft_ = 4;
                code_ = 0;
            } else {
                afterHigh_ = false;
            }
        } else {
            escaped_ = true;
        }
    }

    Inner& inner_;
    const ReadProgress& progress_;
    uint64_t sinceValue_ = 0;
    uint64_t nextProgress_ = kProgressStep;
    bool cut_ = false;
    bool escaped_ = false;  // after a backslash
    int hexLeft_ = 0;       // of a \u escape's digits
    unsigned code_ = 0;
    bool afterHigh_ = false;  // right after a high surrogate's escape
    bool loneSurrogate_ = false;
};

}  // namespace murako::kept_json
