// The language server's answers: the topics of the shelf that match a word,
// chosen as help chooses them (FindTopicMatches with the module's
// comparison), their pages extracted and read as text.
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "container/container.h"
#include "host/host.h"
#include "host/lsp/lsp.h"
#include "host/module/module.h"
#include "host/os/os.h"
#include "host/page/page.h"
#include "lookup/lookup.h"
#include "platform/terminal_text.h"
#include "platform/text.h"

namespace {

// The most bytes of page text a hover shows, and the most paragraphs.
constexpr size_t HoverTextBytes = 1500;
constexpr size_t HoverParagraphs = 6;

// The word (UTF-8) in the OEM code page; false when it has no form there.
bool WordInOem(const std::string& word, std::string& oem)
{
    std::vector<char> buffer(word.size() * 2 + 16);
    if (word.empty() || !TerminalToOem(word.c_str(), buffer.data(), buffer.size()))
        return false;
    oem = buffer.data();
    return true;
}

// The stored page a match opens: an index entry's is found whatever the case
// and escapes of its link, as the help request finds it.
std::string MatchPage(const std::string& file, const TopicMatches& matches, const TopicMatch& m)
{
    const char* page = TopicMatchText(&matches, m.page);
    char found[NameBufferSize];
    if (m.source == TopicFromKeywordIndex && strlen(page) < NameBufferSize &&
        ResolveStoredName(file.c_str(), page, found))
        return found;
    return page;
}

// The stored file name of file, as read; false when it cannot be.
bool ReadStored(const std::string& file, const std::string& name, std::string& bytes)
{
    HelpFile* help = OpenHelpFile(file.c_str());
    if (help == nullptr)
        return false;
    uint32_t length = 0;
    uint8_t* data = nullptr;
    int result = ExtractFile(help, name.c_str(), &length, &data);
    CloseHelpFile(help);
    if (result != 0)
        return false;
    bytes.assign((const char*)data, length);
    free(data);
    return true;
}

// text with the characters Markdown would take as markup escaped.
std::string MarkdownText(const std::string& text)
{
    std::string out;
    for (char c : text) {
        if (strchr("\\`*_[]<>#|~", c) != nullptr && c != '\0')
            out += '\\';
        out += c;
    }
    return out;
}

}  // namespace

LspTopic BestTopic(const std::vector<std::string>& shelf, const std::string& word)
{
    LspTopic best;
    std::string oem;
    if (!WordInOem(word, oem))
        return best;
    for (const std::string& file : shelf) {
        TopicMatches matches;
        if (FindTopicMatches(file.c_str(), oem.c_str(), TopicFromAny, CompareAsModule, 64,
                             &matches) != TopicMatchOk)
            continue;
        // The entry that is the word itself, else the first.
        uint32_t chosen = 0;
        for (uint32_t k = 0; k < matches.count; ++k) {
            const char* entry = TopicMatchText(&matches, matches.matches[k].entry);
            if (strlen(entry) == oem.size() &&
                CompareAsModule(entry, oem.c_str(), (int32_t)oem.size()) == 0) {
                chosen = k;
                break;
            }
        }
        if (matches.count > 0) {
            const TopicMatch& m = matches.matches[chosen];
            best.found = true;
            best.file = file;
            best.title =
                OemTextForDisplay(TopicMatchText(&matches, m.title != NoText ? m.title : m.entry));
            best.page = MatchPage(file, matches, m);
            best.anchor = TopicMatchText(&matches, m.anchor);
        }
        ReleaseTopicMatches(&matches);
        if (best.found)
            break;
    }
    return best;
}

std::string TopicMarkdown(const LspTopic& topic)
{
    std::string html;
    if (!topic.found || !ReadStored(topic.file, topic.page, html))
        return "";
    // The page as a reader sees it: one line for each block, in UTF-8.
    std::string text = ReadPageText(html, HelpFileCodePage(topic.file)).text;
    std::string markdown = "**" + MarkdownText(topic.title) + "**\n\n";
    size_t used = 0, paragraphs = 0;
    for (size_t start = 0; start < text.size() && paragraphs < HoverParagraphs;) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        size_t first = line.find_first_not_of(" \t");
        // Blank lines, the title again and rules ("=====") are no paragraph.
        if (first == std::string::npos || line.substr(first) == topic.title ||
            line.find_first_not_of("=-_* \t") == std::string::npos)
            continue;
        line = line.substr(first);
        if (used + line.size() > HoverTextBytes) {
            // Cut at a space, never inside a character.
            size_t cut = line.rfind(' ', HoverTextBytes - used);
            line = line.substr(0, cut == std::string::npos ? 0 : cut) + " ...";
            paragraphs = HoverParagraphs;
        }
        used += line.size();
        ++paragraphs;
        markdown += MarkdownText(line) + "\n\n";
    }
    return markdown + "*" + MarkdownText(BaseName(topic.file)) + "* " + MarkdownText(topic.page);
}

PageStore::~PageStore()
{
    if (!root_.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(root_, ec);
    }
}

bool PageStore::Extract(const std::string& file, const std::string& page, std::string& path)
{
    std::string key = file + '\n' + page;
    for (const auto& [done, at] : done_) {
        if (done == key) {
            path = at;
            return true;
        }
    }
    std::string bytes;
    if (!ReadStored(file, page, bytes))
        return false;
    if (root_.empty()) {
        root_ = MakePrivateDirectory("velkory-lsp-");
        if (root_.empty())
            return false;
    }
    // Each page below a directory of its own, numbered, so that pages of two
    // help files never meet; its stored path kept for its name.
    std::vector<std::string> components = {std::to_string(done_.size())};
    for (size_t start = 1; start <= page.size();) {
        size_t end = std::min(page.find('/', start), page.size());
        if (end > start)
            components.push_back(NativeComponent(page.substr(start, end - start)));
        start = end + 1;
    }
    if (components.size() < 2)
        return false;
    std::string reason;
    if (WriteBelow(root_, components, false, (const uint8_t*)bytes.data(), bytes.size(), reason) !=
        Written)
        return false;
    path = root_;
    for (const std::string& component : components)
        path += "/" + component;
    done_.emplace_back(key, path);
    return true;
}

size_t AnchorLine(const std::string& path, const std::string& anchor)
{
    std::string html;
    if (anchor.empty() || !ReadWholeFile(path, html))
        return 0;
    size_t line = FindAnchorLine(html, anchor);
    return line > 0 ? line - 1 : 0;
}

std::vector<LspEntry> IndexEntries(const std::vector<std::string>& shelf, const std::string& query,
                                   uint32_t limit)
{
    std::vector<LspEntry> entries;
    std::string oem;
    if (!WordInOem(query, oem))
        return entries;
    for (const std::string& file : shelf) {
        if (entries.size() >= limit)
            break;
        TopicMatches matches;
        if (FindTopicMatches(file.c_str(), oem.c_str(), TopicFromKeywordIndex, CompareAsModule,
                             limit - (uint32_t)entries.size(), &matches) != TopicMatchOk)
            continue;
        for (uint32_t k = 0; k < matches.count; ++k) {
            const TopicMatch& m = matches.matches[k];
            entries.push_back({OemTextForDisplay(TopicMatchText(&matches, m.entry)), file,
                               MatchPage(file, matches, m)});
        }
        ReleaseTopicMatches(&matches);
    }
    return entries;
}

std::string FileUri(const std::string& path)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string uri = "file://";
    for (unsigned char c : path) {
        if (IsAsciiAlnum((char)c) || (c != 0 && strchr("/-._~", c) != nullptr)) {
            uri += (char)c;
        } else {
            uri += '%';
            uri += hex[c >> 4];
            uri += hex[c & 15];
        }
    }
    return uri;
}
