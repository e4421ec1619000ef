// Every stored file in one pass: the same bytes as one-by-one extraction,
// through one worker or several, with damaged intervals failing only their
// files.
#include "container_test_support.h"
#include "support/corpus.h"

#include <atomic>
#include <filesystem>
#include <map>
#include <thread>

namespace {

struct Collected {
    std::map<int32_t, std::vector<uint8_t>> files;
    std::map<int32_t, int> errors;
    std::vector<uint32_t> order;  // offsets of the compressed section's files, as handed out
    int stopAfter = -1;
    bool discard = false;  // no bytes wanted: each file is recorded empty
};

int Collect(void* context, int32_t index, const DirectoryEntry* entry, int error,
            const uint8_t* data, uint32_t length)
{
    Collected* c = (Collected*)context;
    EXPECT_EQ(c->files.count(index) + c->errors.count(index), 0u) << "handed out twice";
    if (error == ContainerOk) {
        EXPECT_EQ(data == nullptr, c->discard);
        EXPECT_EQ(length, entry->Length);
        c->files[index] =
            c->discard ? std::vector<uint8_t>() : std::vector<uint8_t>(data, data + length);
    } else {
        EXPECT_EQ(data, nullptr);
        c->errors[index] = error;
    }
    if (entry->Section == 1)
        c->order.push_back(entry->Offset);
    return c->stopAfter >= 0 && (int)(c->files.size() + c->errors.size()) >= c->stopAfter;
}

// Runs the jobs on `workers` threads, as a host would, before it returns.
void RunOnThreads(void* context, int count, IntervalJob job, void* jobContext)
{
    int workers = *(int*)context;
    std::atomic<int> taken {0};
    std::vector<std::thread> threads;
    for (int w = 0; w < workers; w++)
        threads.emplace_back([&, w] {
            for (int j; (j = taken++) < count;)
                job(jobContext, j, w);
        });
    for (std::thread& t : threads)
        t.join();
}

Collected Stream(HelpFile* file, int workers, int* status, int stopAfter = -1, bool discard = false)
{
    Collected c;
    c.stopAfter = stopAfter;
    c.discard = discard;
    StreamOptions options = {
        workers, workers > 1 ? RunOnThreads : nullptr, nullptr, &workers, nullptr, discard};
    *status = StreamStoredFiles(file, &options, Collect, &c);
    return c;
}

}  // namespace

TEST(ContainerStream, EveryCorpusFileEqualsItsManifestOnOneWorkerOrThree)
{
    std::vector<std::string> paths = CorpusHelpFiles();
    if (paths.empty())
        GTEST_SKIP() << "shared corpus not found beside the source tree";
    for (const std::string& path : paths)
        for (int workers : {1, 3}) {
            SCOPED_TRACE(path);
            SCOPED_TRACE(workers);
            std::vector<ManifestEntry> manifest =
                ReadManifest(std::filesystem::path(path).replace_extension(".manifest").string());
            OpenedHelpFile help(path);
            int status = 0;
            Collected c = Stream(help.file, workers, &status);
            EXPECT_EQ(status, 0);
            EXPECT_TRUE(c.errors.empty());
            ASSERT_EQ(c.files.size(), manifest.size());
            for (size_t i = 0; i < manifest.size(); i++) {
                const std::vector<uint8_t>& data = c.files[(int32_t)i];
                EXPECT_EQ(Sha256Hex(data.data(), data.size()), manifest[i].sha256)
                    << manifest[i].name;
            }
            EXPECT_TRUE(std::is_sorted(c.order.begin(), c.order.end()));
            EXPECT_EQ(help->Sections->Records[1].Data, nullptr);
        }
}

TEST(ContainerStream, DamagedIntervalsFailTheirFilesAndTheHandlerCanStop)
{
    std::vector<StoredFile> files = {
        {"/a", Pattern(70000, 1), 1},   // intervals 0 and 1
        {"/b", Pattern(100, 2), 1},     // interval 1
        {"/c", Pattern(192044, 3), 1},  // intervals 1 to 3, ending where interval 4 begins
        {"/e", Pattern(8000, 5), 1},    // interval 4
        {"/plain", Pattern(50, 4), 0}, {"/d", {}, 1},
    };
    std::vector<uint8_t> bytes = MakeHelpFile(files);
    std::vector<uint8_t> bad = bytes;
    {
        TempHelpFile probe(bytes);
        OpenedHelpFile help(probe.path());
        const DirectoryEntry* content = FindDirectoryEntry(ContentName().c_str(), help->Entries);
        std::optional<std::vector<uint8_t>> table = Extract(help.file, ResetTableName());
        ASSERT_TRUE(table && content);
        ASSERT_EQ(FindDirectoryEntry("/e", help->Entries)->Offset, 4u << 16);
        // The first block type of interval 4 made 7.
        bad[help->ContentOffset + content->Offset + ReadLE32(table->data() + 40 + 8 * 8) + 1] |=
            0x70;
    }
    TempHelpFile temp(bad);
    for (bool discard : {false, true})
        for (int workers : {1, 2}) {
            SCOPED_TRACE(std::string(discard ? "without" : "with") + " the bytes, " +
                         std::to_string(workers) + " workers");
            OpenedHelpFile help(temp.path());
            int status = 0;
            Collected c = Stream(help.file, workers, &status, -1, discard);
            EXPECT_EQ(status, 0);
            std::map<std::string, int32_t> index;
            for (int32_t i = 0; i < DirectoryCount(help.file); i++)
                index[DirectoryAt(help.file, i)->Name] = i;
            auto whole = [&](const char* name, const std::vector<uint8_t>& data) {
                EXPECT_EQ(c.errors.count(index[name]), 0u) << name;
                EXPECT_EQ(c.files[index[name]], discard ? std::vector<uint8_t>() : data) << name;
            };
            whole("/a", files[0].data);
            whole("/b", files[1].data);
            whole("/c", files[2].data);
            EXPECT_EQ(c.errors[index["/e"]], ContainerDamagedData);
            whole("/plain", files[4].data);
            whole("/d", {});
            // One-by-one extraction then fails /e at once, from the remembered interval.
            EXPECT_EQ(Extract(help.file, "/e"), std::nullopt);
            EXPECT_EQ(Extract(help.file, "/b"), files[1].data);

            Collected stopped = Stream(help.file, workers, &status, 2, discard);
            EXPECT_EQ(status, 1);
            EXPECT_EQ(stopped.files.size() + stopped.errors.size(), 2u);
        }
}

TEST(ContainerStream, WithoutTheBytesEveryFileHasTheResultItHasWithThem)
{
    std::vector<StoredFile> files = {
        // More than the calling thread decodes alone: the workers run.
        {"/a", Pattern(70000, 1), 1},     {"/c", Pattern(700000, 3), 1},
        {"/plain", Pattern(90000, 4), 0}, {"/d", {}, 1},
        {"/small", Pattern(10, 5), 0},
    };
    std::vector<uint8_t> whole = MakeHelpFile(files);
    std::vector<uint8_t> damaged = whole, cut = whole;
    {
        TempHelpFile probe(whole);
        OpenedHelpFile help(probe.path());
        const DirectoryEntry* content = FindDirectoryEntry(ContentName().c_str(), help->Entries);
        const DirectoryEntry* plain = FindDirectoryEntry("/plain", help->Entries);
        std::optional<std::vector<uint8_t>> table = Extract(help.file, ResetTableName());
        ASSERT_TRUE(table && content && plain);
        damaged[help->ContentOffset + content->Offset + ReadLE32(table->data() + 40 + 8 * 2) + 1] |=
            0x70;
        cut.resize(help->ContentOffset + plain->Offset + 100);
    }
    for (const std::vector<uint8_t>* bytes : {&whole, &damaged, &cut}) {
        TempHelpFile temp(*bytes);
        OpenedHelpFile kept(temp.path()), dropped(temp.path());
        int keptStatus = 0, droppedStatus = 0;
        Collected withBytes = Stream(kept.file, 2, &keptStatus);
        Collected without = Stream(dropped.file, 2, &droppedStatus, -1, true);
        EXPECT_EQ(droppedStatus, keptStatus);
        EXPECT_EQ(withBytes.errors.empty(), bytes == &whole);
        EXPECT_EQ(without.errors, withBytes.errors);
        EXPECT_EQ(without.files.size(), withBytes.files.size());
        EXPECT_EQ(without.order, withBytes.order);
    }
}
