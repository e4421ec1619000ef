// Starting programs on POSIX systems: posix_spawnp, which reports a program
// that cannot be run as its own result, so no error pipe is needed; and
// telling whether a process still runs, by its number and, where /proc
// tells it, its start.
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
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

// Starts argv with actions in a session of its own and with the signals of
// a fresh program (none blocked), for a program that outlives the caller's
// terminal requests; 0 with its number in pid, else the error number.
int SpawnOnItsOwn(const std::vector<std::string>& argv, const posix_spawn_file_actions_t* actions,
                  pid_t& pid)
{
    fflush(stdout);
    fflush(stderr);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSID);
    std::vector<char*> args = ArgumentVector(argv);
    int spawned = posix_spawnp(&pid, args[0], actions, &attributes, args.data(), environ);
    posix_spawnattr_destroy(&attributes);
    return spawned;
}

}  // namespace

int RunProgram(const std::vector<std::string>& argv, std::string& error,
               const std::function<void(uint64_t)>& started)
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
    else if (started)
        started((uint64_t)pid);
    if (spawned == 0 && (status = WaitFor(pid)) < 0)
        error = strerror(errno);
    sigaction(SIGINT, &oldInt, nullptr);
    sigaction(SIGQUIT, &oldQuit, nullptr);
    return status;
}

bool StartProgram(const std::vector<std::string>& argv)
{
    if (argv.empty())
        return false;
    // Our standard error for its output: standard output belongs to the caller.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, 2, 1);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    pid_t pid = 0;
    int spawned = SpawnOnItsOwn(argv, &actions, pid);
    posix_spawn_file_actions_destroy(&actions);
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

bool StartCompanion(const std::vector<std::string>& argv, Companion& companion, std::string& error)
{
    if (argv.empty()) {
        error = "no command";
        return false;
    }
    int input[2], output[2];
    if (pipe2(input, O_CLOEXEC) != 0) {
        error = strerror(errno);
        return false;
    }
    if (pipe2(output, O_CLOEXEC) != 0) {
        error = strerror(errno);
        close(input[0]);
        close(input[1]);
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input[0], 0);
    posix_spawn_file_actions_adddup2(&actions, output[1], 1);
    pid_t pid = 0;
    int spawned = SpawnOnItsOwn(argv, &actions, pid);
    posix_spawn_file_actions_destroy(&actions);
    close(input[0]);
    close(output[1]);
    if (spawned != 0) {
        error = strerror(spawned);
        close(input[1]);
        close(output[0]);
        return false;
    }
    companion.process = pid;
    companion.input = input[1];
    companion.output = output[0];
    return true;
}

bool ReadCompanionLine(Companion& companion, std::string& line, int seconds)
{
    constexpr size_t MaxLine = 4096;
    line.clear();
    if (companion.output < 0)
        return false;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (line.size() < MaxLine) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        struct pollfd wait = {companion.output, POLLIN, 0};
        int ready = left.count() > 0 ? poll(&wait, 1, (int)left.count()) : 0;
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return false;
        char c;
        ssize_t got = read(companion.output, &c, 1);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        if (c == '\n')
            return true;
        line += c;
    }
    return false;
}

bool WriteToCompanion(Companion& companion, const std::string& text)
{
    if (companion.input < 0)
        return false;
    // A companion that has ended must not end this process with SIGPIPE.
    struct sigaction ignore, old;
    memset(&ignore, 0, sizeof ignore);
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, &old);
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = write(companion.input, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += (size_t)n;
    }
    sigaction(SIGPIPE, &old, nullptr);
    return done == text.size();
}

void EndCompanion(Companion& companion, bool wait, int seconds)
{
    for (int* fd : {&companion.input, &companion.output}) {
        if (*fd >= 0)
            close(*fd);
        *fd = -1;
    }
    if (companion.process <= 0)
        return;
    pid_t pid = (pid_t)companion.process;
    companion.process = -1;
    if (!wait) {
        // Nobody waits for it here, so a thread of its own reaps it.
        std::thread([pid] { WaitFor(pid); }).detach();
        return;
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    int status = 0;
    while (true) {
        pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid || (done < 0 && errno != EINTR))
            return;
        if (std::chrono::steady_clock::now() >= deadline)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid, SIGKILL);
    WaitFor(pid);
}

std::string ProcessIdentity(uint64_t process)
{
    if (process == 0 || process > (uint64_t)INT_MAX)
        return "";
    if (kill((pid_t)process, 0) != 0 && errno != EPERM)
        return "";
    std::string number = std::to_string(process);
    // Where /proc tells, the process's start (in clock ticks after boot),
    // and whether it has ended and only waits to be reaped.
    FILE* stat = fopen(("/proc/" + number + "/stat").c_str(), "rb");
    if (!stat)
        return number;
    char buffer[1024];
    size_t got = fread(buffer, 1, sizeof buffer - 1, stat);
    fclose(stat);
    buffer[got] = '\0';
    const char* fields = strrchr(buffer, ')');
    if (!fields)
        return number;
    // After the name: the state (field 3), ..., the start time (field 22).
    std::vector<std::string> after;
    for (const char* at = fields + 1; *at;) {
        while (*at == ' ')
            ++at;
        const char* end = at;
        while (*end && *end != ' ')
            ++end;
        if (end > at)
            after.emplace_back(at, end);
        at = end;
    }
    if (after.size() < 20)
        return number;
    if (after[0] == "Z" || after[0] == "X")
        return "";
    return number + " " + after[19];
}

bool ProcessRuns(const std::string& identity)
{
    // "NUMBER" or "NUMBER START", digits only.
    size_t space = identity.find(' ');
    std::string number = identity.substr(0, space);
    std::string start = space == std::string::npos ? "" : identity.substr(space + 1);
    auto digits = [](const std::string& text, size_t most) {
        return !text.empty() && text.size() <= most &&
            text.find_first_not_of("0123456789") == std::string::npos;
    };
    if (!digits(number, 10) || number[0] == '0' ||
        (space != std::string::npos && !digits(start, 20)))
        return false;
    std::string now = ProcessIdentity(strtoull(number.c_str(), nullptr, 10));
    if (now.empty())
        return false;
    // Without /proc the start cannot be compared: the number must do.
    return now == identity || now.find(' ') == std::string::npos;
}

void WaitUntilProcessEnds(uint64_t process)
{
#if defined(SYS_pidfd_open)
    int fd = (int)syscall(SYS_pidfd_open, (pid_t)process, 0);
    if (fd >= 0) {
        struct pollfd wait = {fd, POLLIN, 0};
        while (poll(&wait, 1, -1) < 0 && errno == EINTR) {
        }
        close(fd);
        return;
    }
#endif
    // Without a descriptor for it: asked again every 100 ms, by its
    // identity, so that a later process given its number does not count.
    std::string identity = ProcessIdentity(process);
    while (!identity.empty() && ProcessIdentity(process) == identity)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
}

void RequestOwnTermination()
{
    kill(getpid(), SIGTERM);
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
