// The book as an EPUB 3: a zip (through libzip) whose first entry is the
// mimetype, stored; then the container file, the package (metadata,
// manifest, spine), the navigation document made from the contents tree, a
// small style sheet, the pages as XHTML in reading order, a page for each
// contents entry that opens none, the keyword index as a back-of-book index,
// and the images, style sheets and fonts the pages use.
//
// The archive (zip.cpp) makes each page's XHTML only when libzip reads it,
// so one page at a time is in memory. libzip writes to a temporary file of
// its own and renames it; the archive itself goes to a temporary name beside
// the output, renamed when whole.
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "host/export/export.h"
#include "host/page/page.h"

namespace {

const char Namespaces[] =
    "<html xmlns=\"http://www.w3.org/1999/xhtml\" xmlns:epub=\"http://www.idpf.org/2007/ops\"";

const char BookStyle[] =
    "table.bordered { border-collapse: collapse; }\n"
    "table.bordered td, table.bordered th { border: 1px solid #888; padding: 0.2em 0.4em; }\n"
    "pre { white-space: pre-wrap; }\n"
    "ul.index { list-style: none; padding-left: 0; }\n"
    "ul.index li { margin: 0.2em 0; }\n";

// One entry of the spine: a page, a contents entry without a page, or the index.
struct SpineItem {
    enum Kind {
        Page,
        Section,
        Index
    } kind;
    int index;
};

// The spine, and where the navigation sends each contents entry. An entry
// leads to its page (and anchor) unless that stands before the previous
// entry's target in the reading order (a page the contents name twice, or
// anchors named out of order: the navigation must follow the reading
// order); such an entry, and one without a page, gets a page of its own
// that names it and links on.
struct Layout {
    std::vector<SpineItem> spine;
    std::vector<bool> direct;  // per contents entry: the navigation leads to its page
};

std::string Fragment(const Book& book, int page, const std::string& anchor);

Layout MakeLayout(const Book& book)
{
    Layout layout;
    layout.direct.assign(book.contents.size(), false);
    std::vector<int> position(book.pages.size(), -1);  // a page's place in the spine
    // The previous entry's target: its place in the spine and in its page.
    std::pair<int, int> last {-1, 0};
    for (size_t c = 0; c < book.contents.size(); ++c) {
        const ContentsItem& item = book.contents[c];
        int page = item.page;
        if (page >= 0 && position[page] < 0) {
            position[page] = (int)layout.spine.size();
            layout.spine.push_back({SpineItem::Page, page});
        }
        std::pair<int, int> target {page >= 0 ? position[page] : -1, 0};
        if (page >= 0) {
            const auto& order = book.pages[page].idOrder;
            auto at = order.find(Fragment(book, page, item.anchor));
            target.second = at == order.end() ? 0 : at->second;
        }
        if (page >= 0 && target >= last) {
            layout.direct[c] = true;
            last = target;
        } else {
            last = {(int)layout.spine.size(), 0};
            layout.spine.push_back({SpineItem::Section, (int)c});
        }
    }
    for (size_t p = 0; p < book.pages.size(); ++p)
        if (position[p] < 0)
            layout.spine.push_back({SpineItem::Page, (int)p});
    if (!book.keywords.empty())
        layout.spine.push_back({SpineItem::Index, 0});
    return layout;
}

std::string NumberedFile(char letter, int number)
{
    std::string name(1, letter);
    name += std::to_string(number);
    name += ".xhtml";
    return name;
}

std::string PageFile(int page)
{
    return NumberedFile('p', page);
}

std::string SectionFile(int item)
{
    return NumberedFile('s', item);
}

std::string Document(const Book& book, const std::string& title, const std::string& head,
                     const std::string& body)
{
    if (title.empty())
        return Document(book, "Untitled", head, body);
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE html>\n" +
        std::string(Namespaces) + " lang=\"" + book.language + "\" xml:lang=\"" + book.language +
        "\">\n<head>\n<meta charset=\"utf-8\"/>\n<title>" + EscapeMarkup(title) +
        "</title>\n<link rel=\"stylesheet\" type=\"text/css\" href=\"style.css\"/>\n" + head +
        "</head>\n<body>\n" + body + "\n</body>\n</html>\n";
}

std::string PageHref(const Book& book, int page, const std::string& fragment)
{
    (void)book;
    return PageFile(page) + (fragment.empty() ? "" : "#" + fragment);
}

// A page's XHTML with its links rewritten to the book's names.
bool MakePage(Book& book, int p, std::string& out, std::string& error)
{
    const BookPage& page = book.pages[p];
    std::string bytes;
    if (!ReadStored(book, page.stored, bytes, error))
        return false;
    std::string folder = StoredFolder(page.stored);
    auto resource = [&](const std::string& href,
                        bool (*wanted)(const std::string&)) -> std::string {
        BookLink link = ResolveLink(book, folder, href);
        if (link.kind != BookLink::Resource || !book.resources[link.index].used ||
            !wanted(book.resources[link.index].mediaType))
            return "";
        return book.resources[link.index].name;
    };
    MarkupPolicy policy;
    policy.link = [&](const std::string& href) -> std::string {
        BookLink link = ResolveLink(book, folder, href, p);
        if (link.kind == BookLink::External && link.url.compare(0, 5, "data:") != 0)
            return link.url;
        if (link.kind == BookLink::Page)
            return PageHref(book, link.index, link.fragment);
        return "";
    };
    policy.image = [&](const std::string& src) {
        return resource(src,
                        [](const std::string& type) { return type.compare(0, 6, "image/") == 0; });
    };
    policy.stylesheet = [&](const std::string& href) {
        return resource(href, [](const std::string& type) { return type == "text/css"; });
    };
    policy.cssUrl = [&](const std::string& url) {
        return resource(url, [](const std::string& type) { return type != "text/css"; });
    };
    HtmlDocument document(PageUtf8(bytes, book.codePage));
    CleanPage clean = CleanHtml(document, policy);
    std::string head;
    for (const std::string& sheet : clean.stylesheets)
        head += "<link rel=\"stylesheet\" type=\"text/css\" href=\"" + EscapeMarkup(sheet, true) +
            "\"/>\n";
    if (!clean.styles.empty())
        head += "<style type=\"text/css\">\n" + EscapeMarkup(clean.styles) + "</style>\n";
    out = Document(book, clean.title.empty() ? page.title : clean.title, head, clean.body);
    return true;
}

// A style sheet with its references rewritten (it lies in res/, beside them).
bool MakeSheet(Book& book, int r, std::string& out, std::string& error)
{
    std::string css;
    if (!ReadStored(book, book.resources[r].stored, css, error))
        return false;
    std::string folder = StoredFolder(book.resources[r].stored);
    out = RewriteCss(css, [&](const std::string& url) -> std::string {
        BookLink link = ResolveLink(book, folder, url);
        if (link.kind != BookLink::Resource || !book.resources[link.index].used)
            return "";
        return book.resources[link.index].name.substr(4);  // "res/"
    });
    return true;
}

std::string Fragment(const Book& book, int page, const std::string& anchor)
{
    if (anchor.empty())
        return "";
    const auto& ids = book.pages[page].ids;
    auto id = ids.find(anchor);
    return id == ids.end() ? "" : id->second;
}

std::string ItemTitle(const ContentsItem& item)
{
    return item.title.empty() ? "Untitled" : item.title;
}

// Where the navigation and the entries' own pages send contents entry c.
std::string ItemHref(const Book& book, const Layout& layout, int c)
{
    const ContentsItem& item = book.contents[c];
    if (!layout.direct[c])
        return SectionFile(c);
    return PageHref(book, item.page, Fragment(book, item.page, item.anchor));
}

// The page of a contents entry the navigation cannot send to its page: its
// title, a link to its page when it has one, and its children.
std::string SectionPage(const Book& book, const Layout& layout, int item)
{
    const ContentsItem& entry = book.contents[item];
    std::string body = "<h1>" + EscapeMarkup(ItemTitle(entry)) + "</h1>\n";
    if (entry.page >= 0)
        body += "<p><a href=\"" +
            PageHref(book, entry.page, Fragment(book, entry.page, entry.anchor)) + "\">" +
            EscapeMarkup(book.pages[entry.page].title) + "</a></p>\n";
    std::string children;
    for (size_t c = 0; c < book.contents.size(); ++c)
        if (book.contents[c].parent == item)
            children += "<li><a href=\"" + ItemHref(book, layout, (int)c) + "\">" +
                EscapeMarkup(ItemTitle(book.contents[c])) + "</a></li>\n";
    if (!children.empty())
        body += "<ul>\n" + children + "</ul>";
    return Document(book, ItemTitle(entry), "", body);
}

std::string IndexPage(const Book& book)
{
    std::string body = "<section epub:type=\"index\">\n<h1>Index</h1>\n<ul class=\"index\">\n";
    for (const BookKeyword& keyword : book.keywords) {
        body += "<li>";
        if (keyword.links.size() == 1) {
            const KeywordLink& link = keyword.links[0];
            body += "<a href=\"" +
                PageHref(book, link.page, Fragment(book, link.page, link.anchor)) + "\">" +
                EscapeMarkup(keyword.text) + "</a>";
        } else {
            body += EscapeMarkup(keyword.text) + ": ";
            for (size_t k = 0; k < keyword.links.size(); ++k) {
                const KeywordLink& link = keyword.links[k];
                std::string title = !link.title.empty() ? link.title : book.pages[link.page].title;
                body += std::string(k ? ", " : "") + "<a href=\"" +
                    PageHref(book, link.page, Fragment(book, link.page, link.anchor)) + "\">" +
                    EscapeMarkup(title) + "</a>";
            }
        }
        body += "</li>\n";
    }
    body += "</ul>\n</section>";
    return Document(book, "Index", "", body);
}

std::string NavDocument(const Book& book, const Layout& layout, bool hasIndex)
{
    std::string list;
    if (!book.contents.empty()) {
        // The tree as nested lists, without recursion: the items whose <li>
        // is open, and whether each has opened the list of its children.
        std::vector<std::pair<int, bool>> open;
        auto close = [&]() {
            list += open.back().second ? "</ol>\n</li>\n" : "</li>\n";
            open.pop_back();
        };
        list = "<ol>\n";
        for (size_t c = 0; c < book.contents.size(); ++c) {
            const ContentsItem& item = book.contents[c];
            while (!open.empty() && open.back().first != item.parent)
                close();
            if (!open.empty() && !open.back().second) {
                list += "\n<ol>\n";
                open.back().second = true;
            }
            list += "<li><a href=\"" + ItemHref(book, layout, (int)c) + "\">" +
                EscapeMarkup(ItemTitle(item)) + "</a>";
            open.push_back({(int)c, false});
        }
        while (!open.empty())
            close();
        list += "</ol>\n";
    } else {
        list = "<ol>\n";
        for (size_t p = 0; p < book.pages.size(); ++p)
            list += "<li><a href=\"" + PageFile((int)p) + "\">" +
                EscapeMarkup(book.pages[p].title) + "</a></li>\n";
        list += "</ol>\n";
    }
    std::string body = "<nav epub:type=\"toc\" id=\"toc\">\n<h1>" + EscapeMarkup(book.title) +
        "</h1>\n" + list + "</nav>\n";
    body += "<nav epub:type=\"landmarks\" id=\"landmarks\" hidden=\"hidden\">\n<ol>\n"
            "<li><a epub:type=\"toc\" href=\"nav.xhtml\">Contents</a></li>\n";
    if (hasIndex)
        body += "<li><a epub:type=\"index\" href=\"index.xhtml\">Index</a></li>\n";
    body += "</ol>\n</nav>";
    return Document(book, book.title, "", body);
}

uint64_t Fnv(const std::string& text, uint64_t hash)
{
    for (unsigned char c : text) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    return hash;
}

// A stable identifier for the book: the same help file gives the same one.
std::string Identifier(const Book& book, uint64_t size)
{
    std::string key = book.fileName + "\n" + book.title + "\n" + std::to_string(size) + "\n" +
        std::to_string(book.pages.size());
    uint64_t a = Fnv(key, 14695981039346656037ull), b = Fnv(key, a ^ 0x9E3779B97F4A7C15ull);
    char text[64];
    snprintf(text, sizeof text, "urn:uuid:%08x-%04x-5%03x-8%03x-%012llx", (unsigned)(a >> 32),
             (unsigned)(a >> 16) & 0xFFFF, (unsigned)a & 0xFFF, (unsigned)(b >> 52) & 0xFFF,
             (unsigned long long)(b & 0xFFFFFFFFFFFFull));
    return text;
}

std::string Package(const Book& book, const std::vector<SpineItem>& spine, time_t modified,
                    uint64_t size)
{
    char stamp[32];
    struct tm utc;
    gmtime_r(&modified, &utc);
    strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", &utc);
    std::string opf = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                      "<package xmlns=\"http://www.idpf.org/2007/opf\" version=\"3.0\" "
                      "unique-identifier=\"uid\" xml:lang=\"" +
        book.language +
        "\">\n<metadata xmlns:dc=\"http://purl.org/dc/elements/1.1/\">\n"
        "<dc:identifier id=\"uid\">" +
        Identifier(book, size) + "</dc:identifier>\n<dc:title>" + EscapeMarkup(book.title) +
        "</dc:title>\n<dc:language>" + book.language +
        "</dc:language>\n<meta property=\"dcterms:modified\">" + stamp +
        "</meta>\n</metadata>\n<manifest>\n"
        "<item id=\"nav\" href=\"nav.xhtml\" media-type=\"application/xhtml+xml\" "
        "properties=\"nav\"/>\n"
        "<item id=\"style\" href=\"style.css\" media-type=\"text/css\"/>\n";
    std::string itemrefs;
    for (const SpineItem& item : spine) {
        std::string id, href;
        if (item.kind == SpineItem::Page) {
            id = "p" + std::to_string(item.index);
            href = PageFile(item.index);
        } else if (item.kind == SpineItem::Section) {
            id = "s" + std::to_string(item.index);
            href = SectionFile(item.index);
        } else {
            id = "index";
            href = "index.xhtml";
        }
        opf += "<item id=\"" + id + "\" href=\"" + href +
            "\" media-type=\"application/xhtml+xml\"/>\n";
        itemrefs += "<itemref idref=\"" + id + "\"/>\n";
    }
    for (size_t r = 0; r < book.resources.size(); ++r)
        if (book.resources[r].used)
            opf += "<item id=\"r" + std::to_string(r) + "\" href=\"" + book.resources[r].name +
                "\" media-type=\"" + book.resources[r].mediaType + "\"/>\n";
    opf += "</manifest>\n<spine>\n<itemref idref=\"nav\"/>\n" + itemrefs + "</spine>\n</package>\n";
    return opf;
}

}  // namespace

bool WriteEpub(Book& book, const ExportOptions& options, std::string& error)
{
    if (options.output == "-") {
        error = "an EPUB cannot be written to standard output";
        return false;
    }
    struct stat info;
    time_t modified = stat(book.path.c_str(), &info) == 0 ? info.st_mtime : time(nullptr);
    uint64_t size = stat(book.path.c_str(), &info) == 0 ? (uint64_t)info.st_size : 0;
    {
        Progress scan(options.progress, book.pages.size(), "reading pages");
        if (!ScanBook(book, error, [&](size_t done) { scan.Step(done); }))
            return false;
    }

    Layout layout = MakeLayout(book);
    const std::vector<SpineItem>& spine = layout.spine;
    bool hasIndex = !book.keywords.empty();

    std::string temporary = TemporaryNameBeside(options.output);
    std::string failure;
    ZipArchive archive(failure, modified);
    if (!archive.Open(temporary, error))
        return false;
    Progress progress(options.progress, book.pages.size(), "writing pages");
    size_t written = 0;
    bool added = archive.AddText("mimetype", "application/epub+zip", false) &&
        archive.AddText(
            "META-INF/container.xml",
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<container version=\"1.0\" "
            "xmlns=\"urn:oasis:names:tc:opendocument:xmlns:container\">\n"
            "<rootfiles>\n<rootfile full-path=\"EPUB/package.opf\" "
            "media-type=\"application/oebps-package+xml\"/>\n</rootfiles>\n</container>\n") &&
        archive.AddText("EPUB/package.opf", Package(book, spine, modified, size)) &&
        archive.AddText("EPUB/nav.xhtml", NavDocument(book, layout, hasIndex)) &&
        archive.AddText("EPUB/style.css", BookStyle);
    for (const SpineItem& item : spine) {
        if (!added)
            break;
        if (item.kind == SpineItem::Page) {
            added = archive.Add(
                "EPUB/" + PageFile(item.index),
                [&book, &progress, &written, p = item.index](std::string& out, std::string& why) {
                    progress.Step(++written);
                    return MakePage(book, p, out, why);
                },
                true);
        } else if (item.kind == SpineItem::Section) {
            added = archive.Add(
                "EPUB/" + SectionFile(item.index),
                [&book, &layout, c = item.index](std::string& out, std::string&) {
                    out = SectionPage(book, layout, c);
                    return true;
                },
                true);
        } else {
            added = archive.Add(
                "EPUB/index.xhtml",
                [&book](std::string& out, std::string&) {
                    out = IndexPage(book);
                    return true;
                },
                true);
        }
    }
    for (size_t r = 0; r < book.resources.size() && added; ++r) {
        const BookResource& resource = book.resources[r];
        if (!resource.used)
            continue;
        bool sheet = resource.mediaType == "text/css";
        added = archive.Add(
            "EPUB/" + resource.name,
            [&book, r, sheet](std::string& out, std::string& why) {
                return sheet ? MakeSheet(book, (int)r, out, why)
                             : ReadStored(book, book.resources[r].stored, out, why);
            },
            sheet || resource.mediaType == "image/svg+xml");
    }
    if (!added) {
        error = "cannot write " + options.output + ": " + archive.Error();
        remove(temporary.c_str());
        return false;
    }
    if (!archive.Close(error)) {
        error = "cannot write " + options.output + ": " + error;
        remove(temporary.c_str());
        return false;
    }
    if (rename(temporary.c_str(), options.output.c_str()) != 0) {
        error = "cannot write " + options.output + ": " + strerror(errno);
        remove(temporary.c_str());
        return false;
    }
    return true;
}
