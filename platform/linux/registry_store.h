// The settings store of the Linux platform layer: the registry of the current
// user kept in one text file. Its parts, each in its own file:
//
//  - registry_document.cpp: the document in memory and the names it holds;
//  - registry_encoding.cpp: the file's encodings (UTF-8, regedit's UTF-16);
//  - registry_text.cpp: the .reg text format, parsing and writing it (format
//    code: no operating system calls, like the two above);
//  - registry_file.cpp: where the file lives, reading it, and the locked
//    atomic update that replaces it;
//  - registry.cpp: the Win32 registry functions over the two.
#pragma once

#include "platform/platform.h"

#include <stddef.h>
#include <sys/types.h>

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
// The well-formed UTF-8 character at text: its length, and its code point in
// *point; 0 when the bytes there are not one.
size_t Utf8Sequence(const BYTE* text, size_t size, uint32_t* point);

// The document in memory. Paths are below HKEY_CURRENT_USER; names compare
// without regard to ASCII letter case.
void FreeSection(RegSection* section);
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

// How a file is encoded: UTF-8 (with or without a byte-order mark), read with
// LF or CR LF line ends and written with LF; or UTF-16LE with its mark and
// CR LF line ends, as regedit exports.
enum TextEncoding {
    TextUtf8,
    TextUtf8WithMark,
    TextUtf16
};
struct TextForm {
    TextEncoding encoding;
};

// The file's bytes as UTF-8 text with LF line ends, and the form they had.
// False with the line that is not well formed in *badLine, or with
// *badLine = 0 when memory ran out.
bool DecodeFile(const char* bytes, size_t size, TextForm* form, ByteBuffer* text, size_t* badLine);
// Text back in a file's form.
bool EncodeFile(const char* text, size_t size, const TextForm* form, ByteBuffer* out);

// Parsing a whole text; false with the number of the line (from 1) that does
// not parse. A document that failed may hold part of the text.
bool ParseDocument(const char* text, size_t size, RegDocument* doc, size_t* badLine);
// The document as an export writes it. With unicode, texts beyond ASCII stay
// quoted (for a file written in UTF-16); otherwise they are written as hex(1).
bool SerializeDocument(RegDocument* doc, bool unicode, ByteBuffer* out);

// The file. Each access starts with no failure noted and notes why it failed
// (VelkoryStoreFailure); NoteStoreFailure adds a reason of the caller's.
struct WriteSession {
    char* filePath;  // the file replaced (a link's target)
    int lockFd;
    RegDocument doc;
    TextForm form;  // the form the file is written back in
    bool exists;    // whether the file was there
    mode_t mode;    // and its permission bits
};
char* RegistryFilePath(void);
// The registry as it is now, for a reader (no lock taken).
LONG ReadStore(RegDocument* doc);
// Takes the writers' lock and reads the registry; EndWrite releases both,
// whatever BeginWrite answered.
LONG BeginWrite(WriteSession* session);
LONG CommitWrite(WriteSession* session);
void EndWrite(WriteSession* session);
void NoteStoreFailure(const char* what, const char* why);

}  // namespace registry
