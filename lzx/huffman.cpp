// Canonical Huffman decode tables and the pre-tree coding of code lengths.
#include "lzx/lzx.h"

#include <cstring>

// Codes are canonical: handed out by increasing length and, within a length,
// by increasing symbol, the first code being all zeros. Codes of up to `bits`
// bits fill a run of direct entries; longer ones hang below a direct entry as
// a binary tree of nodes in the overflow part, one bit per level.
int BuildDecodeTable(int symbols, int bits, const uint8_t* lengths, uint16_t* table)
{
    return BuildDecodeTableWithLookup(symbols, bits, lengths, table, nullptr);
}

int BuildDecodeTableWithLookup(int symbols, int bits, const uint8_t* lengths, uint16_t* table,
                               uint16_t* lookup)
{
    // Symbols grouped by code length (lengths above 16 never get a code).
    uint16_t order[LzxMainTreeSymbols];
    int start[18] = {0};
    for (int s = 0; s < symbols; s++) {
        if (lengths[s] >= 1 && lengths[s] <= 16) {
            start[lengths[s] + 1]++;
        }
    }
    for (int l = 1; l <= 17; l++) {
        start[l] += start[l - 1];
    }
    int fill[17];
    memcpy(fill, start, sizeof fill);
    for (int s = 0; s < symbols; s++) {
        int l = lengths[s];
        if (l >= 1 && l <= 16) {
            order[fill[l]++] = (uint16_t)s;
        }
    }

    uint32_t size = 1u << bits;
    uint32_t pos = 0;
    uint32_t step = size >> 1;
    uint32_t nextNode = size >> 1;
    const uint32_t nodeLimit = (size >> 1) + (uint32_t)symbols;  // children of the last stay inside

    for (int l = 1; l <= bits; l++, step >>= 1) {
        for (int i = start[l]; i < start[l + 1]; i++) {
            if (pos + step > size) {
                return 1;
            }
            uint16_t s = order[i];
            for (uint32_t e = pos; e < pos + step; e++) {
                table[e] = s;
            }
            if (lookup != nullptr) {
                uint16_t packed = (uint16_t)(s | (l << 10));
                for (uint32_t e = pos; e < pos + step; e++) {
                    lookup[e] = packed;
                }
            }
            pos += step;
        }
    }
    if (pos == size) {
        return 0;
    }

    for (uint32_t e = pos; e < size; e++) {
        table[e] = 0;
        if (lookup != nullptr) {
            lookup[e] = 0;  // symbol 0, no bits: what an empty tree decodes
        }
    }
    pos <<= 16;
    size <<= 16;
    step = 1u << 15;
    for (int l = bits + 1; l <= 16; l++, step >>= 1) {
        for (int i = start[l]; i < start[l + 1]; i++) {
            if (pos >= size) {
                return 1;  // over-full: no code space left for this one
            }
            uint32_t e = pos >> 16;
            for (int k = 0; k < l - bits; k++) {
                uint32_t entry = table[e];
                if (entry == 0) {
                    if (nextNode >= nodeLimit) {
                        return 1;
                    }
                    entry = nextNode++;
                    table[e] = (uint16_t)entry;
                    if (lookup != nullptr && k == 0) {
                        lookup[e] = LzxLookupLong;
                    }
                    table[2 * entry] = 0;
                    table[2 * entry + 1] = 0;
                } else if (entry < (uint32_t)symbols || entry >= nodeLimit) {
                    return 1;  // the prefix is already a whole code
                }
                e = 2 * entry + ((pos >> (15 - k)) & 1);
            }
            table[e] = order[i];
            pos += step;
            if (pos > size) {
                return 1;
            }
        }
    }
    if (pos == size) {
        return 0;
    }
    for (int s = 0; s < symbols; s++) {
        if (lengths[s] != 0) {
            return 1;
        }
    }
    return 0;  // an empty tree: every lookup yields symbol 0 and takes no bits
}

int ReadCodeLengths(LzxDecoder* d, uint8_t* lengths, uint32_t first, uint32_t last,
                    BitReader* reader)
{
    for (int i = 0; i < LzxPreTreeSymbols; i++) {
        d->PreTreeLengths[i] = (uint8_t)GetBits(reader, 4);
    }
    if (BuildDecodeTable(LzxPreTreeSymbols, LzxPreTreeBits, d->PreTreeLengths, d->PreTreeTable) !=
        0) {
        return LzxIllegalData;
    }
    // Pre-tree symbols 0..16 give a length as a difference (mod 17) from the
    // entry's current value; 17 and 18 are runs of zeros; 19 is a short run
    // of one difference taken from the run's first entry. A run is written
    // whole even when it passes last.
    uint32_t x = first;
    while (x < last) {
        int z = DecodeSymbol(d->PreTreeTable, LzxPreTreeSymbols, LzxPreTreeBits, d->PreTreeLengths,
                             reader);
        if (z < 0) {
            return LzxIllegalData;
        }
        if (z == 17) {
            uint32_t n = GetBits(reader, 4) + 4;
            memset(lengths + x, 0, n);
            x += n;
        } else if (z == 18) {
            uint32_t n = GetBits(reader, 5) + 20;
            memset(lengths + x, 0, n);
            x += n;
        } else if (z == 19) {
            uint32_t n = GetBits(reader, 1) + 4;
            int z2 = DecodeSymbol(d->PreTreeTable, LzxPreTreeSymbols, LzxPreTreeBits,
                                  d->PreTreeLengths, reader);
            if (z2 < 0) {
                return LzxIllegalData;
            }
            int v = lengths[x] - z2;
            if (v < 0) {
                v += 17;
            }
            memset(lengths + x, v, n);
            x += n;
        } else {
            int v = lengths[x] - z;
            if (v < 0) {
                v += 17;
            }
            lengths[x] = (uint8_t)v;
            x++;
        }
    }
    return LzxOk;
}
