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

// The positions of term in document; none when it does not hold it.
std::vector<Xapian::termpos> Positions(const Xapian::Document& document, const std::string& term)
{
    std::vector<Xapian::termpos> positions;
    Xapian::TermIterator at = document.termlist_begin();
    at.skip_to(term);
    if (at != document.termlist_end() && *at == term)
        positions.assign(at.positionlist_begin(), at.positionlist_end());
    return positions;
}

// The window of a phrase: the number after "PHRASE" in its description
// (Xapian has no call that tells it); 0 when there is none.
Xapian::termcount PhraseWindow(const Xapian::Query& phrase)
{
    std::string description = phrase.get_description();
    size_t at = description.find(" PHRASE ");
    return at == std::string::npos
        ? 0
        : (Xapian::termcount)strtoul(description.c_str() + at + 8, nullptr, 10);
}

// Whether document (a page indexed with positions) matches query: 1 or 0;
// -1 when the query has a part this does not weigh (a prefix, NEAR), which
// the caller then leaves to Xapian itself.
int Matches(const Xapian::Query& query, const Xapian::Document& document)
{
    Xapian::Query::op type = query.get_type();
    size_t count = query.get_num_subqueries();
    if (type == Xapian::Query::LEAF_TERM) {
        const std::string term = *query.get_terms_begin();
        Xapian::TermIterator at = document.termlist_begin();
        at.skip_to(term);
        return at != document.termlist_end() && *at == term;
    }
    if (type == Xapian::Query::LEAF_MATCH_ALL)
        return 1;
    if (type == Xapian::Query::LEAF_MATCH_NOTHING)
        return 0;
    if (type == Xapian::Query::OP_PHRASE) {
        // Words in a row: the window is as wide as the phrase.
        std::vector<std::vector<Xapian::termpos>> words;
        for (size_t i = 0; i < count; ++i) {
            Xapian::Query word = query.get_subquery(i);
            if (word.get_type() != Xapian::Query::LEAF_TERM)
                return -1;
            words.push_back(Positions(document, *word.get_terms_begin()));
        }
        if (PhraseWindow(query) != count)
            return -1;
        for (Xapian::termpos first : words.empty() ? std::vector<Xapian::termpos>() : words[0]) {
            size_t i = 1;
            while (i < count && std::binary_search(words[i].begin(), words[i].end(), first + i))
                ++i;
            if (i == count)
                return 1;
        }
        return 0;
    }
    std::vector<int> parts;
    for (size_t i = 0; i < count; ++i) {
        int part = Matches(query.get_subquery(i), document);
        if (part < 0)
            return -1;
        parts.push_back(part);
    }
    auto any = [&](size_t from) {
        return std::find(parts.begin() + (long)from, parts.end(), 1) != parts.end();
    };
    switch (type) {
    case Xapian::Query::OP_AND:
    case Xapian::Query::OP_FILTER:
        return std::find(parts.begin(), parts.end(), 0) == parts.end();
    case Xapian::Query::OP_OR:
    case Xapian::Query::OP_SYNONYM:
    case Xapian::Query::OP_MAX:
    case Xapian::Query::OP_ELITE_SET:
        return any(0);
    case Xapian::Query::OP_AND_NOT:
        return !parts.empty() && parts[0] && !any(1);
    case Xapian::Query::OP_AND_MAYBE:
    case Xapian::Query::OP_SCALE_WEIGHT:
        return !parts.empty() && parts[0];
    case Xapian::Query::OP_XOR:
        return std::count(parts.begin(), parts.end(), 1) % 2;
    default:
        return -1;
    }
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
            return StemsWithTheirWords(parser.parse_query(query.text, full), language);
        } catch (const Xapian::QueryParserError&) {
            // Not a query as written (a stray operator): its words are.
        }
    }
    return StemsWithTheirWords(parser.parse_query(query.text, wordsOnly), language);
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
    } catch (const Xapian::Error& e) {
        closeHelps();
        error = "the search failed: " + e.get_description();
        return false;
    }
    closeHelps();
    return true;
}
