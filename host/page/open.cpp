// The viewer and the editor: the page file opened in the user's pager or
// editor, or, when nobody is watching, printed so that scripts never hang.
// launch.cpp starts them.
//
// Pages for the viewer are rendered to text first: by w3m or lynx when one is
// installed, else by the host's own renderer (render.cpp); a text-mode web
// browser as the viewer gets the page served instead (text_browser.cpp).
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
#include "platform/charsets.h"
#include "platform/platform.h"

namespace {

std::string Environment(const char* name)
{
    const char* value = getenv(name);
    return value ? value : "";
}

bool HasWords(const std::string& command)
{
    return !SplitCommandLine(command).empty();
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

}  // namespace

std::string PageDirectory(const std::string& path)
{
    size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? "." : path.substr(0, slash);
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
        std::string marked = PageDirectory(path) + "/" + MarkedFileName;
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

PageOutcome OpenPageInViewer(const char* path, const char* title, uint32_t flags,
                             const std::string& helpFile)
{
    std::string command = Environment("VELKORY_VIEWER");
    bool explicitCommand = HasWords(command);
    // Scripts get the page itself, and so does a terminal without a pager.
    bool print = !explicitCommand &&
        (!StdoutIsTerminal() ||
         (!HasWords(Environment("PAGER")) && !ProgramOnPath(System.defaultViewer)));
    if (!explicitCommand) {
        command = Environment("PAGER");
        if (!HasWords(command))
            command = System.defaultViewer;
    }
    std::vector<std::string> argv = SplitCommandLine(command);
    PageOutcome outcome = PageFailed;
    if (!print && IsTextBrowser(ProgramName(argv[0])) &&
        ShowInTextBrowser(argv, path, title, flags, helpFile, outcome))
        return outcome;

    std::string text;
    size_t line = 0;
    if (!RenderPageAt(path, title, helpFile, text, line)) {
        Complain(std::string("cannot read the page ") + path + ": " + strerror(errno));
        return PageFailed;
    }
    text = TextInLocale(text);
    if (print) {
        fwrite(text.data(), 1, text.size(), stdout);
        fflush(stdout);
        return PageFinished;
    }
    std::string directory = PageDirectory(path);
    std::string rendered = directory + "/" + RenderedFileName;
    FILE* stream = fopen(rendered.c_str(), "wb");
    bool ok = stream && fwrite(text.data(), 1, text.size(), stream) == text.size();
    if (stream)
        ok = fclose(stream) == 0 && ok;
    if (!ok) {
        Complain("cannot write " + rendered + ": " + strerror(errno));
        return PageFailed;
    }
    return Launch(argv, rendered, title, flags, line, directory);
}

PageOutcome OpenPageInEditor(const char* path, const char* title, uint32_t flags,
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
        return PageLeft;
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
    return Launch(SplitCommandLine(command), path, title, flags, line, PageDirectory(path));
}
