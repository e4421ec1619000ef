// Where a page opens: the keyword's line and the anchor's element, found in
// the page's text and HTML directly, and pages built for it opened through
// the program.
#include "host_runner.h"

#include <string>

#include "host/page/page.h"
#include "lookup/keyword_builder.h"
#include "support/chm_writer.h"

namespace {

TEST(LandingTest, TheKeywordIsFoundWhateverItsLetterCase)
{
    const std::string text = "Contents\nthe SETTIMER call\nSetTimer again\n";
    const struct {
        const char* keyword;
        size_t line;
    } cases[] = {
        {"settimer", 2},       {"SetTimer", 2}, {"SETTIMER", 2},
        {"setTIMER again", 3}, {"kill", 0},     {"", 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FindKeywordLine(text, c.keyword), c.line) << c.keyword;
}

TEST(LandingTest, OnlyAnIdOrNameAttributeNamesTheAnchor)
{
    const struct {
        const char* html;
        size_t line;
    } cases[] = {
        {"<p>one</p>\n<p xid=\"k\">two</p>\n<p id=\"k\">three</p>", 3},
        {"<p>one</p>\n<a nickname=k>two</a>\n<a name=k>three</a>", 3},
        {"<p>one</p>\n<p xid=\"k\">two</p>", 0},
        {"<p>one</p>\n<p id=\"kk\">two</p>\n<p ID='k'>three</p>", 3},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FindAnchorLine(c.html, "k"), c.line) << c.html;
}

}  // namespace

// Pages built for landing: a table of variables whose rows are anchored, a
// heading just before an anchor, a Sphinx-like page whose navigation names
// the keyword before its main content does, and a title match whose page
// the keyword index also names with an anchor.
namespace {

const std::string VariablesPage =
    "<html><body>\n"
    "<h1>Built-in Variables</h1>\n"
    "<table>\n"
    "<tr><th>Variable</th><th>Description</th></tr>\n"
    "<tr id=\"AhkZero\"><td>A_Zero</td><td>Zero.</td></tr>\n"
    "<tr id=\"AhkPath\"><td>A_AhkPath</td><td>The path of the program that runs the script, a "
    "description long enough to wrap over several lines of a terminal eighty columns wide, so "
    "that its row is taller than one line and renderers centre the row's other cells.</td></tr>\n"
    "<tr id=\"AhkVersion\"><td>A_AhkVersion</td><td>The version.</td></tr>\n"
    "</table>\n"
    "<p>Values are assigned as follows.</p>\n"
    "<h2>Syntax</h2>\n"
    "<pre><a name=\"syntax\"></a>Var := Value</pre>\n"
    "</body></html>\n";

const std::string JsonPage =
    "<html><body>\n"
    "<div class=\"related\" role=\"navigation\"><a href=\"index.htm\">index</a> |\n"
    "<a href=\"json.htm\">json module</a></div>\n"
    "<div class=\"sphinxsidebar\" role=\"navigation\"><h3>Previous topic</h3>\n"
    "<p><a href=\"x.htm\">json tools</a></p></div>\n"
    "<div class=\"document\"><div class=\"bodywrapper\"><div class=\"body\" role=\"main\">\n"
    "<section id=\"module-json\"><h1>json - JSON encoder and decoder</h1>\n"
    "<p>Source code: Lib/json/__init__.py</p></section>\n"
    "</div></div></div>\n"
    "</body></html>\n";

const std::string FunctionsPage = "<html><body>\n"
                                  "<h1>Functions</h1>\n"
                                  "<p>Timers page: settimer starts one.</p>\n"
                                  "<p>More text.</p>\n"
                                  "<h2 id=\"settimer\">SetTimer</h2>\n"
                                  "<p>The call.</p>\n"
                                  "</body></html>\n";

class LandingHostTest : public HostTest {
protected:
    void SetUp() override
    {
        HostTest::SetUp();
        if (IsSkipped())
            return;
        std::vector<StoredFile> files = IndexFiles(BuildIndex({
            {"Variables", "vars.htm"},
            {"SetTimer", "funcs.htm"},
            {"Timer functions", "funcs.htm#settimer"},
            {"json - JSON encoder and decoder", "json.htm"},
            {"Path variable", "vars.htm#AhkPath"},
            {"Assignment syntax", "vars.htm#syntax"},
        }));
        files.push_back(
            {"/$WWKeywordLinks/BTree",
             BuildBTree({{u"a_ahkpath", {4}}, {u"settimer function", {2}}, {u"syntax", {5}}}), 1});
        files.push_back({"/vars.htm", Bytes(VariablesPage), 1});
        files.push_back({"/json.htm", Bytes(JsonPage), 1});
        files.push_back({"/funcs.htm", Bytes(FunctionsPage), 1});
        file_ = root_ + "/landing.chm";
        ASSERT_TRUE(WriteBytes(file_, MakeHelpFile(files)));
        log_ = root_ + "/log";
    }

    // The line (from 1) the program was asked to start at; 1 without one.
    size_t StartLine()
    {
        std::vector<std::string> args = Lines(ReadText(log_));
        return args.size() == 2 && args[0][0] == '+' ? std::stoul(args[0].substr(1)) : 1;
    }
    std::string file_, log_;
};

// Each request, and the texts of which the first line that holds one is
// where the page must open.
const struct {
    const char* keyword;
    std::vector<std::string> landing;
} LandingCases[] = {
    {"a_ahkpath", {"A_AhkPath", "The path of the program"}},  // the row's first line
    {"syntax", {"Syntax"}},                                   // the heading before the anchor
    {"json", {"encoder and decoder"}},                        // the main content's heading
    {"settimer", {"SetTimer"}},                               // the index entry's anchor
};

// Where the first line holding one of texts is, from 1; 0 for none.
size_t FirstLineWith(const std::vector<std::string>& lines, const std::vector<std::string>& texts)
{
    for (size_t i = 0; i < lines.size(); ++i)
        for (const std::string& text : texts)
            if (lines[i].find(text) != std::string::npos)
                return i + 1;
    return 0;
}

TEST_F(LandingHostTest, TheViewerOpensWhereTheTopicBegins)
{
    ASSERT_EQ(Run({"config", "--modality", "1", "--visuality", "1"}).status, 0);
    for (const char* renderer : {"plain", "w3m", "lynx"}) {
        // run-tests installs both renderers: a missing one fails here.
        if (std::string(renderer) != "plain") {
            ASSERT_EQ(system(("command -v " + std::string(renderer) + " >/dev/null").c_str()), 0)
                << renderer << " is not installed";
        }
        for (const auto& c : LandingCases) {
            SCOPED_TRACE(std::string(renderer) + ": " + c.keyword);
            RunResult r = Run({"help", file_, c.keyword},
                              {{"VELKORY_VIEWER", RecordingProgram("less", log_)},
                               {"VELKORY_RENDERER", renderer}});
            ASSERT_EQ(r.status, 0) << r.err;
            std::vector<std::string> shown = Lines(ReadText(log_ + ".shown"));
            size_t want = FirstLineWith(shown, c.landing);
            ASSERT_NE(want, 0u) << ReadText(log_ + ".shown");
            EXPECT_EQ(StartLine(), want) << ReadText(log_ + ".shown");
            EXPECT_EQ(ReadText(log_ + ".shown").find("Velkory"), std::string::npos);
        }
    }
}

TEST_F(LandingHostTest, TheEditorOpensWhereTheTopicBegins)
{
    for (const auto& c : LandingCases) {
        SCOPED_TRACE(c.keyword);
        RunResult r =
            Run({"help", file_, c.keyword}, {{"VELKORY_EDITOR", RecordingProgram("vi", log_)}});
        ASSERT_EQ(r.status, 0) << r.err;
        std::vector<std::string> page = Lines(ReadText(log_ + ".shown"));
        size_t want = FirstLineWith(page, c.landing);
        ASSERT_NE(want, 0u);
        EXPECT_EQ(StartLine(), want) << ReadText(log_ + ".shown");
    }
}

}  // namespace
