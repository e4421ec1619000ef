// The commands, one function each, and the record the command line gives
// them. cli/ fills the record and checks the number of arguments and which
// options apply; a command checks what only it can know and returns its exit
// status (a usage error through UsageFailure, never thrown).
//
// Room commands/: may call serve/, module/, page/, terminal/, os/ and the
// module's container/, lookup/ and platform/.
#pragma once

#include <string>
#include <vector>

// What the command line asked for.
struct CommandLine {
    std::string command;
    std::vector<std::string> arguments;
    std::string modulePath;  // --module PATH; "" for the module beside the program
    int pick = 0;            // --pick N (from 1); 0 when not given
    int modality = -1;       // --modality N; -1 when not given
    int visuality = -1;      // --visuality N; -1 when not given
    bool cancel = false;     // --cancel
    bool show = false;       // --show
    int jobs = 0;            // -j N: decoding workers for test and extract; 0: one per core
    int port = 0;            // --port N (serve, browse)
    bool open = true;        // unless --no-open
    std::string to;          // --to FORMAT (export)
    std::string output;      // --output PATH (export)
    std::string split;       // --split DIR (export)
    std::string assets;      // --assets DIR (export)
    std::vector<std::string> optionsSeen;
    // The command line as given (argv[1..]), for a program run in this one's place.
    std::vector<std::string> words;
};

int InfoCommand(const CommandLine& line);    // module_commands.cpp
int ConfigCommand(const CommandLine& line);  // module_commands.cpp
int HelpCommand(const CommandLine& line);    // help.cpp
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
int ExportCommand(const CommandLine& line);  // export.cpp, where the build has the exporter

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
