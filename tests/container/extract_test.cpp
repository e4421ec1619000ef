// Content sections and extraction: the section table, the uncompressed,
// compressed and cached paths, and every bound a damaged container can break.
#include "container_test_support.h"

#include <filesystem>

namespace {

std::vector<StoredFile> SampleFiles()
{
    return {
        {"/#TOPICS", Pattern(1000, 1), 1},
        {"/#SYSTEM", Pattern(333, 2), 0},
        {"/html/page.htm", Bytes("<html>page</html>"), 1},
        {"/empty", {}, 1},
        {"/plain/empty", {}, 0},
        {"/html/big.htm", Pattern(200000, 3), 1},
    };
}

}  // namespace

TEST(ContainerExtract, EveryStoredFileComesOutOfEveryWindowSize)
{
    std::vector<StoredFile> files = SampleFiles();
    for (int bits = 15; bits <= 21; bits++) {
        SCOPED_TRACE(bits);
        HelpFileOptions options;
        options.windowBits = bits;
        options.chunkSize = 256;  // several listing chunks
        TempHelpFile temp(MakeHelpFile(files, options));
        OpenedHelpFile help(temp.path());
        ASSERT_NE(help.file, nullptr);
        ASSERT_NE(help->Sections, nullptr);
        ASSERT_EQ(help->Sections->Count, 2);
        EXPECT_STREQ(help->Sections->Records[1].Name, "MSCompressed");
        EXPECT_EQ(help->Sections->Records[1].Compressed, 1);
        for (const StoredFile& file : files) EXPECT_EQ(Extract(help.file, file.name), file.data) << file.name;
    }
}
