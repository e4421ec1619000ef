// CreateDirectoryA and the lstr* text functions.
//
// Like their Windows namesakes, the text functions answer a null pointer with
// a null result (or a length of 0) instead of faulting.
#include "platform/platform.h"

#include <sys/stat.h>

BOOL CreateDirectoryA(LPCSTR path, LPSECURITY_ATTRIBUTES security)
{
    (void)security;
    if (path == nullptr || path[0] == '\0')
        return 0;
    // One directory: nothing may exist at the path, and its parent must.
    return mkdir(path, 0700) == 0;
}

LPSTR lstrcpyA(LPSTR dest, LPCSTR src)
{
    if (dest == nullptr || src == nullptr)
        return nullptr;
    char* d = dest;
    while ((*d++ = *src++) != '\0') {
    }
    return dest;
}

// At most maxChars - 1 characters and always a terminator; nothing is written
// when maxChars is 0 or negative.
LPSTR lstrcpynA(LPSTR dest, LPCSTR src, int maxChars)
{
    if (dest == nullptr || src == nullptr)
        return nullptr;
    if (maxChars <= 0)
        return dest;
    char* d = dest;
    int left = maxChars;
    while (left > 1 && *src != '\0') {
        *d++ = *src++;
        left--;
    }
    *d = '\0';
    return dest;
}

LPSTR lstrcatA(LPSTR dest, LPCSTR src)
{
    if (dest == nullptr || src == nullptr)
        return nullptr;
    char* d = dest;
    while (*d != '\0')
        d++;
    while ((*d++ = *src++) != '\0') {
    }
    return dest;
}

int lstrlenA(LPCSTR text)
{
    if (text == nullptr)
        return 0;
    const char* end = text;
    while (*end != '\0')
        end++;
    return (int)(end - text);
}
