// The width of a character on a terminal, as the C library's wcwidth tells
// it under a UTF-8 locale (C.UTF-8, whatever locale the process runs in, so
// that the answer does not depend on the user's LANG).
#include <locale.h>
#include <wchar.h>

#include "platform/text.h"

namespace {

// Made once; on a system without C.UTF-8 the wide ranges of text.h answer.
locale_t Utf8Locale()
{
    static locale_t locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", (locale_t)0);
    return locale;
}

}  // namespace

int CharacterWidth(uint32_t cp)
{
    if (cp < 0x7F)
        return 1;
    locale_t locale = Utf8Locale();
    if (locale == (locale_t)0)
        return IsWideCharacter(cp) ? 2 : 1;
    locale_t previous = uselocale(locale);
    int width = wcwidth((wchar_t)cp);
    uselocale(previous);
    return width < 0 ? 1 : width;
}
