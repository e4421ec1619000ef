// The services that the host hands the module at start-up: menu, dialog,
// viewer, editor, window queries, message texts and the text utilities.
//
// Every service is reached through a function pointer in one of the three
// blocks, so each is declared with exactly the calling convention of its
// pointer type: stdcall for fixed argument lists, cdecl for the two variadic
// ones (on 32-bit Windows; both are the default convention elsewhere).
#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <random>
#include <string>
#include <vector>

#include "host/host.h"
#include "host/module/module.h"
#include "host/os/os.h"
#include "host/page/page.h"
#include "host/terminal/terminal.h"
#include "platform/platform.h"
#include "platform/text.h"

namespace {

// The request the services answer for: the options and the record of the
// session begun last (module.cpp), else defaults and a record nobody reads.
RequestOptions noOptions;
RequestRecord unreadRecord;
const RequestOptions* options = &noOptions;
RequestRecord* record = &unreadRecord;

// The number the host gives the module; it comes back with every call.
constexpr int32_t HostModuleNumber = 1;

// Marks the message context, so that a stray pointer is recognised.
constexpr char MessageContextTag[] = "velkory-host-messages";

int VK_STDCALL ShowMenu(int32_t, int32_t, int32_t, int32_t, uint32_t, const char* title,
                        const char*, const char*, const int32_t*, int32_t* breakCode,
                        const MenuItem* items, int32_t count)
{
    if (breakCode)
        *breakCode = -1;
    std::vector<std::string> texts;
    for (int32_t i = 0; items && i < count; ++i) {
        char text[sizeof(items[i].text) + 1];
        memcpy(text, items[i].text, sizeof(items[i].text));
        text[sizeof(items[i].text)] = '\0';
        texts.push_back(OemTextForDisplay(text));
    }
    // The item chosen elsewhere from the same matches must be the one here
    // (either text may be the other cut short).
    const std::string& expected = options->expectedItem;
    if (!expected.empty() && options->pick > 0 && (size_t)options->pick <= texts.size()) {
        const std::string& text = texts[(size_t)options->pick - 1];
        size_t common = std::min(text.size(), expected.size());
        if (common == 0 || text.compare(0, common, expected, 0, common) != 0) {
            record->menuShown = true;
            record->menuItems = (int)texts.size();
            record->pickMismatch = true;
            return -1;
        }
    }
    return ChooseFromMenu(title ? OemTextForDisplay(title) : std::string(), texts, *options,
                          *record);
}

// The chosen position that a choice list's entries preselect.
int PreselectedEntry(const ChoiceList* list)
{
    if (!list || !list->entries)
        return 0;
    for (int32_t i = 0; i < list->count; ++i)
        if (list->entries[i].flags & ChoiceSelected)
            return i;
    return 0;
}

int VK_STDCALL RunDialog(int32_t, int32_t, int32_t, int32_t width, int32_t height, const char*,
                         DialogItem* items, int32_t count)
{
    if (!items || count <= 0)
        return -1;

    if (options->cancel || options->modality >= 0 || options->visuality >= 0 || !IsInteractive()) {
        // Answers from the command line: the first choice list is the
        // module's Modality, the second its Visuality; a list without an
        // answer keeps its preselected entry.
        int lists = 0;
        for (int32_t i = 0; i < count; ++i) {
            if (items[i].kind != DialogChoiceList)
                continue;
            const ChoiceList* list = reinterpret_cast<const ChoiceList*>(items[i].selection);
            int position = PreselectedEntry(list);
            int answer = lists == 0 ? options->modality : lists == 1 ? options->visuality : -1;
            if (answer >= 0)
                position = answer;
            items[i].selection = position;
            ++lists;
        }
        int confirm = -1, leave = -1;
        for (int32_t i = 0; i < count; ++i) {
            if (items[i].kind != DialogButton)
                continue;
            if (items[i].defaultButton && confirm < 0)
                confirm = i;
            else if (leave < 0)
                leave = i;
        }
        if (confirm < 0) {  // no default button: the first button confirms
            for (int32_t i = 0; i < count; ++i)
                if (items[i].kind == DialogButton && i != leave) {
                    confirm = i;
                    break;
                }
        }
        return options->cancel ? leave : confirm;
    }
    return RunDialogOnTerminal(width, height, items, count);
}

// A topic opened without a menu is the only one that matched: --pick beyond
// it is as wrong as beyond a menu's items, and nothing is opened.
bool PickBeyondOneTopic()
{
    if (record->menuShown || options->pick <= 1)
        return false;
    record->pickOutOfRange = true;
    record->menuItems = 1;
    return true;
}

// What became of the page at path: the directory the host named for it goes
// when nothing shows the page any longer (the module never deletes it).
int PageShown(const char* path, PageOutcome outcome)
{
    record->openFailed = outcome == PageFailed;
    std::string directory = path;
    directory.resize(
        directory.find_last_of("/\\") == std::string::npos ? 0 : directory.find_last_of("/\\"));
    auto slashes = [](std::string name) {
        for (char& c : name)
            c = c == '\\' ? '/' : c;
        return name;
    };
    if (outcome == PageFinished && !record->tempName.empty() &&
        slashes(directory) == slashes(record->tempName))
        RemovePageDirectory(record->tempName);
    return outcome == PageFailed ? 0 : 1;
}

int VK_STDCALL OpenViewer(const char* path, const char* title, int32_t, int32_t, int32_t, int32_t,
                          uint32_t flags)
{
    if (!path || PickBeyondOneTopic())
        return 0;
    record->pageOpened = true;
    return PageShown(path, OpenPageInViewer(path, title, flags, record->helpFile));
}

int VK_STDCALL OpenEditor(const char* path, const char* title, int32_t, int32_t, int32_t, int32_t,
                          uint32_t flags, int32_t, int32_t)
{
    if (!path || PickBeyondOneTopic())
        return 0;
    record->pageOpened = true;
    return PageShown(path, OpenPageInEditor(path, title, flags, record->helpFile));
}

int VK_STDCALL ControlHost(int32_t, int32_t command, void* param)
{
    switch (command) {
    case HostGetWindowCount:
        return 1;  // the terminal is the host's one window
    case HostGetWindowStatus: {
        if (!param)
            return 0;
        WindowStatus* status = static_cast<WindowStatus*>(param);
        status->kind = WindowKindMain;
        memset(status->reserved, 0, sizeof(status->reserved));
        return 1;
    }
    default:
        return 0;
    }
}

// The value's text in radix 2 to 36 (negative values with a sign in radix 10,
// as unsigned 32-bit numbers otherwise), in the 12 bytes the caller offers. A
// text that would not fit, or a radix outside 2..36, gives an empty text.
char* VK_STDCALL IntToText(int32_t value, char* buffer, int32_t radix)
{
    if (!buffer)
        return buffer;
    buffer[0] = '\0';
    if (radix < 2 || radix > 36)
        return buffer;
    char digits[40];
    int length = 0;
    bool negative = radix == 10 && value < 0;
    uint32_t magnitude = negative ? 0u - (uint32_t)value : (uint32_t)value;
    do {
        uint32_t digit = magnitude % (uint32_t)radix;
        digits[length++] = (char)(digit < 10 ? '0' + digit : 'a' + digit - 10);
        magnitude /= (uint32_t)radix;
    } while (magnitude != 0);
    if (negative)
        digits[length++] = '-';
    if (length > 11)
        return buffer;
    for (int i = 0; i < length; ++i)
        buffer[i] = digits[length - 1 - i];
    buffer[length] = '\0';
    return buffer;
}

int VK_CDECL FormatText(char* dest, const char* format, ...)
{
    if (!dest || !format)
        return -1;
    va_list args;
    va_start(args, format);
    int result = vsprintf(dest, format, args);
    va_end(args);
    return result;
}

int VK_CDECL ScanText(const char* text, const char* format, ...)
{
    if (!text || !format)
        return -1;
    va_list args;
    va_start(args, format);
    int result = vsscanf(text, format, args);
    va_end(args);
    return result;
}

// The first count bytes of the keyword: letters without regard to case (ASCII
// letters in a single- or double-byte OEM code page, every letter in UTF-8),
// every other byte exactly; a text that ends early ends the comparison.
int VK_STDCALL CompareTextN(const char* text, const char* keyword, int32_t count)
{
    return CompareAsModule(text, keyword, count);
}

// A new path under the temporary directory: "<dir>/<prefix>-<16 hex digits>",
// which exists nowhere yet; nothing is created. The module appends
// "\velkory.txt" to it in a 260-byte buffer, so the path is kept short enough
// for that, falling back to the system's own temporary directory when the
// user's is too long.
char* VK_STDCALL MakeTempName(char* dest, const char* prefix)
{
    static std::random_device device;
    static std::mt19937_64 generator(((uint64_t)device() << 32) ^ device() ^
                                     (ProcessNumber() << 16) ^ (uint64_t)time(nullptr));
    if (!dest)
        return dest;
    std::string pre = prefix ? prefix : "";
    if (pre.size() > 32)
        pre.resize(32);
    for (char& c : pre)
        if (c == '/' || c == '\\')
            c = '_';

    std::string dir = TempDirectory();
    constexpr size_t Limit = 260 - 1 - 12;  // room for "\velkory.txt" and the NUL
    if (dir.size() + 1 + pre.size() + 17 > Limit) {
        dir = System.fallbackTempDirectory;
    }
    for (int attempt = 0; attempt < 1000; ++attempt) {
        char tail[24];
        snprintf(tail, sizeof tail, "-%016llx", (unsigned long long)generator());
        std::string path = dir + System.pathSeparator + pre + tail;
        if (!PathExists(path)) {
            memcpy(dest, path.c_str(), path.size() + 1);
            record->tempName = path;
            return dest;
        }
    }
    dest[0] = '\0';
    return dest;
}

int VK_STDCALL GetModuleMessage(const void* messageContext, int32_t number, char* dest)
{
    if (!dest)
        return 0;
    dest[0] = '\0';
    if (!messageContext || memcmp(messageContext, MessageContextTag, sizeof MessageContextTag) != 0)
        return 0;
    const char* text = ModuleMessageText(number);
    if (!text)
        return 0;
    size_t capacity = (size_t)ModuleMessageCapacity(number);
    size_t length = strlen(text);
    if (length >= capacity)
        length = capacity - 1;
    memcpy(dest, text, length);
    dest[length] = '\0';
    return 1;
}

}  // namespace

int ChooseFromMenu(const std::string& title, const std::vector<std::string>& items,
                   const RequestOptions& options, RequestRecord& record)
{
    record.menuShown = true;
    record.menuItems = (int)items.size();
    int chosen = -1;
    if (items.empty()) {
    } else if (options.pick > 0) {
        if ((size_t)options.pick <= items.size())
            chosen = options.pick - 1;
        else
            record.pickOutOfRange = true;
    } else if (IsInteractive()) {
        chosen = RunMenuOnTerminal(title, items);
    } else {
        for (size_t i = 0; i < items.size(); ++i)
            fprintf(stderr, "%zu\t%s\n", i + 1, items[i].c_str());
        fflush(stderr);
    }
    if (chosen < 0)
        record.menuCancelled = true;
    return chosen;
}

void EndRequest(const RequestRecord* requestRecord)
{
    if (record == requestRecord) {
        options = &noOptions;
        record = &unreadRecord;
    }
}

void FillHostBlocks(HostServices& services, HostUtilities& utilities, ModuleContext& context,
                    const RequestOptions* requestOptions, RequestRecord* requestRecord)
{
    if (requestOptions && requestRecord) {
        options = requestOptions;
        record = requestRecord;
    }
    memset(&services, 0, sizeof services);
    memset(&utilities, 0, sizeof utilities);
    memset(&context, 0, sizeof context);

    services.moduleNumber = HostModuleNumber;
    services.ShowMenu = ShowMenu;
    services.RunDialog = RunDialog;
    services.OpenViewer = OpenViewer;
    services.OpenEditor = OpenEditor;
    services.utilities = &utilities;
    services.ControlHost = ControlHost;

    utilities.IntToText = IntToText;
    utilities.FormatText = FormatText;
    utilities.ScanText = ScanText;
    utilities.CompareTextN = CompareTextN;
    utilities.MakeTempName = MakeTempName;

    memcpy(context.messageContext, MessageContextTag, sizeof MessageContextTag);
    context.registryRoot = HostRegistryRoot;
    context.GetModuleMessage = GetModuleMessage;
}
