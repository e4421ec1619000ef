// The page room's text pipeline, as the exporter uses it: pages read in the
// code page they declare (else the help file's), and rendered as the
// terminal viewer renders them.
#include <string>

#include "host/export/export.h"
#include "host/page/page.h"
#include "platform/platform.h"

namespace {

// Width of the rendered text: the terminal viewer's usual one.
constexpr int RenderWidth = 80;

}  // namespace

std::string PageUtf8(std::string_view page, unsigned codePage)
{
    return PageToUtf8(page, PageCodePage(page, codePage));
}

std::string HelpTextUtf8(std::string_view text, unsigned codePage)
{
    return TextToUtf8(text, codePage);
}

std::string KeywordUtf8(const char* text)
{
    return CodePageToUtf8(text, GetOEMCP());
}

std::string RenderedPage(std::string_view page, unsigned codePage)
{
    return RenderHtmlToText(std::string(page), RenderWidth, codePage);
}
