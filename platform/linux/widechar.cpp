// Conversions between code pages and UTF-16: MultiByteToWideChar,
// WideCharToMultiByte, GetACP, GetOEMCP and IsDBCSLeadByteEx, with the
// thread's last error that tells why a conversion answered 0.
//
// CP_ACP and CP_THREAD_ACP name the ANSI code page in force, CP_OEMCP the OEM
// one (codepage.cpp: 1252, and 437 or UTF-8 by the locale, unless VELKORY_CODEPAGES names another
// pair). UTF-8 is our own; 1252 and 437 use the built-in tables that
// CharToOemA uses; every other code page goes through iconv (CP932, CP936 and
// the rest by their number, a few others by name), one character at a time.
//
// As on Windows: a length of -1 means the source is NUL-terminated and the
// terminator is converted too; a destination length of 0 asks for the length
// the result needs; a result that does not fit fails with
// ERROR_INSUFFICIENT_BUFFER (what was written before is unspecified).
// Bytes that are no character become U+FFFD from UTF-8 (one for each maximal
// invalid part) and '?' from other code pages, or fail the call with
// ERROR_NO_UNICODE_TRANSLATION under MB_ERR_INVALID_CHARS. A character the
// target lacks becomes the default character ('?', or the first character of
// defaultChar) and sets *usedDefaultChar; toward 437 a character of 1252
// first takes the best fit CharToOemA gives it, unless WC_NO_BEST_FIT_CHARS.
// A lone surrogate becomes U+FFFD in UTF-8 and the default character
// elsewhere.
#include "platform/codepage.h"
#include "platform/linux/codepages.h"
#include "platform/platform.h"
#include "platform/text.h"

#include <errno.h>
#include <iconv.h>
#include <limits.h>
#include <stdio.h>
#include <string.h>

namespace {

thread_local DWORD lastError = ERROR_SUCCESS;

int Fail(DWORD error)
{
    lastError = error;
    return 0;
}

const iconv_t NoConverter = (iconv_t)-1;

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

// The name iconv knows a code page by.
void IconvName(unsigned codePage, char* name, size_t size)
{
    static const struct {
        unsigned codePage;
        const char* name;
    } named[] = {
        {65000, "UTF-7"},       {20127, "ASCII"},       {20866, "KOI8-R"},
        {21866, "KOI8-U"},      {20932, "EUC-JP"},      {51932, "EUC-JP"},
        {51949, "EUC-KR"},      {54936, "GB18030"},     {50220, "ISO-2022-JP"},
        {50221, "ISO-2022-JP"}, {50222, "ISO-2022-JP"}, {10000, "MACINTOSH"},
        {28603, "ISO-8859-13"}, {28605, "ISO-8859-15"},
    };
    for (const auto& entry : named) {
        if (entry.codePage == codePage) {
            snprintf(name, size, "%s", entry.name);
            return;
        }
    }
    if (codePage >= 28591 && codePage <= 28599)
        snprintf(name, size, "ISO-8859-%u", codePage - 28590);
    else
        snprintf(name, size, "CP%u", codePage);
}

// The iconv descriptors last used, by code page and direction; one stays open
// until a new one takes its slot, or the module is unloaded. Like the rest of
// the module's code-page state, they belong to the module's one thread.
struct Converter {
    unsigned codePage;
    bool toCodePage;
    iconv_t descriptor;
};

Converter converters[4] = {
    {0, false, NoConverter},
    {0, false, NoConverter},
    {0, false, NoConverter},
    {0, false, NoConverter},
};
unsigned nextConverter = 0;

iconv_t FindConverter(unsigned codePage, bool toCodePage)
{
    for (const Converter& c : converters)
        if (c.descriptor != NoConverter && c.codePage == codePage && c.toCodePage == toCodePage)
            return c.descriptor;
    char name[24];
    IconvName(codePage, name, sizeof name);
    iconv_t descriptor = toCodePage ? iconv_open(name, "UTF-32LE") : iconv_open("UTF-32LE", name);
    if (descriptor == NoConverter)
        return NoConverter;
    Converter& slot = converters[nextConverter];
    nextConverter = (nextConverter + 1) % 4;
    if (slot.descriptor != NoConverter)
        iconv_close(slot.descriptor);
    slot = {codePage, toCodePage, descriptor};
    return descriptor;
}

__attribute__((destructor)) void CloseConverters(void)
{
    for (Converter& c : converters) {
        if (c.descriptor != NoConverter)
            iconv_close(c.descriptor);
        c.descriptor = NoConverter;
    }
}

// A source of code points: the bytes of one code page.
struct Source {
    const unsigned char* bytes;
    size_t size;
    size_t at;
    unsigned codePage;
    iconv_t descriptor;  // for code pages other than UTF-8, 1252 and 437
    uint32_t pending;    // a second code point iconv made of one character
    bool hasPending;
};

bool OpenSource(Source* s, unsigned codePage, const char* src, size_t size)
{
    *s = {(const unsigned char*)src, size, 0, codePage, NoConverter, 0, false};
    if (codePage == CP_UTF8 || codePage == 1252 || codePage == 437)
        return true;
    s->descriptor = FindConverter(codePage, false);
    if (s->descriptor == NoConverter)
        return false;
    iconv(s->descriptor, nullptr, nullptr, nullptr, nullptr);
    return true;
}

bool SourceDone(const Source* s)
{
    return s->at >= s->size && !s->hasPending;
}

// One UTF-8 character; a maximal invalid part is one invalid character.
uint32_t NextUtf8(Source* s, bool* valid)
{
    const unsigned char* b = s->bytes;
    unsigned char lead = b[s->at++];
    *valid = true;
    if (lead < 0x80)
        return lead;
    size_t length;
    uint32_t value;
    unsigned char low = 0x80, high = 0xBF;  // the second byte's range
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, value = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, value = lead & 0x0F;
        if (lead == 0xE0)
            low = 0xA0;
        if (lead == 0xED)
            high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, value = lead & 0x07;
        if (lead == 0xF0)
            low = 0x90;
        if (lead == 0xF4)
            high = 0x8F;
    } else {
        *valid = false;
        return 0xFFFD;
    }
    for (size_t i = 1; i < length; i++) {
        if (s->at >= s->size || b[s->at] < low || b[s->at] > high) {
            *valid = false;
            return 0xFFFD;
        }
        value = (value << 6) | (b[s->at++] & 0x3F);
        low = 0x80, high = 0xBF;
    }
    return value;
}

uint32_t ReadLE32At(const unsigned char* p)
{
    return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

// One character through iconv.
uint32_t NextIconv(Source* s, bool* valid)
{
    *valid = true;
    while (s->at < s->size) {
        unsigned char out[8];
        char* in = (char*)(s->bytes + s->at);
        size_t inLeft = s->size - s->at;
        char* outPointer = (char*)out;
        size_t outLeft = sizeof out;
        size_t result = iconv(s->descriptor, &in, &inLeft, &outPointer, &outLeft);
        int error = result == (size_t)-1 ? errno : 0;
        s->at = s->size - inLeft;
        size_t produced = (sizeof out - outLeft) / 4;
        if (produced >= 1) {
            if (produced == 2) {
                s->pending = ReadLE32At(out + 4);
                s->hasPending = true;
            }
            return ReadLE32At(out);
        }
        if (error == EILSEQ) {
            s->at++;
            *valid = false;
            return '?';
        }
        if (error == EINVAL) {  // a character cut short by the end
            s->at = s->size;
            *valid = false;
            return '?';
        }
        if (error != 0 && error != E2BIG) {
            s->at = s->size;
            *valid = false;
            return '?';
        }
        // A shift sequence consumed without output: read on.
    }
    *valid = false;
    return '?';
}

// The next code point of the source; *valid is false for bytes that are no
// character (the code point is then the replacement).
uint32_t NextCodePoint(Source* s, bool* valid)
{
    if (s->hasPending) {
        s->hasPending = false;
        *valid = true;
        return s->pending;
    }
    if (s->codePage == CP_UTF8)
        return NextUtf8(s, valid);
    *valid = true;
    if (s->codePage == 1252 || s->codePage == 437) {
        uint32_t value = 0;
        DecodeSingleByte(s->codePage, (unsigned char)s->bytes[s->at++], &value);
        return value;
    }
    return NextIconv(s, valid);
}

// The bytes of value in codePage (room for 8); 0 when it has no such
// character.
size_t EncodeCodePoint(unsigned codePage, uint32_t value, bool bestFit, unsigned char* out)
{
    if (codePage == CP_UTF8)
        return EncodeUtf8(value, (char*)out);
    if (codePage == 1252 || codePage == 437) {
        if (EncodeSingleByte(codePage, value, out))
            return 1;
        if (codePage == 1252 || !bestFit)
            return 0;
        unsigned char ansi[8];
        if (EncodeCodePoint(1252, value, false, ansi) == 0 || Ansi1252ToOem437[ansi[0]] == '?')
            return 0;
        out[0] = Ansi1252ToOem437[ansi[0]];
        return 1;
    }
    iconv_t descriptor = FindConverter(codePage, true);
    if (descriptor == NoConverter)
        return 0;
    iconv(descriptor, nullptr, nullptr, nullptr, nullptr);
    unsigned char in[4] = {(unsigned char)value, (unsigned char)(value >> 8),
                           (unsigned char)(value >> 16), (unsigned char)(value >> 24)};
    char* inPointer = (char*)in;
    size_t inLeft = sizeof in;
    char* outPointer = (char*)out;
    size_t outLeft = 8;
    if (iconv(descriptor, &inPointer, &inLeft, &outPointer, &outLeft) == (size_t)-1 ||
        iconv(descriptor, nullptr, nullptr, &outPointer, &outLeft) == (size_t)-1)
        return 0;
    return 8 - outLeft;
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
    if (src == nullptr || srcLength == 0 || srcLength < -1 || destLength < 0 ||
        (dest == nullptr && destLength != 0))
        return Fail(ERROR_INVALID_PARAMETER);
    unsigned cp = ResolveCodePage(codePage);
    if (cp == 0)
        return Fail(ERROR_INVALID_PARAMETER);
    DWORD allowed = cp == CP_UTF8 || cp == CP_UTF7 ? MB_ERR_INVALID_CHARS
                                                   : MB_PRECOMPOSED | MB_ERR_INVALID_CHARS;
    if ((flags & ~allowed) != 0)
        return Fail(ERROR_INVALID_FLAGS);
    size_t size = srcLength == -1 ? strlen(src) + 1 : (size_t)srcLength;
    Source source;
    if (!OpenSource(&source, cp, src, size))
        return Fail(ERROR_INVALID_PARAMETER);
    size_t written = 0;
    while (!SourceDone(&source)) {
        bool valid;
        uint32_t value = NextCodePoint(&source, &valid);
        if (!valid && (flags & MB_ERR_INVALID_CHARS) != 0)
            return Fail(ERROR_NO_UNICODE_TRANSLATION);
        WCHAR units[2];
        size_t length = 1;
        if (value >= 0x10000 && value <= 0x10FFFF) {
            units[0] = (WCHAR)(0xD800 + ((value - 0x10000) >> 10));
            units[1] = (WCHAR)(0xDC00 + ((value - 0x10000) & 0x3FF));
            length = 2;
        } else {
            units[0] = value > 0xFFFF ? (WCHAR)0xFFFD : (WCHAR)value;
        }
        if (!Put(dest, destLength, &written, units, length))
            return Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    lastError = ERROR_SUCCESS;
    return (int)written;
}

int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR src, int srcLength, LPSTR dest,
                        int destLength, LPCSTR defaultChar, LPBOOL usedDefaultChar)
{
    if (src == nullptr || srcLength == 0 || srcLength < -1 || destLength < 0 ||
        (dest == nullptr && destLength != 0))
        return Fail(ERROR_INVALID_PARAMETER);
    unsigned cp = ResolveCodePage(codePage);
    if (cp == 0)
        return Fail(ERROR_INVALID_PARAMETER);
    bool unicode = cp == CP_UTF8 || cp == CP_UTF7;
    if (unicode && (defaultChar != nullptr || usedDefaultChar != nullptr))
        return Fail(ERROR_INVALID_PARAMETER);
    DWORD allowed = unicode ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
    if ((flags & ~allowed) != 0)
        return Fail(ERROR_INVALID_FLAGS);
    if (!unicode && cp != 1252 && cp != 437 && FindConverter(cp, true) == NoConverter)
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
        uint32_t value = src[i++];
        bool valid = true;
        if (value >= 0xD800 && value <= 0xDBFF && i < size && src[i] >= 0xDC00 &&
            src[i] <= 0xDFFF) {
            value = 0x10000 + ((value - 0xD800) << 10) + (uint32_t)(src[i++] - 0xDC00);
        } else if (value >= 0xD800 && value <= 0xDFFF) {
            valid = false;
            value = 0xFFFD;
        }
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
