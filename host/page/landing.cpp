// Where a page opens: the anchor's element, the keyword's first line, or the
// top (page.h).
//
// An anchor lands on its element's own line; inside a table that is the
// first line of its row (renderers centre a row's cells, so a mark inside a
// cell would land in the middle of a tall row), and when a heading comes
// just before, on the heading. Without an anchor the page opens at the
// keyword's first line inside the page's main content, so that a navigation
// bar or a sidebar before it does not win.
#include "host/host.h"
#include "host/page/page.h"

#include <cstdio>
#include <cstring>

#include "host/os/os.h"
#include "lookup/lookup.h"
#include "platform/platform.h"
#include "platform/text.h"

namespace {

// A word no page holds and no renderer breaks or drops.
const char LandingMarker[] = "VelkoryLandingMark7Q";
// A row of a table at most this many columns wide is measured for its mark.
constexpr unsigned MaxColumns = 1000;

size_t LineOf(const std::string& text, size_t position)
{
    size_t line = 1;
    for (size_t i = 0; i < position && i < text.size(); ++i)
        line += text[i] == '\n';
    return line;
}

// Where line (from 1) begins in text; text.size() beyond its last line.
size_t LineStart(const std::string& text, size_t line)
{
    size_t at = 0;
    for (size_t n = 1; n < line && at < text.size(); ++n) {
        size_t end = text.find('\n', at);
        at = end == std::string::npos ? text.size() : end + 1;
    }
    return at;
}

bool IsSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

bool IsBlank(const std::string& text, size_t begin, size_t end)
{
    for (size_t i = begin; i < end && i < text.size(); ++i)
        if (!IsSpace(text[i]))
            return false;
    return true;
}

// One start or end tag of the HTML.
struct Tag {
    size_t begin = 0, end = 0;  // its '<', and behind its '>'
    std::string name;           // in lower case
    bool closing = false;
    size_t attributes = 0;  // where the text after its name begins
};

// The next tag at or after from, comments skipped; false when none is whole.
bool NextTag(const std::string& html, size_t from, Tag& tag)
{
    size_t at = html.find('<', from);
    while (at != std::string::npos) {
        if (html.compare(at, 4, "<!--") == 0) {
            size_t close = html.find("-->", at + 4);
            if (close == std::string::npos)
                return false;
            at = html.find('<', close + 3);
            continue;
        }
        size_t j = at + 1;
        bool closing = j < html.size() && html[j] == '/';
        j += closing;
        size_t nameStart = j;
        while (j < html.size() && IsAsciiAlnum(html[j]))
            ++j;
        if (j == nameStart) {
            at = html.find('<', at + 1);
            continue;
        }
        // The end of the tag, quoted attribute values skipped.
        size_t end = j;
        char quote = 0;
        while (end < html.size() && (quote || html[end] != '>')) {
            if (quote && html[end] == quote)
                quote = 0;
            else if (!quote && (html[end] == '"' || html[end] == '\''))
                quote = html[end];
            ++end;
        }
        if (end >= html.size())
            return false;
        tag.begin = at;
        tag.end = end + 1;
        tag.name = FoldedText(html.substr(nameStart, j - nameStart));
        tag.closing = closing;
        tag.attributes = j;
        return true;
    }
    return false;
}

// The value of the tag's attribute called name (in lower case); false when
// the tag has none.
bool AttributeValue(const std::string& html, const Tag& tag, const char* name, std::string& value)
{
    size_t i = tag.attributes, end = tag.end - 1;
    while (i < end) {
        while (i < end && (IsSpace(html[i]) || html[i] == '/'))
            ++i;
        size_t start = i;
        while (i < end && !IsSpace(html[i]) && html[i] != '=' && html[i] != '/')
            ++i;
        if (i == start) {
            ++i;  // a stray '=' or quote
            continue;
        }
        std::string attribute = FoldedText(html.substr(start, i - start));
        while (i < end && IsSpace(html[i]))
            ++i;
        std::string text;
        if (i < end && html[i] == '=') {
            ++i;
            while (i < end && IsSpace(html[i]))
                ++i;
            if (i < end && (html[i] == '"' || html[i] == '\'')) {
                size_t close = html.find(html[i], i + 1);
                if (close == std::string::npos || close > end)
                    close = end;
                text = html.substr(i + 1, close - i - 1);
                i = close + 1;
            } else {
                size_t valueStart = i;
                while (i < end && !IsSpace(html[i]))
                    ++i;
                text = html.substr(valueStart, i - valueStart);
            }
        }
        if (attribute == name) {
            value = text;
            return true;
        }
    }
    return false;
}

bool IsHeading(const std::string& name)
{
    return name.size() == 2 && name[0] == 'h' && name[1] >= '1' && name[1] <= '6';
}

// Whether the HTML between from and to is markup and white space only.
bool OnlyMarkupBetween(const std::string& html, size_t from, size_t to)
{
    Tag tag;
    size_t at = from;
    while (at < to && NextTag(html, at, tag) && tag.begin < to) {
        if (!IsBlank(html, at, tag.begin))
            return false;
        at = tag.end;
    }
    return at >= to || IsBlank(html, at, to);
}

// The element whose id or name is anchor (compared exactly, else with ASCII
// letters folded, as old help viewers did), with the table row it lies in
// and the heading it lies in or that ends just before it (or its row).
struct AnchorPlace {
    Tag element;
    bool inRow = false;
    Tag row;
    bool atHeading = false;
    Tag heading;  // its start tag
};

bool FindAnchorPlace(const std::string& html, const std::string& anchor, bool folded,
                     AnchorPlace& place)
{
    if (anchor.empty())
        return false;
    bool inRow = false, headingOpen = false, headingClosed = false;
    Tag row, heading, tag;
    size_t headingEnd = 0;
    for (size_t at = 0; NextTag(html, at, tag); at = tag.end) {
        std::string value;
        bool named = false;
        for (const char* attribute : {"id", "name"}) {
            if (!named && AttributeValue(html, tag, attribute, value))
                named = folded ? FoldedText(value) == FoldedText(anchor) : value == anchor;
        }
        if (!tag.closing && named) {
            place.element = tag;
            place.inRow = inRow || tag.name == "tr";
            place.row = tag.name == "tr" ? tag : row;
            size_t begin = place.inRow ? place.row.begin : tag.begin;
            place.atHeading = !IsHeading(tag.name) &&
                (headingOpen ||
                 (headingClosed && begin >= headingEnd &&
                  OnlyMarkupBetween(html, headingEnd, begin)));
            place.heading = heading;
            return true;
        }
        if (tag.name == "tr") {
            inRow = !tag.closing;
            row = tag;
        } else if (tag.name == "table") {
            inRow = false;
        } else if (IsHeading(tag.name) && !tag.closing) {
            heading = tag;
            headingOpen = true;
        } else if (IsHeading(tag.name) && headingOpen) {
            headingOpen = false;
            headingClosed = true;
            headingEnd = tag.end;
        }
    }
    return false;
}

bool FindAnchorPlace(const std::string& html, const std::string& anchor, AnchorPlace& place)
{
    return FindAnchorPlace(html, anchor, false, place) ||
        FindAnchorPlace(html, anchor, true, place);
}

// Where the page opens for the anchor: at its heading, else its row, else
// the element.
size_t LandingPosition(const AnchorPlace& place)
{
    if (place.atHeading)
        return place.heading.begin;
    return place.inRow ? place.row.begin : place.element.begin;
}

// The columns of the table row whose start tag is row: its cells, with their
// spans.
unsigned RowColumns(const std::string& html, const Tag& row)
{
    unsigned columns = 0;
    Tag tag;
    for (size_t at = row.end; NextTag(html, at, tag) && columns < MaxColumns; at = tag.end) {
        if (tag.name == "tr" || tag.name == "table")
            break;
        if (tag.closing || (tag.name != "td" && tag.name != "th"))
            continue;
        std::string span;
        unsigned n = AttributeValue(html, tag, "colspan", span) ? (unsigned)atoi(span.c_str()) : 1;
        columns += n < 1 ? 1 : n > MaxColumns ? MaxColumns : n;
    }
    return columns < 1 ? 1 : columns < MaxColumns ? columns : MaxColumns;
}

// Where the page's main content begins: just inside <main>, an element whose
// role is main or Sphinx's <div class="body">, else at the first <h1>; npos
// for a page without one.
size_t MainRegionPosition(const std::string& html)
{
    Tag tag;
    size_t firstHeading = std::string::npos;
    for (size_t at = 0; NextTag(html, at, tag); at = tag.end) {
        if (tag.closing)
            continue;
        std::string value;
        if (tag.name == "main" ||
            (AttributeValue(html, tag, "role", value) && FoldedText(value) == "main"))
            return tag.end;
        if (tag.name == "div" && AttributeValue(html, tag, "class", value)) {
            value = " " + value + " ";
            for (char& c : value)
                c = IsSpace(c) ? ' ' : c;
            if (value.find(" body ") != std::string::npos)
                return tag.end;
        }
        if (tag.name == "h1" && firstHeading == std::string::npos)
            firstHeading = tag.begin;
    }
    return firstHeading;
}

bool BeginsWithKeyword(const char* text, size_t size, const std::string& keyword)
{
    return System.terminalUtf8 ? StartsWithFoldedUtf8(text, size, keyword.data(), keyword.size())
                               : StartsWithFolded(text, size, keyword.data(), keyword.size());
}

// The anchor of the first keyword index entry that begins with keyword and
// leads to page (a stored name) with an anchor; "" when none does.
std::string IndexAnchor(const std::string& helpFile, const std::string& page, const char* keyword)
{
    TopicIndex topics;
    if (page.empty() || !keyword || !*keyword || !ReadTopicIndex(helpFile.c_str(), &topics))
        return "";
    KeywordIndex index;
    std::string anchor;
    if (ReadKeywordIndex(helpFile.c_str(), &topics, &index)) {
        int32_t length = (int32_t)strlen(keyword);
        for (uint32_t t = 0; t < index.count && anchor.empty(); ++t) {
            const KeywordTarget& target = index.targets[t];
            if (target.anchor != NoText &&
                CompareAsModule(KeywordText(&index, target.keyword), keyword, length) == 0 &&
                FoldedText(KeywordText(&index, target.page)) == FoldedText(page))
                anchor = KeywordText(&index, target.anchor);
        }
        ReleaseKeywordIndex(&index);
    }
    ReleaseTopicIndex(&topics);
    return anchor;
}

}  // namespace

int CompareAsModule(const char* text, const char* keyword, int32_t count)
{
    if (count <= 0)
        return 0;
    if (!text || !keyword)
        return text == keyword ? 0 : (text ? 1 : -1);
    // In a UTF-8 OEM code page, letters beyond ASCII fold too.
    if (GetOEMCP() == CP_UTF8)
        return CompareFoldedUtf8(text, keyword, (size_t)count);
    return CompareFolded(text, keyword, (size_t)count);
}

std::string ReadBesidePage(const std::string& pagePath, const char* fileName)
{
    size_t slash = pagePath.find_last_of("/\\");
    std::string path =
        (slash == std::string::npos ? std::string() : pagePath.substr(0, slash + 1)) + fileName;
    FILE* in = fopen(path.c_str(), "rb");
    if (in == nullptr)
        return "";
    char buffer[NameBufferSize];
    size_t n = fread(buffer, 1, sizeof buffer, in);
    fclose(in);
    std::string text(buffer, n);
    size_t stop = text.find_first_of(std::string("\r\n\0", 3));
    return stop == std::string::npos ? text : text.substr(0, stop);
}

std::string LandingAnchor(const std::string& pagePath, const std::string& helpFile,
                          const char* keyword)
{
    std::string anchor = ReadBesidePage(pagePath, AnchorFileName);
    if (anchor.empty() && !helpFile.empty())
        anchor = IndexAnchor(helpFile, ReadBesidePage(pagePath, PageNameFileName), keyword);
    return anchor;
}

size_t FindKeywordLine(const std::string& text, const std::string& keyword, size_t fromLine)
{
    if (keyword.empty())
        return 0;
    for (size_t i = LineStart(text, fromLine); i < text.size(); ++i)
        if (BeginsWithKeyword(text.data() + i, text.size() - i, keyword))
            return LineOf(text, i);
    return 0;
}

bool FindAnchorElement(const std::string& html, const std::string& anchor, size_t* begin,
                       size_t* end)
{
    AnchorPlace place;
    if (!FindAnchorPlace(html, anchor, place))
        return false;
    *begin = place.element.begin;
    *end = place.element.end;
    return true;
}

size_t FindAnchorLine(const std::string& html, const std::string& anchor)
{
    AnchorPlace place;
    return FindAnchorPlace(html, anchor, place) ? LineOf(html, LandingPosition(place)) : 0;
}

size_t FindLandingLine(const std::string& html, const std::string& anchor,
                       const std::string& keyword)
{
    size_t line = FindAnchorLine(html, anchor);
    if (line != 0)
        return line;
    size_t region = MainRegionPosition(html);
    if (region != std::string::npos &&
        (line = FindKeywordLine(html, keyword, LineOf(html, region))))
        return line;
    return FindKeywordLine(html, keyword);
}

LandingMark MarkLanding(std::string& html, const std::string& anchor)
{
    const std::string block = std::string("<div>") + LandingMarker + "</div>";
    AnchorPlace place;
    if (FindAnchorPlace(html, anchor, place)) {
        if (place.atHeading) {
            html.insert(place.heading.begin, block);
        } else if (place.inRow) {
            // A row of its own, as wide as the anchor's, which leaves the
            // columns as they were.
            html.insert(place.row.begin,
                        "<tr><td colspan=\"" + std::to_string(RowColumns(html, place.row)) + "\">" +
                            LandingMarker + "</td></tr>");
        } else if (IsHeading(place.element.name) || place.element.name == "table") {
            html.insert(place.element.begin, block);
        } else {
            html.insert(place.element.end, LandingMarker);
        }
        return LandedAtAnchor;
    }
    size_t region = MainRegionPosition(html);
    if (region == std::string::npos)
        return LandedNowhere;
    html.insert(region, block);
    return LandedAtRegion;
}

size_t TakeLandingMark(std::string& text)
{
    size_t at = text.find(LandingMarker);
    if (at == std::string::npos)
        return 0;
    text.erase(at, sizeof LandingMarker - 1);
    size_t start = at == 0 ? std::string::npos : text.rfind('\n', at - 1);
    start = start == std::string::npos ? 0 : start + 1;
    size_t end = text.find('\n', at);
    if (end != std::string::npos && IsBlank(text, start, end)) {
        // A line the mark alone made goes, and a blank line it doubled.
        text.erase(start, end + 1 - start);
        size_t next = text.find('\n', start);
        if (next != std::string::npos && IsBlank(text, start, next) &&
            (start < 2 || text[start - 2] == '\n'))
            text.erase(start, next + 1 - start);
    }
    // The first line with text from there.
    size_t line = LineOf(text, start);
    size_t i = start;
    while (i < text.size() && IsSpace(text[i]))
        ++i;
    return i < text.size() ? LineOf(text, i) : line;
}

void AddStartLine(std::vector<std::string>& argv, size_t line)
{
    static const char* const Known[] = {"less", "more", "most", "vi",    "vim", "nvim", "view",
                                        "ex",   "nano", "pico", "emacs", "mg",  "joe",  "w3m"};
    if (argv.size() < 2 || line <= 1)
        return;
    std::string program = ProgramName(argv[0]);
    for (const char* known : Known) {
        if (program == known) {
            std::string option = "+";
            option += std::to_string(line);
            argv.insert(argv.end() - 1, option);
            return;
        }
    }
}

std::string ProgramName(const std::string& command)
{
    std::string program = command.substr(command.find_last_of("/\\") + 1);
    if (program.size() > 4 && FoldAscii(program[program.size() - 4]) == '.')
        program.resize(program.size() - 4);  // "more.com", "vim.exe"
    return program;
}
