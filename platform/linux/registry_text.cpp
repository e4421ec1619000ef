// The .reg text format of the settings store.
//
// The file is a .reg export of HKEY_CURRENT_USER:
//
//   Windows Registry Editor Version 5.00
//
//   [HKEY_CURRENT_USER\Software\VelkoryHost\Velkory]
//   "Modality"="1"
//   "Count"=dword:00000001
//   "Blob"=hex:00,01,ff
//   "Path"=hex(2):25,48,4f,4d,45,25,00
//   @="the key's default value"
//
// A section names a key by its full path; a key exists when it has a section
// or a section lies below it. Values are stored as raw bytes with their type,
// the view of the ANSI functions: "text" holds a REG_SZ whose bytes are
// printable ASCII followed by one terminating zero (\\ and \" escaped), dword:
// a REG_DWORD of four bytes, hex: a REG_BINARY and hex(N): any other type N
// (in hexadecimal); long hex lists continue on the next line after a
// backslash. Key and value names compare without regard to ASCII letter case
// and keep the spelling they were created with.
#include "platform/linux/registry_store.h"
#include "platform/text.h"

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace registry {

namespace {

const char RootName[] = "HKEY_CURRENT_USER";
const char HeaderV5[] = "Windows Registry Editor Version 5.00";
const char HeaderV4[] = "REGEDIT4";

// ---------------------------------------------------------------------------
// Parsing

struct Cursor {
    const char* p;
    const char* end;
};

bool AtLineEnd(const Cursor* c)
{
    return c->p == c->end || *c->p == '\n';
}

void SkipBlanks(Cursor* c)
{
    while (c->p < c->end && (*c->p == ' ' || *c->p == '\t'))
        c->p++;
}

void NextLine(Cursor* c)
{
    while (c->p < c->end && *c->p != '\n')
        c->p++;
    if (c->p < c->end)
        c->p++;
}

bool StartsWithNoCase(const Cursor* c, const char* word)
{
    size_t length = strlen(word);
    return (size_t)(c->end - c->p) >= length && EqualNoCase(c->p, length, word, length);
}

// A quoted text with \\ and \" escapes, starting at the opening quote. The
// bytes go to out without a terminator.
bool ParseQuoted(Cursor* c, ByteBuffer* out)
{
    c->p++;
    for (;;) {
        if (AtLineEnd(c))
            return false;
        char ch = *c->p++;
        if (ch == '"')
            return true;
        if (ch == '\\') {
            if (c->p == c->end || (*c->p != '\\' && *c->p != '"'))
                return false;
            ch = *c->p++;
        }
        AppendByte(out, ch);
    }
}

// Up to eight hexadecimal digits.
bool ParseHexNumber(Cursor* c, DWORD* number)
{
    DWORD result = 0;
    int digits = 0;
    while (c->p < c->end && HexDigitValue(*c->p) >= 0) {
        if (++digits > 8)
            return false;
        result = (result << 4) | (DWORD)HexDigitValue(*c->p++);
    }
    *number = result;
    return digits > 0;
}

// Comma-separated bytes of two hexadecimal digits; a backslash at the end of
// a line continues the list on the next.
bool ParseHexList(Cursor* c, ByteBuffer* out)
{
    for (;;) {
        SkipBlanks(c);
        if (AtLineEnd(c))
            return true;
        if (*c->p == '\\') {
            c->p++;
            SkipBlanks(c);
            if (!AtLineEnd(c))
                return false;
            NextLine(c);
            continue;
        }
        int high = HexDigitValue(*c->p);
        if (high < 0)
            return false;
        c->p++;
        int low = (c->p < c->end) ? HexDigitValue(*c->p) : -1;
        int byte = high;
        if (low >= 0) {
            byte = high * 16 + low;
            c->p++;
        }
        AppendByte(out, (char)byte);
        SkipBlanks(c);
        if (c->p < c->end && *c->p == ',') {
            c->p++;
            continue;
        }
        SkipBlanks(c);
        if (AtLineEnd(c) || *c->p == '\\')
            continue;
        return false;
    }
}

// One value line of the current section: "name"=data or @=data.
bool ParseValue(Cursor* c, RegSection* section)
{
    ByteBuffer name = {};
    ByteBuffer data = {};
    bool ok = false;
    DWORD type = REG_NONE;
    if (*c->p == '@') {
        c->p++;
    } else if (!ParseQuoted(c, &name)) {
        goto done;
    }
    SkipBlanks(c);
    if (c->p == c->end || *c->p != '=')
        goto done;
    c->p++;
    SkipBlanks(c);
    if (c->p < c->end && *c->p == '"') {
        if (!ParseQuoted(c, &data))
            goto done;
        AppendByte(&data, '\0');
        type = REG_SZ;
    } else if (StartsWithNoCase(c, "dword:")) {
        c->p += 6;
        DWORD number;
        if (!ParseHexNumber(c, &number))
            goto done;
        BYTE bytes[4] = {(BYTE)number, (BYTE)(number >> 8), (BYTE)(number >> 16),
                         (BYTE)(number >> 24)};
        Append(&data, bytes, 4);
        type = REG_DWORD;
    } else if (StartsWithNoCase(c, "hex:")) {
        c->p += 4;
        type = REG_BINARY;
        if (!ParseHexList(c, &data))
            goto done;
    } else if (StartsWithNoCase(c, "hex(")) {
        c->p += 4;
        if (!ParseHexNumber(c, &type) || c->p == c->end || *c->p != ')')
            goto done;
        c->p++;
        if (c->p == c->end || *c->p != ':')
            goto done;
        c->p++;
        if (!ParseHexList(c, &data))
            goto done;
    } else {
        goto done;  // includes "name"=- (a deletion, which only an import knows)
    }
    SkipBlanks(c);
    if (!AtLineEnd(c) || name.failed || data.failed || data.size > MaxValueSize)
        goto done;
    for (size_t i = 0; i < name.size; i++)
        if (name.data[i] == '\0')
            goto done;
    ok = PutValue(section, name.size ? name.data : "", name.size, type, (BYTE*)data.data,
                  (DWORD)data.size);
    data.data = nullptr;
done:
    free(name.data);
    free(data.data);
    return ok;
}

// A section line: [HKEY_CURRENT_USER] or [HKEY_CURRENT_USER\path]. The name
// ends at the last ']' of the line, as key names may hold brackets.
RegSection* ParseSection(Cursor* c, RegDocument* doc)
{
    const char* open = c->p + 1;
    const char* lineEnd = c->p;
    while (lineEnd < c->end && *lineEnd != '\n')
        lineEnd++;
    const char* close = lineEnd;
    while (close > open && close[-1] != ']')
        close--;
    if (close == open)
        return nullptr;
    for (const char* p = close; p < lineEnd; p++)
        if (*p != ' ' && *p != '\t')
            return nullptr;
    close--;  // at the ']'
    size_t rootLength = sizeof(RootName) - 1;
    size_t length = (size_t)(close - open);
    if (length < rootLength || !EqualNoCase(open, rootLength, RootName, rootLength))
        return nullptr;
    const char* path = open + rootLength;
    size_t pathLength = length - rootLength;
    if (pathLength > 0) {
        if (*path != '\\')
            return nullptr;
        path++;
        pathLength--;
        if (pathLength == 0 || !ValidKeyPath(path, pathLength))
            return nullptr;
    }
    c->p = lineEnd;
    return FindOrAddSection(doc, path, pathLength);
}

// True when the line at the cursor holds nothing but blanks.
bool BlankLine(const Cursor* c)
{
    Cursor probe = *c;
    SkipBlanks(&probe);
    return AtLineEnd(&probe);
}

// The lines of a whole file; on failure the cursor is on the line that does
// not parse.
bool ParseLines(Cursor* cursor, RegDocument* doc)
{
    Cursor& c = *cursor;
    while (c.p < c.end && BlankLine(&c))
        NextLine(&c);
    if (c.p == c.end)
        return true;  // an empty file holds an empty registry
    SkipBlanks(&c);
    const char* lineEnd = c.p;
    while (lineEnd < c.end && *lineEnd != '\n')
        lineEnd++;
    const char* headerEnd = lineEnd;
    while (headerEnd > c.p && (headerEnd[-1] == ' ' || headerEnd[-1] == '\t'))
        headerEnd--;
    size_t headerLength = (size_t)(headerEnd - c.p);
    if (!(headerLength == sizeof(HeaderV5) - 1 && memcmp(c.p, HeaderV5, headerLength) == 0) &&
        !(headerLength == sizeof(HeaderV4) - 1 && memcmp(c.p, HeaderV4, headerLength) == 0))
        return false;
    c.p = lineEnd;
    NextLine(&c);

    // The current section is remembered by index: adding a section may move
    // the array.
    size_t current = (size_t)-1;
    while (c.p < c.end) {
        SkipBlanks(&c);
        if (AtLineEnd(&c) || *c.p == ';') {
            NextLine(&c);
            continue;
        }
        if (*c.p == '[') {
            RegSection* section = ParseSection(&c, doc);
            if (section == nullptr)
                return false;
            current = (size_t)(section - doc->sections);
        } else if (*c.p == '"' || *c.p == '@') {
            if (current == (size_t)-1 || !ParseValue(&c, &doc->sections[current]))
                return false;
        } else {
            return false;
        }
        NextLine(&c);
    }
    return true;
}

}  // namespace

bool ParseDocument(const char* text, size_t size, RegDocument* doc, size_t* badLine)
{
    Cursor c = {text, text + size};
    bool ok = ParseLines(&c, doc);
    if (!ok) {
        *badLine = 1;
        for (const char* p = text; p < c.p; p++)
            *badLine += *p == '\n';
    }
    return ok;
}

namespace {

// ---------------------------------------------------------------------------
// Writing the text

// A REG_SZ is written as quoted text when its bytes are printable ASCII ended
// by one zero; any other REG_SZ becomes hex(1) so that its bytes come back
// exactly.
// In a file kept in UTF-16 a quoted text may also hold characters beyond
// ASCII (as UTF-8 in memory), which the file's encoding writes back as they
// were read.
bool PlainText(const RegValue* value, bool unicode)
{
    if (value->type != REG_SZ || value->size == 0 || value->data[value->size - 1] != 0)
        return false;
    for (DWORD i = 0; i + 1 < value->size;) {
        uint32_t point = value->data[i];
        size_t length = unicode ? Utf8Sequence(value->data + i, value->size - 1 - i, &point) : 1;
        if (length == 0 || point < 0x20 || point == 0x7F || (point >= 0x80 && point < 0xA0) ||
            (!unicode && point > 0x7E))
            return false;
        i += (DWORD)length;
    }
    return true;
}

void AppendQuoted(ByteBuffer* out, const char* text, size_t length)
{
    AppendByte(out, '"');
    for (size_t i = 0; i < length; i++) {
        if (text[i] == '\\' || text[i] == '"')
            AppendByte(out, '\\');
        AppendByte(out, text[i]);
    }
    AppendByte(out, '"');
}

void AppendValue(ByteBuffer* out, const RegValue* value, bool unicode)
{
    static const char digits[] = "0123456789abcdef";
    size_t lineStart = out->size;
    if (value->name[0] == '\0')
        AppendByte(out, '@');
    else
        AppendQuoted(out, value->name, strlen(value->name));
    AppendByte(out, '=');
    if (PlainText(value, unicode)) {
        AppendQuoted(out, (const char*)value->data, value->size - 1);
    } else if (value->type == REG_DWORD && value->size == 4) {
        char text[16];
        uint32_t number = (uint32_t)value->data[0] | (uint32_t)value->data[1] << 8 |
            (uint32_t)value->data[2] << 16 | (uint32_t)value->data[3] << 24;
        snprintf(text, sizeof text, "dword:%08x", (unsigned)number);
        AppendText(out, text);
    } else {
        char text[24];
        if (value->type == REG_BINARY)
            snprintf(text, sizeof text, "hex:");
        else
            snprintf(text, sizeof text, "hex(%x):", (unsigned)value->type);
        AppendText(out, text);
        for (DWORD i = 0; i < value->size; i++) {
            char pair[3] = {digits[value->data[i] >> 4], digits[value->data[i] & 15], ','};
            bool last = i + 1 == value->size;
            Append(out, pair, last ? 2 : 3);
            // Lines stay within 80 columns, continued by a backslash.
            if (!last && out->size - lineStart >= 76) {
                AppendText(out, "\\\n  ");
                lineStart = out->size - 2;
            }
        }
    }
    AppendByte(out, '\n');
}

// Orders sections as an export does: parents before children, siblings by
// name without regard to case.
int CompareSections(const void* a, const void* b)
{
    const unsigned char* x = (const unsigned char*)((const RegSection*)a)->path;
    const unsigned char* y = (const unsigned char*)((const RegSection*)b)->path;
    for (;; x++, y++) {
        int cx = (*x == '\\') ? 1 : (unsigned char)UpperAscii((char)*x);
        int cy = (*y == '\\') ? 1 : (unsigned char)UpperAscii((char)*y);
        if (cx != cy)
            return cx - cy;
        if (cx == 0)
            return 0;
    }
}

}  // namespace

bool SerializeDocument(RegDocument* doc, bool unicode, ByteBuffer* out)
{
    if (!AddAncestorSections(doc))
        return false;
    if (doc->count > 1)
        qsort(doc->sections, doc->count, sizeof(RegSection), CompareSections);
    AppendText(out, HeaderV5);
    AppendText(out, "\n\n");
    for (size_t i = 0; i < doc->count; i++) {
        const RegSection* section = &doc->sections[i];
        AppendByte(out, '[');
        AppendText(out, RootName);
        if (section->path[0] != '\0') {
            AppendByte(out, '\\');
            AppendText(out, section->path);
        }
        AppendText(out, "]\n");
        for (size_t j = 0; j < section->count; j++)
            AppendValue(out, &section->values[j], unicode);
        AppendByte(out, '\n');
    }
    return !out->failed;
}

}  // namespace registry
