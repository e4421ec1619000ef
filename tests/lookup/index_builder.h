// Test-side topic index: builds the four index files of a help file from a
// list of topics, and help files holding them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "lookup/lookup.h"
#include "support/chm_writer.h"

struct TestTopic {
    std::string title;     // stored as is (ANSI code page), NUL-terminated
    std::string url;       // stored NUL-terminated in #URLSTR
    uint32_t zeroPad = 0;  // zero bytes in #URLSTR before the URL (the position points at them)
};

struct TestIndex {
    std::vector<uint8_t> topics, strings, urlTable, urls;
    std::vector<uint32_t> urlPositions;  // per topic: where its URL's first byte lies in #URLSTR
};

inline void Put32(std::vector<uint8_t>& v, size_t at, uint32_t value)
{
    if (v.size() < at + 4)
        v.resize(at + 4);
    for (int i = 0; i < 4; ++i)
        v[at + i] = (uint8_t)(value >> (8 * i));
}

// #STRINGS starts with an empty text and #URLTBL with a decoy entry, so that
// neither offset 0 nor entry 0 belongs to a topic; the unread fields hold
// junk.
inline TestIndex BuildIndex(const std::vector<TestTopic>& topics)
{
    TestIndex index;
    index.strings.push_back(0);
    index.urls = {0, 0, 0, 0};
    std::string decoy = "decoy.htm";
    Put32(index.urlTable, 0, 0x11111111);
    Put32(index.urlTable, 4, 0x22222222);
    Put32(index.urlTable, 8, (uint32_t)index.urls.size());
    index.urls.insert(index.urls.end(), decoy.begin(), decoy.end());
    index.urls.push_back(0);
    for (size_t k = 0; k < topics.size(); ++k) {
        const TestTopic& topic = topics[k];
        uint32_t titleOffset = (uint32_t)index.strings.size();
        index.strings.insert(index.strings.end(), topic.title.begin(), topic.title.end());
        index.strings.push_back(0);

        uint32_t padStart = (uint32_t)index.urls.size();
        index.urls.insert(index.urls.end(), topic.zeroPad, 0);
        index.urlPositions.push_back((uint32_t)index.urls.size());
        index.urls.insert(index.urls.end(), topic.url.begin(), topic.url.end());
        index.urls.push_back(0);

        uint32_t entry = (uint32_t)index.urlTable.size();
        Put32(index.urlTable, entry, 0xAAAA0000u + (uint32_t)k);
        Put32(index.urlTable, entry + 4, (uint32_t)k);
        Put32(index.urlTable, entry + 8, padStart);

        size_t record = index.topics.size();
        Put32(index.topics, record, 0xDEADBEEF);
        Put32(index.topics, record + 4, titleOffset);
        Put32(index.topics, record + 8, entry);
        Put32(index.topics, record + 12, 0xFFFFFFFF);
    }
    return index;
}

inline std::vector<uint8_t> Bytes(const std::string& s)
{
    return std::vector<uint8_t>(s.begin(), s.end());
}

// The four index files as stored files, in the given section.
inline std::vector<StoredFile> IndexFiles(const TestIndex& index, int section = 1)
{
    return {{"/#TOPICS", index.topics, section},
            {"/#STRINGS", index.strings, section},
            {"/#URLTBL", index.urlTable, section},
            {"/#URLSTR", index.urls, section}};
}

// A help file with the index and the given pages.
inline std::vector<uint8_t> HelpFileWith(const TestIndex& index,
                                         const std::vector<StoredFile>& pages, int indexSection = 1)
{
    std::vector<StoredFile> files = IndexFiles(index, indexSection);
    files.insert(files.end(), pages.begin(), pages.end());
    return MakeHelpFile(files);
}

// The module's view of a test-side topic index.
inline TopicIndex TopicIndexView(TestIndex& index)
{
    TopicIndex view = {};
    view.topics = index.topics.data();
    view.topicsLength = (uint32_t)index.topics.size();
    view.strings = index.strings.data();
    view.stringsLength = (uint32_t)index.strings.size();
    view.urlTable = index.urlTable.data();
    view.urlTableLength = (uint32_t)index.urlTable.size();
    view.urls = index.urls.data();
    view.urlsLength = (uint32_t)index.urls.size();
    return view;
}
