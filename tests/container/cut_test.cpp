// A help file that ends before what its header and directory describe: the
// first part past its end, and a file of its recorded length told apart as
// damaged.
#include "container_test_support.h"

#include <functional>

namespace {

std::string CutLine(const ContainerCut& cut)
{
    char text[512];
    DescribeContainerCut(&cut, text, sizeof text);
    return text;
}

std::vector<uint8_t> Cut(std::vector<uint8_t> bytes, uint64_t size)
{
    bytes.resize(size);
    return bytes;
}

}  // namespace

TEST(ContainerCut, TheFirstPartPastTheEndIsNamedAndAFileOfItsRecordedLengthIsDamagedInstead)
{
    const std::vector<StoredFile> files = {{"/a.htm", std::vector<uint8_t>(3000, 'a'), 1},
                                           {"/z.htm", std::vector<uint8_t>(500, 'z'), 0}};
    const ContainerLayout layout = HelpFileLayout(files, HelpFileOptions());
    const std::vector<uint8_t> whole = BuildContainer(layout);
    // One listing chunk of 4096 bytes after the directory header at 120: the
    // content begins at 4300, the compressed stream first, /z.htm last.
    const uint64_t content = 4300, size = whole.size();
    ASSERT_EQ(ReadLE32(whole.data() + ItsfContentOffset), content);
    ContainerLayout copy = layout;
    const RawEntry* stream = FindRawEntry(copy, ContentName());
    const RawEntry* last = FindRawEntry(copy, "/z.htm");
    ASSERT_TRUE(stream && last);
    const uint64_t streamAt = content + stream->offset, streamEnd = streamAt + stream->length;
    const uint64_t lastAt = content + last->offset;
    ASSERT_EQ(lastAt + last->length, size);

    auto text = [](uint64_t n) { return std::to_string(n); };
    struct Case {
        const char* what;
        std::function<std::vector<uint8_t>()> make;
        std::string line;  // "" for a whole file
        bool fromHeaders;  // FindHeaderCut tells it too
    } cases[] = {
        {"whole", [&] { return whole; }, "", true},
        {"60 bytes", [&] { return Cut(whole, 60); },
         "cut short: the file has 60 bytes, fewer than its header's 92", true},
        {"100 bytes: header section 0 is lost too", [&] { return Cut(whole, 100); },
         "cut short: the directory at offset 120 lies past the end, at 100 bytes", true},
        {"200 bytes", [&] { return Cut(whole, 200); },
         "cut short: the directory at offset 120 ends at 4300, past the end, at 200 bytes", true},
        {"inside the compressed stream", [&] { return Cut(whole, streamAt + 10); },
         "cut short: the compressed section MSCompressed at offset " + text(streamAt) +
             " ends at " + text(streamEnd) + ", past the end, at " + text(streamAt + 10) + " bytes",
         false},
        {"inside the last stored file", [&] { return Cut(whole, size - 1); },
         "cut short: the stored file /z.htm at offset " + text(lastAt) + " ends at " + text(size) +
             ", past the end, at " + text(size - 1) + " bytes",
         false},
        {"the directory's offset damaged in a whole file",
         [&] {
             std::vector<uint8_t> bytes = whole;
             bytes[ItsfHeaderSectionTable + ItsfHeaderSectionEntry + 2] = 0x10;  // 0x100078
             return bytes;
         },
         "damaged: the directory at offset 1048696 lies past the end, at " + text(size) + " bytes",
         true},
        {"a stored file's length damaged in a whole file: its extraction says so",
         [&] {
             ContainerLayout longer = layout;
             FindRawEntry(longer, "/z.htm")->length += 100;
             return BuildContainer(longer);
         },
         "", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempHelpFile temp(c.make());
        OpenedHelpFile opened(temp.path());
        ASSERT_NE(opened.file, nullptr);
        ContainerCut cut;
        FindContainerCut(opened.file, &cut);
        EXPECT_EQ(CutLine(cut), c.line);
        EXPECT_EQ(cut.Part == CutNone, c.line.empty());
        ContainerCut early;
        ASSERT_EQ(FindHeaderCut(temp.path().c_str(), &early), 0);
        EXPECT_EQ(CutLine(early), c.fromHeaders ? c.line : "");
    }
    ContainerCut missing;
    const std::string absent =
        (std::filesystem::temp_directory_path() / "velkory-cut-test-absent.chm").string();
    EXPECT_EQ(FindHeaderCut(absent.c_str(), &missing), -1);
}
