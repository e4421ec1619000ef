// The encoding of a help file's texts and their conversion to the OEM code
// page (encoding.h describes the rule).
#include "lookup/encoding.h"

#include <cstdlib>
#include <cstring>

// The most bytes of one text that are looked at.
constexpr size_t SourceLimit = 2048;

// Primary languages (the low ten bits of an LCID) and the ANSI code page of
// all their sublanguages, unless a sublanguage below says otherwise.
static const struct {
    uint16_t language;
    uint16_t codePage;
} LanguageCodePages[] = {
    {0x01, 1256}, {0x02, 1251}, {0x03, 1252}, {0x04, 936},  {0x05, 1250}, {0x06, 1252},
    {0x07, 1252}, {0x08, 1253}, {0x09, 1252}, {0x0A, 1252}, {0x0B, 1252}, {0x0C, 1252},
    {0x0D, 1255}, {0x0E, 1250}, {0x0F, 1252}, {0x10, 1252}, {0x11, 932},  {0x12, 949},
    {0x13, 1252}, {0x14, 1252}, {0x15, 1250}, {0x16, 1252}, {0x17, 1252}, {0x18, 1250},
    {0x19, 1251}, {0x1A, 1250}, {0x1B, 1250}, {0x1C, 1250}, {0x1D, 1252}, {0x1E, 874},
    {0x1F, 1254}, {0x20, 1256}, {0x21, 1252}, {0x22, 1251}, {0x23, 1251}, {0x24, 1250},
    {0x25, 1257}, {0x26, 1257}, {0x27, 1257}, {0x28, 1251}, {0x29, 1256}, {0x2A, 1258},
    {0x2C, 1254}, {0x2D, 1252}, {0x2E, 1252}, {0x2F, 1251}, {0x32, 1252}, {0x34, 1252},
    {0x35, 1252}, {0x36, 1252}, {0x38, 1252}, {0x3B, 1252}, {0x3C, 1252}, {0x3D, 1255},
    {0x3E, 1252}, {0x3F, 1251}, {0x40, 1251}, {0x41, 1252}, {0x42, 1250}, {0x43, 1254},
    {0x44, 1251}, {0x50, 1251}, {0x52, 1252}, {0x56, 1252}, {0x62, 1252}, {0x64, 1252},
    {0x68, 1252}, {0x6A, 1252}, {0x6B, 1252}, {0x6D, 1251}, {0x6E, 1252}, {0x6F, 1252},
    {0x70, 1252}, {0x7E, 1252}, {0x80, 1256}, {0x83, 1252}, {0x85, 1251}, {0x87, 1252},
    {0x88, 1252}, {0x8C, 1256},
};

// Sublanguages (whole language identifiers) written in another script than
// their language's first one.
static const struct {
    uint16_t languageId;
    uint16_t codePage;
} SublanguageCodePages[] = {
    {0x0004, 936},  // Chinese, simplified
    {0x0404, 950},  // Chinese, Taiwan
    {0x0C04, 950},  // Chinese, Hong Kong
    {0x1404, 950},  // Chinese, Macao
    {0x7C04, 950},  // Chinese, traditional
    {0x0C1A, 1251}, {0x1C1A, 1251}, {0x201A, 1251},
    {0x281A, 1251}, {0x301A, 1251},  // Serbian and Bosnian in Cyrillic
    {0x082C, 1251},                  // Azerbaijani in Cyrillic
    {0x0843, 1251},                  // Uzbek in Cyrillic
    {0x0850, 0},                     // Mongolian in its own script
};

uint32_t LocaleAnsiCodePage(uint32_t lcid)
{
    uint16_t languageId = (uint16_t)(lcid & 0xFFFF);
    for (const auto& entry : SublanguageCodePages)
        if (entry.languageId == languageId)
            return entry.codePage;
    uint16_t language = languageId & 0x3FF;
    for (const auto& entry : LanguageCodePages)
        if (entry.language == language)
            return entry.codePage;
    return 0;
}

size_t CharacterBoundary(const char* text, size_t size, size_t limit, UINT codePage)
{
    if (size <= limit)
        return size;
    UINT resolved = codePage == CP_ACP ? GetACP() : codePage == CP_OEMCP ? GetOEMCP() : codePage;
    const unsigned char* b = (const unsigned char*)text;
    if (resolved == CP_UTF8) {
        // text[limit] is the first byte left out: back off to its character's start.
        size_t n = limit;
        for (int back = 0; back < 3 && n > 0 && (b[n] & 0xC0) == 0x80; ++back)
            --n;
        return (b[n] & 0xC0) == 0x80 ? limit : n;
    }
    size_t at = 0;
    while (at < limit) {
        size_t step = (at + 1 < size && IsDBCSLeadByteEx(resolved, b[at])) ? 2 : 1;
        if (at + step > limit)
            break;
        at += step;
    }
    return at;
}

void CopyOemText(char* dest, const char* src, size_t capacity)
{
    size_t n = CharacterBoundary(src, strlen(src), capacity - 1, CP_OEMCP);
    memmove(dest, src, n);
    dest[n] = '\0';
}

int WideToOem(const WCHAR* text, size_t units, char* out, size_t capacity)
{
    out[0] = '\0';
    if (units == 0)
        return 1;
    if (units > (size_t)(SourceLimit * 2))
        units = SourceLimit * 2;
    int bytes = WideCharToMultiByte(CP_OEMCP, 0, text, (int)units, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0)
        return 0;
    char* oem = (char*)malloc((size_t)bytes + 1);
    if (oem == nullptr)
        return 0;
    if (WideCharToMultiByte(CP_OEMCP, 0, text, (int)units, oem, bytes, nullptr, nullptr) != bytes) {
        free(oem);
        return 0;
    }
    oem[bytes] = '\0';
    // A character the conversion made of U+0000 ends the text.
    size_t n = CharacterBoundary(oem, strlen(oem), capacity - 1, CP_OEMCP);
    memcpy(out, oem, n);
    out[n] = '\0';
    free(oem);
    return 1;
}

// Whether ASCII text reaches the OEM code page unchanged along both ways a
// text may take: CharToOemA from the ANSI code page, and UTF-16 to OEM. It
// does in every code page Windows gives a system; a pair chosen by hand may
// hold one it does not (EBCDIC, UTF-7), so the pair in force is tried once.
static int AsciiPassesUnchanged(void)
{
    static UINT triedAnsi, triedOem;
    static int passes;
    UINT ansi = GetACP(), oem = GetOEMCP();
    if (ansi == triedAnsi && oem == triedOem)
        return passes;
    char ascii[128], converted[128];
    WCHAR wide[127];
    for (int c = 1; c < 128; ++c) {
        ascii[c - 1] = (char)c;
        wide[c - 1] = (WCHAR)c;
    }
    ascii[127] = '\0';
    CharToOemA(ascii, converted);
    passes = memcmp(ascii, converted, sizeof ascii) == 0 &&
        WideCharToMultiByte(CP_OEMCP, 0, wide, 127, converted, 127, nullptr, nullptr) == 127 &&
        memcmp(ascii, converted, 127) == 0;
    triedAnsi = ansi;
    triedOem = oem;
    return passes;
}

// Converts size bytes of text from codePage to the OEM code page through
// UTF-16. Returns 0 when the system cannot convert.
static int ConvertThroughUnicode(UINT codePage, const char* text, size_t size, char* out,
                                 size_t capacity)
{
    int units = MultiByteToWideChar(codePage, 0, text, (int)size, nullptr, 0);
    if (units <= 0)
        return 0;
    WCHAR* wide = (WCHAR*)malloc((size_t)units * sizeof(WCHAR));
    if (wide == nullptr)
        return 0;
    int converted = MultiByteToWideChar(codePage, 0, text, (int)size, wide, units) == units &&
        WideToOem(wide, (size_t)units, out, capacity);
    free(wide);
    return converted;
}

void TextToOem(const char* text, size_t size, uint32_t languageCodePage, char* out, size_t capacity)
{
    size_t n = 0;
    size_t bound = size < SourceLimit ? size : SourceLimit;
    while (n < bound && text[n] != '\0')
        ++n;
    if (n == 0) {
        out[0] = '\0';
        return;
    }
    // Most titles are ASCII, and need no conversion at all.
    if (IsAscii(text, n) && AsciiPassesUnchanged()) {
        size_t keep = n < capacity - 1 ? n : capacity - 1;
        memcpy(out, text, keep);
        out[keep] = '\0';
        return;
    }
    // A text cut by the bound is judged without its last, cut character.
    size_t judged = n < size && text[n] != '\0' ? CharacterBoundary(text, n + 1, n, CP_UTF8) : n;
    UINT encoding = IsUtf8Text(text, judged) ? CP_UTF8
        : languageCodePage != 0              ? (UINT)languageCodePage
                                             : GetACP();
    // UTF-8 that IsUtf8Text passed comes back from UTF-16 as it was.
    if (encoding == CP_UTF8 && GetOEMCP() == CP_UTF8) {
        size_t keep = CharacterBoundary(text, judged, capacity - 1, CP_UTF8);
        memcpy(out, text, keep);
        out[keep] = '\0';
        return;
    }
    if (encoding != GetACP() || GetOEMCP() == CP_UTF8) {
        if (ConvertThroughUnicode(encoding, text, encoding == CP_UTF8 ? judged : n, out, capacity))
            return;
    }
    // The system's ANSI code page, or one the system cannot convert:
    // CharToOemA, in place.
    size_t keep = CharacterBoundary(text, n, capacity - 1, CP_ACP);
    memcpy(out, text, keep);
    out[keep] = '\0';
    CharToOemA(out, out);
}
