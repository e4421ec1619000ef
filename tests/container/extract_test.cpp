// Content sections and extraction: the section table, the uncompressed,
// compressed and cached paths, and every bound a damaged container can break.
#include "container_test_support.h"

#include <filesystem>
#include <functional>
#include <memory>

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
    for (int bits = 15; bits <= 21; bits++)
        for (LzxStreamKind kind : {LzxStreamKind::Encoder, LzxStreamKind::Uncompressed}) {
            SCOPED_TRACE(bits);
            HelpFileOptions options;
            options.windowBits = bits;
            options.stream = kind;
            options.chunkSize = 256;  // several listing chunks
            TempHelpFile temp(MakeHelpFile(files, options));
            OpenedHelpFile help(temp.path());
            ASSERT_NE(help.file, nullptr);
            ASSERT_NE(help->Sections, nullptr);
            ASSERT_EQ(help->Sections->Count, 2);
            EXPECT_STREQ(help->Sections->Records[1].Name, "MSCompressed");
            EXPECT_EQ(help->Sections->Records[1].Compressed, 1);
            for (const StoredFile& file : files)
                EXPECT_EQ(Extract(help.file, file.name), file.data) << file.name;
        }
}

namespace {

// A layout from the writer with one change applied, written and opened.
struct Crafted {
    TempHelpFile temp;
    OpenedHelpFile help;
    explicit Crafted(const std::vector<uint8_t>& bytes)
        : temp(bytes)
        , help(temp.path())
    {
    }
    HelpFile* file() const
    {
        return help.file;
    }
};

std::vector<uint8_t> WithEntry(const std::vector<StoredFile>& files, const HelpFileOptions& options,
                               const std::function<void(ContainerLayout&)>& change)
{
    ContainerLayout layout = HelpFileLayout(files, options);
    change(layout);
    return BuildContainer(layout);
}

std::vector<uint8_t> ResetTableFor(uint64_t uncompressed, uint64_t compressed)
{
    return ResetTableBytes(uncompressed, compressed, {0});
}

}  // namespace

TEST(ContainerExtract, CompressedSectionIsServedFromTheCacheWithoutReadingTheFile)
{
    std::vector<StoredFile> files = SampleFiles();
    TempHelpFile temp(MakeHelpFile(files));
    OpenedHelpFile help(temp.path());
    EXPECT_EQ(Extract(help.file, "/#TOPICS"), files[0].data);
    ASSERT_NE(help->Sections->Records[1].Data, nullptr);
    EXPECT_EQ(help->Sections->Records[1].DataLength, 1000u + 17 + 200000);

    // With the file emptied, only the cache can still answer (the 200 kB
    // Content file cannot come out of the stream's buffer).
    std::filesystem::resize_file(temp.path(), 0);
    EXPECT_EQ(Extract(help.file, "/html/big.htm"), files[5].data);
    EXPECT_EQ(Extract(help.file, "/#TOPICS"), files[0].data);
}

TEST(ContainerExtract, AFailedDecompressionIsRepeatedFromTheControlDataOn)
{
    std::vector<StoredFile> files = SampleFiles();
    std::vector<uint8_t> good = MakeHelpFile(files);
    // The same container with the compressed stream's first block type made 7.
    std::vector<uint8_t> bad = good;
    {
        TempHelpFile probe(good);
        OpenedHelpFile help(probe.path());
        const DirectoryEntry* content = FindDirectoryEntry(ContentName().c_str(), help->Entries);
        ASSERT_NE(content, nullptr);
        bad[help->ContentOffset + content->Offset + 1] |= 0x70;
    }
    TempHelpFile temp(bad);
    OpenedHelpFile help(temp.path());
    EXPECT_EQ(Extract(help.file, "/#TOPICS"), std::nullopt);
    EXPECT_EQ(help->Sections->Records[1].Data, nullptr);
    EXPECT_EQ(Extract(help.file, "/#TOPICS"), std::nullopt);
    // Mend the file under the open container: the next extraction decodes again.
    temp.Write(good);
    EXPECT_EQ(Extract(help.file, "/html/page.htm"), files[2].data);
    EXPECT_NE(help->Sections->Records[1].Data, nullptr);
}

TEST(ContainerExtract, WindowCodesMapToWindowBits)
{
    // The stream restarts at every window-full boundary of its own window, so
    // only the right window size decodes the 300 kB section.
    std::vector<uint8_t> text;
    while (text.size() < 300000) {
        std::vector<uint8_t> line =
            Bytes("line " + std::to_string(text.size() % 7919) + " of the help text\n");
        text.insert(text.end(), line.begin(), line.end());
    }
    std::vector<StoredFile> files = {{"/f", text, 1}};
    const std::pair<uint32_t, int> table[] = {{1, 15},  {2, 16},  {4, 17}, {8, 18},
                                              {16, 19}, {32, 20}, {64, 21}};
    for (auto [code, bits] : table) {
        HelpFileOptions options;
        options.windowBits = bits;
        options.controlDataBytes = ControlDataBytes(code);
        Crafted crafted(MakeHelpFile(files, options));
        EXPECT_EQ(Extract(crafted.file(), "/f"), text) << code;
    }
    for (uint32_t code : {0u, 3u, 128u, 0xFFFFFFFFu}) {
        HelpFileOptions options;
        options.controlDataBytes = ControlDataBytes(code);
        Crafted crafted(MakeHelpFile(files, options));
        EXPECT_EQ(Extract(crafted.file(), "/f"), std::nullopt) << code;
        EXPECT_EQ(crafted.file()->Sections->Records[1].Data, nullptr);
    }
}

TEST(ContainerExtract, SectionNamesAndBaseOffsets)
{
    // A section named "mscompressed" is not the compressed one: its files are
    // read as they are from its Content file on.
    std::vector<uint8_t> raw = Pattern(64, 4);
    HelpFileOptions options;
    options.sectionNames = {"Uncompressed", "mscompressed"};
    options.contentBytes = raw;
    Crafted lower(
        MakeHelpFile({{"/e", std::vector<uint8_t>(raw.begin(), raw.begin() + 10), 1},
                      {"/f", std::vector<uint8_t>(raw.begin() + 10, raw.begin() + 30), 1}},
                     options));
    ASSERT_NE(lower.file()->Sections, nullptr);
    EXPECT_EQ(lower.file()->Sections->Records[1].Compressed, 0);
    EXPECT_EQ(Extract(lower.file(), "/f"),
              std::vector<uint8_t>(raw.begin() + 10, raw.begin() + 30));

    // Section 0 keeps base offset 0 although a Content file is named after it;
    // section 2's base is the later of two Content entries, while a lookup by
    // that name finds the earlier one.
    HelpFileOptions three;
    three.sectionNames = {"Uncompressed", "MSCompressed", "Plain"};
    std::vector<StoredFile> files = {{"/zero", Bytes("ZERO"), 0}, {"/one", Bytes("one"), 1}};
    Crafted crafted(WithEntry(files, three, [](ContainerLayout& layout) {
        size_t first = layout.content.size();
        std::vector<uint8_t> early = Bytes("early-"), late = Bytes("late-plain");
        layout.content.insert(layout.content.end(), early.begin(), early.end());
        layout.content.insert(layout.content.end(), late.begin(), late.end());
        layout.entries.push_back({ContentName("Uncompressed"), 0, 3, 1, {}});
        layout.entries.push_back({ContentName("Plain"), 0, first, 6, {}});
        layout.entries.push_back({"/two", 2, 5, 5, {}});
        layout.entries.push_back({ContentName("Plain"), 0, first + 6, 10, {}});
    }));
    HelpFile* file = crafted.file();
    ASSERT_NE(file->Sections, nullptr);
    ASSERT_EQ(file->Sections->Count, 3);
    EXPECT_EQ(file->Sections->Records[0].BaseOffset, 0u);
    EXPECT_EQ(Extract(file, "/zero"), Bytes("ZERO"));
    EXPECT_EQ(Extract(file, "/one"), Bytes("one"));
    EXPECT_EQ(Extract(file, ContentName("Plain")), Bytes("early-"));
    EXPECT_EQ(Extract(file, "/two"), Bytes("plain"));
}

TEST(ContainerExtract, TheNameListIsReadAsStoredWhateverSectionItNames)
{
    std::vector<StoredFile> files = SampleFiles();
    Crafted crafted(WithEntry(files, HelpFileOptions(), [](ContainerLayout& layout) {
        FindRawEntry(layout, "::DataSpace/NameList")->section = 1;
    }));
    ASSERT_NE(crafted.file()->Sections, nullptr);
    EXPECT_EQ(crafted.file()->Sections->Count, 2);
    EXPECT_EQ(Extract(crafted.file(), "/html/page.htm"), files[2].data);
}

TEST(ContainerExtract, DamagedNameListsLeaveOnlyTheSectionsTheyHoldWhole)
{
    std::vector<StoredFile> files = {{"/zero", Bytes("zero"), 0}, {"/one", Bytes("one"), 1}};
    auto open = [&](std::optional<std::vector<uint8_t>> nameList, bool present = true) {
        HelpFileOptions options;
        options.nameList = present;
        options.nameListBytes = nameList;
        return std::make_unique<Crafted>(MakeHelpFile(files, options));
    };
    std::vector<uint8_t> full = NameListBytes({"Uncompressed", "MSCompressed"});
    std::vector<uint8_t> longName =
        NameListBytes({"Uncompressed", std::string(256, 'L'), "MSCompressed"});
    std::vector<std::pair<std::unique_ptr<Crafted>, int>> cases;
    cases.emplace_back(open(std::nullopt, false), 0);             // missing
    cases.emplace_back(open(std::vector<uint8_t> {0, 0, 2}), 0);  // 3 bytes
    cases.emplace_back(open(NameListBytes({})), 0);               // no section
    cases.emplace_back(open(std::vector<uint8_t>(full.begin(), full.end() - 1)),
                       1);                  // cut in record 1
    cases.emplace_back(open(longName), 1);  // 256 characters
    cases.emplace_back(open(NameListBytes({"Uncompressed", "MSCompressed", "Third"})), 3);  // whole
    for (size_t i = 0; i < cases.size(); i++) {
        HelpFile* file = cases[i].first->file();
        int sections = cases[i].second;
        SCOPED_TRACE(i);
        if (sections == 0) {
            EXPECT_EQ(file->Sections, nullptr);
        } else {
            ASSERT_NE(file->Sections, nullptr);
            EXPECT_EQ(file->Sections->Count, sections);
        }
        // Section 0 is always read; section 1 only when the table knows it.
        EXPECT_EQ(Extract(file, "/zero"), Bytes("zero"));
        EXPECT_EQ(Extract(file, "/one"),
                  sections >= 2 ? std::optional(Bytes("one")) : std::nullopt);
    }
    // A stored terminator that is not NUL still ends the name.
    std::vector<uint8_t> odd = full;
    odd.back() = 'X';
    auto unterminated = open(odd);
    EXPECT_STREQ(unterminated->file()->Sections->Records[1].Name, "MSCompressed");
}

TEST(ContainerExtract, BrokenCompressedSectionFilesFailCleanly)
{
    std::vector<StoredFile> files = SampleFiles();
    struct Case {
        std::string what;
        std::function<void(ContainerLayout&)> layout;
        std::optional<std::vector<uint8_t>> resetTable = std::nullopt;
    };
    // The section holds 201350 bytes; its stream is a little longer.
    std::vector<Case> cases = {
        {"ControlData missing",
         [](ContainerLayout& l) { FindRawEntry(l, ControlDataName())->name = "x"; }},
        {"ControlData of 19 bytes",
         [](ContainerLayout& l) { FindRawEntry(l, ControlDataName())->length = 19; }},
        {"magic LZXX",
         [](ContainerLayout& l) {
             l.content[FindRawEntry(l, ControlDataName())->offset + 7] = 'X';
         }},
        {"ResetTable missing",
         [](ContainerLayout& l) { FindRawEntry(l, ResetTableName())->name = "x"; }},
        {"ResetTable of 27 bytes",
         [](ContainerLayout& l) { FindRawEntry(l, ResetTableName())->length = 27; }},
        {"Content missing", [](ContainerLayout& l) { FindRawEntry(l, ContentName())->name = "x"; }},
        {"Content shorter than the compressed length",
         [](ContainerLayout& l) { FindRawEntry(l, ContentName())->length -= 1; }},
        {"Content past the file's end",
         [](ContainerLayout& l) { FindRawEntry(l, ContentName())->offset += 1u << 20; }},
        {"ControlData in the compressed section",
         [](ContainerLayout& l) { FindRawEntry(l, ControlDataName())->section = 1; }},
        {"ResetTable in the compressed section",
         [](ContainerLayout& l) { FindRawEntry(l, ResetTableName())->section = 1; }},
        {"Content in the compressed section",
         [](ContainerLayout& l) { FindRawEntry(l, ContentName())->section = 1; }},
        {"uncompressed length past 2^31", {}, ResetTableFor(0x80000000u, 100)},
        {"uncompressed length no stream can reach", {}, ResetTableFor(0x7FFFFFF0u, 200)},
        {"compressed length past 2^31", {}, ResetTableFor(201350, 0x80000000u)},
        {"file past the section's end",
         [](ContainerLayout& l) { FindRawEntry(l, "/#TOPICS")->offset = 201350 - 999; }},
        {"file offset wraps 32 bits",
         [](ContainerLayout& l) {
             FindRawEntry(l, "/#TOPICS")->offset = 0xFFFFFF00u;
             FindRawEntry(l, "/#TOPICS")->length = 0x200;
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        HelpFileOptions options;
        options.resetTableBytes = c.resetTable;
        ContainerLayout layout = HelpFileLayout(files, options);
        if (c.layout)
            c.layout(layout);
        Crafted crafted(BuildContainer(layout));
        EXPECT_EQ(Extract(crafted.file(), "/#TOPICS"), std::nullopt);
        EXPECT_EQ(Extract(crafted.file(), "/#TOPICS"), std::nullopt);
        EXPECT_EQ(crafted.file()->Sections->Records[1].Data, nullptr);
        EXPECT_EQ(Extract(crafted.file(), "/#SYSTEM"), files[1].data);
    }
}

TEST(ContainerExtract, FilesOutsideTheirSectionOrTheFileFail)
{
    std::vector<StoredFile> files = SampleFiles();
    Crafted crafted(WithEntry(files, HelpFileOptions(), [](ContainerLayout& l) {
        l.entries.push_back({"/section5", 5, 0, 1, {}});
        l.entries.push_back({"/past-section", 1, 201000, 351, {}});
        l.entries.push_back({"/wrapping", 1, 0xFFFFFFF0u, 0x20, {}});
        l.entries.push_back({"/past-file", 0, 0xFFFFFF00u, 0x10, {}});
        l.entries.push_back({"/long-in-file", 0, 0, 0xFFFFFFFFu, {}});
        l.entries.push_back({"/section-end", 1, 201017, 0, {}});
    }));
    HelpFile* file = crafted.file();
    for (int round = 0; round < 2; round++) {  // before and after the section is cached
        SCOPED_TRACE(round);
        for (const char* name :
             {"/section5", "/past-section", "/wrapping", "/past-file", "/long-in-file"})
            EXPECT_EQ(Extract(file, name), std::nullopt) << name;
        EXPECT_EQ(Extract(file, "/section-end"), std::vector<uint8_t>());
        EXPECT_EQ(Extract(file, "/#TOPICS"), files[0].data);
    }
}

TEST(ContainerExtract, AFileCutShortIsNotReportedAsExtracted)
{
    std::vector<StoredFile> files = {{"/head", Bytes("head"), 0}, {"/tail", Pattern(5000, 5), 0}};
    std::vector<uint8_t> bytes = MakeHelpFile(files);
    bytes.pop_back();
    Crafted crafted(bytes);
    EXPECT_EQ(Extract(crafted.file(), "/head"), Bytes("head"));
    EXPECT_EQ(Extract(crafted.file(), "/tail"), std::nullopt);
}

TEST(ContainerExtract, NullArgumentsFail)
{
    Crafted crafted(MakeHelpFile(SampleFiles()));
    uint32_t length = 7;
    uint8_t* data = nullptr;
    EXPECT_EQ(ExtractFile(nullptr, "/#TOPICS", &length, &data), -1);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(ExtractFile(crafted.file(), nullptr, &length, &data), -1);
    EXPECT_EQ(ExtractFile(crafted.file(), "/#TOPICS", nullptr, &data), -1);
    EXPECT_EQ(data, nullptr);
    EXPECT_EQ(ExtractFile(crafted.file(), "/#TOPICS", &length, nullptr), -1);
}
