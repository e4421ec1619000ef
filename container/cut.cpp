// Telling a help file that ends before what its header and directory
// describe (a download cut short, a copy to a full disk), so that the host
// can say so once, rather than leave every stored file to fail on its own.
//
// The header's fields, the directory (its header, then chunk count times
// chunk size of listing chunks) and every file stored as is (a compressed
// section's Content file among them) lie within a whole file; the first of
// them, in file order, that does not is the cut. Header section 0 records
// the length of the whole file as it was written: a file shorter than that,
// or one that no longer holds the record, is cut short. A file of its
// recorded length whose directory lies past its end is damaged instead, and
// a stored file past the end of such a file is that file's damage alone,
// which its extraction reports.
#include "container/container.h"

#include <cstdio>
#include <cstring>

namespace {

// The length header section 0 records, or 0 when the file does not hold it.
uint64_t RecordedLength(HelpFile* file)
{
    uint64_t at = file->HeaderSections[0].Offset;
    if (at > file->FileSize || file->FileSize - at < HeaderSection0FileLength + 8)
        return 0;
    uint8_t field[8];
    if (ReadHelpFileAt(file, at + HeaderSection0FileLength, field, sizeof field) != sizeof field)
        return 0;
    return (uint64_t)ReadLE32(field) | ((uint64_t)ReadLE32(field + 4) << 32);
}

void Mark(ContainerCut* cut, int part, uint64_t offset, uint64_t end)
{
    cut->Part = part;
    cut->Offset = offset;
    cut->End = end;
}

// The header and the directory, from the fields OpenHelpFileHeaders read.
void HeaderCut(HelpFile* file, ContainerCut* cut)
{
    memset(cut, 0, sizeof *cut);
    const uint64_t size = file->FileSize;
    cut->FileSize = size;
    uint64_t recorded = RecordedLength(file);
    cut->Shortened = recorded == 0 || recorded > size;
    if (size < ItsfFieldsEnd) {
        cut->Shortened = 1;
        Mark(cut, CutHeader, 0, ItsfFieldsEnd);
        return;
    }
    // Where the reader looks for the directory (see ReadDirectoryHeader).
    const uint64_t directory = (uint32_t)file->HeaderSections[1].Offset;
    uint64_t end = directory + ItspLength;
    if (end <= size) {
        uint32_t chunkSize = ReadLE32(file->DirectoryHeader + ItspChunkSize);
        uint32_t chunkCount = ReadLE32(file->DirectoryHeader + ItspChunkCount);
        if (chunkSize >= ChunkHeaderLength)
            end += (uint64_t)chunkSize * chunkCount;
    } else if (directory + file->HeaderSections[1].Length > end &&
               file->HeaderSections[1].Length < UINT32_MAX) {
        end = directory + file->HeaderSections[1].Length;
    }
    if (end > size)
        Mark(cut, CutDirectory, directory, end);
}

}  // namespace

int FindHeaderCut(const char* path, ContainerCut* cut)
{
    memset(cut, 0, sizeof *cut);
    HelpFile* file = OpenHelpFileHeaders(path);
    if (!file)
        return -1;
    HeaderCut(file, cut);
    CloseHelpFile(file);
    return 0;
}

void FindContainerCut(HelpFile* file, ContainerCut* cut)
{
    HeaderCut(file, cut);
    if (cut->Part != CutNone || !cut->Shortened)
        return;
    const DirectoryEntry* first = nullptr;
    uint64_t firstAt = 0;
    for (int32_t i = 0; i < DirectoryCount(file); i++) {
        const DirectoryEntry* entry = DirectoryAt(file, i);
        uint64_t at = 0;
        if (entry->Wide || entry->Length == 0 || !StoredFilePosition(file, entry, &at) ||
            at + entry->Length <= file->FileSize)
            continue;
        if (!first || at < firstAt) {
            first = entry;
            firstAt = at;
        }
    }
    if (!first)
        return;
    Mark(cut, CutStoredFile, firstAt, firstAt + first->Length);
    snprintf(cut->Name, sizeof cut->Name, "%s", first->Name);
    // A compressed section's data is named after its section.
    for (int32_t s = 0; file->Sections && s < file->Sections->Count; s++) {
        const SectionRecord& record = file->Sections->Records[s];
        char content[320];
        snprintf(content, sizeof content, "::DataSpace/Storage/%s/Content", record.Name);
        if (record.Compressed && strcmp(content, first->Name) == 0) {
            snprintf(cut->Name, sizeof cut->Name, "%s", record.Name);
            cut->Section = 1;
        }
    }
}

void DescribeContainerCut(const ContainerCut* cut, char* out, size_t size)
{
    if (size == 0)
        return;
    out[0] = '\0';
    const char* how = cut->Shortened ? "cut short" : "damaged";
    const unsigned long long at = cut->Offset, end = cut->End, length = cut->FileSize;
    char what[320];
    switch (cut->Part) {
    case CutHeader:
        snprintf(out, size, "%s: the file has %llu bytes, fewer than its header's %llu", how,
                 length, end);
        return;
    case CutDirectory:
        snprintf(what, sizeof what, "the directory");
        break;
    case CutStoredFile:
        snprintf(what, sizeof what,
                 cut->Section ? "the compressed section %s" : "the stored file %s", cut->Name);
        break;
    default:
        return;
    }
    if (at >= length)
        snprintf(out, size, "%s: %s at offset %llu lies past the end, at %llu bytes", how, what, at,
                 length);
    else
        snprintf(out, size, "%s: %s at offset %llu ends at %llu, past the end, at %llu bytes", how,
                 what, at, end, length);
}
