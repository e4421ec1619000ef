// The help file's #SYSTEM: its language, its title, the names of its contents
// and index sitemaps and the page it opens on; and that page as its window
// types in #WINDOWS name it (doc/formats/windows.md).
//
// #SYSTEM is a 4-byte version followed by records of a 2-byte code, a 2-byte
// length and that many bytes of data. Code 0 names the contents file (.hhc),
// code 1 the index file (.hhk), code 2 the default topic, code 3 the title,
// code 5 the default window type, all as NUL-terminated text; the data of
// code 4 begins with the LCID of the help file's language. A record whose
// length runs past the end of the file ends the walk; a name without a
// terminator ends with its record; the last record of a code counts.
#include <cstdlib>
#include <cstring>

#include "container/container.h"
#include "lookup/lookup.h"

constexpr uint16_t SystemContentsFile = 0;
constexpr uint16_t SystemIndexFile = 1;
constexpr uint16_t SystemDefaultTopic = 2;
constexpr uint16_t SystemTitle = 3;
constexpr uint16_t SystemLanguage = 4;
constexpr uint16_t SystemDefaultWindow = 5;

// #WINDOWS: a count and the size of each entry, then the entries. Within an
// entry, offsets into #STRINGS of the window type's name, its default file
// and its home page (0: none).
constexpr uint32_t WindowsHeaderSize = 8;
constexpr uint32_t WindowTypeName = 0x08;
constexpr uint32_t WindowDefaultFile = 0x68;
constexpr uint32_t WindowHomePage = 0x6C;
constexpr uint32_t WindowEntryMinimum = WindowHomePage + 4;

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
        else if (code == SystemDefaultTopic)
            CopySystemName(record, size, info->defaultTopic, sizeof info->defaultTopic);
        else if (code == SystemTitle)
            CopySystemName(record, size, info->title, sizeof info->title);
        else if (code == SystemDefaultWindow)
            CopySystemName(record, size, info->defaultWindow, sizeof info->defaultWindow);
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

// The NUL-terminated text at offset in #STRINGS (one that runs to the end of
// the file ends there); null for offset 0, one outside the file or a text
// that does not fit capacity bytes.
static const char* StringAt(const uint8_t* strings, uint32_t length, uint32_t offset,
                            size_t capacity, char* out)
{
    if (offset == 0 || offset >= length)
        return nullptr;
    uint32_t end = offset;
    while (end < length && strings[end] != 0)
        ++end;
    if (end - offset >= capacity)
        return nullptr;
    memcpy(out, strings + offset, end - offset);
    out[end - offset] = '\0';
    return out;
}

void ParseWindowHome(const uint8_t* windows, uint32_t windowsLength, const uint8_t* strings,
                     uint32_t stringsLength, const char* window, char* page)
{
    page[0] = '\0';
    if (windowsLength < WindowsHeaderSize)
        return;
    uint32_t count = ReadLE32(windows);
    uint32_t size = ReadLE32(windows + 4);
    if (size < WindowEntryMinimum)
        return;
    uint32_t entries = (windowsLength - WindowsHeaderSize) / size;
    if (count < entries)
        entries = count;
    const uint8_t* chosen = entries > 0 ? windows + WindowsHeaderSize : nullptr;
    char name[NameBufferSize];
    for (uint32_t i = 0; i < entries && window != nullptr && window[0] != '\0'; ++i) {
        const uint8_t* entry = windows + WindowsHeaderSize + (size_t)i * size;
        const char* type =
            StringAt(strings, stringsLength, ReadLE32(entry + WindowTypeName), sizeof name, name);
        if (type != nullptr && strcmp(type, window) == 0) {
            chosen = entry;
            break;
        }
    }
    if (chosen == nullptr)
        return;
    const uint32_t fields[] = {WindowDefaultFile, WindowHomePage};
    for (uint32_t field : fields)
        if (StringAt(strings, stringsLength, ReadLE32(chosen + field), NameBufferSize, page))
            return;
}

void ReadWindowHome(HelpFile* file, const char* window, char* page)
{
    page[0] = '\0';
    uint32_t windowsLength = 0, stringsLength = 0;
    uint8_t *windows = nullptr, *strings = nullptr;
    if (file != nullptr && ExtractFile(file, "/#WINDOWS", &windowsLength, &windows) == 0 &&
        ExtractFile(file, "/#STRINGS", &stringsLength, &strings) == 0)
        ParseWindowHome(windows, windowsLength, strings, stringsLength, window, page);
    free(windows);
    free(strings);
}
