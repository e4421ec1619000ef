// The server's run: the help files opened, the listening sockets on the
// loopback interface (127.0.0.1, and ::1 where the machine has it), the
// routes (routes.cpp), the background indexing, and the end of the run on
// SIGINT or SIGTERM.
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <httplib.h>
#include <pthread.h>

#include "host/host.h"
#include "host/serve/serve.h"

namespace {

constexpr size_t MaxPayload = 64 * 1024;

// The token of the last run, unless a new one is asked for or the kept one
// cannot be trusted; a new one is kept at once (replace: the file there is to
// be replaced; kept is cleared when it cannot be written). False, having said
// why, when no token can be made.
bool ChooseToken(std::string& kept, bool fresh, KeptAddress& address, bool& replace)
{
    AddressRead read = kept.empty() ? AddressMissing : ReadAddress(kept, address);
    if (read == AddressKept && !fresh)
        return true;
    if (read == AddressUntrusted && !fresh)
        Complain(kept + " is not this user's alone, or not a plain file: a new token is made");
    address.token = NewToken();
    if (address.token.empty()) {
        Complain("cannot make a random token: " + std::string(strerror(errno)));
        return false;
    }
    replace = read != AddressMissing;
    if (replace || kept.empty())
        return true;  // written with the port
    // The first run: another one starting now may have written its own.
    int failure = WriteAddress(kept, address, false);
    if (failure == EEXIST && ReadAddress(kept, address) == AddressKept)
        return true;
    if (failure != 0) {
        Complain("cannot keep the server's address in " + kept + ": " + strerror(failure) +
                 "; its URLs will change with the next run");
        kept.clear();
    }
    return true;
}

}  // namespace

int RunServer(const std::vector<std::string>& paths, const ServeOptions& options)
{
    ServerState state;
    if (!OpenLibrary(state.library, paths))
        return 1;
    std::string kept = options.keepAddress ? AddressFilePath() : "";
    KeptAddress address;
    bool replace = false;
    if (!ChooseToken(kept, options.newToken, address, replace))
        return 1;
    state.token = address.token;
    state.mimeTypes = ReadMimeTypes();

    // SIGINT and SIGTERM end the run; one thread waits for them, so every
    // other thread (the server's included) blocks them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    httplib::Server v4, v6;
    for (httplib::Server* server : {&v4, &v6}) {
        server->new_task_queue = [] { return new httplib::ThreadPool(32); };
        server->set_payload_max_length(MaxPayload);
        server->set_read_timeout(5, 0);
        server->set_write_timeout(10, 0);
        server->set_keep_alive_max_count(100);
        AddRoutes(*server, state);
    }
    // The port given; else the last run's when it is free; else any.
    int listening = options.port;
    if (options.port < 0 && address.port > 0 && v4.bind_to_port("127.0.0.1", address.port)) {
        listening = address.port;
    } else if (options.port <= 0) {
        listening = v4.bind_to_any_port("127.0.0.1");
        if (listening <= 0) {
            Complain("cannot listen on 127.0.0.1: no free port");
            return 1;
        }
    } else if (!v4.bind_to_port("127.0.0.1", options.port)) {
        Complain("cannot listen on 127.0.0.1:" + std::to_string(options.port) +
                 ": the port is in use or not allowed");
        return 1;
    }
    if (!kept.empty() && (replace || address.port != listening)) {
        address.port = listening;
        if (int failure = WriteAddress(kept, address, true))
            Complain("cannot keep the server's address in " + kept + ": " + strerror(failure) +
                     "; its URLs will change with the next run");
    }
    // ::1 as well, on the same port, where the machine has it.
    bool haveV6 = v6.bind_to_port("::1", listening);
    std::string port = std::to_string(listening);
    state.hosts = {"127.0.0.1:" + port, "localhost:" + port};
    if (haveV6)
        state.hosts.push_back("[::1]:" + port);

    // The URL to open first: the library, else the viewer of the one help
    // file; browse adds the chosen page's on a line of its own.
    std::string base = "http://127.0.0.1:" + port + "/" + state.token + "/";
    if (!state.library.several)
        base += EncodeUrlPath(ServedFileAt(state.library, 0)->label) + "/";
    std::string url = base;
    if (!options.startPage.empty()) {
        size_t mark = options.startPage.find('#');
        url.append("#").append(EncodeUrlPath(options.startPage.substr(0, mark)));
        if (mark != std::string::npos)
            url.append("#").append(EncodeUrlPath(options.startPage.substr(mark + 1)));
    }
    printf("%s\n", base.c_str());
    if (url != base)
        printf("%s\n", url.c_str());
    fflush(stdout);

    // A stop that comes before a server listens would be lost: each is
    // stopped again until its listening has ended.
    std::atomic<bool> v4Done {false}, v6Done {!haveV6};
    std::thread signals([&]() {
        int received = 0;
        sigwait(&stopSignals, &received);
        state.library.stopping = true;
        while (!v4Done || !v6Done) {
            if (!v4Done && v4.is_running())
                v4.stop();
            if (!v6Done && v6.is_running())
                v6.stop();
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    });
    std::thread indexer(IndexLibrary, std::ref(state.library));
    std::thread v6Thread;
    if (haveV6)
        v6Thread = std::thread([&]() {
            v6.listen_after_bind();
            v6Done = true;
        });

    if (options.open)
        OpenInBrowser(url);
    bool served = v4.listen_after_bind();
    v4Done = true;
    bool stopped = state.library.stopping;
    if (!stopped)
        pthread_kill(signals.native_handle(), SIGUSR1);
    signals.join();
    indexer.join();
    if (v6Thread.joinable())
        v6Thread.join();
    if (!served && !stopped) {
        Complain("the server stopped: cannot accept connections on " + base);
        return 1;
    }
    return 0;
}
