// Opening a page: the page file shown in the user's viewer or editor (or in
// a tmux window of its own), rendered to text for the viewer, at the line
// where it should open.
//
// Room page/: may call terminal/, os/ and the module's container/, lookup/
// and platform/.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// open.cpp: the viewer and the editor. path is the page file the module
// wrote, keyword what was asked for (in the OEM code page; the page opens at
// it), flags the module's open flags, helpFile the help file the page comes
// from (its language tells the charset of pages that do not say theirs).
// The viewer gets the page rendered to text; a text-mode web browser as the
// viewer (w3m, lynx, elinks, links) gets the page's URL on a velkory-serve
// that lives as long as it does (text_browser.cpp), so that links work.
enum PageOutcome {
    PageFailed,    // the viewer or editor could not start or failed (said on stderr)
    PageFinished,  // shown and done with: a modal viewer or editor has ended,
                   // or the page was printed; its directory can go
    PageLeft,      // shown and left as it is: in a window of its own, named
                   // for a script, or after a non-modal open that waited
};
PageOutcome OpenPageInViewer(const char* path, const char* keyword, uint32_t flags,
                             const std::string& helpFile);
PageOutcome OpenPageInEditor(const char* path, const char* keyword, uint32_t flags,
                             const std::string& helpFile);

// launch.cpp: starting the viewer or the editor, and the page directory.
// The page directory's record of the process that shows its page.
constexpr char ViewerRecordFileName[] = "velkory.viewer";
enum ViewerState {
    ViewerUnrecorded,  // no record (or one that names no process)
    ViewerRunning,
    ViewerGone,
};
ViewerState PageViewerState(const std::string& dir);
// Removes what the module and the host put into the page directory dir (the
// page, the files beside it, the rendered text, the record), and dir itself
// when nothing else is left in it.
void RemovePageDirectory(const std::string& dir);
// Splits a command held in a variable like a shell word list, without a shell.
std::vector<std::string> SplitCommandLine(const std::string& text);

// The text pipeline: a help file's bytes go to UTF-8 here, once, and the
// renderer, the search and the server work on UTF-8 from then on.
//
// charset.cpp: bytes in a charset to UTF-8.
// Bytes in codePage (a Windows code page number, CP_UTF8 included; 0 for the
// module's ANSI code page) as UTF-8, through the system's MultiByteToWideChar
// (the module's own on Linux): bytes that are no character become U+FFFD
// (from UTF-8, one for each byte) or '?'. Windows-1252 is the text unit's
// table, and stands in for a code page the system cannot convert.
std::string CodePageToUtf8(std::string_view bytes, unsigned codePage);
// A help file's text (its title, a contents entry, a keyword): UTF-8 as it is
// when its bytes are UTF-8, else read in codePage.
std::string TextToUtf8(std::string_view bytes, unsigned codePage);
// The code page a page is in: the charset it declares (<meta charset>, or the
// charset of a Content-Type <meta>), else UTF-8 when its bytes are UTF-8
// beyond ASCII, else fallbackCodePage (the help file's language), else the
// module's ANSI code page.
unsigned PageCodePage(std::string_view page, unsigned fallbackCodePage);

// The code page a page declares in its first 4096 bytes, by <meta
// charset="..."> or the charset parameter of a <meta ... content="...">; 0
// when it declares none it knows.
unsigned DeclaredCodePage(const char* page, size_t size);
// A page's bytes in codePage as UTF-8, without the NUL bytes no page means.
std::string PageToUtf8(std::string_view page, unsigned codePage);
// The ANSI code page of the help file's language; 0 when it does not tell.
unsigned HelpFileCodePage(const std::string& helpFile);

// Within this room. What the host puts beside the page: the rendered text,
// and the page with its landing marked while it is rendered.
constexpr char RenderedFileName[] = "velkory-page.txt";
constexpr char MarkedFileName[] = "velkory-marked.htm";
// Runs argv with target (a file or a URL) as its last argument, at line when
// the program takes one: in a new tmux window for a non-modal open inside
// tmux, else waiting for it. The process that shows the page is recorded in
// pageDirectory and told to shownBy (with whether it is a tmux window's).
// Failures are said on stderr.
PageOutcome Launch(std::vector<std::string> argv, const std::string& target, const char* title,
                   uint32_t flags, size_t line, const std::string& pageDirectory,
                   const std::function<void(uint64_t, bool)>& shownBy = {});
// open.cpp: the directory of the page file at path.
std::string PageDirectory(const std::string& path);
// Renders the page file at path and finds the line it opens at.
bool RenderPageAt(const std::string& path, const char* keyword, const std::string& helpFile,
                  std::string& text, size_t& line);
// text_browser.cpp: whether program (a name without its directory) is a
// text-mode web browser; shows the page in it, at its URL on a velkory-serve
// started for it. False, having shown nothing, when the page cannot be
// served (said on stderr unless it is not known which page it is).
bool IsTextBrowser(const std::string& program);
bool ShowInTextBrowser(const std::vector<std::string>& argv, const std::string& path,
                       const char* keyword, uint32_t flags, const std::string& helpFile,
                       PageOutcome& outcome);
// The path of velkory-serve: beside the program, else where the install puts
// it.
std::string ServerProgramPath();
// A stored name or an anchor as a URL's path or fragment: percent-encoded,
// '/' kept.
std::string EncodeUrlPath(const std::string& name);

// markup.cpp: UTF-8 text written into HTML or XHTML, for the server and the
// exporter alike: &, < and > as references; in an attribute's value (quoted
// with ") also ", newline and tab. Carriage returns, other control characters
// and characters XML cannot hold are left out; a byte that is not UTF-8
// becomes U+FFFD.
std::string EscapeMarkup(std::string_view utf8, bool attribute = false);

// page_text.cpp: a page as text, for the search and the exporter.
struct PageText {
    unsigned codePage = 0;  // the code page the page was read in (PageCodePage)
    std::string html;       // the page as UTF-8 (PageToUtf8)
    // Its first <title>: references decoded, white space collapsed, cut at
    // a character boundary to at most MaxTitleBytes; "" without one.
    std::string title;
    // What a reader sees of it: no tags, scripts, styles or title, character
    // references decoded, white space collapsed to single spaces, and each
    // boundary of a block (paragraph, heading, list item, table row, line
    // break, ...) one newline; no empty lines, none at the start.
    std::string text;
};
constexpr size_t MaxTitleBytes = 300;
// The page's bytes and the help file's code page (0 when unknown) as text.
PageText ReadPageText(std::string_view page, unsigned fallbackCodePage);
// The same for a page already in UTF-8: its title and visible text.
void ReadUtf8PageText(std::string_view html, std::string& title, std::string& text);

// render.cpp: HTML to plain text in the terminal's encoding, wrapped to width.
// The page is read in PageCodePage(html, fallbackCodePage).
std::string RenderHtmlToText(const std::string& html, int width, unsigned fallbackCodePage = 0);

// landing.cpp: where a page opens: at the element its anchor names (the
// first line of its table row, or the heading it is in or that comes just
// before it), else at the first line holding the keyword inside the page's
// main content (<main>, role="main", Sphinx's div.body, else from the first
// <h1>), else at its first line holding the keyword, else at the top.
//
// The module leaves the page's stored name and the anchor of the chosen link
// in files beside the page (lookup.h, PageNameFileName and AnchorFileName).
// The editor gets the page's own HTML, so the place is found in it directly;
// the viewer gets the rendered text, so a marker word is put into the HTML
// where the page should open before rendering, and taken out of the text
// afterwards, wherever the renderer placed it.
// Viewers and editors known to take "+LINE" are started with it.

// The first line of the file fileName beside the page file at pagePath; ""
// without one.
std::string ReadBesidePage(const std::string& pagePath, const char* fileName);
// The anchor the page at pagePath opens at: the one named beside it, else,
// for a page chosen by its title, the anchor of the first keyword index entry
// of helpFile that begins with keyword (in the OEM code page) and leads to
// the same page; "" for none.
std::string LandingAnchor(const std::string& pagePath, const std::string& helpFile,
                          const char* keyword);

// The line (from 1) of the first that holds keyword at or after line
// fromLine, letters compared without regard to case; 0 when none does or
// the keyword is empty.
size_t FindKeywordLine(const std::string& text, const std::string& keyword, size_t fromLine = 1);

// Where in html the start tag of the element whose id or name is anchor
// begins, and where it ends (behind its ">"); false when there is none.
bool FindAnchorElement(const std::string& html, const std::string& anchor, size_t* begin,
                       size_t* end);
// The line (from 1) in html where the page opens for the anchor; 0 when no
// element has that name.
size_t FindAnchorLine(const std::string& html, const std::string& anchor);
// The line (from 1) in html where the page opens for the anchor, else for the
// keyword; 0 for the top.
size_t FindLandingLine(const std::string& html, const std::string& anchor,
                       const std::string& keyword);

// Puts the marker where the page should open: at the anchor's place, else
// at the start of the main content.
enum LandingMark {
    LandedNowhere,
    LandedAtAnchor,
    LandedAtRegion,
};
LandingMark MarkLanding(std::string& html, const std::string& anchor);
// The line (from 1) of the marker in rendered text, which loses the marker
// (and the line it alone made); 0 when the text has none.
size_t TakeLandingMark(std::string& text);

// Adds "+line" before the last argument (the file) when argv's program is
// one known to take it and line > 1.
void AddStartLine(std::vector<std::string>& argv, size_t line);
// A program's name without its directory (and its ".exe" or ".com").
std::string ProgramName(const std::string& command);

// topic_matches.cpp: the topics of a help file that match keyword (in the
// OEM code page) as the module's help request finds them (FindTopicMatches),
// in the order of its menu: titles that begin with it, else keyword index
// entries that do, else pages whose text holds it. False when the help
// file's indexes cannot be read.
struct MatchedTopic {
    std::string text;    // the menu item's text, in the OEM code page
    std::string page;    // the stored name the link gives, "/" first
    std::string anchor;  // "" without one
};
bool ListTopicMatches(const std::string& file, const char* keyword,
                      std::vector<MatchedTopic>& matches);
// The same from the A-link index: the pages that name themselves for an
// associative link that begins with name, offered as keyword index entries
// are. False when the topic index or the A-link index cannot be read.
bool ListAlinkMatches(const std::string& file, const char* name,
                      std::vector<MatchedTopic>& matches);

// Compares the first count bytes of text with keyword as the module does
// (letters without regard to case): <0, 0 or >0.
int CompareAsModule(const char* text, const char* keyword, int32_t count);

// serve_address_posix.cpp: the browser view's token and port, kept from run
// to run in a file beside the settings file (velkory-serve writes it).
struct KeptAddress {
    std::string token;  // 32 hex digits
    int port = 0;       // 0: none yet
};
enum AddressRead {
    AddressKept,
    AddressMissing,
    AddressUntrusted,  // not the user's alone, not a plain file, or unreadable
};
std::string AddressFilePath();  // "" when none can be formed
AddressRead ReadAddress(const std::string& path, KeptAddress& address);
