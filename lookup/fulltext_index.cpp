// The full-text index, /$FIftiMain (doc/formats/fulltext-index.md): every
// word of the pages' text, lower-cased in the index's code page, with the
// list of the topics whose page holds it.
//
// The index is a tree of nodes of one size. A leaf lists words in order, each
// with the offset and length of its list and the number of topics in it; the
// leaves form a chain. An index node names the last word of each child. The
// lists are bit streams of scale-root coded numbers: per topic its number (as
// the difference from the topic before), the count of its location codes and
// those codes, each topic's bits ending on a byte boundary.
//
// A lookup reads only what lies on the way to the words that begin with the
// prefix, through the source, which reads a range of the index: the header,
// one node per level from the root down to the first leaf that may hold such
// a word, the leaves from there on while their words still may, and the lists
// of the words that match. Everything read is checked against what holds it:
// an entry against its node, a word against the one before it, a list
// against the index, a number against the bits left. The depth bounds the
// descent and every next leaf must lie further on than the one before, so the
// walk ends. A damaged index fails the lookup.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "container/container.h"
#include "lookup/lookup.h"

namespace {

// Header fields.
constexpr uint32_t HeaderBytes = 0x82;  // the fields read, to the LCID's end
constexpr uint32_t RootOffsetField = 0x08;
constexpr uint32_t DepthField = 0x18;
constexpr uint32_t CodingField = 0x1E;  // scale and root size, three times
constexpr uint32_t NodeSizeField = 0x2E;
constexpr uint32_t CodePageField = 0x7A;
constexpr uint32_t LcidField = 0x7E;

// What a reader accepts: every file seen has nodes of 4096 bytes, a depth of
// at most 3 and scale 2.
constexpr uint32_t SmallestNode = 64;
constexpr uint32_t LargestNode = 65536;
constexpr uint32_t DeepestTree = 32;
constexpr uint32_t OnlyScale = 2;

constexpr uint32_t LeafHeaderSize = 8;   // next leaf, 0, free bytes
constexpr uint32_t IndexHeaderSize = 2;  // free bytes
constexpr uint32_t ChildFieldsSize = 6;  // child offset, 0

// A word: at most 255 shared bytes and 254 more.
constexpr uint32_t WordCapacity = 512;

// Reads node at offset into buffer (header.nodeSize bytes).
int ReadNode(const FullTextSource* source, const FullTextHeader* header, uint32_t offset,
             uint8_t* buffer)
{
    if (offset > source->length || header->nodeSize > source->length - offset)
        return 0;
    return source->Read(source->context, offset, header->nodeSize, buffer);
}

// Where a node's entries end: its size less the free bytes its header gives.
int EntriesEnd(const uint8_t* node, uint32_t freeField, uint32_t headerSize, uint32_t nodeSize,
               uint32_t* end)
{
    uint32_t free = ReadLE16(node + freeField);
    if (free > nodeSize - headerSize)
        return 0;
    *end = nodeSize - free;
    return 1;
}

// The word of the entry at *at, built on the word before it in the node
// (*length bytes of word): its length byte n, the bytes it shares, and n - 1
// more. Returns 0 when the entry does not lie within end or shares more than
// there is.
int ReadEntryWord(const uint8_t* node, uint32_t end, uint32_t* at, uint8_t* word, uint32_t* length)
{
    if (end - *at < 2)
        return 0;
    uint32_t n = node[*at], shared = node[*at + 1];
    if (n == 0 || shared > *length || n - 1 > end - *at - 2)
        return 0;
    memcpy(word + shared, node + *at + 2, n - 1);
    *length = shared + n - 1;
    *at += 1 + n;
    return 1;
}

// An encoded integer of a leaf entry: 7 bits a byte, the least significant
// group first, the top bit set on every byte but the last.
int ReadEntryInteger(const uint8_t* node, uint32_t end, uint32_t* at, uint32_t* value)
{
    uint64_t v = 0;
    for (uint32_t shift = 0; shift < 35 && *at < end; shift += 7) {
        uint8_t byte = node[(*at)++];
        v |= (uint64_t)(byte & 0x7F) << shift;
        if ((byte & 0x80) == 0) {
            if (v > UINT32_MAX)
                return 0;
            *value = (uint32_t)v;
            return 1;
        }
    }
    return 0;
}

// <0 when word sorts before every word that begins with prefix, 0 when it
// begins with prefix, >0 when it sorts after them all.
int ComparePrefix(const uint8_t* word, uint32_t length, const uint8_t* prefix, uint32_t size)
{
    int c = memcmp(word, prefix, length < size ? length : size);
    if (c != 0)
        return c;
    return length < size ? -1 : 0;
}

// A word's list, read through a buffer of one node's size.
struct ListBits {
    const FullTextSource* source;
    uint32_t next;  // the index's offset of the next byte to load
    uint32_t end;   // where the list ends
    uint8_t* buffer;
    uint32_t capacity;
    uint32_t loaded;  // bytes in the buffer
    uint32_t bit;     // the next bit of the buffer
};

int NextBit(ListBits* bits, uint32_t* bit)
{
    if (bits->bit >= bits->loaded * 8) {
        if (bits->next >= bits->end)
            return 0;
        uint32_t n = bits->end - bits->next;
        if (n > bits->capacity)
            n = bits->capacity;
        if (!bits->source->Read(bits->source->context, bits->next, n, bits->buffer))
            return 0;
        bits->next += n;
        bits->loaded = n;
        bits->bit = 0;
    }
    *bit = (bits->buffer[bits->bit >> 3] >> (7 - (bits->bit & 7))) & 1;
    bits->bit += 1;
    return 1;
}

// One number coded with scale 2 and the given root size: k one-bits and a
// zero, then root bits (k = 0) or root + k - 1 bits and 2^(root + k - 1)
// added. Returns 0 when the list ends first or the number passes 32 bits.
int ReadScaleRoot(ListBits* bits, uint32_t root, uint32_t* value)
{
    uint32_t ones = 0, bit = 0;
    for (;;) {
        if (!NextBit(bits, &bit))
            return 0;
        if (bit == 0)
            break;
        if (++ones + root > 33)
            return 0;
    }
    uint32_t width = ones ? root + ones - 1 : root;
    uint64_t v = 0;
    for (uint32_t i = 0; i < width; ++i) {
        if (!NextBit(bits, &bit))
            return 0;
        v = (v << 1) | bit;
    }
    if (ones)
        v += (uint64_t)1 << width;
    if (v > UINT32_MAX)
        return 0;
    *value = (uint32_t)v;
    return 1;
}

// The topics found so far: in order, each once (seen has a bit per topic).
struct Found {
    uint32_t* topics;
    uint32_t count;
    uint32_t capacity;
    uint8_t* seen;
    uint32_t topicCount;
};

int Add(Found* found, uint32_t topic)
{
    if (topic >= found->topicCount || found->seen[topic >> 3] & (1u << (topic & 7)))
        return 1;
    if (found->count == found->capacity) {
        uint32_t grown = found->capacity ? found->capacity * 2 : 16;
        if (grown > found->topicCount)
            grown = found->topicCount;
        uint32_t* p = (uint32_t*)realloc(found->topics, (size_t)grown * sizeof(uint32_t));
        if (p == nullptr)
            return 0;
        found->topics = p;
        found->capacity = grown;
    }
    found->topics[found->count++] = topic;
    found->seen[topic >> 3] |= (uint8_t)(1u << (topic & 7));
    return 1;
}

// What a leaf entry gives after its word: its context (0: the page's text,
// 1: its title), the count of topics in its list, the list's offset, a WORD 0
// and the list's size.
struct LeafEntry {
    uint32_t topics;
    uint32_t offset;
    uint32_t size;
};

int ReadLeafEntry(const uint8_t* node, uint32_t end, uint32_t* at, LeafEntry* entry)
{
    if (end - *at < 1)
        return 0;
    *at += 1;
    if (!ReadEntryInteger(node, end, at, &entry->topics) || end - *at < 6)
        return 0;
    entry->offset = ReadLE32(node + *at);
    *at += 6;
    return ReadEntryInteger(node, end, at, &entry->size);
}

// Adds the topics of the entry's list. Every topic takes a byte at least, so
// a list names at most as many topics as it has bytes.
int ReadList(const FullTextSource* source, const FullTextHeader* header, const LeafEntry* entry,
             uint8_t* buffer, Found* found, int* result)
{
    *result = FullTextDamaged;
    uint32_t offset = entry->offset, size = entry->size, count = entry->topics;
    if (offset > source->length || size > source->length - offset || count > size)
        return 0;
    ListBits bits = {source, offset, offset + size, buffer, header->nodeSize, 0, 0};
    uint32_t topic = 0;
    for (uint32_t k = 0; k < count; ++k) {
        uint32_t delta = 0, codes = 0, code = 0;
        if (!ReadScaleRoot(&bits, header->documentRoot, &delta) || topic > UINT32_MAX - delta ||
            !ReadScaleRoot(&bits, header->countRoot, &codes))
            return 0;
        topic += delta;
        // Each code takes a bit at least: the list's end stops a false count.
        for (uint32_t c = 0; c < codes; ++c)
            if (!ReadScaleRoot(&bits, header->locationRoot, &code))
                return 0;
        bits.bit = (bits.bit + 7) & ~7u;
        if (!Add(found, topic)) {
            *result = FullTextNoMemory;
            return 0;
        }
    }
    return 1;
}

// Descends from the root to the first leaf that may hold a word beginning
// with prefix: at each level, the child of the first entry whose word is not
// below the prefix. *leaf is 0 when no word is.
int FindFirstLeaf(const FullTextSource* source, const FullTextHeader* header, const uint8_t* prefix,
                  uint32_t size, uint8_t* node, uint32_t* leaf)
{
    uint32_t offset = header->rootOffset;
    uint8_t word[WordCapacity];
    for (uint32_t level = 1; level < header->depth; ++level) {
        uint32_t end = 0;
        if (!ReadNode(source, header, offset, node) ||
            !EntriesEnd(node, 0, IndexHeaderSize, header->nodeSize, &end))
            return 0;
        uint32_t at = IndexHeaderSize;
        // chmcmd begins some index nodes with a zero WORD more; no entry
        // begins with a zero byte.
        if (end - at >= 2 && node[at] == 0 && node[at + 1] == 0)
            at += 2;
        uint32_t length = 0;
        int found = 0;
        while (at < end && !found) {
            if (!ReadEntryWord(node, end, &at, word, &length) || end - at < ChildFieldsSize)
                return 0;
            found = ComparePrefix(word, length, prefix, size) >= 0;
            if (found)
                offset = ReadLE32(node + at);
            at += ChildFieldsSize;
        }
        if (!found) {
            *leaf = 0;
            return 1;
        }
    }
    *leaf = offset;
    return 1;
}

// Adds the topics of every word that begins with prefix, from the first leaf
// that may hold one along the chain, until a word sorts after them all.
int WalkLeaves(const FullTextSource* source, const FullTextHeader* header, const uint8_t* prefix,
               uint32_t size, uint8_t* node, uint8_t* buffer, Found* found)
{
    uint32_t leaf = 0;
    if (!FindFirstLeaf(source, header, prefix, size, node, &leaf))
        return FullTextDamaged;
    uint8_t word[WordCapacity];
    while (leaf != 0) {
        uint32_t end = 0;
        if (!ReadNode(source, header, leaf, node) ||
            !EntriesEnd(node, 6, LeafHeaderSize, header->nodeSize, &end))
            return FullTextDamaged;
        uint32_t length = 0, at = LeafHeaderSize;
        while (at < end) {
            LeafEntry entry;
            if (!ReadEntryWord(node, end, &at, word, &length) ||
                !ReadLeafEntry(node, end, &at, &entry))
                return FullTextDamaged;
            int order = ComparePrefix(word, length, prefix, size);
            if (order > 0)
                return FullTextOk;
            int result = FullTextOk;
            if (order == 0 && !ReadList(source, header, &entry, buffer, found, &result))
                return result;
        }
        uint32_t next = ReadLE32(node);
        if (next != 0 && next <= leaf)
            return FullTextDamaged;
        leaf = next;
    }
    return FullTextOk;
}

}  // namespace

int ReadFullTextHeader(const FullTextSource* source, FullTextHeader* header)
{
    memset(header, 0, sizeof *header);
    uint8_t bytes[HeaderBytes];
    if (source->length < HeaderBytes || !source->Read(source->context, 0, HeaderBytes, bytes))
        return 0;
    header->rootOffset = ReadLE32(bytes + RootOffsetField);
    header->depth = ReadLE16(bytes + DepthField);
    header->nodeSize = ReadLE32(bytes + NodeSizeField);
    header->documentRoot = bytes[CodingField + 1];
    header->countRoot = bytes[CodingField + 3];
    header->locationRoot = bytes[CodingField + 5];
    header->codePage = ReadLE32(bytes + CodePageField);
    header->lcid = ReadLE32(bytes + LcidField);
    for (uint32_t i = 0; i < 3; ++i)
        if (bytes[CodingField + 2 * i] != OnlyScale || bytes[CodingField + 2 * i + 1] > 32)
            return 0;
    return header->depth >= 1 && header->depth <= DeepestTree && header->nodeSize >= SmallestNode &&
        header->nodeSize <= LargestNode && header->rootOffset <= source->length &&
        header->nodeSize <= source->length - header->rootOffset;
}

int FindFullTextTopics(const FullTextSource* source, const FullTextHeader* header,
                       const char* prefix, uint32_t size, uint32_t topicCount, uint32_t** topics,
                       uint32_t* count)
{
    *topics = nullptr;
    *count = 0;
    if (topicCount == 0 || size == 0)
        return FullTextOk;
    uint8_t* node = (uint8_t*)malloc(header->nodeSize);
    uint8_t* buffer = (uint8_t*)malloc(header->nodeSize);
    Found found = {nullptr, 0, 0, (uint8_t*)calloc(topicCount / 8 + 1, 1), topicCount};
    int result = node && buffer && found.seen
        ? WalkLeaves(source, header, (const uint8_t*)prefix, size, node, buffer, &found)
        : FullTextNoMemory;
    free(node);
    free(buffer);
    free(found.seen);
    if (result != FullTextOk) {
        free(found.topics);
        return result;
    }
    *topics = found.topics;
    *count = found.count;
    return FullTextOk;
}
