// Opening a page: the page file shown in the user's viewer or editor (or in
// a tmux window of its own), rendered to text for the viewer, at the line
// where it should open.
//
// Room page/: may call terminal/, os/ and the module's container/, lookup/
// and platform/.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// open.cpp: the viewer and the editor. path is the page file the module
// wrote, keyword what was asked for (in the OEM code page; the page opens at
// it), flags the module's open flags, helpFile the help file the page comes
// from (its language tells the charset of pages that do not say theirs).
// True when the page was shown; false, with the reason on stderr, when the
// viewer or editor could not start or failed.
bool OpenPageInViewer(const char* path, const char* keyword, uint32_t flags,
                      const std::string& helpFile);
bool OpenPageInEditor(const char* path, const char* keyword, uint32_t flags,
                      const std::string& helpFile);
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

// landing.cpp: where a page opens: at the element its anchor names, else at
// the first line holding the keyword, else at the top.
//
// The module leaves the anchor of the chosen link in a file beside the page
// (lookup.h, AnchorFileName). The editor gets the page's own HTML, so the
// element is found in it directly; the viewer gets the rendered text, so a
// marker word is put into the HTML just inside the element before rendering
// and taken out of the text afterwards, wherever the renderer placed it.
// Viewers and editors known to take "+LINE" are started with it.
// The anchor named beside the page file at pagePath; "" without one.
std::string ReadAnchorBeside(const std::string& pagePath);

// The line (from 1) of the first that holds keyword, ASCII letters compared
// without regard to case; 0 when none does or the keyword is empty.
size_t FindKeywordLine(const std::string& text, const std::string& keyword);

// Where in html the start tag of the element whose id or name is anchor
// begins, and where it ends (behind its ">"); false when there is none.
bool FindAnchorElement(const std::string& html, const std::string& anchor, size_t* begin,
                       size_t* end);
// The line (from 1) of that element in html; 0 when there is none.
size_t FindAnchorLine(const std::string& html, const std::string& anchor);

// Puts the marker just inside the anchor's element; false when there is none.
bool MarkAnchor(std::string& html, const std::string& anchor);
// The line (from 1) of the marker in rendered text, which loses the marker;
// 0 when the text has none.
size_t TakeAnchorMark(std::string& text);

// Adds "+line" before the last argument (the file) when argv's program is
// one known to take it and line > 1.
void AddStartLine(std::vector<std::string>& argv, size_t line);
