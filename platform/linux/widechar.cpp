// Conversions between code pages and UTF-16: MultiByteToWideChar,
// WideCharToMultiByte, GetACP, GetOEMCP and IsDBCSLeadByteEx, with the
// thread's last error that tells why a conversion answered 0.
//
// CP_ACP and CP_THREAD_ACP name the ANSI code page in force, CP_OEMCP the OEM
// one (codepage.cpp: 1252, and 437 or UTF-8 by the locale, unless
// VELKORY_CODEPAGES names another pair). The code pages themselves are the
// converter's (converter.h): UTF-8, 1252 and 437 built in, every other one
// through iconv.
//
// As on Windows: a length of -1 means the source is NUL-terminated and the
// terminator is converted too; a destination length of 0 asks for the length
// the result needs; a result that does not fit fails with
// ERROR_INSUFFICIENT_BUFFER (what was written before is unspecified).
// Bytes that are no character become U+FFFD from UTF-8 (one for each maximal
// invalid part, Utf8InvalidSubpart) and '?' from other code pages, or fail
// the call with ERROR_NO_UNICODE_TRANSLATION under MB_ERR_INVALID_CHARS. A
// character the target lacks becomes the default character ('?', or the
// first character of defaultChar) and sets *usedDefaultChar; toward 437 a
// character of 1252 first takes the best fit CharToOemA gives it, unless
// WC_NO_BEST_FIT_CHARS. A lone surrogate becomes U+FFFD in UTF-8 and the
// default character elsewhere.
#include "platform/codepage.h"
#include "platform/linux/converter.h"
#include "platform/platform.h"
#include "platform/text.h"

#include <limits.h>
#include <string.h>

namespace {

thread_local DWORD lastError = ERROR_SUCCESS;

int Fail(DWORD error)
{
    lastError = error;
    return 0;
}

// The number of a code page argument; 0 for one that names none.
unsigned ResolveCodePage(UINT codePage)
{
    if (codePage == CP_ACP || codePage == CP_THREAD_ACP || codePage == CP_OEMCP) {
        const CodePagePair* pair = CurrentCodePages();
        return codePage == CP_OEMCP ? pair->oem : pair->ansi;
    }
    if (codePage == CP_MACCP)
        return 10000;
    // UTF-16 and UTF-32 are no multi-byte code pages for these calls.
    if (codePage == 1200 || codePage == 1201 || codePage == 12000 || codePage == 12001)
        return 0;
    return codePage <= 65535 ? codePage : 0;
}

// The checks both conversions make of their arguments; false when one is
// invalid. *cp is the code page's number.
bool CheckArguments(UINT codePage, const void* src, int srcLength, const void* dest, int destLength,
                    unsigned* cp)
{
    if (src == nullptr || srcLength == 0 || srcLength < -1 || destLength < 0 ||
        (dest == nullptr && destLength != 0))
        return false;
    *cp = ResolveCodePage(codePage);
    return *cp != 0;
}

// Appends length units or bytes to dest (when destLength is not 0) and counts
// them; false when they do not fit or the count outgrows an int.
template <typename Unit>
bool Put(Unit* dest, int destLength, size_t* written, const Unit* units, size_t length)
{
    if (*written + length > (size_t)INT_MAX)
        return false;
    if (destLength != 0) {
        if (*written + length > (size_t)destLength)
            return false;
        memcpy(dest + *written, units, length * sizeof(Unit));
    }
    *written += length;
    return true;
}

}  // namespace

DWORD GetLastError(void)
{
    return lastError;
}

void SetLastError(DWORD error)
{
    lastError = error;
}

UINT GetACP(void)
{
    return ResolveCodePage(CP_ACP);
}

UINT GetOEMCP(void)
{
    return ResolveCodePage(CP_OEMCP);
}

BOOL IsDBCSLeadByteEx(UINT codePage, BYTE byte)
{
    unsigned cp = ResolveCodePage(codePage);
    if (cp == 0)
        return Fail(ERROR_INVALID_PARAMETER);
    switch (cp) {
    case 932:
        return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
    case 936:
    case 949:
    case 950:
        return byte >= 0x81 && byte <= 0xFE;
    default:
        return 0;
    }
}

int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR src, int srcLength, LPWSTR dest,
                        int destLength)
{
    unsigned cp;
    if (!CheckArguments(codePage, src, srcLength, dest, destLength, &cp))
        return Fail(ERROR_INVALID_PARAMETER);
    DWORD allowed = cp == CP_UTF8 || cp == CP_UTF7 ? MB_ERR_INVALID_CHARS
                                                   : MB_PRECOMPOSED | MB_ERR_INVALID_CHARS;
    if ((flags & ~allowed) != 0)
        return Fail(ERROR_INVALID_FLAGS);
    size_t size = srcLength == -1 ? strlen(src) + 1 : (size_t)srcLength;
    TextDecoder decoder;
    if (!OpenTextDecoder(&decoder, cp, src, size, Utf8InvalidSubpart))
        return Fail(ERROR_INVALID_PARAMETER);
    size_t written = 0;
    uint32_t points[256];
    size_t count;
    while ((count = DecodeText(&decoder, points, sizeof points / sizeof points[0])) > 0) {
        if (decoder.invalid && (flags & MB_ERR_INVALID_CHARS) != 0)
            return Fail(ERROR_NO_UNICODE_TRANSLATION);
        for (size_t i = 0; i < count; i++) {
            uint32_t value = points[i];
            if (value < 0xD800 && written < (size_t)destLength) {
                dest[written++] = (WCHAR)value;  // most characters: one unit that fits
                continue;
            }
            uint16_t units[2];
            size_t length = EncodeUtf16(value, units);
            const WCHAR wide[2] = {(WCHAR)units[0], (WCHAR)units[1]};
            if (!Put(dest, destLength, &written, wide, length))
                return Fail(ERROR_INSUFFICIENT_BUFFER);
        }
    }
    lastError = ERROR_SUCCESS;
    return (int)written;
}

int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR src, int srcLength, LPSTR dest,
                        int destLength, LPCSTR defaultChar, LPBOOL usedDefaultChar)
{
    unsigned cp;
    if (!CheckArguments(codePage, src, srcLength, dest, destLength, &cp))
        return Fail(ERROR_INVALID_PARAMETER);
    bool unicode = cp == CP_UTF8 || cp == CP_UTF7;
    if (unicode && (defaultChar != nullptr || usedDefaultChar != nullptr))
        return Fail(ERROR_INVALID_PARAMETER);
    DWORD allowed = unicode ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
    if ((flags & ~allowed) != 0)
        return Fail(ERROR_INVALID_FLAGS);
    if (!CodePageConvertible(cp))
        return Fail(ERROR_INVALID_PARAMETER);

    // The default character: the first character of defaultChar, else '?'.
    unsigned char fallback[2] = {'?', 0};
    size_t fallbackLength = 1;
    if (defaultChar != nullptr && defaultChar[0] != '\0') {
        fallback[0] = (unsigned char)defaultChar[0];
        if (IsDBCSLeadByteEx(cp, fallback[0]) && defaultChar[1] != '\0') {
            fallback[1] = (unsigned char)defaultChar[1];
            fallbackLength = 2;
        }
    }
    if (usedDefaultChar != nullptr)
        *usedDefaultChar = 0;

    size_t size = 0;
    if (srcLength == -1) {
        while (src[size] != 0)
            size++;
        size++;
    } else {
        size = (size_t)srcLength;
    }
    size_t written = 0;
    for (size_t i = 0; i < size;) {
        size_t used;
        uint32_t value = DecodeUtf16(src[i], i + 1 < size ? src[i + 1] : 0, &used);
        i += used;
        bool valid = !(value >= 0xD800 && value <= 0xDFFF);  // a lone surrogate is none
        if (!valid)
            value = ReplacementCharacter;
        unsigned char bytes[8];
        size_t length = 0;
        if (!valid && (flags & WC_ERR_INVALID_CHARS) != 0)
            return Fail(ERROR_NO_UNICODE_TRANSLATION);
        if (valid || unicode)
            length = EncodeCodePoint(cp, value, (flags & WC_NO_BEST_FIT_CHARS) == 0, bytes);
        if (length == 0) {
            memcpy(bytes, fallback, fallbackLength);
            length = fallbackLength;
            if (usedDefaultChar != nullptr)
                *usedDefaultChar = 1;
        }
        if (!Put(dest, destLength, &written, (const char*)bytes, length))
            return Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    lastError = ERROR_SUCCESS;
    return (int)written;
}
