// Starting programs on Windows: _spawnvp, with each argument quoted the way
// the started program's C runtime splits its command line again.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <process.h>
#include <windows.h>

#include "host/os/os.h"
#include "platform/platform.h"

const bool ShellBackslashes = false;

namespace {

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

// argv quoted, as the null-terminated list _spawnvp takes; quoted keeps the
// texts the list points into.
std::vector<const char*> SpawnArguments(const std::vector<std::string>& argv,
                                        std::vector<std::string>& quoted)
{
    for (const std::string& arg : argv)
        quoted.push_back(QuoteArgument(arg));
    std::vector<const char*> args;
    for (const std::string& arg : quoted)
        args.push_back(arg.c_str());
    args.push_back(nullptr);
    return args;
}

}  // namespace

int RunProgram(const std::vector<std::string>& argv, std::string& error,
               const std::function<void(uint64_t)>& started)
{
    if (argv.empty()) {
        error = "no command";
        return -1;
    }
    std::vector<std::string> quoted;
    std::vector<const char*> args = SpawnArguments(argv, quoted);
    fflush(stdout);
    fflush(stderr);
    intptr_t handle = _spawnvp(_P_NOWAIT, argv[0].c_str(), args.data());
    if (handle == -1) {
        error = strerror(errno);
        return -1;
    }
    if (started)
        started((uint64_t)GetProcessId((HANDLE)handle));
    int status = 0;
    if (_cwait(&status, handle, _WAIT_CHILD) == -1) {
        error = strerror(errno);
        return -1;
    }
    return status;
}

bool StartCompanion(const std::vector<std::string>&, Companion&, std::string& error)
{
    error = "not on this system";  // velkory-serve is not built for Windows
    return false;
}

bool ReadCompanionLine(Companion&, std::string&, int)
{
    return false;
}

bool WriteToCompanion(Companion&, const std::string&)
{
    return false;
}

void EndCompanion(Companion&, bool, int) { }

std::string ProcessIdentity(uint64_t process)
{
    if (process == 0 || process > 0xFFFFFFFFu)
        return "";
    HANDLE handle = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, (DWORD)process);
    if (handle == nullptr)
        return "";
    FILETIME created, exited, kernel, user;
    DWORD code = 0;
    bool running = GetExitCodeProcess(handle, &code) && code == STILL_ACTIVE;
    bool timed = GetProcessTimes(handle, &created, &exited, &kernel, &user);
    CloseHandle(handle);
    if (!running)
        return "";
    std::string identity = std::to_string(process);
    if (timed) {
        identity += ' ';
        identity +=
            std::to_string(((uint64_t)created.dwHighDateTime << 32) | created.dwLowDateTime);
    }
    return identity;
}

bool ProcessRuns(const std::string& identity)
{
    size_t space = identity.find(' ');
    std::string number = identity.substr(0, space);
    if (number.empty() || number.size() > 10 ||
        number.find_first_not_of("0123456789") != std::string::npos)
        return false;
    std::string now = ProcessIdentity(strtoull(number.c_str(), nullptr, 10));
    return !now.empty() && (now == identity || space == std::string::npos);
}

void WaitUntilProcessEnds(uint64_t process)
{
    HANDLE handle = OpenProcess(SYNCHRONIZE, FALSE, (DWORD)process);
    if (handle == nullptr)
        return;
    WaitForSingleObject(handle, INFINITE);
    CloseHandle(handle);
}

void RequestOwnTermination()
{
    raise(SIGTERM);
}

bool CaptureOutput(const std::vector<std::string>&, std::string&)
{
    return false;  // the renderers it would run are not used on Windows
}

std::vector<std::string> EnvironmentList()
{
    return {};  // only tmux windows take it, and there are none here
}

bool ProgramOnPath(const std::string&)
{
    return true;  // _spawnvp finds it, or says why not
}

bool StartProgram(const std::vector<std::string>& argv)
{
    if (argv.empty())
        return false;
    std::vector<std::string> quoted;
    std::vector<const char*> args = SpawnArguments(argv, quoted);
    return _spawnvp(_P_NOWAIT, argv[0].c_str(), args.data()) >= 0;
}
