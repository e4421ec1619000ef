// The pages the server writes itself, in plain HTML that needs no script:
// the library of the help files served, with a search of all of them; a help
// file's contents and index as links (for browsers without scripts); and
// what a page that cannot be read shows instead.
#include <cstdio>
#include <string>

#include <nlohmann/json.hpp>

#include "host/host.h"
#include "host/page/page.h"
#include "host/serve/serve.h"

namespace {

constexpr size_t MaxLibraryHits = 50;

// The primary languages of Windows' language identifiers (the LCID's low 10
// bits), and the Chinese ones whose script the sublanguage decides.
struct Language {
    uint32_t id;
    const char* name;
};
const Language Languages[] = {
    {0x01, "Arabic"},     {0x02, "Bulgarian"},  {0x03, "Catalan"},    {0x05, "Czech"},
    {0x06, "Danish"},     {0x07, "German"},     {0x08, "Greek"},      {0x09, "English"},
    {0x0A, "Spanish"},    {0x0B, "Finnish"},    {0x0C, "French"},     {0x0D, "Hebrew"},
    {0x0E, "Hungarian"},  {0x0F, "Icelandic"},  {0x10, "Italian"},    {0x11, "Japanese"},
    {0x12, "Korean"},     {0x13, "Dutch"},      {0x14, "Norwegian"},  {0x15, "Polish"},
    {0x16, "Portuguese"}, {0x18, "Romanian"},   {0x19, "Russian"},    {0x1A, "Croatian"},
    {0x1B, "Slovak"},     {0x1C, "Albanian"},   {0x1D, "Swedish"},    {0x1E, "Thai"},
    {0x1F, "Turkish"},    {0x20, "Urdu"},       {0x21, "Indonesian"}, {0x22, "Ukrainian"},
    {0x23, "Belarusian"}, {0x24, "Slovenian"},  {0x25, "Estonian"},   {0x26, "Latvian"},
    {0x27, "Lithuanian"}, {0x29, "Persian"},    {0x2A, "Vietnamese"}, {0x2B, "Armenian"},
    {0x2D, "Basque"},     {0x2F, "Macedonian"}, {0x36, "Afrikaans"},  {0x37, "Georgian"},
    {0x39, "Hindi"},      {0x3E, "Malay"},      {0x41, "Swahili"},
};

std::string SizeText(uint64_t bytes)
{
    char text[32];
    if (bytes < 1024)
        snprintf(text, sizeof text, "%llu bytes", (unsigned long long)bytes);
    else if (bytes < 1024 * 1024)
        snprintf(text, sizeof text, "%llu KB", (unsigned long long)((bytes + 512) / 1024));
    else
        snprintf(text, sizeof text, "%.1f MB", (double)bytes / (1024.0 * 1024.0));
    return text;
}

std::string TitleOf(const ServedFile& served)
{
    return served.title.empty() ? TextToUtf8(served.label, Windows1252) : served.title;
}

// Text as the value of a URL's query: a path's escapes, and those of the
// characters that end a value or stand for a space there.
std::string QueryValue(const std::string& text)
{
    std::string out;
    for (char c : EncodeUrlPath(text)) {
        if (c == '&' || c == '+' || c == '=' || c == ';') {
            char escape[4];
            snprintf(escape, sizeof escape, "%%%02X", (unsigned char)c);
            out += escape;
        } else {
            out += c;
        }
    }
    return out;
}

// The beginning of a page: its title, the viewer's style and theme.
std::string PageHead(const std::string& title, const std::string& root, const char* bodyClass)
{
    std::string html = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
                       "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
                       "<title>";
    html.append(HtmlText(title)).append("</title>\n<link rel=\"stylesheet\" href=\"");
    html.append(root).append("~velkory/viewer.css\">\n<script src=\"");
    html.append(root).append("~velkory/theme.js\"></script>\n</head>\n<body class=\"");
    html.append(bodyClass).append("\">\n");
    return html;
}

// A hit's snippet as a paragraph, its matches marked.
std::string MarkedSnippet(const FoundPage& hit)
{
    if (hit.snippet.empty())
        return "";
    std::string html = "<p class=\"snippet\">";
    size_t at = 0;
    for (const auto& [start, end] : hit.marks) {
        if (start < at || end > hit.snippet.size())
            continue;
        html += HtmlText(hit.snippet.substr(at, start - at)) + "<mark>" +
            HtmlText(hit.snippet.substr(start, end - start)) + "</mark>";
        at = end;
    }
    return html + HtmlText(hit.snippet.substr(at)) + "</p>";
}

}  // namespace

std::string LanguageName(uint32_t lcid)
{
    if ((lcid & 0x3FF) == 0x04)
        return (lcid == 0x0404 || lcid == 0x0C04 || lcid == 0x1404) ? "Chinese (Traditional)"
                                                                    : "Chinese (Simplified)";
    for (const Language& language : Languages)
        if (language.id == (lcid & 0x3FF))
            return language.name;
    return "";
}

std::string LibraryPage(Library& library, const std::string& root, const std::string& query)
{
    std::string html = PageHead("Help files", root, "library");
    html += "<header>\n<h1>Help files</h1>\n<div id=\"tools\"></div>\n</header>\n<main "
            "id=\"library\">\n"
            "<form role=\"search\" method=\"get\" action=\"" +
        HtmlText(root) +
        "\">\n<label for=\"q\">Search every help file</label>\n"
        "<input id=\"q\" name=\"q\" type=\"search\" value=\"" +
        HtmlText(query) + "\">\n<button type=\"submit\">Search</button>\n</form>\n";
    if (!query.empty()) {
        size_t waiting = 0;
        LibraryProgress(library, waiting);
        std::string error;
        std::vector<FoundPage> hits =
            SearchPages(library, nullptr, query, MaxLibraryHits, false, error);
        html +=
            "<section aria-labelledby=\"found\">\n<h2 id=\"found\">Pages that hold \xE2\x80\x9C" +
            HtmlText(query) + "\xE2\x80\x9D</h2>\n";
        if (!error.empty())
            html += "<p class=\"note\" role=\"status\">" + HtmlText(error) + "</p>\n";
        if (waiting > 0)
            html += "<p class=\"note\" role=\"status\">" + std::to_string(waiting) +
                (waiting == 1 ? " help file is" : " help files are") +
                " still being read: search again in a moment.</p>\n";
        if (hits.empty() && waiting == 0 && error.empty())
            html += "<p class=\"note\" role=\"status\">No page holds every word.</p>\n";
        if (!hits.empty()) {
            html += "<ol class=\"list\">\n";
            for (const FoundPage& hit : hits)
                html += "<li><a href=\"" +
                    HtmlText(root + EncodeUrlPath(hit.file->label) +
                             "/?highlight=" + QueryValue(query) + "#" + PageUrl(hit.name)) +
                    "\">" + HtmlText(hit.title) + "</a> <span class=\"where\">" +
                    HtmlText(TitleOf(*hit.file)) + "</span>" + MarkedSnippet(hit) + "</li>\n";
            html += "</ol>\n";
        }
        html += "</section>\n";
    }
    html += "<table>\n<caption>The help files served</caption>\n<thead><tr><th scope=\"col\">"
            "Title</th><th scope=\"col\">File</th><th scope=\"col\">Language</th>"
            "<th scope=\"col\">Size</th></tr></thead>\n<tbody>\n";
    for (size_t f = 0; ServedFile* served = ServedFileAt(library, f); ++f) {
        if (!served->background)
            continue;  // not given: opened for a link
        std::string language = LanguageName(served->lcid);
        html += "<tr><td><a href=\"" + HtmlText(root + EncodeUrlPath(served->label) + "/") + "\">" +
            HtmlText(TitleOf(*served)) + "</a>";
        if (!served->damage.empty())
            html += " <span class=\"damage\">(" + HtmlText(served->damage) + ")</span>";
        html += "</td><td>" + HtmlText(TextToUtf8(served->label, Windows1252)) + "</td><td>" +
            HtmlText(language.empty() ? "unknown" : language) + "</td><td>" +
            SizeText(served->size) + "</td></tr>\n";
    }
    return html + "</tbody>\n</table>\n</main>\n</body>\n</html>\n";
}

std::string PlainPage(ServedFile& served, const std::string& root, bool contents)
{
    std::string base = root + EncodeUrlPath(served.label) + "/";
    std::string title = TitleOf(served);
    const char* name = contents ? "Contents" : "Index";
    const char* other = contents ? "Index" : "Contents";
    std::string html = PageHead(std::string(name) + " \xE2\x80\x94 " + title, root, "plain");
    html.append("<h1>").append(HtmlText(title)).append("</h1>\n<p>");
    if (!served.home.empty())
        html.append("<a href=\"")
            .append(HtmlText(base + PageUrl(served.home)))
            .append("\">Start page</a> | ");
    html.append("<a href=\"")
        .append(HtmlText(base + "~velkory/plain/" + FoldedText(other)))
        .append("\">")
        .append(other)
        .append("</a></p>\n<h2>")
        .append(name)
        .append("</h2>\n");
    auto tree = TreeOf(served, contents);
    html += tree->empty() ? std::string("<p>None in this help file.</p>\n")
                          : PlainTreeHtml(*tree, base);
    return html + "</body>\n</html>\n";
}

std::string UnreadablePage(const std::string& name, const std::string& reason)
{
    return "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
           "<title>Cannot be read</title></head>\n<body><h1>This page cannot be read</h1>\n<p>" +
        HtmlText(name + ": " + reason) + ".</p></body></html>\n";
}
