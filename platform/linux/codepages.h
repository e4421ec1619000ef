// Shared by the code-page files of the Linux platform layer.
#pragma once

#include <stdint.h>

// Code page 1252, bytes 0x80-0x9F; the rest are Latin-1.
extern const uint16_t Ansi1252High[32];
// Code page 437, bytes 0x80-0xFF; the rest are ASCII.
extern const uint16_t Oem437High[128];
// CharToOemA from 1252 to 437 as Windows does it, best fit included.
extern const unsigned char Ansi1252ToOem437[256];

// The ANSI and OEM code pages in force (VELKORY_CODEPAGES, else the default).
void CurrentCodePages(unsigned* ansi, unsigned* oem);
