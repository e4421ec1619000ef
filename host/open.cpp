// The viewer and the editor: the page file opened in the user's pager or
// editor, or, when nobody is watching, printed so that scripts never hang.
//
// The commands come from the environment and may carry arguments; they are
// split like a shell word list (quotes and backslashes), but no shell runs
// them. The page file's path is always the last argument.
//
// The low bit of the open flags marks a non-modal open: inside tmux it gets a
// window of its own and the host returns at once; anywhere else it waits like
// a modal one.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <process.h>
#else
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "host/host.h"

namespace {

#if defined(_WIN32)
const char* const DefaultViewer = "more";
const char* const DefaultEditor = "notepad";
#else
const char* const DefaultViewer = "less";
const char* const DefaultEditor = "vi";
#endif

std::string Environment(const char* name)
{
    const char* value = getenv(name);
    return value ? value : "";
}

bool HasWords(const std::string& command)
{
    return !SplitCommandLine(command).empty();
}

std::string DisplayCommand(const std::vector<std::string>& argv)
{
    std::string out;
    for (const std::string& arg : argv) {
        if (!out.empty())
            out += ' ';
        out += arg;
    }
    return out;
}

#if defined(_WIN32)

// One argument as the C runtime of the started program will split it again.
std::string QuoteArgument(const std::string& arg)
{
    if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos)
        return arg;
    std::string out = "\"";
    size_t backslashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        out.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        out += c;
    }
    out.append(backslashes * 2, '\\');
    out += '"';
    return out;
}

int RunAndWait(const std::vector<std::string>& argv)
{
    std::vector<std::string> quoted;
    for (const std::string& arg : argv)
        quoted.push_back(QuoteArgument(arg));
    std::vector<const char*> args;
    for (const std::string& arg : quoted)
        args.push_back(arg.c_str());
    args.push_back(nullptr);
    fflush(stdout);
    fflush(stderr);
    intptr_t status = _spawnvp(_P_WAIT, argv[0].c_str(), args.data());
    if (status < 0) {
        Complain("cannot run '" + DisplayCommand(argv) + "': " + strerror(errno));
        return -1;
    }
    return (int)status;
}

#else

int RunAndWait(const std::vector<std::string>& argv)
{
    fflush(stdout);
    fflush(stderr);
    // Like system(): while the command has the terminal, an interrupt is its.
    struct sigaction ignore, oldInt, oldQuit;
    memset(&ignore, 0, sizeof ignore);
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGINT, &ignore, &oldInt);
    sigaction(SIGQUIT, &ignore, &oldQuit);

    int execPipe[2];
    bool havePipe = pipe(execPipe) == 0;
    pid_t pid = fork();
    if (pid == 0) {
        sigaction(SIGINT, &oldInt, nullptr);
        sigaction(SIGQUIT, &oldQuit, nullptr);
        signal(SIGINT, SIG_DFL);
        signal(SIGQUIT, SIG_DFL);
        if (havePipe) {
            close(execPipe[0]);
            fcntl(execPipe[1], F_SETFD, FD_CLOEXEC);
        }
        std::vector<char*> args;
        for (const std::string& arg : argv)
            args.push_back(const_cast<char*>(arg.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        int error = errno;
        if (havePipe) {
            ssize_t ignored = write(execPipe[1], &error, sizeof error);
            (void)ignored;
        }
        _exit(127);
    }
    int status = -1;
    if (pid < 0) {
        Complain("cannot start '" + DisplayCommand(argv) + "': " + strerror(errno));
    } else {
        int execError = 0;
        if (havePipe) {
            close(execPipe[1]);
            ssize_t got;
            while ((got = read(execPipe[0], &execError, sizeof execError)) < 0 && errno == EINTR) {
            }
            if (got != (ssize_t)sizeof execError)
                execError = 0;
        }
        int wstatus = 0;
        while (waitpid(pid, &wstatus, 0) < 0 && errno == EINTR) {
        }
        if (execError) {
            Complain("cannot run '" + DisplayCommand(argv) + "': " + strerror(execError));
        } else if (WIFEXITED(wstatus)) {
            status = WEXITSTATUS(wstatus);
        } else {
            status = 128 + (WIFSIGNALED(wstatus) ? WTERMSIG(wstatus) : 0);
        }
    }
    if (havePipe)
        close(execPipe[0]);
    sigaction(SIGINT, &oldInt, nullptr);
    sigaction(SIGQUIT, &oldQuit, nullptr);
    return status;
}

#endif

}  // namespace

#if defined(_WIN32)
bool StartProgram(const std::vector<std::string>& argv)
{
    std::vector<std::string> quoted;
    for (const std::string& arg : argv)
        quoted.push_back(QuoteArgument(arg));
    std::vector<const char*> args;
    for (const std::string& arg : quoted)
        args.push_back(arg.c_str());
    args.push_back(nullptr);
    return _spawnvp(_P_NOWAIT, argv[0].c_str(), args.data()) >= 0;
}
#else
// Started in a process of its own that nobody waits for (the intermediate
// child ends at once), with its standard output on our standard error.
bool StartProgram(const std::vector<std::string>& argv)
{
    // Other threads may be running: the children only call what is safe
    // after a fork, with everything they need made before it.
    std::vector<char*> args;
    for (const std::string& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    sigset_t none;
    sigemptyset(&none);
    fflush(stdout);
    fflush(stderr);
    pid_t pid = fork();
    if (pid == 0) {
        setsid();
        if (fork() != 0)
            _exit(0);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        dup2(2, 1);
        execvp(args[0], args.data());
        _exit(127);
    }
    if (pid < 0)
        return false;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return true;
}
#endif

namespace {

// Runs the command on the file: in a new tmux window for a non-modal open
// inside tmux, else waiting for it. Returns 1 on success.
int Launch(const std::string& command, const std::string& file, const char* title, uint32_t flags)
{
    std::vector<std::string> argv = SplitCommandLine(command);
    if (argv.empty())
        return 0;
    argv.push_back(file);
#if !defined(_WIN32)
    if ((flags & OpenFlagHostWindow) && !Environment("TMUX").empty()) {
        std::string name = title ? OemTextForDisplay(title) : std::string("velkory");
        std::vector<std::string> tmux = {"tmux", "new-window", "-n",
                                         name.empty() ? "velkory" : name, "--"};
        tmux.insert(tmux.end(), argv.begin(), argv.end());
        if (RunAndWait(tmux) == 0)
            return 1;
        // Without a tmux window the page still opens, here.
    }
#else
    (void)title;
    (void)flags;
#endif
    int status = RunAndWait(argv);
    if (status == 0)
        return 1;
    if (status > 0) {
        std::string message = "'";
        message += DisplayCommand(argv);
        message += "' ended with status ";
        message += std::to_string(status);
        Complain(message);
    }
    hostRecord.openFailed = true;
    return 0;
}

// The rendered page's file, beside the page.
std::string RenderedPath(const std::string& path)
{
    size_t slash = path.find_last_of("/\\");
    std::string dir = slash == std::string::npos ? "." : path.substr(0, slash);
    return dir + "/velkory-page.txt";
}

}  // namespace

std::vector<std::string> SplitCommandLine(const std::string& text)
{
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    size_t i = 0;
    while (i < text.size()) {
        char c = text[i];
        if (c == ' ' || c == '\t' || c == '\n') {
            if (inWord)
                words.push_back(word);
            word.clear();
            inWord = false;
            ++i;
            continue;
        }
        inWord = true;
        if (c == '\'') {
            size_t end = text.find('\'', i + 1);
            if (end == std::string::npos)
                end = text.size();
            word += text.substr(i + 1, end - i - 1);
            i = end + 1;
        } else if (c == '"') {
            ++i;
            while (i < text.size() && text[i] != '"') {
#if !defined(_WIN32)
                if (text[i] == '\\' && i + 1 < text.size() &&
                    strchr("\"\\$`", text[i + 1]) != nullptr)
                    ++i;
#else
                if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == '"')
                    ++i;
#endif
                word += text[i++];
            }
            ++i;
#if !defined(_WIN32)
        } else if (c == '\\') {
            // Outside quotes a backslash keeps the next character as it is.
            if (i + 1 < text.size())
                word += text[i + 1];
            i += 2;
#endif
        } else {
            word += c;
            ++i;
        }
    }
    if (inWord)
        words.push_back(word);
    return words;
}

int OpenPageInViewer(const char* path, const char* title, uint32_t flags)
{
    hostRecord.pageOpened = true;
    std::string command = Environment("VELKORY_VIEWER");
    bool explicitCommand = HasWords(command);

    std::string text;
    if (!RenderPageFile(path, text)) {
        Complain(std::string("cannot read the page ") + path + ": " + strerror(errno));
        hostRecord.openFailed = true;
        return 0;
    }
    // Scripts get the page itself, and so does a terminal without a pager.
    if (!explicitCommand &&
        (!StdoutIsTerminal() ||
         (!HasWords(Environment("PAGER")) && !ProgramOnPath(DefaultViewer)))) {
        fwrite(text.data(), 1, text.size(), stdout);
        fflush(stdout);
        return 1;
    }
    std::string rendered = RenderedPath(path);
    FILE* stream = fopen(rendered.c_str(), "wb");
    bool ok = stream && fwrite(text.data(), 1, text.size(), stream) == text.size();
    if (stream)
        ok = fclose(stream) == 0 && ok;
    if (!ok) {
        Complain("cannot write " + rendered + ": " + strerror(errno));
        hostRecord.openFailed = true;
        return 0;
    }
    if (!explicitCommand) {
        command = Environment("PAGER");
        if (!HasWords(command))
            command = DefaultViewer;
    }
    return Launch(command, rendered, title, flags);
}

int OpenPageInEditor(const char* path, const char* title, uint32_t flags)
{
    hostRecord.pageOpened = true;
    std::string command = Environment("VELKORY_EDITOR");
    bool explicitCommand = HasWords(command);
    if (!explicitCommand &&
        (!StdoutIsTerminal() ||
         (!HasWords(Environment("VISUAL")) && !HasWords(Environment("EDITOR")) &&
          !ProgramOnPath(DefaultEditor)))) {
        printf("%s\n", path);
        fflush(stdout);
        return 1;
    }
    if (!explicitCommand) {
        command = Environment("VISUAL");
        if (!HasWords(command))
            command = Environment("EDITOR");
        if (!HasWords(command))
            command = DefaultEditor;
    }
    return Launch(command, path, title, flags);
}
