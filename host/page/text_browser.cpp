// Text-mode web browsers as the viewer: instead of the rendered text, they
// get the page's URL on a velkory-serve started for them, so that the page's
// links, anchors, other topics and ms-its: links can be followed.
//
// The server listens on the loopback interface under a random token (serve/)
// and lives as long as the browser: it serves until its standard input ends,
// which this process closes once the browser it waited for has ended (or
// which ends with this process, however it ends). A browser in a tmux window
// of its own outlives this process, so the server is given the window's
// process number instead and serves until that process ends.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "host/host.h"
#include "host/os/os.h"
#include "host/page/page.h"
#include "lookup/lookup.h"

namespace {

#if defined(VELKORY_INSTALLED_SERVER)
const char* const InstalledServer = VELKORY_INSTALLED_SERVER;
#else
const char* const InstalledServer = nullptr;
#endif

// How long velkory-serve may take to say where it listens.
constexpr int ServerStartSeconds = 10;

#if defined(VELKORY_HAVE_SERVE)
// Browsers reach the loopback server directly, whatever proxy the user's
// environment names.
void BypassProxiesForLoopback()
{
    for (const char* name : {"no_proxy", "NO_PROXY"}) {
        const char* value = getenv(name);
        std::string list = value ? value : "";
        if (list.find("127.0.0.1") != std::string::npos)
            continue;
        if (!list.empty())
            list += ',';
        list += "127.0.0.1,localhost";
        setenv(name, list.c_str(), 1);
    }
}
#endif

}  // namespace

std::string ServerProgramPath()
{
    return CompanionPath("velkory-serve", InstalledServer);
}

std::string EncodeUrlPath(const std::string& name)
{
    std::string out;
    for (char c : name) {
        unsigned char u = (unsigned char)c;
        if ((u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') ||
            strchr("/-._~!$&'()*+,;=:@", c) != nullptr) {
            out += c;
        } else {
            char escape[4];
            snprintf(escape, sizeof escape, "%%%02X", u);
            out += escape;
        }
    }
    return out;
}

bool IsTextBrowser(const std::string& program)
{
    for (const char* browser : {"w3m", "lynx", "elinks", "links", "links2"})
        if (program == browser)
            return true;
    return false;
}

bool ShowInTextBrowser(const std::vector<std::string>& argv, const std::string& path,
                       const char* keyword, uint32_t flags, const std::string& helpFile,
                       PageOutcome& outcome)
{
#if !defined(VELKORY_HAVE_SERVE)
    (void)argv, (void)path, (void)keyword, (void)flags, (void)helpFile, (void)outcome;
    return false;
#else
    // Which page it is: the module names its stored name beside it.
    std::string page = ReadBesidePage(path, PageNameFileName);
    if (page.empty() || page[0] != '/' || helpFile.empty())
        return false;
    std::string program = ServerProgramPath();
    Companion server;
    std::string error, base;
    if (!StartCompanion({program, "serve", "--no-open", "--watch-stdin", "--", helpFile}, server,
                        error)) {
        Complain("cannot start " + program + ": " + error + "; the page is shown as text");
        return false;
    }
    if (!ReadCompanionLine(server, base, ServerStartSeconds) ||
        base.compare(0, 17, "http://127.0.0.1:") != 0 || base.back() != '/') {
        EndCompanion(server, true);
        Complain(program + " did not serve " + helpFile + "; the page is shown as text");
        return false;
    }
    std::string url = base + EncodeUrlPath(page.substr(1));
    std::string anchor = LandingAnchor(path, helpFile, keyword);
    size_t line = 0;
    if (!anchor.empty()) {
        url += '#';
        url += EncodeUrlPath(anchor);
    } else if (ProgramName(argv[0]) == "w3m") {
        // w3m takes the line (of its own rendering) where the keyword is.
        std::string text;
        if (!RenderPageAt(path, keyword, helpFile, text, line))
            line = 0;
    }
    BypassProxiesForLoopback();
    bool inWindow = false;
    outcome = Launch(argv, url, keyword, flags, line, PageDirectory(path),
                     [&](uint64_t process, bool window) {
                         if (window)
                             inWindow = WriteToCompanion(server, std::to_string(process) + "\n");
                     });
    EndCompanion(server, !inWindow);
    return true;
#endif
}
