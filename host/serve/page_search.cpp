// The full-text search of the help files served (serve.h), on the search
// room's engine: one index per help file, kept in the user's cache and
// shared with `velkory search`, all of them searched together so that hits
// of several files rank on one scale. Once the search is first wanted, the
// files given are indexed one after the other by the server's background
// thread, and searched meanwhile on the pages their builds have committed; a
// file opened for a link is indexed when it is first searched.
#include <chrono>
#include <string>
#include <vector>

#include "host/page/page.h"
#include "host/search/search.h"
#include "host/serve/serve.h"

namespace {

// The served file whose number in the search is number, or null.
ServedFile* FileNumbered(Library& library, size_t number)
{
    std::lock_guard<std::mutex> guard(library.filesLock);
    for (auto& served : library.files)
        if (served->searchNumber == number)
            return served.get();
    return nullptr;
}

FoundPage Found(ServedFile* file, SearchHit& hit)
{
    FoundPage page;
    page.file = file;
    page.name = std::move(hit.page);
    // A page without a title goes by its name.
    page.title =
        hit.title.empty() ? TextToUtf8(page.name.substr(1), Windows1252) : std::move(hit.title);
    page.score = hit.score;
    page.snippet = std::move(hit.snippet);
    page.marks = std::move(hit.marks);
    return page;
}

// The library's search, made now if it is not yet (the files served so far
// added to it, the indexer told); null when it cannot be had.
TextSearch* WantSearch(Library& library)
{
    std::lock_guard<std::mutex> guard(library.filesLock);
    if (!library.searchStarted) {
        library.searchStarted = true;
        SearchCache cache;
        if (UserSearchCache(cache, library.searchFailure)) {
            BuildTuning tuning;
            tuning.stopping = &library.stopping;
            library.search = std::make_unique<TextSearch>(cache, tuning);
            for (auto& served : library.files)
                JoinSearch(library, *served);
        } else {
            library.searchFailure = "no search: " + library.searchFailure;
        }
        library.searchStarts.notify_all();
    }
    return library.search.get();
}

}  // namespace

void JoinSearch(Library& library, ServedFile& served)
{
    if (library.search)
        served.searchNumber = library.search->AddPendingHelpFile(served.path);
}

void IndexLibrary(Library& library)
{
    {
        std::unique_lock<std::mutex> guard(library.filesLock);
        while (!library.searchStarted && !library.stopping)
            library.searchStarts.wait_for(guard, std::chrono::milliseconds(100));
        if (!library.search)
            return;
    }
    for (size_t f = 0; !library.stopping; ++f) {
        ServedFile* served = ServedFileAt(library, f);
        if (!served)
            return;
        if (served->background)
            library.search->MakeReady(served->searchNumber);
    }
}

IndexProgress SearchProgress(Library& library, ServedFile& served)
{
    IndexProgress progress;
    if (!WantSearch(library)) {
        progress.failure = library.searchFailure;
        return progress;
    }
    if (!served.background) {
        std::lock_guard<std::mutex> guard(served.indexLock);
        library.search->MakeReady(served.searchNumber);
    }
    return library.search->Progress(served.searchNumber);
}

IndexProgress LibraryProgress(Library& library, size_t& waiting)
{
    IndexProgress all;
    all.ready = true;
    waiting = 0;
    for (size_t f = 0; ServedFile* served = ServedFileAt(library, f); ++f) {
        if (!served->background)
            continue;  // not given: opened for a link
        IndexProgress progress = SearchProgress(library, *served);
        all.done += progress.done;
        all.total += progress.total;
        all.ready = all.ready && progress.ready;
        waiting += !progress.ready && progress.failure.empty();
        if (all.failure.empty())
            all.failure = progress.failure;
    }
    return all;
}

std::vector<FoundPage> SearchablePages(Library& library, ServedFile& served)
{
    std::vector<FoundPage> pages;
    if (!WantSearch(library))
        return pages;
    for (SearchHit& hit : library.search->Pages(served.searchNumber))
        pages.push_back(Found(&served, hit));
    return pages;
}

std::vector<FoundPage> SearchPages(Library& library, ServedFile* served, const std::string& query,
                                   size_t limit, bool asTyped, std::string& error)
{
    std::vector<FoundPage> pages;
    error.clear();
    if (!WantSearch(library)) {
        error = library.searchFailure;
        return pages;
    }
    SearchQuery q;
    q.text = query;
    q.limit = limit;
    q.asTyped = asTyped;
    if (served) {
        q.files.push_back(served->searchNumber);
    } else {
        for (size_t f = 0; ServedFile* file = ServedFileAt(library, f); ++f)
            if (file->background)
                q.files.push_back(file->searchNumber);
    }
    std::vector<SearchHit> hits;
    if (q.files.empty() || !library.search->Run(q, hits, error))
        return pages;
    for (SearchHit& hit : hits)
        if (ServedFile* file = FileNumbered(library, hit.file))
            pages.push_back(Found(file, hit));
    return pages;
}
