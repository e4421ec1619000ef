// The text unit: UTF-8 at its edges under both rules for broken bytes, the
// single-byte tables both ways, HTML character references, case folding and
// display widths.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/text.h"

namespace {

TEST(TextTest, Utf8DecodesWellFormedCharactersAndReplacesTheRest)
{
    struct Case {
        const char* bytes;
        uint32_t cp;
        size_t length;
    } cases[] = {
        {"A", 'A', 1},
        {"\xC3\xA9", 0xE9, 2},
        {"\xE4\xB8\xAD", 0x4E2D, 3},
        {"\xF0\x9F\x98\x80", 0x1F600, 4},
        {"\xC0\xAF", ReplacementCharacter, 1},          // overlong
        {"\xED\xA0\x80", ReplacementCharacter, 1},      // a surrogate
        {"\xF4\x90\x80\x80", ReplacementCharacter, 1},  // past U+10FFFF
        {"\xE4\xB8", ReplacementCharacter, 1},          // cut short
        {"\x80", ReplacementCharacter, 1},              // a lone continuation byte
    };
    for (const Case& c : cases) {
        size_t length = 0;
        EXPECT_EQ(DecodeUtf8(c.bytes, strlen(c.bytes), &length), c.cp) << c.bytes;
        EXPECT_EQ(length, c.length) << c.bytes;
        if (c.cp != ReplacementCharacter) {
            char out[4];
            EXPECT_EQ(std::string(out, EncodeUtf8(c.cp, out)), c.bytes);
        }
    }
    char out[4];
    EXPECT_EQ(std::string(out, EncodeUtf8(0xD800, out)), "\xEF\xBF\xBD");
}

TEST(TextTest, Utf8StepsOverBrokenBytesByTheRuleAsked)
{
    // Byte by byte for the host; the longest start of a sequence at once, as
    // Windows does, for the module's MultiByteToWideChar.
    const struct {
        const char* bytes;
        size_t byByte, bySubpart;
    } cases[] = {
        {"\xE2\x82(", 1, 2},     // a character cut short by the next one
        {"\xF0\x9F\x98", 1, 3},  // cut short by the end
        {"\xED\xA0\x80", 1, 1},  // a surrogate: its lead byte alone
        {"\xC0\xAF", 1, 1},      // an overlong form
        {"\xEF\xBF\xBD", 3, 3},  // U+FFFD itself is a character
    };
    for (const auto& c : cases) {
        size_t byByte = 0, bySubpart = 0;
        EXPECT_EQ(DecodeUtf8(c.bytes, strlen(c.bytes), &byByte), ReplacementCharacter);
        DecodeUtf8(c.bytes, strlen(c.bytes), &bySubpart, Utf8InvalidSubpart);
        EXPECT_EQ(byByte, c.byByte) << c.bytes;
        EXPECT_EQ(bySubpart, c.bySubpart) << c.bytes;
    }
    EXPECT_TRUE(IsUtf8Text("caf\xC3\xA9", 5));
    EXPECT_FALSE(IsUtf8Text("cafe", 4)) << "ASCII is text of any code page";
    EXPECT_FALSE(IsUtf8Text("caf\xE9 and more than eight bytes", 32));
    EXPECT_TRUE(IsUtf8("cafe", 4));

    // UTF-16: a pair is one character, a lone surrogate comes back as itself.
    uint16_t units[2];
    size_t used = 0;
    ASSERT_EQ(EncodeUtf16(0x1F600, units), 2u);
    EXPECT_EQ(DecodeUtf16(units[0], units[1], &used), 0x1F600u);
    EXPECT_EQ(used, 2u);
    EXPECT_EQ(DecodeUtf16(0xD83D, 'a', &used), 0xD83Du);
    EXPECT_EQ(used, 1u);
}

TEST(TextTest, CharacterReferencesAsBrowsersAndAsSitemaps)
{
    const struct {
        const char* text;
        size_t asBrowsers;  // bytes taken, 0 for none
        size_t closed;
        uint32_t cp;
    } cases[] = {
        {"&eacute;x", 8, 8, 0xE9},
        {"&Eacute;", 8, 8, 0xC9},  // names are case-sensitive
        {"&AMP;", 5, 5, '&'},
        {"&#233;", 6, 6, 0xE9},
        {"&#xE9", 5, 0, 0xE9},                   // no ';': browsers take it
        {"&amp f", 4, 0, '&'},                   // one of the oldest five
        {"&eacute x", 0, 0, 0},                  // others need their ';'
        {"&#150;", 6, 6, 0x2013},                // 0x80-0x9F as Windows-1252
        {"&#0;", 4, 0, ReplacementCharacter},    // no character
        {"&#x81;", 6, 0, ReplacementCharacter},  // undefined in 1252
        {"&#99999999999;", 14, 0, ReplacementCharacter},
        {"&ampx;", 0, 0, 0},
        {"&bogus;", 0, 0, 0},
        {"&#;", 0, 0, 0},
        {"&", 0, 0, 0},
    };
    for (const auto& c : cases) {
        for (ReferenceRule rule : {ReferencesAsBrowsers, ReferencesClosed}) {
            uint32_t cp = 0;
            size_t want = rule == ReferencesAsBrowsers ? c.asBrowsers : c.closed;
            EXPECT_EQ(DecodeCharacterReference(c.text, strlen(c.text), &cp, rule), want)
                << c.text << " rule " << rule;
            if (want != 0) {
                EXPECT_EQ(cp, c.cp) << c.text;
            }
        }
    }
}

TEST(TextTest, SingleBytePagesMapBothWays)
{
    struct Case {
        unsigned codePage;
        unsigned char byte;
        uint32_t cp;
    } cases[] = {
        {1252, 0x80, 0x20AC}, {1252, 0x81, 0x81},  {1252, 0xE9, 0xE9},
        {437, 0x82, 0xE9},    {437, 0xC4, 0x2500}, {437, 0x41, 'A'},
    };
    for (const Case& c : cases) {
        uint32_t cp = 0;
        unsigned char byte = 0;
        ASSERT_TRUE(DecodeSingleByte(c.codePage, c.byte, &cp));
        EXPECT_EQ(cp, c.cp) << c.codePage << " " << (int)c.byte;
        ASSERT_TRUE(EncodeSingleByte(c.codePage, c.cp, &byte));
        EXPECT_EQ(byte, c.byte);
    }
    uint32_t cp = 0;
    unsigned char byte = 0;
    EXPECT_FALSE(DecodeSingleByte(1251, 0x80, &cp));
    EXPECT_FALSE(EncodeSingleByte(437, 0x20AC, &byte));
    EXPECT_EQ(Oem437Glyph(0x15), 0xA7u);
    EXPECT_EQ(Oem437Glyph('A'), 0u);
}

TEST(TextTest, FoldingIgnoresAsciiCaseOnly)
{
    EXPECT_EQ(CompareFolded("Print", "pRINT", 5), 0);
    EXPECT_EQ(CompareFolded("ab", "ab\0x", 4), 0) << "ends at the terminator";
    EXPECT_LT(CompareFolded("a", "B", 1), 0);
    EXPECT_NE(CompareFolded("\xC9", "\xE9", 1), 0);
    EXPECT_TRUE(StartsWithFolded("Setup", 5, "SET", 3));
    EXPECT_FALSE(StartsWithFolded("Se", 2, "SET", 3));
}

TEST(TextTest, Utf8FoldingIgnoresCaseBeyondAscii)
{
    const struct {
        const char* text;
        const char* keyword;
        bool same;
    } cases[] = {
        {"RdpmcＴx", "rdpmcｔ", true},  // full-width letters
        {"Émile", "émile", true},
        {"ΣΊΣΥΦΟΣ", "σίσυφος", true},
        {"Straße", "STRASSE", false},  // simple folding only: one character each
        {"中文帮助", "中文", true},
        {"Caf\xC3", "caf\xC3", true},  // a cut character equals the same bytes
        {"Caf\xC3", "caf\xC3\xA9", false},
        {"é", "e", false},
    };
    for (const auto& c : cases) {
        size_t n = strlen(c.keyword);
        EXPECT_EQ(CompareFoldedUtf8(c.text, c.keyword, n) == 0, c.same) << c.keyword;
        EXPECT_EQ(StartsWithFoldedUtf8(c.text, strlen(c.text), c.keyword, n), c.same) << c.keyword;
    }
    EXPECT_LT(CompareFoldedUtf8("a", "B", 1), 0);
    EXPECT_GT(CompareFoldedUtf8("ab", "a", 2), 0) << "a keyword that ends first";
    EXPECT_EQ(FoldCase(0x212A), (uint32_t)'k') << "the Kelvin sign";
    EXPECT_EQ(FoldCase(0x4E2D), 0x4E2Du);
}

TEST(TextTest, WidthCountsColumnsNotBytes)
{
    struct Case {
        const char* text;
        size_t width;
    } cases[] = {
        {"abc", 3},
        {"\xC3\xA9t\xC3\xA9", 3},
        {"\xE4\xB8\xAD\xE6\x96\x87", 4},  // two CJK ideographs
        {"e\xCC\x81", 1},                 // a combining accent
    };
    for (const Case& c : cases)
        EXPECT_EQ(Utf8Width(c.text, strlen(c.text)), c.width) << c.text;
}

}  // namespace
