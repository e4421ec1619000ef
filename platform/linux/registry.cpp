// The registry of the current user, kept in one text file.
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
//
// The file lives at $VELKORY_REGISTRY, else $XDG_CONFIG_HOME/velkory/
// registry.reg, else ~/.config/velkory/registry.reg. Readers take no lock:
// the file is only ever replaced whole, by rename. A writer holds an exclusive
// flock on "<file>.lock" (rename swaps the inode of the file itself, so the
// file cannot carry the lock), reads the file anew inside the lock, applies
// its change, writes a temporary file beside it, syncs it, renames it over the
// old one and syncs the directory. A file that does not parse is never
// replaced: reads find nothing in it and writes fail with ERROR_BADDB.
#include "platform/internal.h"
#include "platform/platform.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

// An open key: the full path below HKEY_CURRENT_USER in its stored spelling
// ("" for the root itself) and the access it was opened with. Open keys are
// chained so that a stale or foreign handle is recognised instead of followed.
struct PlatformRegKey {
    char* path;
    REGSAM access;
    PlatformRegKey* next;
};

namespace {

struct RegValue {
    char* name;  // "" for the default value
    DWORD type;
    BYTE* data;
    DWORD size;
};

struct RegSection {
    char* path;  // below HKEY_CURRENT_USER, "" for the root
    RegValue* values;
    size_t count;
    size_t capacity;
};

struct RegDocument {
    RegSection* sections;
    size_t count;
    size_t capacity;
};

struct ByteBuffer {
    char* data;
    size_t size;
    size_t capacity;
    bool failed;
};

struct WriteSession {
    char* filePath;
    int lockFd;
    RegDocument doc;
};

const char RootName[] = "HKEY_CURRENT_USER";
const char HeaderV5[] = "Windows Registry Editor Version 5.00";
const char HeaderV4[] = "REGEDIT4";
const size_t MaxKeyNameLength = 255;
const size_t MaxValueNameLength = 16383;
const DWORD MaxValueSize = 16u << 20;
const off_t MaxFileSize = 64 << 20;

PlatformRegKey* openKeys;
bool failBeforeRename;

// ---------------------------------------------------------------------------
// Small helpers

char FoldCase(char c)
{
    return (c >= 'a' && c <= 'z') ? (char)(c - 'a' + 'A') : c;
}

bool EqualNoCase(const char* a, size_t aLength, const char* b, size_t bLength)
{
    if (aLength != bLength)
        return false;
    for (size_t i = 0; i < aLength; i++)
        if (FoldCase(a[i]) != FoldCase(b[i]))
            return false;
    return true;
}

char* CopyText(const char* text, size_t length)
{
    char* copy = (char*)malloc(length + 1);
    if (copy == nullptr)
        return nullptr;
    memcpy(copy, text, length);
    copy[length] = '\0';
    return copy;
}

void Append(ByteBuffer* buffer, const void* data, size_t size)
{
    if (buffer->failed)
        return;
    if (buffer->capacity - buffer->size < size) {
        size_t capacity = buffer->capacity ? buffer->capacity : 256;
        while (capacity - buffer->size < size) {
            if (capacity > ((size_t)-1) / 2) {
                buffer->failed = true;
                return;
            }
            capacity *= 2;
        }
        char* grown = (char*)realloc(buffer->data, capacity);
        if (grown == nullptr) {
            buffer->failed = true;
            return;
        }
        buffer->data = grown;
        buffer->capacity = capacity;
    }
    if (size > 0)
        memcpy(buffer->data + buffer->size, data, size);
    buffer->size += size;
}

void AppendText(ByteBuffer* buffer, const char* text)
{
    Append(buffer, text, strlen(text));
}

void AppendByte(ByteBuffer* buffer, char c)
{
    Append(buffer, &c, 1);
}

// ---------------------------------------------------------------------------
// The document in memory

void FreeSection(RegSection* section)
{
    for (size_t i = 0; i < section->count; i++) {
        free(section->values[i].name);
        free(section->values[i].data);
    }
    free(section->values);
    free(section->path);
}

void FreeDocument(RegDocument* doc)
{
    for (size_t i = 0; i < doc->count; i++)
        FreeSection(&doc->sections[i]);
    free(doc->sections);
    doc->sections = nullptr;
    doc->count = 0;
    doc->capacity = 0;
}

RegSection* FindSection(RegDocument* doc, const char* path, size_t length)
{
    for (size_t i = 0; i < doc->count; i++)
        if (EqualNoCase(doc->sections[i].path, strlen(doc->sections[i].path), path, length))
            return &doc->sections[i];
    return nullptr;
}

// The section of path, added (with the given spelling) when it has none.
RegSection* FindOrAddSection(RegDocument* doc, const char* path, size_t length)
{
    RegSection* section = FindSection(doc, path, length);
    if (section != nullptr)
        return section;
    if (doc->count == doc->capacity) {
        size_t capacity = doc->capacity ? doc->capacity * 2 : 8;
        RegSection* grown = (RegSection*)realloc(doc->sections, capacity * sizeof(RegSection));
        if (grown == nullptr)
            return nullptr;
        doc->sections = grown;
        doc->capacity = capacity;
    }
    char* copy = CopyText(path, length);
    if (copy == nullptr)
        return nullptr;
    section = &doc->sections[doc->count++];
    section->path = copy;
    section->values = nullptr;
    section->count = 0;
    section->capacity = 0;
    return section;
}

RegValue* FindValue(RegSection* section, const char* name)
{
    size_t length = strlen(name);
    for (size_t i = 0; i < section->count; i++)
        if (EqualNoCase(section->values[i].name, strlen(section->values[i].name), name, length))
            return &section->values[i];
    return nullptr;
}

// Sets (or replaces) a value, taking ownership of data. An existing value
// keeps the spelling of its name. False when memory ran out (data is then
// released).
bool PutValue(RegSection* section, const char* name, size_t nameLength, DWORD type, BYTE* data,
              DWORD size)
{
    char* key = CopyText(name, nameLength);
    if (key == nullptr) {
        free(data);
        return false;
    }
    RegValue* value = FindValue(section, key);
    if (value != nullptr) {
        free(key);
        free(value->data);
        value->type = type;
        value->data = data;
        value->size = size;
        return true;
    }
    if (section->count == section->capacity) {
        size_t capacity = section->capacity ? section->capacity * 2 : 4;
        RegValue* grown = (RegValue*)realloc(section->values, capacity * sizeof(RegValue));
        if (grown == nullptr) {
            free(key);
            free(data);
            return false;
        }
        section->values = grown;
        section->capacity = capacity;
    }
    value = &section->values[section->count++];
    value->name = key;
    value->type = type;
    value->data = data;
    value->size = size;
    return true;
}

// A key exists when it is the root, has a section, or a section lies below it.
bool KeyExists(const RegDocument* doc, const char* path)
{
    size_t length = strlen(path);
    if (length == 0)
        return true;
    for (size_t i = 0; i < doc->count; i++) {
        const char* candidate = doc->sections[i].path;
        size_t candidateLength = strlen(candidate);
        if (candidateLength < length)
            continue;
        if (candidateLength > length && candidate[length] != '\\')
            continue;
        if (EqualNoCase(candidate, length, path, length))
            return true;
    }
    return false;
}

// The path as the registry spells it: each component that exists takes the
// spelling it was created with; the rest keep the caller's.
char* CanonicalPath(const RegDocument* doc, const char* path)
{
    size_t length = strlen(path);
    char* result = CopyText(path, length);
    if (result == nullptr)
        return nullptr;
    size_t end = 0;
    while (end < length) {
        size_t start = end;
        while (end < length && path[end] != '\\')
            end++;
        // Prefix [0, end) names a key; look for a section at or below it.
        bool found = false;
        for (size_t i = 0; i < doc->count && !found; i++) {
            const char* candidate = doc->sections[i].path;
            size_t candidateLength = strlen(candidate);
            if (candidateLength < end || (candidateLength > end && candidate[end] != '\\'))
                continue;
            if (EqualNoCase(candidate, end, result, end)) {
                memcpy(result + start, candidate + start, end - start);
                found = true;
            }
        }
        if (!found)
            break;
        end++;  // past the backslash
    }
    return result;
}

// Every ancestor of every key gets its own section, as in an export.
bool AddAncestorSections(RegDocument* doc)
{
    size_t count = doc->count;
    for (size_t i = 0; i < count; i++) {
        for (size_t end = 0; doc->sections[i].path[end] != '\0'; end++) {
            if (doc->sections[i].path[end] != '\\')
                continue;
            // The path is copied first: adding a section may move the array.
            char* prefix = CopyText(doc->sections[i].path, end);
            if (prefix == nullptr)
                return false;
            bool added = FindOrAddSection(doc, prefix, end) != nullptr;
            free(prefix);
            if (!added)
                return false;
        }
    }
    return true;
}

// ---------------------------------------------------------------------------
// Names

// A key path below a key: components of 1 to 255 characters, no control
// characters (a section line could not hold them), no leading, doubled or
// trailing backslash.
bool ValidKeyPath(const char* path, size_t length)
{
    size_t componentLength = 0;
    for (size_t i = 0; i < length; i++) {
        unsigned char c = (unsigned char)path[i];
        if (c == '\\') {
            if (componentLength == 0)
                return false;
            componentLength = 0;
        } else if (c < 0x20 || c == 0x7F) {
            return false;
        } else if (++componentLength > MaxKeyNameLength) {
            return false;
        }
    }
    return length == 0 || componentLength > 0;
}

bool ValidValueName(const char* name)
{
    size_t length = 0;
    for (; name[length] != '\0'; length++)
        if ((unsigned char)name[length] < 0x20 || length >= MaxValueNameLength)
            return false;
    return true;
}

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

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
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
    while (c->p < c->end && HexDigit(*c->p) >= 0) {
        if (++digits > 8)
            return false;
        result = (result << 4) | (DWORD)HexDigit(*c->p++);
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
        int high = HexDigit(*c->p);
        if (high < 0)
            return false;
        c->p++;
        int low = (c->p < c->end) ? HexDigit(*c->p) : -1;
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

bool ParseDocument(const char* text, size_t size, RegDocument* doc)
{
    Cursor c = {text, text + size};
    if (size >= 3 && memcmp(text, "\xEF\xBB\xBF", 3) == 0)
        c.p += 3;
    // A file in UTF-16 is not ours to rewrite.
    if (size >= 2 && ((unsigned char)text[0] == 0xFF || (unsigned char)text[0] == 0xFE))
        return false;
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

// ---------------------------------------------------------------------------
// Writing the text

// A REG_SZ is written as quoted text when its bytes are printable ASCII ended
// by one zero; any other REG_SZ becomes hex(1) so that its bytes come back
// exactly.
bool PlainText(const RegValue* value)
{
    if (value->type != REG_SZ || value->size == 0 || value->data[value->size - 1] != 0)
        return false;
    for (DWORD i = 0; i + 1 < value->size; i++)
        if (value->data[i] < 0x20 || value->data[i] > 0x7E)
            return false;
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

void AppendValue(ByteBuffer* out, const RegValue* value)
{
    static const char digits[] = "0123456789abcdef";
    size_t lineStart = out->size;
    if (value->name[0] == '\0')
        AppendByte(out, '@');
    else
        AppendQuoted(out, value->name, strlen(value->name));
    AppendByte(out, '=');
    if (PlainText(value)) {
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
        int cx = (*x == '\\') ? 1 : (unsigned char)FoldCase((char)*x);
        int cy = (*y == '\\') ? 1 : (unsigned char)FoldCase((char)*y);
        if (cx != cy)
            return cx - cy;
        if (cx == 0)
            return 0;
    }
}

bool SerializeDocument(RegDocument* doc, ByteBuffer* out)
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
            AppendValue(out, &section->values[j]);
        AppendByte(out, '\n');
    }
    return !out->failed;
}

// ---------------------------------------------------------------------------
// The file

// The registry file's path, newly allocated; null when none can be formed.
char* RegistryFilePath(void)
{
    const char* path = getenv("VELKORY_REGISTRY");
    if (path != nullptr && path[0] != '\0')
        return CopyText(path, strlen(path));
    const char* base = getenv("XDG_CONFIG_HOME");
    const char* suffix = "/velkory/registry.reg";
    if (base == nullptr || base[0] != '/') {
        // A relative XDG_CONFIG_HOME is to be ignored.
        base = getenv("HOME");
        suffix = "/.config/velkory/registry.reg";
        if (base == nullptr || base[0] == '\0')
            return nullptr;
    }
    size_t baseLength = strlen(base);
    size_t suffixLength = strlen(suffix);
    char* result = (char*)malloc(baseLength + suffixLength + 1);
    if (result == nullptr)
        return nullptr;
    memcpy(result, base, baseLength);
    memcpy(result + baseLength, suffix, suffixLength + 1);
    return result;
}

// Reads and parses the file; a missing file is an empty registry.
LONG LoadDocument(const char* path, RegDocument* doc)
{
    // O_NONBLOCK: a FIFO put in the file's place must not hang the host.
    int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return errno == ENOENT ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        return ERROR_ACCESS_DENIED;
    }
    if (info.st_size > MaxFileSize) {
        close(fd);
        return ERROR_BADDB;
    }
    size_t capacity = (size_t)info.st_size + 1;
    char* text = (char*)malloc(capacity);
    if (text == nullptr) {
        close(fd);
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    size_t size = 0;
    for (;;) {
        if (size == capacity) {
            // The file grew under us (someone editing it in place).
            if (capacity >= (size_t)MaxFileSize) {
                free(text);
                close(fd);
                return ERROR_BADDB;
            }
            char* grown = (char*)realloc(text, capacity * 2);
            if (grown == nullptr) {
                free(text);
                close(fd);
                return ERROR_NOT_ENOUGH_MEMORY;
            }
            text = grown;
            capacity *= 2;
        }
        ssize_t got = read(fd, text + size, capacity - size);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            free(text);
            close(fd);
            return ERROR_ACCESS_DENIED;
        }
        if (got == 0)
            break;
        size += (size_t)got;
    }
    close(fd);
    // Lines may end in CR LF; the CRs are dropped before parsing.
    size_t kept = 0;
    for (size_t i = 0; i < size; i++)
        if (!(text[i] == '\r' && i + 1 < size && text[i + 1] == '\n'))
            text[kept++] = text[i];
    bool ok = ParseDocument(text, kept, doc);
    free(text);
    if (!ok) {
        FreeDocument(doc);
        return ERROR_BADDB;
    }
    return ERROR_SUCCESS;
}

// Creates the directories along path (mode 0700) up to its last slash.
bool MakeParentDirectories(const char* path)
{
    size_t length = strlen(path);
    char* copy = CopyText(path, length);
    if (copy == nullptr)
        return false;
    bool ok = true;
    for (size_t i = 1; i < length && ok; i++) {
        if (copy[i] != '/')
            continue;
        copy[i] = '\0';
        if (mkdir(copy, 0700) != 0 && errno != EEXIST)
            ok = false;
        copy[i] = '/';
    }
    free(copy);
    return ok;
}

char* JoinText(const char* a, const char* b)
{
    size_t aLength = strlen(a);
    size_t bLength = strlen(b);
    char* result = (char*)malloc(aLength + bLength + 1);
    if (result == nullptr)
        return nullptr;
    memcpy(result, a, aLength);
    memcpy(result + aLength, b, bLength + 1);
    return result;
}

bool WriteAll(int fd, const char* data, size_t size)
{
    while (size > 0) {
        ssize_t written = write(fd, data, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        data += written;
        size -= (size_t)written;
    }
    return true;
}

void SyncDirectoryOf(const char* path)
{
    const char* slash = strrchr(path, '/');
    char* directory =
        slash ? CopyText(path, slash == path ? 1 : (size_t)(slash - path)) : CopyText(".", 1);
    if (directory == nullptr)
        return;
    int fd = open(directory, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    free(directory);
    if (fd < 0)
        return;
    fsync(fd);
    close(fd);
}

// Takes the writers' lock and reads the registry as it is now.
LONG BeginWrite(WriteSession* session)
{
    session->filePath = nullptr;
    session->lockFd = -1;
    session->doc = RegDocument {};
    char* path = RegistryFilePath();
    if (path == nullptr)
        return ERROR_PATH_NOT_FOUND;
    // A symbolic link (a dotfile kept elsewhere) stays a link: its target is
    // the file that gets replaced.
    struct stat info;
    if (lstat(path, &info) == 0 && S_ISLNK(info.st_mode)) {
        char* target = realpath(path, nullptr);
        if (target != nullptr) {
            free(path);
            path = target;
        }
    }
    session->filePath = path;
    if (!MakeParentDirectories(path))
        return ERROR_PATH_NOT_FOUND;
    char* lockPath = JoinText(path, ".lock");
    if (lockPath == nullptr)
        return ERROR_NOT_ENOUGH_MEMORY;
    session->lockFd = open(lockPath, O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    free(lockPath);
    if (session->lockFd < 0)
        return ERROR_ACCESS_DENIED;
    while (flock(session->lockFd, LOCK_EX) != 0) {
        if (errno != EINTR)
            return ERROR_ACCESS_DENIED;
    }
    return LoadDocument(path, &session->doc);
}

void EndWrite(WriteSession* session)
{
    FreeDocument(&session->doc);
    if (session->lockFd >= 0)
        close(session->lockFd);  // releases the lock
    free(session->filePath);
}

// Replaces the file with the session's document: a temporary file in the same
// directory, synced, renamed over the old one, and the directory synced.
LONG CommitWrite(WriteSession* session)
{
    ByteBuffer text = {};
    if (!SerializeDocument(&session->doc, &text)) {
        free(text.data);
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    char* temporary = JoinText(session->filePath, ".XXXXXX");
    if (temporary == nullptr) {
        free(text.data);
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    LONG status = ERROR_SUCCESS;
    int fd = mkostemp(temporary, O_CLOEXEC);
    if (fd < 0) {
        status = ERROR_ACCESS_DENIED;
    } else {
        bool written = WriteAll(fd, text.data, text.size) && fsync(fd) == 0;
        if (close(fd) != 0)
            written = false;
        if (!written || failBeforeRename) {
            status = ERROR_WRITE_FAULT;
        } else if (rename(temporary, session->filePath) != 0) {
            status = ERROR_ACCESS_DENIED;
        } else {
            SyncDirectoryOf(session->filePath);
        }
        if (status != ERROR_SUCCESS)
            unlink(temporary);
    }
    free(temporary);
    free(text.data);
    return status;
}

// ---------------------------------------------------------------------------
// Handles

bool IsPredefined(HKEY key)
{
    uintptr_t value = (uintptr_t)key;
    return value >= 0x80000000u && value <= 0x800000FFu;
}

PlatformRegKey* FindOpenKey(HKEY key)
{
    for (PlatformRegKey* open = openKeys; open != nullptr; open = open->next)
        if (open == key)
            return open;
    return nullptr;
}

// The path and access of a handle: HKEY_CURRENT_USER is the root with every
// right; other roots are not kept.
LONG ResolveKey(HKEY key, const char** path, REGSAM* access)
{
    if (key == HKEY_CURRENT_USER) {
        *path = "";
        *access = KEY_ALL_ACCESS;
        return ERROR_SUCCESS;
    }
    PlatformRegKey* open = FindOpenKey(key);
    if (open == nullptr)
        return ERROR_INVALID_HANDLE;
    *path = open->path;
    *access = open->access;
    return ERROR_SUCCESS;
}

// The path of a handle that holds the given right.
LONG ResolveKeyFor(HKEY key, REGSAM right, const char** path)
{
    REGSAM access = 0;
    LONG status = ResolveKey(key, path, &access);
    if (status == ERROR_SUCCESS && !(access & right))
        status = ERROR_ACCESS_DENIED;
    return status;
}

// base\subKey, or a copy of base when subKey is empty; null for a bad path.
char* JoinKeyPath(const char* base, const char* subKey, LONG* status)
{
    size_t subLength = subKey ? strlen(subKey) : 0;
    if (!ValidKeyPath(subKey ? subKey : "", subLength)) {
        *status = ERROR_BAD_PATHNAME;
        return nullptr;
    }
    size_t baseLength = strlen(base);
    char* result = (char*)malloc(baseLength + subLength + 2);
    if (result == nullptr) {
        *status = ERROR_NOT_ENOUGH_MEMORY;
        return nullptr;
    }
    memcpy(result, base, baseLength);
    size_t at = baseLength;
    if (baseLength > 0 && subLength > 0)
        result[at++] = '\\';
    if (subLength > 0)
        memcpy(result + at, subKey, subLength);
    result[at + subLength] = '\0';
    return result;
}

HKEY NewHandle(char* path, REGSAM access)
{
    PlatformRegKey* handle = (PlatformRegKey*)malloc(sizeof(PlatformRegKey));
    if (handle == nullptr) {
        free(path);
        return nullptr;
    }
    handle->path = path;
    handle->access = access;
    handle->next = openKeys;
    openKeys = handle;
    return handle;
}

// The full path of subKey below an open key (a new text), or null with the
// reason in *status.
char* SubKeyPath(HKEY key, const char* subKey, LONG* status)
{
    const char* base;
    REGSAM access;
    *status = ResolveKey(key, &base, &access);
    if (*status != ERROR_SUCCESS)
        return nullptr;
    return JoinKeyPath(base, subKey, status);
}

}  // namespace

void SetRegistryFailBeforeRename(bool fail)
{
    failBeforeRename = fail;
}

LONG RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM access, PHKEY result)
{
    (void)options;
    if (result == nullptr)
        return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    LONG status = ERROR_SUCCESS;
    char* path = SubKeyPath(key, subKey, &status);
    if (path == nullptr)
        return status;
    char* file = RegistryFilePath();
    RegDocument doc = {};
    // A registry that cannot be read or parsed holds no keys for a reader.
    if (file == nullptr || LoadDocument(file, &doc) != ERROR_SUCCESS || !KeyExists(&doc, path)) {
        free(file);
        free(path);
        FreeDocument(&doc);
        return ERROR_FILE_NOT_FOUND;
    }
    free(file);
    char* canonical = CanonicalPath(&doc, path);
    FreeDocument(&doc);
    free(path);
    if (canonical == nullptr)
        return ERROR_NOT_ENOUGH_MEMORY;
    *result = NewHandle(canonical, access);
    return *result ? ERROR_SUCCESS : ERROR_NOT_ENOUGH_MEMORY;
}

LONG RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                      LPDWORD dataSize)
{
    (void)reserved;
    const char* path;
    LONG status = ResolveKeyFor(key, KEY_QUERY_VALUE, &path);
    if (status != ERROR_SUCCESS)
        return status;
    if (data != nullptr && dataSize == nullptr)
        return ERROR_INVALID_PARAMETER;
    char* file = RegistryFilePath();
    RegDocument doc = {};
    if (file == nullptr || LoadDocument(file, &doc) != ERROR_SUCCESS) {
        free(file);
        FreeDocument(&doc);
        return ERROR_FILE_NOT_FOUND;
    }
    free(file);
    if (!KeyExists(&doc, path)) {
        FreeDocument(&doc);
        return ERROR_KEY_DELETED;
    }
    RegSection* section = FindSection(&doc, path, strlen(path));
    RegValue* value = section ? FindValue(section, valueName ? valueName : "") : nullptr;
    if (value == nullptr) {
        status = ERROR_FILE_NOT_FOUND;
    } else {
        if (type != nullptr)
            *type = value->type;
        if (data != nullptr && value->size > *dataSize) {
            status = ERROR_MORE_DATA;  // nothing is copied
        } else if (data != nullptr && value->size > 0) {
            memcpy(data, value->data, value->size);
        }
        if (dataSize != nullptr)
            *dataSize = value->size;
    }
    FreeDocument(&doc);
    return status;
}

LONG RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD reserved, LPSTR keyClass, DWORD options,
                     REGSAM access, LPSECURITY_ATTRIBUTES security, PHKEY result,
                     LPDWORD disposition)
{
    (void)reserved;
    (void)keyClass;
    (void)options;
    (void)security;
    if (result == nullptr || subKey == nullptr)
        return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    LONG status = ERROR_SUCCESS;
    char* path = SubKeyPath(key, subKey, &status);
    if (path == nullptr)
        return status;
    WriteSession session;
    status = BeginWrite(&session);
    bool created = false;
    if (status == ERROR_SUCCESS && !KeyExists(&session.doc, path)) {
        // The new key and every missing parent get their sections, spelled as
        // the existing parents are.
        char* canonical = CanonicalPath(&session.doc, path);
        if (canonical == nullptr ||
            FindOrAddSection(&session.doc, canonical, strlen(canonical)) == nullptr ||
            !AddAncestorSections(&session.doc))
            status = ERROR_NOT_ENOUGH_MEMORY;
        else
            status = CommitWrite(&session);
        free(canonical);
        created = true;
    }
    char* canonical = nullptr;
    if (status == ERROR_SUCCESS) {
        canonical = CanonicalPath(&session.doc, path);
        if (canonical == nullptr)
            status = ERROR_NOT_ENOUGH_MEMORY;
    }
    EndWrite(&session);
    free(path);
    if (status != ERROR_SUCCESS)
        return status;
    *result = NewHandle(canonical, access);
    if (*result == nullptr)
        return ERROR_NOT_ENOUGH_MEMORY;
    if (disposition != nullptr)
        *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    return ERROR_SUCCESS;
}

LONG RegSetValueExA(HKEY key, LPCSTR valueName, DWORD reserved, DWORD type, LPCBYTE data,
                    DWORD dataSize)
{
    (void)reserved;
    const char* path;
    LONG status = ResolveKeyFor(key, KEY_SET_VALUE, &path);
    if (status != ERROR_SUCCESS)
        return status;
    if (valueName == nullptr)
        valueName = "";
    if ((data == nullptr && dataSize > 0) || dataSize > MaxValueSize || !ValidValueName(valueName))
        return ERROR_INVALID_PARAMETER;
    WriteSession session;
    status = BeginWrite(&session);
    if (status == ERROR_SUCCESS && !KeyExists(&session.doc, path))
        status = ERROR_KEY_DELETED;  // removed from the file since it was opened
    if (status == ERROR_SUCCESS) {
        RegSection* section = FindOrAddSection(&session.doc, path, strlen(path));
        RegValue* old = section ? FindValue(section, valueName) : nullptr;
        if (old != nullptr && old->type == type && old->size == dataSize &&
            (dataSize == 0 || memcmp(old->data, data, dataSize) == 0)) {
            // Unchanged: the file stays as it is.
        } else {
            BYTE* copy = (BYTE*)malloc(dataSize ? dataSize : 1);
            if (section == nullptr || copy == nullptr) {
                free(copy);
                status = ERROR_NOT_ENOUGH_MEMORY;
            } else {
                if (dataSize > 0)
                    memcpy(copy, data, dataSize);
                if (!PutValue(section, valueName, strlen(valueName), type, copy, dataSize))
                    status = ERROR_NOT_ENOUGH_MEMORY;
                else
                    status = CommitWrite(&session);
            }
        }
    }
    EndWrite(&session);
    return status;
}

LONG RegCloseKey(HKEY key)
{
    if (IsPredefined(key))
        return ERROR_SUCCESS;
    for (PlatformRegKey** link = &openKeys; *link != nullptr; link = &(*link)->next) {
        if (*link == key) {
            PlatformRegKey* open = *link;
            *link = open->next;
            free(open->path);
            free(open);
            return ERROR_SUCCESS;
        }
    }
    return ERROR_INVALID_HANDLE;
}
