// Character sets as web pages name them, and the Windows code pages behind
// them (host.h).
#include "host/host.h"
#include "host/page/page.h"

#include <cstring>

namespace {

const struct {
    const char* name;
    unsigned codePage;
} Charsets[] = {
    {"utf-8", 65001},       {"utf8", 65001},         {"unicode-1-1-utf-8", 65001},
    {"us-ascii", 1252},     {"ascii", 1252},         {"iso-8859-1", 1252},
    {"iso8859-1", 1252},    {"latin1", 1252},        {"l1", 1252},
    {"windows-1250", 1250}, {"windows-1251", 1251},  {"windows-1252", 1252},
    {"windows-1253", 1253}, {"windows-1254", 1254},  {"windows-1255", 1255},
    {"windows-1256", 1256}, {"windows-1257", 1257},  {"windows-1258", 1258},
    {"cp1250", 1250},       {"cp1251", 1251},        {"cp1252", 1252},
    {"cp1253", 1253},       {"cp1254", 1254},        {"cp1255", 1255},
    {"cp1256", 1256},       {"cp1257", 1257},        {"cp1258", 1258},
    {"x-cp1250", 1250},     {"x-cp1251", 1251},      {"iso-8859-2", 28592},
    {"iso-8859-3", 28593},  {"iso-8859-4", 28594},   {"iso-8859-5", 28595},
    {"iso-8859-6", 28596},  {"iso-8859-7", 28597},   {"iso-8859-8", 28598},
    {"iso-8859-9", 1254},   {"iso-8859-13", 28603},  {"iso-8859-15", 28605},
    {"windows-874", 874},   {"tis-620", 874},        {"iso-8859-11", 874},
    {"koi8-r", 20866},      {"koi8-u", 21866},       {"ibm866", 866},
    {"cp866", 866},         {"gb2312", 936},         {"gbk", 936},
    {"x-gbk", 936},         {"cp936", 936},          {"csgb2312", 936},
    {"euc-cn", 936},        {"chinese", 936},        {"gb18030", 54936},
    {"big5", 950},          {"big5-hkscs", 950},     {"x-x-big5", 950},
    {"cp950", 950},         {"shift_jis", 932},      {"shift-jis", 932},
    {"sjis", 932},          {"x-sjis", 932},         {"ms_kanji", 932},
    {"windows-31j", 932},   {"cp932", 932},          {"csshiftjis", 932},
    {"euc-jp", 20932},      {"x-euc-jp", 20932},     {"iso-2022-jp", 50220},
    {"euc-kr", 949},        {"ks_c_5601-1987", 949}, {"ks_c_5601", 949},
    {"korean", 949},        {"cp949", 949},          {"windows-949", 949},
};

const struct {
    unsigned codePage;
    const char* name;
} Names[] = {
    {65001, "UTF-8"},       {936, "GBK"},           {54936, "GB18030"},     {950, "Big5"},
    {932, "Shift_JIS"},     {20932, "EUC-JP"},      {50220, "ISO-2022-JP"}, {949, "EUC-KR"},
    {874, "TIS-620"},       {1250, "windows-1250"}, {1251, "windows-1251"}, {1252, "windows-1252"},
    {1253, "windows-1253"}, {1254, "windows-1254"}, {1255, "windows-1255"}, {1256, "windows-1256"},
    {1257, "windows-1257"}, {1258, "windows-1258"}, {20866, "KOI8-R"},      {21866, "KOI8-U"},
    {866, "IBM866"},        {28592, "ISO-8859-2"},  {28593, "ISO-8859-3"},  {28594, "ISO-8859-4"},
    {28595, "ISO-8859-5"},  {28596, "ISO-8859-6"},  {28597, "ISO-8859-7"},  {28598, "ISO-8859-8"},
    {28603, "ISO-8859-13"}, {28605, "ISO-8859-15"},
};

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

unsigned CharsetCodePage(const char* name, size_t length)
{
    for (const auto& entry : Charsets)
        if (strlen(entry.name) == length && StartsWith(name, length, entry.name))
            return entry.codePage;
    return 0;
}

const char* CodePageCharset(unsigned codePage)
{
    for (const auto& entry : Names)
        if (entry.codePage == codePage)
            return entry.name;
    return nullptr;
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
