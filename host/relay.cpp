// serve and browse in velkory itself: the server lives in velkory-serve, so
// that the other commands start without loading the HTTP and TLS libraries.
// These commands (and help when it would open the browser viewer) give the
// process over to velkory-serve with the same command line, which runs them
// as if it had been started in the first place.
#include <string>
#include <vector>

#include "host/host.h"
#include "host/serve.h"
#include "host/system.h"

namespace {

#if defined(VELKORY_INSTALLED_SERVER)
const char* const InstalledServer = VELKORY_INSTALLED_SERVER;
#else
const char* const InstalledServer = nullptr;
#endif

int Relay()
{
    std::string path = CompanionPath("velkory-serve", InstalledServer);
    std::vector<std::string> argv {path};
    argv.insert(argv.end(), hostOptions.words.begin(), hostOptions.words.end());
    std::string error;
    ReplaceProgram(path, argv, error);
    Complain("serve: cannot start " + path + ": " + error);
    return ExitFailed;
}

}  // namespace

int ServeCommand(const CommandLine&)
{
    return Relay();
}

int BrowseCommand(const CommandLine&)
{
    return Relay();
}

int BrowseTopic(const std::string&, const std::string&, const ServeOptions&)
{
    return Relay();
}
