// Opening pages: the commands from the environment, split without a shell;
// modal and non-modal opens (a tmux window).
#include "host_runner.h"

#include <set>

#include "lookup/index_builder.h"
#include "support/chm_writer.h"

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
