// The text pipeline: bytes of any charset to UTF-8 through the one converter,
// a page as its title and visible text, and the full-text search working on
// that decoded, case-folded text.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "host/page/markup.h"
#include "host/page/page.h"
#include "platform/platform.h"
#if VELKORY_HAVE_SEARCH
#include <filesystem>

#include "host/search/search.h"
#include "lookup/system_builder.h"
#include "support/chm_writer.h"
#endif

namespace {

TEST(TextPipelineTest, BytesOfAnyCodePageBecomeUtf8)
{
    const struct {
        std::string bytes;
        unsigned codePage;
        const char* utf8;
    } cases[] = {
        // Windows-1252 as Windows reads it: 0x81 is the C1 control U+0081.
        {"Caf\xE9 \x80\x81", 1252, "Caf\u00E9 \u20AC\u0081"},
        {"\xCF\xF0\xE8", 1251, "\u041F\u0440\u0438"},
        {"\xD6\xD0\xCE\xC4", 936, "\u4E2D\u6587"},
        {"\xBF", 28595, "\u041F"},
        // Each byte that is no UTF-8 is one U+FFFD.
        {"a\xE2\x82(", CP_UTF8, "a\uFFFD\uFFFD("},
        // ASCII is not itself in every code page.
        {"a+AOk-", 65000, "a\u00E9"},
        // A code page nothing converts is read as Windows-1252.
        {"Caf\xE9", 4242, "Caf\u00E9"},
        {"", 936, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CodePageToUtf8(c.bytes, c.codePage), c.utf8) << c.codePage << " " << c.bytes;
    // A help file's text is UTF-8 as it is when its bytes are.
    EXPECT_EQ(TextToUtf8("\xC3\xA9t\xC3\xA9", 1251), "\u00E9t\u00E9");
    EXPECT_EQ(TextToUtf8("\xE9t\xE9", 1252), "\u00E9t\u00E9");
}

// The tokens of html, one a line: kind, name, text.
std::string Tokens(const std::string& html)
{
    static const char* const Kinds[] = {"text", "cdata", "start", "end", "raw"};
    std::string out;
    MarkupReader reader(html);
    MarkupToken token;
    while (reader.Next(token))
        out += std::string(Kinds[token.kind]) + " " + token.name + (token.selfClosing ? "/" : "") +
            " [" + std::string(token.text) + "]\n";
    return out;
}

TEST(TextPipelineTest, MarkupReadsAsTokens)
{
    EXPECT_EQ(Tokens("a<P Class='x>y'>b</p><SCRIPT>if (a<b) x()</Script >c"),
              "text  [a]\nstart p [ Class='x>y']\ntext  [b]\nend p []\nstart script []\n"
              "raw script [if (a<b) x()]\ntext  [c]\n");
    EXPECT_EQ(Tokens("<!-- <p> --><!DOCTYPE html><![CDATA[<p>]]><br/>1 < 2 </ >"),
              "cdata  [<p>]\nstart br/ [/]\ntext  [1 ]\ntext  [<]\ntext  [ 2 ]\ntext  [<]\n"
              "text  [/ >]\n");
    // Markup that never ends runs to the end of the page.
    EXPECT_EQ(Tokens("<style>p {"), "start style []\nraw style [p {]\n");
    EXPECT_EQ(Tokens("a<!-- open"), "text  [a]\n");
    EXPECT_EQ(Tokens("<a href=\"x"), "start a [ href=\"x]\n");
    EXPECT_EQ(Tokens("<averyveryverylongname>"), "start  []\n");
}

TEST(TextPipelineTest, APageBecomesItsTitleAndVisibleText)
{
    const struct {
        std::string page;
        unsigned fallback;  // the help file's language
        const char* title;
        const char* text;
    } cases[] = {
        {"<html><head><title> Fish &amp;\n Chips </title><style>p { x: y }</style>"
         "<script>alert('no')</script></head><body><h1>Caf\xE9</h1>\n"
         "<p>one  two<br>three &lt;four&gt;&nbsp;five</p><!-- <p>hidden</p> -->"
         "<ul><li>a</li><li>b</li></ul><table><tr><td>c1</td><td>c2</td></tr></table>"
         "<pre>x\n  y</pre><p><![CDATA[&amp;]]></p></body></html>",
         0, "Fish & Chips",
         "Caf\u00E9\none two\nthree <four>\u00A0five\na\nb\nc1 c2\nx\ny\n&amp;\n"},
        // The declared charset, else UTF-8 by the bytes, else the language.
        {"<meta charset=gb2312><title>\xD6\xD0</title><p>\xCE\xC4</p>", 1251, "\u4E2D", "\u6587\n"},
        {"<title>\xE4\xB8\xAD</title><p>\xE6\x96\x87</p>", 1251, "\u4E2D", "\u6587\n"},
        {"<title>\xCF\xF0\xE8</title>text", 1251, "\u041F\u0440\u0438", "text\n"},
        // Markup that never ends, and references that are none.
        {"<title>never closed", 0, "never closed", ""},
        {"<p>a<script>never closed", 0, "", "a\n"},
        {std::string("a < b &bogus; &#0; c\0d", 22), 0, "", "a < b &bogus; \uFFFD cd\n"},
        {"<p class=\"x>y\">after", 0, "", "after\n"},
    };
    for (const auto& c : cases) {
        PageText text = ReadPageText(c.page, c.fallback);
        EXPECT_EQ(text.title, c.title) << c.page;
        EXPECT_EQ(text.text, c.text) << c.page;
    }
    // A long title is cut between characters.
    std::string longTitle;
    for (int i = 0; i < 200; ++i)
        longTitle += "\u00E9";
    PageText text = ReadPageText("<title>" + longTitle + "</title>", 0);
    EXPECT_EQ(text.title, longTitle.substr(0, MaxTitleBytes));
    EXPECT_EQ(text.codePage, (unsigned)CP_UTF8);
}

#if VELKORY_HAVE_SEARCH
// Pages of every charset go through the pipeline into the search engine: the
// stored names of the pages a query finds in one help file, sorted.
class PipelineSearch {
public:
    PipelineSearch(uint32_t lcid, const std::vector<std::pair<std::string, std::string>>& pages)
    {
        char pattern[] = "/tmp/velkory-pipeline-XXXXXX";
        dir_ = mkdtemp(pattern) ? pattern : "";
        std::vector<StoredFile> files = {{"/#SYSTEM", SystemFileBytes(lcid), 0}};
        for (const auto& [name, html] : pages)
            files.push_back({name, std::vector<uint8_t>(html.begin(), html.end()), 1});
        help_ = dir_ + "/pages.chm";
        EXPECT_TRUE(WriteBytes(help_, MakeHelpFile(files)));
        cache_.directory = dir_ + "/cache";
    }
    ~PipelineSearch()
    {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    std::vector<std::string> Found(const std::string& query, bool asTyped = false)
    {
        TextSearch search(cache_);
        std::string error;
        std::vector<SearchHit> hits;
        SearchQuery q;
        q.text = query;
        q.asTyped = asTyped;
        if (!search.AddHelpFile(help_, nullptr, error) || !search.Run(q, hits, error))
            return {error};
        std::vector<std::string> names;
        for (const SearchHit& hit : hits)
            names.push_back(hit.page);
        std::sort(names.begin(), names.end());
        return names;
    }

private:
    std::string dir_, help_;
    SearchCache cache_;
};

TEST(TextPipelineTest, SearchFindsWordsOfEveryCharsetWithLetterCaseIgnored)
{
    // The help file's language is Russian: pages that do not say their
    // charset are in Windows-1251.
    PipelineSearch russian(0x419,
                           {{"/utf8.htm", "<p>Un caf\xC3\xA9 noir</p>"},
                            {"/declared.htm", "<meta charset=windows-1252><p>CAF\xC9 cr\xE8me</p>"},
                            {"/russian.htm", "<title>\xCF\xF0\xE8\xE2\xE5\xF2</title><p>text</p>"},
                            {"/other.htm", "<p>cafeteria</p>"}});
    const std::vector<std::string> cafe = {"/declared.htm", "/utf8.htm"};
    EXPECT_EQ(russian.Found("caf\xC3\xA9"), cafe);
    EXPECT_EQ(russian.Found("CAF\xC3\x89"), cafe);
    EXPECT_EQ(russian.Found("cr\xC3\xA8me caf\xC3\xA9"),
              std::vector<std::string> {"/declared.htm"});
    EXPECT_EQ(russian.Found("\xD0\xBF\xD0\xA0\xD0\x98", true),  // a prefix of the Russian title
              std::vector<std::string> {"/russian.htm"});
    EXPECT_EQ(russian.Found("caf", true),
              (std::vector<std::string> {"/declared.htm", "/other.htm", "/utf8.htm"}));
    // A Chinese help file's pages in GBK: a word of two characters from the
    // middle of a sentence.
    PipelineSearch chinese(0x804,
                           {{"/a.htm",
                             "<p>\xCE\xD2\xC3\xC7\xCA\xB9\xD3\xC3\xD6\xD0"
                             "\xCE\xC4\xCB\xB5\xC3\xF7</p>"},
                            {"/b.htm", "<p>\xD6\xD0\xB9\xFA</p>"}});
    EXPECT_EQ(chinese.Found("\xE4\xB8\xAD\xE6\x96\x87"), std::vector<std::string> {"/a.htm"});
}
#endif

// The one escaper of text as markup, for the server's pages and the
// exporter's XHTML: what XML cannot hold is left out, not passed through.
TEST(TextPipelineTest, TextIsEscapedAsMarkupInElementsAndAttributes)
{
    const struct {
        std::string utf8;
        const char* text;
        const char* attribute;
    } cases[] = {
        {"a<b>&c", "a&lt;b&gt;&amp;c", "a&lt;b&gt;&amp;c"},
        {"say \"it's\"\n\tok", "say \"it's\"\n\tok", "say &quot;it's&quot;&#10;&#9;ok"},
        // Carriage returns and other control characters go.
        {std::string("x\r\x01y\0z", 6), "xyz", "xyz"},
        // A byte that is not UTF-8 is U+FFFD; a noncharacter XML refuses goes.
        {"caf\xE9 \xEF\xBF\xBE\xF0\x9F\x98\x80", "caf\uFFFD \U0001F600", "caf\uFFFD \U0001F600"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(EscapeMarkup(c.utf8), c.text) << c.utf8;
        EXPECT_EQ(EscapeMarkup(c.utf8, true), c.attribute) << c.utf8;
    }
}

}  // namespace
