// CreateDirectoryA and the bounds of the lstr* functions.
#include "platform_test_support.h"

#include <cstring>

namespace {

class KernelTest : public PlatformTest { };

TEST_F(KernelTest, CreateDirectoryMakesOneNewPrivateDirectory)
{
    std::string path = dir + "/VLKT1234";
    ASSERT_TRUE(CreateDirectoryA(path.c_str(), nullptr));
    struct stat info;
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode));
    EXPECT_EQ(info.st_mode & 0777, 0700u);

    // Anything already at the path, or a missing parent, is a failure.
    EXPECT_FALSE(CreateDirectoryA(path.c_str(), nullptr));
    WriteWholeFile(dir + "/file", "x");
    EXPECT_FALSE(CreateDirectoryA((dir + "/file").c_str(), nullptr));
    ASSERT_EQ(symlink("nowhere", (dir + "/dangling").c_str()), 0);
    EXPECT_FALSE(CreateDirectoryA((dir + "/dangling").c_str(), nullptr));
    EXPECT_FALSE(CreateDirectoryA((dir + "/missing/child").c_str(), nullptr));
    EXPECT_FALSE(PathExists(dir + "/missing"));
    EXPECT_FALSE(CreateDirectoryA(nullptr, nullptr));
    EXPECT_FALSE(CreateDirectoryA("", nullptr));
}

TEST(TextFunctions, CopyNStopsOneShortOfTheLimitAndAlwaysTerminates)
{
    char dest[8];
    memset(dest, 'x', sizeof dest);
    EXPECT_EQ(lstrcpynA(dest, "abcdef", 4), dest);
    EXPECT_STREQ(dest, "abc");
    EXPECT_EQ(dest[4], 'x');

    memset(dest, 'x', sizeof dest);
    lstrcpynA(dest, "abcdef", 1);
    EXPECT_EQ(dest[0], '\0');
    EXPECT_EQ(dest[1], 'x');

    lstrcpynA(dest, "ab", 8);
    EXPECT_STREQ(dest, "ab");
    lstrcpynA(dest, "abcdefg", 8);
    EXPECT_STREQ(dest, "abcdefg");

    // A limit of 0 or less writes nothing at all.
    memset(dest, 'x', sizeof dest);
    EXPECT_EQ(lstrcpynA(dest, "abc", 0), dest);
    EXPECT_EQ(lstrcpynA(dest, "abc", -1), dest);
    EXPECT_EQ(lstrcpynA(dest, "abc", -2147483647 - 1), dest);
    for (char c : dest)
        EXPECT_EQ(c, 'x');

    EXPECT_EQ(lstrcpynA(nullptr, "abc", 4), nullptr);
    EXPECT_EQ(lstrcpynA(dest, nullptr, 4), nullptr);
}

TEST(TextFunctions, CopyAppendAndLengthTakeNullWithoutFaulting)
{
    char dest[16] = "";
    EXPECT_EQ(lstrcpyA(dest, "abc"), dest);
    EXPECT_EQ(lstrcatA(dest, "\\velkory"), dest);
    EXPECT_STREQ(dest, "abc\\velkory");
    EXPECT_EQ(lstrlenA(dest), 11);
    EXPECT_EQ(lstrlenA(""), 0);

    EXPECT_EQ(lstrlenA(nullptr), 0);
    EXPECT_EQ(lstrcpyA(nullptr, "abc"), nullptr);
    EXPECT_EQ(lstrcpyA(dest, nullptr), nullptr);
    EXPECT_EQ(lstrcatA(nullptr, "abc"), nullptr);
    EXPECT_EQ(lstrcatA(dest, nullptr), nullptr);
    EXPECT_STREQ(dest, "abc\\velkory");
}

}  // namespace
