// velkory search, help --search and clean --cache as a user runs them
// (velkory hands them over to velkory-serve).
#include "host/host_runner.h"

#include "lookup/index_builder.h"
#include "lookup/system_builder.h"
#include "support/chm_writer.h"

#include <poll.h>
#include <pty.h>
#include <signal.h>

#include <chrono>

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

// Runs velkory on a pseudo-terminal of its own, input typed there at once:
// what it wrote there and its exit status (-1 when it did not end within a
// generous grace period).
RunResult RunOnTerminal(const std::string& program, const std::vector<std::string>& args,
                        const std::map<std::string, std::string>& env,
                        const std::string& input = "")
{
    RunResult result;
    result.status = -1;
    int fd = -1;
    struct winsize size = {30, 100, 0, 0};
    pid_t pid = forkpty(&fd, nullptr, nullptr, &size);
    if (pid == 0) {
        for (const char* name : {"VELKORY_VIEWER", "VELKORY_EDITOR", "PAGER", "VISUAL", "EDITOR",
                                 "TMUX", "COLUMNS", "LINES"})
            unsetenv(name);
        setenv("TERM", "xterm", 1);
        for (const auto& [name, value] : env)
            setenv(name.c_str(), value.c_str(), 1);
        std::vector<char*> argv {const_cast<char*>(program.c_str())};
        for (const std::string& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    if (pid < 0)
        return result;
    if (!input.empty() && write(fd, input.data(), input.size()) != (ssize_t)input.size())
        ADD_FAILURE() << "cannot type on the terminal";
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    int status = 0;
    bool ended = false;
    while (std::chrono::steady_clock::now() < deadline) {
        struct pollfd poller = {fd, POLLIN, 0};
        char buffer[4096];
        ssize_t got = 0;
        if (poll(&poller, 1, 50) > 0 && (got = read(fd, buffer, sizeof buffer)) > 0)
            result.out.append(buffer, got);
        if (!ended && waitpid(pid, &status, WNOHANG) == pid)
            ended = true;
        if (ended && got <= 0)
            break;
    }
    if (!ended) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    } else if (WIFEXITED(status)) {
        result.status = WEXITSTATUS(status);
    }
    close(fd);
    return result;
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

    // On a terminal it offers to: Enter searches (and opens the only hit),
    // 'n' does not.
    std::map<std::string, std::string> env = env_;
    env["VELKORY_REGISTRY"] = registry_;
    env["VELKORY_VIEWER"] = env["VELKORY_EDITOR"] = "/bin/true";
    const std::string offer = "search the text of its pages for 'tasks'? [Y/n] ";
    for (const char* answer : {"\r", "n\r"}) {
        run = RunOnTerminal(program_, {"help", file_, "tasks"}, env, answer);
        EXPECT_NE(run.out.find(offer), std::string::npos) << run.out;
        bool searched = answer[0] == '\r';
        EXPECT_EQ(run.status, searched ? 0 : 1) << run.out;
        EXPECT_EQ(run.out.find("Event loop\t/a.htm\r\n") != std::string::npos, searched) << run.out;
    }
}

// On a terminal: the snippet in bold under the hit, and the only hit's page
// opened in the viewer at the match.
TEST_F(SearchCommandTest, OnATerminalTheHitOpensAtItsMatch)
{
    // A viewer called less (so that it is given +LINE) that keeps its
    // arguments and the page it was given.
    fs::create_directories(root_ + "/viewer");
    Script("viewer/less", "printf '%s\\n' \"$@\" >\"$0.args\"; cat \"$2\" >\"$0.page\"\n");
    std::string html = "<html><head><title>Long</title></head><body>";
    for (int i = 0; i < 30; ++i)
        html +=
            "<p>Paragraph " + std::to_string(i) + (i == 20 ? " with a walrus in it" : "") + ".</p>";
    html += "</body></html>";
    std::string file = root_ + "/long.chm";
    ASSERT_TRUE(WriteBytes(
        file,
        MakeHelpFile({{"/#SYSTEM", SystemFileBytes(0x409), 0},
                      {"/long.htm", std::vector<uint8_t>(html.begin(), html.end()), 1}})));
    std::map<std::string, std::string> env = env_;
    env["VELKORY_VIEWER"] = root_ + "/viewer/less";
    env["VELKORY_RENDERER"] = "builtin";
    ASSERT_EQ(Run({"config", "--modality", "1", "--visuality", "1"}).status, 0);
    RunResult run = Run({"search", file, "WALRUS"}, env);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "Long\t/long.htm\n");  // without a terminal: listed only
    EXPECT_FALSE(fs::exists(root_ + "/viewer/less.args"));

    env["VELKORY_REGISTRY"] = registry_;
    env["TMPDIR"] = tmp_;
    env["LC_ALL"] = "C";
    run = RunOnTerminal(program_, {"search", file, "WALRUS"}, env);
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_NE(run.out.find("Long\t/long.htm\r\n    "), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("with a \x1b[1mwalrus\x1b[22m in it"), std::string::npos) << run.out;
    std::vector<std::string> args = Lines(ReadText(root_ + "/viewer/less.args"));
    ASSERT_EQ(args.size(), 2u);
    ASSERT_EQ(args[0][0], '+');
    std::vector<std::string> page = Lines(ReadText(root_ + "/viewer/less.page"));
    size_t line = std::stoul(args[0].substr(1));
    ASSERT_LE(line, page.size());
    EXPECT_NE(page[line - 1].find("walrus"), std::string::npos) << page[line - 1];
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
