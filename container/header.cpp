// Opening and closing a container, its fixed-offset headers, and the one
// place where the container reader touches its file stream.
//
// File offsets are 32-bit values in the container, and sums of them (content
// offset + section base + file offset) can pass 2 GiB, so every seek goes
// through a 64-bit call: fseeko with a 64-bit off_t, or _fseeki64 on Windows.
#if !defined(_WIN32) && !defined(_FILE_OFFSET_BITS)
#define _FILE_OFFSET_BITS 64
#endif

#include "container/container.h"

#include <cstdlib>
#include <cstring>
#include <sys/types.h>

static int SeekFile(FILE* stream, uint64_t position)
{
#if defined(_WIN32)
    if (position > (uint64_t)INT64_MAX)
        return -1;
    return _fseeki64(stream, (__int64)position, SEEK_SET);
#else
    if (sizeof(off_t) < 8 && position > 0x7FFFFFFFu)
        return -1;
    return fseeko(stream, (off_t)position, SEEK_SET);
#endif
}

static uint64_t QueryFileSize(FILE* stream)
{
#if defined(_WIN32)
    if (_fseeki64(stream, 0, SEEK_END) != 0)
        return 0;
    __int64 end = _ftelli64(stream);
#else
    if (fseeko(stream, 0, SEEK_END) != 0)
        return 0;
    off_t end = ftello(stream);
#endif
    return end < 0 ? 0 : (uint64_t)end;
}

size_t ReadHelpFileAt(HelpFile* file, uint64_t position, void* destination, size_t count)
{
    if (SeekFile(file->File, position) != 0)
        return 0;
    return fread(destination, 1, count, file->File);
}

int ReadStoredBytes(HelpFile* file, uint64_t position, uint32_t count, uint8_t** outData)
{
    *outData = nullptr;
    if (position > file->FileSize || count > file->FileSize - position) {
        file->LastError = ContainerOutsideSection;
        return -1;
    }
    uint8_t* data = (uint8_t*)malloc(count ? count : 1);
    if (!data) {
        file->LastError = ContainerNoMemory;
        return -1;
    }
    if (count && ReadHelpFileAt(file, position, data, count) != count) {
        free(data);
        file->LastError = ContainerOutsideSection;
        return -1;
    }
    *outData = data;
    return 0;
}

void ReadContainerHeader(HelpFile* file)
{
    // A short header leaves the bytes it does not reach at zero.
    ReadHelpFileAt(file, 0, file->Header, sizeof file->Header);
    uint8_t contentOffset[4] = {0, 0, 0, 0};
    ReadHelpFileAt(file, ItsfContentOffset, contentOffset, sizeof contentOffset);
    file->ContentOffset = ReadLE32(contentOffset);
}

void ReadHeaderSections(HelpFile* file)
{
    uint8_t table[2 * ItsfHeaderSectionEntry];
    memset(table, 0, sizeof table);
    ReadHelpFileAt(file, ItsfHeaderSectionTable, table, sizeof table);
    for (int i = 0; i < 2; i++) {
        file->HeaderSections[i].Offset = ReadLE64(table + ItsfHeaderSectionEntry * i);
        file->HeaderSections[i].Length = ReadLE64(table + ItsfHeaderSectionEntry * i + 8);
    }
}

HelpFile* OpenHelpFileHeaders(const char* path)
{
    if (!path)
        return nullptr;
    FILE* stream = fopen(path, "rb");
    if (!stream)
        return nullptr;
    HelpFile* file = (HelpFile*)calloc(1, sizeof(HelpFile));
    if (!file) {
        fclose(stream);
        return nullptr;
    }
    file->File = stream;
    file->FileSize = QueryFileSize(stream);
    ReadContainerHeader(file);
    ReadHeaderSections(file);
    ReadDirectoryHeader(file);
    return file;
}

HelpFile* OpenHelpFile(const char* path)
{
    HelpFile* file = OpenHelpFileHeaders(path);
    if (file) {
        ReadDirectory(file);
        ReadNameList(file);
    }
    return file;
}

void CloseHelpFile(HelpFile* file)
{
    if (!file)
        return;
    if (file->File)
        fclose(file->File);
    if (file->Sections) {
        for (int32_t i = 0; i < file->Sections->Count; i++) {
            free(file->Sections->Records[i].Data);
            FreeLzxSection(file->Sections->Records[i].Lzx);
        }
        free(file->Sections);
    }
    free(file->Entries);
    free(file);
}

int32_t DirectoryCount(const HelpFile* file)
{
    return file && file->Entries ? file->Entries->Count : 0;
}

int32_t DirectoryLongNameCount(const HelpFile* file)
{
    return file && file->Entries ? file->Entries->LongNames : 0;
}

const DirectoryEntry* DirectoryAt(const HelpFile* file, int32_t index)
{
    if (index < 0 || index >= DirectoryCount(file))
        return nullptr;
    return &file->Entries->Entries[index];
}
