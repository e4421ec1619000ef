// Opening pages: the commands from the environment, split without a shell;
// modal and non-modal opens (a tmux window); velkory open.
#include "host_runner.h"

#include <set>

#include "host/commands/commands.h"
#include "lookup/index_builder.h"
#include "support/chm_writer.h"
#include "support/corpus.h"

namespace {

class OpenTest : public HostTest {
protected:
    void SetUp() override
    {
        HostTest::SetUp();
        if (IsSkipped())
            return;
        file_ = root_ + "/one.chm";
        ASSERT_TRUE(WriteBytes(file_,
                               HelpFileWith(BuildIndex({{"Topic", "topic.htm"}}),
                                            {{"/topic.htm", Bytes("<p>the page</p>"), 1}})));
        log_ = root_ + "/log";
        // Records each argument on a line of its own.
        recorder_ = Script("recorder", "for a; do printf '%s\\n' \"$a\"; done >> '" + log_ + "'\n");
    }
    std::string file_, log_, recorder_;
};

TEST_F(OpenTest, CommandsAreSplitLikeShellWordsWithThePathLast)
{
    std::string command = "'" + recorder_ + "' 'two words' \"say \\\"hi\\\"\" back\\ slash $HOME";
    RunResult r = Run({"help", file_, "topic"}, {{"VELKORY_EDITOR", command}});
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<std::string> args = Lines(ReadText(log_));
    ASSERT_EQ(args.size(), 5u) << ReadText(log_);
    EXPECT_EQ(args[0], "two words");
    EXPECT_EQ(args[1], "say \"hi\"");
    EXPECT_EQ(args[2], "back slash");
    EXPECT_EQ(args[3], "$HOME") << "no shell expands anything";
    EXPECT_EQ(args[4].rfind(tmp_ + "/VLKT-", 0), 0u);
    EXPECT_EQ(ReadText(args[4]), "<p>the page</p>");
}

TEST_F(OpenTest, NonModalOpensGoToATmuxWindowModalOnesWait)
{
    // A stand-in tmux on the PATH records how it was asked.
    std::string bin = root_ + "/bin";
    fs::create_directories(bin);
    std::string tmuxLog = root_ + "/tmux-log";
    WriteText(bin + "/tmux",
              "#!/bin/sh\nfor a; do printf '%s\\n' \"$a\"; done > '" + tmuxLog + "'\n");
    chmod((bin + "/tmux").c_str(), 0755);
    std::string path = bin + ":" + getenv("PATH");
    std::map<std::string, std::string> env = {{"PATH", path},
                                              {"TMUX", "/tmp/tmux-test,1,0"},
                                              {"TMUX_PANE", "%1"},
                                              {"VELKORY_EDITOR", recorder_},
                                              {"LESS", "-R;"}};

    // Modality 0 and one main window: the open is non-modal. The window
    // gets this environment (not the tmux server's), each value literally.
    RunResult r = Run({"help", file_, "topic"}, env);
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<std::string> args = Lines(ReadText(tmuxLog));
    ASSERT_GE(args.size(), 9u) << ReadText(tmuxLog);
    EXPECT_EQ(args[0], "new-window");
    EXPECT_EQ(args[1], "-n");
    EXPECT_EQ(args[2], "topic");
    // It prints the window's process number, which the page directory records.
    EXPECT_EQ(std::vector<std::string>(args.begin() + 3, args.begin() + 6),
              (std::vector<std::string> {"-P", "-F", "#{pane_pid}"}));
    std::set<std::string> given;
    size_t i = 6;
    for (; i + 1 < args.size() && args[i] == "-e"; i += 2)
        given.insert(args[i + 1]);
    EXPECT_TRUE(given.count("LESS=-R\\;")) << ReadText(tmuxLog);
    EXPECT_TRUE(given.count("VELKORY_EDITOR=" + recorder_));
    EXPECT_FALSE(given.count("TMUX_PANE=%1")) << "the window has a pane of its own";
    ASSERT_EQ(args.size(), i + 3) << ReadText(tmuxLog);
    EXPECT_EQ(args[i], "--");
    EXPECT_EQ(args[i + 1], recorder_);
    EXPECT_EQ(args[i + 2].substr(args[i + 2].size() - 12), "/velkory.txt");
    EXPECT_FALSE(fs::exists(log_)) << "the editor runs in the tmux window, not here";

    // A title with tmux's format and separator characters names the window
    // as it is written.
    std::string sharp = root_ + "/sharp.chm";
    ASSERT_TRUE(WriteBytes(
        sharp, HelpFileWith(BuildIndex({{"C#{x};", "c.htm"}}), {{"/c.htm", Bytes("c"), 1}})));
    ASSERT_EQ(Run({"help", sharp, "C#{x};"}, env).status, 0);
    EXPECT_EQ(Lines(ReadText(tmuxLog))[2], "C##{x}\\;");

    // A program that is not there cannot open a window.
    env["VELKORY_EDITOR"] = root_ + "/no-such-editor";
    RunResult missing = Run({"help", file_, "topic"}, env);
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("cannot run"), std::string::npos) << missing.err;
    env["VELKORY_EDITOR"] = recorder_;

    // Without tmux the same open waits for the editor.
    env["TMUX"] = "";
    ASSERT_EQ(Run({"help", file_, "topic"}, env).status, 0);
    EXPECT_EQ(Lines(ReadText(log_)).size(), 1u);

    // Modality 1: modal even inside tmux.
    fs::remove(tmuxLog);
    fs::remove(log_);
    ASSERT_EQ(Run({"config", "--modality", "1", "--visuality", "0"}).status, 0);
    env["TMUX"] = "/tmp/tmux-test,1,0";
    ASSERT_EQ(Run({"help", file_, "topic"}, env).status, 0);
    EXPECT_FALSE(fs::exists(tmuxLog));
    EXPECT_EQ(Lines(ReadText(log_)).size(), 1u);
}

TEST_F(OpenTest, AFailingCommandFailsTheRequest)
{
    RunResult failing = Run({"help", file_, "topic"}, {{"VELKORY_EDITOR", "false"}});
    EXPECT_EQ(failing.status, 1) << "the editor failed";
    EXPECT_NE(failing.err.find("'false "), std::string::npos) << failing.err;

    RunResult missing =
        Run({"help", file_, "topic"}, {{"VELKORY_EDITOR", root_ + "/no-such-editor"}});
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("cannot run"), std::string::npos) << missing.err;
}

}  // namespace

// velkory open: the page a program names, in the Windows help viewer's forms.
namespace {

TEST(OpenTargetTest, TheWindowsHelpViewersFormsNameAFileAndAPage)
{
    const struct {
        const char* target;
        const char* file;
        const char* page;  // null: a usage error
        const char* anchor;
    } cases[] = {
        {"a.chm::/dir/p.htm#x", "a.chm", "/dir/p.htm", "x"},
        {"a.chm::dir\\p.htm", "a.chm", "/dir/p.htm", ""},
        {"ms-its:C:\\help\\a.chm::/p.htm", "C:\\help\\a.chm", "/p.htm", ""},
        {"MS-ITS:a.chm::/p.htm", "a.chm", "/p.htm", ""},
        {"mk:@MSITStore:a.chm::/p.htm#y", "a.chm", "/p.htm", "y"},
        {"its:a.chm::/p.htm", "a.chm", "/p.htm", ""},
        {"a.chm::/p.htm>main", "a.chm", "/p.htm", ""},  // the window is not ours
        {"a.chm", "a.chm", "", ""},                     // the default topic
        {"::/p.htm", nullptr, nullptr, nullptr},
        {"ms-its:", nullptr, nullptr, nullptr},
        {"a.chm::", nullptr, nullptr, nullptr},
        {"a.chm::/#x", nullptr, nullptr, nullptr},
    };
    for (const auto& c : cases) {
        OpenTarget target;
        std::string error;
        bool parsed = ParseOpenTarget(c.target, target, error);
        ASSERT_EQ(parsed, c.page != nullptr) << c.target << ": " << error;
        if (!parsed) {
            EXPECT_NE(error.find(c.target), std::string::npos) << error;
            continue;
        }
        EXPECT_EQ(target.file, c.file) << c.target;
        EXPECT_EQ(target.page, c.page) << c.target;
        EXPECT_EQ(target.anchor, c.anchor) << c.target;
    }
}

TEST_F(OpenTest, OpenShowsTheNamedPageAsHelpDoes)
{
    std::string file = root_ + "/pages.chm";
    ASSERT_TRUE(WriteBytes(
        file,
        HelpFileWith(BuildIndex({{"Topic", "topic.htm"}}),
                     {{"/topic.htm", Bytes("<p>the page</p>"), 1},
                      {"/dir/Two Words.htm",
                       Bytes("<p>one</p>\n<p>two</p>\n<h2 id=\"there\">There</h2>\n"), 1}})));
    std::string editor = RecordingProgram("vi", log_);
    struct Case {
        std::string target;
        std::vector<std::string> args;  // before the page
    } cases[] = {
        {file + "::/dir/Two Words.htm#there", {"+3"}},
        {"ms-its:" + file + "::dir/two%20words.htm", {}},
        {"mk:@MSITStore:" + file + "::/DIR/TWO WORDS.HTM#there", {"+3"}},
    };
    for (const Case& c : cases) {
        RunResult r = Run({"open", c.target}, {{"VELKORY_EDITOR", editor}});
        ASSERT_EQ(r.status, 0) << c.target << ": " << r.err;
        std::vector<std::string> args = Lines(ReadText(log_));
        ASSERT_FALSE(args.empty());
        EXPECT_EQ(std::vector<std::string>(args.begin(), args.end() - 1), c.args) << c.target;
        EXPECT_EQ(ReadText(log_ + ".shown"),
                  "<p>one</p>\n<p>two</p>\n<h2 id=\"there\">There</h2>\n")
            << c.target;
    }
    // What cannot be opened: one line, and the status.
    const struct {
        std::string target;
        int status;
        std::string said;
    } failures[] = {
        {file + "::/missing.htm", 1, file + ": no page /missing.htm is stored"},
        {root_ + "/none.chm::/topic.htm", 1, root_ + "/none.chm: No such file or directory"},
        {file + "::", 2, "names no page"},
    };
    for (const auto& f : failures) {
        RunResult r = Run({"open", f.target}, {{"VELKORY_EDITOR", editor}});
        EXPECT_EQ(r.status, f.status) << f.target;
        EXPECT_EQ(Lines(r.err).size(), 1u) << r.err;
        EXPECT_NE(r.err.find(f.said), std::string::npos) << r.err;
    }
}

TEST_F(HostTest, OpenShowsEveryFormOnTheCorpus)
{
    std::vector<std::string> files = CorpusHelpFiles();
    if (files.empty())
        GTEST_SKIP() << "no shared corpus (../shared/corpus/chm)";
    std::string log = root_ + "/log";
    std::string editor = RecordingProgram("editor", log);
    for (const std::string& file : files) {
        // The first page the file stores.
        std::string page;
        for (const std::string& row : Lines(Run({"list", file}).out)) {
            std::string name = row.substr(row.rfind('\t') + 1);
            if (name.size() > 5 && name.find(".htm", name.size() - 5) != std::string::npos) {
                page = name;
                break;
            }
        }
        ASSERT_FALSE(page.empty()) << file;
        RunResult stored = Run({"cat", file, page});
        ASSERT_EQ(stored.status, 0) << stored.err;
        for (std::string form : {"", "ms-its:", "mk:@MSITStore:"}) {
            RunResult r = Run({"open", form + file + "::" + page}, {{"VELKORY_EDITOR", editor}});
            EXPECT_EQ(r.status, 0) << form << file << ": " << r.err;
            EXPECT_EQ(ReadText(log + ".shown"), stored.out) << form << file << "::" << page;
        }
    }
}

}  // namespace
