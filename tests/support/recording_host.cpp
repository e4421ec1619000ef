#include "recording_host.h"

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "frame/frame.h"

#if defined(_WIN32)
#include <process.h>

#include "platform/platform.h"
#else
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

RecordingHost theHost;
unsigned testCounter = 0;

// The byte that fills the blocks' bytes that belong to the host, so that a
// test can see the module copied them whole.
constexpr uint8_t ReservedFill = 0xA5;

int ProcessId()
{
#if defined(_WIN32)
    return _getpid();
#else
    return (int)getpid();
#endif
}

void SetEnvironment(const char* name, const std::string& value)
{
#if defined(_WIN32)
    _putenv_s(name, value.c_str());
#else
    setenv(name, value.c_str(), 1);
#endif
}

RecordedArg Int(int64_t value)
{
    RecordedArg arg;
    arg.value = value;
    return arg;
}

RecordedArg Ptr(const void* p)
{
    return Int((int64_t)(intptr_t)p);
}

RecordedArg Text(const char* text)
{
    RecordedArg arg = Ptr(text);
    if (text) {
        arg.isText = true;
        arg.text = text;
    }
    return arg;
}

RecordedCall& Log(const char* service)
{
    theHost.calls.emplace_back();
    theHost.calls.back().service = service;
    return theHost.calls.back();
}

}  // namespace

RecordingHost& Host()
{
    return theHost;
}

void RecordingHost::Begin()
{
    End();
    *this = RecordingHost();
    ++testCounter;
    std::string unique = std::to_string(ProcessId()) + "-" + std::to_string(testCounter);
    std::error_code ec;
    fs::path base = fs::temp_directory_path(ec);
    if (ec)
        base = fs::path(".");
    fs::path dir = base / ("velkory-test-" + unique);
    fs::remove_all(dir, ec);
    fs::create_directories(dir, ec);
    tempDir = dir.string();
    registryFile = (dir / "registry.reg").string();
    registryRoot = "Software\\VelkoryTest\\" + unique;
    SetEnvironment("VELKORY_REGISTRY", registryFile);
    FillBlocks();
}

void RecordingHost::End()
{
    if (!tempDir.empty() && !keepFiles) {
        std::error_code ec;
        fs::remove_all(tempDir, ec);
#if defined(_WIN32)
        // On Windows the settings live in the real registry: remove the
        // test's key (elsewhere they went to the file in tempDir).
        if (registryRoot.rfind("Software\\VelkoryTest\\", 0) == 0)
            RegDeleteTreeA(HKEY_CURRENT_USER, registryRoot.c_str());
#endif
    }
    tempDir.clear();
}

void RecordingHost::FillBlocks()
{
    memset(&services, ReservedFill, sizeof services);
    memset(&utilities, ReservedFill, sizeof utilities);
    memset(&context, ReservedFill, sizeof context);

    services.moduleNumber = moduleNumber;
    services.ShowMenu = recording::ShowMenu;
    services.RunDialog = recording::RunDialog;
    services.OpenViewer = recording::OpenViewer;
    services.OpenEditor = recording::OpenEditor;
    services.utilities = &utilities;
    services.ControlHost = recording::ControlHost;

    utilities.IntToText = recording::IntToText;
    utilities.FormatText = recording::FormatText;
    utilities.ScanText = recording::ScanText;
    utilities.CompareTextN = recording::CompareTextN;
    utilities.MakeTempName = recording::MakeTempName;

    static const char contextText[] = "recording host message context";
    memcpy(context.messageContext, contextText, sizeof contextText);
    context.registryRoot = registryRoot.c_str();
    context.GetModuleMessage = recording::GetModuleMessage;
}

int32_t RecordingHost::StartModule()
{
    FillBlocks();
    return Start(&services, &context);
}

int32_t RecordingHost::Send(int32_t request, const HelpRequest* help, ModuleInfo* info)
{
    return Message(request, help, info);
}

int32_t RecordingHost::SendHelp(const char* helpFile, const char* keyword)
{
    HelpRequest request;
    memset(&request, ReservedFill, sizeof request);
    request.helpFile = helpFile;
    request.keyword = keyword;
    return Message(RequestHelp, &request, nullptr);
}

int32_t RecordingHost::SendInfo(ModuleInfo* info)
{
    return Message(RequestInfo, nullptr, info);
}

int32_t RecordingHost::SendConfigure()
{
    return Message(RequestConfigure, nullptr, nullptr);
}

std::vector<RecordedCall> RecordingHost::CallsOf(const std::string& service) const
{
    std::vector<RecordedCall> out;
    for (const RecordedCall& call : calls)
        if (call.service == service)
            out.push_back(call);
    return out;
}

std::vector<std::string> RecordingHost::ServiceNames() const
{
    std::vector<std::string> out;
    for (const RecordedCall& call : calls)
        out.push_back(call.service);
    return out;
}

size_t RecordingHost::Count(const std::string& service) const
{
    size_t n = 0;
    for (const RecordedCall& call : calls)
        n += call.service == service;
    return n;
}

std::string RecordingHost::Path(const std::string& name) const
{
    return (fs::path(tempDir) / name).string();
}

namespace recording {

int VK_STDCALL ShowMenu(int32_t moduleNumber, int32_t x, int32_t y, int32_t maxHeight,
                        uint32_t flags, const char* title, const char* footer,
                        const char* helpTopic, const int32_t* breakKeys, int32_t* breakCode,
                        const MenuItem* items, int32_t count)
{
    RecordedCall& call = Log("ShowMenu");
    call.args = {Int(moduleNumber), Int(x),         Int(y),       Int(maxHeight),
                 Int(flags),        Text(title),    Text(footer), Text(helpTopic),
                 Ptr(breakKeys),    Ptr(breakCode), Ptr(items),   Int(count)};
    if (items && count > 0)
        call.menuItems.assign(items, items + count);
    int choice = theHost.menuChoice;
    if (!theHost.menuChoices.empty()) {
        choice = theHost.menuChoices.front();
        theHost.menuChoices.erase(theHost.menuChoices.begin());
    }
    call.result = choice;
    return choice;
}

int VK_STDCALL RunDialog(int32_t moduleNumber, int32_t x1, int32_t y1, int32_t x2, int32_t y2,
                         const char* helpTopic, DialogItem* items, int32_t count)
{
    RecordedCall& call = Log("RunDialog");
    call.args = {Int(moduleNumber), Int(x1),         Int(y1),    Int(x2),
                 Int(y2),           Text(helpTopic), Ptr(items), Int(count)};
    size_t list = 0;
    for (int32_t i = 0; items && i < count; ++i) {
        call.dialogItems.push_back(items[i]);
        call.choiceEntries.emplace_back();
        if (items[i].kind != DialogChoiceList || items[i].selection == 0)
            continue;
        const ChoiceList* choices = (const ChoiceList*)items[i].selection;
        if (choices->entries && choices->count > 0)
            call.choiceEntries.back().assign(choices->entries, choices->entries + choices->count);
        if (list < theHost.dialogSelections.size())
            items[i].selection = theHost.dialogSelections[list];
        ++list;
    }
    call.result = theHost.dialogResult;
    return theHost.dialogResult;
}

static void RecordOpenedFile(RecordedCall& call, const char* path)
{
    if (!path)
        return;
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return;
    call.fileExisted = true;
    call.fileContent.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

int VK_STDCALL OpenViewer(const char* path, const char* title, int32_t x1, int32_t y1, int32_t x2,
                          int32_t y2, uint32_t flags)
{
    RecordedCall& call = Log("OpenViewer");
    call.args = {Text(path), Text(title), Int(x1), Int(y1), Int(x2), Int(y2), Int(flags)};
    RecordOpenedFile(call, path);
    call.result = theHost.viewerResult;
    return theHost.viewerResult;
}

int VK_STDCALL OpenEditor(const char* path, const char* title, int32_t x1, int32_t y1, int32_t x2,
                          int32_t y2, uint32_t flags, int32_t startLine, int32_t startColumn)
{
    RecordedCall& call = Log("OpenEditor");
    call.args = {Text(path), Text(title), Int(x1),        Int(y1),         Int(x2),
                 Int(y2),    Int(flags),  Int(startLine), Int(startColumn)};
    RecordOpenedFile(call, path);
    call.result = theHost.editorResult;
    return theHost.editorResult;
}

int VK_STDCALL ControlHost(int32_t moduleNumber, int32_t command, void* param)
{
    RecordedCall& call = Log("ControlHost");
    call.args = {Int(moduleNumber), Int(command), Ptr(param)};
    int result = 0;
    if (command == HostGetWindowCount) {
        result = theHost.windowCount;
    } else if (command == HostGetWindowStatus && param) {
        WindowStatus* status = (WindowStatus*)param;
        call.windowStatusIn = status->window;
        status->kind = theHost.windowKind;
        result = theHost.windowStatusResult;
    }
    call.result = result;
    return result;
}

char* VK_STDCALL IntToText(int32_t value, char* buffer, int32_t radix)
{
    RecordedCall& call = Log("IntToText");
    call.args = {Int(value), Ptr(buffer), Int(radix)};
    if (radix < 2 || radix > 36)
        radix = 10;
    // Like itoa: a sign only in base 10, other bases show the 32-bit pattern.
    char digits[40];
    int n = 0;
    bool negative = radix == 10 && value < 0;
    uint32_t rest = negative ? 0u - (uint32_t)value : (uint32_t)value;
    do {
        uint32_t d = rest % (uint32_t)radix;
        digits[n++] = (char)(d < 10 ? '0' + d : 'a' + d - 10);
        rest /= (uint32_t)radix;
    } while (rest);
    char* p = buffer;
    if (negative)
        *p++ = '-';
    while (n)
        *p++ = digits[--n];
    *p = 0;
    call.result = (int64_t)(intptr_t)buffer;
    return buffer;
}

int VK_CDECL FormatText(char* dest, const char* format, ...)
{
    RecordedCall& call = Log("FormatText");
    call.args = {Ptr(dest), Text(format)};
    va_list ap;
    va_start(ap, format);
    int result = vsprintf(dest, format, ap);
    va_end(ap);
    if (result >= 0)
        call.formatted = dest;
    call.result = result;
    return result;
}

int VK_CDECL ScanText(const char* text, const char* format, ...)
{
    RecordedCall& call = Log("ScanText");
    call.args = {Text(text), Text(format)};
    va_list ap;
    va_start(ap, format);
    int result = vsscanf(text, format, ap);
    va_end(ap);
    call.result = result;
    return result;
}

int VK_STDCALL CompareTextN(const char* text, const char* keyword, int32_t count)
{
    RecordedCall& call = Log("CompareTextN");
    call.args = {Text(text), Text(keyword), Int(count)};
    // The first count characters, ASCII letters without regard to case,
    // every other byte exactly; a shorter text ends the comparison.
    const unsigned char* a = (const unsigned char*)(text ? text : "");
    const unsigned char* b = (const unsigned char*)(keyword ? keyword : "");
    int result = 0;
    for (int32_t i = 0; i < count; ++i) {
        int ca = a[i] < 128 ? tolower(a[i]) : a[i];
        int cb = b[i] < 128 ? tolower(b[i]) : b[i];
        if (ca != cb) {
            result = ca < cb ? -1 : 1;
            break;
        }
        if (ca == 0)
            break;
    }
    call.result = result;
    return result;
}

char* VK_STDCALL MakeTempName(char* dest, const char* prefix)
{
    RecordedCall& call = Log("MakeTempName");
    call.args = {Ptr(dest), Text(prefix)};
    std::string name = theHost.tempNameOverride;
    if (name.empty()) {
        // A path that does not exist yet, under the test's directory.
        for (unsigned k = (unsigned)theHost.tempNames.size() + 1;; ++k) {
            name = (fs::path(theHost.tempDir) /
                    (std::string(prefix ? prefix : "") + std::to_string(k)))
                       .string();
            std::error_code ec;
            if (!fs::exists(name, ec))
                break;
        }
    }
    // The module's buffer holds 260 bytes; a host never writes more.
    if (name.size() > 259)
        name.resize(259);
    memcpy(dest, name.c_str(), name.size() + 1);
    theHost.tempNames.push_back(name);
    call.result = (int64_t)(intptr_t)dest;
    call.formatted = name;
    return dest;
}

int VK_STDCALL GetModuleMessage(const void* messageContext, int32_t number, char* dest)
{
    RecordedCall& call = Log("GetModuleMessage");
    call.args = {Ptr(messageContext), Int(number), Ptr(dest)};
    auto it = theHost.messages.find(number);
    std::string text =
        it != theHost.messages.end() ? it->second : "Message " + std::to_string(number);
    memcpy(dest, text.c_str(), text.size() + 1);
    call.formatted = text;
    call.result = 1;
    return 1;
}

}  // namespace recording
