// Where a page opens: at the element its anchor names, else at the first line
// holding the keyword, else at the top.
//
// The module leaves the anchor of the chosen link in a file beside the page
// (lookup.h, AnchorFileName). The editor gets the page's own HTML, so the
// element is found in it directly; the viewer gets the rendered text, so a
// marker word is put into the HTML just inside the element before rendering
// and taken out of the text afterwards, wherever the renderer placed it.
// Viewers and editors known to take "+LINE" are started with it.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

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
