// Benchmarks of the text pipeline (Google Benchmark), each figure in MB/s of
// page bytes beside peers run over the same pages in the same run:
//  - ReadPageText (the page's charset to UTF-8, its title and visible text)
//    on the pages of Debian's Python 3.11 documentation as they are (UTF-8),
//    and the same pages in Windows-1252 (the text unit's table) and in
//    Windows-1251 (the system's converter: iconv on Linux);
//  - the terms of the search index made from them (an index build's work);
//  - peers: copying the pages (the memory's own speed), libxml2's HTML parser
//    collecting the text nodes, and the host's renderer.
//
// Pages: every *.html below $VELKORY_BENCH_PAGES (default
// /usr/share/doc/python3.11/html). The figures are of processor time: the
// work is one thread's, and a busy machine stretches the wall time alone.
#include <benchmark/benchmark.h>

#include <iconv.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "host/page/page.h"
#if VELKORY_BENCH_SEARCH
#include <xapian.h>

#include "host/search/search.h"
#endif
#if VELKORY_BENCH_LIBXML2
#include <libxml/HTMLparser.h>
#endif

namespace {

struct Pages {
    std::vector<std::string> pages;
    size_t bytes = 0;
};

// The pages, in encoding ("" as they are, else through iconv, characters the
// encoding lacks left out).
Pages LoadPages(const char* encoding)
{
    Pages result;
    const char* dir = getenv("VELKORY_BENCH_PAGES");
    std::filesystem::path root = dir ? dir : "/usr/share/doc/python3.11/html";
    std::error_code error;
    for (auto it = std::filesystem::recursive_directory_iterator(root, error);
         it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
        if (error || it->path().extension() != ".html")
            continue;
        std::ifstream in(it->path(), std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        std::string page = text.str();
        if (*encoding != '\0') {
            iconv_t converter = iconv_open(encoding, "UTF-8");
            std::string out(page.size() + 16, '\0');
            char* inPointer = page.data();
            size_t inLeft = page.size();
            char* outPointer = out.data();
            size_t outLeft = out.size();
            while (inLeft > 0 &&
                   iconv(converter, &inPointer, &inLeft, &outPointer, &outLeft) == (size_t)-1) {
                ++inPointer;  // a character the encoding lacks
                --inLeft;
            }
            iconv_close(converter);
            out.resize(out.size() - outLeft);
            page = out;
            // Read in the help file's language, as pages that declare nothing.
            size_t declared = page.find("<meta charset=\"utf-8\" />");
            if (declared != std::string::npos)
                page.erase(declared, 24);
        }
        result.bytes += page.size();
        result.pages.push_back(std::move(page));
    }
    return result;
}

const Pages& Utf8Pages()
{
    static Pages pages = LoadPages("");
    return pages;
}

const Pages& Windows1252Pages()
{
    static Pages pages = LoadPages("WINDOWS-1252");
    return pages;
}

const Pages& Windows1251Pages()
{
    static Pages pages = LoadPages("WINDOWS-1251");
    return pages;
}

void PageTextOf(benchmark::State& state, const Pages& pages, unsigned fallbackCodePage)
{
    if (pages.pages.empty()) {
        state.SkipWithError("no pages: set VELKORY_BENCH_PAGES or install python3.11-doc");
        return;
    }
    for (auto _ : state) {
        size_t text = 0;
        for (const std::string& page : pages.pages)
            text += ReadPageText(page, fallbackCodePage).text.size();
        benchmark::DoNotOptimize(text);
    }
    state.SetBytesProcessed((int64_t)(state.iterations() * pages.bytes));
}

void BM_PageText_Utf8(benchmark::State& state)
{
    PageTextOf(state, Utf8Pages(), 1252);
}
BENCHMARK(BM_PageText_Utf8)->Unit(benchmark::kMillisecond);

// The Python pages declare UTF-8; in another charset they say nothing and are
// read in the help file's language.
void BM_PageText_Windows1252(benchmark::State& state)
{
    PageTextOf(state, Windows1252Pages(), 1252);
}
BENCHMARK(BM_PageText_Windows1252)->Unit(benchmark::kMillisecond);

void BM_PageText_Windows1251(benchmark::State& state)
{
    PageTextOf(state, Windows1251Pages(), 1251);
}
BENCHMARK(BM_PageText_Windows1251)->Unit(benchmark::kMillisecond);

#if VELKORY_BENCH_SEARCH
// The pages' terms for the search index (the work of an index build's
// workers): their text, then their words folded, stemmed and weighted.
void BM_SearchTerms_Utf8(benchmark::State& state)
{
    const Pages& pages = Utf8Pages();
    PageTerms terms("english");
    for (auto _ : state) {
        size_t count = 0;
        for (const std::string& page : pages.pages) {
            PageText text = ReadPageText(page, 1252);
            Xapian::Document document;
            terms.Fill(document, text.title, text.text, false);
            count += document.termlist_count();
        }
        benchmark::DoNotOptimize(count);
    }
    state.SetBytesProcessed((int64_t)(state.iterations() * pages.bytes));
}
BENCHMARK(BM_SearchTerms_Utf8)->Unit(benchmark::kMillisecond);
#endif

// Peers.

void BM_Peer_CopyPages(benchmark::State& state)
{
    const Pages& pages = Utf8Pages();
    for (auto _ : state) {
        for (const std::string& page : pages.pages) {
            std::string copy = page;
            benchmark::DoNotOptimize(copy.data());
        }
    }
    state.SetBytesProcessed((int64_t)(state.iterations() * pages.bytes));
}
BENCHMARK(BM_Peer_CopyPages)->Unit(benchmark::kMillisecond);

#if VELKORY_BENCH_LIBXML2
void CollectText(xmlNode* node, std::string& out)
{
    for (; node != nullptr; node = node->next) {
        if (node->type == XML_TEXT_NODE && node->content != nullptr)
            out += (const char*)node->content;
        else if (node->type == XML_ELEMENT_NODE &&
                 xmlStrcasecmp(node->name, (const xmlChar*)"script") != 0 &&
                 xmlStrcasecmp(node->name, (const xmlChar*)"style") != 0)
            CollectText(node->children, out);
    }
}

void BM_Peer_Libxml2Text(benchmark::State& state)
{
    const Pages& pages = Utf8Pages();
    for (auto _ : state) {
        size_t text = 0;
        for (const std::string& page : pages.pages) {
            htmlDocPtr doc =
                htmlReadMemory(page.data(), (int)page.size(), nullptr, "UTF-8",
                               HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING | HTML_PARSE_NONET);
            std::string out;
            if (doc != nullptr)
                CollectText(xmlDocGetRootElement(doc), out);
            xmlFreeDoc(doc);
            text += out.size();
        }
        benchmark::DoNotOptimize(text);
    }
    state.SetBytesProcessed((int64_t)(state.iterations() * pages.bytes));
}
BENCHMARK(BM_Peer_Libxml2Text)->Unit(benchmark::kMillisecond);
#endif

void BM_Peer_Renderer(benchmark::State& state)
{
    const Pages& pages = Utf8Pages();
    for (auto _ : state) {
        size_t text = 0;
        for (const std::string& page : pages.pages)
            text += RenderHtmlToText(page, 78, 1252).size();
        benchmark::DoNotOptimize(text);
    }
    state.SetBytesProcessed((int64_t)(state.iterations() * pages.bytes));
}
BENCHMARK(BM_Peer_Renderer)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
