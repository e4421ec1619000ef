// The module's message texts. The module owns no text: it asks for each one by
// number, and these are the host's English answers.
#include <cstddef>

#include "host/host.h"
#include "host/module/module.h"

namespace {

// Texts 3 to 6 land in 140-byte choice entries, every other text in a 512-byte
// area; the lists are 16 columns wide, so their entries stay short.
const char* const MessageTexts[] = {
    "Velkory",                            // 0: the module's title
    "Help on the word under the cursor",  // 1: not used by the module
    "How help pages open:",               // 2: label above the two lists
    "Wait for it",                        // 3: Modality 1: wait until the page is closed
    "Don't wait",                         // 4: Modality 0: return at once (non-modal)
    "Edit source",                        // 5: Visuality 0: the page's HTML in the editor
    "View as text",                       // 6: Visuality 1: the rendered page in the viewer
    "Save",                               // 7: confirms and stores the settings
    "Cancel",                             // 8: leaves without saving
};

constexpr int MessageCount = (int)(sizeof(MessageTexts) / sizeof(MessageTexts[0]));

}  // namespace

const char* ModuleMessageText(int number)
{
    if (number < 0 || number >= MessageCount)
        return nullptr;
    return MessageTexts[number];
}

int ModuleMessageCapacity(int number)
{
    return (number >= 3 && number <= 6) ? 140 : 512;
}
