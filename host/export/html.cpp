// The book as one HTML file, and as Markdown.
//
// Both follow the book's topics (BookTopics). HTML keeps each page as a
// section whose ids carry the section's prefix, so that they stay unique,
// with the contents at the top and page breaks for print. Markdown is
// pandoc's conversion of that HTML, a bounded batch of pages at a time.
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "host/export/export.h"
#include "host/os/os.h"
#include "host/page/page.h"
#include "platform/text.h"

namespace {

namespace fs = std::filesystem;

// Pages are given to pandoc in batches of about this many bytes of HTML.
constexpr size_t MarkdownBatch = 2 << 20;

std::string Base64(std::string_view bytes)
{
    static const char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    for (size_t i = 0; i < bytes.size(); i += 3) {
        uint32_t value = (uint32_t)(unsigned char)bytes[i] << 16;
        if (i + 1 < bytes.size())
            value |= (uint32_t)(unsigned char)bytes[i + 1] << 8;
        if (i + 2 < bytes.size())
            value |= (unsigned char)bytes[i + 2];
        out += digits[value >> 18];
        out += digits[(value >> 12) & 63];
        out += i + 1 < bytes.size() ? digits[(value >> 6) & 63] : '=';
        out += i + 2 < bytes.size() ? digits[value & 63] : '=';
    }
    return out;
}

// A letter and a number, "t12": appended, since GCC 12 warns wrongly about
// "t" + std::to_string(12) where it inlines it.
std::string Numbered(char letter, int number)
{
    std::string name(1, letter);
    name += std::to_string(number);
    return name;
}

std::string TopicId(const BookTopic& topic)
{
    return topic.page >= 0 ? Numbered('t', topic.page) : Numbered('c', topic.item);
}

// Pages as sections of one HTML document: their links lead to the sections
// (split: to the files of their pages), their images are data URLs or files
// in the assets folder.
class SectionWriter {
public:
    SectionWriter(Book& book, const ExportOptions& options, const std::string& outputFolder)
        : book_(book)
        , options_(options)
    {
        if (!options.assets.empty()) {
            std::error_code ec;
            fs::path assets = fs::absolute(options.assets, ec);
            fs::path base = fs::absolute(outputFolder.empty() ? "." : outputFolder, ec);
            assetsHref_ = fs::relative(assets, base, ec).generic_string();
            if (ec || assetsHref_.empty())
                assetsHref_ = assets.generic_string();
        }
    }

    // Where a page's section is (split: its file; pageFile gives its name).
    std::function<std::string(int page)> pageFile;
    bool forPandoc = false;  // HTML for pandoc to turn into Markdown

    bool Section(const BookTopic& topic, std::string& out, std::string& error)
    {
        int level = topic.depth + 2 > 6 ? 6 : topic.depth + 2;
        std::string id = TopicId(topic);
        std::string h = Numbered('h', level);
        // pandoc keeps an id only on an empty link: the topic's anchor
        // stands in its heading, without a section around it.
        if (forPandoc)
            out += "<" + h + "><a id=\"" + id + "\"></a>" + EscapeMarkup(topic.title) + "</" + h +
                ">\n";
        else
            out += "<section class=\"topic\" id=\"" + id + "\">\n<" + h + ">" +
                EscapeMarkup(topic.title) + "</" + h + ">\n";
        if (topic.page >= 0 && !Page(topic.page, level, out, error))
            return false;
        if (!forPandoc)
            out += "</section>\n";
        return true;
    }

    bool AssetsFailed(std::string& error) const
    {
        error = assetsError_;
        return !assetsError_.empty();
    }

private:
    std::string PageTarget(int page, const std::string& fragment)
    {
        std::string prefix = pageFile ? pageFile(page) : "";
        std::string id = "t" + std::to_string(page);
        return prefix + "#" + (fragment.empty() ? id : id + "-" + fragment);
    }

    std::string Image(const std::string& folder, const std::string& src)
    {
        BookLink link = ResolveLink(book_, folder, src);
        if (link.kind == BookLink::External)
            return link.url;
        if (link.kind != BookLink::Resource)
            return "";
        const BookResource& resource = book_.resources[link.index];
        if (resource.mediaType.compare(0, 6, "image/") != 0)
            return "";
        std::string bytes, why;
        std::string file = resource.name.substr(4);
        if (!options_.assets.empty()) {
            if (!written_.count(link.index)) {
                if (!ReadStored(book_, resource.stored, bytes, why)) {
                    if (assetsError_.empty())
                        assetsError_ = why;
                    return "";
                }
                OutputFile asset;
                if (!asset.Open(options_.assets + "/" + file, why) || !asset.Write(bytes) ||
                    !asset.Commit(why)) {
                    if (assetsError_.empty())
                        assetsError_ = why.empty() ? "cannot write " + options_.assets : why;
                    return "";
                }
                written_.insert(link.index);
            }
            return assetsHref_ + "/" + file;
        }
        if (!ReadStored(book_, resource.stored, bytes, why))
            return "";
        return "data:" + resource.mediaType + ";base64," + Base64(bytes);
    }

    bool Page(int p, int level, std::string& out, std::string& error)
    {
        const BookPage& page = book_.pages[p];
        std::string bytes;
        if (!ReadStored(book_, page.stored, bytes, error))
            return false;
        std::string folder = StoredFolder(page.stored);
        MarkupPolicy policy;
        policy.keepStyles = false;
        policy.idPrefix = Numbered('t', p) + "-";
        policy.headingShift = level;
        policy.link = [&](const std::string& href) -> std::string {
            BookLink link = ResolveLink(book_, folder, href, p);
            if (link.kind == BookLink::External)
                return link.url;
            if (link.kind == BookLink::Page)
                return PageTarget(link.index, link.fragment);
            return "";
        };
        policy.image = [&](const std::string& src) { return Image(folder, src); };
        HtmlDocument document(PageUtf8(bytes, book_.codePage));
        out += CleanHtml(document, policy).body;
        out += "\n";
        return true;
    }

    Book& book_;
    const ExportOptions& options_;
    std::string assetsHref_;
    std::set<int> written_;
    std::string assetsError_;
};

const char HtmlStyle[] =
    "body { font-family: serif; line-height: 1.4; max-width: 52em; margin: 0 auto; padding: 1em; "
    "}\n"
    "nav.contents ul { list-style: none; padding-left: 1.2em; }\n"
    "section.topic { border-top: 1px solid #ccc; margin-top: 2em; }\n"
    "table.bordered { border-collapse: collapse; }\n"
    "table.bordered td, table.bordered th { border: 1px solid #888; padding: 0.2em 0.4em; }\n"
    "pre { white-space: pre-wrap; background: #f6f6f6; padding: 0.4em; }\n"
    "ul.index { list-style: none; padding-left: 0; }\n"
    "@media print {\n"
    "  body { max-width: none; }\n"
    "  nav.contents, section.topic { break-after: page; page-break-after: always; }\n"
    "  section.topic { border-top: none; margin-top: 0; }\n"
    "  a { color: inherit; text-decoration: none; }\n"
    "}\n";

// The contents as nested lists of links to the sections, without recursion.
std::string ContentsList(const Book& book, const std::vector<BookTopic>& topics,
                         const std::function<std::string(const BookTopic&)>& href)
{
    std::vector<int> topicOfItem(book.contents.size(), -1), topicOfPage(book.pages.size(), -1);
    for (size_t t = 0; t < topics.size(); ++t) {
        if (topics[t].item >= 0)
            topicOfItem[topics[t].item] = (int)t;
        if (topics[t].page >= 0)
            topicOfPage[topics[t].page] = (int)t;
    }
    std::string list = "<ul>\n";
    int depth = 0;
    auto entry = [&](int d, const BookTopic& topic, const std::string& title) {
        for (; depth < d; ++depth)
            list += "<li><ul>\n";
        for (; depth > d; --depth)
            list += "</ul></li>\n";
        list += "<li><a href=\"" + href(topic) + "\">" + EscapeMarkup(title) + "</a></li>\n";
    };
    for (size_t c = 0; c < book.contents.size(); ++c) {
        const ContentsItem& item = book.contents[c];
        int t = topicOfItem[c] >= 0 ? topicOfItem[c] : item.page >= 0 ? topicOfPage[item.page] : -1;
        if (t >= 0)
            entry(item.depth > 16 ? 16 : item.depth, topics[t], item.title);
    }
    for (const BookTopic& topic : topics)
        if (topic.item < 0)
            entry(0, topic, topic.title);
    for (; depth > 0; --depth)
        list += "</ul></li>\n";
    return list + "</ul>\n";
}

std::string IndexSection(const Book& book,
                         const std::function<std::string(int, const std::string&)>& href)
{
    if (book.keywords.empty())
        return "";
    std::string out =
        "<section class=\"index\" id=\"index\">\n<h2>Index</h2>\n<ul class=\"index\">\n";
    for (const BookKeyword& keyword : book.keywords) {
        out += "<li>" + EscapeMarkup(keyword.text);
        for (size_t k = 0; k < keyword.links.size(); ++k) {
            const KeywordLink& link = keyword.links[k];
            const auto& ids = book.pages[link.page].ids;
            auto id = ids.find(link.anchor);
            std::string title = !link.title.empty() ? link.title : book.pages[link.page].title;
            out += std::string(k ? ", " : ": ") + "<a href=\"" +
                EscapeMarkup(href(link.page, id == ids.end() ? "" : id->second), true) + "\">" +
                EscapeMarkup(title) + "</a>";
        }
        out += "</li>\n";
    }
    return out + "</ul>\n</section>\n";
}

std::string HtmlHead(const Book& book, const std::string& title)
{
    return "<!DOCTYPE html>\n<html lang=\"" + book.language +
        "\">\n<head>\n<meta charset=\"utf-8\"/>\n<title>" + EscapeMarkup(title) +
        "</title>\n<style>\n" + HtmlStyle + "</style>\n</head>\n<body>\n";
}

std::string OutputFolder(const std::string& output)
{
    size_t slash = output.rfind('/');
    return slash == std::string::npos ? "" : output.substr(0, slash);
}

bool ScanWithProgress(Book& book, const ExportOptions& options, std::string& error)
{
    Progress scan(options.progress, book.pages.size(), "reading pages");
    return ScanBook(book, error, [&](size_t done) { scan.Step(done); });
}

bool MakeAssetsFolder(const ExportOptions& options, std::string& error)
{
    if (options.assets.empty())
        return true;
    std::error_code ec;
    fs::create_directories(options.assets, ec);
    if (ec) {
        error = "cannot make " + options.assets + ": " + ec.message();
        return false;
    }
    return true;
}

// Runs pandoc on html; the Markdown, or false with the reason.
bool Pandoc(const std::string& html, std::string& markdown, std::string& error)
{
    std::string input =
        TempDirectory() + "/velkory-export-" + std::to_string(ProcessNumber()) + ".html";
    OutputFile file;
    if (!file.Open(input, error) || !file.Write(html) || !file.Commit(error)) {
        error = error.empty() ? "cannot write " + input : error;
        return false;
    }
    bool ran = CaptureOutput(
        {"pandoc", "--from=html-native_divs", "--to=gfm", "--wrap=none", input}, markdown);
    remove(input.c_str());
    if (!ran) {
        error = "pandoc failed to convert the pages";
        return false;
    }
    return true;
}

}  // namespace

bool WriteHtml(Book& book, const ExportOptions& options, std::string& error)
{
    if (!ScanWithProgress(book, options, error) || !MakeAssetsFolder(options, error))
        return false;
    std::vector<BookTopic> topics = BookTopics(book);
    OutputFile out;
    if (!out.Open(options.output, error))
        return false;
    SectionWriter sections(book, options, OutputFolder(options.output));
    std::string text = HtmlHead(book, book.title) + "<header><h1>" + EscapeMarkup(book.title) +
        "</h1></header>\n<nav class=\"contents\">\n<h2>Contents</h2>\n" +
        ContentsList(book, topics, [](const BookTopic& topic) {
                           std::string href = "#";
                           return href += TopicId(topic);
                       });
    if (!book.keywords.empty())
        text += "<p><a href=\"#index\">Index</a></p>\n";
    text += "</nav>\n";
    out.Write(text);
    Progress progress(options.progress, topics.size(), "writing topics");
    for (size_t t = 0; t < topics.size(); ++t) {
        text.clear();
        if (!sections.Section(topics[t], text, error))
            return false;
        out.Write(text);
        progress.Step(t + 1);
    }
    if (sections.AssetsFailed(error))
        return false;
    out.Write(IndexSection(book, [](int page, const std::string& id) {
        return "#t" + std::to_string(page) + (id.empty() ? "" : "-" + id);
    }));
    out.Write("</body>\n</html>\n");
    return out.Commit(error);
}

bool WriteMarkdown(Book& book, const ExportOptions& options, std::string& error)
{
    if (!ProgramOnPath("pandoc")) {
        error = "markdown needs pandoc, which is not installed (on Debian: apt-get install pandoc)";
        return false;
    }
    if (!ScanWithProgress(book, options, error) || !MakeAssetsFolder(options, error))
        return false;
    std::vector<BookTopic> topics = BookTopics(book);
    bool split = !options.split.empty();
    std::string folder = split ? options.split : OutputFolder(options.output);
    if (split) {
        std::error_code ec;
        fs::create_directories(options.split, ec);
        if (ec) {
            error = "cannot make " + options.split + ": " + ec.message();
            return false;
        }
    }
    // Split: a file per topic, named by its number and page.
    std::vector<std::string> files(topics.size());
    std::vector<int> fileOfPage(book.pages.size(), -1);
    for (size_t t = 0; t < topics.size(); ++t) {
        char number[32];
        snprintf(number, sizeof number, "%04u", (unsigned)(t + 1));
        std::string stem =
            topics[t].page >= 0 ? book.pages[topics[t].page].stored.substr(1) : topics[t].title;
        std::string slug;
        for (char c : stem.substr(0,
                                  stem.rfind('.') == std::string::npos || topics[t].page < 0
                                      ? std::string::npos
                                      : stem.rfind('.'))) {
            char lower = FoldAscii(c);
            if (IsAsciiAlnum(lower))
                slug += lower;
            else if (!slug.empty() && slug.back() != '-')
                slug += '-';
        }
        while (!slug.empty() && slug.back() == '-')
            slug.pop_back();
        files[t] = std::string(number) + (slug.empty() ? "" : "-" + slug.substr(0, 60)) + ".md";
        if (topics[t].page >= 0)
            fileOfPage[topics[t].page] = (int)t;
    }
    SectionWriter sections(book, options, folder);
    sections.forPandoc = true;
    if (split)
        sections.pageFile = [&](int page) {
            return fileOfPage[page] >= 0 ? files[fileOfPage[page]] : "";
        };

    OutputFile single;
    if (!split && !single.Open(options.output, error))
        return false;
    std::vector<std::unique_ptr<OutputFile>> written;
    Progress progress(options.progress, topics.size(), "converting topics");
    // Topics are converted in batches; in a split book each topic's
    // Markdown is cut out of its batch at a marker paragraph.
    const std::string marker = "VELKORYTOPICBOUNDARY";
    size_t t = 0;
    while (t < topics.size()) {
        std::string html = "<html><body>\n";
        size_t first = t;
        while (t < topics.size() && (t == first || html.size() < MarkdownBatch)) {
            if (split)
                html += "<p>" + marker + std::to_string(t) + "</p>\n";
            if (!sections.Section(topics[t], html, error))
                return false;
            ++t;
        }
        html += "</body></html>\n";
        std::string markdown;
        if (!Pandoc(html, markdown, error))
            return false;
        if (!split) {
            single.Write(markdown);
        } else {
            for (size_t k = first; k < t; ++k) {
                std::string begin = marker + std::to_string(k) + "\n";
                size_t from = markdown.find(begin);
                size_t to = markdown.find(marker + std::to_string(k + 1) + "\n");
                std::string part = from == std::string::npos
                    ? ""
                    : markdown.substr(from + begin.size(),
                                      to == std::string::npos ? std::string::npos
                                                              : to - from - begin.size());
                // Written and closed now (a book has more topics than a
                // process may have open files), renamed at the end.
                auto file = std::make_unique<OutputFile>();
                if (!file->Open(options.split + "/" + files[k], error) || !file->Write(part) ||
                    !file->Close(error)) {
                    error =
                        error.empty() ? "cannot write " + options.split + "/" + files[k] : error;
                    return false;
                }
                written.push_back(std::move(file));
            }
        }
        progress.Step(t);
    }
    if (sections.AssetsFailed(error))
        return false;
    if (!split)
        return single.Commit(error);
    // Every file is whole before any takes its name.
    for (auto& file : written)
        if (!file->Commit(error))
            return false;
    return true;
}
