// The LZX block decoder: stream and block headers, literal and match runs
// into the window, uncompressed blocks, and E8 call translation.
#include "lzx/lzx.h"

#include <cstring>

namespace {

#if defined(__GNUC__)
#define LZX_LIKELY(x)   __builtin_expect(!!(x), 1)
#define LZX_UNLIKELY(x) __builtin_expect(!!(x), 0)
#else
#define LZX_LIKELY(x)   (x)
#define LZX_UNLIKELY(x) (x)
#endif

// Four input words as one 64-bit value, the first word in the top 16 bits.
inline uint64_t LoadFourWords(const uint8_t* p)
{
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    uint64_t v;
    memcpy(&v, p, 8);
    v = (v >> 32) | (v << 32);
    return ((v & 0xFFFF0000FFFF0000ull) >> 16) | ((v & 0x0000FFFF0000FFFFull) << 16);
#else
    uint64_t v = 0;
    for (int i = 0; i < 4; i++) {
        v = (v << 16) | (uint64_t)p[2 * i] | ((uint64_t)p[2 * i + 1] << 8);
    }
    return v;
#endif
}

// A compressed run reads its bits through a 64-bit buffer (the next bit the
// most significant) kept in locals. It is always filled with whole input
// words, so its count mod 16 is the part of the current word not yet
// consumed, as in the 32-bit BitReader; bits below the valid ones are either
// zero or the input bits that follow them. At the run's end the whole words
// read ahead are handed back: the BitReader then holds fewer than 16 bits.
// A word-at-a-time reader may hold one word more at that point, but the next
// thing read is a block header, whose own requests decide how many words are
// fetched, so every later check and padding decision comes out the same.

// Tops the buffer up to more than 48 valid bits. Near and past the input's
// end it goes a word at a time, reading zeros beyond the end while the
// cursor still advances.
inline void Refill(uint64_t& buf, int& cnt, const uint8_t*& cur, const uint8_t* end)
{
    if (LZX_LIKELY(end - cur >= 8)) {
        buf |= LoadFourWords(cur) >> cnt;
        int words = (64 - cnt) >> 4;
        cur += 2 * words;
        cnt += 16 * words;
    } else {
        while (cnt <= 48) {
            buf |= (uint64_t)ReadInputWord(cur, end) << (48 - cnt);
            cnt += 16;
            cur += 2;
        }
    }
}

// Table lookup and, for codes longer than the direct bits, the walk down the
// overflow nodes. The caller has at least 16 valid bits buffered.
inline int DecodeFast(const uint16_t* lookup, const uint16_t* table, uint32_t symbols, int bits,
                      uint32_t entries, const uint8_t* lengths, uint64_t& buf, int& cnt)
{
    uint32_t packed = lookup[buf >> (64 - bits)];
    if (LZX_LIKELY(packed != LzxLookupLong)) {
        int n = (int)(packed >> 10);
        buf <<= n;
        cnt -= n;
        return (int)(packed & 1023);
    }
    uint32_t v = table[buf >> (64 - bits)];
    {
        uint64_t m = 1ull << (63 - bits);
        int level = 0;
        do {
            v = 2 * v + ((buf & m) != 0 ? 1 : 0);
            m >>= 1;
            if (++level > 32 - bits || v >= entries) {
                return -1;
            }
            v = table[v];
        } while (v >= symbols);
    }
    int n = lengths[v];
    buf <<= n;
    cnt -= n;
    return (int)v;
}

// Copies a match of length bytes from offset bytes back into the window at
// position, byte by byte in effect (an offset below the length repeats the
// last offset bytes). The caller has checked that offset is 1..size and that
// the destination stays inside the window.
inline void CopyMatch(uint8_t* window, uint32_t size, uint32_t position, uint32_t offset,
                      uint32_t length)
{
    uint8_t* dst = window + position;
    if (LZX_LIKELY(offset <= position)) {
        const uint8_t* src = dst - offset;
        if (offset >= 8) {
            // Every chunk reads bytes that lie before the bytes it writes.
            if (length >= 8) {
                uint32_t i = 0;
                do {
                    memcpy(dst + i, src + i, 8);
                    i += 8;
                } while (i + 8 < length);
                memcpy(dst + length - 8, src + length - 8, 8);
            } else if (length >= 4) {
                memcpy(dst, src, 4);
                memcpy(dst + length - 4, src + length - 4, 4);
            } else {
                memcpy(dst, src, 2);
                memcpy(dst + length - 2, src + length - 2, 2);
            }
        } else if (offset == 1) {
            memset(dst, src[0], length);
        } else {
            for (uint32_t i = 0; i < length; i++) {
                dst[i] = src[i];
            }
        }
        return;
    }
    // The source starts before the window's start: take the bytes from the
    // window's end first, then go on from its start.
    uint32_t from = position + size - offset;
    uint32_t i = 0;
    while (i < length && from < size) {
        dst[i++] = window[from++];
    }
    const uint8_t* src = window;
    for (uint32_t j = 0; i < length; i++, j++) {
        dst[i] = src[j];
    }
}

// Decodes one run of a verbatim (aligned = false) or aligned-offset block
// into the window. The run covers window positions start..start+run; a match
// may pass the run's end only when the bytes owed cut the run short (cut) and
// the match stays inside the block (blockEnd, a window position that may lie
// beyond the window); it then ends at the window's end at the latest.
template <bool aligned>
int DecodeCompressedRun(LzxDecoder* d, BitReader* reader, uint32_t& position, uint32_t& r0,
                        uint32_t& r1, uint32_t& r2, uint32_t run, bool cut, uint64_t blockEnd)
{
    uint8_t* window = d->Window;
    const uint32_t size = d->WindowSize;
    const uint16_t* mainLookup = d->MainTreeLookup;
    const uint16_t* lengthLookup = d->LengthTreeLookup;
    const uint16_t* alignedLookup = d->AlignedTreeLookup;
    const uint16_t* mainTable = d->MainTreeTable;
    const uint8_t* mainLengths = d->MainTreeLengths;
    const uint16_t* lengthTable = d->LengthTreeTable;
    const uint8_t* lengthLengths = d->LengthTreeLengths;
    const uint16_t* alignedTable = d->AlignedTreeTable;
    const uint8_t* alignedLengths = d->AlignedTreeLengths;
    const uint32_t mainEntries = (1u << LzxMainTreeBits) + 2 * LzxMainTreeSymbols;
    const uint32_t lengthEntries = (1u << LzxLengthTreeBits) + 2 * LzxLengthTreeSymbols;
    const uint32_t alignedEntries = (1u << LzxAlignedTreeBits) + 2 * LzxAlignedTreeSymbols;

    uint64_t buf = (uint64_t)reader->BitBuffer << 32;
    int cnt = reader->BitCount;
    const uint8_t* cur = reader->Cursor;
    const uint8_t* end = reader->End;
    uint32_t pos = position;
    uint32_t rep0 = r0, rep1 = r1, rep2 = r2;
    const uint32_t runEnd = pos + run;
    int result = LzxOk;
    // The loop stops at the run's end and at the next multiple of 32768, the
    // frame end where a literal or match that ends exactly there realigns the
    // bit stream to a word.
    uint32_t frameEnd = (pos & ~(uint32_t)(LzxFrameSize - 1)) + LzxFrameSize;
    uint32_t stop = runEnd < frameEnd ? runEnd : frameEnd;

    for (;;) {
        if (LZX_UNLIKELY(pos >= stop)) {
            if (pos == frameEnd) {
                int n = cnt & 15;
                buf <<= n;
                cnt -= n;
            }
            if (pos >= runEnd) {
                break;
            }
            frameEnd = (pos & ~(uint32_t)(LzxFrameSize - 1)) + LzxFrameSize;
            stop = runEnd < frameEnd ? runEnd : frameEnd;
        }
        if (cnt < 32) {
            Refill(buf, cnt, cur, end);
        }
        int sym = DecodeFast(mainLookup, mainTable, LzxMainTreeSymbols, LzxMainTreeBits,
                             mainEntries, mainLengths, buf, cnt);
        if (LZX_UNLIKELY(sym < 0)) {
            result = LzxIllegalData;
            break;
        }
        if (sym < 256) {
            window[pos++] = (uint8_t)sym;
            continue;
        }

        uint32_t m = (uint32_t)sym - 256;
        uint32_t length = m & 7;
        uint32_t slot = m >> 3;
        if (length == 7) {
            if (cnt < 16) {
                Refill(buf, cnt, cur, end);
            }
            int extra = DecodeFast(lengthLookup, lengthTable, LzxLengthTreeSymbols,
                                   LzxLengthTreeBits, lengthEntries, lengthLengths, buf, cnt);
            if (LZX_UNLIKELY(extra < 0)) {
                result = LzxIllegalData;
                break;
            }
            length += (uint32_t)extra;
        }
        length += 2;

        uint32_t offset;
        if (slot == 0) {
            offset = rep0;
        } else if (slot == 1) {
            offset = rep1;
            rep1 = rep0;
            rep0 = offset;
        } else if (slot == 2) {
            offset = rep2;
            rep2 = rep0;
            rep0 = offset;
        } else {
            int e = ExtraBits[slot];
            offset = PositionBase[slot] - 2;
            if (e == 0) {
                offset = 1;
            } else if (!aligned || e < 3) {
                if (cnt < 17) {
                    Refill(buf, cnt, cur, end);
                }
                offset += (uint32_t)(buf >> (64 - e));
                buf <<= e;
                cnt -= e;
            } else {
                if (e > 3) {
                    if (cnt < 17) {
                        Refill(buf, cnt, cur, end);
                    }
                    int n = e - 3;
                    offset += 8 * (uint32_t)(buf >> (64 - n));
                    buf <<= n;
                    cnt -= n;
                }
                if (cnt < 16) {
                    Refill(buf, cnt, cur, end);
                }
                int low = DecodeFast(alignedLookup, alignedTable, LzxAlignedTreeSymbols,
                                     LzxAlignedTreeBits, alignedEntries, alignedLengths, buf, cnt);
                if (LZX_UNLIKELY(low < 0)) {
                    result = LzxIllegalData;
                    break;
                }
                offset += (uint32_t)low;
            }
            rep2 = rep1;
            rep1 = rep0;
            rep0 = offset;
        }

        // A match never reaches further back than the window, and never runs
        // past its run, except the one that the bytes owed cut short.
        if (LZX_UNLIKELY(offset > size)) {
            result = LzxIllegalData;
            break;
        }
        bool last = false;
        if (LZX_UNLIKELY(pos + length > runEnd)) {
            if (!cut || pos + (uint64_t)length > blockEnd) {
                result = LzxIllegalData;
                break;
            }
            if (pos + length > size) {
                length = size - pos;
            }
            last = true;
        }
        CopyMatch(window, size, pos, offset, length);
        pos += length;
        if (LZX_UNLIKELY(last)) {
            if ((pos & (LzxFrameSize - 1)) == 0) {
                int n = cnt & 15;
                buf <<= n;
                cnt -= n;
            }
            break;
        }
    }

    // Hand back the whole words read ahead.
    int words = cnt >> 4;
    cur -= 2 * words;
    cnt -= 16 * words;
    reader->BitBuffer = cnt == 0 ? 0 : (uint32_t)(buf >> 32) & ~(0xFFFFFFFFu >> cnt);
    reader->BitCount = cnt;
    reader->Cursor = cur;
    position = pos;
    r0 = rep0;
    r1 = rep1;
    r2 = rep2;
    return result;
}

// A 32-bit little-endian value at p, zeros for bytes at or past end.
uint32_t ReadInputLE32(const uint8_t* p, const uint8_t* end)
{
    uint32_t value = 0;
    for (int i = 0; i < 4; i++) {
        if (p + i < end) {
            value |= (uint32_t)p[i] << (8 * i);
        }
    }
    return value;
}

uint32_t ReadLE32Bytes(const uint8_t* p)
{
    return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}

// Input bytes up to the end of the last word the reader took a bit from, or
// of the last byte an uncompressed block took as it is. A whole word still
// buffered (read ahead, nothing of it taken) is not counted.
int64_t TakenBytes(const BitReader* reader, const uint8_t* input)
{
    return (int64_t)(reader->Cursor - input) - 2 * (reader->BitCount >> 4);
}

// Call translation: the compressor replaced the 32-bit relative operand after
// each 0xE8 byte by an absolute one; undo it over the whole output.
void TranslateE8(LzxDecoder* d, uint8_t* output, int32_t outputLength)
{
    uint32_t calls = d->DecodeCalls;
    d->DecodeCalls = calls + 1;
    if (calls >= 32768 || d->TranslationSize == 0) {
        return;
    }
    uint32_t first = (uint32_t)d->TranslationPosition;
    d->TranslationPosition = (int32_t)(first + (uint32_t)outputLength);
    if (outputLength <= 6 || d->TranslationSeen == 0) {
        return;
    }
    const int64_t size = d->TranslationSize;
    const int32_t limit = outputLength - 10;
    int32_t i = 0;
    while (i < limit) {
        const void* hit = memchr(output + i, 0xE8, (size_t)(limit - i));
        if (hit == nullptr) {
            break;
        }
        i = (int32_t)((const uint8_t*)hit - output);
        int64_t pos = (int32_t)(first + (uint32_t)i);
        uint8_t* operand = output + i + 1;
        int64_t a = (int32_t)ReadLE32Bytes(operand);
        if (a >= -pos && a < size) {
            uint32_t value = (uint32_t)(a >= 0 ? a - pos : a + size);
            operand[0] = (uint8_t)value;
            operand[1] = (uint8_t)(value >> 8);
            operand[2] = (uint8_t)(value >> 16);
            operand[3] = (uint8_t)(value >> 24);
        }
        i += 5;
    }
}

}  // namespace

int DecompressLzx(const uint8_t* input, uint8_t* output, int32_t inputLength, int32_t outputLength)
{
    return DecodeLzx(&lzxDecoder, input, output, inputLength, outputLength);
}

int DecodeLzx(LzxDecoder* d, const uint8_t* input, uint8_t* output, int32_t inputLength,
              int32_t outputLength)
{
    static const uint8_t noInput[1] = {0};
    if (input == nullptr) {
        // No input at all: the reader still needs a position to count from.
        input = noInput;
        inputLength = inputLength > 0 ? 0 : inputLength;
    }
    BitReader reader;
    InitBitReader(&reader, input, input + (inputLength > 0 ? inputLength : 0));
    uint8_t* out = output;
    int32_t owed = outputLength;
    uint32_t position = d->WindowPosition;
    uint32_t r0 = d->R0, r1 = d->R1, r2 = d->R2;
    const uint32_t size = d->WindowSize;

    if (owed > 0 && d->Window == nullptr) {
        return LzxIllegalData;  // no successful set-up
    }

    while (owed > 0) {
        if (d->BlockRemaining == 0) {
            // After an uncompressed block of odd length comes a pad byte; the
            // next header starts from a fresh word.
            if (d->BlockType == 3) {
                if ((d->BlockLength & 1) != 0) {
                    reader.Cursor++;
                }
                reader.BitBuffer = 0;
                reader.BitCount = 0;
            }
            // A block that begins with the window exactly full restarts the
            // stream: new header, trees from zero lengths, offsets 1.
            if (position == size) {
                d->HeaderRead = 0;
                memset(d->MainTreeLengths, 0, LzxMainTreeSymbols);
                memset(d->LengthTreeLengths, 0, LzxLengthTreeSymbols);
                r0 = r1 = r2 = 1;
            }
            if (d->HeaderRead == 0) {
                if (GetBits(&reader, 1) != 0) {
                    uint32_t high = GetBits(&reader, 16);
                    uint32_t low = GetBits(&reader, 16);
                    d->TranslationSize = (int32_t)((high << 16) | low);
                } else {
                    d->TranslationSize = 0;
                }
                d->HeaderRead = 1;
            }
            uint32_t type = GetBits(&reader, 3);
            uint32_t high = GetBits(&reader, 16);
            uint32_t low = GetBits(&reader, 8);
            d->BlockType = (uint16_t)type;
            d->BlockLength = high * 256 + low;
            d->BlockRemaining = (int32_t)d->BlockLength;

            if (type == 1 || type == 2) {
                if (type == 2) {
                    for (int i = 0; i < LzxAlignedTreeSymbols; i++) {
                        d->AlignedTreeLengths[i] = (uint8_t)GetBits(&reader, 3);
                    }
                    if (BuildDecodeTableWithLookup(LzxAlignedTreeSymbols, LzxAlignedTreeBits,
                                                   d->AlignedTreeLengths, d->AlignedTreeTable,
                                                   d->AlignedTreeLookup) != 0) {
                        return LzxIllegalData;
                    }
                }
                if (ReadCodeLengths(d, d->MainTreeLengths, 0, 256, &reader) != LzxOk ||
                    ReadCodeLengths(d, d->MainTreeLengths, 256, d->MainElements, &reader) !=
                        LzxOk ||
                    BuildDecodeTableWithLookup(LzxMainTreeSymbols, LzxMainTreeBits,
                                               d->MainTreeLengths, d->MainTreeTable,
                                               d->MainTreeLookup) != 0) {
                    return LzxIllegalData;
                }
                if (d->MainTreeLengths[0xE8] != 0) {
                    d->TranslationSeen = 1;
                }
                if (ReadCodeLengths(d, d->LengthTreeLengths, 0, 249, &reader) != LzxOk ||
                    BuildDecodeTableWithLookup(LzxLengthTreeSymbols, LzxLengthTreeBits,
                                               d->LengthTreeLengths, d->LengthTreeTable,
                                               d->LengthTreeLookup) != 0) {
                    return LzxIllegalData;
                }
            } else if (type == 3) {
                d->TranslationSeen = 1;
                // The padding is the rest of the current word, or a whole word
                // when none of it is left.
                RequireBits(&reader, 16);
                if (reader.BitCount > 16) {
                    reader.Cursor -= 2;
                }
                reader.BitBuffer = 0;
                reader.BitCount = 0;
                r0 = ReadInputLE32(reader.Cursor, reader.End);
                r1 = ReadInputLE32(reader.Cursor + 4, reader.End);
                r2 = ReadInputLE32(reader.Cursor + 8, reader.End);
                reader.Cursor += 12;
            } else {
                return LzxIllegalData;
            }
        }

        // Bits past the input's end read as zeros; taking one of them (or a
        // byte of an uncompressed block's header) means the input is cut.
        if (TakenBytes(&reader, input) > inputLength) {
            return LzxIllegalData;
        }

        if (d->BlockRemaining > 0) {
            uint32_t blockLeft = (uint32_t)d->BlockRemaining;
            uint32_t run = blockLeft < (uint32_t)owed ? blockLeft : (uint32_t)owed;
            owed -= (int32_t)run;
            d->BlockRemaining -= (int32_t)run;
            position &= size - 1;
            const uint32_t start = position;
            if ((uint64_t)start + run > size) {
                return LzxBadFormat;
            }
            if (d->BlockType == 3) {
                if ((int64_t)(reader.Cursor - input) + run > inputLength) {
                    return LzxIllegalData;
                }
                memcpy(d->Window + position, reader.Cursor, run);
                reader.Cursor += run;
                position += run;
            } else if (d->BlockType == 1 || d->BlockType == 2) {
                uint64_t blockEnd = (uint64_t)start + blockLeft;
                int result = d->BlockType == 2
                    ? DecodeCompressedRun<true>(d, &reader, position, r0, r1, r2, run,
                                                run < blockLeft, blockEnd)
                    : DecodeCompressedRun<false>(d, &reader, position, r0, r1, r2, run,
                                                 run < blockLeft, blockEnd);
                if (result != LzxOk) {
                    return result;
                }
                if (TakenBytes(&reader, input) > inputLength) {
                    return LzxIllegalData;
                }
            } else {
                return LzxIllegalData;
            }
            // A match that the bytes owed cut short may have run on in the
            // window; only the owed bytes go out (they are there already when
            // the output is the window itself).
            if (out != d->Window + start) {
                memcpy(out, d->Window + start, run);
            }
            out += run;
        }
    }
    if (owed != 0) {
        return LzxIllegalData;
    }

    // Bits still buffered belong to a word already counted, except a whole
    // word read ahead. The pad byte after an uncompressed block of odd length
    // counts when the input holds it (it carries nothing).
    int64_t used = TakenBytes(&reader, input);
    if (d->BlockType == 3 && d->BlockRemaining == 0 && (d->BlockLength & 1) != 0 &&
        used < inputLength) {
        used++;
    }
    d->InputUsed = (uint32_t)(used < 0 ? 0 : used);
    d->WindowPosition = position;
    d->R0 = r0;
    d->R1 = r1;
    d->R2 = r2;
    TranslateE8(d, output, outputLength);
    return LzxOk;
}
