// Whole-section LZX decoding speed, against libmspack and chmlib on the same
// help files. Files: every help file of the shared corpus, plus the files
// named in VELKORY_BENCH_FILES (colon-separated), e.g. a large help file made
// by bench/run-bench. MB/s are of uncompressed output (10^6 bytes).
//
// velkory:   InitLzxDecoder + DecompressLzx over the whole compressed section,
//            its Content bytes already in memory.
// libmspack: its CHM decompressor extracting every file of the compressed
//            section in offset order (help file read from memory, output
//            discarded).
// chmlib:    chm_retrieve_object on every file of the compressed section in
//            offset order (help file opened each round, so that its block
//            cache starts empty).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include <chm_lib.h>
#include <dirent.h>
#include <mspack.h>

#include "container/container.h"
#include "lzx/lzx.h"
#include "support/corpus.h"

namespace {

const char* const kContent = "::DataSpace/Storage/MSCompressed/Content";
const char* const kControl = "::DataSpace/Storage/MSCompressed/ControlData";
const char* const kReset = "::DataSpace/Storage/MSCompressed/Transform/"
                           "{7FC28940-9D31-11D0-9B27-00A0C91E9C7C}/InstanceData/ResetTable";

struct Section {
    std::string path;
    std::string name;
    int bits = 0;
    std::vector<uint8_t> content;
    uint32_t compressed = 0;
    uint32_t uncompressed = 0;
    std::vector<uint8_t> fileBytes;  // the whole help file, for libmspack
};

std::vector<uint8_t> ReadWhole(const std::string& path)
{
    std::vector<uint8_t> bytes;
    FILE* f = fopen(path.c_str(), "rb");
    if (f == nullptr) {
        return bytes;
    }
    uint8_t buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) {
        bytes.insert(bytes.end(), buffer, buffer + n);
    }
    fclose(f);
    return bytes;
}

bool LoadSection(const std::string& path, Section* s)
{
    HelpFile* file = OpenHelpFile(path.c_str());
    if (file == nullptr) {
        return false;
    }
    std::vector<uint8_t> control = StoredBytes(file, kControl);
    std::vector<uint8_t> reset = StoredBytes(file, kReset);
    s->content = StoredBytes(file, kContent);
    CloseHelpFile(file);
    if (control.size() < 20 || reset.size() < 28) {
        return false;
    }
    uint32_t code = ReadLE32(control.data() + 16);
    for (int bits = 15; bits <= 21; bits++) {
        if (code == 1u << (bits - 15)) {
            s->bits = bits;
        }
    }
    s->uncompressed = ReadLE32(reset.data() + 16);
    s->compressed = ReadLE32(reset.data() + 24);
    if (s->bits == 0 || s->compressed > s->content.size()) {
        return false;
    }
    s->path = path;
    size_t slash = path.find_last_of('/');
    s->name = slash == std::string::npos ? path : path.substr(slash + 1);
    s->fileBytes = ReadWhole(path);
    return true;
}

// ---- velkory ----

void BM_Velkory(benchmark::State& state, const Section* s)
{
    std::vector<uint8_t> out(s->uncompressed);
    for (auto _ : state) {
        if (InitLzxDecoder(s->bits) != LzxOk ||
            DecompressLzx(s->content.data(), out.data(), (int32_t)s->compressed,
                          (int32_t)s->uncompressed) != LzxOk) {
            state.SkipWithError("decompression failed");
            break;
        }
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed((int64_t)state.iterations() * s->uncompressed);
}

// ---- libmspack, with a system that reads the help file from memory and
// discards what it writes ----

struct MemFile {
    const std::vector<uint8_t>* bytes;  // null: an output sink
    size_t pos;
};

const std::vector<uint8_t>* memInput = nullptr;
std::string memInputName;

mspack_file* MemOpen(mspack_system*, const char* filename, int mode)
{
    MemFile* f = new MemFile {nullptr, 0};
    if (mode == MSPACK_SYS_OPEN_READ) {
        if (memInput == nullptr || memInputName != filename) {
            delete f;
            return nullptr;
        }
        f->bytes = memInput;
    }
    return (mspack_file*)f;
}
void MemClose(mspack_file* file)
{
    delete (MemFile*)file;
}
int MemRead(mspack_file* file, void* buffer, int bytes)
{
    MemFile* f = (MemFile*)file;
    if (f->bytes == nullptr || bytes < 0) {
        return -1;
    }
    size_t n = std::min((size_t)bytes, f->bytes->size() - std::min(f->pos, f->bytes->size()));
    memcpy(buffer, f->bytes->data() + f->pos, n);
    f->pos += n;
    return (int)n;
}
int MemWrite(mspack_file* file, void* buffer, int bytes)
{
    benchmark::DoNotOptimize(buffer);
    MemFile* f = (MemFile*)file;
    f->pos += (size_t)bytes;
    return bytes;
}
int MemSeek(mspack_file* file, off_t offset, int mode)
{
    MemFile* f = (MemFile*)file;
    off_t size = f->bytes ? (off_t)f->bytes->size() : (off_t)f->pos;
    off_t base = mode == MSPACK_SYS_SEEK_START ? 0
        : mode == MSPACK_SYS_SEEK_CUR          ? (off_t)f->pos
                                               : size;
    off_t to = base + offset;
    if (to < 0 || to > size) {
        return -1;
    }
    f->pos = (size_t)to;
    return 0;
}
off_t MemTell(mspack_file* file)
{
    return (off_t)((MemFile*)file)->pos;
}
void MemMessage(mspack_file*, const char*, ...) { }
void* MemAlloc(mspack_system*, size_t bytes)
{
    return malloc(bytes);
}
void MemFree(void* p)
{
    free(p);
}
void MemCopy(void* src, void* dest, size_t bytes)
{
    memcpy(dest, src, bytes);
}

mspack_system memSystem = {MemOpen,    MemClose, MemRead, MemWrite, MemSeek, MemTell,
                           MemMessage, MemAlloc, MemFree, MemCopy,  nullptr};

void BM_Libmspack(benchmark::State& state, const Section* s)
{
    memInput = &s->fileBytes;
    memInputName = s->path;
    mschm_decompressor* chmd = mspack_create_chm_decompressor(&memSystem);
    mschmd_header* chm = chmd ? chmd->open(chmd, s->path.c_str()) : nullptr;
    if (chm == nullptr) {
        state.SkipWithError("libmspack cannot open the file");
        if (chmd) {
            mspack_destroy_chm_decompressor(chmd);
        }
        return;
    }
    std::vector<mschmd_file*> files;
    for (mschmd_file* f = chm->files; f != nullptr; f = f->next) {
        if (f->section->id == 1 && f->length > 0) {
            files.push_back(f);
        }
    }
    std::sort(files.begin(), files.end(),
              [](const mschmd_file* a, const mschmd_file* b) { return a->offset < b->offset; });
    int64_t bytes = 0;
    for (mschmd_file* f : files) {
        bytes += f->length;
    }
    for (auto _ : state) {
        for (mschmd_file* f : files) {
            if (chmd->extract(chmd, f, "sink") != MSPACK_ERR_OK) {
                state.SkipWithError("libmspack extraction failed");
                break;
            }
        }
    }
    state.SetBytesProcessed((int64_t)state.iterations() * bytes);
    chmd->close(chmd, chm);
    mspack_destroy_chm_decompressor(chmd);
}

// ---- chmlib ----

int CollectCompressed(chmFile*, chmUnitInfo* ui, void* context)
{
    if (ui->space == CHM_COMPRESSED && ui->length > 0) {
        ((std::vector<chmUnitInfo>*)context)->push_back(*ui);
    }
    return CHM_ENUMERATOR_CONTINUE;
}

void BM_Chmlib(benchmark::State& state, const Section* s)
{
    chmFile* h = chm_open(s->path.c_str());
    if (h == nullptr) {
        state.SkipWithError("chmlib cannot open the file");
        return;
    }
    std::vector<chmUnitInfo> files;
    chm_enumerate(h, CHM_ENUMERATE_ALL, CollectCompressed, &files);
    chm_close(h);
    std::sort(files.begin(), files.end(),
              [](const chmUnitInfo& a, const chmUnitInfo& b) { return a.start < b.start; });
    int64_t bytes = 0;
    uint64_t largest = 0;
    for (const chmUnitInfo& ui : files) {
        bytes += (int64_t)ui.length;
        largest = std::max<uint64_t>(largest, ui.length);
    }
    std::vector<unsigned char> buffer(largest + 1);
    for (auto _ : state) {
        h = chm_open(s->path.c_str());
        for (chmUnitInfo& ui : files) {
            if (chm_retrieve_object(h, &ui, buffer.data(), 0, (LONGINT64)ui.length) !=
                (LONGINT64)ui.length) {
                state.SkipWithError("chmlib retrieval failed");
                break;
            }
        }
        chm_close(h);
    }
    state.SetBytesProcessed((int64_t)state.iterations() * bytes);
}

// Collects bytes per second of every run, for the closing summary.
class SummaryReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, std::map<std::string, double>> rates;  // file -> decoder -> MB/s

    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.error_occurred || run.run_type != Run::RT_Iteration) {
                continue;
            }
            std::string name = run.benchmark_name();
            size_t slash = name.find('/');
            if (slash == std::string::npos) {
                continue;
            }
            std::string decoder = name.substr(0, slash);
            std::string file = name.substr(slash + 1);
            size_t cut = file.find("/min_time");
            if (cut != std::string::npos) {
                file = file.substr(0, cut);
            }
            auto it = run.counters.find("bytes_per_second");
            if (it != run.counters.end()) {
                rates[file][decoder] = it->second.value / 1e6;
            }
        }
    }
};

std::vector<std::string> CorpusFiles()
{
    std::vector<std::string> files;
    std::string dir = std::string(VELKORY_SOURCE_DIR) + "/../shared/corpus/chm";
    if (const char* shared = getenv("VELKORY_SHARED")) {
        dir = std::string(shared) + "/corpus/chm";
    }
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d)) {
            std::string name = e->d_name;
            if (name.size() > 4 && name.compare(name.size() - 4, 4, ".chm") == 0) {
                files.push_back(dir + "/" + name);
            }
        }
        closedir(d);
    }
    std::sort(files.begin(), files.end());
    return files;
}

}  // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    std::vector<std::string> paths = CorpusFiles();
    if (const char* extra = getenv("VELKORY_BENCH_FILES")) {
        std::string list = extra;
        size_t start = 0;
        while (start <= list.size()) {
            size_t end = list.find(':', start);
            std::string item =
                list.substr(start, end == std::string::npos ? std::string::npos : end - start);
            if (!item.empty()) {
                paths.push_back(item);
            }
            if (end == std::string::npos) {
                break;
            }
            start = end + 1;
        }
    }
    std::vector<Section*> sections;
    for (const std::string& path : paths) {
        Section* s = new Section;
        if (!LoadSection(path, s)) {
            fprintf(stderr, "skipping %s: no readable compressed section\n", path.c_str());
            delete s;
            continue;
        }
        sections.push_back(s);
        fprintf(stderr, "%s: window 2^%d, %u -> %u bytes\n", s->name.c_str(), s->bits,
                s->compressed, s->uncompressed);
    }
    if (sections.empty()) {
        fprintf(stderr, "no help files to measure\n");
        return 1;
    }
    for (Section* s : sections) {
        // Small sections run many rounds; give each case a fair measuring time.
        benchmark::RegisterBenchmark(("velkory/" + s->name).c_str(), BM_Velkory, s)->MinTime(0.5);
        benchmark::RegisterBenchmark(("libmspack/" + s->name).c_str(), BM_Libmspack, s)
            ->MinTime(0.5);
        benchmark::RegisterBenchmark(("chmlib/" + s->name).c_str(), BM_Chmlib, s)->MinTime(0.5);
    }
    SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);

    printf("\n%-28s %12s %12s %12s %9s %9s\n", "help file", "velkory", "libmspack", "chmlib",
           "x mspack", "x chmlib");
    printf("%-28s %12s %12s %12s\n", "", "MB/s", "MB/s", "MB/s");
    auto cell = [](double v) {
        char text[32];
        snprintf(text, sizeof text, v > 0 ? "%.1f" : "n/a", v);
        return std::string(text);
    };
    auto ratio = [](double ours, double theirs) {
        char text[32];
        snprintf(text, sizeof text, ours > 0 && theirs > 0 ? "%.2f" : "n/a",
                 theirs > 0 ? ours / theirs : 0);
        return std::string(text);
    };
    for (auto& [file, rates] : reporter.rates) {
        double ours = rates.count("velkory") ? rates["velkory"] : 0;
        double ms = rates.count("libmspack") ? rates["libmspack"] : 0;
        double cl = rates.count("chmlib") ? rates["chmlib"] : 0;
        printf("%-28s %12s %12s %12s %9s %9s\n", file.c_str(), cell(ours).c_str(), cell(ms).c_str(),
               cell(cl).c_str(), ratio(ours, ms).c_str(), ratio(ours, cl).c_str());
    }
    printf("(n/a: that decoder could not open or extract the file; see the errors above)\n");
    benchmark::Shutdown();
    for (Section* s : sections) {
        delete s;
    }
    return 0;
}
