// The names of code pages: the one table that ties a Windows code page number
// to the name iconv knows it by and to the charset labels web pages use for
// it (aliases included), for the Linux converter and the host alike.
//
// Adding a code page means one more row in charsets.cpp. A code page without
// a row still converts on Linux when iconv knows it as "CP" and its number.
#pragma once

#include <cstddef>

// The code page a charset label names, letter case ignored ("utf-8" 65001,
// "gb2312" 936, "shift_jis" 932, "iso-8859-1" 1252 as browsers read it); 0
// for a label the table does not know.
unsigned CharsetCodePage(const char* label, size_t length);
// The label w3m and lynx know a code page by ("windows-1252", "GBK"); null
// for none.
const char* CodePageCharset(unsigned codePage);
// The name iconv knows a code page by, written into name (room for size
// bytes, terminated): the table's, else "CP" and the number.
void CodePageIconvName(unsigned codePage, char* name, size_t size);
