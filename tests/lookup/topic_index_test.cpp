// The help request's first half: where the index comes from, which topics
// match, the menu, the page name, and index files that lie.
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "container/container.h"
#include "lookup_fixture.h"
#include "platform/platform.h"

namespace fs = std::filesystem;

namespace {

std::string Page(const std::string& name)
{
    return "<html>" + name + "</html>";
}

StoredFile PageFile(const std::string& url, int section = 1)
{
    return {"/" + url, Bytes(Page(url)), section};
}

}  // namespace

TEST_F(LookupTest, EmptyOrNullKeywordIsDealtWithAndTouchesNothing)
{
    EXPECT_EQ(ShowHelpTopic(host.Path("none.chm").c_str(), ""), 1);
    EXPECT_EQ(ShowHelpTopic(host.Path("none.chm").c_str(), nullptr), 1);
    EXPECT_EQ(host.SendHelp(nullptr, ""), 1);
    EXPECT_TRUE(host.calls.empty());
}

TEST_F(LookupTest, HelpFileThatCannotBeOpenedGivesZero)
{
    EXPECT_EQ(ShowHelpTopic(host.Path("none.chm").c_str(), "print"), 0);
    EXPECT_EQ(host.SendHelp(host.Path("none.chm").c_str(), "print"), 0);
    EXPECT_EQ(ShowHelpTopic(nullptr, "print"), 0);
    EXPECT_TRUE(host.calls.empty());
}

TEST_F(LookupTest, IndexComesFromCompanionWhenItOpens)
{
    TestIndex own = BuildIndex({{"Alpha", "own.htm"}});
    TestIndex companion = BuildIndex({{"Alpha", "companion.htm"}});
    // The extension is not examined: the last three characters are replaced.
    std::string help =
        Write("manual.hlp", HelpFileWith(own, {PageFile("own.htm"), PageFile("companion.htm")}));
    Write("manual.chi", MakeHelpFile(IndexFiles(companion)));

    EXPECT_EQ(host.SendHelp(help.c_str(), "alpha"), 1);
    RecordedCall opened = Opened();
    EXPECT_EQ(opened.fileContent, Page("companion.htm"));

    // Without the companion, the help file's own index.
    fs::remove(host.Path("manual.chi"));
    host.ClearLog();
    EXPECT_EQ(ShowHelpTopic(help.c_str(), "alpha"), 1);
    EXPECT_EQ(Opened().fileContent, Page("own.htm"));
}

TEST_F(LookupTest, CompanionLackingAnIndexFileFailsWithoutTryingTheHelpFile)
{
    TestIndex index = BuildIndex({{"Alpha", "a.htm"}});
    std::string help = Write("x.chm", HelpFileWith(index, {PageFile("a.htm")}));
    std::vector<StoredFile> partial = IndexFiles(index);
    partial.pop_back();  // no "/#URLSTR"
    Write("x.chi", MakeHelpFile(partial));

    EXPECT_EQ(ShowHelpTopic(help.c_str(), "alpha"), 0);
    EXPECT_EQ(host.Count("CompareTextN"), 0u);
    EXPECT_EQ(host.Count("MakeTempName"), 0u);

    // Any one missing file is enough; names are exact ("/#topics" is not "/#TOPICS").
    std::vector<StoredFile> renamed = IndexFiles(index);
    renamed[0].name = "/#topics";
    Write("x.chi", MakeHelpFile(renamed));
    EXPECT_EQ(ShowHelpTopic(help.c_str(), "alpha"), 0);
    EXPECT_EQ(host.Count("CompareTextN"), 0u);
}

TEST_F(LookupTest, CompanionNamingAPageTheHelpFileLacksLeavesAnEmptyDirectory)
{
    std::string help =
        Write("x.chm", HelpFileWith(BuildIndex({{"Alpha", "a.htm"}}), {PageFile("a.htm")}));
    Write("x.chi", MakeHelpFile(IndexFiles(BuildIndex({{"Alpha", "only-in-chi.htm"}}))));
    EXPECT_EQ(ShowHelpTopic(help.c_str(), "alpha"), 0);
    ASSERT_EQ(host.tempNames.size(), 1u);
    EXPECT_TRUE(IsEmptyDirectory(host.tempNames[0]));
    EXPECT_EQ(host.Count("OpenEditor") + host.Count("OpenViewer"), 0u);
}

TEST_F(LookupTest, HelpPathShorterThanThreeCharactersUsesTheHelpFileAlone)
{
    fs::path previous = fs::current_path();
    fs::current_path(host.tempDir);
    Write("ab", HelpFileWith(BuildIndex({{"Alpha", "a.htm"}}), {PageFile("a.htm")}));
    Write("chi", HelpFileWith(BuildIndex({{"Alpha", "b.htm"}}), {PageFile("b.htm")}));
    int result = ShowHelpTopic("ab", "alpha");
    std::string content = host.Count("OpenEditor") ? host.CallsOf("OpenEditor")[0].fileContent : "";
    fs::current_path(previous);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(content, Page("a.htm"));
}

TEST_F(LookupTest, CompanionNameReplacesTheLastThreeCharactersWhateverPrecedesThem)
{
    // Relative paths, so that a path can be exactly three characters.
    fs::path previous = fs::current_path();
    fs::current_path(host.tempDir);
    for (const char* help : {"manualhlp", "hlp"}) {
        std::string companion = std::string(help, strlen(help) - 3) + "chi";
        Write(help,
              HelpFileWith(BuildIndex({{"Alpha", "own.htm"}}),
                           {PageFile("own.htm"), PageFile("companion.htm")}));
        Write(companion, MakeHelpFile(IndexFiles(BuildIndex({{"Alpha", "companion.htm"}}))));
        host.ClearLog();
        EXPECT_EQ(ShowHelpTopic(help, "alpha"), 1) << help;
        EXPECT_EQ(Opened().fileContent, Page("companion.htm")) << help;
        fs::remove(companion);
    }
    fs::current_path(previous);
}

TEST_F(LookupTest, HelpPathMustFitTheNameBuffer)
{
    // Nested directories bring the path to exactly 1023 and 1024 characters.
    TestIndex index = BuildIndex({{"Alpha", "a.htm"}});
    std::vector<uint8_t> bytes = HelpFileWith(index, {PageFile("a.htm")});
    std::string dir = host.tempDir;
    while (dir.size() < 1023 - 120)
        dir += "/" + std::string(100, 'd');
    fs::create_directories(dir);
    std::string fits = dir + "/" + std::string(1023 - dir.size() - 1 - 4, 'f') + ".chm";
    std::string tooLong = dir + "/" + std::string(1024 - dir.size() - 1 - 4, 'g') + ".chm";
    ASSERT_EQ(fits.size(), 1023u);
    ASSERT_EQ(tooLong.size(), 1024u);
    ASSERT_TRUE(WriteBytes(fits, bytes));
    ASSERT_TRUE(WriteBytes(tooLong, bytes));

    EXPECT_EQ(ShowHelpTopic(fits.c_str(), "alpha"), 1);
    EXPECT_EQ(Opened().fileContent, Page("a.htm"));
    host.ClearLog();
    EXPECT_EQ(ShowHelpTopic(tooLong.c_str(), "alpha"), 0);
    EXPECT_TRUE(host.calls.empty());
}

TEST_F(LookupTest, TopicsOfTwelveBytesExamineNothingAndThirteenExamineOne)
{
    TestIndex index = BuildIndex({{"Alpha", "a.htm"}, {"Alpha two", "b.htm"}});
    TestIndex twelve = index;
    twelve.topics.resize(12);
    std::string help = Write("x.chm", HelpFileWith(twelve, {PageFile("a.htm")}));
    EXPECT_EQ(ShowHelpTopic(help.c_str(), "alpha"), 1);
    EXPECT_TRUE(host.calls.empty());

    TestIndex thirteen = index;
    thirteen.topics.resize(13);
    help = Write("y.chm", HelpFileWith(thirteen, {PageFile("a.htm")}));
    EXPECT_EQ(ShowHelpTopic(help.c_str(), "alpha"), 1);
    EXPECT_EQ(host.Count("CompareTextN"), 1u);
    EXPECT_EQ(host.Count("ShowMenu"), 0u);
    EXPECT_EQ(Opened().fileContent, Page("a.htm"));
}

TEST_F(LookupTest, TitlesBeginningWithTheKeywordMatchInIndexOrder)
{
    TestIndex index = BuildIndex({{"print", "p1.htm"},
                                  {"printing", "p2.htm", 3},
                                  {"prin", "p3.htm"},
                                  {"printer setup", "p4.htm"},
                                  {"reprint", "p5.htm"}});
    std::vector<StoredFile> pages;
    for (int i = 1; i <= 5; ++i)
        pages.push_back(PageFile("p" + std::to_string(i) + ".htm"));
    std::string help = Write("x.chm", HelpFileWith(index, pages, 0));
    host.menuChoice = 1;

    EXPECT_EQ(ShowHelpTopic(help.c_str(), "print"), 1);

    // One comparison per topic, in record order, with the keyword's length.
    std::vector<RecordedCall> compares = host.CallsOf("CompareTextN");
    ASSERT_EQ(compares.size(), 5u);
    const char* titles[] = {"print", "printing", "prin", "printer setup", "reprint"};
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(compares[i].Text(0), titles[i]);
        EXPECT_EQ(compares[i].Text(1), "print");
        EXPECT_EQ(compares[i].Int(2), 5);
    }

    std::vector<std::string> expectedOrder = {"CompareTextN", "CompareTextN", "CompareTextN",
                                              "CompareTextN", "CompareTextN", "GetModuleMessage",
                                              "ShowMenu",     "MakeTempName", "ControlHost",
                                              "ControlHost",  "OpenEditor"};
    EXPECT_EQ(host.ServiceNames(), expectedOrder);
    EXPECT_EQ(host.CallsOf("GetModuleMessage")[0].Int(1), 0);

    RecordedCall menu = host.CallsOf("ShowMenu")[0];
    ASSERT_EQ(menu.args.size(), 12u);
    EXPECT_EQ(menu.Int(0), host.moduleNumber);
    EXPECT_EQ(menu.Int(1), -1);
    EXPECT_EQ(menu.Int(2), -1);
    EXPECT_EQ(menu.Int(3), 0);
    EXPECT_EQ(menu.Int(4), 0x26);
    EXPECT_EQ(menu.Text(5), "Velkory topics");
    for (size_t i = 6; i <= 9; ++i)
        EXPECT_TRUE(menu.IsNull(i)) << i;
    EXPECT_FALSE(menu.IsNull(10));
    EXPECT_EQ(menu.Int(11), 3);
    ASSERT_EQ(menu.menuItems.size(), 3u);
    const char* shown[] = {"print", "printing", "printer setup"};
    const uint32_t positions[] = {index.urlPositions[0], index.urlPositions[1],
                                  index.urlPositions[3]};
    for (size_t i = 0; i < 3; ++i) {
        const MenuItem& item = menu.menuItems[i];
        EXPECT_EQ(item.flags, 0u);
        EXPECT_STREQ(item.text, shown[i]);
        EXPECT_EQ(item.reserved0, 0u);
        EXPECT_EQ(item.reserved1, 0u);
        // The position after the zero bytes that precede the URL.
        EXPECT_EQ(item.userValue, positions[i]);
        // The item is zero beyond its text.
        size_t length = strlen(item.text);
        for (size_t j = length; j < sizeof item.text; ++j)
            ASSERT_EQ(item.text[j], 0) << i << " " << j;
    }
    EXPECT_EQ(Opened().fileContent, Page("p2.htm"));
}

TEST_F(LookupTest, EqualTitlesEachGetTheirOwnItem)
{
    TestIndex index = BuildIndex({{"Setup", "s1.htm"}, {"Setup", "s2.htm"}});
    std::string help =
        Write("x.chm", HelpFileWith(index, {PageFile("s1.htm"), PageFile("s2.htm")}));
    host.menuChoice = 1;
    EXPECT_EQ(ShowHelpTopic(help.c_str(), "setup"), 1);
    ASSERT_EQ(host.Count("ShowMenu"), 1u);
    RecordedCall menu = host.CallsOf("ShowMenu")[0];
    ASSERT_EQ(menu.menuItems.size(), 2u);
    EXPECT_STREQ(menu.menuItems[0].text, "Setup");
    EXPECT_STREQ(menu.menuItems[1].text, "Setup");
    EXPECT_EQ(Opened().fileContent, Page("s2.htm"));
}

TEST_F(LookupTest, ManyMatchesGrowTheMenuOneByOne)
{
    std::vector<TestTopic> topics;
    for (int i = 0; i < 300; ++i) {
        std::string number = std::to_string(i);
        topics.push_back(
            {std::string("Item ").append(number), std::string("i").append(number).append(".htm")});
    }
    std::string help = Write("x.chm", HelpFileWith(BuildIndex(topics), {PageFile("i299.htm")}));
    host.menuChoice = 299;
    EXPECT_EQ(ShowHelpTopic(help.c_str(), "item"), 1);
    RecordedCall menu = host.CallsOf("ShowMenu")[0];
    ASSERT_EQ(menu.menuItems.size(), 300u);
    EXPECT_STREQ(menu.menuItems[123].text, "Item 123");
    EXPECT_EQ(Opened().fileContent, Page("i299.htm"));
}

TEST_F(LookupTest, LongTitlesAreComparedOn511AndShownOn127Characters)
{
    std::string longTitle;
    for (int i = 0; longTitle.size() < 600; ++i)
        longTitle += "Chapter" + std::to_string(i) + " ";
    longTitle.resize(600);
    TestIndex index = BuildIndex({{longTitle, "a.htm"}, {"Chapter one", "b.htm"}});
    std::string help = Write("x.chm", HelpFileWith(index, {PageFile("a.htm"), PageFile("b.htm")}));
    host.menuChoice = -1;

    EXPECT_EQ(ShowHelpTopic(help.c_str(), "chapter"), 1);
    std::vector<RecordedCall> compares = host.CallsOf("CompareTextN");
    ASSERT_EQ(compares.size(), 2u);
    EXPECT_EQ(compares[0].Text(0), longTitle.substr(0, 511));
    RecordedCall menu = host.CallsOf("ShowMenu")[0];
    ASSERT_EQ(menu.menuItems.size(), 2u);
    EXPECT_EQ(std::string(menu.menuItems[0].text), longTitle.substr(0, 127));

    // A keyword longer than 511 characters cannot match the cut title.
    host.ClearLog();
    EXPECT_EQ(ShowHelpTopic(help.c_str(), longTitle.substr(0, 520).c_str()), 1);
    EXPECT_EQ(host.Count("ShowMenu") + host.Count("MakeTempName"), 0u);
    // Its first 511 characters do.
    EXPECT_EQ(ShowHelpTopic(help.c_str(), longTitle.substr(0, 511).c_str()), 1);
    EXPECT_EQ(Opened().fileContent, Page("a.htm"));
}

TEST_F(LookupTest, PageNameSkipsZeroBytesAndIsCutAtTheFirstHash)
{
    TestIndex index = BuildIndex({{"Setup", "html/setup.htm#step2#again", 7}});
    std::string help = Write("x.chm", HelpFileWith(index, {PageFile("html/setup.htm")}));
    EXPECT_EQ(ShowHelpTopic(help.c_str(), "setup"), 1);
    EXPECT_EQ(Opened().fileContent, Page("html/setup.htm"));

    // Names are exact: no case folding, no decoding of escapes.
    index = BuildIndex({{"Setup", "Html/a%20b.htm"}});
    help =
        Write("y.chm", HelpFileWith(index, {PageFile("html/a%20b.htm"), PageFile("Html/a b.htm")}));
    host.ClearLog();
    EXPECT_EQ(ShowHelpTopic(help.c_str(), "setup"), 0);
    ASSERT_EQ(host.tempNames.size(), 2u);
    EXPECT_TRUE(IsEmptyDirectory(host.tempNames[1]));
}

TEST_F(LookupTest, OneMatchGoesStraightToThePage)
{
    TestIndex index = BuildIndex({{"Install", "i.htm"}, {"Uninstall", "u.htm"}});
    std::string help = Write("x.chm", HelpFileWith(index, {PageFile("i.htm"), PageFile("u.htm")}));
    EXPECT_EQ(ShowHelpTopic(help.c_str(), "INST"), 1);
    EXPECT_EQ(host.Count("GetModuleMessage"), 0u);
    EXPECT_EQ(host.Count("ShowMenu"), 0u);
    RecordedCall opened = Opened();
    EXPECT_EQ(opened.fileContent, Page("i.htm"));
    EXPECT_EQ(opened.Text(1), "INST");
}

TEST_F(LookupTest, NoMatchOrCancelledMenuIsDealtWithAndWritesNothing)
{
    TestIndex index = BuildIndex({{"print", "p1.htm"}, {"printing", "p2.htm"}});
    std::string help =
        Write("x.chm", HelpFileWith(index, {PageFile("p1.htm"), PageFile("p2.htm")}));
    EXPECT_EQ(ShowHelpTopic(help.c_str(), "zebra"), 1);
    EXPECT_EQ(host.Count("CompareTextN"), 2u);
    EXPECT_EQ(host.Count("GetModuleMessage") + host.Count("ShowMenu") + host.Count("MakeTempName"),
              0u);

    host.ClearLog();
    host.menuChoice = -1;
    EXPECT_EQ(host.SendHelp(help.c_str(), "print"), 1);
    EXPECT_EQ(host.Count("ShowMenu"), 1u);
    EXPECT_EQ(host.Count("MakeTempName"), 0u);
    EXPECT_EQ(host.Count("ControlHost") + host.Count("OpenEditor") + host.Count("OpenViewer"), 0u);

    host.ClearLog();
    host.menuChoice = -7;
    EXPECT_EQ(ShowHelpTopic(help.c_str(), "print"), 1);
    EXPECT_EQ(host.Count("MakeTempName"), 0u);
}

TEST_F(LookupTest, MenuAnswerBeyondTheListFails)
{
    TestIndex index = BuildIndex({{"print", "p1.htm"}, {"printing", "p2.htm"}});
    std::string help =
        Write("x.chm", HelpFileWith(index, {PageFile("p1.htm"), PageFile("p2.htm")}));
    host.menuChoice = 2;
    EXPECT_EQ(ShowHelpTopic(help.c_str(), "print"), 0);
    EXPECT_EQ(host.Count("MakeTempName"), 0u);
}

TEST_F(LookupTest, TitlesAreComparedAndShownInTheOemCodePage)
{
    if (GetACP() != 1252 || GetOEMCP() != 437)
        GTEST_SKIP() << "written for the Western pair of code pages 1252 and 437";
    // 0xE9 (e acute in 1252) is 0x82 in 437.
    TestIndex index =
        BuildIndex({{"Caf\xE9 menu", "c1.htm"}, {"caf\xE9 bar", "c2.htm"}, {"Cafe", "c3.htm"}});
    std::string help =
        Write("x.chm", HelpFileWith(index, {PageFile("c1.htm"), PageFile("c2.htm")}));
    host.menuChoice = 0;
    EXPECT_EQ(ShowHelpTopic(help.c_str(), "caf\x82"), 1);
    std::vector<RecordedCall> compares = host.CallsOf("CompareTextN");
    ASSERT_EQ(compares.size(), 3u);
    EXPECT_EQ(compares[0].Text(0), "Caf\x82 menu");
    RecordedCall menu = host.CallsOf("ShowMenu")[0];
    ASSERT_EQ(menu.menuItems.size(), 2u);
    EXPECT_STREQ(menu.menuItems[0].text, "Caf\x82 menu");
    EXPECT_STREQ(menu.menuItems[1].text, "caf\x82 bar");
    // The keyword is used unconverted, also as the window title.
    EXPECT_EQ(Opened().Text(1), "caf\x82");

    // The ANSI form of the keyword no longer matches.
    host.ClearLog();
    EXPECT_EQ(ShowHelpTopic(help.c_str(), "caf\xE9"), 1);
    EXPECT_EQ(host.Count("ShowMenu") + host.Count("MakeTempName"), 0u);
}

TEST_F(LookupTest, PageNameThatDoesNotFitFailsBeforeAnythingIsCreated)
{
    // "/" + 1022 characters fits the 1024-byte buffer; 1023 do not. The part
    // after "#" does not count.
    std::string fits(1022, 'a');
    std::string tooLong(1023, 'b');
    TestIndex index =
        BuildIndex({{"Fits", fits + "#" + std::string(2000, 'x')}, {"Long", tooLong}});
    std::string help = Write("x.chm", HelpFileWith(index, {PageFile("a.htm")}));
    // The 1023-character name is not stored (names are shorter), so the page
    // is not found, but the request reached the display.
    EXPECT_EQ(ShowHelpTopic(help.c_str(), "fits"), 0);
    EXPECT_EQ(host.Count("MakeTempName"), 1u);
    host.ClearLog();
    EXPECT_EQ(ShowHelpTopic(help.c_str(), "long"), 0);
    EXPECT_EQ(host.Count("MakeTempName"), 0u);
}

// Index files whose offsets point anywhere: every topic whose title or URL
// lies outside its file is skipped, whatever the host's comparison says; the
// sound topics still work. Run under AddressSanitizer this also shows that
// nothing is read outside the extracted data.
TEST_F(LookupTest, OffsetsOutsideTheIndexFilesSkipTheirTopics)
{
    TestIndex index =
        BuildIndex({{"Key good", "good.htm"},         // 0
                    {"Key title far", "t1.htm"},      // 1: title offset all ones
                    {"Key title end", "t2.htm"},      // 2: title offset at the end of #STRINGS
                    {"Key table far", "u1.htm"},      // 3: #URLTBL offset all ones
                    {"Key table edge", "u2.htm"},     // 4: #URLTBL field would overrun by one byte
                    {"Key url far", "r1.htm"},        // 5: #URLSTR position all ones
                    {"Key url end", "r2.htm"},        // 6: #URLSTR position at its end
                    {"Key good two", "good2.htm"}});  // 7
    Put32(index.topics, 16 * 1 + 4, 0xFFFFFFFF);
    Put32(index.topics, 16 * 2 + 4, (uint32_t)index.strings.size());
    Put32(index.topics, 16 * 3 + 8, 0xFFFFFFFF);
    Put32(index.topics, 16 * 4 + 8, (uint32_t)index.urlTable.size() - 11);
    uint32_t entry5 = ReadLE32(index.topics.data() + 16 * 5 + 8);
    Put32(index.urlTable, entry5 + 8, 0xFFFFFFFF);
    uint32_t entry6 = ReadLE32(index.topics.data() + 16 * 6 + 8);
    Put32(index.urlTable, entry6 + 8, (uint32_t)index.urls.size());
    std::string help =
        Write("x.chm", HelpFileWith(index, {PageFile("good.htm"), PageFile("good2.htm")}));
    host.menuChoice = 1;

    EXPECT_EQ(ShowHelpTopic(help.c_str(), "key"), 1);
    // Every examined topic is compared; those whose title cannot be read
    // are compared as empty and never match.
    ASSERT_EQ(host.Count("CompareTextN"), 8u);
    EXPECT_EQ(host.CallsOf("CompareTextN")[1].Text(0), "");
    EXPECT_EQ(host.CallsOf("CompareTextN")[2].Text(0), "");
    ASSERT_EQ(host.Count("ShowMenu"), 1u);
    RecordedCall menu = host.CallsOf("ShowMenu")[0];
    ASSERT_EQ(menu.menuItems.size(), 2u);
    EXPECT_STREQ(menu.menuItems[0].text, "Key good");
    EXPECT_STREQ(menu.menuItems[1].text, "Key good two");
    EXPECT_EQ(Opened().fileContent, Page("good2.htm"));
}

TEST_F(LookupTest, TextsRunningToTheEndOfTheirFileEndThere)
{
    // A title without a terminator ends with #STRINGS, a URL without one
    // with #URLSTR.
    TestIndex cut = BuildIndex({{"Key first", "first.htm"}, {"Key last", "last.htm"}});
    cut.strings.pop_back();
    cut.urls.pop_back();
    std::string help =
        Write("x.chm", HelpFileWith(cut, {PageFile("last.htm"), PageFile("first.htm")}));
    host.menuChoice = 1;
    EXPECT_EQ(ShowHelpTopic(help.c_str(), "key"), 1);
    RecordedCall menu = host.CallsOf("ShowMenu")[0];
    ASSERT_EQ(menu.menuItems.size(), 2u);
    EXPECT_STREQ(menu.menuItems[1].text, "Key last");
    EXPECT_EQ(Opened().fileContent, Page("last.htm"));

    // Zero bytes up to the end of #URLSTR: no URL, the topic is skipped.
    TestIndex zeros = BuildIndex({{"Key zero", "z.htm"}});
    zeros.urls.insert(zeros.urls.end(), 5, 0);
    Put32(zeros.urlTable, ReadLE32(zeros.topics.data() + 8) + 8, (uint32_t)zeros.urls.size() - 5);
    help = Write("y.chm", HelpFileWith(zeros, {PageFile("z.htm")}));
    host.ClearLog();
    EXPECT_EQ(ShowHelpTopic(help.c_str(), "key"), 1);
    EXPECT_EQ(host.Count("CompareTextN"), 1u);
    EXPECT_EQ(host.Count("MakeTempName"), 0u);
}

TEST_F(LookupTest, LastTopicRecordCutShortIsSkipped)
{
    TestIndex index =
        BuildIndex({{"Key one", "one.htm"}, {"Key two", "two.htm"}, {"Key three", "three.htm"}});
    // Record 2 keeps its title field and three bytes of its #URLTBL offset.
    TestIndex noUrl = index;
    noUrl.topics.resize(16 * 2 + 11);
    std::string help =
        Write("x.chm", HelpFileWith(noUrl, {PageFile("one.htm"), PageFile("two.htm")}));
    host.menuChoice = 1;
    EXPECT_EQ(ShowHelpTopic(help.c_str(), "key"), 1);
    EXPECT_EQ(host.Count("CompareTextN"), 3u);
    EXPECT_EQ(host.CallsOf("ShowMenu")[0].menuItems.size(), 2u);
    EXPECT_EQ(Opened().fileContent, Page("two.htm"));

    // Its #URLTBL offset ending exactly at the end of #TOPICS, record 2 is
    // whole enough to match.
    TestIndex urlAtEnd = index;
    urlAtEnd.topics.resize(16 * 2 + 12);
    help = Write("z.chm", HelpFileWith(urlAtEnd, {PageFile("three.htm")}));
    host.ClearLog();
    host.menuChoice = 2;
    EXPECT_EQ(ShowHelpTopic(help.c_str(), "key"), 1);
    EXPECT_EQ(host.CallsOf("ShowMenu")[0].menuItems.size(), 3u);
    EXPECT_EQ(Opened().fileContent, Page("three.htm"));
    host.menuChoice = 1;

    // Record 2 is examined (its title field begins inside) but its title
    // offset is cut: it is compared as empty and does not match.
    for (size_t length : {16 * 2 + 5, 16 * 2 + 7}) {
        TestIndex noTitle = index;
        noTitle.topics.resize(length);
        help = Write("y.chm", HelpFileWith(noTitle, {PageFile("one.htm"), PageFile("two.htm")}));
        host.ClearLog();
        EXPECT_EQ(ShowHelpTopic(help.c_str(), "key"), 1);
        EXPECT_EQ(host.Count("CompareTextN"), 3u) << length;
        EXPECT_EQ(host.CallsOf("ShowMenu")[0].menuItems.size(), 2u) << length;
    }
}

TEST_F(LookupTest, EmptyIndexFilesAreHandled)
{
    TestIndex index = BuildIndex({{"Key", "k.htm"}});
    TestIndex empty = index;
    empty.strings.clear();
    empty.urlTable.clear();
    empty.urls.clear();
    std::string help = Write("x.chm", HelpFileWith(empty, {PageFile("k.htm")}));
    EXPECT_EQ(ShowHelpTopic(help.c_str(), "key"), 1);
    EXPECT_EQ(host.Count("CompareTextN"), 1u);
    EXPECT_EQ(host.Count("MakeTempName"), 0u);

    TestIndex noUrls = index;
    noUrls.urlTable.clear();
    help = Write("y.chm", HelpFileWith(noUrls, {PageFile("k.htm")}));
    host.ClearLog();
    EXPECT_EQ(ShowHelpTopic(help.c_str(), "key"), 1);
    EXPECT_EQ(host.Count("CompareTextN"), 1u);
    EXPECT_EQ(host.Count("MakeTempName"), 0u);
}

TEST_F(LookupTest, IndexInEitherSectionWorksThroughMessage)
{
    TestIndex index = BuildIndex({{"Alpha", "a.htm"}});
    for (int section : {0, 1}) {
        std::string help = Write("s" + std::to_string(section) + ".chm",
                                 HelpFileWith(index, {PageFile("a.htm", 1 - section)}, section));
        host.ClearLog();
        EXPECT_EQ(host.SendHelp(help.c_str(), "Alpha"), 1);
        EXPECT_EQ(Opened().fileContent, Page("a.htm"));
    }
}

// Index files full of offsets near and beyond the ends of the files they
// point into: the request always ends with 0 or 1, every item offered lies
// inside #URLSTR, and (under AddressSanitizer) nothing is read outside the
// extracted data.
TEST_F(LookupTest, RandomIndexFilesNeverLeadOutsideTheirData)
{
    std::mt19937 random(20261207);
    auto pick = [&](uint32_t length) -> uint32_t {
        switch (random() % 10) {
        case 0:
            return 0xFFFFFFFFu - random() % 16;
        case 1:
            return length - random() % 16;
        case 2:
            return length + random() % 4;
        case 3:
            return (uint32_t)random();
        case 4:
        case 5:
            return length ? (uint32_t)(random() % length) & ~3u : 0;
        default:
            return length ? (uint32_t)(random() % length) : 0;
        }
    };
    auto bytes = [&](size_t length, int zeroPercent) {
        std::vector<uint8_t> v(length);
        for (uint8_t& b : v)
            b = (int)(random() % 100) < zeroPercent ? 0 : (uint8_t)('a' + random() % 3);
        return v;
    };
    for (int round = 0; round < 500; ++round) {
        TestIndex index;
        index.strings = bytes(random() % 40, 15);
        index.urls = bytes(random() % 40, 40);
        index.urlTable.resize(random() % 64);
        for (size_t at = 0; at + 4 <= index.urlTable.size(); at += 4)
            Put32(index.urlTable, at, pick((uint32_t)index.urls.size()));
        size_t topicsLength = random() % 160;
        uint32_t entries = (uint32_t)index.urlTable.size() / 4;
        for (size_t at = 0; at < topicsLength; at += 4) {
            if (at % 16 == 4)
                Put32(index.topics, at, pick((uint32_t)index.strings.size()));
            else if (at % 16 == 8 && entries >= 3 && random() % 2)
                Put32(index.topics, at, (uint32_t)(random() % (entries - 2)) * 4);  // a whole entry
            else
                Put32(index.topics, at, pick((uint32_t)index.urlTable.size()));
        }
        index.topics.resize(topicsLength);
        std::string help = Write("r.chm", HelpFileWith(index, {{"/a", Bytes("page"), 0}}, 0));
        host.ClearLog();
        host.menuChoice = (int)(random() % 3) - 1;
        const char* keywords[] = {"a", "b", "ab", "c"};
        int result = ShowHelpTopic(help.c_str(), keywords[random() % 4]);
        ASSERT_TRUE(result == 0 || result == 1) << round;
        for (const RecordedCall& menu : host.CallsOf("ShowMenu")) {
            for (const MenuItem& item : menu.menuItems) {
                ASSERT_LT(item.userValue, index.urls.size()) << round;
                ASSERT_NE(index.urls[item.userValue], 0) << round;
                ASSERT_NE(memchr(item.text, 0, sizeof item.text), nullptr) << round;
            }
        }
    }
}
