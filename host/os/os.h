// What differs between systems, for the host. Each declaration here is
// defined twice, once in a *_posix.cpp file and once in a *_windows.cpp file
// (the build takes one set), and no other host file asks which system it
// runs on:
//
//   console_*  the terminal under the menu and the dialog
//   process_*  starting programs: the only place that does
//   files_*    paths, the temporary directory, writing below a directory,
//              and System, the facts shared code chooses by
//   loader_*   loading a shared library and finding its exports
//   settings_* why the host's own read of the settings failed
//
// Room os/: may call platform/ only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

// Facts about the system that shared code chooses by.
struct SystemTraits {
    const char* defaultViewer;          // when neither VELKORY_VIEWER nor PAGER is set
    const char* defaultEditor;          // when no editor variable is set
    const char* moduleFileName;         // the module beside the executable
    char pathSeparator;                 // between a directory and a name
    const char* fallbackTempDirectory;  // when the user's is too long for a page path
    bool backslashSeparates;            // '\' separates stored name components too
    bool caseInsensitiveFiles;          // "A" and "a" name the same file
    bool tmuxWindows;                   // a non-modal open may take a tmux window
    const char* pageOpeningHelp;        // the usage text's lines on viewers and settings
    // Box drawing in the terminal's encoding.
    const char* boxTopLeft;
    const char* boxTopRight;
    const char* boxBottomLeft;
    const char* boxBottomRight;
    const char* boxHorizontal;
    const char* boxVertical;
    bool terminalUtf8;  // the terminal's text is UTF-8 (else the console's OEM code page)
};
extern const SystemTraits System;

// memory_*: keeps the memory a request frees for the next allocations of the
// same process, instead of handing it back to the system at once (a help
// request opens the help file more than once, and each opening allocates and
// frees the same sizes).
void KeepFreedMemory();

// console_*: the terminal.
// Takes the character type of the user's locale (LANG, LC_ALL, LC_CTYPE), which
// the module's code pages follow.
void AdoptUserLocale();
// Terminal text as the user's locale writes it. Where terminal text is UTF-8
// but the locale's character set is not (LANG=C), each character that set
// lacks, and each byte that is no UTF-8, becomes '?'; elsewhere the text is
// returned as it is.
std::string TextInLocale(const std::string& text);
bool IsInteractive();  // stdin and stdout or stderr are terminals
bool StdoutIsTerminal();
bool StderrIsTerminal();
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
// The character of terminal text that starts at text[i]: its bytes, and in
// columns the width it takes.
size_t TerminalCharacter(const std::string& text, size_t i, int& columns);

// process_*: programs. Commands are split like a shell word list by
// SplitCommandLine (open.cpp), with the quoting of the system's own shell.
// Runs argv with the terminal, waiting for it: its exit status (128 + the
// signal when one ended it), or -1 when it could not be started, with the
// reason in error. started, when given, is told its process number once it
// runs.
int RunProgram(const std::vector<std::string>& argv, std::string& error,
               const std::function<void(uint64_t)>& started = {});
// Starts argv without waiting for it (a browser); false when it cannot be.
bool StartProgram(const std::vector<std::string>& argv);
// Runs argv without a terminal and gathers its standard output; false when
// it could not run or did not exit 0.
bool CaptureOutput(const std::vector<std::string>& argv, std::string& out);
// A program that runs beside this one and talks to it through its standard
// input and output, which are pipes of this process's (its standard error is
// this one's). It runs in a session of its own, so that the terminal's
// interrupt does not reach it. POSIX only: it is velkory-serve.
struct Companion {
    int64_t process = -1;
    int input = -1;   // its standard input, for writing
    int output = -1;  // its standard output, for reading
};
bool StartCompanion(const std::vector<std::string>& argv, Companion& companion, std::string& error);
// The first line it writes (without the line end), waiting at most seconds;
// false when it ends first, or stays silent.
bool ReadCompanionLine(Companion& companion, std::string& line, int seconds);
bool WriteToCompanion(Companion& companion, const std::string& text);
// Closes its standard input and output; with wait, waits until it has ended
// (killing it when it is still there after seconds).
void EndCompanion(Companion& companion, bool wait, int seconds = 5);
// The process that has number process, as a text that names it and no later
// process given the same number (its number and when it began); "" when no
// such process runs.
std::string ProcessIdentity(uint64_t process);
// Whether the process a ProcessIdentity text names still runs: false when it
// has ended or its number now names another; false for a text that names no
// process.
bool ProcessRuns(const std::string& identity);
// Blocks until the process of that number (not necessarily this one's
// child) has ended.
void WaitUntilProcessEnds(uint64_t process);
// Stops this process as the system's termination request (SIGTERM) does.
void RequestOwnTermination();

// Replaces this process with the program at path, given argv (argv[0]
// included) and this environment; returns only when it cannot, with the
// reason in error. POSIX only: it hands serve over to velkory-serve, which
// the Windows build does not have.
void ReplaceProgram(const std::string& path, const std::vector<std::string>& argv,
                    std::string& error);
// Whether a program of that name would be found (always true on Windows,
// where the start itself says why not).
bool ProgramOnPath(const std::string& name);
// This process's environment, NAME=value each.
std::vector<std::string> EnvironmentList();
// Inside quotes a backslash escapes only '"' (Windows) or also '\', '$' and
// '`', and outside quotes it escapes anything (POSIX shells).
extern const bool ShellBackslashes;

// files_*: the file system.
std::string ExecutableDirectory();
std::string TempDirectory();  // without a trailing separator
// A new directory of this user's alone in TempDirectory(), named prefix and a
// few unique characters; "" when none can be made.
std::string MakePrivateDirectory(const std::string& prefix);
// Whether anything (a link included) is at path; true when it cannot be told,
// false when path or the directory it would be in is missing.
bool PathExists(const std::string& path);
// path made absolute, its links and "." and ".." resolved; path itself when
// that cannot be done.
std::string CanonicalPath(const std::string& path);
// The last component of path (after its last separator).
std::string BaseName(const std::string& path);
enum PathKind {
    PathMissing,  // nothing there, or it cannot be told (errno says)
    PathDirectory,
    PathRegular,
    PathLink,
    PathOther,  // a device, a pipe, a socket
};
PathKind PathKindAt(const std::string& path, bool followLinks);
// Removes a directory if it is empty; false when it is not or cannot be.
bool RemoveEmptyDirectory(const std::string& path);
// A directory of this user's (not a link), and when it was last changed.
bool IsOwnDirectory(const std::string& path, time_t& modified);
uint64_t ProcessNumber();
// Standard output as bytes, not text.
void SetBinaryOutput();
// Writing to a pipe whose reader has gone fails instead of ending the process.
void IgnoreBrokenPipe();
// Up to size bytes of in, as soon as some are there (a pipe's first bytes are
// not held back until size have come); 0 at the end or on an error.
size_t ReadAvailable(FILE* in, char* buffer, size_t size);
// Creates target (if missing) for extract; root is the path to write below.
bool MakeTargetDirectory(const std::string& target, std::string& root, std::string& error);
// A stored name's component in a form the file system can hold.
std::string NativeComponent(const std::string& component);
// What became of one stored file: written, refused because the way there is
// not a plain directory of the target (a symbolic link, a file), or failed.
enum WriteResult {
    Written,
    Refused,
    WriteFailed
};
// Creates the directories on the way below root and, unless onlyDirectories,
// writes the file; reason says why not. Nothing on the way is followed if it
// is a link.
WriteResult WriteBelow(const std::string& root, const std::vector<std::string>& components,
                       bool onlyDirectories, const uint8_t* data, size_t length,
                       std::string& reason);

// loader_*: shared libraries.
void* OpenLibrary(const std::string& path, std::string& error);
void* LibraryExport(void* library, const char* name);
void CloseLibrary(void* library);

// settings_*: why the host's last read of the settings failed, "" when it did
// not (always "" on Windows, where the host reads the real registry).
const char* OwnSettingsReadFailure();
