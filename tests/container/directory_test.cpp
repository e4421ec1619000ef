// The container header and directory: encoded integers, the walk over the
// listing chunks, names, lookups, and damaged directory headers.
#include "container_test_support.h"

#include <cstring>

namespace {

RawEntry Entry(const std::string& name, uint64_t section, uint64_t offset, uint64_t length)
{
    RawEntry entry;
    entry.name = name;
    entry.section = section;
    entry.offset = offset;
    entry.length = length;
    return entry;
}

std::vector<std::string> DirectoryNames(HelpFile* file)
{
    std::vector<std::string> names;
    for (int32_t i = 0; i < DirectoryCount(file); i++)
        names.push_back(DirectoryAt(file, i)->Name);
    return names;
}

// Three chunks of two entries each, with section-0 files "/a0".."/c1" whose
// bytes are their own names.
ContainerLayout ThreeChunks()
{
    ContainerLayout layout;
    layout.chunkSize = 128;
    layout.chunks.resize(3);
    const char* names[3][2] = {{"/a0", "/a1"}, {"/b0", "/b1"}, {"/c0", "/c1"}};
    for (int c = 0; c < 3; c++) {
        for (const char* name : names[c]) {
            layout.chunks[c].entries.push_back(Entry(name, 0, layout.content.size(), 3));
            layout.content.insert(layout.content.end(), name, name + 3);
        }
    }
    return layout;
}

}  // namespace

TEST(ContainerDirectory, EncodedIntegersKeepTheirLow32Bits)
{
    struct Case {
        std::vector<uint8_t> bytes;
        uint32_t value;
        uint8_t wide;  // the value does not fit in 32 bits
    } cases[] = {
        {{0x05}, 5, 0},
        {{0x81, 0x00}, 128, 0},
        {{0x82, 0x80, 0x00}, 32768, 0},
        {{0x8F, 0xFF, 0xFF, 0xFF, 0x7F}, 0xFFFFFFFF, 0},        // 2^32 - 1
        {{0x90, 0x80, 0x80, 0x80, 0x05}, 5, 1},                 // 2^32 + 5
        {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F}, 0xFFFFFFFF, 1},  // 2^42 - 1
        {{0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x07}, 7, 0},
    };
    for (const Case& c : cases) {
        const uint8_t* cursor = c.bytes.data();
        uint8_t wide = 0;
        EXPECT_EQ(ReadEncodedInt(&cursor, c.bytes.data() + c.bytes.size(), &wide), c.value);
        EXPECT_EQ(cursor, c.bytes.data() + c.bytes.size());
        EXPECT_EQ(wide, c.wide) << c.value;
    }
    const uint8_t unterminated[] = {0x81, 0x82};
    const uint8_t* cursor = unterminated;
    ReadEncodedInt(&cursor, unterminated + 2);
    EXPECT_EQ(cursor, nullptr);
}

TEST(ContainerDirectory, ChunksAreReadAlongTheirChainInDirectoryOrder)
{
    ContainerLayout layout = ThreeChunks();
    layout.chunks[0].next = 2;  // 0 -> 2 -> 1
    layout.chunks[2].next = 1;
    layout.chunks[1].next = -1;
    TempHelpFile temp(BuildContainer(layout));
    OpenedHelpFile help(temp.path());
    ASSERT_NE(help.file, nullptr);
    EXPECT_EQ(DirectoryNames(help.file),
              (std::vector<std::string> {"/a0", "/a1", "/c0", "/c1", "/b0", "/b1"}));
    EXPECT_EQ(Extract(help.file, "/c1"), Bytes("/c1"));
    EXPECT_EQ(DirectoryAt(help.file, -1), nullptr);
    EXPECT_EQ(DirectoryAt(help.file, 6), nullptr);
}

TEST(ContainerDirectory, TheChainEndsAtMinusOneOrAfterChunkCountChunks)
{
    {
        ContainerLayout layout = ThreeChunks();
        layout.chunks[0].next = -1;
        TempHelpFile temp(BuildContainer(layout));
        OpenedHelpFile help(temp.path());
        EXPECT_EQ(DirectoryNames(help.file), (std::vector<std::string> {"/a0", "/a1"}));
    }
    {
        // 0 -> 1 -> 0 -> ...: three chunks read, chunk 0's entries twice; the
        // first copy is found.
        ContainerLayout layout = ThreeChunks();
        layout.chunks[1].next = 0;
        layout.chunks[1].entries[0] = Entry("/a0", 0, 12, 3);  // a second "/a0", holding "/c0"
        TempHelpFile temp(BuildContainer(layout));
        OpenedHelpFile help(temp.path());
        EXPECT_EQ(DirectoryNames(help.file),
                  (std::vector<std::string> {"/a0", "/a1", "/a0", "/b1", "/a0", "/a1"}));
        EXPECT_EQ(Extract(help.file, "/a0"), Bytes("/a0"));
        EXPECT_EQ(Extract(help.file, "/c0"), std::nullopt);
    }
    {
        // A chain that loops with a chunk count in the billions stops after as
        // many chunks as the file can hold.
        ContainerLayout layout = ThreeChunks();
        layout.chunks[0].next = 0;
        layout.chunkCount = 0xFFFFFFFF;
        TempHelpFile temp(BuildContainer(layout));
        OpenedHelpFile help(temp.path());
        ASSERT_NE(help.file, nullptr);
        EXPECT_GE(DirectoryCount(help.file), 6);
        EXPECT_LE(DirectoryCount(help.file), 20);
        EXPECT_EQ(Extract(help.file, "/a1"), Bytes("/a1"));
    }
}

TEST(ContainerDirectory, FreeAreaLengthsBoundTheEntryArea)
{
    ContainerLayout layout = ThreeChunks();
    layout.chunks[0].freeLength = 128 - 20;      // the whole body is free: no entries
    layout.chunks[1].freeLength = 128 - 20 + 1;  // more than the body: no entries, the walk goes on
    TempHelpFile temp(BuildContainer(layout));
    OpenedHelpFile help(temp.path());
    EXPECT_EQ(DirectoryNames(help.file), (std::vector<std::string> {"/c0", "/c1"}));
}

TEST(ContainerDirectory, NamesAreStoredWholeAndComparedExactly)
{
    std::string name128(128, 'm');
    std::string name255(255, 'x'), name256(256, 'y');
    name255[0] = name256[0] = '/';
    ContainerLayout layout;
    layout.content = Bytes("0123456789");
    layout.entries = {Entry("/#TOPICS", 0, 0, 2),
                      Entry(name128, 0, 2, 2),
                      Entry(name256, 0, 0, 10),
                      Entry(name255, 0, 4, 2),
                      Entry("/dup", 0, 6, 2),
                      Entry("/dup", 0, 8, 2),
                      Entry(std::string("/nul\0tail", 9), 0, 0, 1)};
    TempHelpFile temp(BuildContainer(layout));
    OpenedHelpFile help(temp.path());
    ASSERT_NE(help.file, nullptr);
    // The 256-byte name is skipped; the entries behind it are still read.
    EXPECT_EQ(DirectoryNames(help.file),
              (std::vector<std::string> {"/#TOPICS", name128, name255, "/dup", "/dup", "/nul"}));
    const DirectoryEntry* longest = FindDirectoryEntry(name255.c_str(), help->Entries);
    ASSERT_NE(longest, nullptr);
    EXPECT_EQ(longest->Name[255], '\0');
    EXPECT_EQ(Extract(help.file, name255), Bytes("45"));
    EXPECT_EQ(Extract(help.file, name128), Bytes("23"));
    EXPECT_EQ(Extract(help.file, name256), std::nullopt);
    EXPECT_EQ(Extract(help.file, "/#topics"), std::nullopt);
    EXPECT_EQ(Extract(help.file, "/#TOPICS"), Bytes("01"));
    EXPECT_EQ(Extract(help.file, "/dup"), Bytes("67"));
    // The stored bytes are kept as they are; every byte after them is zero.
    const DirectoryEntry* nul = DirectoryAt(help.file, 5);
    EXPECT_EQ(std::string(nul->Name, 9), std::string("/nul\0tail", 9));
    for (size_t i = 9; i < sizeof nul->Name; i++)
        EXPECT_EQ(nul->Name[i], '\0') << i;
}

TEST(ContainerDirectory, FieldsAboveThirtyTwoBitsKeepTheirLowBitsAndAreNotExtracted)
{
    ContainerLayout layout;
    layout.content = Bytes("abcdef");
    layout.entries = {Entry("/wide", (1ull << 40), (7ull << 33) + 2, (1ull << 35) + 3)};
    TempHelpFile temp(BuildContainer(layout));
    OpenedHelpFile help(temp.path());
    ASSERT_EQ(DirectoryCount(help.file), 1);
    EXPECT_EQ(DirectoryAt(help.file, 0)->Section, 0u);
    EXPECT_EQ(DirectoryAt(help.file, 0)->Offset, 2u);
    EXPECT_EQ(DirectoryAt(help.file, 0)->Length, 3u);
    EXPECT_EQ(DirectoryAt(help.file, 0)->Wide, 1);
    // Cut to their low bits the fields would name "cde": a file that is not there.
    EXPECT_EQ(Extract(help.file, "/wide"), std::nullopt);
    EXPECT_EQ(help->LastError, ContainerPastLimits);
}

TEST(ContainerDirectory, ContentOffsetComesFromBytes88To91WhateverTheHeaderLength)
{
    ContainerLayout layout;
    layout.content = Bytes("xyz");
    layout.entries = {Entry("/f", 0, 1, 2)};
    std::vector<uint8_t> bytes = BuildContainer(layout);
    bytes[8] = 0x58;  // a header length of 88 bytes, as older containers have
    uint32_t contentOffset = ReadLE32(&bytes[88]);
    TempHelpFile temp(bytes);
    OpenedHelpFile help(temp.path());
    EXPECT_EQ(help->ContentOffset, contentOffset);
    EXPECT_EQ(Extract(help.file, "/f"), Bytes("yz"));

    // A file that ends inside the header opens with no directory at all.
    for (size_t length : {0, 60, 90, 100}) {
        TempHelpFile shortFile(std::vector<uint8_t>(bytes.begin(), bytes.begin() + length));
        OpenedHelpFile shortHelp(shortFile.path());
        ASSERT_NE(shortHelp.file, nullptr) << length;
        EXPECT_EQ(DirectoryCount(shortHelp.file), 0);
        EXPECT_EQ(shortHelp->Sections, nullptr);
        EXPECT_EQ(Extract(shortHelp.file, "/f"), std::nullopt);
    }
}

TEST(ContainerDirectory, DamagedDirectoryHeadersShortenTheDirectory)
{
    auto namesOf = [](const ContainerLayout& layout) {
        TempHelpFile temp(BuildContainer(layout));
        OpenedHelpFile help(temp.path());
        EXPECT_NE(help.file, nullptr);
        return DirectoryNames(help.file);
    };
    ContainerLayout none = ThreeChunks();
    none.chunkCount = 0;
    EXPECT_TRUE(namesOf(none).empty());

    // The chunk size times the chunk count passes 32 bits; the walk reads the
    // chunks that are in the file.
    ContainerLayout overflow = ThreeChunks();
    overflow.chunkCount = 0x02000001;
    EXPECT_EQ(namesOf(overflow).size(), 6u);

    // Chunk sizes that cannot hold a chunk header, or that pass the file's end.
    for (uint32_t size : {0u, 19u}) {
        std::vector<uint8_t> bytes = BuildContainer(ThreeChunks());
        uint32_t directory = ReadLE32(&bytes[72]);
        bytes[directory + 16] = (uint8_t)size;
        bytes[directory + 17] = 0;
        TempHelpFile temp(bytes);
        OpenedHelpFile help(temp.path());
        EXPECT_EQ(DirectoryCount(help.file), 0) << size;
    }
    {
        std::vector<uint8_t> bytes = BuildContainer(ThreeChunks());
        uint32_t directory = ReadLE32(&bytes[72]);
        bytes[directory + 19] = 0x80;  // chunk size above 2 GiB: chunk 0 runs to the file's end
        TempHelpFile temp(bytes);
        OpenedHelpFile help(temp.path());
        ASSERT_NE(help.file, nullptr);
        ASSERT_GE(DirectoryCount(help.file), 2);
        EXPECT_STREQ(DirectoryAt(help.file, 1)->Name, "/a1");
    }
    {
        // The directory offset lies beyond the file's end.
        std::vector<uint8_t> bytes = BuildContainer(ThreeChunks());
        bytes[75] = 0x7F;
        TempHelpFile temp(bytes);
        OpenedHelpFile help(temp.path());
        ASSERT_NE(help.file, nullptr);
        EXPECT_EQ(DirectoryCount(help.file), 0);
    }
    {
        // A file cut inside chunk 1: chunk 0 and the part of chunk 1 that was read.
        ContainerLayout cut = ThreeChunks();
        std::vector<uint8_t> bytes = BuildContainer(cut);
        uint32_t directory = ReadLE32(&bytes[72]);
        cut.truncateTo = directory + 84 + 128 + 20 + 7;  // chunk 1's header and "/b0" whole
        EXPECT_EQ(namesOf(cut), (std::vector<std::string> {"/a0", "/a1", "/b0"}));
    }
}

TEST(ContainerDirectory, EntriesThatRunPastTheDataReadAreDropped)
{
    auto namesWithTrailing = [](const std::string& trailing) {
        ContainerLayout layout = ThreeChunks();
        layout.chunks.resize(1);
        layout.chunks[0].trailing = trailing;
        TempHelpFile temp(BuildContainer(layout));
        OpenedHelpFile help(temp.path());
        return DirectoryNames(help.file);
    };
    const std::vector<std::string> whole = {"/a0", "/a1"};
    EXPECT_EQ(namesWithTrailing(std::string("\x05/abc", 5)), whole);  // name runs past the end
    EXPECT_EQ(namesWithTrailing(std::string("\x02/x\x00\x80", 5)), whole);  // offset unterminated
    EXPECT_EQ(namesWithTrailing(std::string("\xFF\xFF\xFF\xFF\x0F", 5)),
              whole);  // name length near 2^32
    EXPECT_EQ(namesWithTrailing(std::string("\x80\x80\x80\x80\x80\x80", 6)), whole);
}

TEST(ContainerDirectory, OpeningAMissingFileGivesNone)
{
    EXPECT_EQ(OpenHelpFile("/nonexistent/velkory/none.chm"), nullptr);
    EXPECT_EQ(OpenHelpFile(nullptr), nullptr);
    CloseHelpFile(nullptr);
    EXPECT_EQ(DirectoryCount(nullptr), 0);
}
