// Searching the text of help files: one index per help file, kept in the
// user's cache directory and built once, by whichever command needs it first
// (Xapian, Linux only).
//
// Room search/: may call page/ (a page's text), os/ and the module's
// container/, lookup/ and platform/. commands/ and serve/ call it.
//
//   cache.cpp      the cache directory: an entry's name from the help file's
//                  identity, locks, the checked file an index is kept in, the
//                  size bound, emptying it
//   shelf.cpp      the help files below a directory
//   page_text.cpp  a page's title and visible text as UTF-8
//   terms.cpp      the stemmer of a help file's language, a page's terms
//   build.cpp      building an index: pages decoded, turned into text and
//                  terms on worker threads, written in batches
//   query.cpp      a query over the indexes of several help files: ranked
//                  hits, phrases checked on the pages' text, snippets
//   phrases.cpp    a query checked on one page's text, with positions
//   snippets.cpp   snippets and their marks, the texts of pages read last
//
// velkory itself links cache.cpp and shelf.cpp (for `clean --cache` and
// listing); the engine, and with it Xapian, is linked into velkory-serve
// alone, which velkory runs in its place for a search (as for serve), so
// that no other command loads Xapian at start.
//
// A cache entry is "<P>-<K>": P a hash of the help file's path, K of its
// identity (device, inode, size, modification time and a hash of its
// directory), so that a changed file is indexed again and an unchanged one
// never. "<entry>.idx" is a finished index, trusted only when its header
// and checksum say it is whole and its own; "<entry>.build/" the index being
// built (readable by other processes at every committed batch, trusted by
// nobody once its builder is gone); "<entry>.lock" is held by the builder.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

// The cache the indexes are kept in.
struct SearchCache {
    std::string directory;          // $XDG_CACHE_HOME/velkory, else ~/.cache/velkory
    uint64_t limit = 256ull << 20;  // bytes the finished indexes may take together
};

// cache.cpp: the user's cache, from the environment (VELKORY_SEARCH_CACHE_MB
// sets the limit in megabytes); false, with the reason in error, when no
// directory can be named or the limit is not a number.
bool UserSearchCache(SearchCache& cache, std::string& error);

// What emptying the cache did.
struct CacheCleaning {
    int removed = 0;                    // indexes (and the rest of their entries) removed
    int busy = 0;                       // entries left alone: another process is building them
    std::vector<std::string> failures;  // "path: reason" for what could not be removed
};
// Removes every entry of the cache that no process is building.
CacheCleaning EmptySearchCache(const SearchCache& cache);

// shelf.cpp: every help file (a regular file named *.chm that begins as one)
// below dir, following no symbolic link, in path order.
std::vector<std::string> HelpFilesBelow(const std::string& dir);

// Told how far the build of an index has come: pages done of all its pages.
// waiting is true while another process builds it and this one waits.
using BuildProgress =
    std::function<void(const std::string& helpFile, uint32_t done, uint32_t total, bool waiting)>;

// One page that matched.
struct SearchHit {
    size_t file = 0;    // which help file, in the order they were added
    std::string page;   // its stored name, with the leading '/'
    std::string title;  // UTF-8
    double score = 0;
    // A line of the page's text around the match (UTF-8, no control
    // characters), and the byte ranges in it that match the query.
    std::string snippet;
    std::vector<std::pair<size_t, size_t>> marks;
};

struct SearchQuery {
    std::string text;
    size_t limit = 20;
    // The words alone, as a keyword is: no quotes, '-', '*' or AND, OR, NOT.
    bool wordsOnly = false;
    // Snippets made (each needs the page's text; without, a hit's page is
    // read only to check a phrase).
    bool snippets = true;
    // As typed so far (search as you type): the last word, unless a space
    // follows it, also stands for the longer words it begins.
    bool asTyped = false;
    // The files searched, by number; empty: all of them.
    std::vector<size_t> files = {};
};

// How an index is built; the defaults suit every caller but the tests.
struct BuildTuning {
    unsigned workers = 0;        // threads that make the pages' terms; 0: one per core
    uint32_t pagesPerBatch = 0;  // pages committed at once; 0: about one batch a second
    // Called after each committed batch (the tests end a build there).
    std::function<void(uint32_t done)> afterBatch;
    // When set and true, a build (or the wait for another process's) stops
    // and fails, leaving nothing in the cache (a server that is ending).
    const std::atomic<bool>* stopping = nullptr;
};

// How far a help file's index is: pages of its build committed so far, of
// total; ready once the finished index is open; failure says why it cannot
// be had ("" while it can).
struct IndexProgress {
    uint32_t done = 0, total = 0;
    bool ready = false;
    std::string failure;
};

// The indexes of several help files, searched together: hits from every file
// ranked on one scale.
class TextSearch {
public:
    explicit TextSearch(const SearchCache& cache, const BuildTuning& tuning = BuildTuning());
    ~TextSearch();
    TextSearch(const TextSearch&) = delete;
    TextSearch& operator=(const TextSearch&) = delete;

    // Adds a help file: its index from the cache, else built now (told to
    // progress), else, while another process builds it, waited for. False,
    // with the reason in error, when no index can be had.
    bool AddHelpFile(const std::string& path, const BuildProgress& progress, std::string& error);
    // Adds a help file at once, its index to be made ready by MakeReady (on
    // another thread, as a server does): until then searches see the pages
    // its build, here or in another process, has committed so far. Its
    // number among the files.
    size_t AddPendingHelpFile(const std::string& path);
    // Makes the index of the pending file number ready (AddHelpFile's way);
    // false, with the reason kept in its progress, when it cannot be had.
    bool MakeReady(size_t file);
    IndexProgress Progress(size_t file) const;
    // Every page of file that can be searched now (all of them once its index
    // is ready) with its title, hit.file set, in the order they were indexed.
    std::vector<SearchHit> Pages(size_t file);
    // The files, in the order they were added (never changed once added).
    const std::vector<std::string>& Files() const;

    // The best hits of query over the files added, best first. False, with
    // the reason in error, when the search itself failed (no hits is true).
    bool Run(const SearchQuery& query, std::vector<SearchHit>& hits, std::string& error);

private:
    bool RunOnce(const SearchQuery& query, std::vector<SearchHit>& hits, std::string& error,
                 bool& modified);
    struct State;
    std::unique_ptr<State> state_;
};

// ---------------------------------------------------------------------------
// Within this room.

namespace Xapian {
class Database;
class Document;
class Query;
}  // namespace Xapian

// cache.cpp: the format of the finished index files; a change of it makes
// every entry foreign, so that each is built again.
constexpr int IndexFormat = 2;
constexpr size_t IndexHeaderSize = 64;

// A checksum of bytes given in any pieces (it notices damage; it is no
// cryptographic hash).
class Checksum {
public:
    void Add(const uint8_t* data, size_t size);
    uint64_t Value() const;

private:
    void Mix(uint64_t word);
    uint64_t state_ = 0x243F6A8885A308D3ull;
    uint64_t pending_ = 0;
    unsigned pendingBytes_ = 0;
    uint64_t length_ = 0;
};
uint64_t HashText(const std::string& text);

// A help file's entry in the cache.
struct CacheEntry {
    std::string base;      // the cache directory and "<P>-<K>"
    std::string pathKey;   // P
    std::string identity;  // what K is the hash of; also kept inside the index
};
// The entry of helpFile as it is now, the cache directory made if missing;
// false, with the reason, when the file or the directory cannot be had.
bool FindCacheEntry(const SearchCache& cache, const std::string& helpFile, CacheEntry& entry,
                    std::string& error);

// An exclusive lock on a file of the cache (flock), held until released or
// destroyed; the system lets it go when the process ends, however it ends.
class CacheLock {
public:
    CacheLock() = default;
    ~CacheLock();
    CacheLock(const CacheLock&) = delete;
    CacheLock& operator=(const CacheLock&) = delete;
    // Takes the lock, waiting for it with wait; false when it is held
    // elsewhere (error "") or cannot be taken (error says why).
    bool Take(const std::string& path, bool wait, std::string& error);
    void Release();

private:
    int fd_ = -1;
};

// The finished index at path, opened and checked: a descriptor placed at
// the database behind the header, or -1 when the file is missing, cut,
// damaged or not the index of the identity whose hash is given.
int OpenCheckedIndex(const std::string& path, uint64_t identityHash);
// A new index file at path with room for the header, its descriptor placed
// behind it for the database to be written; -1 with the reason in error.
int CreateIndexFile(const std::string& path, std::string& error);
// Writes the header of the index written at temporary, puts it on disk and
// renames it to target; false, temporary removed, when that fails.
bool SealIndexFile(const std::string& temporary, const std::string& target, uint64_t identityHash,
                   std::string& error);
// Removes the index, the temporary file and the build of the entry at base
// (with its lock file too with withLock); its lock must be held.
void ClearEntry(const std::string& base, bool withLock);
// After kept was finished: removes the other versions of the same help file
// and, while the cache is above its limit, the indexes used longest ago,
// leaving any whose lock is held elsewhere.
void TidySearchCache(const SearchCache& cache, const CacheEntry& kept);
bool PathIsThere(const std::string& path);  // something, even a dangling link, is at path
void RemovePath(const std::string& path);   // with everything below it, if anything is there
void MarkUsed(int fd);                      // the index open at fd was used now

// page_text.cpp (a page as text is the page room's ReadPageText).
// Whether a stored name is a page to index (*.htm, *.html, not a system file).
bool IsPageName(const char* name);

// terms.cpp: the Xapian stemmer name for a help file's language (its #SYSTEM
// LCID); "" when Xapian has no stemmer for it.
std::string StemmerLanguage(uint32_t lcid);
// Makes the terms of pages: their words, Unicode letters folded, Chinese,
// Japanese and Korean as n-grams, title words counted TitleWeight times, and
// beside each word that is not its own stem "Z" and its stem (whatever the
// letter case the word had, so that a query word in any case finds it). One
// per thread.
constexpr unsigned TitleWeight = 5;
class PageTerms {
public:
    explicit PageTerms(const std::string& language);
    ~PageTerms();
    PageTerms(const PageTerms&) = delete;
    PageTerms& operator=(const PageTerms&) = delete;
    // Adds the terms of one page to document; with positions, also where
    // each word stands (to check phrases), and the stems only with stems.
    void Fill(Xapian::Document& document, const std::string& title, const std::string& text,
              bool positions, bool stems = true);

private:
    struct State;
    std::unique_ptr<State> state_;
};

// The query parser's query for such terms: each stem "Zs" where s is its own
// stem also matches the word s, which carries no stem term.
Xapian::Query StemsWithTheirWords(const Xapian::Query& query, const std::string& language);

// build.cpp: adds to all the parts of the build in dir that are there (what
// their builder has committed so far); how many.
size_t AddBuildParts(Xapian::Database& all, const std::string& dir);
// Makes sure the index of helpFile is in the cache and opens it: a
// descriptor placed at its database (Xapian takes it), or -1 with the reason
// in error. It is opened from the cache when there, else built (progress
// told), else, while another process builds it, waited for.
int ReadyIndex(const SearchCache& cache, const std::string& helpFile, const BuildTuning& tuning,
               const BuildProgress& progress, std::string& error);
// The names of the metadata an index keeps.
constexpr char IdentityKey[] = "velkory.identity";
constexpr char LanguageKey[] = "velkory.language";  // the stemmer's name, "" for none
constexpr char PagesKey[] = "velkory.pages";        // pages the finished index holds

// phrases.cpp: whether a query has a phrase (or NEAR), which the indexes,
// keeping no positions, match as its words.
bool HasPhrase(const Xapian::Query& query);
// Whether document (a page indexed with positions) matches query: 1 or 0;
// -1 when the query has a part this does not weigh (a prefix, NEAR), which
// the caller then leaves to Xapian itself.
int Matches(const Xapian::Query& query, const Xapian::Document& document);
// The query for indexes without positions, where a phrase matches as its
// words: an excluded phrase excludes nothing there and is left to the check.
Xapian::Query WithoutExcludedPhrases(const Xapian::Query& query, bool excluded);

// snippets.cpp: text for one line of display: control characters (line
// breaks included) and the characters that reorder text as spaces, runs of
// spaces as one.
std::string OneDisplayLine(const std::string& text);
// Xapian's snippet, its marks between MarkStart and MarkEnd and '&', '<' and
// '>' escaped as in HTML, as hit's snippet text and the ranges of its marks
// (those that touch joined).
constexpr char MarkStart = '\x01', MarkEnd = '\x02';
void TakeSnippet(const std::string& marked, SearchHit& hit);

// The display texts of the pages read last, for the next searches (a server
// searches as the user types, mostly the same pages again).
class RecentTexts {
public:
    const std::string* Find(const std::string& key);
    void Keep(const std::string& key, const std::string& text);

private:
    static constexpr size_t MostBytes = 16u << 20;
    std::list<std::pair<std::string, std::string>> order_;  // most recent first
    std::unordered_map<std::string, std::list<std::pair<std::string, std::string>>::iterator>
        index_;
    size_t bytes_ = 0;
};
