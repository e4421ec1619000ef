// Reset intervals of a compressed section: where each begins, decoding one on
// its own, and the small cache of decoded intervals that serves the files
// lying close together (a help request's topic index files and its page).
//
// The ResetTable is trusted only when its entry size is 8, its header is whole,
// its block length divides the window size, it has an entry for the start of
// every interval, and those entries rise from 0 and stay below the compressed
// length. The stream must also not translate E8 calls: the whole-section
// decoding translates with the last stream header's setting, which is read at
// the start of the last interval, so a set bit there keeps the section whole.
// Any other interval whose header sets it, or that decodes without ending
// exactly where the next interval begins, turns the section over to the
// whole-section decoding when it is met: its output could differ from what
// the whole stream decodes to. So does an interval that fails to decode when
// the one before it ends elsewhere than where the table says it begins: the
// table, not the data, is wrong there (an entry moved by a few bytes).
#include "container/container.h"

#include "lzx/lzx.h"

#include <cstdlib>
#include <cstring>

uint32_t IntervalLength(const LzxSection* lzx, uint32_t k)
{
    uint64_t start = (uint64_t)k << lzx->WindowBits;
    uint64_t left = lzx->UncompressedLength - start;
    return left < lzx->WindowSize ? (uint32_t)left : lzx->WindowSize;
}

void PlanIntervals(HelpFile* file, LzxSection* lzx, const uint8_t* table, uint32_t tableLength)
{
    const uint32_t size = lzx->WindowSize;
    const uint32_t compressed = lzx->CompressedLength;
    if (lzx->UncompressedLength == 0 || tableLength < ResetTableFirstEntry ||
        ReadLE32(table + ResetTableEntrySize) != 8)
        return;
    uint32_t headerLength = ReadLE32(table + ResetTableHeaderLength);
    uint64_t blockLength = ReadLE64(table + ResetTableBlockLength);
    if (headerLength < ResetTableFirstEntry || headerLength > tableLength || blockLength == 0 ||
        blockLength > size || size % blockLength != 0)
        return;
    uint64_t step = size / blockLength;
    uint64_t count = ((uint64_t)lzx->UncompressedLength + size - 1) >> lzx->WindowBits;
    uint64_t lastEntry = (count - 1) * step;
    if (lastEntry >= ReadLE32(table + ResetTableEntryCount) ||
        (tableLength - headerLength) / 8 <= lastEntry)
        return;
    uint32_t* starts = (uint32_t*)malloc((size_t)(count + 1) * sizeof(uint32_t));
    uint8_t* failed = (uint8_t*)calloc((size_t)count, 1);
    bool usable = starts && failed;
    for (uint64_t k = 0; usable && k < count; k++) {
        uint64_t start = ReadLE64(table + headerLength + 8 * k * step);
        usable = k == 0 ? start == 0 : start > starts[k - 1] && start < compressed;
        if (usable)
            starts[k] = (uint32_t)start;
    }
    if (usable) {
        starts[count] = compressed;
        // The first bit of the last interval's header: E8 translation.
        uint8_t word[2] = {0, 0};
        ReadHelpFileAt(file, lzx->ContentPosition + starts[count - 1], word,
                       compressed - starts[count - 1] >= 2 ? 2 : 1);
        usable = (word[1] & 0x80) == 0;
    }
    if (!usable) {
        free(starts);
        free(failed);
        return;
    }
    lzx->IntervalCount = (uint32_t)count;
    lzx->IntervalStarts = starts;
    lzx->IntervalFailed = failed;
}

void DropIntervals(LzxSection* lzx)
{
    free(lzx->IntervalStarts);
    free(lzx->IntervalFailed);
    lzx->IntervalStarts = nullptr;
    lzx->IntervalFailed = nullptr;
    lzx->IntervalCount = 0;
    for (IntervalCacheSlot& slot : lzx->Cache) {
        free(slot.Data);
        slot = IntervalCacheSlot {};
    }
}

void FreeLzxSection(LzxSection* lzx)
{
    if (!lzx)
        return;
    DropIntervals(lzx);
    if (lzx->Decoder) {
        ReleaseLzx(lzx->Decoder);
        free(lzx->Decoder);
    }
    free(lzx);
}

// Bytes of the section read past an interval's end, where there are any: an
// interval whose end the table puts a little early then still decodes from
// the section's own bytes, and shows the table wrong by ending past it.
enum : uint32_t {
    IntervalOverrun = 64
};

// The length of interval k's input: its own bytes and the overrun.
static uint32_t IntervalInputLength(const LzxSection* lzx, uint32_t k)
{
    uint32_t end = lzx->IntervalStarts[k + 1];
    uint32_t rest = lzx->CompressedLength - end;
    return end - lzx->IntervalStarts[k] + (rest < IntervalOverrun ? rest : IntervalOverrun);
}

int DecodeInterval(const LzxSection* lzx, uint32_t k, LzxDecoder* d, const uint8_t* input,
                   uint8_t* out)
{
    uint32_t ownLength = lzx->IntervalStarts[k + 1] - lzx->IntervalStarts[k];
    // The interval is one window from its start: it decodes in place in out.
    if (InitLzxWithWindow(d, lzx->WindowBits, out) != LzxOk)
        return IntervalNoMemory;
    if (DecodeLzx(d, input, out, (int32_t)IntervalInputLength(lzx, k),
                  (int32_t)IntervalLength(lzx, k)) != LzxOk)
        return IntervalDamaged;
    // The last interval has no overrun: it ends within its own bytes.
    if (d->TranslationSize != 0 || (k + 1 < lzx->IntervalCount && d->InputUsed != ownLength))
        return IntervalUntrusted;
    return IntervalDecoded;
}

uint8_t* ReadIntervalInput(HelpFile* file, const LzxSection* lzx, uint32_t k)
{
    uint8_t* input = nullptr;
    if (ReadStoredBytes(file, lzx->ContentPosition + lzx->IntervalStarts[k],
                        IntervalInputLength(lzx, k), &input) != 0)
        return nullptr;
    return input;
}

int BlameFailedInterval(HelpFile* file, const LzxSection* lzx, uint32_t k, LzxDecoder* d,
                        uint8_t* window)
{
    if (k == 0 || lzx->IntervalFailed[k - 1])
        return IntervalDamaged;
    uint8_t* input = ReadIntervalInput(file, lzx, k - 1);
    if (!input)
        return file->LastError == ContainerNoMemory ? IntervalNoMemory : IntervalDamaged;
    int before = DecodeInterval(lzx, k - 1, d, input, window);
    free(input);
    return before == IntervalUntrusted || before == IntervalNoMemory ? before : IntervalDamaged;
}

// Interval k's output from the cache, decoding it into the slot least
// recently used when it is not there. Returns null with the result.
static const uint8_t* CachedInterval(HelpFile* file, LzxSection* lzx, uint32_t k, int* result)
{
    IntervalCacheSlot* victim = &lzx->Cache[0];
    for (IntervalCacheSlot& slot : lzx->Cache) {
        if (slot.Used && slot.Interval == k) {
            slot.Used = ++lzx->Clock;
            return slot.Data;
        }
        if (slot.Used < victim->Used)
            victim = &slot;
    }
    *result = IntervalNoMemory;
    if (!victim->Data)
        victim->Data = (uint8_t*)malloc(lzx->WindowSize);
    LzxDecoder* decoder = SectionDecoder(lzx);
    if (!victim->Data || !decoder)
        return nullptr;
    victim->Used = 0;
    uint8_t* input = ReadIntervalInput(file, lzx, k);
    if (!input) {
        *result = file->LastError == ContainerNoMemory ? IntervalNoMemory : IntervalDamaged;
        return nullptr;
    }
    *result = DecodeInterval(lzx, k, decoder, input, victim->Data);
    free(input);
    if (*result == IntervalDamaged)
        *result = BlameFailedInterval(file, lzx, k, decoder, victim->Data);
    if (*result != IntervalDecoded)
        return nullptr;
    victim->Interval = k;
    victim->Used = ++lzx->Clock;
    return victim->Data;
}

int ExtractByIntervals(HelpFile* file, LzxSection* lzx, uint32_t offset, uint32_t length,
                       uint32_t* outLength, uint8_t** outData)
{
    uint8_t* out = (uint8_t*)malloc(length ? length : 1);
    if (!out) {
        file->LastError = ContainerNoMemory;
        return -1;
    }
    const uint32_t bits = (uint32_t)lzx->WindowBits;
    uint64_t position = offset;
    const uint64_t end = (uint64_t)offset + length;
    while (position < end) {
        uint32_t k = (uint32_t)(position >> bits);
        int result = lzx->IntervalFailed[k] ? IntervalDamaged : IntervalDecoded;
        const uint8_t* data =
            result == IntervalDecoded ? CachedInterval(file, lzx, k, &result) : nullptr;
        if (!data) {
            free(out);
            if (result == IntervalUntrusted) {
                DropIntervals(lzx);
                return IntervalsUnusable;
            }
            if (result == IntervalDamaged)
                lzx->IntervalFailed[k] = 1;
            file->LastError = result == IntervalDamaged ? ContainerDamagedData : ContainerNoMemory;
            return -1;
        }
        uint64_t intervalStart = (uint64_t)k << bits;
        uint64_t intervalEnd = intervalStart + IntervalLength(lzx, k);
        uint64_t stop = end < intervalEnd ? end : intervalEnd;
        memcpy(out + (position - offset), data + (position - intervalStart),
               (size_t)(stop - position));
        position = stop;
    }
    *outLength = length;
    *outData = out;
    return 0;
}
