// The topics of one help file that match a keyword, as the module's help
// request finds them (FindTopicMatches, with the module's comparison) and as
// its menu names them, in its order: titles, else keyword index entries,
// else pages of the full-text index; and the entries of the A-link index,
// named as keyword index entries are. For the rooms that join or show
// matches without the module's menu: a shelf of help files, and browse.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "frame/host_api.h"
#include "host/page/page.h"
#include "lookup/lookup.h"

namespace {

// A menu item's text: at most its 127 bytes, as the module's menu holds it.
std::string ItemText(const std::string& text)
{
    return text.substr(0, std::min(strnlen(text.c_str(), MenuTextSize - 1), text.size()));
}

// The entries of a keyword index (or of the A-link index, which has its
// layout) that begin with keyword, one per page they lead to, named as the
// module names them.
void AppendEntryMatches(const KeywordIndex& keywords, const char* keyword,
                        std::vector<MatchedTopic>& matches)
{
    int32_t length = (int32_t)strlen(keyword);
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
        matches.push_back({ItemText(text), KeywordText(&keywords, target.page),
                           target.anchor == NoText ? "" : KeywordText(&keywords, target.anchor)});
    }
}

}  // namespace

bool ListTopicMatches(const std::string& file, const char* keyword,
                      std::vector<MatchedTopic>& matches)
{
    matches.clear();
    TopicMatches found;
    if (FindTopicMatches(file.c_str(), keyword, TopicFromAny, CompareAsModule, TopicMatchLimit,
                         &found) != TopicMatchOk)
        return false;
    // The texts the module's menu holds, cut as it cuts them.
    MenuItem* items = nullptr;
    int32_t count = 0;
    bool listed = TopicMenuItems(&found, &items, &count) != 0;
    for (int32_t k = 0; listed && k < count; ++k) {
        const TopicMatch& match = found.matches[k];
        matches.push_back({items[k].text, TopicMatchText(&found, match.page),
                           TopicMatchText(&found, match.anchor)});
    }
    free(items);
    ReleaseTopicMatches(&found);
    return listed;
}

bool ListAlinkMatches(const std::string& file, const char* name, std::vector<MatchedTopic>& matches)
{
    matches.clear();
    TopicIndex index;
    if (!ReadTopicIndex(file.c_str(), &index))
        return false;
    KeywordIndex links;
    memset(&links, 0, sizeof links);
    bool read = ReadAssociativeLinks(file.c_str(), &index, &links);
    if (read) {
        AppendEntryMatches(links, name, matches);
        ReleaseKeywordIndex(&links);
    }
    ReleaseTopicIndex(&index);
    return read;
}
