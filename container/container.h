// Help-file container reader: opens an ITSF container, reads its directory
// and content sections, and extracts stored files by name into memory.
//
// The reader takes every field it needs from a fixed offset and examines no
// signature or version. It does not trust the sizes it reads, though: every
// read is bounded by the file's size and by the buffers it fills, and a
// damaged container yields a shortened directory, a missing section table or
// an extraction that fails with -1, never a read outside a buffer.
#pragma once

#include <cstdint>
#include <cstdio>

struct DirectoryEntry {
    uint32_t Section;  // content-section number
    uint32_t Offset;   // offset of the file's first byte within its section
    uint32_t Length;   // length of the file in bytes
    char Name[256];    // the name as stored, NUL-terminated
};

// The directory: a count followed by that many entries, in directory order,
// in one allocation (Entries points right behind the record).
struct DirectoryTable {
    int32_t Count;
    DirectoryEntry* Entries;
    int32_t LongNames;  // entries left out: their names are longer than 255 bytes
};

// One content section and the decompressed copy of it, once made.
struct SectionRecord {
    char Name[256];       // the narrowed NameList name, NUL-terminated
    uint32_t BaseOffset;  // offset within section 0 of the section's Content file
    uint16_t Compressed;  // 1 when Name is exactly "MSCompressed"
    uint8_t* Data;        // the whole decompressed section, or null
    uint32_t DataLength;  // bytes in Data
};

// The section table: a count followed by that many records, in NameList
// order, in one allocation (Records points right behind the record).
struct SectionTable {
    int32_t Count;
    SectionRecord* Records;
};

struct HeaderSection {
    uint64_t Offset;
    uint64_t Length;
};

// An open container. OpenHelpFile creates it, CloseHelpFile releases it with
// everything it owns.
struct HelpFile {
    FILE* File;
    uint8_t Header[56];               // container header bytes 0 to 55
    HeaderSection HeaderSections[2];  // entry 1 locates the directory
    SectionTable* Sections;           // null until the NameList is read, or when it is unusable
    uint8_t DirectoryHeader[84];      // copy of the directory header
    DirectoryTable* Entries;          // null only when the table could not be allocated
    uint32_t ContentOffset;           // file offset of content section 0
    uint64_t FileSize;                // bytes in the file when it was opened; bounds every read
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
// How many entries the directory leaves out because their names are longer
// than 255 bytes.
int32_t DirectoryLongNameCount(const HelpFile* file);

// The unsigned 32-bit little-endian value at p, at any alignment.
inline uint32_t ReadLE32(const uint8_t* p)
{
    return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}

// Reads one encoded integer (7 bits a byte, most significant group first, the
// top bit set on every byte but the last) at *cursor and advances *cursor past
// it. Only the low 32 bits of the value are kept. When the integer does not
// end before end, *cursor becomes null and the result is 0.
uint32_t ReadEncodedInt(const uint8_t** cursor, const uint8_t* end);

// The steps of opening, in the order OpenHelpFile runs them.
void ReadContainerHeader(HelpFile* file);
void ReadHeaderSections(HelpFile* file);
void ReadDirectoryHeader(HelpFile* file);
void ReadDirectory(HelpFile* file);  // begins with ReadDirectoryHeader
void ReadNameList(HelpFile* file);   // builds Sections

// The first entry whose Name equals name exactly, or null.
const DirectoryEntry* FindDirectoryEntry(const char* name, const DirectoryTable* table);

// Reads up to count bytes at the given file offset into destination; returns
// the number of bytes read (0 when the offset cannot be reached).
size_t ReadHelpFileAt(HelpFile* file, uint64_t position, void* destination, size_t count);

// Reads count bytes at position into a new buffer (at least one byte is
// allocated, so a stored file of length 0 still gets a buffer). Fails with -1
// and nothing allocated when the bytes do not all lie within the file.
int ReadStoredBytes(HelpFile* file, uint64_t position, uint32_t count, uint8_t** outData);
