// The full-text index reader: the topics of the words that begin with a
// prefix, read through only the nodes on the way, and indexes that lie.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fulltext_builder.h"
#include "lookup/lookup.h"
#include "platform/platform.h"

namespace {

// An index in memory that records every range read.
struct MemoryIndex {
    std::vector<uint8_t> bytes;
    std::vector<std::pair<uint32_t, uint32_t>> reads = {};  // offset, length

    static int Read(void* context, uint32_t offset, uint32_t length, uint8_t* destination)
    {
        MemoryIndex* index = (MemoryIndex*)context;
        EXPECT_LE((uint64_t)offset + length, index->bytes.size());
        if ((uint64_t)offset + length > index->bytes.size())
            return 0;
        index->reads.push_back({offset, length});
        memcpy(destination, index->bytes.data() + offset, length);
        return 1;
    }
    FullTextSource Source()
    {
        return {(uint32_t)bytes.size(), Read, this};
    }
};

// A lookup's result and topics, as "result: t t t".
std::string Listed(int result, const std::vector<uint32_t>& topics)
{
    std::string out = std::to_string(result);
    out += ':';
    for (uint32_t t : topics) {
        out += ' ';
        out += std::to_string(t);
    }
    return out;
}

// The lookup's result and topics.
std::string Lookup(MemoryIndex& index, const std::string& prefix, uint32_t topicCount = 100)
{
    FullTextSource source = index.Source();
    FullTextHeader header;
    if (!ReadFullTextHeader(&source, &header))
        return "no header";
    uint32_t* topics = nullptr;
    uint32_t count = 0;
    int result = FindFullTextTopics(&source, &header, prefix.data(), (uint32_t)prefix.size(),
                                    topicCount, &topics, &count);
    std::vector<uint32_t> found(topics, topics + count);
    free(topics);
    return Listed(result, found);
}

// Words enough for three levels of 128-byte nodes: one word in its text and
// title entries, words sharing long beginnings, a topic beyond the topics.
std::vector<TestWord> Words()
{
    std::vector<TestWord> words = {
        {"apple", {{3, {2, 9}}, {7}}},
        {"applet", {{1}, {3, {40}}}},
        {"application", {{5}, {250, {1, 2, 3}}}},
        {"apply", {{2}}},
        {"apricot", {{4}}},
        {"zebra", {{6}}},
        {"zebra", {{0}}, 1},
        {"zero", {{120}}},
    };
    for (uint32_t i = 0; i < 160; ++i) {
        std::string word = "m";
        word += std::to_string(100 + i);
        words.push_back({word, {{i % 9}}});
    }
    return words;
}

// What the lookup should give: each matching word's topics in index order,
// each topic once, those below topicCount.
std::string Expected(const std::vector<TestWord>& words, const std::string& prefix,
                     uint32_t topicCount = 100)
{
    std::vector<TestWord> sorted = words;
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const TestWord& a, const TestWord& b) { return a.word < b.word; });
    std::vector<uint32_t> topics;
    for (const TestWord& w : sorted)
        if (w.word.compare(0, prefix.size(), prefix) == 0)
            for (const TestHit& hit : w.hits)
                if (hit.topic < topicCount &&
                    std::find(topics.begin(), topics.end(), hit.topic) == topics.end())
                    topics.push_back(hit.topic);
    return Listed(FullTextOk, topics);
}

}  // namespace

TEST(FullTextIndex, FindsTheTopicsOfEveryWordThatBeginsWithThePrefix)
{
    const std::vector<TestWord> words = Words();
    for (uint32_t nodeSize : {4096u, 256u, 128u}) {
        FullTextLayout layout;
        layout.nodeSize = nodeSize;
        layout.documentRoot = nodeSize == 128 ? 0 : 2;
        layout.listPadding = nodeSize == 256 ? 3 : 0;
        MemoryIndex index {BuildFullText(words, layout).bytes};
        for (const char* prefix : {"a", "app", "apple", "applet", "appli", "apr", "b", "m11",
                                   "m139", "zebra", "zebras", "zz", "0", "~", "\xE9"}) {
            SCOPED_TRACE(std::to_string(nodeSize) + " " + prefix);
            EXPECT_EQ(Lookup(index, prefix), Expected(words, prefix));
        }
        EXPECT_EQ(Lookup(index, "app", 5), Expected(words, "app", 5));
    }
    EXPECT_EQ(BuildFullText(words, {128}).depth, 3u);
    EXPECT_EQ(BuildFullText(words, {4096}).depth, 1u);
}

TEST(FullTextIndex, ReadsOnlyTheNodesOnTheWayAndTheMatchingLists)
{
    FullTextLayout layout;
    layout.nodeSize = 128;
    BuiltFullText built = BuildFullText(Words(), layout);
    ASSERT_EQ(built.depth, 3u);
    MemoryIndex index {built.bytes};
    ASSERT_EQ(Lookup(index, "m105"), Expected(Words(), "m105"));
    std::set<uint32_t> nodes;
    uint32_t lists = 0;
    for (const auto& [offset, length] : index.reads) {
        if (length == layout.nodeSize)
            nodes.insert(offset);
        else if (offset != 0)
            ++lists;
    }
    // The root, one index node below it, and the leaf (or two) that hold the
    // word; one list.
    EXPECT_GE(nodes.size(), 3u);
    EXPECT_LE(nodes.size(), 4u);
    EXPECT_TRUE(nodes.count(built.indexNodes.back()));
    EXPECT_EQ(lists, 1u);
    EXPECT_LT(index.reads.size(), 8u);
}

TEST(FullTextIndex, ADamagedIndexFailsTheLookupAndEnds)
{
    FullTextLayout layout;
    layout.nodeSize = 128;
    const BuiltFullText built = BuildFullText(Words(), layout);
    ASSERT_GE(built.leaves.size(), 4u);
    const uint32_t root = built.indexNodes.back(), leaf = built.leaves[0];
    // The first leaf's first entry, "apple": its length byte, what it shares
    // and 5 bytes; then its context, topic count, list offset, 0 and size, 16
    // bytes in all.
    const uint32_t entry = leaf + 8, tail = entry + 7, list = built.lists[0];
    const uint32_t rootChild = root + 2 + 1 + built.bytes[root + 2];
    auto put32 = [](uint32_t at, uint32_t value) {
        return [=](std::vector<uint8_t>& b) { Put32(b, at, value); };
    };
    auto put8 = [](uint32_t at, uint8_t value) {
        return [=](std::vector<uint8_t>& b) { b.at(at) = value; };
    };
    const std::string noHeader = "no header", damaged = Listed(FullTextDamaged, {});
    const struct {
        const char* what;
        std::function<void(std::vector<uint8_t>&)> damage;
        std::string result;
        const char* prefix = "a";
    } cases[] = {
        {"cut inside the header", [](std::vector<uint8_t>& b) { b.resize(0x81); }, noHeader},
        {"root past the end", put32(8, (uint32_t)built.bytes.size() - 127), noHeader},
        {"depth 0", put8(0x18, 0), noHeader},
        {"depth 33", put8(0x18, 33), noHeader},
        {"scale 3", put8(0x20, 3), noHeader},
        {"root size 33", put8(0x23, 33), noHeader},
        {"node size 32", put32(0x2E, 32), noHeader},
        {"free bytes beyond the node", put8(root, 0xFF), damaged},
        {"a child past the end", put32(rootChild, 0xFFFFFF00), damaged},
        {"entries end inside the second entry", put8(leaf + 6, 128 - 26), damaged},
        {"a word that shares more than the one before", put8(entry + 1, 9), damaged},
        {"an entry of length 0", put8(entry, 0), damaged},
        {"a list past the end", put32(tail + 2, 0x7FFFFFF0), damaged},
        {"more topics than the list has bytes", put8(tail + 1, 0x7F), damaged},
        {"an encoded integer of six bytes",
         [&](std::vector<uint8_t>& b) {
             for (uint32_t i = 1; i <= 6; ++i)
                 b[tail + i] = 0x80;
         },
         damaged},
        {"a list of ones", [&](std::vector<uint8_t>& b) { b[list] = b[list + 1] = 0xFF; }, damaged},
        {"a leaf chained to itself", put32(built.leaves[2], built.leaves[2]), damaged, "m"},
        {"a leaf chained back", put32(built.leaves[3], built.leaves[2]), damaged, "m"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        MemoryIndex index {built.bytes};
        c.damage(index.bytes);
        EXPECT_EQ(Lookup(index, c.prefix), c.result);
    }
}

TEST(FullTextIndex, KeywordsAreLookedUpAsTheIndexStoresWords)
{
#if !defined(_WIN32)
    setenv("VELKORY_CODEPAGES", "1252:65001", 1);
#endif
    // The keyword as the OEM code page writes it; "" when the code page
    // cannot write it exactly.
    auto oem = [](const std::u16string& text) {
        std::vector<WCHAR> wide(text.begin(), text.end());
        char out[64] = "";
        int n = WideCharToMultiByte(CP_OEMCP, 0, wide.data(), (int)wide.size(), out,
                                    (int)sizeof out - 1, nullptr, nullptr);
        WCHAR back[64];
        int units = n > 0 ? MultiByteToWideChar(CP_OEMCP, 0, out, n, back, 64) : 0;
        bool exact = units == (int)wide.size() && std::equal(wide.begin(), wide.end(), back);
        return exact ? std::string(out, (size_t)n) : std::string();
    };
    const struct {
        std::u16string keyword;
        uint32_t codePage;
        std::string word;  // "" when no word can begin with it
    } cases[] = {
        {u"Hello", 1252, "hello"},
        {u"\u00C9mile", 1252, "\xE9mile"},
        {u"STRA\u00DFE", 1252,
         "stra\xDF"
         "e"},
        {u"\u00C9mile", 932, ""},
        {u"\u65E5\u672C", 932, "\x93\xFA\x96\x7B"},
        {u"\u65E5\u672C", 1252, ""},
    };
    int run = 0;
    for (const auto& c : cases) {
        std::string keyword = oem(c.keyword);
        if (keyword.empty())
            continue;  // the OEM code page in force cannot write it
        ++run;
        char word[64];
        uint32_t length = 0;
        int made = FullTextWord(keyword.c_str(), c.codePage, word, sizeof word, &length);
        EXPECT_EQ(made ? std::string(word, length) : std::string(), c.word) << keyword;
    }
    EXPECT_GE(run, 3);
#if !defined(_WIN32)
    unsetenv("VELKORY_CODEPAGES");
#endif
}
