// The context map: which page a program's numeric context ID, or a name of
// the help project's map, opens.
//
// /#IVB is a DWORD, the length in bytes of what follows, then pairs of
// DWORDs: a context ID and the offset in /#STRINGS of the link its [ALIAS]
// line gave (NUL-terminated). The link is written as the compiler saw it:
// relative to the project ("html\a.htm#part") or, from chmcmd, as a path of
// the computer it ran on ("/home/me/proj/html/a.htm"); either way its tail is
// a stored name. Names are not compiled in: an alias is looked up in the
// project's definitions (FindContextName), a caller's or a header the help
// file stores.
//
// All of it is read as untrusted: pairs are read only within both the
// declared length and the file, a text offset only within #STRINGS, a text
// without a terminator ends with the data, and a link or definition that does
// not fit a name buffer leads nowhere.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "container/container.h"
#include "lookup/lookup.h"
#include "platform/platform.h"
#include "platform/text.h"

namespace {

constexpr uint32_t PairSize = 8;
// A map header is a page of text; a larger stored *.h is no map header.
constexpr uint32_t LargestHeader = 1u << 20;

const char* const HeaderSuffixes[] = {".h", ".hh", ".hm", ".ali"};

int IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r';
}

// The number that the n bytes at text spell whole (decimal, or hex after
// "0x"), with a C suffix of U and L letters allowed; a negative one as the
// DWORD the compiler stores for it. Returns 0 when they spell none or it
// exceeds 32 bits.
int ParseNumber(const char* text, size_t n, uint32_t* value)
{
    while (n > 0 &&
           (text[n - 1] == 'u' || text[n - 1] == 'U' || text[n - 1] == 'l' || text[n - 1] == 'L'))
        --n;
    int negative = n > 0 && text[0] == '-';
    if (negative) {
        ++text;
        --n;
    }
    uint32_t base = 10;
    if (n > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text += 2;
        n -= 2;
    }
    if (n == 0)
        return 0;
    uint64_t v = 0;
    for (size_t i = 0; i < n; ++i) {
        int digit = HexDigitValue(text[i]);
        if (digit < 0 || (uint32_t)digit >= base)
            return 0;
        v = v * base + (uint32_t)digit;
        if (v > (negative ? 0x80000000u : UINT32_MAX))
            return 0;
    }
    *value = negative ? 0u - (uint32_t)v : (uint32_t)v;
    return 1;
}

// One definition line of n bytes: what it says of name.
int ReadDefinition(const char* line, size_t n, const char* name, size_t nameLength, uint32_t* id,
                   char* link)
{
    size_t p = 0;
    while (p < n && IsBlank(line[p]))
        ++p;
    if ((p < n && line[p] == ';') || (n - p >= 2 && line[p] == '/' && line[p + 1] == '/'))
        return ContextNameUnknown;
    int defined = 0;
    if (p < n && line[p] == '#') {
        if (n - p < 8 || memcmp(line + p, "#define", 7) != 0 || !IsBlank(line[p + 7]))
            return ContextNameUnknown;
        defined = 1;
        p += 8;
        while (p < n && IsBlank(line[p]))
            ++p;
    }
    size_t start = p;
    while (p < n && !IsBlank(line[p]) && line[p] != '=')
        ++p;
    if (p - start != nameLength || CompareFolded(line + start, name, nameLength) != 0)
        return ContextNameUnknown;
    while (p < n && IsBlank(line[p]))
        ++p;
    int assigned = !defined && p < n && line[p] == '=';
    if (assigned)
        ++p;
    while (p < n && IsBlank(line[p]))
        ++p;
    size_t end = n;
    // A comment may follow the value of a C definition.
    for (size_t k = p; defined && k + 1 < n; ++k)
        if (line[k] == '/' && (line[k + 1] == '/' || line[k + 1] == '*')) {
            end = k;
            break;
        }
    while (end > p && IsBlank(line[end - 1]))
        --end;
    if (end == p)
        return ContextNameUnknown;
    if (ParseNumber(line + p, end - p, id))
        return ContextNameId;
    if (!assigned || end - p >= (size_t)NameBufferSize || memchr(line + p, '\0', end - p))
        return ContextNameUnknown;
    memcpy(link, line + p, end - p);
    link[end - p] = '\0';
    return ContextNameLink;
}

int EndsWithFolded(const char* text, const char* suffix)
{
    size_t n = strlen(text), m = strlen(suffix);
    return n >= m && CompareFolded(text + n - m, suffix, m) == 0;
}

int IsMapHeader(const DirectoryEntry* entry)
{
    for (const char* suffix : HeaderSuffixes)
        if (EndsWithFolded(entry->Name, suffix))
            return 1;
    return 0;
}

// What the map headers file stores say of name.
int FindStoredDefinition(HelpFile* file, const char* name, uint32_t* id, char* link)
{
    for (int32_t i = 0; i < DirectoryCount(file); ++i) {
        const DirectoryEntry* entry = DirectoryAt(file, i);
        if (entry == nullptr || entry->Length > LargestHeader || !IsMapHeader(entry))
            continue;
        uint32_t length = 0;
        uint8_t* data = nullptr;
        if (ExtractEntry(file, entry, &length, &data) != 0)
            continue;
        int kind = FindContextName((const char*)data, length, name, id, link);
        free(data);
        if (kind != ContextNameUnknown)
            return kind;
    }
    return ContextNameUnknown;
}

// The page of context ID id in an open help file.
int FindContextPageIn(HelpFile* file, uint32_t id, ContextTarget* target)
{
    ContextMap map;
    if (!ReadContextMap(file, &map))
        return 0;
    char link[NameBufferSize];
    int found = FindContextLink(&map, id, link) && ResolveContextLink(file, link, target);
    ReleaseContextMap(&map);
    return found;
}

}  // namespace

int ReadContextMap(HelpFile* file, ContextMap* map)
{
    memset(map, 0, sizeof *map);
    if (FindDirectoryEntry(ContextMapName, file->Entries) == nullptr)
        return 0;
    if (ExtractFile(file, ContextMapName, &map->mapLength, &map->map) != 0 ||
        ExtractFile(file, "/#STRINGS", &map->stringsLength, &map->strings) != 0) {
        ReleaseContextMap(map);
        return 0;
    }
    return 1;
}

void ReleaseContextMap(ContextMap* map)
{
    free(map->map);
    free(map->strings);
    memset(map, 0, sizeof *map);
}

int FindContextLink(const ContextMap* map, uint32_t id, char* link)
{
    link[0] = '\0';
    if (map->mapLength < 4)
        return 0;
    uint32_t declared = ReadLE32(map->map);
    uint32_t available = map->mapLength - 4;
    uint32_t pairs = (declared < available ? declared : available) / PairSize;
    for (uint32_t k = 0; k < pairs; ++k) {
        const uint8_t* pair = map->map + 4 + (size_t)k * PairSize;
        if (ReadLE32(pair) != id)
            continue;
        uint32_t offset = ReadLE32(pair + 4);
        if (offset >= map->stringsLength)
            return 0;
        const char* text = (const char*)map->strings + offset;
        uint32_t rest = map->stringsLength - offset;
        const char* end = (const char*)memchr(text, '\0', rest);
        uint32_t n = end ? (uint32_t)(end - text) : rest;
        if (n == 0 || n >= (uint32_t)NameBufferSize)
            return 0;
        memcpy(link, text, n);
        link[n] = '\0';
        return 1;
    }
    return 0;
}

int ResolveContextLink(HelpFile* file, const char* link, ContextTarget* target)
{
    target->page[0] = target->anchor[0] = '\0';
    // Room for the "/" put before a tail.
    size_t length = strlen(link);
    if (length == 0 || length >= (size_t)NameBufferSize - 1)
        return 0;
    char path[NameBufferSize];
    memcpy(path, link, length + 1);
    char* hash = strchr(path, '#');
    if (hash != nullptr)
        *hash = '\0';
    const char* inside = strstr(path, "::");
    char* p = inside != nullptr ? path + (inside - path) + 2 : path;
    if (strstr(p, "://") != nullptr)
        return 0;
    for (char* c = p; *c != '\0'; ++c)
        if (*c == '\\')
            *c = '/';
    size_t n = strlen(p);
    if (n == 0 || p[n - 1] == '/')
        return 0;
    // Each tail after a "/", longest first, with the "/" of a stored name.
    char candidate[NameBufferSize];
    for (size_t at = 0; at < n; ++at) {
        if (at > 0 && p[at - 1] != '/')
            continue;
        if (p[at] == '/')
            continue;
        candidate[0] = '/';
        memcpy(candidate + 1, p + at, n - at + 1);
        if (ResolveStoredNameIn(file, candidate, target->page)) {
            if (hash != nullptr)
                lstrcpynA(target->anchor, link + (hash - path) + 1, NameBufferSize);
            return 1;
        }
    }
    target->page[0] = '\0';
    return 0;
}

int FindContextPage(const char* helpPath, uint32_t id, ContextTarget* target)
{
    target->page[0] = target->anchor[0] = '\0';
    HelpFile* file = OpenHelpFile(helpPath);
    if (file == nullptr)
        return 0;
    int found = FindContextPageIn(file, id, target);
    CloseHelpFile(file);
    return found;
}

int FindContextName(const char* text, uint32_t length, const char* name, uint32_t* id, char* link)
{
    size_t nameLength = strlen(name);
    if (nameLength == 0)
        return ContextNameUnknown;
    uint32_t at = 0;
    while (at < length) {
        const char* line = text + at;
        const char* newline = (const char*)memchr(line, '\n', length - at);
        uint32_t n = newline ? (uint32_t)(newline - line) : length - at;
        int kind = ReadDefinition(line, n, name, nameLength, id, link);
        if (kind != ContextNameUnknown || newline == nullptr)
            return kind;
        at += n + 1;
    }
    return ContextNameUnknown;
}

int FindAliasPage(const char* helpPath, const char* alias, ContextTarget* target,
                  const char* definitions, uint32_t definitionsLength)
{
    target->page[0] = target->anchor[0] = '\0';
    HelpFile* file = OpenHelpFile(helpPath);
    if (file == nullptr)
        return 0;
    uint32_t id = 0;
    char link[NameBufferSize];
    int kind = definitions != nullptr
        ? FindContextName(definitions, definitionsLength, alias, &id, link)
        : FindStoredDefinition(file, alias, &id, link);
    int found = 0;
    if (kind == ContextNameId)
        found = FindContextPageIn(file, id, target);
    else if (kind == ContextNameLink)
        found = ResolveContextLink(file, link, target);
    CloseHelpFile(file);
    return found;
}
