// The host's own copy of the platform layer notes why the settings file
// failed (platform/store_failure.h).
#include "host/os/os.h"
#include "platform/store_failure.h"

const char* OwnSettingsReadFailure()
{
    return VelkoryStoreFailure(StoreReading);
}
