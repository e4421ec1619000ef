// The full-text index's answer: the pages whose text holds a word beginning
// with the keyword, the third source of the topics that match it
// (topic_match.cpp), when neither a topic title nor the keyword index
// answers.
//
// The keyword is looked up as the index stores its words: its letters folded
// to lower case and the whole written in the index's code page (the one its
// header names, else the help file's language's), then compared byte for
// byte with the beginning of each word. Every topic of every word that begins
// with it gives its page, once, in the index's order, with the topic's
// title. The index is read through the reset intervals that hold the parts
// it needs. A help file without a full-text index, or whose index is damaged
// on the way to the words, has no such page.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "container/container.h"
#include "lookup/encoding.h"
#include "lookup/lookup.h"
#include "platform/platform.h"
#include "platform/text.h"

namespace {

const char FullTextFileName[] = "/$FIftiMain";

// The longest keyword looked up: no word of an index is longer than 509
// bytes.
constexpr int LongestKeyword = 1024;

struct StoredIndex {
    HelpFile* file;
    const DirectoryEntry* entry;
    int noMemory;  // a read failed for want of memory, not for damage
};

int ReadStoredIndex(void* context, uint32_t offset, uint32_t length, uint8_t* destination)
{
    StoredIndex* index = (StoredIndex*)context;
    uint32_t got = 0;
    uint8_t* data = nullptr;
    if (ExtractEntryRange(index->file, index->entry, offset, length, &got, &data) != 0) {
        index->noMemory |= index->file->LastError == ContainerNoMemory;
        return 0;
    }
    memcpy(destination, data, got);
    free(data);
    return 1;
}

// The topic records #TOPICS holds, the last one cut short included.
uint32_t TopicCount(const TopicIndex* topics)
{
    return topics->topicsLength / TopicRecordSize + (topics->topicsLength % TopicRecordSize != 0);
}

// The topics of the index of file whose words begin with keyword.
int FindTopicsIn(HelpFile* file, const TopicIndex* topics, const char* keyword, uint32_t** found,
                 uint32_t* count)
{
    const DirectoryEntry* entry = FindDirectoryEntry(FullTextFileName, file->Entries);
    if (entry == nullptr || entry->Length == 0)
        return FullTextMissing;
    StoredIndex stored = {file, entry, 0};
    FullTextSource source = {entry->Length, ReadStoredIndex, &stored};
    FullTextHeader header;
    char word[LongestKeyword];
    uint32_t length = 0;
    int result = FullTextDamaged;
    if (ReadFullTextHeader(&source, &header)) {
        uint32_t codePage = header.codePage ? header.codePage : topics->codePage;
        result = FullTextWord(keyword, codePage, word, sizeof word, &length)
            ? FindFullTextTopics(&source, &header, word, length, TopicCount(topics), found, count)
            : FullTextOk;
    }
    return result == FullTextDamaged && stored.noMemory ? FullTextNoMemory : result;
}

}  // namespace

int FullTextWord(const char* keyword, uint32_t codePage, char* word, uint32_t capacity,
                 uint32_t* length)
{
    *length = 0;
    int n = lstrlenA(keyword);
    if (n <= 0 || n >= LongestKeyword || (uint32_t)n > capacity)
        return 0;
    int ascii = 1;
    for (int i = 0; i < n; ++i)
        ascii &= (unsigned char)keyword[i] < 0x80;
    // ASCII is itself in every code page a help file is written in.
    if (ascii) {
        for (int i = 0; i < n; ++i)
            word[i] = FoldAscii(keyword[i]);
        *length = (uint32_t)n;
        return 1;
    }
    WCHAR wide[LongestKeyword];
    int units = MultiByteToWideChar(CP_OEMCP, 0, keyword, n, wide, LongestKeyword);
    if (units <= 0)
        return 0;
    // Letters outside the basic plane have no case that a help file's code
    // page could hold; surrogates are left as they are.
    for (int i = 0; i < units; ++i)
        if (wide[i] < 0xD800 || wide[i] > 0xDFFF)
            wide[i] = (WCHAR)FoldCase(wide[i]);
    UINT target = codePage ? (UINT)codePage : CP_ACP;
    BOOL lacking = 0;
    int bytes =
        WideCharToMultiByte(target, target == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS, wide, units, word,
                            (int)capacity, nullptr, target == CP_UTF8 ? nullptr : &lacking);
    if (bytes <= 0 || lacking)
        return 0;
    *length = (uint32_t)bytes;
    return 1;
}

int FindFullTextPages(const char* helpPath, const TopicIndex* topics, const char* keyword,
                      FullTextPage** pages, uint32_t* count)
{
    *pages = nullptr;
    *count = 0;
    HelpFile* file = OpenHelpFile(helpPath);
    if (file == nullptr)
        return FullTextMissing;
    uint32_t* found = nullptr;
    uint32_t topicsFound = 0;
    int result = FindTopicsIn(file, topics, keyword, &found, &topicsFound);
    CloseHelpFile(file);
    if (result != FullTextOk || topicsFound == 0) {
        free(found);
        return result;
    }
    // One page per URL: a page may have several topics (chmcmd lists every
    // page twice), which lead to the same place in #URLSTR.
    FullTextPage* list = (FullTextPage*)malloc((size_t)topicsFound * sizeof(FullTextPage));
    uint8_t* seen = (uint8_t*)calloc(topics->urlsLength / 8 + 1, 1);
    if (list == nullptr || seen == nullptr) {
        free(found);
        free(list);
        free(seen);
        return FullTextNoMemory;
    }
    uint32_t n = 0;
    char name[NameBufferSize];
    for (uint32_t k = 0; k < topicsFound; ++k) {
        uint32_t position = 0;
        if (!FindTopicUrl(topics, found[k], &position) ||
            seen[position >> 3] & (1u << (position & 7)) || !BuildPageName(topics, position, name))
            continue;
        seen[position >> 3] |= (uint8_t)(1u << (position & 7));
        list[n++] = {found[k], position};
    }
    free(found);
    free(seen);
    *pages = list;
    *count = n;
    return FullTextOk;
}

void FullTextPageTitle(const TopicIndex* topics, const FullTextPage* page, char* title)
{
    if (ReadTopicTitle(topics, page->topic, title) && title[0] != '\0')
        return;
    char name[NameBufferSize];
    if (!BuildPageName(topics, page->position, name))
        name[1] = '\0';
    TextToOem(name + 1, strlen(name + 1), topics->codePage, title, TitleBufferSize);
}
