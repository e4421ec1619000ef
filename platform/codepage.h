// The module's pair of code pages on Linux: the ANSI code page of help
// files and the OEM code page that CharToOemA converts to (platform.h).
// linux/codepage.cpp says how the pair is chosen; the host's terminal
// conversions (terminal_text.h) decode and encode through the same pair.
#pragma once

#include <cstddef>
#include <cstdint>

// The pair in force, and what it was made from.
struct CodePagePair {
    bool resolved;
    char setting[32];  // the variable's text the pair was made from
    bool utf8Locale;   // and whether the locale was UTF-8
    char error[96];    // why the variable's pair is not in force, "" when it is
    unsigned ansi;
    unsigned oem;
};

enum CodePageEncoding {
    EncodingUtf8,
    EncodingAnsi,
    EncodingOem
};

// The pair in force, brought in line with VELKORY_CODEPAGES and the locale.
// Each thread keeps its own.
const CodePagePair* CurrentCodePages(void);
// Decodes size bytes of src into code points; out has room for size entries.
// Bytes that are no character become '?' (or U+FFFD in UTF-8, one for each
// byte).
size_t DecodeCodePage(const CodePagePair* cp, CodePageEncoding encoding, const char* src,
                      size_t size, uint32_t* out);
// Writes the encoding of one code point into out (room for 8 bytes) and
// returns its length; 0 when the target cannot represent it. The targets are
// UTF-8 and the OEM code page.
size_t EncodeCodePage(const CodePagePair* cp, CodePageEncoding encoding, uint32_t value,
                      unsigned char* out);
