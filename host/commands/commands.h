// The commands, one function each, and the record the command line gives
// them. cli/ fills the record and checks the number of arguments and which
// options apply; a command checks what only it can know and returns its exit
// status (a usage error through UsageFailure, never thrown).
//
// Room commands/: may call serve/, search/, lsp/, module/, page/, terminal/,
// os/ and the module's container/, lookup/ and platform/.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// What the command line asked for.
struct CommandLine {
    std::string command;
    std::vector<std::string> arguments;
    std::string modulePath;     // --module PATH; "" for the module beside the program
    int pick = 0;               // --pick N (from 1); 0 when not given
    int modality = -1;          // --modality N; -1 when not given
    int visuality = -1;         // --visuality N; -1 when not given
    bool cancel = false;        // --cancel
    bool show = false;          // --show
    int jobs = 0;               // -j N: decoding workers for test and extract; 0: one per core
    int port = -1;              // --port N (serve, browse); -1 when not given
    bool newToken = false;      // --new-token (serve, browse)
    bool open = true;           // unless --no-open
    int limit = 0;              // --limit N (search); 0 when not given
    bool json = false;          // --json (search)
    bool cache = false;         // --cache (clean)
    bool search = false;        // --search (help)
    bool watchStdin = false;    // --watch-stdin (serve)
    bool hasContextId = false;  // --id N or -mapid N (open)
    uint32_t contextId = 0;     // its context ID (a negative one as its two's complement)
    std::string alias;          // --alias NAME (open)
    std::string mapFile;        // --map FILE: the map header that defines the alias
    std::string alink;          // --alink NAME (help)
    std::string to;             // --to FORMAT (export)
    std::string output;         // --output PATH (export)
    std::string split;          // --split DIR (export)
    std::string assets;         // --assets DIR (export)
    std::vector<std::string> optionsSeen;
    // The command line as given (argv[1..]), for a program run in this one's place.
    std::vector<std::string> words;
};

int InfoCommand(const CommandLine& line);    // module_commands.cpp
int ConfigCommand(const CommandLine& line);  // module_commands.cpp
int HelpCommand(const CommandLine& line);    // help.cpp
int OpenCommand(const CommandLine& line);    // open.cpp
int ListCommand(const CommandLine& line);    // archive.cpp
int CatCommand(const CommandLine& line);
int ExtractCommand(const CommandLine& line);
int TestCommand(const CommandLine& line);
int TopicsCommand(const CommandLine& line);  // keyword_commands.cpp
int IndexCommand(const CommandLine& line);
int FullTextCommand(const CommandLine& line);  // fulltext.cpp
int CleanCommand(const CommandLine& line);     // clean.cpp
int ServeCommand(const CommandLine& line);     // serve.cpp, where the build has the server
int BrowseCommand(const CommandLine& line);
int LspCommand(const CommandLine& line);     // lsp.cpp, where the build has the language server
int ExportCommand(const CommandLine& line);  // export.cpp, where the build has the exporter
// search.cpp, where the build has the search (velkory-serve); velkory takes
// search_relay.cpp's, which hand the command over to velkory-serve.
int SearchCommand(const CommandLine& line);
// When no title or index entry of file begins with keyword: the pages whose
// text holds it, shown as search shows them (help --search, or the user's
// yes). The exit status of help.
int SearchPagesInstead(const CommandLine& line, const std::string& file,
                       const std::string& keyword);

// help.cpp: what the host can see of a page directory it named (name) that
// holds no page of file: what is at the name instead, or why the module could
// not write there; said on stderr.
void ExplainPageDirectory(const std::string& file, const std::string& name);

// open.cpp: what `velkory open` is given, in the forms the Windows help viewer
// takes: FILE::/page.htm#anchor, ms-its:FILE::/page.htm (also mk:@MSITStore:
// and its:), with a window name (">main") after the page ignored. page is
// the stored name with its leading "/" ("" when TARGET names no page),
// anchor "" without one.
struct OpenTarget {
    std::string file, page, anchor;
};
// False, with the reason in error, when TARGET names no help file.
bool ParseOpenTarget(const std::string& text, OpenTarget& target, std::string& error);
// Opens the page of file stored as name (found as ResolveStoredName finds
// it) at anchor ("" for none) as a help request opens the page it chose,
// through the module's own code. The exit status, having said why on failure.
int OpenStoredPage(const std::string& file, const std::string& name, const std::string& anchor);

// shelf.cpp: the help files of a shelf: those given, a directory standing
// for every help file (*.chm) below it in the order of their paths, else the
// places of $VELKORY_PATH (colon-separated) taken so. ExitOk, else the exit
// status having said why: a usage error when none is given and VELKORY_PATH
// names none, a failure when the directories hold no help file.
int ShelfFiles(const std::vector<std::string>& given, std::vector<std::string>& files);
// Whether path ends as a help file's name does (".chm", any letter case).
bool HasHelpFileName(const std::string& path);

// workers.cpp: threads that run batches of decoding jobs for test and
// extract, living as long as the pool and taking the batches in the order
// they were started; StartJobs and WaitJobs are the container's StreamOptions
// callbacks of those names.
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
