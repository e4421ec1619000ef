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
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include <xapian.h>

#include "container/container.h"
#include "host/search/search.h"
#include "lookup/encoding.h"
#include "lookup/lookup.h"
#include "platform/text.h"

namespace {

constexpr size_t SnippetBytes = 200;
constexpr Xapian::termcount WildcardExpansions = 256;
// How many candidates a query with phrases may check, at most.
constexpr Xapian::doccount MostChecked = 2000;
constexpr char MarkStart = '\x01', MarkEnd = '\x02';

struct Shard {
    std::string file;
    std::string language;
    Xapian::Database db;
};

// A help file opened to read pages for snippets and checks.
struct OpenHelp {
    HelpFile* file = nullptr;
    unsigned codePage = 0;
};

bool HasPhrase(const Xapian::Query& query)
{
    Xapian::Query::op type = query.get_type();
    if (type == Xapian::Query::OP_PHRASE || type == Xapian::Query::OP_NEAR)
        return true;
    for (size_t i = 0; i < query.get_num_subqueries(); ++i)
        if (HasPhrase(query.get_subquery(i)))
            return true;
    return false;
}

// The query for indexes without positions, where a phrase matches as its
// words: an excluded phrase would exclude every page with its words, so it
// excludes nothing there and is left to the check.
Xapian::Query WithoutExcludedPhrases(const Xapian::Query& query, bool excluded)
{
    Xapian::Query::op type = query.get_type();
    if (type == Xapian::Query::OP_PHRASE || type == Xapian::Query::OP_NEAR)
        return excluded ? Xapian::Query::MatchNothing : query;
    switch (type) {
    case Xapian::Query::OP_AND:
    case Xapian::Query::OP_OR:
    case Xapian::Query::OP_AND_NOT:
    case Xapian::Query::OP_AND_MAYBE:
    case Xapian::Query::OP_FILTER:
    case Xapian::Query::OP_SYNONYM:
    case Xapian::Query::OP_MAX:
        break;
    default:
        return query;
    }
    std::vector<Xapian::Query> parts;
    for (size_t i = 0; i < query.get_num_subqueries(); ++i)
        parts.push_back(WithoutExcludedPhrases(
            query.get_subquery(i),
            type == Xapian::Query::OP_AND_NOT && i > 0 ? !excluded : excluded));
    return Xapian::Query(type, parts.begin(), parts.end());
}

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
    const unsigned wordsOnly = Xapian::QueryParser::FLAG_CJK_NGRAM;
    const unsigned full = wordsOnly | Xapian::QueryParser::FLAG_PHRASE |
        Xapian::QueryParser::FLAG_LOVEHATE | Xapian::QueryParser::FLAG_BOOLEAN |
        Xapian::QueryParser::FLAG_WILDCARD;
    if (!query.wordsOnly) {
        try {
            return parser.parse_query(query.text, full);
        } catch (const Xapian::QueryParserError&) {
            // Not a query as written (a stray operator): its words are.
        }
    }
    return parser.parse_query(query.text, wordsOnly);
}

// Text for one line of display: control characters (line breaks included)
// and the characters that reorder text as spaces, runs of spaces as one.
std::string OneDisplayLine(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    bool space = false;
    for (size_t i = 0; i < text.size();) {
        size_t length = 1;
        uint32_t cp = DecodeUtf8(text.data() + i, text.size() - i, &length);
        bool blank = cp <= 0x20 || cp == 0x7F || (cp >= 0x80 && cp < 0xA0) ||
            (cp >= 0x202A && cp <= 0x202E) || (cp >= 0x2066 && cp <= 0x2069) || cp == 0x2028 ||
            cp == 0x2029;
        if (blank) {
            space = !out.empty();
        } else {
            if (space)
                out += ' ';
            space = false;
            if (cp == ReplacementCharacter && length == 1)
                out += "\xEF\xBF\xBD";
            else
                out.append(text, i, length);
        }
        i += length;
    }
    return out;
}

// Xapian's snippet (marks between MarkStart and MarkEnd, '&', '<' and '>'
// escaped as in HTML) as text and the ranges of its marks.
void TakeSnippet(const std::string& marked, SearchHit& hit)
{
    size_t start = 0;
    for (size_t i = 0; i < marked.size(); ++i) {
        char c = marked[i];
        if (c == MarkStart) {
            start = hit.snippet.size();
        } else if (c == MarkEnd) {
            if (hit.snippet.size() > start)
                hit.marks.emplace_back(start, hit.snippet.size());
        } else if (c == '&') {
            const char* escapes[][2] = {{"&amp;", "&"}, {"&lt;", "<"}, {"&gt;", ">"}};
            bool known = false;
            for (const auto& escape : escapes) {
                size_t length = strlen(escape[0]);
                if (marked.compare(i, length, escape[0]) == 0) {
                    hit.snippet += escape[1];
                    i += length - 1;
                    known = true;
                    break;
                }
            }
            if (!known)
                hit.snippet += c;
        } else {
            hit.snippet += c;
        }
    }
}

}  // namespace

struct TextSearch::State {
    SearchCache cache;
    BuildTuning tuning;
    std::vector<std::string> files;
    std::vector<Shard> shards;
    std::mutex mutex;  // one query at a time: Xapian's objects are not shared between threads
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
        Shard shard {path, "", Xapian::Database(fd)};
        shard.language = shard.db.get_metadata(LanguageKey);
        std::lock_guard<std::mutex> hold(state_->mutex);
        state_->files.push_back(path);
        state_->shards.push_back(std::move(shard));
    } catch (const Xapian::Error& e) {
        error = "cannot open the index of " + path + ": " + e.get_description();
        return false;
    }
    return true;
}

bool TextSearch::Run(const SearchQuery& query, std::vector<SearchHit>& hits, std::string& error)
{
    hits.clear();
    std::lock_guard<std::mutex> hold(state_->mutex);
    const std::vector<Shard>& shards = state_->shards;
    if (shards.empty() || query.limit == 0)
        return true;
    std::vector<OpenHelp> helps(shards.size());
    auto closeHelps = [&]() {
        for (OpenHelp& help : helps)
            if (help.file)
                CloseHelpFile(help.file);
    };
    try {
        Xapian::Database all;
        for (const Shard& shard : shards)
            all.add_database(shard.db);
        std::vector<std::string> languages;
        std::vector<Xapian::Query> parses;
        for (const Shard& shard : shards) {
            if (std::find(languages.begin(), languages.end(), shard.language) != languages.end())
                continue;
            languages.push_back(shard.language);
            parses.push_back(Parse(query, shard.language, all));
        }
        Xapian::Query parsed = parses.size() == 1
            ? parses[0]
            : Xapian::Query(Xapian::Query::OP_OR, parses.begin(), parses.end());
        if (parsed.empty()) {
            closeHelps();
            return true;
        }
        const bool check = HasPhrase(parsed);
        Xapian::Enquire enquire(all);
        enquire.set_query(check ? WithoutExcludedPhrases(parsed, false) : parsed);

        std::map<std::string, std::unique_ptr<PageTerms>> checkers;
        const Xapian::doccount chunk = (Xapian::doccount)std::max<size_t>(query.limit * 2, 10);
        for (Xapian::doccount offset = 0; hits.size() < query.limit && offset < MostChecked;) {
            Xapian::MSet matches = enquire.get_mset(offset, chunk);
            for (Xapian::MSetIterator match = matches.begin();
                 match != matches.end() && hits.size() < query.limit; ++match) {
                size_t which = (size_t)((*match - 1) % shards.size());
                const Shard& shard = shards[which];
                std::string data = match.get_document().get_data();
                size_t newline = data.find('\n');
                SearchHit hit;
                hit.file = which;
                hit.page = data.substr(0, newline);
                hit.title = newline == std::string::npos ? "" : data.substr(newline + 1);
                hit.score = match.get_weight();

                if (!check && !query.snippets) {
                    hit.title = OneDisplayLine(hit.title);
                    hits.push_back(std::move(hit));
                    continue;
                }
                // The page's text, for the check and the snippet.
                OpenHelp& help = helps[which];
                if (!help.file) {
                    help.file = OpenHelpFile(shard.file.c_str());
                    SystemInfo info;
                    if (help.file && ReadSystemInfo(help.file, &info))
                        help.codePage = LocaleAnsiCodePage(info.lcid);
                }
                uint32_t length = 0;
                uint8_t* bytes = nullptr;
                std::string text;
                if (help.file && ExtractFile(help.file, hit.page.c_str(), &length, &bytes) == 0) {
                    PageText page =
                        ReadPageText(std::string((const char*)bytes, length), help.codePage);
                    free(bytes);
                    text = OneDisplayLine(page.text);
                }
                if (check) {
                    std::unique_ptr<PageTerms>& terms = checkers[shard.language];
                    if (!terms)
                        terms.reset(new PageTerms(shard.language));
                    Xapian::WritableDatabase one(std::string(), Xapian::DB_BACKEND_INMEMORY);
                    Xapian::Document document;
                    terms->Fill(document, hit.title, text, true);
                    one.add_document(document);
                    Xapian::Enquire exact(one);
                    exact.set_query(parsed);
                    exact.set_weighting_scheme(Xapian::BoolWeight());
                    if (exact.get_mset(0, 1).empty())
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
    } catch (const Xapian::Error& e) {
        closeHelps();
        error = "the search failed: " + e.get_description();
        return false;
    }
    closeHelps();
    return true;
}
