// The keyword index: which entries answer when no title does, the menu they
// make, the page and anchor they open at, and indexes that lie.
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "container/container.h"
#include "keyword_builder.h"
#include "lookup_fixture.h"
#include "platform/platform.h"
#include "support/corpus.h"

namespace fs = std::filesystem;

namespace {

StoredFile PageAt(const std::string& name)
{
    return {name, Bytes("<html>" + name + "</html>"), 1};
}

// The topics every compiled-index test refers to by number.
TestIndex Topics()
{
    return BuildIndex({{"Variables", "Variables.htm#AhkPath"},
                       {"Send", "Send.htm"},
                       {"SendInput", "Send.htm#SendInput"},
                       {"SetTimer", "SetTimer.htm"},
                       {"Threads", "misc/Threads.htm"}});
}

const std::vector<TestKeyword> Keywords = {{u"A_AhkPath", {0}},
                                           {u"Send", {1}},
                                           {u"Send, SendInput", {2}},
                                           {u"timer", {3, 4, 4}},
                                           {u"timers", {}, u"timer"}};

// The targets as "keyword|title|page|anchor" lines.
std::vector<std::string> Lines(const KeywordIndex& index)
{
    std::vector<std::string> out;
    for (uint32_t t = 0; t < index.count; ++t) {
        const KeywordTarget& k = index.targets[t];
        out.push_back(std::string(KeywordText(&index, k.keyword)) + "|" +
                      KeywordText(&index, k.title) + "|" + KeywordText(&index, k.page) + "|" +
                      KeywordText(&index, k.anchor));
    }
    return out;
}

std::string AnchorBeside(const std::string& pagePath)
{
    std::ifstream in(fs::path(pagePath).parent_path() / AnchorFileName, std::ios::binary);
    return in ? std::string(std::istreambuf_iterator<char>(in), {}) : "<none>";
}

class KeywordTest : public LookupTest {
protected:
    std::string CompiledHelp(const std::vector<uint8_t>& btree)
    {
        std::vector<StoredFile> files = IndexFiles(Topics());
        files.push_back({"/$WWKeywordLinks/BTree", btree, 1});
        for (const char* page :
             {"/Variables.htm", "/Send.htm", "/SetTimer.htm", "/misc/Threads.htm"})
            files.push_back(PageAt(page));
        return Write("compiled.chm", MakeHelpFile(files));
    }
};

}  // namespace

TEST_F(KeywordTest, CompiledIndexAnswersWhenNoTitleBeginsWithTheKeyword)
{
    std::string help = CompiledHelp(BuildBTree(Keywords, 2));
    host.menuChoice = 1;
    EXPECT_EQ(ShowHelpTopic(help.c_str(), "TIMER"), 1);
    // Five titles, then one comparison per entry that has pages.
    EXPECT_EQ(host.Count("CompareTextN"), 5u + 4u);
    std::vector<MenuItem> items = host.CallsOf("ShowMenu").at(0).menuItems;
    ASSERT_EQ(items.size(), 2u);  // the repeated topic is one target
    EXPECT_STREQ(items[0].text, "timer - SetTimer");
    EXPECT_STREQ(items[1].text, "timer - Threads");
    RecordedCall opened = Opened();
    EXPECT_EQ(opened.fileContent, "<html>/misc/Threads.htm</html>");
    EXPECT_EQ(opened.Text(1), "TIMER");
    EXPECT_EQ(AnchorBeside(opened.Text(0)), "<none>");

    // One entry opens at once, and its anchor is left beside the page.
    host.ClearLog();
    EXPECT_EQ(ShowHelpTopic(help.c_str(), "send, s"), 1);
    EXPECT_EQ(host.Count("ShowMenu"), 0u);
    EXPECT_EQ(Opened().fileContent, "<html>/Send.htm</html>");
    EXPECT_EQ(AnchorBeside(Opened().Text(0)), "SendInput");

    // A title match leaves the index unread.
    host.ClearLog();
    EXPECT_EQ(ShowHelpTopic(help.c_str(), "send"), 1);
    EXPECT_EQ(host.Count("CompareTextN"), 5u);
    EXPECT_EQ(host.CallsOf("ShowMenu").at(0).menuItems.size(), 2u);
}

TEST_F(KeywordTest, CompiledIndexThatLiesYieldsWhatItCanAndEnds)
{
    // Two blocks of two entries: A_AhkPath and Send, then Send, SendInput
    // and timer (two targets).
    const size_t second = BTreeHeader + 2048;
    struct Lie {
        const char* what;
        size_t at;
        std::vector<uint8_t> bytes;
        int result;
        uint32_t targets;
    };
    const Lie lies[] = {
        {"as written", 0, {}, 1, 5},
        {"block 0 chains to itself", BTreeHeader + 8, {0, 0, 0, 0}, 1, 2},
        {"block 1 chains back to 0", second + 8, {0, 0, 0, 0}, 1, 5},
        {"next block past the end", BTreeHeader + 8, {9, 0, 0, 0}, 1, 2},
        {"free bytes beyond the block", BTreeHeader, {0xFF, 0xFF}, 1, 5},
        {"more entries than written", second + 2, {0xFF, 0xFF}, 1, 5},
        {"topic count past the block", BTreeHeader + 12 + 20 + 12, {0, 0, 0, 0x40}, 1, 3},
        {"topic number past #TOPICS", BTreeHeader + 12 + 20 + 16, {0xFF, 0xFF, 0xFF, 0xFF}, 1, 4},
        {"no keyword terminator", second + 12, std::vector<uint8_t>(2036, 'x'), 1, 2},
        {"block size 12", 4, {12, 0}, -1, 0},
        {"no signature", 0, {0, 0}, -1, 0},
    };
    TestIndex topics = Topics();
    TopicIndex view = TopicIndexView(topics);
    for (const Lie& lie : lies) {
        SCOPED_TRACE(lie.what);
        std::vector<uint8_t> btree = BuildBTree(Keywords, 2);
        std::copy(lie.bytes.begin(), lie.bytes.end(), btree.begin() + lie.at);
        KeywordIndex index;
        memset(&index, 0, sizeof index);
        EXPECT_EQ(ReadCompiledKeywords(btree.data(), (uint32_t)btree.size(), &view, &index),
                  lie.result);
        EXPECT_EQ(index.count, lie.targets);
        ReleaseKeywordIndex(&index);
        // Cut anywhere, it still reads only what lies inside.
        for (size_t cut : {size_t(3), BTreeHeader, second - 1, second + 100}) {
            KeywordIndex cutIndex;
            memset(&cutIndex, 0, sizeof cutIndex);
            std::vector<uint8_t> shortened(btree.begin(), btree.begin() + cut);
            ReadCompiledKeywords(shortened.data(), (uint32_t)cut, &view, &cutIndex);
            EXPECT_LE(cutIndex.count, lie.targets);
            ReleaseKeywordIndex(&cutIndex);
        }
    }
}

TEST_F(KeywordTest, CompiledKeywordsComeOutInTheOemCodePageAsTitlesDo)
{
    if (GetACP() != 1252)
        GTEST_SKIP() << "the comparison below is with Windows-1252 titles";
    const std::pair<std::u16string, std::string> keywords[] = {
        {u"\u00C9mile", "\xC9mile"}, {u"na\u00EFve \u20AC", "na\xEFve \x80"}};
    for (const auto& [wide, ansi] : keywords) {
        std::vector<uint8_t> btree = BuildBTree({{wide, {1}}});
        TestIndex topics = Topics();
        TopicIndex view = TopicIndexView(topics);
        KeywordIndex index;
        memset(&index, 0, sizeof index);
        ASSERT_EQ(ReadCompiledKeywords(btree.data(), (uint32_t)btree.size(), &view, &index), 1);
        std::vector<char> oem(ansi.begin(), ansi.end());
        oem.push_back(0);
        CharToOemA(oem.data(), oem.data());
        ASSERT_EQ(index.count, 1u);
        EXPECT_STREQ(KeywordText(&index, index.targets[0].keyword), oem.data());
        ReleaseKeywordIndex(&index);
    }
}

TEST_F(KeywordTest, SitemapEntriesTargetsAndSubKeywords)
{
    std::string hhk = "<!-- <OBJECT type=\"text/sitemap\"><param name=\"Name\" value=\"no\"> -->"
                      "<OBJECT type=\"text/site properties\"><param name=\"Name\" value=\"no\">"
                      "</OBJECT><UL>" +
        SitemapObject("Send", {{"", "Send.htm"}}) + "<UL>" +
        SitemapObject("SendInput", {{"", "./Send.htm#SendInput"}}) + "<ul>" +
        SitemapObject("Mode", {{"", "Send.htm#Mode"}}) + "</UL></ul>" +
        SitemapObject("timer &amp; &#65;&#x42;",
                      {{"SetTimer", "../SetTimer.htm"}, {"Threads", "misc\\Threads.htm#x"}}) +
        SitemapObject("web", {{"", "http://example.com/a.htm"}}) +
        SitemapObject("merged", {{"", "mk:@MSITStore:other.chm::/m.htm"}}) +
        SitemapObject("steps", {{"", "a/b/../c.htm"}}) +
        // A parameter whose name only begins with "Name" is none of the entry's.
        "<OBJECT type=\"text/sitemap\"><param name=\"Names\" value=\"not this\">"
        "<param name=\"Name\" value=\"named\"><param name=\"Local\" value=\"n.htm\"></OBJECT>"
        "<param name=\"Name\" value=\"outside any entry\"></UL>";
    KeywordIndex index;
    memset(&index, 0, sizeof index);
    ASSERT_EQ(ReadSitemapKeywords((const uint8_t*)hhk.data(), (uint32_t)hhk.size(),
                                  "/help/index.hhk", &index),
              1);
    std::vector<std::string> expected = {
        "Send||/help/Send.htm|",
        "Send, SendInput||/help/Send.htm|SendInput",
        "Send, SendInput, Mode||/help/Send.htm|Mode",
        "timer & AB|SetTimer|/SetTimer.htm|",
        "timer & AB|Threads|/help/misc/Threads.htm|x",
        "merged||/m.htm|",
        "steps||/help/a/c.htm|",
        "named||/help/n.htm|",
    };
    EXPECT_EQ(Lines(index), expected);
    ReleaseKeywordIndex(&index);
    // Each text in its own encoding: UTF-8, else the file's language.
#if !defined(_WIN32)
    setenv("VELKORY_CODEPAGES", "1252:65001", 1);
    std::string mixed = SitemapObject("\xE4\xB8\xAD\xE6\x96\x87", {{"", "zh.htm"}}) +
        SitemapObject("\xCF\xF0\xE8", {{"Caf\xE9", "ru.htm"}});
    memset(&index, 0, sizeof index);
    ASSERT_EQ(ReadSitemapKeywords((const uint8_t*)mixed.data(), (uint32_t)mixed.size(),
                                  "/index.hhk", &index, 1251),
              1);
    unsetenv("VELKORY_CODEPAGES");
    EXPECT_EQ(Lines(index),
              (std::vector<std::string> {"\xE4\xB8\xAD\xE6\x96\x87||/zh.htm|",
                                         "\xD0\x9F\xD1\x80\xD0\xB8|Caf\xD0\xB9|/ru.htm|"}));
    ReleaseKeywordIndex(&index);
#endif
    // References beyond ASCII become UTF-8; unknown ones stay as written.
    std::string odd = SitemapObject("&#233;&bogus;&#xZZ;&#0;&amp", {});
    Sitemap map;
    ASSERT_EQ(ParseSitemap((const uint8_t*)odd.data(), (uint32_t)odd.size(), &map), 1);
    ASSERT_EQ(map.entryCount, 1u);
    EXPECT_STREQ(SitemapText(&map, map.entries[0].name), "\xC3\xA9&bogus;&#xZZ;&#0;&amp");
    ReleaseSitemap(&map);

    // Through a request: #SYSTEM names the sitemap; without a name, the one
    // stored *.hhk (the extension in any case) is the index.
    std::vector<StoredFile> pages = {PageAt("/help/Send.htm"), PageAt("/Send.htm"),
                                     PageAt("/m.htm")};
    const struct {
        const char* system;
        const char* stored;
        const char* page;
    } requests[] = {
        {"help/index.hhk", "/help/index.hhk", "/help/Send.htm"},
        {"", "/help/index.hhk", "/help/Send.htm"},
        {"", "/Index.HHK", "/Send.htm"},
    };
    for (const auto& request : requests) {
        SCOPED_TRACE(request.stored);
        std::vector<StoredFile> files = IndexFiles(BuildIndex({{"Other", "o.htm"}}));
        files.push_back({"/#SYSTEM", SystemNaming(request.system), 0});
        files.push_back({request.stored, Bytes(hhk), 1});
        files.insert(files.end(), pages.begin(), pages.end());
        std::string help = Write("sitemap.chm", MakeHelpFile(files));
        host.ClearLog();
        host.menuChoice = 2;
        EXPECT_EQ(ShowHelpTopic(help.c_str(), "send"), 1);
        std::vector<MenuItem> items = host.CallsOf("ShowMenu").at(0).menuItems;
        ASSERT_EQ(items.size(), 3u);
        EXPECT_STREQ(items[2].text, "Send, SendInput, Mode");
        EXPECT_EQ(Opened().fileContent, std::string("<html>") + request.page + "</html>");
        EXPECT_EQ(AnchorBeside(Opened().Text(0)), "Mode");
    }
}

TEST_F(KeywordTest, StoredNamesIgnoreAsciiCaseAndEscapesOnlyWhenNoneMatchesExactly)
{
    TestIndex topics = BuildIndex({{"Menu", "fm/Menu.htm"},
                                   {"Both", "Both.htm"},
                                   {"Escaped page", "My%20Page.htm"},
                                   {"Sign", "100%25.htm"}});
    std::vector<StoredFile> files = IndexFiles(topics);
    files.push_back({"/$WWKeywordLinks/BTree",
                     BuildBTree({{u"file menu", {0}},
                                 {u"both ways", {1}},
                                 {u"spaced page", {2}},
                                 {u"percent sign", {3}}}),
                     1});
    for (const char* page :
         {"/fm/menu.htm", "/both.htm", "/Both.htm", "/My Page.htm", "/100%25.htm", "/100%.htm"})
        files.push_back(PageAt(page));
    std::string help = Write("case.chm", MakeHelpFile(files));
    const struct {
        const char* keyword;
        const char* page;
    } requests[] = {
        {"file", "/fm/menu.htm"},      // keyword index, case
        {"both w", "/Both.htm"},       // keyword index, exact before case
        {"spaced", "/My Page.htm"},    // keyword index, escapes
        {"percent s", "/100%25.htm"},  // keyword index, exact before escapes
    };
    for (const auto& request : requests) {
        host.ClearLog();
        EXPECT_EQ(ShowHelpTopic(help.c_str(), request.keyword), 1) << request.keyword;
        EXPECT_EQ(Opened().fileContent, std::string("<html>") + request.page + "</html>")
            << request.keyword;
    }
}

TEST_F(KeywordTest, FileWithoutAnIndexFindsNothing)
{
    std::string help = Write("plain.chm", HelpFileWith(Topics(), {PageAt("/Send.htm")}));
    EXPECT_EQ(ShowHelpTopic(help.c_str(), "timer"), 1);
    EXPECT_EQ(host.ServiceNames(), std::vector<std::string>(5, "CompareTextN"));
}

TEST_F(KeywordTest, CorpusIndexesAgreeAndAnswerTheirKeywords)
{
    if (SharedDir().empty())
        GTEST_SKIP() << "the shared corpus (" VELKORY_SOURCE_DIR "/../shared) is absent";
    int compared = 0;
    for (const std::string& path : CorpusHelpFiles()) {
        SCOPED_TRACE(path);
        TopicIndex topics;
        ASSERT_TRUE(ReadTopicIndex(path.c_str(), &topics));
        HelpFile* file = OpenHelpFile(path.c_str());
        uint32_t length = 0;
        uint8_t* data = nullptr;
        std::multiset<std::tuple<std::string, std::string, std::string>> pairs[2];
        KeywordIndex index;
        memset(&index, 0, sizeof index);
        if (ExtractFile(file, "/$WWKeywordLinks/BTree", &length, &data) == 0) {
            EXPECT_EQ(ReadCompiledKeywords(data, length, &topics, &index), 1);
            free(data);
            for (uint32_t t = 0; t < index.count; ++t)
                pairs[0].insert({KeywordText(&index, index.targets[t].keyword),
                                 KeywordText(&index, index.targets[t].page),
                                 KeywordText(&index, index.targets[t].anchor)});
            ReleaseKeywordIndex(&index);
            for (int32_t i = 0; i < DirectoryCount(file); ++i) {
                std::string name = DirectoryAt(file, i)->Name;
                if (name.size() < 4 || name.substr(name.size() - 4) != ".hhk" ||
                    ExtractFile(file, name.c_str(), &length, &data) != 0)
                    continue;
                EXPECT_EQ(ReadSitemapKeywords(data, length, name.c_str(), &index), 1);
                free(data);
            }
            for (uint32_t t = 0; t < index.count; ++t)
                pairs[1].insert({KeywordText(&index, index.targets[t].keyword),
                                 KeywordText(&index, index.targets[t].page),
                                 KeywordText(&index, index.targets[t].anchor)});
            ReleaseKeywordIndex(&index);
            EXPECT_FALSE(pairs[0].empty());
            EXPECT_EQ(pairs[0], pairs[1]);
            ++compared;
        }
        CloseHelpFile(file);
        ReleaseTopicIndex(&topics);
    }
    EXPECT_GE(compared, 5);

    std::string setup = SharedDir() + "/corpus/chm/ISetup.chm";
    host.menuChoice = 0;
    EXPECT_EQ(ShowHelpTopic(setup.c_str(), "/LOG"), 1);
    std::vector<MenuItem> items = host.CallsOf("ShowMenu").at(0).menuItems;
    ASSERT_EQ(items.size(), 5u);
    EXPECT_STREQ(items[0].text, "/LOG - [Setup]: SetupLogging");
    EXPECT_NE(Opened().fileContent.find("SetupLogging"), std::string::npos);
}
