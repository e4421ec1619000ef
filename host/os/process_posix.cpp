// Starting programs on POSIX systems: posix_spawnp, which reports a program
// that cannot be run as its own result, so no error pipe is needed.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "host/os/os.h"

extern char** environ;

const bool ShellBackslashes = true;

namespace {

std::vector<char*> ArgumentVector(const std::vector<std::string>& argv)
{
    std::vector<char*> args;
    for (const std::string& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    return args;
}

int WaitFor(pid_t pid)
{
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return -1;
    }
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}

}  // namespace

int RunProgram(const std::vector<std::string>& argv, std::string& error)
{
    if (argv.empty()) {
        error = "no command";
        return -1;
    }
    fflush(stdout);
    fflush(stderr);
    // Like system(): while the program has the terminal, an interrupt is its.
    struct sigaction ignore, oldInt, oldQuit;
    memset(&ignore, 0, sizeof ignore);
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGINT, &ignore, &oldInt);
    sigaction(SIGQUIT, &ignore, &oldQuit);

    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGQUIT);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

    std::vector<char*> args = ArgumentVector(argv);
    pid_t pid = 0;
    int spawned = posix_spawnp(&pid, args[0], nullptr, &attributes, args.data(), environ);
    posix_spawnattr_destroy(&attributes);
    int status = -1;
    if (spawned != 0)
        error = strerror(spawned);
    else if ((status = WaitFor(pid)) < 0)
        error = strerror(errno);
    sigaction(SIGINT, &oldInt, nullptr);
    sigaction(SIGQUIT, &oldQuit, nullptr);
    return status;
}

bool StartProgram(const std::vector<std::string>& argv)
{
    if (argv.empty())
        return false;
    fflush(stdout);
    fflush(stderr);
    // A session of its own, the signals of a fresh program, and our standard
    // error for its output: standard output belongs to the caller.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSID);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, 2, 1);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    std::vector<char*> args = ArgumentVector(argv);
    pid_t pid = 0;
    int spawned = posix_spawnp(&pid, args[0], &actions, &attributes, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (spawned != 0)
        return false;
    // Nobody waits for it, so a thread of its own reaps it when it ends.
    std::thread([pid] { WaitFor(pid); }).detach();
    return true;
}

bool CaptureOutput(const std::vector<std::string>& argv, std::string& out)
{
    if (argv.empty())
        return false;
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0)
        return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<char*> args = ArgumentVector(argv);
    pid_t pid = 0;
    int spawned = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    if (spawned != 0) {
        close(pipeFds[0]);
        return false;
    }
    char buffer[65536];
    ssize_t got;
    while ((got = read(pipeFds[0], buffer, sizeof buffer)) != 0) {
        if (got < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        out.append(buffer, (size_t)got);
    }
    close(pipeFds[0]);
    return WaitFor(pid) == 0;
}

void ReplaceProgram(const std::string& path, const std::vector<std::string>& argv,
                    std::string& error)
{
    fflush(stdout);
    fflush(stderr);
    std::vector<char*> args = ArgumentVector(argv);
    execv(path.c_str(), args.data());
    error = strerror(errno);
}

std::vector<std::string> EnvironmentList()
{
    std::vector<std::string> list;
    for (char** variable = environ; *variable; ++variable)
        list.push_back(*variable);
    return list;
}

bool ProgramOnPath(const std::string& name)
{
    const char* path = getenv("PATH");
    std::string list = path ? path : "/usr/bin:/bin";
    size_t start = 0;
    while (start <= list.size()) {
        size_t end = list.find(':', start);
        if (end == std::string::npos)
            end = list.size();
        std::string dir = end > start ? list.substr(start, end - start) : std::string(".");
        dir += '/';
        dir += name;
        if (access(dir.c_str(), X_OK) == 0)
            return true;
        start = end + 1;
    }
    return false;
}
