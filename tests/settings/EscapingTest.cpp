#include "settings/Escaping.h"
#include "settings/Utf16.h"

#include <gtest/gtest.h>

namespace {

TEST(Escaping, EscapesEqualsSignAndEveryUnitOutsideAscii) {
    EXPECT_EQ(EscapeString(u"a=b"), u"a=3Db");
    EXPECT_EQ(EscapeString(u"\u00E9"), u"=C3=A9");
    EXPECT_EQ(EscapeString(u"\u20AC"), u"=E2=82=AC");
    EXPECT_EQ(EscapeString(u"\t~"), u"\t~");
    EXPECT_EQ(EscapeString(u"\u07FF\u0800"), u"=DF=BF=E0=A0=80");
    // Each surrogate is encoded on its own, as a three-byte group.
    EXPECT_EQ(EscapeString(u"\U0001F600"), u"=ED=A0=BD=ED=B8=80");
}

TEST(Escaping, UnescapesByTheLeadByte) {
    const std::pair<std::u16string, std::u16string> cases[] = {
        {u"=3D", u"="},
        {u"=C3=A9", u"\u00E9"},
        {u"=e9", u"\t"}, // lowercase digits count 0
        {u"=F0=9F=98=80", u"\uF600"},
        {u"=80x", u"80x"},
        {u"=7Fx", u"7Fx"}, // the one-byte range ends at 0x7E
        {u"=FEab", u"FEab"},
        {u"ab=4", u"ab"},
        {u"ab=C3=A", u"ab"},
        {u"=", u""},
        {u"x=C3yA9z", u"x\u00E9z"}, // the later '=' of a group is not looked at
        {u"=F8=80=81=82=83", u"\u1083"},
        {u"=FC=80=80=81=82=83", u"\u1083"},
        {u"=FC=80=80=81=82=8", u""},
        {u"=C0=00", u"\uFF80"}, // arithmetic wraps at 16 bits
    };
    for (const auto& [escaped, expected] : cases)
        EXPECT_EQ(UnescapeString(escaped), expected) << ToUtf8(escaped);
}

TEST(Escaping, HexPairValueCountsOnlyUppercaseDigits) {
    EXPECT_EQ(HexPairValue(u'F', u'F'), 255);
    EXPECT_EQ(HexPairValue(u'9', u'A'), 0x9A);
    EXPECT_EQ(HexPairValue(u'0', u'a'), 0);
    EXPECT_EQ(HexPairValue(u'G', u'f'), 0);
}

TEST(Escaping, RoundTripsEveryUnit) {
    std::u16string all;
    for (char32_t unit = 1; unit <= 0xFFFF; ++unit)
        all += static_cast<char16_t>(unit);
    const std::u16string escaped = EscapeString(all);
    for (const char16_t unit : escaped)
        ASSERT_LT(unit, 0x80);
    EXPECT_EQ(UnescapeString(escaped), all);
}

TEST(Utf16, ConvertsBothWaysAndReplacesWhatCannotBeConverted) {
    const std::u16string text = u"Vid\u00E9os \u20AC \U0001F600";
    EXPECT_EQ(ToUtf8(text), "Vid\xC3\xA9os \xE2\x82\xAC \xF0\x9F\x98\x80");
    EXPECT_EQ(FromUtf8(ToUtf8(text)), text);
    EXPECT_EQ(FromUtf8("a\xFF"
                       "b\xC3"),
              u"a\uFFFDb\uFFFD");
    EXPECT_EQ(FromUtf8("\xC0\xAF\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD");
    EXPECT_EQ(ToUtf8(u"\xD800x"), "\xEF\xBF\xBDx");
}

} // namespace
