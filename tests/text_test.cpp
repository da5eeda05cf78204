#include "text.h"

#include <gtest/gtest.h>

namespace murako {
namespace {

// Both forms come from one decoder; each case is checked in both, so a form that drifts is caught.
TEST(Utf8Decoding, KeepsWellFormedTextAndReplacesEachBadByteInBothForms)
{
    struct Case {
        const char* bytes;
        const char* display;
        std::u16string utf16;
    };
    const Case cases[] = {
        {"a№あ", "a№あ", u"a№あ"},
        {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80", u"\U0001F600"},
        {"a\xFF" "b", "a\uFFFD" "b", u"a\uFFFDb"},
        {"\xC0\xAF", "\uFFFD\uFFFD", u"\uFFFD\uFFFD"},                    // overlong "/"
        {"\xE0\x80\xAF", "\uFFFD\uFFFD\uFFFD", u"\uFFFD\uFFFD\uFFFD"},    // overlong in three bytes
        {"\xED\xA0\x80", "\uFFFD\uFFFD\uFFFD", u"\uFFFD\uFFFD\uFFFD"},    // encoded surrogate
        {"\xF4\x90\x80\x80", "\uFFFD\uFFFD\uFFFD\uFFFD", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // past U+10FFFF
        {"ok 日本 \xE6\x97", "ok 日本 \uFFFD\uFFFD", u"ok 日本 \uFFFD\uFFFD"},            // cut at the end
        {"caf\xE9", "caf\uFFFD", u"caf\uFFFD"},                           // Latin-1
        {"", "", u""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DisplayName(c.bytes), c.display) << c.bytes;
        EXPECT_EQ(Utf16FromUtf8(c.bytes), c.utf16) << c.bytes;
    }
}

}  // namespace
}  // namespace murako
