// velkory, the terminal host: what its parts share.
//
// The host loads the module, hands it the three blocks of services and drives
// it through its exports (loader.cpp, services.cpp); it draws the menu and the
// dialog in the terminal (terminal.cpp over console.cpp), opens pages in a
// pager or an editor (open.cpp, render.cpp) and runs the container commands
// directly on the reader (archive.cpp).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "frame/host_api.h"

// What the command line asked for, read by the services while the module runs.
struct HostOptions {
    int pick = 0;         // --pick N (from 1); 0 when not given
    int modality = -1;    // --modality N; -1 when not given
    int visuality = -1;   // --visuality N; -1 when not given
    bool cancel = false;  // --cancel
};

// What the services saw during one request, for the host's own explanations.
struct HostRecord {
    bool menuShown = false;       // ShowMenu was called
    int menuItems = 0;            // with this many items
    bool menuCancelled = false;   // and nothing was chosen
    bool pickOutOfRange = false;  // --pick named an item that does not exist
    bool pageOpened = false;      // OpenViewer or OpenEditor was called
    bool openFailed = false;      // and the command could not be run
    std::string tempName;         // the last name MakeTempName gave
};

extern HostOptions hostOptions;
extern HostRecord hostRecord;

// loader.cpp: the loaded module.
struct LoadedModule {
    void* handle = nullptr;
    StartFn Start = nullptr;
    ExitFn Exit = nullptr;
    MessageFn Message = nullptr;
};
// The module's default path: beside the executable.
std::string DefaultModulePath();
// Loads the module and resolves its exports; on failure error says why.
bool LoadModule(const std::string& path, LoadedModule& module, std::string& error);
void UnloadModule(LoadedModule& module);

// services.cpp: the three blocks, filled with the host's services.
constexpr const char* HostRegistryRoot = "Software\\VelkoryHost";
void FillHostBlocks(HostServices& services, HostUtilities& utilities, ModuleContext& context);

// messages.cpp: the module's message texts, owned by the host.
const char* ModuleMessageText(int number);  // null for a number without text
int ModuleMessageCapacity(int number);      // the size of the module's destination

// console.cpp: the terminal underneath the menu and the dialog.
bool IsInteractive();  // stdin and stdout or stderr are terminals
bool StdoutIsTerminal();
bool StdinIsTerminal();
enum Key {
    KeyNone = 0,
    KeyUp = 0x10000,
    KeyDown,
    KeyLeft,
    KeyRight,
    KeyHome,
    KeyEnd,
    KeyPageUp,
    KeyPageDown,
    KeyEnter,
    KeyEscape,
    KeyTab,
    KeyBackTab,
    KeyBackspace,
    KeyResize,
    KeyInterrupt,
};
bool ConsoleBegin();   // raw mode and the alternate screen
void ConsoleEnd();     // restores the terminal; safe to call twice
int ConsoleReadKey();  // a Key or a byte of text
void ConsoleSize(int& columns, int& rows);
void ConsoleWrite(const std::string& text);

// terminal.cpp: the interactive menu and dialog.
int RunMenuOnTerminal(const std::string& title, const std::vector<std::string>& items);
int RunDialogOnTerminal(int width, int height, DialogItem* items, int count);

// open.cpp: the viewer and the editor.
int OpenPageInViewer(const char* path, const char* title, uint32_t flags);
int OpenPageInEditor(const char* path, const char* title, uint32_t flags);
// Starts a program without waiting for it; false when it cannot be started.
bool StartProgram(const std::vector<std::string>& argv);
// Splits a command held in a variable like a shell word list, without a shell.
std::vector<std::string> SplitCommandLine(const std::string& text);

// render.cpp: HTML to plain text.
std::string RenderHtmlToText(const std::string& html, int width);
// Renders a page file with w3m or lynx when one is installed, else with the
// host's own renderer; false when the file cannot be read.
bool RenderPageFile(const std::string& path, std::string& text);

// Whether a program of that name is on the PATH (always true on Windows).
bool ProgramOnPath(const std::string& name);

// tempdir.cpp: temporary names and their clean-up.
std::string TempDirectory();
bool IsHostTempName(const std::string& name);
int CleanTempDirectories(bool verbose);  // the command's exit status

// archive.cpp: the container commands.
int ListCommand(const std::string& file);
int CatCommand(const std::string& file, const std::string& name);
int ExtractCommand(const std::string& file, const std::string& dir);
int TestCommand(const std::string& file);

// Text helpers (main.cpp).
std::string PrintableName(const char* name);  // control bytes shown as \xNN
std::string OemTextForDisplay(const char* text);
void Complain(const std::string& message);  // "velkory: message" on stderr
