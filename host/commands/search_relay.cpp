// The search in velkory itself: it lives in velkory-serve with the search
// engine (Xapian), so that the other commands start without loading it.
// search gives the process over to velkory-serve with the same command
// line; help's search after an unanswered request, with "help --search".
#include <string>
#include <vector>

#include "host/commands/commands.h"
#include "host/host.h"
#include "host/os/os.h"
#include "host/page/page.h"

namespace {

int Relay(const std::vector<std::string>& words)
{
    std::string path = ServerProgramPath();
    std::vector<std::string> argv {path};
    argv.insert(argv.end(), words.begin(), words.end());
    std::string error;
    ReplaceProgram(path, argv, error);
    Complain("search: cannot start " + path + ": " + error);
    return ExitFailed;
}

}  // namespace

int SearchCommand(const CommandLine& line)
{
    return Relay(line.words);
}

int SearchPagesInstead(const CommandLine& line, const std::string& file, const std::string& keyword)
{
    std::vector<std::string> words;
    if (!line.modulePath.empty())
        words.insert(words.end(), {"--module", line.modulePath});
    words.insert(words.end(), {"help", "--search"});
    if (line.pick > 0)
        words.insert(words.end(), {"--pick", std::to_string(line.pick)});
    words.insert(words.end(), {"--", file, keyword});
    return Relay(words);
}
