// The terminal host driving the module: info, config, help, and the usage
// errors, each in a fresh process against a private registry.
#include "host_runner.h"

#include <cerrno>

#include "help_fixture.h"
#include "lookup/index_builder.h"
#include "support/chm_writer.h"
#include "support/corpus.h"

namespace {

const char SettingsSection[] = "[HKEY_CURRENT_USER\\Software\\VelkoryHost\\Velkory]";

TEST_F(HostTest, InfoShowsNamesTitleAndCapabilities)
{
    RunResult r = Run({"info"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Names:        Velkory\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Title:        Velkory\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Capabilities: 4 "), std::string::npos) << r.out;
    EXPECT_FALSE(fs::exists(registry_)) << "starting the module must not create the settings";
}

TEST_F(HostTest, ModuleThatCannotBeLoadedIsOneLineAndStatusOne)
{
    RunResult r = Run({"--module", root_ + "/no-such-module.so", "info"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(Lines(r.err).size(), 1u) << r.err;
    EXPECT_NE(r.err.find("no-such-module.so"), std::string::npos);

    // A library without the three exports is refused too.
    RunResult wrong = Run({"--module", "libc.so.6", "info"});
    EXPECT_EQ(wrong.status, 1);
    EXPECT_EQ(Lines(wrong.err).size(), 1u) << wrong.err;
}

TEST_F(HostTest, ConfigSavesShowsAndCancels)
{
    RunResult fresh = Run({"config", "--show"});
    ASSERT_EQ(fresh.status, 0) << fresh.err;
    EXPECT_NE(fresh.out.find("Modality:  0"), std::string::npos) << fresh.out;
    EXPECT_NE(fresh.out.find("Visuality: 0"), std::string::npos) << fresh.out;
    EXPECT_FALSE(fs::exists(registry_)) << "--show only reads";

    RunResult saved = Run({"config", "--modality", "1", "--visuality", "0"});
    ASSERT_EQ(saved.status, 0) << saved.err;
    std::string registry = ReadText(registry_);
    size_t section = registry.find(SettingsSection);
    ASSERT_NE(section, std::string::npos) << registry;
    std::string values = registry.substr(section);
    EXPECT_NE(values.find("\"Modality\"=\"1\""), std::string::npos) << registry;
    EXPECT_NE(values.find("\"Visuality\"=\"0\""), std::string::npos) << registry;

    RunResult shown = Run({"config", "--show"});
    ASSERT_EQ(shown.status, 0) << shown.err;
    EXPECT_NE(shown.out.find("Modality:  1"), std::string::npos) << shown.out;
    EXPECT_NE(shown.out.find("Visuality: 0"), std::string::npos) << shown.out;

    RunResult cancelled = Run({"config", "--cancel"});
    ASSERT_EQ(cancelled.status, 0) << cancelled.err;
    EXPECT_EQ(ReadText(registry_), registry) << "--cancel must write nothing";

    // One answer alone keeps the other list's preselected entry.
    ASSERT_EQ(Run({"config", "--visuality=1"}).status, 0);
    RunResult both = Run({"config", "--show"});
    EXPECT_NE(both.out.find("Modality:  1"), std::string::npos) << both.out;
    EXPECT_NE(both.out.find("Visuality: 1"), std::string::npos) << both.out;
}

TEST_F(HostTest, ShowReadsSettingsAsTheModuleDoes)
{
    // Odd numbers in any of the "%i" notations are 1, text without a number 0.
    WriteText(registry_,
              "Windows Registry Editor Version 5.00\n\n"
              "[HKEY_CURRENT_USER\\Software\\VelkoryHost\\Velkory]\n"
              "\"Modality\"=\"0x11\"\n"
              "\"Visuality\"=\"letters\"\n");
    RunResult r = Run({"config", "--show"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Modality:  1"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Visuality: 0"), std::string::npos) << r.out;

    // Nine characters fit the module's ten bytes; ten do not and count as absent.
    WriteText(registry_,
              "Windows Registry Editor Version 5.00\n\n"
              "[HKEY_CURRENT_USER\\Software\\VelkoryHost\\Velkory]\n"
              "\"Modality\"=\"0000000001\"\n"
              "\"Visuality\"=\"000000001\"\n");
    RunResult lengths = Run({"config", "--show"});
    EXPECT_NE(lengths.out.find("Modality:  0"), std::string::npos) << lengths.out;
    EXPECT_NE(lengths.out.find("Visuality: 1"), std::string::npos) << lengths.out;
}

TEST_F(HostTest, UsageErrors)
{
    EXPECT_USAGE_ERROR(Run({}));
    EXPECT_USAGE_ERROR(Run({"frobnicate"}));
    EXPECT_USAGE_ERROR(Run({"info", "--bogus"}));
    EXPECT_USAGE_ERROR(Run({"info", "extra"}));
    EXPECT_USAGE_ERROR(Run({"config"}));  // no terminal and no answers
    EXPECT_USAGE_ERROR(Run({"config", "--modality", "2", "--visuality", "0"}));
    EXPECT_USAGE_ERROR(Run({"config", "--modality"}));
    EXPECT_USAGE_ERROR(Run({"config", "--cancel", "--modality", "1"}));
    EXPECT_USAGE_ERROR(Run({"config", "--show", "--cancel"}));
    EXPECT_USAGE_ERROR(Run({"help", "only-a-file.chm"}));
    EXPECT_USAGE_ERROR(Run({"help", "--pick", "0", "a.chm", "word"}));
    EXPECT_USAGE_ERROR(Run({"help", "--pick", "x", "a.chm", "word"}));
    EXPECT_USAGE_ERROR(Run({"list", "--pick", "1", "a.chm"}));
    EXPECT_USAGE_ERROR(Run({"cat", "a.chm"}));
    EXPECT_USAGE_ERROR(Run({"extract", "a.chm"}));
    EXPECT_USAGE_ERROR(Run({"test", "-j", "0", "a.chm"}));
    EXPECT_USAGE_ERROR(Run({"list", "-j2", "a.chm"}));
    EXPECT_USAGE_ERROR(Run({"clean", "now"}));
    EXPECT_FALSE(fs::exists(registry_));

    RunResult help = Run({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("help [--pick N] [FILE|DIR...] KEYWORD"), std::string::npos);
    RunResult version = Run({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("velkory ", 0), 0u) << version.out;
}

TEST_F(HelpCommandTest, PickOpensTheChosenPageInTheEditor)
{
    // Settings 0/0: the editor, on the page file itself.
    RunResult r = Run({"help", "--pick", "2", file_, "PRINT"}, {{"VELKORY_EDITOR", editor_}});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadText(copy_), "<h1>Printing</h1><p>How &amp; why.</p>");
    std::string path = ReadText(copy_ + ".path");
    EXPECT_EQ(path.rfind(tmp_ + "/VLKT-", 0), 0u) << path;
    EXPECT_NE(path.find("/velkory.txt\n"), std::string::npos) << path;
    EXPECT_EQ(path.find('\\'), std::string::npos) << path;

    // A second request makes a second directory.
    ASSERT_EQ(Run({"help", "--pick", "1", file_, "print"}, {{"VELKORY_EDITOR", editor_}}).status,
              0);
    EXPECT_EQ(ReadText(copy_), "<p>print page</p>");
    int directories = 0;
    for (const auto& entry : fs::directory_iterator(tmp_))
        directories += entry.path().filename().string().rfind("VLKT-", 0) == 0;
    EXPECT_EQ(directories, 2);
}

TEST_F(HelpCommandTest, WithoutATerminalTheMenuIsListedAndCancelled)
{
    RunResult r = Run({"help", file_, "print"}, {{"VELKORY_EDITOR", editor_}});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err.rfind("1\tPrint\n2\tPrinting a page\n3\tprinter setup\n", 0), 0u) << r.err;
    EXPECT_NE(r.err.find("--pick"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(copy_));

    RunResult beyond = Run({"help", "--pick", "4", file_, "print"}, {{"VELKORY_EDITOR", editor_}});
    EXPECT_EQ(beyond.status, 2);
    EXPECT_FALSE(fs::exists(copy_));
}

TEST_F(HelpCommandTest, ExplainsWhatItCanSee)
{
    RunResult none = Run({"help", file_, "zebra"});
    EXPECT_EQ(none.status, 1) << "no topic matches";
    EXPECT_NE(none.err.find("zebra"), std::string::npos) << none.err;

    RunResult missing = Run({"help", root_ + "/absent.chm", "print"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("No such file"), std::string::npos) << missing.err;

    WriteText(root_ + "/plain.chm", "this is not a help file at all");
    RunResult notHelp = Run({"help", root_ + "/plain.chm", "print"});
    EXPECT_EQ(notHelp.status, 1);
    EXPECT_NE(notHelp.err.find("not a help file"), std::string::npos) << notHelp.err;

    std::string noIndex = root_ + "/no-index.chm";
    ASSERT_TRUE(WriteBytes(noIndex, MakeHelpFile({{"/a.htm", Bytes("a"), 0}})));
    RunResult indexless = Run({"help", noIndex, "print"});
    EXPECT_EQ(indexless.status, 1);
    EXPECT_NE(indexless.err.find("topic index"), std::string::npos) << indexless.err;

    std::string lost = root_ + "/lost-page.chm";
    ASSERT_TRUE(WriteBytes(lost, HelpFileWith(BuildIndex({{"Lost", "lost.htm"}}), {})));
    RunResult noPage = Run({"help", lost, "lost"});
    EXPECT_EQ(noPage.status, 1);
    EXPECT_NE(noPage.err.find("page cannot be extracted"), std::string::npos) << noPage.err;
    EXPECT_TRUE(fs::is_empty(tmp_)) << "the empty page directory is removed";

    // A page that cannot be written whole (files cannot grow past 1 KB here):
    // the host says why, and leaves no directory behind.
    std::string big = root_ + "/big-page.chm";
    ASSERT_TRUE(WriteBytes(big,
                           HelpFileWith(BuildIndex({{"Big", "big.htm"}}),
                                        {{"/big.htm", Bytes(std::string(8192, 'b')), 0}})));
    std::string limited =
        Script("limited", "ulimit -f 2\ntrap '' XFSZ\nexec '" + program_ + "' \"$@\"\n");
    std::swap(program_, limited);
    RunResult unwritten = Run({"help", big, "big"}, {{"VELKORY_EDITOR", editor_}});
    std::swap(program_, limited);
    EXPECT_EQ(unwritten.status, 1);
    EXPECT_NE(unwritten.err.find("cannot write the page into " + tmp_ + "/VLKT-"),
              std::string::npos)
        << unwritten.err;
    EXPECT_TRUE(fs::is_empty(tmp_));

    WriteText(root_ + "/a-file", "");
    RunResult fileTemp =
        Run({"help", "--pick", "1", file_, "print"}, {{"TMPDIR", root_ + "/a-file"}});
    EXPECT_EQ(fileTemp.status, 1);
    EXPECT_NE(fileTemp.err.find(root_ + "/a-file is a file, not a directory"), std::string::npos)
        << fileTemp.err;

    RunResult noTemp = Run({"help", "--pick", "1", file_, "print"}, {{"TMPDIR", root_ + "/gone"}});
    EXPECT_EQ(noTemp.status, 1);
    EXPECT_NE(noTemp.err.find("cannot create the page directory " + root_ + "/gone/VLKT-"),
              std::string::npos)
        << noTemp.err;
}

TEST_F(HelpCommandTest, ExitStatusFollowsOneRule)
{
    struct Case {
        std::vector<std::string> args;
        int status;
        const char* said;  // on stderr, in one line
    } cases[] = {
        {{"help", "--pick", "1", file_, "print"}, 0, ""},
        {{"help", file_, "zebra"}, 1, "no topic title, index entry or word in the pages of"},
        {{"help", file_, "-x"}, 1, "begins with '-x'"},  // options end at FILE
        {{"help", "--", file_, "--pick"}, 1, "begins with '--pick'"},
        {{"help", file_, ""}, 2, "keyword is empty"},
        {{"help", "--pick", "9", file_, "print"}, 2, "only 3 topics match"},
        {{"help", "--pick", "2", file_, "setup"}, 2, "only 1 topic matches"},
    };
    for (const Case& c : cases) {
        fs::remove(copy_);
        RunResult r = Run(c.args, {{"VELKORY_EDITOR", editor_}});
        std::string shown = c.args[c.args.size() - 2] + " " + c.args.back();
        EXPECT_EQ(r.status, c.status) << shown << ": " << r.err;
        EXPECT_EQ(fs::exists(copy_), c.status == 0) << shown;
        EXPECT_NE(r.err.find(c.said), std::string::npos) << shown << ": " << r.err;
        EXPECT_LE(Lines(r.err).size(), 1u) << r.err;
    }
    // Only the page that was opened left its directory behind.
    int directories = 0;
    for (const auto& entry : fs::directory_iterator(tmp_))
        directories += entry.is_directory();
    EXPECT_EQ(directories, 1);
}

TEST_F(HostTest, EveryCommandRefusesWhatIsNotAHelpFile)
{
    WriteText(root_ + "/text.chm", "plain text, renamed");
    WriteText(root_ + "/empty.chm", "");
    fs::create_directories(root_ + "/folder.chm");
    ASSERT_EQ(mkfifo((root_ + "/pipe.chm").c_str(), 0600), 0);
    const std::pair<std::string, std::string> refused[] = {
        {root_ + "/text.chm", "not a help file (no ITSF signature)"},
        {root_ + "/empty.chm", "the file is empty, not a help file"},
        {root_ + "/folder.chm", "is a directory, not a help file"},
        {root_ + "/pipe.chm", "not a regular file, so not a help file"},
        {"/dev/zero", "not a regular file, so not a help file"},
        {root_ + "/missing.chm", strerror(ENOENT)},
    };
    for (const auto& [file, reason] : refused) {
        std::string dir = root_ + "/out";
        for (const std::vector<std::string>& args :
             std::vector<std::vector<std::string>> {{"help", file, "a"},
                                                    {"list", file},
                                                    {"cat", file, "/a.htm"},
                                                    {"extract", file, dir},
                                                    {"test", file},
                                                    {"topics", file},
                                                    {"index", file, "a"}}) {
            RunResult r = Run(args);
            EXPECT_EQ(r.status, 1) << args[0] << " " << file;
            // help takes a directory as a shelf of the help files below it.
            bool shelf = args[0] == "help" && file == root_ + "/folder.chm";
            EXPECT_EQ(r.err,
                      shelf ? "velkory: no help file below " + file + "\n"
                            : "velkory: " + file + ": " + reason + "\n")
                << args[0];
            EXPECT_EQ(r.out, "") << args[0] << " " << file;
            EXPECT_FALSE(fs::exists(dir)) << args[0] << " " << file;
        }
    }
}

TEST_F(HelpCommandTest, ScriptsGetThePathOrThePageAndNeverAPager)
{
    // No explicit editor and no terminal: the page file's path is printed.
    RunResult edit = Run({"help", file_, "setup"}, {{"EDITOR", "false"}, {"VISUAL", "false"}});
    ASSERT_EQ(edit.status, 0) << edit.err;
    std::string path = edit.out.substr(0, edit.out.find('\n'));
    EXPECT_EQ(ReadText(path), "<p>setup page</p>");

    // The viewer: the rendered page on standard output.
    ASSERT_EQ(Run({"config", "--modality", "0", "--visuality", "1"}).status, 0);
    RunResult view = Run({"help", "--pick", "2", file_, "print"},
                         {{"PAGER", "false"}, {"VELKORY_RENDERER", "plain"}});
    ASSERT_EQ(view.status, 0) << view.err;
    EXPECT_EQ(view.out, "Printing\n========\n\nHow & why.\n");

    // An explicit viewer gets the rendered text as a file, path last.
    RunResult viewer =
        Run({"help", "--pick", "2", file_, "print"},
            {{"VELKORY_VIEWER", editor_ + " --flag"}, {"VELKORY_RENDERER", "plain"}});
    ASSERT_EQ(viewer.status, 0) << viewer.err;
    EXPECT_EQ(ReadText(copy_), "Printing\n========\n\nHow & why.\n");
}

TEST_F(HelpCommandTest, SettingsReachTheModuleThroughTheHostUtilities)
{
    // The module formats its key with FormatText and reads "%i" with
    // ScanText: 0x11 is odd, so the viewer opens, rendered to stdout.
    WriteText(registry_,
              "Windows Registry Editor Version 5.00\n\n"
              "[HKEY_CURRENT_USER\\Software\\VelkoryHost\\Velkory]\n"
              "\"Modality\"=\"010\"\n"
              "\"Visuality\"=\"0x11\"\n");
    RunResult r = Run({"help", "--pick", "1", file_, "print"}, {{"VELKORY_RENDERER", "plain"}});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "print page\n");
}

TEST_F(HostTest, KeywordsAndTitlesCrossTheCodePages)
{
    // Titles in ANSI 1252: "École", "Été", "été". The UTF-8 keyword goes to
    // the module in OEM 437; letters beyond ASCII compare exactly, so "É"
    // finds the first two only, and the menu shows them in UTF-8 again.
    TestIndex index = BuildIndex({{"\xC9"
                                   "cole",
                                   "ecole.htm"},
                                  {"\xC9t\xE9", "ete1.htm"},
                                  {"\xE9t\xE9", "ete2.htm"}});
    std::string file = root_ + "/accents.chm";
    ASSERT_TRUE(WriteBytes(file,
                           HelpFileWith(index,
                                        {{"/ecole.htm", Bytes("E"), 0},
                                         {"/ete1.htm", Bytes("1"), 0},
                                         {"/ete2.htm", Bytes("2"), 0}})));
    RunResult upper = Run({"help", file, "\xC3\x89"});
    EXPECT_EQ(upper.status, 0) << upper.err;
    EXPECT_EQ(upper.err.rfind("1\t\xC3\x89"
                              "cole\n2\t\xC3\x89t\xC3\xA9\n",
                              0),
              0u)
        << upper.err;

    RunResult lower = Run({"help", file, "\xC3\xA9t"});
    ASSERT_EQ(lower.status, 0) << lower.err;
    std::string path = lower.out.substr(0, lower.out.find('\n'));
    EXPECT_EQ(ReadText(path), "2");
}

TEST_F(HostTest, HelpOnEveryCorpusFileOpensAStoredPage)
{
    if (SharedDir().empty())
        GTEST_SKIP() << "no shared corpus beside the source tree";
    std::string copy = root_ + "/opened";
    std::string editor = Script("editor", "for last; do :; done\ncp \"$last\" '" + copy + "'\n");
    for (const std::string& chm : CorpusHelpFiles()) {
        std::vector<ManifestEntry> manifest =
            ReadManifest(chm.substr(0, chm.size() - 4) + ".manifest");
        // Every letter as a keyword, first topic: the opened file must be one
        // of the help file's stored pages, byte for byte.
        int opened = 0;
        for (char letter = 'a'; letter <= 'z' && opened < 3; ++letter) {
            fs::remove(copy);
            RunResult r = Run({"help", "--pick", "1", chm, std::string(1, letter)},
                              {{"VELKORY_EDITOR", editor}});
            ASSERT_EQ(r.status, fs::exists(copy) ? 0 : 1) << chm << " " << letter << ": " << r.err;
            if (!fs::exists(copy))
                continue;
            std::vector<uint8_t> page = ReadBytes(copy);
            std::string sha = Sha256Hex(page.data(), page.size());
            bool listed = false;
            for (const ManifestEntry& entry : manifest)
                listed = listed || (entry.sha256 == sha && entry.length == page.size());
            EXPECT_TRUE(listed) << chm << ": the page for '" << letter << "' is no stored file";
            ++opened;
        }
        EXPECT_GT(opened, 0) << chm << ": no letter opened a page";
    }
}

}  // namespace
