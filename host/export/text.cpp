// The book as text and as JSON lines: its topics in order (BookTopics),
// each page as the terminal viewer renders it.
#include <nlohmann/json.hpp>

#include <functional>
#include <string>
#include <vector>

#include "host/export/export.h"
#include "platform/text.h"

namespace {

// The titles from the contents' root down to item.
std::vector<std::string> TitlePath(const Book& book, int item)
{
    std::vector<std::string> path;
    for (int c = item; c >= 0; c = book.contents[c].parent) {
        path.insert(path.begin(), book.contents[c].title);
        if ((int)path.size() > 64)
            break;
    }
    return path;
}

// Writes, topic by topic, what make gives for it (bytes: its page's, "" for
// an entry without a page) to the output, which is whole or not at all.
bool WriteTopics(Book& book, const ExportOptions& options, std::string& error,
                 const std::function<std::string(size_t number, const BookTopic& topic,
                                                 const std::string& bytes)>& make)
{
    std::vector<BookTopic> topics = BookTopics(book);
    OutputFile out;
    if (!out.Open(options.output, error))
        return false;
    Progress progress(options.progress, topics.size(), "rendering topics");
    for (size_t t = 0; t < topics.size(); ++t) {
        std::string bytes;
        if (topics[t].page >= 0 &&
            !ReadStored(book, book.pages[topics[t].page].stored, bytes, error))
            return false;
        if (!out.Write(make(t, topics[t], bytes)))
            break;
        progress.Step(t + 1);
    }
    return out.Commit(error);
}

}  // namespace

bool WriteText(Book& book, const ExportOptions& options, std::string& error)
{
    return WriteTopics(
        book, options, error, [&](size_t t, const BookTopic& topic, const std::string& bytes) {
            std::string text = topic.page >= 0 ? RenderedPage(bytes, book.codePage) : "";
            std::string title = topic.title;
            if (title.empty() && topic.page >= 0) {
                HtmlDocument document(PageUtf8(bytes, book.codePage));
                title = ScanPage(document).title;
                if (title.empty())
                    title = book.pages[topic.page].stored.substr(1);
            }
            size_t width = Utf8Width(title.data(), title.size());
            const char rule = topic.depth == 0 ? '=' : topic.depth == 1 ? '-' : '~';
            std::string heading = t ? "\n\n" : "";
            heading += title;
            heading += '\n';
            heading.append(width ? width : 1, rule);
            heading += "\n\n";
            while (!text.empty() && text.back() == '\n')
                text.pop_back();
            return heading + text + (text.empty() ? "" : "\n");
        });
}

bool WriteJsonl(Book& book, const ExportOptions& options, std::string& error)
{
    return WriteTopics(
        book, options, error, [&](size_t, const BookTopic& topic, const std::string& bytes) {
            if (topic.page < 0)
                return std::string();
            const BookPage& page = book.pages[topic.page];
            HtmlDocument document(PageUtf8(bytes, book.codePage));
            PageReferences references = ScanPage(document);
            nlohmann::json object;
            object["file"] = book.fileName;
            object["page"] = page.stored;
            object["title"] = !topic.title.empty() ? topic.title
                : !references.title.empty()        ? references.title
                                                   : page.stored.substr(1);
            object["path"] =
                topic.item >= 0 ? TitlePath(book, topic.item) : std::vector<std::string> {};
            nlohmann::json keywords = nlohmann::json::array();
            for (int k : page.keywords)
                keywords.push_back(book.keywords[k].text);
            object["keywords"] = keywords;
            object["anchors"] = references.anchors;
            object["language"] = book.language;
            object["text"] = RenderedPage(bytes, book.codePage);
            return object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
        });
}
