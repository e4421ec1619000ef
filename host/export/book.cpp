// The help file as a book: its pages in reading order, its contents tree,
// its keyword index and the resources its pages use, read through the
// module's readers (container/ for stored files, lookup/ for #SYSTEM, the
// sitemap of the contents and the keyword index).
#include <cstdlib>
#include <cstring>
#include <string>
#include <unordered_set>
#include <vector>

#include "container/container.h"
#include "host/export/export.h"
#include "host/host.h"
#include "lookup/encoding.h"
#include "lookup/lookup.h"
#include "platform/text.h"

namespace {

std::string Lower(std::string text)
{
    for (char& c : text)
        c = FoldAscii(c);
    return text;
}

bool EndsWith(const std::string& text, const char* suffix)
{
    size_t length = strlen(suffix);
    return text.size() >= length && Lower(text.substr(text.size() - length)) == suffix;
}

// A web address as a valid URL: what a URL cannot hold as written (a space,
// "<", a second "#", a "%" without two hex digits, bytes beyond ASCII) is
// percent-encoded.
std::string ValidUrl(const std::string& url)
{
    static const char hex[] = "0123456789ABCDEF";
    auto isHex = [](char c) { return IsAsciiAlnum(c) && (c <= '9' || FoldAscii(c) <= 'f'); };
    std::string out;
    bool fragment = false;
    for (size_t i = 0; i < url.size(); ++i) {
        unsigned char c = (unsigned char)url[i];
        bool keep = IsAsciiAlnum((char)c) || (c < 0x80 && strchr("-._~:/?@!$&'()*+,;=", c));
        if (c == '#' && !fragment) {
            fragment = keep = true;
        } else if (c == '%') {
            keep = i + 2 < url.size() && isHex(url[i + 1]) && isHex(url[i + 2]);
        }
        if (keep) {
            out += (char)c;
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

bool IsPageName(const std::string& name)
{
    return EndsWith(name, ".htm") || EndsWith(name, ".html") || EndsWith(name, ".xhtml") ||
        EndsWith(name, ".xhtm");
}

// The media type of a resource the book may carry; null for none.
const char* ResourceType(const std::string& name)
{
    static const struct {
        const char* extension;
        const char* type;
    } types[] = {
        {".gif", "image/gif"},    {".png", "image/png"},     {".jpg", "image/jpeg"},
        {".jpeg", "image/jpeg"},  {".svg", "image/svg+xml"}, {".css", "text/css"},
        {".ttf", "font/ttf"},     {".otf", "font/otf"},      {".woff", "font/woff"},
        {".woff2", "font/woff2"},
    };
    for (const auto& entry : types)
        if (EndsWith(name, entry.extension))
            return entry.type;
    return nullptr;
}

bool IsImage(const BookResource& resource)
{
    return resource.mediaType.compare(0, 6, "image/") == 0;
}

void ReadContents(Book& book)
{
    std::string name = ContentsName(book.file);
    std::string bytes, error;
    if (name.empty() || !ReadStored(book, name, bytes, error))
        return;
    Sitemap map;
    if (!ParseSitemap((const uint8_t*)bytes.data(), (uint32_t)bytes.size(), &map))
        return;
    std::string folder = StoredFolder(name);
    for (uint32_t e = 0; e < map.entryCount; ++e) {
        const SitemapEntry& entry = map.entries[e];
        ContentsItem item;
        item.title = HelpTextUtf8(SitemapText(&map, entry.name), book.codePage);
        if (entry.parent < e) {
            item.parent = (int)entry.parent;
            item.depth = book.contents[entry.parent].depth + 1;
        }
        if (entry.targetCount > 0) {
            BookLink link =
                ResolveLink(book, folder, SitemapText(&map, map.targets[entry.firstTarget].local));
            if (link.kind == BookLink::Page) {
                item.page = link.index;
                item.anchor = link.anchor;
            }
        }
        if (item.title.empty() && item.page >= 0)
            item.title = book.pages[item.page].stored.substr(1);
        book.contents.push_back(item);
    }
    ReleaseSitemap(&map);
}

void ReadKeywords(Book& book)
{
    TopicIndex topics;
    bool haveTopics = ReadTopicIndex(book.path.c_str(), &topics) != 0;
    if (!haveTopics)
        memset(&topics, 0, sizeof topics);
    KeywordIndex index;
    int read = ReadKeywordIndex(book.path.c_str(), &topics, &index);
    if (haveTopics)
        ReleaseTopicIndex(&topics);
    if (!read)
        return;
    for (uint32_t i = 0; i < index.count;) {
        uint32_t keyword = index.targets[i].keyword;
        BookKeyword entry;
        entry.text = KeywordUtf8(KeywordText(&index, keyword));
        for (; i < index.count && index.targets[i].keyword == keyword; ++i) {
            const KeywordTarget& target = index.targets[i];
            BookLink link = ResolveLink(book, "", KeywordText(&index, target.page));
            if (link.kind != BookLink::Page)
                continue;
            KeywordLink to {link.index, "", ""};
            if (target.anchor != NoText)
                to.anchor = KeywordText(&index, target.anchor);
            if (target.title != NoText)
                to.title = KeywordUtf8(KeywordText(&index, target.title));
            entry.links.push_back(to);
        }
        if (entry.links.empty() || entry.text.empty())
            continue;
        int number = (int)book.keywords.size();
        for (const KeywordLink& link : entry.links) {
            std::vector<int>& keywords = book.pages[link.page].keywords;
            if (keywords.empty() || keywords.back() != number)
                keywords.push_back(number);
        }
        book.keywords.push_back(std::move(entry));
    }
    ReleaseKeywordIndex(&index);
}

// Marks a resource a page or a style sheet refers to as used when it is of
// the kind wanted; a style sheet newly used is queued for its own references.
void Use(Book& book, const BookLink& link, bool (*wanted)(const BookResource&),
         std::vector<int>& sheets)
{
    if (link.kind != BookLink::Resource)
        return;
    BookResource& resource = book.resources[link.index];
    if (!wanted(resource) || resource.used)
        return;
    resource.used = true;
    if (resource.mediaType == "text/css")
        sheets.push_back(link.index);
}

bool IsSheet(const BookResource& resource)
{
    return resource.mediaType == "text/css";
}

bool IsCssTarget(const BookResource& resource)
{
    return IsImage(resource) || resource.mediaType.compare(0, 5, "font/") == 0 || IsSheet(resource);
}

}  // namespace

Book::~Book()
{
    if (file)
        CloseHelpFile(file);
}

std::string StoredFolder(const std::string& stored)
{
    size_t slash = stored.rfind('/');
    if (slash == std::string::npos)
        return "";
    std::string folder = stored.substr(0, slash + 1);
    return folder[0] == '/' ? folder.substr(1) : folder;
}

bool OpenBook(const std::string& path, Book& book, std::string& error)
{
    book.path = path;
    size_t slash = path.find_last_of('/');
    book.fileName = slash == std::string::npos ? path : path.substr(slash + 1);
    book.file = OpenHelpFile(path.c_str());
    if (!book.file) {
        error = "cannot open " + path + ": " + strerror(errno);
        return false;
    }
    SystemInfo info;
    if (!ReadSystemInfo(book.file, &info))
        memset(&info, 0, sizeof info);
    book.codePage = LocaleAnsiCodePage(info.lcid);
    book.title = HelpTextUtf8(info.title, book.codePage);
    book.language = LanguageTag(info.lcid);
    if (book.language.empty())
        book.language = "en";
    if (book.title.empty()) {
        book.title = book.fileName;
        size_t dot = book.title.rfind('.');
        if (dot != std::string::npos && dot > 0)
            book.title.erase(dot);
    }

    // Every page and resource, in directory order.
    std::vector<int> directoryPages;
    for (int32_t i = 0; i < DirectoryCount(book.file); ++i) {
        const DirectoryEntry* entry = DirectoryAt(book.file, i);
        if (!entry || entry->Name[0] != '/' || entry->Name[1] == '#' || entry->Name[1] == '$')
            continue;
        std::string name = entry->Name;
        std::string key = Lower(name);
        if (IsPageName(name) && !book.pageByName.count(key)) {
            BookPage page;
            page.stored = name;
            book.pageByName[key] = (int)book.pages.size();
            book.pages.push_back(page);
        } else if (const char* type = ResourceType(name); type && !book.resourceByName.count(key)) {
            BookResource resource;
            resource.stored = name;
            resource.mediaType = type;
            size_t dot = name.rfind('.');
            resource.name =
                "res/r" + std::to_string(book.resources.size()) + Lower(name.substr(dot));
            book.resourceByName[key] = (int)book.resources.size();
            book.resources.push_back(resource);
        }
    }

    ReadContents(book);

    // Reading order: the contents' pages, then the others as stored.
    std::vector<int> order;
    std::vector<bool> placed(book.pages.size(), false);
    for (const ContentsItem& item : book.contents)
        if (item.page >= 0 && !placed[item.page]) {
            placed[item.page] = true;
            order.push_back(item.page);
        }
    for (size_t p = 0; p < book.pages.size(); ++p)
        if (!placed[p])
            order.push_back((int)p);
    std::vector<int> newIndex(book.pages.size());
    std::vector<BookPage> pages;
    for (size_t k = 0; k < order.size(); ++k) {
        newIndex[order[k]] = (int)k;
        pages.push_back(std::move(book.pages[order[k]]));
    }
    book.pages = std::move(pages);
    for (auto& [key, index] : book.pageByName)
        index = newIndex[index];
    for (size_t c = 0; c < book.contents.size(); ++c) {
        ContentsItem& item = book.contents[c];
        if (item.page < 0)
            continue;
        item.page = newIndex[item.page];
        BookPage& page = book.pages[item.page];
        if (page.contents < 0) {
            page.contents = (int)c;
            page.title = item.title;
        }
    }

    ReadKeywords(book);
    return true;
}

bool ReadStored(Book& book, const std::string& stored, std::string& bytes, std::string& error)
{
    const DirectoryEntry* entry = FindDirectoryEntry(stored.c_str(), book.file->Entries);
    if (!entry) {
        error = stored + ": not stored in the help file";
        return false;
    }
    uint32_t length = 0;
    uint8_t* data = nullptr;
    if (ExtractEntry(book.file, entry, &length, &data) != 0) {
        error = stored + ": " + ContainerErrorText(book.file->LastError);
        return false;
    }
    bytes.assign((const char*)data, length);
    free(data);
    return true;
}

BookLink ResolveLink(const Book& book, const std::string& folder, const std::string& written,
                     int fromPage)
{
    BookLink link;
    std::string href = written;
    while (!href.empty() && (unsigned char)href.back() <= ' ')
        href.pop_back();
    size_t lead = 0;
    while (lead < href.size() && (unsigned char)href[lead] <= ' ')
        ++lead;
    href.erase(0, lead);
    if (href.empty())
        return link;
    std::string scheme = Lower(href.substr(0, href.find(':') + 1));
    if (scheme == "http:" || scheme == "https:" || scheme == "mailto:" || scheme == "ftp:" ||
        scheme == "news:" || scheme == "data:") {
        link.kind = BookLink::External;
        link.url = ValidUrl(href);
        return link;
    }
    // A query means nothing to a stored page.
    size_t mark = href.find('#'), query = href.find('?');
    if (query < mark)
        href.erase(query, mark == std::string::npos ? std::string::npos : mark - query);
    std::string anchor;
    if (href[0] == '#') {
        if (fromPage < 0)
            return link;
        link.kind = BookLink::Page;
        link.index = fromPage;
        anchor = PercentDecode(href.substr(1));
    } else {
        ResolvedLink resolved;
        if (!::ResolveLink(href, folder, resolved) ||
            (!resolved.file.empty() && Lower(resolved.file) != Lower(book.fileName)))
            return link;  // out of the help file, or another help file: plain text
        std::string key = Lower("/" + resolved.path);
        if (auto page = book.pageByName.find(key); page != book.pageByName.end()) {
            link.kind = BookLink::Page;
            link.index = page->second;
        } else if (auto resource = book.resourceByName.find(key);
                   resource != book.resourceByName.end()) {
            link.kind = BookLink::Resource;
            link.index = resource->second;
            return link;
        } else {
            return link;
        }
        anchor = resolved.anchor;
    }
    link.anchor = anchor;
    if (!anchor.empty()) {
        const auto& ids = book.pages[link.index].ids;
        if (auto id = ids.find(anchor); id != ids.end())
            link.fragment = id->second;
    }
    return link;
}

bool ScanBook(Book& book, std::string& error, const std::function<void(size_t)>& progress)
{
    std::vector<int> sheets;
    for (size_t p = 0; p < book.pages.size(); ++p) {
        BookPage& page = book.pages[p];
        std::string bytes;
        if (!ReadStored(book, page.stored, bytes, error))
            return false;
        HtmlDocument document(PageUtf8(bytes, book.codePage));
        PageReferences references = ScanPage(document);
        page.ids = std::move(references.ids);
        for (const std::string& anchor : references.anchors)
            page.idOrder.emplace(page.ids[anchor], (int)page.idOrder.size() + 1);
        if (page.title.empty())
            page.title = references.title.empty() ? page.stored.substr(1) : references.title;
        std::string folder = StoredFolder(page.stored);
        for (const std::string& src : references.images)
            Use(book, ResolveLink(book, folder, src), IsImage, sheets);
        for (const std::string& href : references.stylesheets)
            Use(book, ResolveLink(book, folder, href), IsSheet, sheets);
        for (const std::string& css : references.styles)
            for (const std::string& url : CssReferences(css))
                Use(book, ResolveLink(book, folder, url), IsCssTarget, sheets);
        if (progress)
            progress(p + 1);
    }
    while (!sheets.empty()) {
        int sheet = sheets.back();
        sheets.pop_back();
        std::string css;
        if (!ReadStored(book, book.resources[sheet].stored, css, error))
            return false;
        std::string folder = StoredFolder(book.resources[sheet].stored);
        for (const std::string& url : CssReferences(css))
            Use(book, ResolveLink(book, folder, url), IsCssTarget, sheets);
    }
    return true;
}

std::vector<BookTopic> BookTopics(const Book& book)
{
    std::vector<BookTopic> topics;
    std::vector<bool> placed(book.pages.size(), false);
    for (size_t c = 0; c < book.contents.size(); ++c) {
        const ContentsItem& item = book.contents[c];
        if (item.page >= 0 && placed[item.page])
            continue;
        if (item.page >= 0)
            placed[item.page] = true;
        topics.push_back({(int)c, item.page, item.depth, item.title});
    }
    for (size_t p = 0; p < book.pages.size(); ++p)
        if (!placed[p])
            topics.push_back({-1, (int)p, 0, book.pages[p].title});
    return topics;
}
