// The table of contents and the keyword index as the viewer shows them: JSON
// made from the help file's sitemaps by the lookup's readers.
//
// Links are made URLs below the base: a sitemap's links are relative to its
// folder, "ms-its:NAME.chm::/page" ones name another help file, and links out
// of the help file (http:, mailto:) are left out.
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "container/container.h"
#include "host/host.h"
#include "host/page/page.h"
#include "host/serve/serve.h"
#include "lookup/lookup.h"
#include "platform/platform.h"
#include "platform/text.h"

namespace {

// Text in the OEM code page as UTF-8; UTF-8 stays.
std::string OemToUtf8(const char* text)
{
    return TextToUtf8(text, GetOEMCP());
}

// The stored name of the contents sitemap: the one #SYSTEM names when it is
// stored, else the first *.hhc.
std::string ContentsName(HelpFile* file)
{
    SystemInfo info;
    if (ReadSystemInfo(file, &info) && info.contentsFile[0] != '\0') {
        std::string named = info.contentsFile;
        for (char& c : named)
            if (c == '\\')
                c = '/';
        if (named[0] != '/')
            named = "/" + named;
        if (FindDirectoryEntry(named.c_str(), file->Entries))
            return named;
    }
    int32_t count = DirectoryCount(file);
    for (int32_t i = 0; i < count; ++i) {
        const DirectoryEntry* entry = DirectoryAt(file, i);
        if (entry && EndsWithNoCase(entry->Name, ".hhc"))
            return entry->Name;
    }
    return "";
}

// A link as written is a URL: "%20" stands for a space. A '%' without two
// hex digits stays.
std::string PercentDecode(const std::string& text)
{
    std::string out(text.size(), '\0');
    out.resize(DecodePercentEscapes(text.data(), text.size(), out.data()));
    return out;
}

bool StartsWithNoCase(const std::string& text, const char* prefix)
{
    return FoldedText(text.substr(0, strlen(prefix))) == prefix;
}

// "a/./b/../c" as "a/c"; false when it climbs above the root.
bool Normalize(const std::string& path, std::string& out)
{
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string::npos)
            end = path.size();
        std::string part = path.substr(start, end - start);
        start = end + 1;
        if (part.empty() || part == ".")
            continue;
        if (part == "..") {
            if (parts.empty())
                return false;
            parts.pop_back();
            continue;
        }
        parts.push_back(part);
    }
    out.clear();
    for (const std::string& part : parts)
        out += (out.empty() ? "" : "/") + part;
    return true;
}

}  // namespace

// The URL below the base of a sitemap's link.
std::string LinkUrl(const std::string& link, const std::string& folder, const std::string& prefix)
{
    std::string target = link, anchor;
    size_t mark = target.find('#');
    if (mark != std::string::npos) {
        anchor = PercentDecode(target.substr(mark + 1));
        target.erase(mark);
    }
    target = PercentDecode(target);
    for (char& c : target)
        if (c == '\\')
            c = '/';
    std::string base = prefix, path;
    size_t separator = target.find("::");
    if (separator != std::string::npos &&
        (StartsWithNoCase(target, "ms-its:") || StartsWithNoCase(target, "mk:@msitstore:") ||
         StartsWithNoCase(target, "its:"))) {
        std::string file = target.substr(0, separator);
        file = file.substr(file.find_last_of(":/") + 1);
        base = "~chm/" + EncodeUrlPath(file) + "/";
        path = target.substr(separator + 2);
    } else if (target.find(':') != std::string::npos) {
        return "";  // out of the help file
    } else {
        path = (!target.empty() && target[0] == '/') ? target : folder + target;
    }
    std::string clean;
    if (!Normalize(path, clean) || clean.empty())
        return "";
    std::string url = base + EncodeUrlPath(clean);
    if (!anchor.empty()) {
        url += '#';
        url += EncodeUrlPath(anchor);
    }
    return url;
}

std::string ContentsJson(HelpFile* file, const std::string& prefix, uint32_t codePage)
{
    std::string name = ContentsName(file);
    if (name.empty())
        return "{\"items\":[]}";
    if (name[0] != '/')
        name = "/" + name;
    uint32_t length = 0;
    uint8_t* data = nullptr;
    if (ExtractFile(file, name.c_str(), &length, &data) != 0)
        return "{\"items\":[]}";
    Sitemap map;
    int parsed = ParseSitemap(data, length, &map);
    free(data);
    if (!parsed)
        return "{\"items\":[]}";
    std::string folder = name.substr(0, name.rfind('/') + 1);
    std::vector<std::vector<uint32_t>> children(map.entryCount + 1);
    for (uint32_t e = 0; e < map.entryCount; ++e) {
        uint32_t parent = map.entries[e].parent;
        children[parent < map.entryCount ? parent : map.entryCount].push_back(e);
    }
    std::string json;
    // Depth is bounded by the parser's levels.
    auto emit = [&](auto& self, uint32_t node) -> void {
        json += '[';
        for (size_t k = 0; k < children[node].size(); ++k) {
            const SitemapEntry& entry = map.entries[children[node][k]];
            if (k)
                json += ',';
            json += "{\"n\":" + JsonString(TextToUtf8(SitemapText(&map, entry.name), codePage));
            if (entry.targetCount > 0) {
                std::string url = LinkUrl(SitemapText(&map, map.targets[entry.firstTarget].local),
                                          folder.substr(1), prefix);
                if (!url.empty())
                    json += ",\"u\":" + JsonString(url);
            }
            if (!children[children[node][k]].empty()) {
                json += ",\"c\":";
                self(self, children[node][k]);
            }
            json += '}';
        }
        json += ']';
    };
    emit(emit, map.entryCount);
    ReleaseSitemap(&map);
    return "{\"items\":" + json + "}";
}

std::string KeywordsJson(const char* helpPath, const std::string& prefix)
{
    TopicIndex topics;
    bool haveTopics = ReadTopicIndex(helpPath, &topics) != 0;
    if (!haveTopics)
        memset(&topics, 0, sizeof topics);
    KeywordIndex index;
    int read = ReadKeywordIndex(helpPath, &topics, &index);
    if (haveTopics)
        ReleaseTopicIndex(&topics);
    if (!read)
        return "{\"items\":[]}";
    std::string json = "{\"items\":[";
    for (uint32_t i = 0; i < index.count;) {
        uint32_t keyword = index.targets[i].keyword;
        uint32_t end = i;
        while (end < index.count && index.targets[end].keyword == keyword)
            ++end;
        if (i)
            json += ',';
        json += "{\"n\":" + JsonString(OemToUtf8(KeywordText(&index, keyword))) + ",\"u\":[";
        std::string subs;
        for (uint32_t t = i; t < end; ++t) {
            const KeywordTarget& target = index.targets[t];
            std::string link = KeywordText(&index, target.page);
            if (target.anchor != NoText) {
                link += '#';
                link += KeywordText(&index, target.anchor);
            }
            std::string url = LinkUrl(link, "", prefix);
            if (t > i)
                json += ',';
            json += JsonString(url);
            if (end - i > 1) {
                std::string title = target.title != NoText ? KeywordText(&index, target.title)
                                                           : KeywordText(&index, target.page);
                subs += std::string(subs.empty() ? "" : ",") +
                    "{\"n\":" + JsonString(OemToUtf8(title.c_str())) + ",\"u\":[" +
                    JsonString(url) + "]}";
            }
        }
        json += "]";
        if (!subs.empty())
            json += ",\"c\":[" + subs + "]";
        json += "}";
        i = end;
    }
    ReleaseKeywordIndex(&index);
    return json + "]}";
}
