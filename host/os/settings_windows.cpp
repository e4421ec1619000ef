// The host reads the real registry on Windows: a value it cannot read is one
// that is not there.
#include "host/os/os.h"

const char* OwnSettingsReadFailure()
{
    return "";
}
