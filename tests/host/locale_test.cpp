// The host in the user's locale: titles in any script shown as written,
// keywords in any script matched with letter case ignored, and an unusable
// code-page setting refused.
#include "host_runner.h"

#include <cstdlib>

#include "lookup/index_builder.h"
#include "lookup/system_builder.h"
#include "support/chm_writer.h"
#include "support/corpus.h"

namespace {

const std::map<std::string, std::string> Utf8Locale = {{"LC_ALL", "C.UTF-8"}};

// The topics the host lists on standard error when no terminal can show
// the menu: "N<TAB>title" lines.
std::vector<std::string> ListedTitles(const std::string& err)
{
    std::vector<std::string> titles;
    std::istringstream lines(err);
    for (std::string line; std::getline(lines, line);) {
        size_t tab = line.find('\t');
        if (tab != std::string::npos && tab > 0 && isdigit((unsigned char)line[0]))
            titles.push_back(line.substr(tab + 1));
    }
    return titles;
}

TEST_F(HostTest, ChineseAndJapaneseTitlesShowAsThePagesSay)
{
    // Pages written as people write them: UTF-8 HTML, compiled by chmcmd.
    std::string makeChm = SharedDir() + "/tools/make-chm";
    if (SharedDir().empty() ||
        system(("command -v chmcmd >/dev/null && test -x " + makeChm).c_str()))
        GTEST_SKIP() << "needs chmcmd (fp-utils) and the shared make-chm";
    const std::vector<std::pair<std::string, std::string>> pages = {
        {"a.htm", "帮助：开始使用"},
        {"b.htm", "帮助：搜索"},
        {"c.htm", "ヘルプの使い方"},
        {"d.htm", "ヘルプ：検索"},
    };
    fs::create_directories(root_ + "/html");
    for (const auto& [name, title] : pages)
        WriteText(root_ + "/html/" + name,
                  "<html><head><meta charset=\"utf-8\"><title>" + title +
                      "</title></head><body><p>" + title + "</p></body></html>");
    std::string file = root_ + "/cjk.chm";
    ASSERT_EQ(system((makeChm + " '" + root_ + "/html' '" + file + "' >/dev/null").c_str()), 0);

    const struct {
        const char* keyword;
        std::vector<std::string> titles;
    } requests[] = {
        {"帮助", {pages[0].second, pages[1].second}},
        {"ヘルプ", {pages[2].second, pages[3].second}},
    };
    for (const auto& request : requests) {
        RunResult run = Run({"help", file, request.keyword}, Utf8Locale);
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(ListedTitles(run.err), request.titles) << run.err;
    }
}

TEST_F(HostTest, KeywordsMatchWithLetterCaseIgnoredInAnyScript)
{
    TestIndex index = BuildIndex({{"\xC3\x89mile Zola", "zola.htm"},
                                  {"Rdpmc\xEF\xBC\xB4x", "rdpmc.htm"},
                                  {"\xD0\x9F\xD1\x80\xD0\xB8\xD0\xBC\xD0\xB5\xD1\x80", "ru.htm"}});
    std::string file = root_ + "/letters.chm";
    ASSERT_TRUE(WriteBytes(file,
                           HelpFileWith(index,
                                        {{"/zola.htm", Bytes("zola"), 0},
                                         {"/rdpmc.htm", Bytes("rdpmc"), 0},
                                         {"/ru.htm", Bytes("ru"), 0}})));
    const struct {
        const char* keyword;
        const char* page;
        const char* title;
    } requests[] = {
        {"\xC3\xA9mile", "zola", "\xC3\x89mile Zola"},         // e with acute for E with acute
        {"rdpmc\xEF\xBD\x94", "rdpmc", "Rdpmc\xEF\xBC\xB4x"},  // full-width t for full-width T
        {"\xD0\xBF\xD1\x80\xD0\x98", "ru",
         "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xBC\xD0\xB5\xD1\x80"},  // Cyrillic, both ways
    };
    // help opens the page, and topics lists the same title: both compare as
    // the module does.
    for (const auto& request : requests) {
        RunResult run = Run({"help", file, request.keyword}, Utf8Locale);
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(ReadText(run.out.substr(0, run.out.find('\n'))), request.page) << request.keyword;
        RunResult topics = Run({"topics", file, request.keyword}, Utf8Locale);
        EXPECT_EQ(topics.status, 0) << topics.err;
        EXPECT_EQ(topics.out, std::string(request.title) + "\t/" + request.page + ".htm\n")
            << request.keyword;
    }
}

TEST_F(HostTest, PagesThatDoNotSayTheirCharsetRenderInTheFilesLanguage)
{
    // A Chinese help file (GBK, language 0x0804) whose page names no charset.
    TestIndex index = BuildIndex({{"\xD6\xD0\xCE\xC4", "zh.htm"}});
    std::vector<StoredFile> files = IndexFiles(index);
    files.push_back({"/#SYSTEM", SystemFileBytes(0x0804), 0});
    files.push_back({"/zh.htm", Bytes("<p>\xD6\xD0\xCE\xC4 \xB0\xEF\xD6\xFA</p>"), 0});
    std::string file = root_ + "/zh.chm";
    ASSERT_TRUE(WriteBytes(file, MakeHelpFile(files)));
    ASSERT_EQ(Run({"config", "--modality", "1", "--visuality", "1"}).status, 0);
    for (const char* renderer : {"plain", "w3m", "lynx"}) {
        // run-tests installs both renderers: a missing one fails here.
        if (std::string(renderer) != "plain") {
            ASSERT_EQ(system(("command -v " + std::string(renderer) + " >/dev/null").c_str()), 0)
                << renderer << " is not installed";
        }
        std::map<std::string, std::string> env = Utf8Locale;
        env["VELKORY_RENDERER"] = renderer;
        RunResult run = Run({"help", file, "\xE4\xB8\xAD"}, env);
        EXPECT_EQ(run.status, 0) << renderer << ": " << run.err;
        EXPECT_NE(run.out.find("\xE4\xB8\xAD\xE6\x96\x87"), std::string::npos)
            << renderer << ": " << run.out;
        EXPECT_NE(run.out.find("\xE5\xB8\xAE\xE5\x8A\xA9"), std::string::npos)
            << renderer << ": " << run.out;
    }
}

TEST_F(HostTest, InALocaleThatIsNotUtf8PagesAreShownInItsCharset)
{
    // LANG=C: the page's e with acute, euro sign and ideograph become '?',
    // so that less shows the page instead of calling it a binary file.
    std::string file = root_ + "/cafe.chm";
    ASSERT_TRUE(
        WriteBytes(file,
                   HelpFileWith(BuildIndex({{"Cafe", "cafe.htm"}}),
                                {{"/cafe.htm",
                                  Bytes("<meta charset=\"utf-8\"><p>Caf\xC3\xA9 5 \xE2\x82\xAC "
                                        "\xE4\xB8\xAD ok</p>"),
                                  1}})));
    ASSERT_EQ(Run({"config", "--modality", "1", "--visuality", "1"}).status, 0);
    std::string log = root_ + "/log";
    for (const char* renderer : {"plain", "w3m", "lynx"}) {
        for (bool viewer : {false, true}) {
            std::map<std::string, std::string> env = {{"VELKORY_RENDERER", renderer}};
            if (viewer)
                env["VELKORY_VIEWER"] = RecordingProgram("less", log);
            RunResult run = Run({"help", file, "cafe"}, env);
            ASSERT_EQ(run.status, 0) << renderer << ": " << run.err;
            std::string shown = viewer ? ReadText(log + ".shown") : run.out;
            EXPECT_NE(shown.find("Caf? 5 ? ? ok"), std::string::npos) << renderer << ": " << shown;
            for (unsigned char c : shown)
                ASSERT_LT(c, 0x80) << renderer << ": " << shown;
        }
    }
}

TEST_F(HostTest, AnUnusableCodePageSettingStopsWithItsReason)
{
    for (const char* setting : {"936", "1252:99999", "1252:9999"}) {
        RunResult run = Run({"info"}, {{"VELKORY_CODEPAGES", setting}});
        EXPECT_EQ(run.status, 2) << setting;
        EXPECT_NE(run.err.find(std::string("VELKORY_CODEPAGES=") + setting), std::string::npos)
            << run.err;
    }
    EXPECT_EQ(Run({"info"}, {{"VELKORY_CODEPAGES", "936:936"}}).status, 0);
}

}  // namespace
