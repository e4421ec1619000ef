// CharToOemA against the table Windows applies, other code-page pairs through
// iconv, and the terminal conversions of the host.
#include "platform_test_support.h"

#include <clocale>
#include <cstring>

#include "platform/charsets.h"
#include "platform/terminal_text.h"

namespace {

class CodePageTest : public PlatformTest { };

std::string Oem(const std::string& ansi)
{
    std::vector<char> buffer(ansi.begin(), ansi.end());
    buffer.push_back('\0');
    EXPECT_TRUE(CharToOemA(buffer.data(), buffer.data()));
    return std::string(buffer.data());
}

std::string Hex(const std::string& text)
{
    std::string out;
    char pair[4];
    for (unsigned char c : text) {
        snprintf(pair, sizeof pair, "%02X ", c);
        out += pair;
    }
    return out;
}

TEST_F(CodePageTest, DefaultPairReproducesTheWindowsTable)
{
    const std::string reference =
        std::string(VELKORY_SOURCE_DIR) + "/../shared/corpus/reference/ansi1252-to-oem437.txt";
    if (!PathExists(reference))
        GTEST_SKIP() << "the shared corpus is not here: " << reference;
    std::ifstream in(reference);
    unsigned char expected[256] = {};
    int entries = 0;
    for (std::string line; std::getline(in, line);) {
        unsigned from, to;
        if (line.empty() || line[0] == '#')
            continue;
        ASSERT_EQ(sscanf(line.c_str(), "%x %x", &from, &to), 2) << line;
        ASSERT_TRUE(from >= 1 && from <= 255 && to <= 255) << line;
        expected[from] = (unsigned char)to;
        entries++;
    }
    ASSERT_EQ(entries, 255);

    // Byte by byte into a separate buffer, then all of them at once in place.
    std::string all;
    std::string want;
    for (unsigned b = 1; b < 256; b++) {
        char src[2] = {(char)b, 0};
        char dest[2] = {'x', 'x'};
        ASSERT_TRUE(CharToOemA(src, dest));
        EXPECT_EQ((unsigned char)dest[0], expected[b]) << "ANSI byte " << std::hex << b;
        EXPECT_EQ(dest[1], '\0');
        all += (char)b;
        want += (char)expected[b];
    }
    EXPECT_EQ(Hex(Oem(all)), Hex(want));
}

TEST_F(CodePageTest, ConvertsInPlaceAndRefusesNull)
{
    char title[] = "Caf\xE9 \xC0 la carte \x95 \x80";
    char copy[sizeof title];
    ASSERT_TRUE(CharToOemA(title, copy));
    ASSERT_TRUE(CharToOemA(title, title));
    EXPECT_STREQ(title, copy);
    EXPECT_EQ(Hex(title), Hex("Caf\x82 A la carte \x07 ?"));
    EXPECT_FALSE(CharToOemA(nullptr, copy));
    EXPECT_FALSE(CharToOemA(copy, nullptr));
}

TEST_F(CodePageTest, OtherPairsGoThroughIconv)
{
    // Chinese: GBK text stays byte for byte, ASCII too; a lead byte with no
    // trail at the end is no character.
    setenv("VELKORY_CODEPAGES", "936:936", 1);
    EXPECT_EQ(Hex(Oem("\xD6\xD0\xCE\xC4 help \xB0\xEF\xD6\xFA")),
              Hex("\xD6\xD0\xCE\xC4 help \xB0\xEF\xD6\xFA"));
    EXPECT_EQ(Hex(Oem("ab\x81")), Hex("ab?"));

    // Western European with the OEM 850 console: exact where 850 has the
    // character, '?' where it has none.
    setenv("VELKORY_CODEPAGES", "1252:850", 1);
    EXPECT_EQ(Hex(Oem("\xE9\xC0\x80")), Hex("\x82\xB7?"));

    // A character that grows in the target never makes the text longer than
    // its source: it is dropped at the end instead of overrunning.
    setenv("VELKORY_CODEPAGES", "1252:936", 1);
    char buffer[8];
    memset(buffer, 'x', sizeof buffer);
    memcpy(buffer, "a\xE9", 3);
    ASSERT_TRUE(CharToOemA(buffer, buffer));
    EXPECT_STREQ(buffer, "a");
    EXPECT_EQ(buffer[3], 'x');

    // A setting that names no usable pair leaves the default one.
    for (const char* setting : {"", "936", "abc:437", "1252:", "99999:437", "1252:9999", "0:0"}) {
        setenv("VELKORY_CODEPAGES", setting, 1);
        EXPECT_EQ(Hex(Oem("\xC0\xE9")), Hex("A\x82")) << setting;
    }
}

TEST_F(CodePageTest, AnyPairTheConverterConvertsIsAccepted)
{
    // Code pages iconv knows by another name than "CP" and the number: the
    // table of code-page names gives it.
    const struct {
        const char* setting;
        unsigned ansi;
        const char* bytes;
        const char16_t* wide;
    } cases[] = {
        {"28595:437", 28595, "\xBF", u"\u041F"},  // ISO-8859-5
        {"20866:437", 20866, "\xF0", u"\u041F"},  // KOI8-R
        {"54936:437", 54936, "\x81\x30\x81\x30", u"\u0080"},
        {"10000:437", 10000, "\x8E", u"\u00E9"},  // Mac Roman
        // Shift sequences that iconv takes without writing anything.
        {"50220:437", 50220, "a\x1B$BF|\x1B(Bb", u"a\u65E5b"},
    };
    for (const auto& c : cases) {
        setenv("VELKORY_CODEPAGES", c.setting, 1);
        EXPECT_EQ(CodePageSettingError(), nullptr) << c.setting;
        EXPECT_EQ(GetACP(), c.ansi) << c.setting;
        char16_t wide[4] = {};
        int units = MultiByteToWideChar(CP_ACP, 0, c.bytes, (int)strlen(c.bytes), wide, 4);
        EXPECT_EQ(std::u16string(wide, units > 0 ? (size_t)units : 0), c.wide) << c.setting;
    }
    // Every charset label of the table names a code page the converter has.
    for (const char* label :
         {"utf-8", "GB2312", "big5", "shift_jis", "euc-jp", "iso-2022-jp", "euc-kr", "koi8-u",
          "ibm866", "tis-620", "iso-8859-15", "gb18030", "windows-1258", "latin1"}) {
        unsigned codePage = CharsetCodePage(label, strlen(label));
        char16_t wide[4];
        EXPECT_EQ(MultiByteToWideChar(codePage, 0, "A", 1, wide, 4), 1) << label << " " << codePage;
    }
}

TEST_F(CodePageTest, TerminalAndOemRoundTripEveryByte)
{
    for (unsigned b = 1; b < 256; b++) {
        char oem[2] = {(char)b, 0};
        char shown[8];
        char back[4];
        ASSERT_TRUE(OemToTerminal(oem, shown, sizeof shown)) << b;
        ASSERT_TRUE(TerminalToOem(shown, back, sizeof back)) << b;
        EXPECT_EQ(Hex(back), Hex(oem)) << "shown as " << shown;
        // Nothing reaches the terminal as a control character.
        for (const char* p = shown; *p; p++)
            EXPECT_FALSE((unsigned char)*p < 0x20 || *p == 0x7F) << b;
    }
    char shown[32];
    ASSERT_TRUE(OemToTerminal("\x1B[31m\x15 \x82t\x82", shown, sizeof shown));
    EXPECT_STREQ(shown, "\u2190[31m\u00A7 \u00E9t\u00E9");

    // A keyword is converted as Windows would from ANSI: best fit for
    // characters 437 lacks, '?' for those neither code page has.
    char oem[32];
    ASSERT_TRUE(TerminalToOem("\u00C0 la \u00A7 \u20AC \u4E2D \xFF", oem, sizeof oem));
    EXPECT_EQ(Hex(oem), Hex("A la \x15 ? ? ?"));

    ASSERT_TRUE(AnsiToTerminal("\x80 \xE9\n\x81", shown, sizeof shown));
    EXPECT_STREQ(shown, "\u20AC \u00E9\n?");
}

TEST_F(CodePageTest, TerminalConversionsCutAtCharacterBoundaries)
{
    char dest[8];
    memset(dest, 'x', sizeof dest);
    // Each \x82 becomes two bytes of UTF-8: two fit in 5 bytes, the third not.
    EXPECT_FALSE(OemToTerminal("\x82\x82\x82", dest, 6));
    EXPECT_STREQ(dest, "\u00E9\u00E9");
    EXPECT_EQ(dest[5], 'x');
    EXPECT_TRUE(OemToTerminal("\x82\x82", dest, 5));

    memset(dest, 'x', sizeof dest);
    EXPECT_FALSE(OemToTerminal("abc", dest, 0));
    EXPECT_EQ(dest[0], 'x');
    EXPECT_FALSE(OemToTerminal("abc", dest, 1));
    EXPECT_STREQ(dest, "");
    EXPECT_FALSE(OemToTerminal(nullptr, dest, 4));
    EXPECT_STREQ(dest, "");

    setenv("VELKORY_CODEPAGES", "936:936", 1);
    memset(dest, 'x', sizeof dest);
    EXPECT_FALSE(TerminalToOem("\u4E2D\u6587", dest, 4));
    EXPECT_EQ(Hex(dest), Hex("\xD6\xD0"));
    EXPECT_TRUE(TerminalToOem("\u4E2D\u6587", dest, 5));
    EXPECT_EQ(Hex(dest), Hex("\xD6\xD0\xCE\xC4"));
    ASSERT_TRUE(OemToTerminal("\xD6\xD0\xCE\xC4", dest, sizeof dest));
    EXPECT_STREQ(dest, "\u4E2D\u6587");

    // Broken UTF-8 from the terminal becomes '?' byte by byte.
    unsetenv("VELKORY_CODEPAGES");
    ASSERT_TRUE(TerminalToOem("a\xC3(\xE2\x82", dest, sizeof dest));
    EXPECT_STREQ(dest, "a?(??");
}

TEST_F(CodePageTest, OemFollowsAUtf8LocaleUnlessTheSettingNamesAPair)
{
    ASSERT_NE(setlocale(LC_CTYPE, "C.UTF-8"), nullptr);
    char oem[32];
    EXPECT_EQ(GetOEMCP(), 65001u);
    ASSERT_TRUE(TerminalToOem("\u4E2D\u00E9", oem, sizeof oem));
    EXPECT_STREQ(oem, "\u4E2D\u00E9");
    EXPECT_EQ(CodePageSettingError(), nullptr);

    const struct {
        const char* setting;
        unsigned oem;
        bool error;
    } cases[] = {
        {"936:936", 936, false},    {"1252:437", 437, false}, {"936", 65001, true},
        {"1252:9999", 65001, true}, {"x:437", 65001, true},
    };
    for (const auto& c : cases) {
        setenv("VELKORY_CODEPAGES", c.setting, 1);
        EXPECT_EQ(GetOEMCP(), c.oem) << c.setting;
        EXPECT_EQ(CodePageSettingError() != nullptr, c.error) << c.setting;
    }
    unsetenv("VELKORY_CODEPAGES");
    setlocale(LC_CTYPE, "C");
    EXPECT_EQ(GetOEMCP(), 437u);
}

}  // namespace
