// Every other way a program names a topic: a context ID (--id, -mapid), a
// name of the help project (--alias), the help file's default topic, and an
// A-link name (help --alink).
#include "host_runner.h"

#include "lookup/index_builder.h"
#include "lookup/keyword_builder.h"
#include "support/chm_writer.h"
#include "support/corpus.h"

namespace {

const char IntroPage[] = "<p>intro</p>\n";
const char SetupPage[] = "<p>setup</p>\n<h2 id=\"part\">Part</h2>\n";
const char DeepPage[] = "<p>deep</p>\n";

class ContextTest : public HostTest {
protected:
    void SetUp() override
    {
        HostTest::SetUp();
        if (IsSkipped())
            return;
        // /#IVB: IDs 100 and 2001 (links as chmcmd writes them) and 7; the
        // default topic in #SYSTEM (code 2); a map header the file stores.
        TestIndex index = BuildIndex({{"Intro", "intro.htm"}, {"Setup", "html/setup.htm"}});
        std::vector<uint8_t> map, &strings = index.strings, system;
        Put32(map, 0, 24);
        for (auto [id, link] : std::vector<std::pair<uint32_t, std::string>> {
                 {100, "/home/me/proj/intro.htm"}, {2001, "html\\setup.htm"}, {7, "deep.htm"}}) {
            Put32(map, map.size(), id);
            Put32(map, map.size(), (uint32_t)strings.size());
            strings.insert(strings.end(), link.begin(), link.end());
            strings.push_back(0);
        }
        Put32(system, 0, 3);
        Put16(system, 4, 2);
        Put16(system, 6, 10);
        for (char c : std::string("intro.htm"))
            system.push_back((uint8_t)c);
        system.push_back(0);
        file_ = root_ + "/mapped.chm";
        ASSERT_TRUE(WriteBytes(
            file_,
            HelpFileWith(index,
                         {{"/#IVB", map, 1},

                          {"/#SYSTEM", system, 1},
                          {"/$WWAssociativeLinks/BTree", BuildBTree({{u"Related", {0, 1}}}), 1},
                          {"/map.h", Bytes("#define IDH_DEEP 7\n"), 1},
                          {"/intro.htm", Bytes(IntroPage), 1},
                          {"/html/setup.htm", Bytes(SetupPage), 1},
                          {"/deep.htm", Bytes(DeepPage), 1}})));
        plain_ = root_ + "/plain.chm";
        ASSERT_TRUE(WriteBytes(plain_,
                               HelpFileWith(BuildIndex({{"Intro", "intro.htm"}}),
                                            {{"/intro.htm", Bytes(IntroPage), 1}})));
        header_ = root_ + "/project.h";
        WriteText(header_,
                  "; the program's names\n#define IDH_INTRO 100\nIDH_SETUP=html\\setup.htm#part\n");
        editor_ = RecordingProgram("vi", log_ = root_ + "/log");
    }
    std::string file_, plain_, header_, editor_, log_;
};

TEST_F(ContextTest, IdsNamesAndTheDefaultTopicOpenTheirPages)
{
    const struct {
        std::vector<std::string> args;
        int status;
        const char* shown;  // the page opened, or what is said
    } cases[] = {
        {{"open", "--id", "100", file_}, 0, IntroPage},
        {{"open", "-mapid", "0x7D1", "ms-its:" + file_}, 0, SetupPage},  // the Windows form, hex
        {{"open", "--alias", "idh_setup", "--map", header_, file_}, 0, SetupPage},  // at its anchor
        {{"open", "--alias", "IDH_INTRO", "--map", header_, file_},
         0,
         IntroPage},                                            // through the ID
        {{"open", "--alias", "IDH_DEEP", file_}, 0, DeepPage},  // a map header the file stores
        {{"open", file_}, 0, IntroPage},                        // the default topic
        {{"open", "--id", "5", file_}, 1, "no topic has the context ID 5"},
        {{"open", "--id", "100", plain_}, 1, "it has no context map"},
        {{"open", "--alias", "IDH_SETUP", file_}, 1, "give the project's with --map FILE"},
        {{"open", "--alias", "IDH_DEEP", "--map", header_, file_}, 1, "does not define it"},
        {{"open", plain_}, 1, "names no default topic"},
        {{"open", "--id", "100", file_ + "::/intro.htm"}, 2, "give the help file alone"},
        {{"open", "--id", "1x", file_}, 2, "expects a context ID"},
        {{"open", "--map", header_, file_}, 2, "--map gives the names of --alias"},
    };
    for (const auto& c : cases) {
        std::filesystem::remove(log_ + ".shown");
        RunResult r = Run(c.args, {{"VELKORY_EDITOR", editor_}});
        std::string shown = c.args[c.args.size() - 2] + " " + c.args.back();
        EXPECT_EQ(r.status, c.status) << shown << ": " << r.err;
        if (c.status == 0)
            EXPECT_EQ(ReadText(log_ + ".shown"), c.shown) << shown;
        else
            EXPECT_NE(r.err.find(c.shown), std::string::npos) << shown << ": " << r.err;
    }
    // The alias's anchor is the landing line.
    ASSERT_EQ(Run({"open", "--alias", "IDH_SETUP", "--map", header_, file_},
                  {{"VELKORY_EDITOR", editor_}})
                  .status,
              0);
    EXPECT_EQ(Lines(ReadText(log_))[0], "+2");
}

TEST_F(ContextTest, AnALinkNameOffersThePagesNamedForIt)
{
    RunResult listed = Run({"help", "--alink", "rel", file_, plain_});
    EXPECT_EQ(listed.status, 0) << listed.err;
    EXPECT_NE(listed.err.find("1\tRelated - Intro (mapped.chm)\n2\tRelated - Setup (mapped.chm)\n"),
              std::string::npos)
        << listed.err;
    RunResult opened =
        Run({"help", "--pick", "2", "--alink", "Related", file_}, {{"VELKORY_EDITOR", editor_}});
    EXPECT_EQ(opened.status, 0) << opened.err;
    EXPECT_EQ(ReadText(log_ + ".shown"), SetupPage);
    RunResult none = Run({"help", "--alink", "Other", file_, plain_});
    EXPECT_EQ(none.status, 1);
    EXPECT_NE(none.err.find("no page of the help files names itself for an A-link beginning with "
                            "'Other'"),
              std::string::npos)
        << none.err;
}

TEST_F(HostTest, HelpFilesCompiledWithAContextMapOpenByIdAndName)
{
    std::string makeChm = SharedDir() + "/tools/make-chm";
    if (access(makeChm.c_str(), X_OK) != 0 || system("command -v chmcmd >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "needs chmcmd (fp-utils) and the shared make-chm";
    std::filesystem::create_directories(root_ + "/html/sub");
    WriteText(root_ + "/html/intro.htm", "<html><title>IntroPage</title><p>intro</p></html>");
    WriteText(root_ + "/html/sub/deep.htm", "<html><title>DeepPage</title><p>deep</p></html>");
    std::string chm = root_ + "/compiled.chm";
    ASSERT_EQ(system((makeChm +
                      " --context IDH_INTRO=intro.htm=100 --context "
                      "IDH_DEEP=sub/deep.htm=0x7D1 " +
                      root_ + "/html " + chm + " >/dev/null")
                         .c_str()),
              0);
    WriteText(root_ + "/map.h", "#define IDH_DEEP 0x7D1\n");
    std::string log = root_ + "/log";
    std::string editor = RecordingProgram("editor", log);
    for (const auto& args : std::vector<std::vector<std::string>> {
             {"open", "-mapid", "2001", chm},
             {"open", "--alias", "IDH_DEEP", "--map", root_ + "/map.h", chm}}) {
        RunResult r = Run(args, {{"VELKORY_EDITOR", editor}});
        EXPECT_EQ(r.status, 0) << args[1] << ": " << r.err;
        EXPECT_EQ(ReadText(log + ".shown"), "<html><title>DeepPage</title><p>deep</p></html>")
            << args[1];
    }
}

TEST_F(HostTest, TheCorpusOpensOnItsDefaultTopics)
{
    if (CorpusHelpFiles().empty())
        GTEST_SKIP() << "no shared corpus (../shared/corpus/chm)";
    std::string corpus = SharedDir() + "/corpus/chm/";
    std::string log = root_ + "/log";
    std::string editor = RecordingProgram("editor", log);
    const std::pair<const char*, const char*> cases[] = {
        {"WinRing0.chm", "/_RESOURCE/WhatIsWinRing0.html"},
        {"pychm-example.chm", "/page 1.html"},  // written with its %20
        {"ISPP.chm", "/topic_isppoverview.htm"},
    };
    for (const auto& [file, page] : cases) {
        RunResult r = Run({"open", corpus + file}, {{"VELKORY_EDITOR", editor}});
        EXPECT_EQ(r.status, 0) << file << ": " << r.err;
        EXPECT_EQ(ReadText(log + ".shown"), Run({"cat", corpus + file, page}).out) << file;
    }
}

}  // namespace
