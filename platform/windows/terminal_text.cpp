// Terminal conversions on Windows. The command line arrives in the ANSI code
// page and the console shows the OEM code page, so a keyword and an ANSI text
// for display both go through CharToOemA, and OEM text is shown as it is.
#include "platform/terminal_text.h"
#include "platform/platform.h"
#include "platform/text.h"

#include <limits.h>
#include <stdlib.h>
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

size_t CodePointToTerminal(uint32_t cp, char* out)
{
    uint16_t units[2];
    int count = (int)EncodeUtf16(cp, units);
    wchar_t wide[2] = {(wchar_t)units[0], (wchar_t)units[1]};
    int length = WideCharToMultiByte(CP_OEMCP, 0, wide, count, out, 8, "?", nullptr);
    if (length > 0)
        return (size_t)length;
    out[0] = '?';
    return 1;
}

bool Utf8ToTerminal(const char* src, size_t size, char* dest, size_t capacity, size_t* length)
{
    if (size == 0) {
        *length = 0;
        return true;
    }
    int units = MultiByteToWideChar(CP_UTF8, 0, src, (int)size, nullptr, 0);
    if (units <= 0)
        return false;
    wchar_t* wide = (wchar_t*)HeapAlloc(GetProcessHeap(), 0, (size_t)units * sizeof(wchar_t));
    if (wide == nullptr)
        return false;
    MultiByteToWideChar(CP_UTF8, 0, src, (int)size, wide, units);
    int bytes = WideCharToMultiByte(CP_OEMCP, 0, wide, units, dest, (int)capacity, "?", nullptr);
    HeapFree(GetProcessHeap(), 0, wide);
    if (bytes <= 0)
        return false;
    *length = (size_t)bytes;
    return true;
}

const char* CodePageSettingError(void)
{
    return nullptr;
}

// The code page the terminal's text is in.
unsigned TerminalCodePage(void)
{
    return CP_OEMCP;
}
