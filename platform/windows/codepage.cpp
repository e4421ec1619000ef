// Terminal conversions on Windows. The command line arrives in the ANSI code
// page and the console shows the OEM code page, so a keyword and an ANSI text
// for display both go through CharToOemA, and OEM text is shown as it is.
#include "platform/codepage.h"
#include "platform/platform.h"

#include <string.h>

namespace {

// The length of the longest start of src that fits capacity - 1 bytes without
// splitting a double-byte character of the code page; complete tells whether
// that is all of src.
size_t FittingLength(const char* src, size_t capacity, UINT codePage, bool* complete)
{
    size_t limit = capacity - 1;
    size_t length = 0;
    while (src[length] != '\0') {
        size_t step =
            (IsDBCSLeadByteEx(codePage, (BYTE)src[length]) && src[length + 1] != '\0') ? 2 : 1;
        if (length + step > limit) {
            *complete = false;
            return length;
        }
        length += step;
    }
    *complete = true;
    return length;
}

bool CopyFitting(const char* src, char* dest, size_t capacity, UINT codePage, bool toOem)
{
    if (dest == nullptr || capacity == 0)
        return false;
    if (src == nullptr) {
        dest[0] = '\0';
        return false;
    }
    bool complete;
    size_t length = FittingLength(src, capacity, codePage, &complete);
    memmove(dest, src, length);
    dest[length] = '\0';
    // In place: CharToOemA never writes more bytes than the text holds.
    if (toOem)
        CharToOemA(dest, dest);
    return complete;
}

}  // namespace

bool TerminalToOem(const char* src, char* dest, size_t capacity)
{
    return CopyFitting(src, dest, capacity, CP_ACP, true);
}

bool OemToTerminal(const char* src, char* dest, size_t capacity)
{
    return CopyFitting(src, dest, capacity, CP_OEMCP, false);
}

bool AnsiToTerminal(const char* src, char* dest, size_t capacity)
{
    return CopyFitting(src, dest, capacity, CP_ACP, true);
}

const char* CodePageSettingError(void)
{
    return nullptr;
}
