// The charset a page declares (page.h); the names themselves are the
// platform's table (platform/charsets.h).
#include "host/host.h"
#include "host/page/page.h"
#include "platform/charsets.h"

#include <cstring>

namespace {

char Lower(char c)
{
    return c >= 'A' && c <= 'Z' ? (char)(c - 'A' + 'a') : c;
}

bool IsNameCharacter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
        c == '_' || c == '.' || c == ':';
}

// Whether the size bytes at text, letter case ignored, begin with word.
bool StartsWith(const char* text, size_t size, const char* word)
{
    size_t n = strlen(word);
    if (n > size)
        return false;
    for (size_t i = 0; i < n; ++i)
        if (Lower(text[i]) != word[i])
            return false;
    return true;
}

}  // namespace

unsigned DeclaredCodePage(const char* page, size_t size)
{
    if (size > 4096)
        size = 4096;
    // Every "charset" inside a <meta ...> tag: charset="x", charset=x, or
    // content="text/html; charset=x".
    for (size_t i = 0; i + 5 < size; ++i) {
        if (page[i] != '<' || !StartsWith(page + i + 1, size - i - 1, "meta"))
            continue;
        size_t end = i + 5;
        while (end < size && page[end] != '>')
            ++end;
        for (size_t j = i + 5; j + 7 <= end; ++j) {
            if (!StartsWith(page + j, end - j, "charset"))
                continue;
            size_t k = j + 7;
            while (k < end &&
                   (page[k] == ' ' || page[k] == '=' || page[k] == '"' || page[k] == '\'' ||
                    page[k] == '\t'))
                ++k;
            size_t start = k;
            while (k < end && IsNameCharacter(page[k]))
                ++k;
            unsigned codePage = CharsetCodePage(page + start, k - start);
            if (codePage != 0)
                return codePage;
        }
        i = end;
    }
    return 0;
}
