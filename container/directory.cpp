// The container's directory: the directory header, the chain of listing
// chunks that starts at chunk 0, and the entries they hold.
//
// A listing chunk is a 20-byte header (signature, length of the free and
// quick-reference area at the chunk's end, a further word, previous and next
// chunk numbers), then its entries one after another. The walk copies the
// entry areas of the chunks it visits into one buffer, back to back, and then
// parses that buffer twice: once to count the entries, once to fill the table.
//
// Where the directory header is damaged the directory is shortened, never
// read beyond: a chunk size below 20 or a chunk count of 0 gives no entries;
// the walk reads no more chunks than the file can hold after chunk 0's start,
// so a chain that loops or a count in the billions costs at most two file
// sizes of buffer; a chunk whose free area is larger than its body adds no
// entries; a chunk header that lies past the file's end ends the walk; and
// the parse stops at the first entry that does not end within the data read.
#include "container/container.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

uint32_t ReadEncodedInt(const uint8_t** cursor, const uint8_t* end, uint8_t* wide)
{
    const uint8_t* p = *cursor;
    uint32_t value = 0;
    while (p < end) {
        uint8_t byte = *p++;
        if ((value >> 25) != 0 && wide)
            *wide = 1;
        value = (value << 7) | (byte & 0x7F);
        if (!(byte & 0x80)) {
            *cursor = p;
            return value;
        }
    }
    *cursor = nullptr;
    return 0;
}

void ReadDirectoryHeader(HelpFile* file)
{
    ReadHelpFileAt(file, (uint32_t)file->HeaderSections[1].Offset, file->DirectoryHeader,
                   ItspLength);
}

// Steps over one entry at *cursor. Returns 1 for an entry that belongs in the
// table (copied into entry, a zeroed record, when it is not null), 0 for an
// entry that is skipped because its name is longer than 255 bytes, and -1
// when the entry does not end before end. The name length is an encoded
// integer: names of 128 bytes and more store it in two bytes.
static int ParseEntry(const uint8_t** cursor, const uint8_t* end, DirectoryEntry* entry)
{
    const uint8_t* p = *cursor;
    uint8_t wide = 0;
    uint32_t nameLength = ReadEncodedInt(&p, end);
    if (!p || nameLength > (uint32_t)(end - p))
        return -1;
    const uint8_t* name = p;
    p += nameLength;
    uint32_t section = ReadEncodedInt(&p, end, &wide);
    if (!p)
        return -1;
    uint32_t offset = ReadEncodedInt(&p, end, &wide);
    if (!p)
        return -1;
    uint32_t length = ReadEncodedInt(&p, end, &wide);
    if (!p)
        return -1;
    *cursor = p;
    if (nameLength > 255)
        return 0;
    if (entry) {
        memcpy(entry->Name, name, nameLength);
        entry->Section = section;
        entry->Offset = offset;
        entry->Length = length;
        entry->Wide = wide;
    }
    return 1;
}

static DirectoryTable* AllocateDirectoryTable(uint64_t count)
{
    if (count > (uint64_t)(SIZE_MAX - sizeof(DirectoryTable)) / sizeof(DirectoryEntry))
        return nullptr;
    DirectoryTable* table =
        (DirectoryTable*)calloc(1, sizeof(DirectoryTable) + (size_t)count * sizeof(DirectoryEntry));
    if (!table)
        return nullptr;
    table->Count = 0;
    table->Entries = (DirectoryEntry*)(table + 1);
    table->LongNames = 0;
    return table;
}

// Walks the listing chunks from chunk 0 and copies their entry areas into one
// new buffer. Returns the buffer (null when there is nothing to read) and its
// used length.
static uint8_t* ReadEntryAreas(HelpFile* file, size_t* usedLength)
{
    *usedLength = 0;
    uint64_t chunk0 = (uint64_t)(uint32_t)file->HeaderSections[1].Offset + ItspLength;
    uint32_t chunkSize = ReadLE32(file->DirectoryHeader + ItspChunkSize);
    uint32_t chunkCount = ReadLE32(file->DirectoryHeader + ItspChunkCount);
    if (chunkSize < ChunkHeaderLength || chunkCount == 0 || chunk0 >= file->FileSize)
        return nullptr;

    uint64_t remaining = file->FileSize - chunk0;
    uint64_t chunksInFile = (remaining + chunkSize - 1) / chunkSize;
    uint64_t walkLimit = chunkCount < chunksInFile ? chunkCount : chunksInFile;
    uint64_t areaLimit = chunkSize - ChunkHeaderLength;
    if (areaLimit > remaining)
        areaLimit = remaining;
    uint64_t capacity = walkLimit * areaLimit;
    if (capacity == 0 || capacity > (uint64_t)SIZE_MAX - ChunkHeaderLength)
        return nullptr;
    // Room for one chunk header more than the areas: each chunk is read whole
    // at the end of the areas so far, and its area then moved over its header.
    uint8_t* buffer = (uint8_t*)malloc((size_t)capacity + ChunkHeaderLength);
    if (!buffer)
        return nullptr;

    size_t used = 0;
    uint64_t chunksRead = 0;
    uint32_t chunk = 0;
    for (;;) {
        uint64_t chunkStart = chunk0 + (uint64_t)chunk * chunkSize;
        uint8_t* header = buffer + used;
        size_t room = (size_t)(capacity - used) + ChunkHeaderLength;
        size_t got = ReadHelpFileAt(file, chunkStart, header, chunkSize < room ? chunkSize : room);
        if (got < ChunkHeaderLength)
            break;
        uint32_t freeLength = ReadLE32(header + ChunkFreeLength);
        uint32_t next = ReadLE32(header + ChunkNext);
        if (freeLength <= chunkSize - ChunkHeaderLength) {
            size_t area = chunkSize - ChunkHeaderLength - freeLength;
            if (area > got - ChunkHeaderLength)
                area = got - ChunkHeaderLength;
            memmove(header, header + ChunkHeaderLength, area);
            used += area;
        }
        chunksRead++;
        if (next == 0xFFFFFFFFu || chunksRead >= walkLimit)
            break;
        chunk = next;
    }
    *usedLength = used;
    return buffer;
}

void ReadDirectory(HelpFile* file)
{
    size_t used = 0;
    uint8_t* buffer = ReadEntryAreas(file, &used);
    const uint8_t* end = buffer ? buffer + used : nullptr;

    uint64_t count = 0;
    int32_t longNames = 0;
    for (const uint8_t* p = buffer; p && p < end;) {
        int status = ParseEntry(&p, end, nullptr);
        if (status < 0)
            break;
        count += (uint64_t)status;
        if (status == 0 && longNames < INT32_MAX)
            longNames++;
        if (count == (uint64_t)INT32_MAX)
            break;
    }

    DirectoryTable* table = AllocateDirectoryTable(count);
    if (table) {
        int32_t filled = 0;
        for (const uint8_t* p = buffer; p && p < end && (uint64_t)filled < count;) {
            int status = ParseEntry(&p, end, &table->Entries[filled]);
            if (status < 0)
                break;
            filled += status;
        }
        table->Count = filled;
        table->LongNames = longNames;
    }
    file->Entries = table;
    free(buffer);
}

const DirectoryEntry* FindDirectoryEntry(const char* name, const DirectoryTable* table)
{
    if (!name || !table)
        return nullptr;
    for (int32_t i = 0; i < table->Count; i++) {
        if (strcmp(table->Entries[i].Name, name) == 0)
            return &table->Entries[i];
    }
    return nullptr;
}
