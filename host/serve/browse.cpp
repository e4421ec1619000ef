// velkory browse: the topic lookup that browse shares with help, and opening
// the browser.
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
#include "platform/terminal_text.h"

namespace {

// The topics that match the keyword, chosen among as help does (the same
// matches, the same menu): the URL of the chosen one with its anchor, "" with
// the exit status in status otherwise.
std::string ChooseTopic(const std::string& file, const std::string& keyword, int pick, int& status)
{
    status = ExitFailed;
    std::string oem;
    if (!KeywordInOem(keyword, "keyword", oem)) {
        status = ExitUsage;
        return "";
    }
    TopicMatches matches;
    int found = FindTopicMatches(file.c_str(), oem.c_str(), TopicFromAny, CompareAsModule,
                                 TopicMatchLimit, &matches);
    if (found != TopicMatchOk) {
        Complain(found == TopicMatchNoMemory ? "not enough memory to read " + file
                     : found == TopicMatchNoTopicIndex
                     ? file + ": the topic index cannot be read"
                     : file + ": the keyword index cannot be read");
        return "";
    }
    MenuItem* items = nullptr;
    int32_t count = 0;
    if (!TopicMenuItems(&matches, &items, &count)) {
        ReleaseTopicMatches(&matches);
        Complain("not enough memory to read " + file);
        return "";
    }
    int chosen = 0;
    if (count == 0) {
        Complain("no topic or index entry of " + file + " begins with '" + keyword + "'");
    } else if (count > 1) {
        std::vector<std::string> texts;
        for (int32_t k = 0; k < count; ++k)
            texts.push_back(OemTextForDisplay(items[k].text));
        RequestOptions options;
        options.pick = pick;
        RequestRecord record;
        chosen = ChooseFromMenu("Topics", texts, options, record);
        // As help: a --pick beyond the topics is a usage error; a menu left,
        // or topics listed for want of a terminal, is not a failure.
        if (record.pickOutOfRange) {
            free(items);
            ReleaseTopicMatches(&matches);
            status = UsageFailure("--pick " + std::to_string(pick) + ": only " +
                                  std::to_string(count) + " topics match '" + keyword + "'");
            return "";
        }
        if (chosen < 0 && !IsInteractive())
            Complain(std::to_string(count) + " topics match '" + keyword +
                     "': choose one with --pick N");
        if (chosen < 0)
            status = ExitOk;
    }
    free(items);
    std::string url;
    if (chosen >= 0 && chosen < count) {
        const TopicMatch& match = matches.matches[chosen];
        url = TopicMatchText(&matches, match.page);
        while (!url.empty() && url[0] == '/')
            url.erase(0, 1);
        if (match.anchor != NoText)
            url += std::string("#") + TopicMatchText(&matches, match.anchor);
    }
    ReleaseTopicMatches(&matches);
    return url;
}

}  // namespace

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

int BrowseTopic(const std::string& file, const std::string& keyword, int pick,
                const ServeOptions& options)
{
    if (!IsHelpFile(file))
        return ExitFailed;
    ServeOptions chosen = options;
    if (!keyword.empty()) {
        int status = ExitOk;
        chosen.startPage = ChooseTopic(file, keyword, pick, status);
        if (chosen.startPage.empty())
            return status;
    }
    return RunServer({file}, chosen);
}
