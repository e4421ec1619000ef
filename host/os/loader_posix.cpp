// Shared libraries on POSIX systems: dlopen and dlsym.
#include <string>

#include <dlfcn.h>

#include "host/os/os.h"

void* OpenLibrary(const std::string& path, std::string& error)
{
    // A bare name would make dlopen search the library path instead.
    std::string where = path.find('/') == std::string::npos ? "./" + path : path;
    void* handle = dlopen(where.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* why = dlerror();
        error = why ? why : "unknown error";
    }
    return handle;
}

void* LibraryExport(void* library, const char* name)
{
    return dlsym(library, name);
}

void CloseLibrary(void* library)
{
#if defined(__SANITIZE_ADDRESS__)
    // The module keeps its decoder window for as long as it is loaded and
    // Exit releases nothing; under the leak checker it stays mapped, so that
    // the window is still reachable at exit (and its stack traces readable).
    (void)library;
#else
    dlclose(library);
#endif
}
