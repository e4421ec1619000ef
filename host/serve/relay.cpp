// The server in velkory itself: it lives in velkory-serve, so that the other
// commands start without loading the HTTP and TLS libraries. serve and browse
// (and help when it would open the browser viewer) give the process over to
// velkory-serve with the same command line, which runs them as if it had been
// started in the first place.
#include <string>
#include <vector>

#include "host/host.h"
#include "host/os/os.h"
#include "host/page/page.h"
#include "host/serve/serve.h"

namespace {

int Relay(const ServeOptions& options)
{
    std::string path = ServerProgramPath();
    std::vector<std::string> argv {path};
    argv.insert(argv.end(), options.words.begin(), options.words.end());
    std::string error;
    ReplaceProgram(path, argv, error);
    Complain("serve: cannot start " + path + ": " + error);
    return ExitFailed;
}

}  // namespace

int RunServer(const std::vector<std::string>&, const ServeOptions& options)
{
    return Relay(options);
}

int BrowseTopic(const std::vector<std::string>&, const std::string&, int,
                const ServeOptions& options)
{
    return Relay(options);
}

void ServeWhileInputLasts() { }
