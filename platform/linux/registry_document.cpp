// The settings store's document in memory: keys as sections of values, the
// names they may have, and the buffers the text is built in (registry_store.h).
// Key and value names compare without regard to ASCII letter case and keep the
// spelling they were created with.
#include "platform/linux/registry_store.h"
#include "platform/text.h"

#include <stdlib.h>
#include <string.h>

namespace registry {

void FreeSection(RegSection* section)
{
    for (size_t i = 0; i < section->count; i++) {
        free(section->values[i].name);
        free(section->values[i].data);
    }
    free(section->values);
    free(section->path);
}

// ---------------------------------------------------------------------------
// Small helpers

bool EqualNoCase(const char* a, size_t aLength, const char* b, size_t bLength)
{
    if (aLength != bLength)
        return false;
    for (size_t i = 0; i < aLength; i++)
        if (UpperAscii(a[i]) != UpperAscii(b[i]))
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

}  // namespace registry
