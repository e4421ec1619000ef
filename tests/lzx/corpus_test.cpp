// Whole compressed sections of the real help files in the shared corpus,
// decoded in one call and checked file by file against the manifests.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "container/container.h"
#include "lzx/lzx.h"
#include "support/corpus.h"

namespace {

const char* const kContent = "::DataSpace/Storage/MSCompressed/Content";
const char* const kControl = "::DataSpace/Storage/MSCompressed/ControlData";
const char* const kReset = "::DataSpace/Storage/MSCompressed/Transform/"
                           "{7FC28940-9D31-11D0-9B27-00A0C91E9C7C}/InstanceData/ResetTable";

int WindowBits(uint32_t code)
{
    for (int bits = 15; bits <= 21; bits++) {
        if (code == 1u << (bits - 15)) {
            return bits;
        }
    }
    return 0;
}

TEST(LzxCorpus, EverySectionDecodesToItsManifest)
{
    std::vector<std::string> files = CorpusHelpFiles();
    if (files.empty()) {
        GTEST_SKIP() << "shared corpus not found beside the source tree";
    }
    for (const std::string& path : files) {
        SCOPED_TRACE(path);
        HelpFile* file = OpenHelpFile(path.c_str());
        ASSERT_NE(file, nullptr);
        std::vector<uint8_t> content = StoredBytes(file, kContent);
        std::vector<uint8_t> control = StoredBytes(file, kControl);
        std::vector<uint8_t> reset = StoredBytes(file, kReset);
        ASSERT_GE(control.size(), 20u);
        ASSERT_GE(reset.size(), 28u);
        int bits = WindowBits(ReadLE32(control.data() + 16));
        ASSERT_NE(bits, 0);
        uint32_t outLength = ReadLE32(reset.data() + 16);
        uint32_t inLength = ReadLE32(reset.data() + 24);
        ASSERT_LE(inLength, content.size());

        // The section is decoded into a buffer of exactly its length, so that
        // ASan sees any write past it (the last match of these files often
        // runs past the section's end).
        uint8_t* section = (uint8_t*)malloc(outLength ? outLength : 1);
        ASSERT_EQ(InitLzxDecoder(bits), LzxOk);
        ASSERT_EQ(DecompressLzx(content.data(), section, (int32_t)inLength, (int32_t)outLength),
                  LzxOk);

        std::map<std::string, ManifestEntry> manifest;
        for (const ManifestEntry& e : ReadManifest(path.substr(0, path.size() - 4) + ".manifest")) {
            manifest[e.name] = e;
        }
        int checked = 0;
        for (int32_t i = 0; i < DirectoryCount(file); i++) {
            const DirectoryEntry* entry = DirectoryAt(file, i);
            if (entry->Section != 1 || manifest.count(entry->Name) == 0) {
                continue;
            }
            ASSERT_LE((uint64_t)entry->Offset + entry->Length, outLength) << entry->Name;
            EXPECT_EQ(Sha256Hex(section + entry->Offset, entry->Length),
                      manifest[entry->Name].sha256)
                << entry->Name;
            checked++;
        }
        EXPECT_GT(checked, 0);
        free(section);
        CloseHelpFile(file);
    }
}

// Damaged copies of real sections decode to a clean result without touching
// anything outside their buffers. The first (up to) 300000 bytes of a section
// need the first `needed` bytes of its stream, as the whole stream's decoding
// says: a copy cut inside them fails as illegal data, one cut after them
// decodes as the whole does; a flipped bit after them changes nothing, one
// inside them gives any result, but an LzxOk one took no byte past the input.
TEST(LzxCorpus, DamagedSectionsFailCleanly)
{
    std::vector<std::string> files = CorpusHelpFiles();
    if (files.empty()) {
        GTEST_SKIP() << "shared corpus not found beside the source tree";
    }
    std::mt19937 rng(99);
    for (const std::string& path : files) {
        SCOPED_TRACE(path);
        HelpFile* file = OpenHelpFile(path.c_str());
        ASSERT_NE(file, nullptr);
        std::vector<uint8_t> content = StoredBytes(file, kContent);
        std::vector<uint8_t> control = StoredBytes(file, kControl);
        std::vector<uint8_t> reset = StoredBytes(file, kReset);
        CloseHelpFile(file);
        ASSERT_GE(control.size(), 20u);
        ASSERT_GE(reset.size(), 28u);
        int bits = WindowBits(ReadLE32(control.data() + 16));
        uint32_t outLength = std::min<uint32_t>(ReadLE32(reset.data() + 16), 300000);
        uint32_t inLength =
            std::min<uint32_t>(ReadLE32(reset.data() + 24), (uint32_t)content.size());
        content.resize(inLength);
        auto decode = [&](std::vector<uint8_t> input, std::vector<uint8_t>* out) {
            out->assign(outLength, 0);
            EXPECT_EQ(InitLzxDecoder(bits), LzxOk);
            int result = DecompressLzx(input.empty() ? nullptr : input.data(), out->data(),
                                       (int32_t)input.size(), (int32_t)outLength);
            EXPECT_TRUE(result == LzxOk || result == LzxBadFormat || result == LzxIllegalData)
                << result;
            if (result == LzxOk) {
                EXPECT_LE(lzxDecoder.InputUsed, input.size());
            }
            return result;
        };
        std::vector<uint8_t> whole;
        ASSERT_EQ(decode(content, &whole), LzxOk);
        const uint32_t used = lzxDecoder.InputUsed;
        // The pad byte after an uncompressed block of odd length is not needed.
        const bool padLast = lzxDecoder.BlockType == 3 && lzxDecoder.BlockRemaining == 0 &&
            (lzxDecoder.BlockLength & 1) != 0;
        const uint32_t needed = used - (padLast ? 1 : 0);

        std::vector<uint32_t> cuts = {needed - 1, needed};
        for (int round = 0; round < 4; round++) {
            cuts.push_back((uint32_t)(rng() % (inLength + 1)));
        }
        for (uint32_t cut : cuts) {
            SCOPED_TRACE(cut);
            std::vector<uint8_t> out;
            int result = decode(std::vector<uint8_t>(content.begin(), content.begin() + cut), &out);
            if (cut < needed) {
                EXPECT_EQ(result, LzxIllegalData);
            } else {
                EXPECT_EQ(result, LzxOk);
                EXPECT_EQ(lzxDecoder.InputUsed, std::min(cut, used));
                EXPECT_TRUE(out == whole);
            }
        }
        for (int round = 0; round < 8; round++) {
            std::vector<uint8_t> bad = content;
            bool unneeded = true;
            for (int i = 0; i < 1 + round; i++) {
                size_t at = rng() % bad.size();
                bad[at] ^= (uint8_t)(1u << (rng() % 8));
                unneeded = unneeded && at >= used;
            }
            std::vector<uint8_t> out;
            int result = decode(bad, &out);
            if (unneeded) {
                EXPECT_EQ(result, LzxOk);
                EXPECT_TRUE(out == whole);
            }
        }
    }
}

}  // namespace
