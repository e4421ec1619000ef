// The help request through the keyword index, when no topic title begins
// with the keyword.
//
// Every entry whose keyword begins with the requested one (compared by the
// host, one comparison per entry, in index order) gives one menu item per
// target page: the keyword, and after " - " the target's title when the index
// gives one, else the page's name when the entry has several targets. The
// chosen page is displayed as a title match's page is; a stored name that
// differs from the link only in ASCII case is found too, and an anchor in
// the link is left for the host beside the page file.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "frame/frame.h"
#include "lookup/encoding.h"
#include "lookup/lookup.h"
#include "platform/platform.h"

namespace {

constexpr size_t ItemTextSize = TitleBufferSize + NameBufferSize + 4;

// The text of target t's menu item.
void ItemText(const KeywordIndex* index, uint32_t t, char* line)
{
    const KeywordTarget& target = index->targets[t];
    lstrcpynA(line, KeywordText(index, target.keyword), TitleBufferSize);
    int several = (t > 0 && index->targets[t - 1].keyword == target.keyword) ||
        (t + 1 < index->count && index->targets[t + 1].keyword == target.keyword);
    const char* detail = nullptr;
    if (target.title != NoText)
        detail = KeywordText(index, target.title);
    else if (several)
        detail = KeywordText(index, target.page) + 1;
    if (detail != nullptr) {
        lstrcatA(line, " - ");
        size_t n = strlen(line);
        lstrcpynA(line + n, detail, (int)(ItemTextSize - n));
    }
}

}  // namespace

int ShowKeywordTopic(const char* helpPath, const TopicIndex* topics, const char* keyword)
{
    KeywordIndex index;
    if (!ReadKeywordIndex(helpPath, topics, &index))
        return 0;

    int32_t keywordLength = lstrlenA(keyword);
    MenuItem* items = nullptr;
    int32_t count = 0;
    uint32_t compared = NoText;
    int matches = 0;
    char line[ItemTextSize];
    for (uint32_t t = 0; t < index.count; ++t) {
        uint32_t entry = index.targets[t].keyword;
        if (entry != compared) {
            compared = entry;
            matches =
                hostUtilities.CompareTextN(KeywordText(&index, entry), keyword, keywordLength) == 0;
        }
        if (!matches)
            continue;
        ItemText(&index, t, line);
        if (!AppendMenuItem(&items, &count, line, t)) {
            count = -1;
            break;
        }
    }
    if (count <= 0) {
        free(items);
        ReleaseKeywordIndex(&index);
        return count == 0 ? -1 : 0;
    }

    int32_t chosen = ChooseMenuItem(items, count);
    if (chosen < 0) {
        free(items);
        ReleaseKeywordIndex(&index);
        return chosen == MenuLeft;
    }

    const KeywordTarget& target = index.targets[items[chosen].userValue];
    free(items);
    char pageName[NameBufferSize];
    char anchor[NameBufferSize];
    int found = ResolveStoredName(helpPath, KeywordText(&index, target.page), pageName);
    if (!found)
        lstrcpynA(pageName, KeywordText(&index, target.page), NameBufferSize);
    lstrcpynA(anchor, KeywordText(&index, target.anchor), NameBufferSize);
    ReleaseKeywordIndex(&index);
    return DisplayTopic(helpPath, keyword, pageName, anchor[0] ? anchor : nullptr);
}

int WriteBesidePage(const char* pagePath, const char* fileName, const char* text)
{
    const char* slash = strrchr(pagePath, '/');
    if (slash == nullptr)
        return 0;
    size_t directoryLength = (size_t)(slash - pagePath) + 1;
    char path[TempPathBufferSize];
    size_t nameSize = strlen(fileName) + 1;
    if (directoryLength + nameSize > sizeof path)
        return 0;
    memcpy(path, pagePath, directoryLength);
    memcpy(path + directoryLength, fileName, nameSize);
    FILE* out = fopen(path, "wb");
    if (out == nullptr)
        return 0;
    size_t n = strlen(text);
    int written = fwrite(text, 1, n, out) == n;
    written = fclose(out) == 0 && written;
    if (!written)
        remove(path);
    return written;
}
