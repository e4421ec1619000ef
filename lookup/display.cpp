// Topic extraction and display: the second half of a help request.
//
// The chosen page is extracted from the help file itself into the file
// "velkory.txt" of a new directory that the host names, and handed to the
// host's viewer or editor. The module never removes the directory, nor a
// page it handed over: the host may still be showing it after the request
// returns.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "container/container.h"
#include "frame/frame.h"
#include "lookup/lookup.h"
#include "platform/platform.h"

// Whether the page may open beside the host's main window: the host has two
// or more windows, or its current window is the main one. The host is asked
// whatever the settings say.
static int HostWindowTestPasses(void)
{
    int windows = hostServices.ControlHost(hostServices.moduleNumber, HostGetWindowCount, nullptr);
    if (windows >= 2)
        return 1;
    WindowStatus status;
    memset(&status, 0, sizeof status);
    status.window = -1;
    hostServices.ControlHost(hostServices.moduleNumber, HostGetWindowStatus, &status);
    return status.kind == WindowKindMain;
}

int DisplayTopic(const char* helpPath, const char* keyword, const char* pageName)
{
    // The host's temporary name must leave room for the page file's name
    // inside the 260-byte buffer. It is checked before the directory is
    // created, so that a name that cannot be used leaves nothing behind.
    char path[TempPathBufferSize];
    path[0] = '\0';
    hostUtilities.MakeTempName(path, TempNamePrefix);
    const void* end = memchr(path, '\0', sizeof path);
    if (end == nullptr)
        return 0;
    size_t directoryLength = (size_t)((const char*)end - path);
    if (directoryLength == 0 || directoryLength + sizeof PageFileName > sizeof path)
        return 0;
    if (!CreateDirectoryA(path, nullptr))
        return 0;

    HelpFile* file = OpenHelpFile(helpPath);
    if (file == nullptr)
        return 0;
    lstrcatA(path, PageFileName);

    uint32_t length = 0;
    uint8_t* page = nullptr;
    int extracted = ExtractFile(file, pageName, &length, &page);
    CloseHelpFile(file);
    if (extracted != 0)
        return 0;

    // The host's part of the path included: every backslash becomes "/".
    for (char* p = path; *p; ++p)
        if (*p == '\\')
            *p = '/';

    // A page that was not written whole (a short write, or a flush at close
    // that failed, as on a full disk) is removed: the host is never handed a
    // cut page.
    int written = 0;
    FILE* out = fopen(path, "wb");
    if (out != nullptr) {
        written = length == 0 || fwrite(page, 1, length, out) == length;
        if (fclose(out) != 0)
            written = 0;
        if (!written)
            remove(path);
    }
    free(page);
    if (!written)
        return 0;

    uint32_t flags = Visuality ? OpenFlagViewer : OpenFlagEditor;
    int windowTest = HostWindowTestPasses();
    if (Modality == 0 && windowTest)
        flags |= OpenFlagHostWindow;
    if (Visuality)
        hostServices.OpenViewer(path, keyword, 0, 0, -1, -1, flags);
    else
        hostServices.OpenEditor(path, keyword, 0, 0, -1, -1, flags, 0, 1);
    return 1;
}
