// Conversions between the terminal's text and the code pages of the module,
// for the host. The module itself only ever calls CharToOemA.
//
// On Linux the terminal speaks UTF-8, and the module's pair of code pages is
// ANSI 1252 and OEM 437 unless VELKORY_CODEPAGES=ANSI:OEM names another (for
// example 936:936); 1252 and 437 are converted from built-in tables, any other
// pair through iconv. On Windows the command line arrives in the ANSI code
// page and the console shows the OEM code page.
#pragma once

#include <cstddef>

// Each converts the NUL-terminated src into dest, which holds capacity bytes,
// and always terminates dest when capacity > 0. Characters that the target
// cannot represent become '?'. Returns false when dest was too small (the
// text is then cut at a character boundary) or the conversion failed.
bool TerminalToOem(const char* src, char* dest, size_t capacity);   // a keyword typed by the user
bool OemToTerminal(const char* src, char* dest, size_t capacity);   // a topic title for display
bool AnsiToTerminal(const char* src, char* dest, size_t capacity);  // a stored name or page text
