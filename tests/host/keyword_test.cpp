// The keyword and full-text indexes through the program: the topics, index
// and fulltext listings, and pages that open at the anchor's element or the
// keyword's line.
#include "host_runner.h"

#include "lookup/fulltext_builder.h"
#include "lookup/keyword_builder.h"
#include "support/chm_writer.h"

namespace {

const std::string FunctionsPage = "<html><body>\n"
                                  "<h1>Functions</h1>\n"
                                  "<p>Timers page: SetTimer starts one.</p>\n"
                                  "<p>More text.</p>\n"
                                  "<h2 id=\"settimer\">SetTimer</h2>\n"
                                  "<p>The call.</p>\n"
                                  "</body></html>\n";

class KeywordHostTest : public HostTest {
protected:
    void SetUp() override
    {
        HostTest::SetUp();
        if (IsSkipped())
            return;
        std::vector<StoredFile> files = IndexFiles(BuildIndex({{"Intro", "intro.htm"},
                                                               {"Functions", "funcs.htm#settimer"},
                                                               {"Other", "funcs.htm#missing"}}));
        files.push_back(
            {"/$WWKeywordLinks/BTree", BuildBTree({{u"settimer", {1}}, {u"timers page", {2}}}), 1});
        files.push_back({"/intro.htm", Bytes("<p>intro</p>"), 1});
        files.push_back({"/funcs.htm", Bytes(FunctionsPage), 1});
        file_ = root_ + "/manual.chm";
        ASSERT_TRUE(WriteBytes(file_, MakeHelpFile(files)));
        log_ = root_ + "/log";
    }

    std::string Program(const std::string& name)
    {
        return RecordingProgram(name, log_);
    }
    std::string file_, log_;
};

}  // namespace

TEST_F(KeywordHostTest, TopicsAndIndexListEntriesWithTheirPages)
{
    struct Case {
        std::vector<std::string> args;
        std::string out;
    };
    const Case cases[] = {
        {{"topics", file_}, "Intro\t/intro.htm\nFunctions\t/funcs.htm\nOther\t/funcs.htm\n"},
        {{"topics", file_, "F"}, "Functions\t/funcs.htm\n"},
        {{"index", file_}, "settimer\t/funcs.htm#settimer\ntimers page\t/funcs.htm#missing\n"},
        {{"index", file_, "TIMERS"}, "timers page\t/funcs.htm#missing\n"},
        {{"index", file_, "zebra"}, ""},
    };
    for (const Case& c : cases) {
        RunResult r = Run(c.args);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, c.out) << c.args[0];
    }
    RunResult missing = Run({"index", root_ + "/none.chm"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(Lines(missing.err).size(), 1u) << missing.err;
    EXPECT_USAGE_ERROR(Run({"topics"}));
    EXPECT_USAGE_ERROR(Run({"index", file_, "a", "b"}));
}

TEST_F(KeywordHostTest, PagesOpenAtTheAnchorElseAtTheKeyword)
{
    // The editor gets the page itself: line 5 holds the anchor's element,
    // line 3 the keyword; a program not known to take a line gets none.
    struct Case {
        const char* program;
        const char* keyword;
        std::vector<std::string> before;  // the arguments before the page
    };
    const Case cases[] = {
        {"vi", "settimer", {"+5"}},
        {"nano", "timers", {"+3"}},
        {"recorder", "settimer", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.program);
        RunResult r = Run({"help", file_, c.keyword}, {{"VELKORY_EDITOR", Program(c.program)}});
        ASSERT_EQ(r.status, 0) << r.err;
        std::vector<std::string> args = Lines(ReadText(log_));
        ASSERT_FALSE(args.empty());
        args.pop_back();
        EXPECT_EQ(args, c.before);
        EXPECT_EQ(ReadText(log_ + ".shown"), FunctionsPage);
    }

    // The viewer gets the rendered page, opened at the anchor's heading; no
    // trace of how it was found is left in the text.
    ASSERT_EQ(Run({"config", "--modality", "1", "--visuality", "1"}).status, 0);
    RunResult r = Run({"help", file_, "settimer"},
                      {{"VELKORY_VIEWER", Program("less")}, {"VELKORY_RENDERER", "builtin"}});
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<std::string> args = Lines(ReadText(log_));
    ASSERT_EQ(args.size(), 2u) << ReadText(log_);
    std::vector<std::string> shown = Lines(ReadText(log_ + ".shown"));
    size_t line = std::stoul(args[0].substr(1));
    ASSERT_GE(line, 1u);
    ASSERT_LE(line, shown.size());
    EXPECT_NE(shown[line - 1].find("SetTimer"), std::string::npos) << shown[line - 1];
    EXPECT_EQ(ReadText(log_ + ".shown").find("Velkory"), std::string::npos);
}

TEST_F(KeywordHostTest, PagesWhoseTextHoldsTheWordAreListedAndOpenAtIt)
{
    std::vector<StoredFile> files = IndexFiles(
        BuildIndex({{"Intro", "intro.htm"}, {"Functions", "funcs.htm"}, {"", "intro.htm"}}));
    files.push_back({"/intro.htm", Bytes("<p>intro</p>"), 1});
    files.push_back({"/funcs.htm", Bytes(FunctionsPage), 1});
    std::vector<uint8_t> index = BuildFullText({{"call", {{1}}}, {"starts", {{1}, {2}}}}).bytes;
    std::string indexed = root_ + "/indexed.chm";
    ASSERT_TRUE(WriteBytes(indexed, MakeHelpFile(files)));
    files.push_back({"/$FIftiMain", index, 1});
    std::string plain = indexed;
    indexed = root_ + "/fulltext.chm";
    ASSERT_TRUE(WriteBytes(indexed, MakeHelpFile(files)));
    files.back().data.resize(0x500);
    std::string damaged = root_ + "/damaged.chm";
    ASSERT_TRUE(WriteBytes(damaged, MakeHelpFile(files)));

    // In the index's order, each page once, by its topic's title.
    RunResult listed = Run({"fulltext", indexed, "START"});
    EXPECT_EQ(listed.status, 0) << listed.err;
    EXPECT_EQ(listed.out, "Functions\t/funcs.htm\nintro.htm\t/intro.htm\n");
    RunResult none = Run({"fulltext", indexed, "zebra"});
    EXPECT_EQ(none.status, 0) << none.err;
    EXPECT_EQ(none.out, "");
    for (const std::string& file : {plain, damaged, root_ + "/none.chm"}) {
        RunResult r = Run({"fulltext", file, "call"});
        EXPECT_EQ(r.status, 1) << file;
        EXPECT_EQ(Lines(r.err).size(), 1u) << r.err;
    }
    EXPECT_USAGE_ERROR(Run({"fulltext", indexed}));

    // help finds the page by its text and opens it at the word's line; not
    // without the index.
    RunResult r = Run({"help", indexed, "call"}, {{"VELKORY_EDITOR", Program("vi")}});
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<std::string> args = Lines(ReadText(log_));
    ASSERT_EQ(args.size(), 2u);
    EXPECT_EQ(args[0], "+6");
    EXPECT_EQ(ReadText(log_ + ".shown"), FunctionsPage);
    EXPECT_EQ(Run({"help", damaged, "call"}).status, 1);
}
