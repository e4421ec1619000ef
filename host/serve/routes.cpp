// What the server answers: one route per kind of URL, registered with
// cpp-httplib's router, and the checks every request passes first.
//
// Every URL lies under a token ("/<token>/"), and every request must name
// this machine's loopback address and the port in its Host header, so that
// neither another user of the machine nor a web page in the browser (through
// DNS rebinding) can read the files. Only stored files of the help files are
// ever served: a URL names a stored file, never a path of the file system,
// and a name with "..", ".", a backslash or a control byte in it is refused
// before it is looked up. Nothing is ever written.
//
// Below the token:
//   ""                       the library (several help files), else the viewer of the one
//   "~velkory/<name>"        the viewer's files
//   "~velkory/api/search"    a search of every help file given
//   "<file>/"                the viewer of the help file named <file> (its name, made unique)
//   "<file>/~velkory/api/<name>", "<file>/~velkory/plain/<name>"
//                            its JSON, and its contents and index as plain links
//   "<file>/~velkory/api/index-matches?k=KEYWORD"
//                            the positions of the index entries beginning with it
//   "<file>/<name>"          its stored files
// A <file> that no help file given has is a help file of their folders that
// links name ("ms-its:other.chm::/page.htm"), opened then.
#include <algorithm>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include <httplib.h>
#include <nlohmann/json.hpp>

#include "host/host.h"
#include "host/os/os.h"
#include "host/page/page.h"
#include "host/serve/serve.h"

namespace {

constexpr size_t MaxSearchResults = 50;
// Requests with more header fields, or more bytes of them, are refused (the
// HTTP library bounds each line only).
constexpr size_t MaxHeaderFields = 100;
constexpr size_t MaxHeaderBytes = 32 * 1024;

// The files of the viewer may not be framed or reach anything but this server.
constexpr const char* ViewerPolicy = "default-src 'self'; img-src 'self' data:; frame-src 'self'";

using Request = httplib::Request;
using Response = httplib::Response;

// Whether a decoded path below the token may name a stored file.
bool SafeRelativePath(const std::string& path)
{
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string::npos)
            end = path.size();
        std::string component = path.substr(start, end - start);
        if (component == ".." || component == ".")
            return false;
        start = end + 1;
    }
    for (char c : path) {
        unsigned char u = (unsigned char)c;
        if (u < 0x20 || u == 0x7f || c == '\\')
            return false;
    }
    return true;
}

const char* StatusText(int status)
{
    switch (status) {
    case 400:
        return "Bad Request";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 413:
        return "Payload Too Large";
    case 414:
        return "URI Too Long";
    case 416:
        return "Range Not Satisfiable";
    case 431:
        return "Request Header Fields Too Large";
    default:
        return "Error";
    }
}

void Refuse(Response& response, int status, const char* text)
{
    response.status = status;
    response.set_header("Connection", "close");
    response.set_content(std::string(text) + "\n", "text/plain; charset=utf-8");
}

// An answer that is made anew for each request, never kept.
void Answer(Response& response, const std::string& body, const char* type)
{
    response.set_header("Cache-Control", "no-store");
    response.set_content(body, type);
}

void AnswerJson(Response& response, const nlohmann::json& value)
{
    response.set_header("Content-Security-Policy", ViewerPolicy);
    Answer(response, JsonText(value), "application/json");
}

std::string MediaType(const ServerState& state, const std::string& name)
{
    size_t dot = name.find_last_of("./");
    if (dot != std::string::npos && name[dot] == '.') {
        std::string ext = FoldedText(name.substr(dot + 1));
        auto it = state.mimeTypes.find(ext);
        if (it != state.mimeTypes.end())
            return it->second;
        if (ext == "htm" || ext == "html")
            return "text/html";
    }
    return "application/octet-stream";
}

nlohmann::json Info(ServerState& state, ServedFile& served)
{
    return {
        {"label", TextToUtf8(served.label, Windows1252)},
        {"title", served.title.empty() ? TextToUtf8(served.label, Windows1252) : served.title},
        {"home", served.home.empty() ? "" : WithAnchor(PageUrl(served.home), served.homeAnchor)},
        {"damage", served.damage},
        {"library", state.library.several},
        // Which file this is, for those that link here (the language server).
        {"path", CanonicalPath(served.path)}};
}

nlohmann::json ProgressJson(const IndexProgress& progress)
{
    return {{"done", progress.done},
            {"total", progress.total},
            {"ready", progress.ready},
            {"failure", progress.failure}};
}

// A hit: [title, url, snippet, marks], the marks [start, end] byte ranges of
// the snippet, the URL relative to the help file's (with the file's title
// after it, relative to the token's, in a search of every file).
nlohmann::json HitJson(const FoundPage& page, bool everyFile)
{
    nlohmann::json marks = nlohmann::json::array();
    for (const auto& [start, end] : page.marks)
        marks.push_back({start, end});
    if (!everyFile)
        return {page.title, PageUrl(page.name), page.snippet, marks};
    return {page.title, EncodeUrlPath(page.file->label) + "/#" + PageUrl(page.name),
            page.file->title.empty() ? TextToUtf8(page.file->label, Windows1252) : page.file->title,
            page.snippet, marks};
}

// The pages of a help file, or a search of them (as typed so far), with how
// far its index is: the pages and hits found so far while it is being built.
nlohmann::json PageList(ServerState& state, ServedFile& served, const std::string* query)
{
    IndexProgress progress = SearchProgress(state.library, served);
    nlohmann::json list = nlohmann::json::array();
    std::string error = progress.failure;
    if (query) {
        for (const FoundPage& page :
             SearchPages(state.library, &served, *query, MaxSearchResults, true, error))
            list.push_back(HitJson(page, false));
    } else {
        for (const FoundPage& page : SearchablePages(state.library, served))
            list.push_back({page.title, PageUrl(page.name)});
    }
    if (progress.failure.empty())
        progress.failure = error;
    return {{"ready", progress.ready},
            {"progress", ProgressJson(progress)},
            {query ? "hits" : "pages", list}};
}

// A search of every help file given (as typed so far): [[title, url, file's
// title, snippet, marks]...], the URLs relative to the token's; "waiting"
// counts the files not indexed yet, "progress" sums their pages.
nlohmann::json LibrarySearch(ServerState& state, const std::string& query)
{
    size_t waiting = 0;
    IndexProgress all = LibraryProgress(state.library, waiting);
    std::string error;
    nlohmann::json list = nlohmann::json::array();
    for (const FoundPage& page :
         SearchPages(state.library, nullptr, query, MaxSearchResults, true, error))
        list.push_back(HitJson(page, true));
    if (all.failure.empty())
        all.failure = error;
    return {{"hits", list}, {"waiting", waiting}, {"progress", ProgressJson(all)}};
}

// A stored file of a help file, or why it cannot be read.
void AnswerStored(ServerState& state, ServedFile& served, const std::string& name,
                  Response& response)
{
    std::string body, reason;
    if (ReadStored(served, name, body, reason)) {
        // Stored files never change while served: they may be kept a while.
        response.set_header("Cache-Control", "private, max-age=600");
        std::string type = MediaType(state, name);
        if (type == "text/html")
            body = RewriteHelpFileLinks(std::move(body), "/" + state.token + "/", served.label,
                                        name.substr(0, name.rfind('/') + 1));
        response.set_content(std::move(body), type.c_str());
        return;
    }
    if (reason.empty())
        return Refuse(response, 404, "Not Found");
    // A page in the viewer's frame says itself why it is not there.
    Refuse(response, 500, "");
    Answer(response, UnreadablePage(name.substr(1), reason), "text/html; charset=utf-8");
}

// The checks before any route: sizes, the Host header, the method, the token
// and the path. A request that passes is left to the routes.
httplib::Server::HandlerResponse Check(ServerState& state, const Request& request,
                                       Response& response)
{
    using Handled = httplib::Server::HandlerResponse;
    size_t headerBytes = 0;
    for (const auto& [name, value] : request.headers)
        headerBytes += name.size() + value.size() + 4;
    if (request.headers.size() > MaxHeaderFields || headerBytes > MaxHeaderBytes) {
        Refuse(response, 431, "Request Header Fields Too Large");
        return Handled::Handled;
    }
    std::string host = FoldedText(request.get_header_value("Host"));
    if (request.get_header_value_count("Host") != 1 ||
        std::find(state.hosts.begin(), state.hosts.end(), host) == state.hosts.end()) {
        Refuse(response, 403, "Forbidden: wrong Host");
        return Handled::Handled;
    }
    if (request.method != "GET" && request.method != "HEAD") {
        Refuse(response, 405, "Method Not Allowed");
        return Handled::Handled;
    }
    const std::string root = "/" + state.token + "/";
    if (request.path.compare(0, root.size(), root) != 0) {
        Refuse(response, 404, "Not Found");
        return Handled::Handled;
    }
    if (!SafeRelativePath(request.path.substr(root.size()))) {
        Refuse(response, 400, "Bad Request");
        return Handled::Handled;
    }
    return Handled::Unhandled;
}

void AnswerAsset(const std::string& name, Response& response)
{
    for (size_t i = 0; i < ViewerAssetCount; ++i)
        if (name == ViewerAssets[i].name) {
            response.set_header("Content-Security-Policy", ViewerPolicy);
            response.set_header("Cache-Control", "no-cache");
            response.set_content(ViewerAssets[i].data, ViewerAssets[i].size, ViewerAssets[i].type);
            return;
        }
    Refuse(response, 404, "Not Found");
}

}  // namespace

std::string PageUrl(const std::string& name)
{
    return EncodeUrlPath(name.substr(name.compare(0, 1, "/") == 0));
}

std::unordered_map<std::string, std::string> ReadMimeTypes()
{
    std::unordered_map<std::string, std::string> types;
    std::ifstream in("/etc/mime.types");
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        std::vector<std::string> words;
        size_t at = 0;
        while (at < line.size()) {
            size_t start = line.find_first_not_of(" \t", at);
            if (start == std::string::npos)
                break;
            size_t end = line.find_first_of(" \t", start);
            if (end == std::string::npos)
                end = line.size();
            words.push_back(line.substr(start, end - start));
            at = end;
        }
        for (size_t i = 1; i < words.size(); ++i)
            types.emplace(FoldedText(words[i]), words[0]);
    }
    return types;
}

void AddRoutes(httplib::Server& server, ServerState& state)
{
    server.set_default_headers(
        {{"Referrer-Policy", "no-referrer"}, {"X-Content-Type-Options", "nosniff"}});
    server.set_pre_routing_handler([&state](const Request& request, Response& response) {
        return Check(state, request, response);
    });
    // What no route answers, and refusals without a text of their own.
    server.set_error_handler(
        httplib::Server::HandlerWithResponse([](const Request&, Response& response) {
            if (!response.body.empty())
                return httplib::Server::HandlerResponse::Unhandled;
            Refuse(response, response.status, StatusText(response.status));
            return httplib::Server::HandlerResponse::Handled;
        }));

    const std::string root = "/" + state.token + "/";
    server.Get(root, [&state, root](const Request& request, Response& response) {
        if (!state.library.several) {
            response.set_redirect(root + EncodeUrlPath(ServedFileAt(state.library, 0)->label) +
                                  "/");
            return;
        }
        response.set_header("Content-Security-Policy", ViewerPolicy);
        Answer(response, LibraryPage(state.library, root, request.get_param_value("q")),
               "text/html; charset=utf-8");
    });
    server.Get(root + "~velkory/api/search", [&state](const Request& request, Response& response) {
        AnswerJson(response, LibrarySearch(state, request.get_param_value("q")));
    });
    server.Get(root + "~velkory/([^/]+)", [](const Request& request, Response& response) {
        AnswerAsset(request.matches[1], response);
    });

    // What belongs to one help file: its routes get the file the URL names.
    auto file = [&](const std::string& pattern, auto answer) {
        server.Get(root + "([^/]+)/" + pattern,
                   [&state, answer](const Request& request, Response& response) {
                       ServedFile* served = FindServedFile(state.library, request.matches[1]);
                       if (!served)
                           return Refuse(response, 404, "Not Found");
                       answer(request, *served, response);
                   });
    };
    file("", [](const Request&, ServedFile&, Response& response) {
        AnswerAsset("index.html", response);
    });
    file("~velkory/api/info", [&state](const Request&, ServedFile& served, Response& response) {
        AnswerJson(response, Info(state, served));
    });
    file("~velkory/api/pages", [&state](const Request&, ServedFile& served, Response& response) {
        AnswerJson(response, PageList(state, served, nullptr));
    });
    file("~velkory/api/search",
         [&state](const Request& request, ServedFile& served, Response& response) {
             std::string query = request.get_param_value("q");
             AnswerJson(response, PageList(state, served, &query));
         });
    for (bool contents : {true, false}) {
        file(contents ? "~velkory/api/toc" : "~velkory/api/index",
             [contents](const Request&, ServedFile& served, Response& response) {
                 AnswerJson(response, {{"items", *TreeOf(served, contents)}});
             });
        file(contents ? "~velkory/plain/contents" : "~velkory/plain/index",
             [contents, root](const Request&, ServedFile& served, Response& response) {
                 Answer(response, PlainPage(served, root, contents), "text/html; charset=utf-8");
             });
    }
    // The positions in the index of the entries that begin with k.
    file("~velkory/api/index-matches",
         [](const Request& request, ServedFile& served, Response& response) {
             std::vector<size_t> positions;
             switch (IndexEntriesBeginning(served.path.c_str(), *TreeOf(served, false),
                                           request.get_param_value("k"), positions)) {
             case IndexMatch::Ok:
                 return AnswerJson(response, {{"positions", positions}});
             case IndexMatch::BadKeyword:
                 return Refuse(response, 400, "Bad Request: no keyword can be made of k");
             case IndexMatch::Unreadable:
                 break;
             }
             Refuse(response, 500, "The keyword index cannot be read");
         });
    file("(.+)", [&state](const Request& request, ServedFile& served, Response& response) {
        // The name with its leading "/".
        AnswerStored(state, served, request.path.substr((size_t)request.matches.position(2) - 1),
                     response);
    });
}
