// The search command: the pages of help files whose text matches a query,
// best first, from each help file's index in the cache (search/), built
// first when it is not there; and help's search when no title or index entry
// answers.
//
// Each hit is one line, the title, a tab and the page (as topics lists
// them; "FILE::PAGE" when several help files are searched), and, on a
// terminal, the snippet on the next line with the match in bold. On a
// terminal the page then opens as help opens one: the only hit at once,
// else the one chosen in help's menu. --json gives one object a line.
//
// Exit status: 0 with hits, 1 with none (or when the search failed), 2 for
// a usage error.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "host/commands/commands.h"
#include "host/host.h"
#include "host/module/module.h"
#include "host/os/os.h"
#include "host/search/search.h"
#include "platform/terminal_text.h"
#include "platform/text.h"

namespace {

constexpr int DefaultLimit = 20;

// The one line on the terminal that tells how far an index is built,
// redrawn at most ten times a second and wiped when done.
class ProgressLine {
public:
    ProgressLine()
        : shown_(StderrIsTerminal())
    {
    }
    ~ProgressLine()
    {
        Wipe();
    }
    void Show(const std::string& file, uint32_t done, uint32_t total, bool waiting)
    {
        if (!shown_)
            return;
        auto now = std::chrono::steady_clock::now();
        if (drawn_ && done != total && now - last_ < std::chrono::milliseconds(100))
            return;
        last_ = now;
        drawn_ = true;
        fprintf(stderr, "\r\033[Kvelkory: %s %s: %u of %u pages",
                waiting ? "waiting for the index of" : "indexing",
                PrintableName(file.c_str()).c_str(), done, total);
        fflush(stderr);
    }
    void Wipe()
    {
        if (drawn_)
            fputs("\r\033[K", stderr);
        drawn_ = false;
    }

private:
    bool shown_;
    bool drawn_ = false;
    std::chrono::steady_clock::time_point last_;
};

// A JSON string of UTF-8 text: quoted, escaped, bytes that are no UTF-8
// character as U+FFFD.
std::string JsonText(const std::string& text)
{
    std::string out = "\"";
    for (size_t i = 0; i < text.size();) {
        size_t length = 1;
        uint32_t cp = DecodeUtf8(text.data() + i, text.size() - i, &length);
        if (cp == '"' || cp == '\\') {
            out += '\\';
            out += (char)cp;
        } else if (cp < 0x20 || cp == 0x7F) {
            char escape[8];
            snprintf(escape, sizeof escape, "\\u%04x", cp);
            out += escape;
        } else if (cp == ReplacementCharacter && length == 1) {
            out += "\xEF\xBF\xBD";
        } else {
            out.append(text, i, length);
        }
        i += length;
    }
    return out + "\"";
}

// The snippet with its marks in bold.
std::string BoldSnippet(const SearchHit& hit)
{
    std::string out;
    size_t at = 0;
    for (const auto& [begin, end] : hit.marks) {
        out.append(hit.snippet, at, begin - at);
        out += "\033[1m";
        out.append(hit.snippet, begin, end - begin);
        out += "\033[22m";
        at = end;
    }
    return out + hit.snippet.substr(at);
}

// The help files named: each FILE, and every help file below each DIR.
// False, with the reason on stderr, when one is none.
bool CollectHelpFiles(const std::vector<std::string>& paths, std::vector<std::string>& files)
{
    for (const std::string& path : paths) {
        std::vector<std::string> found;
        if (PathKindAt(path, true) == PathDirectory) {
            found = HelpFilesBelow(path);
            if (found.empty()) {
                Complain(path + ": no help files (*.chm) below it");
                return false;
            }
        } else if (IsHelpFile(path)) {
            found.push_back(path);
        } else {
            return false;
        }
        for (const std::string& file : found)
            if (std::find(files.begin(), files.end(), file) == files.end())
                files.push_back(file);
    }
    return true;
}

// Opens the chosen hit's page as help opens a topic, at its first match.
int OpenHit(const TextSearch& search, const SearchHit& hit, const std::string& query)
{
    std::string word = hit.marks.empty()
        ? query
        : hit.snippet.substr(hit.marks[0].first, hit.marks[0].second - hit.marks[0].first);
    std::vector<char> oem(word.size() * 2 + 16);
    TerminalToOem(word.c_str(), oem.data(), oem.size());
    RequestOptions options;
    RequestRecord record;
    const std::string& file = search.Files()[hit.file];
    if (OpenHelpPage(file, hit.page, oem.data(), options, record))
        return ExitOk;
    if (!record.openFailed)
        Complain(file + ": the page " + PrintableName(hit.page.c_str()) + " cannot be opened");
    return ExitFailed;
}

// Searches files for query and shows the hits; the exit status.
int SearchAndShow(const std::vector<std::string>& files, const SearchQuery& query, bool json)
{
    SearchCache cache;
    std::string error;
    if (!UserSearchCache(cache, error)) {
        Complain(error);
        return ExitFailed;
    }
    const bool terminal = StdoutIsTerminal() && !json;
    SearchQuery withSnippets = query;
    withSnippets.snippets = json || terminal;
    TextSearch search(cache);
    {
        ProgressLine line;
        for (const std::string& file : files) {
            auto progress = [&line](const std::string& helpFile, uint32_t done, uint32_t total,
                                    bool waiting) { line.Show(helpFile, done, total, waiting); };
            if (!search.AddHelpFile(file, progress, error)) {
                line.Wipe();
                Complain(error);
                return ExitFailed;
            }
        }
    }
    std::vector<SearchHit> hits;
    if (!search.Run(withSnippets, hits, error)) {
        Complain(error);
        return ExitFailed;
    }
    if (hits.empty()) {
        Complain("no page of " + (files.size() == 1 ? files[0] : "the help files") + " matches '" +
                 query.text + "'");
        return ExitFailed;
    }
    const bool several = files.size() > 1;
    for (const SearchHit& hit : hits) {
        const std::string& file = search.Files()[hit.file];
        std::string page = several ? file + "::" + hit.page : hit.page;
        std::string line;
        if (json) {
            char score[32];
            snprintf(score, sizeof score, "%.4f", hit.score);
            line = "{\"file\":" + JsonText(file) + ",\"page\":" + JsonText(hit.page) +
                ",\"title\":" + JsonText(hit.title) + ",\"score\":" + score +
                ",\"snippet\":" + JsonText(hit.snippet) + "}\n";
        } else {
            line = hit.title + "\t" + PrintableName(page.c_str()) + "\n";
            if (terminal)
                line += "    " + BoldSnippet(hit) + "\n";
        }
        fwrite(line.data(), 1, line.size(), stdout);
    }
    fflush(stdout);
    if (!terminal || !IsInteractive())
        return ExitOk;

    int chosen = 0;
    if (hits.size() > 1) {
        std::vector<std::string> items;
        for (const SearchHit& hit : hits) {
            std::string item = hit.title.empty() ? PrintableName(hit.page.c_str()) : hit.title;
            if (several)
                item += " (" + BaseName(search.Files()[hit.file]) + ")";
            items.push_back(item);
        }
        RequestOptions options;
        RequestRecord record;
        chosen = ChooseFromMenu("Search: " + query.text, items, options, record);
        if (chosen < 0)
            return ExitOk;
    }
    return OpenHit(search, hits[(size_t)chosen], query.text);
}

}  // namespace

int SearchCommand(const CommandLine& line)
{
    SearchQuery query;
    query.text = line.arguments.back();
    query.limit = (size_t)(line.limit > 0 ? line.limit : DefaultLimit);
    if (query.text.find_first_not_of(" \t\n") == std::string::npos)
        return UsageFailure("the query is empty");
    std::vector<std::string> paths(line.arguments.begin(), line.arguments.end() - 1);
    std::vector<std::string> files;
    if (!CollectHelpFiles(paths, files))
        return ExitFailed;
    return SearchAndShow(files, query, line.json);
}

int SearchPagesInstead(const CommandLine&, const std::string& file, const std::string& keyword)
{
    SearchQuery query;
    query.text = keyword;
    query.limit = DefaultLimit;
    query.wordsOnly = true;
    return SearchAndShow({file}, query, false);
}
