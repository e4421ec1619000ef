// LZX decompressor: decodes one whole LZX-compressed content section of a
// help file into memory.
//
// All decoder state is one module-wide LzxDecoder. InitLzxDecoder prepares it
// for a new stream (its window buffer is allocated on first use and only ever
// replaced by a larger one); DecompressLzx then decodes the stream's output,
// in one call or in several consecutive ones.
#pragma once

#include <cstdint>

enum LzxResult : int {
    LzxOk = 0,
    LzxBadFormat = 1,    // window bits outside 15..21; a run that would pass the window's end
    LzxIllegalData = 2,  // malformed stream
    LzxNoMemory = 3,     // the window buffer cannot be allocated
};

// Prepares the module-wide decoder for a new stream with a window of 2^bits
// bytes, bits 15 to 21.
int InitLzxDecoder(int bits);

// Decodes outputLength bytes of the stream into output, reading at most
// inputLength bytes of input. LzxOk means that exactly outputLength bytes were
// written.
int DecompressLzx(const uint8_t* input, uint8_t* output, int32_t inputLength, int32_t outputLength);
