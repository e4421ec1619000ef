// Extracting one stored file.
//
// A file of an uncompressed section is read from the content offset + the
// section's base offset + the file's offset. The section named
// "MSCompressed" is one LZX stream, stored as the section's Content file and
// described by two more files: ControlData ("LZXC" and the window size) and
// ResetTable (the section's uncompressed and compressed lengths and where
// each reset interval begins). The first extraction from it reads that
// description into the section record; files are then decoded by reset
// intervals (container/intervals.cpp) or, where the intervals cannot be used,
// from one decoding of the whole section kept in the section record.
//
// Those three files must lie in an uncompressed section: one that names the
// compressed section itself fails the extraction. Every size read from them
// is checked before it is used: a ControlData shorter than 20 bytes, a
// ResetTable shorter than 28, a Content file shorter than the compressed
// length, lengths past 32 bits, an uncompressed length that no LZX stream of
// the compressed length can reach, and a file that does not lie within the
// decompressed section all fail before anything is decoded. A section that
// cannot be described or decoded as a whole keeps its failure: later
// extractions from it fail at once with the same reason.
#include "container/container.h"

#include "lzx/lzx.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

static const char TransformIdentifier[] = "{7FC28940-9D31-11D0-9B27-00A0C91E9C7C}";

const char* ContainerErrorText(int error)
{
    switch (error) {
    case ContainerOk:
        return "no error";
    case ContainerNoSuchFile:
        return "no stored file has that name";
    case ContainerPastLimits:
        return "a length or offset does not fit in 32 bits";
    case ContainerOutsideSection:
        return "the file does not lie within its section or the help file";
    case ContainerBadSection:
        return "its section is unknown or its description is unusable";
    case ContainerDamagedData:
        return "its compressed data is damaged";
    case ContainerNoMemory:
        return "not enough memory";
    default:
        return "unknown error";
    }
}

uint64_t LongestLzxOutput(uint32_t compressedLength, int windowBits)
{
    uint32_t rest = compressedLength % 34;
    return ((uint64_t)(compressedLength / 34) << windowBits) + (rest > 16 ? rest - 16 : 0);
}

static int WindowBitsForCode(uint32_t code)
{
    switch (code) {
    case 1:
        return 15;
    case 2:
        return 16;
    case 4:
        return 17;
    case 8:
        return 18;
    case 16:
        return 19;
    case 32:
        return 20;
    case 64:
        return 21;
    default:
        return 0;
    }
}

static int Fail(HelpFile* file, int error)
{
    file->LastError = error;
    return -1;
}

bool StoredFilePosition(const HelpFile* file, const DirectoryEntry* entry, uint64_t* position)
{
    uint32_t s = entry->Section;
    *position = (uint64_t)file->ContentOffset + entry->Offset;
    if (file->Sections) {
        if (s >= (uint32_t)file->Sections->Count || file->Sections->Records[s].Compressed)
            return false;
        *position += file->Sections->Records[s].BaseOffset;
        return true;
    }
    // Without a section table only section 0 is known to be stored as is.
    return s == 0;
}

// The file position of a file stored as is, or -1 with the reason when its
// section is compressed or unknown.
static int StoredPosition(HelpFile* file, const DirectoryEntry* entry, uint64_t* position)
{
    return StoredFilePosition(file, entry, position) ? 0 : Fail(file, ContainerBadSection);
}

// Finds one of the files that describe a compressed section: it must lie, as
// stored, within the help file and be at least minimumLength bytes long.
static int LocateSectionFile(HelpFile* file, const char* name, uint32_t minimumLength,
                             uint64_t* position, uint32_t* length)
{
    const DirectoryEntry* entry = FindDirectoryEntry(name, file->Entries);
    if (!entry || entry->Wide || entry->Length < minimumLength ||
        StoredPosition(file, entry, position) != 0 || *position > file->FileSize ||
        entry->Length > file->FileSize - *position)
        return Fail(file, ContainerBadSection);
    *length = entry->Length;
    return 0;
}

// Reads the section's ControlData, ResetTable and Content entry into a new
// description, or fails with the reason.
static int DescribeLzxSection(HelpFile* file, SectionRecord* section)
{
    char name[400];
    uint64_t position = 0;
    uint32_t length = 0;

    snprintf(name, sizeof name, "::DataSpace/Storage/%s/ControlData", section->Name);
    if (LocateSectionFile(file, name, ControlDataMinimumLength, &position, &length) != 0)
        return -1;
    uint8_t control[ControlDataMinimumLength];
    if (ReadHelpFileAt(file, position, control, sizeof control) != sizeof control)
        return Fail(file, ContainerBadSection);
    if (memcmp(control + ControlDataSignature, "LZXC", 4) != 0)
        return Fail(file, ContainerBadSection);
    int windowBits = WindowBitsForCode(ReadLE32(control + ControlDataWindowSize));
    if (!windowBits)
        return Fail(file, ContainerBadSection);

    snprintf(name, sizeof name, "::DataSpace/Storage/%s/Transform/%s/InstanceData/ResetTable",
             section->Name, TransformIdentifier);
    if (LocateSectionFile(file, name, ResetTableMinimumLength, &position, &length) != 0)
        return -1;
    uint8_t* table = nullptr;
    if (ReadStoredBytes(file, position, length, &table) != 0)
        return -1;
    const uint32_t tableLength = length;
    uint64_t uncompressedLength = ReadLE64(table + ResetTableUncompressedLength);
    uint64_t compressedLength = ReadLE32(table + ResetTableCompressedLength);
    if (tableLength >= ResetTableCompressedLength + 8)
        compressedLength = ReadLE64(table + ResetTableCompressedLength);
    if (uncompressedLength > UINT32_MAX || compressedLength > UINT32_MAX) {
        free(table);
        return Fail(file, ContainerPastLimits);
    }
    if (uncompressedLength > LongestLzxOutput((uint32_t)compressedLength, windowBits)) {
        free(table);
        return Fail(file, ContainerBadSection);
    }

    snprintf(name, sizeof name, "::DataSpace/Storage/%s/Content", section->Name);
    uint64_t contentPosition = 0;
    if (LocateSectionFile(file, name, (uint32_t)compressedLength, &contentPosition, &length) != 0) {
        free(table);
        return -1;
    }
    LzxSection* lzx = (LzxSection*)calloc(1, sizeof(LzxSection));
    if (!lzx) {
        free(table);
        return Fail(file, ContainerNoMemory);
    }
    lzx->WindowBits = windowBits;
    lzx->WindowSize = 1u << windowBits;
    lzx->UncompressedLength = (uint32_t)uncompressedLength;
    lzx->CompressedLength = (uint32_t)compressedLength;
    lzx->ContentPosition = contentPosition;
    PlanIntervals(file, lzx, table, tableLength);
    free(table);
    section->Lzx = lzx;
    return 0;
}

LzxDecoder* SectionDecoder(LzxSection* lzx)
{
    if (!lzx->Decoder)
        lzx->Decoder = (LzxDecoder*)calloc(1, sizeof(LzxDecoder));
    return lzx->Decoder;
}

int DecodeWholeSection(HelpFile* file, SectionRecord* section)
{
    LzxSection* lzx = section->Lzx;
    if (lzx->UncompressedLength > (uint32_t)INT32_MAX ||
        lzx->CompressedLength > (uint32_t)INT32_MAX)
        return Fail(file, section->Failure = ContainerPastLimits);
    uint8_t* content = nullptr;
    if (ReadStoredBytes(file, lzx->ContentPosition, lzx->CompressedLength, &content) != 0)
        return -1;
    uint32_t length = lzx->UncompressedLength;
    uint8_t* buffer = (uint8_t*)malloc(length ? length : 1);
    LzxDecoder* decoder = SectionDecoder(lzx);
    if (!buffer || !decoder || InitLzx(decoder, lzx->WindowBits) != LzxOk) {
        free(content);
        free(buffer);
        return Fail(file, ContainerNoMemory);
    }
    int result =
        DecodeLzx(decoder, content, buffer, (int32_t)lzx->CompressedLength, (int32_t)length);
    free(content);
    if (result != LzxOk) {
        free(buffer);
        return Fail(file, section->Failure = ContainerDamagedData);
    }
    section->Data = buffer;
    section->DataLength = length;
    return 0;
}

// A copy of length bytes at offset of a section of sectionLength bytes.
static int CopyFromSection(HelpFile* file, const uint8_t* section, uint32_t sectionLength,
                           uint32_t offset, uint32_t length, uint32_t* outLength, uint8_t** outData)
{
    if (offset > sectionLength || length > sectionLength - offset)
        return Fail(file, ContainerOutsideSection);
    uint8_t* copy = (uint8_t*)malloc(length ? length : 1);
    if (!copy)
        return Fail(file, ContainerNoMemory);
    if (length)
        memcpy(copy, section + offset, length);
    *outLength = length;
    *outData = copy;
    return 0;
}

// Makes sure the compressed section is described; fails with the reason the
// section gave before, or gives now.
int PrepareLzxSection(HelpFile* file, SectionRecord* section)
{
    if (section->Failure != ContainerOk)
        return Fail(file, section->Failure);
    if (!section->Lzx && DescribeLzxSection(file, section) != 0) {
        if (file->LastError != ContainerNoMemory)
            section->Failure = file->LastError;
        return -1;
    }
    return 0;
}

static int ExtractCompressed(HelpFile* file, SectionRecord* section, const DirectoryEntry* entry,
                             uint32_t offset, uint32_t length, uint32_t* outLength,
                             uint8_t** outData)
{
    if (PrepareLzxSection(file, section) != 0)
        return -1;
    LzxSection* lzx = section->Lzx;
    if (entry->Offset > lzx->UncompressedLength ||
        entry->Length > lzx->UncompressedLength - entry->Offset)
        return Fail(file, ContainerOutsideSection);
    // Within the entry (checked by the caller), so within the section.
    uint32_t start = entry->Offset + offset;
    if (lzx->IntervalCount) {
        int result = ExtractByIntervals(file, lzx, start, length, outLength, outData);
        if (result != IntervalsUnusable)
            return result;
    }
    if (!section->Data && DecodeWholeSection(file, section) != 0)
        return -1;
    return CopyFromSection(file, section->Data, section->DataLength, start, length, outLength,
                           outData);
}

int ExtractEntryRange(HelpFile* file, const DirectoryEntry* entry, uint32_t offset, uint32_t length,
                      uint32_t* outLength, uint8_t** outData)
{
    *outLength = 0;
    *outData = nullptr;
    file->LastError = ContainerOk;
    if (entry->Wide)
        return Fail(file, ContainerPastLimits);
    if (offset > entry->Length || length > entry->Length - offset)
        return Fail(file, ContainerOutsideSection);
    uint32_t s = entry->Section;
    if (file->Sections && s < (uint32_t)file->Sections->Count &&
        file->Sections->Records[s].Compressed)
        return ExtractCompressed(file, &file->Sections->Records[s], entry, offset, length,
                                 outLength, outData);
    uint64_t position = 0;
    if (StoredPosition(file, entry, &position) != 0)
        return -1;
    uint8_t* data = nullptr;
    if (ReadStoredBytes(file, position + offset, length, &data) != 0)
        return -1;
    *outLength = length;
    *outData = data;
    return 0;
}

int ExtractEntry(HelpFile* file, const DirectoryEntry* entry, uint32_t* outLength,
                 uint8_t** outData)
{
    return ExtractEntryRange(file, entry, 0, entry->Length, outLength, outData);
}

int ReadStoredEntry(HelpFile* file, const DirectoryEntry* entry)
{
    file->LastError = ContainerOk;
    if (entry->Wide)
        return Fail(file, ContainerPastLimits);
    uint64_t position = 0;
    if (StoredPosition(file, entry, &position) != 0)
        return -1;
    if (position > file->FileSize || entry->Length > file->FileSize - position)
        return Fail(file, ContainerOutsideSection);
    const uint32_t size = entry->Length < 65536 ? entry->Length : 65536;
    uint8_t* buffer = (uint8_t*)malloc(size ? size : 1);
    if (!buffer)
        return Fail(file, ContainerNoMemory);
    int result = 0;
    for (uint32_t done = 0; done < entry->Length && result == 0;) {
        uint32_t piece = entry->Length - done < size ? entry->Length - done : size;
        if (ReadHelpFileAt(file, position + done, buffer, piece) != piece)
            result = Fail(file, ContainerOutsideSection);
        done += piece;
    }
    free(buffer);
    return result;
}

int ExtractFile(HelpFile* file, const char* name, uint32_t* outLength, uint8_t** outData)
{
    if (outLength)
        *outLength = 0;
    if (outData)
        *outData = nullptr;
    if (!file || !name || !outLength || !outData)
        return -1;
    const DirectoryEntry* entry = FindDirectoryEntry(name, file->Entries);
    if (!entry)
        return Fail(file, ContainerNoSuchFile);
    return ExtractEntry(file, entry, outLength, outData);
}
