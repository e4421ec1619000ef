// Hooks of the platform layer for its own tests. They exist only in the test
// builds of the layer (compiled with VELKORY_TEST_HOOKS, linked into the test
// suites through velkory_core_testing); the module and the host lack them.
#pragma once

// While set, every write of the registry file fails just before the new file
// would replace the old one, as a crash or a full disk would: the temporary
// file is removed, the write reports ERROR_WRITE_FAULT and the old file is
// left exactly as it was.
void SetRegistryFailBeforeRename(bool fail);
