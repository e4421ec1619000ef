// The fulltext command: the pages of a help file whose text holds a word
// beginning with WORD, as the help request's third answer finds them in the
// file's full-text index, one a line: the title the menu would show, a tab
// and the page, for scripts.
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

int FullTextCommand(const CommandLine& line)
{
    const std::string& file = line.arguments[0];
    const std::string& word = line.arguments[1];
    if (word.empty())
        return UsageFailure("the word is empty");
    std::string oem;
    if (!KeywordInOem(word, "word", oem))
        return ExitUsage;
    if (!IsHelpFile(file))
        return ExitFailed;
    TopicMatches matches;
    int found = FindTopicMatches(file.c_str(), oem.c_str(), TopicFromFullText, CompareAsModule,
                                 TopicMatchLimit, &matches);
    int result = found == TopicMatchNoMemory ? FullTextNoMemory : (int)matches.fullText;
    if (found == TopicMatchNoTopicIndex) {
        Complain("cannot read the topic index of " + file);
        return ExitFailed;
    }
    if (result != FullTextOk) {
        ReleaseTopicMatches(&matches);
        Complain(result == FullTextMissing       ? file + " has no full-text index"
                     : result == FullTextDamaged ? "the full-text index of " + file + " is damaged"
                                                 : "not enough memory to read " + file);
        return ExitFailed;
    }
    std::string out;
    for (uint32_t k = 0; k < matches.count; ++k) {
        const TopicMatch& match = matches.matches[k];
        // A page whose name the help request could not open is left out.
        const char* page = TopicMatchText(&matches, match.page);
        if (strlen(page) < NameBufferSize)
            out += OemTextForDisplay(TopicMatchText(&matches, match.title)) + '\t' +
                PrintableName(page) + '\n';
    }
    ReleaseTopicMatches(&matches);
    if (fwrite(out.data(), 1, out.size(), stdout) != out.size() || fflush(stdout) != 0) {
        Complain("cannot write the pages of " + file + ": " + strerror(errno));
        return ExitFailed;
    }
    return ExitOk;
}
