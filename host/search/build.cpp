// Building a help file's index and keeping it in the cache (search.h).
//
// One pass decodes the help file's pages in the order they are stored (a
// thread of its own); workers turn each page into text and terms; the
// calling thread adds the documents in the pages' order and commits them in
// batches, so that another process can search what is committed while the
// build goes on. The build is written in "<entry>.build/" under the entry's
// lock, then compacted into "<entry>.tmp", sealed with its header and
// checksum and renamed to "<entry>.idx". A build that is killed leaves a
// directory that the next process to take the lock removes.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <exception>
#include <map>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include <sys/stat.h>
#include <xapian.h>

#include "container/container.h"
#include "host/page/page.h"
#include "host/search/search.h"
#include "lookup/encoding.h"
#include "lookup/lookup.h"
#include "platform/terminal_text.h"

namespace {

using Clock = std::chrono::steady_clock;

// At most this many workers, each with its part of the build.
constexpr unsigned MostParts = 16;

std::string PartPath(const std::string& dir, size_t part)
{
    return dir + "/" + std::to_string(part);
}

// Every part of the build in dir that exists, as one database.
Xapian::Database OpenParts(const std::string& dir)
{
    Xapian::Database all;
    for (size_t part = 0; part < MostParts; ++part) {
        try {
            all.add_database(Xapian::Database(PartPath(dir, part)));
        } catch (const Xapian::DatabaseOpeningError&) {
            break;
        }
    }
    return all;
}

// A queue between two stages of the build, holding at most capacity items.
template <typename Item> class Queue {
public:
    explicit Queue(size_t capacity)
        : capacity_(capacity)
    {
    }
    // False when the build was stopped.
    bool Push(Item&& item)
    {
        std::unique_lock<std::mutex> hold(mutex_);
        notFull_.wait(hold, [&] { return items_.size() < capacity_ || stopped_; });
        if (stopped_)
            return false;
        items_.push_back(std::move(item));
        notEmpty_.notify_one();
        return true;
    }
    // False when nothing more will come.
    bool Pop(Item& item)
    {
        std::unique_lock<std::mutex> hold(mutex_);
        notEmpty_.wait(hold, [&] { return !items_.empty() || closed_ || stopped_; });
        if (stopped_ || items_.empty())
            return false;
        item = std::move(items_.front());
        items_.pop_front();
        notFull_.notify_one();
        return true;
    }
    void Close()  // no more items will be pushed
    {
        std::lock_guard<std::mutex> hold(mutex_);
        closed_ = true;
        notEmpty_.notify_all();
    }
    void Stop()  // the build ends: everyone waiting returns
    {
        std::lock_guard<std::mutex> hold(mutex_);
        stopped_ = true;
        notEmpty_.notify_all();
        notFull_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable notFull_, notEmpty_;
    std::deque<Item> items_;
    size_t capacity_;
    bool closed_ = false, stopped_ = false;
};

struct PageJob {
    std::string name;
    std::string html;
    bool readable = false;
};

// What the stages of one build share. Page k goes to worker k % workers,
// which adds it to its own part of the build: each part is a database of
// its own, and the parts are merged when the index is compacted, so that the
// pages' terms are written on every core and in the same order every time.
struct Build {
    HelpFile* file = nullptr;
    std::vector<uint8_t> wanted;  // per directory index: 1 for a page
    uint32_t pages = 0;
    unsigned codePage = 0;  // of pages that do not declare theirs
    std::string language;
    std::unordered_map<std::string, std::string> topicTitles;  // page -> title (UTF-8)
    std::string dir;
    const BuildTuning* tuning = nullptr;
    std::vector<std::unique_ptr<Queue<PageJob>>> queues;  // one for each worker
    uint32_t handed = 0;                                  // pages given to the workers
    std::atomic<uint32_t> done {0};                       // pages written by them
    std::mutex batchMutex;                                // afterBatch is called by one at a time
    std::mutex finishMutex;
    std::condition_variable finished;
    unsigned workersLeft = 0;
    std::mutex failureMutex;
    std::string failure;

    void Fail(const std::string& why)
    {
        {
            std::lock_guard<std::mutex> hold(failureMutex);
            if (failure.empty())
                failure = why;
        }
        for (auto& queue : queues)
            queue->Stop();
    }
};

int HandStoredPage(void* context, int32_t, const DirectoryEntry* entry, int error,
                   const uint8_t* data, uint32_t length)
{
    Build& build = *static_cast<Build*>(context);
    PageJob job;
    job.name = entry->Name;
    job.readable = error == ContainerOk && data != nullptr;
    if (job.readable)
        job.html.assign((const char*)data, length);
    Queue<PageJob>& queue = *build.queues[build.handed++ % build.queues.size()];
    return queue.Push(std::move(job)) ? 0 : 1;
}

void DecodePages(Build& build)
{
    StreamOptions options;
    memset(&options, 0, sizeof options);
    options.Workers = 1;
    options.Wanted = build.wanted.data();
    StreamStoredFiles(build.file, &options, HandStoredPage, &build);
    for (auto& queue : build.queues)
        queue->Close();
}

// One worker: its pages' text and terms, written to its part of the build
// and committed in batches.
void IndexPages(Build& build, size_t worker)
{
    try {
        Xapian::WritableDatabase db(PartPath(build.dir, worker),
                                    Xapian::DB_CREATE_OR_OPEN | Xapian::DB_NO_SYNC |
                                        Xapian::DB_NO_TERMLIST | Xapian::DB_BACKEND_GLASS);
        PageTerms terms(build.language);
        const BuildTuning& tuning = *build.tuning;
        uint32_t batch = 0;
        Clock::time_point lastCommit = Clock::now();
        auto interval = std::chrono::milliseconds(250);  // the first batch soon
        PageJob page;
        while (build.queues[worker]->Pop(page)) {
            if (page.readable) {
                PageText text = ReadPageText(page.html, build.codePage);
                if (text.title.empty()) {
                    auto known = build.topicTitles.find(page.name);
                    if (known != build.topicTitles.end())
                        text.title = known->second;
                }
                Xapian::Document document;
                terms.Fill(document, text.title, text.text, false);
                document.set_data(page.name + "\n" + text.title);
                db.add_document(document);
                ++batch;
            }
            uint32_t done = ++build.done;
            bool due = tuning.pagesPerBatch ? batch >= tuning.pagesPerBatch
                                            : batch > 0 && Clock::now() - lastCommit >= interval;
            if (due) {
                db.commit();
                batch = 0;
                lastCommit = Clock::now();
                interval = std::chrono::milliseconds(1000);
                if (tuning.afterBatch) {
                    std::lock_guard<std::mutex> hold(build.batchMutex);
                    tuning.afterBatch(done);
                }
            }
        }
        db.commit();
    } catch (const Xapian::Error& e) {
        build.Fail(e.get_description());
    } catch (const std::exception& e) {
        build.Fail(e.what());
    }
    std::lock_guard<std::mutex> hold(build.finishMutex);
    --build.workersLeft;
    build.finished.notify_all();
}

// The titles of the topic index (as `topics` lists them), for pages
// without a <title>.
void ReadTopicTitles(const std::string& helpFile, Build& build)
{
    TopicIndex index;
    if (!ReadTopicIndex(helpFile.c_str(), &index))
        return;
    char title[TitleBufferSize], page[NameBufferSize];
    for (uint32_t record = 0;
         index.topicsLength > 12 && (uint64_t)record * 16 + 4 < index.topicsLength; ++record) {
        uint32_t position;
        if (!ReadTopicTitle(&index, record, title) || title[0] == '\0' ||
            !FindTopicUrl(&index, record, &position) || !BuildPageName(&index, position, page))
            continue;
        char utf8[TitleBufferSize * 4];
        OemToTerminal(title, utf8, sizeof utf8);
        build.topicTitles.emplace(page, utf8);
    }
    ReleaseTopicIndex(&index);
}

// Builds the index of helpFile in the directory dir, one part for each
// worker.
bool BuildIndex(const std::string& helpFile, const std::string& dir, const CacheEntry& entry,
                const BuildTuning& tuning, const BuildProgress& progress, std::string& error)
{
    unsigned workers = tuning.workers ? tuning.workers : std::thread::hardware_concurrency();
    workers = std::max(1u, std::min(workers, MostParts));
    Build build;
    build.dir = dir;
    build.tuning = &tuning;
    for (unsigned i = 0; i < workers; ++i)
        build.queues.emplace_back(new Queue<PageJob>(8));
    build.file = OpenHelpFile(helpFile.c_str());
    if (!build.file) {
        error = "cannot open " + helpFile;
        return false;
    }
    SystemInfo info;
    ReadSystemInfo(build.file, &info);
    build.language = StemmerLanguage(info.lcid);
    build.codePage = LocaleAnsiCodePage(info.lcid);
    ReadTopicTitles(helpFile, build);
    int32_t count = DirectoryCount(build.file);
    build.wanted.assign(count > 0 ? (size_t)count : 1, 0);
    for (int32_t i = 0; i < count; ++i) {
        if (IsPageName(DirectoryAt(build.file, i)->Name)) {
            build.wanted[(size_t)i] = 1;
            ++build.pages;
        }
    }

    std::vector<std::thread> threads;
    try {
        if (mkdir(dir.c_str(), 0700) != 0)
            throw std::runtime_error("cannot create " + dir + ": " + strerror(errno));
        // What the index is, in the first part (which the merge keeps).
        Xapian::WritableDatabase first(PartPath(dir, 0),
                                       Xapian::DB_CREATE_OR_OVERWRITE | Xapian::DB_NO_SYNC |
                                           Xapian::DB_NO_TERMLIST | Xapian::DB_BACKEND_GLASS);
        first.set_metadata(IdentityKey, entry.identity);
        first.set_metadata(LanguageKey, build.language);
        first.set_metadata(PagesKey, std::to_string(build.pages));
        first.commit();
        first.close();
        if (progress)
            progress(helpFile, 0, build.pages, false);
        build.workersLeft = workers;
        threads.emplace_back(DecodePages, std::ref(build));
        for (unsigned i = 0; i < workers; ++i)
            threads.emplace_back(IndexPages, std::ref(build), (size_t)i);
        // Progress is told from here, while the workers work.
        std::unique_lock<std::mutex> hold(build.finishMutex);
        uint32_t told = 0;
        while (!build.finished.wait_for(hold, std::chrono::milliseconds(50),
                                        [&] { return build.workersLeft == 0; })) {
            uint32_t done = build.done;
            if (done != told && progress)
                progress(helpFile, done, build.pages, false);
            told = done;
        }
    } catch (const Xapian::Error& e) {
        build.Fail(e.get_description());
    } catch (const std::exception& e) {
        build.Fail(e.what());
    }
    for (std::thread& thread : threads)
        thread.join();
    CloseHelpFile(build.file);
    if (!build.failure.empty()) {
        error = "cannot index " + helpFile + ": " + build.failure;
        return false;
    }
    if (progress)
        progress(helpFile, build.pages, build.pages, false);
    return true;
}

// Compacts the finished build into the entry's index file.
bool PublishIndex(const CacheEntry& entry, std::string& error)
{
    std::string temporary = entry.base + ".tmp";
    int fd = CreateIndexFile(temporary, error);
    if (fd < 0)
        return false;
    try {
        OpenParts(entry.base + ".build").compact(fd, Xapian::DBCOMPACT_SINGLE_FILE);  // closes fd
    } catch (const Xapian::Error& e) {
        error = "cannot write " + temporary + ": " + e.get_description();
        unlink(temporary.c_str());
        return false;
    }
    return SealIndexFile(temporary, entry.base + ".idx", HashText(entry.identity), error);
}

// Waits while another process holds the entry's lock, telling progress
// what its build has committed; returns with the lock taken, or false with
// the reason in error.
bool WaitForBuilder(const std::string& helpFile, const CacheEntry& entry,
                    const BuildProgress& progress, CacheLock& lock, std::string& error)
{
    for (;;) {
        if (progress) {
            uint32_t done = 0, total = 0;
            try {
                Xapian::Database build = OpenParts(entry.base + ".build");
                done = build.get_doccount();
                total = (uint32_t)strtoul(build.get_metadata(PagesKey).c_str(), nullptr, 10);
            } catch (const Xapian::Error&) {
            }
            progress(helpFile, done, std::max(done, total), true);
        }
        if (lock.Take(entry.base + ".lock", false, error))
            return true;
        if (!error.empty())
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

}  // namespace

int ReadyIndex(const SearchCache& cache, const std::string& helpFile, const BuildTuning& tuning,
               const BuildProgress& progress, std::string& error)
{
    CacheEntry entry;
    if (!FindCacheEntry(cache, helpFile, entry, error))
        return -1;
    const uint64_t identityHash = HashText(entry.identity);
    const std::string index = entry.base + ".idx";
    int fd = OpenCheckedIndex(index, identityHash);
    if (fd >= 0)
        return fd;

    CacheLock lock;
    if (!lock.Take(entry.base + ".lock", false, error) &&
        (!error.empty() || !WaitForBuilder(helpFile, entry, progress, lock, error)))
        return -1;
    // Another process may have finished the index meanwhile.
    fd = OpenCheckedIndex(index, identityHash);
    if (fd >= 0)
        return fd;
    // Whatever else is under the entry's name is not trusted: a build whose
    // process was killed, a damaged or foreign index.
    ClearEntry(entry.base, false);
    if (!BuildIndex(helpFile, entry.base + ".build", entry, tuning, progress, error) ||
        !PublishIndex(entry, error)) {
        ClearEntry(entry.base, false);
        return -1;
    }
    RemovePath(entry.base + ".build");
    TidySearchCache(cache, entry);
    fd = OpenCheckedIndex(index, identityHash);
    if (fd < 0)
        error = "the index just written cannot be read back from " + index;
    return fd;
}
