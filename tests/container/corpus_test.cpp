// Real help files come out byte for byte; hostile ones fail cleanly.
#include "container_test_support.h"
#include "support/corpus.h"

#include <filesystem>

TEST(ContainerCorpus, EveryManifestEntryExtractsWithItsLengthAndDigest)
{
    std::vector<std::string> files = CorpusHelpFiles();
    if (files.empty())
        GTEST_SKIP() << "shared corpus not found beside the source tree (" VELKORY_SOURCE_DIR
                        "/../shared)";
    for (const std::string& path : files) {
        SCOPED_TRACE(path);
        std::vector<ManifestEntry> manifest =
            ReadManifest(std::filesystem::path(path).replace_extension(".manifest").string());
        ASSERT_FALSE(manifest.empty());
        OpenedHelpFile help(path);
        ASSERT_NE(help.file, nullptr);
        ASSERT_EQ(DirectoryCount(help.file), (int32_t)manifest.size());
        for (size_t i = 0; i < manifest.size(); i++) {
            const ManifestEntry& expected = manifest[i];
            EXPECT_EQ(DirectoryAt(help.file, (int32_t)i)->Name, expected.name);
            EXPECT_EQ(DirectoryAt(help.file, (int32_t)i)->Section, expected.section);
            std::optional<std::vector<uint8_t>> data = Extract(help.file, expected.name);
            ASSERT_TRUE(data.has_value()) << expected.name;
            EXPECT_EQ(data->size(), expected.length) << expected.name;
            EXPECT_EQ(Sha256Hex(data->data(), data->size()), expected.sha256) << expected.name;
        }
        // Every file came through the reset intervals, none from a whole-section decoding.
        const SectionRecord& compressed = help->Sections->Records[1];
        ASSERT_NE(compressed.Lzx, nullptr);
        EXPECT_GT(compressed.Lzx->IntervalCount, 0u);
        EXPECT_EQ(compressed.Data, nullptr);
    }
}

TEST(ContainerCorpus, HostileFilesOpenAndExtractWithoutHarm)
{
    std::vector<std::string> files = MalformedHelpFiles();
    if (files.empty())
        GTEST_SKIP() << "shared malformed corpus not found beside the source tree";
    const char* wellKnown[] = {
        "::DataSpace/NameList", "/#TOPICS", "/#STRINGS", "/#URLTBL", "/#URLSTR", "/#SYSTEM", ""};
    for (const std::string& path : files) {
        SCOPED_TRACE(path);
        OpenedHelpFile help(path);
        ASSERT_NE(help.file, nullptr);
        // Twice over: the second round takes the cached path or repeats a failed decompression.
        for (int round = 0; round < 2; round++) {
            for (int32_t i = 0; i < DirectoryCount(help.file); i++)
                Extract(help.file, DirectoryAt(help.file, i)->Name);
            for (const char* name : wellKnown)
                Extract(help.file, name);
        }
    }
}

TEST(ContainerCorpus, Sha256MatchesKnownDigests)
{
    EXPECT_EQ(Sha256Hex("", 0), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(Sha256Hex("abc", 3),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    std::string twoBlocks = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
    EXPECT_EQ(Sha256Hex(twoBlocks.data(), twoBlocks.size()),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
}
