// Links between help files in the pages served: ms-its:FILE::/page.htm (and
// mk:@MSITStore: and its:) rewritten to the URLs the server gives the pages
// of FILE, so that a browser without the viewer's script (w3m, lynx) follows
// them as the viewer does.
#include <cstring>
#include <string>

#include "host/serve/serve.h"
#include "platform/text.h"

namespace {

bool IsSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

// Whether the value at html[at] names a page of a help file.
bool NamesHelpFilePage(const std::string& html, size_t at)
{
    for (const char* scheme : {"ms-its:", "mk:@msitstore:", "its:"})
        if (StartsWithFolded(html.data() + at, html.size() - at, scheme, strlen(scheme)))
            return true;
    return false;
}

}  // namespace

std::string RewriteHelpFileLinks(std::string html, const std::string& root,
                                 const std::string& label, const std::string& folder)
{
    for (size_t i = html.find('='); i != std::string::npos; i = html.find('=', i + 1)) {
        // A value after '=', quoted or not.
        size_t at = i + 1;
        while (at < html.size() && IsSpace(html[at]))
            ++at;
        char quote = at < html.size() && (html[at] == '"' || html[at] == '\'') ? html[at] : 0;
        at += quote != 0;
        if (at >= html.size() || !NamesHelpFilePage(html, at))
            continue;
        size_t end = quote ? html.find(quote, at) : html.find_first_of(" \t\r\n>", at);
        if (end == std::string::npos)
            continue;
        std::string url = LinkUrl(html.substr(at, end - at), folder);
        if (url.empty())
            continue;
        // LinkUrl's URLs are relative to the help file's own folder of URLs.
        url = url.compare(0, 3, "../") == 0 ? root + url.substr(3)
                                            : root + EncodeUrlPath(label) + "/" + url;
        html.replace(at, end - at, url);
        i = at + url.size() - 1;
    }
    return html;
}
