// The container commands (list, cat, extract, test) on the shared corpus and
// on hostile names, and clean on the temporary directory.
#include "host_runner.h"

#include <sys/time.h>

#include <algorithm>
#include <set>

#include "support/chm_writer.h"
#include "support/corpus.h"

namespace {

std::vector<uint8_t> Bytes(const std::string& text)
{
    return std::vector<uint8_t>(text.begin(), text.end());
}

std::string Sha256OfFile(const std::string& path)
{
    std::vector<uint8_t> data = ReadBytes(path);
    return Sha256Hex(data.data(), data.size());
}

// Every file below dir, as paths relative to it.
std::set<std::string> Tree(const std::string& dir)
{
    std::set<std::string> files;
    for (auto it = fs::recursive_directory_iterator(dir); it != fs::recursive_directory_iterator();
         ++it)
        files.insert(fs::relative(it->path(), dir).string() +
                     (it->is_directory() && !it->is_symlink() ? "/" : ""));
    return files;
}

TEST_F(HostTest, CorpusListsTestsCatsAndExtractsAsTheManifestsSay)
{
    if (SharedDir().empty())
        GTEST_SKIP() << "no shared corpus beside the source tree";
    for (const std::string& chm : CorpusHelpFiles()) {
        SCOPED_TRACE(chm);
        std::vector<ManifestEntry> manifest =
            ReadManifest(chm.substr(0, chm.size() - 4) + ".manifest");
        ASSERT_FALSE(manifest.empty());

        // list: section, offset, length and name of every entry.
        RunResult list = Run({"list", chm});
        ASSERT_EQ(list.status, 0) << list.err;
        std::map<std::string, std::pair<uint32_t, uint32_t>> listed;
        for (const std::string& line : Lines(list.out)) {
            std::vector<std::string> fields;
            size_t start = 0;
            for (int k = 0; k < 3; ++k) {
                size_t tab = line.find('\t', start);
                ASSERT_NE(tab, std::string::npos) << line;
                fields.push_back(line.substr(start, tab - start));
                start = tab + 1;
            }
            listed.emplace(
                line.substr(start),
                std::make_pair((uint32_t)std::stoul(fields[0]), (uint32_t)std::stoul(fields[2])));
        }
        size_t files = 0;
        uint64_t bytes = 0;
        for (const ManifestEntry& entry : manifest) {
            auto found = listed.find(entry.name);
            ASSERT_NE(found, listed.end()) << entry.name;
            EXPECT_EQ(found->second.first, entry.section) << entry.name;
            EXPECT_EQ(found->second.second, entry.length) << entry.name;
            if (entry.name.back() != '/') {
                ++files;
                bytes += entry.length;
            }
        }

        // test: every file, every byte, on the default workers, one, or three.
        for (const char* jobs : {"", "-j1", "-j3"}) {
            RunResult test = Run(*jobs ? std::vector<std::string> {"test", jobs, chm}
                                       : std::vector<std::string> {"test", chm});
            EXPECT_EQ(test.status, 0) << test.out << test.err;
            EXPECT_NE(test.out.find("OK, " + std::to_string(files) + " files, " +
                                    std::to_string(bytes) + " bytes"),
                      std::string::npos)
                << jobs << test.out;
        }

        // extract: every manifest entry byte for byte.
        std::string dir = root_ + "/x";
        RunResult extract = Run({"extract", chm, dir});
        EXPECT_EQ(extract.status, 0) << extract.out << extract.err;
        for (const ManifestEntry& entry : manifest) {
            std::string path = dir + (entry.name[0] == '/' ? "" : "/") + entry.name;
            if (entry.name.back() == '/') {
                EXPECT_TRUE(fs::is_directory(path)) << entry.name;
                continue;
            }
            EXPECT_EQ(Sha256OfFile(path), entry.sha256) << entry.name;
        }
        fs::remove_all(dir);

        // cat: the biggest file.
        const ManifestEntry* biggest = &manifest[0];
        for (const ManifestEntry& entry : manifest)
            if (entry.length > biggest->length)
                biggest = &entry;
        RunResult cat = Run({"cat", chm, biggest->name});
        EXPECT_EQ(cat.status, 0) << cat.err;
        EXPECT_EQ(Sha256Hex(cat.out.data(), cat.out.size()), biggest->sha256) << biggest->name;
    }
}

TEST_F(HostTest, APrefixOfARealHelpFileIsCutShortForEveryCommand)
{
    if (SharedDir().empty())
        GTEST_SKIP() << "no shared corpus beside the source tree";
    const std::string real = SharedDir() + "/corpus/chm/ISetup.chm";
    std::vector<uint8_t> whole = ReadBytes(real);
    // Its directory takes bytes 120 to 24780; its compressed section's
    // stream, bytes 29660 to 374858, the end of the file.
    ASSERT_EQ(whole.size(), 374858u);
    const std::string past = " lies past the end, at ", ends = " ends at 24780, past the end, at ";
    const std::pair<size_t, std::string> prefixes[] = {
        {60, "the file has 60 bytes, fewer than its header's 92"},
        {96, "the directory at offset 120" + past + "96 bytes"},
        {100, "the directory at offset 120" + past + "100 bytes"},
        {200, "the directory at offset 120" + ends + "200 bytes"},
        {4096, "the directory at offset 120" + ends + "4096 bytes"},
        {200000,
         "the compressed section MSCompressed at offset 29660 ends at 374858, past the "
         "end, at 200000 bytes"},
    };
    for (const auto& [size, where] : prefixes) {
        const std::string chm = root_ + "/cut-" + std::to_string(size) + ".chm";
        const std::string line = "velkory: " + chm + ": cut short: " + where;
        ASSERT_TRUE(WriteBytes(chm, std::vector<uint8_t>(whole.begin(), whole.begin() + size)));
        const std::string dir = root_ + "/out";
        for (const std::vector<std::string>& args :
             std::vector<std::vector<std::string>> {{"test", chm},
                                                    {"list", chm},
                                                    {"extract", chm, dir},
                                                    {"topics", chm},
                                                    {"index", chm},
                                                    {"help", chm, "setup"}}) {
            SCOPED_TRACE(args[0] + " " + chm);
            RunResult r = Run(args, {{"VELKORY_EDITOR", "true"}});
            EXPECT_EQ(r.status, 1) << r.out;
            std::vector<std::string> said = Lines(r.err);
            ASSERT_FALSE(said.empty());
            // Said once, before any line about a single stored file.
            EXPECT_EQ(said[0], line);
            EXPECT_EQ(std::count(said.begin(), said.end(), line), 1);
            if (size < 29660) {
                EXPECT_EQ(said.size(), 1u) << r.err;
                EXPECT_EQ(r.out, "");
            }
        }
        // The stored files of the compressed section fail one by one; the
        // failed ones are not left in the directory.
        if (size == 200000) {
            RunResult test = Run({"test", chm});
            EXPECT_NE(test.out.find("FAILED /#TOPICS: "), std::string::npos) << test.out;
            EXPECT_FALSE(fs::exists(dir + "/#TOPICS"));
        }
        fs::remove_all(dir);
    }
}

TEST_F(HostTest, CatAndTestFailCleanly)
{
    std::string chm = root_ + "/small.chm";
    ASSERT_TRUE(WriteBytes(
        chm, MakeHelpFile({{"/a.htm", Bytes("alpha"), 0}, {"/b.htm", Bytes("beta"), 1}})));
    RunResult cat = Run({"cat", chm, "/b.htm"});
    EXPECT_EQ(cat.status, 0) << cat.err;
    EXPECT_EQ(cat.out, "beta");

    RunResult missing = Run({"cat", chm, "/B.htm"});  // names are exact
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.out, "");
    EXPECT_EQ(Lines(missing.err).size(), 1u) << missing.err;

    // A file cut short: its compressed section can no longer be extracted.
    std::vector<uint8_t> bytes = ReadBytes(chm);
    ASSERT_GT(bytes.size(), 64u);
    bytes.erase(bytes.end() - 8, bytes.end());
    ASSERT_TRUE(WriteBytes(chm, bytes));
    RunResult test = Run({"test", chm});
    EXPECT_EQ(test.status, 1) << test.out;
    EXPECT_NE(test.out.find("FAILED /b.htm"), std::string::npos) << test.out;

    RunResult absent = Run({"test", root_ + "/absent.chm"});
    EXPECT_EQ(absent.status, 1);
    EXPECT_EQ(Lines(absent.err).size(), 1u) << absent.err;
}

TEST_F(HostTest, ExtractNeverWritesOutsideItsDirectory)
{
    // Outside the target: a directory and a file that links point at.
    std::string outside = root_ + "/outside";
    fs::create_directories(outside);
    WriteText(outside + "/victim", "untouched");
    std::string dir = root_ + "/target";
    fs::create_directories(dir);
    fs::create_directory_symlink(outside, dir + "/link");
    fs::create_symlink(outside + "/victim", dir + "/victim-link");

    std::string chm = root_ + "/hostile.chm";
    ASSERT_TRUE(WriteBytes(chm,
                           MakeHelpFile({
                               {"/../escape1", Bytes("1"), 0},
                               {"/a/../../escape2", Bytes("2"), 1},
                               {"../escape3", Bytes("3"), 0},
                               {"/a/b/..", Bytes("4"), 1},
                               {"//abs//path.txt", Bytes("5"), 0},
                               {"/./dot.txt", Bytes("6"), 1},
                               {"/link/through-link", Bytes("7"), 0},
                               {"/victim-link", Bytes("8"), 1},
                               {"/dir/", {}, 0},
                               {"/dir/inner.txt", Bytes("9"), 1},
                               {"/::DataSpace/colon", Bytes("10"), 0},
                               {std::string("/nul\0/../../escape4", 19), Bytes("11"), 1},
                               {"/ok.txt", Bytes("12"), 0},
                               {"/ok.txt", Bytes("duplicate"), 1},
                           })));
    RunResult r = Run({"extract", chm, dir});
    EXPECT_EQ(r.status, 0) << r.out << r.err;

    // Nothing outside changed, nothing new appeared beside the target.
    EXPECT_EQ(ReadText(outside + "/victim"), "untouched");
    EXPECT_EQ(Tree(outside), std::set<std::string> {"victim"});
    std::set<std::string> rootNow;
    for (const auto& entry : fs::directory_iterator(root_))
        rootNow.insert(entry.path().filename().string());
    for (const std::string& name : rootNow)
        EXPECT_EQ(name.find("escape"), std::string::npos) << name;

    EXPECT_EQ(ReadText(dir + "/abs/path.txt"), "5");
    EXPECT_EQ(ReadText(dir + "/dot.txt"), "6");
    EXPECT_EQ(ReadText(dir + "/dir/inner.txt"), "9");
    EXPECT_EQ(ReadText(dir + "/::DataSpace/colon"), "10");
    EXPECT_EQ(ReadText(dir + "/ok.txt"), "12");
    EXPECT_TRUE(fs::is_symlink(dir + "/victim-link"));
    for (const char* name : {"/../escape1", "/a/../../escape2", "../escape3", "/a/b/..",
                             "/link/through-link", "/victim-link"})
        EXPECT_NE(r.out.find("skipped\t" + std::string(name) + "\t"), std::string::npos)
            << name << "\n"
            << r.out;
    EXPECT_NE(r.out.find("skipped\t/ok.txt\t"), std::string::npos) << r.out;
}

TEST_F(HostTest, ExtractReplacesFilesWholeAndNeverThroughWhatIsThere)
{
    std::string chm = root_ + "/two.chm";
    ASSERT_TRUE(WriteBytes(chm,
                           MakeHelpFile({{"/linked.txt", Bytes("new"), 0},
                                         {"/big.bin", std::vector<uint8_t>(200000, 'b'), 1},
                                         {"/small.txt", Bytes("small"), 0},
                                         {"/" + std::string(300, 'n'), Bytes("long"), 0}})));
    // DIR's parents are made as mkdir -p makes them.
    std::string dir = root_ + "/made/on/the/way";
    RunResult fresh = Run({"extract", chm, dir});
    ASSERT_EQ(fresh.status, 0) << fresh.err;
    // A name the reader cannot hold is counted, not dropped in silence.
    EXPECT_NE(fresh.out.find("skipped\t(1 names)\tlonger than 255 bytes"), std::string::npos)
        << fresh.out;
    fs::remove(dir + "/big.bin");
    // A hard link already in DIR is replaced, not written through to the
    // file outside.
    WriteText(root_ + "/outside.txt", "keep");
    fs::remove(dir + "/linked.txt");
    fs::create_hard_link(root_ + "/outside.txt", dir + "/linked.txt");

    // Files cannot grow past 64 KB here: the big one fails, on stderr, and
    // leaves nothing under its name or any other.
    std::string limited =
        Script("limited", "ulimit -f 128\ntrap '' XFSZ\nexec '" + program_ + "' \"$@\"\n");
    std::swap(program_, limited);
    RunResult r = Run({"extract", chm, dir});
    std::swap(program_, limited);
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_NE(r.err.find("failed\t/big.bin\t"), std::string::npos) << r.err;
    EXPECT_EQ(r.out.find("failed\t"), std::string::npos) << r.out;
    for (const std::string& name : Tree(dir))
        EXPECT_TRUE(name != "big.bin" && name.find(".velkory-") == std::string::npos) << name;
    EXPECT_EQ(ReadText(dir + "/small.txt"), "small");
    EXPECT_EQ(ReadText(dir + "/linked.txt"), "new");
    EXPECT_EQ(ReadText(root_ + "/outside.txt"), "keep");
}

TEST_F(HostTest, CleanRemovesOnlyOldPageDirectoriesOfItsOwn)
{
    auto makeDir = [&](const std::string& name, bool old) {
        std::string path = tmp_ + "/" + name;
        fs::create_directories(path);
        WriteText(path + "/velkory.txt", "page");
        if (old) {
            struct timeval times[2] = {{time(nullptr) - 3 * 86400, 0},
                                       {time(nullptr) - 3 * 86400, 0}};
            utimes(path.c_str(), times);
        }
        return path;
    };
    std::string oldOwn = makeDir("VLKT-0123456789abcdef", true);
    std::string newOwn = makeDir("VLKT-fedcba9876543210", false);
    std::string oldOther = makeDir("VLKT-not-ours", true);
    std::string oldOtherPrefix = makeDir("VLKX-0123456789abcdef", true);
    // An old link with a matching name: removed as a link at most, never followed.
    std::string target = makeDir("keep", true);
    fs::create_directory_symlink(target, tmp_ + "/VLKT-00000000000000aa");
    struct timeval times[2] = {{time(nullptr) - 3 * 86400, 0}, {time(nullptr) - 3 * 86400, 0}};
    lutimes((tmp_ + "/VLKT-00000000000000aa").c_str(), times);

    RunResult r = Run({"clean"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_FALSE(fs::exists(oldOwn));
    EXPECT_TRUE(fs::exists(newOwn + "/velkory.txt"));
    EXPECT_TRUE(fs::exists(oldOther));
    EXPECT_TRUE(fs::exists(oldOtherPrefix));
    EXPECT_EQ(ReadText(target + "/velkory.txt"), "page");
    EXPECT_NE(r.out.find("1 directory removed"), std::string::npos) << r.out;
}

// "NUMBER START" as the host records a process, START being field 22 of
// /proc/NUMBER/stat.
std::string Identity(pid_t pid)
{
    std::string stat = ReadText("/proc/" + std::to_string(pid) + "/stat");
    std::istringstream fields(stat.substr(stat.rfind(')') + 2));
    std::string field;
    for (int i = 3; i <= 22 && fields >> field; ++i) {
    }
    return std::to_string(pid) + " " + field;
}

TEST_F(HostTest, CleanRemovesPageDirectoriesWhoseViewerHasEndedWhateverTheirAge)
{
    pid_t ended = fork();
    if (ended == 0)
        _exit(0);
    ASSERT_GT(ended, 0);
    waitpid(ended, nullptr, 0);
    std::string running = Identity(getpid());
    const struct {
        std::string record;  // "" for none
        bool old;
        bool removed;
    } cases[] = {
        {running, true, false},                          // still shown, however old
        {std::to_string(ended), false, true},            // its viewer has ended
        {std::to_string(getpid()) + " 1", false, true},  // its number now names another
        {"", false, false},                              // no record: the age rule
        {"", true, true},
        // Records that name no process are no records.
        {"0", false, false},
        {"-1", true, true},
        {"12abc", false, false},
        {std::string(80, '7'), false, false},
    };
    std::vector<std::string> paths;
    int index = 0;
    for (const auto& c : cases) {
        char name[32];
        snprintf(name, sizeof name, "VLKT-%016x", ++index);
        std::string path = tmp_ + "/" + name;
        fs::create_directories(path);
        WriteText(path + "/velkory.txt", "page");
        if (!c.record.empty())
            WriteText(path + "/velkory.viewer", c.record);
        if (c.old) {
            struct timeval times[2] = {{time(nullptr) - 3 * 86400, 0},
                                       {time(nullptr) - 3 * 86400, 0}};
            utimes(path.c_str(), times);
        }
        paths.push_back(path);
    }
    RunResult r = Run({"clean"});
    EXPECT_EQ(r.status, 0) << r.err;
    for (size_t i = 0; i < paths.size(); ++i)
        EXPECT_EQ(fs::exists(paths[i]), !cases[i].removed) << "record '" << cases[i].record << "'";
    EXPECT_NE(r.out.find("4 directories removed"), std::string::npos) << r.out;
}

}  // namespace
