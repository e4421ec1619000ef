// The topics and index commands: every topic title, or every keyword index
// entry, of a help file (those beginning with a prefix), one a line with its
// page after a tab, for scripts and shell completion.
//
// Both read the help file through the module's own readers, as a help
// request does: titles and keywords come out as the menu would show them,
// and the prefix is compared as the module compares a keyword
// (CompareAsModule: letter case ignored in any script the OEM code page has).
// The entries listed are those the help request would offer for the prefix
// from the same source (FindTopicMatches).
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "host/commands/commands.h"
#include "host/host.h"
#include "host/module/module.h"
#include "lookup/lookup.h"
#include "platform/terminal_text.h"

namespace {

// The prefix in the OEM code page, as a typed keyword is converted.
std::string OemPrefix(const std::string& prefix)
{
    std::vector<char> oem(prefix.size() * 4 + 8);
    TerminalToOem(prefix.c_str(), oem.data(), oem.size());
    return oem.data();
}

void PrintLine(const char* oemText, const std::string& page)
{
    std::string line = OemTextForDisplay(oemText);
    line += '\t';
    line += PrintableName(page.c_str());
    line += '\n';
    fwrite(line.data(), 1, line.size(), stdout);
}

int Finish(const std::string& file)
{
    if (fflush(stdout) != 0 || ferror(stdout)) {
        Complain("cannot write the listing of " + file + ": " + strerror(errno));
        return ExitFailed;
    }
    return ExitOk;
}

// The matches of prefix from one source of file's topics, or a failure said
// and false.
bool FindMatches(const std::string& file, const std::string& prefix, uint32_t source,
                 TopicMatches& matches)
{
    int result = FindTopicMatches(file.c_str(), OemPrefix(prefix).c_str(), source, CompareAsModule,
                                  TopicMatchLimit, &matches);
    if (result == TopicMatchOk)
        return true;
    if (result == TopicMatchNoMemory)
        Complain("not enough memory to read " + file);
    else if (!ExplainCut(file))
        Complain(std::string("cannot read the ") +
                 (result == TopicMatchNoTopicIndex ? "topic" : "keyword") + " index of " + file);
    return false;
}

}  // namespace

int TopicsCommand(const CommandLine& line)
{
    const std::string& file = line.arguments[0];
    std::string prefix = line.arguments.size() > 1 ? line.arguments[1] : "";
    if (!IsHelpFile(file))
        return ExitFailed;
    TopicMatches matches;
    if (!FindMatches(file, prefix, TopicFromTitle, matches))
        return ExitFailed;
    for (uint32_t k = 0; k < matches.count; ++k) {
        const TopicMatch& match = matches.matches[k];
        // A page whose name the help request could not open is left out.
        const char* page = TopicMatchText(&matches, match.page);
        if (strlen(page) < NameBufferSize)
            PrintLine(TopicMatchText(&matches, match.title), page);
    }
    ReleaseTopicMatches(&matches);
    return Finish(file);
}

int IndexCommand(const CommandLine& line)
{
    const std::string& file = line.arguments[0];
    std::string prefix = line.arguments.size() > 1 ? line.arguments[1] : "";
    if (!IsHelpFile(file))
        return ExitFailed;
    // Without a topic index a sitemap index still lists.
    TopicMatches matches;
    if (!FindMatches(file, prefix, TopicFromKeywordIndex, matches))
        return ExitFailed;
    for (uint32_t k = 0; k < matches.count; ++k) {
        const TopicMatch& match = matches.matches[k];
        std::string page = TopicMatchText(&matches, match.page);
        if (match.anchor != NoText)
            page += std::string("#") + TopicMatchText(&matches, match.anchor);
        PrintLine(TopicMatchText(&matches, match.entry), page);
    }
    ReleaseTopicMatches(&matches);
    return Finish(file);
}
