// Topic index lookup: the first half of a help request.
//
// A help file's topic index is four stored files. #TOPICS holds one 16-byte
// record per topic; bytes 4-7 are the offset of the topic's title in
// #STRINGS, bytes 8-11 the offset of its entry in #URLTBL. Bytes 8-11 of that
// entry are the position of the topic's URL in #URLSTR, possibly preceded by
// zero bytes. The index is read from the companion index file (the help path
// with its last three characters replaced by "chi") when that opens, and from
// the help file itself otherwise; the page itself always comes from the help
// file.
//
// Every offset read from the index is checked against the length of the file
// it points into: a topic whose title or URL lies outside its file never
// matches, and a text that runs to the end of its file without a terminator
// ends there.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "container/container.h"
#include "frame/frame.h"
#include "lookup/encoding.h"
#include "lookup/lookup.h"
#include "platform/platform.h"

static const char* const IndexFileNames[4] = {"/#TOPICS", "/#STRINGS", "/#URLTBL", "/#URLSTR"};

// Bytes of one #TOPICS record and the fields read from it.
constexpr uint32_t TopicRecordSize = 16;
constexpr uint32_t TopicTitleField = 4;
constexpr uint32_t TopicUrlField = 8;
// The #URLSTR position within a #URLTBL entry.
constexpr uint32_t UrlTableUrlField = 8;

void ReleaseTopicIndex(TopicIndex* index)
{
    free(index->topics);
    free(index->strings);
    free(index->urlTable);
    free(index->urls);
    memset(index, 0, sizeof *index);
}

int ReadTopicIndex(const char* helpPath, TopicIndex* index)
{
    memset(index, 0, sizeof *index);
    int pathLength = lstrlenA(helpPath);
    if (pathLength >= NameBufferSize)
        return 0;

    // The companion index file: the same path with its last three characters
    // replaced, whatever they are. A path shorter than that has no companion.
    HelpFile* file = nullptr;
    int companion = 0;
    if (pathLength >= 3) {
        char name[NameBufferSize];
        lstrcpyA(name, helpPath);
        lstrcpyA(name + pathLength - 3, "chi");
        file = OpenHelpFile(name);
        companion = file != nullptr;
    }
    if (file == nullptr)
        file = OpenHelpFile(helpPath);
    if (file == nullptr)
        return 0;

    uint8_t** data[4] = {&index->topics, &index->strings, &index->urlTable, &index->urls};
    uint32_t* length[4] = {&index->topicsLength, &index->stringsLength, &index->urlTableLength,
                           &index->urlsLength};
    int failed = 0;
    for (int i = 0; i < 4; ++i) {
        if (ExtractFile(file, IndexFileNames[i], length[i], data[i]) != 0) {
            *data[i] = nullptr;
            *length[i] = 0;
            failed = 1;
        }
    }
    SystemInfo system;
    ReadSystemInfo(file, &system);
    CloseHelpFile(file);
    if (failed) {
        ReleaseTopicIndex(index);
        return 0;
    }
    if (system.lcid == 0 && companion && (file = OpenHelpFile(helpPath)) != nullptr) {
        ReadSystemInfo(file, &system);
        CloseHelpFile(file);
    }
    index->codePage = LocaleAnsiCodePage(system.lcid);
    return 1;
}

// Whether record k is examined: its title field begins inside #TOPICS. A
// #TOPICS of 12 bytes or less has no record examined.
static int TopicExamined(const TopicIndex* index, uint32_t record)
{
    if (index->topicsLength <= 12)
        return 0;
    uint64_t at = (uint64_t)record * TopicRecordSize + TopicTitleField;
    return at < index->topicsLength;
}

// The 32-bit field at offset within record k, when all four bytes lie in
// #TOPICS.
static int ReadTopicField(const TopicIndex* index, uint32_t record, uint32_t offset,
                          uint32_t* value)
{
    uint64_t at = (uint64_t)record * TopicRecordSize + offset;
    if (at + 4 > index->topicsLength)
        return 0;
    *value = ReadLE32(index->topics + at);
    return 1;
}

int ReadTopicTitle(const TopicIndex* index, uint32_t record, char* title)
{
    uint32_t offset;
    if (!ReadTopicField(index, record, TopicTitleField, &offset) || offset >= index->stringsLength)
        return 0;
    // Never beyond the end of #STRINGS: a title without a terminator ends
    // with the data. The converted title is cut to 511 bytes.
    TextToOem((const char*)index->strings + offset, index->stringsLength - offset, index->codePage,
              title, TitleBufferSize);
    return 1;
}

int FindTopicUrl(const TopicIndex* index, uint32_t record, uint32_t* position)
{
    uint32_t entry;
    if (!ReadTopicField(index, record, TopicUrlField, &entry))
        return 0;
    if (index->urlTableLength < UrlTableUrlField + 4 ||
        entry > index->urlTableLength - (UrlTableUrlField + 4))
        return 0;
    uint32_t p = ReadLE32(index->urlTable + entry + UrlTableUrlField);
    const uint8_t* urls = index->urls;
    uint32_t end = index->urlsLength;
    while (p < end && urls[p] == 0)
        ++p;
    if (p >= end)
        return 0;
    *position = p;
    return 1;
}

int BuildPageName(const TopicIndex* index, uint32_t position, char* name)
{
    if (position >= index->urlsLength)
        return 0;
    const char* url = (const char*)index->urls + position;
    uint32_t available = index->urlsLength - position;
    uint32_t n = 0;
    while (n < available && url[n] != '\0' && url[n] != '#')
        ++n;
    if (n > (uint32_t)NameBufferSize - 2)
        return 0;
    name[0] = '/';
    memcpy(name + 1, url, n);
    name[n + 1] = '\0';
    return 1;
}

int ShowHelpTopic(const char* helpPath, const char* keyword)
{
    if (keyword == nullptr || keyword[0] == '\0')
        return 1;
    if (helpPath == nullptr)
        return 0;

    TopicIndex index;
    if (!ReadTopicIndex(helpPath, &index))
        return 0;

    // The walk: every record whose title field begins inside #TOPICS, in
    // file order; a match is a title whose first n characters agree with the
    // keyword as the host compares them.
    int32_t keywordLength = lstrlenA(keyword);
    MenuItem* items = nullptr;
    int32_t count = 0;
    char title[TitleBufferSize];
    for (uint32_t record = 0; TopicExamined(&index, record); ++record) {
        // A title that cannot be read (real files store 0xFFFFFFFF for
        // untitled topics) is compared as empty like every examined topic,
        // so the host sees one comparison per record, and never matches.
        int readable = ReadTopicTitle(&index, record, title);
        if (!readable)
            title[0] = '\0';
        if (hostUtilities.CompareTextN(title, keyword, keywordLength) != 0 || !readable)
            continue;
        uint32_t position;
        if (!FindTopicUrl(&index, record, &position))
            continue;
        if (!AppendMenuItem(&items, &count, title, position)) {
            free(items);
            ReleaseTopicIndex(&index);
            return 0;
        }
    }

    if (count == 0) {
        // The keyword index answers, else the full-text index.
        int result = ShowKeywordTopic(helpPath, &index, keyword);
        if (result < 0)
            result = ShowFullTextTopic(helpPath, &index, keyword);
        ReleaseTopicIndex(&index);
        return result != 0;
    }
    int32_t chosen = ChooseMenuItem(items, count);
    if (chosen < 0) {
        free(items);
        ReleaseTopicIndex(&index);
        // An index beyond the list names no topic: the request fails.
        return chosen == MenuLeft;
    }

    char pageName[NameBufferSize];
    int built = BuildPageName(&index, items[chosen].userValue, pageName);
    free(items);
    ReleaseTopicIndex(&index);
    if (!built)
        return 0;
    return DisplayTopic(helpPath, keyword, pageName);
}
