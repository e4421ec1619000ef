// The language server, `velkory lsp`: help from a shelf of help files for an
// editor, spoken as the Language Server Protocol over standard input and
// output (JSON-RPC 2.0 messages, each framed by a Content-Length header).
// Hover gives the best topic's text for the word under the cursor,
// definition the topic's page extracted into a directory of the session's
// own, workspace symbols the keyword index's entries that begin with a query.
//
// Room lsp/: may call module/, page/, terminal/, os/ and the module's
// container/, lookup/ and platform/.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

// framing.cpp: one message's frame.
//
// The most bytes of content a message may have; a longer one is skipped
// unread, a bounded piece at a time, and answered as an invalid request.
constexpr size_t LspMaxContent = 16u << 20;
// The most bytes of one header line, and of one message's headers.
constexpr size_t LspMaxHeaders = 8192;

enum class FrameKind {
    Message,   // content holds the message's bytes
    TooLarge,  // Content-Length was over the limit: the content was skipped
    BadFrame,  // no usable Content-Length; the headers were skipped (error says why)
    End,       // the input ended (a frame cut short included)
};

struct Frame {
    FrameKind kind = FrameKind::End;
    std::string content;
    std::string error;
};

// Reads frames from a stream, with its own buffer.
class FrameReader {
public:
    explicit FrameReader(FILE* in)
        : in_(in)
    {
    }
    Frame Next();

private:
    bool Fill();  // more bytes into the buffer; false at the end
    FILE* in_;
    std::string buffer_;
    size_t at_ = 0;
};

// The message as a frame: the Content-Length header and the content.
std::string FrameMessage(const std::string& content);

// server.cpp: what the server is given, and the server.
struct LspOptions {
    // The shelf when the client's initializationOptions name none ("shelf":
    // an array of paths, or one colon-separated string).
    std::vector<std::string> shelf;
    // The help files of a list of places: a directory stands for every help
    // file below it.
    std::function<std::vector<std::string>(const std::vector<std::string>&)> expandShelf;
};

// Serves messages from in to out until the exit notification or the end of
// in. Returns the exit status: 0 when a shutdown request came before the
// exit, 1 otherwise.
int RunLanguageServer(FILE* in, FILE* out, const LspOptions& options);

// answers.cpp: the answers, made off the reading thread.
//
// The best topic of the shelf for a word (UTF-8): the first help file's
// first match (as help offers them) whose entry is the word itself, else its
// first match at all.
struct LspTopic {
    bool found = false;
    std::string file;    // the help file
    std::string title;   // UTF-8
    std::string page;    // stored name, as the module opens it
    std::string anchor;  // "" when none
};
LspTopic BestTopic(const std::vector<std::string>& shelf, const std::string& word);

// The Markdown of a hover over topic: its title, the first paragraphs of its
// page, the help file's name; "" when the page cannot be read.
std::string TopicMarkdown(const LspTopic& topic);

// serve_link.cpp: the URL of topic's page in the browser view that runs now
// (velkory serve at its kept address) when it serves topic's help file; ""
// when none runs or it serves other files.
std::string ServedPageUrl(const LspTopic& topic);

// The session's extracted pages: a directory of its own below the system's
// temporary directory, made at the first page and removed with its pages
// when the session ends.
class PageStore {
public:
    PageStore() = default;
    ~PageStore();
    PageStore(const PageStore&) = delete;
    PageStore& operator=(const PageStore&) = delete;
    // The path of the stored page of file, extracted once per help file and
    // page; false when it cannot be extracted.
    bool Extract(const std::string& file, const std::string& page, std::string& path);

private:
    std::string root_;
    std::vector<std::pair<std::string, std::string>> done_;  // (file + page, path)
};
// The line (from 0) of the element anchor names in the page at path, 0 when
// there is none.
size_t AnchorLine(const std::string& path, const std::string& anchor);

// The entries of the shelf's keyword indexes that begin with query (UTF-8),
// at most limit of them, each with its help file and page.
struct LspEntry {
    std::string name;  // UTF-8
    std::string file;
    std::string page;
};
std::vector<LspEntry> IndexEntries(const std::vector<std::string>& shelf, const std::string& query,
                                   uint32_t limit);

// A file: URI for a path, and the path of a file: URI ("" when it is none).
std::string FileUri(const std::string& path);
