// velkory, the terminal host: what its parts share.
//
// commands.cpp reads the command line and dispatches to one function per
// command: the commands that drive the module (module_commands.cpp, help.cpp)
// and those that read help files directly (archive.cpp, clean.cpp). The
// module is loaded and started by module.cpp and calls back into the
// services of services.cpp, which draw the menu and the dialog in the
// terminal (terminal.cpp) and open pages (open.cpp, with the renderer of
// render.cpp). What differs between systems is behind system.h.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "frame/host_api.h"
#include "platform/store_failure.h"

// What the command line asked for, read by the services while the module runs.
struct HostOptions {
    int pick = 0;         // --pick N (from 1); 0 when not given
    int modality = -1;    // --modality N; -1 when not given
    int visuality = -1;   // --visuality N; -1 when not given
    bool cancel = false;  // --cancel
    int jobs = 0;         // -j N: decoding workers for test and extract; 0: one per core
    // The command line as given (argv[1..]), for a program run in this one's place.
    std::vector<std::string> words;
};

// What the services saw during one request, for the host's own explanations.
struct HostRecord {
    bool menuShown = false;       // ShowMenu was called
    int menuItems = 0;            // with this many items
    bool menuCancelled = false;   // and nothing was chosen
    bool pickOutOfRange = false;  // --pick named an item that does not exist
    bool pageOpened = false;      // OpenViewer or OpenEditor was called
    bool openFailed = false;      // and the viewer or editor failed (said on stderr)
    std::string tempName;         // the last name MakeTempName gave
    std::string helpFile;         // the help file of the request
};

// help.cpp: the ANSI code page of the request's help file's language, for
// pages that do not say their charset; 0 when the file does not tell. Read
// from the file when a page is first rendered.
unsigned RequestCodePage();

extern HostOptions hostOptions;
extern HostRecord hostRecord;

constexpr int ExitOk = 0;
constexpr int ExitFailed = 1;
constexpr int ExitUsage = 2;

// commands.cpp: the command line. A usage error is thrown as UsageError and
// ends the program with ExitUsage.
struct CommandLine {
    std::string command;
    std::vector<std::string> arguments;
    std::string modulePath;
    bool haveModule = false;
    bool show = false;
    int port = 0;      // --port N (serve, browse)
    bool open = true;  // unless --no-open
    std::vector<std::string> optionsSeen;
};
struct UsageError {
    std::string message;
};
[[noreturn]] void Usage(const std::string& message);
// Runs the command line; the program's exit status.
int RunVelkory(int argc, char** argv);

// module.cpp: the module, loaded and started for one request.
constexpr const char* HostRegistryRoot = "Software\\VelkoryHost";
class ModuleSession {
public:
    explicit ModuleSession(const CommandLine& line);
    ~ModuleSession();
    bool Begin();  // false, with the reason on stderr, when it cannot be loaded
    int32_t Send(int32_t request, const HelpRequest* help, ModuleInfo* info);
    // Why the module's last read or write of the settings file failed ("" when
    // it did not); null when the module cannot tell (platform/store_failure.h).
    const char* StoreFailure(int access) const;

private:
    std::string path_;
    void* library_ = nullptr;
    StartFn Start_ = nullptr;
    ExitFn Exit_ = nullptr;
    MessageFn Message_ = nullptr;
    StoreFailureFn StoreFailure_ = nullptr;
    bool started_ = false;
    HostServices services_;
    HostUtilities utilities_;
    ModuleContext context_;
};
// The two settings, read by the module's own code linked into the host.
void ReadSettings(int32_t& modality, int32_t& visuality);

// settings_check.cpp: after the module saved the settings, or after the host
// read them: true, with the file and the reason on stderr, when the settings
// file failed.
bool SettingsSaveFailed(const ModuleSession& session);
bool SettingsReadFailed();

// services.cpp: the three blocks, filled with the host's services.
void FillHostBlocks(HostServices& services, HostUtilities& utilities, ModuleContext& context);

// messages.cpp: the module's message texts, owned by the host.
const char* ModuleMessageText(int number);  // null for a number without text
int ModuleMessageCapacity(int number);      // the size of the module's destination

// module_commands.cpp, help.cpp, archive.cpp, clean.cpp: the commands.
// Workers that run batches of decoding jobs for test and extract: threads
// that live as long as the pool, taking the batches in the order they were
// started; StartJobs and WaitJobs are the container's StreamOptions callbacks
// of those names.
class WorkerPool {
public:
    explicit WorkerPool(int workers);
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;
    int Workers() const;
    static void StartJobs(void* pool, int count, void (*job)(void*, int, int), void* jobContext);
    static void WaitJobs(void* pool);

private:
    struct State;
    State* state_;
};
int DefaultJobs();  // the number of cores

int InfoCommand(const CommandLine& line);
int ConfigCommand(const CommandLine& line);
int HelpCommand(const CommandLine& line);
int ListCommand(const CommandLine& line);
int CatCommand(const CommandLine& line);
int ExtractCommand(const CommandLine& line);
int TestCommand(const CommandLine& line);
int TopicsCommand(const CommandLine& line);  // keyword_commands.cpp
int IndexCommand(const CommandLine& line);
int CleanCommand(const CommandLine& line);

// terminal.cpp: the interactive menu and dialog, and text fitted to columns.
int RunMenuOnTerminal(const std::string& title, const std::vector<std::string>& items);
int RunDialogOnTerminal(int width, int height, DialogItem* items, int count);
size_t TerminalTextWidth(const std::string& text);  // in columns
// The text cut or padded to exactly width columns.
std::string FitToWidth(const std::string& text, int width);

// open.cpp: the viewer and the editor.
int OpenPageInViewer(const char* path, const char* title, uint32_t flags);
int OpenPageInEditor(const char* path, const char* title, uint32_t flags);
// Splits a command held in a variable like a shell word list, without a shell.
std::vector<std::string> SplitCommandLine(const std::string& text);

// render.cpp: HTML to plain text in the terminal's encoding, wrapped to width.
// The page is in the charset it declares (<meta charset>, or the charset of a
// Content-Type <meta>), else in UTF-8 when its bytes are UTF-8 beyond ASCII,
// else in fallbackCodePage (the help file's language), else in the module's
// ANSI code page.
std::string RenderHtmlToText(const std::string& html, int width, unsigned fallbackCodePage = 0);
// The code page a page is in by that rule; 0 for the module's ANSI code page.
unsigned PageCodePage(const std::string& html, unsigned fallbackCodePage);

// charset.cpp: character sets as pages name them.
// The code page of a charset name, letter case ignored ("utf-8" 65001,
// "gb2312" 936, "shift_jis" 932, "iso-8859-1" 1252 as browsers read it); 0
// for a name it does not know.
unsigned CharsetCodePage(const char* name, size_t length);
// The charset name w3m and lynx know a code page by; null for none.
const char* CodePageCharset(unsigned codePage);
// The code page a page declares in its first 4096 bytes, by <meta
// charset="..."> or the charset parameter of a <meta ... content="...">; 0
// when it declares none it knows.
unsigned DeclaredCodePage(const char* page, size_t size);
// references.cpp: the character reference at text[i] == '&': the position
// after it, with its character in cp; i when it is not a reference.
size_t DecodeReference(const std::string& text, size_t i, uint32_t& cp);

// common.cpp: text and output helpers.
std::string PrintableName(const char* name);  // control bytes shown as \xNN
std::string OemTextForDisplay(const char* text);
std::string FoldedText(std::string text);   // letters folded as the module compares them
void Complain(const std::string& message);  // "velkory: message" on stderr
// Whether path is a regular file that begins as a help file does and holds
// its header and directory whole; if not, says why on stderr (the system's
// reason, or where the file is cut short). Every command that takes a help
// file asks first.
bool IsHelpFile(const std::string& path);
// The container's line for a cut, control bytes shown as \xNN.
struct ContainerCut;
std::string CutText(const ContainerCut& cut);
// After a command failed on a help file that passed IsHelpFile: says on
// stderr where the file is cut short, when it is (a stored file past its
// end), as the reason; false, saying nothing, when it is not.
bool ExplainCut(const std::string& path);
// The whole file; false (errno set) when it cannot be read.
bool ReadWholeFile(const std::string& path, std::string& contents);
// A file that comes with the program (the module, velkory-serve): beside the
// program in a build tree; once installed, at installed (relative to the
// program's directory, null when the build installs nowhere) if it is there.
std::string CompanionPath(const std::string& name, const char* installed);
