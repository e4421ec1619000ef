// Sitemap parsing: the HTML lists that hold a help file's keyword index and
// its table of contents.
//
// A sitemap is read as a flat run of tags. <UL> and </UL> move the nesting
// level; <OBJECT type="text/sitemap"> opens an entry and </OBJECT> (or the
// next entry) closes it; <PARAM name=... value=...> inside an entry gives its
// fields: the first Name is the entry's name, a later Name is the title of
// the Local that follows it, each Local is a target, and "See Also" points at
// another keyword. Everything else, comments included, is skipped. Tag and
// parameter names ignore ASCII case. Every scan stops at the end of the data,
// and every text lands in one pool whose offsets the entries hold.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "lookup/lookup.h"
#include "platform/text.h"

namespace {

// The parse in progress: the three growing arrays.
struct SitemapBuilder {
    Sitemap map;
    uint32_t entryCapacity;
    uint32_t targetCapacity;
    uint32_t textCapacity;
};

// Makes room for one more element of size bytes; 0 when memory runs out.
int Reserve(void** array, uint32_t count, uint32_t* capacity, size_t size)
{
    if (count < *capacity)
        return 1;
    if (*capacity > UINT32_MAX / 2 - 16)
        return 0;
    uint32_t grown = *capacity ? *capacity * 2 : 16;
    void* p = realloc(*array, (size_t)grown * size);
    if (p == nullptr)
        return 0;
    *array = p;
    *capacity = grown;
    return 1;
}

int AppendByte(SitemapBuilder* b, char c)
{
    if (!Reserve((void**)&b->map.text, b->map.textLength, &b->textCapacity, 1))
        return 0;
    b->map.text[b->map.textLength++] = c;
    return 1;
}

// Appends code point cp as UTF-8.
int AppendCodePoint(SitemapBuilder* b, uint32_t cp)
{
    char out[4];
    size_t n = EncodeUtf8(cp, out);
    for (size_t i = 0; i < n; ++i)
        if (!AppendByte(b, out[i]))
            return 0;
    return 1;
}

int IsSpace(uint8_t c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

// Whether the n bytes at p spell word (lower case) ignoring ASCII case.
int SameWord(const uint8_t* p, uint32_t n, const char* word)
{
    uint32_t i = 0;
    for (; i < n && word[i] != '\0'; ++i)
        if (FoldAscii((char)p[i]) != word[i])
            return 0;
    return i == n && word[i] == '\0';
}

struct Span {
    const uint8_t* at;
    uint32_t length;
};

// Appends the value with its character references decoded (only those
// closed by ';' that name a character: ReferencesClosed), and a NUL.
// Returns the value's offset, or NoText when memory runs out.
uint32_t AppendValue(SitemapBuilder* b, Span value)
{
    uint32_t start = b->map.textLength;
    const uint8_t* p = value.at;
    uint32_t n = value.length;
    uint32_t i = 0;
    while (i < n) {
        uint8_t c = p[i];
        if (c == '\0') {
            ++i;  // a NUL would end the text early
            continue;
        }
        if (c == '&') {
            uint32_t cp;
            size_t length =
                DecodeCharacterReference((const char*)p + i, n - i, &cp, ReferencesClosed);
            if (length > 0) {
                if (!AppendCodePoint(b, cp))
                    return NoText;
                i += (uint32_t)length;
                continue;
            }
        }
        if (!AppendByte(b, (char)c))
            return NoText;
        ++i;
    }
    if (!AppendByte(b, '\0'))
        return NoText;
    return start;
}

// One tag: its name (without "/"), whether it closes, and the three
// attributes a sitemap uses.
struct Tag {
    Span name;
    int closing;
    Span type, paramName, value;
    int hasValue;
};

// Reads the tag whose "<" is at data[*at] and leaves *at behind its ">" (or
// at the end of the data).
void ReadTag(const uint8_t* data, uint32_t length, uint32_t* at, Tag* tag)
{
    memset(tag, 0, sizeof *tag);
    uint32_t i = *at + 1;
    if (i < length && data[i] == '/') {
        tag->closing = 1;
        ++i;
    }
    uint32_t start = i;
    while (i < length && !IsSpace(data[i]) && data[i] != '>' && data[i] != '/')
        ++i;
    tag->name = {data + start, i - start};
    while (i < length && data[i] != '>') {
        if (IsSpace(data[i]) || data[i] == '/') {
            ++i;
            continue;
        }
        uint32_t nameStart = i;
        while (i < length && !IsSpace(data[i]) && data[i] != '>' && data[i] != '=' &&
               data[i] != '/')
            ++i;
        Span attribute = {data + nameStart, i - nameStart};
        while (i < length && IsSpace(data[i]))
            ++i;
        Span value = {data + i, 0};
        int hasValue = 0;
        if (i < length && data[i] == '=') {
            ++i;
            while (i < length && IsSpace(data[i]))
                ++i;
            hasValue = 1;
            if (i < length && (data[i] == '"' || data[i] == '\'')) {
                uint8_t quote = data[i++];
                uint32_t valueStart = i;
                while (i < length && data[i] != quote)
                    ++i;
                value = {data + valueStart, i - valueStart};
                if (i < length)
                    ++i;
            } else {
                uint32_t valueStart = i;
                while (i < length && !IsSpace(data[i]) && data[i] != '>')
                    ++i;
                value = {data + valueStart, i - valueStart};
            }
        }
        if (SameWord(attribute.at, attribute.length, "type"))
            tag->type = value;
        else if (SameWord(attribute.at, attribute.length, "name"))
            tag->paramName = value;
        else if (SameWord(attribute.at, attribute.length, "value")) {
            tag->value = value;
            tag->hasValue = hasValue;
        }
    }
    *at = i < length ? i + 1 : length;
}

// Skips a comment whose "<!--" is at data[*at].
void SkipComment(const uint8_t* data, uint32_t length, uint32_t* at)
{
    uint32_t i = *at + 4;
    while (i + 2 < length && !(data[i] == '-' && data[i + 1] == '-' && data[i + 2] == '>'))
        ++i;
    *at = i + 2 < length ? i + 3 : length;
}

// Opens a new entry at level; its parent is the nearest open ancestor.
int OpenEntry(SitemapBuilder* b, uint32_t level)
{
    Sitemap* m = &b->map;
    if (!Reserve((void**)&m->entries, m->entryCount, &b->entryCapacity, sizeof(SitemapEntry)))
        return 0;
    uint32_t parent = m->entryCount ? m->entryCount - 1 : NoText;
    // Each step goes at least one level up, so at most SitemapMaxLevel steps.
    while (parent != NoText && m->entries[parent].level >= level)
        parent = m->entries[parent].parent;
    SitemapEntry* e = &m->entries[m->entryCount++];
    e->level = level;
    e->parent = parent;
    e->name = NoText;
    e->seeAlso = NoText;
    e->firstTarget = m->targetCount;
    e->targetCount = 0;
    return 1;
}

// Adds a PARAM to the open entry; pendingTitle carries a second Name to the
// next Local.
int AddParameter(SitemapBuilder* b, const Tag* tag, uint32_t* pendingTitle)
{
    Sitemap* m = &b->map;
    SitemapEntry* e = &m->entries[m->entryCount - 1];
    const Span& name = tag->paramName;
    int isName = SameWord(name.at, name.length, "name");
    int isLocal = SameWord(name.at, name.length, "local");
    int isSeeAlso = SameWord(name.at, name.length, "see also");
    if (!isName && !isLocal && !isSeeAlso)
        return 1;
    uint32_t value = AppendValue(b, tag->value);
    if (value == NoText)
        return 0;
    e = &m->entries[m->entryCount - 1];
    if (isName) {
        if (e->name == NoText)
            e->name = value;
        else
            *pendingTitle = value;
    } else if (isSeeAlso) {
        if (e->seeAlso == NoText)
            e->seeAlso = value;
    } else {
        if (!Reserve((void**)&m->targets, m->targetCount, &b->targetCapacity,
                     sizeof(SitemapTarget)))
            return 0;
        m->targets[m->targetCount++] = {*pendingTitle, value};
        e->targetCount += 1;
        *pendingTitle = NoText;
    }
    return 1;
}

}  // namespace

void ReleaseSitemap(Sitemap* map)
{
    free(map->entries);
    free(map->targets);
    free(map->text);
    memset(map, 0, sizeof *map);
}

const char* SitemapText(const Sitemap* map, uint32_t offset)
{
    if (offset == NoText || offset >= map->textLength)
        return "";
    return map->text + offset;
}

int ParseSitemap(const uint8_t* data, uint32_t length, Sitemap* map)
{
    SitemapBuilder b;
    memset(&b, 0, sizeof b);
    uint32_t depth = 0;
    int inEntry = 0;
    uint32_t pendingTitle = NoText;
    uint32_t at = 0;
    int ok = 1;
    while (ok && at < length) {
        const void* next = memchr(data + at, '<', length - at);
        if (next == nullptr)
            break;
        at = (uint32_t)((const uint8_t*)next - data);
        if (length - at >= 4 && memcmp(data + at, "<!--", 4) == 0) {
            SkipComment(data, length, &at);
            continue;
        }
        Tag tag;
        ReadTag(data, length, &at, &tag);
        if (SameWord(tag.name.at, tag.name.length, "ul")) {
            if (!tag.closing)
                depth += depth < SitemapMaxLevel + 1;
            else if (depth > 0)
                depth -= 1;
        } else if (SameWord(tag.name.at, tag.name.length, "object")) {
            inEntry = 0;
            if (!tag.closing && SameWord(tag.type.at, tag.type.length, "text/sitemap")) {
                ok = OpenEntry(&b, depth > 0 ? depth - 1 : 0);
                inEntry = ok;
                pendingTitle = NoText;
            }
        } else if (inEntry && !tag.closing && tag.hasValue &&
                   SameWord(tag.name.at, tag.name.length, "param")) {
            ok = AddParameter(&b, &tag, &pendingTitle);
        }
    }
    if (!ok) {
        ReleaseSitemap(&b.map);
        memset(map, 0, sizeof *map);
        return 0;
    }
    *map = b.map;
    return 1;
}
