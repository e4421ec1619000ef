// Extracting one stored file by name.
//
// A file of an uncompressed section is read from the content offset + the
// section's base offset + the file's offset. The section named
// "MSCompressed" is one LZX stream, stored as the section's Content file and
// described by two more files: ControlData ("LZXC" at offset 4, the window
// size in units of 32768 bytes at offset 16) and ResetTable (the section's
// uncompressed length at offset 16, its compressed length at offset 24). The
// first extraction from it decodes the whole section in one call and keeps it
// in the section record; later extractions copy out of that.
//
// Those three files must lie in an uncompressed section: one that names the
// compressed section itself fails the extraction. Every size read from them
// is checked before it is used: a ControlData shorter than 20 bytes, a
// ResetTable shorter than 28, a Content file shorter than the compressed
// length, lengths that do not fit the decoder's signed 32-bit counts, an
// uncompressed length that no LZX stream of the compressed length can reach,
// and a file that does not lie within the decompressed section all fail with
// -1 before the section buffer is allocated.
#include "container/container.h"

#include "lzx/lzx.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

static const char TransformIdentifier[] = "{7FC28940-9D31-11D0-9B27-00A0C91E9C7C}";

// An LZX symbol takes at least one bit and yields at most 257 bytes, and the
// reader may run one 16-bit word past its input; no valid stream of n bytes
// decodes to more than this.
static uint64_t LongestLzxOutput(uint32_t compressedLength)
{
    return ((uint64_t)compressedLength + 2) * 8 * 257;
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

// A copy of length bytes at offset of a section of sectionLength bytes.
static int CopyFromSection(const uint8_t* section, uint32_t sectionLength, uint32_t offset,
                           uint32_t length, uint32_t* outLength, uint8_t** outData)
{
    if (offset > sectionLength || length > sectionLength - offset)
        return -1;
    uint8_t* copy = (uint8_t*)malloc(length ? length : 1);
    if (!copy)
        return -1;
    if (length)
        memcpy(copy, section + offset, length);
    *outLength = length;
    *outData = copy;
    return 0;
}

static int ExtractEntry(HelpFile* file, const char* name, bool allowCompressed, uint32_t* outLength,
                        uint8_t** outData);

// Extracts one of the files that describe a compressed section; they must lie
// in an uncompressed section and be at least minimumLength bytes long.
static uint8_t* ExtractSectionFile(HelpFile* file, const char* name, uint32_t minimumLength,
                                   uint32_t* length)
{
    uint8_t* data = nullptr;
    if (ExtractEntry(file, name, false, length, &data) != 0)
        return nullptr;
    if (*length < minimumLength) {
        free(data);
        *length = 0;
        return nullptr;
    }
    return data;
}

static int DecompressSection(HelpFile* file, SectionRecord* section, const DirectoryEntry* entry,
                             uint32_t* outLength, uint8_t** outData)
{
    char name[400];
    uint32_t length = 0;

    snprintf(name, sizeof name, "::DataSpace/Storage/%s/ControlData", section->Name);
    uint8_t* controlData = ExtractSectionFile(file, name, 20, &length);
    if (!controlData)
        return -1;
    if (memcmp(controlData + 4, "LZXC", 4) != 0) {
        free(controlData);
        return -1;
    }
    uint32_t windowCode = ReadLE32(controlData + 16);
    free(controlData);
    int windowBits = WindowBitsForCode(windowCode);
    if (!windowBits)
        return -1;

    snprintf(name, sizeof name, "::DataSpace/Storage/%s/Transform/%s/InstanceData/ResetTable",
             section->Name, TransformIdentifier);
    uint8_t* resetTable = ExtractSectionFile(file, name, 28, &length);
    if (!resetTable)
        return -1;
    uint32_t uncompressedLength = ReadLE32(resetTable + 16);
    uint32_t compressedLength = ReadLE32(resetTable + 24);
    free(resetTable);
    if (uncompressedLength > (uint32_t)INT32_MAX || compressedLength > (uint32_t)INT32_MAX ||
        uncompressedLength > LongestLzxOutput(compressedLength))
        return -1;
    if (entry->Offset > uncompressedLength || entry->Length > uncompressedLength - entry->Offset)
        return -1;

    snprintf(name, sizeof name, "::DataSpace/Storage/%s/Content", section->Name);
    uint8_t* content = ExtractSectionFile(file, name, compressedLength, &length);
    if (!content)
        return -1;

    uint8_t* buffer = (uint8_t*)malloc(uncompressedLength ? uncompressedLength : 1);
    if (!buffer) {
        free(content);
        return -1;
    }
    if (InitLzxDecoder(windowBits) != 0) {
        free(content);
        free(buffer);
        return -1;
    }
    int result =
        DecompressLzx(content, buffer, (int32_t)compressedLength, (int32_t)uncompressedLength);
    free(content);
    if (result != 0) {
        free(buffer);
        return -1;
    }
    section->Data = buffer;
    section->DataLength = uncompressedLength;
    return CopyFromSection(buffer, uncompressedLength, entry->Offset, entry->Length, outLength,
                           outData);
}

static int ExtractEntry(HelpFile* file, const char* name, bool allowCompressed, uint32_t* outLength,
                        uint8_t** outData)
{
    const DirectoryEntry* entry = FindDirectoryEntry(name, file->Entries);
    if (!entry)
        return -1;
    uint32_t s = entry->Section;
    uint64_t position = (uint64_t)file->ContentOffset + entry->Offset;
    if (file->Sections) {
        if (s >= (uint32_t)file->Sections->Count)
            return -1;
        SectionRecord* section = &file->Sections->Records[s];
        if (section->Compressed) {
            if (!allowCompressed)
                return -1;
            if (section->Data)
                return CopyFromSection(section->Data, section->DataLength, entry->Offset,
                                       entry->Length, outLength, outData);
            return DecompressSection(file, section, entry, outLength, outData);
        }
        position += section->BaseOffset;
    } else if (s != 0) {
        // Without a section table only section 0 is known to be stored as is.
        return -1;
    }
    uint8_t* data = nullptr;
    if (ReadStoredBytes(file, position, entry->Length, &data) != 0)
        return -1;
    *outLength = entry->Length;
    *outData = data;
    return 0;
}

int ExtractFile(HelpFile* file, const char* name, uint32_t* outLength, uint8_t** outData)
{
    if (outLength)
        *outLength = 0;
    if (outData)
        *outData = nullptr;
    if (!file || !name || !outLength || !outData)
        return -1;
    return ExtractEntry(file, name, true, outLength, outData);
}
