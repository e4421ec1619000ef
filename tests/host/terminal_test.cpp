// The interactive menu and dialog, driven through a pseudo-terminal as a
// user at the keyboard would drive them.
#include "host_runner.h"

#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>

#include <chrono>

#include "help_fixture.h"

namespace {

const char Down[] = "\x1b[B";
const char End[] = "\x1b[F";
const char Enter[] = "\r";
const char Escape[] = "\x1b";
const char Tab[] = "\t";

// velkory running on a terminal of its own, 100 columns by 30 rows.
class TerminalSession {
public:
    TerminalSession(const std::string& program, const std::vector<std::string>& args,
                    const std::map<std::string, std::string>& env)
    {
        struct winsize size = {30, 100, 0, 0};
        pid_ = forkpty(&fd_, nullptr, nullptr, &size);
        if (pid_ == 0) {
            for (const char* name :
                 {"VELKORY_VIEWER", "VELKORY_EDITOR", "PAGER", "VISUAL", "EDITOR", "TMUX",
                  "VELKORY_RENDERER", "VELKORY_CODEPAGES", "COLUMNS", "LINES"})
                unsetenv(name);
            setenv("TERM", "xterm", 1);
            for (const auto& [name, value] : env)
                setenv(name.c_str(), value.c_str(), 1);
            std::vector<char*> argv;
            argv.push_back(const_cast<char*>(program.c_str()));
            for (const std::string& arg : args)
                argv.push_back(const_cast<char*>(arg.c_str()));
            argv.push_back(nullptr);
            execv(program.c_str(), argv.data());
            _exit(127);
        }
    }
    ~TerminalSession()
    {
        if (pid_ > 0 && !exited_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (fd_ >= 0)
            close(fd_);
    }
    bool started() const
    {
        return pid_ > 0;
    }

    // Reads what the program draws until text has appeared since the last
    // call; false if it does not appear within a generous grace period.
    bool WaitFor(const std::string& text)
    {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (screen_.find(text, seen_) == std::string::npos) {
            if (std::chrono::steady_clock::now() > deadline || !ReadSome(100))
                return screen_.find(text, seen_) != std::string::npos;
        }
        seen_ = screen_.find(text, seen_) + text.size();
        return true;
    }

    void Resize(unsigned short rows, unsigned short columns)
    {
        struct winsize size = {rows, columns, 0, 0};
        ASSERT_EQ(ioctl(fd_, TIOCSWINSZ, &size), 0);
    }

    void Send(const std::string& keys)
    {
        ASSERT_EQ(write(fd_, keys.data(), keys.size()), (ssize_t)keys.size());
    }

    // Waits for the program to end; returns its exit status, -1 otherwise.
    int Finish()
    {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        int status = 0;
        while (std::chrono::steady_clock::now() < deadline) {
            ReadSome(50);
            pid_t done = waitpid(pid_, &status, WNOHANG);
            if (done == pid_) {
                exited_ = true;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
        }
        return -1;
    }

    const std::string& screen() const
    {
        return screen_;
    }

private:
    // Appends what is ready to be read; false once the terminal is closed.
    bool ReadSome(int milliseconds)
    {
        struct pollfd poller = {fd_, POLLIN, 0};
        if (poll(&poller, 1, milliseconds) <= 0)
            return true;
        char buffer[4096];
        ssize_t n = read(fd_, buffer, sizeof buffer);
        if (n <= 0)
            return false;
        screen_.append(buffer, (size_t)n);
        return true;
    }

    pid_t pid_ = -1;
    int fd_ = -1;
    bool exited_ = false;
    std::string screen_;
    size_t seen_ = 0;
};

class TerminalTest : public HelpCommandTest {
protected:
    std::map<std::string, std::string> Environment() const
    {
        return {{"VELKORY_REGISTRY", registry_}, {"TMPDIR", tmp_}, {"VELKORY_EDITOR", editor_}};
    }

    // Runs a help request for "print" and answers the menu with keys.
    std::string ChooseWith(const std::string& keys, int* status)
    {
        TerminalSession session(program_, {"help", file_, "print"}, Environment());
        EXPECT_TRUE(session.started());
        EXPECT_TRUE(session.WaitFor("printer setup")) << session.screen();
        session.Send(keys);
        *status = session.Finish();
        return fs::exists(copy_) ? ReadText(copy_) : std::string("(nothing opened)");
    }
};

TEST_F(TerminalTest, TheMenuShowsTheMatchesAndOpensTheOneChosen)
{
    int status = -1;
    EXPECT_EQ(ChooseWith(Enter, &status), "<p>print page</p>");
    EXPECT_EQ(status, 0);
    fs::remove(copy_);
    EXPECT_EQ(ChooseWith(std::string(Down) + Enter, &status),
              "<h1>Printing</h1><p>How &amp; why.</p>");
    EXPECT_EQ(status, 0);
    fs::remove(copy_);
    EXPECT_EQ(ChooseWith(std::string(End) + Enter, &status), "<p>printer page</p>");
    fs::remove(copy_);
    // Type-ahead on the first letters of a title.
    EXPECT_EQ(ChooseWith(std::string("printe") + Enter, &status), "<p>printer page</p>");
}

TEST_F(TerminalTest, EscapeLeavesTheMenuWithoutOpeningAnything)
{
    int status = -1;
    EXPECT_EQ(ChooseWith(Escape, &status), "(nothing opened)");
    EXPECT_EQ(status, 0);
    bool directories = false;
    for (const auto& entry : fs::directory_iterator(tmp_))
        directories |= entry.path().filename().string().rfind("VLKT", 0) == 0;
    EXPECT_FALSE(directories);
}

TEST_F(TerminalTest, AShelfJoinsTheMenusAndItsChoiceOpensInItsFile)
{
    std::string other = root_ + "/other.chm";
    ASSERT_TRUE(WriteBytes(
        other,
        HelpFileWith(
            BuildIndex({{"Print preview", "preview.htm"}, {"Printing labels", "labels.htm"}}),
            {{"/preview.htm", Bytes("preview"), 1}, {"/labels.htm", Bytes("labels"), 1}})));
    TerminalSession session(program_, {"help", file_, other, "print"}, Environment());
    ASSERT_TRUE(session.WaitFor("Printing labels (other.chm)")) << session.screen();
    EXPECT_NE(session.screen().find("Print (guide.chm)"), std::string::npos) << session.screen();
    // The last item, the second of other.chm's own menu.
    session.Send(std::string(End) + Enter);
    EXPECT_EQ(session.Finish(), 0);
    EXPECT_EQ(ReadText(copy_), "labels");
}

TEST_F(TerminalTest, TypeAheadFoldsLettersBeyondAsciiInAUtf8Locale)
{
    TestIndex index = BuildIndex({{"Help: Zeta", "zeta.htm"},
                                  {"Help: \xC3\x89mile", "emile.htm"},
                                  {"Help: \xC3\xA9t\xC3\xA9", "ete.htm"}});
    std::string file = root_ + "/accents.chm";
    ASSERT_TRUE(WriteBytes(file,
                           HelpFileWith(index,
                                        {{"/zeta.htm", Bytes("zeta"), 0},
                                         {"/emile.htm", Bytes("emile"), 0},
                                         {"/ete.htm", Bytes("ete"), 0}})));
    std::map<std::string, std::string> env = Environment();
    env["LC_ALL"] = "C.UTF-8";
    TerminalSession session(program_, {"help", file, "help"}, env);
    ASSERT_TRUE(session.WaitFor("Zeta")) << session.screen();
    // "e with acute", typed a byte at a time, finds the E with acute.
    session.Send(std::string("help: \xC3\xA9") + Enter);
    EXPECT_EQ(session.Finish(), 0);
    EXPECT_EQ(ReadText(copy_), "emile");
}

TEST_F(TerminalTest, TheMenuRedrawsWhenTheTerminalIsResized)
{
    TerminalSession session(program_, {"help", file_, "print"}, Environment());
    ASSERT_TRUE(session.started());
    ASSERT_TRUE(session.WaitFor("printer setup")) << session.screen();
    session.Resize(12, 40);
    // The box centred anew on 40 columns, without a key pressed.
    EXPECT_TRUE(session.WaitFor("\x1b[2J")) << session.screen();
    EXPECT_TRUE(session.WaitFor("printer setup")) << session.screen();
    session.Send(Escape);
    EXPECT_EQ(session.Finish(), 0);
}

TEST_F(TerminalTest, TheDialogSavesTheChosenEntriesOrLeavesThemAlone)
{
    {
        TerminalSession session(program_, {"config"}, Environment());
        ASSERT_TRUE(session.started());
        ASSERT_TRUE(session.WaitFor("Cancel")) << session.screen();
        // First list: the second entry; then the second list: its second entry.
        session.Send(std::string(Down) + Tab + Down + Enter);
        EXPECT_EQ(session.Finish(), 0);
    }
    std::string saved = ReadText(registry_);
    EXPECT_NE(saved.find("\"Modality\"=\"1\""), std::string::npos) << saved;
    EXPECT_NE(saved.find("\"Visuality\"=\"1\""), std::string::npos) << saved;

    {
        TerminalSession session(program_, {"config"}, Environment());
        ASSERT_TRUE(session.started());
        ASSERT_TRUE(session.WaitFor("Cancel")) << session.screen();
        session.Send(std::string(Down) + Escape);
        EXPECT_EQ(session.Finish(), 0);
    }
    EXPECT_EQ(ReadText(registry_), saved);
}

}  // namespace
