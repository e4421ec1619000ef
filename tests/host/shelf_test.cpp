// A shelf of help files: several files and directories before the keyword,
// or $VELKORY_PATH; one menu of all their matches, each naming its file; a
// file that cannot be read named and skipped.
#include "host_runner.h"

#include "help_fixture.h"
#include "support/corpus.h"

namespace {

class ShelfTest : public HelpCommandTest {
protected:
    void SetUp() override
    {
        HelpCommandTest::SetUp();
        if (IsSkipped())
            return;
        // A directory of two more help files, one of them damaged, and notes.
        dir_ = root_ + "/shelf";
        fs::create_directories(dir_ + "/sub");
        ASSERT_TRUE(WriteBytes(
            dir_ + "/sub/labels.CHM",
            HelpFileWith(
                BuildIndex({{"Printing labels", "labels.htm"}, {"Print preview", "preview.htm"}}),
                {{"/labels.htm", Bytes("labels"), 1}, {"/preview.htm", Bytes("preview"), 1}})));
        std::vector<uint8_t> damaged = ReadBytes(file_);
        damaged.resize(damaged.size() / 2);
        ASSERT_TRUE(WriteBytes(dir_ + "/cut.chm", damaged));
        WriteText(dir_ + "/notes.txt", "not a help file");
    }

    // The topics listed on stderr for want of a terminal.
    static std::vector<std::string> Listed(const std::string& err)
    {
        std::vector<std::string> items;
        for (const std::string& line : Lines(err))
            if (!line.empty() && isdigit((unsigned char)line[0]))
                items.push_back(line);
        return items;
    }
    std::string dir_;
};

TEST_F(ShelfTest, OneMenuOfEveryFileInTheOrderGiven)
{
    RunResult r = Run({"help", file_, dir_, "print"}, {{"VELKORY_EDITOR", editor_}});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Listed(r.err),
              (std::vector<std::string> {
                  "1\tPrint (guide.chm)",
                  "2\tPrinting a page (guide.chm)",
                  "3\tprinter setup (guide.chm)",
                  "4\tPrinting labels (labels.CHM)",
                  "5\tPrint preview (labels.CHM)",
              }))
        << r.err;
    // The damaged file is named once, and the others still answer.
    EXPECT_NE(r.err.find(dir_ + "/cut.chm"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("notes.txt"), std::string::npos) << "only help files are on the shelf";
    EXPECT_FALSE(fs::exists(copy_));

    // The choice opens in its own file, as that file's module chose it.
    const struct {
        const char* pick;
        const char* page;
    } picks[] = {{"2", "<h1>Printing</h1><p>How &amp; why.</p>"}, {"5", "preview"}};
    for (const auto& p : picks) {
        fs::remove(copy_);
        RunResult opened =
            Run({"help", "--pick", p.pick, file_, dir_, "print"}, {{"VELKORY_EDITOR", editor_}});
        EXPECT_EQ(opened.status, 0) << opened.err;
        EXPECT_EQ(ReadText(copy_), p.page) << p.pick;
    }
}

TEST_F(ShelfTest, ExitStatusAsForOneFile)
{
    const struct {
        std::vector<std::string> args;
        std::map<std::string, std::string> env;
        int status;
        const char* said;
        const char* page;  // what opened; null for nothing
    } cases[] = {
        // Only one match on the whole shelf opens at once.
        {{"help", root_ + "/missing.chm", dir_, "printing l"}, {}, 0, "missing.chm", "labels"},
        {{"help", file_, dir_, "zebra"},
         {},
         1,
         "no topic title or index entry of the help files",
         nullptr},
        {{"help", "--pick", "9", file_, dir_, "print"}, {}, 2, "only 5 topics match", nullptr},
        {{"help", root_ + "/missing.chm", dir_ + "/cut.chm", "print"},
         {},
         1,
         "no help file could be read",
         nullptr},
        {{"help", root_ + "/empty-dir", "print"}, {}, 1, "no help file below", nullptr},
        // $VELKORY_PATH is the shelf when no file is given.
        {{"help", "--pick", "4", "print"},
         {{"VELKORY_PATH", file_ + "::" + dir_}},
         0,
         "",
         "labels"},
        {{"help", "print"}, {{"VELKORY_PATH", ""}}, 2, "VELKORY_PATH", nullptr},
    };
    fs::create_directories(root_ + "/empty-dir");
    for (const auto& c : cases) {
        fs::remove(copy_);
        std::map<std::string, std::string> env = c.env;
        env["VELKORY_EDITOR"] = editor_;
        RunResult r = Run(c.args, env);
        std::string shown = c.args[c.args.size() - 2] + " " + c.args.back();
        EXPECT_EQ(r.status, c.status) << shown << ": " << r.err;
        EXPECT_NE(r.err.find(c.said), std::string::npos) << r.err;
        EXPECT_EQ(fs::exists(copy_) ? ReadText(copy_) : "(nothing)", c.page ? c.page : "(nothing)")
            << shown;
    }
}

TEST_F(HostTest, AShelfOfTheCorpusJoinsAKeywordThatSeveralFilesHold)
{
    if (CorpusHelpFiles().empty())
        GTEST_SKIP() << "no shared corpus (../shared/corpus/chm)";
    std::string corpus = SharedDir() + "/corpus/chm";
    RunResult listed = Run({"help", corpus, "Two"});
    EXPECT_EQ(listed.status, 0) << listed.err;
    EXPECT_NE(listed.err.find("1\tTwo (pychm-combined.chm)\n2\tTwo (pychm-combined2.chm)\n"),
              std::string::npos)
        << listed.err;
    std::string log = root_ + "/log";
    RunResult opened = Run({"help", "--pick", "2", corpus, "Two"},
                           {{"VELKORY_EDITOR", RecordingProgram("editor", log)}});
    EXPECT_EQ(opened.status, 0) << opened.err;
    EXPECT_EQ(ReadText(log + ".shown"),
              Run({"cat", corpus + "/pychm-combined2.chm", "/Untitled2.htm"}).out);
}

}  // namespace
