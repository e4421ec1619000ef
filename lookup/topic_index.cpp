// The topic index reader: a help file's topics, their titles and URLs.
//
// A help file's topic index is four stored files, #TOPICS, #STRINGS, #URLTBL
// and #URLSTR, whose record layout lookup.h names. The index is read from
// the companion index file (the help path with its last three characters
// replaced by "chi") when that opens, and from the help file itself
// otherwise; the page itself always comes from the help file.
//
// Every offset read from the index is checked against the length of the file
// it points into: a topic whose title or URL lies outside its file never
// matches, and a text that runs to the end of its file without a terminator
// ends there.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "container/container.h"
#include "lookup/encoding.h"
#include "lookup/lookup.h"
#include "platform/platform.h"

static const char* const IndexFileNames[4] = {"/#TOPICS", "/#STRINGS", "/#URLTBL", "/#URLSTR"};

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

uint32_t TopicRecordCount(const TopicIndex* index)
{
    if (index->topicsLength <= 12)
        return 0;
    // Records 0 to n - 1 have their title field begin inside #TOPICS.
    return (uint32_t)(((uint64_t)index->topicsLength - TopicTitleField + TopicRecordSize - 1) /
                      TopicRecordSize);
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
