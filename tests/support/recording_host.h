// A recording test host: fills the three host blocks with services that log
// every call (service name and all arguments, texts copied) in one ordered
// log and answer with configurable results, and starts the module in-process
// against those blocks.
//
// There is one host per test program (the services are plain functions with
// no context pointer). A test begins with RecordingHost::Begin(), which clears
// the log and the answers, makes a fresh temporary directory for the test and
// points VELKORY_REGISTRY at a file inside it; StartModule() then hands the
// blocks to the module's Start. End() (or the next Begin()) removes the
// directory unless keepFiles is set. RecordingHostTest is a GoogleTest
// fixture that does Begin/End.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "frame/host_api.h"

// One argument as the service received it: its raw value (integers as they
// are, pointers as their address) and, for text arguments that were not null,
// a copy of the text.
struct RecordedArg {
    int64_t value = 0;
    bool isText = false;  // a text argument that was not null
    std::string text;
};

struct RecordedCall {
    std::string service;  // "ShowMenu", "OpenViewer", "CompareTextN", ...
    std::vector<RecordedArg>
        args;            // every argument in order (FormatText/ScanText: dest/text and format only)
    int64_t result = 0;  // what the service answered (pointers as addresses)

    // ShowMenu: the items as they came in.
    std::vector<MenuItem> menuItems;
    // RunDialog: the items as they came in, and for each item (same index)
    // the entries of its choice list (empty for items that are not lists).
    std::vector<DialogItem> dialogItems;
    std::vector<std::vector<ChoiceEntry>> choiceEntries;
    // ControlHost command 9: the WindowStatus's first integer as it came in.
    int32_t windowStatusIn = 0;
    // OpenViewer/OpenEditor: whether the file existed and its content at the
    // time of the call.
    bool fileExisted = false;
    std::string fileContent;
    // FormatText: the text produced.
    std::string formatted;

    int64_t Int(size_t i) const
    {
        return args.at(i).value;
    }
    const std::string& Text(size_t i) const
    {
        return args.at(i).text;
    }
    bool IsNull(size_t i) const
    {
        return args.at(i).value == 0;
    }
};

struct RecordingHost {
    // ---- answers (set by the test before the call that uses them) ----
    int32_t moduleNumber = 0x4D2;
    // ShowMenu: answers taken in turn from menuChoices; when it is used up,
    // menuChoice (a negative value cancels).
    std::vector<int> menuChoices;
    int menuChoice = 0;
    // RunDialog: the result, and the positions written into the selection
    // fields of the choice lists, in item order (a list beyond the vector's
    // end keeps its selection field as it came in).
    int dialogResult = -1;
    std::vector<int> dialogSelections;
    // ControlHost: the answer to command 10, the kind written by command 9,
    // and command 9's own result.
    int windowCount = 1;
    int windowKind = WindowKindMain;
    int windowStatusResult = 1;
    // OpenViewer/OpenEditor results.
    int viewerResult = 1;
    int editorResult = 1;
    // MakeTempName: when not empty, written as is instead of a fresh path.
    std::string tempNameOverride;
    // Message texts by number; a number not here gives "Message <n>".
    std::map<int, std::string> messages;
    // The registry root text (ModuleContext offset 524). Begin() sets a
    // per-test key below "Software\VelkoryTest".
    std::string registryRoot;
    // Leave the test's temporary directory behind at End().
    bool keepFiles = false;

    // ---- the log ----
    std::vector<RecordedCall> calls;

    // ---- the blocks handed to Start ----
    HostServices services {};
    HostUtilities utilities {};
    ModuleContext context {};

    // The test's temporary directory (exists between Begin and End), and the
    // paths MakeTempName produced so far.
    std::string tempDir;
    std::vector<std::string> tempNames;
    // The settings file that VELKORY_REGISTRY points at.
    std::string registryFile;

    // Clears everything, makes the temporary directory, sets VELKORY_REGISTRY
    // and fills the blocks.
    void Begin();
    void End();

    // Fills the three blocks (also done by Begin; call again after changing
    // moduleNumber or registryRoot).
    void FillBlocks();
    // Calls the module's Start with the blocks; returns its result.
    int32_t StartModule();

    // Requests through Message.
    int32_t SendHelp(const char* helpFile, const char* keyword);
    int32_t SendInfo(ModuleInfo* info);
    int32_t SendConfigure();
    int32_t Send(int32_t request, const HelpRequest* help, ModuleInfo* info);

    // The calls of one service, in order; the sequence of service names.
    std::vector<RecordedCall> CallsOf(const std::string& service) const;
    std::vector<std::string> ServiceNames() const;
    size_t Count(const std::string& service) const;
    // Clears the log only.
    void ClearLog()
    {
        calls.clear();
    }

    // A path inside the test's temporary directory.
    std::string Path(const std::string& name) const;
};

// The one recording host of the test program.
RecordingHost& Host();

// GoogleTest fixture: Host().Begin() before each test, Host().End() after.
class RecordingHostTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Host().Begin();
    }
    void TearDown() override
    {
        Host().End();
    }
    RecordingHost& host = Host();
};

// The services themselves, for tests that call them directly.
namespace recording {
int VK_STDCALL ShowMenu(int32_t moduleNumber, int32_t x, int32_t y, int32_t maxHeight,
                        uint32_t flags, const char* title, const char* footer,
                        const char* helpTopic, const int32_t* breakKeys, int32_t* breakCode,
                        const MenuItem* items, int32_t count);
int VK_STDCALL RunDialog(int32_t moduleNumber, int32_t x1, int32_t y1, int32_t x2, int32_t y2,
                         const char* helpTopic, DialogItem* items, int32_t count);
int VK_STDCALL OpenViewer(const char* path, const char* title, int32_t x1, int32_t y1, int32_t x2,
                          int32_t y2, uint32_t flags);
int VK_STDCALL OpenEditor(const char* path, const char* title, int32_t x1, int32_t y1, int32_t x2,
                          int32_t y2, uint32_t flags, int32_t startLine, int32_t startColumn);
int VK_STDCALL ControlHost(int32_t moduleNumber, int32_t command, void* param);
char* VK_STDCALL IntToText(int32_t value, char* buffer, int32_t radix);
int VK_CDECL FormatText(char* dest, const char* format, ...);
int VK_CDECL ScanText(const char* text, const char* format, ...);
int VK_STDCALL CompareTextN(const char* text, const char* keyword, int32_t count);
char* VK_STDCALL MakeTempName(char* dest, const char* prefix);
int VK_STDCALL GetModuleMessage(const void* messageContext, int32_t number, char* dest);
}  // namespace recording
