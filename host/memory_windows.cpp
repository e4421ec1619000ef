// Memory on Windows: the C runtime's heap keeps freed blocks already.
#include "host/system.h"

void KeepFreedMemory() { }
