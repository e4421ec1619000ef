// HTML character references: numeric ones, and the named ones that help
// pages use (text.h says which rule reads them how).
#include "platform/text.h"

#include <cstring>

namespace {

struct NamedReference {
    const char* name;
    uint32_t cp;
};

// Sorted by name, byte by byte, for the binary search below.
constexpr NamedReference NamedReferences[] = {
    {"AElig", 0xC6},    {"AMP", '&'},       {"Aacute", 0xC1},   {"Acirc", 0xC2},
    {"Agrave", 0xC0},   {"Aring", 0xC5},    {"Atilde", 0xC3},   {"Auml", 0xC4},
    {"Ccedil", 0xC7},   {"Dagger", 0x2021}, {"Delta", 0x394},   {"ETH", 0xD0},
    {"Eacute", 0xC9},   {"Ecirc", 0xCA},    {"Egrave", 0xC8},   {"Euml", 0xCB},
    {"GT", '>'},        {"Iacute", 0xCD},   {"Icirc", 0xCE},    {"Igrave", 0xCC},
    {"Iuml", 0xCF},     {"LT", '<'},        {"Ntilde", 0xD1},   {"OElig", 0x152},
    {"Oacute", 0xD3},   {"Ocirc", 0xD4},    {"Ograve", 0xD2},   {"Omega", 0x3A9},
    {"Oslash", 0xD8},   {"Otilde", 0xD5},   {"Ouml", 0xD6},     {"Prime", 0x2033},
    {"QUOT", '"'},      {"Scaron", 0x160},  {"THORN", 0xDE},    {"Uacute", 0xDA},
    {"Ucirc", 0xDB},    {"Ugrave", 0xD9},   {"Uuml", 0xDC},     {"Yacute", 0xDD},
    {"Yuml", 0x178},    {"aacute", 0xE1},   {"acirc", 0xE2},    {"acute", 0xB4},
    {"aelig", 0xE6},    {"agrave", 0xE0},   {"alpha", 0x3B1},   {"amp", '&'},
    {"apos", '\''},     {"aring", 0xE5},    {"asymp", 0x2248},  {"atilde", 0xE3},
    {"auml", 0xE4},     {"bdquo", 0x201E},  {"beta", 0x3B2},    {"brvbar", 0xA6},
    {"bull", 0x2022},   {"ccedil", 0xE7},   {"cedil", 0xB8},    {"cent", 0xA2},
    {"circ", 0x2C6},    {"clubs", 0x2663},  {"copy", 0xA9},     {"curren", 0xA4},
    {"dagger", 0x2020}, {"darr", 0x2193},   {"deg", 0xB0},      {"delta", 0x3B4},
    {"diams", 0x2666},  {"divide", 0xF7},   {"eacute", 0xE9},   {"ecirc", 0xEA},
    {"egrave", 0xE8},   {"emsp", 0x2003},   {"ensp", 0x2002},   {"epsilon", 0x3B5},
    {"equiv", 0x2261},  {"eth", 0xF0},      {"euml", 0xEB},     {"euro", 0x20AC},
    {"exist", 0x2203},  {"fnof", 0x192},    {"forall", 0x2200}, {"frac12", 0xBD},
    {"frac14", 0xBC},   {"frac34", 0xBE},   {"gamma", 0x3B3},   {"ge", 0x2265},
    {"gt", '>'},        {"hArr", 0x21D4},   {"harr", 0x2194},   {"hearts", 0x2665},
    {"hellip", 0x2026}, {"iacute", 0xED},   {"icirc", 0xEE},    {"iexcl", 0xA1},
    {"igrave", 0xEC},   {"infin", 0x221E},  {"iquest", 0xBF},   {"isin", 0x2208},
    {"iuml", 0xEF},     {"lArr", 0x21D0},   {"lambda", 0x3BB},  {"laquo", 0xAB},
    {"larr", 0x2190},   {"ldquo", 0x201C},  {"le", 0x2264},     {"lowast", 0x2217},
    {"loz", 0x25CA},    {"lsaquo", 0x2039}, {"lsquo", 0x2018},  {"lt", '<'},
    {"macr", 0xAF},     {"mdash", 0x2014},  {"micro", 0xB5},    {"middot", 0xB7},
    {"minus", 0x2212},  {"mu", 0x3BC},      {"nbsp", 0xA0},     {"ndash", 0x2013},
    {"ne", 0x2260},     {"not", 0xAC},      {"ntilde", 0xF1},   {"oacute", 0xF3},
    {"ocirc", 0xF4},    {"oelig", 0x153},   {"ograve", 0xF2},   {"omega", 0x3C9},
    {"ordf", 0xAA},     {"ordm", 0xBA},     {"oslash", 0xF8},   {"otilde", 0xF5},
    {"ouml", 0xF6},     {"para", 0xB6},     {"part", 0x2202},   {"permil", 0x2030},
    {"pi", 0x3C0},      {"plusmn", 0xB1},   {"pound", 0xA3},    {"prime", 0x2032},
    {"prod", 0x220F},   {"quot", '"'},      {"rArr", 0x21D2},   {"radic", 0x221A},
    {"raquo", 0xBB},    {"rarr", 0x2192},   {"rdquo", 0x201D},  {"reg", 0xAE},
    {"rsaquo", 0x203A}, {"rsquo", 0x2019},  {"sbquo", 0x201A},  {"scaron", 0x161},
    {"sect", 0xA7},     {"shy", 0xAD},      {"sigma", 0x3C3},   {"spades", 0x2660},
    {"sum", 0x2211},    {"sup1", 0xB9},     {"sup2", 0xB2},     {"sup3", 0xB3},
    {"szlig", 0xDF},    {"thinsp", 0x2009}, {"thorn", 0xFE},    {"tilde", 0x2DC},
    {"times", 0xD7},    {"trade", 0x2122},  {"uacute", 0xFA},   {"uarr", 0x2191},
    {"ucirc", 0xFB},    {"ugrave", 0xF9},   {"uml", 0xA8},      {"uuml", 0xFC},
    {"yacute", 0xFD},   {"yen", 0xA5},      {"yuml", 0xFF},     {"zwj", 0x200D},
    {"zwnj", 0x200C},
};

constexpr bool NameBefore(const char* a, const char* b)
{
    while (*a != '\0' && *a == *b)
        ++a, ++b;
    return (unsigned char)*a < (unsigned char)*b;
}

constexpr bool SortedByName()
{
    for (size_t i = 1; i < sizeof NamedReferences / sizeof NamedReferences[0]; ++i)
        if (!NameBefore(NamedReferences[i - 1].name, NamedReferences[i].name))
            return false;
    return true;
}
static_assert(SortedByName(), "the named references must stay sorted by name");

// The named reference spelled by the length bytes at name; null for none.
const NamedReference* FindNamedReference(const char* name, size_t length)
{
    size_t low = 0, high = sizeof NamedReferences / sizeof NamedReferences[0];
    while (low < high) {
        size_t middle = (low + high) / 2;
        const char* candidate = NamedReferences[middle].name;
        int order = strncmp(candidate, name, length);
        if (order == 0 && candidate[length] != '\0')
            order = 1;  // longer than the name, so after it
        if (order == 0)
            return &NamedReferences[middle];
        if (order < 0)
            low = middle + 1;
        else
            high = middle;
    }
    return nullptr;
}

// The five named references that browsers take without their ';'.
bool TakenWithoutSemicolon(const char* name)
{
    static const char* const Legacy[] = {"amp", "lt", "gt", "quot", "nbsp"};
    for (const char* legacy : Legacy)
        if (strcmp(name, legacy) == 0)
            return true;
    return false;
}

// A numeric reference's digits as a value; values past U+10FFFF all count as
// 0x110000, however many digits follow.
size_t ReadReferenceNumber(const char* text, size_t size, size_t at, bool hex, uint32_t* value)
{
    *value = 0;
    while (at < size) {
        char c = text[at];
        int digit = hex ? HexDigitValue(c) : (c >= '0' && c <= '9' ? c - '0' : -1);
        if (digit < 0)
            break;
        uint32_t next = *value * (hex ? 16 : 10) + (uint32_t)digit;
        *value = next > 0x10FFFF ? 0x110000 : next;
        ++at;
    }
    return at;
}

}  // namespace

size_t DecodeCharacterReference(const char* text, size_t size, uint32_t* cp, ReferenceRule rule)
{
    size_t j = 1;
    if (j < size && text[j] == '#') {
        ++j;
        bool hex = j < size && (text[j] == 'x' || text[j] == 'X');
        if (hex)
            ++j;
        uint32_t value;
        size_t end = ReadReferenceNumber(text, size, j, hex, &value);
        if (end == j)
            return 0;
        bool closed = end < size && text[end] == ';';
        if (!closed && rule == ReferencesClosed)
            return 0;
        bool character = value != 0 && value <= 0x10FFFF && !(value >= 0xD800 && value <= 0xDFFF);
        // Numeric references to 0x80-0x9F mean the Windows-1252 characters
        // there; the five bytes it leaves undefined mean nothing.
        if (character && value >= 0x80 && value <= 0x9F) {
            DecodeSingleByte(1252, (unsigned char)value, &value);
            character = value >= 0xA0;
        }
        if (!character) {
            if (rule == ReferencesClosed)
                return 0;
            value = ReplacementCharacter;
        }
        *cp = value;
        return closed ? end + 1 : end;
    }
    size_t start = j;
    while (j < size && IsAsciiAlnum(text[j]) && j - start < 32)
        ++j;
    const NamedReference* named = FindNamedReference(text + start, j - start);
    if (named == nullptr)
        return 0;
    bool closed = j < size && text[j] == ';';
    if (!closed && (rule == ReferencesClosed || !TakenWithoutSemicolon(named->name)))
        return 0;
    *cp = named->cp;
    return closed ? j + 1 : j;
}
