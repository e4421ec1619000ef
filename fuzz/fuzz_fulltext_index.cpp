// libFuzzer target: the input is a full-text index (/$FIftiMain) and a word
// to look up in it. The first byte is the word's length (0 to 31), the next
// bytes the word, then two bytes the count of topics (little-endian), then
// the index. The index is read through a source that aborts on a read outside
// it; every topic found must lie below the count and be found once.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fuzz_input.h"
#include "lookup/lookup.h"

namespace {

struct Index {
    const uint8_t* data;
    uint32_t length;
};

int Read(void* context, uint32_t offset, uint32_t length, uint8_t* destination)
{
    const Index* index = (const Index*)context;
    if (offset > index->length || length > index->length - offset)
        abort();
    memcpy(destination, index->data + offset, length);
    return 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size)
{
    if (size > UINT32_MAX)
        return 0;
    FuzzInput in {input, size};
    std::vector<uint8_t> word = in.Bytes(in.Byte() % 32);
    uint32_t topicCount = in.Byte() | (in.Byte() << 8);
    Index index = {input + in.at, (uint32_t)(size - in.at)};
    FullTextSource source = {index.length, Read, &index};
    FullTextHeader header;
    if (!ReadFullTextHeader(&source, &header))
        return 0;
    uint32_t* topics = nullptr;
    uint32_t count = 0;
    int result = FindFullTextTopics(&source, &header, (const char*)word.data(),
                                    (uint32_t)word.size(), topicCount, &topics, &count);
    if (result != FullTextOk && (topics != nullptr || count != 0))
        abort();
    std::vector<uint8_t> seen(topicCount, 0);
    for (uint32_t k = 0; k < count; ++k) {
        if (topics[k] >= topicCount || seen[topics[k]]++)
            abort();
    }
    free(topics);
    return 0;
}
