// Decoder state, position-slot tables and stream set-up.
#include "lzx/lzx.h"

#include <cstdlib>
#include <cstring>

LzxDecoder lzxDecoder;

int InitLzxDecoder(int bits)
{
    return InitLzx(&lzxDecoder, bits);
}

void ReleaseLzx(LzxDecoder* d)
{
    if (!d->WindowLent) {
        free(d->Window);
    }
    d->WindowLent = 0;
    d->Window = nullptr;
    d->WindowCapacity = 0;
    d->WindowSize = 0;
}

// Everything but the window: a new stream with a window of 2^bits bytes.
static int StartStream(LzxDecoder* d, int bits)
{
    d->WindowSize = 1u << bits;

    int slots = bits == 20 ? 42 : bits == 21 ? 50 : 2 * bits;
    d->MainElements = (uint16_t)(256 + 8 * slots);

    d->R0 = 1;
    d->R1 = 1;
    d->R2 = 1;
    d->HeaderRead = 0;
    d->DecodeCalls = 0;
    d->InputUsed = 0;
    d->BlockRemaining = 0;
    d->BlockType = 0;
    d->TranslationPosition = 0;
    d->TranslationSeen = 0;
    d->WindowPosition = 0;

    // The first block of every stream codes its trees as differences from
    // zero lengths.
    memset(d->MainTreeLengths, 0, LzxMainTreeSymbols);
    memset(d->LengthTreeLengths, 0, LzxLengthTreeSymbols);
    return LzxOk;
}

int InitLzxWithWindow(LzxDecoder* d, int bits, uint8_t* window)
{
    if (bits < 15 || bits > 21 || window == nullptr) {
        return LzxBadFormat;
    }
    ReleaseLzx(d);
    d->Window = window;
    d->WindowCapacity = 1u << bits;
    d->WindowLent = 1;
    return StartStream(d, bits);
}

int InitLzx(LzxDecoder* d, int bits)
{
    if (bits < 15 || bits > 21) {
        return LzxBadFormat;
    }
    if (d->WindowLent) {
        ReleaseLzx(d);  // the caller's window was for one stream only
    }
    uint32_t size = 1u << bits;
    if (size > d->WindowCapacity && d->Window != nullptr) {
        free(d->Window);
        d->Window = nullptr;
    }
    if (d->Window == nullptr) {
        uint8_t* window = (uint8_t*)malloc(size);
        if (window == nullptr) {
            return LzxNoMemory;
        }
        d->Window = window;
        d->WindowCapacity = size;
    }
    return StartStream(d, bits);
}
