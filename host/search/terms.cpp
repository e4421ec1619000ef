// The terms of a page, the same when it is indexed and when a match is
// checked on its text (search.h).
//
// Xapian's term generator cuts the text into words and folds their letter
// case (Chinese, Japanese and Korean into n-grams of one and two
// characters). It would add the stemmed form only of the words written in
// lower case, so that a lower-case query word, which the query parser
// stems, would miss a page where the word is only ever capitalised ("Python");
// the stems are therefore added here, for every word the query parser would
// stem, whatever its case in the page. A word that is its own stem ("loop")
// gets no stem term beside it: the query's stem stands for that word too
// (StemsWithTheirWords), which keeps the index a third smaller.
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include <xapian.h>

#include "host/search/search.h"

namespace {

// Languages by the primary language of an LCID, where Xapian has a stemmer.
const struct {
    uint32_t primary;
    const char* stemmer;
} Stemmers[] = {
    {0x01, "arabic"},     {0x03, "catalan"},    {0x06, "danish"},     {0x07, "german"},
    {0x09, "english"},    {0x0A, "spanish"},    {0x0B, "finnish"},    {0x0C, "french"},
    {0x0E, "hungarian"},  {0x10, "italian"},    {0x13, "dutch"},      {0x14, "norwegian"},
    {0x16, "portuguese"}, {0x18, "romanian"},   {0x19, "russian"},    {0x1D, "swedish"},
    {0x1F, "turkish"},    {0x21, "indonesian"}, {0x27, "lithuanian"}, {0x2B, "armenian"},
    {0x2D, "basque"},     {0x3C, "irish"},      {0x49, "tamil"},      {0x61, "nepali"},
};

// Whether the query parser stems a word beginning as term does: with a
// letter of lower or title case, a modifier letter or another letter.
bool QueryParserStems(const std::string& term)
{
    Xapian::Utf8Iterator first(term);
    if (first == Xapian::Utf8Iterator())
        return false;
    switch (Xapian::Unicode::get_category(*first)) {
    case Xapian::Unicode::LOWERCASE_LETTER:
    case Xapian::Unicode::TITLECASE_LETTER:
    case Xapian::Unicode::MODIFIER_LETTER:
    case Xapian::Unicode::OTHER_LETTER:
        return true;
    default:
        return false;
    }
}

}  // namespace

std::string StemmerLanguage(uint32_t lcid)
{
    for (const auto& language : Stemmers)
        if (language.primary == (lcid & 0x3FF))
            return language.stemmer;
    return "";
}

struct PageTerms::State {
    Xapian::TermGenerator generator;
    Xapian::Stem stemmer;
    bool stems = false;
    // word -> "Z" + stem, or "" when the word is its own stem
    std::unordered_map<std::string, std::string> stemmed;
    std::vector<std::pair<std::string, Xapian::termcount>> words;
};

PageTerms::PageTerms(const std::string& language)
    : state_(new State)
{
    state_->generator.set_flags(Xapian::TermGenerator::FLAG_CJK_NGRAM);
    state_->generator.set_stemming_strategy(Xapian::TermGenerator::STEM_NONE);
    if (!language.empty()) {
        state_->stemmer = Xapian::Stem(language);
        state_->stems = true;
    }
}

PageTerms::~PageTerms() = default;

void PageTerms::Fill(Xapian::Document& document, const std::string& title, const std::string& text,
                     bool positions, bool stems)
{
    Xapian::TermGenerator& generator = state_->generator;
    generator.set_document(document);
    if (positions) {
        generator.index_text(title, TitleWeight);
        generator.increase_termpos();
        generator.index_text(text);
    } else {
        generator.index_text_without_positions(title, TitleWeight);
        generator.index_text_without_positions(text);
    }
    if (!state_->stems || !stems)
        return;
    std::vector<std::pair<std::string, Xapian::termcount>>& words = state_->words;
    words.clear();
    for (Xapian::TermIterator term = document.termlist_begin(); term != document.termlist_end();
         ++term)
        words.emplace_back(*term, term.get_wdf());
    for (const auto& [word, count] : words) {
        if (!QueryParserStems(word))
            continue;
        auto known = state_->stemmed.find(word);
        if (known == state_->stemmed.end()) {
            std::string stem = state_->stemmer(word);
            known = state_->stemmed.emplace(word, stem == word ? "" : "Z" + stem).first;
        }
        if (!known->second.empty())
            document.add_term(known->second, count);
    }
}

Xapian::Query StemsWithTheirWords(const Xapian::Query& query, const std::string& language)
{
    if (language.empty())
        return query;
    Xapian::Query::op type = query.get_type();
    if (type == Xapian::Query::LEAF_TERM) {
        std::string term = *query.get_terms_begin();
        if (term.size() < 2 || term[0] != 'Z')
            return query;
        std::string word = term.substr(1);
        if (Xapian::Stem(language)(word) != word)
            return query;
        return Xapian::Query(Xapian::Query::OP_SYNONYM, query, Xapian::Query(word));
    }
    switch (type) {
    case Xapian::Query::OP_AND:
    case Xapian::Query::OP_OR:
    case Xapian::Query::OP_AND_NOT:
    case Xapian::Query::OP_XOR:
    case Xapian::Query::OP_AND_MAYBE:
    case Xapian::Query::OP_FILTER:
    case Xapian::Query::OP_SYNONYM:
    case Xapian::Query::OP_MAX:
        break;
    default:  // phrases, prefixes: their words are not stemmed
        return query;
    }
    std::vector<Xapian::Query> parts;
    for (size_t i = 0; i < query.get_num_subqueries(); ++i)
        parts.push_back(StemsWithTheirWords(query.get_subquery(i), language));
    return Xapian::Query(type, parts.begin(), parts.end());
}
