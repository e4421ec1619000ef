// Test-side LZX encoder: makes the compressed streams that the tests and the
// test-side container writer need (uncompressed, verbatim and aligned-offset
// blocks, repeated offsets, matches across the window's end, several windows
// with a restart at each window-full block boundary, E8 translation on or off,
// every window size from 2^15 to 2^21). Never part of the module.
//
// The stream it writes is the one the module's decoder reads in a single call:
// blocks never cross the window's end (unless asked to), the stream restarts
// (new header bit, trees coded from zero lengths, repeated offsets 1) at every
// block that begins with the window exactly full, and the bit stream is padded
// to a 16-bit word whenever a literal or match ends on a non-zero multiple of
// 32768 window bytes.
#pragma once

#include <cstdint>
#include <vector>

struct LzxEncodeOptions {
    // Block types, used in turn and repeated: 1 verbatim, 2 aligned offset,
    // 3 uncompressed. Any other value is written as that block type with an
    // empty body (for hostile streams).
    std::vector<int> blockTypes = {1};
    // Uncompressed block lengths, used in turn and repeated (0 is allowed and
    // makes an empty block). A block is also cut at the window's end when
    // alignBlocksToWindow is set.
    std::vector<uint32_t> blockSizes = {32768};
    // Apply the forward E8 call translation and set the header bit.
    bool e8 = false;
    int32_t translationSize = 12000000;
    // Cut blocks at every window-full boundary (what the decoder needs). When
    // false, blocks run across the window's end as their sizes say.
    bool alignBlocksToWindow = true;
    // Look for matches (greedy, hash chains). When false, literals only.
    bool matches = true;
    // Try the repeated-offset slots 0..2 before a new offset.
    bool repeatedOffsets = true;
    // Longest match offset used (0: the window's largest, WindowSize - 3).
    uint32_t maxOffset = 0;
    // Declared length of the last block, when non-zero: it may exceed the data
    // (as real help files do); the block is coded for the data only.
    uint32_t lastBlockDeclaredLength = 0;
    // When set, receives the compressed offset of every 32768-byte frame of
    // output (where the stream is realigned at the frame's start; a frame that
    // a match runs into gets the offset after that match).
    std::vector<uint64_t>* frameStarts = nullptr;
};

// Compresses data for a window of 2^windowBits bytes (15 to 21).
std::vector<uint8_t> LzxCompress(const std::vector<uint8_t>& data, int windowBits,
                                 const LzxEncodeOptions& options = {});

// The forward E8 translation that LzxCompress applies when options.e8 is set,
// over the whole data as one unit (positions counted from 0).
void LzxE8Encode(std::vector<uint8_t>& data, int32_t translationSize);
