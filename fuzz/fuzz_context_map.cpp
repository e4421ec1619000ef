// libFuzzer target: the context map. The input is a help file's /#IVB and
// /#STRINGS and a project's definitions; they are stored in a help file with
// a few pages, and context IDs and an alias name are looked up in it.
//
// Input layout:
//   byte 0   bit 0: the files are stored in the compressed section (else as
//                   they are, which is quicker to make)
//            bit 1: the definitions are stored in the help file as /ctx/map.h
//                   (else the caller gives them)
//   a 32-bit context ID, then a byte n and an alias name of n % 32 bytes
//   /#IVB and /#STRINGS, each a 16-bit little-endian length and that many bytes
//   the rest: the definitions
//
// A lookup answers 0 or 1, and when it answers 1 its page is a stored name of
// the file.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <set>
#include <string>
#include <system_error>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "lookup/lookup.h"
#include "support/chm_writer.h"

namespace {

void Check(bool condition)
{
    if (!condition)
        abort();
}

const std::string& HelpPath()
{
    static const std::string path = [] {
        std::random_device random;
        return (std::filesystem::temp_directory_path() /
                ("velkory-fuzz-context-" + std::to_string(random()) + ".chm"))
            .string();
    }();
    return path;
}

std::vector<uint8_t> Chunk(FuzzInput& in)
{
    uint32_t length = in.Byte();
    length |= in.Byte() << 8;
    return in.Bytes(length);
}

void CheckTarget(int found, const ContextTarget& target, const std::set<std::string>& stored)
{
    Check(found == 0 || found == 1);
    Check(found == 1 || (target.page[0] == '\0' && target.anchor[0] == '\0'));
    Check(found == 0 || stored.count(target.page) == 1);
    Check(strlen(target.anchor) < (size_t)NameBufferSize);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    FuzzInput in {bytes, size};
    uint32_t options = in.Byte();
    uint32_t id = in.Word();
    std::vector<uint8_t> nameBytes = in.Bytes(in.Byte() % 32);
    std::string alias(nameBytes.begin(), nameBytes.end());
    alias = alias.substr(0, alias.find('\0'));
    std::vector<uint8_t> map = Chunk(in);
    std::vector<uint8_t> strings = Chunk(in);
    std::vector<uint8_t> definitions = in.Bytes(size);

    int section = (options & 1) ? 1 : 0;
    std::vector<StoredFile> files = {{"/#IVB", map, section}, {"/#STRINGS", strings, section}};
    for (const char* page : {"/html/intro.htm", "/Html/Setup.HTM", "/a b.htm", "/sub/deep.htm"})
        files.push_back({page, std::vector<uint8_t>(page, page + strlen(page)), section});
    if (options & 2)
        files.push_back({"/ctx/map.h", definitions, section});
    std::set<std::string> stored;
    for (const StoredFile& file : files)
        stored.insert(file.name);

    const std::string& help = HelpPath();
    if (!WriteBytes(help, MakeHelpFile(files)))
        return 0;

    // The ID of the input, and those of the map's first pairs.
    std::vector<uint32_t> ids = {id};
    for (size_t at = 4; at + 8 <= map.size() && ids.size() < 4; at += 8)
        ids.push_back(map[at] | map[at + 1] << 8 | map[at + 2] << 16 | (uint32_t)map[at + 3] << 24);
    for (uint32_t each : ids) {
        ContextTarget target;
        CheckTarget(FindContextPage(help.c_str(), each, &target), target, stored);
    }

    ContextTarget target;
    int found = (options & 2)
        ? FindAliasPage(help.c_str(), alias.c_str(), &target)
        : FindAliasPage(help.c_str(), alias.c_str(), &target, (const char*)definitions.data(),
                        (uint32_t)definitions.size());
    CheckTarget(found, target, stored);

    std::error_code ec;
    std::filesystem::remove(help, ec);
    return 0;
}
