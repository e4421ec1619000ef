// Conversions between the terminal's text and the code pages of the module,
// for the host alone (the module only ever calls CharToOemA; these are not
// part of it).
//
// On Linux the terminal speaks UTF-8, and the module's pair of code pages is
// ANSI 1252 and OEM UTF-8 in a UTF-8 locale, 1252 and 437 in any other,
// unless VELKORY_CODEPAGES=ANSI:OEM names another (for example 936:936); 1252
// and 437 are converted from built-in tables, any other code page through
// iconv. On Windows the command line arrives in the ANSI code
// page and the console shows the OEM code page.
#pragma once

#include <cstddef>
#include <cstdint>

// Each converts the NUL-terminated src into dest, which holds capacity bytes,
// and always terminates dest when capacity > 0. Characters that the target
// cannot represent, and bytes that are no character of the source, become
// '?'. Returns false when dest was too small (the text is then cut at a
// character boundary), src was null or the conversion failed.
//
// On Linux, TerminalToOem converts as Windows would convert a keyword from
// ANSI 1252: a character that 437 lacks takes the same best fit as in
// CharToOemA (A with grave becomes A), so the keyword compares like the
// converted titles.
// OemToTerminal is for one line of display: OEM bytes 0x01-0x1F and 0x7F come
// out as the graphic characters the OEM console shows for them (0x15 is the
// section sign that CharToOemA makes of it), so no control character reaches
// the terminal; TerminalToOem turns those characters back into the same
// bytes. AnsiToTerminal keeps control characters (page text has line breaks)
// and turns the C1 controls, which 1252 leaves undefined, into '?'. On
// Windows the host writes to the console in its own code page: OemToTerminal
// copies, the other two convert with CharToOemA.
bool TerminalToOem(const char* src, char* dest, size_t capacity);   // a keyword typed by the user
bool OemToTerminal(const char* src, char* dest, size_t capacity);   // a topic title for display
bool AnsiToTerminal(const char* src, char* dest, size_t capacity);  // a stored name or page text

// The terminal's encoding of one character, for text decoded from markup:
// written into out (room for 8 bytes), its length returned. On Linux that is
// UTF-8; on Windows the console's OEM code page, '?' for a character it lacks.
size_t CodePointToTerminal(uint32_t cp, char* out);
// size bytes of UTF-8 text in the terminal's encoding, into dest of capacity
// bytes (no terminator added); *length is the bytes written. The terminal
// never needs more bytes than UTF-8 does. False when the text cannot be
// converted; dest then holds nothing useful.
bool Utf8ToTerminal(const char* src, size_t size, char* dest, size_t capacity, size_t* length);
// The same for text in codePage (a number, CP_UTF8 included): the terminal
// needs at most three bytes for each byte of it. Bytes that are no character
// of the code page, and characters the terminal lacks, become the
// replacement or '?'. False when the code page cannot be converted.
bool CodePageToTerminal(unsigned codePage, const char* src, size_t size, char* dest,
                        size_t capacity, size_t* length);
// The code page of the terminal's text: CP_UTF8 on Linux, the console's
// CP_OEMCP on Windows.
unsigned TerminalCodePage(void);

// Why VELKORY_CODEPAGES names no pair that can be used (the locale's pair is
// then in force), or null when it is unset or in force. Always null on
// Windows, where the system's code pages are used.
const char* CodePageSettingError(void);
