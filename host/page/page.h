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

// render.cpp: HTML to plain text in the terminal's encoding, wrapped to width.
// The page is in the charset it declares (<meta charset>, or the charset of a
// Content-Type <meta>), else in UTF-8 when its bytes are UTF-8 beyond ASCII,
// else in fallbackCodePage (the help file's language), else in the module's
// ANSI code page.
std::string RenderHtmlToText(const std::string& html, int width, unsigned fallbackCodePage = 0);
// The code page a page is in by that rule; 0 for the module's ANSI code page.
unsigned PageCodePage(const std::string& html, unsigned fallbackCodePage);
// The ANSI code page of the help file's language; 0 when it does not tell.
unsigned HelpFileCodePage(const std::string& helpFile);

// charset.cpp: character sets as pages name them (the names are the table of
// platform/charsets.h).
// The code page a page declares in its first 4096 bytes, by <meta
// charset="..."> or the charset parameter of a <meta ... content="...">; 0
// when it declares none it knows.
unsigned DeclaredCodePage(const char* page, size_t size);
// references.cpp: the character reference at text[i] == '&': the position
// after it, with its character in cp; i when it is not a reference.
size_t DecodeReference(const std::string& text, size_t i, uint32_t& cp);

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
