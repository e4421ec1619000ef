// The lsp command: the language server over standard input and output, its
// shelf from the client's initialization options, else from $VELKORY_PATH.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "host/commands/commands.h"
#include "host/lsp/lsp.h"
#include "host/os/os.h"

int LspCommand(const CommandLine&)
{
    LspOptions options;
    options.expandShelf = [](const std::vector<std::string>& places) {
        std::vector<std::string> files;
        ShelfFiles(places, files);
        return files;
    };
    const char* path = getenv("VELKORY_PATH");
    if (path != nullptr && path[0] != '\0')
        ShelfFiles({}, options.shelf);
    SetBinaryOutput();
    // An editor that goes away leaves the server to end at the end of its
    // input, removing its pages, not to be killed by its next answer.
    IgnoreBrokenPipe();
    return RunLanguageServer(stdin, stdout, options);
}
