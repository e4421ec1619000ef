// Test-side full-text index: /$FIftiMain written from a list of words, laid
// out as the help compilers lay it out (doc/formats/fulltext-index.md), with
// nodes of any size so that a few words make a deep tree.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "keyword_builder.h"

struct TestHit {
    uint32_t topic;
    std::vector<uint32_t> locations = {1};
};

struct TestWord {
    std::string word;  // as stored: lower case, in the index's code page
    std::vector<TestHit> hits;
    uint8_t context = 0;  // 1: the title's word
};

struct FullTextLayout {
    uint32_t nodeSize = 4096;
    uint8_t documentRoot = 2, countRoot = 1, locationRoot = 4;
    uint32_t codePage = 1252;
    uint32_t listPadding = 0;  // zero bytes after every list
};

// The index and where its parts went, for tests that damage them.
struct BuiltFullText {
    std::vector<uint8_t> bytes;
    uint32_t depth = 0;
    std::vector<uint32_t> leaves;      // in chain order
    std::vector<uint32_t> indexNodes;  // level by level from the leaves up; the root last
    std::vector<uint32_t> lists;       // per word (in index order): its list's offset
};

class FullTextBits {
public:
    void Put(uint32_t bit)
    {
        if (used % 8 == 0)
            bytes.push_back(0);
        if (bit)
            bytes.back() |= (uint8_t)(0x80 >> (used % 8));
        ++used;
    }
    void PutScaleRoot(uint32_t value, uint32_t root)
    {
        uint32_t width = root;
        if (value >= (1ull << root)) {
            width = 31;
            while (!(value >> width & 1))
                --width;
            for (uint32_t k = 0; k < width - root + 1; ++k)
                Put(1);
            value -= 1u << width;
        }
        Put(0);
        for (uint32_t i = width; i > 0; --i)
            Put(value >> (i - 1) & 1);
    }
    void Align()
    {
        used = (used + 7) / 8 * 8;
    }
    std::vector<uint8_t> bytes;

private:
    size_t used = 0;
};

inline void PutFullTextInteger(std::vector<uint8_t>& out, uint32_t value)
{
    do {
        uint8_t byte = value & 0x7F;
        value >>= 7;
        out.push_back(value ? byte | 0x80 : byte);
    } while (value);
}

inline BuiltFullText BuildFullText(std::vector<TestWord> words, const FullTextLayout& layout = {})
{
    std::stable_sort(words.begin(), words.end(),
                     [](const TestWord& a, const TestWord& b) { return a.word < b.word; });
    const uint32_t node = layout.nodeSize;
    std::vector<std::vector<uint8_t>> lists;
    uint32_t documents = 0;
    for (const TestWord& w : words) {
        FullTextBits bits;
        uint32_t previous = 0;
        for (const TestHit& hit : w.hits) {
            bits.PutScaleRoot(hit.topic - previous, layout.documentRoot);
            previous = hit.topic;
            documents = std::max(documents, hit.topic + 1);
            bits.PutScaleRoot((uint32_t)hit.locations.size(), layout.countRoot);
            uint32_t location = 0;
            for (uint32_t l : hit.locations) {
                bits.PutScaleRoot(l - location, layout.locationRoot);
                location = l;
            }
            bits.Align();
        }
        bits.bytes.resize(bits.bytes.size() + layout.listPadding, 0);
        lists.push_back(bits.bytes);
    }
    // A node's entry: the word after what it shares with the one before.
    auto wordBytes = [](const std::string& word, const std::string& before) {
        size_t shared = 0;
        while (shared < word.size() && shared < before.size() && shared < 255 &&
               word[shared] == before[shared])
            ++shared;
        std::vector<uint8_t> out = {(uint8_t)(word.size() - shared + 1), (uint8_t)shared};
        for (size_t i = shared; i < word.size(); ++i)
            out.push_back((uint8_t)word[i]);
        return out;
    };
    auto leafTail = [&](size_t w, uint32_t offset) {
        std::vector<uint8_t> out = {words[w].context};
        PutFullTextInteger(out, (uint32_t)words[w].hits.size());
        Put32(out, out.size(), offset);
        out.push_back(0);
        out.push_back(0);
        PutFullTextInteger(out, (uint32_t)lists[w].size());
        return out;
    };
    // Leaves: as many entries as fit, each leaf after its words' lists.
    std::vector<std::pair<size_t, size_t>> groups;  // first word, end
    for (size_t w = 0; w < words.size();) {
        size_t first = w, used = 8;
        for (; w < words.size(); ++w) {
            size_t size = wordBytes(words[w].word, w > first ? words[w - 1].word : "").size() +
                leafTail(w, 0).size();
            if (used + size > node && w > first)
                break;
            used += size;
        }
        groups.push_back({first, w});
    }
    BuiltFullText built;
    std::vector<uint8_t>& out = built.bytes;
    out.assign(0x400, 0);
    std::vector<std::pair<std::string, uint32_t>> children;  // last word, node
    for (const auto& [first, end] : groups) {
        for (size_t w = first; w < end; ++w) {
            built.lists.push_back((uint32_t)out.size());
            out.insert(out.end(), lists[w].begin(), lists[w].end());
        }
        uint32_t at = (uint32_t)out.size();
        if (!built.leaves.empty())
            Put32(out, built.leaves.back(), at);
        built.leaves.push_back(at);
        std::vector<uint8_t> leaf(8, 0);
        for (size_t w = first; w < end; ++w) {
            std::vector<uint8_t> e = wordBytes(words[w].word, w > first ? words[w - 1].word : "");
            std::vector<uint8_t> tail = leafTail(w, built.lists[w]);
            leaf.insert(leaf.end(), e.begin(), e.end());
            leaf.insert(leaf.end(), tail.begin(), tail.end());
        }
        Put16(leaf, 6, (uint16_t)(node - leaf.size()));
        leaf.resize(node, 0);
        out.insert(out.end(), leaf.begin(), leaf.end());
        children.push_back({words[end - 1].word, at});
    }
    built.depth = 1;
    // Index nodes, level by level, until one node is left: the root.
    while (children.size() > 1) {
        std::vector<std::pair<std::string, uint32_t>> parents;
        for (size_t c = 0; c < children.size();) {
            std::vector<uint8_t> index(2, 0);
            size_t first = c;
            for (; c < children.size(); ++c) {
                std::vector<uint8_t> e =
                    wordBytes(children[c].first, c > first ? children[c - 1].first : "");
                if (index.size() + e.size() + 6 > node && c > first)
                    break;
                index.insert(index.end(), e.begin(), e.end());
                Put32(index, index.size(), children[c].second);
                index.push_back(0);
                index.push_back(0);
            }
            Put16(index, 0, (uint16_t)(node - index.size()));
            index.resize(node, 0);
            uint32_t at = (uint32_t)out.size();
            built.indexNodes.push_back(at);
            out.insert(out.end(), index.begin(), index.end());
            parents.push_back({children[c - 1].first, at});
        }
        children = parents;
        ++built.depth;
    }
    uint32_t root = children.empty() ? 0 : children[0].second;
    out[2] = 0x28;
    Put32(out, 4, documents);
    Put32(out, 8, root);
    Put32(out, 0x10, (uint32_t)built.leaves.size());
    Put32(out, 0x14, root);
    Put16(out, 0x18, (uint16_t)built.depth);
    Put32(out, 0x1A, 7);
    const uint8_t coding[6] = {2, layout.documentRoot, 2, layout.countRoot, 2, layout.locationRoot};
    std::copy(coding, coding + 6, out.begin() + 0x1E);
    Put32(out, 0x2E, node);
    Put32(out, 0x7A, layout.codePage);
    Put32(out, 0x7E, 0x409);
    return built;
}
