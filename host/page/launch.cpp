// Starting the viewer or the editor on a page, and the page directory's
// record of who shows it.
//
// The commands come from the environment and may carry arguments; they are
// split like a shell word list (quotes and backslashes), but no shell runs
// them. What they show (the page file, or its URL) is always the last
// argument.
//
// The low bit of the open flags marks a non-modal open: inside tmux it gets a
// window of its own and the host returns at once; anywhere else it waits like
// a modal one. The process that shows the page (the program, or the tmux
// window's) is recorded in the page directory, so that `velkory clean` can
// tell a page still shown from one left behind.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "frame/host_api.h"
#include "host/host.h"
#include "host/os/os.h"
#include "host/page/page.h"
#include "lookup/lookup.h"

namespace {

std::string DisplayCommand(const std::vector<std::string>& argv)
{
    std::string out;
    for (const std::string& arg : argv) {
        if (!out.empty())
            out += ' ';
        out += arg;
    }
    return out;
}

// An argument for tmux taken as it is: one that ends in ';' would end the
// tmux command there, unless the ';' is escaped.
std::string TmuxLiteral(std::string text)
{
    if (!text.empty() && text.back() == ';') {
        text.pop_back();
        text += "\\;";
    }
    return text;
}

// A window name shown as it is: tmux expands formats (#{...}, #(...)) in it.
std::string TmuxWindowName(const std::string& name)
{
    std::string out;
    for (char c : name) {
        out += c;
        if (c == '#')
            out += '#';
    }
    return TmuxLiteral(out);
}

// The tmux command that runs argv in a new window with this process's
// environment (the window would otherwise get the tmux server's), and prints
// the window's process number.
std::vector<std::string> TmuxWindowCommand(const std::vector<std::string>& argv, const char* title)
{
    std::string name = title ? OemTextForDisplay(title) : std::string();
    std::vector<std::string> tmux = {
        "tmux", "new-window", "-n",         TmuxWindowName(name.empty() ? "velkory" : name),
        "-P",   "-F",         "#{pane_pid}"};
    for (const std::string& variable : EnvironmentList()) {
        if (variable.compare(0, 10, "TMUX_PANE=") == 0 || variable.find('=') == std::string::npos)
            continue;  // the window has a pane of its own
        tmux.push_back("-e");
        tmux.push_back(TmuxLiteral(variable));
    }
    tmux.push_back("--");
    for (const std::string& arg : argv)
        tmux.push_back(TmuxLiteral(arg));
    return tmux;
}

std::string RecordPath(const std::string& pageDirectory)
{
    return pageDirectory + System.pathSeparator + ViewerRecordFileName;
}

// Notes in the page directory the process that shows its page.
void RecordViewer(const std::string& pageDirectory, uint64_t process)
{
    std::string identity = ProcessIdentity(process);
    if (pageDirectory.empty() || identity.empty())
        return;
    FILE* out = fopen(RecordPath(pageDirectory).c_str(), "wb");
    if (!out)
        return;
    bool written = fwrite(identity.data(), 1, identity.size(), out) == identity.size();
    if (fclose(out) != 0 || !written)
        remove(RecordPath(pageDirectory).c_str());
}

}  // namespace

PageOutcome Launch(std::vector<std::string> argv, const std::string& target, const char* title,
                   uint32_t flags, size_t line, const std::string& pageDirectory,
                   const std::function<void(uint64_t, bool)>& shownBy)
{
    if (argv.empty())
        return PageFailed;
    argv.push_back(target);
    AddStartLine(argv, line);
    auto shown = [&](uint64_t process, bool window) {
        RecordViewer(pageDirectory, process);
        if (shownBy)
            shownBy(process, window);
    };
    bool modal = !(flags & OpenFlagHostWindow);
    if (System.tmuxWindows && !modal && getenv("TMUX") && *getenv("TMUX")) {
        // The window cannot tell this process that the program is missing.
        if (argv[0].find('/') == std::string::npos ? !ProgramOnPath(argv[0])
                                                   : !PathExists(argv[0])) {
            Complain("cannot run '" + DisplayCommand(argv) + "': " + argv[0] + " is not found");
            return PageFailed;
        }
        std::string window;
        if (CaptureOutput(TmuxWindowCommand(argv, title), window)) {
            uint64_t process = strtoull(window.c_str(), nullptr, 10);
            if (process != 0)
                shown(process, true);
            return PageLeft;
        }
        // Without a tmux window the page still opens, here.
    }
    std::string error;
    int status = RunProgram(argv, error, [&](uint64_t process) { shown(process, false); });
    if (status == 0)
        return modal ? PageFinished : PageLeft;
    if (status < 0) {
        Complain("cannot run '" + DisplayCommand(argv) + "': " + error);
    } else {
        // Built piece by piece: GCC 12 misreads "'" + std::string as overlapping.
        std::string message = "'";
        message += DisplayCommand(argv);
        message += "' ended with status ";
        message += std::to_string(status);
        Complain(message);
    }
    return PageFailed;
}

ViewerState PageViewerState(const std::string& dir)
{
    FILE* in = fopen(RecordPath(dir).c_str(), "rb");
    if (!in)
        return ViewerUnrecorded;
    char buffer[64];
    size_t got = fread(buffer, 1, sizeof buffer, in);
    fclose(in);
    std::string identity(buffer, got);
    // A record that names no process is no record.
    if (got == sizeof buffer || identity.empty() ||
        identity.find_first_not_of("0123456789 ") != std::string::npos || identity[0] == '0')
        return ViewerUnrecorded;
    return ProcessRuns(identity) ? ViewerRunning : ViewerGone;
}

void RemovePageDirectory(const std::string& dir)
{
    if (dir.empty() || PathKindAt(dir, false) != PathDirectory)
        return;
    for (const char* name : {PageFileName + 1, PageNameFileName, AnchorFileName, RenderedFileName,
                             MarkedFileName, ViewerRecordFileName})
        remove((dir + System.pathSeparator + name).c_str());
    RemoveEmptyDirectory(dir);
}

std::vector<std::string> SplitCommandLine(const std::string& text)
{
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    size_t i = 0;
    while (i < text.size()) {
        char c = text[i];
        if (c == ' ' || c == '\t' || c == '\n') {
            if (inWord)
                words.push_back(word);
            word.clear();
            inWord = false;
            ++i;
            continue;
        }
        inWord = true;
        if (c == '\'') {
            size_t end = text.find('\'', i + 1);
            if (end == std::string::npos)
                end = text.size();
            word += text.substr(i + 1, end - i - 1);
            i = end + 1;
        } else if (c == '"') {
            ++i;
            while (i < text.size() && text[i] != '"') {
                if (text[i] == '\\' && i + 1 < text.size() &&
                    strchr(ShellBackslashes ? "\"\\$`" : "\"", text[i + 1]) != nullptr)
                    ++i;
                word += text[i++];
            }
            ++i;
        } else if (c == '\\' && ShellBackslashes) {
            // Outside quotes a backslash keeps the next character as it is.
            if (i + 1 < text.size())
                word += text[i + 1];
            i += 2;
        } else {
            word += c;
            ++i;
        }
    }
    if (inWord)
        words.push_back(word);
    return words;
}
