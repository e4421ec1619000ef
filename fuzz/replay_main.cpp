// Replays saved fuzz inputs without libFuzzer: every regular file below the
// directories named on the command line goes once through the target's
// LLVMFuzzerTestOneInput. A missing directory counts as empty; the run fails
// when no input at all was found. A fault in the target aborts the run.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv)
{
    namespace fs = std::filesystem;
    size_t replayed = 0;
    for (int i = 1; i < argc; ++i) {
        std::error_code ec;
        if (!fs::is_directory(argv[i], ec))
            continue;
        std::vector<fs::path> files;
        for (const fs::directory_entry& entry : fs::recursive_directory_iterator(argv[i], ec))
            if (entry.is_regular_file(ec))
                files.push_back(entry.path());
        for (const fs::path& file : files) {
            std::ifstream in(file, std::ios::binary);
            std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                       std::istreambuf_iterator<char>());
            if (!in.eof() && in.fail()) {
                fprintf(stderr, "replay: cannot read %s\n", file.string().c_str());
                return 1;
            }
            printf("%s\n", file.string().c_str());
            fflush(stdout);
            LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
            ++replayed;
        }
    }
    if (replayed == 0) {
        fprintf(stderr, "replay: no saved input found\n");
        return 1;
    }
    printf("replay: %zu inputs\n", replayed);
    return 0;
}
