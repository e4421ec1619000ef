// Style sheets walked for their references: every url() and @import target
// found (comments and strings skipped) and, for the book, rewritten.
#include <cstring>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "host/export/export.h"
#include "platform/text.h"

namespace {

bool StartsWithNoCase(std::string_view text, size_t at, const char* word)
{
    size_t length = strlen(word);
    if (at + length > text.size())
        return false;
    for (size_t i = 0; i < length; ++i)
        if (FoldAscii(text[at + i]) != word[i])
            return false;
    return true;
}

bool IsCssSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

// Walks css, giving each url() and @import target to found, which returns
// its replacement text (the whole url(...) or @import rule); the result is
// css with those replaced.
std::string WalkCss(std::string_view css,
                    const std::function<std::string(const std::string& target, bool import)>& found)
{
    std::string out;
    size_t i = 0, n = css.size();
    // A quoted string at i (css[i] is the quote): its content; i moves past it.
    auto quoted = [&](size_t& at) {
        char quote = css[at++];
        std::string value;
        while (at < n && css[at] != quote) {
            if (css[at] == '\\' && at + 1 < n)
                ++at;
            value += css[at++];
        }
        if (at < n)
            ++at;
        return value;
    };
    while (i < n) {
        char c = css[i];
        if (c == '/' && i + 1 < n && css[i + 1] == '*') {
            size_t end = css.find("*/", i + 2);
            end = end == std::string_view::npos ? n : end + 2;
            out.append(css.substr(i, end - i));
            i = end;
        } else if (c == '"' || c == '\'') {
            size_t start = i;
            quoted(i);
            out.append(css.substr(start, i - start));
        } else if (StartsWithNoCase(css, i, "url(")) {
            size_t at = i + 4;
            while (at < n && IsCssSpace(css[at]))
                ++at;
            std::string target;
            if (at < n && (css[at] == '"' || css[at] == '\'')) {
                target = quoted(at);
                while (at < n && css[at] != ')')
                    ++at;
            } else {
                while (at < n && css[at] != ')')
                    target += css[at++];
                while (!target.empty() && IsCssSpace(target.back()))
                    target.pop_back();
            }
            i = at < n ? at + 1 : n;
            out += found(target, false);
        } else if (StartsWithNoCase(css, i, "@import")) {
            size_t at = i + 7;
            while (at < n && IsCssSpace(css[at]))
                ++at;
            if (at < n && (css[at] == '"' || css[at] == '\'')) {
                std::string target = quoted(at);
                size_t end = css.find(';', at);
                end = end == std::string_view::npos ? n : end + 1;
                std::string rest(css.substr(at, end - at));
                std::string replaced = found(target, true);
                out += replaced.empty() ? "" : replaced + rest;
                i = end;
            } else {
                out += "@import ";
                i = at;
            }
        } else {
            out += c;
            ++i;
        }
    }
    return out;
}

}  // namespace

std::string RewriteCss(std::string_view css,
                       const std::function<std::string(const std::string&)>& rewrite)
{
    return WalkCss(css, [&](const std::string& target, bool import) -> std::string {
        std::string replaced = rewrite(target);
        if (import)
            return replaced.empty() ? "" : "@import \"" + replaced + "\"";
        if (replaced.empty())
            return "none";
        std::string escaped;
        for (char c : replaced) {
            if (c == '"' || c == '\\' || c == '\n')
                escaped += '\\';
            escaped += c;
        }
        return "url(\"" + escaped + "\")";
    });
}

std::vector<std::string> CssReferences(std::string_view css)
{
    std::vector<std::string> targets;
    WalkCss(css, [&](const std::string& target, bool) -> std::string {
        targets.push_back(target);
        return "";
    });
    return targets;
}
