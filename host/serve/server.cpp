// The server: help files over HTTP on the loopback interface.
//
// Every URL lies under a random token made for this run ("/<token>/"), and
// every request must name this machine's loopback address and the port in
// its Host header, so that neither another user of the machine nor a web page
// in the browser (through DNS rebinding) can read the files. Only stored files
// of the help files are ever served: a URL names a stored file, never a path
// of the file system, and a name with "..", ".", a backslash or a control
// byte in it is refused before it is looked up. Nothing is ever written.
//
// Layout below the token: the viewer at "", its files and its JSON at
// "~velkory/", the first help file's stored files at their names, and every
// help file (the first too, and help files in the same folder that links name)
// at "~chm/<file name>/".
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include <httplib.h>
#include <pthread.h>
#include <sys/random.h>
#include <sys/stat.h>

#include "container/container.h"
#include "host/host.h"
#include "host/serve/serve.h"
#include "lookup/encoding.h"
#include "lookup/lookup.h"

namespace {

constexpr const char* ViewerPrefix = "~velkory/";
constexpr const char* FilePrefix = "~chm/";
constexpr size_t MaxHelpFiles = 64;
constexpr size_t MaxSearchResults = 50;
constexpr size_t MaxPayload = 64 * 1024;
// Requests with more header fields, or more bytes of them, are refused (the
// HTTP library bounds each line only).
constexpr size_t MaxHeaderFields = 100;
constexpr size_t MaxHeaderBytes = 32 * 1024;

struct ServedFile {
    std::string path;   // as given, or found beside a given one
    std::string label;  // its file name, unique among the served files
    HelpFile* file = nullptr;
    std::mutex lock;                                      // the reader is not shared
    std::unordered_map<std::string, int32_t> lowerNames;  // for names in another case
    std::atomic<bool> indexed {false};
    SearchIndex index;
    std::string home;                 // a stored name
    std::string title;                // from #SYSTEM, as UTF-8; "" without one
    uint32_t codePage = Windows1252;  // of its texts that are not UTF-8
    std::string contents, keywords;   // their JSON, once made (under lock)
    bool background = false;          // indexed by the background thread
    std::mutex indexLock;             // one index made on demand at a time
    ~ServedFile()
    {
        if (file)
            CloseHelpFile(file);
    }
};

struct ServerState {
    std::string token;
    int port = 0;
    std::vector<std::string> hosts;  // accepted Host header values
    std::vector<std::string> folders;
    std::mutex filesLock;  // guards the list's growth
    std::vector<std::unique_ptr<ServedFile>> files;
    std::unordered_map<std::string, std::string> mimeTypes;
    std::atomic<bool> stopping {false};
    std::string startPage;
};

std::string BaseName(const std::string& path)
{
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string FolderOf(const std::string& path)
{
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

std::string RandomToken()
{
    unsigned char bytes[16];
    size_t got = 0;
    while (got < sizeof bytes) {
        ssize_t n = getrandom(bytes + got, sizeof bytes - got, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return "";
        got += (size_t)n;
    }
    std::string token;
    for (unsigned char b : bytes) {
        token += "0123456789abcdef"[b >> 4];
        token += "0123456789abcdef"[b & 15];
    }
    return token;
}

// Extension (lower case) to media type, from the system's list.
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

std::string MediaType(const ServerState& state, const std::string& name)
{
    size_t dot = name.find_last_of("./");
    if (dot != std::string::npos && name[dot] == '.') {
        auto it = state.mimeTypes.find(LowerAscii(name.substr(dot + 1)));
        if (it != state.mimeTypes.end())
            return it->second;
        std::string ext = LowerAscii(name.substr(dot + 1));
        if (ext == "htm" || ext == "html")
            return "text/html";
    }
    return "application/octet-stream";
}

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

void IndexDirectory(ServedFile& served)
{
    int32_t count = DirectoryCount(served.file);
    for (int32_t i = 0; i < count; ++i) {
        const DirectoryEntry* entry = DirectoryAt(served.file, i);
        if (entry)
            served.lowerNames.emplace(LowerAscii(entry->Name), i);
    }
}

// The page the viewer shows first: a usual start page, else the first page.
std::string HomePage(ServedFile& served)
{
    static const char* const Usual[] = {"/index.htm",    "/index.html", "/default.htm",
                                        "/default.html", "/main.htm",   "/main.html"};
    for (const char* name : Usual)
        if (served.lowerNames.count(name))
            return DirectoryAt(served.file, served.lowerNames[name])->Name;
    int32_t count = DirectoryCount(served.file);
    for (int32_t i = 0; i < count; ++i) {
        std::string name = DirectoryAt(served.file, i)->Name;
        if (EndsWithNoCase(name, ".htm") || EndsWithNoCase(name, ".html"))
            return name;
    }
    return "";
}

// Opens a help file; null, with the reason, when it is not one.
std::unique_ptr<ServedFile> OpenServedFile(const std::string& path, std::string& error)
{
    FILE* stream = fopen(path.c_str(), "rb");
    if (!stream) {
        error = path + ": " + strerror(errno);
        return nullptr;
    }
    char signature[4] = {0};
    size_t got = fread(signature, 1, sizeof signature, stream);
    fclose(stream);
    if (got != sizeof signature || memcmp(signature, "ITSF", 4) != 0) {
        error = path + ": not a help file (no ITSF signature)";
        return nullptr;
    }
    auto served = std::make_unique<ServedFile>();
    served->path = path;
    served->file = OpenHelpFile(path.c_str());
    if (!served->file) {
        error = path + ": " + strerror(errno);
        return nullptr;
    }
    IndexDirectory(*served);
    served->home = HomePage(*served);
    SystemInfo info;
    if (ReadSystemInfo(served->file, &info)) {
        uint32_t codePage = LocaleAnsiCodePage(info.lcid);
        served->codePage = codePage != 0 ? codePage : Windows1252;
        served->title = ToUtf8(info.title, served->codePage);
    }
    return served;
}

// A stored file's bytes; false when the name is not stored or cannot be read.
bool ReadStored(ServedFile& served, const std::string& name, std::string& body)
{
    std::lock_guard<std::mutex> guard(served.lock);
    // The name as given, else in another case; the container's own files
    // ("::DataSpace/...") are stored without the leading "/".
    std::string stored;
    for (const std::string& candidate : {name, name.substr(name.compare(0, 3, "/::") == 0)}) {
        if (FindDirectoryEntry(candidate.c_str(), served.file->Entries)) {
            stored = candidate;
            break;
        }
        auto it = served.lowerNames.find(LowerAscii(candidate));
        if (it != served.lowerNames.end()) {
            stored = DirectoryAt(served.file, it->second)->Name;
            break;
        }
    }
    if (stored.empty() || stored.back() == '/')
        return false;
    uint32_t length = 0;
    uint8_t* data = nullptr;
    if (ExtractFile(served.file, stored.c_str(), &length, &data) != 0)
        return false;
    body.assign((const char*)data, length);
    free(data);
    return true;
}

// Builds the search index of every given help file, one after the other.
// Builds the search index of one help file; false when stopped first.
bool IndexFile(ServedFile& served, const std::atomic<bool>& stopping)
{
    std::vector<std::string> names;
    {
        std::lock_guard<std::mutex> guard(served.lock);
        int32_t entries = DirectoryCount(served.file);
        for (int32_t i = 0; i < entries; ++i) {
            std::string name = DirectoryAt(served.file, i)->Name;
            if (EndsWithNoCase(name, ".htm") || EndsWithNoCase(name, ".html"))
                names.push_back(name);
        }
    }
    SearchBuilder builder;
    builder.codePage = served.codePage;
    std::string html;
    for (const std::string& name : names) {
        if (stopping)
            return false;
        if (ReadStored(served, name, html))
            AddSearchPage(builder, name, html);
    }
    served.index = FinishSearchIndex(builder);
    served.indexed = true;
    return true;
}

// The given help files are indexed one after the other in the background.
void IndexFiles(ServerState& state, size_t count)
{
    for (size_t f = 0; f < count; ++f)
        if (!IndexFile(*state.files[f], state.stopping))
            return;
}

// A help file opened because a link named it is indexed when first searched.
void IndexOnDemand(ServerState& state, ServedFile& served)
{
    if (!served.background && !served.indexed) {
        std::lock_guard<std::mutex> guard(served.indexLock);
        if (!served.indexed)
            IndexFile(served, state.stopping);
    }
}

// The help file a "~chm/<label>/" URL names: a served one, or a help file in
// the folder of a given one, opened now.
ServedFile* FindByLabel(ServerState& state, const std::string& label)
{
    std::lock_guard<std::mutex> guard(state.filesLock);
    for (auto& served : state.files)
        if (LowerAscii(served->label) == LowerAscii(label))
            return served.get();
    if (!EndsWithNoCase(label, ".chm") || label.find('/') != std::string::npos || label[0] == '.' ||
        state.files.size() >= MaxHelpFiles)
        return nullptr;
    for (const std::string& folder : state.folders) {
        std::string path = folder + "/" + label;
        struct stat st;
        if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
            continue;
        std::string error;
        auto served = OpenServedFile(path, error);
        if (!served)
            continue;
        served->label = label;
        state.files.push_back(std::move(served));
        return state.files.back().get();
    }
    return nullptr;
}

ServedFile* FileAt(ServerState& state, const httplib::Request& request)
{
    std::lock_guard<std::mutex> guard(state.filesLock);
    size_t f = 0;
    if (request.has_param("f")) {
        std::string text = request.get_param_value("f");
        if (text.empty() || text.size() > 3 ||
            text.find_first_not_of("0123456789") != std::string::npos)
            return nullptr;
        f = (size_t)atoi(text.c_str());
    }
    return f < state.files.size() ? state.files[f].get() : nullptr;
}

std::string PageUrl(size_t fileNumber, const ServedFile& served, const std::string& name)
{
    std::string prefix = fileNumber == 0 ? "" : FilePrefix + EncodeUrlPath(served.label) + "/";
    return prefix + EncodeUrlPath(name.substr(name.empty() || name[0] != '/' ? 0 : 1));
}

std::string InfoJson(ServerState& state)
{
    std::lock_guard<std::mutex> guard(state.filesLock);
    std::string json = "{\"files\":[";
    for (size_t f = 0; f < state.files.size(); ++f) {
        const ServedFile& served = *state.files[f];
        if (f)
            json += ',';
        json += "{\"label\":" + JsonString(ToUtf8(served.label)) +
            ",\"title\":" + JsonString(served.title.empty() ? ToUtf8(served.label) : served.title) +
            ",\"prefix\":" + JsonString(FilePrefix + EncodeUrlPath(served.label) + "/") +
            ",\"home\":" + JsonString(served.home.empty() ? "" : PageUrl(f, served, served.home)) +
            "}";
    }
    json += "],\"start\":" + JsonString(ToUtf8(state.startPage)) + "}";
    return json;
}

std::string PagesJson(ServedFile& served, size_t fileNumber)
{
    if (!served.indexed)
        return "{\"ready\":false,\"pages\":[]}";
    std::string json = "{\"ready\":true,\"pages\":[";
    for (size_t i = 0; i < served.index.pages.size(); ++i) {
        const SearchPage& page = served.index.pages[i];
        if (i)
            json += ',';
        json += "[" + JsonString(page.title) + "," +
            JsonString(PageUrl(fileNumber, served, page.name)) + "]";
    }
    return json + "]}";
}

std::string SearchJson(ServedFile& served, size_t fileNumber, const std::string& query)
{
    if (!served.indexed)
        return "{\"ready\":false,\"hits\":[]}";
    std::vector<SearchHit> hits = RunSearch(served.index, query, MaxSearchResults);
    std::string json = "{\"ready\":true,\"hits\":[";
    for (size_t i = 0; i < hits.size(); ++i) {
        const SearchPage& page = served.index.pages[hits[i].page];
        if (i)
            json += ',';
        json += "[" + JsonString(page.title) + "," +
            JsonString(PageUrl(fileNumber, served, page.name)) + "]";
    }
    return json + "]}";
}

void SetError(httplib::Response& response, int status, const char* text)
{
    response.status = status;
    response.set_header("Connection", "close");
    response.set_content(std::string(text) + "\n", "text/plain; charset=utf-8");
}

size_t FileNumber(ServerState& state, const ServedFile* served)
{
    std::lock_guard<std::mutex> guard(state.filesLock);
    for (size_t f = 0; f < state.files.size(); ++f)
        if (state.files[f].get() == served)
            return f;
    return 0;
}

// Answers one request; every request ends here, whatever its method or path.
void Answer(ServerState& state, const httplib::Request& request, httplib::Response& response)
{
    response.set_header("Referrer-Policy", "no-referrer");
    response.set_header("X-Content-Type-Options", "nosniff");
    response.set_header("Cache-Control", "no-store");
    size_t headerBytes = 0;
    for (const auto& [name, value] : request.headers)
        headerBytes += name.size() + value.size() + 4;
    if (request.headers.size() > MaxHeaderFields || headerBytes > MaxHeaderBytes)
        return SetError(response, 431, "Request Header Fields Too Large");
    std::string host = LowerAscii(request.get_header_value("Host"));
    if (request.get_header_value_count("Host") != 1 ||
        std::find(state.hosts.begin(), state.hosts.end(), host) == state.hosts.end())
        return SetError(response, 403, "Forbidden: wrong Host");
    if (request.method != "GET" && request.method != "HEAD")
        return SetError(response, 405, "Method Not Allowed");
    const std::string root = "/" + state.token + "/";
    if (request.path.compare(0, root.size(), root) != 0)
        return SetError(response, 404, "Not Found");
    std::string rest = request.path.substr(root.size());
    if (!SafeRelativePath(rest))
        return SetError(response, 400, "Bad Request");

    if (rest.empty() || rest.compare(0, strlen(ViewerPrefix), ViewerPrefix) == 0) {
        std::string asset = rest.empty() ? "index.html" : rest.substr(strlen(ViewerPrefix));
        response.set_header("Content-Security-Policy",
                            "default-src 'self'; img-src 'self' data:; frame-src 'self'");
        if (asset.compare(0, 4, "api/") == 0) {
            std::string api = asset.substr(4);
            if (api == "info")
                return response.set_content(InfoJson(state), "application/json");
            ServedFile* served = FileAt(state, request);
            if (!served)
                return SetError(response, 404, "Not Found");
            size_t f = FileNumber(state, served);
            if (api == "pages" || api == "search")
                IndexOnDemand(state, *served);
            if (api == "pages")
                return response.set_content(PagesJson(*served, f), "application/json");
            if (api == "search")
                return response.set_content(SearchJson(*served, f, request.get_param_value("q")),
                                            "application/json");
            if (api == "toc" || api == "index") {
                std::string prefix = f == 0 ? "" : FilePrefix + EncodeUrlPath(served->label) + "/";
                std::lock_guard<std::mutex> guard(served->lock);
                std::string& json = api == "toc" ? served->contents : served->keywords;
                if (json.empty())
                    json = api == "toc" ? ContentsJson(served->file, prefix, served->codePage)
                                        : KeywordsJson(served->path.c_str(), prefix);
                return response.set_content(json, "application/json");
            }
            return SetError(response, 404, "Not Found");
        }
        for (size_t i = 0; i < ViewerAssetCount; ++i)
            if (asset == ViewerAssets[i].name)
                return response.set_content(ViewerAssets[i].data, ViewerAssets[i].size,
                                            ViewerAssets[i].type);
        return SetError(response, 404, "Not Found");
    }

    ServedFile* served = nullptr;
    std::string name;
    if (rest.compare(0, strlen(FilePrefix), FilePrefix) == 0) {
        std::string tail = rest.substr(strlen(FilePrefix));
        size_t slash = tail.find('/');
        if (slash == std::string::npos || slash == 0)
            return SetError(response, 404, "Not Found");
        served = FindByLabel(state, tail.substr(0, slash));
        name = tail.substr(slash);
    } else {
        std::lock_guard<std::mutex> guard(state.filesLock);
        served = state.files[0].get();
        name = "/" + rest;
    }
    std::string body;
    if (!served || !ReadStored(*served, name, body))
        return SetError(response, 404, "Not Found");
    response.set_header("Cache-Control", "private, max-age=600");
    std::string type = MediaType(state, name);
    if (type == "text/html")
        body = RewriteHelpFileLinks(std::move(body), root, name.substr(0, name.rfind('/') + 1));
    response.set_content(std::move(body), type.c_str());
}

}  // namespace

int RunServer(const std::vector<std::string>& paths, const ServeOptions& options)
{
    ServerState state;
    state.startPage = options.startPage;
    for (const std::string& path : paths) {
        std::string error;
        auto served = OpenServedFile(path, error);
        if (!served) {
            Complain(error);
            return 1;
        }
        std::string label = BaseName(path);
        auto taken = [&](const std::string& candidate) {
            for (auto& other : state.files)
                if (LowerAscii(other->label) == LowerAscii(candidate))
                    return true;
            return false;
        };
        for (int n = 2; taken(label); ++n)
            label = BaseName(path) + "~" + std::to_string(n);
        served->label = label;
        served->background = true;
        state.files.push_back(std::move(served));
        state.folders.push_back(FolderOf(path));
    }
    state.token = RandomToken();
    if (state.token.empty()) {
        Complain("cannot make a random token: " + std::string(strerror(errno)));
        return 1;
    }
    state.mimeTypes = ReadMimeTypes();

    // SIGINT and SIGTERM end the run; one thread waits for them, so every
    // other thread (the server's included) blocks them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    httplib::Server v4, v6;
    for (httplib::Server* server : {&v4, &v6}) {
        server->new_task_queue = [] { return new httplib::ThreadPool(32); };
        server->set_payload_max_length(MaxPayload);
        server->set_read_timeout(5, 0);
        server->set_write_timeout(10, 0);
        server->set_keep_alive_max_count(100);
        server->set_pre_routing_handler(
            [&state](const httplib::Request& request, httplib::Response& response) {
                Answer(state, request, response);
                return httplib::Server::HandlerResponse::Handled;
            });
    }
    if (options.port == 0) {
        state.port = v4.bind_to_any_port("127.0.0.1");
        if (state.port <= 0) {
            Complain("cannot listen on 127.0.0.1: no free port");
            return 1;
        }
    } else if (v4.bind_to_port("127.0.0.1", options.port)) {
        state.port = options.port;
    } else {
        Complain("cannot listen on 127.0.0.1:" + std::to_string(options.port) +
                 ": the port is in use or not allowed");
        return 1;
    }
    // ::1 as well, on the same port, where the machine has it.
    bool haveV6 = v6.bind_to_port("::1", state.port);
    std::string port = std::to_string(state.port);
    state.hosts = {"127.0.0.1:" + port, "localhost:" + port};
    if (haveV6)
        state.hosts.push_back("[::1]:" + port);

    // The base URL first; browse adds the chosen page's URL on a line of its own.
    std::string base = "http://127.0.0.1:" + port + "/" + state.token + "/";
    std::string url = base;
    if (!options.startPage.empty()) {
        size_t mark = options.startPage.find('#');
        url += "#" + EncodeUrlPath(options.startPage.substr(0, mark));
        if (mark != std::string::npos)
            url += "#" + EncodeUrlPath(options.startPage.substr(mark + 1));
    }
    printf("%s\n", base.c_str());
    if (url != base)
        printf("%s\n", url.c_str());
    fflush(stdout);

    // A stop that comes before a server listens would be lost: each is
    // stopped again until its listening has ended.
    std::atomic<bool> v4Done {false}, v6Done {!haveV6};
    std::thread signals([&]() {
        int received = 0;
        sigwait(&stopSignals, &received);
        state.stopping = true;
        while (!v4Done || !v6Done) {
            if (!v4Done && v4.is_running())
                v4.stop();
            if (!v6Done && v6.is_running())
                v6.stop();
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    });
    std::thread indexer(IndexFiles, std::ref(state), state.files.size());
    std::thread v6Thread;
    if (haveV6)
        v6Thread = std::thread([&]() {
            v6.listen_after_bind();
            v6Done = true;
        });

    if (options.open)
        OpenInBrowser(url);
    bool served = v4.listen_after_bind();
    v4Done = true;
    bool stopped = state.stopping;
    if (!stopped)
        pthread_kill(signals.native_handle(), SIGUSR1);
    signals.join();
    indexer.join();
    if (v6Thread.joinable())
        v6Thread.join();
    if (!served && !stopped) {
        Complain("the server stopped: cannot accept connections on " + base);
        return 1;
    }
    return 0;
}
