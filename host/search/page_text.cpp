// Which stored files are pages (search.h); their text is the page room's
// ReadPageText.
#include <cstring>

#include "host/search/search.h"
#include "platform/text.h"

bool IsPageName(const char* name)
{
    size_t length = strlen(name);
    if (length < 5 || name[0] != '/' || name[1] == '#' || name[1] == '$')
        return false;
    return StartsWithFolded(name + length - 4, 4, ".htm", 4) ||
        StartsWithFolded(name + length - 5, 5, ".html", 5);
}
