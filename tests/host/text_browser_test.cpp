// A text-mode web browser as the viewer, in a real terminal: w3m in tmux
// gets the page on a velkory-serve of its own, follows the page's links to
// another topic and back through an ms-its: link, and the server is gone
// when w3m has quit.
#include "host_runner.h"

#include <signal.h>

#include <chrono>
#include <functional>
#include <thread>

#include "lookup/index_builder.h"
#include "support/chm_writer.h"

namespace {

const char StartPage[] = "<html><body><h1>Start page</h1>\n"
                         "<p>See the <a href=\"html/other.htm\">other topic</a>.</p>\n"
                         "</body></html>\n";
const char OtherPage[] = "<html><body><h1>Other topic</h1>\n"
                         "<p>You followed the link.</p>\n"
                         "<p><a href=\"ms-its:guide.chm::/start.htm\">Back</a></p>\n"
                         "</body></html>\n";

class TextBrowserTest : public HostTest {
protected:
    void SetUp() override
    {
        HostTest::SetUp();
        if (IsSkipped())
            return;
        // run-tests installs both: a missing one fails here.
        for (const char* program : {"tmux", "w3m"})
            ASSERT_EQ(system(("command -v " + std::string(program) + " >/dev/null").c_str()), 0)
                << program << " is not installed";
        file_ = root_ + "/guide.chm";
        ASSERT_TRUE(WriteBytes(
            file_,
            HelpFileWith(
                BuildIndex({{"Start page", "start.htm"}, {"Other topic", "html/other.htm"}}),
                {{"/start.htm", Bytes(StartPage), 1}, {"/html/other.htm", Bytes(OtherPage), 1}})));
        socket_ = root_ + "/tmux.sock";
        env_ = {{"HOME", root_}, {"VELKORY_VIEWER", "w3m"}, {"TMUX", ""}, {"TERM", "xterm"}};
    }
    void TearDown() override
    {
        if (!socket_.empty())
            Tmux({"kill-server"});
        // A failure leaves no server of this test's running.
        if (!file_.empty())
            for (pid_t server : Servers())
                kill(server, SIGTERM);
        HostTest::TearDown();
    }

    RunResult Tmux(std::vector<std::string> args)
    {
        args.insert(args.begin(), {"-S", socket_, "-f", "/dev/null"});
        return RunCommand("tmux", args, env_);
    }

    // Whether happened() comes true within ten seconds.
    static bool Eventually(const std::function<bool()>& happened)
    {
        for (int i = 0; i < 200; ++i) {
            if (happened())
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }

    // Waits until the window shows text.
    bool Shows(const std::string& text)
    {
        return Eventually([&] {
            return Tmux({"capture-pane", "-p", "-t", "velkory"}).out.find(text) !=
                std::string::npos;
        });
    }

    // The velkory-serve processes that serve this test's help file.
    std::vector<pid_t> Servers()
    {
        std::vector<pid_t> found;
        for (const auto& entry : fs::directory_iterator("/proc")) {
            std::string name = entry.path().filename().string();
            if (name.find_first_not_of("0123456789") != std::string::npos)
                continue;
            std::string command = ReadText(entry.path().string() + "/cmdline");
            std::string stat = ReadText(entry.path().string() + "/stat");
            size_t state = stat.rfind(')');
            bool ended =
                state != std::string::npos && state + 2 < stat.size() && stat[state + 2] == 'Z';
            if (!ended && command.find("velkory-serve") != std::string::npos &&
                command.find(file_) != std::string::npos)
                found.push_back((pid_t)std::stoi(name));
        }
        return found;
    }

    std::string file_, socket_;
    std::map<std::string, std::string> env_;
};

TEST_F(TextBrowserTest, W3mFollowsLinksOnAServerThatEndsWithIt)
{
    // Modality 1 waits for w3m in the pane; 0 opens it in a tmux window of
    // its own and returns at once.
    for (int modality : {1, 0}) {
        SCOPED_TRACE("modality " + std::to_string(modality));
        ASSERT_EQ(
            Run({"config", "--modality", std::to_string(modality), "--visuality", "1"}).status, 0);
        std::vector<std::string> session = {"new-session", "-d", "-x",      "100", "-y",
                                            "30",          "-s", "velkory", "--",  "env"};
        for (const auto& [name, value] : std::map<std::string, std::string> {
                 {"VELKORY_REGISTRY", registry_}, {"TMPDIR", tmp_}, {"LC_ALL", "C"}})
            session.push_back(name + "=" + value);
        session.insert(session.end(), {program_, "help", file_, "start"});
        ASSERT_EQ(Tmux(session).status, 0);

        ASSERT_TRUE(Shows("See the other topic")) << Tmux({"capture-pane", "-p"}).out;
        std::vector<pid_t> servers = Servers();
        EXPECT_EQ(servers.size(), 1u);
        // The page's link to another topic of the help file, and back from
        // there through an ms-its: link.
        Tmux({"send-keys", "-t", "velkory", "Tab", "Enter"});
        EXPECT_TRUE(Shows("You followed the link.")) << Tmux({"capture-pane", "-p"}).out;
        Tmux({"send-keys", "-t", "velkory", "Tab", "Enter"});
        EXPECT_TRUE(Shows("See the other topic")) << Tmux({"capture-pane", "-p"}).out;

        Tmux({"send-keys", "-t", "velkory", "Q"});
        EXPECT_TRUE(Eventually([&] { return Servers().empty(); })) << "a server outlived w3m";

        if (modality == 1) {
            // The host waited for w3m: the page directory went with it,
            // before velkory ended (and its pane, the session).
            EXPECT_TRUE(Eventually([&] { return Tmux({"has-session"}).status != 0; }));
            EXPECT_TRUE(fs::is_empty(tmp_));
        } else {
            // The window's process was recorded: once it has ended, clean
            // removes the page directory, however young.
            RunResult clean = Run({"clean"});
            EXPECT_EQ(clean.status, 0) << clean.err;
            EXPECT_NE(clean.out.find("1 directory removed"), std::string::npos) << clean.out;
            EXPECT_TRUE(fs::is_empty(tmp_));
        }
        Tmux({"kill-server"});
    }
}

}  // namespace
