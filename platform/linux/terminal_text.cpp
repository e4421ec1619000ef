// The host's terminal conversions on Linux (terminal_text.h): the terminal
// speaks UTF-8, and help-file text goes through the module's code-page pair.
#include "platform/terminal_text.h"

#include <limits.h>
#include <stdlib.h>
#include <string.h>

#include "platform/codepage.h"
#include "platform/platform.h"
#include "platform/text.h"

namespace {

// What a terminal may safely be sent for a code point: OEM bytes 0x01-0x1F
// and 0x7F show as the console's graphic characters; C1 controls never leave.
uint32_t ForDisplay(uint32_t value, bool oemGlyphs)
{
    if (oemGlyphs && value < 0x80 && Oem437Glyph((unsigned char)value) != 0)
        return Oem437Glyph((unsigned char)value);
    if (value >= 0x80 && value < 0xA0)
        return '?';
    return value;
}

// Converts src into dest of capacity bytes (capacity > 0), cutting at a
// character boundary; false when cut or when memory ran out.
bool Convert(CodePageEncoding from, CodePageEncoding to, const char* src, char* dest,
             size_t capacity)
{
    if (dest == nullptr || capacity == 0)
        return false;
    if (src == nullptr) {
        dest[0] = '\0';
        return false;
    }
    const CodePagePair* cp = CurrentCodePages();
    size_t size = strlen(src);
    uint32_t* points = (uint32_t*)malloc((size ? size : 1) * sizeof(uint32_t));
    if (points == nullptr) {
        dest[0] = '\0';
        return false;
    }
    size_t count = DecodeCodePage(cp, from, src, size, points);
    size_t used = 0;
    bool complete = true;
    for (size_t i = 0; i < count; i++) {
        uint32_t value =
            to == EncodingUtf8 ? ForDisplay(points[i], from == EncodingOem) : points[i];
        unsigned char bytes[8];
        size_t length = EncodeCodePage(cp, to, value, bytes);
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

bool TerminalToOem(const char* src, char* dest, size_t capacity)
{
    return Convert(EncodingUtf8, EncodingOem, src, dest, capacity);
}

bool OemToTerminal(const char* src, char* dest, size_t capacity)
{
    return Convert(EncodingOem, EncodingUtf8, src, dest, capacity);
}

bool AnsiToTerminal(const char* src, char* dest, size_t capacity)
{
    return Convert(EncodingAnsi, EncodingUtf8, src, dest, capacity);
}

size_t CodePointToTerminal(uint32_t cp, char* out)
{
    return EncodeUtf8(cp, out);
}

bool Utf8ToTerminal(const char* src, size_t size, char* dest, size_t capacity, size_t* length)
{
    if (size > capacity)
        return false;
    memcpy(dest, src, size);
    *length = size;
    return true;
}

// The code page the terminal's text is in.
unsigned TerminalCodePage(void)
{
    return CP_UTF8;
}
