// The help request: the topics that match the keyword (topic_match.cpp)
// offered in the host's menu, and the chosen topic's page extracted and
// displayed.
//
// The chosen page is extracted from the help file itself into the file
// "velkory.txt" of a new directory that the host names, and handed to the
// host's viewer or editor; the page's stored name and the anchor of the
// chosen link, when it has one, are left beside it. The module never removes the directory, nor a page it
// handed over: the host may still be showing it after the request returns.
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

int WriteBesidePage(const char* pagePath, const char* fileName, const char* text)
{
    const char* slash = strrchr(pagePath, '/');
    if (slash == nullptr)
        return 0;
    size_t directoryLength = (size_t)(slash - pagePath) + 1;
    char path[TempPathBufferSize];
    size_t nameSize = strlen(fileName) + 1;
    if (directoryLength + nameSize > sizeof path)
        return 0;
    memcpy(path, pagePath, directoryLength);
    memcpy(path + directoryLength, fileName, nameSize);
    FILE* out = fopen(path, "wb");
    if (out == nullptr)
        return 0;
    size_t n = strlen(text);
    int written = fwrite(text, 1, n, out) == n;
    written = fclose(out) == 0 && written;
    if (!written)
        remove(path);
    return written;
}

namespace {

// The module's comparison: its host's.
int CompareAsHost(const char* text, const char* keyword, int32_t count)
{
    return hostUtilities.CompareTextN(text, keyword, count);
}

}  // namespace

int ShowHelpTopic(const char* helpPath, const char* keyword)
{
    if (keyword == nullptr || keyword[0] == '\0')
        return 1;
    if (helpPath == nullptr)
        return 0;

    TopicMatches matches;
    if (FindTopicMatches(helpPath, keyword, TopicFromAny, CompareAsHost, TopicMatchLimit,
                         &matches) != TopicMatchOk)
        return 0;
    MenuItem* items = nullptr;
    int32_t count = 0;
    if (!TopicMenuItems(&matches, &items, &count)) {
        ReleaseTopicMatches(&matches);
        return 0;
    }
    int32_t chosen = count > 0 ? ChooseMenuItem(items, count) : MenuLeft;
    free(items);
    if (chosen < 0) {
        ReleaseTopicMatches(&matches);
        // No match, or the menu left: dealt with. An index beyond the list
        // names no topic: the request fails.
        return chosen == MenuLeft;
    }

    // A title's or a full-text page's name that does not fit fails before
    // anything is created; it opens at the top of the page. An index entry's
    // page is found whatever the case and escapes of its link, and opens at
    // its anchor.
    const TopicMatch& match = matches.matches[chosen];
    const char* page = TopicMatchText(&matches, match.page);
    char pageName[NameBufferSize];
    int result = 0;
    if (match.source == TopicFromKeywordIndex) {
        char anchor[NameBufferSize];
        if (!ResolveStoredName(helpPath, page, pageName))
            lstrcpynA(pageName, page, NameBufferSize);
        lstrcpynA(anchor, TopicMatchText(&matches, match.anchor), NameBufferSize);
        result = DisplayTopic(helpPath, keyword, pageName, anchor[0] ? anchor : nullptr);
    } else if (lstrlenA(page) < NameBufferSize) {
        lstrcpynA(pageName, page, NameBufferSize);
        result = DisplayTopic(helpPath, keyword, pageName);
    }
    ReleaseTopicMatches(&matches);
    return result;
}
