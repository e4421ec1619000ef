// velkory serve and velkory browse: help files served to a browser on the
// loopback interface, with a viewer (contents, index, title and full-text
// search) at the base URL.
//
//   server.cpp    the run: the listening sockets, the signals, the threads
//   connections.cpp  a thread a connection up to a cap, the timeouts
//   routes.cpp    every URL, one route each, and the checks before them
//   library.cpp   the help files served, their pages and their start pages
//   contents.cpp  the contents and the keyword index, links as URLs
//   page_search.cpp  the full-text search of the files served, on the search
//                 room's engine (one index per help file, kept in the cache)
//   browse.cpp    browse: a topic chosen as help chooses it, the browser
//   relay.cpp     in velkory itself: serve handed over to velkory-serve
//
// Room serve/ (Linux only): may call module/, page/, search/, terminal/, os/
// and the module's container/, lookup/ and platform/.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "host/page/page.h"      // EncodeUrlPath
#include "host/search/search.h"  // TextSearch

// The code page assumed for texts of a help file whose language is unknown.
constexpr uint32_t Windows1252 = 1252;

// contents.cpp: the viewer's contents tree and keyword index, as lists of
// {"n": name, "u": url or [urls], "c": [children]}, their links as URLs
// relative to the help file's own ("page.htm", "../other.chm/page.htm").
// The contents are the .hhc that #SYSTEM names, else the first one stored;
// their texts are in the help file's code page (codePage) unless UTF-8.
struct HelpFile;
nlohmann::json ContentsTree(HelpFile* file, uint32_t codePage);
nlohmann::json KeywordsTree(const char* helpPath);
// The positions in keywords (KeywordsTree of helpPath) of the entries that
// begin with keyword (UTF-8, as typed), in order: those velkory index lists,
// compared as help compares them.
enum class IndexMatch {
    Ok,
    BadKeyword,  // holds a NUL, or cannot be converted to the OEM code page
    Unreadable,  // the keyword index cannot be read, or memory ran out
};
IndexMatch IndexEntriesBeginning(const char* helpPath, const nlohmann::json& keywords,
                                 const std::string& keyword, std::vector<size_t>& positions);
// The same as plain HTML lists of links, for browsers without scripts.
std::string PlainTreeHtml(const nlohmann::json& items, const std::string& base);
// Text for HTML, in an element or a quoted attribute: the page room's
// escaper.
inline std::string HtmlText(const std::string& utf8)
{
    return EscapeMarkup(utf8, true);
}
// JSON as text; bytes that are not UTF-8 come out as U+FFFD.
std::string JsonText(const nlohmann::json& value);
std::string WithAnchor(std::string url, const std::string& anchor);  // url#anchor, encoded
std::string LinkUrl(const std::string& link, const std::string& folder);

// page_links.cpp: a served page's links to pages of help files (ms-its:,
// mk:@MSITStore:, its:) as the server's URLs of those pages, below root
// ("/<token>/"), for the page at folder ("/dir/") of the help file named
// label in URLs; relative links are left as they are.
std::string RewriteHelpFileLinks(std::string html, const std::string& root,
                                 const std::string& label, const std::string& folder);

// library.cpp: the help files served, those given and those of their
// folders that links name, opened when first named.
struct ServedFile {
    // As given (or found beside a file given), and its name, unique among the
    // files served: the name its URLs begin with.
    std::string path, label;
    HelpFile* file = nullptr;
    std::mutex lock;                                      // the reader is not shared
    std::unordered_map<std::string, int32_t> lowerNames;  // for names in another case
    uint64_t size = 0;                                    // in bytes
    std::string title;                                    // from #SYSTEM, as UTF-8; "" without one
    uint32_t lcid = 0;                                    // its language, 0 when unknown
    uint32_t codePage = Windows1252;                      // of its texts that are not UTF-8
    // The page it opens on (a stored name) and the anchor there.
    std::string home, homeAnchor;
    std::string damage;  // why some of its pages cannot be read, "" when none
    // Made when first asked for, under lock.
    std::shared_ptr<const nlohmann::json> contents, keywords;
    // Its number in the library's search; whether it was given (else it was
    // opened for a link, and is indexed when first searched, under indexLock).
    size_t searchNumber = SIZE_MAX;
    bool background = false;
    std::mutex indexLock;
    ServedFile() = default;
    ServedFile(const ServedFile&) = delete;
    ~ServedFile();
};
struct Library {
    bool several = false;              // a folder or several files: a library page
    std::vector<std::string> folders;  // of the files given
    std::mutex filesLock;              // guards the list's growth
    std::vector<std::unique_ptr<ServedFile>> files;
    std::atomic<bool> stopping {false};
    // The full-text search of every file served, one for all so that hits
    // of several files rank on one scale, made when first wanted (under
    // filesLock; searchStarts tells the indexer); null before, and when the
    // user's cache cannot be had (searchFailure says why).
    bool searchStarted = false;
    std::condition_variable searchStarts;
    std::unique_ptr<TextSearch> search;
    std::string searchFailure;
};
// Adds the help files given, and those below the folders given; false,
// having said why, when a file given cannot be served or there is none.
bool OpenLibrary(Library& library, const std::vector<std::string>& paths);
// The help file at number in the list, or null.
ServedFile* ServedFileAt(Library& library, size_t number);
size_t ServedFileNumber(Library& library, const ServedFile* served);
// The help file a label names: a served one, or one in the folder of a given
// one (its name's case aside, as Windows finds it), opened now; null if none.
ServedFile* FindServedFile(Library& library, const std::string& label);
// A stored file's bytes (name with its leading "/"; in another case too);
// false when it is not stored (reason "") or cannot be read (the reason).
bool ReadStored(ServedFile& served, const std::string& name, std::string& body,
                std::string& reason);
// The contents tree or the keyword index.
std::shared_ptr<const nlohmann::json> TreeOf(ServedFile& served, bool contents);
// page_search.cpp: the full-text search of the files served.
struct FoundPage {
    ServedFile* file = nullptr;
    std::string name;   // stored name, with its leading "/"
    std::string title;  // UTF-8
    double score = 0;   // higher is better; comparable between help files
    // A line of its text around the match (UTF-8), and the byte ranges of
    // the snippet that match.
    std::string snippet;
    std::vector<std::pair<size_t, size_t>> marks;
};
// Adds a help file just opened for a link to the search, if it is made
// (library.filesLock held).
void JoinSearch(Library& library, ServedFile& served);
// Once the search is first wanted (the viewer asks for its pages as it
// opens), makes the indexes of the files given ready, one after the other,
// until stopping (the server's background thread): a server nobody looks at
// builds nothing.
void IndexLibrary(Library& library);
// How far the index of a help file is; one opened for a link is indexed now.
IndexProgress SearchProgress(Library& library, ServedFile& served);
// The same for every help file given together: their pages summed, ready
// when all are; waiting counts those not ready that still may be.
IndexProgress LibraryProgress(Library& library, size_t& waiting);
// Every page of the help file that can be searched now, with its title.
std::vector<FoundPage> SearchablePages(Library& library, ServedFile& served);
// The best pages of a help file for query, or, with served null, of every
// help file given; asTyped: the query as typed so far (its last word also a
// prefix). Each with its snippet; [] when the search fails (error says why).
std::vector<FoundPage> SearchPages(Library& library, ServedFile* served, const std::string& query,
                                   size_t limit, bool asTyped, std::string& error);
// The name of a language, "" when it is not known.
std::string LanguageName(uint32_t lcid);

// address.cpp: the token and the port kept from run to run (KeptAddress,
// page.h), written in a file beside the settings file.
// Writes the file whole, replacing the one there or only when there is none;
// 0, or the errno of the failure.
int WriteAddress(const std::string& path, const KeptAddress& address, bool replace);
std::string NewToken();  // 32 hex digits; "" when the system gives no random bytes

// server.cpp: the server.
struct ServeOptions {
    int port = -1;  // -1: the last run's when it is free, else any; 0: any
    bool newToken = false;
    // false: a token and a port of this run alone, neither read nor kept
    // (a server that lives as long as one viewer).
    bool keepAddress = true;
    bool open = true;
    std::string startPage;  // opened in the viewer first: a URL with its anchor
    // The command line as given (argv[1..]): velkory hands it over to
    // velkory-serve, which runs the command itself (relay.cpp).
    std::vector<std::string> words;
};
// Serves the help files until SIGINT or SIGTERM. The exit status.
int RunServer(const std::vector<std::string>& files, const ServeOptions& options);

// routes.cpp: what the server answers. Every URL lies below "/<token>/", and
// only requests that name the server in their Host header are answered.
struct ServerState {
    std::string token;
    std::vector<std::string> hosts;  // accepted Host header values
    Library library;
    std::unordered_map<std::string, std::string> mimeTypes;
};
namespace httplib {
class Server;
}
void AddRoutes(httplib::Server& server, ServerState& state);
// connections.cpp: the server's limits on connections and their timeouts,
// chosen so that idle and slow clients cannot starve the others.
void LimitConnections(httplib::Server& server);
// Once bound: as many connections as the system allows wait to be accepted.
void WidenBacklog(httplib::Server& server);
// Extension (lower case) to media type, from the system's list.
std::unordered_map<std::string, std::string> ReadMimeTypes();
// The URL of a stored page relative to its help file's.
std::string PageUrl(const std::string& name);

// pages.cpp: the pages the server writes itself. root is "/<token>/".
// The library: every help file served, and the pages that hold query.
std::string LibraryPage(Library& library, const std::string& root, const std::string& query);
// A help file's contents or index as plain links, for browsers without scripts.
std::string PlainPage(ServedFile& served, const std::string& root, bool contents);
// What a page that cannot be read shows instead.
std::string UnreadablePage(const std::string& name, const std::string& reason);

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
