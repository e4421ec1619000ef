// Help requests end to end on the real help files of the shared corpus: for a
// keyword with one match and one with several, the file handed to the host
// holds exactly the page that the manifest lists.
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "container/container.h"
#include "lookup_fixture.h"
#include "platform/platform.h"
#include "support/corpus.h"

namespace {

// The topics of a help file as read by the test: the title in OEM form and
// the page name (URL cut at "#"), for every topic whose title and URL lie
// inside the index files.
struct CorpusTopic {
    std::string title;
    std::string page;
};

bool ReadTopics(const std::string& path, std::vector<CorpusTopic>* topics)
{
    HelpFile* file = OpenHelpFile(path.c_str());
    if (!file)
        return false;
    bool ok = true;
    std::vector<uint8_t> t = StoredBytes(file, "/#TOPICS", &ok);
    std::vector<uint8_t> s = StoredBytes(file, "/#STRINGS", &ok);
    std::vector<uint8_t> u = StoredBytes(file, "/#URLTBL", &ok);
    std::vector<uint8_t> r = StoredBytes(file, "/#URLSTR", &ok);
    CloseHelpFile(file);
    if (!ok)
        return false;
    for (size_t at = 0; t.size() > 12 && at + 4 < t.size(); at += 16) {
        if (at + 12 > t.size())
            break;
        uint32_t titleOffset = ReadLE32(&t[at + 4]);
        uint32_t entry = ReadLE32(&t[at + 8]);
        if (titleOffset >= s.size() || (uint64_t)entry + 12 > u.size())
            continue;
        std::string title((const char*)&s[titleOffset],
                          strnlen((const char*)&s[titleOffset], s.size() - titleOffset));
        title = title.substr(0, 511);
        std::vector<char> oem(title.begin(), title.end());
        oem.push_back(0);
        CharToOemA(oem.data(), oem.data());
        uint32_t p = ReadLE32(&u[entry + 8]);
        while (p < r.size() && r[p] == 0)
            ++p;
        if (p >= r.size())
            continue;
        std::string url((const char*)&r[p], strnlen((const char*)&r[p], r.size() - p));
        std::string page = "/";
        page += url.substr(0, url.find('#'));
        topics->push_back({oem.data(), page});
    }
    return true;
}

bool StartsWithIgnoringAsciiCase(const std::string& title, const std::string& keyword)
{
    if (title.size() < keyword.size())
        return false;
    for (size_t i = 0; i < keyword.size(); ++i) {
        unsigned char a = title[i], b = keyword[i];
        if ((a < 128 ? tolower(a) : a) != (b < 128 ? tolower(b) : b))
            return false;
    }
    return true;
}

std::vector<size_t> Matches(const std::vector<CorpusTopic>& topics, const std::string& keyword)
{
    std::vector<size_t> out;
    for (size_t i = 0; i < topics.size(); ++i)
        if (StartsWithIgnoringAsciiCase(topics[i].title, keyword))
            out.push_back(i);
    return out;
}

class CorpusLookupTest : public LookupTest { };

}  // namespace

TEST_F(CorpusLookupTest, EveryHelpFileServesItsPagesByKeyword)
{
    if (SharedDir().empty())
        GTEST_SKIP() << "the shared corpus (" VELKORY_SOURCE_DIR "/../shared) is absent";
    std::vector<std::string> files = CorpusHelpFiles();
    ASSERT_FALSE(files.empty());
    int singles = 0, multiples = 0;
    for (const std::string& path : files) {
        SCOPED_TRACE(path);
        std::string manifestPath = path.substr(0, path.size() - 4) + ".manifest";
        std::map<std::string, std::string> sha;
        for (const ManifestEntry& entry : ReadManifest(manifestPath))
            sha.emplace(entry.name, entry.sha256);

        std::vector<CorpusTopic> topics;
        if (!ReadTopics(path, &topics)) {
            // No complete index: the request fails.
            host.ClearLog();
            EXPECT_EQ(ShowHelpTopic(path.c_str(), "a"), 0);
            continue;
        }

        // One match: a whole title that no other title begins with.
        for (const CorpusTopic& topic : topics) {
            if (topic.title.empty() || !sha.count(topic.page) ||
                Matches(topics, topic.title).size() != 1)
                continue;
            host.ClearLog();
            Visuality = singles % 2;
            EXPECT_EQ(ShowHelpTopic(path.c_str(), topic.title.c_str()), 1) << topic.title;
            EXPECT_EQ(host.Count("ShowMenu"), 0u);
            RecordedCall opened = Opened();
            EXPECT_EQ(Sha256Hex(opened.fileContent.data(), opened.fileContent.size()),
                      sha[topic.page])
                << topic.title << " " << topic.page;
            ++singles;
            break;
        }

        // Several matches: the first three characters of a title, and the
        // last of its matches chosen.
        for (const CorpusTopic& topic : topics) {
            if (topic.title.size() < 3)
                continue;
            std::string keyword = topic.title.substr(0, 3);
            std::vector<size_t> matches = Matches(topics, keyword);
            if (matches.size() < 2 || !sha.count(topics[matches.back()].page))
                continue;
            host.ClearLog();
            host.menuChoice = (int)matches.size() - 1;
            EXPECT_EQ(ShowHelpTopic(path.c_str(), keyword.c_str()), 1) << keyword;
            ASSERT_EQ(host.Count("ShowMenu"), 1u);
            std::vector<MenuItem> items = host.CallsOf("ShowMenu")[0].menuItems;
            ASSERT_EQ(items.size(), matches.size());
            for (size_t i = 0; i < items.size(); ++i)
                EXPECT_EQ(items[i].text, topics[matches[i]].title.substr(0, 127));
            RecordedCall opened = Opened();
            const std::string& page = topics[matches.back()].page;
            EXPECT_EQ(Sha256Hex(opened.fileContent.data(), opened.fileContent.size()), sha[page])
                << keyword << " " << page;
            ++multiples;
            break;
        }
    }
    EXPECT_GE(singles, 3);
    EXPECT_GE(multiples, 2);
}

TEST_F(CorpusLookupTest, HostileHelpFilesFailCleanly)
{
    if (SharedDir().empty())
        GTEST_SKIP() << "the shared corpus (" VELKORY_SOURCE_DIR "/../shared) is absent";
    for (const std::string& path : MalformedHelpFiles()) {
        SCOPED_TRACE(path);
        host.ClearLog();
        int result = ShowHelpTopic(path.c_str(), "a");
        EXPECT_TRUE(result == 0 || result == 1);
    }
}
