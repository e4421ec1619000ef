// HTML character references: numeric ones, and the named ones that help
// pages use.
#include <cctype>
#include <cstdint>
#include <string>

#include "host/host.h"
#include "host/page/page.h"
#include "platform/text.h"

namespace {

struct NamedEntity {
    const char* name;
    uint32_t cp;
};

// The named references that help pages use; the whole of Latin-1 and the
// common punctuation, arrows and symbols.
const NamedEntity NamedEntities[] = {
    {"amp", '&'},       {"lt", '<'},        {"gt", '>'},        {"quot", '"'},
    {"apos", '\''},     {"nbsp", 0xA0},     {"iexcl", 0xA1},    {"cent", 0xA2},
    {"pound", 0xA3},    {"curren", 0xA4},   {"yen", 0xA5},      {"brvbar", 0xA6},
    {"sect", 0xA7},     {"uml", 0xA8},      {"copy", 0xA9},     {"ordf", 0xAA},
    {"laquo", 0xAB},    {"not", 0xAC},      {"shy", 0xAD},      {"reg", 0xAE},
    {"macr", 0xAF},     {"deg", 0xB0},      {"plusmn", 0xB1},   {"sup2", 0xB2},
    {"sup3", 0xB3},     {"acute", 0xB4},    {"micro", 0xB5},    {"para", 0xB6},
    {"middot", 0xB7},   {"cedil", 0xB8},    {"sup1", 0xB9},     {"ordm", 0xBA},
    {"raquo", 0xBB},    {"frac14", 0xBC},   {"frac12", 0xBD},   {"frac34", 0xBE},
    {"iquest", 0xBF},   {"Agrave", 0xC0},   {"Aacute", 0xC1},   {"Acirc", 0xC2},
    {"Atilde", 0xC3},   {"Auml", 0xC4},     {"Aring", 0xC5},    {"AElig", 0xC6},
    {"Ccedil", 0xC7},   {"Egrave", 0xC8},   {"Eacute", 0xC9},   {"Ecirc", 0xCA},
    {"Euml", 0xCB},     {"Igrave", 0xCC},   {"Iacute", 0xCD},   {"Icirc", 0xCE},
    {"Iuml", 0xCF},     {"ETH", 0xD0},      {"Ntilde", 0xD1},   {"Ograve", 0xD2},
    {"Oacute", 0xD3},   {"Ocirc", 0xD4},    {"Otilde", 0xD5},   {"Ouml", 0xD6},
    {"times", 0xD7},    {"Oslash", 0xD8},   {"Ugrave", 0xD9},   {"Uacute", 0xDA},
    {"Ucirc", 0xDB},    {"Uuml", 0xDC},     {"Yacute", 0xDD},   {"THORN", 0xDE},
    {"szlig", 0xDF},    {"agrave", 0xE0},   {"aacute", 0xE1},   {"acirc", 0xE2},
    {"atilde", 0xE3},   {"auml", 0xE4},     {"aring", 0xE5},    {"aelig", 0xE6},
    {"ccedil", 0xE7},   {"egrave", 0xE8},   {"eacute", 0xE9},   {"ecirc", 0xEA},
    {"euml", 0xEB},     {"igrave", 0xEC},   {"iacute", 0xED},   {"icirc", 0xEE},
    {"iuml", 0xEF},     {"eth", 0xF0},      {"ntilde", 0xF1},   {"ograve", 0xF2},
    {"oacute", 0xF3},   {"ocirc", 0xF4},    {"otilde", 0xF5},   {"ouml", 0xF6},
    {"divide", 0xF7},   {"oslash", 0xF8},   {"ugrave", 0xF9},   {"uacute", 0xFA},
    {"ucirc", 0xFB},    {"uuml", 0xFC},     {"yacute", 0xFD},   {"thorn", 0xFE},
    {"yuml", 0xFF},     {"OElig", 0x152},   {"oelig", 0x153},   {"Scaron", 0x160},
    {"scaron", 0x161},  {"Yuml", 0x178},    {"fnof", 0x192},    {"circ", 0x2C6},
    {"tilde", 0x2DC},   {"ensp", 0x2002},   {"emsp", 0x2003},   {"thinsp", 0x2009},
    {"zwnj", 0x200C},   {"zwj", 0x200D},    {"ndash", 0x2013},  {"mdash", 0x2014},
    {"lsquo", 0x2018},  {"rsquo", 0x2019},  {"sbquo", 0x201A},  {"ldquo", 0x201C},
    {"rdquo", 0x201D},  {"bdquo", 0x201E},  {"dagger", 0x2020}, {"Dagger", 0x2021},
    {"bull", 0x2022},   {"hellip", 0x2026}, {"permil", 0x2030}, {"prime", 0x2032},
    {"Prime", 0x2033},  {"lsaquo", 0x2039}, {"rsaquo", 0x203A}, {"euro", 0x20AC},
    {"trade", 0x2122},  {"larr", 0x2190},   {"uarr", 0x2191},   {"rarr", 0x2192},
    {"darr", 0x2193},   {"harr", 0x2194},   {"lArr", 0x21D0},   {"rArr", 0x21D2},
    {"hArr", 0x21D4},   {"minus", 0x2212},  {"lowast", 0x2217}, {"radic", 0x221A},
    {"infin", 0x221E},  {"ne", 0x2260},     {"le", 0x2264},     {"ge", 0x2265},
    {"asymp", 0x2248},  {"equiv", 0x2261},  {"sum", 0x2211},    {"prod", 0x220F},
    {"part", 0x2202},   {"forall", 0x2200}, {"exist", 0x2203},  {"isin", 0x2208},
    {"alpha", 0x3B1},   {"beta", 0x3B2},    {"gamma", 0x3B3},   {"delta", 0x3B4},
    {"epsilon", 0x3B5}, {"lambda", 0x3BB},  {"mu", 0x3BC},      {"pi", 0x3C0},
    {"sigma", 0x3C3},   {"omega", 0x3C9},   {"Delta", 0x394},   {"Omega", 0x3A9},
    {"loz", 0x25CA},    {"spades", 0x2660}, {"clubs", 0x2663},  {"hearts", 0x2665},
    {"diams", 0x2666},
};

}  // namespace

size_t DecodeReference(const std::string& text, size_t i, uint32_t& cp)
{
    size_t j = i + 1;
    if (j < text.size() && text[j] == '#') {
        ++j;
        bool hex = j < text.size() && (text[j] == 'x' || text[j] == 'X');
        if (hex)
            ++j;
        size_t start = j;
        uint64_t value = 0;
        while (j < text.size() && j - start < 10) {
            char c = text[j];
            int digit = (c >= '0' && c <= '9')  ? c - '0'
                : (hex && c >= 'a' && c <= 'f') ? c - 'a' + 10
                : (hex && c >= 'A' && c <= 'F') ? c - 'A' + 10
                                                : -1;
            if (digit < 0)
                break;
            value = value * (hex ? 16 : 10) + (uint64_t)digit;
            ++j;
        }
        if (j == start)
            return i;
        while (j < text.size() &&
               ((text[j] >= '0' && text[j] <= '9') || (hex && isxdigit((unsigned char)text[j]))))
            ++j;  // digits beyond any sensible value
        if (j < text.size() && text[j] == ';')
            ++j;
        if (value == 0 || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
            cp = ReplacementCharacter;
        } else if (value >= 0x80 && value <= 0x9F) {
            // Numeric references to 0x80..0x9F mean the Windows-1252
            // characters there; the five it leaves undefined mean nothing.
            DecodeSingleByte(1252, (unsigned char)value, &cp);
            if (cp < 0xA0)
                cp = ReplacementCharacter;
        } else {
            cp = (uint32_t)value;
        }
        return j;
    }
    size_t start = j;
    while (j < text.size() && IsAsciiAlnum(text[j]) && j - start < 32)
        ++j;
    std::string name = text.substr(start, j - start);
    bool semicolon = j < text.size() && text[j] == ';';
    for (const NamedEntity& entity : NamedEntities) {
        if (name != entity.name)
            continue;
        // Without its ';' only the oldest five are taken, as browsers do.
        if (!semicolon && name != "amp" && name != "lt" && name != "gt" && name != "quot" &&
            name != "nbsp")
            break;
        cp = entity.cp;
        return semicolon ? j + 1 : j;
    }
    return i;
}
