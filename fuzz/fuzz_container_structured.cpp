// libFuzzer target: the input drives the test-side container writer. It picks
// stored files, window size and chunk size, builds a well-formed help file,
// and then damages chosen fields (entry sections, offsets and lengths, reset
// table lengths, window code, chunk chaining and free areas, the file's end).
// An undamaged file must give back every stored file exactly; a damaged one
// must fail cleanly.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

#include "container/container.h"
#include "fuzz/fuzz_input.h"
#include "support/chm_writer.h"

namespace {

using Input = FuzzInput;

const std::string& InputPath()
{
    static const std::string path = [] {
        const char* dir = getenv("TMPDIR");
        return std::string(dir && *dir ? dir : "/tmp") + "/velkory-fuzz-structured-" +
            std::to_string(getpid()) + ".chm";
    }();
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    Input in {bytes, size};
    HelpFileOptions options;
    options.windowBits = 15 + (int)(in.Byte() % 7);
    options.chunkSize = 192 + (in.Byte() % 8) * 64;  // the ResetTable entry alone takes 109 bytes
    options.stream = (in.Byte() & 1) ? LzxStreamKind::Uncompressed : LzxStreamKind::Encoder;
    std::vector<StoredFile> files;
    uint32_t fileCount = 1 + in.Byte() % 6;
    for (uint32_t i = 0; i < fileCount; i++) {
        StoredFile file;
        file.name = "/f" + std::to_string(i);
        file.section = (int)(in.Byte() & 1);
        uint32_t length = in.Byte() * 97 + in.Byte();
        uint32_t seed = in.Byte();
        for (uint32_t b = 0; b < length; b++)
            file.data.push_back((uint8_t)((b * seed) >> (b % 3)));
        files.push_back(file);
    }
    ContainerLayout layout = HelpFileLayout(files, options);
    bool damaged = false;
    while (!in.Empty()) {
        uint32_t what = in.Byte() % 8;
        uint32_t value = in.Word();
        RawEntry& entry = layout.entries[in.Byte() % layout.entries.size()];
        damaged = true;
        switch (what) {
        case 0:
            entry.section = value % 4;
            break;
        case 1:
            entry.offset = value;
            break;
        case 2:
            entry.length = value;
            break;
        case 3:
            entry.offset += value % 64;
            break;
        case 4:
            entry.length += value % 64;
            break;
        case 5:
            if (!layout.content.empty())
                layout.content[value % layout.content.size()] ^= (uint8_t)(value >> 24);
            break;
        case 6:
            layout.chunkCount = value % 8;
            break;
        case 7:
            layout.truncateTo = value % (layout.content.size() + 4096);
            break;
        }
    }
    std::vector<uint8_t> container = BuildContainer(layout);
    if (!WriteBytes(InputPath(), container))
        return 0;

    HelpFile* file = OpenHelpFile(InputPath().c_str());
    if (!file)
        abort();
    for (int round = 0; round < 2; round++) {
        for (const StoredFile& stored : files) {
            uint32_t length = 1;
            uint8_t* data = nullptr;
            int result = ExtractFile(file, stored.name.c_str(), &length, &data);
            if (result == 0) {
                if (!data)
                    abort();
                if (!damaged &&
                    (length != stored.data.size() ||
                     (length && memcmp(data, stored.data.data(), length) != 0)))
                    abort();
                free(data);
            } else if (result != -1 || length != 0 || data != nullptr || !damaged) {
                abort();
            }
        }
    }
    CloseHelpFile(file);
    return 0;
}
