// Shared by the code-page files of the Linux platform layer.
#pragma once

// CharToOemA from 1252 to 437 as Windows does it, best fit included.
extern const unsigned char Ansi1252ToOem437[256];
