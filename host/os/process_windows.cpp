// Starting programs on Windows: _spawnvp, with each argument quoted the way
// the started program's C runtime splits its command line again.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <process.h>

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

int RunProgram(const std::vector<std::string>& argv, std::string& error)
{
    if (argv.empty()) {
        error = "no command";
        return -1;
    }
    std::vector<std::string> quoted;
    std::vector<const char*> args = SpawnArguments(argv, quoted);
    fflush(stdout);
    fflush(stderr);
    intptr_t status = _spawnvp(_P_WAIT, argv[0].c_str(), args.data());
    if (status < 0) {
        error = strerror(errno);
        return -1;
    }
    return (int)status;
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
