// velkory serve and velkory browse: help files served to a browser on the
// loopback interface, with a viewer (contents, index, title and full-text
// search) at the base URL.
//
// Room serve/ (Linux only): may call module/, page/, terminal/, os/ and the
// module's container/, lookup/ and platform/.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "host/page/page.h"  // EncodeUrlPath

// The code page assumed for texts of a help file whose language is unknown.
constexpr uint32_t Windows1252 = 1252;

// search.cpp: the pages of one help file, their titles and an inverted
// index of their words, built once and then only read.
struct SearchPage {
    std::string name;   // stored name, with its leading "/"
    std::string title;  // the page's <title> as UTF-8, or its name
};
struct SearchHit {
    uint32_t page;
    double score;
};
struct SearchIndex {
    std::vector<SearchPage> pages;
    std::vector<std::string> words;  // sorted vocabulary
    // For words[i]: postings[offsets[i] .. offsets[i+1]) as (page, weight).
    std::vector<uint32_t> offsets;
    std::vector<std::pair<uint32_t, uint32_t>> postings;
    std::vector<uint32_t> pageLengths;  // words in each page
    double averageLength = 1;
};

// Adds one page's HTML to the builder; Finish turns it into the index.
struct SearchBuilder {
    std::vector<SearchPage> pages;
    std::unordered_map<std::string, uint32_t> ids;
    std::vector<std::string> words;
    std::vector<std::vector<std::pair<uint32_t, uint32_t>>> lists;
    std::vector<uint32_t> pageLengths;
    uint32_t codePage = Windows1252;  // of the titles that are not UTF-8
};
void AddSearchPage(SearchBuilder& builder, const std::string& name, std::string_view html);
SearchIndex FinishSearchIndex(SearchBuilder& builder);

// The best pages for a query (every word, the last one as a prefix), best
// first, at most limit.
std::vector<SearchHit> RunSearch(const SearchIndex& index, const std::string& query, size_t limit);

// Text helpers shared with the server.
// Text in codePage (0 or 1252: Windows-1252) as UTF-8; valid UTF-8 stays.
std::string ToUtf8(std::string_view bytes, uint32_t codePage = Windows1252);
// The <title> as UTF-8, "" without one.
std::string HtmlTitle(std::string_view html, uint32_t codePage = Windows1252);
std::string JsonString(std::string_view utf8);  // quoted, escaped
std::string LowerAscii(std::string text);       // A-Z only
bool EndsWithNoCase(const std::string& text, const char* suffix);

// contents.cpp: the viewer's contents tree and keyword index as JSON,
// {"items": [{"n": name, "u": url or [urls], "c": [children]}]}, their links
// as URLs below the base, with prefix before those of this help file.
// The contents are the .hhc that #SYSTEM names, else the first one stored;
// their texts are in the help file's code page (codePage) unless UTF-8.
struct HelpFile;
std::string ContentsJson(HelpFile* file, const std::string& prefix, uint32_t codePage);
std::string KeywordsJson(const char* helpPath, const std::string& prefix);
std::string LinkUrl(const std::string& link, const std::string& folder, const std::string& prefix);

// page_links.cpp: a served page's links to pages of help files (ms-its:,
// mk:@MSITStore:, its:) as URLs below root ("/<token>/"), relative links of
// the page at folder ("/dir/") aside.
std::string RewriteHelpFileLinks(std::string html, const std::string& root,
                                 const std::string& folder);

// server.cpp: the server.
struct ServeOptions {
    int port = 0;
    bool open = true;
    std::string startPage;  // opened in the viewer first: a stored name with its anchor
    // The command line as given (argv[1..]): velkory hands it over to
    // velkory-serve, which runs the command itself (relay.cpp).
    std::vector<std::string> words;
};
// Serves the help files until SIGINT or SIGTERM. The exit status.
int RunServer(const std::vector<std::string>& files, const ServeOptions& options);

// lifetime.cpp: the server of this process serves only until its standard
// input ends, or, when a process number comes there first, until that
// process ends (for a program that starts the server for its own viewer,
// page/text_browser.cpp). Called before RunServer. In velkory itself a
// no-op (relay.cpp): velkory-serve, which takes its place, does it.
void ServeWhileInputLasts();

// browse.cpp: the page of the topic whose title begins with keyword (all of
// the help files without one) in the browser, as help would show it; on a
// shelf of several help files the matches of all of them in one menu, and
// the chosen topic's file served first. pick chooses among several as help's
// --pick does. A help file that cannot be read is said and left out. The
// exit status.
// In velkory itself RunServer and BrowseTopic are relay.cpp's: they hand the
// command line over to velkory-serve.
int BrowseTopic(const std::vector<std::string>& files, const std::string& keyword, int pick,
                const ServeOptions& options);
// Opens url in $BROWSER, else xdg-open, without waiting; says so when it cannot.
void OpenInBrowser(const std::string& url);

// viewer.cpp (generated at build time from viewer/): the viewer's files.
struct ViewerAsset {
    const char* name;
    const char* type;
    const char* data;
    size_t size;
};
extern const ViewerAsset ViewerAssets[];
extern const size_t ViewerAssetCount;
