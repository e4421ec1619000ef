// The language server's loop: the reading thread takes each message, answers
// what it can at once (initialize, shutdown, errors) and keeps the open
// documents; the lookups (hover, definition, workspace symbols) go to a
// worker thread in the order they came, so that the editor is never kept
// waiting on a help file. A request cancelled before its answer is sent is
// answered as cancelled.
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "host/lsp/lsp.h"
#include "platform/text.h"

using nlohmann::json;

namespace {

// The protocol's error codes.
enum : int {
    ParseError = -32700,
    InvalidRequest = -32600,
    MethodNotFound = -32601,
    InvalidParams = -32602,
    ServerNotInitialized = -32002,
    InternalError = -32603,
    RequestCancelled = -32800,
};

// The most symbols one workspace/symbol answer lists.
constexpr uint32_t SymbolLimit = 100;

struct Job {
    json id;
    std::string method;
    std::string word;  // hover, definition: the word under the cursor; symbol: the query
};

class Server {
public:
    Server(FILE* out, const LspOptions& options)
        : out_(out)
        , options_(options)
    {
    }
    int Run(FILE* in);

private:
    void Send(const json& message);
    void Reply(const json& id, json result);
    void Fail(const json& id, int code, const std::string& message);
    void Handle(const json& message);
    void Request(const json& id, const std::string& method, const json& params);
    void Notification(const std::string& method, const json& params);
    void Initialize(const json& id, const json& params);
    bool WordAt(const json& params, std::string& word);
    void Work();
    json Answer(const Job& job);

    FILE* out_;
    const LspOptions& options_;
    std::mutex sending_;

    bool initialized_ = false;
    bool shuttingDown_ = false;
    std::vector<std::string> shelf_;
    std::map<std::string, std::string> documents_;  // uri: text

    std::mutex jobsLock_;
    std::condition_variable jobsReady_;
    std::deque<Job> jobs_;
    std::set<std::string> pending_, cancelled_;  // request ids, as JSON text
    bool stopping_ = false;
    PageStore pages_;  // the worker's alone
};

void Server::Send(const json& message)
{
    std::string frame = FrameMessage(message.dump(-1, ' ', false, json::error_handler_t::replace));
    std::lock_guard<std::mutex> lock(sending_);
    fwrite(frame.data(), 1, frame.size(), out_);
    fflush(out_);
}

void Server::Reply(const json& id, json result)
{
    Send({{"jsonrpc", "2.0"}, {"id", id}, {"result", std::move(result)}});
}

void Server::Fail(const json& id, int code, const std::string& message)
{
    Send({{"jsonrpc", "2.0"}, {"id", id}, {"error", {{"code", code}, {"message", message}}}});
}

// The shelf the client names: an array of paths, or one colon-separated
// string; empty when it names none.
std::vector<std::string> ShelfOf(const json& options)
{
    std::vector<std::string> places;
    if (!options.is_object() || !options.contains("shelf"))
        return places;
    const json& shelf = options["shelf"];
    if (shelf.is_array()) {
        for (const json& place : shelf)
            if (place.is_string() && !place.get<std::string>().empty())
                places.push_back(place.get<std::string>());
    } else if (shelf.is_string()) {
        std::string list = shelf.get<std::string>();
        for (size_t start = 0; start <= list.size();) {
            size_t end = std::min(list.find(':', start), list.size());
            if (end > start)
                places.push_back(list.substr(start, end - start));
            start = end + 1;
        }
    }
    return places;
}

void Server::Initialize(const json& id, const json& params)
{
    std::vector<std::string> places =
        ShelfOf(params.is_object() ? params.value("initializationOptions", json()) : json());
    shelf_ = places.empty() ? options_.shelf
                            : (options_.expandShelf ? options_.expandShelf(places) : places);
    initialized_ = true;
    Reply(id,
          {{"capabilities",
            {{"textDocumentSync", 1},  // the whole text at every change
             {"hoverProvider", true},
             {"definitionProvider", true},
             {"workspaceSymbolProvider", true}}},
           {"serverInfo", {{"name", "velkory"}}}});
}

// The byte in line at UTF-16 position character (the protocol's default
// position encoding).
size_t ByteAt(const std::string& line, size_t character)
{
    size_t i = 0;
    for (size_t units = 0; i < line.size() && units < character;) {
        size_t length = Utf8CharacterLength(line.c_str(), line.size(), i);
        unsigned char lead = (unsigned char)line[i];
        units += lead >= 0xF0 && length == 4 ? 2 : 1;
        i += length;
    }
    return i;
}

// Whether byte b may be part of a word: ASCII letters, digits and '_', and
// every byte of a character beyond ASCII.
bool WordByte(char b)
{
    return IsAsciiAlnum(b) || b == '_' || (unsigned char)b >= 0x80;
}

bool Server::WordAt(const json& params, std::string& word)
{
    if (!params.is_object() || !params.contains("textDocument") || !params.contains("position"))
        return false;
    const json& document = params["textDocument"];
    const json& position = params["position"];
    if (!document.is_object() || !document.contains("uri") || !document["uri"].is_string() ||
        !position.is_object() || !position.contains("line") ||
        !position["line"].is_number_unsigned() || !position.contains("character") ||
        !position["character"].is_number_unsigned())
        return false;
    word.clear();
    auto found = documents_.find(document["uri"].get<std::string>());
    if (found == documents_.end())
        return true;
    const std::string& text = found->second;
    size_t start = 0;
    for (uint64_t line = position["line"].get<uint64_t>(); line > 0; --line) {
        start = text.find('\n', start);
        if (start == std::string::npos)
            return true;
        ++start;
    }
    std::string line = text.substr(start, text.find('\n', start) - start);
    size_t at = ByteAt(line, position["character"].get<uint64_t>());
    size_t begin = at, end = at;
    while (begin > 0 && WordByte(line[begin - 1]))
        --begin;
    while (end < line.size() && WordByte(line[end]))
        ++end;
    word = line.substr(begin, end - begin);
    return true;
}

void Server::Request(const json& id, const std::string& method, const json& params)
{
    if (method == "initialize") {
        if (initialized_)
            Fail(id, InvalidRequest, "initialize was asked already");
        else
            Initialize(id, params);
        return;
    }
    if (!initialized_) {
        Fail(id, ServerNotInitialized, "initialize comes first");
        return;
    }
    if (shuttingDown_) {
        Fail(id, InvalidRequest, "the server is shutting down");
        return;
    }
    if (method == "shutdown") {
        shuttingDown_ = true;
        Reply(id, nullptr);
        return;
    }
    Job job {id, method, ""};
    if (method == "textDocument/hover" || method == "textDocument/definition") {
        if (!WordAt(params, job.word)) {
            Fail(id, InvalidParams, method + " needs a textDocument and a position");
            return;
        }
    } else if (method == "workspace/symbol") {
        if (!params.is_object() || !params.contains("query") || !params["query"].is_string()) {
            Fail(id, InvalidParams, "workspace/symbol needs a query");
            return;
        }
        job.word = params["query"].get<std::string>();
    } else {
        Fail(id, MethodNotFound, "no method " + method);
        return;
    }
    std::lock_guard<std::mutex> lock(jobsLock_);
    pending_.insert(id.dump());
    jobs_.push_back(std::move(job));
    jobsReady_.notify_one();
}

void Server::Notification(const std::string& method, const json& params)
{
    if (method == "$/cancelRequest") {
        if (params.is_object() && params.contains("id")) {
            std::lock_guard<std::mutex> lock(jobsLock_);
            std::string id = params["id"].dump();
            if (pending_.count(id))
                cancelled_.insert(id);
        }
        return;
    }
    if (!params.is_object() || !params.contains("textDocument") ||
        !params["textDocument"].is_object())
        return;
    const json& document = params["textDocument"];
    if (!document.contains("uri") || !document["uri"].is_string())
        return;
    std::string uri = document["uri"].get<std::string>();
    if (method == "textDocument/didOpen" && document.contains("text") &&
        document["text"].is_string()) {
        documents_[uri] = document["text"].get<std::string>();
    } else if (method == "textDocument/didChange" && params.contains("contentChanges") &&
               params["contentChanges"].is_array()) {
        // Whole texts only, as initialize asked; the last one holds.
        for (const json& change : params["contentChanges"])
            if (change.is_object() && change.contains("text") && change["text"].is_string() &&
                !change.contains("range"))
                documents_[uri] = change["text"].get<std::string>();
    } else if (method == "textDocument/didClose") {
        documents_.erase(uri);
    }
    // Other notifications (initialized, $/ ones, settings) need nothing.
}

void Server::Handle(const json& message)
{
    if (!message.is_object() || message.value("jsonrpc", json()) != "2.0" ||
        !message.contains("method") || !message["method"].is_string()) {
        json id = message.is_object() && message.contains("id") &&
                (message["id"].is_string() || message["id"].is_number_integer())
            ? message["id"]
            : json();
        // An answer to a request of ours would come here too: none is sent.
        if (message.is_object() && message.contains("id") &&
            (message.contains("result") || message.contains("error")))
            return;
        Fail(id, InvalidRequest, "not a JSON-RPC 2.0 request or notification");
        return;
    }
    std::string method = message["method"].get<std::string>();
    json params = message.value("params", json());
    if (!message.contains("id")) {
        Notification(method, params);
        return;
    }
    const json& id = message["id"];
    if (!id.is_string() && !id.is_number_integer()) {
        Fail(json(), InvalidRequest, "a request's id is a number or a string");
        return;
    }
    Request(id, method, params);
}

json Server::Answer(const Job& job)
{
    if (job.method == "workspace/symbol") {
        json symbols = json::array();
        if (job.word.empty())
            return symbols;
        for (const LspEntry& entry : IndexEntries(shelf_, job.word, SymbolLimit)) {
            std::string path;
            if (!pages_.Extract(entry.file, entry.page, path))
                continue;
            symbols.push_back({{"name", entry.name},
                               {"kind", 20},  // Key
                               {"containerName", entry.file},
                               {"location",
                                {{"uri", FileUri(path)},
                                 {"range",
                                  {{"start", {{"line", 0}, {"character", 0}}},
                                   {"end", {{"line", 0}, {"character", 0}}}}}}}});
        }
        return symbols;
    }
    LspTopic topic = job.word.empty() ? LspTopic() : BestTopic(shelf_, job.word);
    if (!topic.found)
        return nullptr;
    if (job.method == "textDocument/hover") {
        std::string markdown = TopicMarkdown(topic);
        if (markdown.empty())
            return nullptr;
        std::string url = ServedPageUrl(topic);
        if (!url.empty())
            markdown += "\n\n[Open in the browser view](<" + url + ">)";
        return {{"contents", {{"kind", "markdown"}, {"value", markdown}}}};
    }
    std::string path;
    if (!pages_.Extract(topic.file, topic.page, path))
        return nullptr;
    size_t line = AnchorLine(path, topic.anchor);
    return {{"uri", FileUri(path)},
            {"range",
             {{"start", {{"line", line}, {"character", 0}}},
              {"end", {{"line", line}, {"character", 0}}}}}};
}

void Server::Work()
{
    for (;;) {
        Job job;
        {
            std::unique_lock<std::mutex> lock(jobsLock_);
            jobsReady_.wait(lock, [&] { return stopping_ || !jobs_.empty(); });
            if (stopping_)
                return;
            job = std::move(jobs_.front());
            jobs_.pop_front();
        }
        std::string key = job.id.dump();
        auto cancelled = [&] {
            std::lock_guard<std::mutex> lock(jobsLock_);
            return cancelled_.count(key) > 0;
        };
        json result;
        bool wasCancelled = cancelled();
        if (!wasCancelled) {
            result = Answer(job);
            wasCancelled = cancelled();
        }
        if (wasCancelled)
            Fail(job.id, RequestCancelled, "cancelled");
        else
            Reply(job.id, std::move(result));
        std::lock_guard<std::mutex> lock(jobsLock_);
        pending_.erase(key);
        cancelled_.erase(key);
    }
}

int Server::Run(FILE* in)
{
    std::thread worker(&Server::Work, this);
    FrameReader reader(in);
    bool shutdownAsked = false;
    for (;;) {
        Frame frame = reader.Next();
        if (frame.kind == FrameKind::End)
            break;
        if (frame.kind == FrameKind::TooLarge) {
            Fail(json(), InvalidRequest, frame.error);
            continue;
        }
        if (frame.kind == FrameKind::BadFrame) {
            Fail(json(), ParseError, frame.error);
            continue;
        }
        json message = json::parse(frame.content, nullptr, false);
        if (message.is_discarded()) {
            Fail(json(), ParseError, "the message is not JSON");
            continue;
        }
        if (message.is_object() && message.value("method", json()) == "exit" &&
            !message.contains("id")) {
            shutdownAsked = shuttingDown_;
            break;
        }
        try {
            Handle(message);
        } catch (const json::exception& e) {
            // A value of a kind no check above foresaw: the message fails alone.
            Fail(message.is_object() && message.contains("id") ? message["id"] : json(),
                 InternalError, e.what());
        }
    }
    {
        std::lock_guard<std::mutex> lock(jobsLock_);
        stopping_ = true;
        jobsReady_.notify_all();
    }
    worker.join();
    return shutdownAsked ? 0 : 1;
}

}  // namespace

int RunLanguageServer(FILE* in, FILE* out, const LspOptions& options)
{
    Server server(out, options);
    return server.Run(in);
}
