// File-descriptor helpers of the POSIX side, shared by the platform layer and
// the host.
#pragma once

#include <cstddef>

// Writes all size bytes to fd, retrying after interruptions; false when a
// write fails. Async-signal-safe: it only calls write.
bool WriteAll(int fd, const void* data, size_t size);
