// LZX decompressor: decodes an LZX-compressed content section of a help file,
// or one reset interval of it, into memory.
//
// All decoder state is one LzxDecoder record. InitLzx prepares a record for a
// new stream (its window buffer is allocated on first use and only ever
// replaced by a larger one); DecodeLzx then decodes the stream's output, in
// one call or in several consecutive ones; ReleaseLzx frees the window. Each
// worker that decodes at the same time as others owns its own record. The
// module-wide record lzxDecoder serves InitLzxDecoder and DecompressLzx.
//
// The stream is a sequence of 16-bit little-endian words whose bits are taken
// from the most significant end. Literals, match lengths and positions are
// Huffman-coded with canonical codes transmitted as code lengths; those
// lengths are themselves coded through a small pre-tree, as differences from
// the lengths of the previous block.
#pragma once

#include <cstdint>

enum LzxResult : int {
    LzxOk = 0,
    LzxBadFormat = 1,    // window bits outside 15..21; a run that would pass the window's end
    LzxIllegalData = 2,  // malformed stream
    LzxNoMemory = 3,     // the window buffer cannot be allocated
};

// Symbol counts and direct-lookup bits of the four trees.
enum : int {
    LzxPreTreeSymbols = 20,
    LzxPreTreeBits = 6,
    LzxMainTreeSymbols = 656,
    LzxMainTreeBits = 12,
    LzxLengthTreeSymbols = 250,
    LzxLengthTreeBits = 12,
    LzxAlignedTreeSymbols = 8,
    LzxAlignedTreeBits = 7,
    // Every length array carries this many spare entries after its symbols:
    // a run of the length coding may write up to 50 entries past its range.
    LzxLengthSpare = 64,
    LzxPositionSlots = 51,  // slots 0..50 in the position tables
    LzxFrameSize = 32768,   // the bit stream realigns at every multiple of it
};

// The state of one decoder.
struct LzxDecoder {
    uint8_t* Window;          // sliding dictionary; kept for the life of the module
    uint32_t WindowSize;      // 2^bits of the last successful set-up
    uint32_t WindowCapacity;  // size of the allocated Window
    int WindowLent;           // Window is the caller's (InitLzxWithWindow), not freed here
    uint32_t WindowPosition;  // next write offset; WindowSize means exactly full
    uint32_t R0;              // repeated-offset queue, most recent first
    uint32_t R1;
    uint32_t R2;
    uint16_t MainElements;        // main-tree symbols transmitted: 256 + 8 x slots
    int HeaderRead;               // the stream header has been read
    uint16_t BlockType;           // 0 none, 1 verbatim, 2 aligned offset, 3 uncompressed
    uint32_t BlockLength;         // uncompressed length of the current block
    int32_t BlockRemaining;       // bytes of the current block still to decode
    uint32_t DecodeCalls;         // completed decode calls since set-up
    uint32_t InputUsed;           // input bytes the last successful call took
    int32_t TranslationSize;      // E8 translation size; 0: not translated
    int32_t TranslationPosition;  // output offset of the next call's first byte
    int TranslationSeen;          // a block that may hold translated operands was seen
    uint16_t PreTreeTable[(1 << LzxPreTreeBits) + 2 * LzxPreTreeSymbols];
    uint8_t PreTreeLengths[LzxPreTreeSymbols + LzxLengthSpare];
    uint16_t MainTreeTable[(1 << LzxMainTreeBits) + 2 * LzxMainTreeSymbols];
    uint8_t MainTreeLengths[LzxMainTreeSymbols + LzxLengthSpare];
    uint16_t LengthTreeTable[(1 << LzxLengthTreeBits) + 2 * LzxLengthTreeSymbols];
    uint8_t LengthTreeLengths[LzxLengthTreeSymbols + LzxLengthSpare];
    uint16_t AlignedTreeTable[(1 << LzxAlignedTreeBits) + 2 * LzxAlignedTreeSymbols];
    uint8_t AlignedTreeLengths[LzxAlignedTreeSymbols + LzxLengthSpare];
    // Packed lookups of the main, length and aligned trees: the block
    // decoder's fast path, built together with their decode tables.
    uint16_t MainTreeLookup[1 << LzxMainTreeBits];
    uint16_t LengthTreeLookup[1 << LzxLengthTreeBits];
    uint16_t AlignedTreeLookup[1 << LzxAlignedTreeBits];
};

extern LzxDecoder lzxDecoder;

// Position-slot tables: extra offset bits and base of each slot. Slots 0..3
// carry no extra bits; from slot 4 on, each pair of slots carries one bit
// more than the pair before, up to 17; a slot's base is the sum of the ranges
// of the slots before it. Constant, so decoders on several threads share them.
struct LzxPositionTables {
    uint8_t Extra[LzxPositionSlots];
    uint32_t Base[LzxPositionSlots];
};

constexpr LzxPositionTables MakeLzxPositionTables()
{
    LzxPositionTables t {};
    uint32_t base = 0;
    for (int slot = 0; slot < LzxPositionSlots; slot++) {
        int extra = slot < 4 ? 0 : slot / 2 - 1 > 17 ? 17 : slot / 2 - 1;
        t.Extra[slot] = (uint8_t)extra;
        t.Base[slot] = base;
        base += 1u << extra;
    }
    return t;
}

inline constexpr LzxPositionTables LzxPositions = MakeLzxPositionTables();
inline constexpr const uint8_t* ExtraBits = LzxPositions.Extra;
inline constexpr const uint32_t* PositionBase = LzxPositions.Base;

// Bit-level read position over the compressed input. The next bit of the
// stream is the most significant bit of BitBuffer; bits below the valid ones
// are zero. Cursor may run past End: bytes at or beyond End read as zero, and
// the position keeps advancing so that the caller can tell how far it ran.
struct BitReader {
    uint32_t BitBuffer;
    int BitCount;           // valid bits in BitBuffer, 0 to 32
    const uint8_t* Cursor;  // next input byte not yet taken into the buffer
    const uint8_t* End;     // first byte past the caller's input
};

inline void InitBitReader(BitReader* reader, const uint8_t* input, const uint8_t* end)
{
    reader->BitBuffer = 0;
    reader->BitCount = 0;
    reader->Cursor = input;
    reader->End = end;
}

// The 16-bit word at p, or the part of it before end (zeros beyond).
inline uint32_t ReadInputWord(const uint8_t* p, const uint8_t* end)
{
    if (p < end && end - p >= 2) {
        return (uint32_t)p[0] | ((uint32_t)p[1] << 8);
    }
    if (p < end) {
        return p[0];
    }
    return 0;
}

inline void RequireBits(BitReader* reader, int n)
{
    while (reader->BitCount < n) {
        uint32_t word = ReadInputWord(reader->Cursor, reader->End);
        reader->BitBuffer |= word << (16 - reader->BitCount);
        reader->BitCount += 16;
        reader->Cursor += 2;
    }
}

inline uint32_t TopBits(const BitReader* reader, int n)
{
    return reader->BitBuffer >> (32 - n);
}

inline void DropBits(BitReader* reader, int n)
{
    // A shift by 32 (possible only when all 32 bits are dropped) empties it.
    reader->BitBuffer = n >= 32 ? 0 : reader->BitBuffer << n;
    reader->BitCount -= n;
}

inline uint32_t GetBits(BitReader* reader, int n)
{
    RequireBits(reader, n);
    uint32_t value = TopBits(reader, n);
    DropBits(reader, n);
    return value;
}

// Fills table (2^bits direct entries, then 2 x symbols overflow entries) from
// lengths[0..symbols-1]. Returns 0 for a usable table, 1 for lengths that
// over-fill or leave incomplete the code space; nothing outside the table is
// ever written.
int BuildDecodeTable(int symbols, int bits, const uint8_t* lengths, uint16_t* table);

// The same, also filling lookup (2^bits entries) with each direct entry's
// symbol and code length packed as symbol | length << 10, or LzxLookupLong
// where the code continues below the direct part.
enum : uint16_t {
    LzxLookupLong = 0xFFFF
};
int BuildDecodeTableWithLookup(int symbols, int bits, const uint8_t* lengths, uint16_t* table,
                               uint16_t* lookup);

// Decodes one symbol of a tree; returns it (below symbols), or -1 when the
// walk runs off the bottom of the table (LzxIllegalData for the caller).
inline int DecodeSymbol(const uint16_t* table, int symbols, int bits, const uint8_t* lengths,
                        BitReader* reader)
{
    RequireBits(reader, 16);
    uint32_t v = table[TopBits(reader, bits)];
    if (v >= (uint32_t)symbols) {
        uint32_t m = 1u << (32 - bits);
        uint32_t entries = (1u << bits) + 2u * (uint32_t)symbols;
        do {
            m >>= 1;
            v = 2 * v + ((reader->BitBuffer & m) != 0 ? 1 : 0);
            if (m == 0 || v >= entries) {
                return -1;
            }
            v = table[v];
        } while (v >= (uint32_t)symbols);
    }
    DropBits(reader, lengths[v]);
    return (int)v;
}

// Reads the pre-tree and then the code lengths of symbols first..last-1 into
// lengths, as differences from their current values. LzxOk or LzxIllegalData.
// The pre-tree lives in the decoder record d.
int ReadCodeLengths(LzxDecoder* d, uint8_t* lengths, uint32_t first, uint32_t last,
                    BitReader* reader);

// Prepares decoder d for a new stream with a window of 2^bits bytes, bits 15
// to 21.
int InitLzx(LzxDecoder* d, int bits);

// Decodes outputLength bytes of the stream into output, reading at most
// inputLength bytes of input. LzxOk means that exactly outputLength bytes were
// written and every bit they took was in the input: words the reader fetched
// past the end (as zeros) may have been buffered, but none of their bits was
// used. InputUsed then says how many input bytes they took, up to the next
// word boundary (and past the pad byte of an uncompressed block of odd length
// when the input holds it); InputUsed <= inputLength. An input that ends
// before a bit the output needs gives LzxIllegalData.
int DecodeLzx(LzxDecoder* d, const uint8_t* input, uint8_t* output, int32_t inputLength,
              int32_t outputLength);

// Prepares d like InitLzx, with the caller's window (2^bits bytes) instead of
// its own. A stream of at most one window then decodes in place: its output is
// window itself, and DecodeLzx copies nothing when output is window.
int InitLzxWithWindow(LzxDecoder* d, int bits, uint8_t* window);

// Frees d's window; d can be set up again afterwards.
void ReleaseLzx(LzxDecoder* d);

// InitLzx and DecodeLzx on the module-wide record.
int InitLzxDecoder(int bits);
int DecompressLzx(const uint8_t* input, uint8_t* output, int32_t inputLength, int32_t outputLength);
