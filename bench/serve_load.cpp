// The load serve-bench puts on an HTTP server: CLIENTS keep-alive clients on
// the loopback interface, REQUESTS in all, each the GET of PREFIX followed by
// one line of PATHS (taken in turn), every answer read whole. Prints
// "<requests> <seconds> <requests per second> <failures>"; a failure is an
// answer that is not 200 or not whole. Built by serve-bench itself.
//
// usage: serve_load PORT PREFIX PATHS CLIENTS REQUESTS
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "support/loopback.h"

namespace {

// One answer read whole; false when it is not a whole 200. close: the
// server ends the connection after it.
bool ReadAnswer(int fd, std::string& buffer, bool& close)
{
    buffer.clear();
    size_t end = std::string::npos, want = 0;
    char chunk[65536];
    while (end == std::string::npos || buffer.size() < want) {
        ssize_t got = recv(fd, chunk, sizeof chunk, 0);
        if (got <= 0)
            return false;
        buffer.append(chunk, (size_t)got);
        if (end == std::string::npos && (end = buffer.find("\r\n\r\n")) != std::string::npos) {
            std::string head = buffer.substr(0, end);
            for (char& c : head)
                c = (char)tolower((unsigned char)c);
            size_t length = head.find("content-length:");
            if (length == std::string::npos)
                return false;
            want = end + 4 + strtoul(head.c_str() + length + 15, nullptr, 10);
            close = head.find("connection: close") != std::string::npos ||
                head.compare(0, 8, "http/1.0") == 0;
        }
    }
    return buffer.compare(9, 3, "200") == 0 && buffer.size() == want;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 6) {
        fprintf(stderr, "usage: serve_load PORT PREFIX PATHS CLIENTS REQUESTS\n");
        return 2;
    }
    int port = atoi(argv[1]);
    std::string prefix = argv[2];
    std::vector<std::string> paths;
    std::ifstream list(argv[3]);
    for (std::string line; std::getline(list, line);)
        if (!line.empty())
            paths.push_back(line);
    int clients = atoi(argv[4]);
    long requests = atol(argv[5]);
    if (paths.empty() || clients <= 0 || requests <= 0) {
        fprintf(stderr, "serve_load: no paths in %s, or no clients or requests\n", argv[3]);
        return 2;
    }
    std::atomic<long> next {0}, failures {0};
    auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> threads;
    for (int c = 0; c < clients; ++c) {
        threads.emplace_back([&]() {
            int fd = -1;
            std::string answer;
            for (long n; (n = next++) < requests;) {
                std::string request = "GET " + prefix + paths[(size_t)n % paths.size()] +
                    " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) + "\r\n\r\n";
                if (fd < 0 && (fd = ConnectLoopback(port)) < 0) {
                    ++failures;
                    continue;
                }
                bool close = false;
                if (send(fd, request.data(), request.size(), MSG_NOSIGNAL) !=
                        (ssize_t)request.size() ||
                    !ReadAnswer(fd, answer, close)) {
                    ++failures;
                    close = true;
                }
                if (close)
                    ::close(fd), fd = -1;
            }
            if (fd >= 0)
                ::close(fd);
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    printf("%ld %.2f %.0f %ld\n", requests, seconds, (double)requests / seconds, failures.load());
    return 0;
}
