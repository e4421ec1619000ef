// The cache: a changed help file indexed again, damaged or foreign entries
// never trusted, two builders that do not clash, a killed build not
// trusted, the size bound and emptying it.
#include "search_fixture.h"

#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <thread>

// Built without the search (no Xapian), the suite holds no test.
#if defined(VELKORY_HAVE_SEARCH)

namespace {

std::vector<Page> Pages(const std::string& word, int count)
{
    std::vector<Page> pages;
    for (int i = 0; i < count; ++i) {
        std::string number = std::to_string(i);
        std::string text = "filler text number ";
        text += number;
        if (i == count / 2)
            text += " " + word;
        pages.push_back({"p" + number + ".htm", Html("Page " + number, text)});
    }
    return pages;
}

// Whether the help file's index was built (not only opened) while it was
// added; -1 when it could not be added.
int Built(const SearchCache& cache, const std::string& file, const BuildTuning& tuning = {},
          bool* waited = nullptr)
{
    bool built = false;
    TextSearch search(cache, tuning);
    std::string error;
    bool ok = search.AddHelpFile(
        file,
        [&](const std::string&, uint32_t, uint32_t, bool waiting) {
            (waiting && waited ? *waited : built) = true;
        },
        error);
    return ok ? built : -1;
}

TEST_F(SearchTest, AChangedHelpFileIsIndexedAgainAndTheOldIndexGoes)
{
    std::string file = MakeFile("manual.chm", Pages("walrus", 5));
    EXPECT_EQ(Hits({file}, "walrus"), std::vector<std::string>({"/p2.htm"}));
    EXPECT_EQ(Built(cache_, file), 0);  // kept
    MakeFile("manual.chm", Pages("narwhal", 7));
    EXPECT_EQ(Hits({file}, "walrus"), std::vector<std::string>());
    EXPECT_EQ(Hits({file}, "narwhal"), std::vector<std::string>({"/p3.htm"}));
    EXPECT_EQ(CacheFiles(".idx").size(), 1u);
}

TEST_F(SearchTest, DamagedOrForeignIndexesAreBuiltAgain)
{
    std::string file = MakeFile("manual.chm", Pages("walrus", 40));
    std::string other = MakeFile("other.chm", Pages("narwhal", 3));
    ASSERT_EQ(Built(cache_, other), 1);
    std::string otherIndex = CacheFiles(".idx")[0];
    ASSERT_EQ(Built(cache_, file), 1);
    std::string index;
    for (const std::string& path : CacheFiles(".idx"))
        if (path != otherIndex)
            index = path;
    ASSERT_FALSE(index.empty());
    std::vector<uint8_t> good = ReadBytes(index);
    const struct {
        const char* damage;
        std::vector<uint8_t> bytes;
    } damages[] = {
        {"a byte changed in the middle",
         [&] {
             auto b = good;
             b[b.size() / 2] ^= 0x40;
             return b;
         }()},
        {"cut in half", std::vector<uint8_t>(good.begin(), good.begin() + good.size() / 2)},
        {"empty", {}},
        {"a text file", std::vector<uint8_t>({'h', 'e', 'l', 'l', 'o', '\n'})},
        {"another help file's index", ReadBytes(otherIndex)},
        {"the header alone", std::vector<uint8_t>(good.begin(), good.begin() + IndexHeaderSize)},
    };
    for (const auto& damage : damages) {
        ASSERT_TRUE(WriteBytes(index, damage.bytes));
        EXPECT_EQ(Built(cache_, file), 1) << damage.damage;
        EXPECT_EQ(Hits({file}, "walrus"), std::vector<std::string>({"/p20.htm"})) << damage.damage;
        EXPECT_EQ(Built(cache_, file), 0) << damage.damage;
    }
}

// A process that builds, stopped after its first batch until told to go on
// (a byte on go), while this one asks for the same index.
TEST_F(SearchTest, TwoBuildersOfOneIndexDoNotClash)
{
    std::string file = MakeFile("manual.chm", Pages("walrus", 60));
    int ready[2], go[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(go), 0);
    pid_t builder = fork();
    ASSERT_GE(builder, 0);
    if (builder == 0) {
        BuildTuning tuning;
        tuning.workers = 1;
        tuning.pagesPerBatch = 5;
        bool paused = false;
        tuning.afterBatch = [&](uint32_t) {
            if (paused)
                return;
            paused = true;
            char byte = 1;
            (void)!write(ready[1], &byte, 1);
            (void)!read(go[0], &byte, 1);
        };
        _exit(Built(cache_, file, tuning) == 1 ? 0 : 1);
    }
    char byte = 0;
    ASSERT_EQ(read(ready[0], &byte, 1), 1);
    EXPECT_EQ(CacheFiles(".build").size(), 1u);
    // The second asks while the first holds the lock: it waits, and lets the
    // first go on once it has seen the first batch.
    bool waited = false;
    std::thread release([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        (void)!write(go[1], &byte, 1);
    });
    EXPECT_EQ(Built(cache_, file, {}, &waited), 0);
    release.join();
    EXPECT_TRUE(waited);
    int status = 0;
    ASSERT_EQ(waitpid(builder, &status, 0), builder);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(Hits({file}, "walrus"), std::vector<std::string>({"/p30.htm"}));
    EXPECT_EQ(CacheFiles(".idx").size(), 1u);
    EXPECT_EQ(CacheFiles(".build").size(), 0u);
    for (int fd : {ready[0], ready[1], go[0], go[1]})
        close(fd);
}

TEST_F(SearchTest, ABuildKilledHalfWayIsNotTrusted)
{
    std::string file = MakeFile("manual.chm", Pages("walrus", 60));
    pid_t builder = fork();
    ASSERT_GE(builder, 0);
    if (builder == 0) {
        BuildTuning tuning;
        tuning.workers = 1;
        tuning.pagesPerBatch = 5;
        tuning.afterBatch = [](uint32_t done) {
            if (done >= 10)
                kill(getpid(), SIGKILL);
        };
        Built(cache_, file, tuning);
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(builder, &status, 0), builder);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    ASSERT_EQ(CacheFiles(".build").size(), 1u);  // what it left
    EXPECT_EQ(CacheFiles(".idx").size(), 0u);
    EXPECT_EQ(Built(cache_, file), 1);
    EXPECT_EQ(Hits({file}, "walrus"), std::vector<std::string>({"/p30.htm"}));
    EXPECT_EQ(CacheFiles(".build").size(), 0u);
}

TEST_F(SearchTest, TheIndexesUsedLongestAgoGoFirstAndCleaningEmptiesTheCache)
{
    std::string old = MakeFile("old.chm", Pages("walrus", 3));
    std::string recent = MakeFile("recent.chm", Pages("narwhal", 3));
    std::string newest = MakeFile("newest.chm", Pages("beluga", 3));
    ASSERT_EQ(Built(cache_, old), 1);
    ASSERT_EQ(Built(cache_, recent), 1);
    uint64_t one = fs::file_size(CacheFiles(".idx")[0]);
    cache_.limit = one * 2 + one / 2;  // room for two
    ASSERT_EQ(Built(cache_, old), 0);  // used again: recent is now the oldest used
    ASSERT_EQ(Built(cache_, newest), 1);
    EXPECT_EQ(CacheFiles(".idx").size(), 2u);
    EXPECT_EQ(Built(cache_, old), 0);
    EXPECT_EQ(Built(cache_, newest), 0);
    EXPECT_EQ(Built(cache_, recent), 1);

    // An entry being built (its lock held) is left alone.
    CacheLock lock;
    std::string error;
    ASSERT_TRUE(
        lock.Take(cache_.directory + "/0123456789abcdef-0123456789abcdef.lock", false, error));
    CacheCleaning cleaning = EmptySearchCache(cache_);
    EXPECT_EQ(cleaning.removed, 2);
    EXPECT_EQ(cleaning.busy, 1);
    EXPECT_EQ(cleaning.failures, std::vector<std::string>());
    EXPECT_EQ(CacheFiles(".idx").size(), 0u);
    EXPECT_EQ(CacheFiles(".lock").size(), 1u);
}

}  // namespace

#endif
