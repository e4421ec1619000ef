// The host's one tokenizer of HTML (markup.h), and its one escaper of text
// as markup (page.h).
#include "host/page/markup.h"

#include <cstring>

#include "host/page/page.h"

#include "platform/text.h"

namespace {

bool IsNameCharacter(char c)
{
    return IsAsciiAlnum(c) || c == '-' || c == ':';
}

// Whether the bytes of text at at spell name (lower case), ASCII case ignored.
bool SpellsName(std::string_view text, size_t at, const char* name, size_t length)
{
    if (text.size() - at < length)
        return false;
    for (size_t k = 0; k < length; ++k)
        if (FoldAscii(text[at + k]) != name[k])
            return false;
    return true;
}

}  // namespace

bool IsRawTextElement(const char* name)
{
    return strcmp(name, "script") == 0 || strcmp(name, "style") == 0 ||
        strcmp(name, "title") == 0 || strcmp(name, "template") == 0;
}

bool MarkupReader::Next(MarkupToken& token)
{
    token.selfClosing = false;
    token.name[0] = '\0';
    const size_t n = html_.size();
    if (rawElement_[0] != '\0') {
        // The content runs to the element's end tag, letter case ignored.
        size_t length = strlen(rawElement_);
        size_t end = at_;
        while ((end = html_.find("</", end)) != std::string_view::npos &&
               !SpellsName(html_, end + 2, rawElement_, length))
            end += 2;
        if (end == std::string_view::npos)
            end = n;
        token.kind = MarkupToken::RawText;
        token.text = html_.substr(at_, end - at_);
        memcpy(token.name, rawElement_, sizeof token.name);
        rawElement_[0] = '\0';
        size_t after = html_.find('>', end);
        at_ = after == std::string_view::npos ? n : after + 1;
        return true;
    }
    while (at_ < n) {
        if (html_[at_] != '<') {
            size_t next = html_.find('<', at_);
            if (next == std::string_view::npos)
                next = n;
            token.kind = MarkupToken::Text;
            token.text = html_.substr(at_, next - at_);
            at_ = next;
            return true;
        }
        if (at_ + 1 < n && (html_[at_ + 1] == '!' || html_[at_ + 1] == '?')) {
            if (html_.compare(at_, 4, "<!--") == 0) {
                size_t end = html_.find("-->", at_ + 4);
                at_ = end == std::string_view::npos ? n : end + 3;
                continue;
            }
            if (html_.compare(at_, 9, "<![CDATA[") == 0) {
                size_t end = html_.find("]]>", at_ + 9);
                token.kind = MarkupToken::CData;
                token.text =
                    html_.substr(at_ + 9, (end == std::string_view::npos ? n : end) - at_ - 9);
                at_ = end == std::string_view::npos ? n : end + 3;
                return true;
            }
            size_t end = html_.find('>', at_);
            at_ = end == std::string_view::npos ? n : end + 1;
            continue;
        }
        size_t j = at_ + 1 < n && html_[at_ + 1] == '/' ? at_ + 2 : at_ + 1;
        if (j >= n || !IsNameCharacter(html_[j])) {  // a lone '<' is text
            token.kind = MarkupToken::Text;
            token.text = html_.substr(at_, 1);
            ++at_;
            return true;
        }
        ReadTag(token);
        return true;
    }
    return false;
}

void MarkupReader::ReadTag(MarkupToken& token)
{
    const size_t n = html_.size();
    size_t j = at_ + 1;
    bool closing = html_[j] == '/';
    if (closing)
        ++j;
    size_t nameStart = j;
    while (j < n && IsNameCharacter(html_[j]))
        ++j;
    size_t nameLength = j - nameStart;
    if (nameLength < sizeof token.name) {
        for (size_t k = 0; k < nameLength; ++k)
            token.name[k] = FoldAscii(html_[nameStart + k]);
        token.name[nameLength] = '\0';
    }
    // The end of the tag, quoted attribute values skipped.
    size_t tagEnd = j;
    char quote = 0;
    for (; tagEnd < n; ++tagEnd) {
        char c = html_[tagEnd];
        if (quote) {
            if (c == quote)
                quote = 0;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '>') {
            break;
        }
    }
    token.kind = closing ? MarkupToken::EndTag : MarkupToken::StartTag;
    token.text = html_.substr(j, tagEnd - j);
    token.selfClosing = !closing && !token.text.empty() && token.text.back() == '/';
    at_ = tagEnd < n ? tagEnd + 1 : n;
    if (token.kind == MarkupToken::StartTag && !token.selfClosing && IsRawTextElement(token.name))
        memcpy(rawElement_, token.name, sizeof rawElement_);
}

namespace {

// True for a character XML 1.0 can hold.
bool IsXmlCharacter(uint32_t cp)
{
    return cp == 0x9 || cp == 0xA || cp == 0xD || (cp >= 0x20 && cp <= 0xD7FF) ||
        (cp >= 0xE000 && cp <= 0xFFFD) || (cp >= 0x10000 && cp <= 0x10FFFF);
}

}  // namespace

std::string EscapeMarkup(std::string_view utf8, bool attribute)
{
    std::string out;
    out.reserve(utf8.size());
    size_t i = 0;
    while (i < utf8.size()) {
        unsigned char c = (unsigned char)utf8[i];
        if (c < 0x80) {
            ++i;
            switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += attribute ? "&quot;" : "\"";
                break;
            case '\n':
                out += attribute ? "&#10;" : "\n";
                break;
            case '\t':
                out += attribute ? "&#9;" : "\t";
                break;
            case '\r':
                break;
            default:
                if (c >= 0x20)
                    out += (char)c;
            }
            continue;
        }
        size_t length = 0;
        uint32_t cp = DecodeUtf8(utf8.data() + i, utf8.size() - i, &length);
        if (IsXmlCharacter(cp)) {
            char bytes[4];
            out.append(bytes, EncodeUtf8(cp, bytes));
        }
        i += length;
    }
    return out;
}
