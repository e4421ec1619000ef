// The width of a character on a console: two columns for the wide East Asian
// ranges, none for combining marks, one for everything else.
#include "platform/text.h"

int CharacterWidth(uint32_t cp)
{
    if (cp < 0x300)
        return 1;
    if ((cp >= 0x300 && cp <= 0x36F) || (cp >= 0x200B && cp <= 0x200F) ||
        (cp >= 0xFE00 && cp <= 0xFE0F))
        return 0;
    return IsWideCharacter(cp) ? 2 : 1;
}
