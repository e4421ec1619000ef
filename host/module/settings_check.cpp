// Telling the user when the settings could not be saved or read.
//
// The module's settings code is silent by design. On Linux the platform layer
// notes why the settings file failed (platform/store_failure.h): the loaded
// module answers for its save, the host's own copy for the host's reads.
#include <string>

#include "host/host.h"
#include "host/module/module.h"
#include "host/os/os.h"

bool SettingsSaveFailed(const ModuleSession& session)
{
    const char* why = session.StoreFailure(StoreWriting);
    if (why == nullptr || why[0] == '\0')
        return false;
    Complain(std::string("settings not saved: ") + why);
    return true;
}

bool SettingsReadFailed()
{
    const char* why = OwnSettingsReadFailure();
    if (why == nullptr || why[0] == '\0')
        return false;
    Complain(std::string("settings cannot be read: ") + why);
    return true;
}
