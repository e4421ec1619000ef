// The keyword index: every keyword of a help file with the pages it leads to.
//
// A help file usually carries its index twice. The compiled form,
// /$WWKeywordLinks/BTree, is a 0x4C-byte header (0x293B at 0, the block size
// at 4) and blocks of that size; the listing blocks form a chain from block 0,
// each opening with its free bytes at the end (WORD), its entry count (WORD),
// the previous and the next block (DWORDs, 0xFFFFFFFF ends the chain). An
// entry is its keyword as NUL-terminated UTF-16LE (a sub-keyword holds the
// whole "keyword, sub-keyword"), a see-also flag and a level (WORDs), two
// DWORDs, the number of topics N (DWORD), then N topic numbers (DWORDs into
// #TOPICS) or, for a see-also entry, the keyword it refers to, and 8 more
// bytes. The sitemap form is the .hhk page that #SYSTEM names (record code
// 1), read by ParseSitemap.
//
// Both are read as untrusted: the chain is followed through blocks that exist
// and at most once each, an entry never reaches past its block, and a topic
// number or link that leads nowhere gives no target.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "container/container.h"
#include "lookup/encoding.h"
#include "lookup/lookup.h"
#include "platform/platform.h"
#include "platform/text.h"

namespace {

constexpr uint32_t BTreeHeaderSize = 0x4C;
constexpr uint32_t BTreeSignature = 0x293B;
constexpr uint32_t BlockHeaderSize = 12;
constexpr uint32_t EntryFieldsSize = 16;  // see-also, level, two DWORDs, topic count
constexpr uint32_t EntryTrailerSize = 8;
constexpr uint32_t EndOfChain = 0xFFFFFFFFu;

// Appends n bytes and a NUL to the pool; *offset receives where they start.
int AppendText(KeywordIndex* index, const char* text, uint32_t n, uint32_t* offset)
{
    if (n > UINT32_MAX / 4 || index->textLength > UINT32_MAX / 4)
        return 0;
    uint32_t need = index->textLength + n + 1;
    if (need > index->textCapacity) {
        uint32_t grown = index->textCapacity ? index->textCapacity : 256;
        while (grown < need)
            grown *= 2;
        char* p = (char*)realloc(index->text, grown);
        if (p == nullptr)
            return 0;
        index->text = p;
        index->textCapacity = grown;
    }
    *offset = index->textLength;
    memcpy(index->text + index->textLength, text, n);
    index->text[index->textLength + n] = '\0';
    index->textLength = need;
    return 1;
}

int AppendTarget(KeywordIndex* index, const KeywordTarget& target)
{
    if (index->count == index->capacity) {
        if (index->capacity > UINT32_MAX / 2 / sizeof(KeywordTarget))
            return 0;
        uint32_t grown = index->capacity ? index->capacity * 2 : 64;
        KeywordTarget* p =
            (KeywordTarget*)realloc(index->targets, (size_t)grown * sizeof(KeywordTarget));
        if (p == nullptr)
            return 0;
        index->targets = p;
        index->capacity = grown;
    }
    index->targets[index->count++] = target;
    return 1;
}

// Adds one target of keyword (already in the pool): the link of n bytes is
// cut at "#" into page and anchor; a target equal to the entry's previous one
// is dropped.
int AddTarget(KeywordIndex* index, uint32_t keyword, uint32_t title, const char* link, uint32_t n)
{
    const char* hash = (const char*)memchr(link, '#', n);
    uint32_t pageLength = hash ? (uint32_t)(hash - link) : n;
    if (pageLength == 0 || pageLength > (uint32_t)NameBufferSize - 2)
        return 1;
    const char* anchor = hash ? hash + 1 : nullptr;
    uint32_t anchorLength = hash ? n - pageLength - 1 : 0;
    if (index->count > 0) {
        const KeywordTarget& last = index->targets[index->count - 1];
        const char* lastPage = index->text + last.page;
        const char* lastAnchor = last.anchor == NoText ? "" : index->text + last.anchor;
        if (last.keyword == keyword && lastPage[0] == '/' &&
            strncmp(lastPage + 1, link, pageLength) == 0 && lastPage[pageLength + 1] == '\0' &&
            strlen(lastAnchor) == anchorLength &&
            (anchorLength == 0 || memcmp(lastAnchor, anchor, anchorLength) == 0))
            return 1;
    }
    char page[NameBufferSize];
    page[0] = '/';
    memcpy(page + 1, link, pageLength);
    KeywordTarget target = {keyword, title, 0, NoText};
    if (!AppendText(index, page, pageLength + 1, &target.page))
        return 0;
    if (anchorLength > 0 && !AppendText(index, anchor, anchorLength, &target.anchor))
        return 0;
    return AppendTarget(index, target);
}

// A keyword of the compiled index, n UTF-16LE code units at units, in the OEM
// code page, cut to fit TitleBufferSize between characters.
void UnitsToOem(const uint8_t* units, uint32_t n, char* out)
{
    // A keyword lies within one block, so it is short; a longer one is cut.
    constexpr uint32_t MaxUnits = 2048;
    WCHAR wide[MaxUnits];
    if (n > MaxUnits)
        n = MaxUnits;
    for (uint32_t i = 0; i < n; ++i)
        wide[i] = (WCHAR)ReadLE16(units + 2 * i);
    if (n == 0 || !WideToOem(wide, n, out, TitleBufferSize))
        out[0] = '\0';
}

// A text of a sitemap in the OEM code page from its own encoding (UTF-8, else
// codePage, the help file's language), cut to fit TitleBufferSize between
// characters.
void SitemapTextToOem(const char* text, uint32_t codePage, char* out)
{
    TextToOem(text, strlen(text), codePage, out, TitleBufferSize);
}

// Adds the targets of topic numbers count DWORDs at numbers.
int AddTopicTargets(KeywordIndex* index, const TopicIndex* topics, uint32_t keyword,
                    const uint8_t* numbers, uint32_t count)
{
    const char* keywordText = index->text + keyword;
    char title[TitleBufferSize];
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t record = ReadLE32(numbers + 4 * i);
        uint32_t position;
        if (!FindTopicUrl(topics, record, &position))
            continue;
        const char* url = (const char*)topics->urls + position;
        uint32_t available = topics->urlsLength - position;
        const char* end = (const char*)memchr(url, '\0', available);
        uint32_t n = end ? (uint32_t)(end - url) : available;
        uint32_t titleOffset = NoText;
        if (ReadTopicTitle(topics, record, title) && title[0] != '\0' &&
            strcmp(title, keywordText) != 0) {
            if (!AppendText(index, title, (uint32_t)strlen(title), &titleOffset))
                return 0;
            keywordText = index->text + keyword;
        }
        if (!AddTarget(index, keyword, titleOffset, url, n))
            return 0;
        keywordText = index->text + keyword;
    }
    return 1;
}

// Reads the entries of one listing block; stops at the first that does not
// fit the block.
int ReadBlockEntries(const uint8_t* block, uint32_t blockSize, const TopicIndex* topics,
                     KeywordIndex* index)
{
    uint32_t freeBytes = ReadLE16(block);
    uint32_t entries = ReadLE16(block + 2);
    uint32_t end = freeBytes <= blockSize - BlockHeaderSize ? blockSize - freeBytes : blockSize;
    uint32_t p = BlockHeaderSize;
    char keyword[TitleBufferSize];
    for (uint32_t e = 0; e < entries; ++e) {
        uint32_t start = p;
        while (p + 1 < end && (block[p] | block[p + 1]) != 0)
            p += 2;
        if (p + 1 >= end)
            return 1;
        uint32_t units = (p - start) / 2;
        p += 2;
        if (end - p < EntryFieldsSize)
            return 1;
        uint32_t seeAlso = ReadLE16(block + p);
        uint32_t topicCount = ReadLE32(block + p + 12);
        p += EntryFieldsSize;
        if (seeAlso == 0) {
            if (topicCount > (end - p) / 4)
                return 1;
            UnitsToOem(block + start, units, keyword);
            uint32_t offset;
            if (!AppendText(index, keyword, (uint32_t)strlen(keyword), &offset))
                return 0;
            if (!AddTopicTargets(index, topics, offset, block + p, topicCount))
                return 0;
            p += topicCount * 4;
        } else {
            while (p + 1 < end && (block[p] | block[p + 1]) != 0)
                p += 2;
            if (p + 1 >= end)
                return 1;
            p += 2;
        }
        if (end - p < EntryTrailerSize)
            return 1;
        p += EntryTrailerSize;
    }
    return 1;
}

// The stored name of the sitemap index that #SYSTEM names, into name
// (NameBufferSize bytes, with a leading "/"). Returns 0 when it names none.
int SystemIndexName(const uint8_t* system, uint32_t length, char* name)
{
    SystemInfo info;
    ParseSystemInfo(system, length, &info);
    size_t n = strlen(info.indexFile);
    if (n == 0 || n > (size_t)NameBufferSize - 2)
        return 0;
    size_t k = info.indexFile[0] != '/';
    name[0] = '/';
    memcpy(name + k, info.indexFile, n + 1);
    return 1;
}

int EndsWithIgnoringCase(const char* text, const char* suffix)
{
    size_t n = strlen(text), m = strlen(suffix);
    if (n < m)
        return 0;
    for (size_t i = 0; i < m; ++i) {
        char a = text[n - m + i], b = suffix[i];
        if (a >= 'A' && a <= 'Z')
            a = (char)(a - 'A' + 'a');
        if (a != b)
            return 0;
    }
    return 1;
}

// Extracts the stored file name when the directory lists it: 1 with its
// data, 0 when it is not listed, -1 when it is listed but cannot be read.
int ExtractListed(HelpFile* file, const char* name, uint32_t* length, uint8_t** data)
{
    if (FindDirectoryEntry(name, file->Entries) == nullptr)
        return 0;
    return ExtractFile(file, name, length, data) == 0 ? 1 : -1;
}

// Extracts the sitemap index of file: the one #SYSTEM names, else the first
// stored *.hhk. Returns 1 with the data and its name, 0 when there is none,
// -1 when one is listed but cannot be read.
int ExtractSitemapIndex(HelpFile* file, char* name, uint32_t* length, uint8_t** data)
{
    uint32_t systemLength = 0;
    uint8_t* system = nullptr;
    int read = ExtractListed(file, "/#SYSTEM", &systemLength, &system);
    if (read < 0)
        return -1;
    if (read > 0) {
        int named = SystemIndexName(system, systemLength, name);
        free(system);
        read = named ? ExtractListed(file, name, length, data) : 0;
        if (read != 0)
            return read;
    }
    for (int32_t i = 0; i < DirectoryCount(file); ++i) {
        const DirectoryEntry* entry = DirectoryAt(file, i);
        if (entry == nullptr || !EndsWithIgnoringCase(entry->Name, ".hhk"))
            continue;
        lstrcpynA(name, entry->Name, NameBufferSize);
        return ExtractFile(file, name, length, data) == 0 ? 1 : -1;
    }
    return 0;
}

// Appends to link the path of local relative to folder ("/dir/"), with "."
// and ".." steps resolved and backslashes read as "/". Returns its length,
// or 0 when it is not a stored page (another scheme) or does not fit.
uint32_t ResolveLink(const char* folder, const char* local, char* link)
{
    // A link into a help file ("mk:@MSITStore:x.chm::/a.htm") names the page
    // after "::"; any other scheme names no stored page.
    const char* inside = strstr(local, "::");
    if (inside != nullptr)
        local = inside + 2;
    else
        for (const char* p = local; *p && *p != '/' && *p != '\\' && *p != '#'; ++p)
            if (*p == ':')
                return 0;
    char joined[NameBufferSize];
    if (local[0] == '/' || local[0] == '\\')
        lstrcpynA(joined, local, NameBufferSize);
    else {
        lstrcpynA(joined, folder, NameBufferSize);
        size_t n = strlen(joined);
        lstrcpynA(joined + n, local, NameBufferSize - (int)n);
    }
    if (strlen(joined) >= (size_t)NameBufferSize - 1)
        return 0;
    // Resolve step by step; k is the length written (without the leading "/").
    uint32_t k = 0;
    const char* p = joined;
    while (*p != '\0') {
        while (*p == '/' || *p == '\\')
            ++p;
        const char* step = p;
        while (*p != '\0' && *p != '/' && *p != '\\' && *p != '#')
            ++p;
        uint32_t n = (uint32_t)(p - step);
        if (n == 1 && step[0] == '.')
            continue;
        if (n == 2 && step[0] == '.' && step[1] == '.') {
            while (k > 0 && link[k - 1] != '/')
                --k;
            if (k > 0)
                --k;
            continue;
        }
        if (k > 0 && n > 0)
            link[k++] = '/';
        memcpy(link + k, step, n);
        k += n;
        if (*p == '#') {
            uint32_t rest = (uint32_t)strlen(p);
            memcpy(link + k, p, rest);
            k += rest;
            break;
        }
    }
    link[k] = '\0';
    return k;
}

// The composed keyword of entry: its ancestors' names and its own, joined by
// ", ", in the OEM code page.
void ComposeKeyword(const Sitemap* map, uint32_t entry, uint32_t codePage, char* keyword)
{
    uint32_t chain[SitemapMaxLevel + 1];
    uint32_t depth = 0;
    for (uint32_t e = entry; e != NoText && depth <= SitemapMaxLevel; e = map->entries[e].parent)
        chain[depth++] = e;
    char raw[TitleBufferSize];
    uint32_t k = 0;
    raw[0] = '\0';
    while (depth > 0) {
        const char* name = SitemapText(map, map->entries[chain[--depth]].name);
        if (k > 0 && k + 2 < (uint32_t)TitleBufferSize) {
            raw[k++] = ',';
            raw[k++] = ' ';
        }
        while (*name != '\0' && k + 1 < (uint32_t)TitleBufferSize)
            raw[k++] = *name++;
        raw[k] = '\0';
    }
    SitemapTextToOem(raw, codePage, keyword);
}

}  // namespace

void ReleaseKeywordIndex(KeywordIndex* index)
{
    free(index->targets);
    free(index->text);
    memset(index, 0, sizeof *index);
}

const char* KeywordText(const KeywordIndex* index, uint32_t offset)
{
    if (offset == NoText || offset >= index->textLength)
        return "";
    return index->text + offset;
}

int ReadCompiledKeywords(const uint8_t* data, uint32_t length, const TopicIndex* topics,
                         KeywordIndex* index)
{
    if (length < BTreeHeaderSize || ReadLE16(data) != BTreeSignature)
        return -1;
    uint32_t blockSize = ReadLE16(data + 4);
    if (blockSize <= BlockHeaderSize)
        return -1;
    uint32_t blocks = (length - BTreeHeaderSize) / blockSize;
    uint8_t* visited = (uint8_t*)calloc(blocks / 8 + 1, 1);
    if (visited == nullptr)
        return 0;
    int ok = 1;
    for (uint32_t block = 0; ok && block < blocks && !(visited[block / 8] & (1u << (block % 8)));) {
        visited[block / 8] |= (uint8_t)(1u << (block % 8));
        const uint8_t* at = data + BTreeHeaderSize + (size_t)block * blockSize;
        ok = ReadBlockEntries(at, blockSize, topics, index);
        block = ReadLE32(at + 8);
        if (block == EndOfChain)
            break;
    }
    free(visited);
    return ok;
}

int ReadSitemapKeywords(const uint8_t* data, uint32_t length, const char* sitemapName,
                        KeywordIndex* index, uint32_t codePage)
{
    Sitemap map;
    if (!ParseSitemap(data, length, &map))
        return 0;
    // The folder of the sitemap, with its "/", that links are relative to.
    char folder[NameBufferSize] = "/";
    const char* slash = strrchr(sitemapName, '/');
    if (slash != nullptr && slash - sitemapName < NameBufferSize - 1) {
        memcpy(folder, sitemapName, (size_t)(slash - sitemapName) + 1);
        folder[slash - sitemapName + 1] = '\0';
    }
    char keyword[TitleBufferSize], title[TitleBufferSize], link[NameBufferSize];
    int ok = 1;
    for (uint32_t e = 0; ok && e < map.entryCount; ++e) {
        const SitemapEntry& entry = map.entries[e];
        if (entry.name == NoText || entry.targetCount == 0)
            continue;
        ComposeKeyword(&map, e, codePage, keyword);
        uint32_t offset;
        ok = AppendText(index, keyword, (uint32_t)strlen(keyword), &offset);
        for (uint32_t t = 0; ok && t < entry.targetCount; ++t) {
            const SitemapTarget& target = map.targets[entry.firstTarget + t];
            uint32_t n = ResolveLink(folder, SitemapText(&map, target.local), link);
            if (n == 0)
                continue;
            uint32_t titleOffset = NoText;
            if (target.title != NoText) {
                SitemapTextToOem(SitemapText(&map, target.title), codePage, title);
                if (title[0] != '\0')
                    ok = AppendText(index, title, (uint32_t)strlen(title), &titleOffset);
            }
            ok = ok && AddTarget(index, offset, titleOffset, link, n);
        }
    }
    ReleaseSitemap(&map);
    return ok;
}

int ReadKeywordIndex(const char* helpPath, const TopicIndex* topics, KeywordIndex* index,
                     const char* compiledName)
{
    memset(index, 0, sizeof *index);
    int pathLength = lstrlenA(helpPath);
    if (pathLength >= NameBufferSize)
        return 0;
    char name[NameBufferSize];

    // The compiled index lives beside the topic index: in the companion
    // index file when that opens. Both files opened a moment ago, so one that
    // no longer opens, or an index listed but unreadable, fails the request.
    HelpFile* file = nullptr;
    if (pathLength >= 3) {
        lstrcpyA(name, helpPath);
        lstrcpyA(name + pathLength - 3, "chi");
        file = OpenHelpFile(name);
    }
    if (file == nullptr)
        file = OpenHelpFile(helpPath);
    if (file == nullptr)
        return 0;
    uint32_t length = 0;
    uint8_t* data = nullptr;
    int listed = ExtractListed(file, compiledName, &length, &data);
    CloseHelpFile(file);
    if (listed < 0)
        return 0;
    int read = -1;
    if (listed > 0) {
        read = ReadCompiledKeywords(data, length, topics, index);
        free(data);
    }
    if (read == -1 && strcmp(compiledName, KeywordLinksName) != 0)
        read = 1;  // no such index: it has no other form
    if (read == -1) {
        // No compiled index: the sitemap index, from the help file itself.
        file = OpenHelpFile(helpPath);
        if (file == nullptr)
            return 0;
        listed = ExtractSitemapIndex(file, name, &length, &data);
        CloseHelpFile(file);
        read = listed == 0;
        if (listed > 0) {
            read = ReadSitemapKeywords(data, length, name, index,
                                       topics != nullptr ? topics->codePage : 0);
            free(data);
        }
    }
    if (read != 1) {
        ReleaseKeywordIndex(index);
        return 0;
    }
    return 1;
}

// The stored name that is name exactly, else that differs from it only in
// ASCII case, into found.
static int FindStoredName(HelpFile* file, const char* name, char* found)
{
    if (FindDirectoryEntry(name, file->Entries) != nullptr) {
        lstrcpynA(found, name, NameBufferSize);
        return 1;
    }
    for (int32_t i = 0; i < DirectoryCount(file); ++i) {
        const DirectoryEntry* entry = DirectoryAt(file, i);
        if (entry == nullptr)
            continue;
        const char* stored = entry->Name;
        size_t k = 0;
        for (; stored[k] != '\0' && name[k] != '\0'; ++k) {
            char a = stored[k], b = name[k];
            if (a >= 'A' && a <= 'Z')
                a = (char)(a - 'A' + 'a');
            if (b >= 'A' && b <= 'Z')
                b = (char)(b - 'A' + 'a');
            if (a != b)
                break;
        }
        if (stored[k] == '\0' && name[k] == '\0') {
            lstrcpynA(found, stored, NameBufferSize);
            return 1;
        }
    }
    return 0;
}

int ResolveStoredName(const char* helpPath, const char* name, char* found)
{
    HelpFile* file = OpenHelpFile(helpPath);
    if (file == nullptr)
        return 0;
    int resolved = ResolveStoredNameIn(file, name, found);
    CloseHelpFile(file);
    return resolved;
}

int ResolveStoredNameIn(HelpFile* file, const char* name, char* found)
{
    // A link may escape bytes of the name as %XX ("a%20b.htm" for "a b.htm"):
    // it is read so only when the name as it is finds nothing.
    int resolved = FindStoredName(file, name, found);
    size_t length = strlen(name);
    char decoded[NameBufferSize];
    if (!resolved && length < sizeof decoded) {
        size_t n = DecodePercentEscapes(name, length, decoded);
        decoded[n] = '\0';
        // No escape, or one that stands for NUL: nothing more to look for.
        resolved = n != length && memchr(decoded, '\0', n) == nullptr &&
            FindStoredName(file, decoded, found);
    }
    return resolved;
}
