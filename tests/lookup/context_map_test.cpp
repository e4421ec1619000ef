// The context map and the A-link index: context IDs and alias names to pages,
// on help files built here and compiled by chmcmd, and maps that lie.
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "container/container.h"
#include "keyword_builder.h"
#include "lookup_fixture.h"

namespace fs = std::filesystem;

namespace {

// #IVB and #STRINGS from (ID, link) pairs, in this order; #STRINGS begins
// with an empty text as the compilers write it.
std::pair<std::vector<uint8_t>, std::vector<uint8_t>>
BuildMap(const std::vector<std::pair<uint32_t, std::string>>& entries)
{
    std::vector<uint8_t> map, strings(1, 0);
    Put32(map, 0, (uint32_t)entries.size() * 8);
    for (const auto& [id, link] : entries) {
        Put32(map, map.size(), id);
        Put32(map, map.size(), (uint32_t)strings.size());
        strings.insert(strings.end(), link.begin(), link.end());
        strings.push_back(0);
    }
    return {map, strings};
}

StoredFile Page(const std::string& name)
{
    return {name, Bytes("<html>" + name + "</html>"), 1};
}

// Links as chmcmd writes them (paths of the build machine) and as projects
// written for Windows give them.
const std::vector<std::pair<uint32_t, std::string>> Links = {
    {100, "/home/me/proj/html/intro.htm"},
    {2001, "html\\SETUP.htm#part"},
    {7, "C:\\build\\proj\\a%20b.htm"},
    {8, "mk:@MSITStore:C:\\help\\x.chm::/sub/deep.htm#end"},
    {100, "/home/me/proj/html/setup.htm"},
    {9, "http://example.com/html/intro.htm"},
    {10, "html/gone.htm"},
    {11, "html/"},
};

std::vector<StoredFile> MapFiles(const std::vector<std::pair<uint32_t, std::string>>& links)
{
    auto [map, strings] = BuildMap(links);
    return {{"/#IVB", map, 1},    {"/#STRINGS", strings, 1}, Page("/html/intro.htm"),
            Page("/intro.htm"),   Page("/html/setup.htm"),   Page("/a b.htm"),
            Page("/sub/deep.htm")};
}

std::string Target(const ContextTarget& target)
{
    return std::string(target.page) + "|" + target.anchor;
}

ContextMap View(std::vector<uint8_t>& map, std::vector<uint8_t>& strings)
{
    return {map.data(), (uint32_t)map.size(), strings.data(), (uint32_t)strings.size()};
}

#ifndef _WIN32
bool HaveChmcmd()
{
    return std::system("command -v chmcmd >/dev/null 2>&1") == 0;
}

void WriteText(const fs::path& path, const std::string& text)
{
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}
#endif

class ContextMapTest : public LookupTest { };

}  // namespace

TEST_F(ContextMapTest, IdsLeadToStoredPagesWithTheirAnchors)
{
    std::string help = Write("map.chm", MakeHelpFile(MapFiles(Links)));
    const std::pair<uint32_t, const char*> cases[] = {
        {100, "/html/intro.htm|"},       // the longest stored tail; the first pair of an ID counts
        {2001, "/html/setup.htm|part"},  // backslashes, another case
        {7, "/a b.htm|"},                // %XX escapes
        {8, "/sub/deep.htm|end"},        // the help file's own path before "::"
        {9, "|"},                        // another scheme
        {10, "|"},                       // a page that is not stored
        {11, "|"},                       // a folder
        {12, "|"},                       // no such ID
    };
    for (const auto& [id, expected] : cases) {
        SCOPED_TRACE(id);
        ContextTarget target;
        EXPECT_EQ(FindContextPage(help.c_str(), id, &target), expected[0] == '/');
        EXPECT_EQ(Target(target), expected);
    }
}

TEST_F(ContextMapTest, MapsThatLieLeadNowhere)
{
    auto [map, strings] = BuildMap({{1, "a.htm"}, {2, "b.htm"}});
    struct Lie {
        const char* what;
        std::vector<uint8_t> map, strings;
        uint32_t id;
        const char* link;  // nullptr: not found
    };
    std::vector<uint8_t> huge = map, declaredOne = map, cut = map, pastEnd = map, atEnd = map;
    Put32(huge, 0, 0xFFFFFFF8u);
    Put32(declaredOne, 0, 8);
    cut.resize(4 + 8 + 7);
    Put32(pastEnd, 8, 0xFFFFFFFFu);
    Put32(atEnd, 8, (uint32_t)strings.size());
    std::vector<uint8_t> unterminated = strings;
    unterminated.pop_back();
    std::vector<uint8_t> empty = strings;
    empty[1] = 0;
    std::vector<uint8_t> tooLong(1 + NameBufferSize, 'x');
    tooLong[0] = 0;
    const Lie lies[] = {
        {"as written", map, strings, 2, "b.htm"},
        {"no map at all", {}, strings, 1, nullptr},
        {"cut inside the length", {8, 0, 0}, strings, 1, nullptr},
        {"a huge length: the pairs the file holds", huge, strings, 2, "b.htm"},
        {"a length of one pair hides the second", declaredOne, strings, 2, nullptr},
        {"the second pair cut", cut, strings, 2, nullptr},
        {"text offset far past #STRINGS", pastEnd, strings, 1, nullptr},
        {"text offset at the end of #STRINGS", atEnd, strings, 1, nullptr},
        {"no terminator: the text ends with the data", map, unterminated, 2, "b.htm"},
        {"an empty text", map, empty, 1, nullptr},
        {"a text too long for a name", map, tooLong, 1, nullptr},
        {"no #STRINGS", map, {}, 1, nullptr},
    };
    for (Lie lie : lies) {
        SCOPED_TRACE(lie.what);
        ContextMap view = View(lie.map, lie.strings);
        char link[NameBufferSize];
        EXPECT_EQ(FindContextLink(&view, lie.id, link), lie.link != nullptr);
        EXPECT_STREQ(link, lie.link ? lie.link : "");
    }
}

TEST_F(ContextMapTest, DamagedHelpFilesHaveNoPage)
{
    std::vector<uint8_t> whole = MakeHelpFile(MapFiles(Links));
    std::vector<StoredFile> noStrings = MapFiles(Links);
    noStrings.erase(noStrings.begin() + 1);
    std::vector<StoredFile> noMap = MapFiles(Links);
    noMap.erase(noMap.begin());
    const std::pair<const char*, std::vector<uint8_t>> files[] = {
        {"cut in half", std::vector<uint8_t>(whole.begin(), whole.begin() + whole.size() / 2)},
        {"cut to its header", std::vector<uint8_t>(whole.begin(), whole.begin() + 0x60)},
        {"without #STRINGS", MakeHelpFile(noStrings)},
        {"without #IVB", MakeHelpFile(noMap)},
    };
    for (const auto& [what, bytes] : files) {
        SCOPED_TRACE(what);
        std::string help = Write("damaged.chm", bytes);
        ContextTarget target;
        EXPECT_EQ(FindContextPage(help.c_str(), 2001, &target), 0);
        EXPECT_EQ(Target(target), "|");
        EXPECT_EQ(FindAliasPage(help.c_str(), "IDH_SETUP", &target, "IDH_SETUP 2001", 14), 0);
    }
    ContextTarget target;
    EXPECT_EQ(FindContextPage(host.Path("missing.chm").c_str(), 1, &target), 0);
}

TEST_F(ContextMapTest, DefinitionsNameIdsAndLinks)
{
    const std::string text = "; an alias file\r\n"
                             "// IDH_GONE 5\n"
                             "#include \"map.h\"\n"
                             "  #define\tidh_a  0x20 // help on A\r\n"
                             "IDH_B 0x1F\n"
                             "IDH_C=5\n"
                             "IDH_D = html\\d.htm#x \r\n"
                             "#define IDH_E IDH_A\n"
                             "#define IDH_F 4294967296\n"
                             "#define IDH_G 12UL\n"
                             "#define IDH_NEG -3\n"
                             "#define IDH_LOW -2147483649\n"
                             "IDH_H some words\n"
                             "IDH_C=6\n"
                             "IDH_LAST=last.htm";
    const std::pair<const char*, const char*> cases[] = {
        {"IDH_A", "id 32"},   {"IDH_B", "id 31"},
        {"IDH_C", "id 5"},    {"idh_d", "link html\\d.htm#x"},
        {"IDH_E", "none"},    {"IDH_F", "none"},
        {"IDH_G", "id 12"},   {"IDH_NEG", "id 4294967293"},
        {"IDH_LOW", "none"},  {"IDH_H", "none"},
        {"IDH_GONE", "none"}, {"map.h", "none"},
        {"IDH", "none"},      {"IDH_LAST", "link last.htm"},
        {"", "none"},
    };
    for (const auto& [name, expected] : cases) {
        SCOPED_TRACE(name);
        uint32_t id = 0;
        char link[NameBufferSize] = "";
        int kind = FindContextName(text.data(), (uint32_t)text.size(), name, &id, link);
        std::string got = kind == ContextNameId ? "id " + std::to_string(id)
            : kind == ContextNameLink           ? std::string("link ") + link
                                                : "none";
        EXPECT_EQ(got, expected);
    }
}

TEST_F(ContextMapTest, AliasesThroughStoredHeadersOrTheCallersDefinitions)
{
    std::vector<StoredFile> files = MapFiles(Links);
    files.push_back({"/notes.txt", Bytes("IDH_INTRO=sub/deep.htm\n"), 1});
    files.push_back({"/ctx/Map.H", Bytes("#define IDH_INTRO 100\n#define IDH_MISSING 12\n"), 0});
    files.push_back({"/ctx/alias.ali", Bytes("IDH_DEEP=sub\\deep.htm#top\n"), 1});
    std::string help = Write("alias.chm", MakeHelpFile(files));
    const std::string mine = "IDH_INTRO=html/setup.htm\nIDH_SEVEN 7\n";
    struct Case {
        const char* alias;
        bool stored;  // through the stored headers, else through mine
        const char* expected;
    };
    const Case cases[] = {
        {"IDH_INTRO", true, "/html/intro.htm|"},
        {"idh_deep", true, "/sub/deep.htm|top"},
        {"IDH_MISSING", true, "|"},
        {"IDH_SEVEN", true, "|"},
        {"IDH_INTRO", false, "/html/setup.htm|"},
        {"IDH_SEVEN", false, "/a b.htm|"},
        {"IDH_DEEP", false, "|"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.alias) + (c.stored ? " stored" : " given"));
        ContextTarget target;
        int found = c.stored
            ? FindAliasPage(help.c_str(), c.alias, &target)
            : FindAliasPage(help.c_str(), c.alias, &target, mine.data(), (uint32_t)mine.size());
        EXPECT_EQ(found, c.expected[0] == '/');
        EXPECT_EQ(Target(target), c.expected);
    }
}

TEST_F(ContextMapTest, ALinksAreReadAsTheCompiledKeywordIndexIs)
{
    TestIndex topics = BuildIndex(
        {{"Intro", "html/intro.htm"}, {"Setup", "html/setup.htm#part"}, {"Deep", "sub/deep.htm"}});
    TopicIndex view = TopicIndexView(topics);
    std::vector<StoredFile> files = IndexFiles(topics);
    files.push_back({"/$WWAssociativeLinks/BTree",
                     BuildBTree({{u"Related", {0, 1}}, {u"Setup_ALink", {1}}}), 1});
    files.push_back({"/$WWKeywordLinks/BTree", BuildBTree({{u"intro", {0}}}), 1});
    files.push_back({"/index.hhk", Bytes(SitemapObject("sitemap", {{"", "sub/deep.htm"}})), 1});
    std::string withLinks = Write("alinks.chm", MakeHelpFile(files));
    files.erase(files.begin() + 4);
    std::string without = Write("noalinks.chm", MakeHelpFile(files));
    std::vector<uint8_t> damaged = BuildBTree({{u"Related", {0}}});
    damaged[0] = 0;
    files.push_back({"/$WWAssociativeLinks/BTree", damaged, 1});
    std::string badLinks = Write("badalinks.chm", MakeHelpFile(files));

    const std::pair<std::string, std::string> cases[] = {
        {withLinks,
         "Related /html/intro.htm ; Related /html/setup.htm part ; "
         "Setup_ALink /html/setup.htm part ; "},
        {without, ""},  // no A-links, and the sitemap is no fallback for them
        {badLinks, ""},
    };
    for (const auto& [path, expected] : cases) {
        SCOPED_TRACE(path);
        KeywordIndex index;
        ASSERT_EQ(ReadAssociativeLinks(path.c_str(), &view, &index), 1);
        std::string got;
        for (uint32_t t = 0; t < index.count; ++t) {
            const KeywordTarget& k = index.targets[t];
            got += std::string(KeywordText(&index, k.keyword)) + " " + KeywordText(&index, k.page) +
                (k.anchor != NoText ? std::string(" ") + KeywordText(&index, k.anchor) : "") +
                " ; ";
        }
        EXPECT_EQ(got, expected);
        ReleaseKeywordIndex(&index);
    }
    // The keyword index of the same file is its own.
    KeywordIndex keywords;
    ASSERT_EQ(ReadKeywordIndex(withLinks.c_str(), &view, &keywords), 1);
    ASSERT_EQ(keywords.count, 1u);
    EXPECT_STREQ(KeywordText(&keywords, keywords.targets[0].keyword), "intro");
    ReleaseKeywordIndex(&keywords);
    KeywordIndex none;
    EXPECT_EQ(ReadAssociativeLinks(host.Path("missing.chm").c_str(), &view, &none), 0);
}

TEST_F(ContextMapTest, ChmcmdCompiledIdsAndAliasesOpenTheirPages)
{
#ifdef _WIN32
    GTEST_SKIP() << "chmcmd is not run from the Windows build";
#else
    if (!HaveChmcmd())
        GTEST_SKIP() << "chmcmd (fp-utils) is not installed";
    fs::path project = host.Path("project");
    for (const char* page : {"html/intro.htm", "html/setup.htm", "html/sub/deep.htm", "usage.htm"})
        WriteText(project / page,
                  std::string("<html><head><title>") + page + "</title></head><body>" + page +
                      "</body></html>\n");
    WriteText(project / "map.h", "#define IDH_DEEP 0x20\n#define IDH_FAR 300\n");
    WriteText(project / "alias.h", "IDH_DEEP=html/sub/deep.htm\nIDH_FAR=usage.htm\n");
    const std::string aliases = "IDH_INTRO=html/intro.htm\nIDH_SETUP = html/setup.htm\n"
                                "#include alias.h\n";
    WriteText(project / "p.hhp",
              "[OPTIONS]\nCompatibility=1.1 or later\nCompiled file=p.chm\n"
              "Default topic=html/intro.htm\nLanguage=0x409\nTitle=Context\n\n[ALIAS]\n" +
                  aliases +
                  "\n[MAP]\n#define IDH_INTRO 100\n#define IDH_SETUP 2001\n"
                  "#include map.h\n\n[FILES]\nhtml/intro.htm\nhtml/setup.htm\n"
                  "html/sub/deep.htm\nusage.htm\nmap.h\n");
    std::string compile = "cd '" + project.string() + "' && chmcmd p.hhp >/dev/null 2>&1";
    ASSERT_EQ(std::system(compile.c_str()), 0);
    std::string help = (project / "p.chm").string();

    const std::pair<uint32_t, const char*> ids[] = {{100, "/html/intro.htm"},
                                                    {2001, "/html/setup.htm"},
                                                    {32, "/html/sub/deep.htm"},
                                                    {300, "/usage.htm"},
                                                    {5, ""}};
    for (const auto& [id, page] : ids) {
        SCOPED_TRACE(id);
        ContextTarget target;
        EXPECT_EQ(FindContextPage(help.c_str(), id, &target), page[0] != '\0');
        EXPECT_STREQ(target.page, page);
    }
    // map.h is stored; the [ALIAS] lines are not, so they are given.
    const std::pair<const char*, const char*> names[] = {
        {"IDH_DEEP", "/html/sub/deep.htm"}, {"IDH_FAR", "/usage.htm"}, {"IDH_SETUP", ""}};
    for (const auto& [name, page] : names) {
        SCOPED_TRACE(name);
        ContextTarget target;
        EXPECT_EQ(FindAliasPage(help.c_str(), name, &target), page[0] != '\0');
        EXPECT_STREQ(target.page, page);
    }
    ContextTarget target;
    EXPECT_EQ(
        FindAliasPage(help.c_str(), "IDH_SETUP", &target, aliases.data(), (uint32_t)aliases.size()),
        1);
    EXPECT_STREQ(target.page, "/html/setup.htm");
#endif
}
