// export in velkory itself: the exporter lives in velkory-export, so that
// the other commands start without loading libzip (and libcrypto with it).
// velkory gives the process over to velkory-export with the same command
// line, which runs the command as if it had been started in the first place.
#include <string>
#include <vector>

#include "host/export/export.h"
#include "host/host.h"
#include "host/os/os.h"

namespace {

#if defined(VELKORY_INSTALLED_EXPORTER)
const char* const InstalledExporter = VELKORY_INSTALLED_EXPORTER;
#else
const char* const InstalledExporter = nullptr;
#endif

}  // namespace

int RunExport(const std::string&, const ExportOptions& options)
{
    std::string path = CompanionPath("velkory-export", InstalledExporter);
    std::vector<std::string> argv {path};
    argv.insert(argv.end(), options.words.begin(), options.words.end());
    std::string error;
    ReplaceProgram(path, argv, error);
    Complain("export: cannot start " + path + ": " + error);
    return ExitFailed;
}
