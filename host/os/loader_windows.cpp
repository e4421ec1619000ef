// Shared libraries on Windows: LoadLibraryA and GetProcAddress.
#include <string>

#include "host/os/os.h"
#include "platform/platform.h"

namespace {

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

}  // namespace

void* OpenLibrary(const std::string& path, std::string& error)
{
    HMODULE handle = LoadLibraryA(path.c_str());
    if (!handle)
        error = LastErrorText();
    return (void*)handle;
}

void* LibraryExport(void* library, const char* name)
{
    return (void*)GetProcAddress((HMODULE)library, name);
}

void CloseLibrary(void* library)
{
    FreeLibrary((HMODULE)library);
}
