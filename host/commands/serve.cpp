// velkory serve and velkory browse: help files in the browser (serve/).
#include <string>

#include "host/commands/commands.h"
#include "host/host.h"
#if defined(VELKORY_HAVE_SERVE)
#include "host/serve/serve.h"

namespace {

ServeOptions OptionsOf(const CommandLine& line)
{
    ServeOptions options;
    options.port = line.port;
    options.open = line.open;
    options.words = line.words;
    return options;
}

}  // namespace

int ServeCommand(const CommandLine& line)
{
    for (const std::string& file : line.arguments)
        if (!IsHelpFile(file))
            return ExitFailed;
    if (line.watchStdin)
        ServeWhileInputLasts();
    return RunServer(line.arguments, OptionsOf(line));
}

int BrowseCommand(const CommandLine& line)
{
    return BrowseTopic(line.arguments[0], line.arguments.size() > 1 ? line.arguments[1] : "",
                       line.pick, OptionsOf(line));
}
#endif
