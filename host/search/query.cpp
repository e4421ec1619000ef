// A query over the indexes of several help files (search.h).
//
// The indexes are searched as one database, so that hits from every help
// file are ranked on one scale (BM25). Each index is parsed with its own
// language's stemmer; with several languages the query is each language's
// parse, any of which may match. Words are required (AND) unless the query
// says otherwise, "quoted words" form a phrase, a word may end in '*', and
// '-' excludes.
//
// The indexes keep no word positions (it halves their size), so a phrase
// matches there as its words do; each candidate page's own text is then
// indexed with positions in memory and the query run on it, and only pages
// that really match are hits. The snippet comes from the same text.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <xapian.h>

#include "container/container.h"
#include "host/page/page.h"
#include "host/search/search.h"
#include "lookup/encoding.h"
#include "lookup/lookup.h"
#include "platform/text.h"

namespace {

constexpr size_t SnippetBytes = 200;
constexpr Xapian::termcount WildcardExpansions = 256;
// How many candidates a query with phrases may check, at most.
constexpr Xapian::doccount MostChecked = 2000;

struct Shard {
    std::string file;
    std::string language;
    Xapian::Database db;  // the finished index, once ready
    // While pending (not ready): the entry's build directory, read afresh by
    // each search, and how far the build has come.
    std::string build;
    std::atomic<bool> ready {false};
    std::atomic<uint32_t> done {0}, total {0};
    std::string failure;  // under the state's mutex
};

// A help file opened to read pages for snippets and checks.
struct OpenHelp {
    HelpFile* file = nullptr;
    unsigned codePage = 0;
};

Xapian::Query Parse(const SearchQuery& query, const std::string& language,
                    const Xapian::Database& db)
{
    Xapian::QueryParser parser;
    parser.set_database(db);
    parser.set_default_op(Xapian::Query::OP_AND);
    parser.set_max_expansion(WildcardExpansions, Xapian::Query::WILDCARD_LIMIT_MOST_FREQUENT);
    if (!language.empty()) {
        parser.set_stemmer(Xapian::Stem(language));
        parser.set_stemming_strategy(Xapian::QueryParser::STEM_SOME);
    }
    const unsigned wordsOnly = Xapian::QueryParser::FLAG_CJK_NGRAM |
        (query.asTyped ? (unsigned)Xapian::QueryParser::FLAG_PARTIAL : 0u);
    const unsigned full = wordsOnly | Xapian::QueryParser::FLAG_PHRASE |
        Xapian::QueryParser::FLAG_LOVEHATE | Xapian::QueryParser::FLAG_BOOLEAN |
        Xapian::QueryParser::FLAG_WILDCARD;
    if (!query.wordsOnly) {
        try {
            return StemsWithTheirWords(parser.parse_query(query.text, full), language);
        } catch (const Xapian::QueryParserError&) {
            // Not a query as written (a stray operator): its words are.
        }
    }
    return StemsWithTheirWords(parser.parse_query(query.text, wordsOnly), language);
}

}  // namespace

struct TextSearch::State {
    SearchCache cache;
    BuildTuning tuning;
    std::vector<std::string> files;
    std::vector<std::unique_ptr<Shard>> shards;
    RecentTexts texts;  // keyed by file number and page
    // One query at a time: Xapian's objects are not shared between threads.
    std::mutex mutex;
};

TextSearch::TextSearch(const SearchCache& cache, const BuildTuning& tuning)
    : state_(new State)
{
    state_->cache = cache;
    state_->tuning = tuning;
}

TextSearch::~TextSearch() = default;

const std::vector<std::string>& TextSearch::Files() const
{
    return state_->files;
}

bool TextSearch::AddHelpFile(const std::string& path, const BuildProgress& progress,
                             std::string& error)
{
    int fd = ReadyIndex(state_->cache, path, state_->tuning, progress, error);
    if (fd < 0)
        return false;
    try {
        auto shard = std::make_unique<Shard>();
        shard->file = path;
        shard->db = Xapian::Database(fd);
        shard->language = shard->db.get_metadata(LanguageKey);
        shard->ready = true;
        std::lock_guard<std::mutex> hold(state_->mutex);
        state_->files.push_back(path);
        state_->shards.push_back(std::move(shard));
    } catch (const Xapian::Error& e) {
        error = "cannot open the index of " + path + ": " + e.get_description();
        return false;
    }
    return true;
}

size_t TextSearch::AddPendingHelpFile(const std::string& path)
{
    auto shard = std::make_unique<Shard>();
    shard->file = path;
    CacheEntry entry;
    std::string error;
    if (FindCacheEntry(state_->cache, path, entry, error))
        shard->build = entry.base + ".build";
    else
        shard->failure = error;
    std::lock_guard<std::mutex> hold(state_->mutex);
    state_->files.push_back(path);
    state_->shards.push_back(std::move(shard));
    return state_->shards.size() - 1;
}

bool TextSearch::MakeReady(size_t file)
{
    Shard* shard;
    {
        std::lock_guard<std::mutex> hold(state_->mutex);
        if (file >= state_->shards.size())
            return false;
        shard = state_->shards[file].get();
        if (shard->ready)
            return true;
    }
    auto progress = [shard](const std::string&, uint32_t done, uint32_t total, bool) {
        shard->done = done;
        shard->total = total;
    };
    std::string error;
    int fd = ReadyIndex(state_->cache, shard->file, state_->tuning, progress, error);
    try {
        if (fd >= 0) {
            Xapian::Database db(fd);
            std::string language = db.get_metadata(LanguageKey);
            std::lock_guard<std::mutex> hold(state_->mutex);
            shard->db = db;
            shard->language = language;
            shard->done = shard->total = (uint32_t)db.get_doccount();
            shard->failure.clear();
            shard->ready = true;
            return true;
        }
    } catch (const Xapian::Error& e) {
        error = "cannot open the index of " + shard->file + ": " + e.get_description();
    }
    std::lock_guard<std::mutex> hold(state_->mutex);
    shard->failure = error;
    return false;
}

IndexProgress TextSearch::Progress(size_t file) const
{
    IndexProgress progress;
    std::lock_guard<std::mutex> hold(state_->mutex);
    if (file >= state_->shards.size())
        return progress;
    const Shard& shard = *state_->shards[file];
    progress.done = shard.done;
    progress.total = shard.total;
    progress.ready = shard.ready;
    progress.failure = shard.failure;
    return progress;
}

std::vector<SearchHit> TextSearch::Pages(size_t file)
{
    std::vector<SearchHit> pages;
    std::lock_guard<std::mutex> hold(state_->mutex);
    if (file >= state_->shards.size())
        return pages;
    const Shard& shard = *state_->shards[file];
    try {
        Xapian::Database db;
        if (shard.ready)
            db = shard.db;
        else if (shard.build.empty() || AddBuildParts(db, shard.build) == 0)
            return pages;
        for (Xapian::PostingIterator at = db.postlist_begin(""); at != db.postlist_end(""); ++at) {
            std::string data = db.get_document(*at).get_data();
            size_t newline = data.find('\n');
            SearchHit page;
            page.file = file;
            page.page = data.substr(0, newline);
            page.title =
                newline == std::string::npos ? "" : OneDisplayLine(data.substr(newline + 1));
            pages.push_back(std::move(page));
        }
    } catch (const Xapian::Error&) {
        // A build being written or removed: the pages read so far.
    }
    return pages;
}

bool TextSearch::Run(const SearchQuery& query, std::vector<SearchHit>& hits, std::string& error)
{
    // A build committing twice while it is read moves its pages away: the
    // search is then made again on what is committed now.
    for (int attempt = 1;; ++attempt) {
        bool modified = false;
        bool ok = RunOnce(query, hits, error, modified);
        if (ok || !modified || attempt == 3)
            return ok;
    }
}

bool TextSearch::RunOnce(const SearchQuery& query, std::vector<SearchHit>& hits, std::string& error,
                         bool& modified)
{
    hits.clear();
    std::lock_guard<std::mutex> hold(state_->mutex);
    // The shards searched, and their numbers among the files.
    std::vector<Shard*> shards;
    std::vector<size_t> numbers;
    for (size_t i = 0; i < state_->shards.size(); ++i)
        if (query.files.empty() ||
            std::find(query.files.begin(), query.files.end(), i) != query.files.end()) {
            shards.push_back(state_->shards[i].get());
            numbers.push_back(i);
        }
    if (shards.empty() || query.limit == 0)
        return true;
    std::vector<OpenHelp> helps(shards.size());
    auto closeHelps = [&]() {
        for (OpenHelp& help : helps)
            if (help.file)
                CloseHelpFile(help.file);
    };
    try {
        // One database of every finished index and of what the builds of the
        // others have committed so far; owners[i]: the shard of its i-th
        // database, as Xapian numbers documents across them.
        Xapian::Database all;
        std::vector<size_t> owners;
        std::vector<std::string> languages;
        for (size_t i = 0; i < shards.size(); ++i) {
            Shard& shard = *shards[i];
            size_t parts = 0;
            if (shard.ready) {
                all.add_database(shard.db);
                parts = 1;
            } else if (!shard.build.empty()) {
                try {
                    Xapian::Database build;
                    parts = AddBuildParts(build, shard.build);
                    if (parts > 0) {
                        shard.language = build.get_metadata(LanguageKey);
                        all.add_database(build);
                    }
                } catch (const Xapian::Error&) {
                    parts = 0;  // being written or removed: none of it yet
                }
            }
            owners.insert(owners.end(), parts, i);
            if (parts > 0 &&
                std::find(languages.begin(), languages.end(), shard.language) == languages.end())
                languages.push_back(shard.language);
        }
        if (owners.empty()) {
            closeHelps();
            return true;
        }
        std::vector<Xapian::Query> parses;
        for (const std::string& language : languages)
            parses.push_back(Parse(query, language, all));
        Xapian::Query parsed = parses.size() == 1
            ? parses[0]
            : Xapian::Query(Xapian::Query::OP_OR, parses.begin(), parses.end());
        if (parsed.empty()) {
            closeHelps();
            return true;
        }
        const bool check = HasPhrase(parsed);
        bool stemmed = false;  // the query has stems, which the check then needs
        for (Xapian::TermIterator term = parsed.get_unique_terms_begin();
             term != parsed.get_unique_terms_end(); ++term)
            stemmed = stemmed || (*term)[0] == 'Z';
        Xapian::Enquire enquire(all);
        enquire.set_query(check ? WithoutExcludedPhrases(parsed, false) : parsed);

        std::map<std::string, std::unique_ptr<PageTerms>> checkers;
        const Xapian::doccount chunk = (Xapian::doccount)std::max<size_t>(query.limit * 2, 10);
        for (Xapian::doccount offset = 0; hits.size() < query.limit && offset < MostChecked;) {
            Xapian::MSet matches = enquire.get_mset(offset, chunk);
            for (Xapian::MSetIterator match = matches.begin();
                 match != matches.end() && hits.size() < query.limit; ++match) {
                size_t which = owners[(size_t)((*match - 1) % owners.size())];
                const Shard& shard = *shards[which];
                std::string data = match.get_document().get_data();
                size_t newline = data.find('\n');
                SearchHit hit;
                hit.file = numbers[which];
                hit.page = data.substr(0, newline);
                hit.title = newline == std::string::npos ? "" : data.substr(newline + 1);
                hit.score = match.get_weight();

                if (!check && !query.snippets) {
                    hit.title = OneDisplayLine(hit.title);
                    hits.push_back(std::move(hit));
                    continue;
                }
                // The page's text, for the check and the snippet.
                const std::string key = std::to_string(numbers[which]) + "\n" + hit.page;
                const std::string* recent = state_->texts.Find(key);
                std::string text = recent ? *recent : std::string();
                OpenHelp& help = helps[which];
                if (!recent && !help.file) {
                    help.file = OpenHelpFile(shard.file.c_str());
                    SystemInfo info;
                    if (help.file && ReadSystemInfo(help.file, &info))
                        help.codePage = LocaleAnsiCodePage(info.lcid);
                }
                uint32_t length = 0;
                uint8_t* bytes = nullptr;
                if (!recent && help.file &&
                    ExtractFile(help.file, hit.page.c_str(), &length, &bytes) == 0) {
                    PageText page =
                        ReadPageText(std::string((const char*)bytes, length), help.codePage);
                    free(bytes);
                    text = OneDisplayLine(page.text);
                    state_->texts.Keep(key, text);
                }
                if (check) {
                    std::unique_ptr<PageTerms>& terms = checkers[shard.language];
                    if (!terms)
                        terms.reset(new PageTerms(shard.language));
                    Xapian::Document document;
                    terms->Fill(document, hit.title, text, true, stemmed);
                    int matches = Matches(parsed, document);
                    if (matches < 0) {
                        Xapian::WritableDatabase one(std::string(), Xapian::DB_BACKEND_INMEMORY);
                        one.add_document(document);
                        Xapian::Enquire exact(one);
                        exact.set_query(parsed);
                        exact.set_weighting_scheme(Xapian::BoolWeight());
                        matches = !exact.get_mset(0, 1).empty();
                    }
                    if (!matches)
                        continue;
                }
                if (query.snippets)
                    TakeSnippet(
                        matches.snippet(text, SnippetBytes,
                                        shard.language.empty() ? Xapian::Stem()
                                                               : Xapian::Stem(shard.language),
                                        Xapian::MSet::SNIPPET_CJK_NGRAM, std::string(1, MarkStart),
                                        std::string(1, MarkEnd), "..."),
                        hit);
                hit.title = OneDisplayLine(hit.title);
                hits.push_back(std::move(hit));
            }
            offset += matches.size();
            if (!check || matches.size() < chunk)
                break;
        }
    } catch (const Xapian::DatabaseModifiedError& e) {
        closeHelps();
        modified = true;
        error = "the search failed: " + e.get_description();
        return false;
    } catch (const Xapian::Error& e) {
        closeHelps();
        error = "the search failed: " + e.get_description();
        return false;
    }
    closeHelps();
    return true;
}
