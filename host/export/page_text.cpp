// The page room's text pipeline, as the exporter uses it: the one place in
// export/ where bytes of a help file become UTF-8. Pages are read in the code
// page PageCodePage gives, texts of the help file in its language's, through
// the platform's conversions (on Linux the terminal's text is UTF-8), and
// pages are rendered by the page room's renderer.
#include <algorithm>
#include <string>

#include "host/export/export.h"
#include "host/page/page.h"
#include "lookup/encoding.h"
#include "platform/platform.h"
#include "platform/terminal_text.h"

namespace {

// Width of the rendered text: the terminal viewer's usual one.
constexpr int RenderWidth = 80;

// bytes in codePage (0: the module's ANSI code page) as UTF-8, without NUL
// bytes; bytes that are no character become U+FFFD or '?'.
std::string CodePageUtf8(std::string_view bytes, unsigned codePage)
{
    if (codePage == 0)
        codePage = GetACP();
    std::string out(bytes.size() * 3 + 8, '\0');
    size_t length = 0;
    if (!CodePageToTerminal(codePage, bytes.data(), bytes.size(), out.data(), out.size(),
                            &length) &&
        !CodePageToTerminal(1252, bytes.data(), bytes.size(), out.data(), out.size(), &length))
        length = 0;
    out.resize(length);
    out.erase(std::remove(out.begin(), out.end(), '\0'), out.end());
    return out;
}

}  // namespace

std::string PageUtf8(std::string_view page, unsigned codePage)
{
    return CodePageUtf8(page, PageCodePage(std::string(page), codePage));
}

std::string HelpTextUtf8(std::string_view text, unsigned codePage)
{
    return CodePageUtf8(text, IsUtf8Text(text.data(), text.size()) ? CP_UTF8 : codePage);
}

std::string KeywordUtf8(const char* text)
{
    std::string_view bytes(text);
    return CodePageUtf8(bytes, GetOEMCP());
}

std::string RenderedPage(std::string_view page, unsigned codePage)
{
    return RenderHtmlToText(std::string(page), RenderWidth, codePage);
}
