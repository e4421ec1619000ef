// The command line: options, the command and its arguments, checked against
// the table of commands and dispatched. A new command is one entry in
// Commands and one function in a file of its own.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "host/cli/cli.h"
#include "host/commands/commands.h"
#include "host/host.h"
#include "host/os/os.h"
#include "platform/terminal_text.h"

#ifndef VELKORY_VERSION
#define VELKORY_VERSION "0.0.0"
#endif

namespace {

const char UsageHead[] =
    "Usage: velkory [--module PATH] COMMAND [ARGUMENTS]\n"
    "\n"
    "Context help from Compiled HTML Help files (.chm), through the Velkory module.\n"
    "\n"
    "Commands that drive the module:\n"
    "  help [--pick N] [FILE|DIR...] KEYWORD\n"
    "                                 show the topic of FILE whose title (else whose\n"
    "                                 keyword index entry, else a word of whose text)\n"
    "                                 begins with KEYWORD; with several, choose in a\n"
    "                                 menu (or the Nth with --pick; without a terminal\n"
    "                                 and without --pick the topics are listed on\n"
    "                                 stderr); several files, and directories of them,\n"
    "                                 make one menu; without FILE, those of\n"
    "                                 $VELKORY_PATH\n"
#if defined(VELKORY_HAVE_SEARCH)
    "  help --search [--pick N] FILE KEYWORD\n"
    "                                 the same; when nothing answers, the pages whose\n"
    "                                 text holds KEYWORD, as search shows them (on a\n"
    "                                 terminal, help asks whether to search)\n"
#endif
    "  help [--pick N] --alink NAME [FILE|DIR...]\n"
    "                                 the same for the pages that name themselves\n"
    "                                 for associative links (A-links) NAME...\n"
    "  open TARGET                    the page TARGET names, opened as help opens a\n"
    "                                 topic: FILE::/page.htm#anchor, or\n"
    "                                 ms-its:FILE::/page.htm (mk:@MSITStore: too),\n"
    "                                 or FILE alone: its default topic\n"
    "  open --id N FILE               the topic of context ID N (also -mapid N FILE)\n"
    "  open --alias NAME [--map FILE] HELPFILE\n"
    "                                 the topic of a name of the help project, as the\n"
    "                                 map header FILE (else one HELPFILE stores)\n"
    "                                 defines it\n"
    "  info                           the module's names, title and capabilities\n"
    "  config                         change the settings in a dialog; without a\n"
    "                                 terminal: --modality N --visuality N saves those\n"
    "                                 positions, --cancel leaves, --show prints them\n"
    "\n"
    "Commands that read a help file directly:\n"
    "  list FILE                      every stored file: section, offset, length, name\n"
    "  cat FILE NAME                  one stored file to standard output\n"
    "  extract [-j N] FILE DIR        every stored file below DIR\n"
    "  test [-j N] FILE               extract every stored file in memory and check it\n"
    "                                 (-j N: decode on N threads; default: one per core)\n"
    "  topics FILE [PREFIX]           every topic title (beginning with PREFIX), a tab,\n"
    "                                 its page\n"
    "  index FILE [PREFIX]            every keyword index entry (beginning with PREFIX),\n"
    "                                 a tab, its page\n"
    "  fulltext FILE WORD             every page whose text holds a word beginning with\n"
    "                                 WORD (from the full-text index): its title, a\n"
    "                                 tab, its page\n"
#if defined(VELKORY_HAVE_SEARCH)
    "  search [--limit N] [--json] FILE|DIR... QUERY\n"
    "                                 the pages whose text matches QUERY, best first:\n"
    "                                 title, a tab, the page (and on a terminal the\n"
    "                                 snippet, then the page opens as help opens one);\n"
    "                                 every word is needed, \"a phrase\", prefix*,\n"
    "                                 -excluded; a DIR stands for the help files below\n"
    "                                 it; --limit N hits (20), --json one object a line\n"
#endif
    "\n"
#if defined(VELKORY_HAVE_SERVE)
    "Commands that show help files in the browser:\n"
    "  serve [--port N] [--new-token] [--no-open] [--watch-stdin] FILE|DIR...\n"
    "                                 serve the help files (a folder's too) on 127.0.0.1\n"
    "                                 with a viewer (contents, index, search) until\n"
    "                                 interrupted; the first line of output is its URL,\n"
    "                                 the same from run to run (--port N: another port;\n"
    "                                 --new-token: new URLs); --watch-stdin: until\n"
    "                                 standard input ends, or, when it gives a process\n"
    "                                 number first, until that process ends\n"
    "  browse [--pick N] [--port N] [--new-token] [--no-open] [FILE|DIR...] [KEYWORD]\n"
    "                                 the topic as help finds it, in the browser\n"
    "\n"
#endif
#if defined(VELKORY_HAVE_LSP)
    "Commands for editors:\n"
    "  lsp                            a language server on standard input and output:\n"
    "                                 hover, definition and workspace symbols from the\n"
    "                                 help files the client names, else $VELKORY_PATH\n"
    "\n"
#endif
#if defined(VELKORY_HAVE_EXPORT)
    "Commands that convert a help file:\n"
    "  export [--to FORMAT] [--output PATH] [--split DIR] [--assets DIR] FILE\n"
    "                                 the whole help file as one file: FORMAT epub\n"
    "                                 (the default), html (self-contained; images in\n"
    "                                 DIR with --assets), markdown (through pandoc; a\n"
    "                                 file per topic in DIR with --split), text or\n"
    "                                 jsonl (a JSON object per topic); by default from\n"
    "                                 PATH's extension, and PATH is FILE's name with\n"
    "                                 the format's extension; PATH - is standard output\n"
    "\n"
#else
    "(export is not in this build: it needs libzip and gumbo.)\n"
    "\n"
#endif
    "Other commands:\n"
    "  clean                          remove this host's page directories (VLKT-*) from\n"
    "                                 the temporary directory whose viewer has ended,\n"
    "                                 or, without a record of it, over a day old\n"
#if defined(VELKORY_HAVE_SEARCH)
    "  clean --cache                  empty the cache of search indexes\n"
    "                                 ($XDG_CACHE_HOME/velkory, else ~/.cache/velkory)\n"
#endif
    "  --help, --version\n"
    "\n"
    "Options:\n"
    "  --module PATH                  load the module from PATH instead of beside the\n"
    "                                 program\n"
    "\n";

const char UsageTail[] =
    "Settings: $VELKORY_REGISTRY, else $XDG_CONFIG_HOME/velkory/registry.reg, else\n"
    "~/.config/velkory/registry.reg.\n"
    "Exit status: 0 done (help: a page opened or the menu left), 1 failed (help:\n"
    "also when no topic matched or the viewer failed; search: also when nothing\n"
    "matched), 2 usage error.\n";

struct Command {
    const char* name;
    const char* synopsis;              // for a wrong number of arguments
    size_t arguments;                  // exactly this many
    std::vector<const char*> options;  // the options that apply
    int (*run)(const CommandLine& line);
    size_t optionalArguments = 0;  // and up to this many more
};

const Command Commands[] = {
#if defined(VELKORY_HAVE_SEARCH)
    {"help",
     "help [--search] [--pick N] [FILE|DIR...] KEYWORD | help [--pick N] --alink NAME "
     "[FILE|DIR...]",
     0,
     {"--pick", "--search", "--alink"},
     HelpCommand,
     SIZE_MAX},
#else
    {"help",
     "help [--pick N] [FILE|DIR...] KEYWORD | help [--pick N] --alink NAME [FILE|DIR...]",
     0,
     {"--pick", "--alink"},
     HelpCommand,
     SIZE_MAX},
#endif
    {"open",
     "open TARGET | open (--id N | --alias NAME [--map FILE]) FILE",
     1,
     {"--id", "--alias", "--map"},
     OpenCommand},
    {"info", "info", 0, {}, InfoCommand},
    {"config",
     "config [--show | --cancel | --modality N --visuality N]",
     0,
     {"--modality", "--visuality", "--cancel", "--show"},
     ConfigCommand},
    {"list", "list FILE", 1, {}, ListCommand},
    {"cat", "cat FILE NAME", 2, {}, CatCommand},
    {"extract", "extract [-j N] FILE DIR", 2, {"-j"}, ExtractCommand},
    {"test", "test [-j N] FILE", 1, {"-j"}, TestCommand},
    {"topics", "topics FILE [PREFIX]", 1, {}, TopicsCommand, 1},
    {"index", "index FILE [PREFIX]", 1, {}, IndexCommand, 1},
    {"fulltext", "fulltext FILE WORD", 2, {}, FullTextCommand},
#if defined(VELKORY_HAVE_SEARCH)
    {"clean", "clean [--cache]", 0, {"--cache"}, CleanCommand},
    {"search",
     "search [--limit N] [--json] FILE|DIR... QUERY",
     2,
     {"--limit", "--json"},
     SearchCommand,
     SIZE_MAX - 2},
#else
    {"clean", "clean", 0, {}, CleanCommand},
#endif
#if defined(VELKORY_HAVE_SERVE)
    {"serve",
     "serve [--port N] [--new-token] [--no-open] [--watch-stdin] FILE|DIR...",
     1,
     {"--port", "--new-token", "--no-open", "--watch-stdin"},
     ServeCommand,
     SIZE_MAX - 1},
    {"browse",
     "browse [--pick N] [--port N] [--new-token] [--no-open] [FILE|DIR...] [KEYWORD]",
     0,
     {"--pick", "--port", "--new-token", "--no-open"},
     BrowseCommand,
     SIZE_MAX},
#endif
#if defined(VELKORY_HAVE_LSP)
    {"lsp", "lsp", 0, {}, LspCommand},
#endif
#if defined(VELKORY_HAVE_EXPORT)
    {"export",
     "export [--to FORMAT] [--output PATH] [--split DIR] [--assets DIR] FILE",
     1,
     {"--to", "--output", "--split", "--assets"},
     ExportCommand},
#endif
};

// The number value of option, from low to high; false, with the reason in
// error, when value is none.
bool ParsePosition(const std::string& option, const std::string& value, int low, int high,
                   int& number, std::string& error)
{
    char* end = nullptr;
    errno = 0;
    long parsed = strtol(value.c_str(), &end, 10);
    if (value.empty() || *end != '\0' || errno != 0 || parsed < low || parsed > high) {
        error = option + " expects a number from " + std::to_string(low) +
            (high < 1000000 ? " to " + std::to_string(high) : " up") + ", not '" + value + "'";
        return false;
    }
    number = (int)parsed;
    return true;
}

// A context ID as help projects write them: decimal, 0x hexadecimal or
// negative (taken as its two's complement); false, with the reason in error,
// when value is none.
bool ParseContextId(const std::string& option, const std::string& value, uint32_t& id,
                    std::string& error)
{
    char* end = nullptr;
    errno = 0;
    long long parsed = strtoll(value.c_str(), &end, 0);
    bool octal = value.size() > 1 && value[0] == '0' && value[1] != 'x' && value[1] != 'X';
    if (value.empty() || *end != '\0' || errno != 0 || octal || parsed < INT32_MIN ||
        parsed > UINT32_MAX) {
        error =
            option + " expects a context ID (a number, 0x for hexadecimal), not '" + value + "'";
        return false;
    }
    id = (uint32_t)parsed;
    return true;
}

// Reads the options and the command with its arguments into line; false,
// with the usage error in error, when they cannot be.
bool ParseCommandLine(int argc, char** argv, CommandLine& line, std::string& error)
{
    line.words.assign(argc > 1 ? argv + 1 : argv + argc, argv + argc);
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--" && !optionsEnded) {
            optionsEnded = true;
            continue;
        }
        // Options come before the command's arguments: after its first one
        // (a help file, say) a word that begins with '-' is an argument too.
        if (optionsEnded || !line.arguments.empty() || arg.size() < 2 || arg[0] != '-') {
            if (line.command.empty())
                line.command = arg;
            else
                line.arguments.push_back(arg);
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
        // The option's value: after '=' or the next word.
        auto takeValue = [&](std::string& out) {
            if (inlineValue) {
                out = value;
                return true;
            }
            if (i + 1 >= argc) {
                error = name + " needs a value";
                return false;
            }
            out = argv[++i];
            return true;
        };
        // The option's number value, from low to high, into target.
        auto takeNumber = [&](const std::string& option, int low, int high, int& target) {
            std::string text;
            return takeValue(text) && ParsePosition(option, text, low, high, target, error);
        };
        bool ok = true;
        if (name == "--help" || name == "-h") {
            line.optionsSeen.push_back("--help");
        } else if (name == "--version") {
            line.optionsSeen.push_back("--version");
        } else if (name == "--module") {
            ok = takeValue(line.modulePath);
            if (ok && line.modulePath.empty()) {
                error = "--module needs a path";
                ok = false;
            }
        } else if (name == "--pick") {
            ok = takeNumber(name, 1, 1 << 30, line.pick);
            line.optionsSeen.push_back(name);
        } else if (name == "-j" || name == "--jobs" || name.compare(0, 2, "-j") == 0) {
            std::string count;
            if (name.size() > 2 && name[1] == 'j')
                count = name.substr(2);
            else
                ok = takeValue(count);
            ok = ok && ParsePosition("-j", count, 1, 256, line.jobs, error);
            line.optionsSeen.push_back("-j");
        } else if (name == "--modality") {
            ok = takeNumber(name, 0, 1, line.modality);
            line.optionsSeen.push_back(name);
        } else if (name == "--visuality") {
            ok = takeNumber(name, 0, 1, line.visuality);
            line.optionsSeen.push_back(name);
        } else if (name == "--cancel") {
            line.cancel = true;
            line.optionsSeen.push_back(name);
        } else if (name == "--show") {
            line.show = true;
            line.optionsSeen.push_back(name);
        } else if (name == "--id" || name == "-mapid") {
            // -mapid is the Windows help viewer's spelling.
            std::string text;
            ok = takeValue(text) && ParseContextId(name, text, line.contextId, error);
            line.hasContextId = true;
            line.optionsSeen.push_back("--id");
        } else if (name == "--alias" || name == "--map" || name == "--alink") {
            std::string& target = name == "--alias" ? line.alias
                : name == "--map"                   ? line.mapFile
                                                    : line.alink;
            ok = takeValue(target);
            if (ok && target.empty()) {
                error = name + " needs a " + (name == "--map" ? "file" : "name");
                ok = false;
            }
            line.optionsSeen.push_back(name);
        } else if (name == "--port") {
            ok = takeNumber(name, 0, 65535, line.port);
            line.optionsSeen.push_back(name);
        } else if (name == "--to" || name == "--output" || name == "-o" || name == "--split" ||
                   name == "--assets") {
            if (name == "-o")
                name = "--output";
            std::string& target = name == "--to" ? line.to
                : name == "--output"             ? line.output
                : name == "--split"              ? line.split
                                                 : line.assets;
            ok = takeValue(target);
            if (ok && target.empty()) {
                error = name + " needs a value";
                ok = false;
            }
            line.optionsSeen.push_back(name);
        } else if (name == "--no-open") {
            line.open = false;
            line.optionsSeen.push_back(name);
        } else if (name == "--limit") {
            ok = takeNumber(name, 1, 100000, line.limit);
            line.optionsSeen.push_back(name);
        } else if (name == "--json") {
            line.json = true;
            line.optionsSeen.push_back(name);
        } else if (name == "--cache") {
            line.cache = true;
            line.optionsSeen.push_back(name);
        } else if (name == "--search") {
            line.search = true;
            line.optionsSeen.push_back(name);
        } else if (name == "--new-token") {
            line.newToken = true;
            line.optionsSeen.push_back(name);
        } else if (name == "--watch-stdin") {
            line.watchStdin = true;
            line.optionsSeen.push_back(name);
        } else {
            error = "unknown option '" + arg + "'";
            return false;
        }
        if (!ok)
            return false;
        if (inlineValue &&
            (name == "--help" || name == "-h" || name == "--version" || name == "--cancel" ||
             name == "--show" || name == "--no-open" || name == "--json" || name == "--cache" ||
             name == "--search" || name == "--new-token" || name == "--watch-stdin")) {
            error = name + " takes no value";
            return false;
        }
    }
    return true;
}

// The option seen that does not apply to the command; "" when all do.
std::string OptionNotApplying(const CommandLine& line, const std::vector<const char*>& allowed)
{
    for (const std::string& seen : line.optionsSeen) {
        bool ok = false;
        for (const char* name : allowed)
            ok = ok || seen == name;
        if (!ok)
            return seen;
    }
    return "";
}

int Dispatch(const CommandLine& line)
{
    for (const Command& command : Commands) {
        if (line.command != command.name)
            continue;
        std::string option = OptionNotApplying(line, command.options);
        if (!option.empty())
            return UsageFailure(option + " does not apply to " + line.command);
        size_t count = line.arguments.size();
        if (count < command.arguments || count > command.arguments + command.optionalArguments)
            return UsageFailure(std::string(count < command.arguments ? "missing" : "too many") +
                                " arguments: velkory " + command.synopsis);
        return command.run(line);
    }
    return UsageFailure("unknown command '" + line.command + "'");
}

}  // namespace

int RunVelkory(int argc, char** argv)
{
    KeepFreedMemory();
    AdoptUserLocale();
    CommandLine line;
    std::string error;
    if (!ParseCommandLine(argc, argv, line, error))
        return UsageFailure(error);
    for (const std::string& seen : line.optionsSeen) {
        if (seen == "--help") {
            fputs(UsageHead, stdout);
            fputs(System.pageOpeningHelp, stdout);
            fputs(UsageTail, stdout);
            return ExitOk;
        }
        if (seen == "--version") {
            printf("velkory %s\n", VELKORY_VERSION);
            return ExitOk;
        }
    }
    if (line.command.empty())
        return UsageFailure("no command given");
    if (const char* why = CodePageSettingError()) {
        const char* setting = getenv("VELKORY_CODEPAGES");
        fprintf(stderr, "velkory: VELKORY_CODEPAGES=%s cannot be used: %s\n",
                setting ? setting : "", why);
        return ExitUsage;
    }
    int status = Dispatch(line);
    fflush(stdout);
    if (ferror(stdout)) {
        fprintf(stderr, "velkory: cannot write to standard output\n");
        return ExitFailed;
    }
    return status;
}
