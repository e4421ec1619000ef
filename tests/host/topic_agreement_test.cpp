// Every reader of a help file offers the same topics for a keyword: the
// topics, index and fulltext listings, help's menu and the page it opens,
// and browse's start page, driven with one table (topic_agreement.h).
#include "host_runner.h"

#include <poll.h>
#include <signal.h>

#include <algorithm>

#include "host/topic_agreement.h"

namespace {

const std::map<std::string, std::string> Utf8Locale = {{"LC_ALL", "C.UTF-8"}};

class TopicAgreementTest : public HostTest {
protected:
    void SetUp() override
    {
        HostTest::SetUp();
        if (IsSkipped())
            return;
        serve_ = program_ + "-serve";
        if (access(serve_.c_str(), X_OK) != 0)
            GTEST_SKIP() << "the velkory-serve program is not built at " << serve_;
        file_ = root_ + "/agree.chm";
        ASSERT_TRUE(WriteBytes(file_, AgreementHelpFile()));
    }

    // browse --no-open's start page: the second line it prints, after the
    // server's address ("" when it printed none within 10 s); the server is
    // stopped then.
    std::string BrowseStartPage(const std::string& keyword, int pick)
    {
        int out[2];
        if (pipe(out) != 0)
            return "";
        pid_t pid = fork();
        if (pid == 0) {
            setenv("VELKORY_REGISTRY", registry_.c_str(), 1);
            setenv("LC_ALL", "C.UTF-8", 1);
            dup2(out[1], 1);
            close(out[0]);
            std::string pickText = std::to_string(pick);
            execl(program_.c_str(), program_.c_str(), "browse", "--no-open", "--pick",
                  pickText.c_str(), file_.c_str(), keyword.c_str(), (char*)nullptr);
            _exit(127);
        }
        close(out[1]);
        std::string text;
        char c;
        pollfd p {out[0], POLLIN, 0};
        while (std::count(text.begin(), text.end(), '\n') < 2 && poll(&p, 1, 10000) == 1 &&
               read(out[0], &c, 1) == 1)
            text += c;
        close(out[0]);
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
        std::vector<std::string> lines = Lines(text);
        size_t hash = lines.size() == 2 ? lines[1].find('#') : std::string::npos;
        return hash == std::string::npos ? "" : lines[1].substr(hash + 1);
    }

    std::string serve_, file_;
};

// "N<TAB>text" lines of a menu listed on stderr, the texts.
std::vector<std::string> ListedItems(const std::string& err)
{
    std::vector<std::string> items;
    for (const std::string& line : Lines(err)) {
        size_t tab = line.find('\t');
        if (tab != std::string::npos && tab > 0 && isdigit((unsigned char)line[0]))
            items.push_back(line.substr(tab + 1));
    }
    return items;
}

}  // namespace

TEST_F(TopicAgreementTest, EveryReaderOffersTheSameEntriesForAKeyword)
{
    for (const AgreementCase& c : AgreementCases()) {
        SCOPED_TRACE(c.keyword);
        // The listing of the source that answers: the entries, their pages.
        RunResult listed = Run({c.source, file_, c.keyword}, Utf8Locale);
        std::vector<std::string> entries, pages;
        for (const std::string& line : Lines(listed.out)) {
            size_t tab = line.find('\t');
            entries.push_back(line.substr(0, tab));
            pages.push_back(tab == std::string::npos ? "" : line.substr(tab + 2));
        }
        EXPECT_EQ(entries, c.entries) << listed.err;
        // topics names the page alone, as it always has; index with its anchor.
        std::vector<std::string> expected = c.pages;
        for (std::string& page : expected)
            if (std::string(c.source) == "topics")
                page = page.substr(0, page.find('#'));
        EXPECT_EQ(pages, expected);
        // The sources asked before the one that answers have nothing.
        for (const char* before : {"topics", "index"}) {
            if (before == std::string(c.source))
                break;
            EXPECT_EQ(Run({before, file_, c.keyword}, Utf8Locale).out, "") << before;
        }

        // help and browse without a terminal list their menu: one item per
        // entry, beginning with it.
        if (c.entries.size() > 1) {
            for (const char* command : {"help", "browse"}) {
                RunResult menu = Run({command, file_, c.keyword}, Utf8Locale);
                EXPECT_EQ(menu.status, 0) << command << menu.err;
                std::vector<std::string> items = ListedItems(menu.err);
                ASSERT_EQ(items.size(), c.entries.size()) << command << menu.err;
                for (size_t k = 0; k < items.size(); ++k)
                    EXPECT_EQ(items[k].rfind(c.entries[k], 0), 0u) << command << items[k];
            }
        } else if (c.entries.empty()) {
            for (const char* command : {"help", "browse"})
                EXPECT_EQ(Run({command, file_, c.keyword}, Utf8Locale).status, 1) << command;
        }
        // The Nth item opens the Nth entry's page in help, and in browse at
        // its anchor (a full-text page opens whole).
        for (size_t k = 0; k < c.pages.size(); ++k) {
            std::string pick = std::to_string(k + 1);
            RunResult help = Run({"help", "--pick", pick, file_, c.keyword}, Utf8Locale);
            ASSERT_EQ(help.status, 0) << help.err;
            std::string page = c.pages[k].substr(0, c.pages[k].find('#'));
            EXPECT_EQ(ReadText(help.out.substr(0, help.out.find('\n'))), page) << pick;
            EXPECT_EQ(BrowseStartPage(c.keyword, (int)k + 1), c.pages[k]) << pick;
        }
    }
}
