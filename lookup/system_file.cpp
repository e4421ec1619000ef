// The help file's #SYSTEM: its language, its title and the names of its
// contents and index sitemaps.
//
// #SYSTEM is a 4-byte version followed by records of a 2-byte code, a 2-byte
// length and that many bytes of data. Code 0 names the contents file (.hhc),
// code 1 the index file (.hhk), code 3 the title, all as NUL-terminated text;
// the data of code 4 begins with the LCID of the help file's language. A record whose length
// runs past the end of the file ends the walk; a name without a terminator
// ends with its record; the last record of a code counts.
#include <cstdlib>
#include <cstring>

#include "container/container.h"
#include "lookup/lookup.h"

constexpr uint16_t SystemContentsFile = 0;
constexpr uint16_t SystemIndexFile = 1;
constexpr uint16_t SystemTitle = 3;
constexpr uint16_t SystemLanguage = 4;

// A text record into name of capacity bytes; a text that does not fit is none.
static void CopySystemName(const uint8_t* data, uint16_t length, char* name, size_t capacity)
{
    size_t n = 0;
    while (n < length && data[n] != 0)
        ++n;
    if (n >= capacity) {
        name[0] = '\0';
        return;
    }
    memcpy(name, data, n);
    name[n] = '\0';
}

void ParseSystemInfo(const uint8_t* data, uint32_t length, SystemInfo* info)
{
    memset(info, 0, sizeof *info);
    uint32_t at = 4;
    while (length >= 4 && at <= length - 4) {
        uint16_t code = (uint16_t)ReadLE16(data + at);
        uint16_t size = (uint16_t)ReadLE16(data + at + 2);
        at += 4;
        if (size > length - at)
            break;
        const uint8_t* record = data + at;
        if (code == SystemContentsFile)
            CopySystemName(record, size, info->contentsFile, sizeof info->contentsFile);
        else if (code == SystemIndexFile)
            CopySystemName(record, size, info->indexFile, sizeof info->indexFile);
        else if (code == SystemTitle)
            CopySystemName(record, size, info->title, sizeof info->title);
        else if (code == SystemLanguage && size >= 4)
            info->lcid = ReadLE32(record);
        at += size;
    }
}

int ReadSystemInfo(HelpFile* file, SystemInfo* info)
{
    memset(info, 0, sizeof *info);
    uint32_t length = 0;
    uint8_t* data = nullptr;
    if (file == nullptr || ExtractFile(file, "/#SYSTEM", &length, &data) != 0)
        return 0;
    ParseSystemInfo(data, length, info);
    free(data);
    return 1;
}
