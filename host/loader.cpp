// Loading the module: by path, beside the executable unless --module names
// another, with its three exports resolved by name.
#include <cstring>
#include <string>

#if !defined(_WIN32)
#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>
#endif

#include "host/host.h"
#include "platform/platform.h"

namespace {

std::string ExecutableDirectory()
{
#if defined(_WIN32)
    char buffer[MAX_PATH + 1];
    DWORD length = GetModuleFileNameA(nullptr, buffer, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return ".";
    std::string path(buffer, length);
    size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? "." : path.substr(0, slash);
#else
    char buffer[PATH_MAX + 1];
    ssize_t length = readlink("/proc/self/exe", buffer, PATH_MAX);
    if (length <= 0)
        return ".";
    std::string path(buffer, (size_t)length);
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
#endif
}

#if defined(_WIN32)
std::string LastErrorText()
{
    DWORD code = GetLastError();
    char buffer[512];
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, code, 0, buffer, sizeof buffer, nullptr);
    while (length > 0 &&
           (buffer[length - 1] == '\n' || buffer[length - 1] == '\r' || buffer[length - 1] == ' ' ||
            buffer[length - 1] == '.'))
        --length;
    if (length == 0)
        return "error " + std::to_string(code);
    return std::string(buffer, length);
}
#endif

}  // namespace

std::string DefaultModulePath()
{
#if defined(_WIN32)
    return ExecutableDirectory() + "\\velkory.dll";
#else
    // Beside the program in a build tree; once installed, in the library
    // directory that the install puts it in, relative to the program's.
    std::string beside = ExecutableDirectory() + "/libvelkory.so";
#if defined(VELKORY_INSTALLED_MODULE)
    std::string installed = ExecutableDirectory() + "/" VELKORY_INSTALLED_MODULE;
    if (access(beside.c_str(), F_OK) != 0 && access(installed.c_str(), F_OK) == 0)
        return installed;
#endif
    return beside;
#endif
}

bool LoadModule(const std::string& path, LoadedModule& module, std::string& error)
{
    module = LoadedModule();
#if defined(_WIN32)
    HMODULE handle = LoadLibraryA(path.c_str());
    if (!handle) {
        error = "cannot load the module " + path + ": " + LastErrorText();
        return false;
    }
    auto resolve = [&](const char* name) { return (void*)GetProcAddress(handle, name); };
#else
    // A bare name would make dlopen search the library path instead.
    std::string where = path.find('/') == std::string::npos ? "./" + path : path;
    void* handle = dlopen(where.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* why = dlerror();
        error = "cannot load the module " + path + ": " + (why ? why : "unknown error");
        return false;
    }
    auto resolve = [&](const char* name) { return dlsym(handle, name); };
#endif
    void* start = resolve("Start");
    void* exit = resolve("Exit");
    void* message = resolve("Message");
    if (!start || !exit || !message) {
        error = "the module " + path + " lacks the export " +
            (!start      ? "Start"
                 : !exit ? "Exit"
                         : "Message");
#if defined(_WIN32)
        FreeLibrary(handle);
#else
        dlclose(handle);
#endif
        return false;
    }
    module.handle = (void*)handle;
    module.Start = reinterpret_cast<StartFn>(start);
    module.Exit = reinterpret_cast<ExitFn>(exit);
    module.Message = reinterpret_cast<MessageFn>(message);
    return true;
}

void UnloadModule(LoadedModule& module)
{
    if (!module.handle)
        return;
#if defined(_WIN32)
    FreeLibrary((HMODULE)module.handle);
#elif defined(__SANITIZE_ADDRESS__)
        // The module keeps its decoder window for as long as it is loaded and
        // Exit releases nothing; under the leak checker it stays mapped, so that
        // the window is still reachable at exit (and its stack traces readable).
#else
    dlclose(module.handle);
#endif
    module = LoadedModule();
}
