// A page's title and visible text as UTF-8 (search.h).
//
// For now this adapts what page/ has: the page's code page by its rule
// (PageCodePage) and the renderer's text, which on Linux is UTF-8. It is to
// be replaced by page/'s own page-text call when that comes. The platform's
// code-page conversions keep their converters in shared state, so pages are
// turned into text one at a time.
#include <cstring>
#include <mutex>
#include <string>

#include "host/page/page.h"
#include "host/search/search.h"
#include "platform/text.h"

namespace {

// Renders wide enough that a paragraph is one line; rules and headings
// are drawn only as wide as their text.
constexpr int TextWidth = 200;

std::mutex conversions;

// Where, from from, the first "<" + tag (letter case ignored) begins; npos
// when nowhere.
size_t FindTag(const std::string& html, const char* tag, size_t from)
{
    size_t length = strlen(tag);
    for (size_t at = html.find('<', from); at != std::string::npos; at = html.find('<', at + 1))
        if (StartsWithFolded(html.data() + at + 1, html.size() - at - 1, tag, length))
            return at;
    return std::string::npos;
}

// Runs of white space as one space, none at either end.
std::string OneLine(const std::string& text)
{
    std::string out;
    bool space = false;
    for (char c : text) {
        if (c == ' ' || c == '\n' || c == '\t' || c == '\r') {
            space = !out.empty();
            continue;
        }
        if (space)
            out += ' ';
        space = false;
        out += c;
    }
    return out;
}

}  // namespace

bool IsPageName(const char* name)
{
    size_t length = strlen(name);
    if (length < 5 || name[0] != '/' || name[1] == '#' || name[1] == '$')
        return false;
    return StartsWithFolded(name + length - 4, 4, ".htm", 4) ||
        StartsWithFolded(name + length - 5, 5, ".html", 5);
}

PageText ReadPageText(const std::string& html, unsigned fallbackCodePage)
{
    std::lock_guard<std::mutex> hold(conversions);
    PageText page;
    page.text = RenderHtmlToText(html, TextWidth, fallbackCodePage);
    size_t open = FindTag(html, "title", 0);
    size_t start = open == std::string::npos ? open : html.find('>', open);
    if (start != std::string::npos) {
        size_t end = FindTag(html, "/title", start);
        std::string inner =
            html.substr(start + 1, end == std::string::npos ? 512 : end - start - 1);
        // The title alone, told the page's charset.
        const char* charset = CodePageCharset(PageCodePage(html, fallbackCodePage));
        if (charset)
            inner = std::string("<meta charset=\"") + charset + "\">" + inner;
        page.title = OneLine(RenderHtmlToText(inner, TextWidth, fallbackCodePage));
    }
    return page;
}
