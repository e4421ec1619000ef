// A hover's link to its page in the browser view, when one runs: the address
// velkory-serve keeps (its token and port) is read, and the server there is
// asked, over the loopback interface, whether the help file is one it serves
// (its "info" names the file). A server that is gone, silent or serving other
// files gives no link; the hover is never held up by more than a moment.
#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "host/host.h"
#include "host/lsp/lsp.h"
#include "host/os/os.h"
#include "host/page/page.h"

namespace {

// How long the server may take over one answer, in all; and the most bytes
// of an answer read.
constexpr int AnswerMilliseconds = 500;
constexpr size_t AnswerBytes = 64 * 1024;

// Labels a server gives a help file: its name, or, when another file served
// has that name, the name with "~2", "~3"...
constexpr int LabelsTried = 4;

// The body of a GET of path from the server on the loopback port, when it
// answers 200 within the time allowed; false otherwise.
bool GetFromLoopback(int port, const std::string& path, std::string& body)
{
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return false;
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons((uint16_t)port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(AnswerMilliseconds);
    // Waits until fd is ready for events or the time is up.
    auto wait = [&](short events) {
        for (;;) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                            deadline - std::chrono::steady_clock::now())
                            .count();
            if (left <= 0)
                return false;
            pollfd p = {fd, events, 0};
            int ready = poll(&p, 1, (int)left);
            if (ready > 0)
                return true;
            if (ready < 0 && errno != EINTR)
                return false;
        }
    };
    std::string answer;
    bool ok = connect(fd, (const sockaddr*)&address, sizeof address) == 0 || errno == EINPROGRESS;
    if (ok && wait(POLLOUT)) {
        int error = 0;
        socklen_t size = sizeof error;
        ok = getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0;
    } else {
        ok = false;
    }
    std::string request = "GET " + path + " HTTP/1.0\r\nHost: 127.0.0.1:" + std::to_string(port) +
        "\r\nConnection: close\r\n\r\n";
    for (size_t sent = 0; ok && sent < request.size();) {
        ssize_t n = send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
        if (n > 0)
            sent += (size_t)n;
        else if (n < 0 && errno != EAGAIN && errno != EINTR)
            ok = false;
        else
            ok = wait(POLLOUT);
    }
    while (ok && answer.size() < AnswerBytes) {
        char buffer[4096];
        ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n > 0)
            answer.append(buffer, (size_t)n);
        else if (n == 0)
            break;
        else if (errno != EAGAIN && errno != EINTR)
            ok = false;
        else
            ok = wait(POLLIN);
    }
    close(fd);
    size_t head = answer.find("\r\n\r\n");
    if (!ok || answer.size() >= AnswerBytes || head == std::string::npos ||
        (answer.compare(0, 13, "HTTP/1.1 200 ") != 0 &&
         answer.compare(0, 13, "HTTP/1.0 200 ") != 0))
        return false;
    body = answer.substr(head + 4);
    return true;
}

}  // namespace

std::string ServedPageUrl(const LspTopic& topic)
{
    KeptAddress kept;
    std::string addressFile = AddressFilePath();
    if (!topic.found || addressFile.empty() || ReadAddress(addressFile, kept) != AddressKept ||
        kept.port <= 0)
        return "";
    std::string file = CanonicalPath(topic.file);
    std::string root = "/";
    root.append(kept.token).append("/");
    std::string site = "http://127.0.0.1:";
    site.append(std::to_string(kept.port));
    for (int n = 1; n <= LabelsTried; ++n) {
        std::string label = BaseName(topic.file);
        if (n > 1)
            label.append("~").append(std::to_string(n));
        std::string base = root;
        base.append(EncodeUrlPath(label)).append("/");
        std::string body;
        if (!GetFromLoopback(kept.port, base + "~velkory/api/info", body))
            continue;
        nlohmann::json info = nlohmann::json::parse(body, nullptr, false);
        if (!info.is_object() || !info.contains("path") || !info["path"].is_string() ||
            info["path"].get<std::string>() != file)
            continue;
        std::string url = site;
        url.append(base).append(
            EncodeUrlPath(topic.page.substr(topic.page.compare(0, 1, "/") == 0)));
        if (!topic.anchor.empty())
            url.append("#").append(EncodeUrlPath(topic.anchor));
        return url;
    }
    return "";
}
