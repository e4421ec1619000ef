// The temporary directory, the names that MakeTempName makes there, and the
// clean command that removes the old ones.
//
// Every help request leaves a directory "VLKT-<16 hex digits>" holding the
// page it showed (the module never deletes it: the viewer may still have the
// page open). `velkory clean` removes those that are more than a day old.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <system_error>

#include <sys/stat.h>
#include <sys/types.h>
#if !defined(_WIN32)
#include <dirent.h>
#include <unistd.h>
#endif

#include "host/host.h"
#include "platform/platform.h"

namespace {

constexpr const char* HostTempPrefix = "VLKT";
constexpr long OneDay = 24L * 60 * 60;

}  // namespace

std::string TempDirectory()
{
#if defined(_WIN32)
    char buffer[MAX_PATH + 1];
    DWORD length = GetTempPathA(sizeof buffer, buffer);
    std::string dir = (length > 0 && length < sizeof buffer) ? std::string(buffer, length)
                                                             : std::string("C:\\Windows\\Temp");
    while (dir.size() > 3 && (dir.back() == '\\' || dir.back() == '/'))
        dir.pop_back();
    return dir;
#else
    const char* env = getenv("TMPDIR");
    std::string dir = (env && env[0]) ? env : "/tmp";
    while (dir.size() > 1 && dir.back() == '/')
        dir.pop_back();
    return dir;
#endif
}

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

int CleanTempDirectories(bool verbose)
{
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
#if defined(_WIN32)
        // The temporary directory is the user's own on Windows.
        struct _stat64 st;
        if (_stat64(path.c_str(), &st) != 0 || !(st.st_mode & _S_IFDIR))
            continue;
        DWORD attributes = GetFileAttributesA(path.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
            continue;
#else
        struct stat st;
        if (lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != getuid())
            continue;
#endif
        if (now - st.st_mtime < OneDay)
            continue;
        // remove_all removes symbolic links inside without following them.
        std::error_code removeError;
        std::filesystem::remove_all(it->path(), removeError);
        if (removeError) {
            Complain("cannot remove " + path + ": " + removeError.message());
            ++failed;
        } else {
            ++removed;
            if (verbose)
                printf("removed %s\n", path.c_str());
        }
    }
    printf("%d director%s removed from %s\n", removed, removed == 1 ? "y" : "ies", dir.c_str());
    return failed ? 1 : 0;
}
