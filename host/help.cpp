// The help command: a keyword looked up in a help file by the module, which
// shows the matching topics in the host's menu and opens the chosen page in
// the host's viewer or editor; and the host's explanation when it could not.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <sys/stat.h>

#include "container/container.h"
#include "host/host.h"
#include "host/system.h"
#include "lookup/encoding.h"
#include "lookup/lookup.h"
#include "platform/terminal_text.h"

namespace {

// What the host can see of a help file that the module could not use.
void ExplainHelpFailure(const std::string& file)
{
    FILE* stream = fopen(file.c_str(), "rb");
    if (!stream) {
        Complain(file + ": " + strerror(errno));
        return;
    }
    char signature[4] = {0};
    size_t got = fread(signature, 1, sizeof signature, stream);
    fclose(stream);
    if (got != sizeof signature || memcmp(signature, "ITSF", 4) != 0) {
        Complain(file + ": not a help file (no ITSF signature)");
        return;
    }
    // A topic was chosen when the module asked for a page directory.
    if (!hostRecord.tempName.empty()) {
        struct stat st;
        if (stat(hostRecord.tempName.c_str(), &st) != 0)
            Complain("cannot create the page directory " + hostRecord.tempName);
        else
            Complain(file + ": the chosen topic's page cannot be extracted");
        return;
    }
    Complain(file + ": the topic index cannot be read");
}

// The ANSI code page of the help file's language, for pages that do not say
// their charset; 0 when the file does not tell.
unsigned LanguageCodePage(const std::string& file)
{
    HelpFile* help = OpenHelpFile(file.c_str());
    if (help == nullptr)
        return 0;
    SystemInfo info;
    ReadSystemInfo(help, &info);
    CloseHelpFile(help);
    return LocaleAnsiCodePage(info.lcid);
}

}  // namespace

int HelpCommand(const CommandLine& line)
{
    const std::string& file = line.arguments[0];
    const std::string& keyword = line.arguments[1];

    std::vector<char> oem(keyword.size() * 2 + 16);
    if (!TerminalToOem(keyword.c_str(), oem.data(), oem.size())) {
        Complain("the keyword '" + keyword + "' cannot be converted to the help file's code page");
        return ExitUsage;
    }

    ModuleSession session(line);
    if (!session.Begin())
        return ExitFailed;
    HelpRequest request;
    memset(&request, 0, sizeof request);
    request.helpFile = file.c_str();
    request.keyword = oem.data();
    hostRecord.languageCodePage = LanguageCodePage(file);
    int32_t result = session.Send(RequestHelp, &request, nullptr);

    if (result == 0) {
        ExplainHelpFailure(file);
        return ExitFailed;
    }
    if (hostRecord.pickOutOfRange) {
        Complain("--pick " + std::to_string(hostOptions.pick) + ": only " +
                 std::to_string(hostRecord.menuItems) + " topics match '" + keyword + "'");
        return ExitUsage;
    }
    if (hostRecord.menuShown && hostRecord.menuCancelled && !IsInteractive()) {
        Complain(std::to_string(hostRecord.menuItems) + " topics match '" + keyword +
                 "': choose one with --pick N");
    } else if (!hostRecord.menuShown && !hostRecord.pageOpened && !keyword.empty()) {
        struct stat st;
        if (stat(file.c_str(), &st) != 0)
            Complain(file + ": " + strerror(errno));
        else
            Complain("no topic of " + file + " begins with '" + keyword + "'");
    }
    return ExitOk;
}
