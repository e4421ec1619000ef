// Help-file container reader: opens an ITSF container, reads its directory
// and content sections, and extracts stored files by name into memory.
//
// The reader takes every field it needs from a fixed offset (container/fields.h)
// and examines no signature or version. It does not trust the sizes it reads,
// though: every read is bounded by the file's size and by the buffers it
// fills, and a damaged container yields a shortened directory, a missing
// section table or an extraction that fails with -1 and a reason, never a
// read outside a buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "container/bytes.h"
#include "container/fields.h"

struct LzxDecoder;

struct DirectoryEntry {
    uint32_t Section;  // content-section number
    uint32_t Offset;   // offset of the file's first byte within its section
    uint32_t Length;   // length of the file in bytes
    char Name[256];    // the name as stored, NUL-terminated
    // 1 when the section, offset or length stored did not fit in 32 bits: the
    // fields above keep the low bits, for listing, and extraction fails.
    uint8_t Wide;
};

// Why an extraction failed.
enum ContainerError : int {
    ContainerOk = 0,
    ContainerNoSuchFile = 1,      // no stored file has that name
    ContainerPastLimits = 2,      // a length or offset does not fit the reader's 32-bit sizes
    ContainerOutsideSection = 3,  // the file does not lie within its section or the help file
    ContainerBadSection = 4,      // its section is unknown, or what describes it is unusable
    ContainerDamagedData = 5,     // its compressed data does not decode
    ContainerNoMemory = 6,
};

// One line of text for an error, without a final period.
const char* ContainerErrorText(int error);

// The directory: a count followed by that many entries, in directory order,
// in one allocation (Entries points right behind the record).
struct DirectoryTable {
    int32_t Count;
    DirectoryEntry* Entries;
    int32_t LongNames;  // entries left out: their names are longer than 255 bytes
};

// One decoded reset interval kept for later extractions.
struct IntervalCacheSlot {
    uint32_t Interval;  // its number
    uint32_t Used;      // the cache's clock when it last served; 0: the slot is empty
    uint8_t* Data;      // WindowSize bytes (fewer used by the last interval)
};

enum : int {
    IntervalCacheSlots = 4
};

// A compressed section as its ControlData and ResetTable describe it.
//
// The LZX stream restarts (new header, trees from zero lengths, repeated
// offsets 1) at every window-full boundary of its output, so each window of
// output, a reset interval, decodes on its own from where the ResetTable says
// it begins. The ResetTable lists the compressed offset of every BlockLength
// bytes of output; an interval starts at every WindowSize / BlockLength-th
// entry. Intervals are used when the table can be trusted (sizes as the
// format has them, entries for every interval, rising, within the stream) and
// the stream does not translate E8 calls, whose translation runs over the
// whole output; otherwise IntervalCount is 0 and the whole section is decoded
// at once into the section record's Data. An interval that decodes but does
// not end exactly where the next one begins, or whose header asks for E8
// translation, turns the section over to the whole-section decoding.
struct LzxSection {
    int WindowBits;
    uint32_t WindowSize;
    uint32_t UncompressedLength;
    uint32_t CompressedLength;
    uint64_t ContentPosition;  // file offset of the Content file's first byte
    uint32_t IntervalCount;    // 0: decoded as one whole
    uint32_t* IntervalStarts;  // IntervalCount + 1 compressed offsets; the last is CompressedLength
    uint8_t* IntervalFailed;   // per interval: 1 once it failed to decode
    LzxDecoder* Decoder;       // for this section's extractions
    uint32_t Clock;
    IntervalCacheSlot Cache[IntervalCacheSlots];
};

// One content section and the decompressed copy of it, once made.
struct SectionRecord {
    char Name[256];       // the narrowed NameList name, NUL-terminated
    uint32_t BaseOffset;  // offset within section 0 of the section's Content file
    uint16_t Compressed;  // 1 when Name is exactly "MSCompressed"
    uint8_t* Data;        // the whole decompressed section, or null
    uint32_t DataLength;  // bytes in Data
    LzxSection* Lzx;      // a compressed section's description, once read
    int Failure;          // once the whole section failed: the error every extraction repeats
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
    uint8_t Header[ItsfKeptLength];   // container header bytes 0 to 55
    HeaderSection HeaderSections[2];  // entry 1 locates the directory
    SectionTable* Sections;           // null until the NameList is read, or when it is unusable
    uint8_t DirectoryHeader[84];      // copy of the directory header
    DirectoryTable* Entries;          // null only when the table could not be allocated
    uint32_t ContentOffset;           // file offset of content section 0
    uint64_t FileSize;                // bytes in the file when it was opened; bounds every read
    int LastError;                    // why the last extraction failed, ContainerOk after success
};

// Opens the container at path. Returns null only when the file cannot be
// opened; a damaged container opens with a shortened directory or none.
HelpFile* OpenHelpFile(const char* path);

// Extracts the stored file called name (exact bytes). Returns 0 with a new
// buffer of *outLength bytes in *outData, which the caller frees with free(),
// or -1 with *outLength 0 and *outData null; file->LastError says why.
int ExtractFile(HelpFile* file, const char* name, uint32_t* outLength, uint8_t** outData);

// The same for one directory entry of file.
int ExtractEntry(HelpFile* file, const DirectoryEntry* entry, uint32_t* outLength,
                 uint8_t** outData);

// The same for length bytes at offset within the entry's file: only the reset
// intervals that hold them are decoded. Fails with ContainerOutsideSection
// when they do not all lie within the file.
int ExtractEntryRange(HelpFile* file, const DirectoryEntry* entry, uint32_t offset, uint32_t length,
                      uint32_t* outLength, uint8_t** outData);

// Reads a file of an uncompressed section as ExtractEntry does, with the same
// checks and results, but through a small buffer, keeping none of its bytes.
int ReadStoredEntry(HelpFile* file, const DirectoryEntry* entry);

// The most output any LZX stream of compressedLength bytes decodes to with a
// window of 2^windowBits bytes: every window needs a block of its own, and the
// cheapest block that fills a window (a verbatim block whose trees are empty,
// so that each of its symbols takes no bits) takes 268 bits of header, 34
// bytes once the stream realigns to a word at the window's end. A last window
// of fewer bytes can be cheaper: an uncompressed block of n bytes takes 16 + n
// (its header word pair and the three repeated offsets), so the bytes left
// over after the whole windows give up to 16 fewer bytes of output.
uint64_t LongestLzxOutput(uint32_t compressedLength, int windowBits);

// Closes the file and releases everything the container owns.
void CloseHelpFile(HelpFile* file);

// The directory in directory order, for listing.
int32_t DirectoryCount(const HelpFile* file);
const DirectoryEntry* DirectoryAt(const HelpFile* file, int32_t index);
// How many entries the directory leaves out because their names are longer
// than 255 bytes.
int32_t DirectoryLongNameCount(const HelpFile* file);

// Reads one encoded integer (7 bits a byte, most significant group first, the
// top bit set on every byte but the last) at *cursor and advances *cursor past
// it. Only the low 32 bits of the value are kept; *wide (when not null) is set
// to 1 when the value did not fit in them. When the integer does not end
// before end, *cursor becomes null and the result is 0.
uint32_t ReadEncodedInt(const uint8_t** cursor, const uint8_t* end, uint8_t* wide = nullptr);

// The steps of opening, in the order OpenHelpFile runs them.
void ReadContainerHeader(HelpFile* file);
void ReadHeaderSections(HelpFile* file);
void ReadDirectoryHeader(HelpFile* file);
void ReadDirectory(HelpFile* file);  // after ReadDirectoryHeader
void ReadNameList(HelpFile* file);   // builds Sections

// Opens the file and runs the steps up to ReadDirectoryHeader only: no
// directory and no section table. Null when the file cannot be opened.
HelpFile* OpenHelpFileHeaders(const char* path);

// Releases a compressed section's description with its decoder and cache.
void FreeLzxSection(LzxSection* lzx);

// The first entry whose Name equals name exactly, or null.
const DirectoryEntry* FindDirectoryEntry(const char* name, const DirectoryTable* table);

// Reads up to count bytes at the given file offset into destination; returns
// the number of bytes read (0 when the offset cannot be reached).
size_t ReadHelpFileAt(HelpFile* file, uint64_t position, void* destination, size_t count);

// Reads count bytes at position into a new buffer (at least one byte is
// allocated, so a stored file of length 0 still gets a buffer). Fails with -1,
// the reason in file->LastError and nothing allocated when the bytes do not
// all lie within the file or the buffer cannot be allocated.
int ReadStoredBytes(HelpFile* file, uint64_t position, uint32_t count, uint8_t** outData);

// ---------------------------------------------------------------------------
// A file that ends before what its header and directory describe
// (container/cut.cpp).

enum ContainerCutPart : int {
    CutNone = 0,
    CutHeader = 1,      // the header's fields themselves
    CutDirectory = 2,   // the directory header or its listing chunks
    CutStoredFile = 3,  // a file stored as is (a compressed section's Content among them)
};

// The first part of the file, in file order, that does not lie whole within
// it.
struct ContainerCut {
    int Part;           // ContainerCutPart
    int Shortened;      // 1: the file is shorter than its header records (or the
                        // record itself is missing): cut short rather than damaged
    uint64_t Offset;    // where the part begins in the file
    uint64_t End;       // where it would end
    uint64_t FileSize;  // where the file ends
    char Name[256];     // CutStoredFile: the stored name, or the compressed section's name
    int Section;        // CutStoredFile: 1 when Name is a compressed section's
};

// From the headers alone (a few small reads): the header or the directory.
// Returns -1 with errno set when the file cannot be opened.
int FindHeaderCut(const char* path, ContainerCut* cut);

// For an open container: the header, the directory, then the files stored as
// is. A stored file past the end counts only in a file shorter than its
// header records; otherwise it is that file's damage, and its extraction says so.
void FindContainerCut(HelpFile* file, ContainerCut* cut);

// One line for a cut (nothing for CutNone), for example "cut short: the
// directory at offset 120 lies past the end, at 100 bytes".
void DescribeContainerCut(const ContainerCut* cut, char* out, size_t size);

// The file position of a file of an uncompressed section (content offset,
// the section's base offset and the file's offset); false when its section
// is compressed or unknown.
bool StoredFilePosition(const HelpFile* file, const DirectoryEntry* entry, uint64_t* position);

// ---------------------------------------------------------------------------
// Compressed sections (container/extract.cpp, container/intervals.cpp).

// Reads the compressed section's description once; afterwards fails at once
// with the reason it failed before, if it did.
int PrepareLzxSection(HelpFile* file, SectionRecord* section);

// Decodes the whole section into section->Data, or fails with the reason
// (remembered in section->Failure when the data is at fault).
int DecodeWholeSection(HelpFile* file, SectionRecord* section);

// The section's own decoder record, allocated on first use; null when it
// cannot be.
LzxDecoder* SectionDecoder(LzxSection* lzx);

// Sets lzx->IntervalCount and the interval starts from the ResetTable bytes
// when the intervals can be used; leaves the count 0 otherwise.
void PlanIntervals(HelpFile* file, LzxSection* lzx, const uint8_t* table, uint32_t tableLength);

// Forgets the intervals (and the cached ones): the section is decoded whole
// from now on.
void DropIntervals(LzxSection* lzx);

// Output bytes of interval k (the window size, less for the last one).
uint32_t IntervalLength(const LzxSection* lzx, uint32_t k);

// Results of decoding an interval.
enum IntervalResult : int {
    IntervalDecoded = 0,
    IntervalDamaged = 1,    // the interval's data does not decode
    IntervalUntrusted = 2,  // it decodes but the section must be decoded whole
    IntervalNoMemory = 3,
};

// Decodes interval k from its compressed bytes (input, as ReadIntervalInput
// reads it: as long as the interval's starts say, and up to 64 bytes of the
// section after them) into out (WindowSize bytes, of which IntervalLength
// are the interval's; the decoder works in it as its window) with decoder d. Uses
// nothing but its arguments, so workers may decode intervals of one section at
// once, each with its own decoder.
int DecodeInterval(const LzxSection* lzx, uint32_t k, LzxDecoder* d, const uint8_t* input,
                   uint8_t* out);

// Reads interval k's compressed bytes, and those after them that
// DecodeInterval takes, into a new buffer, or returns null with
// the reason in file->LastError.
uint8_t* ReadIntervalInput(HelpFile* file, const LzxSection* lzx, uint32_t k);

// Interval k failed to decode: whether the ResetTable's start for it is to
// blame rather than the data. The interval before it is decoded (with d, in
// window, WindowSize bytes): when it does not end where the table says k
// begins, the result is IntervalUntrusted; otherwise, or when it cannot tell,
// IntervalDamaged (IntervalNoMemory when memory ran out).
int BlameFailedInterval(HelpFile* file, const LzxSection* lzx, uint32_t k, LzxDecoder* d,
                        uint8_t* window);

// Extracts length bytes at offset of the section through its intervals and
// the interval cache. Returns 0 or -1 (reason in file->LastError), or
// IntervalsUnusable when the section must be decoded whole instead.
enum : int {
    IntervalsUnusable = 1
};
int ExtractByIntervals(HelpFile* file, LzxSection* lzx, uint32_t offset, uint32_t length,
                       uint32_t* outLength, uint8_t** outData);

// ---------------------------------------------------------------------------
// Every stored file in one pass (container/stream.cpp).

// Receives one stored file: its directory index and entry, and either its
// bytes (error ContainerOk; data valid only during the call) or the reason
// it cannot be extracted (data null, length 0). Returns 0 to go on, anything
// else to stop the pass.
typedef int (*StoredFileHandler)(void* context, int32_t index, const DirectoryEntry* entry,
                                 int error, const uint8_t* data, uint32_t length);

// One job of a batch: decodes one interval with worker's decoder record.
typedef void (*IntervalJob)(void* jobContext, int job, int worker);

struct StreamOptions {
    // Decoder records, one for each worker that may decode at the same time.
    int Workers;
    // Starts job(jobContext, j, worker) for j = 0 .. count - 1 and may return
    // before they have run; jobs that run at the same time have different
    // worker numbers, each below Workers. A batch may be started while the
    // one before still runs; WaitJobs returns when every job of the oldest
    // batch not yet waited for has run. Null StartJobs: one after another, as
    // worker 0, on the calling thread.
    void (*StartJobs)(void* runContext, int count, IntervalJob job, void* jobContext);
    void (*WaitJobs)(void* runContext);
    void* RunContext;
    // Per directory index, 0 for an entry the caller does not want; null: all.
    const uint8_t* Wanted;
    // Nonzero when the caller wants every file's result but not its bytes:
    // data is then null for every file, and files are neither copied nor
    // gathered (a file stored as is is read through a small buffer).
    int Discard;
};

// Hands every wanted stored file to handler: first the files stored as they
// are, in directory order, then each compressed section's files in the order
// of their offsets, each as soon as the intervals that hold it are decoded.
// Intervals are decoded in batches of a few per worker, so memory holds a few
// windows per worker and the files not yet complete, however large the
// section. Sections decoded whole (see LzxSection) are decoded at once first.
// Returns 0 when every wanted file was handed out (with its bytes or its
// error), 1 when the handler stopped the pass, -1 when the pass itself could
// not go on (file->LastError says why).
int StreamStoredFiles(HelpFile* file, const StreamOptions* options, StoredFileHandler handler,
                      void* context);
