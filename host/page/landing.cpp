// Where a page opens: the anchor's element, the keyword's first line, or the
// top (landing.h).
#include "host/host.h"
#include "host/page/page.h"

#include <cstdio>
#include <cstring>

#include "lookup/lookup.h"

namespace {

// A word no page holds and no renderer breaks or drops.
const char AnchorMarker[] = "VelkoryAnchorMark7Q";

char Fold(char c)
{
    return c >= 'A' && c <= 'Z' ? (char)(c - 'A' + 'a') : c;
}

size_t LineOf(const std::string& text, size_t position)
{
    size_t line = 1;
    for (size_t i = 0; i < position && i < text.size(); ++i)
        line += text[i] == '\n';
    return line;
}

bool IsSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

// Whether the attribute at html[at] (its name) is id or name with the value
// anchor, quoted or not.
bool AttributeNames(const std::string& html, size_t at, const std::string& anchor)
{
    size_t n = 0;
    if (at + 2 < html.size() && Fold(html[at]) == 'i' && Fold(html[at + 1]) == 'd')
        n = 2;
    else if (at + 4 < html.size() && Fold(html[at]) == 'n' && Fold(html[at + 1]) == 'a' &&
             Fold(html[at + 2]) == 'm' && Fold(html[at + 3]) == 'e')
        n = 4;
    if (n == 0 || (at > 0 && !IsSpace(html[at - 1])))
        return false;
    size_t i = at + n;
    while (i < html.size() && IsSpace(html[i]))
        ++i;
    if (i >= html.size() || html[i] != '=')
        return false;
    ++i;
    while (i < html.size() && IsSpace(html[i]))
        ++i;
    char quote = i < html.size() && (html[i] == '"' || html[i] == '\'') ? html[i] : 0;
    if (quote)
        ++i;
    if (html.compare(i, anchor.size(), anchor) != 0)
        return false;
    i += anchor.size();
    if (quote)
        return i < html.size() && html[i] == quote;
    return i >= html.size() || IsSpace(html[i]) || html[i] == '>' || html[i] == '/';
}

}  // namespace

std::string ReadAnchorBeside(const std::string& pagePath)
{
    size_t slash = pagePath.find_last_of("/\\");
    std::string path =
        (slash == std::string::npos ? std::string() : pagePath.substr(0, slash + 1)) +
        AnchorFileName;
    FILE* in = fopen(path.c_str(), "rb");
    if (in == nullptr)
        return "";
    char buffer[NameBufferSize];
    size_t n = fread(buffer, 1, sizeof buffer, in);
    fclose(in);
    std::string anchor(buffer, n);
    size_t stop = anchor.find_first_of(std::string("\r\n\0", 3));
    return stop == std::string::npos ? anchor : anchor.substr(0, stop);
}

size_t FindKeywordLine(const std::string& text, const std::string& keyword)
{
    if (keyword.empty() || keyword.size() > text.size())
        return 0;
    char first = Fold(keyword[0]);
    for (size_t i = 0; i + keyword.size() <= text.size(); ++i) {
        if (Fold(text[i]) != first)
            continue;
        size_t k = 1;
        while (k < keyword.size() && Fold(text[i + k]) == Fold(keyword[k]))
            ++k;
        if (k == keyword.size())
            return LineOf(text, i);
    }
    return 0;
}

bool FindAnchorElement(const std::string& html, const std::string& anchor, size_t* begin,
                       size_t* end)
{
    if (anchor.empty())
        return false;
    size_t tag = html.find('<');
    while (tag != std::string::npos) {
        size_t close = html.find('>', tag);
        if (close == std::string::npos)
            return false;
        for (size_t i = tag + 1; i < close; ++i) {
            if (AttributeNames(html, i, anchor)) {
                *begin = tag;
                *end = close + 1;
                return true;
            }
        }
        tag = html.find('<', close);
    }
    return false;
}

size_t FindAnchorLine(const std::string& html, const std::string& anchor)
{
    size_t begin, end;
    return FindAnchorElement(html, anchor, &begin, &end) ? LineOf(html, begin) : 0;
}

bool MarkAnchor(std::string& html, const std::string& anchor)
{
    size_t begin, end;
    if (!FindAnchorElement(html, anchor, &begin, &end))
        return false;
    html.insert(end, AnchorMarker);
    return true;
}

size_t TakeAnchorMark(std::string& text)
{
    size_t at = text.find(AnchorMarker);
    if (at == std::string::npos)
        return 0;
    text.erase(at, sizeof AnchorMarker - 1);
    return LineOf(text, at);
}

void AddStartLine(std::vector<std::string>& argv, size_t line)
{
    static const char* const Known[] = {"less", "more", "most", "vi",    "vim", "nvim", "view",
                                        "ex",   "nano", "pico", "emacs", "mg",  "joe"};
    if (argv.size() < 2 || line <= 1)
        return;
    std::string program = argv[0].substr(argv[0].find_last_of("/\\") + 1);
    if (program.size() > 4 && Fold(program[program.size() - 4]) == '.')
        program.resize(program.size() - 4);  // "more.com", "vim.exe"
    for (const char* known : Known) {
        if (program == known) {
            std::string option = "+";
            option += std::to_string(line);
            argv.insert(argv.end() - 1, option);
            return;
        }
    }
}
