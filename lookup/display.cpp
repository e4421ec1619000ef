// The menu of the matching topics and the chosen topic's extraction and
// display: the second half of a help request.
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
#include "lookup/encoding.h"
#include "lookup/lookup.h"
#include "platform/platform.h"

int AppendMenuItem(MenuItem** items, int32_t* count, const char* text, uint32_t userValue)
{
    if (*count == INT32_MAX || (size_t)*count + 1 > SIZE_MAX / sizeof(MenuItem))
        return 0;
    MenuItem* grown = (MenuItem*)realloc(*items, ((size_t)*count + 1) * sizeof(MenuItem));
    if (grown == nullptr)
        return 0;
    MenuItem* item = &grown[*count];
    memset(item, 0, sizeof *item);
    CopyOemText(item->text, text, MenuTextSize);
    item->userValue = userValue;
    *items = grown;
    *count += 1;
    return 1;
}

int32_t ChooseMenuItem(const MenuItem* items, int32_t count)
{
    if (count == 1)
        return 0;
    char menuTitle[MenuTitleBufferSize] = "";
    LoadMessageText(0, menuTitle);
    int32_t chosen =
        hostServices.ShowMenu(hostServices.moduleNumber, -1, -1, 0, MenuFlags, menuTitle, nullptr,
                              nullptr, nullptr, nullptr, items, count);
    if (chosen < 0)
        return MenuLeft;
    return chosen < count ? chosen : MenuFailed;
}

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

// Writes the page into a new file at path. A page that was not written whole
// (a short write, a flush at close that failed, as on a full disk) is removed
// and gives 0: the host is never handed a cut page. The file's size is read
// back once it is closed, since a C runtime may count a short write as whole
// (wine's msvcrt does on a full disk).
static int WritePage(const char* path, const uint8_t* page, uint32_t length)
{
    FILE* out = fopen(path, "wb");
    if (out == nullptr)
        return 0;
    int written = length == 0 || fwrite(page, 1, length, out) == length;
    if (fclose(out) != 0)
        written = 0;
    if (written) {
        FILE* in = fopen(path, "rb");
        long size = -1;
        if (in != nullptr) {
            if (fseek(in, 0, SEEK_END) == 0)
                size = ftell(in);
            fclose(in);
        }
        written = size >= 0 && (unsigned long)size == length;
    }
    if (!written)
        remove(path);
    return written;
}

int DisplayTopic(const char* helpPath, const char* keyword, const char* pageName,
                 const char* anchor)
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

    int written = WritePage(path, page, length);
    free(page);
    if (!written)
        return 0;
    WriteBesidePage(path, PageNameFileName, pageName);
    if (anchor != nullptr)
        WriteBesidePage(path, AnchorFileName, anchor);

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
