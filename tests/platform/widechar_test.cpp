// MultiByteToWideChar and WideCharToMultiByte: code pages to UTF-16 and back,
// the lengths and errors Windows gives, and CP_ACP/CP_OEMCP following the
// pair in force.
#include "platform_test_support.h"

#include <string>

namespace {

class WideCharTest : public PlatformTest { };

std::u16string ToWide(UINT codePage, const std::string& text, DWORD flags = 0)
{
    int length = MultiByteToWideChar(codePage, flags, text.data(), (int)text.size(), nullptr, 0);
    std::u16string wide((size_t)length, u'\0');
    if (length > 0) {
        EXPECT_EQ(MultiByteToWideChar(codePage, flags, text.data(), (int)text.size(), wide.data(),
                                      length),
                  length);
    }
    return wide;
}

std::string FromWide(UINT codePage, const std::u16string& wide, BOOL* usedDefault = nullptr)
{
    int length = WideCharToMultiByte(codePage, 0, wide.data(), (int)wide.size(), nullptr, 0,
                                     nullptr, usedDefault);
    std::string text((size_t)length, '\0');
    if (length > 0) {
        EXPECT_EQ(WideCharToMultiByte(codePage, 0, wide.data(), (int)wide.size(), text.data(),
                                      length, nullptr, usedDefault),
                  length);
    }
    return text;
}

TEST_F(WideCharTest, EachCodePageRoundTrips)
{
    const struct {
        UINT codePage;
        const char* bytes;
        const char16_t* wide;
    } cases[] = {
        {CP_UTF8, "\xE4\xB8\xAD \xF0\x9F\x98\x80", u"\u4E2D \U0001F600"},
        {936, "\xD6\xD0\xCE\xC4", u"\u4E2D\u6587"},
        {932, "\x93\xFA\x96\x7B\x8C\xEA \\", u"\u65E5\u672C\u8A9E \\"},
        {949, "\xC7\xD1\xB1\xDB", u"\uD55C\uAE00"},
        {950, "\xA4\xA4\xA4\xE5", u"\u4E2D\u6587"},
        {1251, "\xCF\xF0\xE8", u"\u041F\u0440\u0438"},
        {1252, "Caf\xE9 \x80\x81", u"Caf\u00E9 \u20AC\u0081"},
        {437, "\x82\xB0", u"\u00E9\u2591"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ToWide(c.codePage, c.bytes), std::u16string(c.wide)) << c.codePage;
        BOOL used = 1;
        BOOL* usedArgument = c.codePage == CP_UTF8 ? nullptr : &used;
        EXPECT_EQ(FromWide(c.codePage, c.wide, usedArgument), std::string(c.bytes)) << c.codePage;
        EXPECT_FALSE(c.codePage != CP_UTF8 && used) << c.codePage;
    }
}

TEST_F(WideCharTest, LengthsAndErrorsAsOnWindows)
{
    // -1 converts the terminator too; a short buffer fails.
    char16_t wide[8];
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "ab", -1, wide, 8), 3);
    EXPECT_EQ(wide[2], u'\0');
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", 3, wide, 2), 0);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INSUFFICIENT_BUFFER);
    char bytes[8];
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"\u4E2D", -1, bytes, 3, nullptr, nullptr), 0);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INSUFFICIENT_BUFFER);

    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "a", 0, wide, 8), 0);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_PARAMETER);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, nullptr, 1, wide, 8), 0);
    EXPECT_EQ(MultiByteToWideChar(4242, 0, "a", 1, wide, 8), 0);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_PARAMETER);
    BOOL used;
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"a", 1, bytes, 8, nullptr, &used), 0);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_PARAMETER);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_PRECOMPOSED, "a", 1, wide, 8), 0);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_FLAGS);

    // Bytes that are no character: U+FFFD per maximal invalid part from
    // UTF-8, '?' from the others, or a failure when asked.
    EXPECT_EQ(ToWide(CP_UTF8, "a\xE2\x82(\xC0\xAF\xED\xA0\x80"),
              u"a\uFFFD(\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD");
    EXPECT_EQ(ToWide(936, "a\x81"), u"a?");
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, "\xFF", 1, wide, 8), 0);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_NO_UNICODE_TRANSLATION);

    // A character the target lacks: the default character, and the flag.
    used = 0;
    EXPECT_EQ(FromWide(1251, u"\u4E2Da", &used), "?a");
    EXPECT_TRUE(used);
    EXPECT_EQ(WideCharToMultiByte(936, 0, u"\u0E01", 1, bytes, 8, "*", nullptr), 1);
    EXPECT_EQ(bytes[0], '*');
    EXPECT_EQ(FromWide(CP_UTF8,
                       u"a\xD800"
                       u"b"),
              "a\xEF\xBF\xBD"
              "b");
    // Toward 437, the best fit CharToOemA gives.
    EXPECT_EQ(FromWide(437, u"\u00C0\u2022"), "A\x07");
    EXPECT_EQ(
        WideCharToMultiByte(437, WC_NO_BEST_FIT_CHARS, u"\u00C0", 1, bytes, 8, nullptr, nullptr),
        1);
    EXPECT_EQ(bytes[0], '?');
}

TEST_F(WideCharTest, CurrentPairNamesAnsiAndOem)
{
    EXPECT_EQ(GetACP(), 1252u);
    EXPECT_EQ(GetOEMCP(), 437u);
    EXPECT_FALSE(IsDBCSLeadByteEx(CP_ACP, 0xD6));
    setenv("VELKORY_CODEPAGES", "936:932", 1);
    EXPECT_EQ(GetACP(), 936u);
    EXPECT_EQ(GetOEMCP(), 932u);
    EXPECT_EQ(ToWide(CP_ACP, "\xD6\xD0"), u"\u4E2D");
    EXPECT_EQ(FromWide(CP_OEMCP, u"\u65E5"), "\x93\xFA");
    EXPECT_TRUE(IsDBCSLeadByteEx(CP_ACP, 0xD6));
    EXPECT_FALSE(IsDBCSLeadByteEx(CP_OEMCP, 0xA1));  // a half-width katakana
    EXPECT_FALSE(IsDBCSLeadByteEx(CP_UTF8, 0xE4));
}

}  // namespace
