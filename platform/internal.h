// Hooks of the platform layer for its own tests. The module never calls them,
// and the shared library does not export them (everything of the layer is
// hidden; the tests link the module's objects statically).
#pragma once

// While set, every write of the registry file fails just before the new file
// would replace the old one, as a crash or a full disk would: the temporary
// file is removed, the write reports ERROR_WRITE_FAULT and the old file is
// left exactly as it was.
void SetRegistryFailBeforeRename(bool fail);
