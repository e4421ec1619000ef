// Full-text search over the pages of a help file.
//
// Every page's text (tags, scripts, styles and comments left out) is cut into
// words: runs of ASCII letters and digits, '_' and bytes from 0x80 up, with
// A-Z lowered. Each page counts its words, those of its title five times
// over. A query matches the pages that hold every one of its words (the last
// one as a prefix, for search as you type), ranked by BM25.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "host/serve/serve.h"
#include "platform/platform.h"

namespace {

constexpr size_t MaxWordLength = 48;
constexpr uint32_t TitleWeight = 5;
constexpr size_t MaxQueryWords = 8;
constexpr size_t MaxExpansions = 200;

bool IsWordByte(unsigned char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
        c >= 0x80;
}

char LowerByte(char c)
{
    return (c >= 'A' && c <= 'Z') ? (char)(c - 'A' + 'a') : c;
}

bool StartsWithNoCase(std::string_view text, size_t at, const char* word)
{
    size_t n = strlen(word);
    if (at + n > text.size())
        return false;
    for (size_t i = 0; i < n; ++i)
        if (LowerByte(text[at + i]) != word[i])
            return false;
    return true;
}

// Calls add(word) for each word of the page's visible text.
template <typename Add> void ForEachTextWord(std::string_view html, Add add)
{
    std::string word;
    auto flush = [&]() {
        if (!word.empty() && word.size() <= MaxWordLength)
            add(word);
        word.clear();
    };
    size_t i = 0;
    const size_t n = html.size();
    while (i < n) {
        char c = html[i];
        if (c == '<') {
            flush();
            const char* skipTo = nullptr;
            if (StartsWithNoCase(html, i, "<!--"))
                skipTo = "-->";
            else if (StartsWithNoCase(html, i, "<script"))
                skipTo = "</script";
            else if (StartsWithNoCase(html, i, "<style"))
                skipTo = "</style";
            if (skipTo) {
                size_t at = i + 1;
                while (at < n && !StartsWithNoCase(html, at, skipTo))
                    ++at;
                i = at;
            }
            size_t close = html.find('>', i);
            i = close == std::string_view::npos ? n : close + 1;
            continue;
        }
        if (c == '&') {
            // An entity separates words, except the few that stand for a letter.
            flush();
            size_t semicolon = html.find(';', i);
            i = (semicolon != std::string_view::npos && semicolon - i <= 10) ? semicolon + 1
                                                                             : i + 1;
            continue;
        }
        if (IsWordByte((unsigned char)c))
            word += LowerByte(c);
        else
            flush();
        ++i;
    }
    flush();
}

bool IsValidUtf8(std::string_view text)
{
    size_t i = 0;
    while (i < text.size()) {
        unsigned char c = (unsigned char)text[i];
        size_t extra = c < 0x80 ? 0
            : (c >> 5) == 6     ? 1
            : (c >> 4) == 14    ? 2
            : (c >> 3) == 30    ? 3
                                : 9;
        if (extra == 9 || i + extra >= text.size())
            return false;
        for (size_t k = 1; k <= extra; ++k)
            if (((unsigned char)text[i + k] >> 6) != 2)
                return false;
        i += extra + 1;
    }
    return true;
}

void AppendUtf8(std::string& out, uint32_t code)
{
    if (code < 0x80) {
        out += (char)code;
    } else if (code < 0x800) {
        out += (char)(0xC0 | (code >> 6));
        out += (char)(0x80 | (code & 0x3F));
    } else {
        out += (char)(0xE0 | (code >> 12));
        out += (char)(0x80 | ((code >> 6) & 0x3F));
        out += (char)(0x80 | (code & 0x3F));
    }
}

// Windows-1252 0x80-0x9F; the rest of the upper half is Latin-1.
const uint16_t Cp1252High[32] = {0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                 0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD,
                                 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};

}  // namespace

std::string LowerAscii(std::string text)
{
    for (char& c : text)
        c = LowerByte(c);
    return text;
}

bool EndsWithNoCase(const std::string& text, const char* suffix)
{
    size_t n = strlen(suffix);
    return text.size() >= n && LowerAscii(text.substr(text.size() - n)) == suffix;
}

std::string ToUtf8(std::string_view bytes, uint32_t codePage)
{
    if (IsValidUtf8(bytes))
        return std::string(bytes);
    if (codePage != 0 && codePage != Windows1252 && bytes.size() < (size_t)INT32_MAX / 2) {
        int length = (int)bytes.size();
        std::vector<WCHAR> wide((size_t)length + 1);
        int units = MultiByteToWideChar(codePage, 0, bytes.data(), length, wide.data(), length + 1);
        int size = units > 0
            ? WideCharToMultiByte(CP_UTF8, 0, wide.data(), units, nullptr, 0, nullptr, nullptr)
            : 0;
        if (size > 0) {
            std::string out((size_t)size, '\0');
            WideCharToMultiByte(CP_UTF8, 0, wide.data(), units, out.data(), size, nullptr, nullptr);
            return out;
        }
    }
    std::string out;
    for (char c : bytes) {
        unsigned char u = (unsigned char)c;
        AppendUtf8(out, u < 0x80 ? u : u < 0xA0 ? Cp1252High[u - 0x80] : u);
    }
    return out;
}

std::string HtmlTitle(std::string_view html, uint32_t codePage)
{
    size_t at = 0;
    while (at < html.size() && !StartsWithNoCase(html, at, "<title"))
        ++at;
    size_t open = html.find('>', at);
    if (at >= html.size() || open == std::string_view::npos)
        return "";
    size_t end = open + 1;
    while (end < html.size() && !StartsWithNoCase(html, end, "</title"))
        ++end;
    std::string title;
    bool space = false;
    for (size_t i = open + 1; i < end && title.size() < 300; ++i) {
        char c = html[i];
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            space = !title.empty();
            continue;
        }
        if (space)
            title += ' ';
        space = false;
        title += c;
    }
    // The common entities; the rest stay as written.
    static const char* const Entities[][2] = {
        {"&amp;", "&"}, {"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&nbsp;", " "}};
    for (const auto& entity : Entities) {
        size_t found;
        while ((found = title.find(entity[0])) != std::string::npos)
            title.replace(found, strlen(entity[0]), entity[1]);
    }
    return ToUtf8(title, codePage);
}

void AddSearchPage(SearchBuilder& builder, const std::string& name, std::string_view html)
{
    uint32_t page = (uint32_t)builder.pages.size();
    std::string title = HtmlTitle(html, builder.codePage);
    builder.pages.push_back({name, title.empty() ? name : title});
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
    ForEachTextWord(html, [&](const std::string& word) { add(word, 1); });
    ForEachTextWord(title, [&](const std::string& word) { add(word, TitleWeight); });
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
    ForEachTextWord(query, [&](const std::string& word) {
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
