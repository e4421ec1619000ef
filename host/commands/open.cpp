// velkory open TARGET: a page a program names by its place in a help file,
// opened as a help request opens the page it chose: by the module's own code
// (linked into velkory; the exports cannot be asked for a page), so with the
// settings, the page directory, the anchor and the landing a help request
// has.
//
// Exit status: 0 when the page was opened, 1 when the help file, the page or
// the viewer failed, 2 for a usage error (a TARGET that names no page).
#include <cstring>
#include <string>

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

int OpenCommand(const CommandLine& line)
{
    OpenTarget target;
    std::string error;
    if (!ParseOpenTarget(line.arguments[0], target, error))
        return UsageFailure(error);
    if (target.page.empty())
        return UsageFailure("'" + line.arguments[0] + "' names no page (FILE::/page.htm)");
    if (!IsHelpFile(target.file))
        return ExitFailed;
    char page[NameBufferSize];
    if (target.page.size() >= sizeof page ||
        !ResolveStoredName(target.file.c_str(), target.page.c_str(), page)) {
        Complain(target.file + ": no page " + PrintableName(target.page.c_str()) + " is stored");
        return ExitFailed;
    }
    if (target.anchor.size() >= NameBufferSize)
        target.anchor.resize(NameBufferSize - 1);

    LinkedRequest request({}, target.file);
    int shown = DisplayTopic(target.file.c_str(), nullptr, page,
                             target.anchor.empty() ? nullptr : target.anchor.c_str());
    const RequestRecord& record = request.Record();
    if (!shown) {
        if (record.tempName.empty())
            Complain("cannot make a page directory in " + TempDirectory());
        else
            ExplainPageDirectory(target.file, record.tempName);
        RemoveEmptyDirectory(record.tempName);
        return ExitFailed;
    }
    return record.openFailed ? ExitFailed : ExitOk;
}
