// Bytes to UTF-8: the charset a page is in, and the one conversion every text
// of a help file takes on its way to UTF-8 (page.h). The names of charsets
// are the platform's table (platform/charsets.h); the conversion itself is
// the system's MultiByteToWideChar (the module's own on Linux).
#include "host/host.h"
#include "host/page/page.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <vector>

#include "container/container.h"
#include "lookup/encoding.h"
#include "lookup/lookup.h"
#include "platform/charsets.h"
#include "platform/platform.h"
#include "platform/text.h"

namespace {

bool IsCharsetCharacter(char c)
{
    return IsAsciiAlnum(c) || c == '-' || c == '_' || c == '.' || c == ':';
}

// Whether the size bytes at text, letter case ignored, begin with word.
bool StartsWith(const char* text, size_t size, const char* word)
{
    return StartsWithFolded(text, size, word, strlen(word));
}

// Whether ASCII text is itself in codePage, as in every code page Windows
// gives a system (not in UTF-7 or EBCDIC): tried once for each code page a
// thread meets, through the converter itself.
bool KeepsAscii(unsigned codePage)
{
    thread_local struct {
        unsigned codePage;
        bool keeps;
    } tried[4] = {};
    thread_local unsigned next = 0;
    for (const auto& entry : tried)
        if (entry.codePage == codePage)
            return entry.keeps;
    char ascii[95];
    WCHAR wide[95];
    for (int c = 0x20; c < 0x7F; ++c)
        ascii[c - 0x20] = (char)c;
    bool keeps = MultiByteToWideChar(codePage, 0, ascii, 95, wide, 95) == 95;
    for (int i = 0; keeps && i < 95; ++i)
        keeps = wide[i] == (WCHAR)ascii[i];
    tried[next] = {codePage, keeps};
    next = (next + 1) % 4;
    return keeps;
}

// The bytes before the first that is not ASCII, eight at a time.
size_t AsciiRun(const char* text, size_t size)
{
    size_t i = 0;
    while (i + 8 <= size && IsAscii(text + i, 8))
        i += 8;
    while (i < size && (unsigned char)text[i] < 0x80)
        ++i;
    return i;
}

// Appends size bytes of text: ASCII a run at a time, and each other
// character as nonAscii(character, bytes left, out) appends it, which returns
// the bytes it read.
template <typename NonAscii>
void AppendByRuns(std::string& out, const char* text, size_t size, NonAscii nonAscii)
{
    out.reserve(out.size() + size + size / 8);
    for (size_t i = 0; i < size;) {
        size_t run = AsciiRun(text + i, size - i);
        out.append(text + i, run);
        i += run;
        if (i < size)
            i += nonAscii(text + i, size - i, out);
    }
}

// UTF-8 by the host's rule: each byte that is no character becomes U+FFFD.
size_t AppendUtf8Character(const char* text, size_t left, std::string& out)
{
    size_t length;
    uint32_t cp = DecodeUtf8(text, left, &length);
    if (cp == ReplacementCharacter && length == 1)
        out += "\xEF\xBF\xBD";
    else
        out.append(text, length);
    return length;
}

// Windows-1252 through the text unit's table.
size_t AppendWindows1252Character(const char* text, size_t, std::string& out)
{
    uint32_t cp;
    DecodeSingleByte(1252, (unsigned char)*text, &cp);
    char bytes[4];
    out.append(bytes, EncodeUtf8(cp, bytes));
    return 1;
}

// Through the system's MultiByteToWideChar; false when it cannot convert
// codePage.
bool AppendThroughUtf16(std::string& out, const char* text, size_t size, unsigned codePage)
{
    if (size > (size_t)INT_MAX / 4)
        return false;
    // Most code pages need no more UTF-16 units than bytes; the others are
    // asked how many they need.
    std::vector<WCHAR> wide(size + 1);
    int units = MultiByteToWideChar(codePage, 0, text, (int)size, wide.data(), (int)wide.size());
    if (units <= 0) {
        units = MultiByteToWideChar(codePage, 0, text, (int)size, nullptr, 0);
        if (units <= 0)
            return false;
        wide.resize((size_t)units);
        units = MultiByteToWideChar(codePage, 0, text, (int)size, wide.data(), units);
        if (units <= 0)
            return false;
    }
    // The UTF-8 is counted first, then written in place.
    size_t n = (size_t)units, bytes = 0;
    for (size_t i = 0; i < n; ++i)
        bytes += wide[i] < 0x80 ? 1 : wide[i] < 0x800 ? 2 : 3;  // a pair is 4 in all
    size_t at = out.size();
    out.resize(at + bytes);
    char* p = out.data() + at;
    for (size_t i = 0; i < n;) {
        if (wide[i] < 0x80) {
            *p++ = (char)wide[i++];
            continue;
        }
        size_t used;
        uint32_t cp = DecodeUtf16(wide[i], i + 1 < n ? wide[i + 1] : 0, &used);
        p += EncodeUtf8(cp >= 0xD800 && cp <= 0xDFFF ? ReplacementCharacter : cp, p);
        i += used;
    }
    out.resize((size_t)(p - out.data()));
    return true;
}

}  // namespace

std::string CodePageToUtf8(std::string_view bytes, unsigned codePage)
{
    std::string out;
    if (codePage == 0)
        codePage = GetACP();
    if (codePage == CP_UTF8) {
        if (IsUtf8(bytes.data(), bytes.size()))
            out.assign(bytes);
        else
            AppendByRuns(out, bytes.data(), bytes.size(), AppendUtf8Character);
        return out;
    }
    if (IsAscii(bytes.data(), bytes.size()) && KeepsAscii(codePage)) {
        out.assign(bytes);
        return out;
    }
    if (codePage != 1252 && AppendThroughUtf16(out, bytes.data(), bytes.size(), codePage))
        return out;
    // Windows-1252, and the fallback for a code page the system cannot
    // convert.
    out.clear();
    AppendByRuns(out, bytes.data(), bytes.size(), AppendWindows1252Character);
    return out;
}

std::string TextToUtf8(std::string_view bytes, unsigned codePage)
{
    return CodePageToUtf8(bytes, IsUtf8(bytes.data(), bytes.size()) ? CP_UTF8 : codePage);
}

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
            while (k < end && IsCharsetCharacter(page[k]))
                ++k;
            unsigned codePage = CharsetCodePage(page + start, k - start);
            if (codePage != 0)
                return codePage;
        }
        i = end;
    }
    return 0;
}

unsigned PageCodePage(std::string_view page, unsigned fallbackCodePage)
{
    unsigned declared = DeclaredCodePage(page.data(), page.size());
    if (declared != 0)
        return declared;
    if (IsUtf8Text(page.data(), page.size()))
        return CP_UTF8;
    return fallbackCodePage != 0 ? fallbackCodePage : GetACP();
}

std::string PageToUtf8(std::string_view page, unsigned codePage)
{
    std::string html = CodePageToUtf8(page, codePage);
    // NUL bytes mean nothing in a page, and would end a text early.
    if (memchr(html.data(), '\0', html.size()) != nullptr)
        html.erase(std::remove(html.begin(), html.end(), '\0'), html.end());
    return html;
}

unsigned HelpFileCodePage(const std::string& helpFile)
{
    unsigned codePage = 0;
    if (HelpFile* help = helpFile.empty() ? nullptr : OpenHelpFile(helpFile.c_str())) {
        SystemInfo info;
        ReadSystemInfo(help, &info);
        CloseHelpFile(help);
        codePage = LocaleAnsiCodePage(info.lcid);
    }
    return codePage;
}
