// velkory export: the EPUB checked by epubcheck and walked link by link, the
// other formats holding every topic once in reading order, text in UTF-8
// whatever the help file's code page, and outputs that cannot be written
// whole left out.
#include <gtest/gtest.h>

#include <gumbo.h>
#include <sys/mount.h>
#include <zip.h>

#include <cstring>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "container/container.h"
#include "host/export/export.h"
#include "host/host_runner.h"
#include "lookup/index_builder.h"
#include "lookup/lookup.h"
#include "lookup/system_builder.h"
#include "support/chm_writer.h"
#include "support/corpus.h"

namespace {

const char EpubcheckJar[] = "/usr/share/java/epubcheck.jar";

struct ZipEntry {
    std::string name, bytes;
    bool stored;  // not compressed
};

std::vector<ZipEntry> Unzip(const std::string& path)
{
    std::vector<ZipEntry> entries;
    int code = 0;
    zip_t* zip = zip_open(path.c_str(), ZIP_RDONLY, &code);
    if (!zip)
        return entries;
    for (zip_int64_t i = 0; i < zip_get_num_entries(zip, 0); ++i) {
        zip_stat_t stat;
        zip_stat_index(zip, (zip_uint64_t)i, 0, &stat);
        ZipEntry entry {stat.name, std::string(stat.size, '\0'), stat.comp_method == ZIP_CM_STORE};
        zip_file_t* file = zip_fopen_index(zip, (zip_uint64_t)i, 0);
        if (file) {
            zip_fread(file, entry.bytes.data(), stat.size);
            zip_fclose(file);
        }
        entries.push_back(std::move(entry));
    }
    zip_discard(zip);
    return entries;
}

// What an XHTML document links to and the ids it holds; for the nav, the
// nesting (number of <ol> around) of each link of its first <nav>.
struct Links {
    std::vector<std::string> targets;  // every href and src
    std::set<std::string> ids;
    std::vector<int> navDepths;
    int images = 0;
};

Links Scan(const std::string& xhtml)
{
    Links links;
    GumboOutput* output =
        gumbo_parse_with_options(&kGumboDefaultOptions, xhtml.data(), xhtml.size());
    struct Item {
        const GumboNode* node;
        int lists;
        int nav;  // 0: outside, 1: in the first nav, 2: in a later one
    };
    std::vector<Item> stack {{output->root, 0, 0}};
    bool navSeen = false;
    while (!stack.empty()) {
        Item item = stack.back();
        stack.pop_back();
        if (item.node->type != GUMBO_NODE_ELEMENT)
            continue;
        const GumboElement& element = item.node->v.element;
        for (const char* name : {"href", "src"})
            if (const GumboAttribute* a = gumbo_get_attribute(&element.attributes, name))
                links.targets.push_back(a->value);
        if (const GumboAttribute* a = gumbo_get_attribute(&element.attributes, "id"))
            links.ids.insert(a->value);
        if (element.tag == GUMBO_TAG_IMG)
            ++links.images;
        int lists = item.lists + (element.tag == GUMBO_TAG_OL);
        int nav = item.nav;
        if (element.tag == GUMBO_TAG_NAV && nav == 0) {
            nav = navSeen ? 2 : 1;
            navSeen = true;
        }
        if (element.tag == GUMBO_TAG_A && nav == 1)
            links.navDepths.push_back(lists - 1);
        for (unsigned i = element.children.length; i > 0; --i)
            stack.push_back({(const GumboNode*)element.children.data[i - 1], lists, nav});
    }
    gumbo_destroy_output(&kGumboDefaultOptions, output);
    return links;
}

// "EPUB/a/../b.xhtml" as "EPUB/b.xhtml".
std::string Joined(const std::string& folder, const std::string& relative)
{
    std::vector<std::string> parts;
    std::string path = folder + relative, part;
    for (size_t i = 0; i <= path.size(); ++i) {
        if (i < path.size() && path[i] != '/') {
            part += path[i];
            continue;
        }
        if (part == "..") {
            if (!parts.empty())
                parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        part.clear();
    }
    std::string joined;
    for (const std::string& p : parts)
        joined += (joined.empty() ? "" : "/") + p;
    return joined;
}

// Each broken link of the book: "from -> target" for every href and src of
// its documents (and url() of its style sheets) that names no entry, or an
// id its target does not hold. External links are not followed.
std::vector<std::string> BrokenLinks(const std::vector<ZipEntry>& entries)
{
    std::map<std::string, Links> documents;
    std::set<std::string> names;
    for (const ZipEntry& entry : entries) {
        names.insert(entry.name);
        if (entry.name.size() > 6 && entry.name.compare(entry.name.size() - 6, 6, ".xhtml") == 0)
            documents[entry.name] = Scan(entry.bytes);
        else if (entry.name.size() > 4 && entry.name.compare(entry.name.size() - 4, 4, ".css") == 0)
            for (const std::string& url : CssReferences(entry.bytes))
                documents[entry.name].targets.push_back(url);
    }
    std::vector<std::string> broken;
    for (const auto& [name, links] : documents) {
        std::string folder = name.substr(0, name.rfind('/') + 1);
        for (const std::string& target : links.targets) {
            if (target.rfind("http:", 0) == 0 || target.rfind("https:", 0) == 0 ||
                target.rfind("mailto:", 0) == 0)
                continue;
            size_t hash = target.find('#');
            std::string file = target.substr(0, hash);
            std::string path = file.empty() ? name : Joined(folder, file);
            bool ok = names.count(path) > 0;
            if (ok && hash != std::string::npos) {
                auto document = documents.find(path);
                ok = document != documents.end() &&
                    document->second.ids.count(target.substr(hash + 1));
            }
            if (!ok)
                broken.push_back(name + " -> " + target);
        }
    }
    return broken;
}

// The stored files of a help file by name.
std::map<std::string, std::string> StoredFiles(const std::string& path)
{
    std::map<std::string, std::string> files;
    HelpFile* file = OpenHelpFile(path.c_str());
    if (!file)
        return files;
    for (int32_t i = 0; i < DirectoryCount(file); ++i) {
        const DirectoryEntry* entry = DirectoryAt(file, i);
        uint32_t length = 0;
        uint8_t* data = nullptr;
        if (entry && ExtractEntry(file, entry, &length, &data) == 0) {
            files[entry->Name] = std::string((const char*)data, length);
            free(data);
        }
    }
    CloseHelpFile(file);
    return files;
}

// The level of every entry of the help file's contents sitemap, in order.
std::vector<int> ContentsLevels(const std::map<std::string, std::string>& files)
{
    std::vector<int> levels;
    for (const auto& [name, bytes] : files) {
        if (name.size() < 4 || strcasecmp(name.c_str() + name.size() - 4, ".hhc") != 0)
            continue;
        Sitemap map;
        if (!ParseSitemap((const uint8_t*)bytes.data(), (uint32_t)bytes.size(), &map))
            break;
        for (uint32_t e = 0; e < map.entryCount; ++e)
            levels.push_back((int)map.entries[e].level);
        ReleaseSitemap(&map);
        break;
    }
    return levels;
}

std::string BaseName(const std::string& path)
{
    return path.substr(path.find_last_of('/') + 1);
}

class ExportTest : public HostTest {
protected:
    // epubcheck's complaints about the book ("" when it passes with no
    // error and no warning).
    std::string Epubcheck(const std::string& epub)
    {
        std::string log = root_ + "/epubcheck.log";
        int status = system(
            ("java -jar " + std::string(EpubcheckJar) + " -q '" + epub + "' >'" + log + "' 2>&1")
                .c_str());
        std::string said = ReadText(log);
        bool complaint = said.find("ERROR") != std::string::npos ||
            said.find("WARNING") != std::string::npos || said.find("FATAL") != std::string::npos;
        return status == 0 && !complaint ? "" : said.empty() ? "epubcheck failed" : said;
    }
    bool HaveEpubcheck()
    {
        return access(EpubcheckJar, R_OK) == 0 && system("command -v java >/dev/null") == 0;
    }
};

// Every help file of the corpus and the bundled sample.
std::vector<std::string> BookFiles()
{
    std::vector<std::string> files = CorpusHelpFiles();
    files.push_back(VELKORY_BINARY_DIR "/sample/velkory-guide.chm");
    return files;
}

class EpubOfHelpFile : public ExportTest, public ::testing::WithParamInterface<std::string> { };

}  // namespace

TEST_P(EpubOfHelpFile, PassesEpubcheckWithEveryLinkAndImageInTheBook)
{
    const std::string& help = GetParam();
    if (access(help.c_str(), R_OK) != 0)
        GTEST_SKIP() << help << " is not there (no shared corpus, or the sample is not built)";
    std::string epub = root_ + "/book.epub";
    RunResult run = Run({"export", "--output", epub, help});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    std::vector<ZipEntry> entries = Unzip(epub);
    ASSERT_FALSE(entries.empty());
    EXPECT_EQ(entries[0].name, "mimetype");
    EXPECT_TRUE(entries[0].stored);
    EXPECT_EQ(entries[0].bytes, "application/epub+zip");

    EXPECT_EQ(BrokenLinks(entries), std::vector<std::string> {});

    // The navigation: one link per contents entry, nested as the contents.
    std::map<std::string, std::string> stored = StoredFiles(help);
    std::vector<int> levels = ContentsLevels(stored);
    for (const ZipEntry& entry : entries)
        if (entry.name == "EPUB/nav.xhtml" && !levels.empty()) {
            EXPECT_EQ(Scan(entry.bytes).navDepths, levels);
        }

    // Every image the pages and their style sheets name is in the book.
    std::set<std::string> inBook;
    for (const ZipEntry& entry : entries)
        inBook.insert(entry.bytes);
    for (const auto& [name, bytes] : stored) {
        std::string lower = name;
        for (char& c : lower)
            c = (char)tolower((unsigned char)c);
        bool image = lower.find(".gif") != std::string::npos ||
            lower.find(".png") != std::string::npos || lower.find(".jpg") != std::string::npos;
        if (!image)
            continue;
        bool named = false;
        for (const auto& [other, text] : stored)
            if (other != name && text.find(BaseName(name)) != std::string::npos &&
                other.find(".hh") == std::string::npos)
                named = true;
        if (named) {
            EXPECT_TRUE(inBook.count(bytes)) << name << " is named by a page but not in the book";
        }
    }

    if (!HaveEpubcheck())
        GTEST_SKIP() << "epubcheck (" << EpubcheckJar << ") or java is not installed";
    EXPECT_EQ(Epubcheck(epub), "");
}

INSTANTIATE_TEST_SUITE_P(Corpus, EpubOfHelpFile, ::testing::ValuesIn(BookFiles()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                             std::string name = BaseName(info.param);
                             std::string id;
                             for (char c : name.substr(0, name.rfind('.')))
                                 id += isalnum((unsigned char)c) ? c : '_';
                             return id;
                         });

namespace {

// A book of our own with what real help files hold: nested contents with an
// entry without a page and a page named twice out of order, anchors (one
// name twice), a page the contents do not name, images in pages and in a
// style sheet, an image nothing uses, a link to another help file, broken
// markup, and a keyword index.
class MadeBookTest : public ExportTest {
protected:
    void SetUp() override
    {
        ExportTest::SetUp();
        if (IsSkipped())
            return;
        auto sitemap = [](const std::string& items) {
            return Bytes("<HTML><BODY><UL>\n" + items + "</UL></BODY></HTML>\n");
        };
        auto entry = [](const std::string& name, const std::string& local) {
            std::string out =
                "<LI><OBJECT type=\"text/sitemap\"><param name=\"Name\" value=\"" + name + "\">";
            if (!local.empty())
                out += "<param name=\"Local\" value=\"" + local + "\">";
            return out + "</OBJECT>\n";
        };
        // A 1x1 GIF image, in the colour given.
        auto& gif = gif_;
        gif_ = [](char red) {
            return std::string("GIF89a\x01\x00\x01\x00\x80\x00\x00", 13) + red +
                std::string("\x00\x00\x00\x00\x00,"
                            "\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02\x44\x01\x00;",
                            21);
        };
        file_ = root_ + "/made.chm";
        ASSERT_TRUE(WriteBytes(
            file_,
            MakeHelpFile({
                {"/#SYSTEM", SystemFileBytes(0x409, "toc.hhc", "index.hhk"), 0},
                {"/toc.hhc",
                 sitemap(entry("Start", "a.htm") + entry("Part", "") + "<UL>\n" +
                         entry("Bee", "sub/b.htm#sec") + entry("Bee whole", "sub/b.htm") +
                         "</UL>\n" + entry("Start again", "a.htm#top"))},
                {"/index.hhk", sitemap(entry("alpha", "a.htm") + entry("beta", "sub/b.htm#sec"))},
                {"/a.htm",
                 Bytes(
                     "<html><head><title>A page</title><link rel=stylesheet href=\"s.css\"></head>"
                     "<body><h1>A</h1><p><a href=\"sub/b.htm#sec\">to b</a> "
                     "<a href=\"ms-its:other.chm::/x.htm\">other book</a> "
                     "<a href=\"#top\">up</a> <a href=\"https://x.org/a b>#%_s#2\">web</a><img "
                     "src=\"img/pic.gif\" alt=\"pic\">"
                     "<font color=red><p>unclosed<table><tr><td>cell</table>"
                     "<a name=\"top\">top</a><a name=\"top\">again</a><script>x()</script>")},
                {"/sub/b.htm",
                 Bytes(
                     "<html><body><p id=\"sec\">section</p><img src=\"../img/pic.gif\">"
                     "<a href=\"../a.htm#top\">back</a> <a href=\"../c.htm\">c</a></body></html>")},
                {"/c.htm",
                 Bytes(
                     "<html><head><title>Not in the contents</title></head><body>c</body></html>")},
                {"/s.css", Bytes("body { background: url(img/bg.gif); }")},
                {"/img/pic.gif", Bytes(gif('\x01'))},
                {"/img/bg.gif", Bytes(gif('\x02'))},
                {"/img/unused.gif", Bytes(gif('\x03'))},
            })));
    }
    std::string file_;
    std::function<std::string(char)> gif_;
};

}  // namespace

TEST_F(MadeBookTest, EpubKeepsLinksAnchorsAndIndexAndDropsOtherHelpFiles)
{
    std::string epub = root_ + "/made.epub";
    RunResult run = Run({"export", "-o", epub, file_});
    ASSERT_EQ(run.status, 0) << run.err;
    std::vector<ZipEntry> entries = Unzip(epub);
    EXPECT_EQ(BrokenLinks(entries), std::vector<std::string> {});
    std::map<std::string, std::string> book;
    for (const ZipEntry& entry : entries)
        book[entry.name] = entry.bytes;
    EXPECT_EQ(Scan(book["EPUB/nav.xhtml"]).navDepths, (std::vector<int> {0, 0, 1, 1, 0}));
    // Pages in reading order (the page the contents do not name last), and the
    // index, each keyword linking to its page and anchor.
    const std::string& opf = book["EPUB/package.opf"];
    EXPECT_LT(opf.find("idref=\"p0\""), opf.find("idref=\"p1\""));
    EXPECT_LT(opf.find("idref=\"p1\""), opf.find("idref=\"p2\""));
    EXPECT_NE(book["EPUB/p2.xhtml"].find("Not in the contents"), std::string::npos);
    EXPECT_NE(book["EPUB/index.xhtml"].find("href=\"p1.xhtml#sec\">beta<"), std::string::npos);
    EXPECT_NE(book["EPUB/p0.xhtml"].find("<p><a href=\"p1.xhtml#sec\">to b</a> other book "),
              std::string::npos)
        << book["EPUB/p0.xhtml"];
    EXPECT_EQ(book["EPUB/p0.xhtml"].find("script"), std::string::npos);
    EXPECT_NE(book["EPUB/p0.xhtml"].find("href=\"https://x.org/a%20b%3E#%25_s%232\""),
              std::string::npos);
    EXPECT_EQ(Scan(book["EPUB/p0.xhtml"]).ids, (std::set<std::string> {"top", "top_2"}));
    // The images used, the one nothing uses left out.
    std::set<std::string> contents;
    for (const ZipEntry& entry : entries)
        contents.insert(entry.bytes);
    EXPECT_TRUE(contents.count(gif_('\x01')) && contents.count(gif_('\x02')));
    EXPECT_FALSE(contents.count(gif_('\x03')));
    if (!HaveEpubcheck())
        GTEST_SKIP() << "epubcheck (" << EpubcheckJar << ") or java is not installed";
    EXPECT_EQ(Epubcheck(epub), "");
}

TEST_F(MadeBookTest, EveryFormatHoldsEveryTopicOnceInReadingOrder)
{
    // JSON lines: a topic a line, with its path of titles and its keywords.
    RunResult run = Run({"export", "--to", "jsonl", "-o", "-", file_});
    ASSERT_EQ(run.status, 0) << run.err;
    std::vector<std::string> pages;
    for (const std::string& line : Lines(run.out)) {
        nlohmann::json topic = nlohmann::json::parse(line);
        pages.push_back(topic["page"]);
        if (topic["page"] == "/sub/b.htm") {
            EXPECT_EQ(topic["path"], (std::vector<std::string> {"Part", "Bee"}));
            EXPECT_EQ(topic["keywords"], (std::vector<std::string> {"beta"}));
            EXPECT_EQ(topic["anchors"], (std::vector<std::string> {"sec"}));
        }
    }
    EXPECT_EQ(pages, (std::vector<std::string> {"/a.htm", "/sub/b.htm", "/c.htm"}));

    // One HTML file: a section per topic in the same order, ids unique over the
    // whole file, every "#" link leading to one of them, images as data URLs.
    std::string html = root_ + "/made.html";
    run = Run({"export", "-o", html, file_});
    ASSERT_EQ(run.status, 0) << run.err;
    std::string text = ReadText(html);
    size_t t0 = text.find("<section class=\"topic\" id=\"t0\""), t1 = text.find("id=\"t1\""),
           t2 = text.find("id=\"t2\"");
    EXPECT_TRUE(t0 != std::string::npos && t0 < t1 && t1 < t2 && t2 != std::string::npos);
    Links links = Scan(text);
    for (const std::string& target : links.targets) {
        if (target[0] == '#') {
            EXPECT_TRUE(links.ids.count(target.substr(1))) << target;
        } else if (target.rfind("https:", 0) != 0) {
            EXPECT_EQ(target.rfind("data:image/gif;base64,", 0), 0u) << target;
        }
    }
    EXPECT_TRUE(links.ids.count("t0-top") && links.ids.count("t0-top_2"));

    // Text: the contents' titles as headings, underlined by their level.
    run = Run({"export", "--to", "text", "-o", "-", file_});
    ASSERT_EQ(run.status, 0) << run.err;
    size_t first = run.out.find("Start\n=====\n"), part = run.out.find("\nPart\n====\n"),
           second = run.out.find("\nBee\n---\n\nsection"),
           third = run.out.find("\nNot in the contents\n===");
    EXPECT_TRUE(first == 0 && part > first && second > part && third > second &&
                third != std::string::npos)
        << run.out;

    // Markdown through pandoc, when it is there.
    if (system("command -v pandoc >/dev/null") != 0)
        GTEST_SKIP() << "pandoc is not installed";
    run = Run({"export", "--to", "markdown", "-o", "-", file_});
    ASSERT_EQ(run.status, 0) << run.err;
    size_t start = run.out.find("## <span id=\"t0\"></span>Start"),
           bee = run.out.find("<span id=\"t1\"></span>Bee\n"),
           rest = run.out.find("<span id=\"t2\"></span>Not in the contents");
    EXPECT_TRUE(start != std::string::npos && start < bee && bee < rest &&
                rest != std::string::npos)
        << run.out;
    // A file per topic, numbered in order, linking to each other.
    std::string split = root_ + "/split";
    run = Run({"export", "--split", split, file_});
    ASSERT_EQ(run.status, 0) << run.err;
    std::set<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(split))
        names.insert(entry.path().filename().string());
    EXPECT_EQ(names,
              (std::set<std::string> {"0001-a.md", "0002-part.md", "0003-sub-b.md", "0004-c.md"}));
    EXPECT_NE(ReadText(split + "/0001-a.md").find("[to b](0003-sub-b.md#t1-sec)"),
              std::string::npos)
        << ReadText(split + "/0001-a.md");
}

TEST_F(ExportTest, CorpusTopicsComeOnceInContentsOrderInEveryFormat)
{
    std::string help = SharedDir() + "/corpus/chm/ISPP.chm";
    if (SharedDir().empty() || access(help.c_str(), R_OK) != 0)
        GTEST_SKIP() << "no shared corpus";
    // JSON lines give the order: every page once.
    RunResult run = Run({"export", "--to", "jsonl", "-o", "-", help});
    ASSERT_EQ(run.status, 0) << run.err;
    std::vector<std::string> pages;
    std::set<std::string> seen;
    for (const std::string& line : Lines(run.out)) {
        std::string page = nlohmann::json::parse(line)["page"];
        EXPECT_TRUE(seen.insert(page).second) << page << " twice";
        pages.push_back(page);
    }
    size_t stored = 0;
    for (const auto& [name, bytes] : StoredFiles(help))
        stored += name.size() > 4 && name.compare(name.size() - 4, 4, ".htm") == 0;
    EXPECT_EQ(pages.size(), stored);
    // The contents' pages first, in their order.
    std::map<std::string, std::string> files = StoredFiles(help);
    Sitemap map;
    std::string hhc;
    for (const auto& [name, bytes] : files)
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".hhc") == 0)
            hhc = bytes;
    ASSERT_TRUE(ParseSitemap((const uint8_t*)hhc.data(), (uint32_t)hhc.size(), &map));
    std::vector<std::string> named;
    for (uint32_t e = 0; e < map.entryCount; ++e) {
        if (map.entries[e].targetCount == 0)
            continue;
        std::string local = SitemapText(&map, map.targets[map.entries[e].firstTarget].local);
        local = "/" + local.substr(0, local.find('#'));
        if (std::find(named.begin(), named.end(), local) == named.end())
            named.push_back(local);
    }
    ReleaseSitemap(&map);
    ASSERT_LE(named.size(), pages.size());
    EXPECT_EQ(std::vector<std::string>(pages.begin(), pages.begin() + (long)named.size()), named);

    // HTML and Markdown: the same topics, once each, in that order.
    run = Run({"export", "--to", "html", "-o", "-", help});
    ASSERT_EQ(run.status, 0) << run.err;
    std::string previous;
    size_t at = 0, sections = 0;
    for (size_t p = 0; p < pages.size(); ++p) {
        std::string id = "<section class=\"topic\" id=\"t" + std::to_string(p) + "\"";
        size_t found = run.out.find(id);
        ASSERT_NE(found, std::string::npos) << id;
        EXPECT_GT(found, at);
        EXPECT_EQ(run.out.find(id, found + 1), std::string::npos) << id << " twice";
        at = found;
        ++sections;
    }
    EXPECT_EQ(sections, pages.size());
    if (system("command -v pandoc >/dev/null") != 0)
        GTEST_SKIP() << "pandoc is not installed";
    run = Run({"export", "--to", "markdown", "-o", "-", help});
    ASSERT_EQ(run.status, 0) << run.err;
    at = 0;
    for (size_t p = 0; p < pages.size(); ++p) {
        std::string id = "<span id=\"t" + std::to_string(p) + "\"></span>";
        size_t found = run.out.find(id);
        ASSERT_NE(found, std::string::npos) << id;
        EXPECT_GT(found, at);
        EXPECT_EQ(run.out.find(id, found + 1), std::string::npos) << id << " twice";
        at = found;
    }
}

TEST_F(ExportTest, ChineseAndWindows1252HelpFilesComeOutInUtf8)
{
    std::string makeChm = SharedDir() + "/tools/make-chm";
    if (SharedDir().empty() ||
        system(("command -v chmcmd >/dev/null && test -x " + makeChm).c_str()))
        GTEST_SKIP() << "needs chmcmd (fp-utils) and the shared make-chm";
    const struct {
        const char* language;
        std::string title, body;  // in the language's code page
        std::string utf8Title, utf8Body;
    } books[] = {
        {"0x804", "\xb0\xef\xd6\xfa\xa3\xba\xbf\xaa\xca\xbc", "\xb0\xef\xd6\xfa\xce\xc4\xbc\xfe",
         "帮助：开始", "帮助文件"},
        {"0x40c", "Caf\xe9 na\xefve",
         "cr\xe8me br\xfbl\xe9"
         "e \x93quoted\x94 \x80",
         "Café naïve", "crème brûlée “quoted” €"},
    };
    for (const auto& book : books) {
        std::string folder = root_ + "/html" + book.language;
        fs::create_directories(folder);
        WriteText(folder + "/a.htm",
                  "<html><head><title>" + book.title + "</title></head><body><p>" + book.body +
                      "</p></body></html>");
        std::string file = root_ + "/" + book.language + ".chm";
        ASSERT_EQ(system((makeChm + " --language " + book.language + " '" + folder + "' '" + file +
                          "' >/dev/null")
                             .c_str()),
                  0);
        RunResult run = Run({"export", "--to", "jsonl", "-o", "-", file});
        ASSERT_EQ(run.status, 0) << run.err;
        nlohmann::json topic = nlohmann::json::parse(run.out);
        EXPECT_EQ(topic["title"], book.utf8Title);
        EXPECT_EQ(topic["text"], book.utf8Body + "\n");
        std::string epub = root_ + "/" + book.language + ".epub";
        run = Run({"export", "-o", epub, file});
        ASSERT_EQ(run.status, 0) << run.err;
        for (const ZipEntry& entry : Unzip(epub))
            if (entry.name == "EPUB/p0.xhtml") {
                EXPECT_NE(entry.bytes.find("<title>" + book.utf8Title + "</title>"),
                          std::string::npos);
                EXPECT_NE(entry.bytes.find("<p>" + book.utf8Body + "</p>"), std::string::npos);
            }
    }
}

namespace {

// A folder on a 64 KB tmpfs, as root; a refused mount fails the test as root
// and skips it otherwise.
class FullDiskTest : public ExportTest {
protected:
    void SetUp() override
    {
        ExportTest::SetUp();
        if (IsSkipped())
            return;
        disk_ = root_ + "/disk";
        fs::create_directory(disk_);
        if (mount("tmpfs", disk_.c_str(), "tmpfs", 0, "size=64k") != 0) {
            std::string why = std::string("cannot mount a tmpfs: ") + strerror(errno);
            if (geteuid() == 0)
                FAIL() << why << " (running as root, where the mount must work)";
            GTEST_SKIP() << why << " (not root)";
        }
        mounted_ = true;
    }
    void TearDown() override
    {
        if (mounted_)
            umount2(disk_.c_str(), MNT_DETACH);
        ExportTest::TearDown();
    }
    std::string disk_;
    bool mounted_ = false;
};

}  // namespace

TEST_F(FullDiskTest, OutputCutByAFullDiskIsRemovedAndReported)
{
    std::string help = SharedDir() + "/corpus/chm/ISetup.chm";
    if (SharedDir().empty() || access(help.c_str(), R_OK) != 0)
        GTEST_SKIP() << "no shared corpus";
    // What was there before stays as it was.
    for (const char* format : {"epub", "html", "jsonl"}) {
        std::string output = disk_ + "/book." + format;
        WriteText(output, "kept");
        RunResult run = Run({"export", "-o", output, help});
        EXPECT_EQ(run.status, 1) << format;
        EXPECT_EQ(Lines(run.err).size(), 1u) << run.err;
        EXPECT_NE(run.err.find("No space left on device"), std::string::npos) << run.err;
        EXPECT_EQ(ReadText(output), "kept");
        std::vector<std::string> left;
        for (const fs::directory_entry& entry : fs::directory_iterator(disk_))
            left.push_back(entry.path().filename().string());
        EXPECT_EQ(left, std::vector<std::string> {std::string("book.") + format}) << format;
        fs::remove(output);
    }
}

TEST_F(ExportTest, HostileHelpFilesGiveABookOrAFailureWithNothingLeft)
{
    if (MalformedHelpFiles().empty())
        GTEST_SKIP() << "no shared corpus";
    // Those the container reader refuses, or whose pages cannot be read, fail;
    // the others hold readable pages behind their damage and give a book.
    const std::set<std::string> failing = {"cve-2017-6419-lzx-negative-spaninfo.chm",
                                           "cve-2018-14680-blank-filenames.chm",
                                           "cve-2018-18585-blank-filenames.chm"};
    for (const std::string& help : MalformedHelpFiles()) {
        std::string name = BaseName(help), epub = root_ + "/out/" + name + ".epub";
        fs::create_directories(root_ + "/out");
        RunResult run = Run({"export", "-o", epub, help});
        if (failing.count(name)) {
            EXPECT_EQ(run.status, 1) << name << ": " << run.err;
            EXPECT_TRUE(fs::is_empty(root_ + "/out")) << name;
        } else {
            EXPECT_EQ(run.status, 0) << name << ": " << run.err;
            EXPECT_EQ(BrokenLinks(Unzip(epub)), std::vector<std::string> {}) << name;
        }
        fs::remove_all(root_ + "/out");
    }
}

TEST_F(ExportTest, CommandLineMistakesAreUsageErrors)
{
    std::string help = root_ + "/x.chm";
    ASSERT_TRUE(WriteBytes(help, MakeHelpFile({{"/a.htm", Bytes("<p>a</p>"), 1}})));
    const std::vector<std::vector<std::string>> mistakes = {
        {"export", "--to", "pdf", help},
        {"export", "-o", root_ + "/x.doc", help},
        {"export", "--to", "epub", "--split", root_ + "/parts", help},
        {"export", "--to", "text", "--assets", root_ + "/images", help},
        {"export", "-o", "-", help},
    };
    for (const std::vector<std::string>& args : mistakes)
        EXPECT_USAGE_ERROR(Run(args));
    EXPECT_FALSE(fs::exists(root_ + "/parts") || fs::exists(root_ + "/images"));
}

TEST(ExportMarkup, BrokenPagesBecomeWellFormedXhtml)
{
    const struct {
        const char* page;
        const char* body;
    } cases[] = {
        {"<p><b>bold<p>next", "<p><b>bold</b></p><p><b>next</b></p>"},
        {"<font color=red>x</font><center>c</center><tt>t</tt>", "x<div>c</div><code>t</code>"},
        {"<a name=\"my anchor\">a</a><a name=\"my anchor\">b</a><p id=\"1\">c</p>",
         "<a id=\"my_anchor\">a</a><a id=\"my_anchor_2\">b</a><p id=\"a1\">c</p>"},
        {"<li>loose</li><ul>text<li>item</ul>",
         "<div>loose</div><ul><li>text</li><li>item</li></ul>"},
        {"<script>bad()</script><p onclick=\"x()\" style=\"color:red\">p</p><input value=1>",
         "<p style=\"color:red\">p</p>"},
        {"<span><div>block</div></span>", "<div><div>block</div></div>"},
        {"<img src=\"gone.gif\" alt=\"A &amp; B\">", "A &amp; B"},
        {"<p>\x01text\x0c</p>", "<p>\xef\xbf\xbdtext</p>"},
    };
    MarkupPolicy policy;
    for (const auto& c : cases) {
        HtmlDocument document(c.page);
        EXPECT_EQ(CleanHtml(document, policy).body, c.body) << c.page;
    }
    // Nesting far deeper than any page: written without recursion past a
    // fixed depth, the text kept, every element closed.
    std::string deep;
    for (int i = 0; i < 20000; ++i)
        deep += "<div>";
    deep += "deep";
    HtmlDocument document(deep);
    std::string body = CleanHtml(document, policy).body;
    size_t opened = 0, closed = 0;
    for (size_t at = body.find("<div>"); at != std::string::npos; at = body.find("<div>", at + 1))
        ++opened;
    for (size_t at = body.find("</div>"); at != std::string::npos; at = body.find("</div>", at + 1))
        ++closed;
    EXPECT_EQ(opened, closed);
    EXPECT_NE(body.find("deep"), std::string::npos);
}
