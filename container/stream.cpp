// Every stored file in one pass: the files of a compressed section in the
// order of their offsets, decoded a batch of reset intervals at a time.
//
// Each file of a compressed section gets its own buffer when the first
// interval that holds part of it is reached, takes its part of every interval
// decoded, and is handed out (and its buffer freed) after its last one. An
// interval that holds no part of a wanted file is not decoded. An interval
// that fails to decode fails the files it holds, unless the ResetTable is to
// blame for it (BlameFailedInterval); one that turns the section over to the
// whole-section decoding hands the remaining files out of that.
#include "container/container.h"

#include "lzx/lzx.h"

#include <cstdlib>
#include <cstring>

namespace {

enum : int {
    Go = 0,
    Stopped = 1,
    Broken = -1,
};

struct Pending {
    const DirectoryEntry* Entry;
    int32_t Index;
    uint8_t* Buffer;  // allocated when its first interval is reached
    bool Done;
};

int CompareOffsets(const void* a, const void* b)
{
    const Pending* x = (const Pending*)a;
    const Pending* y = (const Pending*)b;
    if (x->Entry->Offset != y->Entry->Offset)
        return x->Entry->Offset < y->Entry->Offset ? -1 : 1;
    return x->Index < y->Index ? -1 : x->Index > y->Index ? 1 : 0;
}

struct Batch {
    const LzxSection* Lzx;
    LzxDecoder** Decoders;
    uint32_t* Intervals;
    uint8_t** Inputs;
    uint8_t** Outputs;
    int* Results;
    int Jobs;  // intervals in the batch
};

void DecodeJob(void* context, int job, int worker)
{
    Batch* b = (Batch*)context;
    if (b->Inputs[job])
        b->Results[job] = DecodeInterval(b->Lzx, b->Intervals[job], b->Decoders[worker],
                                         b->Inputs[job], b->Outputs[job]);
}

struct Pass {
    HelpFile* File;
    const StreamOptions* Options;
    StoredFileHandler Handler;
    void* Context;
    LzxDecoder** Decoders;  // Options->Workers records, set up on first use
    bool Inline;            // this section's few intervals are decoded on this thread
};

// A section that needs no more output decoded than this is decoded on the
// calling thread: starting workers would cost more than they save.
constexpr uint64_t InlineOutput = 512 * 1024;

int HandOut(Pass* pass, Pending* p, int error, const uint8_t* data)
{
    static const uint8_t none[1] = {0};
    p->Done = true;
    if (pass->Options->Discard)
        data = nullptr;
    else if (error == ContainerOk && !data)
        data = none;  // a file of length 0
    int stop = pass->Handler(pass->Context, p->Index, p->Entry, error,
                             error == ContainerOk ? data : nullptr,
                             error == ContainerOk ? p->Entry->Length : 0);
    free(p->Buffer);
    p->Buffer = nullptr;
    return stop ? Stopped : Go;
}

// Hands out every file not yet done from the whole decoded section.
int HandOutWhole(Pass* pass, SectionRecord* section, Pending* files, uint32_t count)
{
    int error = section->Data || DecodeWholeSection(pass->File, section) == 0
        ? ContainerOk
        : pass->File->LastError;
    for (uint32_t i = 0; i < count; i++) {
        if (files[i].Done)
            continue;
        const uint8_t* data =
            error == ContainerOk ? section->Data + files[i].Entry->Offset : nullptr;
        if (HandOut(pass, &files[i], error, data) != Go)
            return Stopped;
    }
    return Go;
}

// Which intervals hold part of a file: a count of files over each interval.
// *total is set to the number of intervals needed.
uint8_t* NeededIntervals(const LzxSection* lzx, const Pending* files, uint32_t count,
                         uint32_t* total)
{
    *total = 0;
    uint32_t n = lzx->IntervalCount;
    int64_t* depth = (int64_t*)calloc((size_t)n + 1, sizeof(int64_t));
    uint8_t* needed = (uint8_t*)malloc(n);
    if (!depth || !needed) {
        free(depth);
        free(needed);
        return nullptr;
    }
    for (uint32_t i = 0; i < count; i++) {
        const DirectoryEntry* e = files[i].Entry;
        if (e->Length == 0)
            continue;
        depth[e->Offset >> lzx->WindowBits]++;
        depth[(uint32_t)(((uint64_t)e->Offset + e->Length - 1) >> lzx->WindowBits) + 1]--;
    }
    int64_t open = 0;
    for (uint32_t k = 0; k < n; k++) {
        open += depth[k];
        needed[k] = open > 0;
        *total += needed[k];
    }
    free(depth);
    return needed;
}

// Gives one interval's part to a file: its bytes, or the interval's failure.
// Hands the file out when the interval completes or fails it.
int FillFile(Pass* pass, Pending* p, uint64_t start, uint64_t end, int result, const uint8_t* data)
{
    uint64_t from = p->Entry->Offset, to = from + p->Entry->Length;
    if (result != IntervalDecoded) {
        int error = result == IntervalNoMemory ? ContainerNoMemory : ContainerDamagedData;
        return HandOut(pass, p, error, nullptr);
    }
    if (from >= start && to <= end)  // within the interval: handed out of it directly
        return HandOut(pass, p, ContainerOk, data + (from - start));
    if (pass->Options->Discard)
        return to <= end ? HandOut(pass, p, ContainerOk, nullptr) : Go;
    if (!p->Buffer) {
        p->Buffer = (uint8_t*)malloc(p->Entry->Length);
        if (!p->Buffer)
            return HandOut(pass, p, ContainerNoMemory, nullptr);
    }
    uint64_t a = from > start ? from : start, b = to < end ? to : end;
    memcpy(p->Buffer + (a - from), data + (a - start), (size_t)(b - a));
    return to <= end ? HandOut(pass, p, ContainerOk, p->Buffer) : Go;
}

// Gives the interval of output [start, end) (or its failure, result) to the
// files it holds: first to those begun in earlier intervals, then to those
// that begin in it, in offset order, so that files that do not overlap are
// handed out in offset order.
int TakeInterval(Pass* pass, Pending* files, uint32_t count, uint32_t* first, uint32_t* next,
                 uint64_t start, uint64_t end, int result, const uint8_t* data)
{
    for (uint32_t i = *first; i < *next; i++)
        if (!files[i].Done && FillFile(pass, &files[i], start, end, result, data) != Go)
            return Stopped;
    while (*next < count && files[*next].Entry->Offset < end) {
        Pending* p = &files[(*next)++];
        int status = p->Entry->Length == 0 ? HandOut(pass, p, ContainerOk, nullptr)
                                           : FillFile(pass, p, start, end, result, data);
        if (status != Go)
            return Stopped;
    }
    while (*first < *next && files[*first].Done)
        (*first)++;
    return Go;
}

bool SetUpDecoders(Pass* pass)
{
    if (pass->Decoders)
        return true;
    int workers = pass->Options->Workers;
    pass->Decoders = (LzxDecoder**)calloc((size_t)workers, sizeof(LzxDecoder*));
    if (!pass->Decoders)
        return false;
    for (int w = 0; w < workers; w++) {
        pass->Decoders[w] = (LzxDecoder*)calloc(1, sizeof(LzxDecoder));
        if (!pass->Decoders[w])
            return false;
    }
    return true;
}

// Allocates a batch's arrays and output slots; false when memory runs out
// (what was allocated is freed by FreeBatch).
bool AllocateBatch(Batch* b, const LzxSection* lzx, LzxDecoder** decoders, int size)
{
    *b = Batch {lzx, decoders, nullptr, nullptr, nullptr, nullptr, 0};
    b->Intervals = (uint32_t*)calloc((size_t)size, sizeof(uint32_t));
    b->Inputs = (uint8_t**)calloc((size_t)size, sizeof(uint8_t*));
    b->Outputs = (uint8_t**)calloc((size_t)size, sizeof(uint8_t*));
    b->Results = (int*)calloc((size_t)size, sizeof(int));
    bool ready = b->Intervals && b->Inputs && b->Outputs && b->Results;
    for (int j = 0; ready && j < size; j++) {
        b->Outputs[j] = (uint8_t*)malloc(lzx->WindowSize);
        ready = b->Outputs[j] != nullptr;
    }
    return ready;
}

void FreeBatch(Batch* b, int size)
{
    for (int j = 0; j < size; j++) {
        if (b->Inputs)
            free(b->Inputs[j]);
        if (b->Outputs)
            free(b->Outputs[j]);
    }
    free(b->Intervals);
    free(b->Inputs);
    free(b->Outputs);
    free(b->Results);
}

// Reads the compressed bytes of the next needed intervals, from *k on, into
// the batch: up to size of them.
void FillBatch(HelpFile* file, Batch* b, const uint8_t* needed, uint32_t* k, int size)
{
    const LzxSection* lzx = b->Lzx;
    b->Jobs = 0;
    for (; *k < lzx->IntervalCount && b->Jobs < size; (*k)++) {
        if (!needed[*k])
            continue;
        int j = b->Jobs++;
        b->Intervals[j] = *k;
        b->Results[j] = IntervalDamaged;
        if (!lzx->IntervalFailed[*k]) {
            b->Inputs[j] = ReadIntervalInput(file, lzx, *k);
            if (!b->Inputs[j] && file->LastError == ContainerNoMemory)
                b->Results[j] = IntervalNoMemory;
        }
    }
}

void StartBatch(Pass* pass, Batch* b)
{
    const StreamOptions* options = pass->Options;
    if (options->StartJobs && !pass->Inline)
        options->StartJobs(options->RunContext, b->Jobs, DecodeJob, b);
    else
        for (int j = 0; j < b->Jobs; j++)
            DecodeJob(b, j, 0);
}

void WaitBatch(Pass* pass)
{
    if (pass->Options->StartJobs && pass->Options->WaitJobs && !pass->Inline)
        pass->Options->WaitJobs(pass->Options->RunContext);
}

// Interval k failed to decode, and the one before it was not decoded in this
// pass: whether the ResetTable is to blame (BlameFailedInterval), with the
// section's own decoder, which no worker uses.
int BlameInPass(HelpFile* file, LzxSection* lzx, uint32_t k)
{
    LzxDecoder* decoder = SectionDecoder(lzx);
    uint8_t* window = (uint8_t*)malloc(lzx->WindowSize);
    int result =
        decoder && window ? BlameFailedInterval(file, lzx, k, decoder, window) : IntervalNoMemory;
    free(window);
    return result;
}

// Hands out what a decoded batch holds. Sets *whole when an interval turns the
// section over to the whole-section decoding. *decoded is the last interval
// that decoded, ending where the next one begins (-1: none yet).
int HandOutBatch(Pass* pass, Batch* b, Pending* files, uint32_t count, uint32_t* first,
                 uint32_t* next, bool* whole, int64_t* decoded)
{
    LzxSection* lzx = (LzxSection*)b->Lzx;
    int status = Go;
    for (int j = 0; j < b->Jobs; j++) {
        free(b->Inputs[j]);
        b->Inputs[j] = nullptr;
        if (status != Go || *whole)
            continue;
        uint32_t interval = b->Intervals[j];
        int result = b->Results[j];
        if (result == IntervalDamaged && !lzx->IntervalFailed[interval] &&
            *decoded != (int64_t)interval - 1)
            result = BlameInPass(pass->File, lzx, interval);
        if (result == IntervalUntrusted) {
            *whole = true;
            continue;
        }
        if (result == IntervalDamaged)
            lzx->IntervalFailed[interval] = 1;
        if (result == IntervalDecoded)
            *decoded = interval;
        uint64_t start = (uint64_t)interval << lzx->WindowBits;
        status = TakeInterval(pass, files, count, first, next, start,
                              start + IntervalLength(lzx, interval), result, b->Outputs[j]);
    }
    b->Jobs = 0;
    return status;
}

// The files of one compressed section, through its intervals. Two batches
// take turns: while this thread hands out the files of one and reads the
// compressed bytes it decodes next, the workers go on with the other.
int StreamByIntervals(Pass* pass, SectionRecord* section, Pending* files, uint32_t count)
{
    LzxSection* lzx = section->Lzx;
    HelpFile* file = pass->File;
    const int batchSize = 4 * pass->Options->Workers;
    uint32_t total = 0;
    uint8_t* needed = NeededIntervals(lzx, files, count, &total);
    pass->Inline = (uint64_t)total * lzx->WindowSize <= InlineOutput;
    Batch batches[2];
    bool ready = SetUpDecoders(pass);
    ready = AllocateBatch(&batches[0], lzx, pass->Decoders, batchSize) && ready;
    ready = AllocateBatch(&batches[1], lzx, pass->Decoders, batchSize) && ready && needed;
    int status = Go;
    if (!ready) {
        file->LastError = ContainerNoMemory;
        status = Broken;
    }

    uint32_t first = 0, next = 0, k = 0;
    bool whole = false;
    int64_t decoded = -1;
    Batch* running = &batches[0];
    Batch* waiting = &batches[1];
    if (status == Go) {
        FillBatch(file, running, needed, &k, batchSize);
        StartBatch(pass, running);
        FillBatch(file, waiting, needed, &k, batchSize);
        if (waiting->Jobs)
            StartBatch(pass, waiting);
    }
    while (status == Go && !whole && running->Jobs) {
        WaitBatch(pass);
        status = HandOutBatch(pass, running, files, count, &first, &next, &whole, &decoded);
        if (status != Go || whole) {
            // The batch started after it is not wanted any more.
            if (waiting->Jobs)
                WaitBatch(pass);
            waiting->Jobs = 0;
            break;
        }
        FillBatch(file, running, needed, &k, batchSize);
        if (running->Jobs)
            StartBatch(pass, running);
        Batch* done = running;
        running = waiting;
        waiting = done;
    }
    // Files of length 0 at the section's end, after the last interval.
    if (status == Go && !whole)
        status = TakeInterval(pass, files, count, &first, &next, lzx->UncompressedLength,
                              (uint64_t)lzx->UncompressedLength + 1, IntervalDecoded, nullptr);
    FreeBatch(&batches[0], batchSize);
    FreeBatch(&batches[1], batchSize);
    free(needed);
    if (status == Go && whole) {
        DropIntervals(lzx);
        status = HandOutWhole(pass, section, files, count);
    }
    for (uint32_t i = 0; i < count; i++) {
        free(files[i].Buffer);
        files[i].Buffer = nullptr;
    }
    return status;
}

// The wanted files of compressed section s, in offset order.
int StreamSection(Pass* pass, int32_t s)
{
    HelpFile* file = pass->File;
    SectionRecord* section = &file->Sections->Records[s];
    const StreamOptions* options = pass->Options;
    int32_t total = DirectoryCount(file);
    Pending* files = (Pending*)calloc((size_t)total + 1, sizeof(Pending));
    if (!files) {
        file->LastError = ContainerNoMemory;
        return Broken;
    }
    int error = PrepareLzxSection(file, section) == 0 ? ContainerOk : file->LastError;
    uint32_t count = 0;
    int status = Go;
    for (int32_t i = 0; i < total && status == Go; i++) {
        const DirectoryEntry* entry = DirectoryAt(file, i);
        if (entry->Section != (uint32_t)s || (options->Wanted && !options->Wanted[i]))
            continue;
        Pending p = {entry, i, nullptr, false};
        int refused = error != ContainerOk ? error
            : entry->Wide                  ? ContainerPastLimits
            : entry->Offset > section->Lzx->UncompressedLength ||
                entry->Length > section->Lzx->UncompressedLength - entry->Offset
            ? ContainerOutsideSection
            : ContainerOk;
        if (refused != ContainerOk)
            status = HandOut(pass, &p, refused, nullptr);
        else
            files[count++] = p;
    }
    if (status == Go && count) {
        qsort(files, count, sizeof(Pending), CompareOffsets);
        status = section->Lzx->IntervalCount ? StreamByIntervals(pass, section, files, count)
                                             : HandOutWhole(pass, section, files, count);
    }
    free(files);
    return status;
}

bool InCompressedSection(const HelpFile* file, const DirectoryEntry* entry)
{
    return file->Sections && entry->Section < (uint32_t)file->Sections->Count &&
        file->Sections->Records[entry->Section].Compressed;
}

}  // namespace

int StreamStoredFiles(HelpFile* file, const StreamOptions* options, StoredFileHandler handler,
                      void* context)
{
    if (!file || !options || options->Workers < 1 || !handler)
        return Broken;
    Pass pass = {file, options, handler, context, nullptr, false};
    int status = Go;
    int32_t total = DirectoryCount(file);
    for (int32_t i = 0; i < total && status == Go; i++) {
        const DirectoryEntry* entry = DirectoryAt(file, i);
        if ((options->Wanted && !options->Wanted[i]) || InCompressedSection(file, entry))
            continue;
        uint32_t length = 0;
        uint8_t* data = nullptr;
        int read = options->Discard ? ReadStoredEntry(file, entry)
                                    : ExtractEntry(file, entry, &length, &data);
        int error = read == 0 ? ContainerOk : file->LastError;
        Pending p = {entry, i, data, false};
        status = HandOut(&pass, &p, error, data);
    }
    for (int32_t s = 0; file->Sections && s < file->Sections->Count && status == Go; s++)
        if (file->Sections->Records[s].Compressed)
            status = StreamSection(&pass, s);
    if (pass.Decoders) {
        for (int w = 0; w < options->Workers; w++) {
            if (pass.Decoders[w])
                ReleaseLzx(pass.Decoders[w]);
            free(pass.Decoders[w]);
        }
        free(pass.Decoders);
    }
    return status;
}
