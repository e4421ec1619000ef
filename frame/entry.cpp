// The module's three exports and request dispatch.
//
// The host calls Start once after loading the module, then Message for each
// request, and Exit before unloading. Everything the module does happens
// inside one of these calls, on the host's thread.
#include <cstring>

#include "frame/frame.h"
#include "lookup/lookup.h"
#include "platform/platform.h"

HostServices hostServices;
HostUtilities hostUtilities;
ModuleContext moduleContext;

// The name list handed to the host in ModuleInfo: module-wide, so that the
// address stays valid after Message returns.
static const char* nameList[1];

char* LoadMessageText(int number, char* dest)
{
    moduleContext.GetModuleMessage(&moduleContext.messageContext, number, dest);
    return dest;
}

// "<registryRoot>\Velkory". A root that leaves no room for the backslash, the
// module's name and the terminator (more than 71 characters), or no root at
// all, leaves the path empty: a cut path would name some other key, so the
// settings then live in memory only.
static void MakeSettingsKeyPath(void)
{
    const int longestRoot = SettingsKeyPathSize - (int)sizeof("\\Velkory");
    const char* root = moduleContext.registryRoot;
    SettingsKeyPath[0] = '\0';
    if (root == nullptr || lstrlenA(root) > longestRoot)
        return;
    hostUtilities.FormatText(SettingsKeyPath, "%s\\Velkory", root);
}

extern "C" VK_EXPORT int32_t VK_STDCALL Start(const HostServices* services,
                                              const ModuleContext* context)
{
    memcpy(&hostServices, services, sizeof hostServices);
    memcpy(&hostUtilities, services->utilities, sizeof hostUtilities);
    memcpy(&moduleContext, context, sizeof moduleContext);
    MakeSettingsKeyPath();
    LoadSettings();
    return 0;
}

extern "C" VK_EXPORT void VK_STDCALL Exit(void) { }

extern "C" VK_EXPORT int32_t VK_STDCALL Message(int32_t request, const HelpRequest* help,
                                                ModuleInfo* info)
{
    switch (request) {
    case RequestInfo:
        if (info == nullptr)
            return 0;
        info->nameCount = 1;
        nameList[0] = "Velkory";
        info->names = nameList;
        LoadMessageText(0, info->title);
        info->capabilities = ModuleCapabilities;
        return 1;
    case RequestHelp:
        if (help == nullptr)
            return 0;
        return ShowHelpTopic(help->helpFile, help->keyword);
    case RequestConfigure:
        RunConfigDialog();
        return 1;
    default:
        return 0;
    }
}
