// The whole book out: a help file as one EPUB, one HTML file, Markdown, plain
// text or JSON lines (one object per topic).
//
// The book is read once from the help file: its pages in the contents'
// order, the contents tree, the keyword index, the resources and #SYSTEM.
// Pages are then read one at a time, cleaned by a real HTML parser with
// their links rewritten to the new names, and written out as they come, so
// memory is bounded by the largest page and the navigation. Every output is
// written under a temporary name beside it and renamed when whole.
//
//   names.cpp     the formats by name and extension (in every program)
//   relay.cpp     in velkory itself: export handed over to velkory-export
//   run.cpp       the command: the book read, then written in its format
//   book.cpp      the help file as a book: pages (in the contents' order, then
//                 the others in directory order), contents, keyword index,
//                 images, style sheets and fonts, title and language; its
//                 links resolved, its topics in order
//   page_text.cpp the one adapter to the page room's text pipeline
//   language.cpp  Windows language identifiers as language tags
//   markup.cpp    pages through gumbo and out again as valid XHTML
//   markup_rules.cpp  what each element becomes; gumbo's tree read
//                 (markup_rules.h, within this room)
//   css.cpp       style sheets' url() and @import found and rewritten
//   output.cpp    outputs written whole or not at all; the progress line
//   zip.cpp       the EPUB's zip, on libzip, its entries made as it is written
//   epub.cpp      the book as an EPUB 3
//   html.cpp      the book as one HTML file, and as Markdown through pandoc
//   text.cpp      the book as text and as JSON lines
//
// Room export/ (Linux, in velkory-export): may call module/, page/,
// terminal/, os/ and the module's container/, lookup/ and platform/. It
// lives in a program of its own because libzip loads libcrypto; velkory
// hands the command over (relay.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

struct HelpFile;

// What export was asked for (the command line, checked).
enum class ExportFormat {
    Epub,
    Html,
    Markdown,
    Text,
    Jsonl,
};
struct ExportOptions {
    ExportFormat format = ExportFormat::Epub;
    std::string output;     // a file, or "-" for standard output (not for EPUB)
    std::string split;      // markdown: one file per page in this folder
    std::string assets;     // html, markdown: images in this folder rather than data URLs
    bool progress = false;  // a progress line on standard error
    // The command line as given (argv[1..]): velkory hands it to velkory-export.
    std::vector<std::string> words;
};
// The format a name gives ("epub", "html", "md" ...) or an output's
// extension; false for none.
bool ExportFormatNamed(const std::string& name, ExportFormat& format);
const char* ExportFormatExtension(ExportFormat format);
// Runs the export of the help file at path (it passed IsHelpFile); the exit
// status, with one line on stderr when it failed. velkory's own (relay.cpp)
// hands the command line to velkory-export instead.
int RunExport(const std::string& path, const ExportOptions& options);

// ---------------------------------------------------------------------------
// page_text.cpp: the page room's text pipeline, as the exporter uses it.

// A page's bytes as UTF-8: in the charset it declares, else UTF-8 when its
// bytes are, else codePage (the help file's language; 0 for the module's
// ANSI code page).
std::string PageUtf8(std::string_view page, unsigned codePage);
// A text of the help file (a contents title, #SYSTEM's title): UTF-8 as it
// is when its bytes are UTF-8, else read in codePage.
std::string HelpTextUtf8(std::string_view text, unsigned codePage);
// A keyword of the keyword index (the module's OEM code page) as UTF-8.
std::string KeywordUtf8(const char* text);
// A page as the terminal viewer renders it, in UTF-8.
std::string RenderedPage(std::string_view page, unsigned codePage);

// language.cpp: the language tag (BCP 47) of a Windows language identifier;
// "" when it is unknown.
std::string LanguageTag(uint32_t lcid);

// ---------------------------------------------------------------------------
// markup.cpp: pages parsed by gumbo and written out again as XHTML that EPUB
// checkers accept: only the elements and attributes of today's HTML, old
// presentational ones mapped or dropped, scripts, objects and forms left
// out, every id a valid XML name and unique, links rewritten by the caller.
// Text is escaped by the page room's EscapeMarkup.

struct GumboInternalOutput;
// A parsed page, in an arena of its own that goes with it.
class HtmlDocument {
public:
    explicit HtmlDocument(std::string_view utf8);
    HtmlDocument(const HtmlDocument&) = delete;
    HtmlDocument& operator=(const HtmlDocument&) = delete;
    GumboInternalOutput* output() const
    {
        return output_;
    }
    struct Arena {
        std::vector<void*> blocks;
        char* next = nullptr;
        size_t left = 0;
        Arena() = default;
        Arena(const Arena&) = delete;
        Arena& operator=(const Arena&) = delete;
        ~Arena();
    };

private:
    Arena arena_;
    GumboInternalOutput* output_;
};

// What a page refers to, for the book's list of resources and anchors.
struct PageReferences {
    std::string title;  // its <title>, white space collapsed; "" without one
    // Each anchor a link may name (an id, or the name of an <a>) and the id
    // it has in the output, first one kept.
    std::unordered_map<std::string, std::string> ids;
    std::vector<std::string> anchors;        // those anchors as written, in document order
    std::vector<std::string> images;         // src of <img>, as written
    std::vector<std::string> stylesheets;    // href of <link rel="stylesheet">
    std::vector<std::string> styles;         // <style> and style="" texts
    std::vector<std::string> styleElements;  // the <style> texts alone
};
PageReferences ScanPage(const HtmlDocument& page);

// How a page is written out: the caller's answers for its references.
struct MarkupPolicy {
    // The new href of a link; "" makes it plain text.
    std::function<std::string(const std::string& href)> link;
    // The new src of an image; "" leaves it out (its alt text stays).
    std::function<std::string(const std::string& src)> image;
    // The new href of a style sheet; "" leaves it out.
    std::function<std::string(const std::string& href)> stylesheet;
    // The new url() of a reference in CSS; "" makes it none.
    std::function<std::string(const std::string& url)> cssUrl;
    std::string idPrefix;    // before every id (pages in one HTML file)
    int headingShift = 0;    // h1 becomes h(1 + shift), at most h6
    bool keepStyles = true;  // <style> elements and style="" attributes
};
struct CleanPage {
    std::string title;
    std::vector<std::string> stylesheets;  // as the policy gave them
    std::string styles;                    // the <style> elements' CSS, rewritten
    std::string body;                      // the body's content as XHTML
    std::vector<std::string> ids;          // every id of the body, in order
};
CleanPage CleanHtml(const HtmlDocument& page, const MarkupPolicy& policy);

// css.cpp: CSS with the target of every url() and @import given by rewrite
// ("" makes the url() none and drops the @import); comments and strings are
// skipped.
std::string RewriteCss(std::string_view css,
                       const std::function<std::string(const std::string&)>& rewrite);
// The url() and @import targets of css, in order.
std::vector<std::string> CssReferences(std::string_view css);

// ---------------------------------------------------------------------------
// book.cpp: the help file as a book.

struct ContentsItem {
    std::string title;   // UTF-8
    int parent = -1;     // index of the parent item, -1 at the root
    int depth = 0;       // 0 at the root
    int page = -1;       // the page it opens, -1 for none in the book
    std::string anchor;  // the anchor of its link as written ("" for none)
};
struct BookPage {
    std::string stored;  // stored name with its leading "/"
    std::string title;   // UTF-8: its first contents item's, else its <title>, else its name
    int contents = -1;   // its first contents item
    std::unordered_map<std::string, std::string> ids;  // ScanPage's, once scanned
    std::unordered_map<std::string, int> idOrder;      // an output id's place in the page, from 1
    std::vector<int> keywords;                         // the keywords leading to it
};
struct BookResource {
    std::string stored;
    std::string mediaType;
    std::string name;  // its new name: "res/r12.png"
    bool used = false;
};
struct KeywordLink {
    int page;            // in the book
    std::string anchor;  // as the index gives it ("" for none)
    std::string title;   // UTF-8, "" when the index gives none
};
struct BookKeyword {
    std::string text;  // UTF-8; a sub-keyword as "keyword, sub-keyword"
    std::vector<KeywordLink> links;
};

struct Book {
    std::string path;      // the help file
    std::string fileName;  // its name without folders
    HelpFile* file = nullptr;
    std::string title;      // UTF-8, the file name without one
    std::string language;   // a language tag, "en" when unknown
    unsigned codePage = 0;  // of the help file's language; 0 when unknown
    std::vector<ContentsItem> contents;
    std::vector<BookPage> pages;  // in reading order
    std::vector<BookResource> resources;
    std::vector<BookKeyword> keywords;
    std::unordered_map<std::string, int> pageByName;      // lower-case stored name
    std::unordered_map<std::string, int> resourceByName;  // lower-case stored name

    Book() = default;
    ~Book();
    Book(const Book&) = delete;
    Book& operator=(const Book&) = delete;
};
// Reads everything but the pages themselves; false with the reason in error.
bool OpenBook(const std::string& path, Book& book, std::string& error);
// One stored file's bytes; false with the reason in error.
bool ReadStored(Book& book, const std::string& stored, std::string& bytes, std::string& error);
// Reads every page once for its anchors and the resources it uses (and the
// resources those style sheets use); progress is called after each page.
bool ScanBook(Book& book, std::string& error, const std::function<void(size_t)>& progress);

// Where a link of a page (or of a sitemap) in folder ("dir/" or "") leads.
struct BookLink {
    enum Kind {
        Nowhere,   // plain text: another help file, a script, a missing file
        Page,      // a page of the book
        Resource,  // an image, a style sheet, a font
        External,  // a web address, kept as it is
    } kind = Nowhere;
    int index = -1;        // the page or resource
    std::string anchor;    // Page: the anchor as written, decoded ("" for none)
    std::string fragment;  // Page: the anchor's id in the output (pages scanned), "" for none
    std::string url;       // External: the link
};
// A link that is only "#anchor" leads into fromPage (-1: nowhere).
BookLink ResolveLink(const Book& book, const std::string& folder, const std::string& href,
                     int fromPage = -1);
// The folder of a stored name, without its leading "/": "/a/b.htm" gives "a/".
std::string StoredFolder(const std::string& stored);

// The book's topics, as the single-file formats follow them: the contents
// entries in order, each page with the first entry that names it (entries
// without a page are headings alone), then the pages the contents do not
// name; every page once.
struct BookTopic {
    int item;   // contents item, -1 for a page the contents do not name
    int page;   // -1 for an entry without a page
    int depth;  // 0 at the root
    std::string title;
};
std::vector<BookTopic> BookTopics(const Book& book);

// ---------------------------------------------------------------------------
// output.cpp: outputs written whole or not at all.

// A file written under a temporary name beside path and renamed onto it by
// Commit; removed by the destructor unless committed. "-" is standard output.
class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    bool Open(const std::string& path, std::string& error);
    bool Write(std::string_view bytes);
    // Flushes, checks and closes the temporary file; false with the reason
    // in error.
    bool Close(std::string& error);
    // Closes (unless closed) and renames it; false with the reason in error.
    bool Commit(std::string& error);
    const std::string& TemporaryPath() const
    {
        return temporary_;
    }

private:
    std::string path_, temporary_;
    FILE* file_ = nullptr;
    bool failed_ = false;
    bool closed_ = false;
    int error_ = 0;
};
// A temporary name beside path, for outputs another library writes.
std::string TemporaryNameBeside(const std::string& path);

// The progress line on a terminal: "export: 12/340 pages".
class Progress {
public:
    Progress(bool shown, size_t total, const char* what);
    ~Progress();
    void Step(size_t done);

private:
    bool shown_;
    size_t total_;
    const char* what_;
    size_t last_ = (size_t)-1;
};

// ---------------------------------------------------------------------------
// zip.cpp: the EPUB's zip, through libzip. An entry's bytes are made when
// libzip reads them, as the archive is closed, and dropped when it is done
// with them. The first reason an entry could not be made is kept in failure.
struct zip;
class ZipArchive {
public:
    ZipArchive(std::string& failure, time_t modified);
    ~ZipArchive();
    ZipArchive(const ZipArchive&) = delete;
    ZipArchive& operator=(const ZipArchive&) = delete;
    // Creates the archive at path, which must not exist; false with the
    // reason in error.
    bool Open(const std::string& path, std::string& error);
    // An entry whose bytes make gives (false with the reason, kept in
    // failure), deflated or stored.
    bool Add(const std::string& name, std::function<bool(std::string&, std::string&)> make,
             bool compress);
    bool AddText(const std::string& name, std::string text, bool compress = true);
    // Writes the archive; false with the reason in error.
    bool Close(std::string& error);
    // libzip's reason for the last failure.
    std::string Error();

private:
    zip* zip_ = nullptr;
    std::string& failure_;
    time_t modified_;
};

// ---------------------------------------------------------------------------
// epub.cpp, html.cpp, text.cpp: the writers; each returns false with the
// reason.
bool WriteEpub(Book& book, const ExportOptions& options, std::string& error);
bool WriteHtml(Book& book, const ExportOptions& options, std::string& error);
bool WriteMarkdown(Book& book, const ExportOptions& options, std::string& error);
bool WriteText(Book& book, const ExportOptions& options, std::string& error);
bool WriteJsonl(Book& book, const ExportOptions& options, std::string& error);
