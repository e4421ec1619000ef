// The A-link index: the names that pages give themselves with an
// <OBJECT type="application/x-oleobject"> holding <param name="ALink Name">,
// compiled into /$WWAssociativeLinks/BTree. Its layout is the compiled keyword
// index's, so the keyword reader reads it, topic numbers and all; unlike the
// keyword index it has no sitemap form to fall back on.
#include "lookup/lookup.h"

int ReadAssociativeLinks(const char* helpPath, const TopicIndex* topics, KeywordIndex* index)
{
    return ReadKeywordIndex(helpPath, topics, index, AssociativeLinksName);
}
