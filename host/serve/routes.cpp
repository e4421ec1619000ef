// What the server answers: one route per kind of URL, registered with
// cpp-httplib's router, and the checks every request passes first.
//
// Every URL lies under a random token ("/<token>/"), and every request must
// name this machine's loopback address and the port in its Host header, so
// that neither another user of the machine nor a web page in the browser
// (through DNS rebinding) can read the files. Only stored files of the help
// files are ever served: a URL names a stored file, never a path of the file
// system, and a name with "..", ".", a backslash or a control byte in it is
// refused before it is looked up. Nothing is ever written.
//
// Below the token: the viewer at "", its files at "~velkory/<name>", its
// JSON at "~velkory/api/<name>", pages of plain links for browsers without
// scripts at "~velkory/plain/<name>", the first help file's stored files at
// their names, and every help file's (the first's too, and those of help
// files in the same folder that links name) at "~chm/<file name>/<name>".
#include <algorithm>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include <httplib.h>
#include <nlohmann/json.hpp>

#include "host/serve/serve.h"

namespace {

constexpr const char* ViewerPrefix = "~velkory/";
constexpr const char* FilePrefix = "~chm/";
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

void Refuse(Response& response, int status, const char* text)
{
    response.status = status;
    response.set_header("Connection", "close");
    response.set_content(std::string(text) + "\n", "text/plain; charset=utf-8");
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
        std::string ext = LowerAscii(name.substr(dot + 1));
        auto it = state.mimeTypes.find(ext);
        if (it != state.mimeTypes.end())
            return it->second;
        if (ext == "htm" || ext == "html")
            return "text/html";
    }
    return "application/octet-stream";
}

// The URLs of a help file's pages begin with its prefix: none for the first.
std::string PrefixOf(Library& library, ServedFile& served)
{
    return ServedFileNumber(library, &served) == 0 ? ""
                                                   : FilePrefix + EncodeUrlPath(served.label) + "/";
}

std::string PageUrl(Library& library, ServedFile& served, const std::string& name)
{
    return PrefixOf(library, served) + EncodeUrlPath(name.substr(name.compare(0, 1, "/") == 0));
}

// The help file that "?f=N" names (the first without it); null for none.
ServedFile* FileAsked(ServerState& state, const Request& request)
{
    size_t f = 0;
    if (request.has_param("f")) {
        std::string text = request.get_param_value("f");
        if (text.empty() || text.size() > 3 ||
            text.find_first_not_of("0123456789") != std::string::npos)
            return nullptr;
        f = (size_t)atoi(text.c_str());
    }
    return ServedFileAt(state.library, f);
}

nlohmann::json Info(ServerState& state)
{
    nlohmann::json files = nlohmann::json::array();
    for (size_t f = 0; ServedFile* served = ServedFileAt(state.library, f); ++f) {
        std::string home;
        if (!served->home.empty())
            home = WithAnchor(PageUrl(state.library, *served, served->home), served->homeAnchor);
        files.push_back({{"label", ToUtf8(served->label)},
                         {"title", served->title.empty() ? ToUtf8(served->label) : served->title},
                         {"prefix", FilePrefix + EncodeUrlPath(served->label) + "/"},
                         {"home", home},
                         {"damage", served->damage}});
    }
    return {{"files", files}, {"start", ToUtf8(state.startPage)}};
}

// The pages of a help file, or a search of them: [[title, url]...], with
// "ready" false while the index is being made.
nlohmann::json PageList(ServerState& state, ServedFile& served, const std::string* query)
{
    std::shared_ptr<const PageSearch> search = SearchOf(state.library, served);
    nlohmann::json list = nlohmann::json::array();
    if (search) {
        for (const FoundPage& page :
             query ? SearchPages(*search, *query, MaxSearchResults) : IndexedPages(*search))
            list.push_back({page.title, PageUrl(state.library, served, page.name)});
    }
    return {{"ready", search != nullptr}, {query ? "hits" : "pages", list}};
}

// The contents or the index as a page of plain links, for browsers without
// scripts (the viewer's <noscript> links to them).
std::string PlainPage(ServerState& state, ServedFile& served, bool contents)
{
    std::string base = "/" + state.token + "/";
    std::string title = HtmlText(served.title.empty() ? ToUtf8(served.label) : served.title);
    const char* name = contents ? "Contents" : "Index";
    const char* other = contents ? "Index" : "Contents";
    std::string html = "<!DOCTYPE html>\n<html lang=\"en\">\n<head><meta charset=\"utf-8\"><title>";
    html.append(name).append(" \u2014 ").append(title).append("</title></head>\n<body>\n<h1>");
    html.append(title).append("</h1>\n<p>");
    if (!served.home.empty())
        html.append("<a href=\"")
            .append(HtmlText(base + PageUrl(state.library, served, served.home)))
            .append("\">Start page</a> | ");
    html.append("<a href=\"")
        .append(HtmlText(base + ViewerPrefix + "plain/" + LowerAscii(other) +
                         "?f=" + std::to_string(ServedFileNumber(state.library, &served))))
        .append("\">")
        .append(other)
        .append("</a></p>\n<h2>")
        .append(name)
        .append("</h2>\n");
    auto tree = TreeOf(served, PrefixOf(state.library, served), contents);
    html += tree->empty() ? std::string("<p>None in this help file.</p>\n")
                          : PlainTreeHtml(*tree, base);
    return html + "</body>\n</html>\n";
}

// A stored file of a help file, or why it cannot be read.
void AnswerStored(ServerState& state, ServedFile* served, const std::string& name,
                  Response& response)
{
    std::string body, reason;
    if (served && ReadStored(*served, name, body, reason)) {
        // Stored files never change while served: they may be kept a while.
        response.set_header("Cache-Control", "private, max-age=600");
        response.set_content(std::move(body), MediaType(state, name).c_str());
        return;
    }
    if (reason.empty())
        return Refuse(response, 404, "Not Found");
    // A page in the viewer's frame says itself why it is not there.
    Refuse(response, 500, "");
    Answer(response,
           "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
           "<title>Cannot be read</title></head>\n<body><h1>This page cannot be read</h1>\n<p>" +
               HtmlText(name.substr(1) + ": " + reason) + ".</p></body></html>\n",
           "text/html; charset=utf-8");
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
    std::string host = LowerAscii(request.get_header_value("Host"));
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

}  // namespace

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
            types.emplace(LowerAscii(words[i]), words[0]);
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
    auto asset = [](const std::string& name, Response& response) {
        for (size_t i = 0; i < ViewerAssetCount; ++i)
            if (name == ViewerAssets[i].name) {
                response.set_header("Content-Security-Policy", ViewerPolicy);
                response.set_header("Cache-Control", "no-cache");
                response.set_content(ViewerAssets[i].data, ViewerAssets[i].size,
                                     ViewerAssets[i].type);
                return;
            }
        Refuse(response, 404, "Not Found");
    };
    server.Get(root,
               [asset](const Request&, Response& response) { asset("index.html", response); });
    server.Get(root + "~velkory/api/info",
               [&state](const Request&, Response& response) { AnswerJson(response, Info(state)); });
    // The APIs of one help file ("?f=N").
    auto perFile = [&](const char* api, auto answer) {
        server.Get(root + "~velkory/" + api,
                   [&state, answer](const Request& request, Response& response) {
                       ServedFile* served = FileAsked(state, request);
                       if (!served)
                           return Refuse(response, 404, "Not Found");
                       answer(request, *served, response);
                   });
    };
    perFile("api/pages", [&state](const Request&, ServedFile& served, Response& response) {
        AnswerJson(response, PageList(state, served, nullptr));
    });
    perFile("api/search", [&state](const Request& request, ServedFile& served, Response& response) {
        std::string query = request.get_param_value("q");
        AnswerJson(response, PageList(state, served, &query));
    });
    for (bool contents : {true, false}) {
        perFile(contents ? "api/toc" : "api/index",
                [&state, contents](const Request&, ServedFile& served, Response& response) {
                    auto tree = TreeOf(served, PrefixOf(state.library, served), contents);
                    AnswerJson(response, {{"items", *tree}});
                });
        perFile(contents ? "plain/contents" : "plain/index",
                [&state, contents](const Request&, ServedFile& served, Response& response) {
                    Answer(response, PlainPage(state, served, contents),
                           "text/html; charset=utf-8");
                });
    }
    server.Get(root + "~velkory/([^/]+)", [asset](const Request& request, Response& response) {
        asset(request.matches[1], response);
    });
    server.Get(root + "~chm/([^/]+)(/.+)", [&state](const Request& request, Response& response) {
        AnswerStored(state, FindServedFile(state.library, request.matches[1]), request.matches[2],
                     response);
    });
    server.Get(root + ".+", [&state, root](const Request& request, Response& response) {
        // The name with its leading "/".
        AnswerStored(state, ServedFileAt(state.library, 0), request.path.substr(root.size() - 1),
                     response);
    });
}
