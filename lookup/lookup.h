// Keyword lookup and topic display: the help request, from a keyword to the
// page opened in the host's viewer or editor.
#pragma once

#include <cstdint>

// Working storage of one help request (limits of the design).
constexpr int NameBufferSize = 1024;      // companion index path, later the page name
constexpr int TitleBufferSize = 512;      // one topic title, OEM code page
constexpr int MenuTitleBufferSize = 128;  // the module's message 0
constexpr int MenuTextSize = 128;         // MenuItem.text
constexpr int TempPathBufferSize = 260;   // temporary directory, then the page file

// The page file inside the temporary directory, and the temporary-name prefix.
constexpr char PageFileName[] = "\\velkory.txt";
constexpr char TempNamePrefix[] = "VLKT";

// Looks keyword up in the topic index of helpPath (or of its companion index
// file), else in its keyword index, else in its full-text index, lets the
// user choose among several matches and displays the chosen page. Returns 1
// when the request was dealt with (no match included), 0 when it failed.
int ShowHelpTopic(const char* helpPath, const char* keyword);

// Extracts pageName from helpPath into a new temporary directory and opens it
// in the host's viewer or editor; the page's stored name and its anchor are
// named beside it (see WriteBesidePage). Returns 1 or 0; a page that could not be written whole is
// removed before the host sees it.
int DisplayTopic(const char* helpPath, const char* keyword, const char* pageName,
                 const char* anchor = nullptr);

// The topic index: the four stored files that map topics to titles and URLs.
struct TopicIndex {
    uint8_t* topics;  // "/#TOPICS": 16-byte records
    uint32_t topicsLength;
    uint8_t* strings;  // "/#STRINGS": NUL-terminated titles
    uint32_t stringsLength;
    uint8_t* urlTable;  // "/#URLTBL": entries whose bytes 8-11 locate a URL
    uint32_t urlTableLength;
    uint8_t* urls;  // "/#URLSTR": NUL-terminated URLs
    uint32_t urlsLength;
    uint32_t codePage;  // the ANSI code page of the help file's language, 0 when unknown
};

// Reads the four index files of the companion index file of helpPath, or of
// helpPath itself when there is no companion, and the language from the
// #SYSTEM of the same file (else of the help file). Returns 1 with the index
// filled, or 0 with nothing held.
int ReadTopicIndex(const char* helpPath, TopicIndex* index);
void ReleaseTopicIndex(TopicIndex* index);

// The title of topic record k, converted to the OEM code page from its own
// encoding (lookup/encoding.h) into title (TitleBufferSize bytes). Returns 0 when the record or its title lies
// outside the index; such a topic is skipped.
int ReadTopicTitle(const TopicIndex* index, uint32_t record, char* title);

// The position in #URLSTR of topic record k's URL, after the zero bytes before
// it. Returns 0 when the record's URL cannot be read (offset outside #URLTBL,
// position at or beyond the end of #URLSTR).
int FindTopicUrl(const TopicIndex* index, uint32_t record, uint32_t* position);

// "/" followed by the URL at position in #URLSTR, cut at the first "#", into
// name (NameBufferSize bytes). A URL that ends with the data ends there.
// Returns 0 when the name does not fit.
int BuildPageName(const TopicIndex* index, uint32_t position, char* name);

struct HelpFile;

// What a help file's #SYSTEM tells: its language, its title (in the help
// file's encoding, as written) and the stored names of its contents (.hhc)
// and index (.hhk) sitemaps, as written there (usually without the leading
// "/"), with the page it opens on and the window type it opens in. Missing
// items are 0 or empty.
struct SystemInfo {
    uint32_t lcid;
    char contentsFile[NameBufferSize];
    char indexFile[NameBufferSize];
    char title[TitleBufferSize];
    char defaultTopic[NameBufferSize];   // a link, as written ("dir/page%201.htm#part")
    char defaultWindow[NameBufferSize];  // the name of a window type of #WINDOWS
};

// Reads the #SYSTEM of an open help file. Returns 0, with info cleared, when
// the file has none.
int ReadSystemInfo(HelpFile* file, SystemInfo* info);
// The records of a #SYSTEM's length bytes; whatever cannot be read is left out.
void ParseSystemInfo(const uint8_t* data, uint32_t length, SystemInfo* info);

// The page a window type of #WINDOWS opens on (its default file, else its
// home page), as written in #STRINGS, into page (NameBufferSize bytes): the
// window type called window, else the first one. "" when there is none or it
// cannot be read. ReadWindowHome reads both files of an open help file.
void ParseWindowHome(const uint8_t* windows, uint32_t windowsLength, const uint8_t* strings,
                     uint32_t stringsLength, const char* window, char* page);
void ReadWindowHome(HelpFile* file, const char* window, char* page);

// ---------------------------------------------------------------------------
// Sitemaps: the HTML lists of <OBJECT type="text/sitemap"> entries that hold a
// help file's keyword index (.hhk) and its table of contents (.hhc).

// An offset into a text pool that names no text.
constexpr uint32_t NoText = 0xFFFFFFFFu;

// One page an entry points at: a Local value, and the Name given just before
// it when there was a second one (the target's title).
struct SitemapTarget {
    uint32_t title;  // offset into Sitemap.text, or NoText
    uint32_t local;  // offset into Sitemap.text: the value as written ("dir/a.htm#part")
};

// One <OBJECT type="text/sitemap">, in document order. Nested lists make a
// tree: an entry's parent is the nearest earlier entry one level up.
struct SitemapEntry {
    uint32_t level;        // lists around the entry, less one (capped at SitemapMaxLevel)
    uint32_t parent;       // index of the parent entry, or NoText
    uint32_t name;         // the first Name (keyword or contents title), or NoText
    uint32_t seeAlso;      // a "See Also" value, or NoText
    uint32_t firstTarget;  // the entry's targets are targets[firstTarget, +targetCount)
    uint32_t targetCount;
};

constexpr uint32_t SitemapMaxLevel = 63;

// A parsed sitemap. Texts are NUL-terminated in one pool, character
// references decoded (numeric ones above 127 as UTF-8), other bytes as stored.
struct Sitemap {
    SitemapEntry* entries;
    uint32_t entryCount;
    SitemapTarget* targets;
    uint32_t targetCount;
    char* text;
    uint32_t textLength;
};

// Parses length bytes of sitemap HTML. Anything that is not a sitemap entry
// is skipped; a cut or malformed document yields the entries it completes.
// Returns 0 only when memory runs out (with nothing held).
int ParseSitemap(const uint8_t* data, uint32_t length, Sitemap* map);
void ReleaseSitemap(Sitemap* map);
// The text at offset, or "" for NoText.
const char* SitemapText(const Sitemap* map, uint32_t offset);

// ---------------------------------------------------------------------------
// The keyword index: every keyword-page pair of a help file, in index order.

// One target of one keyword. Consecutive targets of one entry share the
// keyword's offset.
struct KeywordTarget {
    uint32_t keyword;  // the keyword in the OEM code page; sub-keywords as "keyword, sub-keyword"
    uint32_t title;    // the target's title in the OEM code page, or NoText
    uint32_t page;     // the stored name of the page: "/" and the link cut at "#"
    uint32_t anchor;   // what followed "#" in the link, or NoText
};

struct KeywordIndex {
    KeywordTarget* targets;
    uint32_t count;
    char* text;
    uint32_t textLength;
    uint32_t textCapacity;
    uint32_t capacity;
};

// Reads the keyword index of helpPath: the compiled one (/$WWKeywordLinks/BTree
// of the file the topic index came from, its topic numbers resolved through
// topics) when it is there, else the sitemap index stored in the help file
// (the one #SYSTEM names, else the one *.hhk stored). Returns 1 with the index
// filled (possibly empty), 0 with nothing held when memory runs out.
// compiledName may name another compiled index of the same layout (the A-link
// index, AssociativeLinksName): only that one is read then, since it has no
// sitemap form.
constexpr char KeywordLinksName[] = "/$WWKeywordLinks/BTree";
int ReadKeywordIndex(const char* helpPath, const TopicIndex* topics, KeywordIndex* index,
                     const char* compiledName = KeywordLinksName);
void ReleaseKeywordIndex(KeywordIndex* index);
const char* KeywordText(const KeywordIndex* index, uint32_t offset);

// The readers behind ReadKeywordIndex, over bytes already extracted; each
// appends to index and returns 0 only when memory runs out. The compiled
// reader returns -1, having added nothing, when the bytes are no compiled
// index. sitemapName is the stored name of the sitemap: its links are
// relative to its folder.
int ReadCompiledKeywords(const uint8_t* data, uint32_t length, const TopicIndex* topics,
                         KeywordIndex* index);
// The sitemap's texts are each in their own encoding (lookup/encoding.h), with
// codePage that of the help file's language (0 when unknown).
int ReadSitemapKeywords(const uint8_t* data, uint32_t length, const char* sitemapName,
                        KeywordIndex* index, uint32_t codePage = 0);

// When no title begins with keyword: offers the keyword index entries that
// do, and displays the chosen page as a title match's. Returns 1 or 0, or -1
// when no entry begins with keyword.
int ShowKeywordTopic(const char* helpPath, const TopicIndex* topics, const char* keyword);

// ---------------------------------------------------------------------------
// The full-text index (/$FIftiMain, doc/formats/fulltext-index.md): every word
// of the pages' text, lower-cased in the index's code page, with the topics
// whose page holds it.

// Results of a full-text lookup.
enum : int {
    FullTextOk = 0,       // looked up (finding nothing included)
    FullTextMissing = 1,  // the help file has no full-text index
    FullTextDamaged = 2,  // the index cannot be read on the way to the words
    FullTextNoMemory = 3,
};

// Where the reader takes the index's bytes from: Read copies length bytes at
// offset of the index into destination and returns 1, or returns 0 when they
// cannot be read. The reader asks only for bytes within length.
struct FullTextSource {
    uint32_t length;  // bytes in the index
    int (*Read)(void* context, uint32_t offset, uint32_t length, uint8_t* destination);
    void* context;
};

// What the index's header says, checked against the index's length: the
// root node lies within it, nodes are 64 to 65536 bytes, the tree is 1 to 32
// levels deep and every number of the lists is coded with scale 2.
struct FullTextHeader {
    uint32_t rootOffset;
    uint32_t depth;  // levels of nodes, the leaves included
    uint32_t nodeSize;
    uint8_t documentRoot;  // root sizes of the topic numbers, the counts of
    uint8_t countRoot;     // location codes and the location codes of a list
    uint8_t locationRoot;
    uint32_t codePage;  // of the words; 0 when the index does not say
    uint32_t lcid;
};

// Reads the header. Returns 0 when it is no usable index.
int ReadFullTextHeader(const FullTextSource* source, FullTextHeader* header);

// The topics whose text holds a word that begins with the size bytes of
// prefix, compared byte for byte (prefix as the index stores words, see
// FullTextWord): the topics of each such word in the index's order, each
// topic once, topics at or beyond topicCount left out. Reads only the nodes
// on the way and the lists of those words. Returns FullTextOk with a new
// array of *count topics in *topics (freed with free(); null when none), or
// FullTextDamaged or FullTextNoMemory with none.
int FindFullTextTopics(const FullTextSource* source, const FullTextHeader* header,
                       const char* prefix, uint32_t size, uint32_t topicCount, uint32_t** topics,
                       uint32_t* count);

// The keyword (OEM code page) as the index stores its words: every letter
// folded to lower case, in codePage (0: the system's ANSI code page), into
// word (capacity bytes, not terminated), *length bytes. Returns 0 when the
// keyword cannot be written there (a character the code page lacks): no word
// of the index can begin with it.
int FullTextWord(const char* keyword, uint32_t codePage, char* word, uint32_t capacity,
                 uint32_t* length);

// A page found in the full-text index: its topic and its URL's position in
// #URLSTR (FindTopicUrl).
struct FullTextPage {
    uint32_t topic;
    uint32_t position;
};

// The pages of helpPath whose text holds a word beginning with keyword (OEM
// code page): the topics FindFullTextTopics gives that lead to a page, each
// page once. The index is read from the help file itself, the words in the
// code page its header names, else in topics->codePage. Returns FullTextOk
// with a new array of *count pages in *pages (freed with free(); null when
// none), or another result with none.
int FindFullTextPages(const char* helpPath, const TopicIndex* topics, const char* keyword,
                      FullTextPage** pages, uint32_t* count);

// What a page is offered as (TitleBufferSize bytes, OEM code page): its
// topic's title, else its page's name without the leading "/".
void FullTextPageTitle(const TopicIndex* topics, const FullTextPage* page, char* title);

// When neither a title nor the keyword index answers: offers the pages whose
// text holds a word beginning with keyword, one menu item each, and displays
// the chosen one as a title match's. Returns 1 or 0, or -1 when there is no
// such page (also when the help file has no full-text index or a damaged one).
int ShowFullTextTopic(const char* helpPath, const TopicIndex* topics, const char* keyword);

// ---------------------------------------------------------------------------
// The menu of a help request.

struct MenuItem;

// Adds an item to the *count items of *items: text (OEM code page) cut to the
// item's size at a character boundary, and userValue. Returns 0, leaving the
// list as it was, when it cannot grow (or already holds INT32_MAX items).
int AppendMenuItem(MenuItem** items, int32_t* count, const char* text, uint32_t userValue);

// The item of count (at least 1) the user chooses in the host's menu; a
// single item is chosen without one. Returns its index, MenuLeft when the
// user left the menu, or MenuFailed when the host named no item.
constexpr int32_t MenuLeft = -1;
constexpr int32_t MenuFailed = -2;
int32_t ChooseMenuItem(const MenuItem* items, int32_t count);

// The stored name of helpPath's file that equals name, else the first that
// equals it ignoring ASCII case, copied into found (NameBufferSize bytes);
// when neither exists, the same for name with its %XX escapes decoded (a
// keyword index may write "a%20b.htm" for "a b.htm"). Returns 0 when none
// exists.
int ResolveStoredName(const char* helpPath, const char* name, char* found);

// Beside the page file at pagePath (".../velkory.txt"), files for hosts that
// look for them: the anchor the page should open at, and the page's stored
// name (so that a host can serve the help file and follow the page's links).
// Each holds its text's bytes alone; a host that does not look for them
// opens the page as usual. Returns 0, leaving no such file, when it cannot be
// written.
constexpr char AnchorFileName[] = "velkory.anchor";
constexpr char PageNameFileName[] = "velkory.page";
int WriteBesidePage(const char* pagePath, const char* fileName, const char* text);

// ---------------------------------------------------------------------------
// The context map: the topics a program opens by number ([MAP] and [ALIAS] of
// the help project, compiled into /#IVB with their pages in /#STRINGS), and
// the A-link index (/$WWAssociativeLinks/BTree). doc/formats/context-map.md
// has the layouts.

constexpr char ContextMapName[] = "/#IVB";
constexpr char AssociativeLinksName[] = "/$WWAssociativeLinks/BTree";

// /#IVB and the /#STRINGS of the same help file, as extracted (or any bytes
// a caller points at).
struct ContextMap {
    uint8_t* map;  // a DWORD length, then (context ID, #STRINGS offset) pairs of DWORDs
    uint32_t mapLength;
    uint8_t* strings;
    uint32_t stringsLength;
};

// Where a context ID or alias leads: a stored name of the help file and the
// anchor its link named.
struct ContextTarget {
    char page[NameBufferSize];    // the stored name, as the directory spells it ("/html/a.htm")
    char anchor[NameBufferSize];  // what followed "#" in the link, "" when nothing did
};

// Extracts the context map of an open help file. Returns 1 with the map
// filled, 0 with nothing held when the file has no /#IVB or it (or #STRINGS)
// cannot be read.
int ReadContextMap(HelpFile* file, ContextMap* map);
void ReleaseContextMap(ContextMap* map);

// The link the map gives for context ID id, as #STRINGS holds it (the first
// pair of that ID counts), into link (NameBufferSize bytes). Returns 0 when
// no pair within the map has the ID, or its text lies outside #STRINGS, is
// empty or does not fit.
int FindContextLink(const ContextMap* map, uint32_t id, char* link);

// The stored page a link of the context map (or of an alias line) names in
// file: "#" starts the anchor; backslashes are read as "/"; whatever precedes
// a "::" is the help file's own path; and a link that begins with folders of
// the computer it was compiled on names the longest tail of it that is a
// stored name (found as ResolveStoredName finds one). Returns 0 when no
// stored file matches, for a link of another scheme ("http://") and for one
// that does not fit.
int ResolveContextLink(HelpFile* file, const char* link, ContextTarget* target);

// The page that context ID id opens in the help file at helpPath. Returns 1
// with target filled, 0 when the file, its context map or the ID's page
// cannot be found.
int FindContextPage(const char* helpPath, uint32_t id, ContextTarget* target);

// What a help project's map and alias definitions say of a name. A compiled
// help file keeps no names: they live in the project's [MAP] and [ALIAS]
// sections and the header files these include. Each line of text (length
// bytes, CR LF or LF) is one definition; the name is compared without regard
// to ASCII case and the first line that defines it counts:
//   "#define NAME 123" or "NAME 0x7B" or "NAME=-1"    a context ID (-1 is 0xFFFFFFFF)
//   "NAME=dir\page.htm#anchor"                         an alias's link
// Lines beginning with ";" or "//", other "#" lines and "#define"s of
// anything but a number define nothing.
enum ContextNameKind : int {
    ContextNameUnknown = 0,
    ContextNameId = 1,    // *id holds the context ID
    ContextNameLink = 2,  // link (NameBufferSize bytes) holds the alias's link
};
int FindContextName(const char* text, uint32_t length, const char* name, uint32_t* id, char* link);

// The page that alias (a name of the project's [ALIAS] or [MAP]) opens in the
// help file at helpPath, through definitions (length bytes of the lines
// FindContextName reads), else through the map header files the help file
// stores (*.h, *.hh, *.hm, *.ali, in directory order): a link is resolved as
// ResolveContextLink resolves it, a context ID through the context map.
// Returns 1 with target filled, 0 when nothing defines the name or what it
// leads to is not there.
int FindAliasPage(const char* helpPath, const char* alias, ContextTarget* target,
                  const char* definitions = nullptr, uint32_t definitionsLength = 0);

// The stored name as ResolveStoredName finds it, in a help file already open.
int ResolveStoredNameIn(HelpFile* file, const char* name, char* found);

// Reads the A-link index of helpPath (/$WWAssociativeLinks/BTree of the file
// the topic index came from) as ReadKeywordIndex reads the compiled keyword
// index: each A-link name with the pages of its topics. Returns 1 with the
// index filled (empty when the file has no A-links), 0 with nothing held
// when the file cannot be read or memory runs out.
int ReadAssociativeLinks(const char* helpPath, const TopicIndex* topics, KeywordIndex* index);
