// Why the Linux settings store last failed, for the terminal host.
//
// The module's settings code is silent by design: a failed read falls back to
// the defaults and a failed save keeps the new values in memory only. So the
// Linux platform layer notes why each access of its file failed, and answers
// with VelkoryStoreFailure(): "" after an access that succeeded, else one
// line naming the file and the reason, such as
// "/home/ann/.config/velkory/registry.reg: line 3 does not parse".
//
// The host's own copy of the layer answers for the host's reads; the module
// exports the function (beside Start, Exit and Message, on Linux only) for
// what the module did, and the host finds it by that name. On Windows the
// host checks the registry functions' results itself.
#pragma once

#define VELKORY_STORE_FAILURE_EXPORT "VelkoryStoreFailure"

typedef const char* (*StoreFailureFn)(void);

#if !defined(_WIN32)
extern "C" __attribute__((visibility("default"))) const char* VelkoryStoreFailure(void);
#endif
