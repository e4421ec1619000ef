// velkory lsp as an editor meets it: the protocol's framing and errors with
// the server still serving after each, cancellation, shutdown and exit; and
// Debian's neovim, a real client, asking hover and definition.
#include "host_runner.h"

#include <poll.h>
#include <signal.h>

#include <nlohmann/json.hpp>

#include "host/lsp/lsp.h"
#include "host/topic_agreement.h"
#include "support/corpus.h"

using nlohmann::json;

namespace {

// velkory lsp running as a child, spoken to through pipes.
class LspSession {
public:
    LspSession(const std::string& program, const std::string& tmp, const std::string& registry = "")
    {
        int in[2], out[2];
        if (pipe(in) != 0 || pipe(out) != 0)
            return;
        pid_ = fork();
        if (pid_ == 0) {
            setenv("TMPDIR", tmp.c_str(), 1);
            unsetenv("VELKORY_PATH");
            if (!registry.empty())
                setenv("VELKORY_REGISTRY", registry.c_str(), 1);
            dup2(in[0], 0);
            dup2(out[1], 1);
            close(in[1]);
            close(out[0]);
            execl(program.c_str(), program.c_str(), "lsp", (char*)nullptr);
            _exit(127);
        }
        close(in[0]);
        close(out[1]);
        to_ = in[1];
        from_ = out[0];
        signal(SIGPIPE, SIG_IGN);
    }
    ~LspSession()
    {
        if (to_ >= 0)
            close(to_);
        if (pid_ > 0)
            kill(pid_, SIGKILL), waitpid(pid_, nullptr, 0);
        if (from_ >= 0)
            close(from_);
    }
    bool Write(const std::string& bytes)
    {
        for (size_t at = 0; at < bytes.size();) {
            ssize_t n = write(to_, bytes.data() + at, bytes.size() - at);
            if (n <= 0)
                return false;
            at += (size_t)n;
        }
        return true;
    }
    static std::string Frame(const json& message)
    {
        std::string body = message.dump();
        return "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    }
    bool Send(const json& message)
    {
        return Write(Frame(message));
    }
    // The next message, or null when none comes within 20 s.
    json Receive()
    {
        std::string headers;
        while (headers.find("\r\n\r\n") == std::string::npos) {
            char c;
            if (!Read(&c, 1))
                return json();
            headers += c;
        }
        size_t at = headers.find("Content-Length: ");
        if (at == std::string::npos)
            return json();
        std::string body((size_t)atol(headers.c_str() + at + 16), '\0');
        if (!Read(body.data(), body.size()))
            return json();
        return json::parse(body, nullptr, false);
    }
    // Closes the server's input; its exit status (-1 unless it exits in 20 s).
    int Finish()
    {
        close(to_);
        to_ = -1;
        for (int i = 0; i < 2000; ++i) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            usleep(10000);
        }
        return -1;
    }

private:
    bool Read(char* to, size_t size)
    {
        for (size_t got = 0; got < size;) {
            pollfd p {from_, POLLIN, 0};
            if (poll(&p, 1, 20000) != 1)
                return false;
            ssize_t n = read(from_, to + got, size - got);
            if (n <= 0)
                return false;
            got += (size_t)n;
        }
        return true;
    }
    pid_t pid_ = -1;
    int to_ = -1, from_ = -1;
};

json Request(int id, const std::string& method, const json& params)
{
    return {{"jsonrpc", "2.0"}, {"id", id}, {"method", method}, {"params", params}};
}

json Position(const std::string& uri, int line, int character)
{
    return {{"textDocument", {{"uri", uri}}},
            {"position", {{"line", line}, {"character", character}}}};
}

// The error code of an answer to id (null id: a message that named none),
// 0 when it is a result.
int ErrorOf(const json& answer, const json& id)
{
    EXPECT_EQ(answer.value("id", json()), id) << answer.dump();
    return answer.contains("error") ? answer["error"].value("code", 1) : 0;
}

class LspTest : public HostTest {
protected:
    // `velkory serve --no-open file` keeping its address beside the test's
    // settings: its process and the address it prints ("" when none came
    // within 10 s).
    pid_t Serve(const std::string& file, std::string& address)
    {
        int out[2];
        if (pipe(out) != 0)
            return -1;
        pid_t pid = fork();
        if (pid == 0) {
            setenv("VELKORY_REGISTRY", registry_.c_str(), 1);
            dup2(out[1], 1);
            close(out[0]);
            execl(program_.c_str(), program_.c_str(), "serve", "--no-open", file.c_str(),
                  (char*)nullptr);
            _exit(127);
        }
        close(out[1]);
        address.clear();
        char c;
        pollfd p {out[0], POLLIN, 0};
        while (poll(&p, 1, 10000) == 1 && read(out[0], &c, 1) == 1 && c != '\n')
            address += c;
        close(out[0]);
        return pid;
    }
    // The hover's Markdown over "Emblem" from a session with the test's settings.
    std::string HoverText()
    {
        LspSession lsp(program_, tmp_, registry_);
        const std::string uri = "file:///work/notes.txt";
        lsp.Send(Request(1, "initialize", {{"initializationOptions", {{"shelf", {root_}}}}}));
        lsp.Receive();
        lsp.Send(
            {{"jsonrpc", "2.0"},
             {"method", "textDocument/didOpen"},
             {"params",
              {{"textDocument",
                {{"uri", uri}, {"languageId", "text"}, {"version", 1}, {"text", "Emblem"}}}}}});
        lsp.Send(Request(2, "textDocument/hover", Position(uri, 0, 2)));
        json hover = lsp.Receive();
        return hover["result"].is_object() ? hover["result"]["contents"].value("value", "") : "";
    }
};

}  // namespace

TEST_F(LspTest, ProtocolErrorsAreAnsweredAndTheServerKeepsServing)
{
    std::string file = root_ + "/agree.chm";
    ASSERT_TRUE(WriteBytes(file, AgreementHelpFile()));
    LspSession lsp(program_, tmp_);
    const std::string uri = "file:///work/notes.txt";

    ASSERT_TRUE(lsp.Send(Request(1, "textDocument/hover", Position(uri, 0, 0))));
    EXPECT_EQ(ErrorOf(lsp.Receive(), 1), -32002);  // not initialized yet
    ASSERT_TRUE(
        lsp.Send(Request(2, "initialize", {{"initializationOptions", {{"shelf", {root_}}}}})));
    json init = lsp.Receive();
    EXPECT_EQ(init["result"]["capabilities"]["hoverProvider"], true) << init.dump();
    lsp.Send({{"jsonrpc", "2.0"}, {"method", "initialized"}, {"params", json::object()}});
    lsp.Send({{"jsonrpc", "2.0"},
              {"method", "textDocument/didOpen"},
              {"params",
               {{"textDocument",
                 {{"uri", uri},
                  {"languageId", "text"},
                  {"version", 1},
                  {"text", "x\nsee Emblem.\n"}}}}}});

    // Each hostile message, and the answer it gets: the protocol's error,
    // naming the request when it could be read.
    const std::string huge = "Content-Length: " + std::to_string(LspMaxContent + 1) + "\r\n\r\n" +
        std::string(LspMaxContent + 1, '[');
    const struct {
        const char* what;
        std::string bytes;
        json id;
        int code;
    } cases[] = {
        {"not JSON", "Content-Length: 5\r\n\r\n{oops", json(), -32700},
        {"no length", "Content-Type: x\r\n\r\n", json(), -32700},
        {"a length that is no number", "Content-Length: 12a\r\n\r\n", json(), -32700},
        {"a length beyond any", "Content-Length: 99999999999999999999999\r\n\r\n", json(), -32700},
        {"a header line over the limit", std::string(LspMaxHeaders + 10, 'x') + "\r\n\r\n", json(),
         -32700},
        {"content over the limit", huge, json(), -32600},
        {"no jsonrpc", R"({"id":3,"method":"shutdown"})", 3, -32600},
        {"an array", "[1,2]", json(), -32600},
        {"an id that is an object", R"({"jsonrpc":"2.0","id":{},"method":"x"})", json(), -32600},
        {"an unknown method", Request(4, "textDocument/rename", json::object()).dump(), 4, -32601},
        {"a hover without a position", Request(5, "textDocument/hover", json::object()).dump(), 5,
         -32602},
        {"a position of the wrong kind",
         Request(6, "textDocument/hover", Position(uri, -1, 0)).dump(), 6, -32602},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::string bytes = c.bytes;
        if (bytes.rfind("Content-", 0) != 0 && bytes[0] != 'x')
            bytes = "Content-Length: " + std::to_string(bytes.size()) + "\r\n\r\n" + bytes;
        ASSERT_TRUE(lsp.Write(bytes));
        // An unknown notification is no request: it has no answer.
        lsp.Send({{"jsonrpc", "2.0"}, {"method", "$/unknown"}, {"params", {}}});
        EXPECT_EQ(ErrorOf(lsp.Receive(), c.id), c.code);
        // Still serving: the word under the cursor finds its topic.
        ASSERT_TRUE(lsp.Send(Request(7, "textDocument/hover", Position(uri, 1, 6))));
        json hover = lsp.Receive();
        EXPECT_NE(hover["result"]["contents"]["value"].get<std::string>().find("**Emblem**"),
                  std::string::npos)
            << hover.dump();
    }

    // Lookups are answered in order, off the reading thread: a request
    // cancelled while those before it are looked up is answered as cancelled.
    for (int id = 100; id < 120; ++id)
        lsp.Send(Request(id, "workspace/symbol", {{"query", "z"}}));
    lsp.Send(Request(120, "textDocument/definition", Position(uri, 1, 6)));
    lsp.Send({{"jsonrpc", "2.0"}, {"method", "$/cancelRequest"}, {"params", {{"id", 120}}}});
    lsp.Send(Request(121, "textDocument/definition", Position(uri, 1, 6)));
    for (int id = 100; id < 120; ++id) {
        json symbols = lsp.Receive();
        ASSERT_EQ(ErrorOf(symbols, id), 0);
        EXPECT_EQ(symbols["result"].size(), 3u) << symbols.dump();  // Zola twice, zoom
    }
    EXPECT_EQ(ErrorOf(lsp.Receive(), 120), -32800);
    json definition = lsp.Receive();
    ASSERT_EQ(ErrorOf(definition, 121), 0);
    std::string path = definition["result"]["uri"].get<std::string>().substr(7);
    EXPECT_EQ(ReadText(path), "emblem.htm");

    // After shutdown only exit: the session's pages go with the server.
    lsp.Send(Request(8, "shutdown", nullptr));
    EXPECT_EQ(ErrorOf(lsp.Receive(), 8), 0);
    lsp.Send(Request(9, "textDocument/hover", Position(uri, 1, 6)));
    EXPECT_EQ(ErrorOf(lsp.Receive(), 9), -32600);
    lsp.Send({{"jsonrpc", "2.0"}, {"method", "exit"}});
    EXPECT_EQ(lsp.Finish(), 0);
    EXPECT_FALSE(fs::exists(path));
    EXPECT_TRUE(fs::is_empty(tmp_));

    // Without shutdown the end of the input is an exit that fails.
    LspSession cut(program_, tmp_);
    EXPECT_EQ(cut.Finish(), 1);
}

TEST_F(LspTest, NeovimGetsTheTopicsTextOnHoverAndItsPageOnDefinition)
{
    std::string chm = SharedDir().empty() ? "" : SharedDir() + "/corpus/chm/WinRing0.chm";
    if (chm.empty() || !fs::exists(chm))
        GTEST_SKIP() << "no shared corpus beside the source tree (WinRing0.chm)";
    // run-tests installs neovim: a missing one fails here.
    ASSERT_EQ(system("command -v nvim >/dev/null"), 0) << "neovim is not installed";

    std::string source = root_ + "/driver.c", out = root_ + "/answers.json";
    WriteText(source, "int main(void)\n{\n    return Rdmsr(0x10, 0, 0);\n}\n");
    // The client: starts the server with the shelf, asks hover and definition
    // on "Rdmsr" (line 3), writes the answers, reads the page before the
    // server (and its pages) goes, and quits.
    std::string lua = root_ + "/client.lua";
    WriteText(lua, R"(
local ready = false
local id = vim.lsp.start_client({
  cmd = { vim.env.VELKORY, 'lsp' },
  root_dir = vim.env.ROOT,
  init_options = { shelf = { vim.env.SHELF } },
  on_init = function() ready = true end,
})
vim.lsp.buf_attach_client(0, id)
vim.wait(20000, function() return ready end, 50)
vim.api.nvim_win_set_cursor(0, { 3, 13 })
local params = vim.lsp.util.make_position_params()
local answers = { ready = ready }
local hover = vim.lsp.buf_request_sync(0, 'textDocument/hover', params, 20000) or {}
for _, r in pairs(hover) do answers.hover = r.result and r.result.contents.value end
local definition = vim.lsp.buf_request_sync(0, 'textDocument/definition', params, 20000) or {}
for _, r in pairs(definition) do
  local location = r.result and (r.result[1] or r.result)
  if location then
    answers.uri = location.uri
    answers.page = table.concat(vim.fn.readfile(vim.uri_to_fname(location.uri)), '\n')
  end
end
vim.fn.writefile({ vim.fn.json_encode(answers) }, vim.env.OUT)
vim.lsp.stop_client(id)
vim.wait(5000, function() return vim.lsp.get_client_by_id(id) == nil end, 50)
vim.cmd('qa!')
)");
    std::string command = "cd '" + root_ + "' && VELKORY='" + program_ + "' SHELF='" + chm +
        "' ROOT='" + root_ + "' OUT='" + out + "' TMPDIR='" + tmp_ + "' HOME='" + root_ +
        "' timeout 60 nvim --headless -u NONE -i NONE -n '" + source + "' -c 'luafile " + lua +
        "' >/dev/null 2>&1";
    EXPECT_EQ(system(command.c_str()), 0);
    json answers = json::parse(ReadText(out), nullptr, false);
    ASSERT_TRUE(answers.is_object()) << ReadText(out);
    EXPECT_EQ(answers["ready"], true);
    std::string hover = answers.value("hover", "");
    EXPECT_EQ(hover.rfind("**Rdmsr**", 0), 0u) << hover;
    EXPECT_NE(hover.find("Loads the contents of a 64-bit model specific register"),
              std::string::npos)
        << hover;
    EXPECT_NE(hover.find("WinRing0.chm"), std::string::npos) << hover;
    std::string uri = answers.value("uri", "");
    EXPECT_EQ(uri.rfind("file://" + tmp_ + "/velkory-lsp-", 0), 0u) << uri;
    const std::string page = "/_RESOURCE/Rdmsr.html";
    EXPECT_TRUE(uri.size() > page.size() && uri.substr(uri.size() - page.size()) == page) << uri;
    EXPECT_NE(answers.value("page", "").find("Rdmsr"), std::string::npos);
    // The server removed its pages when neovim stopped it.
    EXPECT_TRUE(fs::is_empty(tmp_));
}

TEST_F(LspTest, HoverLinksToThePageInTheBrowserViewThatServesItsFile)
{
    if (access((program_ + "-serve").c_str(), X_OK) != 0)
        GTEST_SKIP() << "the velkory-serve program is not built beside " << program_;
    std::string file = root_ + "/agree.chm";
    ASSERT_TRUE(WriteBytes(file, AgreementHelpFile()));
    // A help file of the same name elsewhere, which the hover's is not.
    ASSERT_TRUE(fs::create_directory(root_ + "/elsewhere"));
    ASSERT_TRUE(WriteBytes(root_ + "/elsewhere/agree.chm", AgreementHelpFile()));

    EXPECT_EQ(HoverText().find("browser view"), std::string::npos);  // no server yet

    std::string address;
    pid_t server = Serve(file, address);
    ASSERT_EQ(address.rfind("http://127.0.0.1:", 0), 0u) << address;
    size_t root = address.find('/', 7);
    std::string page = address.substr(0, address.find('/', root + 1) + 1) + "agree.chm/emblem.htm";
    EXPECT_NE(HoverText().find("[Open in the browser view](<" + page + ">)"), std::string::npos)
        << page;
    kill(server, SIGTERM);
    waitpid(server, nullptr, 0);
    // The address is kept, but nobody listens there.
    EXPECT_EQ(HoverText().find("browser view"), std::string::npos);

    server = Serve(root_ + "/elsewhere/agree.chm", address);
    ASSERT_FALSE(address.empty());
    std::string hover = HoverText();
    EXPECT_NE(hover.find("**Emblem**"), std::string::npos) << hover;
    EXPECT_EQ(hover.find("browser view"), std::string::npos) << hover;
    kill(server, SIGTERM);
    waitpid(server, nullptr, 0);
}
