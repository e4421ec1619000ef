// The topics and index commands: every topic title, or every keyword index
// entry, of a help file (those beginning with a prefix), one a line with its
// page after a tab, for scripts and shell completion.
//
// Both read the help file through the module's own readers, as a help
// request does: titles and keywords come out as the menu would show them,
// and the prefix is compared as the module compares a keyword
// (CompareAsModule: letter case ignored in any script the OEM code page has).
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

bool BeginsWith(const char* text, const std::string& prefix)
{
    return CompareAsModule(text, prefix.c_str(), (int32_t)prefix.size()) == 0;
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

}  // namespace

int TopicsCommand(const CommandLine& line)
{
    const std::string& file = line.arguments[0];
    std::string prefix = line.arguments.size() > 1 ? line.arguments[1] : "";
    if (!IsHelpFile(file))
        return ExitFailed;
    TopicIndex index;
    if (!ReadTopicIndex(file.c_str(), &index)) {
        if (!ExplainCut(file))
            Complain("cannot read the topic index of " + file);
        return ExitFailed;
    }
    std::string oemPrefix = OemPrefix(prefix);
    char title[TitleBufferSize];
    char page[NameBufferSize];
    for (uint32_t record = 0;
         index.topicsLength > 12 && (uint64_t)record * 16 + 4 < index.topicsLength; ++record) {
        uint32_t position;
        if (!ReadTopicTitle(&index, record, title) || title[0] == '\0' ||
            !BeginsWith(title, oemPrefix) || !FindTopicUrl(&index, record, &position) ||
            !BuildPageName(&index, position, page))
            continue;
        PrintLine(title, page);
    }
    ReleaseTopicIndex(&index);
    return Finish(file);
}

int IndexCommand(const CommandLine& line)
{
    const std::string& file = line.arguments[0];
    std::string prefix = line.arguments.size() > 1 ? line.arguments[1] : "";
    if (!IsHelpFile(file))
        return ExitFailed;
    // Without a topic index a sitemap index still lists.
    TopicIndex topics;
    if (!ReadTopicIndex(file.c_str(), &topics))
        memset(&topics, 0, sizeof topics);
    KeywordIndex index;
    int read = ReadKeywordIndex(file.c_str(), &topics, &index);
    ReleaseTopicIndex(&topics);
    if (!read) {
        if (!ExplainCut(file))
            Complain("cannot read the keyword index of " + file);
        return ExitFailed;
    }
    std::string oemPrefix = OemPrefix(prefix);
    for (uint32_t t = 0; t < index.count; ++t) {
        const KeywordTarget& target = index.targets[t];
        const char* keyword = KeywordText(&index, target.keyword);
        if (!BeginsWith(keyword, oemPrefix))
            continue;
        std::string page = KeywordText(&index, target.page);
        if (target.anchor != NoText)
            page += std::string("#") + KeywordText(&index, target.anchor);
        PrintLine(keyword, page);
    }
    ReleaseKeywordIndex(&index);
    return Finish(file);
}
