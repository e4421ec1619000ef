// velkory open TARGET: a page a program names by its place in a help file,
// opened as a help request opens the page it chose: by the module's own code
// (linked into velkory; the exports cannot be asked for a page), so with the
// settings, the page directory, the anchor and the landing a help request
// has.
//
// A help file alone opens at its default topic; --id N (-mapid N) at the
// topic of a context ID, --alias NAME at that of a name of the help project.
//
// Exit status: 0 when the page was opened, 1 when the help file, the page or
// the viewer failed, 2 for a usage error (a TARGET that names no help file).
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>

#include "container/container.h"
#include "host/commands/commands.h"
#include "host/host.h"
#include "host/module/module.h"
#include "host/os/os.h"
#include "lookup/lookup.h"
#include "platform/text.h"

bool ParseOpenTarget(const std::string& text, OpenTarget& target, std::string& error)
{
    std::string rest = text;
    for (const char* scheme : {"ms-its:", "mk:@MSITStore:", "its:"}) {
        if (StartsWithFolded(rest.data(), rest.size(), scheme, strlen(scheme))) {
            rest.erase(0, strlen(scheme));
            break;
        }
    }
    size_t separator = rest.find("::");
    target.file = rest.substr(0, separator);
    target.page.clear();
    target.anchor.clear();
    if (target.file.empty()) {
        error = "'" + text + "' names no help file (FILE::/page.htm)";
        return false;
    }
    if (separator == std::string::npos)
        return true;
    std::string page = rest.substr(separator + 2);
    page.resize(std::min(page.find('>'), page.size()));  // the window to open it in
    size_t mark = page.find('#');
    if (mark != std::string::npos) {
        target.anchor = page.substr(mark + 1);
        page.resize(mark);
    }
    for (char& c : page)
        c = c == '\\' ? '/' : c;
    if (page.empty() || page == "/") {
        error = "'" + text + "' names no page after '::'";
        return false;
    }
    target.page = page[0] == '/' ? page : "/" + page;
    return true;
}

namespace {

// The page of a help file's context ID, of a help project's name (--alias,
// defined in mapFile or in the map headers the file stores), or its default
// topic: its stored name and anchor in target. ExitOk, else the exit status
// having said why.
int ContextPage(const CommandLine& line, const std::string& file, OpenTarget& target)
{
    ContextTarget found;
    char stored[NameBufferSize];
    if (line.hasContextId) {
        if (FindContextPage(file.c_str(), line.contextId, &found)) {
            target.page = found.page;
            target.anchor = found.anchor;
            return ExitOk;
        }
        if (!ResolveStoredName(file.c_str(), ContextMapName, stored))
            Complain(file + ": it has no context map (" + ContextMapName + "), so no context ID");
        else
            Complain(file + ": no topic has the context ID " + std::to_string(line.contextId));
        return ExitFailed;
    }
    if (!line.alias.empty()) {
        std::string definitions;
        if (!line.mapFile.empty() && !ReadWholeFile(line.mapFile, definitions)) {
            Complain(line.mapFile + ": " + strerror(errno));
            return ExitFailed;
        }
        if (definitions.size() > UINT32_MAX) {
            Complain(line.mapFile + ": too large for a map header");
            return ExitFailed;
        }
        if (FindAliasPage(file.c_str(), line.alias.c_str(), &found,
                          line.mapFile.empty() ? nullptr : definitions.data(),
                          (uint32_t)definitions.size())) {
            target.page = found.page;
            target.anchor = found.anchor;
            return ExitOk;
        }
        Complain(file + ": the name '" + PrintableName(line.alias.c_str()) + "' leads to no page" +
                 (line.mapFile.empty()
                      ? " (the map headers it stores do not define it; give the project's with "
                        "--map FILE)"
                      : " (" + line.mapFile + " does not define it, or its page is not stored)"));
        return ExitFailed;
    }
    // The default topic #SYSTEM names, else the page of its window type.
    HelpFile* help = OpenHelpFile(file.c_str());
    SystemInfo info;
    char window[NameBufferSize] = "";
    bool ok = help && ReadSystemInfo(help, &info) &&
        (ResolveContextLink(help, info.defaultTopic, &found) ||
         (ReadWindowHome(help, info.defaultWindow, window),
          ResolveContextLink(help, window, &found)));
    if (help)
        CloseHelpFile(help);
    if (!ok) {
        Complain(file +
                 ": it names no default topic that is stored; name a page "
                 "(FILE::/page.htm)");
        return ExitFailed;
    }
    target.page = found.page;
    target.anchor = found.anchor;
    return ExitOk;
}

}  // namespace

int OpenStoredPage(const std::string& file, const std::string& name, const std::string& anchor)
{
    char page[NameBufferSize];
    if (name.size() >= sizeof page || !ResolveStoredName(file.c_str(), name.c_str(), page)) {
        Complain(file + ": no page " + PrintableName(name.c_str()) + " is stored");
        return ExitFailed;
    }
    std::string shown = anchor.substr(0, std::min(anchor.size(), (size_t)NameBufferSize - 1));
    LinkedRequest request({}, file);
    int opened = DisplayTopic(file.c_str(), nullptr, page, shown.empty() ? nullptr : shown.c_str());
    const RequestRecord& record = request.Record();
    if (!opened) {
        if (record.tempName.empty())
            Complain("cannot make a page directory in " + TempDirectory());
        else
            ExplainPageDirectory(file, record.tempName);
        RemoveEmptyDirectory(record.tempName);
        return ExitFailed;
    }
    return record.openFailed ? ExitFailed : ExitOk;
}

int OpenCommand(const CommandLine& line)
{
    OpenTarget target;
    std::string error;
    if (!ParseOpenTarget(line.arguments[0], target, error))
        return UsageFailure(error);
    bool byName = line.hasContextId || !line.alias.empty();
    if (line.hasContextId && !line.alias.empty())
        return UsageFailure("--id and --alias each name a topic: give one of them");
    if (!line.mapFile.empty() && line.alias.empty())
        return UsageFailure("--map gives the names of --alias, which is not given");
    if (byName && !target.page.empty())
        return UsageFailure("'" + line.arguments[0] + "' names a page; with " +
                            (line.hasContextId ? "--id" : "--alias") + " give the help file alone");
    if (!IsHelpFile(target.file))
        return ExitFailed;
    if (target.page.empty()) {
        if (int status = ContextPage(line, target.file, target); status != ExitOk)
            return status;
    }
    return OpenStoredPage(target.file, target.page, target.anchor);
}
