// The full-text answer on the real help files of the shared corpus, checked
// against the pages' own text: for words of the text that begin no title and
// no keyword index entry, every page offered holds a word beginning with the
// keyword, and every page that holds the keyword as a whole word is offered.
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "container/container.h"
#include "lookup_fixture.h"
#include "platform/platform.h"
#include "support/corpus.h"

namespace {

// The words the compilers of these files leave out of their indexes (their
// stop lists), where they are four letters or more.
const std::set<std::string> StopWords = {
    "about",   "after",  "against", "also",  "among",   "been",  "because", "between",
    "come",    "during", "each",    "early", "form",    "found", "from",    "have",
    "however", "into",   "late",    "later", "made",    "many",  "more",    "most",
    "near",    "only",   "other",   "over",  "several", "some",  "such",    "than",
    "that",    "their",  "then",    "there", "these",   "they",  "this",    "through",
    "under",   "until",  "were",    "when",  "where",   "which", "with"};

// A page's text in lower case (ASCII letters), decoded as UTF-8 when it is,
// else in codePage: tags removed, character references decoded, anything
// beyond ASCII as a space. The index's words drop apostrophes: with
// dropApostrophes the text does too.
std::string PageText(const std::vector<uint8_t>& page, uint32_t codePage, bool skipScripts,
                     bool dropApostrophes)
{
    std::string raw(page.begin(), page.end());
    int units =
        MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, raw.data(), (int)raw.size(), nullptr, 0);
    UINT from = units > 0 ? CP_UTF8 : codePage ? codePage : 1252;
    units = MultiByteToWideChar(from, 0, raw.data(), (int)raw.size(), nullptr, 0);
    std::vector<WCHAR> wide((size_t)(units > 0 ? units : 0));
    if (units > 0)
        MultiByteToWideChar(from, 0, raw.data(), (int)raw.size(), wide.data(), units);
    std::string text;
    for (WCHAR c : wide)
        text += c == 0x2019 ? '\'' : c < 0x80 ? (char)tolower(c) : ' ';
    std::string out;
    for (size_t i = 0; i < text.size();) {
        if (skipScripts) {
            const std::pair<const char*, const char*> skipped[] = {
                {"<!--", "-->"}, {"<script", "</script>"}, {"<style", "</style>"}};
            bool skip = false;
            for (const auto& [open, close] : skipped)
                if (text.compare(i, strlen(open), open) == 0) {
                    size_t end = text.find(close, i);
                    i = end == std::string::npos ? text.size() : end + strlen(close);
                    skip = true;
                    break;
                }
            if (skip) {
                out += ' ';
                continue;
            }
        }
        char c = text[i];
        if (c == '<') {
            size_t end = text.find('>', i);
            i = end == std::string::npos ? text.size() : end + 1;
            out += ' ';
        } else if (c == '&') {
            size_t end = text.find(';', i);
            std::string name = end == std::string::npos || end - i > 10
                ? std::string()
                : text.substr(i + 1, end - i - 1);
            long number = name.size() > 1 && name[0] == '#'
                ? strtol(name.c_str() + 1 + (name[1] == 'x'), nullptr, name[1] == 'x' ? 16 : 10)
                : 0;
            if (name.empty()) {
                out += ' ';
                ++i;
                continue;
            }
            out += name == "amp"              ? '&'
                : name == "lt"                ? '<'
                : name == "gt"                ? '>'
                : name == "apos"              ? '\''
                : number > 0 && number < 0x80 ? (char)tolower((int)number)
                : number == 0x2019            ? '\''
                                              : ' ';
            i = end + 1;
        } else if (c == '\'' && dropApostrophes) {
            ++i;
        } else {
            out += c;
            ++i;
        }
    }
    return out;
}

bool IsWordByte(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

// Bytes that a compiler may join into a word or drop from one.
bool JoinsWords(char c)
{
    return IsWordByte(c) || c == '_' || c == '.' || c == ',' || c == '-';
}

// Whether text holds word where join() holds for neither neighbour (and,
// with wholeWord, nothing follows it either).
bool Holds(const std::string& text, const std::string& word, bool (*join)(char), bool wholeWord)
{
    for (size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) {
        size_t end = at + word.size();
        if ((at == 0 || !join(text[at - 1])) &&
            (!wholeWord || end == text.size() || !join(text[end])))
            return true;
    }
    return false;
}

// The words of text for the test: letters only, four or more, whole.
std::set<std::string> Candidates(const std::string& text)
{
    std::set<std::string> words;
    for (size_t i = 0; i < text.size();) {
        if (text[i] < 'a' || text[i] > 'z') {
            ++i;
            continue;
        }
        size_t end = i;
        while (end < text.size() && text[end] >= 'a' && text[end] <= 'z')
            ++end;
        bool whole =
            (i == 0 || !JoinsWords(text[i - 1])) && (end == text.size() || !JoinsWords(text[end]));
        if (whole && end - i >= 4)
            words.insert(text.substr(i, end - i));
        i = end;
    }
    return words;
}

bool BeginsWith(const char* text, const std::string& word)
{
    for (size_t i = 0; i < word.size(); ++i)
        if (tolower((unsigned char)text[i]) != word[i])
            return false;
    return true;
}

struct CorpusPage {
    std::vector<uint8_t> bytes;
    std::string text;  // for what may be offered
    std::string body;  // for what must be: no scripts, styles or comments
};

class FullTextCorpusTest : public LookupTest { };

}  // namespace

TEST_F(FullTextCorpusTest, PagesOfferedHoldTheWordAndPagesHoldingItAreOffered)
{
    if (SharedDir().empty())
        GTEST_SKIP() << "the shared corpus (" VELKORY_SOURCE_DIR "/../shared) is absent";
    int withIndex = 0, checked = 0, answered = 0;
    for (const std::string& path : CorpusHelpFiles()) {
        SCOPED_TRACE(path);
        HelpFile* file = OpenHelpFile(path.c_str());
        ASSERT_NE(file, nullptr);
        const DirectoryEntry* fulltext = FindDirectoryEntry("/$FIftiMain", file->Entries);
        TopicIndex topics;
        if (!fulltext || fulltext->Length == 0 || !ReadTopicIndex(path.c_str(), &topics)) {
            CloseHelpFile(file);
            continue;
        }
        ++withIndex;
        // Every page the topics lead to, by its URL's position.
        std::map<uint32_t, std::string> pageAt;
        std::map<std::string, CorpusPage> pages;
        for (uint32_t record = 0; (uint64_t)record * 16 + 12 <= topics.topicsLength; ++record) {
            uint32_t position = 0;
            char name[NameBufferSize];
            if (!FindTopicUrl(&topics, record, &position) ||
                !BuildPageName(&topics, position, name))
                continue;
            pageAt[position] = name;
            uint32_t length = 0;
            uint8_t* data = nullptr;
            if (pages.count(name) || ExtractFile(file, name, &length, &data) != 0)
                continue;
            CorpusPage& page = pages[name];
            page.bytes.assign(data, data + length);
            page.text = PageText(page.bytes, topics.codePage, false, true);
            page.body = PageText(page.bytes, topics.codePage, true, false);
            free(data);
        }
        CloseHelpFile(file);
        KeywordIndex keywords;
        ASSERT_EQ(ReadKeywordIndex(path.c_str(), &topics, &keywords), 1);

        // The words no title and no index entry begins with.
        std::set<std::string> words;
        for (const auto& [name, page] : pages)
            for (const std::string& word : Candidates(page.body))
                words.insert(word);
        std::vector<std::string> keywordsToTry;
        char title[TitleBufferSize];
        for (const std::string& word : words) {
            bool begins = StopWords.count(word) > 0;
            for (uint32_t record = 0; !begins && (uint64_t)record * 16 + 8 <= topics.topicsLength;
                 ++record)
                begins = ReadTopicTitle(&topics, record, title) && BeginsWith(title, word);
            for (uint32_t t = 0; !begins && t < keywords.count; ++t)
                begins = BeginsWith(KeywordText(&keywords, keywords.targets[t].keyword), word);
            if (!begins)
                keywordsToTry.push_back(word);
        }
        ReleaseKeywordIndex(&keywords);
        ReleaseTopicIndex(&topics);

        // Some 30 of them, spread over the alphabet.
        size_t step = keywordsToTry.size() / 30 + 1;
        for (size_t k = 0; k < keywordsToTry.size(); k += step) {
            const std::string& word = keywordsToTry[k];
            SCOPED_TRACE(word);
            host.ClearLog();
            host.menuChoice = -1;
            ASSERT_EQ(ShowHelpTopic(path.c_str(), word.c_str()), 1);
            std::set<std::string> offered;
            for (const RecordedCall& menu : host.CallsOf("ShowMenu"))
                for (const MenuItem& item : menu.menuItems)
                    offered.insert(pageAt.at(item.userValue));
            for (const RecordedCall& open : host.CallsOf("OpenEditor"))
                for (const auto& [name, page] : pages)
                    if (open.fileContent == std::string(page.bytes.begin(), page.bytes.end()))
                        offered.insert(name);
            ++checked;
            answered += !offered.empty();
            for (const std::string& name : offered)
                EXPECT_TRUE(Holds(pages.at(name).text, word, IsWordByte, false)) << name;
            for (const auto& [name, page] : pages) {
                if (Holds(page.body, word, JoinsWords, true)) {
                    EXPECT_TRUE(offered.count(name)) << name;
                }
            }
        }
    }
    EXPECT_GE(withIndex, 5);
    EXPECT_GE(checked, 60);
    // Words the compilers left out stay unanswered; they are few.
    EXPECT_GE(answered * 10, checked * 9);
}
