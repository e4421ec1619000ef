// The table of contents and the keyword index as the viewer shows them: JSON
// made from the help file's sitemaps by the lookup's readers.
//
// Links are made URLs relative to the help file's own (its viewer's) URL: a
// sitemap's links are relative to its folder, "ms-its:NAME.chm::/page" ones
// name another help file ("../NAME.chm/page"), and links out of the help
// file (http:, mailto:) are left out.
//
// Which index entries begin with a keyword is decided here, not in the
// browser: as help and velkory index decide it (FindTopicMatches, the
// keyword in the OEM code page, the module's comparison), so that the viewer
// offers the same entries for "émile" or "ÖLF" as they do.
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "container/container.h"
#include "host/host.h"
#include "host/page/page.h"
#include "host/serve/serve.h"
#include "lookup/lookup.h"
#include "platform/platform.h"
#include "platform/terminal_text.h"
#include "platform/text.h"

namespace {

// Text in the OEM code page as UTF-8; UTF-8 stays.
std::string OemToUtf8(const char* text)
{
    return TextToUtf8(text, GetOEMCP());
}

}  // namespace

// The URL below the base of a sitemap's link.
std::string LinkUrl(const std::string& link, const std::string& folder)
{
    ResolvedLink resolved;
    if (!ResolveLink(link, folder, resolved))
        return "";
    std::string base = resolved.file.empty() ? "" : "../" + EncodeUrlPath(resolved.file) + "/";
    return WithAnchor(base + EncodeUrlPath(resolved.path), resolved.anchor);
}

std::string WithAnchor(std::string url, const std::string& anchor)
{
    if (!anchor.empty())
        url.append("#").append(EncodeUrlPath(anchor));
    return url;
}

nlohmann::json ContentsTree(HelpFile* file, uint32_t codePage)
{
    nlohmann::json items = nlohmann::json::array();
    std::string name = ContentsName(file);
    if (name.empty())
        return items;
    if (name[0] != '/')
        name = "/" + name;
    uint32_t length = 0;
    uint8_t* data = nullptr;
    if (ExtractFile(file, name.c_str(), &length, &data) != 0)
        return items;
    Sitemap map;
    int parsed = ParseSitemap(data, length, &map);
    free(data);
    if (!parsed)
        return items;
    std::string folder = name.substr(1, name.rfind('/'));
    std::vector<std::vector<uint32_t>> children(map.entryCount + 1);
    for (uint32_t e = 0; e < map.entryCount; ++e) {
        uint32_t parent = map.entries[e].parent;
        children[parent < map.entryCount ? parent : map.entryCount].push_back(e);
    }
    // Depth is bounded by the parser's levels.
    auto add = [&](auto& self, uint32_t node, nlohmann::json& into) -> void {
        for (uint32_t child : children[node]) {
            const SitemapEntry& entry = map.entries[child];
            nlohmann::json item = {{"n", TextToUtf8(SitemapText(&map, entry.name), codePage)}};
            if (entry.targetCount > 0) {
                std::string url =
                    LinkUrl(SitemapText(&map, map.targets[entry.firstTarget].local), folder);
                if (!url.empty())
                    item["u"] = url;
            }
            if (!children[child].empty()) {
                item["c"] = nlohmann::json::array();
                self(self, child, item["c"]);
            }
            into.push_back(std::move(item));
        }
    };
    add(add, map.entryCount, items);
    ReleaseSitemap(&map);
    return items;
}

nlohmann::json KeywordsTree(const char* helpPath)
{
    nlohmann::json items = nlohmann::json::array();
    TopicIndex topics;
    bool haveTopics = ReadTopicIndex(helpPath, &topics) != 0;
    if (!haveTopics)
        memset(&topics, 0, sizeof topics);
    KeywordIndex index;
    int read = ReadKeywordIndex(helpPath, &topics, &index);
    if (haveTopics)
        ReleaseTopicIndex(&topics);
    if (!read)
        return items;
    for (uint32_t i = 0; i < index.count;) {
        uint32_t keyword = index.targets[i].keyword;
        uint32_t end = i;
        while (end < index.count && index.targets[end].keyword == keyword)
            ++end;
        nlohmann::json item = {{"n", OemToUtf8(KeywordText(&index, keyword))},
                               {"u", nlohmann::json::array()}};
        nlohmann::json subs = nlohmann::json::array();
        for (uint32_t t = i; t < end; ++t) {
            const KeywordTarget& target = index.targets[t];
            std::string link = KeywordText(&index, target.page);
            if (target.anchor != NoText) {
                link += '#';
                link += KeywordText(&index, target.anchor);
            }
            std::string url = LinkUrl(link, "");
            item["u"].push_back(url);
            if (end - i > 1) {
                const char* title = target.title != NoText ? KeywordText(&index, target.title)
                                                           : KeywordText(&index, target.page);
                subs.push_back({{"n", OemToUtf8(title)}, {"u", nlohmann::json::array({url})}});
            }
        }
        if (!subs.empty())
            item["c"] = std::move(subs);
        items.push_back(std::move(item));
        i = end;
    }
    ReleaseKeywordIndex(&index);
    return items;
}

IndexMatch IndexEntriesBeginning(const char* helpPath, const nlohmann::json& keywords,
                                 const std::string& keyword, std::vector<size_t>& positions)
{
    positions.clear();
    // Converted as help converts a typed keyword: a character the OEM code
    // page lacks, or a byte that is no UTF-8, becomes '?'. A NUL cannot be typed.
    if (keyword.find('\0') != std::string::npos)
        return IndexMatch::BadKeyword;
    std::vector<char> oem(keyword.size() * 4 + 8);
    if (!TerminalToOem(keyword.c_str(), oem.data(), oem.size()))
        return IndexMatch::BadKeyword;
    TopicMatches matches;
    if (FindTopicMatches(helpPath, oem.data(), TopicFromKeywordIndex, CompareAsModule,
                         TopicMatchLimit, &matches) != TopicMatchOk)
        return IndexMatch::Unreadable;
    // A match's value is its target's number in the index; the list's
    // entries hold their targets' URLs in that order, one each.
    auto targets = [&](size_t at) {
        auto urls = keywords[at].find("u");
        return urls != keywords[at].end() ? urls->size() : 0;
    };
    size_t position = 0, firstTarget = 0;
    for (uint32_t k = 0; k < matches.count; ++k) {
        size_t target = matches.matches[k].value;
        while (position < keywords.size() && firstTarget + targets(position) <= target)
            firstTarget += targets(position++);
        if (position == keywords.size())
            break;  // the file changed since the list was made
        if (positions.empty() || positions.back() != position)
            positions.push_back(position);
    }
    ReleaseTopicMatches(&matches);
    return IndexMatch::Ok;
}

std::string JsonText(const nlohmann::json& value)
{
    return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string PlainTreeHtml(const nlohmann::json& items, const std::string& base)
{
    std::string html = "<ul>\n";
    for (const nlohmann::json& item : items) {
        std::string url;
        auto urls = item.find("u");
        if (urls != item.end() && urls->is_string())
            url = urls->get<std::string>();
        else if (urls != item.end() && urls->is_array() && !urls->empty() && (*urls)[0].is_string())
            url = (*urls)[0].get<std::string>();
        html += "<li>";
        if (!url.empty())
            html.append("<a href=\"").append(HtmlText(base + url)).append("\">");
        html += HtmlText(item.value("n", ""));
        if (!url.empty())
            html += "</a>";
        auto children = item.find("c");
        if (children != item.end())
            html.append("\n").append(PlainTreeHtml(*children, base));
        html += "</li>\n";
    }
    return html + "</ul>\n";
}
