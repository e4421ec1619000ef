// Code pages: the pair behind CharToOemA, and CharToOemA itself.
//
// The ANSI code page is 1252. The OEM code page follows the process's locale
// (its LC_CTYPE, as the host sets it from the environment): UTF-8 (65001) in
// a UTF-8 locale, so that titles in any script reach a UTF-8 terminal as
// written, and 437 in any other (the C locale included). VELKORY_CODEPAGES
// overrides both as ANSI:OEM in decimal (1252:437, 936:936). The pair 1252
// and 437 converts through built-in tables: CharToOemA through the 256-entry
// table that Windows itself applies from 1252 to 437, best-fit replacements
// included (A with grave becomes a plain A, the bullet becomes byte 07, which
// code page 437 shows as a bullet). Any other code page goes through the
// converter (converter.h); characters the target cannot represent, and bytes
// that are not text in the source, become '?'. A variable that cannot be
// read, or names a code page the converter cannot convert, leaves the
// locale's pair in force, and CodePageSettingError says why.
//
// The variable and the locale are looked at on every call, so a change takes
// effect at once. Each thread keeps its own pair.
#include "platform/codepage.h"
#include "platform/linux/converter.h"
#include "platform/platform.h"
#include "platform/text.h"

#include <langinfo.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

// CharToOemA from 1252 to 437 as Windows does it, best fit included.
extern const unsigned char Ansi1252ToOem437[256] = {
    0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F,
    0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18, 0x19, 0x1A, 0x1B, 0x1C, 0x1D, 0x1E, 0x1F,
    0x20, 0x21, 0x22, 0x23, 0x24, 0x25, 0x26, 0x27, 0x28, 0x29, 0x2A, 0x2B, 0x2C, 0x2D, 0x2E, 0x2F,
    0x30, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3A, 0x3B, 0x3C, 0x3D, 0x3E, 0x3F,
    0x40, 0x41, 0x42, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4A, 0x4B, 0x4C, 0x4D, 0x4E, 0x4F,
    0x50, 0x51, 0x52, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5A, 0x5B, 0x5C, 0x5D, 0x5E, 0x5F,
    0x60, 0x61, 0x62, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6A, 0x6B, 0x6C, 0x6D, 0x6E, 0x6F,
    0x70, 0x71, 0x72, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7A, 0x7B, 0x7C, 0x7D, 0x7E, 0x7F,
    0x3F, 0x3F, 0x2C, 0x9F, 0x2C, 0x2E, 0x2B, 0xD8, 0x5E, 0x25, 0x53, 0x3C, 0x4F, 0x3F, 0x5A, 0x3F,
    0x3F, 0x60, 0x27, 0x22, 0x22, 0x07, 0x2D, 0x2D, 0x7E, 0x54, 0x73, 0x3E, 0x6F, 0x3F, 0x7A, 0x59,
    0xFF, 0xAD, 0x9B, 0x9C, 0x0F, 0x9D, 0xDD, 0x15, 0x22, 0x63, 0xA6, 0xAE, 0xAA, 0x2D, 0x72, 0x5F,
    0xF8, 0xF1, 0xFD, 0x33, 0x27, 0xE6, 0x14, 0xFA, 0x2C, 0x31, 0xA7, 0xAF, 0xAC, 0xAB, 0x5F, 0xA8,
    0x41, 0x41, 0x41, 0x41, 0x8E, 0x8F, 0x92, 0x80, 0x45, 0x90, 0x45, 0x45, 0x49, 0x49, 0x49, 0x49,
    0x44, 0xA5, 0x4F, 0x4F, 0x4F, 0x4F, 0x99, 0x78, 0x4F, 0x55, 0x55, 0x55, 0x9A, 0x59, 0x5F, 0xE1,
    0x85, 0xA0, 0x83, 0x61, 0x84, 0x86, 0x91, 0x87, 0x8A, 0x82, 0x88, 0x89, 0x8D, 0xA1, 0x8C, 0x8B,
    0x64, 0xA4, 0x95, 0xA2, 0x93, 0x6F, 0x94, 0xF6, 0x6F, 0x97, 0xA3, 0x96, 0x81, 0x79, 0x5F, 0x98,
};

namespace {

const unsigned DefaultAnsi = 1252;
const unsigned DefaultOem = 437;
const unsigned Utf8CodePage = 65001;

// The pair of each thread, which the variable and the locale made last.
thread_local CodePagePair pair = {false, "", false, "", DefaultAnsi, DefaultOem};

// A code page number of 1 to 65535 digits-only text; false otherwise.
bool ParseCodePage(const char* text, size_t length, unsigned* codePage)
{
    unsigned value = 0;
    if (length == 0 || length > 5)
        return false;
    for (size_t i = 0; i < length; i++) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        value = value * 10 + (unsigned)(text[i] - '0');
    }
    if (value == 0 || value > 65535)
        return false;
    *codePage = value;
    return true;
}

// The byte of code page 437 for a code point: the character itself, else (with
// ANSI 1252) the best fit Windows gives the 1252 character; 0 when none.
unsigned char Encode437(const CodePagePair* cp, uint32_t value)
{
    unsigned char byte;
    if (EncodeSingleByte(437, value, &byte))
        return byte;
    for (unsigned b = 1; b < 0x80; b++)
        if (Oem437Glyph((unsigned char)b) == value)
            return (unsigned char)b;
    return EncodeCodePoint(437, value, cp->ansi == 1252, &byte) == 1 ? byte : 0;
}

// Whether the process's locale speaks UTF-8.
bool LocaleIsUtf8(void)
{
    const char* codeset = nl_langinfo(CODESET);
    return codeset != nullptr && strcmp(codeset, "UTF-8") == 0;
}

}  // namespace

// Brings the pair in line with VELKORY_CODEPAGES and the locale.
const CodePagePair* CurrentCodePages(void)
{
    const char* setting = getenv("VELKORY_CODEPAGES");
    if (setting == nullptr)
        setting = "";
    bool utf8Locale = LocaleIsUtf8();
    if (pair.resolved && strcmp(setting, pair.setting) == 0 && pair.utf8Locale == utf8Locale)
        return &pair;
    // A text too long to remember names no pair: it is simply looked at again.
    size_t length = strlen(setting);
    pair.resolved = length < sizeof pair.setting;
    if (pair.resolved)
        memcpy(pair.setting, setting, length + 1);
    pair.utf8Locale = utf8Locale;
    pair.error[0] = '\0';

    if (setting[0] != '\0') {
        const char* colon = strchr(setting, ':');
        unsigned ansi, oem;
        if (colon == nullptr || !ParseCodePage(setting, (size_t)(colon - setting), &ansi) ||
            !ParseCodePage(colon + 1, strlen(colon + 1), &oem)) {
            snprintf(pair.error, sizeof pair.error,
                     "expected ANSI:OEM, two code page numbers from 1 to 65535 (as 1252:437)");
        } else if (!CodePageConvertible(ansi) || !CodePageConvertible(oem)) {
            snprintf(pair.error, sizeof pair.error,
                     "code page %u cannot be converted (iconv does not know it)",
                     CodePageConvertible(ansi) ? oem : ansi);
        } else {
            pair.ansi = ansi;
            pair.oem = oem;
            return &pair;
        }
    }
    // The locale's pair, which the converter always has.
    pair.ansi = DefaultAnsi;
    pair.oem = utf8Locale ? Utf8CodePage : DefaultOem;
    return &pair;
}

const char* CodePageSettingError(void)
{
    const CodePagePair* cp = CurrentCodePages();
    return cp->error[0] != '\0' ? cp->error : nullptr;
}

// Decodes the text of src into code points; out has room for size entries.
size_t DecodeCodePage(const CodePagePair* cp, CodePageEncoding encoding, const char* src,
                      size_t size, uint32_t* out)
{
    unsigned codePage = encoding == EncodingUtf8 ? CP_UTF8
        : encoding == EncodingAnsi               ? cp->ansi
                                                 : cp->oem;
    TextDecoder decoder;
    size_t count = 0;
    if (!OpenTextDecoder(&decoder, codePage, src, size, Utf8InvalidByte))
        return 0;
    size_t decoded;
    while (count < size && (decoded = DecodeText(&decoder, out + count, size - count)) > 0)
        count += decoded;
    return count;
}

// Writes the encoding of one code point into out (room for 8 bytes) and
// returns its length; 0 when the target cannot represent it.
size_t EncodeCodePage(const CodePagePair* cp, CodePageEncoding encoding, uint32_t value,
                      unsigned char* out)
{
    if (encoding == EncodingUtf8)
        return EncodeUtf8(value, (char*)out);
    // Only the OEM code page is ever a target.
    if (cp->oem == 437) {
        out[0] = Encode437(cp, value);
        return out[0] != 0 ? 1 : 0;
    }
    // UTF-8 as iconv writes it: no surrogates, nothing past U+10FFFF.
    if (cp->oem == Utf8CodePage)
        return (value >= 0xD800 && value <= 0xDFFF) || value > 0x10FFFF
            ? 0
            : EncodeUtf8(value, (char*)out);
    return EncodeCodePoint(cp->oem, value, false, out);
}

// Windows reads the source whole before it writes, so src and dest may be
// the same buffer; dest receives no more bytes than src holds.
BOOL CharToOemA(LPCSTR src, LPSTR dest)
{
    if (src == nullptr || dest == nullptr)
        return 0;
    const CodePagePair* cp = CurrentCodePages();
    if (cp->ansi == DefaultAnsi && cp->oem == DefaultOem) {
        const unsigned char* s = (const unsigned char*)src;
        unsigned char* d = (unsigned char*)dest;
        unsigned char c;
        while ((c = *s++) != 0)
            *d++ = Ansi1252ToOem437[c];
        *d = 0;
        return 1;
    }
    size_t size = strlen(src);
    uint32_t* points = (uint32_t*)malloc((size ? size : 1) * sizeof(uint32_t));
    if (points == nullptr) {
        memmove(dest, src, size + 1);
        return 0;
    }
    size_t count = DecodeCodePage(cp, EncodingAnsi, src, size, points);
    size_t used = 0;
    for (size_t i = 0; i < count; i++) {
        unsigned char bytes[8];
        size_t length = EncodeCodePage(cp, EncodingOem, points[i], bytes);
        if (length == 0) {
            bytes[0] = '?';
            length = 1;
        }
        if (length > size - used)
            break;
        memcpy(dest + used, bytes, length);
        used += length;
    }
    dest[used] = '\0';
    free(points);
    return 1;
}
