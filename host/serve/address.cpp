// The server's address kept from run to run: the token its URLs lie under
// and the port it listened on last, so that bookmarks, the browser's history
// and links pasted elsewhere still lead to the same pages.
//
// They are kept in "serve", a file beside the settings file (registry.reg,
// see platform/linux/registry_file.cpp), readable by the user alone: it is
// made with mode 0600 in a directory made with mode 0700, and a file that
// others may read, that is not the user's own, or that is not a plain file
// is not trusted: a new token is made and the file replaced. It is written
// whole under a new name and then renamed into place.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include "host/host.h"
#include "host/serve/serve.h"

namespace {

constexpr size_t TokenBytes = 16;

// The directory of path, made (with its parents) if missing, mode 0700;
// false with errno set when it cannot be.
bool MakeDirectoryOf(const std::string& path)
{
    for (size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1))
        if (mkdir(path.substr(0, slash).c_str(), 0700) != 0 && errno != EEXIST)
            return false;
    return true;
}

}  // namespace

std::string NewToken()
{
    unsigned char bytes[TokenBytes];
    size_t got = 0;
    while (got < sizeof bytes) {
        ssize_t n = getrandom(bytes + got, sizeof bytes - got, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return "";
        got += (size_t)n;
    }
    std::string token;
    for (unsigned char b : bytes) {
        token += "0123456789abcdef"[b >> 4];
        token += "0123456789abcdef"[b & 15];
    }
    return token;
}

int WriteAddress(const std::string& path, const KeptAddress& address, bool replace)
{
    if (!MakeDirectoryOf(path))
        return errno;
    std::string temporary = path + ".XXXXXX";
    int fd = mkstemp(temporary.data());  // mode 0600
    if (fd < 0)
        return errno;
    std::string text = "# velkory serve: the address of the browser view, kept between runs\n"
                       "token=" +
        address.token + "\nport=" + std::to_string(address.port) + "\n";
    int failure = 0;
    if (write(fd, text.data(), text.size()) != (ssize_t)text.size() || fsync(fd) != 0)
        failure = errno ? errno : EIO;
    if (close(fd) != 0 && failure == 0)
        failure = errno;
    // A new file must not replace one that another run made meanwhile.
    if (failure == 0 &&
        (replace ? rename(temporary.c_str(), path.c_str())
                 : link(temporary.c_str(), path.c_str())) != 0)
        failure = errno;
    if (failure != 0 || !replace)
        unlink(temporary.c_str());
    return failure;
}
