// velkory search, help --search and clean --cache as a user runs them
// (velkory hands them over to velkory-serve).
#include "host/host_runner.h"

#include "lookup/index_builder.h"
#include "lookup/system_builder.h"
#include "support/chm_writer.h"

// Built without the search (no Xapian), the suite holds no test.
#if defined(VELKORY_HAVE_SEARCH)

namespace {

class SearchCommandTest : public HostTest {
protected:
    void SetUp() override
    {
        HostTest::SetUp();
        if (IsSkipped())
            return;
        env_ = {{"XDG_CACHE_HOME", root_ + "/cache"}};
        std::vector<StoredFile> files =
            IndexFiles(BuildIndex({{"Event loop", "a.htm"}, {"Loops", "b.htm"}}));
        files.push_back({"/#SYSTEM", SystemFileBytes(0x409), 0});
        for (const auto& [name, title, body] : std::vector<std::array<std::string, 3>> {
                 {"/a.htm", "Event loop", "The event loop runs tasks."},
                 {"/b.htm", "Loops", "A loop of events: each event starts a loop."}}) {
            std::string html =
                "<html><head><title>" + title + "</title></head><body>" + body + "</body></html>";
            files.push_back({name, std::vector<uint8_t>(html.begin(), html.end()), 1});
        }
        fs::create_directories(root_ + "/shelf/sub");
        file_ = root_ + "/shelf/manual.chm";
        ASSERT_TRUE(WriteBytes(file_, MakeHelpFile(files)));
        ASSERT_TRUE(WriteBytes(root_ + "/shelf/sub/copy.chm", MakeHelpFile(files)));
    }
    RunResult Search(std::vector<std::string> args)
    {
        args.insert(args.begin(), "search");
        return Run(args, env_);
    }
    std::map<std::string, std::string> env_;
    std::string file_;
};

TEST_F(SearchCommandTest, HitsAreListedBestFirstAsTopicsListsThem)
{
    RunResult run = Search({file_, "event"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "Event loop\t/a.htm\nLoops\t/b.htm\n");
    EXPECT_EQ(run.err, "");

    run = Search({"--limit", "1", "--json", file_, "\"event loop\""});
    EXPECT_EQ(run.status, 0) << run.err;
    ASSERT_EQ(Lines(run.out).size(), 1u) << run.out;
    EXPECT_EQ(run.out.rfind("{\"file\":\"" + file_ +
                                "\",\"page\":\"/a.htm\",\"title\":\"Event loop\",\"score\":",
                            0),
              0u)
        << run.out;
    EXPECT_NE(run.out.find(",\"snippet\":\"The event loop runs tasks.\"}\n"), std::string::npos)
        << run.out;

    // A shelf: every help file below the directory, each hit naming its file.
    run = Search({"--limit", "2", root_ + "/shelf", "tasks"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(Lines(run.out).size(), 2u) << run.out;
    EXPECT_NE(run.out.find("Event loop\t" + file_ + "::/a.htm\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("Event loop\t" + root_ + "/shelf/sub/copy.chm::/a.htm\n"),
              std::string::npos)
        << run.out;
}

TEST_F(SearchCommandTest, NothingFoundAndUsageErrors)
{
    RunResult run = Search({file_, "walrus"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "velkory: no page of " + file_ + " matches 'walrus'\n");

    run = Search({root_ + "/registry.reg", "event"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(Lines(run.err).size(), 1u) << run.err;

    for (const auto& args : std::vector<std::vector<std::string>> {{file_},
                                                                   {file_, " "},
                                                                   {"--limit", "0", file_, "event"},
                                                                   {"--json=1", file_, "event"},
                                                                   {"--pick", "1", file_, "event"}})
        EXPECT_USAGE_ERROR(Search(args));
}

TEST_F(SearchCommandTest, HelpSearchesTheTextWhenNothingElseAnswers)
{
    RunResult run = Run({"help", file_, "tasks"}, env_);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err,
              "velkory: no topic title, index entry or word in the pages of " + file_ +
                  " begins with 'tasks'\n");
    run = Run({"help", "--search", file_, "tasks"}, env_);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "Event loop\t/a.htm\n");
}

TEST_F(SearchCommandTest, CleanCacheEmptiesTheCache)
{
    ASSERT_EQ(Search({file_, "event"}).status, 0);
    RunResult run = Run({"clean", "--cache"}, env_);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "1 search index removed from " + root_ + "/cache/velkory\n");
    EXPECT_TRUE(fs::is_empty(root_ + "/cache/velkory"));
}

}  // namespace

#endif
