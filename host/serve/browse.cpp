// velkory browse: the topic chosen as help chooses it (on a shelf too), and
// opening the browser.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "frame/host_api.h"
#include "host/host.h"
#include "host/module/module.h"
#include "host/os/os.h"
#include "host/page/page.h"
#include "host/serve/serve.h"
#include "lookup/lookup.h"

void OpenInBrowser(const std::string& url)
{
    // $BROWSER: commands separated by ':', "%s" standing for the URL.
    const char* list = getenv("BROWSER");
    std::string browsers = list ? list : "";
    size_t start = 0;
    while (start < browsers.size()) {
        size_t end = browsers.find(':', start);
        if (end == std::string::npos)
            end = browsers.size();
        std::string command = browsers.substr(start, end - start);
        start = end + 1;
        size_t mark = command.find("%s");
        if (mark != std::string::npos)
            command.replace(mark, 2, url);
        std::vector<std::string> argv = SplitCommandLine(command);
        if (argv.empty() || !ProgramOnPath(argv[0]))
            continue;
        if (mark == std::string::npos)
            argv.push_back(url);
        if (StartProgram(argv))
            return;
    }
    if (ProgramOnPath("xdg-open") && StartProgram({"xdg-open", url}))
        return;
    Complain("no browser to open (set BROWSER or install xdg-utils); open " + url);
}

int BrowseTopic(const std::vector<std::string>& files, const std::string& keyword, int pick,
                const ServeOptions& options)
{
    // The help files that cannot be read are said and left out.
    std::vector<std::string> served;
    for (const std::string& file : files)
        if (IsHelpFile(file))
            served.push_back(file);
    if (served.empty())
        return ExitFailed;
    ServeOptions chosen = options;
    if (!keyword.empty()) {
        std::string oem;
        if (!KeywordInOem(keyword, "keyword", oem))
            return ExitUsage;
        // The topic as help finds it; its help file is served first, so that
        // its pages are at the top of the URL.
        ShelfChoice choice = ChooseOnShelf(served, keyword, oem.c_str(), pick);
        if (!choice.chosen)
            return choice.status;
        chosen.startPage = choice.match.page.substr(1);
        if (!choice.match.anchor.empty())
            chosen.startPage += "#" + choice.match.anchor;
        served.erase(std::find(served.begin(), served.end(), choice.file));
        served.insert(served.begin(), choice.file);
    }
    return RunServer(served, chosen);
}
