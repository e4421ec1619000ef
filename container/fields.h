// Where the container reader finds each field it reads: every offset is named
// here once. Offsets are in bytes from the start of the structure named in
// the prefix; values are little-endian.
#pragma once

#include <cstdint>

enum : uint32_t {
    // The container header (ITSF) at the start of the file.
    ItsfKeptLength = 56,          // bytes kept in HelpFile::Header
    ItsfHeaderSectionTable = 56,  // two (offset, length) pairs of 64-bit values
    ItsfHeaderSectionEntry = 16,
    ItsfContentOffset = 88,  // 32 bits: file offset of content section 0
    ItsfFieldsEnd = 92,      // the file must hold the header this far

    // Header section 0, located by the first pair of the header section table.
    HeaderSection0FileLength = 8,  // 64 bits: the length of the whole file as written

    // The directory header (ITSP) at header section 1's offset.
    ItspLength = 84,
    ItspChunkSize = 16,
    ItspChunkCount = 44,

    // A listing chunk (PMGL).
    ChunkHeaderLength = 20,
    ChunkFreeLength = 4,  // length of the free and quick-reference area at the chunk's end
    ChunkNext = 16,       // next chunk number, 0xFFFFFFFF for none

    // ::DataSpace/NameList.
    NameListCount = 2,    // 16 bits
    NameListRecords = 4,  // the first record: 16-bit name length, then UTF-16 units

    // A compressed section's ControlData.
    ControlDataMinimumLength = 20,
    ControlDataSignature = 4,    // "LZXC"
    ControlDataWindowSize = 16,  // in units of 32768 bytes

    // A compressed section's ResetTable.
    ResetTableMinimumLength = 28,
    ResetTableEntryCount = 4,
    ResetTableEntrySize = 8,
    ResetTableHeaderLength = 12,        // where the entries begin
    ResetTableUncompressedLength = 16,  // 64 bits
    ResetTableCompressedLength = 24,    // 64 bits (its high half beyond the minimum length)
    ResetTableBlockLength = 32,         // 64 bits: output bytes between entries
    ResetTableFirstEntry = 40,          // the least header length with every field
};
