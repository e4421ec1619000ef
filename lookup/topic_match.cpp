// The topics that match a keyword: one list, in the order a help request
// offers them, for every reader of a help file.
//
// The sources are asked in turn, titles first, and the first that gives a
// match answers alone: a keyword that begins a title never reaches the
// keyword index, which is then not even read, and the full-text index is
// read only when neither answers. Each match carries its own texts in one
// pool, so the list outlives the indexes it was read from.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "lookup/encoding.h"
#include "lookup/lookup.h"
#include "platform/platform.h"

namespace {

// The longest menu text of an index entry: the keyword, " - " and the
// target's title or page.
constexpr size_t EntryTextSize = TitleBufferSize + NameBufferSize + 4;

// The list being filled, and whether it stopped at the limit or for want of
// memory.
struct Gathering {
    TopicMatches* matches;
    uint32_t limit;
    int noMemory;
    int full;
};

// Puts n bytes and a NUL into the pool, after a "/" with slash; NoText
// (noting the failure) when the pool cannot grow.
uint32_t Keep(Gathering* g, const char* text, size_t n, bool slash = false)
{
    TopicMatches* m = g->matches;
    if (g->noMemory || n >= UINT32_MAX / 4 || m->textLength >= UINT32_MAX / 4) {
        g->noMemory = 1;
        return NoText;
    }
    uint32_t need = m->textLength + (uint32_t)n + slash + 1;
    if (need > m->textCapacity) {
        uint32_t size = m->textCapacity ? m->textCapacity : 1024;
        while (size < need)
            size *= 2;
        char* grown = (char*)realloc(m->text, size);
        if (grown == nullptr) {
            g->noMemory = 1;
            return NoText;
        }
        m->text = grown;
        m->textCapacity = size;
    }
    uint32_t at = m->textLength;
    if (slash)
        m->text[at] = '/';
    memcpy(m->text + at + slash, text, n);
    m->text[need - 1] = '\0';
    m->textLength = need;
    return at;
}

uint32_t KeepText(Gathering* g, const char* text)
{
    return Keep(g, text, strlen(text));
}

// Whether one more match may be added: false once the limit is reached
// (noting that matches were left out) or memory ran out.
bool Room(Gathering* g)
{
    if (g->noMemory || g->full)
        return false;
    if (g->matches->count >= g->limit) {
        g->matches->more = 1;
        g->full = 1;
        return false;
    }
    return true;
}

void Add(Gathering* g, const TopicMatch& match)
{
    TopicMatches* m = g->matches;
    if (g->noMemory)
        return;
    if (m->count == m->capacity) {
        if (m->capacity > UINT32_MAX / 2 / sizeof(TopicMatch)) {
            g->noMemory = 1;
            return;
        }
        uint32_t size = m->capacity ? m->capacity * 2 : 32;
        TopicMatch* grown = (TopicMatch*)realloc(m->matches, (size_t)size * sizeof(TopicMatch));
        if (grown == nullptr) {
            g->noMemory = 1;
            return;
        }
        m->matches = grown;
        m->capacity = size;
    }
    m->matches[m->count++] = match;
}

// The URL at position in #URLSTR split at its first "#" into the match's page
// ("/" and what precedes it) and, with withAnchor, its anchor, each ending
// with the data at the latest.
void KeepUrl(Gathering* g, const TopicIndex* topics, uint32_t position, bool withAnchor,
             TopicMatch* match)
{
    const char* url = (const char*)topics->urls + position;
    size_t available = topics->urlsLength - position;
    const char* end = (const char*)memchr(url, '\0', available);
    size_t n = end ? (size_t)(end - url) : available;
    const char* hash = (const char*)memchr(url, '#', n);
    size_t pageLength = hash ? (size_t)(hash - url) : n;
    match->page = Keep(g, url, pageLength, true);
    match->anchor = NoText;
    if (withAnchor && hash != nullptr && n > pageLength + 1)
        match->anchor = Keep(g, hash + 1, n - pageLength - 1);
}

// Titles: every examined record compared once, in record order.
void MatchTitles(Gathering* g, const TopicIndex* topics, const char* keyword, TopicCompare compare)
{
    int32_t keywordLength = lstrlenA(keyword);
    char title[TitleBufferSize];
    uint32_t records = TopicRecordCount(topics);
    for (uint32_t record = 0; record < records; ++record) {
        // A title that cannot be read (real files store 0xFFFFFFFF for
        // untitled topics) is compared as empty, so that the comparison
        // sees every examined record, and never matches.
        int readable = ReadTopicTitle(topics, record, title);
        if (!readable)
            title[0] = '\0';
        uint32_t position;
        if (compare(title, keyword, keywordLength) != 0 || !readable ||
            (keyword[0] == '\0' && title[0] == '\0') || !FindTopicUrl(topics, record, &position))
            continue;
        if (!Room(g))
            return;
        TopicMatch match = {TopicFromTitle, KeepText(g, title), 0, 0, 0, NoText, position};
        match.title = match.text = match.entry;
        KeepUrl(g, topics, position, true, &match);
        Add(g, match);
    }
}

// The menu text of target t of the keyword index.
void EntryText(const KeywordIndex* index, uint32_t t, char* line)
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
        lstrcpynA(line + n, detail, (int)(EntryTextSize - n));
    }
}

// Keyword index entries: each entry compared once, every page of a matching
// one in index order. Returns 0 when the index cannot be read.
int MatchEntries(Gathering* g, const char* helpPath, const TopicIndex* topics, const char* keyword,
                 TopicCompare compare)
{
    KeywordIndex index;
    if (!ReadKeywordIndex(helpPath, topics, &index))
        return 0;
    int32_t keywordLength = lstrlenA(keyword);
    uint32_t compared = NoText;
    uint32_t entry = NoText;
    int matches = 0;
    char line[EntryTextSize];
    for (uint32_t t = 0; t < index.count; ++t) {
        const KeywordTarget& target = index.targets[t];
        if (target.keyword != compared) {
            compared = target.keyword;
            matches = compare(KeywordText(&index, compared), keyword, keywordLength) == 0;
            entry = NoText;
        }
        if (!matches)
            continue;
        if (!Room(g))
            break;
        if (entry == NoText)
            entry = KeepText(g, KeywordText(&index, target.keyword));
        EntryText(&index, t, line);
        TopicMatch match = {TopicFromKeywordIndex,
                            entry,
                            NoText,
                            KeepText(g, line),
                            KeepText(g, KeywordText(&index, target.page)),
                            NoText,
                            t};
        if (target.title != NoText)
            match.title = KeepText(g, KeywordText(&index, target.title));
        if (target.anchor != NoText)
            match.anchor = KeepText(g, KeywordText(&index, target.anchor));
        Add(g, match);
    }
    ReleaseKeywordIndex(&index);
    return 1;
}

// Pages of the full-text index, each once, by their topics' titles.
void MatchPages(Gathering* g, const char* helpPath, const TopicIndex* topics, const char* keyword)
{
    FullTextPage* pages = nullptr;
    uint32_t count = 0;
    g->matches->fullText = (uint32_t)FindFullTextPages(helpPath, topics, keyword, &pages, &count);
    if (g->matches->fullText == FullTextNoMemory)
        g->noMemory = 1;
    char title[TitleBufferSize];
    for (uint32_t k = 0; k < count && Room(g); ++k) {
        FullTextPageTitle(topics, &pages[k], title);
        TopicMatch match = {TopicFromFullText, KeepText(g, title), 0, 0, 0, NoText,
                            pages[k].position};
        match.title = match.text = match.entry;
        // A page is offered whole: it opens at the keyword, not at the
        // place one of its topics names.
        KeepUrl(g, topics, pages[k].position, false, &match);
        Add(g, match);
    }
    free(pages);
}

}  // namespace

int FindTopicMatches(const char* helpPath, const char* keyword, uint32_t sources,
                     TopicCompare compare, uint32_t limit, TopicMatches* matches)
{
    memset(matches, 0, sizeof *matches);
    if (helpPath == nullptr || keyword == nullptr || compare == nullptr)
        return TopicMatchNoTopicIndex;
    // Titles and the full-text index need the topic index; the keyword
    // index uses it where there is one (a sitemap index lists without).
    TopicIndex topics;
    int haveTopics = ReadTopicIndex(helpPath, &topics);
    if (!haveTopics) {
        if (sources & (TopicFromTitle | TopicFromFullText))
            return TopicMatchNoTopicIndex;
        memset(&topics, 0, sizeof topics);
    }
    Gathering g = {matches, limit, 0, 0};
    int result = TopicMatchOk;
    if (sources & TopicFromTitle)
        MatchTitles(&g, &topics, keyword, compare);
    if (matches->count == 0 && !matches->more && !g.noMemory && (sources & TopicFromKeywordIndex) &&
        !MatchEntries(&g, helpPath, &topics, keyword, compare))
        result = TopicMatchNoKeywordIndex;
    if (matches->count == 0 && !matches->more && !g.noMemory && result == TopicMatchOk &&
        (sources & TopicFromFullText) && keyword[0] != '\0')
        MatchPages(&g, helpPath, &topics, keyword);
    if (haveTopics)
        ReleaseTopicIndex(&topics);
    if (g.noMemory)
        result = TopicMatchNoMemory;
    if (result != TopicMatchOk) {
        uint32_t fullText = matches->fullText;
        ReleaseTopicMatches(matches);
        matches->fullText = fullText;
    }
    return result;
}

void ReleaseTopicMatches(TopicMatches* matches)
{
    free(matches->matches);
    free(matches->text);
    memset(matches, 0, sizeof *matches);
}

const char* TopicMatchText(const TopicMatches* matches, uint32_t offset)
{
    if (offset == NoText || offset >= matches->textLength)
        return "";
    return matches->text + offset;
}

int TopicMenuItems(const TopicMatches* matches, MenuItem** items, int32_t* count)
{
    *items = nullptr;
    *count = 0;
    for (uint32_t k = 0; k < matches->count; ++k) {
        const TopicMatch& match = matches->matches[k];
        if (!AppendMenuItem(items, count, TopicMatchText(matches, match.text), match.value)) {
            free(*items);
            *items = nullptr;
            *count = 0;
            return 0;
        }
    }
    return 1;
}
