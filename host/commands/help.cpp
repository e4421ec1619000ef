// The help command: a keyword looked up in a help file by the module, which
// shows the matching topics in the host's menu and opens the chosen page in
// the host's viewer or editor; and the host's explanation when it could not.
// On a shelf of several help files the host joins their matches into one
// menu and has the chosen one's module answer its own menu with it.
//
// Exit status: 0 when a page was opened (or the user left the menu, or the
// topics were listed for a script to choose with --pick); 1 when no topic
// matched, the request failed or the viewer or editor failed; 2 for a usage
// error, --pick beyond the matching topics included.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "host/commands/commands.h"
#include "host/host.h"
#include "host/module/module.h"
#include "host/page/page.h"
#if defined(VELKORY_HAVE_SERVE)
#include "host/serve/serve.h"
#endif
#include "host/os/os.h"

namespace {

const char* KindName(PathKind kind)
{
    switch (kind) {
    case PathDirectory:
        return "a directory";
    case PathRegular:
        return "a file";
    case PathLink:
        return "a symbolic link";
    default:
        return "a device, a pipe or a socket";
    }
}

// Whether a page's worth of bytes (64 KB) can be written in dir now, as the
// module tried to; reason says why not (a full disk, a size limit).
bool CanWriteIn(const std::string& dir, std::string& reason)
{
    std::string probe = dir + System.pathSeparator + "velkory.probe";
    FILE* stream = fopen(probe.c_str(), "wb");
    if (!stream) {
        reason = strerror(errno);
        return false;
    }
    std::vector<char> block(64 * 1024, ' ');
    bool ok = fwrite(block.data(), 1, block.size(), stream) == block.size();
    int error = errno;
    if (fclose(stream) != 0 && ok) {
        ok = false;
        error = errno;
    }
    remove(probe.c_str());
    if (!ok)
        reason = strerror(error);
    return ok;
}

// What the host can see of a help file that the module could not use.
void ExplainHelpFailure(const std::string& file, const RequestRecord& record)
{
    // A topic was chosen when the module asked for a page directory.
    if (!record.tempName.empty()) {
        ExplainPageDirectory(file, record.tempName);
        return;
    }
    if (!ExplainCut(file))
        Complain(file + ": the topic index cannot be read");
}

#if defined(VELKORY_HAVE_SERVE)
// Whether VELKORY_VIEWER asks for the browser.
bool BrowserViewerWanted()
{
    const char* viewer = getenv("VELKORY_VIEWER");
    return viewer && strcmp(viewer, "browser") == 0;
}
#endif

#if defined(VELKORY_HAVE_SEARCH)
// Asks on the terminal whether to search the pages' text; yes unless the
// answer begins with 'n'.
bool AskToSearch(const std::string& keyword)
{
    fprintf(stderr, "velkory: search the text of its pages for '%s'? [Y/n] ", keyword.c_str());
    fflush(stderr);
    char answer[64];
    if (!fgets(answer, sizeof answer, stdin))
        return false;
    return answer[0] != 'n' && answer[0] != 'N';
}
#endif

}  // namespace

// What the host can see of a page directory it named that holds no page:
// what is at the name instead, or why the module could not write there.
void ExplainPageDirectory(const std::string& file, const std::string& name)
{
    const std::string cannot = "cannot create the page directory " + name + ": ";
    PathKind kind = PathKindAt(name, false);
    if (kind == PathMissing) {
        int error = errno;
        std::string dir = TempDirectory();
        PathKind dirKind = PathKindAt(dir, true);
        if (dirKind == PathMissing)
            Complain(cannot + "the temporary directory " + dir + " does not exist");
        else if (dirKind != PathDirectory)
            Complain(cannot + "the temporary directory " + dir + " is " + KindName(dirKind) +
                     ", not a directory");
        else
            Complain(cannot + strerror(error));
        return;
    }
    time_t modified = 0;
    if (kind != PathDirectory || !IsOwnDirectory(name, modified)) {
        Complain(cannot + KindName(kind) + (kind == PathDirectory ? " of another user" : "") +
                 " is already there");
        return;
    }
    std::string reason;
    if (!CanWriteIn(name, reason)) {
        Complain("cannot write the page into " + name + ": " + reason);
        return;
    }
    if (!ExplainCut(file))
        Complain(file + ": the chosen topic's page cannot be extracted");
}

namespace {

// Asks the module for help on keyword in file, its menu answered as options
// say, and explains what happened. The exit status.
int AskModule(const CommandLine& line, const std::string& file, const std::string& keyword,
              const char* oem, const RequestOptions& options)
{
    ModuleSession session(line.modulePath, options);
    if (!session.Begin())
        return ExitFailed;
    int32_t result = session.Help(file, oem);
    const RequestRecord& record = session.Record();

    if (record.pickOutOfRange) {
        RemovePageDirectory(record.tempName);
        return PickBeyondMatches(options.pick, (size_t)record.menuItems, keyword);
    }
    if (record.pickMismatch) {
        RemovePageDirectory(record.tempName);
        Complain(file + ": its topics changed while they were shown; nothing was opened");
        return ExitFailed;
    }
    if (result == 0) {
        ExplainHelpFailure(file, record);
        RemoveEmptyDirectory(record.tempName);
        return ExitFailed;
    }
    if (record.openFailed)
        return ExitFailed;
    if (record.menuShown && record.menuCancelled) {
        AskForPick((size_t)record.menuItems, keyword);
        return ExitOk;
    }
    if (!record.pageOpened) {
#if defined(VELKORY_HAVE_SEARCH)
        if (line.search)
            return SearchPagesInstead(line, file, keyword);
#endif
        // In a file cut short the index that would hold the keyword may be lost.
        if (ExplainCut(file))
            return ExitFailed;
        Complain("no topic title, index entry or word in the pages of " + file + " begins with '" +
                 keyword + "'");
#if defined(VELKORY_HAVE_SEARCH)
        if (IsInteractive() && AskToSearch(keyword))
            return SearchPagesInstead(line, file, keyword);
#endif
        return ExitFailed;
    }
    return ExitOk;
}

}  // namespace

int HelpCommand(const CommandLine& line)
{
    const std::string& keyword = line.arguments.back();
    if (keyword.empty())
        return UsageFailure("the keyword is empty");
    std::string oem;
    if (!KeywordInOem(keyword, "keyword", oem))
        return ExitUsage;
    std::vector<std::string> files, given(line.arguments.begin(), line.arguments.end() - 1);
    if (int status = ShelfFiles(given, files); status != ExitOk)
        return status;
    if (files.size() == 1 && !IsHelpFile(files[0]))
        return ExitFailed;
#if defined(VELKORY_HAVE_SERVE)
    int32_t modality = 0, visuality = 0;
    if (BrowserViewerWanted() && (ReadSettings(modality, visuality), visuality == 1)) {
        ServeOptions browse;
        browse.words = line.words;
        return BrowseTopic(files, keyword, line.pick, browse);
    }
#endif
    RequestOptions options;
    if (files.size() == 1) {
        // One help file: the module's own menu.
        options.pick = line.pick;
        return AskModule(line, files[0], keyword, oem.c_str(), options);
    }
    // Several: one menu of them all, and the module of the chosen one's file
    // answers its own menu with the same item.
    ShelfChoice choice = ChooseOnShelf(files, keyword, oem.c_str(), line.pick);
    if (!choice.chosen)
        return choice.status;
    options.pick = (int)choice.position + 1;
    options.expectedItem = OemTextForDisplay(choice.match.text.c_str());
    return AskModule(line, choice.file, keyword, oem.c_str(), options);
}
