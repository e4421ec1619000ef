// The settings store of the Linux platform layer: the registry of the current
// user kept in one text file. Three parts, each in its own file:
//
//  - registry_text.cpp: the .reg text format, the document in memory, parsing
//    and writing it (format code: no operating system calls);
//  - registry_file.cpp: where the file lives, reading it, and the locked
//    atomic update that replaces it;
//  - registry.cpp: the Win32 registry functions over the two.
#pragma once

#include "platform/platform.h"

#include <stddef.h>

namespace registry {

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

inline constexpr size_t MaxKeyNameLength = 255;
inline constexpr size_t MaxValueNameLength = 16383;
inline constexpr DWORD MaxValueSize = 16u << 20;

// Text helpers.
bool EqualNoCase(const char* a, size_t aLength, const char* b, size_t bLength);
char* CopyText(const char* text, size_t length);  // null when memory ran out
void Append(ByteBuffer* buffer, const void* data, size_t size);
void AppendText(ByteBuffer* buffer, const char* text);
void AppendByte(ByteBuffer* buffer, char c);

// The document in memory. Paths are below HKEY_CURRENT_USER; names compare
// without regard to ASCII letter case.
void FreeDocument(RegDocument* doc);
RegSection* FindSection(RegDocument* doc, const char* path, size_t length);
RegSection* FindOrAddSection(RegDocument* doc, const char* path, size_t length);
RegValue* FindValue(RegSection* section, const char* name);
bool PutValue(RegSection* section, const char* name, size_t nameLength, DWORD type, BYTE* data,
              DWORD size);
bool KeyExists(const RegDocument* doc, const char* path);
char* CanonicalPath(const RegDocument* doc, const char* path);
bool AddAncestorSections(RegDocument* doc);
bool ValidKeyPath(const char* path, size_t length);
bool ValidValueName(const char* name);

// The text: parsing a whole file, and writing a document as an export does.
bool ParseDocument(const char* text, size_t size, RegDocument* doc);
bool SerializeDocument(RegDocument* doc, ByteBuffer* out);

// The file.
struct WriteSession {
    char* filePath;
    int lockFd;
    RegDocument doc;
};
char* RegistryFilePath(void);
LONG LoadDocument(const char* path, RegDocument* doc);
LONG BeginWrite(WriteSession* session);
LONG CommitWrite(WriteSession* session);
void EndWrite(WriteSession* session);

}  // namespace registry
