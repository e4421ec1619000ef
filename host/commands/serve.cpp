// velkory serve and velkory browse: help files in the browser (serve/).
#include <string>

#include "host/commands/commands.h"
#include "host/host.h"
#include "host/os/os.h"
#if defined(VELKORY_HAVE_SERVE)
#include "host/serve/serve.h"

namespace {

ServeOptions OptionsOf(const CommandLine& line)
{
    ServeOptions options;
    options.port = line.port;
    options.newToken = line.newToken;
    // A server for one viewer keeps nothing: the user's own URLs stay.
    options.keepAddress = !line.watchStdin;
    options.open = line.open;
    options.words = line.words;
    return options;
}

}  // namespace

int ServeCommand(const CommandLine& line)
{
    // A folder is a library of the help files in it; the server checks those.
    for (const std::string& file : line.arguments)
        if (PathKindAt(file, true) != PathDirectory && !IsHelpFile(file))
            return ExitFailed;
    if (line.watchStdin)
        ServeWhileInputLasts();
    return RunServer(line.arguments, OptionsOf(line));
}

int BrowseCommand(const CommandLine& line)
{
    // The help files and directories, then the keyword when the last word
    // names neither (nor looks like a help file's name).
    std::vector<std::string> given = line.arguments, files;
    std::string keyword;
    if (!given.empty() && PathKindAt(given.back(), true) == PathMissing &&
        !HasHelpFileName(given.back())) {
        keyword = given.back();
        given.pop_back();
    }
    if (int status = ShelfFiles(given, files); status != ExitOk)
        return status;
    return BrowseTopic(files, keyword, line.pick, OptionsOf(line));
}
#endif
