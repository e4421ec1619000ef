// What a query finds: words in every script whatever their case, the
// operators, the ranking, the snippet, and help files searched together.
#include "search_fixture.h"

#include <iconv.h>

#include <algorithm>
#include <cstdlib>
#include <set>

#include "container/container.h"
#include "host/page/page.h"
#include "support/corpus.h"

// Built without the search (no Xapian), the suite holds no test.
#if defined(VELKORY_HAVE_SEARCH)

namespace {

// UTF-8 text in charset (as iconv names it).
std::string Encode(const std::string& utf8, const char* charset)
{
    iconv_t cd = iconv_open(charset, "UTF-8");
    EXPECT_NE(cd, (iconv_t)-1) << charset;
    std::string out(utf8.size() * 4, '\0');
    char* in = const_cast<char*>(utf8.data());
    size_t inLeft = utf8.size(), outLeft = out.size();
    char* to = out.data();
    EXPECT_NE(iconv(cd, &in, &inLeft, &to, &outLeft), (size_t)-1) << charset;
    iconv_close(cd);
    out.resize(out.size() - outLeft);
    return out;
}

std::set<std::string> AsSet(const std::vector<std::string>& pages)
{
    return std::set<std::string>(pages.begin(), pages.end());
}

TEST_F(SearchTest, OperatorsStemsAndLetterCase)
{
    std::string file = MakeFile(
        "ops.chm",
        {{"a.htm", Html("Event loop", "The event loop runs tasks. It waits for events.")},
         {"b.htm", Html("Loops", "A loop of events: each event starts a new loop.")},
         {"c.htm",
          Html("Threads", "Threads run concurrently; the Python interpreter holds a lock.")},
         {"d.htm",
          Html("Queues",
               "A thread-safe queue hands items between threads; see the python docs.")}});
    const struct {
        const char* query;
        std::set<std::string> pages;
    } cases[] = {
        {"event loop", {"/a.htm", "/b.htm"}},  // every word, anywhere
        {"\"event loop\"", {"/a.htm"}},        // a phrase: the words in a row
        {"loop -\"event loop\"", {"/b.htm"}},  // an excluded phrase
        {"thread*", {"/c.htm", "/d.htm"}},     // a prefix
        {"thread -queue", {"/c.htm"}},         // an excluded word
        {"running", {"/a.htm", "/c.htm"}},     // its stem: runs, run
        {"PYTHON", {"/c.htm", "/d.htm"}},      // the word as written, any case
        {"python", {"/c.htm", "/d.htm"}},      // stemmed, also where capitalised
        {"AND", {}},                           // an operator alone
        {"nowhere", {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(AsSet(Hits({file}, c.query)), c.pages) << c.query;
    // A keyword's words only: no operators.
    EXPECT_EQ(AsSet(Hits({file}, "-queue", true)), std::set<std::string>({"/d.htm"}));
    // As typed so far: the last word also begins longer words; what the
    // query says with quotes and '-' keeps its meaning.
    const struct {
        const char* query;
        std::set<std::string> pages;
    } typed[] = {
        {"threa", {"/c.htm", "/d.htm"}}, {"threa python", {}},  // only the last word is a prefix
        {"\"event loop\"", {"/a.htm"}},  {"loop -\"event loop\"", {"/b.htm"}},
        {"python -queu", {"/c.htm"}},
    };
    TextSearch search(cache_);
    std::string error;
    ASSERT_TRUE(search.AddHelpFile(file, nullptr, error)) << error;
    for (const auto& c : typed) {
        SearchQuery q;
        q.text = c.query;
        q.asTyped = true;
        std::vector<SearchHit> hits;
        EXPECT_TRUE(search.Run(q, hits, error)) << error;
        std::set<std::string> pages;
        for (const SearchHit& hit : hits)
            pages.insert(hit.page);
        EXPECT_EQ(pages, c.pages) << c.query;
    }
}

TEST_F(SearchTest, TitlesRankAboveTextAndSnippetsMarkTheMatch)
{
    std::string file = MakeFile("rank.chm",
                                {{"a.htm", Html("Alpha", "a page that names beta once")},
                                 {"b.htm", Html("Beta", "a page that names alpha once")}});
    EXPECT_EQ(Hits({file}, "beta"), std::vector<std::string>({"/b.htm", "/a.htm"}));
    EXPECT_EQ(Hits({file}, "alpha"), std::vector<std::string>({"/a.htm", "/b.htm"}));

    std::vector<SearchHit> hits;
    Hits({file}, "names", false, &hits);
    ASSERT_EQ(hits.size(), 2u);
    const SearchHit& hit = hits[0];
    ASSERT_EQ(hit.marks.size(), 1u) << hit.snippet;
    EXPECT_EQ(hit.snippet.substr(hit.marks[0].first, hit.marks[0].second - hit.marks[0].first),
              "names");
    EXPECT_NE(hit.snippet.find("a page that names"), std::string::npos) << hit.snippet;
}

TEST_F(SearchTest, HostileTitlesAndTextReachNoTerminal)
{
    std::string file =
        MakeFile("hostile.chm",
                 {{"a.htm", Html("Evil\x1b[31mTitle\x07", "bell\x07 and\x1b]0;pwned\x07 word")}});
    std::vector<SearchHit> hits;
    ASSERT_EQ(Hits({file}, "word", false, &hits), std::vector<std::string>({"/a.htm"}));
    EXPECT_EQ(hits[0].title, "Evil [31mTitle");
    EXPECT_EQ(hits[0].snippet, "bell and ]0;pwned word");
}

TEST_F(SearchTest, SeveralHelpFilesAreRankedTogether)
{
    std::string one = MakeFile("one.chm", {{"a.htm", Html("Unrelated", "zebra once")}});
    std::string two = MakeFile(
        "two.chm",
        {{"b.htm", Html("Zebra", "zebra zebra zebra")}, {"c.htm", Html("Other", "nothing")}});
    std::vector<SearchHit> hits;
    EXPECT_EQ(Hits({one, two}, "zebra", false, &hits),
              std::vector<std::string>({"/b.htm", "/a.htm"}));
    ASSERT_EQ(hits.size(), 2u);
    EXPECT_EQ(hits[0].file, 1u);
    EXPECT_EQ(hits[1].file, 0u);
    // A search of some of the files names its hits' files as added.
    TextSearch search(cache_);
    std::string error;
    for (const std::string& file : {one, two})
        ASSERT_TRUE(search.AddHelpFile(file, nullptr, error)) << error;
    SearchQuery q;
    q.text = "zebra";
    q.files = {1};
    ASSERT_TRUE(search.Run(q, hits, error)) << error;
    ASSERT_EQ(hits.size(), 1u);
    EXPECT_EQ(hits[0].page, "/b.htm");
    EXPECT_EQ(hits[0].file, 1u);
}

// Words from the middle of sentences of pages in each script and charset,
// compiled by chmcmd with the help file's language, found on their page
// whatever their case.
TEST_F(SearchTest, WordsOfEveryScriptFindTheirPage)
{
    std::string makeChm = SharedDir() + "/tools/make-chm";
    if (SharedDir().empty() ||
        system(("command -v chmcmd >/dev/null && test -x " + makeChm).c_str()))
        GTEST_SKIP() << "needs chmcmd (fp-utils) and the shared make-chm";
    const struct {
        const char* language;
        const char* lcid;
        const char* charset;  // the pages' bytes
        bool declared;        // in a <meta>, else only by the help file's language
        std::vector<std::string> sentences;
        std::vector<std::pair<std::string, size_t>> queries;  // query, sentence it comes from
    } scripts[] = {
        {"chinese",
         "0x804",
         "GBK",
         false,
         {"在安装程序运行之前，用户可以选择目标文件夹并修改默认设置。",
          "这个函数返回当前窗口的句柄，调用者负责释放资源。"},
         {{"目标", 0}, {"修改", 0}, {"句柄", 1}, {"释放资源", 1}}},
        {"japanese",
         "0x411",
         "SHIFT_JIS",
         true,
         {"設定ファイルを保存すると、次回の起動時に自動的に読み込まれます。",
          "検索結果は関連性の高い順に並べ替えられて表示されます。"},
         {{"自動的", 0}, {"次回", 0}, {"関連性", 1}, {"並べ替え", 1}}},
        {"russian",
         "0x419",
         "CP1251",
         false,
         {"Программа сохраняет настройки пользователя в реестре при каждом закрытии окна.",
          "Для поиска по тексту используйте сочетание клавиш на панели инструментов."},
         {{"НАСТРОЙКИ", 0}, {"Реестре", 0}, {"сочетание", 1}, {"ПАНЕЛИ", 1}}},
        {"french",
         "0x40c",
         "CP1252",
         false,
         {"Le programme enregistre les paramètres de l'utilisateur à chaque fermeture de la "
          "fenêtre.",
          "Pour une recherche plein texte, utilisez le raccourci clavier affiché dans la barre."},
         {{"PARAMÈTRES", 0}, {"Fenêtre", 0}, {"raccourci", 1}, {"AFFICHÉ", 1}}},
        {"english",
         "0x409",
         "UTF-8",
         true,
         {"The installer writes the selected components to the log file before copying.",
          "Keyboard shortcuts are listed in the appendix at the end of this guide."},
         {{"COMPONENTS", 0}, {"Log", 0}, {"appendix", 1}, {"Shortcuts", 1}}},
    };
    for (const auto& script : scripts) {
        std::string html = root_ + "/" + script.language;
        fs::create_directories(html);
        for (size_t i = 0; i < script.sentences.size(); ++i) {
            std::string meta = script.declared
                ? std::string("<meta http-equiv=\"Content-Type\" content=\"text/html; charset=") +
                    script.charset + "\">"
                : "";
            WriteText(html + "/page" + std::to_string(i) + ".htm",
                      "<html><head>" + meta + "<title>" + std::to_string(i) +
                          "</title></head><body><p>" + Encode(script.sentences[i], script.charset) +
                          "</p></body></html>");
        }
        std::string file = root_ + "/" + script.language + ".chm";
        ASSERT_EQ(system((makeChm + " --language " + script.lcid + " '" + html + "' '" + file +
                          "' >/dev/null")
                             .c_str()),
                  0);
        for (const auto& [query, sentence] : script.queries)
            EXPECT_EQ(Hits({file}, query),
                      std::vector<std::string>({"/html/page" + std::to_string(sentence) + ".htm"}))
                << script.language << ": " << query;
    }
}

// Words from the middle of the corpus files' pages find their page.
TEST_F(SearchTest, WordsOfTheCorpusPagesFindTheirPage)
{
    std::vector<std::string> files = CorpusHelpFiles();
    if (files.empty())
        GTEST_SKIP() << "no shared corpus (../shared/corpus/chm)";
    size_t tried = 0;
    for (const std::string& file : files) {
        HelpFile* help = OpenHelpFile(file.c_str());
        ASSERT_NE(help, nullptr) << file;
        std::vector<std::pair<std::string, std::string>> samples;  // page, word
        for (int32_t i = 0; i < DirectoryCount(help) && samples.size() < 4; i += 3) {
            const DirectoryEntry* entry = DirectoryAt(help, i);
            uint32_t length = 0;
            uint8_t* data = nullptr;
            if (!IsPageName(entry->Name) || ExtractEntry(help, entry, &length, &data) != 0)
                continue;
            PageText text = ReadPageText(std::string((char*)data, length), 1252);
            free(data);
            // The word of at least six ASCII letters nearest the middle.
            std::vector<std::string> words;
            std::string word;
            for (char c : text.text + " ") {
                if (isalpha((unsigned char)c)) {
                    word += c;
                    continue;
                }
                if (word.size() >= 6)
                    words.push_back(word);
                word.clear();
            }
            if (!words.empty())
                samples.push_back({entry->Name, words[words.size() / 2]});
        }
        CloseHelpFile(help);
        for (auto& [page, word] : samples) {
            std::string upper = word;
            for (char& c : upper)
                c = (char)toupper((unsigned char)c);
            std::vector<std::string> hits = Hits({file}, upper);
            EXPECT_NE(std::find(hits.begin(), hits.end(), page), hits.end())
                << file << ": " << upper << " on " << page;
            ++tried;
        }
    }
    EXPECT_GE(tried, 10u);
}

}  // namespace

#endif
