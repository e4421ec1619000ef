// Checking a query on one page's own text (search.h): the indexes keep no
// word positions, so a phrase matches there as its words do, and each
// candidate page is checked here on its text, indexed with positions.
#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include <xapian.h>

#include "host/search/search.h"

namespace {

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

}  // namespace

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
