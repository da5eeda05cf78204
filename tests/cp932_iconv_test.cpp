#include "field_fitting.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <string>

// The project's code page 932 table against glibc's converter, which Windows builds do not have.
namespace murako {
namespace {

TEST(ColumnWidth, AgreesWithTheSystemConverterOnEveryBmpCodePoint)
{
    iconv_t converter = iconv_open("CP932", "UTF-16LE");
    if (converter == reinterpret_cast<iconv_t>(-1))
        GTEST_SKIP() << "no CP932 converter on this system";
    int doubleByte = 0;
    for (uint32_t cp = 0; cp <= 0xFFFF; ++cp) {
        if (cp >= 0xD800 && cp <= 0xDFFF)
            continue;
        char source[2] = {static_cast<char>(cp & 0xFF), static_cast<char>(cp >> 8)};
        char target[8];
        char* in = source;
        char* out = target;
        size_t inLeft = sizeof source;
        size_t outLeft = sizeof target;
        iconv(converter, nullptr, nullptr, nullptr, nullptr);
        const bool converted = iconv(converter, &in, &inLeft, &out, &outLeft) != static_cast<size_t>(-1);
        const bool twoBytes = converted && sizeof target - outLeft == 2;
        doubleByte += twoBytes;
        ASSERT_EQ(ColumnWidth(static_cast<char16_t>(cp)), twoBytes ? 2 : 1) << std::hex << cp;
    }
    iconv_close(converter);
    EXPECT_EQ(doubleByte, 9213);
}

TEST(Cp932PrintForm, PrintsWhatTheSystemConverterRoundTripsAndAQuestionMarkForAnythingElse)
{
    iconv_t encode = iconv_open("CP932", "UTF-16LE");
    iconv_t decode = iconv_open("UTF-16LE", "CP932");
    if (encode == reinterpret_cast<iconv_t>(-1) || decode == reinterpret_cast<iconv_t>(-1))
        GTEST_SKIP() << "no CP932 converter on this system";
    auto convert = [](iconv_t converter, std::string source) -> std::string {
        char target[8];
        char* in = source.data();
        char* out = target;
        size_t inLeft = source.size();
        size_t outLeft = sizeof target;
        iconv(converter, nullptr, nullptr, nullptr, nullptr);
        if (iconv(converter, &in, &inLeft, &out, &outLeft) == static_cast<size_t>(-1))
            return {};
        return std::string(target, sizeof target - outLeft);
    };
    for (uint32_t cp = 0; cp <= 0xFFFF; ++cp) {
        const auto unit = static_cast<char16_t>(cp);
        const std::string bytes = convert(encode, {static_cast<char>(cp & 0xFF), static_cast<char>(cp >> 8)});
        const std::string back = bytes.empty() ? std::string() : convert(decode, bytes);
        const bool control = cp < 0x20 || (cp >= 0x7F && cp <= 0x9F);
        const char16_t expected = control || back.size() != 2
                                      ? u'?'
                                      : static_cast<char16_t>(static_cast<unsigned char>(back[0]) |
                                                              static_cast<unsigned char>(back[1]) << 8);
        ASSERT_EQ(Cp932PrintForm(std::u16string(1, unit)), std::u16string(1, expected)) << std::hex << cp;
        ASSERT_EQ(ColumnWidth(expected), ColumnWidth(unit)) << std::hex << cp;
    }
    iconv_close(encode);
    iconv_close(decode);

    // A character above U+FFFF is two units but one "?", as is each lone surrogate.
    EXPECT_EQ(Cp932PrintForm(u"a\U0001F600\n\u0301한"), u"a????");
    EXPECT_EQ(LeftAndSpace(Cp932PrintForm(u"ab\U0001F600"), 3), u"ab?");
    const char16_t lone[] = {0xDC00, u'x', 0xD800, 0};
    EXPECT_EQ(Cp932PrintForm(lone), u"?x?");
}

}  // namespace
}  // namespace murako
