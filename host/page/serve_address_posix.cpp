// The browser view's address kept from run to run (the file "serve" beside
// the settings file, which velkory-serve writes, serve/address.cpp): read by
// the server when it starts and by those that link to its pages (the
// language server). A file that others may read, that is not the user's own,
// or that is not a plain file is not trusted.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "host/page/page.h"
#include "platform/linux/registry_store.h"

namespace {

bool IsToken(const std::string& text)
{
    return text.size() == 32 && text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

}  // namespace

std::string AddressFilePath()
{
    char* settings = registry::RegistryFilePath();
    if (settings == nullptr)
        return "";
    std::string path = settings;
    free(settings);
    size_t slash = path.find_last_of('/');
    return (slash == std::string::npos ? std::string(".") : path.substr(0, slash)) + "/serve";
}

AddressRead ReadAddress(const std::string& path, KeptAddress& address)
{
    address = KeptAddress();
    int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT ? AddressMissing : AddressUntrusted;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != getuid() ||
        (st.st_mode & 077) != 0 || st.st_size > 4096) {
        close(fd);
        return AddressUntrusted;
    }
    char text[4097];
    ssize_t got = read(fd, text, sizeof text - 1);
    close(fd);
    if (got < 0)
        return AddressUntrusted;
    text[got] = '\0';
    const char* line = text;
    while (*line) {
        const char* end = strchr(line, '\n');
        std::string entry(line, end ? (size_t)(end - line) : strlen(line));
        if (entry.compare(0, 6, "token=") == 0)
            address.token = entry.substr(6);
        else if (entry.compare(0, 5, "port=") == 0)
            address.port = atoi(entry.c_str() + 5);
        line = end ? end + 1 : line + entry.size();
    }
    if (address.port < 0 || address.port > 65535)
        address.port = 0;
    return IsToken(address.token) ? AddressKept : AddressUntrusted;
}
