// Help files to search and a private cache for each test.
#pragma once

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "host/search/search.h"
#include "lookup/system_builder.h"
#include "support/chm_writer.h"

namespace fs = std::filesystem;

// A page: its stored name (below "/") and its HTML.
using Page = std::pair<std::string, std::string>;

inline void WriteText(const std::string& path, const std::string& text)
{
    EXPECT_TRUE(WriteBytes(path, std::vector<uint8_t>(text.begin(), text.end()))) << path;
}

inline std::string Html(const std::string& title, const std::string& body)
{
    return "<html><head><title>" + title + "</title></head><body><p>" + body + "</p></body></html>";
}

class SearchTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/velkory-search-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root_ = pattern;
        cache_.directory = root_ + "/cache/velkory";
    }
    void TearDown() override
    {
        std::error_code ec;
        fs::remove_all(root_, ec);
    }

    // A help file of pages in the language of lcid (none when 0).
    std::string MakeFile(const std::string& name, const std::vector<Page>& pages,
                         uint32_t lcid = 0x409)
    {
        std::vector<StoredFile> files;
        if (lcid)
            files.push_back({"/#SYSTEM", SystemFileBytes(lcid), 0});
        for (const auto& [page, html] : pages)
            files.push_back({"/" + page, std::vector<uint8_t>(html.begin(), html.end()), 1});
        std::string path = root_ + "/" + name;
        fs::create_directories(fs::path(path).parent_path());
        EXPECT_TRUE(WriteBytes(path, MakeHelpFile(files)));
        return path;
    }

    // The pages that match query in files, best first ("" after an error).
    std::vector<std::string> Hits(const std::vector<std::string>& files, const std::string& query,
                                  bool wordsOnly = false, std::vector<SearchHit>* all = nullptr)
    {
        TextSearch search(cache_);
        std::string error;
        for (const std::string& file : files)
            if (!search.AddHelpFile(file, nullptr, error)) {
                ADD_FAILURE() << error;
                return {""};
            }
        SearchQuery q;
        q.text = query;
        q.limit = 1000;
        q.wordsOnly = wordsOnly;
        std::vector<SearchHit> hits;
        if (!search.Run(q, hits, error)) {
            ADD_FAILURE() << error;
            return {""};
        }
        std::vector<std::string> pages;
        for (const SearchHit& hit : hits)
            pages.push_back(hit.page);
        if (all)
            *all = hits;
        return pages;
    }

    // The cache's files of one kind (".idx", ".build", ...).
    std::vector<std::string> CacheFiles(const std::string& suffix)
    {
        std::vector<std::string> found;
        std::error_code ec;
        for (const auto& item : fs::directory_iterator(cache_.directory, ec))
            if (item.path().extension() == suffix)
                found.push_back(item.path().string());
        return found;
    }

    std::string root_;
    SearchCache cache_;
};
