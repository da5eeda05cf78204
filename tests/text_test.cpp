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

// Windows names hold unpaired surrogates: each must come back as the very units listed, or the directory
// could not be opened again, while proper pairs and plain text read as UTF-8.
TEST(Wtf8, EveryUtf16NameRoundTripsAndWellFormedNamesAreUtf8)
{
    const std::u16string names[] = {
        u"合計", u"a😀b", std::u16string(u"x\xD800y"), std::u16string(u"\xDC00"),
        std::u16string(u"\xD83D\xD83D\xDE00"),  // a lone high surrogate before a pair
        std::u16string(u"\xDE00\xD83D"),          // a pair in the wrong order is two lone ones
        u"",
    };
    for (const std::u16string& name : names) {
        const std::string bytes = Wtf8FromUtf16(name);
        EXPECT_EQ(Utf16FromWtf8(bytes), name) << bytes;
    }
    EXPECT_EQ(Wtf8FromUtf16(u"a😀"), "a\xF0\x9F\x98\x80");
    EXPECT_EQ(Wtf8FromUtf16(std::u16string(u"\xD800")), "\xED\xA0\x80");
    EXPECT_EQ(DisplayName(Wtf8FromUtf16(std::u16string(u"a\xD800"))), "a\uFFFD\uFFFD\uFFFD");
}

}  // namespace
}  // namespace murako

namespace murako {
namespace {

TEST(OnOneLine, EveryCharacterThatBreaksALineOrDrawsNothingShowsAsOneReplacementCharacter)
{
    const std::pair<std::string, std::string> cases[] = {
        {"two\nlines", "two\uFFFDlines"},
        {"\r\n\t\x0B\x0C\x1B\x7F", std::string(7, '#')},
        {std::string("nul\0x", 5), "nul\uFFFDx"},
        {"\x1F \xC2\x80 \xC2\x85 \xC2\x9F", "# # # #"},  // C1 controls, NEL among them
        {"\xE2\x80\xA8 \xE2\x80\xA9", "# #"},          // line and paragraph separators
        {"ok 日本 \xF0\x9F\x98\x80 \xC2\xA0 \xC2\xA1 /合計", "ok 日本 \xF0\x9F\x98\x80 \xC2\xA0 \xC2\xA1 /合計"},
        {"bad\xFF\n", "bad\xFF\uFFFD"},  // a byte that is not UTF-8 is another function's business
    };
    for (auto [text, shown] : cases) {
        for (size_t at; (at = shown.find('#')) != std::string::npos;)
            shown.replace(at, 1, "\uFFFD");
        EXPECT_EQ(OnOneLine(text), shown) << text;
    }
}

}  // namespace
}  // namespace murako
