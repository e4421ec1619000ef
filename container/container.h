// Help-file container reader: opens an ITSF container, reads its directory
// and content sections, and extracts stored files by name into memory.
#pragma once

#include <cstdint>
#include <cstdio>

struct HelpFile;

struct DirectoryEntry {
    uint32_t Section;  // content-section number
    uint32_t Offset;   // offset of the file's first byte within its section
    uint32_t Length;   // length of the file in bytes
    char Name[256];    // the name as stored, NUL-terminated
};

// Opens the container at path. Returns null only when the file cannot be
// opened; a damaged container opens with a shortened directory or none.
HelpFile* OpenHelpFile(const char* path);

// Extracts the stored file called name (exact bytes). Returns 0 with a new
// buffer of *outLength bytes in *outData, which the caller frees with free(),
// or -1 with *outLength 0 and *outData null.
int ExtractFile(HelpFile* file, const char* name, uint32_t* outLength, uint8_t** outData);

// Closes the file and releases everything the container owns.
void CloseHelpFile(HelpFile* file);

// The directory in directory order, for listing.
int32_t DirectoryCount(const HelpFile* file);
const DirectoryEntry* DirectoryAt(const HelpFile* file, int32_t index);

// The unsigned 32-bit little-endian value at p, at any alignment.
inline uint32_t ReadLE32(const uint8_t* p)
{
    return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}
