// libFuzzer target: the input is a keyword index, compiled or sitemap. The
// first byte chooses the reader (even: the compiled BTree, odd: the sitemap);
// the rest is the index. The compiled reader resolves its topic numbers
// against a small fixed topic index, so that numbers in range lead to pages.
// Every target's texts are walked so that a text outside the pool shows.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "lookup/lookup.h"

namespace {

void Put32(std::vector<uint8_t>& v, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        v.push_back((uint8_t)(value >> (8 * i)));
}

struct FixedTopics {
    std::vector<uint8_t> topics, strings, urlTable, urls;
    TopicIndex index;

    FixedTopics()
    {
        strings.push_back(0);
        for (uint32_t k = 0; k < 8; ++k) {
            std::string title = "Topic ";
            title += std::to_string(k);
            std::string url = "p";
            url += std::to_string(k);
            url += k % 2 ? ".htm#a" : ".htm";
            Put32(topics, 0);
            Put32(topics, (uint32_t)strings.size());
            Put32(topics, (uint32_t)urlTable.size());
            Put32(topics, 0);
            strings.insert(strings.end(), title.begin(), title.end());
            strings.push_back(0);
            Put32(urlTable, 0);
            Put32(urlTable, 0);
            Put32(urlTable, (uint32_t)urls.size());
            urls.insert(urls.end(), 8, 0);
            urls.insert(urls.end(), url.begin(), url.end());
            urls.push_back(0);
        }
        memset(&index, 0, sizeof index);
        index.topics = topics.data();
        index.topicsLength = (uint32_t)topics.size();
        index.strings = strings.data();
        index.stringsLength = (uint32_t)strings.size();
        index.urlTable = urlTable.data();
        index.urlTableLength = (uint32_t)urlTable.size();
        index.urls = urls.data();
        index.urlsLength = (uint32_t)urls.size();
    }
};

size_t Walk(const KeywordIndex& index)
{
    size_t sum = 0;
    for (uint32_t t = 0; t < index.count; ++t) {
        const KeywordTarget& k = index.targets[t];
        sum += strlen(KeywordText(&index, k.keyword)) + strlen(KeywordText(&index, k.title)) +
            strlen(KeywordText(&index, k.page)) + strlen(KeywordText(&index, k.anchor));
        if (KeywordText(&index, k.page)[0] != '/')
            abort();
    }
    return sum;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size)
{
    static FixedTopics topics;
    if (size < 1 || size > UINT32_MAX)
        return 0;
    const uint8_t* data = input + 1;
    uint32_t length = (uint32_t)(size - 1);
    KeywordIndex index;
    memset(&index, 0, sizeof index);
    if (input[0] % 2 == 0)
        ReadCompiledKeywords(data, length, &topics.index, &index);
    else
        ReadSitemapKeywords(data, length, "/dir/index.hhk", &index);
    volatile size_t sum = Walk(index);
    (void)sum;
    ReleaseKeywordIndex(&index);
    return 0;
}
