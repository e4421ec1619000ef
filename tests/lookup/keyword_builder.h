// Test-side keyword indexes: a compiled index (/$WWKeywordLinks/BTree) from a
// list of entries, and #SYSTEM records naming a sitemap index.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "index_builder.h"

struct TestKeyword {
    std::u16string keyword;        // "parent, child" for a sub-keyword
    std::vector<uint32_t> topics;  // #TOPICS record numbers
    std::u16string seeAlso = {};   // when not empty, a see-also entry (topics unused)
};

inline void Put16(std::vector<uint8_t>& v, size_t at, uint16_t value)
{
    if (v.size() < at + 2)
        v.resize(at + 2);
    v[at] = (uint8_t)value;
    v[at + 1] = (uint8_t)(value >> 8);
}

inline void PutText16(std::vector<uint8_t>& v, const std::u16string& text)
{
    for (char16_t c : text)
        Put16(v, v.size(), c);
    Put16(v, v.size(), 0);
}

constexpr size_t BTreeHeader = 0x4C;

// The header and one listing block per perBlock entries, chained in order.
inline std::vector<uint8_t> BuildBTree(const std::vector<TestKeyword>& keywords,
                                       size_t perBlock = 1000, uint16_t blockSize = 2048)
{
    std::vector<uint8_t> out(BTreeHeader, 0);
    Put16(out, 0, 0x293B);
    Put16(out, 2, 0x0104);
    Put16(out, 4, blockSize);
    size_t blocks = keywords.empty() ? 1 : (keywords.size() + perBlock - 1) / perBlock;
    for (size_t b = 0; b < blocks; ++b) {
        std::vector<uint8_t> block(12, 0);
        size_t first = b * perBlock;
        size_t count = 0;
        for (size_t k = first; k < keywords.size() && k < first + perBlock; ++k, ++count) {
            const TestKeyword& entry = keywords[k];
            PutText16(block, entry.keyword);
            size_t at = block.size();
            Put16(block, at, entry.seeAlso.empty() ? 0 : 2);
            Put32(block, at + 4, 0);
            Put32(block, at + 8, 0);
            Put32(block, at + 12, (uint32_t)(entry.seeAlso.empty() ? entry.topics.size() : 1));
            if (entry.seeAlso.empty())
                for (uint32_t topic : entry.topics)
                    Put32(block, block.size(), topic);
            else
                PutText16(block, entry.seeAlso);
            Put32(block, block.size(), 1);
            Put32(block, block.size(), (uint32_t)k);
        }
        Put16(block, 0, (uint16_t)(blockSize - block.size()));
        Put16(block, 2, (uint16_t)count);
        Put32(block, 4, b == 0 ? 0xFFFFFFFF : (uint32_t)(b - 1));
        Put32(block, 8, b + 1 == blocks ? 0xFFFFFFFF : (uint32_t)(b + 1));
        block.resize(blockSize, 0);
        out.insert(out.end(), block.begin(), block.end());
    }
    return out;
}

// #SYSTEM: version 3, then the index file record (code 1) when hhk is given.
inline std::vector<uint8_t> SystemNaming(const std::string& hhk)
{
    std::vector<uint8_t> out;
    Put32(out, 0, 3);
    Put16(out, 4, 3);  // a title record first
    Put16(out, 6, 2);
    out.insert(out.end(), {'T', 0});
    if (!hhk.empty()) {
        Put16(out, out.size(), 1);
        Put16(out, out.size(), (uint16_t)(hhk.size() + 1));
        out.insert(out.end(), hhk.begin(), hhk.end());
        out.push_back(0);
    }
    return out;
}

// One sitemap entry: a Name and then (title, local) pairs, title "" for none.
inline std::string SitemapObject(const std::string& name,
                                 const std::vector<std::pair<std::string, std::string>>& targets)
{
    std::string out =
        "<LI><OBJECT type=\"text/sitemap\">\n<param name=\"Name\" value=\"" + name + "\">\n";
    for (const auto& [title, local] : targets) {
        if (!title.empty())
            out += "<param name=\"Name\" value=\"" + title + "\">\n";
        out += "<param name=\"Local\" value=\"" + local + "\">\n";
    }
    return out + "</OBJECT>\n";
}
