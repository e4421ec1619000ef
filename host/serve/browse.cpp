// velkory browse: the topic lookup that browse shares with help, and opening
// the browser.
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
#include "platform/terminal_text.h"

namespace {

// The topic URL (with its anchor) at position in #URLSTR.
std::string TopicUrl(const TopicIndex& index, uint32_t position)
{
    std::string url;
    for (uint32_t p = position; p < index.urlsLength && index.urls[p] != 0; ++p)
        url += (char)index.urls[p];
    while (!url.empty() && url[0] == '/')
        url.erase(0, 1);
    return url;
}

// The topics whose titles begin with the keyword, chosen among as help does:
// the URL of the chosen one, "" with the exit status in status otherwise.
std::string ChooseTopic(const std::string& file, const std::string& keyword, int pick, int& status)
{
    status = ExitFailed;
    std::string oem;
    if (!KeywordInOem(keyword, "keyword", oem)) {
        status = ExitUsage;
        return "";
    }
    TopicIndex index;
    if (!ReadTopicIndex(file.c_str(), &index)) {
        Complain(file + ": the topic index cannot be read");
        return "";
    }
    std::vector<MenuItem> items;
    char title[TitleBufferSize];
    int32_t length = (int32_t)strlen(oem.c_str());
    for (uint32_t record = 0; (uint64_t)record * 16 + 4 < index.topicsLength; ++record) {
        uint32_t position;
        if (!ReadTopicTitle(&index, record, title) ||
            CompareAsModule(title, oem.c_str(), length) != 0 ||
            !FindTopicUrl(&index, record, &position))
            continue;
        MenuItem item;
        memset(&item, 0, sizeof item);
        // The menu shows at most the item's 127 characters, as help's does.
        size_t keep = strnlen(title, sizeof item.text - 1);
        memcpy(item.text, title, keep);
        item.userValue = position;
        items.push_back(item);
    }
    // No title begins with the keyword: the keyword index's entries that do,
    // one item per target, named as help names them.
    KeywordIndex keywords;
    memset(&keywords, 0, sizeof keywords);
    bool fromIndex = items.empty() && ReadKeywordIndex(file.c_str(), &index, &keywords);
    for (uint32_t t = 0; fromIndex && t < keywords.count; ++t) {
        const KeywordTarget& target = keywords.targets[t];
        if (CompareAsModule(KeywordText(&keywords, target.keyword), oem.c_str(), length))
            continue;
        bool several = (t > 0 && keywords.targets[t - 1].keyword == target.keyword) ||
            (t + 1 < keywords.count && keywords.targets[t + 1].keyword == target.keyword);
        std::string text = KeywordText(&keywords, target.keyword);
        if (target.title != NoText)
            text += std::string(" - ") + KeywordText(&keywords, target.title);
        else if (several)
            text += std::string(" - ") + (KeywordText(&keywords, target.page) + 1);
        MenuItem item;
        memset(&item, 0, sizeof item);
        memcpy(item.text, text.data(), std::min(text.size(), sizeof item.text - 1));
        item.userValue = t;
        items.push_back(item);
    }
    int chosen = 0;
    if (items.empty()) {
        Complain("no topic or index entry of " + file + " begins with '" + keyword + "'");
    } else if (items.size() > 1) {
        std::vector<std::string> texts;
        for (const MenuItem& item : items)
            texts.push_back(OemTextForDisplay(item.text));
        RequestOptions options;
        options.pick = pick;
        RequestRecord record;
        chosen = ChooseFromMenu("Topics", texts, options, record);
        // As help: a --pick beyond the topics is a usage error; a menu left,
        // or topics listed for want of a terminal, is not a failure.
        if (record.pickOutOfRange) {
            if (fromIndex)
                ReleaseKeywordIndex(&keywords);
            ReleaseTopicIndex(&index);
            status = UsageFailure("--pick " + std::to_string(pick) + ": only " +
                                  std::to_string(items.size()) + " topics match '" + keyword + "'");
            return "";
        }
        if (chosen < 0 && !IsInteractive())
            Complain(std::to_string(items.size()) + " topics match '" + keyword +
                     "': choose one with --pick N");
        if (chosen < 0)
            status = ExitOk;
    }
    std::string url;
    if (!items.empty() && chosen >= 0 && chosen < (int)items.size()) {
        uint32_t value = items[(size_t)chosen].userValue;
        if (!fromIndex) {
            url = TopicUrl(index, value);
        } else {
            const KeywordTarget& target = keywords.targets[value];
            url = KeywordText(&keywords, target.page) + 1;
            if (target.anchor != NoText) {
                url += '#';
                url += KeywordText(&keywords, target.anchor);
            }
        }
    }
    if (fromIndex)
        ReleaseKeywordIndex(&keywords);
    ReleaseTopicIndex(&index);
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
