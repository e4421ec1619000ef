// The viewer and the editor: the page file opened in the user's pager or
// editor, or, when nobody is watching, printed so that scripts never hang.
//
// The commands come from the environment and may carry arguments; they are
// split like a shell word list (quotes and backslashes), but no shell runs
// them. The page file's path is always the last argument.
//
// The low bit of the open flags marks a non-modal open: inside tmux it gets a
// window of its own and the host returns at once; anywhere else it waits like
// a modal one.
//
// Pages for the viewer are rendered to text first: by w3m or lynx when one is
// installed, else by the host's own renderer (render.cpp).
#include <cerrno>
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
#include "platform/platform.h"

namespace {

// What the host puts beside the page: the rendered text, and the page with
// its landing marked while it is rendered.
const char RenderedFileName[] = "velkory-page.txt";
const char MarkedFileName[] = "velkory-marked.htm";

std::string Environment(const char* name)
{
    const char* value = getenv(name);
    return value ? value : "";
}

bool HasWords(const std::string& command)
{
    return !SplitCommandLine(command).empty();
}

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

// Runs argv and waits for it: its exit status, or -1 when it could not be
// started (said on stderr).
int RunAndWait(const std::vector<std::string>& argv)
{
    std::string error;
    int status = RunProgram(argv, error);
    if (status < 0)
        Complain("cannot run '" + DisplayCommand(argv) + "': " + error);
    return status;
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
// environment (the window would otherwise get the tmux server's).
std::vector<std::string> TmuxWindowCommand(const std::vector<std::string>& argv, const char* title)
{
    std::string name = title ? OemTextForDisplay(title) : std::string();
    std::vector<std::string> tmux = {"tmux", "new-window", "-n",
                                     TmuxWindowName(name.empty() ? "velkory" : name)};
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

// Runs the command on the file: in a new tmux window for a non-modal open
// inside tmux, else waiting for it; at line when the program takes one.
// Returns 1 on success; on failure the reason is on stderr.
int Launch(const std::string& command, const std::string& file, const char* title, uint32_t flags,
           size_t line)
{
    std::vector<std::string> argv = SplitCommandLine(command);
    if (argv.empty())
        return 0;
    argv.push_back(file);
    AddStartLine(argv, line);
    if (System.tmuxWindows && (flags & OpenFlagHostWindow) && !Environment("TMUX").empty()) {
        // The window cannot tell this process that the program is missing.
        if (argv[0].find('/') == std::string::npos ? !ProgramOnPath(argv[0])
                                                   : !PathExists(argv[0])) {
            Complain("cannot run '" + DisplayCommand(argv) + "': " + argv[0] + " is not found");
            return 0;
        }
        if (RunAndWait(TmuxWindowCommand(argv, title)) == 0)
            return 1;
        // Without a tmux window the page still opens, here.
    }
    int status = RunAndWait(argv);
    if (status == 0)
        return 1;
    if (status > 0) {
        // Built piece by piece: GCC 12 misreads "'" + std::string as overlapping.
        std::string message = "'";
        message += DisplayCommand(argv);
        message += "' ended with status ";
        message += std::to_string(status);
        Complain(message);
    }
    return 0;
}

int RenderWidth()
{
    const char* columns = getenv("COLUMNS");
    int width = columns ? atoi(columns) : 0;
    if (width <= 0) {
        int rows = 0;
        if (StdoutIsTerminal())
            ConsoleSize(width, rows);
    }
    if (width <= 20 || width > 400)
        width = 80;
    return width - 2;
}

// Renders a page file with w3m or lynx when one is installed, else with the
// host's own renderer; false when the file cannot be read.
bool RenderPageFile(const std::string& path, unsigned fallbackCodePage, std::string& text)
{
    const char* choice = getenv("VELKORY_RENDERER");
    std::string renderer = choice ? choice : "";
    int width = RenderWidth();
    std::string html;
    if (!ReadWholeFile(path, html))
        return false;
    // The renderers are told the page's charset, which the page may not say.
    unsigned codePage = PageCodePage(html, fallbackCodePage);
    const char* charset = CodePageCharset(codePage != 0 ? codePage : GetACP());
    std::string name = charset ? charset : "windows-1252";
    if (renderer.empty() || renderer == "w3m") {
        if (ProgramOnPath("w3m")) {
            std::string out;
            if (CaptureOutput({"w3m", "-dump", "-T", "text/html", "-I", name, "-O", "UTF-8",
                               "-cols", std::to_string(width + 2), path},
                              out)) {
                text = out;
                return true;
            }
        }
    }
    if (renderer.empty() || renderer == "lynx") {
        if (ProgramOnPath("lynx")) {
            std::string out;
            // lynx reads GBK pages (simplified Chinese) as GB2312 only.
            if (CaptureOutput({"lynx", "-dump", "-force_html", "-nolist", "-display_charset=UTF-8",
                               "-assume_charset=" + (name == "GBK" ? "GB2312" : name),
                               "-width=" + std::to_string(width + 2), path},
                              out)) {
                text = out;
                return true;
            }
        }
    }
    text = RenderHtmlToText(html, width, fallbackCodePage);
    return true;
}

// Renders the page and finds the line it opens at (landing.cpp): the place
// of the anchor, else the keyword's first line in the main content, both
// marked in a copy of the page rendered in its place, else the keyword's
// first line.
bool RenderPageAt(const std::string& path, const char* keyword, const std::string& helpFile,
                  std::string& text, size_t& line)
{
    unsigned fallbackCodePage = HelpFileCodePage(helpFile);
    std::string shownKeyword = keyword ? OemTextForDisplay(keyword) : "";
    line = 0;
    std::string html;
    LandingMark mark = LandedNowhere;
    if (ReadWholeFile(path, html))
        mark = MarkLanding(html, LandingAnchor(path, helpFile, keyword));
    if (mark != LandedNowhere) {
        std::string marked = path.substr(0, path.find_last_of("/\\") + 1) + MarkedFileName;
        FILE* stream = fopen(marked.c_str(), "wb");
        bool ok = stream && fwrite(html.data(), 1, html.size(), stream) == html.size();
        if (stream)
            ok = fclose(stream) == 0 && ok;
        ok = ok && RenderPageFile(marked, fallbackCodePage, text);
        remove(marked.c_str());
        size_t at = ok ? TakeLandingMark(text) : 0;
        if (at != 0) {
            line = mark == LandedAtAnchor ? at : FindKeywordLine(text, shownKeyword, at);
            if (line == 0)
                line = FindKeywordLine(text, shownKeyword);
            return true;
        }
    }
    if (!RenderPageFile(path, fallbackCodePage, text))
        return false;
    line = FindKeywordLine(text, shownKeyword);
    return true;
}

// The rendered page's file, beside the page.
std::string RenderedPath(const std::string& path)
{
    size_t slash = path.find_last_of("/\\");
    std::string dir = slash == std::string::npos ? "." : path.substr(0, slash);
    return dir + "/" + RenderedFileName;
}

}  // namespace

void RemovePageDirectory(const std::string& dir)
{
    if (dir.empty() || PathKindAt(dir, false) != PathDirectory)
        return;
    for (const char* name :
         {PageFileName + 1, PageNameFileName, AnchorFileName, RenderedFileName, MarkedFileName})
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

bool OpenPageInViewer(const char* path, const char* title, uint32_t flags,
                      const std::string& helpFile)
{
    std::string command = Environment("VELKORY_VIEWER");
    bool explicitCommand = HasWords(command);

    std::string text;
    size_t line = 0;
    if (!RenderPageAt(path, title, helpFile, text, line)) {
        Complain(std::string("cannot read the page ") + path + ": " + strerror(errno));
        return false;
    }
    text = TextInLocale(text);
    // Scripts get the page itself, and so does a terminal without a pager.
    if (!explicitCommand &&
        (!StdoutIsTerminal() ||
         (!HasWords(Environment("PAGER")) && !ProgramOnPath(System.defaultViewer)))) {
        fwrite(text.data(), 1, text.size(), stdout);
        fflush(stdout);
        return true;
    }
    std::string rendered = RenderedPath(path);
    FILE* stream = fopen(rendered.c_str(), "wb");
    bool ok = stream && fwrite(text.data(), 1, text.size(), stream) == text.size();
    if (stream)
        ok = fclose(stream) == 0 && ok;
    if (!ok) {
        Complain("cannot write " + rendered + ": " + strerror(errno));
        return false;
    }
    if (!explicitCommand) {
        command = Environment("PAGER");
        if (!HasWords(command))
            command = System.defaultViewer;
    }
    return Launch(command, rendered, title, flags, line) == 1;
}

bool OpenPageInEditor(const char* path, const char* title, uint32_t flags,
                      const std::string& helpFile)
{
    std::string command = Environment("VELKORY_EDITOR");
    bool explicitCommand = HasWords(command);
    if (!explicitCommand &&
        (!StdoutIsTerminal() ||
         (!HasWords(Environment("VISUAL")) && !HasWords(Environment("EDITOR")) &&
          !ProgramOnPath(System.defaultEditor)))) {
        printf("%s\n", path);
        fflush(stdout);
        return true;
    }
    if (!explicitCommand) {
        command = Environment("VISUAL");
        if (!HasWords(command))
            command = Environment("EDITOR");
        if (!HasWords(command))
            command = System.defaultEditor;
    }
    // The page itself: the anchor's place, else the keyword's first line.
    std::string html;
    size_t line = 0;
    if (ReadWholeFile(path, html))
        line = FindLandingLine(html, LandingAnchor(path, helpFile, title),
                               title ? OemTextForDisplay(title) : "");
    return Launch(command, path, title, flags, line) == 1;
}
