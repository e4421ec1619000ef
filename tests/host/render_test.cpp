// The host's own renderer: HTML to wrapped plain text, the shape of the page
// kept, markup that never ends survived, and text measured in columns.
#include "host_runner.h"

#include "host/page/page.h"
#include "host/terminal/terminal.h"

namespace {

TEST(RendererTest, KeepsThePageReadable)
{
    std::string page = "<html><head><title>Not shown</title><style>p { color: red }</style>"
                       "<script>alert('no');</script></head><body>\n"
                       "<h1>Fish &amp; Chips</h1>\n"
                       "<p>Caf\xe9 &copy; 2024 &ndash; &#8220;quoted&#x201D; &euro;&nbsp;5 &#150; "
                       "&bogus; &lt;tag&gt;</p>\n"
                       "<!-- a comment <p>hidden</p> -->\n"
                       "<ul><li>first</li><li>second<ol><li>one</li><li>two</li></ol></li></ul>\n"
                       "<p>line one<br>line two</p>\n"
                       "<pre>\n  keep   this\n    spacing &amp; that</pre>\n"
                       "<p>" +
        std::string(40, 'w') + " " + std::string(40, 'x') +
        " end</p>"
        "<table><tr><td>cell a</td><td>cell b</td></tr><tr><td>cell c</td></tr></table>"
        "<img src=\"x.png\" alt=\"a picture\"></body></html>";
    std::string out = RenderHtmlToText(page, 78);
    const std::string expected =
        "Fish & Chips\n"
        "============\n"
        "\n"
        "Caf\xc3\xa9 \xc2\xa9 2024 \xe2\x80\x93 \xe2\x80\x9cquoted\xe2\x80\x9d \xe2\x82\xac 5 "
        "\xe2\x80\x93 &bogus; <tag>\n"
        "\n"
        " * first\n"
        " * second\n"
        "   1. one\n"
        "   2. two\n"
        "\n"
        "line one\n"
        "line two\n"
        "\n"
        "  keep   this\n"
        "    spacing & that\n"
        "\n" +
        std::string(40, 'w') + "\n" + std::string(40, 'x') +
        " end\n"
        "\n"
        "cell a  cell b\n"
        "cell c\n"
        "\n"
        "[a picture]\n";
    EXPECT_EQ(out, expected);

    // A page that says it is UTF-8 keeps its bytes.
    EXPECT_EQ(RenderHtmlToText("<meta charset=\"utf-8\"><p>Gr\xc3\xbc\xc3\x9f"
                               "e</p>",
                               78),
              "Gr\xc3\xbc\xc3\x9f"
              "e\n");
}

TEST(RendererTest, SurvivesAwkwardMarkup)
{
    auto render = [](const std::string& html) { return RenderHtmlToText(html, 78); };
    // References that are not characters, or not references.
    EXPECT_EQ(render("a&#0;b&#xD800;c&#x110000;d&#99999999999;e &amp f &ampx &; & g"),
              "a\xEF\xBF\xBD"
              "b\xEF\xBF\xBD"
              "c\xEF\xBF\xBD"
              "d\xEF\xBF\xBD"
              "e & f &ampx &; & g\n");
    // Markup that never ends.
    EXPECT_EQ(render("before<!-- never closed"), "before\n");
    EXPECT_EQ(render("before<script>never closed"), "before\n");
    EXPECT_EQ(render("<script src=\"x.js\" /><p>kept</p>"), "kept\n");
    EXPECT_EQ(render("before<p class=\"x>y\">after"), "before\n\nafter\n");
    EXPECT_EQ(render("1 < 2 and 3 <= 4 <"), "1 < 2 and 3 <= 4 <\n");
    EXPECT_EQ(render("<a href='x'"), "");
    // Tags inside preformatted text leave only their text; closing tags in
    // other case still end scripts.
    EXPECT_EQ(render("<pre><b>bold</b>  <i>x</i></pre><SCRIPT>x()</Script>done"),
              "bold  x\n\ndone\n");
    // Definition lists and quotations are indented.
    EXPECT_EQ(render("<dl><dt>term</dt><dd>meaning</dd></dl><blockquote>quoted</blockquote>"),
              "term\n    meaning\n\n    quoted\n");
    // Long paragraphs wrap at 78 columns, counting characters, not bytes.
    std::string word =
        "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9";  // 9 columns
    std::string text;
    for (int i = 0; i < 20; ++i)
        text += word + " ";
    std::string out = render("<meta charset=utf-8><p>" + text + "</p>");
    std::vector<std::string> lines = Lines(out);
    ASSERT_EQ(lines.size(), 3u) << out;
    for (size_t i = 0; i < lines.size(); ++i) {
        size_t columns = 0;
        for (unsigned char c : lines[i])
            columns += (c & 0xC0) != 0x80;
        EXPECT_EQ(columns, i < 2 ? 69u : 59u) << lines[i];  // 7, 7 and 6 words
    }
}

TEST(RendererTest, WideCharactersTakeTwoColumns)
{
    const std::string chinese = "\xE4\xB8\xAD\xE6\x96\x87";  // two ideographs
    EXPECT_EQ(TerminalTextWidth(chinese + "ab"), 6u);
    EXPECT_EQ(FitToWidth(chinese + "ab", 5), chinese + "a");
    EXPECT_EQ(FitToWidth(chinese, 3), "\xE4\xB8\xAD ")
        << "a character that does not fit is left out";
    // A heading is underlined to its width in columns.
    EXPECT_EQ(RenderHtmlToText("<meta charset=utf-8><h1>" + chinese + "</h1>", 78),
              chinese + "\n====\n");
}

TEST(RendererTest, PagesRenderInTheirOwnCharset)
{
    const struct {
        std::string page;
        unsigned fallback;  // the help file's language
        const char* text;
    } cases[] = {
        {"<meta charset=gb2312><p>\xD6\xD0\xCE\xC4</p>", 0, "\u4E2D\u6587"},
        {"<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=Shift_JIS\">"
         "<p>\x93\xFA\x96\x7B</p>",
         1252, "\u65E5\u672C"},
        {"<meta charset='big5'><p>\xA4\xA4</p>", 0, "\u4E2D"},
        {"<p>\xE4\xB8\xAD\xE6\x96\x87</p>", 932, "\u4E2D\u6587"},  // UTF-8 by its bytes
        {"<p>\xCF\xF0\xE8</p>", 1251, "\u041F\u0440\u0438"},       // the language's
        {"<p>\xC7\xD1</p>", 949, "\uD55C"},
        {"<p>Caf\xE9</p>", 0, "Caf\u00E9"},  // the module's ANSI code page
        {"<meta charset=x-unknown><p>Caf\xE9</p>", 0, "Caf\u00E9"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(RenderHtmlToText(c.page, 78, c.fallback), std::string(c.text) + "\n") << c.page;
}

}  // namespace
