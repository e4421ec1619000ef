// velkory: the terminal host of the Velkory help module.
//
// It loads the module, gives it the host's services and sends it the
// information, configuration and help requests; it also reads help files
// directly for listing, extracting and testing them.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <sys/stat.h>

#include "container/container.h"
#include "frame/host_api.h"
#include "host/host.h"
#if defined(VELKORY_HAVE_SERVE)
#include "host/serve.h"
#endif
#include "platform/codepage.h"
#include "platform/platform.h"

#ifndef VELKORY_VERSION
#define VELKORY_VERSION "0.0.0"
#endif

namespace {

constexpr int ExitOk = 0;
constexpr int ExitFailed = 1;
constexpr int ExitUsage = 2;

const char UsageText[] =
    "Usage: velkory [--module PATH] COMMAND [ARGUMENTS]\n"
    "\n"
    "Context help from Compiled HTML Help files (.chm), through the Velkory module.\n"
    "\n"
    "Commands that drive the module:\n"
    "  help [--pick N] FILE KEYWORD   show the topic of FILE whose title begins with\n"
    "                                 KEYWORD; with several, choose in a menu (or the\n"
    "                                 Nth with --pick; without a terminal and without\n"
    "                                 --pick the topics are listed on stderr)\n"
    "  info                           the module's names, title and capabilities\n"
    "  config                         change the settings in a dialog; without a\n"
    "                                 terminal: --modality N --visuality N saves those\n"
    "                                 positions, --cancel leaves, --show prints them\n"
    "\n"
    "Commands that read a help file directly:\n"
    "  list FILE                      every stored file: section, offset, length, name\n"
    "  cat FILE NAME                  one stored file to standard output\n"
    "  extract FILE DIR               every stored file below DIR\n"
    "  test FILE                      extract every stored file in memory and check it\n"
    "\n"
#if defined(VELKORY_HAVE_SERVE)
    "Commands that show help files in the browser:\n"
    "  serve [--port N] [--no-open] FILE...\n"
    "                                 serve the help files on 127.0.0.1 with a viewer\n"
    "                                 (contents, index, search) until interrupted; the\n"
    "                                 first line of output is its URL\n"
    "  browse [--pick N] [--port N] [--no-open] FILE [KEYWORD]\n"
    "                                 the topic as help finds it, in the browser\n"
    "\n"
#endif
    "Other commands:\n"
    "  clean                          remove this host's page directories (VLKT-*) from\n"
    "                                 the temporary directory that are over a day old\n"
    "  --help, --version\n"
    "\n"
    "Options:\n"
    "  --module PATH                  load the module from PATH instead of beside the\n"
    "                                 program\n"
    "\n"
#if defined(_WIN32)
    "Pages open in %VELKORY_VIEWER%, else %PAGER%, else more (rendered to text), or\n"
    "in %VELKORY_EDITOR%, else %VISUAL%, else %EDITOR%, else notepad. Settings are\n"
    "kept under "
#else
    "Pages open in $VELKORY_VIEWER, else $PAGER, else less (rendered to text), or in\n"
    "$VELKORY_EDITOR, else $VISUAL, else $EDITOR, else vi. Settings are kept under\n"
#endif
    "HKEY_CURRENT_USER\\Software\\VelkoryHost\\Velkory"
#if !defined(_WIN32)
    " in $VELKORY_REGISTRY, else\n$XDG_CONFIG_HOME/velkory/registry.reg"
#endif
    ".\n"
    "Exit status: 0 done, 1 the module or the command failed, 2 usage error.\n";

struct CommandLine {
    std::string command;
    std::vector<std::string> arguments;
    std::string modulePath;
    bool haveModule = false;
    bool havePick = false;
    bool show = false;
    std::vector<std::string> optionsSeen;
};

struct UsageError {
    std::string message;
};

[[noreturn]] void Usage(const std::string& message)
{
    throw UsageError {message};
}

int ParsePosition(const std::string& option, const std::string& value, int low, int high)
{
    char* end = nullptr;
    errno = 0;
    long number = strtol(value.c_str(), &end, 10);
    if (value.empty() || *end != '\0' || errno != 0 || number < low || number > high)
        Usage(option + " expects a number from " + std::to_string(low) +
              (high < 1000000 ? " to " + std::to_string(high) : " up") + ", not '" + value + "'");
    return (int)number;
}

CommandLine ParseCommandLine(int argc, char** argv)
{
    CommandLine line;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            if (line.command.empty())
                line.command = arg;
            else
                line.arguments.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        std::string name = arg, value;
        bool inlineValue = false;
        size_t equals = arg.find('=');
        if (arg.compare(0, 2, "--") == 0 && equals != std::string::npos) {
            name = arg.substr(0, equals);
            value = arg.substr(equals + 1);
            inlineValue = true;
        }
        auto takeValue = [&]() {
            if (inlineValue)
                return value;
            if (i + 1 >= argc)
                Usage(name + " needs a value");
            return std::string(argv[++i]);
        };
        if (name == "--help" || name == "-h") {
            line.optionsSeen.push_back("--help");
        } else if (name == "--version") {
            line.optionsSeen.push_back("--version");
        } else if (name == "--module") {
            line.modulePath = takeValue();
            line.haveModule = true;
        } else if (name == "--pick") {
            hostOptions.pick = ParsePosition(name, takeValue(), 1, 1 << 30);
            line.havePick = true;
            line.optionsSeen.push_back(name);
        } else if (name == "--modality") {
            hostOptions.modality = ParsePosition(name, takeValue(), 0, 1);
            line.optionsSeen.push_back(name);
        } else if (name == "--visuality") {
            hostOptions.visuality = ParsePosition(name, takeValue(), 0, 1);
            line.optionsSeen.push_back(name);
        } else if (name == "--cancel") {
            hostOptions.cancel = true;
            line.optionsSeen.push_back(name);
        } else if (name == "--show") {
            line.show = true;
            line.optionsSeen.push_back(name);
        } else {
            Usage("unknown option '" + arg + "'");
        }
        if (inlineValue &&
            (name == "--help" || name == "-h" || name == "--version" || name == "--cancel" ||
             name == "--show"))
            Usage(name + " takes no value");
    }
    return line;
}

void RequireOnly(const CommandLine& line, std::initializer_list<const char*> allowed)
{
    for (const std::string& seen : line.optionsSeen) {
        bool ok = false;
        for (const char* name : allowed)
            ok = ok || seen == name;
        if (!ok)
            Usage(seen + " does not apply to " + line.command);
    }
}

void RequireArguments(const CommandLine& line, size_t count, const char* synopsis)
{
    if (line.arguments.size() != count)
        Usage(std::string(line.arguments.size() < count ? "missing" : "too many") +
              " arguments: velkory " + synopsis);
}

// The module, loaded and started for one request.
class ModuleSession {
public:
    explicit ModuleSession(const CommandLine& line)
        : path_(line.haveModule ? line.modulePath : DefaultModulePath())
    {
    }
    ~ModuleSession()
    {
        if (started_)
            module_.Exit();
        UnloadModule(module_);
    }
    bool Begin()
    {
        std::string error;
        if (!LoadModule(path_, module_, error)) {
            Complain(error);
            return false;
        }
        FillHostBlocks(services_, utilities_, context_);
        module_.Start(&services_, &context_);
        started_ = true;
        return true;
    }
    int32_t Send(int32_t request, const HelpRequest* help, ModuleInfo* info)
    {
        return module_.Message(request, help, info);
    }

private:
    std::string path_;
    LoadedModule module_;
    bool started_ = false;
    HostServices services_;
    HostUtilities utilities_;
    ModuleContext context_;
};

int InfoCommand(const CommandLine& line)
{
    RequireOnly(line, {});
    RequireArguments(line, 0, "info");
    ModuleSession session(line);
    if (!session.Begin())
        return ExitFailed;
    ModuleInfo info;
    memset(&info, 0, sizeof info);
    info.hostField = (int32_t)sizeof info;
    int32_t result = session.Send(RequestInfo, nullptr, &info);
    if (result == 0) {
        Complain("the module did not answer the information request");
        return ExitFailed;
    }
    std::string names;
    int32_t count = info.nameCount;
    if (count < 0 || count > 64 || (count > 0 && !info.names))
        count = 0;
    for (int32_t i = 0; i < count; ++i) {
        if (!info.names[i])
            continue;
        if (!names.empty())
            names += ", ";
        names += OemTextForDisplay(info.names[i]);
    }
    char title[ModuleTitleSize + 1];
    memcpy(title, info.title, ModuleTitleSize);
    title[ModuleTitleSize] = '\0';
    printf("Names:        %s\n", names.c_str());
    printf("Title:        %s\n", OemTextForDisplay(title).c_str());
    std::string what;
    if (info.capabilities & ModuleCapabilities)
        what = " (answers help requests)";
    printf("Capabilities: %d%s\n", info.capabilities, what.c_str());
    return ExitOk;
}

// One setting as the module reads it: the value's text (at most 9 characters),
// or "0" without one, as a "%i" number reduced to its parity.
int ReadSetting(const char* name)
{
    char text[12] = "0";
    std::string key = std::string(HostRegistryRoot) + "\\Velkory";
    HKEY handle = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, KEY_QUERY_VALUE, &handle) ==
        ERROR_SUCCESS) {
        DWORD size = 10;
        DWORD type = 0;
        char data[12] = {0};
        if (RegQueryValueExA(handle, name, nullptr, &type, (LPBYTE)data, &size) == ERROR_SUCCESS) {
            data[size < 10 ? size : 10] = '\0';
            memcpy(text, data, sizeof text);
        }
        RegCloseKey(handle);
    }
    int value = 0;
    if (sscanf(text, "%i", &value) != 1)
        value = 0;
    return value & 1;
}

void PrintSettings()
{
    int modality = ReadSetting("Modality");
    int visuality = ReadSetting("Visuality");
    printf("Modality:  %d (%s)\n", modality, ModuleMessageText(modality ? 3 : 4));
    printf("Visuality: %d (%s)\n", visuality, ModuleMessageText(visuality ? 6 : 5));
}

int ConfigCommand(const CommandLine& line)
{
    RequireOnly(line, {"--modality", "--visuality", "--cancel", "--show"});
    RequireArguments(line, 0, "config [--show | --cancel | --modality N --visuality N]");
    bool answered = hostOptions.modality >= 0 || hostOptions.visuality >= 0;
    if (line.show) {
        if (answered || hostOptions.cancel)
            Usage("--show does not go with --modality, --visuality or --cancel");
        PrintSettings();
        return ExitOk;
    }
    if (answered && hostOptions.cancel)
        Usage("--cancel does not go with --modality or --visuality");
    if (!answered && !hostOptions.cancel && !IsInteractive())
        Usage("config without a terminal needs --modality N --visuality N, --cancel or --show");

    ModuleSession session(line);
    if (!session.Begin())
        return ExitFailed;
    int32_t result = session.Send(RequestConfigure, nullptr, nullptr);
    if (result == 0) {
        Complain("the module did not answer the configuration request");
        return ExitFailed;
    }
    if (!IsInteractive() || answered || hostOptions.cancel)
        PrintSettings();
    return ExitOk;
}

// What the host can see of a help file that the module could not use.
void ExplainHelpFailure(const std::string& file)
{
    FILE* stream = fopen(file.c_str(), "rb");
    if (!stream) {
        Complain(file + ": " + strerror(errno));
        return;
    }
    char signature[4] = {0};
    size_t got = fread(signature, 1, sizeof signature, stream);
    fclose(stream);
    if (got != sizeof signature || memcmp(signature, "ITSF", 4) != 0) {
        Complain(file + ": not a help file (no ITSF signature)");
        return;
    }
    // A topic was chosen when the module asked for a page directory.
    if (!hostRecord.tempName.empty()) {
        struct stat st;
        if (stat(hostRecord.tempName.c_str(), &st) != 0)
            Complain("cannot create the page directory " + hostRecord.tempName);
        else
            Complain(file + ": the chosen topic's page cannot be extracted");
        return;
    }
    Complain(file + ": the topic index cannot be read");
}

int HelpCommand(const CommandLine& line)
{
    RequireOnly(line, {"--pick"});
    RequireArguments(line, 2, "help [--pick N] FILE KEYWORD");
    const std::string& file = line.arguments[0];
    const std::string& keyword = line.arguments[1];
#if defined(VELKORY_HAVE_SERVE)
    if (BrowserViewerWanted() && ReadSetting("Visuality") == 1)
        return BrowseTopic(file, keyword, ServeOptions());
#endif

    std::vector<char> oem(keyword.size() * 2 + 16);
    if (!TerminalToOem(keyword.c_str(), oem.data(), oem.size())) {
        Complain("the keyword '" + keyword + "' cannot be converted to the help file's code page");
        return ExitUsage;
    }

    ModuleSession session(line);
    if (!session.Begin())
        return ExitFailed;
    HelpRequest request;
    memset(&request, 0, sizeof request);
    request.helpFile = file.c_str();
    request.keyword = oem.data();
    int32_t result = session.Send(RequestHelp, &request, nullptr);

    if (result == 0) {
        ExplainHelpFailure(file);
        return ExitFailed;
    }
    if (hostRecord.pickOutOfRange) {
        Complain("--pick " + std::to_string(hostOptions.pick) + ": only " +
                 std::to_string(hostRecord.menuItems) + " topics match '" + keyword + "'");
        return ExitUsage;
    }
    if (hostRecord.menuShown && hostRecord.menuCancelled && !IsInteractive()) {
        Complain(std::to_string(hostRecord.menuItems) + " topics match '" + keyword +
                 "': choose one with --pick N");
    } else if (!hostRecord.menuShown && !hostRecord.pageOpened && !keyword.empty()) {
        struct stat st;
        if (stat(file.c_str(), &st) != 0)
            Complain(file + ": " + strerror(errno));
        else
            Complain("no topic of " + file + " begins with '" + keyword + "'");
    }
    return ExitOk;
}

int RunCommand(const CommandLine& line)
{
    const std::string& command = line.command;
    if (command == "info")
        return InfoCommand(line);
    if (command == "config")
        return ConfigCommand(line);
    if (command == "help")
        return HelpCommand(line);

    RequireOnly(line, {});
    if (command == "list") {
        RequireArguments(line, 1, "list FILE");
        return ListCommand(line.arguments[0]);
    }
    if (command == "cat") {
        RequireArguments(line, 2, "cat FILE NAME");
        return CatCommand(line.arguments[0], line.arguments[1]);
    }
    if (command == "extract") {
        RequireArguments(line, 2, "extract FILE DIR");
        return ExtractCommand(line.arguments[0], line.arguments[1]);
    }
    if (command == "test") {
        RequireArguments(line, 1, "test FILE");
        return TestCommand(line.arguments[0]);
    }
    if (command == "clean") {
        RequireArguments(line, 0, "clean");
        return CleanTempDirectories(true);
    }
    if (command == "render") {
        // Not in the usage text: prints a page as the host's own renderer
        // shows it, for checking that renderer.
        RequireArguments(line, 1, "render FILE");
        FILE* stream = fopen(line.arguments[0].c_str(), "rb");
        if (!stream) {
            Complain(line.arguments[0] + ": " + strerror(errno));
            return ExitFailed;
        }
        std::string html;
        char buffer[65536];
        size_t got;
        while ((got = fread(buffer, 1, sizeof buffer, stream)) > 0)
            html.append(buffer, got);
        fclose(stream);
        std::string text = RenderHtmlToText(html, 78);
        fwrite(text.data(), 1, text.size(), stdout);
        return ExitOk;
    }
    Usage("unknown command '" + command + "'");
}

}  // namespace

void Complain(const std::string& message)
{
    fflush(stdout);
    fprintf(stderr, "velkory: %s\n", message.c_str());
    fflush(stderr);
}

std::string PrintableName(const char* name)
{
    std::string out;
    for (const unsigned char* p = (const unsigned char*)name; *p; ++p) {
        if (*p < 0x20 || *p == 0x7f) {
            char escape[8];
            snprintf(escape, sizeof escape, "\\x%02x", *p);
            out += escape;
        } else {
            out += (char)*p;
        }
    }
    return out;
}

std::string OemTextForDisplay(const char* text)
{
    size_t length = strlen(text);
    std::vector<char> buffer(length * 4 + 8);
    OemToTerminal(text, buffer.data(), buffer.size());
    return PrintableName(buffer.data());
}

int main(int argc, char** argv)
{
#if defined(VELKORY_HAVE_SERVE)
    if (argc >= 2 && (strcmp(argv[1], "serve") == 0 || strcmp(argv[1], "browse") == 0)) {
        std::vector<std::string> words(argv + 2, argv + argc);
        return argv[1][0] == 's' ? ServeCommand(words) : BrowseCommand(words);
    }
#endif
    try {
        CommandLine line = ParseCommandLine(argc, argv);
        for (const std::string& seen : line.optionsSeen) {
            if (seen == "--help") {
                fputs(UsageText, stdout);
                return ExitOk;
            }
            if (seen == "--version") {
                printf("velkory %s\n", VELKORY_VERSION);
                return ExitOk;
            }
        }
        if (line.command.empty())
            Usage("no command given");
        int status = RunCommand(line);
        fflush(stdout);
        if (ferror(stdout)) {
            fprintf(stderr, "velkory: cannot write to standard output\n");
            return ExitFailed;
        }
        return status;
    } catch (const UsageError& error) {
        fprintf(stderr, "velkory: %s (try 'velkory --help')\n", error.message.c_str());
        return ExitUsage;
    }
}
