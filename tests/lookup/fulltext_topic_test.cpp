// The help request's third answer: the pages whose text holds a word
// beginning with the keyword, when neither a title nor the keyword index
// answers; and help files whose full-text index is missing or damaged.
#include <string>
#include <vector>

#include "container/container.h"
#include "fulltext_builder.h"
#include "lookup_fixture.h"

namespace {

StoredFile PageAt(const std::string& name)
{
    return {name, Bytes("<html>" + name + "</html>"), 1};
}

// Four topics; the fourth leads where the second does (chmcmd lists every
// page twice), the third has no title.
TestIndex Topics()
{
    TestIndex index = BuildIndex({{"Pruning fruit trees", "pruning.htm"},
                                  {"Grafting scions", "grafting.htm#whip"},
                                  {"", "sub/pests.htm"},
                                  {"Grafting again", "other.htm"}});
    Put32(index.topics, 3 * 16 + 8, ReadLE32(&index.topics[1 * 16 + 8]));
    return index;
}

const std::vector<TestWord> Words = {
    {"cambium", {{0}, {1, {4, 9}}, {3}}},
    {"cambiums", {{2}, {3}}},
    {"pests", {{2}}, 1},
    {"scab", {{2}}},
    {"sleeps", {{0}}},
};

class FullTextTest : public LookupTest {
protected:
    // A help file with the topics, a keyword index whose one entry is "scab",
    // the pages, and the full-text index (none when empty).
    std::string Help(const std::vector<uint8_t>& fulltext, int section = 1)
    {
        std::vector<StoredFile> files = IndexFiles(Topics());
        files.push_back({"/$WWKeywordLinks/BTree", BuildBTree({{u"scab", {2}}}), 1});
        for (const char* page : {"/pruning.htm", "/grafting.htm", "/sub/pests.htm", "/other.htm"})
            files.push_back(PageAt(page));
        if (!fulltext.empty())
            files.push_back({"/$FIftiMain", fulltext, section});
        return Write("fulltext.chm", MakeHelpFile(files));
    }

    std::vector<std::string> MenuTexts()
    {
        std::vector<std::string> out;
        for (const RecordedCall& call : host.CallsOf("ShowMenu"))
            for (const MenuItem& item : call.menuItems)
                out.push_back(item.text);
        return out;
    }
};

}  // namespace

TEST_F(FullTextTest, PagesWhoseTextHoldsTheWordAnswerAfterTitlesAndTheKeywordIndex)
{
    for (int section : {1, 0}) {
        SCOPED_TRACE(section);
        std::string help = Help(BuildFullText(Words).bytes, section);

        // Every page once, in the index's order, by its topic's title (the
        // untitled one by its page), whatever the letters' case.
        host.ClearLog();
        host.menuChoice = 1;
        EXPECT_EQ(ShowHelpTopic(help.c_str(), "CAMB"), 1);
        EXPECT_EQ(
            MenuTexts(),
            (std::vector<std::string> {"Pruning fruit trees", "Grafting scions", "sub/pests.htm"}));
        RecordedCall opened = Opened();
        EXPECT_EQ(opened.fileContent, "<html>/grafting.htm</html>");
        EXPECT_EQ(opened.Text(1), "CAMB");

        // One page opens without a menu; a title word counts.
        host.ClearLog();
        EXPECT_EQ(ShowHelpTopic(help.c_str(), "pest"), 1);
        EXPECT_EQ(host.Count("ShowMenu"), 0u);
        EXPECT_EQ(Opened().fileContent, "<html>/sub/pests.htm</html>");

        // A title, and then the keyword index, answer before the text.
        host.ClearLog();
        host.menuChoice = -1;
        EXPECT_EQ(ShowHelpTopic(help.c_str(), "graft"), 1);
        EXPECT_EQ(MenuTexts(), (std::vector<std::string> {"Grafting scions", "Grafting again"}));
        host.ClearLog();
        EXPECT_EQ(ShowHelpTopic(help.c_str(), "scab"), 1);
        EXPECT_EQ(host.Count("ShowMenu"), 0u);
        EXPECT_EQ(Opened().fileContent, "<html>/sub/pests.htm</html>");
    }
}

TEST_F(FullTextTest, AMenuLeftOrAnItemTheHostMadeUpOpensNothing)
{
    std::string help = Help(BuildFullText(Words).bytes);
    const std::pair<int, int> answers[] = {{-1, 1}, {3, 0}, {100, 0}};
    for (const auto& [choice, result] : answers) {
        host.ClearLog();
        host.menuChoice = choice;
        EXPECT_EQ(ShowHelpTopic(help.c_str(), "cambium"), result) << choice;
        EXPECT_EQ(host.Count("OpenViewer") + host.Count("OpenEditor"), 0u);
    }
    EXPECT_TRUE(host.tempNames.empty());
}

TEST_F(FullTextTest, WithoutAFullTextIndexOrWithADamagedOneNothingMatches)
{
    std::vector<uint8_t> index = BuildFullText(Words).bytes;
    std::vector<uint8_t> cut(index.begin(), index.begin() + (long)index.size() - 100);
    std::vector<uint8_t> noisy = index;
    for (size_t i = 0x400; i < noisy.size(); i += 7)
        noisy[i] ^= 0x5A;
    const std::pair<const char*, std::vector<uint8_t>> files[] = {
        {"none", {}},
        {"header only", std::vector<uint8_t>(index.begin(), index.begin() + 0x400)},
        {"cut", cut},
        {"noise", noisy}};
    for (const auto& [what, bytes] : files) {
        SCOPED_TRACE(what);
        std::string help = Help(bytes);
        host.ClearLog();
        EXPECT_EQ(ShowHelpTopic(help.c_str(), "cambium"), 1);
        EXPECT_EQ(host.Count("ShowMenu"), 0u);
        EXPECT_EQ(host.Count("OpenViewer") + host.Count("OpenEditor"), 0u);
    }
    EXPECT_TRUE(host.tempNames.empty());
}
