// Why the Linux settings store last failed, for the terminal host.
//
// The module's settings code is silent by design: a failed read falls back to
// the defaults and a failed save keeps the new values in memory only. So the
// Linux platform layer notes why its file failed, and VelkoryStoreFailure
// answers for the last read (StoreReading: opening a key, querying a value)
// or the last write (StoreWriting: creating a key, setting a value, flushing
// or closing a key that holds values): "" when it succeeded or none was made,
// else one line naming the file and the reason, such as
// "/home/ann/.config/velkory/registry.reg: line 3 does not parse".
//
// The host's own copy of the layer answers for the host's reads; the module
// exports the function (beside Start, Exit and Message, on Linux only) for
// what the module did, and the host finds it by that name. On Windows the
// module has no such export.
#pragma once

#define VELKORY_STORE_FAILURE_EXPORT "VelkoryStoreFailure"

enum {
    StoreReading = 0,
    StoreWriting = 1
};

typedef const char* (*StoreFailureFn)(int access);

#if !defined(_WIN32)
extern "C" __attribute__((visibility("default"))) const char* VelkoryStoreFailure(int access);
#endif
