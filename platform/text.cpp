// Text: UTF-8, the built-in single-byte code pages, case folding and display
// width (text.h says what each does).
#include "platform/text.h"

#include <cstring>

namespace {

// Unicode simple case folding: each run folds first, first + stride, ...
// (count characters) to themselves plus delta.
struct FoldRun {
    uint32_t first;
    uint16_t count;
    uint8_t stride;
    int32_t delta;
};

const FoldRun FoldRuns[] = {
#include "platform/casefold_table.inc"
};

// The character at text[0] of a NUL-terminated text, with its length; bytes
// that are no character come back as themselves (one byte) so that they
// compare exactly.
uint32_t NextFoldedCharacter(const char* text, size_t limit, size_t* length)
{
    unsigned char lead = (unsigned char)text[0];
    if (lead < 0x80) {
        *length = 1;
        return FoldCase(lead);
    }
    size_t available = 1;
    while (available < 4 && available < limit && text[available] != '\0')
        ++available;
    uint32_t cp = DecodeUtf8(text, available, length);
    if (cp == ReplacementCharacter && *length == 1)
        return 0x110000u + lead;  // beyond every character: only the same byte equals it
    return FoldCase(cp);
}

// Code page 1252, bytes 0x80-0x9F (the rest are Latin-1). The five bytes
// that 1252 leaves undefined stand for the C1 control of the same number, as
// on Windows.
const uint16_t Windows1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

// Code page 437, bytes 0x80-0xFF.
const uint16_t Oem437High[128] = {
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

// What the OEM console shows for bytes 0x00-0x1F and 0x7F: the graphic
// characters of code page 437 (0x00 is the terminator and stays itself).
const uint16_t OemGlyphs[33] = {
    0x0000, 0x263A, 0x263B, 0x2665, 0x2666, 0x2663, 0x2660, 0x2022, 0x25D8, 0x25CB, 0x25D9,
    0x2642, 0x2640, 0x266A, 0x266B, 0x263C, 0x25BA, 0x25C4, 0x2195, 0x203C, 0x00B6, 0x00A7,
    0x25AC, 0x21A8, 0x2191, 0x2193, 0x2192, 0x2190, 0x221F, 0x2194, 0x25B2, 0x25BC,
    0x2302,  // 0x7F
};

}  // namespace

uint32_t DecodeUtf8(const char* text, size_t size, size_t* length, Utf8Invalid invalid)
{
    const unsigned char* bytes = (const unsigned char*)text;
    unsigned char lead = bytes[0];
    *length = 1;
    if (lead < 0x80)
        return lead;
    uint32_t value;
    size_t need;
    // The range of the second byte: the lead bytes E0, ED, F0 and F4 narrow
    // it so that no overlong form, surrogate or value past U+10FFFF decodes.
    unsigned char low = 0x80, high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        value = lead & 0x1F, need = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        value = lead & 0x0F, need = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        value = lead & 0x07, need = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return ReplacementCharacter;
    }
    for (size_t j = 1; j < need; j++) {
        if (j >= size || bytes[j] < low || bytes[j] > high) {
            if (invalid == Utf8InvalidSubpart)
                *length = j;
            return ReplacementCharacter;
        }
        value = (value << 6) | (bytes[j] & 0x3F);
        low = 0x80, high = 0xBF;
    }
    *length = need;
    return value;
}

size_t EncodeUtf8(uint32_t cp, char* out)
{
    if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF)
        cp = ReplacementCharacter;
    if (cp < 0x80) {
        out[0] = (char)cp;
        return 1;
    }
    if (cp < 0x800) {
        out[0] = (char)(0xC0 | (cp >> 6));
        out[1] = (char)(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp < 0x10000) {
        out[0] = (char)(0xE0 | (cp >> 12));
        out[1] = (char)(0x80 | ((cp >> 6) & 0x3F));
        out[2] = (char)(0x80 | (cp & 0x3F));
        return 3;
    }
    out[0] = (char)(0xF0 | (cp >> 18));
    out[1] = (char)(0x80 | ((cp >> 12) & 0x3F));
    out[2] = (char)(0x80 | ((cp >> 6) & 0x3F));
    out[3] = (char)(0x80 | (cp & 0x3F));
    return 4;
}

size_t Utf8CharacterLength(const char* text, size_t size, size_t i)
{
    size_t length = 1;
    while (i + length < size && ((unsigned char)text[i + length] & 0xC0) == 0x80)
        ++length;
    return length;
}

bool IsAscii(const char* text, size_t size)
{
    // Eight bytes at a time: this runs over whole pages.
    size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        uint64_t word;
        memcpy(&word, text + i, 8);
        if (word & 0x8080808080808080ull)
            return false;
    }
    for (; i < size; i++)
        if ((unsigned char)text[i] >= 0x80)
            return false;
    return true;
}

// The length of the well-formed UTF-8 that begins text: all of it, or up to
// the first byte that is no character.
static size_t Utf8Prefix(const char* text, size_t size, bool* beyondAscii)
{
    size_t i = 0;
    while (i < size) {
        if (i + 8 <= size && IsAscii(text + i, 8)) {
            i += 8;
            continue;
        }
        if ((unsigned char)text[i] < 0x80) {
            i++;
            continue;
        }
        size_t length;
        if (DecodeUtf8(text + i, size - i, &length) == ReplacementCharacter && length == 1)
            return i;
        *beyondAscii = true;
        i += length;
    }
    return i;
}

bool IsUtf8(const char* text, size_t size)
{
    bool beyondAscii = false;
    return Utf8Prefix(text, size, &beyondAscii) == size;
}

bool IsUtf8Text(const char* text, size_t size)
{
    bool beyondAscii = false;
    return Utf8Prefix(text, size, &beyondAscii) == size && beyondAscii;
}

size_t EncodeUtf16(uint32_t cp, uint16_t* out)
{
    if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF)
        cp = ReplacementCharacter;
    if (cp < 0x10000) {
        out[0] = (uint16_t)cp;
        return 1;
    }
    cp -= 0x10000;
    out[0] = (uint16_t)(0xD800 + (cp >> 10));
    out[1] = (uint16_t)(0xDC00 + (cp & 0x3FF));
    return 2;
}

uint32_t DecodeUtf16(uint32_t unit, uint32_t next, size_t* units)
{
    *units = 1;
    if (unit >= 0xD800 && unit <= 0xDBFF && next >= 0xDC00 && next <= 0xDFFF) {
        *units = 2;
        return 0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00);
    }
    return unit;
}

bool DecodeSingleByte(unsigned codePage, unsigned char byte, uint32_t* cp)
{
    if (codePage == 1252) {
        *cp = (byte >= 0x80 && byte < 0xA0) ? Windows1252High[byte - 0x80] : byte;
        return true;
    }
    if (codePage == 437) {
        *cp = byte < 0x80 ? byte : Oem437High[byte - 0x80];
        return true;
    }
    return false;
}

bool EncodeSingleByte(unsigned codePage, uint32_t cp, unsigned char* byte)
{
    if (cp < 0x80 && (codePage == 1252 || codePage == 437)) {
        *byte = (unsigned char)cp;
        return true;
    }
    if (codePage == 1252) {
        if (cp >= 0xA0 && cp <= 0xFF) {
            *byte = (unsigned char)cp;
            return true;
        }
        for (unsigned i = 0; i < 32; i++) {
            if (Windows1252High[i] == cp) {
                *byte = (unsigned char)(0x80 + i);
                return true;
            }
        }
        return false;
    }
    if (codePage == 437) {
        for (unsigned i = 0; i < 128; i++) {
            if (Oem437High[i] == cp) {
                *byte = (unsigned char)(0x80 + i);
                return true;
            }
        }
    }
    return false;
}

uint32_t Oem437Glyph(unsigned char byte)
{
    if (byte > 0 && byte < 0x20)
        return OemGlyphs[byte];
    if (byte == 0x7F)
        return OemGlyphs[32];
    return 0;
}

uint32_t FoldCase(uint32_t cp)
{
    if (cp < 0x80)
        return (cp >= 'A' && cp <= 'Z') ? cp - 'A' + 'a' : cp;
    // The last run that begins at or before cp.
    size_t low = 0, high = sizeof FoldRuns / sizeof FoldRuns[0];
    while (high - low > 1) {
        size_t middle = (low + high) / 2;
        if (FoldRuns[middle].first <= cp)
            low = middle;
        else
            high = middle;
    }
    const FoldRun& run = FoldRuns[low];
    if (cp < run.first)
        return cp;
    uint32_t offset = cp - run.first;
    if (offset % run.stride != 0 || offset / run.stride >= run.count)
        return cp;
    return (uint32_t)((int64_t)cp + run.delta);
}

int CompareFolded(const char* a, const char* b, size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        unsigned char x = (unsigned char)FoldAscii(a[i]), y = (unsigned char)FoldAscii(b[i]);
        if (x != y)
            return x < y ? -1 : 1;
        if (x == '\0')
            return 0;
    }
    return 0;
}

bool StartsWithFolded(const char* text, size_t textSize, const char* prefix, size_t prefixSize)
{
    if (prefixSize > textSize)
        return false;
    for (size_t i = 0; i < prefixSize; ++i)
        if (FoldAscii(text[i]) != FoldAscii(prefix[i]))
            return false;
    return true;
}

bool IsWideCharacter(uint32_t cp)
{
    return (cp >= 0x1100 && cp <= 0x115F) || (cp >= 0x2E80 && cp <= 0x303E) ||
        (cp >= 0x3041 && cp <= 0x33FF) || (cp >= 0x3400 && cp <= 0x4DBF) ||
        (cp >= 0x4E00 && cp <= 0x9FFF) || (cp >= 0xA000 && cp <= 0xA4CF) ||
        (cp >= 0xAC00 && cp <= 0xD7A3) || (cp >= 0xF900 && cp <= 0xFAFF) ||
        (cp >= 0xFE30 && cp <= 0xFE4F) || (cp >= 0xFF00 && cp <= 0xFF60) ||
        (cp >= 0xFFE0 && cp <= 0xFFE6) || (cp >= 0x1F300 && cp <= 0x1F64F) ||
        (cp >= 0x20000 && cp <= 0x3FFFD);
}

size_t Utf8Width(const char* text, size_t size)
{
    size_t width = 0;
    size_t i = 0;
    while (i < size) {
        size_t length;
        width += (size_t)CharacterWidth(DecodeUtf8(text + i, size - i, &length));
        i += length;
    }
    return width;
}

int CompareFoldedUtf8(const char* a, const char* b, size_t count)
{
    size_t i = 0, j = 0;
    while (j < count) {
        if (a[i] == '\0' || b[j] == '\0')
            return a[i] == b[j] ? 0 : (a[i] == '\0' ? -1 : 1);
        size_t la, lb;
        uint32_t x = NextFoldedCharacter(a + i, SIZE_MAX, &la);
        uint32_t y = NextFoldedCharacter(b + j, count - j, &lb);
        if (x != y)
            return x < y ? -1 : 1;
        i += la;
        j += lb;
    }
    return 0;
}

bool StartsWithFoldedUtf8(const char* text, size_t textSize, const char* prefix, size_t prefixSize)
{
    size_t i = 0, j = 0;
    while (j < prefixSize) {
        if (i >= textSize)
            return false;
        size_t la, lb;
        uint32_t x = NextFoldedCharacter(text + i, textSize - i, &la);
        uint32_t y = NextFoldedCharacter(prefix + j, prefixSize - j, &lb);
        if (x != y)
            return false;
        i += la;
        j += lb;
    }
    return true;
}

int HexDigitValue(char c)
{
    return c >= '0' && c <= '9' ? c - '0'
        : c >= 'a' && c <= 'f'  ? c - 'a' + 10
        : c >= 'A' && c <= 'F'  ? c - 'A' + 10
                                : -1;
}

size_t DecodePercentEscapes(const char* text, size_t size, char* out)
{
    size_t k = 0;
    for (size_t i = 0; i < size; ++i) {
        int high = i + 2 < size && text[i] == '%' ? HexDigitValue(text[i + 1]) : -1;
        int low = high >= 0 ? HexDigitValue(text[i + 2]) : -1;
        if (low >= 0) {
            out[k++] = (char)(high * 16 + low);
            i += 2;
        } else {
            out[k++] = text[i];
        }
    }
    return k;
}
