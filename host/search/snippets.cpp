// Snippets (search.h): a line of a page's text around the match, with the
// ranges that match, and the texts of the pages read last.
#include <cstring>
#include <string>

#include "host/search/search.h"
#include "platform/text.h"

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
// escaped as in HTML) as text and the ranges of its marks, those that touch
// joined.
void TakeSnippet(const std::string& marked, SearchHit& hit)
{
    size_t start = 0;
    for (size_t i = 0; i < marked.size(); ++i) {
        char c = marked[i];
        if (c == MarkStart) {
            start = hit.snippet.size();
        } else if (c == MarkEnd) {
            // Marks that touch are one (the characters of a Chinese word).
            if (hit.snippet.size() > start && !hit.marks.empty() &&
                hit.marks.back().second == start)
                hit.marks.back().second = hit.snippet.size();
            else if (hit.snippet.size() > start)
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

const std::string* RecentTexts::Find(const std::string& key)
{
    auto at = index_.find(key);
    if (at == index_.end())
        return nullptr;
    order_.splice(order_.begin(), order_, at->second);
    return &at->second->second;
}

void RecentTexts::Keep(const std::string& key, const std::string& text)
{
    if (text.size() > MostBytes / 4 || index_.count(key))
        return;
    order_.emplace_front(key, text);
    index_.emplace(key, order_.begin());
    bytes_ += key.size() + text.size();
    while (bytes_ > MostBytes) {
        bytes_ -= order_.back().first.size() + order_.back().second.size();
        index_.erase(order_.back().first);
        order_.pop_back();
    }
}
