// The names that MakeTempName makes in the temporary directory, and the
// clean command that removes the ones left behind.
//
// A help request makes a directory "VLKT-<16 hex digits>" holding the page it
// showed. The module never deletes it (the viewer may still have the page
// open); the host does once a viewer or editor it waited for has ended
// (page/). `velkory clean` removes those whose recorded viewer has ended,
// whatever their age, and those without a record that are more than a day
// old.
// `velkory clean --cache` empties the cache of search indexes instead.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <system_error>

#include "host/commands/commands.h"
#include "host/host.h"
#include "host/os/os.h"
#include "host/page/page.h"
#if defined(VELKORY_HAVE_SEARCH)
#include "host/search/search.h"
#endif

namespace {

constexpr const char* HostTempPrefix = "VLKT";
constexpr long OneDay = 24L * 60 * 60;

bool IsHostTempName(const std::string& name)
{
    const size_t prefix = strlen(HostTempPrefix);
    if (name.size() != prefix + 17 || name.compare(0, prefix, HostTempPrefix) != 0 ||
        name[prefix] != '-')
        return false;
    for (size_t i = prefix + 1; i < name.size(); ++i) {
        char c = name[i];
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    }
    return true;
}

#if defined(VELKORY_HAVE_SEARCH)
int EmptyCache()
{
    SearchCache cache;
    std::string error;
    if (!UserSearchCache(cache, error)) {
        Complain(error);
        return 1;
    }
    CacheCleaning cleaning = EmptySearchCache(cache);
    for (const std::string& failure : cleaning.failures)
        Complain("cannot remove " + failure);
    printf("%d search ind%s removed from %s\n", cleaning.removed,
           cleaning.removed == 1 ? "ex" : "exes", cache.directory.c_str());
    if (cleaning.busy)
        printf("%d left: another velkory is building %s\n", cleaning.busy,
               cleaning.busy == 1 ? "it" : "them");
    return cleaning.failures.empty() ? 0 : 1;
}
#endif

}  // namespace

int CleanCommand(const CommandLine& line)
{
#if defined(VELKORY_HAVE_SEARCH)
    if (line.cache)
        return EmptyCache();
#else
    (void)line;
#endif
    const std::string dir = TempDirectory();
    const time_t now = time(nullptr);
    int removed = 0, failed = 0;

    std::error_code ec;
    std::filesystem::directory_iterator it(std::filesystem::path(dir), ec);
    if (ec) {
        Complain("cannot read the temporary directory " + dir + ": " + ec.message());
        return 1;
    }
    for (; it != std::filesystem::directory_iterator(); it.increment(ec)) {
        if (ec)
            break;
        const std::string name = it->path().filename().string();
        if (!IsHostTempName(name))
            continue;
        const std::string path = it->path().string();
        time_t modified = 0;
        if (!IsOwnDirectory(path, modified))
            continue;
        ViewerState viewer = PageViewerState(path);
        if (viewer == ViewerRunning || (viewer == ViewerUnrecorded && now - modified < OneDay))
            continue;
        // remove_all removes symbolic links inside without following them.
        std::error_code removeError;
        std::filesystem::remove_all(it->path(), removeError);
        if (removeError) {
            Complain("cannot remove " + path + ": " + removeError.message());
            ++failed;
        } else {
            ++removed;
            printf("removed %s\n", path.c_str());
        }
    }
    printf("%d director%s removed from %s\n", removed, removed == 1 ? "y" : "ies", dir.c_str());
    return failed ? 1 : 0;
}
