// Every reader of a help file offers the same topics for a keyword: the
// topics, index and fulltext listings, help's menu and the page it opens,
// browse's start page and the viewer's index, driven with one table
// (topic_agreement.h).
#include "host_runner.h"

#include <poll.h>
#include <signal.h>

#include <algorithm>

#include <nlohmann/json.hpp>

#include "host/topic_agreement.h"
#include "support/loopback.h"

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

    void TearDown() override
    {
        if (server_ > 0)
            kill(server_, SIGTERM), waitpid(server_, nullptr, 0);
        HostTest::TearDown();
    }

    // velkory with args in a UTF-8 locale, serving until SIGTERM: the first
    // lines lines it prints (fewer when it printed no more within 10 s).
    std::vector<std::string> StartServing(const std::vector<std::string>& args, size_t lines,
                                          pid_t& pid)
    {
        int out[2];
        if (pipe(out) != 0)
            return {};
        pid = fork();
        if (pid == 0) {
            setenv("VELKORY_REGISTRY", registry_.c_str(), 1);
            setenv("LC_ALL", "C.UTF-8", 1);
            unsetenv("VELKORY_CODEPAGES");
            dup2(out[1], 1);
            close(out[0]);
            std::vector<char*> argv {program_.data()};
            for (const std::string& arg : args)
                argv.push_back(const_cast<char*>(arg.c_str()));
            argv.push_back(nullptr);
            execv(program_.c_str(), argv.data());
            _exit(127);
        }
        close(out[1]);
        std::string text;
        char c;
        pollfd p {out[0], POLLIN, 0};
        while ((size_t)std::count(text.begin(), text.end(), '\n') < lines &&
               poll(&p, 1, 10000) == 1 && read(out[0], &c, 1) == 1)
            text += c;
        close(out[0]);
        return Lines(text);
    }

    // browse --no-open's start page: the second line it prints, after the
    // server's address ("" when it printed none within 10 s); the server is
    // stopped then.
    std::string BrowseStartPage(const std::string& keyword, int pick)
    {
        pid_t pid = -1;
        std::vector<std::string> lines = StartServing(
            {"browse", "--no-open", "--pick", std::to_string(pick), file_, keyword}, 2, pid);
        if (pid > 0)
            kill(pid, SIGTERM), waitpid(pid, nullptr, 0);
        size_t hash = lines.size() == 2 ? lines[1].find('#') : std::string::npos;
        return hash == std::string::npos ? "" : lines[1].substr(hash + 1);
    }

    // The viewer of the help file, served until the test ends: its URL.
    std::string StartViewer()
    {
        std::vector<std::string> lines =
            StartServing({"serve", "--no-open", "--port", "0", file_}, 1, server_);
        return lines.empty() ? "" : lines[0];
    }

    std::string serve_, file_;
    pid_t server_ = -1;
};

struct Reply {
    int status = 0;  // 0: no answer
    std::string body;
};

// GET of target (below the viewer's URL, "http://127.0.0.1:PORT/<token>/<file>/").
Reply Get(const std::string& viewer, const std::string& target)
{
    const std::string prefix = "http://127.0.0.1:";
    size_t slash = viewer.find('/', prefix.size());
    if (viewer.compare(0, prefix.size(), prefix) != 0 || slash == std::string::npos)
        return {};
    int port = atoi(viewer.c_str() + prefix.size());
    int fd = ConnectLoopback(port);
    if (fd < 0)
        return {};
    std::string request = "GET " + viewer.substr(slash) + target +
        " HTTP/1.1\r\nHost: " + prefix.substr(7) + std::to_string(port) +
        "\r\nConnection: close\r\n\r\n";
    send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    std::string all;
    char buffer[4096];
    ssize_t got;
    while ((got = recv(fd, buffer, sizeof buffer, 0)) > 0)
        all.append(buffer, (size_t)got);
    close(fd);
    size_t end = all.find("\r\n\r\n");
    if (all.compare(0, 9, "HTTP/1.1 ") != 0 || end == std::string::npos)
        return {};
    return {atoi(all.c_str() + 9), all.substr(end + 4)};
}

// Every byte but letters and digits escaped, as a query's value.
std::string QueryValue(const std::string& text)
{
    std::string out;
    for (unsigned char c : text) {
        char escape[4];
        snprintf(escape, sizeof escape, "%%%02X", c);
        out += isalnum(c) ? std::string(1, (char)c) : escape;
    }
    return out;
}

// The lines of velkory index, or of the viewer's index (each of its entries
// once per page it leads to): "entry<TAB>page".
std::vector<std::string> ListedIndex(const std::string& out)
{
    std::vector<std::string> lines;
    for (const std::string& line : Lines(out)) {
        size_t tab = line.find('\t');
        lines.push_back(line.substr(0, tab) + "\t" +
                        (tab == std::string::npos ? "" : line.substr(tab + 2)));
    }
    return lines;
}
std::vector<std::string> ViewerIndex(const nlohmann::json& items, const nlohmann::json& positions)
{
    std::vector<std::string> lines;
    for (const nlohmann::json& at : positions)
        for (const nlohmann::json& url : items.at(at.get<size_t>()).at("u"))
            lines.push_back(items[at.get<size_t>()]["n"].get<std::string>() + "\t" +
                            url.get<std::string>());
    return lines;
}

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
    std::string viewer = StartViewer();
    Reply index = Get(viewer, "~velkory/api/index");
    ASSERT_EQ(index.status, 200) << viewer;
    nlohmann::json items = nlohmann::json::parse(index.body)["items"];
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
        // The viewer's index offers what velkory index lists, whichever
        // source answers help.
        Reply matches = Get(viewer, "~velkory/api/index-matches?k=" + QueryValue(c.keyword));
        ASSERT_EQ(matches.status, 200) << matches.body;
        EXPECT_EQ(ViewerIndex(items, nlohmann::json::parse(matches.body)["positions"]),
                  ListedIndex(Run({"index", file_, c.keyword}, Utf8Locale).out));
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

// What no keyword could be typed as, or no entry begins with, gets a clean
// answer; the server keeps answering.
TEST_F(TopicAgreementTest, TheViewersIndexAnswersAnyKeywordCleanly)
{
    std::string viewer = StartViewer();
    const std::string all = "{\"positions\":[0,1,2]}";
    const struct {
        std::string query;
        int status;
        std::string body;  // "" for a refusal's text, not compared
    } cases[] = {
        {"k=", 200, all},                         // every entry, as velkory index without one
        {"k=%FF", 200, "{\"positions\":[]}"},     // no UTF-8: '?'
        {"k=Z%FFla", 200, "{\"positions\":[]}"},  // "Z?la"
        {"k=%G1%", 200, "{\"positions\":[]}"},    // escapes that are none
        {"k=zo&k=%C3%96", 200, "{\"positions\":[0,1]}"},  // the first k
        {"k=" + std::string(7000, 'z'), 200, "{\"positions\":[]}"},
        {"k=" + std::string(9000, 'z'), 414, ""},
        {"k=zo%00la", 400, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.query.substr(0, 40));
        Reply reply = Get(viewer, "~velkory/api/index-matches?" + c.query);
        EXPECT_EQ(reply.status, c.status) << reply.body;
        if (!c.body.empty()) {
            EXPECT_EQ(reply.body, c.body);
        }
    }
    EXPECT_EQ(Get(viewer, "~velkory/api/index-matches?k=%C3%B6").body, "{\"positions\":[2]}");
}
