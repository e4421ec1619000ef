// The code-page converter of the Linux platform layer: the bytes of any code
// page read as code points, and code points written in any code page. Every
// conversion of the layer (MultiByteToWideChar, WideCharToMultiByte,
// CharToOemA and the host's terminal conversions) goes through it.
//
// UTF-8, 1252 and 437 are the text unit's own (text.h); every other code page
// goes through iconv, by the name the table of code pages gives it
// (charsets.h). converter.cpp is the one file that opens iconv descriptors:
// each thread keeps the few it used last, so threads never share one.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/text.h"

// CharToOemA from 1252 to 437 as Windows does it, best fit included
// (codepage.cpp).
extern const unsigned char Ansi1252ToOem437[256];

// Whether the converter can convert codePage both ways.
bool CodePageConvertible(unsigned codePage);

// The bytes of one code page, read as code points a piece at a time.
struct TextDecoder {
    unsigned codePage;
    Utf8Invalid utf8Invalid;  // how UTF-8 steps over bytes that are no character
    const char* at;           // the bytes not read yet
    size_t left;
    bool invalid;   // bytes that are no character were met
    bool finished;  // everything is read and written out
};

// Starts reading size bytes of src in codePage; false when the converter
// cannot convert it.
bool OpenTextDecoder(TextDecoder* decoder, unsigned codePage, const char* src, size_t size,
                     Utf8Invalid utf8Invalid);
// Writes the next code points into out (room for capacity of them; a
// character that iconv reads as several needs room for all) and returns how
// many; 0 once all are read. Bytes that are no character
// become U+FFFD from UTF-8 (stepped over as utf8Invalid says) and '?' from
// other code pages, and set invalid; a character cut short by the end is one
// such.
size_t DecodeText(TextDecoder* decoder, uint32_t* out, size_t capacity);

// Writes value in codePage into out (room for 8 bytes) and returns the bytes;
// 0 when the code page lacks it. Toward 437 with bestFit, a character of 1252
// that 437 lacks takes the best fit CharToOemA gives it.
size_t EncodeCodePoint(unsigned codePage, uint32_t value, bool bestFit, unsigned char* out);
