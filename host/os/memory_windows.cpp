// Memory on Windows: the C runtime's heap keeps freed blocks already.
#include "host/os/os.h"

void KeepFreedMemory() { }
