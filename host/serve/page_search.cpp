// The full-text search as the server asks for it (serve.h), answered by the
// inverted index of search.cpp. Another engine takes this file's place.
#include <string>
#include <vector>

#include "host/page/page.h"
#include "host/serve/serve.h"

struct PageSearch {
    SearchIndex index;
};

namespace {

FoundPage Found(const SearchPage& page, double score)
{
    return {page.name, page.title, score};
}

}  // namespace

std::shared_ptr<const PageSearch> IndexPages(const std::vector<std::string>& names,
                                             const PageReader& read, uint32_t codePage,
                                             const std::atomic<bool>& stopping)
{
    SearchBuilder builder;
    builder.codePage = codePage;
    std::string html;
    for (const std::string& name : names) {
        if (stopping)
            return nullptr;
        if (read(name, html))
            AddSearchPage(builder, name, html);
    }
    auto search = std::make_shared<PageSearch>();
    search->index = FinishSearchIndex(builder);
    return search;
}

std::vector<FoundPage> IndexedPages(const PageSearch& search)
{
    std::vector<FoundPage> pages;
    pages.reserve(search.index.pages.size());
    for (const SearchPage& page : search.index.pages)
        pages.push_back(Found(page, 0));
    return pages;
}

std::vector<FoundPage> SearchPages(const PageSearch& search, const std::string& query, size_t limit)
{
    std::vector<FoundPage> pages;
    for (const SearchHit& hit : RunSearch(search.index, query, limit))
        pages.push_back(Found(search.index.pages[hit.page], hit.score));
    return pages;
}
