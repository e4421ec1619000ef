// Code pages: CharToOemA for the module, and the terminal conversions of
// codepage.h for the host.
//
// The ANSI code page is 1252. The OEM code page follows the process's locale
// (its LC_CTYPE, as the host sets it from the environment): UTF-8 (65001) in
// a UTF-8 locale, so that titles in any script reach a UTF-8 terminal as
// written, and 437 in any other (the C locale included). VELKORY_CODEPAGES
// overrides both as ANSI:OEM in decimal (1252:437, 936:936). The pair 1252
// and 437 converts through built-in tables: CharToOemA through the 256-entry
// table that Windows itself applies from 1252 to 437, best-fit replacements
// included (A with grave becomes a plain A, the bullet becomes byte 07, which
// code page 437 shows as a bullet). UTF-8 is our own; any other code page is
// converted with iconv, through UTF-32; characters the target cannot
// represent, and bytes that are not text in the source, become '?'. A
// variable that cannot be read, or names a code page iconv does not know,
// leaves the locale's pair in force, and CodePageSettingError says why.
//
// The variable and the locale are looked at on every call, so a change takes
// effect at once; the iconv descriptors of the current pair are kept until it
// changes.
#include "platform/codepage.h"
#include "platform/linux/codepages.h"
#include "platform/platform.h"

#include <errno.h>
#include <iconv.h>
#include <langinfo.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

// Code page 1252, bytes 0x80-0x9F (the rest are Latin-1). The five bytes
// that 1252 leaves undefined stand for the C1 control of the same number, as
// on Windows.
extern const uint16_t Ansi1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

// Code page 437, bytes 0x80-0xFF.
extern const uint16_t Oem437High[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF,
    0x00EE, 0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA,
    0x00F1, 0x00D1, 0x00AA, 0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557,
    0x255D, 0x255C, 0x255B, 0x2510, 0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559,
    0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4, 0x03A6, 0x0398, 0x03A9, 0x03B4,
    0x221E, 0x03C6, 0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,
};

namespace {

const unsigned DefaultAnsi = 1252;
const unsigned DefaultOem = 437;
const unsigned Utf8CodePage = 65001;

// What the OEM console shows for bytes 0x00-0x1F and 0x7F: the graphic
// characters of code page 437 (0x00 is the terminator and stays itself).
const uint16_t OemGlyphs[33] = {
    0x0000, 0x263A, 0x263B, 0x2665, 0x2666, 0x2663, 0x2660, 0x2022, 0x25D8, 0x25CB, 0x25D9,
    0x2642, 0x2640, 0x266A, 0x266B, 0x263C, 0x25BA, 0x25C4, 0x2195, 0x203C, 0x00B6, 0x00A7,
    0x25AC, 0x21A8, 0x2191, 0x2193, 0x2192, 0x2190, 0x221F, 0x2194, 0x25B2, 0x25BC,
    0x2302,  // 0x7F
};

}  // namespace

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

const iconv_t NoConverter = (iconv_t)-1;

// The pair in force and the iconv descriptors it needs: ANSI to UTF-32 (when
// ANSI is not 1252), OEM to UTF-32 and UTF-32 to OEM (when OEM is not 437).
struct CodePagePair {
    bool resolved;
    char setting[32];  // the variable's text the pair was made from
    bool utf8Locale;   // and the locale
    char error[96];    // why the variable's pair is not in force, "" when it is
    unsigned ansi;
    unsigned oem;
    iconv_t ansiDecoder;
    iconv_t oemDecoder;
    iconv_t oemEncoder;
};

CodePagePair pair = {false,      "",          false,       "",         DefaultAnsi,
                     DefaultOem, NoConverter, NoConverter, NoConverter};

enum Encoding {
    Utf8,
    Ansi,
    Oem
};

void CloseConverter(iconv_t* converter)
{
    if (*converter != NoConverter)
        iconv_close(*converter);
    *converter = NoConverter;
}

iconv_t OpenConverter(unsigned codePage, bool toCodePage)
{
    char name[24];
    if (codePage == 65001)
        snprintf(name, sizeof name, "UTF-8");
    else
        snprintf(name, sizeof name, "CP%u", codePage);
    return toCodePage ? iconv_open(name, "UTF-32LE") : iconv_open("UTF-32LE", name);
}

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

// Whether the process's locale speaks UTF-8.
bool LocaleIsUtf8(void)
{
    const char* codeset = nl_langinfo(CODESET);
    return codeset != nullptr && strcmp(codeset, "UTF-8") == 0;
}

// Opens the descriptors the pair ansi:oem needs; false, with none open, when
// iconv does not know one of them.
bool OpenPair(unsigned ansi, unsigned oem)
{
    bool ok = true;
    if (ansi != DefaultAnsi)
        ok = (pair.ansiDecoder = OpenConverter(ansi, false)) != NoConverter;
    if (ok && oem != DefaultOem) {
        ok = (pair.oemDecoder = OpenConverter(oem, false)) != NoConverter &&
            (pair.oemEncoder = OpenConverter(oem, true)) != NoConverter;
    }
    if (!ok) {
        CloseConverter(&pair.ansiDecoder);
        CloseConverter(&pair.oemDecoder);
        CloseConverter(&pair.oemEncoder);
        return false;
    }
    pair.ansi = ansi;
    pair.oem = oem;
    return true;
}

// Brings the pair in line with VELKORY_CODEPAGES and the locale.
const CodePagePair* CurrentPair(void)
{
    const char* setting = getenv("VELKORY_CODEPAGES");
    if (setting == nullptr)
        setting = "";
    bool utf8Locale = LocaleIsUtf8();
    if (pair.resolved && strcmp(setting, pair.setting) == 0 && pair.utf8Locale == utf8Locale)
        return &pair;
    CloseConverter(&pair.ansiDecoder);
    CloseConverter(&pair.oemDecoder);
    CloseConverter(&pair.oemEncoder);
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
            !ParseCodePage(colon + 1, strlen(colon + 1), &oem))
            snprintf(pair.error, sizeof pair.error,
                     "expected ANSI:OEM, two code page numbers from 1 to 65535 (as 1252:437)");
        else if (OpenPair(ansi, oem))
            return &pair;
        else
            snprintf(pair.error, sizeof pair.error, "iconv cannot convert code page %u or %u", ansi,
                     oem);
    }
    // The locale's pair; 1252 and UTF-8 are always there.
    if (!OpenPair(DefaultAnsi, utf8Locale ? Utf8CodePage : DefaultOem)) {
        pair.ansi = DefaultAnsi;
        pair.oem = DefaultOem;
    }
    return &pair;
}

// The descriptors go with the module when it is unloaded.
__attribute__((destructor)) void CloseCodePagePair(void)
{
    CloseConverter(&pair.ansiDecoder);
    CloseConverter(&pair.oemDecoder);
    CloseConverter(&pair.oemEncoder);
    pair.resolved = false;
}

// Decodes size bytes with iconv into at most capacity code points; bytes
// that are no character become '?'. Returns the number of code points.
size_t DecodeWithIconv(iconv_t converter, const char* src, size_t size, uint32_t* out,
                       size_t capacity)
{
    iconv(converter, nullptr, nullptr, nullptr, nullptr);
    size_t count = 0;
    unsigned char chunk[256];
    char* in = (char*)src;
    size_t inLeft = size;
    while (count < capacity) {
        char* outPointer = (char*)chunk;
        size_t outLeft = sizeof chunk;
        size_t result = inLeft > 0 ? iconv(converter, &in, &inLeft, &outPointer, &outLeft)
                                   : iconv(converter, nullptr, nullptr, &outPointer, &outLeft);
        int error = result == (size_t)-1 ? errno : 0;
        size_t produced = (sizeof chunk - outLeft) / 4;
        for (size_t i = 0; i < produced && count < capacity; i++)
            out[count++] = (uint32_t)chunk[4 * i] | (uint32_t)chunk[4 * i + 1] << 8 |
                (uint32_t)chunk[4 * i + 2] << 16 | (uint32_t)chunk[4 * i + 3] << 24;
        if (error == E2BIG)
            continue;
        if (error == EILSEQ && inLeft > 0) {
            if (count < capacity)
                out[count++] = '?';
            in++;
            inLeft--;
            continue;
        }
        if (error != 0) {  // EINVAL: a character cut short by the end
            if (count < capacity)
                out[count++] = '?';
            break;
        }
        if (inLeft == 0 && produced == 0)
            break;
    }
    return count;
}

// Decodes the text of src into code points; out has room for size entries.
size_t Decode(const CodePagePair* cp, Encoding encoding, const char* src, size_t size,
              uint32_t* out)
{
    const unsigned char* bytes = (const unsigned char*)src;
    if (encoding == Utf8) {
        size_t count = 0;
        size_t i = 0;
        while (i < size) {
            unsigned char lead = bytes[i];
            uint32_t value;
            size_t length;
            uint32_t minimum;
            if (lead < 0x80) {
                out[count++] = lead;
                i++;
                continue;
            } else if (lead >= 0xC2 && lead <= 0xDF) {
                value = lead & 0x1F, length = 2, minimum = 0x80;
            } else if (lead >= 0xE0 && lead <= 0xEF) {
                value = lead & 0x0F, length = 3, minimum = 0x800;
            } else if (lead >= 0xF0 && lead <= 0xF4) {
                value = lead & 0x07, length = 4, minimum = 0x10000;
            } else {
                out[count++] = '?';
                i++;
                continue;
            }
            size_t j = 1;
            for (; j < length && i + j < size && (bytes[i + j] & 0xC0) == 0x80; j++)
                value = (value << 6) | (bytes[i + j] & 0x3F);
            if (j < length || value < minimum || value > 0x10FFFF ||
                (value >= 0xD800 && value <= 0xDFFF)) {
                out[count++] = '?';
                i++;
                continue;
            }
            out[count++] = value;
            i += length;
        }
        return count;
    }
    unsigned codePage = encoding == Ansi ? cp->ansi : cp->oem;
    if (codePage == 1252 && encoding == Ansi) {
        for (size_t i = 0; i < size; i++)
            out[i] =
                (bytes[i] >= 0x80 && bytes[i] < 0xA0) ? Ansi1252High[bytes[i] - 0x80] : bytes[i];
        return size;
    }
    if (codePage == 437 && encoding == Oem) {
        for (size_t i = 0; i < size; i++)
            out[i] = bytes[i] < 0x80 ? bytes[i] : Oem437High[bytes[i] - 0x80];
        return size;
    }
    return DecodeWithIconv(encoding == Ansi ? cp->ansiDecoder : cp->oemDecoder, src, size, out,
                           size);
}

// The byte of code page 437 for a code point: the character itself, else (with
// ANSI 1252) the best fit Windows gives the 1252 character; 0 when none.
unsigned char Encode437(const CodePagePair* cp, uint32_t value)
{
    if (value < 0x80)
        return (unsigned char)value;
    for (unsigned i = 0; i < 128; i++)
        if (Oem437High[i] == value)
            return (unsigned char)(0x80 + i);
    for (unsigned i = 1; i < 33; i++)
        if (OemGlyphs[i] == value)
            return (unsigned char)(i < 32 ? i : 0x7F);
    if (cp->ansi == 1252) {
        if (value >= 0xA0 && value <= 0xFF)
            return Ansi1252ToOem437[value];
        for (unsigned i = 0; i < 32; i++)
            if (Ansi1252High[i] == value && Ansi1252ToOem437[0x80 + i] != '?')
                return Ansi1252ToOem437[0x80 + i];
    }
    return 0;
}

// Writes the encoding of one code point into out (room for 8 bytes) and
// returns its length; 0 when the target cannot represent it.
size_t Encode(const CodePagePair* cp, Encoding encoding, uint32_t value, unsigned char* out)
{
    if (encoding == Utf8) {
        if (value >= 0xD800 && value <= 0xDFFF)
            value = 0xFFFD;
        if (value < 0x80) {
            out[0] = (unsigned char)value;
            return 1;
        }
        if (value < 0x800) {
            out[0] = (unsigned char)(0xC0 | (value >> 6));
            out[1] = (unsigned char)(0x80 | (value & 0x3F));
            return 2;
        }
        if (value < 0x10000) {
            out[0] = (unsigned char)(0xE0 | (value >> 12));
            out[1] = (unsigned char)(0x80 | ((value >> 6) & 0x3F));
            out[2] = (unsigned char)(0x80 | (value & 0x3F));
            return 3;
        }
        out[0] = (unsigned char)(0xF0 | (value >> 18));
        out[1] = (unsigned char)(0x80 | ((value >> 12) & 0x3F));
        out[2] = (unsigned char)(0x80 | ((value >> 6) & 0x3F));
        out[3] = (unsigned char)(0x80 | (value & 0x3F));
        return 4;
    }
    // Only the OEM code page is ever a target.
    if (cp->oem == 437) {
        out[0] = Encode437(cp, value);
        return out[0] != 0 ? 1 : 0;
    }
    iconv(cp->oemEncoder, nullptr, nullptr, nullptr, nullptr);
    unsigned char in[4] = {(unsigned char)value, (unsigned char)(value >> 8),
                           (unsigned char)(value >> 16), (unsigned char)(value >> 24)};
    char* inPointer = (char*)in;
    size_t inLeft = 4;
    char* outPointer = (char*)out;
    size_t outLeft = 8;
    if (iconv(cp->oemEncoder, &inPointer, &inLeft, &outPointer, &outLeft) == (size_t)-1 ||
        iconv(cp->oemEncoder, nullptr, nullptr, &outPointer, &outLeft) == (size_t)-1)
        return 0;
    return 8 - outLeft;
}

// What a terminal may safely be sent for a code point: OEM bytes 0x01-0x1F
// and 0x7F show as the console's graphic characters; C1 controls never leave.
uint32_t ForDisplay(uint32_t value, bool oemGlyphs)
{
    if (oemGlyphs && value > 0 && value < 0x20)
        return OemGlyphs[value];
    if (oemGlyphs && value == 0x7F)
        return OemGlyphs[32];
    if (value >= 0x80 && value < 0xA0)
        return '?';
    return value;
}

// Converts src into dest of capacity bytes (capacity > 0), cutting at a
// character boundary; false when cut or when memory ran out.
bool Convert(Encoding from, Encoding to, const char* src, char* dest, size_t capacity)
{
    if (dest == nullptr || capacity == 0)
        return false;
    if (src == nullptr) {
        dest[0] = '\0';
        return false;
    }
    const CodePagePair* cp = CurrentPair();
    size_t size = strlen(src);
    uint32_t* points = (uint32_t*)malloc((size ? size : 1) * sizeof(uint32_t));
    if (points == nullptr) {
        dest[0] = '\0';
        return false;
    }
    size_t count = Decode(cp, from, src, size, points);
    size_t used = 0;
    bool complete = true;
    for (size_t i = 0; i < count; i++) {
        uint32_t value = to == Utf8 ? ForDisplay(points[i], from == Oem) : points[i];
        unsigned char bytes[8];
        size_t length = Encode(cp, to, value, bytes);
        if (length == 0) {
            bytes[0] = '?';
            length = 1;
        }
        if (length > capacity - 1 - used) {
            complete = false;
            break;
        }
        memcpy(dest + used, bytes, length);
        used += length;
    }
    dest[used] = '\0';
    free(points);
    return complete;
}

}  // namespace

const char* CodePageSettingError(void)
{
    const CodePagePair* cp = CurrentPair();
    return cp->error[0] != '\0' ? cp->error : nullptr;
}

void CurrentCodePages(unsigned* ansi, unsigned* oem)
{
    const CodePagePair* cp = CurrentPair();
    *ansi = cp->ansi;
    *oem = cp->oem;
}

// Windows reads the source whole before it writes, so src and dest may be
// the same buffer; dest receives no more bytes than src holds.
BOOL CharToOemA(LPCSTR src, LPSTR dest)
{
    if (src == nullptr || dest == nullptr)
        return 0;
    const CodePagePair* cp = CurrentPair();
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
    size_t count = Decode(cp, Ansi, src, size, points);
    size_t used = 0;
    for (size_t i = 0; i < count; i++) {
        unsigned char bytes[8];
        size_t length = Encode(cp, Oem, points[i], bytes);
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

bool TerminalToOem(const char* src, char* dest, size_t capacity)
{
    return Convert(Utf8, Oem, src, dest, capacity);
}

bool OemToTerminal(const char* src, char* dest, size_t capacity)
{
    return Convert(Oem, Utf8, src, dest, capacity);
}

bool AnsiToTerminal(const char* src, char* dest, size_t capacity)
{
    return Convert(Ansi, Utf8, src, dest, capacity);
}
