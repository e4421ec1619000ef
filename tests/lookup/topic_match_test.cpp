// The topics that match a keyword, as one list: the sources in turn, what
// each match carries, the limit, and a help file without its indexes; read
// without a module session, as the host reads them.
#include <string>
#include <vector>

#include "fulltext_builder.h"
#include "lookup_fixture.h"
#include "platform/text.h"

namespace {

int CompareFolding(const char* text, const char* keyword, int32_t count)
{
    return CompareFolded(text, keyword, (size_t)count);
}

// A match as text: source, entry, title, menu text, page and anchor.
std::string Describe(const TopicMatches& m, const TopicMatch& match)
{
    std::string out = std::to_string(match.source);
    for (uint32_t offset : {match.entry, match.title, match.text, match.page, match.anchor}) {
        out += '|';
        out += offset == NoText ? "-" : TopicMatchText(&m, offset);
    }
    return out;
}

class TopicMatchTest : public RecordingHostTest {
protected:
    void SetUp() override
    {
        RecordingHostTest::SetUp();
        std::vector<StoredFile> files = IndexFiles(BuildIndex({{"Print", "print.htm"},
                                                               {"Printing", "printing.htm#how"},
                                                               {"Setup", "setup.htm#top"},
                                                               {"", "untitled.htm"}}));
        files.push_back({"/$WWKeywordLinks/BTree",
                         BuildBTree({{u"printer", {0}}, {u"zoom", {1, 2}}, {u"Zoo", {3}}}), 1});
        files.push_back({"/$FIftiMain", BuildFullText({{"scanner", {{1}, {2}}}}).bytes, 1});
        help_ = host.Path("match.chm");
        ASSERT_TRUE(WriteBytes(help_, MakeHelpFile(files)));
    }

    // Every match of keyword from sources, described; the result in *result.
    std::vector<std::string> Find(const std::string& file, const char* keyword, uint32_t sources,
                                  uint32_t limit = TopicMatchLimit, int* result = nullptr,
                                  TopicMatches* kept = nullptr)
    {
        TopicMatches m;
        int r = FindTopicMatches(file.c_str(), keyword, sources, CompareFolding, limit, &m);
        if (result)
            *result = r;
        std::vector<std::string> out;
        for (uint32_t k = 0; k < m.count; ++k)
            out.push_back(Describe(m, m.matches[k]));
        if (kept)
            *kept = m;
        else
            ReleaseTopicMatches(&m);
        return out;
    }
    std::string help_;
};

}  // namespace

TEST_F(TopicMatchTest, SourcesAnswerInTurnAndTheFirstThatMatchesAnswersAlone)
{
    using List = std::vector<std::string>;
    struct Case {
        const char* keyword;
        uint32_t sources;
        List matches;
    } cases[] = {
        {"PRINT",
         TopicFromAny,
         {"1|Print|Print|Print|/print.htm|-", "1|Printing|Printing|Printing|/printing.htm|how"}},
        {"print", TopicFromKeywordIndex, {"2|printer|Print|printer - Print|/print.htm|-"}},
        {"zoo",
         TopicFromAny,
         {"2|zoom|Printing|zoom - Printing|/printing.htm|how",
          "2|zoom|Setup|zoom - Setup|/setup.htm|top", "2|Zoo|-|Zoo|/untitled.htm|-"}},
        // A page of the full-text index opens whole, at the keyword.
        {"scan",
         TopicFromAny,
         {"4|Printing|Printing|Printing|/printing.htm|-", "4|Setup|Setup|Setup|/setup.htm|-"}},
        {"scan", TopicFromTitle | TopicFromKeywordIndex, {}},
        // "" is every titled topic and every entry, and no page.
        {"",
         TopicFromTitle,
         {"1|Print|Print|Print|/print.htm|-", "1|Printing|Printing|Printing|/printing.htm|how",
          "1|Setup|Setup|Setup|/setup.htm|top"}},
        {"", TopicFromFullText, {}},
        {"zebra", TopicFromAny, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.keyword) + " " + std::to_string(c.sources));
        int result = -1;
        EXPECT_EQ(Find(help_, c.keyword, c.sources, TopicMatchLimit, &result), c.matches);
        EXPECT_EQ(result, TopicMatchOk);
    }
    // Nothing of the host was asked: no module session is needed.
    EXPECT_TRUE(host.calls.empty());

    // The pages of one index entry share its text; the limit leaves out the rest.
    TopicMatches m;
    Find(help_, "zoo", TopicFromAny, 2, nullptr, &m);
    ASSERT_EQ(m.count, 2u);
    EXPECT_EQ(m.matches[0].entry, m.matches[1].entry);
    EXPECT_EQ(m.more, 1u);
    ReleaseTopicMatches(&m);
    Find(help_, "zoo", TopicFromAny, 3, nullptr, &m);
    EXPECT_EQ(m.more, 0u);
    ReleaseTopicMatches(&m);
}

TEST_F(TopicMatchTest, MissingIndexesFailOnlyTheSourcesThatNeedThem)
{
    // No topic index: titles and pages cannot be matched, a sitemap index can.
    std::string hhk = "<UL>" + SitemapObject("Alpha", {{"", "a.htm"}}) + "</UL>";
    std::string sitemapOnly = host.Path("sitemap.chm");
    ASSERT_TRUE(WriteBytes(
        sitemapOnly,
        MakeHelpFile({{"/#SYSTEM", SystemNaming("i.hhk"), 0}, {"/i.hhk", Bytes(hhk), 1}})));
    int result = -1;
    EXPECT_EQ(Find(sitemapOnly, "alp", TopicFromKeywordIndex, TopicMatchLimit, &result),
              std::vector<std::string> {"2|Alpha|-|Alpha|/a.htm|-"});
    EXPECT_EQ(result, TopicMatchOk);
    for (uint32_t sources : {TopicFromAny, TopicFromTitle, TopicFromFullText}) {
        EXPECT_EQ(Find(sitemapOnly, "alp", sources, TopicMatchLimit, &result).size(), 0u);
        EXPECT_EQ(result, TopicMatchNoTopicIndex) << sources;
    }
    EXPECT_EQ(Find(host.Path("none.chm"), "alp", TopicFromKeywordIndex, 9, &result).size(), 0u);
    EXPECT_EQ(result, TopicMatchNoKeywordIndex);

    // A file without a full-text index matches no page, and says why.
    std::string plain = host.Path("plain.chm");
    ASSERT_TRUE(WriteBytes(plain, MakeHelpFile(IndexFiles(BuildIndex({{"Print", "print.htm"}})))));
    TopicMatches m;
    EXPECT_EQ(FindTopicMatches(plain.c_str(), "scan", TopicFromAny, CompareFolding, 9, &m),
              TopicMatchOk);
    EXPECT_EQ(m.count, 0u);
    EXPECT_EQ(m.fullText, (uint32_t)FullTextMissing);
    ReleaseTopicMatches(&m);
}
