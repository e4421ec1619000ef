// Offsets past 2 GiB and sums past 4 GiB, in a sparse file of about 4.3 GiB.
#include "container_test_support.h"

#if !defined(_WIN32)
#include <sys/types.h>
#endif

namespace {

bool WriteAt(FILE* out, uint64_t position, const std::vector<uint8_t>& bytes)
{
#if defined(_WIN32)
    if (_fseeki64(out, (__int64)position, SEEK_SET) != 0)
        return false;
#else
    if (fseeko(out, (off_t)position, SEEK_SET) != 0)
        return false;
#endif
    return fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
}

}  // namespace

TEST(ContainerLargeFile, DirectoryAndContentBeyondTwoGigabytesAndFilesBeyondFour)
{
    const uint64_t directoryOffset = 0xC0000000u;  // 3 GiB
    const uint64_t contentOffset = 0xF0000000u;    // 3.75 GiB
    const uint32_t farOffset = 0x20000000u;        // the far file begins at 4.25 GiB
    std::vector<uint8_t> far = Pattern(5000, 11);
    std::vector<StoredFile> files = {{"/near", Pattern(3000, 12), 0},
                                     {"/packed", Pattern(90000, 13), 1}};
    ContainerLayout layout = HelpFileLayout(files, HelpFileOptions());
    layout.entries.push_back({"/far", 0, farOffset, far.size(), {}});
    std::vector<uint8_t> bytes = BuildContainer(layout);
    const uint64_t builtDirectory = ReadLE32(&bytes[72]);
    const uint64_t builtContent = ReadLE32(&bytes[88]);

    std::vector<uint8_t> header(bytes.begin(), bytes.begin() + builtDirectory);
    for (int i = 0; i < 4; i++) {
        header[72 + i] = (uint8_t)(directoryOffset >> (8 * i));
        header[88 + i] = (uint8_t)(contentOffset >> (8 * i));
    }
    TempHelpFile temp({});
    FILE* out = fopen(temp.path().c_str(), "wb");
    ASSERT_NE(out, nullptr);
    bool written = WriteAt(out, 0, header) &&
        WriteAt(out, directoryOffset,
                std::vector<uint8_t>(bytes.begin() + builtDirectory,
                                     bytes.begin() + builtContent)) &&
        WriteAt(out, contentOffset,
                std::vector<uint8_t>(bytes.begin() + builtContent, bytes.end())) &&
        WriteAt(out, contentOffset + farOffset, far);
    bool closed = fclose(out) == 0;
    if (!written || !closed)
        GTEST_SKIP() << "cannot write a sparse file of 4.3 GiB in the temporary directory";

    OpenedHelpFile help(temp.path());
    ASSERT_NE(help.file, nullptr);
    EXPECT_EQ(help->FileSize, contentOffset + farOffset + far.size());
    ASSERT_EQ(DirectoryCount(help.file), (int32_t)layout.entries.size());
    EXPECT_EQ(Extract(help.file, "/near"), files[0].data);
    EXPECT_EQ(Extract(help.file, "/packed"), files[1].data);
    EXPECT_EQ(Extract(help.file, "/far"), far);
}

TEST(ContainerLargeFile, ASectionOfGigabytesAnswersFromTheIntervalsThatHoldTheFile)
{
    // 2.5 GiB of filler, past the decoder's signed 32-bit lengths, then a page.
    std::vector<uint8_t> window;
    while (window.size() < 65536) {
        char line[32];
        int n = snprintf(line, sizeof line, "<p>filler %zu</p>\n", window.size() % 89);
        window.insert(window.end(), line, line + n);
    }
    window.resize(65536);
    const uint64_t windows = 40960;
    std::vector<uint8_t> page = Pattern(70000, 21);  // across two intervals
    ContainerLayout layout = RepeatedWindowLayout(window, windows, {{"/page.htm", page, 1}}, 16);
    layout.entries.push_back({"/filler-start", 1, 65536 - 10, 20, {}});
    TempHelpFile temp(BuildContainer(layout));
    OpenedHelpFile help(temp.path());
    EXPECT_EQ(Extract(help.file, "/page.htm"), page);
    std::vector<uint8_t> start(window.end() - 10, window.end());
    start.insert(start.end(), window.begin(), window.begin() + 10);
    EXPECT_EQ(Extract(help.file, "/filler-start"), start);
    const SectionRecord& section = help->Sections->Records[1];
    ASSERT_NE(section.Lzx, nullptr);
    EXPECT_EQ(section.Lzx->IntervalCount, windows + 2);
    EXPECT_EQ(section.Data, nullptr);
}
