// The encoding of a help file's texts, and their conversion to the OEM code
// page that the host compares and shows.
//
// A text is in UTF-8 when its bytes are valid UTF-8 and not plain ASCII;
// otherwise in the ANSI code page of the help file's language (the LCID of
// #SYSTEM), else in the system's ANSI code page. A text in the system's ANSI
// code page is converted with CharToOemA, as hosts have always seen it; any
// other goes through UTF-16 to the OEM code page. A character the OEM code
// page lacks becomes its default character.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"
#include "platform/text.h"

// The ANSI code page Windows gives the language of lcid: 1252 for English,
// 932 for Japanese, 1251 for Russian and so on. 0 for a language written
// only in Unicode (Hindi, Georgian) and for an LCID it does not know.
uint32_t LocaleAnsiCodePage(uint32_t lcid);

// How many bytes of text, at most limit of its size bytes, can be kept
// without splitting a character of codePage (CP_ACP, CP_OEMCP, CP_UTF8 or a
// number).
size_t CharacterBoundary(const char* text, size_t size, size_t limit, UINT codePage);

// Converts text (up to its terminator, at most size bytes) to the OEM code
// page into out, which holds capacity bytes (capacity > 0): the result is
// cut, at a character boundary, to capacity - 1 bytes and terminated.
// languageCodePage is the help file's (0 when unknown). Only the first 2048
// bytes of a text are looked at.
void TextToOem(const char* text, size_t size, uint32_t languageCodePage, char* out,
               size_t capacity);

// Converts units UTF-16 units to the OEM code page into out as TextToOem
// does. Returns 0 when the conversion failed (out is then empty).
int WideToOem(const WCHAR* text, size_t units, char* out, size_t capacity);

// Copies the OEM text src into dest of capacity bytes (capacity > 0), cut at
// a character boundary of the OEM code page.
void CopyOemText(char* dest, const char* src, size_t capacity);
