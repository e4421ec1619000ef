// The terminal conversions that are the same on every system: text of any
// code page goes through UTF-16 with the platform's own conversions.
#include "platform/terminal_text.h"

#include <limits.h>
#include <stdlib.h>

#include "platform/platform.h"

bool CodePageToTerminal(unsigned codePage, const char* src, size_t size, char* dest,
                        size_t capacity, size_t* length)
{
    *length = 0;
    if (size == 0)
        return true;
    if (size > (size_t)INT_MAX / 4 || capacity == 0)
        return false;
    int units = MultiByteToWideChar(codePage, 0, src, (int)size, nullptr, 0);
    if (units <= 0)
        return false;
    WCHAR* wide = (WCHAR*)malloc((size_t)units * sizeof(WCHAR));
    if (wide == nullptr)
        return false;
    MultiByteToWideChar(codePage, 0, src, (int)size, wide, units);
    int limit = capacity > (size_t)INT_MAX ? INT_MAX : (int)capacity;
    int bytes =
        WideCharToMultiByte(TerminalCodePage(), 0, wide, units, dest, limit, nullptr, nullptr);
    free(wide);
    if (bytes <= 0)
        return false;
    *length = (size_t)bytes;
    return true;
}
