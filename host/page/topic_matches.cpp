// The topics of one help file that match a keyword, as the module's help
// request finds them (FindTopicMatches, with the module's comparison) and as
// its menu names them, in its order: titles, else keyword index entries,
// else pages of the full-text index. For the rooms that join or show matches
// without the module's menu: a shelf of help files, and browse.
#include <cstdlib>
#include <string>
#include <vector>

#include "frame/host_api.h"
#include "host/page/page.h"
#include "lookup/lookup.h"

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
