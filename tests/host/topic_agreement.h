// One help file and one table of keywords for every reader that offers the
// topics matching a keyword (topics, index, fulltext, help, browse, and any
// later one such as the viewer's index filter): each reader is driven with
// the same table and must offer the same entries, in the same order.
#pragma once

#include <string>
#include <vector>

#include "lookup/fulltext_builder.h"
#include "lookup/keyword_builder.h"
#include "support/chm_writer.h"

// What a keyword matches: the source that answers (help's order: titles,
// else the keyword index, else the full-text index) and the entries that
// begin with it there, with the page each opens (page content = its name).
struct AgreementCase {
    const char* keyword;               // UTF-8, as typed
    const char* source;                // "topics", "index" or "fulltext": the listing that answers
    std::vector<std::string> entries;  // as that listing prints them, in order
    std::vector<std::string> pages;    // the page each entry opens, "page.htm[#anchor]"
};

// ASCII and not, letter case varied. Titles and index entries begin with
// "Émile", "émile", "Ölfarbe", "Zola"; only the full-text index holds
// "scanner".
inline const std::vector<AgreementCase>& AgreementCases()
{
    static const std::vector<AgreementCase> cases = {
        {"\xC3\xA9mile",  // émile
         "topics",
         {"\xC3\x89mile page", "\xC3\xA9mile, la suite"},
         {"emile.htm#top", "suite.htm"}},
        {"\xC3\x89MILE P", "topics", {"\xC3\x89mile page"}, {"emile.htm#top"}},
        {"emb", "topics", {"Emblem"}, {"emblem.htm"}},
        {"zo", "index", {"Zola", "Zola", "zoom"}, {"emile.htm#top", "suite.htm", "emblem.htm"}},
        {"ZOLA", "index", {"Zola", "Zola"}, {"emile.htm#top", "suite.htm"}},
        {"\xC3\xB6lf",  // ölf: an index entry beyond ASCII
         "index",
         {"\xC3\x96lfarbe"},
         {"oel.htm"}},
        {"SCANN", "fulltext", {"Emblem", "\xC3\x96l"}, {"emblem.htm", "oel.htm"}},
        {"zebra", "topics", {}, {}},
    };
    return cases;
}

// The help file the table describes: a topic index, a compiled keyword
// index and a full-text index, each page holding its own name.
inline std::vector<uint8_t> AgreementHelpFile()
{
    std::vector<StoredFile> files = IndexFiles(BuildIndex({{"\xC3\x89mile page", "emile.htm#top"},
                                                           {"\xC3\xA9mile, la suite", "suite.htm"},
                                                           {"Emblem", "emblem.htm"},
                                                           {"\xC3\x96l", "oel.htm"}}));
    files.push_back({"/$WWKeywordLinks/BTree",
                     BuildBTree({{u"Zola", {0, 1}}, {u"zoom", {2}}, {u"\u00D6lfarbe", {3}}}), 1});
    files.push_back({"/$FIftiMain", BuildFullText({{"scanner", {{2}, {3}}}}).bytes, 1});
    for (const char* page : {"emile.htm", "suite.htm", "emblem.htm", "oel.htm"})
        files.push_back({std::string("/") + page, Bytes(page), 1});
    return MakeHelpFile(files);
}
