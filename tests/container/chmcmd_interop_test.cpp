// Help files from a real compiler, checked against a black-box reader: a few
// megabytes of pages and binary files are compiled with chmcmd (fp-utils) into
// a section of dozens of 64 KB windows, 7-Zip extracts them, and every stored
// file must come out of the reader with the same bytes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "container_test_support.h"

// The compiler and the reference reader run on the build machine only.
#if !defined(_WIN32)

namespace fs = std::filesystem;

namespace {

bool HaveCommand(const char* name)
{
    std::string probe = std::string("command -v ") + name + " >/dev/null 2>&1";
    return std::system(probe.c_str()) == 0;
}

void WriteFile(const fs::path& path, const std::string& bytes)
{
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string ReadFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Pages of prose from a small vocabulary (long matches at every distance),
// some long enough to span several windows, and binary files: random bytes,
// runs of zeros, and x86-like code with 0xE8 call bytes.
std::map<std::string, std::string> MakeSources()
{
    static const char* const words[] = {"help",     "topic",   "window", "section", "compressed",
                                        "reader",   "keyword", "menu",   "viewer",  "editor",
                                        "registry", "setting", "the",    "a",       "of",
                                        "to",       "and",     "in"};
    std::mt19937 random(20261207);
    std::map<std::string, std::string> files;
    for (int page = 0; page < 120; page++) {
        std::string body =
            "<html><head><title>Topic " + std::to_string(page) + "</title></head><body>\n";
        size_t words_in_page = page % 17 == 0 ? 60000 : 400 + random() % 4000;
        for (size_t w = 0; w < words_in_page; w++) {
            body += words[random() % (sizeof words / sizeof words[0])];
            body += w % 13 == 12 ? ".\n" : " ";
        }
        body += "</body></html>\n";
        files["pages/topic" + std::to_string(page) + ".htm"] = body;
    }
    for (int blob = 0; blob < 4; blob++) {
        std::string bytes(150000 + 70000 * blob, '\0');
        for (size_t i = 0; i < bytes.size(); i++) {
            switch (blob) {
            case 0:
                bytes[i] = (char)random();
                break;  // incompressible
            case 1:
                bytes[i] = i % 5000 < 3000 ? '\0' : (char)random();
                break;  // zero runs
            case 2:
                bytes[i] = i % 7 == 0 ? (char)0xE8 : (char)(random() % 16);
                break;  // call bytes
            default:
                bytes[i] = (char)("velkory"[i % 7] + (i / 4096) % 3);
                break;  // periodic
            }
        }
        files["data/blob" + std::to_string(blob) + ".bin"] = bytes;
    }
    return files;
}

TEST(ChmcmdInterop, EveryFileOfACompiledHelpFileMatchesSevenZip)
{
    if (!HaveCommand("chmcmd") || !HaveCommand("7z"))
        GTEST_SKIP() << "chmcmd (fp-utils) or 7z (p7zip-full) is not installed";

    fs::path root = fs::temp_directory_path() / ("velkory-interop-" + std::to_string(ProcessTag()));
    fs::remove_all(root);
    std::map<std::string, std::string> sources = MakeSources();
    std::string project =
        "[OPTIONS]\nCompatibility=1.1 or later\nCompiled file=interop.chm\n"
        "Default topic=pages/topic0.htm\nLanguage=0x409 English\nTitle=Interop\n\n[FILES]\n";
    size_t total = 0;
    for (const auto& [name, bytes] : sources) {
        WriteFile(root / "src" / name, bytes);
        project += name + "\n";
        total += bytes.size();
    }
    WriteFile(root / "src" / "interop.hhp", project);
    ASSERT_GT(total, 3u << 20);

    std::string compile =
        "cd '" + (root / "src").string() + "' && chmcmd --no-html-scan interop.hhp >/dev/null 2>&1";
    ASSERT_EQ(std::system(compile.c_str()), 0);
    fs::path chm = root / "src" / "interop.chm";
    std::string unpack =
        "7z x -y -o'" + (root / "7z").string() + "' '" + chm.string() + "' >/dev/null 2>&1";
    ASSERT_EQ(std::system(unpack.c_str()), 0);

    OpenedHelpFile help(chm.string());
    ASSERT_NE(help.file, nullptr);
    size_t compared = 0;
    for (const auto& item : fs::recursive_directory_iterator(root / "7z")) {
        if (!item.is_regular_file())
            continue;
        std::string name = "/" + fs::relative(item.path(), root / "7z").generic_string();
        std::optional<std::vector<uint8_t>> ours = Extract(help.file, name);
        ASSERT_TRUE(ours.has_value()) << name;
        EXPECT_TRUE(std::string(ours->begin(), ours->end()) == ReadFile(item.path())) << name;
        compared++;
    }
    // The sources themselves come out unchanged, whatever 7-Zip says.
    for (const auto& [name, bytes] : sources) {
        std::optional<std::vector<uint8_t>> ours = Extract(help.file, "/" + name);
        ASSERT_TRUE(ours.has_value()) << name;
        EXPECT_TRUE(std::string(ours->begin(), ours->end()) == bytes) << name;
    }
    EXPECT_GE(compared, sources.size());
    fs::remove_all(root);
}

}  // namespace

#endif
