// Content sections and extraction: the section table, the uncompressed,
// compressed and cached paths, and every bound a damaged container can break.
#include "container_test_support.h"
#include "lzx/lzx.h"
#include "support/lzx_encoder.h"

#include <algorithm>
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
            // Through the reset intervals, without a whole-section decoding.
            EXPECT_GT(help->Sections->Records[1].Lzx->IntervalCount, 0u);
            EXPECT_EQ(help->Sections->Records[1].Data, nullptr);
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

namespace {

// The compressed offsets the ResetTable lists, read through the reader.
std::vector<uint64_t> ResetEntries(HelpFile* file)
{
    std::vector<uint64_t> entries;
    std::optional<std::vector<uint8_t>> table = Extract(file, ResetTableName());
    for (size_t at = 40; table && at + 8 <= table->size(); at += 8)
        entries.push_back(ReadLE32(table->data() + at));
    return entries;
}

// The file offset of the compressed stream's first byte.
uint64_t StreamStart(HelpFile* file)
{
    const DirectoryEntry* content = FindDirectoryEntry(ContentName().c_str(), file->Entries);
    EXPECT_NE(content, nullptr);
    return content ? file->ContentOffset + content->Offset : 0;
}

// The sample files with a reset table that lists the first interval only:
// not to be trusted for a section of four, so the section is decoded whole.
std::vector<uint8_t> WholeSectionSample()
{
    ContainerLayout layout = HelpFileLayout(SampleFiles(), HelpFileOptions());
    RawEntry* content = FindRawEntry(layout, ContentName());
    RawEntry* entry = FindRawEntry(layout, ResetTableName());
    std::vector<uint8_t> table = ResetTableBytes(201017, content->length, {0});
    std::copy(table.begin(), table.end(), layout.content.begin() + entry->offset);
    return BuildContainer(layout);
}

}  // namespace

TEST(ContainerExtract, CompressedSectionIsServedFromTheCacheWithoutReadingTheFile)
{
    std::vector<StoredFile> files = SampleFiles();
    {
        SCOPED_TRACE("whole section");
        TempHelpFile temp(WholeSectionSample());
        OpenedHelpFile help(temp.path());
        EXPECT_EQ(Extract(help.file, "/#TOPICS"), files[0].data) << help->LastError;
        ASSERT_NE(help->Sections->Records[1].Data, nullptr);
        EXPECT_EQ(help->Sections->Records[1].DataLength, 1000u + 17 + 200000);

        // With the file emptied, only the cache can still answer (the 200 kB
        // Content file cannot come out of the stream's buffer).
        std::filesystem::resize_file(temp.path(), 0);
        EXPECT_EQ(Extract(help.file, "/html/big.htm"), files[5].data);
        EXPECT_EQ(Extract(help.file, "/#TOPICS"), files[0].data);
    }
    {
        SCOPED_TRACE("intervals");
        TempHelpFile temp(MakeHelpFile(files));
        OpenedHelpFile help(temp.path());
        // big.htm spans the section's four intervals, which the cache then holds.
        EXPECT_EQ(Extract(help.file, "/html/big.htm"), files[5].data);
        ASSERT_NE(help->Sections->Records[1].Lzx, nullptr);
        EXPECT_EQ(help->Sections->Records[1].Lzx->IntervalCount, 4u);
        EXPECT_EQ(help->Sections->Records[1].Data, nullptr);
        std::filesystem::resize_file(temp.path(), 0);
        EXPECT_EQ(Extract(help.file, "/#TOPICS"), files[0].data);
        EXPECT_EQ(Extract(help.file, "/html/page.htm"), files[2].data);
        EXPECT_EQ(Extract(help.file, "/html/big.htm"), files[5].data);
    }
}

TEST(ContainerExtract, AFailedDecompressionIsRememberedForTheOpenFile)
{
    // The first block type of an interval made 7: by intervals only the files
    // in that interval fail; decoded whole, every file of the section fails.
    // Either way the failure is repeated at once, even after the file is mended.
    std::vector<StoredFile> files = SampleFiles();
    struct Case {
        const char* what;
        std::vector<uint8_t> good;
        size_t interval;
        std::vector<size_t> failing, extracted;
    } cases[] = {
        {"interval 0", MakeHelpFile(files), 0, {0, 2, 5}, {1, 3}},
        {"interval 3", MakeHelpFile(files), 3, {5}, {0, 1, 2, 3}},
        {"whole section", WholeSectionSample(), 0, {0, 2, 5}, {1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> bad = c.good;
        {
            TempHelpFile probe(c.good);
            OpenedHelpFile help(probe.path());
            std::vector<uint64_t> entries = ResetEntries(help.file);
            ASSERT_GT(entries.size(), 2 * c.interval);
            bad[StreamStart(help.file) + entries[2 * c.interval] + 1] |= 0x70;
        }
        TempHelpFile temp(bad);
        OpenedHelpFile help(temp.path());
        for (int round = 0; round < 2; round++) {
            for (size_t i : c.failing) {
                EXPECT_EQ(Extract(help.file, files[i].name), std::nullopt) << files[i].name;
                EXPECT_EQ(help->LastError, ContainerDamagedData);
            }
            for (size_t i : c.extracted)
                EXPECT_EQ(Extract(help.file, files[i].name), files[i].data) << files[i].name;
            temp.Write(c.good);  // mended under the open container
        }
        EXPECT_EQ(help->Sections->Records[1].Data, nullptr);
        OpenedHelpFile reopened(temp.path());
        EXPECT_EQ(Extract(reopened.file, files[5].name), files[5].data);
    }
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
    {
        // Reset interval, window size and cache size all differ: the window
        // size decides.
        HelpFileOptions options;
        options.controlDataBytes = ControlDataBytes(4, 2, 1);
        Crafted crafted(MakeHelpFile(files, options));
        EXPECT_EQ(Extract(crafted.file(), "/f"), text);
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
        {"uncompressed length past 32 bits", {}, ResetTableFor((1ull << 32) + 201350, 100000)},
        {"compressed length past 32 bits", {}, ResetTableFor(201350, (1ull << 32) + 100000)},
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

TEST(ContainerExtract, ARangeOfAFileComesOutOfEverySection)
{
    std::vector<StoredFile> files = SampleFiles();
    const std::vector<uint8_t>& big = files[5].data;
    const struct {
        const char* what;
        std::vector<uint8_t> bytes;
    } layouts[] = {{"intervals", MakeHelpFile(files)}, {"whole section", WholeSectionSample()}};
    for (const auto& layout : layouts) {
        SCOPED_TRACE(layout.what);
        TempHelpFile temp(layout.bytes);
        OpenedHelpFile help(temp.path());
        const DirectoryEntry* entry = FindDirectoryEntry("/html/big.htm", help->Entries);
        const DirectoryEntry* plain = FindDirectoryEntry("/#SYSTEM", help->Entries);
        ASSERT_TRUE(entry && plain);
        const struct {
            const DirectoryEntry* entry;
            uint32_t offset, length;
            const std::vector<uint8_t>* data;  // null: outside the file
        } ranges[] = {{entry, 70000, 65536, &big},        {entry, 199999, 1, &big},
                      {entry, 200000, 0, &big},           {plain, 300, 33, &files[1].data},
                      {entry, 199999, 2, nullptr},        {entry, 200001, 0, nullptr},
                      {plain, 0xFFFFFFF0u, 0x20, nullptr}};
        for (const auto& r : ranges) {
            uint32_t length = 0;
            uint8_t* data = nullptr;
            int result = ExtractEntryRange(help.file, r.entry, r.offset, r.length, &length, &data);
            if (r.data == nullptr) {
                EXPECT_EQ(result, -1) << r.offset;
                EXPECT_EQ(help->LastError, ContainerOutsideSection);
            } else {
                ASSERT_EQ(result, 0) << r.offset;
                EXPECT_EQ(std::vector<uint8_t>(data, data + length),
                          std::vector<uint8_t>(r.data->begin() + r.offset,
                                               r.data->begin() + r.offset + r.length));
            }
            free(data);
        }
        // Through the intervals, only those that hold the range were decoded.
        if (help->Sections->Records[1].Lzx->IntervalCount) {
            EXPECT_EQ(help->Sections->Records[1].Data, nullptr);
        }
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

namespace {

// About 300 KB of text lines, five windows of 2^16 bytes.
std::vector<uint8_t> EntryLines()
{
    std::vector<uint8_t> text;
    while (text.size() < 300000) {
        char line[32];
        int n = snprintf(line, sizeof line, "entry %zu\n", text.size() % 6007);
        text.insert(text.end(), line, line + n);
    }
    return text;
}

// A section of help text cut into windows of 2^16 bytes, each compressed as a
// stream of its own; the windows listed in e8 set the translation bit in
// their header (the text holds no 0xE8 byte, so nothing is translated).
HelpFileOptions WindowedStream(const std::vector<uint8_t>& text, const std::vector<size_t>& e8)
{
    HelpFileOptions options;
    std::vector<uint8_t> stream;
    std::vector<uint64_t> frames;
    for (size_t w = 0; w * 65536 < text.size(); w++) {
        std::vector<uint8_t> window(text.begin() + w * 65536,
                                    text.begin() + std::min(text.size(), (w + 1) * 65536));
        LzxEncodeOptions encode;
        encode.e8 = std::find(e8.begin(), e8.end(), w) != e8.end();
        std::vector<uint64_t> starts;
        encode.frameStarts = &starts;
        std::vector<uint8_t> part = LzxCompress(window, 16, encode);
        for (uint64_t start : starts)
            frames.push_back(stream.size() + start);
        stream.insert(stream.end(), part.begin(), part.end());
    }
    options.contentBytes = stream;
    options.resetTableBytes = ResetTableBytes(text.size(), stream.size(), frames);
    return options;
}

}  // namespace

TEST(ContainerExtract, ResetTablesThatCannotBeTrustedKeepTheWholeSectionDecoding)
{
    const std::vector<uint8_t> text = EntryLines();
    std::vector<StoredFile> files = {{"/f", text, 1}};
    auto patch = [](size_t at, uint64_t value, int width) {
        return [at, value, width](std::vector<uint8_t>& table) {
            for (int i = 0; i < width; i++)
                table[at + i] = (uint8_t)(value >> (8 * i));
        };
    };
    auto move = [](size_t at, int by) {
        return [at, by](std::vector<uint8_t>& table) {
            uint32_t value = ReadLE32(table.data() + at) + (uint32_t)by;
            for (int i = 0; i < 4; i++)
                table[at + i] = (uint8_t)(value >> (8 * i));
        };
    };
    struct Case {
        const char* what;
        std::vector<size_t> e8;
        std::function<void(std::vector<uint8_t>&)> change;
        bool intervals;
    } cases[] = {
        {"as written", {}, {}, true},
        {"entry size 4", {}, patch(8, 4, 4), false},
        {"header length 32", {}, patch(12, 32, 4), false},
        {"block length 0x6000", {}, patch(32, 0x6000, 8), false},
        {"too few entries", {}, patch(4, 8, 4), false},
        {"an interval start repeated", {}, patch(40 + 8 * 4, 0, 8), false},
        {"an interval start moved two bytes on", {}, move(40 + 8 * 4, 2), false},
        {"an interval start moved two bytes back", {}, move(40 + 8 * 4, -2), false},
        {"an interval start moved ten bytes back", {}, move(40 + 8 * 4, -10), false},
        {"E8 in the last interval's header", {4}, {}, false},
        {"E8 in a middle interval's header", {2}, {}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        HelpFileOptions options = WindowedStream(text, c.e8);
        if (c.change)
            c.change(*options.resetTableBytes);
        Crafted crafted(MakeHelpFile(files, options));
        EXPECT_EQ(Extract(crafted.file(), "/f"), text);
        const SectionRecord& section = crafted.file()->Sections->Records[1];
        ASSERT_NE(section.Lzx, nullptr);
        EXPECT_EQ(section.Lzx->IntervalCount != 0, c.intervals);
        EXPECT_EQ(section.Data == nullptr, c.intervals);
    }
}

TEST(ContainerExtract, TheLongestOutputCheckIsExactForTreesWhoseSymbolsTakeNoBits)
{
    // Each window one verbatim block whose trees are empty: every symbol is a
    // literal 0 that takes no bits, and 34 bytes give a whole window of zeros.
    for (int bits : {15, 17}) {
        SCOPED_TRACE(bits);
        const uint32_t size = 1u << bits, windows = 3;
        std::vector<uint8_t> stream;
        std::vector<uint64_t> frames;
        for (uint32_t w = 0; w < windows; w++) {
            for (uint32_t f = 0; f < size / 32768; f++)
                frames.push_back(stream.size());
            // Header bit 0, type 1, the 24-bit length, then 240 zero bits of
            // empty pre-trees and 4 bits of padding: 17 words.
            uint32_t head = (1u << 28) | (size << 4);  // the first 32 bits, 4 of them padding
            std::vector<uint8_t> block(34, 0);
            block[0] = (uint8_t)(head >> 16);
            block[1] = (uint8_t)(head >> 24);
            block[2] = (uint8_t)head;
            block[3] = (uint8_t)(head >> 8);
            stream.insert(stream.end(), block.begin(), block.end());
        }
        EXPECT_EQ(LongestLzxOutput((uint32_t)stream.size(), bits), (uint64_t)windows * size);
        // One byte less: two windows, and 33 bytes that hold an uncompressed
        // block of 17.
        EXPECT_EQ(LongestLzxOutput((uint32_t)stream.size() - 1, bits),
                  (uint64_t)(windows - 1) * size + 17);
        for (uint32_t length : {windows * size, windows * size + 1}) {
            HelpFileOptions options;
            options.windowBits = bits;
            options.stream = LzxStreamKind::Uncompressed;
            options.contentBytes = stream;
            options.resetTableBytes = ResetTableBytes(length, stream.size(), frames);
            Crafted crafted(
                MakeHelpFile({{"/zeros", std::vector<uint8_t>(length, 0), 1}}, options));
            std::optional<std::vector<uint8_t>> data = Extract(crafted.file(), "/zeros");
            EXPECT_EQ(data.has_value(), length == windows * size) << length;
            if (!data) {
                EXPECT_EQ(crafted.file()->LastError, ContainerBadSection);
            }
        }
    }
}

TEST(ContainerExtract, ASectionShorterThanAVerbatimBlockHeaderIsOneUncompressedBlock)
{
    // An uncompressed block of n bytes takes 16 + n bytes of stream (rounded
    // up to even): 7 bytes take 24, fewer than any verbatim block, in every
    // window size.
    const std::vector<uint8_t> text = {'s', 'e', 'v', 'e', 'n', '!', '\n'};
    for (int bits = 15; bits <= 21; bits++) {
        SCOPED_TRACE(bits);
        HelpFileOptions options;
        options.windowBits = bits;
        options.stream = LzxStreamKind::Uncompressed;
        EXPECT_EQ(LzxUncompressedStream(text, bits).size(), 24u);
        Crafted crafted(MakeHelpFile({{"/seven", text, 1}}, options));
        EXPECT_EQ(Extract(crafted.file(), "/seven"), text);
    }
}

TEST(ContainerExtract, WithE8OnlyInTheLastHeaderAFileOfTheFirstIntervalIsAsTheWholeSectionDecodes)
{
    // Calls (0xE8 and an operand) all through the text: the translation that
    // the last interval's header asks for changes them in every interval.
    std::vector<uint8_t> text = EntryLines();
    for (size_t at = 0; at + 5 < text.size(); at += 97) {
        const uint8_t call[5] = {0xE8, 0x00, 0x10, 0x00, 0x00};
        std::copy(call, call + 5, text.begin() + (long)at);
    }
    HelpFileOptions options = WindowedStream(text, {4});
    std::vector<uint8_t> whole(text.size());
    LzxDecoder decoder = {};
    ASSERT_EQ(InitLzx(&decoder, 16), LzxOk);
    ASSERT_EQ(DecodeLzx(&decoder, options.contentBytes->data(), whole.data(),
                        (int32_t)options.contentBytes->size(), (int32_t)whole.size()),
              LzxOk);
    ReleaseLzx(&decoder);
    const size_t first = 1000;
    ASSERT_NE(std::vector<uint8_t>(whole.begin(), whole.begin() + first),
              std::vector<uint8_t>(text.begin(), text.begin() + first));
    Crafted crafted(
        MakeHelpFile({{"/first", std::vector<uint8_t>(text.begin(), text.begin() + first), 1},
                      {"/rest", std::vector<uint8_t>(text.begin() + first, text.end()), 1}},
                     options));
    EXPECT_EQ(Extract(crafted.file(), "/first"),
              std::vector<uint8_t>(whole.begin(), whole.begin() + first));
    EXPECT_EQ(crafted.file()->Sections->Records[1].Lzx->IntervalCount, 0u);
}

namespace {

// Records the result of the one stored file a pass hands out.
int OneResult(void* context, int32_t, const DirectoryEntry* entry, int error, const uint8_t*,
              uint32_t)
{
    if (strcmp(entry->Name, "/in2") == 0)
        *(int*)context = error;
    return 0;
}

}  // namespace

TEST(ContainerExtract, AnIntervalStartMovedByTwoBytesIsTheTablesFaultNotTheDatas)
{
    const std::vector<uint8_t> text = EntryLines();
    // A file within interval 2, the only one asked for: interval 1, whose end
    // would have shown the table wrong, is not decoded on the way.
    const size_t at = 131072 + 100, length = 100;
    const std::vector<uint8_t> in2(text.begin() + at, text.begin() + at + length);
    for (int by : {2, -2}) {
        SCOPED_TRACE(by);
        HelpFileOptions options = WindowedStream(text, {});
        uint8_t* entry = options.resetTableBytes->data() + 40 + 8 * 4;  // interval 2's start
        uint32_t moved = ReadLE32(entry) + (uint32_t)by;
        for (int i = 0; i < 4; i++)
            entry[i] = (uint8_t)(moved >> (8 * i));
        const std::vector<uint8_t> bytes = MakeHelpFile(
            {{"/head", std::vector<uint8_t>(text.begin(), text.begin() + at), 1},
             {"/in2", in2, 1},
             {"/tail", std::vector<uint8_t>(text.begin() + at + length, text.end()), 1}},
            options);
        Crafted one(bytes);
        EXPECT_EQ(Extract(one.file(), "/in2"), in2);
        EXPECT_EQ(one.file()->Sections->Records[1].Lzx->IntervalCount, 0u);

        Crafted pass(bytes);
        std::vector<uint8_t> wanted((size_t)DirectoryCount(pass.file()), 0);
        for (int32_t i = 0; i < DirectoryCount(pass.file()); i++)
            wanted[(size_t)i] = strcmp(DirectoryAt(pass.file(), i)->Name, "/in2") == 0;
        StreamOptions stream = {1, nullptr, nullptr, nullptr, wanted.data(), 1};
        int error = -1;
        EXPECT_EQ(StreamStoredFiles(pass.file(), &stream, OneResult, &error), 0);
        EXPECT_EQ(error, ContainerOk);
    }
}

TEST(ContainerExtract, AStreamCutShortByItsCompressedLengthFailsItsLastFiles)
{
    // The ResetTable gives the compressed length a word short of the stream:
    // the last interval (or the whole section) lacks bits its output needs.
    const std::vector<uint8_t> text = EntryLines();
    const size_t last = 4 * 65536 + 100;
    const std::vector<StoredFile> files = {
        {"/head", std::vector<uint8_t>(text.begin(), text.begin() + 1000), 1},
        {"/middle", std::vector<uint8_t>(text.begin() + 1000, text.begin() + last), 1},
        {"/last", std::vector<uint8_t>(text.begin() + last, text.end()), 1}};
    for (bool intervals : {true, false}) {
        SCOPED_TRACE(intervals);
        HelpFileOptions options = WindowedStream(text, {});
        std::vector<uint8_t>& table = *options.resetTableBytes;
        const uint64_t cut = options.contentBytes->size() - 2;
        for (int i = 0; i < 8; i++)
            table[24 + i] = (uint8_t)(cut >> (8 * i));
        if (!intervals)
            table[8] = 4;  // an entry size the intervals cannot be used with
        Crafted crafted(MakeHelpFile(files, options));
        EXPECT_EQ(Extract(crafted.file(), "/last"), std::nullopt);
        EXPECT_EQ(crafted.file()->LastError, ContainerDamagedData);
        EXPECT_EQ(crafted.file()->Sections->Records[1].Lzx->IntervalCount != 0, intervals);
        std::optional<std::vector<uint8_t>> head = Extract(crafted.file(), "/head");
        if (intervals)
            EXPECT_EQ(head, files[0].data);
        else
            EXPECT_EQ(head, std::nullopt);
    }
}
