// File-descriptor helpers (io.h).
#include "platform/io.h"

#include <errno.h>
#include <unistd.h>

bool WriteAll(int fd, const void* data, size_t size)
{
    const char* bytes = (const char*)data;
    while (size > 0) {
        ssize_t written = write(fd, bytes, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        bytes += written;
        size -= (size_t)written;
    }
    return true;
}
