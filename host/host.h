// velkory, the terminal host: what every room of host/ may use.
//
// The host is in rooms by job, each with one header, and a room calls only
// the rooms below it (ARCHITECTURE.md draws the order):
//
//   cli/       the command line: options, the table of commands, usage
//   commands/  one file per command (or per small family of commands)
//   serve/     the browser view: the server, its routes and the viewer
//   search/    the text search: one index per help file, in the cache
//   lsp/       the language server for editors (Linux only)
//   module/    the module loaded by path and the services it calls back
//   page/      opening a page: viewer, editor, tmux, renderer, landing line
//   terminal/  the menu and the dialog drawn in the terminal
//   os/        what differs between systems, behind one header
//
// This header holds the little they all share: exit statuses, how a failure
// is said, and the check every command that takes a help file makes first.
#pragma once

#include <string>

constexpr int ExitOk = 0;
constexpr int ExitFailed = 1;
constexpr int ExitUsage = 2;

// "velkory: message" on stderr.
void Complain(const std::string& message);
// A usage error: "velkory: message (try 'velkory --help')" on stderr; returns
// ExitUsage for the command to return.
int UsageFailure(const std::string& message);

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

// Text for the terminal.
std::string PrintableName(const char* name);  // control bytes shown as \xNN
std::string OemTextForDisplay(const char* text);
std::string FoldedText(std::string text);  // ASCII letters lowered (names, tags, extensions)
// A link as written is a URL: "%20" stands for a space. A '%' without two
// hex digits stays.
std::string PercentDecode(const std::string& text);
struct HelpFile;
// The stored name of the contents sitemap: the one #SYSTEM names when it is
// stored, else the first *.hhc; "" for none.
std::string ContentsName(HelpFile* file);
// A link as a page, a sitemap or #SYSTEM writes it ("a%20b.htm#x",
// "..\\c.htm", "ms-its:other.chm::/d.htm"), relative to folder ("dir/"): the
// help file it names ("" for this one), the stored name without its leading
// "/" and the anchor. False for links out of the help files and paths above
// the root.
struct ResolvedLink {
    std::string file, path, anchor;
};
bool ResolveLink(const std::string& link, const std::string& folder, ResolvedLink& out);
