// Allocation failure: the Nth allocation the module makes fails, for N = 1, 2,
// ... until the operation completes without meeting a failure. Every run must
// end either in a clean failure or in a success whose result is whole, with
// every allocation of the run given back. The test program is linked with
// malloc, calloc, realloc and free wrapped (-Wl,--wrap), so that only the
// allocations made while a run is armed can fail; under AddressSanitizer a
// leak is also caught by the leak checker.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "container/container.h"
#include "frame/frame.h"
#include "lookup/fulltext_builder.h"
#include "lookup/index_builder.h"
#include "lookup/keyword_builder.h"
#include "lookup/lookup.h"
#include "lzx/lzx.h"
#include "support/recording_host.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace fs = std::filesystem;

extern "C" {
void* __real_malloc(size_t size);
void* __real_calloc(size_t count, size_t size);
void* __real_realloc(void* old, size_t size);
void __real_free(void* p);
}

namespace {

struct Injection {
    bool armed = false;
    bool persistent = false;  // every allocation from the Nth on fails, not only the Nth
    long failAt = 0;
    long count = 0;    // allocations seen while armed
    long failed = 0;   // of them, refused
    long balance = 0;  // blocks obtained minus blocks given back while armed
};
Injection injection;

bool Refuse()
{
    if (!injection.armed)
        return false;
    ++injection.count;
    bool refuse = injection.persistent ? injection.count >= injection.failAt
                                       : injection.count == injection.failAt;
    injection.failed += refuse;
    return refuse;
}

}  // namespace

extern "C" {
void* __wrap_malloc(size_t size)
{
    void* p = Refuse() ? nullptr : __real_malloc(size);
    injection.balance += injection.armed && p != nullptr;
    return p;
}
void* __wrap_calloc(size_t count, size_t size)
{
    void* p = Refuse() ? nullptr : __real_calloc(count, size);
    injection.balance += injection.armed && p != nullptr;
    return p;
}
void* __wrap_realloc(void* old, size_t size)
{
    void* p = Refuse() ? nullptr : __real_realloc(old, size);
    injection.balance += injection.armed && old == nullptr && p != nullptr;
    return p;
}
void __wrap_free(void* p)
{
    injection.balance -= injection.armed && p != nullptr;
    __real_free(p);
}
}

namespace {

// The decoder's window outlives a stream; each run starts without one, so
// that its allocation fails in its turn too, and gives it back at the end.
void DropLzxWindow()
{
    free(lzxDecoder.Window);
    lzxDecoder.Window = nullptr;
    lzxDecoder.WindowCapacity = 0;
}

const std::string Page = [] {
    std::string page;
    for (int i = 0; page.size() < 70000; ++i)
        page += "<p>paragraph " + std::to_string(i * 7919 % 10007) + "</p>\n";
    return page;
}();

class AllocationFailureTest : public RecordingHostTest, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override
    {
        RecordingHostTest::SetUp();
        host.messages[0] = "Velkory topics";
        host.StartModule();
        Modality = 1;
        Visuality = 0;
        TestIndex index = BuildIndex({{"Key one", "one.htm"}, {"Key two", "two.htm"}});
        help = host.Path("help.chm");
        ASSERT_TRUE(WriteBytes(
            help,
            HelpFileWith(index,
                         {{"/one.htm", Bytes("stored page"), 0}, {"/two.htm", Bytes(Page), 1}})));
    }

    // Runs operation once for each N until a run meets no failure; the
    // operation checks its own result and returns whether it succeeded.
    // Returns the number of runs.
    template <typename Operation> long Sweep(Operation operation)
    {
        long n = 1;
        for (;; ++n) {
            DropLzxWindow();
            injection = Injection {};
            injection.persistent = GetParam();
            injection.failAt = n;
            injection.armed = true;
            bool succeeded = operation();
            DropLzxWindow();
            injection.armed = false;
            if (injection.failed == 0) {
                EXPECT_TRUE(succeeded) << "the run without a failed allocation failed";
                break;
            }
            EXPECT_EQ(injection.balance, 0) << "allocations kept after a run failing at " << n;
#if defined(__SANITIZE_ADDRESS__)
            EXPECT_EQ(__lsan_do_recoverable_leak_check(), 0) << "leak in a run failing at " << n;
#endif
            if (n > 100000 || HasFailure())
                break;
        }
        RecordProperty("runs", (int)n);
        return n;
    }

    // Whether a help request for keyword opened Page in the editor.
    bool OpensPage(const char* keyword)
    {
        host.ClearLog();
        int32_t result = host.SendHelp(help.c_str(), keyword);
        std::vector<RecordedCall> opened = host.CallsOf("OpenEditor");
        if (result == 0 || opened.size() != 1)
            return false;
        EXPECT_EQ(opened[0].fileContent, Page);
        return true;
    }
    std::string help;
};

}  // namespace

TEST_P(AllocationFailureTest, OpeningAndExtractingFromBothSections)
{
    long runs = Sweep([&] {
        HelpFile* file = OpenHelpFile(help.c_str());
        if (file == nullptr)
            return false;
        bool whole = true;
        for (auto [name, expected] :
             {std::pair {"/one.htm", std::string("stored page")}, std::pair {"/two.htm", Page}}) {
            uint32_t length = 0;
            uint8_t* data = nullptr;
            if (ExtractFile(file, name, &length, &data) != 0) {
                EXPECT_EQ(data, nullptr);
                whole = false;
                continue;
            }
            EXPECT_EQ(std::string((const char*)data, length), expected) << name;
            free(data);
        }
        CloseHelpFile(file);
        return whole;
    });
    EXPECT_GT(runs, 4);
}

TEST_P(AllocationFailureTest, HelpRequestThroughTheHost)
{
    host.menuChoice = 1;
    long runs = Sweep([&] {
        host.ClearLog();
        size_t before = host.tempNames.size();
        int32_t result = host.SendHelp(help.c_str(), "key");
        std::vector<RecordedCall> opened = host.CallsOf("OpenEditor");
        if (result == 0) {
            // Nothing opened, and no page left that looks written.
            EXPECT_TRUE(opened.empty());
            for (size_t i = before; i < host.tempNames.size(); ++i)
                EXPECT_FALSE(fs::exists(host.tempNames[i] + "/velkory.txt")) << host.tempNames[i];
            return false;
        }
        EXPECT_EQ(result, 1);
        if (opened.size() != 1)
            return false;  // a request dealt with that opened nothing claims success
        EXPECT_EQ(opened[0].fileContent, Page);
        return true;
    });
    EXPECT_GT(runs, 4);
}

TEST_P(AllocationFailureTest, KeywordIndexRequestThroughTheHost)
{
    // No title begins with "timer": the compiled index, then the sitemap.
    std::vector<StoredFile> files = IndexFiles(BuildIndex({{"Key one", "one.htm#a"}}));
    files.push_back({"/one.htm", Bytes(Page), 1});
    files.push_back({"/index.hhk", Bytes("<UL>" + SitemapObject("timer", {{"", "one.htm#a"}})), 1});
    std::vector<uint8_t> sitemapOnly = MakeHelpFile(files);
    files.push_back({"/$WWKeywordLinks/BTree", BuildBTree({{u"timer", {0}}}), 1});
    for (const std::vector<uint8_t>& bytes : {MakeHelpFile(files), sitemapOnly}) {
        ASSERT_TRUE(WriteBytes(help, bytes));
        long runs = Sweep([&] { return OpensPage("timer"); });
        EXPECT_GT(runs, 10);
    }
}

TEST_P(AllocationFailureTest, FullTextRequestThroughTheHost)
{
    // No title or keyword index entry begins with "paragr": the full-text
    // index answers with two pages.
    std::vector<StoredFile> files =
        IndexFiles(BuildIndex({{"Key one", "one.htm"}, {"Key two", "two.htm"}}));
    files.push_back({"/one.htm", Bytes("stored page"), 0});
    files.push_back({"/two.htm", Bytes(Page), 1});
    files.push_back({"/$FIftiMain", BuildFullText({{"paragraph", {{0}, {1}}}}).bytes, 1});
    ASSERT_TRUE(WriteBytes(help, MakeHelpFile(files)));
    host.menuChoice = 1;
    long runs = Sweep([&] { return OpensPage("paragr"); });
    EXPECT_GT(runs, 10);
}

TEST_P(AllocationFailureTest, SavingTheSettings)
{
    // Each run saves the pair that the previous one did not: a run leaves the
    // pair as it was or as asked, never half of it, in a file that still reads.
    SaveSettings(0, 0);
    int32_t asked = 0;
    long runs = Sweep([&] {
        asked ^= 1;
        SaveSettings(asked, asked);
        injection.armed = false;
        char modality[12], visuality[12];
        bool read = ReadSettingText("Modality", modality, "?", 10) &&
            ReadSettingText("Visuality", visuality, "?", 10);
        EXPECT_TRUE(read) << "the settings file no longer reads";
        std::string pair = std::string(modality) + visuality;
        bool saved = pair == (asked ? "11" : "00");
        EXPECT_TRUE(saved || pair == (asked ? "00" : "11")) << "not the pair before: " << pair;
        if (!saved) {
            SaveSettings(asked ^ 1, asked ^ 1);  // back to the last pair saved
            asked ^= 1;
        }
        injection.armed = true;
        return saved;
    });
    EXPECT_GT(runs, 2);
    for (const fs::directory_entry& entry : fs::directory_iterator(host.tempDir)) {
        std::string name = entry.path().filename().string();
        EXPECT_TRUE(name.rfind("registry.reg.", 0) != 0 || name == "registry.reg.lock")
            << "temporary file left: " << name;
    }
}

INSTANTIATE_TEST_SUITE_P(OneOrEveryLaterAllocation, AllocationFailureTest,
                         ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? std::string("Persistent")
                                               : std::string("Transient");
                         });
