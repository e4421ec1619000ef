// Makes a help file whose compressed section holds more than 1 GiB of output,
// for the benchmarks (never committed): windows of repeated help text, then
// the topic index and one page at the section's end, past the first GiB.
//
// Every window of the stream is a stream of its own, so the filler window is
// compressed once by the test-side encoder and repeated; the file stays a few
// MB. The filler is stored as files of 1 MiB each, so that `velkory test`
// decodes the whole section.
//
// usage: make_large_chm OUT.chm [MIB]      (MIB of filler, default 1100)
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "lookup/index_builder.h"
#include "support/chm_writer.h"

int main(int argc, char** argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: make_large_chm OUT.chm [MIB]\n");
        return 2;
    }
    const uint64_t mib = argc > 2 ? strtoull(argv[2], nullptr, 10) : 1100;
    const int bits = 16;
    const uint64_t window = uint64_t(1) << bits;
    const uint64_t windows = mib * 16;  // 16 windows of 64 KiB a MiB
    const uint64_t filler = windows * window;
    if (mib == 0 || filler + (1u << 20) > 0xFFFFFFFFull) {
        fprintf(stderr, "make_large_chm: the filler must be 1 to 4095 MiB\n");
        return 2;
    }

    std::vector<uint8_t> text;
    for (int line = 0; text.size() < window; line++) {
        std::string s = "<p>Line " + std::to_string(line % 97) + " of the large manual.</p>\n";
        text.insert(text.end(), s.begin(), s.end());
    }
    text.resize(window);
    TestIndex index = BuildIndex({{"large manual: first topic", "html/large.htm"},
                                  {"large manual: second topic", "html/large.htm"}});
    std::string page = "<html><head><title>Large</title></head><body><h1>Large</h1>"
                       "<p>The page past the first GiB of the section.</p></body></html>\n";
    std::vector<StoredFile> files = IndexFiles(index);
    files.push_back({"/html/large.htm", Bytes(page), 1});
    ContainerLayout layout = RepeatedWindowLayout(text, windows, files, bits);
    for (uint64_t m = 0; m < mib; m++) {
        char name[64];
        snprintf(name, sizeof name, "/filler/%05llu.htm", (unsigned long long)m);
        layout.entries.push_back({name, 1, m << 20, uint64_t(1) << 20, {}});
    }
    if (!WriteBytes(argv[1], BuildContainer(layout))) {
        fprintf(stderr, "make_large_chm: cannot write %s\n", argv[1]);
        return 1;
    }
    printf("%s: %llu bytes of filler in the section\n", argv[1], (unsigned long long)filler);
    return 0;
}
