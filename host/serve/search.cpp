// Full-text search over the pages of a help file.
//
// Every page is read as text by the page room (ReadPageText: its charset
// decoded to UTF-8, tags, scripts, styles and comments left out, references
// decoded) and then cut into words: runs of ASCII letters and digits, '_' and
// characters beyond ASCII other than punctuation, symbols and spaces, each
// letter folded by the text unit's case folding (FoldCase). Each page counts
// its words, those of its title five times over. A query matches the pages
// that hold every one of its words (the last one as a prefix, for search as
// you type), ranked by BM25.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "host/host.h"
#include "host/page/page.h"
#include "host/serve/serve.h"
#include "platform/text.h"

namespace {

constexpr size_t MaxWordLength = 48;
constexpr uint32_t TitleWeight = 5;
constexpr size_t MaxQueryWords = 8;
constexpr size_t MaxExpansions = 200;

// Whether cp belongs to a word: ASCII letters, digits and '_', and every
// character beyond ASCII but the spaces, punctuation and symbols of Latin-1,
// General Punctuation, currency, arrows, mathematics, box drawing, shapes,
// and the CJK and full-width punctuation.
bool IsWordCharacter(uint32_t cp)
{
    if (cp < 0x80)
        return IsAsciiAlnum((char)cp) || cp == '_';
    if (cp < 0xC0)
        return cp == 0xAA || cp == 0xB5 || cp == 0xBA;
    return !(cp == 0xD7 || cp == 0xF7 || (cp >= 0x2000 && cp <= 0x206F) ||
             (cp >= 0x20A0 && cp <= 0x20CF) || (cp >= 0x2190 && cp <= 0x23FF) ||
             (cp >= 0x2500 && cp <= 0x27BF) || (cp >= 0x3000 && cp <= 0x303F) ||
             (cp >= 0xFE30 && cp <= 0xFE4F) || (cp >= 0xFF00 && cp <= 0xFF0F) ||
             (cp >= 0xFF1A && cp <= 0xFF20) || (cp >= 0xFF3B && cp <= 0xFF40) ||
             (cp >= 0xFF5B && cp <= 0xFF65) || cp == ReplacementCharacter);
}

// Calls add(word) for each word of UTF-8 text, its letters folded.
template <typename Add> void ForEachWord(std::string_view text, Add add)
{
    std::string word;
    auto flush = [&]() {
        if (!word.empty() && word.size() <= MaxWordLength)
            add(word);
        word.clear();
    };
    for (size_t i = 0; i < text.size();) {
        uint32_t cp = (unsigned char)text[i];
        size_t length = 1;
        if (cp >= 0x80)
            cp = DecodeUtf8(text.data() + i, text.size() - i, &length);
        i += length;
        if (!IsWordCharacter(cp)) {
            flush();
        } else if (cp < 0x80) {
            word += FoldAscii((char)cp);
        } else {
            char bytes[4];
            word.append(bytes, EncodeUtf8(FoldCase(cp), bytes));
        }
    }
    flush();
}

}  // namespace

bool EndsWithNoCase(const std::string& text, const char* suffix)
{
    size_t n = strlen(suffix);
    return text.size() >= n && FoldedText(text.substr(text.size() - n)) == suffix;
}

void AddSearchPage(SearchBuilder& builder, const std::string& name, std::string_view html)
{
    uint32_t page = (uint32_t)builder.pages.size();
    PageText text = ReadPageText(html, builder.codePage);
    builder.pages.push_back(
        {name, text.title.empty() ? TextToUtf8(name, Windows1252) : text.title});
    std::unordered_map<uint32_t, uint32_t> counts;
    uint32_t length = 0;
    auto add = [&](const std::string& word, uint32_t weight) {
        auto [it, inserted] = builder.ids.try_emplace(word, (uint32_t)builder.words.size());
        if (inserted) {
            builder.words.push_back(word);
            builder.lists.emplace_back();
        }
        counts[it->second] += weight;
        length += weight;
    };
    ForEachWord(text.text, [&](const std::string& word) { add(word, 1); });
    ForEachWord(text.title, [&](const std::string& word) { add(word, TitleWeight); });
    for (const auto& [id, count] : counts)
        builder.lists[id].push_back({page, count});
    builder.pageLengths.push_back(length);
}

SearchIndex FinishSearchIndex(SearchBuilder& builder)
{
    SearchIndex index;
    std::vector<uint32_t> order(builder.words.size());
    for (uint32_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::sort(order.begin(), order.end(),
              [&](uint32_t a, uint32_t b) { return builder.words[a] < builder.words[b]; });
    size_t total = 0;
    for (const auto& list : builder.lists)
        total += list.size();
    index.words.reserve(order.size());
    index.offsets.reserve(order.size() + 1);
    index.postings.reserve(total);
    for (uint32_t id : order) {
        index.offsets.push_back((uint32_t)index.postings.size());
        index.words.push_back(std::move(builder.words[id]));
        auto& list = builder.lists[id];
        index.postings.insert(index.postings.end(), list.begin(), list.end());
    }
    index.offsets.push_back((uint32_t)index.postings.size());
    index.pages = std::move(builder.pages);
    index.pageLengths = std::move(builder.pageLengths);
    double sum = 0;
    for (uint32_t length : index.pageLengths)
        sum += length;
    index.averageLength =
        index.pageLengths.empty() ? 1 : std::max(1.0, sum / index.pageLengths.size());
    builder = SearchBuilder();
    return index;
}

std::vector<SearchHit> RunSearch(const SearchIndex& index, const std::string& query, size_t limit)
{
    std::vector<std::string> terms;
    ForEachWord(query, [&](const std::string& word) {
        if (terms.size() < MaxQueryWords)
            terms.push_back(word);
    });
    std::vector<SearchHit> hits;
    const size_t pageCount = index.pages.size();
    if (terms.empty() || pageCount == 0)
        return hits;
    std::vector<double> scores(pageCount, 0.0);
    std::vector<uint8_t> matched(pageCount, 0);
    const double k1 = 1.2, b = 0.75;
    for (size_t t = 0; t < terms.size(); ++t) {
        const std::string& term = terms[t];
        bool prefix = t + 1 == terms.size();
        auto first = std::lower_bound(index.words.begin(), index.words.end(), term);
        size_t expansions = 0;
        for (auto it = first; it != index.words.end() && expansions < MaxExpansions; ++it) {
            if (prefix ? it->compare(0, term.size(), term) != 0 : *it != term)
                break;
            ++expansions;
            size_t w = (size_t)(it - index.words.begin());
            uint32_t begin = index.offsets[w], end = index.offsets[w + 1];
            double df = end - begin;
            double idf = std::log(1.0 + (pageCount - df + 0.5) / (df + 0.5));
            // A longer word that only begins with the term counts for less.
            double exact = it->size() == term.size() ? 1.0 : 0.7;
            for (uint32_t p = begin; p < end; ++p) {
                auto [page, tf] = index.postings[p];
                if (matched[page] != t && matched[page] != t + 1)
                    continue;
                double norm = k1 * (1 - b + b * index.pageLengths[page] / index.averageLength);
                scores[page] += exact * idf * (tf * (k1 + 1)) / (tf + norm);
                matched[page] = (uint8_t)(t + 1);
            }
        }
    }
    for (uint32_t page = 0; page < pageCount; ++page)
        if (matched[page] == terms.size())
            hits.push_back({page, scores[page]});
    size_t keep = std::min(limit, hits.size());
    std::partial_sort(hits.begin(), hits.begin() + keep, hits.end(),
                      [](const SearchHit& a, const SearchHit& b) {
                          return a.score != b.score ? a.score > b.score : a.page < b.page;
                      });
    hits.resize(keep);
    return hits;
}
