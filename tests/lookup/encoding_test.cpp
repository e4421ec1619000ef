// Each title in its own encoding: UTF-8 when it is, else the code page of the
// help file's language, else the system's; converted to the OEM code page and
// cut without splitting a character. On Linux each case runs under several
// pairs of code pages; under wine under the system's own.
#include <cstring>
#include <string>
#include <vector>

#include "lookup/encoding.h"
#include "lookup_fixture.h"
#include "system_builder.h"

namespace {

// What the OEM code page makes of a Unicode text, through the platform.
std::string Oem(const std::u16string& text)
{
    std::vector<WCHAR> wide(text.begin(), text.end());
    int length = WideCharToMultiByte(CP_OEMCP, 0, wide.data(), (int)wide.size(), nullptr, 0,
                                     nullptr, nullptr);
    std::string out((size_t)(length > 0 ? length : 0), '\0');
    if (length > 0)
        WideCharToMultiByte(CP_OEMCP, 0, wide.data(), (int)wide.size(), out.data(), length, nullptr,
                            nullptr);
    return out;
}

// The pairs of code pages each case runs under: the default, a UTF-8
// terminal, a Chinese system, and an OEM code page in which not even ASCII
// keeps its bytes (EBCDIC).
std::vector<const char*> CodePagePairs()
{
#if defined(_WIN32)
    return {nullptr};
#else
    return {"", "1252:65001", "936:936", "1252:500"};
#endif
}

void UsePair(const char* pair)
{
#if !defined(_WIN32)
    setenv("VELKORY_CODEPAGES", pair, 1);
#else
    (void)pair;
#endif
}

class EncodingTest : public LookupTest {
protected:
    void TearDown() override
    {
        UsePair("");
        LookupTest::TearDown();
    }
};

TEST(LocaleCodePage, LanguagesMapToTheirAnsiCodePage)
{
    const struct {
        uint32_t lcid;
        uint32_t codePage;
    } cases[] = {
        {0x0411, 932},  {0x0804, 936},  {0x1004, 936},  {0x0412, 949},  {0x0404, 950},
        {0x0C04, 950},  {0x0419, 1251}, {0x0C1A, 1251}, {0x081A, 1250}, {0x0407, 1252},
        {0x0409, 1252}, {0x041F, 1254}, {0x0408, 1253}, {0x0439, 0},    {0, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(LocaleAnsiCodePage(c.lcid), c.codePage) << std::hex << c.lcid;
}

TEST_F(EncodingTest, EachTitleInItsOwnEncoding)
{
    const struct {
        uint32_t lcid;
        const char* bytes;  // a title in the language's code page
        const char16_t* text;
    } languages[] = {
        {0x0411, "\x93\xFA\x96\x7B\x8C\xEA", u"\u65E5\u672C\u8A9E"},
        {0x0804, "\xD6\xD0\xCE\xC4", u"\u4E2D\u6587"},
        {0x0412, "\xC7\xD1\xB1\xDB", u"\uD55C\uAE00"},
        {0x0404, "\xA4\xA4\xA4\xE5", u"\u4E2D\u6587"},
        {0x0419, "\xCF\xF0\xE8", u"\u041F\u0440\u0438"},
        {0x0407,
         "Gr\xF6\xDF"
         "e",
         u"Gr\u00F6\u00DFe"},
    };
    for (const char* pair : CodePagePairs()) {
        UsePair(pair);
        for (const auto& language : languages) {
            // Mixed in one #STRINGS: the language's code page, UTF-8 (the
            // same bytes would be garbage in any code page), plain ASCII.
            TestIndex index = BuildIndex({{language.bytes, "a.htm"},
                                          {"\xE4\xB8\xAD \xC3\xA9t\xC3\xA9", "b.htm"},
                                          {"Index", "c.htm"}});
            std::vector<StoredFile> files = IndexFiles(index);
            files.push_back({"/#SYSTEM", SystemFileBytes(language.lcid), 0});
            std::string help = Write("x.chm", MakeHelpFile(files));
            TopicIndex read;
            ASSERT_EQ(ReadTopicIndex(help.c_str(), &read), 1);
            char title[TitleBufferSize];
            const char16_t* expected[] = {language.text, u"\u4E2D \u00E9t\u00E9", u"Index"};
            for (uint32_t k = 0; k < 3; ++k) {
                ASSERT_EQ(ReadTopicTitle(&read, k, title), 1);
                EXPECT_EQ(std::string(title), Oem(expected[k]))
                    << "pair " << (pair ? pair : "system") << ", LCID " << std::hex << language.lcid
                    << ", topic " << k;
            }
            ReleaseTopicIndex(&read);
        }
    }
#if !defined(_WIN32)
    // In a UTF-8 terminal every title shows as written.
    UsePair("1252:65001");
    EXPECT_EQ(Oem(u"\u65E5\u672C\u8A9E"), "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E");
#endif
}

TEST(Utf8Text, OnlyWellFormedUtf8BeyondAsciiIsUtf8)
{
    const struct {
        const char* bytes;
        int utf8;
    } cases[] = {
        {"\xE0\xA0\x80", 1},      // U+0800, the first of three bytes
        {"\xE0\x80\x80", 0},      // U+0000 in three bytes: overlong
        {"\xC1\xBF", 0},          // overlong in two
        {"\xF0\x90\x80\x80", 1},  // U+10000
        {"\xF0\x80\x80\x80", 0},  // overlong in four
        {"\xED\x9F\xBF", 1},      // U+D7FF
        {"\xED\xA0\x80", 0},      // a surrogate
        {"\xF4\x8F\xBF\xBF", 1},  // U+10FFFF
        {"\xF4\x90\x80\x80", 0},  // past it
        {"a\xE4\xB8", 0},         // cut short
        {"plain", 0},             // nothing beyond ASCII
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsUtf8Text(c.bytes, strlen(c.bytes)), c.utf8) << c.bytes;
}

TEST_F(EncodingTest, CutsNeverSplitACharacter)
{
    // 300 characters of three and of four bytes of UTF-8: too long for both
    // the 511-byte title and the 127-byte menu text in any OEM code page.
    // Neither limit falls on a character's end.
    const struct {
        const char* utf8;
        std::u16string wide;
    } characters[] = {{"\xE4\xB8\xAD", u"\u4E2D"}, {"\xF0\xA0\x80\x80", u"\U00020000"}};
    for (const auto& character : characters) {
        std::u16string text;
        std::string utf8;
        for (int i = 0; i < 300; ++i) {
            text += character.wide;
            utf8 += character.utf8;
        }
        TestIndex index = BuildIndex({{utf8, "a.htm"}, {utf8 + "x", "b.htm"}});
        std::string help = Write("x.chm", HelpFileWith(index, {}));
        for (const char* pair : CodePagePairs()) {
            UsePair(pair);
            SCOPED_TRACE(std::string(pair ? pair : "system") + ", " + character.utf8);
            // The longest start of the text whose OEM form fits limit bytes
            // and begins the whole text's OEM form (a start that ends inside a
            // surrogate pair may not, where the pair becomes one character).
            const std::string full = Oem(text);
            auto fitting = [&](size_t limit) {
                std::string best;
                for (size_t n = 1; n <= text.size(); ++n) {
                    std::string start = Oem(text.substr(0, n));
                    if (start.size() > limit)
                        break;
                    if (full.compare(0, start.size(), start) == 0)
                        best = start;
                }
                return best;
            };
            host.ClearLog();
            host.menuChoice = -1;
            EXPECT_EQ(ShowHelpTopic(help.c_str(), Oem(character.wide).c_str()), 1);
            std::vector<RecordedCall> compares = host.CallsOf("CompareTextN");
            ASSERT_EQ(compares.size(), 2u);
            EXPECT_EQ(compares[0].Text(0), fitting(511));
            std::vector<RecordedCall> menus = host.CallsOf("ShowMenu");
            ASSERT_EQ(menus.size(), 1u);
            EXPECT_EQ(std::string(menus[0].menuItems[0].text), fitting(127));
        }
    }
}

TEST(SystemFile, RecordsAreReadWithinTheirBounds)
{
    SystemInfo info;
    std::vector<uint8_t> sound = SystemFileBytes(0x0804, "toc.hhc", "Index.hhk");
    ParseSystemInfo(sound.data(), (uint32_t)sound.size(), &info);
    EXPECT_EQ(info.lcid, 0x0804u);
    EXPECT_STREQ(info.contentsFile, "toc.hhc");
    EXPECT_STREQ(info.indexFile, "Index.hhk");

    // A name without its terminator ends with its record; a language record
    // too short for an LCID, and a record running past the end, are left out.
    std::vector<uint8_t> odd = {3, 0, 0, 0};
    AppendSystemRecord(odd, 0, {'a', '.', 'h', 'h', 'c'});
    AppendSystemRecord(odd, 4, {0x11, 0x04});
    AppendSystemRecord(odd, 1, {'b', 0, 'c'});
    AppendSystemRecord(odd, 3, {'H', 'e', 'l', 'p', 0});
    std::vector<uint8_t> pastTheEnd = odd;
    pastTheEnd.insert(pastTheEnd.end(), {4, 0, 40, 0, 0x11, 0x04, 0, 0});
    ParseSystemInfo(pastTheEnd.data(), (uint32_t)pastTheEnd.size(), &info);
    EXPECT_STREQ(info.contentsFile, "a.hhc");
    EXPECT_STREQ(info.indexFile, "b");
    EXPECT_STREQ(info.title, "Help");
    EXPECT_EQ(info.lcid, 0u);
    for (uint32_t length : {0u, 2u, 4u, 7u})
        ParseSystemInfo(odd.data(), length, &info);
    EXPECT_STREQ(info.contentsFile, "");
}

}  // namespace
