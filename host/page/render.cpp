// Help pages as text: the host's own plain renderer.
//
// It drops tags, scripts and styles, decodes character
// references, and keeps the shape of the page readable: paragraphs and
// headings apart, line breaks, list items with their bullets or numbers,
// table rows on lines of their own, preformatted text as it is, everything
// else wrapped to the width. The page is read into UTF-8 by the text pipeline
// (charset.cpp) and its markup by the tokenizer the page text shares
// (markup.h); the text leaves in the terminal's encoding.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "host/host.h"
#include "host/page/markup.h"
#include "host/page/page.h"
#include "platform/terminal_text.h"
#include "platform/text.h"

namespace {

// A non-breaking space inside the renderer: kept apart from the spaces that
// collapse and wrap, and written as a space at the end.
constexpr char HardSpace = '\x01';

// Appends one character, given by its code point.
void AppendCodePoint(std::string& out, uint32_t cp)
{
    if (cp == 0xA0) {
        out += HardSpace;
        return;
    }
    char bytes[4];
    out.append(bytes, EncodeUtf8(cp, bytes));
}

// Appends text with its character references decoded.
void AppendDecoded(std::string& out, std::string_view text)
{
    for (size_t i = 0; i < text.size();) {
        uint32_t cp;
        size_t length =
            text[i] == '&' ? DecodeCharacterReference(text.data() + i, text.size() - i, &cp) : 0;
        if (length > 0) {
            AppendCodePoint(out, cp);
            i += length;
        } else {
            out += text[i++];
        }
    }
}

// Columns that text takes.
size_t Columns(const std::string& text)
{
    return Utf8Width(text.data(), text.size());
}

struct ListLevel {
    bool ordered;
    int counter;
};

// Builds the text: inline words gather into a paragraph that is wrapped and
// written when a block ends; blank lines between blocks are asked for and
// given once.
class TextBuilder {
public:
    explicit TextBuilder(int width)
        : width_(width < 20 ? 20 : width)
    {
    }

    void Word(const std::string& text)
    {
        if (pre_) {
            PreText(text);
            return;
        }
        size_t i = 0;
        while (i < text.size()) {
            if (IsSpace(text[i])) {
                if (!paragraph_.empty())
                    pendingSpace_ = true;
                ++i;
                continue;
            }
            size_t start = i;
            while (i < text.size() && !IsSpace(text[i]))
                ++i;
            if (pendingSpace_ && !paragraph_.empty())
                paragraph_ += ' ';
            pendingSpace_ = false;
            paragraph_.append(text, start, i - start);
        }
    }

    // Ends the current line; with blank, leaves an empty line before the next
    // text too.
    void Break(bool blank)
    {
        FlushParagraph();
        if (blank && pendingBreak_ < 2)
            pendingBreak_ = 2;
        else if (pendingBreak_ < 1)
            pendingBreak_ = 1;
    }

    void LineBreak()
    {
        if (pre_) {
            PreText("\n");
            return;
        }
        if (paragraph_.empty() && !marker_.empty()) {
            FlushParagraph();
            return;
        }
        if (paragraph_.empty()) {
            EmitLine("");
            return;
        }
        FlushParagraph();
        pendingBreak_ = 1;
    }

    void Rule()
    {
        Break(false);
        std::string line(std::max(4, width_ - Indent()), '-');
        EmitLine(line);
        pendingBreak_ = 1;
    }

    void BeginPre()
    {
        Break(true);
        pre_ = true;
        preLineOpen_ = false;
        preStart_ = true;
    }
    void EndPre()
    {
        if (preLineOpen_)
            out_ += '\n';
        preLineOpen_ = false;
        pre_ = false;
        pendingBreak_ = 2;
        hasOutput_ = true;
    }

    void BeginList(bool ordered)
    {
        Break(lists_.empty());
        lists_.push_back({ordered, 0});
    }
    void EndList()
    {
        Break(false);
        if (!lists_.empty())
            lists_.pop_back();
        if (lists_.empty())
            Break(true);
    }
    void ListItem()
    {
        Break(false);
        if (lists_.empty())
            lists_.push_back({false, 0});
        ListLevel& level = lists_.back();
        ++level.counter;
        marker_ = level.ordered ? std::to_string(level.counter) + ". " : std::string("* ");
    }
    // Apart from the cell before it on the same row.
    void CellGap()
    {
        if (pre_ || paragraph_.empty())
            return;
        paragraph_ += ' ';
        paragraph_ += HardSpace;
        pendingSpace_ = false;
    }
    void Indent(int delta)
    {
        extraIndent_ = std::max(0, extraIndent_ + delta);
    }

    void Heading(int level, bool begin)
    {
        Break(true);
        if (begin) {
            heading_ = level;
        } else {
            heading_ = 0;
        }
    }

    std::string Finish()
    {
        FlushParagraph();
        if (pre_ && preLineOpen_)
            out_ += '\n';
        for (char& c : out_)
            if (c == HardSpace)
                c = ' ';
        return out_;
    }

    bool InPre() const
    {
        return pre_;
    }

private:
    static bool IsSpace(char c)
    {
        return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
    }

    int Indent() const
    {
        int depth = lists_.empty() ? 0 : (int)lists_.size() - 1;
        int indent = extraIndent_ + depth * 3;
        if (!lists_.empty())
            indent += 3;
        return std::min(indent, width_ / 2);
    }

    void EmitVerticalSpace()
    {
        if (hasOutput_) {
            for (int i = 1; i < pendingBreak_; ++i)
                out_ += '\n';
        }
        pendingBreak_ = 0;
    }

    void EmitLine(const std::string& line)
    {
        EmitVerticalSpace();
        out_ += line;
        out_ += '\n';
        hasOutput_ = true;
    }

    void PreText(const std::string& text)
    {
        std::string pad(Indent(), ' ');
        for (char c : text) {
            if (c == '\r')
                continue;
            if (preStart_ && c == '\n') {  // a newline right after <pre> is not content
                preStart_ = false;
                continue;
            }
            preStart_ = false;
            if (!preLineOpen_) {
                EmitVerticalSpace();
                out_ += pad;
                preLineOpen_ = true;
                hasOutput_ = true;
            }
            if (c == '\n') {
                out_ += '\n';
                preLineOpen_ = false;
            } else {
                out_ += c;
            }
        }
    }

    void FlushParagraph()
    {
        pendingSpace_ = false;
        if (paragraph_.empty()) {
            return;
        }
        int indent = Indent();
        std::string first = marker_.empty()
            ? std::string(indent, ' ')
            : std::string(indent >= (int)marker_.size() ? indent - marker_.size() : 0, ' ') +
                marker_;
        std::string rest(indent, ' ');
        marker_.clear();

        std::vector<std::string> lines;
        std::string line = first;
        size_t lineWidth = Columns(line);
        size_t prefixWidth = lineWidth;
        size_t i = 0;
        while (i < paragraph_.size()) {
            size_t end = paragraph_.find(' ', i);
            if (end == std::string::npos)
                end = paragraph_.size();
            std::string word = paragraph_.substr(i, end - i);
            i = end + 1;
            size_t wordWidth = Columns(word);
            if (lineWidth > prefixWidth && lineWidth + 1 + wordWidth > (size_t)width_) {
                lines.push_back(line);
                line = rest;
                lineWidth = prefixWidth = Columns(rest);
            }
            if (lineWidth > prefixWidth) {
                line += ' ';
                ++lineWidth;
            }
            line += word;
            lineWidth += wordWidth;
        }
        lines.push_back(line);
        size_t longest = 0;
        for (const std::string& text : lines) {
            EmitLine(text);
            longest = std::max(longest, Columns(text));
        }
        if (heading_ == 1 || heading_ == 2)
            EmitLine(std::string(indent, ' ') +
                     std::string(longest - (size_t)indent, heading_ == 1 ? '=' : '-'));
        paragraph_.clear();
    }

    int width_;
    std::string out_;
    std::string paragraph_;
    std::string marker_;
    bool pendingSpace_ = false;
    int pendingBreak_ = 0;
    bool hasOutput_ = false;
    bool pre_ = false;
    bool preLineOpen_ = false;
    bool preStart_ = false;
    int heading_ = 0;
    int extraIndent_ = 0;
    std::vector<ListLevel> lists_;
};

// The rendered text in the terminal's encoding: no C1 control reaches the
// terminal (a page may hold them; 1252 leaves five bytes undefined).
std::string ForTerminal(std::string text)
{
    for (size_t i = 0; i + 1 < text.size(); ++i) {
        if (text[i] == '\xC2' && (unsigned char)text[i + 1] >= 0x80 &&
            (unsigned char)text[i + 1] < 0xA0) {
            text.replace(i, 2, "?");
        }
    }
    std::string out(text.size() + 8, '\0');
    size_t length = 0;
    if (!Utf8ToTerminal(text.data(), text.size(), out.data(), out.size(), &length))
        return text;
    out.resize(length);
    return out;
}

bool TagIs(const char* name, std::initializer_list<const char*> names)
{
    for (const char* candidate : names)
        if (strcmp(name, candidate) == 0)
            return true;
    return false;
}

}  // namespace

std::string RenderHtmlToText(const std::string& page, int width, unsigned fallbackCodePage)
{
    const std::string html = PageToUtf8(page, PageCodePage(page, fallbackCodePage));
    TextBuilder text(width);
    std::string pendingText;

    auto flushText = [&]() {
        if (!pendingText.empty()) {
            text.Word(pendingText);
            pendingText.clear();
        }
    };

    MarkupReader reader(html);
    MarkupToken token;
    while (reader.Next(token)) {
        if (token.kind == MarkupToken::Text) {
            AppendDecoded(pendingText, token.text);
            continue;
        }
        if (token.kind == MarkupToken::CData) {
            pendingText += token.text;
            continue;
        }
        // Scripts, styles, the title and templates are not page text.
        if (token.kind == MarkupToken::RawText ||
            (token.kind == MarkupToken::StartTag && !token.selfClosing &&
             IsRawTextElement(token.name)))
            continue;
        const std::string name = token.name;
        const bool closing = token.kind == MarkupToken::EndTag;
        const std::string attributes(token.text);

        // Inside preformatted text only the text and line breaks count.
        if (text.InPre() && name != "br" &&
            !(closing && TagIs(token.name, {"pre", "xmp", "listing"})))
            continue;

        flushText();
        if (name == "br") {
            text.LineBreak();
        } else if (name == "p" || name == "div" || name == "center" || name == "section" ||
                   name == "article" || name == "header" || name == "footer" || name == "nav" ||
                   name == "main" || name == "aside" || name == "address" || name == "form" ||
                   name == "fieldset" || name == "figure" || name == "table" || name == "caption") {
            text.Break(name == "p" || name == "table");
        } else if (name.size() == 2 && name[0] == 'h' && name[1] >= '1' && name[1] <= '6') {
            text.Heading(name[1] - '0', !closing);
        } else if (name == "ul" || name == "ol" || name == "menu" || name == "dir") {
            if (closing)
                text.EndList();
            else
                text.BeginList(name == "ol");
        } else if (name == "li") {
            if (!closing)
                text.ListItem();
            else
                text.Break(false);
        } else if (name == "pre" || name == "xmp" || name == "listing") {
            if (closing)
                text.EndPre();
            else
                text.BeginPre();
        } else if (name == "hr") {
            text.Rule();
        } else if (name == "tr") {
            text.Break(false);
        } else if (name == "td" || name == "th") {
            if (!closing)
                text.CellGap();
        } else if (name == "blockquote") {
            text.Break(true);
            text.Indent(closing ? -4 : 4);
        } else if (name == "dl") {
            text.Break(true);
        } else if (name == "dt") {
            text.Break(false);
        } else if (name == "dd") {
            text.Break(false);
            text.Indent(closing ? -4 : 4);
        } else if (name == "img" && !closing) {
            // The alternative text stands for the picture.
            std::string lower = FoldedText(attributes);
            size_t at = lower.find("alt");
            while (at != std::string::npos && at > 0 && IsAsciiAlnum(lower[at - 1]))
                at = lower.find("alt", at + 3);
            if (at != std::string::npos) {
                size_t k = at + 3;
                while (k < attributes.size() && attributes[k] == ' ')
                    ++k;
                if (k < attributes.size() && attributes[k] == '=') {
                    ++k;
                    while (k < attributes.size() && attributes[k] == ' ')
                        ++k;
                    char q = k < attributes.size() ? attributes[k] : 0;
                    std::string alt;
                    if (q == '"' || q == '\'') {
                        size_t end = attributes.find(q, k + 1);
                        alt = attributes.substr(
                            k + 1, end == std::string::npos ? std::string::npos : end - k - 1);
                    } else {
                        size_t end = attributes.find_first_of(" \t\n/", k);
                        alt = attributes.substr(
                            k, end == std::string::npos ? std::string::npos : end - k);
                    }
                    if (!alt.empty()) {
                        pendingText += "[";
                        AppendDecoded(pendingText, alt);
                        pendingText += "]";
                    }
                }
            }
        }
        // Every other tag (a, b, i, span, font, ...) leaves only its text.
    }
    flushText();
    return ForTerminal(text.Finish());
}
