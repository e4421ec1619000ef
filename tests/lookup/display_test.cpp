// The help request's second half: the temporary directory and page file, the
// window test, the choice of viewer or editor and its flags.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#if !defined(_WIN32)
#include <sys/mount.h>
#include <unistd.h>
#endif

#include "lookup_fixture.h"

namespace fs = std::filesystem;

namespace {

const char PageLiteral[] = "<p>caf\xE9\r\n\0tail\n";
const std::string PageBytes(PageLiteral, sizeof PageLiteral - 1);

class DisplayTest : public LookupTest {
protected:
    void SetUp() override
    {
        LookupTest::SetUp();
        help = Write("x.chm",
                     MakeHelpFile({{"/html/page.htm", Bytes(PageBytes), 1},
                                   {"/empty.htm", {}, 0},
                                   {"/stored.htm", Bytes("stored"), 0}}));
    }
    std::string help;
};

struct FlagsRow {
    int visuality, modality, windowCount, windowKind;
    bool viewer;
    uint32_t flags;
};

class FlagsTest : public DisplayTest, public ::testing::WithParamInterface<FlagsRow> { };

}  // namespace

TEST_P(FlagsTest, SettingsAndWindowsChooseTheCallAndFlags)
{
    const FlagsRow& row = GetParam();
    Visuality = row.visuality;
    Modality = row.modality;
    host.windowCount = row.windowCount;
    host.windowKind = row.windowKind;
    host.viewerResult = 0;
    host.editorResult = -1;

    // A failing viewer or editor still gives 1.
    EXPECT_EQ(DisplayTopic(help.c_str(), "Key Word", "/html/page.htm"), 1);

    // The host is always asked: command 10 with null, then command 9 with a
    // status whose first integer is -1 only when fewer than 2 windows.
    std::vector<RecordedCall> control = host.CallsOf("ControlHost");
    ASSERT_EQ(control.size(), row.windowCount < 2 ? 2u : 1u);
    EXPECT_EQ(control[0].Int(0), host.moduleNumber);
    EXPECT_EQ(control[0].Int(1), 10);
    EXPECT_TRUE(control[0].IsNull(2));
    if (control.size() == 2) {
        EXPECT_EQ(control[1].Int(0), host.moduleNumber);
        EXPECT_EQ(control[1].Int(1), 9);
        EXPECT_FALSE(control[1].IsNull(2));
        EXPECT_EQ(control[1].windowStatusIn, -1);
    }

    RecordedCall opened = Opened();
    ASSERT_EQ(opened.service, row.viewer ? "OpenViewer" : "OpenEditor");
    ASSERT_EQ(opened.args.size(), row.viewer ? 7u : 9u);
    ASSERT_EQ(host.tempNames.size(), 1u);
    EXPECT_EQ(opened.Text(0), Slashed(host.tempNames[0] + "\\velkory.txt"));
    EXPECT_EQ(opened.Text(1), "Key Word");
    EXPECT_EQ(opened.Int(2), 0);
    EXPECT_EQ(opened.Int(3), 0);
    EXPECT_EQ(opened.Int(4), -1);
    EXPECT_EQ(opened.Int(5), -1);
    EXPECT_EQ(opened.Int(6), (int64_t)row.flags);
    if (!row.viewer) {
        EXPECT_EQ(opened.Int(7), 0);
        EXPECT_EQ(opened.Int(8), 1);
    }
    EXPECT_TRUE(opened.fileExisted);
    EXPECT_EQ(opened.fileContent, PageBytes);
}

INSTANTIATE_TEST_SUITE_P(
    AllRows, FlagsTest,
    ::testing::Values(FlagsRow {1, 0, 3, 2, true, 3},  // several windows
                      FlagsRow {1, 0, 2, 2, true, 3},  // exactly two
                      FlagsRow {1, 0, 1, 1, true, 3},  // main window current
                      FlagsRow {1, 0, 1, 2, true, 2}, FlagsRow {1, 0, 0, 0, true, 2},
                      FlagsRow {1, 1, 3, 1, true, 2}, FlagsRow {1, 1, 1, 1, true, 2},
                      FlagsRow {1, 1, 1, 2, true, 2}, FlagsRow {0, 0, 4, 2, false, 0x11},
                      FlagsRow {0, 0, 1, 1, false, 0x11}, FlagsRow {0, 0, 1, 2, false, 0x10},
                      FlagsRow {0, 1, 3, 1, false, 0x10}, FlagsRow {0, 1, 1, 1, false, 0x10},
                      FlagsRow {0, 1, 1, 0, false, 0x10}));

TEST_F(DisplayTest, PageFileHoldsThePageExactlyAndStaysBehind)
{
    EXPECT_EQ(DisplayTopic(help.c_str(), "k", "/html/page.htm"), 1);
    ASSERT_EQ(host.tempNames.size(), 1u);
    ASSERT_EQ(host.CallsOf("MakeTempName")[0].Text(1), "VLKT");
    std::string file = Slashed(host.tempNames[0] + "\\velkory.txt");
    EXPECT_EQ(Opened().Text(0), file);
    EXPECT_EQ(Opened().Text(0).find('\\'), std::string::npos);
    std::vector<uint8_t> written = ReadBytes(file);
    EXPECT_EQ(std::string(written.begin(), written.end()), PageBytes);

    // An empty page gives an empty file, which is opened.
    host.ClearLog();
    EXPECT_EQ(DisplayTopic(help.c_str(), "k", "/empty.htm"), 1);
    EXPECT_TRUE(Opened().fileExisted);
    EXPECT_EQ(Opened().fileContent, "");
}

TEST_F(DisplayTest, EachRequestMakesItsOwnDirectory)
{
    EXPECT_EQ(DisplayTopic(help.c_str(), "k", "/html/page.htm"), 1);
    EXPECT_EQ(DisplayTopic(help.c_str(), "k", "/stored.htm"), 1);
    ASSERT_EQ(host.tempNames.size(), 2u);
    EXPECT_NE(host.tempNames[0], host.tempNames[1]);
    std::vector<uint8_t> first = ReadBytes(host.tempNames[0] + "/velkory.txt");
    std::vector<uint8_t> second = ReadBytes(host.tempNames[1] + "/velkory.txt");
    EXPECT_EQ(std::string(first.begin(), first.end()), PageBytes);
    EXPECT_EQ(std::string(second.begin(), second.end()), "stored");
}

TEST_F(DisplayTest, MissingPageOrHelpFileLeavesTheEmptyDirectory)
{
    // Names are exact: a difference in case is a different name.
    EXPECT_EQ(DisplayTopic(help.c_str(), "k", "/HTML/page.htm"), 0);
    EXPECT_EQ(DisplayTopic(help.c_str(), "k", "/nothing.htm"), 0);
    EXPECT_EQ(DisplayTopic(host.Path("gone.chm").c_str(), "k", "/html/page.htm"), 0);
    ASSERT_EQ(host.tempNames.size(), 3u);
    for (const std::string& dir : host.tempNames)
        EXPECT_TRUE(IsEmptyDirectory(dir)) << dir;
    EXPECT_EQ(host.Count("ControlHost") + host.Count("OpenViewer") + host.Count("OpenEditor"), 0u);
}

TEST_F(DisplayTest, DirectoryThatCannotBeCreatedGivesZero)
{
    // An existing directory of that name.
    fs::create_directory(host.Path("taken"));
    host.tempNameOverride = host.Path("taken");
    EXPECT_EQ(DisplayTopic(help.c_str(), "k", "/html/page.htm"), 0);
    EXPECT_FALSE(fs::exists(host.Path("taken/velkory.txt")));
    // A parent that does not exist.
    host.tempNameOverride = host.Path("no/such/VLKT1");
    EXPECT_EQ(DisplayTopic(help.c_str(), "k", "/html/page.htm"), 0);
    EXPECT_EQ(host.Count("OpenViewer") + host.Count("OpenEditor") + host.Count("ControlHost"), 0u);
}

TEST_F(DisplayTest, TemporaryNameMustLeaveRoomForThePageFile)
{
    // 247 characters + "\velkory.txt" + NUL fill the 260 bytes exactly.
    std::string base = host.tempDir + "/VLKT";
    std::string fits = base + std::string(247 - base.size(), 'f');
    std::string tooLong = base + std::string(248 - base.size(), 'g');
    host.tempNameOverride = tooLong;
    EXPECT_EQ(DisplayTopic(help.c_str(), "k", "/html/page.htm"), 0);
    // Checked before the directory is made: nothing is left behind.
    EXPECT_FALSE(fs::exists(tooLong));

    host.tempNameOverride = fits;
    EXPECT_EQ(DisplayTopic(help.c_str(), "k", "/html/page.htm"), 1);
    EXPECT_EQ(Opened().Text(0), Slashed(fits + "\\velkory.txt"));
    EXPECT_EQ(Opened().fileContent, PageBytes);
}

TEST_F(DisplayTest, CompressedPageIsDecompressedForTheDisplay)
{
    std::vector<StoredFile> files;
    std::string big;
    for (int i = 0; big.size() < 200000; ++i)
        big += "<li>line " + std::to_string(i * 7919 % 100003) + "</li>\n";
    files.push_back({"/a.htm", Bytes("first"), 1});
    files.push_back({"/big.htm", Bytes(big), 1});
    std::string path = Write("big.chm", MakeHelpFile(files));
    EXPECT_EQ(DisplayTopic(path.c_str(), "k", "/big.htm"), 1);
    EXPECT_EQ(Opened().fileContent, big);
}

namespace {

// A directory on a filesystem of 8 KB. On Linux the test mounts a tmpfs of
// its own (as root; a refused mount fails the test when run as root and skips
// it otherwise). Under wine, the test script mounts one and names it in
// VELKORY_SMALL_DISK.
constexpr size_t SmallDiskSize = 8192;

class SmallDiskTest : public DisplayTest {
protected:
    void SetUp() override
    {
        DisplayTest::SetUp();
#if defined(_WIN32)
        const char* given = getenv("VELKORY_SMALL_DISK");
        if (given == nullptr || *given == '\0')
            GTEST_SKIP() << "VELKORY_SMALL_DISK does not name a directory on a small disk";
        disk = given;
#else
        disk = host.Path("disk");
        fs::create_directory(disk);
        if (mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=8k") != 0) {
            std::string why = std::string("cannot mount a tmpfs: ") + strerror(errno);
            if (geteuid() == 0)
                FAIL() << why << " (running as root, where the mount must work)";
            GTEST_SKIP() << why << " (not root)";
        }
        mounted = true;
#endif
    }
    void TearDown() override
    {
#if !defined(_WIN32)
        if (mounted)
            umount2(disk.c_str(), MNT_DETACH);
#else
        std::error_code ec;
        if (!disk.empty())
            for (const fs::directory_entry& entry : fs::directory_iterator(disk, ec))
                fs::remove_all(entry.path(), ec);
#endif
        DisplayTest::TearDown();
    }
    std::string disk;
    bool mounted = false;
};

struct CutRow {
    size_t freeBytes, pageSize;
};

class CutPageTest : public SmallDiskTest, public ::testing::WithParamInterface<CutRow> { };

}  // namespace

TEST_P(CutPageTest, PageNotWrittenWholeIsRemovedAndTheRequestFails)
{
    const CutRow& row = GetParam();
    std::string page(row.pageSize, 'p');
    std::string path = Write("cut.chm", MakeHelpFile({{"/page.htm", Bytes(page), 1}}));
    ASSERT_TRUE(WriteBytes(disk + "/filler", std::vector<uint8_t>(SmallDiskSize - row.freeBytes)));
    host.tempNameOverride = disk + "/VLKT1";

    EXPECT_EQ(DisplayTopic(path.c_str(), "k", "/page.htm"), 0);
    EXPECT_FALSE(fs::exists(disk + "/VLKT1/velkory.txt"));
    EXPECT_EQ(host.Count("OpenViewer") + host.Count("OpenEditor"), 0u);

    // The same page is written whole once there is room.
    fs::remove(disk + "/filler");
    host.tempNameOverride = disk + "/VLKT2";
    EXPECT_EQ(DisplayTopic(path.c_str(), "k", "/page.htm"), 1);
    EXPECT_EQ(Opened().fileContent, page);
}

// A page larger than the room left fails in fwrite, part written; a small
// page on a full disk fails only when fclose flushes it.
INSTANTIATE_TEST_SUITE_P(ShortWriteAndFailedFlush, CutPageTest,
                         ::testing::Values(CutRow {4096, 6000}, CutRow {0, 100}));
