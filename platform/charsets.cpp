// The table of code-page names (charsets.h).
#include "platform/charsets.h"

#include <cstdio>
#include <cstring>

#include "platform/text.h"

namespace {

struct CodePageNames {
    unsigned codePage;
    const char* iconv;    // null: "CP" and the number
    const char* charset;  // what w3m and lynx call it; null: nothing they know
    const char* aliases;  // other labels pages use, separated by spaces
};

// Labels are looked for from the top: a label names the first row that has it.
const CodePageNames Table[] = {
    {65001, "UTF-8", "UTF-8", "utf8 unicode-1-1-utf-8"},
    {65000, "UTF-7", nullptr, ""},
    {1252, nullptr, "windows-1252", "cp1252 us-ascii ascii iso-8859-1 iso8859-1 latin1 l1"},
    {1250, nullptr, "windows-1250", "cp1250 x-cp1250"},
    {1251, nullptr, "windows-1251", "cp1251 x-cp1251"},
    {1253, nullptr, "windows-1253", "cp1253"},
    {1254, nullptr, "windows-1254", "cp1254 iso-8859-9"},
    {1255, nullptr, "windows-1255", "cp1255"},
    {1256, nullptr, "windows-1256", "cp1256"},
    {1257, nullptr, "windows-1257", "cp1257"},
    {1258, nullptr, "windows-1258", "cp1258"},
    {874, nullptr, "TIS-620", "windows-874 iso-8859-11"},
    {866, nullptr, "IBM866", "cp866"},
    {936, nullptr, "GBK", "gb2312 x-gbk cp936 csgb2312 euc-cn chinese"},
    {54936, "GB18030", "GB18030", ""},
    {950, nullptr, "Big5", "big5-hkscs x-x-big5 cp950"},
    {932, nullptr, "Shift_JIS", "shift-jis sjis x-sjis ms_kanji windows-31j cp932 csshiftjis"},
    {20932, "EUC-JP", "EUC-JP", "x-euc-jp"},
    {51932, "EUC-JP", nullptr, ""},
    {50220, "ISO-2022-JP", "ISO-2022-JP", ""},
    {50221, "ISO-2022-JP", nullptr, ""},
    {50222, "ISO-2022-JP", nullptr, ""},
    {949, nullptr, "EUC-KR", "ks_c_5601-1987 ks_c_5601 korean cp949 windows-949"},
    {51949, "EUC-KR", nullptr, ""},
    {20127, "ASCII", nullptr, ""},
    {20866, "KOI8-R", "KOI8-R", ""},
    {21866, "KOI8-U", "KOI8-U", ""},
    {10000, "MACINTOSH", nullptr, ""},
    {28591, "ISO-8859-1", nullptr, ""},
    {28592, "ISO-8859-2", "ISO-8859-2", ""},
    {28593, "ISO-8859-3", "ISO-8859-3", ""},
    {28594, "ISO-8859-4", "ISO-8859-4", ""},
    {28595, "ISO-8859-5", "ISO-8859-5", ""},
    {28596, "ISO-8859-6", "ISO-8859-6", ""},
    {28597, "ISO-8859-7", "ISO-8859-7", ""},
    {28598, "ISO-8859-8", "ISO-8859-8", ""},
    {28599, "ISO-8859-9", nullptr, ""},
    {28603, "ISO-8859-13", "ISO-8859-13", ""},
    {28605, "ISO-8859-15", "ISO-8859-15", ""},
};

// Whether the length bytes of label spell word, ASCII letter case ignored.
bool SameLabel(const char* label, size_t length, const char* word, size_t wordLength)
{
    return length == wordLength && StartsWithFolded(label, length, word, wordLength);
}

// Whether label is one of the space-separated words of list.
bool InList(const char* label, size_t length, const char* list)
{
    while (*list != '\0') {
        size_t word = strcspn(list, " ");
        if (SameLabel(label, length, list, word))
            return true;
        list += word;
        list += *list == ' ';
    }
    return false;
}

const CodePageNames* Row(unsigned codePage)
{
    for (const CodePageNames& row : Table)
        if (row.codePage == codePage)
            return &row;
    return nullptr;
}

}  // namespace

unsigned CharsetCodePage(const char* label, size_t length)
{
    for (const CodePageNames& row : Table) {
        if ((row.charset != nullptr &&
             SameLabel(label, length, row.charset, strlen(row.charset))) ||
            InList(label, length, row.aliases))
            return row.codePage;
    }
    return 0;
}

const char* CodePageCharset(unsigned codePage)
{
    const CodePageNames* row = Row(codePage);
    return row != nullptr ? row->charset : nullptr;
}

void CodePageIconvName(unsigned codePage, char* name, size_t size)
{
    const CodePageNames* row = Row(codePage);
    if (row != nullptr && row->iconv != nullptr)
        snprintf(name, size, "%s", row->iconv);
    else
        snprintf(name, size, "CP%u", codePage);
}
