// A page as text: its title and what a reader sees of it, in UTF-8, for the
// full-text search and the exporter (page.h). One pass of the tokenizer
// (markup.h) over the page in UTF-8.
#include <cstring>
#include <string>
#include <string_view>

#include "host/page/markup.h"
#include "host/page/page.h"
#include "lookup/encoding.h"
#include "platform/text.h"

namespace {

// What an element does to the text around it.
enum class Element {
    Inline,  // nothing: its text runs on
    Block,   // its start and end are the boundaries of a block
    Pre,     // a block whose line breaks are kept
    Cell,    // a table cell: a space from the one before
};

bool Is(const char* name, const char* element)
{
    return strcmp(name, element) == 0;
}

// By the first letter first: this runs for every tag of every page.
Element Classify(const char* name)
{
    switch (name[0]) {
    case 'a':
        return Is(name, "address") || Is(name, "article") || Is(name, "aside") ? Element::Block
                                                                               : Element::Inline;
    case 'b':
        return Is(name, "br") || Is(name, "blockquote") || Is(name, "body") ? Element::Block
                                                                            : Element::Inline;
    case 'c':
        return Is(name, "caption") || Is(name, "center") ? Element::Block : Element::Inline;
    case 'd':
        return Is(name, "div") || Is(name, "dl") || Is(name, "dt") || Is(name, "dd") ||
                Is(name, "dir") || Is(name, "details")
            ? Element::Block
            : Element::Inline;
    case 'f':
        return Is(name, "form") || Is(name, "fieldset") || Is(name, "figure") || Is(name, "footer")
            ? Element::Block
            : Element::Inline;
    case 'h':
        return (name[1] >= '1' && name[1] <= '6' && name[2] == '\0') || Is(name, "hr") ||
                Is(name, "header")
            ? Element::Block
            : Element::Inline;
    case 'l':
        return Is(name, "li")     ? Element::Block
            : Is(name, "listing") ? Element::Pre
                                  : Element::Inline;
    case 'm':
        return Is(name, "main") || Is(name, "menu") ? Element::Block : Element::Inline;
    case 'n':
        return Is(name, "nav") ? Element::Block : Element::Inline;
    case 'o':
        return Is(name, "ol") ? Element::Block : Element::Inline;
    case 'p':
        return Is(name, "p") ? Element::Block : Is(name, "pre") ? Element::Pre : Element::Inline;
    case 's':
        return Is(name, "section") || Is(name, "summary") ? Element::Block : Element::Inline;
    case 't':
        return Is(name, "tr") || Is(name, "table") ? Element::Block
            : Is(name, "td") || Is(name, "th")     ? Element::Cell
                                                   : Element::Inline;
    case 'u':
        return Is(name, "ul") ? Element::Block : Element::Inline;
    case 'x':
        return Is(name, "xmp") ? Element::Pre : Element::Inline;
    default:
        return Element::Inline;
    }
}

// The bytes that the writer looks at one by one; every other byte is copied.
struct SpecialBytes {
    bool special[256] = {};
    constexpr SpecialBytes()
    {
        for (unsigned char c : {'&', ' ', '\t', '\n', '\r', '\f'})
            special[c] = true;
    }
};
constexpr SpecialBytes Special;

// Writes text with white space collapsed: a space only between words of one
// line, a newline only after a line with something on it.
class TextWriter {
public:
    explicit TextWriter(std::string& out)
        : out_(out)
    {
    }

    // A run of page text; references decoded unless literal, and in
    // preformatted text each line break kept.
    void Write(std::string_view run, bool literal, bool pre)
    {
        const char* p = run.data();
        const char* end = p + run.size();
        while (p < end) {
            const char* start = p;
            while (p < end && !Special.special[(unsigned char)*p])
                ++p;
            if (p > start) {
                Word();
                out_.append(start, (size_t)(p - start));
            }
            if (p == end)
                break;
            if (*p == '&') {
                uint32_t cp;
                size_t length = literal ? 0 : DecodeCharacterReference(p, (size_t)(end - p), &cp);
                Word();
                if (length > 0) {
                    char bytes[4];
                    out_.append(bytes, EncodeUtf8(cp, bytes));
                    p += length;
                } else {
                    out_ += '&';
                    ++p;
                }
                continue;
            }
            if (*p == '\n' && pre)
                Break();
            else
                space_ = true;
            ++p;
        }
    }

    // Ends the line.
    void Break()
    {
        space_ = false;
        if (!out_.empty() && out_.back() != '\n')
            out_ += '\n';
    }

    // A space before what comes next on the line.
    void Space()
    {
        space_ = true;
    }

private:
    // Before a word: the space between it and the one before.
    void Word()
    {
        if (space_ && !out_.empty() && out_.back() != '\n')
            out_ += ' ';
        space_ = false;
    }

    std::string& out_;
    bool space_ = false;
};

// title cut to MaxTitleBytes at a character boundary, without a last space.
void FinishTitle(std::string& title)
{
    title.resize(CharacterBoundary(title.data(), title.size(), MaxTitleBytes, CP_UTF8));
    while (!title.empty() && (title.back() == ' ' || title.back() == '\n'))
        title.pop_back();
}

}  // namespace

void ReadUtf8PageText(std::string_view html, std::string& title, std::string& text)
{
    title.clear();
    text.clear();
    text.reserve(html.size() / 2);
    TextWriter writer(text);
    bool pre = false;
    bool titleSeen = false;
    MarkupReader reader(html);
    MarkupToken token;
    while (reader.Next(token)) {
        switch (token.kind) {
        case MarkupToken::Text:
        case MarkupToken::CData:
            writer.Write(token.text, token.kind == MarkupToken::CData, pre);
            break;
        case MarkupToken::RawText:
            if (!titleSeen && strcmp(token.name, "title") == 0) {
                titleSeen = true;
                TextWriter titleWriter(title);
                titleWriter.Write(token.text.substr(0, MaxTitleBytes * 4), false, false);
                FinishTitle(title);
            }
            break;
        case MarkupToken::StartTag:
        case MarkupToken::EndTag:
            switch (Classify(token.name)) {
            case Element::Pre:
                pre = token.kind == MarkupToken::StartTag;
                writer.Break();
                break;
            case Element::Block:
                writer.Break();
                break;
            case Element::Cell:
                if (token.kind == MarkupToken::StartTag)
                    writer.Space();
                break;
            case Element::Inline:
                break;
            }
            break;
        }
    }
    writer.Break();
}

PageText ReadPageText(std::string_view page, unsigned fallbackCodePage)
{
    PageText result;
    result.codePage = PageCodePage(page, fallbackCodePage);
    result.html = PageToUtf8(page, result.codePage);
    ReadUtf8PageText(result.html, result.title, result.text);
    return result;
}
