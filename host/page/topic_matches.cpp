// The topics of one help file that match a keyword, as the module's help
// request finds them and in the order of its menu: the topics whose titles
// begin with the keyword, else the keyword index's entries that do, one per
// page they lead to, named as the module names them ("keyword - title", or
// "keyword - page" among several pages of one entry).
//
// This stands where the module's own topic-match function will (lookup/),
// for the rooms that join or show matches without the module's menu: a
// shelf of help files, and browse.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "frame/host_api.h"
#include "host/page/page.h"
#include "lookup/lookup.h"

namespace {

// The URL at position in #URLSTR, without its leading "/".
std::string TopicUrl(const TopicIndex& index, uint32_t position)
{
    std::string url;
    for (uint32_t p = position; p < index.urlsLength && index.urls[p] != 0; ++p)
        url += (char)index.urls[p];
    while (!url.empty() && url[0] == '/')
        url.erase(0, 1);
    return url;
}

// A menu item's text: at most its 127 bytes, as the module's menu holds it.
std::string ItemText(const std::string& text)
{
    return text.substr(0, std::min(strnlen(text.c_str(), MenuTextSize - 1), text.size()));
}

}  // namespace

bool ListTopicMatches(const std::string& file, const char* keyword,
                      std::vector<MatchedTopic>& matches)
{
    matches.clear();
    TopicIndex index;
    if (!ReadTopicIndex(file.c_str(), &index))
        return false;
    int32_t length = (int32_t)strlen(keyword);
    char title[TitleBufferSize];
    for (uint32_t record = 0; (uint64_t)record * 16 + 4 < index.topicsLength; ++record) {
        uint32_t position;
        if (!ReadTopicTitle(&index, record, title) ||
            CompareAsModule(title, keyword, length) != 0 ||
            !FindTopicUrl(&index, record, &position))
            continue;
        std::string url = TopicUrl(index, position);
        size_t mark = url.find('#');
        std::string page = "/";
        page += url.substr(0, mark);
        matches.push_back(
            {ItemText(title), page, mark == std::string::npos ? "" : url.substr(mark + 1)});
    }
    KeywordIndex keywords;
    memset(&keywords, 0, sizeof keywords);
    if (matches.empty() && ReadKeywordIndex(file.c_str(), &index, &keywords)) {
        for (uint32_t t = 0; t < keywords.count; ++t) {
            const KeywordTarget& target = keywords.targets[t];
            if (CompareAsModule(KeywordText(&keywords, target.keyword), keyword, length))
                continue;
            bool several = (t > 0 && keywords.targets[t - 1].keyword == target.keyword) ||
                (t + 1 < keywords.count && keywords.targets[t + 1].keyword == target.keyword);
            std::string text = KeywordText(&keywords, target.keyword);
            if (target.title != NoText)
                text += std::string(" - ") + KeywordText(&keywords, target.title);
            else if (several)
                text += std::string(" - ") + (KeywordText(&keywords, target.page) + 1);
            matches.push_back(
                {ItemText(text), KeywordText(&keywords, target.page),
                 target.anchor == NoText ? "" : KeywordText(&keywords, target.anchor)});
        }
        ReleaseKeywordIndex(&keywords);
    }
    ReleaseTopicIndex(&index);
    return true;
}
