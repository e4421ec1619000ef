// The records and entry points that the module and its host exchange.
//
// This header is the whole binary interface between a host application and
// the module, shared by the module and by our terminal host. On a 32-bit
// target every offset and size below is the host's own, byte for byte, and is
// checked at compile time; on a 64-bit target the same declarations simply
// widen their pointers (our own host and module are then built together, so
// nothing else depends on that layout).
//
// Bytes whose meaning belongs to the host and that the module never touches
// are declared as opaque reserved arrays.
//
// Calling convention: on 32-bit Windows the three exports and every host
// service with a fixed argument list are __stdcall (WINAPI); the two services
// with a variable argument list (FormatText, ScanText) are __cdecl. Elsewhere
// both macros are empty.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32) && !defined(_WIN64)
#define VK_STDCALL __stdcall
#define VK_CDECL   __cdecl
#else
#define VK_STDCALL
#define VK_CDECL
#endif

#if defined(_WIN32)
#define VK_EXPORT
#else
#define VK_EXPORT __attribute__((visibility("default")))
#endif

// Request codes of Message.
enum : int32_t {
    RequestInfo = 1,
    RequestHelp = 2,
    RequestConfigure = 4,
};

// Value of ModuleInfo.capabilities: the module answers help requests.
constexpr int32_t ModuleCapabilities = 4;

// ShowMenu's flags as the module passes them.
constexpr uint32_t MenuFlags = 0x26;

// Dialog item kinds, flags and choice-entry flags used by the configuration
// dialog. Their meaning is the host's; these are the values the module sends.
enum : int32_t {
    DialogText = 0,
    DialogFrame = 3,
    DialogButton = 7,
    DialogChoiceList = 10,
};
constexpr uint32_t DialogFlagChoiceList = 0x00100000;
constexpr uint32_t DialogFlagCentreText = 0x00010000;
constexpr uint32_t DialogFlagCentreButton = 0x00004000;
constexpr uint32_t ChoiceSelected = 0x00010000;

// ControlHost commands used by the module.
enum : int32_t {
    HostGetWindowStatus = 9,
    HostGetWindowCount = 10,
};
// WindowStatus.kind of the host's main window.
constexpr int32_t WindowKindMain = 1;

// Open flags of OpenViewer and OpenEditor.
constexpr uint32_t OpenFlagHostWindow =
    0x01;  // added when the open may go beside the host's main window
constexpr uint32_t OpenFlagViewer = 0x02;
constexpr uint32_t OpenFlagEditor = 0x10;

struct MenuItem;
struct DialogItem;
struct HostUtilities;

// Host services reached through HostServices.
typedef int(VK_STDCALL* ShowMenuFn)(int32_t moduleNumber, int32_t x, int32_t y, int32_t maxHeight,
                                    uint32_t flags, const char* title, const char* footer,
                                    const char* helpTopic, const int32_t* breakKeys,
                                    int32_t* breakCode, const MenuItem* items, int32_t count);
typedef int(VK_STDCALL* RunDialogFn)(int32_t moduleNumber, int32_t x1, int32_t y1, int32_t x2,
                                     int32_t y2, const char* helpTopic, DialogItem* items,
                                     int32_t count);
typedef int(VK_STDCALL* OpenViewerFn)(const char* path, const char* title, int32_t x1, int32_t y1,
                                      int32_t x2, int32_t y2, uint32_t flags);
typedef int(VK_STDCALL* OpenEditorFn)(const char* path, const char* title, int32_t x1, int32_t y1,
                                      int32_t x2, int32_t y2, uint32_t flags, int32_t startLine,
                                      int32_t startColumn);
typedef int(VK_STDCALL* ControlHostFn)(int32_t moduleNumber, int32_t command, void* param);

// Host utilities reached through HostUtilities.
typedef char*(VK_STDCALL* IntToTextFn)(int32_t value, char* buffer, int32_t radix);
typedef int(VK_CDECL* FormatTextFn)(char* dest, const char* format, ...);
typedef int(VK_CDECL* ScanTextFn)(const char* text, const char* format, ...);
typedef int(VK_STDCALL* CompareTextNFn)(const char* text, const char* keyword, int32_t count);
typedef char*(VK_STDCALL* MakeTempNameFn)(char* dest, const char* prefix);

// Reached through ModuleContext: copies a message text of the module.
typedef int(VK_STDCALL* GetModuleMessageFn)(const void* messageContext, int32_t number, char* dest);

struct HostServices {
    uint8_t reserved0[264];
    int32_t moduleNumber;  // 264
    uint8_t reserved1[4];
    ShowMenuFn ShowMenu;    // 272
    RunDialogFn RunDialog;  // 276
    uint8_t reserved2[32];
    OpenViewerFn OpenViewer;  // 312
    OpenEditorFn OpenEditor;  // 316
    uint8_t reserved3[16];
    HostUtilities* utilities;  // 336
    uint8_t reserved4[4];
    ControlHostFn ControlHost;  // 344
    uint8_t reserved5[24];
};

struct HostUtilities {
    uint8_t reserved0[12];
    IntToTextFn IntToText;  // 12
    uint8_t reserved1[4];
    FormatTextFn FormatText;  // 20
    ScanTextFn ScanText;      // 24
    uint8_t reserved2[92];
    CompareTextNFn CompareTextN;  // 120
    uint8_t reserved3[80];
    MakeTempNameFn MakeTempName;  // 204
    uint8_t reserved4[20];
};

struct ModuleContext {
    uint8_t reserved0[264];
    uint8_t messageContext[260];  // 264: the host's, handed back to GetModuleMessage by address
    const char* registryRoot;     // 524
    GetModuleMessageFn GetModuleMessage;  // 528
    uint8_t reserved1[8];
};

// Filled by the module for RequestInfo. Offset 0 and the size of the title
// area are the host's; the module writes offsets 4, 8, 12 and the title.
constexpr size_t ModuleTitleSize = 128;
struct ModuleInfo {
    int32_t hostField;            // 0: never read or written by the module
    int32_t capabilities;         // 4
    const char* const* names;     // 8
    int32_t nameCount;            // 12
    char title[ModuleTitleSize];  // 16
};

// Read by the module for RequestHelp.
struct HelpRequest {
    uint8_t reserved0[16];
    const char* helpFile;  // 16
    const char* keyword;   // 20
};

struct MenuItem {
    uint32_t flags;      // 0
    char text[128];      // 4
    uint32_t reserved0;  // 132
    uint32_t reserved1;  // 136
    uint32_t userValue;  // 140
};

struct ChoiceEntry {
    uint32_t flags;  // 0
    char text[140];  // 4
};

struct ChoiceList {
    int32_t count;         // 0
    ChoiceEntry* entries;  // 4
};

struct DialogItem {
    int32_t kind;           // 0
    int32_t x1;             // 4
    int32_t y1;             // 8
    int32_t x2;             // 12
    int32_t y2;             // 16
    int32_t focus;          // 20
    intptr_t selection;     // 24: in, a ChoiceList's address; out, the chosen position
    uint32_t flags;         // 28
    int32_t defaultButton;  // 32
    char text[512];         // 36
};

struct WindowStatus {
    int32_t window;  // 0: -1 asks about the current window
    int32_t kind;    // 4
    uint8_t reserved[332];
};

// The module's exports.
typedef int32_t(VK_STDCALL* StartFn)(const HostServices* services, const ModuleContext* context);
typedef void(VK_STDCALL* ExitFn)(void);
typedef int32_t(VK_STDCALL* MessageFn)(int32_t request, const HelpRequest* help, ModuleInfo* info);

#if INTPTR_MAX == INT32_MAX
static_assert(sizeof(HostServices) == 372);
static_assert(offsetof(HostServices, moduleNumber) == 264);
static_assert(offsetof(HostServices, ShowMenu) == 272);
static_assert(offsetof(HostServices, RunDialog) == 276);
static_assert(offsetof(HostServices, OpenViewer) == 312);
static_assert(offsetof(HostServices, OpenEditor) == 316);
static_assert(offsetof(HostServices, utilities) == 336);
static_assert(offsetof(HostServices, ControlHost) == 344);
static_assert(sizeof(HostUtilities) == 228);
static_assert(offsetof(HostUtilities, IntToText) == 12);
static_assert(offsetof(HostUtilities, FormatText) == 20);
static_assert(offsetof(HostUtilities, ScanText) == 24);
static_assert(offsetof(HostUtilities, CompareTextN) == 120);
static_assert(offsetof(HostUtilities, MakeTempName) == 204);
static_assert(sizeof(ModuleContext) == 540);
static_assert(offsetof(ModuleContext, messageContext) == 264);
static_assert(offsetof(ModuleContext, registryRoot) == 524);
static_assert(offsetof(ModuleContext, GetModuleMessage) == 528);
static_assert(offsetof(ModuleInfo, capabilities) == 4);
static_assert(offsetof(ModuleInfo, names) == 8);
static_assert(offsetof(ModuleInfo, nameCount) == 12);
static_assert(offsetof(ModuleInfo, title) == 16);
static_assert(offsetof(HelpRequest, helpFile) == 16);
static_assert(offsetof(HelpRequest, keyword) == 20);
static_assert(sizeof(ChoiceList) == 8);
static_assert(offsetof(DialogItem, selection) == 24);
static_assert(offsetof(DialogItem, flags) == 28);
static_assert(offsetof(DialogItem, defaultButton) == 32);
static_assert(offsetof(DialogItem, text) == 36);
static_assert(sizeof(DialogItem) == 548);
#endif
static_assert(sizeof(MenuItem) == 144);
static_assert(offsetof(MenuItem, text) == 4);
static_assert(offsetof(MenuItem, userValue) == 140);
static_assert(sizeof(ChoiceEntry) == 144);
static_assert(sizeof(WindowStatus) == 340);
