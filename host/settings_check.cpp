// Telling the user when the settings could not be saved or read.
//
// The module's settings code is silent by design. On Linux the platform layer
// notes why the settings file failed (platform/store_failure.h): the module's
// copy answers for the module's save, the host's own copy for the host's
// reads. The Windows module has no such export, and the host's reads go to the
// real registry.
#include <string>

#include "host/host.h"
#include "platform/store_failure.h"

bool SettingsSaveFailed(const LoadedModule& module)
{
    const char* why = module.StoreFailure ? module.StoreFailure(StoreWriting) : nullptr;
    if (why == nullptr || why[0] == '\0')
        return false;
    Complain(std::string("settings not saved: ") + why);
    return true;
}

bool SettingsReadFailed()
{
#if defined(_WIN32)
    return false;
#else
    const char* why = VelkoryStoreFailure(StoreReading);
    if (why == nullptr || why[0] == '\0')
        return false;
    Complain(std::string("settings cannot be read: ") + why);
    return true;
#endif
}
