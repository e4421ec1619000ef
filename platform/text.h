// Text: the one place that knows how characters are encoded, compared and
// laid out, for the host and the Linux platform layer alike.
//
// Characters are code points (uint32_t). The unit decodes and encodes UTF-8,
// maps the built-in single-byte code pages (Windows-1252 and OEM 437) to code
// points and back, folds letter case and tells how many terminal columns a
// character takes. Everything is plain functions over caller-owned buffers:
// no allocation, no exceptions, no operating-system calls except the
// character width, which each system answers in its own file
// (platform/linux/text_width.cpp, platform/windows/text_width.cpp).
//
// Adding an encoding means another entry in the single-byte tables (or
// another codec beside UTF-8) behind the same two calls; adding a case
// folding means another branch in FoldCase, which every comparison here goes
// through.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr uint32_t ReplacementCharacter = 0xFFFD;

// UTF-8.

// Decodes the character at text[0] (size > 0 bytes available) and sets
// *length to the bytes it takes. A byte that starts no well-formed character
// (overlong forms, surrogates, values past U+10FFFF, a character cut short)
// decodes as ReplacementCharacter with *length 1.
uint32_t DecodeUtf8(const char* text, size_t size, size_t* length);
// Writes the encoding of cp into out (room for 4 bytes) and returns its
// length; surrogates and values past U+10FFFF are written as U+FFFD.
size_t EncodeUtf8(uint32_t cp, char* out);
// The bytes of the character starting at text[i]: its lead byte and the
// continuation bytes that follow it (1 for a byte that leads nothing).
size_t Utf8CharacterLength(const char* text, size_t size, size_t i);

// Single-byte code pages.

// The code point of byte in codePage (1252 or 437); false for a code page the
// unit has no table for. In 1252 the five bytes the code page leaves undefined
// stand for the C1 control of the same number, as on Windows; in 437 bytes
// below 0x80 are ASCII (see Oem437Glyph for what a console shows for them).
bool DecodeSingleByte(unsigned codePage, unsigned char byte, uint32_t* cp);
// The byte of codePage for cp; false when the code page lacks it (or has no
// table here). Exact characters only, no best fit.
bool EncodeSingleByte(unsigned codePage, uint32_t cp, unsigned char* byte);
// What an OEM console shows for bytes 0x01-0x1F and 0x7F: the graphic
// characters of code page 437 (the heart, the bullet, the section sign ...).
// Every other byte gives 0.
uint32_t Oem437Glyph(unsigned char byte);

// Letter case.

// The character compared in place of cp: ASCII letters fold to lower case,
// everything else is itself.
uint32_t FoldCase(uint32_t cp);
char FoldAscii(char c);
char UpperAscii(char c);
// Compares at most count bytes of a and b with letters folded, stopping at
// the first NUL of either: <0, 0 or >0 as strncmp does, on the folded bytes.
int CompareFolded(const char* a, const char* b, size_t count);
// Whether text begins with prefix (both size bytes known), letters folded.
bool StartsWithFolded(const char* text, size_t textSize, const char* prefix, size_t prefixSize);

// Display width.

// Terminal columns that cp takes: 0 for combining marks and other
// zero-width characters, 2 for wide characters (CJK ideographs, full-width
// forms), 1 for every other character, control bytes included.
int CharacterWidth(uint32_t cp);
// The East Asian wide ranges, for systems that cannot tell the width
// themselves.
bool IsWideCharacter(uint32_t cp);
// Columns that size bytes of UTF-8 take, character by character.
size_t Utf8Width(const char* text, size_t size);
