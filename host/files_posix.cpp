// The file system on POSIX systems, and the facts of the system (System).
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include "host/system.h"

const SystemTraits System = {
    "less",
    "vi",
    "libvelkory.so",
    '/',
    "/tmp",
    false,
    false,
    true,
    "Pages open in $VELKORY_VIEWER, else $PAGER, else less (rendered to text), or in\n"
    "$VELKORY_EDITOR, else $VISUAL, else $EDITOR, else vi. Settings are kept under\n"
    "HKEY_CURRENT_USER\\Software\\VelkoryHost\\Velkory in $VELKORY_REGISTRY, else\n"
    "$XDG_CONFIG_HOME/velkory/registry.reg.\n",
    "\u250c",
    "\u2510",
    "\u2514",
    "\u2518",
    "\u2500",
    "\u2502",
    true,
};

std::string ExecutableDirectory()
{
    char buffer[PATH_MAX + 1];
    ssize_t length = readlink("/proc/self/exe", buffer, PATH_MAX);
    if (length <= 0)
        return ".";
    std::string path(buffer, (size_t)length);
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
}

std::string TempDirectory()
{
    const char* env = getenv("TMPDIR");
    std::string dir = (env && env[0]) ? env : "/tmp";
    while (dir.size() > 1 && dir.back() == '/')
        dir.pop_back();
    return dir;
}

bool PathExists(const std::string& path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0 || errno != ENOENT;
}

bool IsOwnDirectory(const std::string& path, time_t& modified)
{
    struct stat st;
    if (lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != getuid())
        return false;
    modified = st.st_mtime;
    return true;
}

uint64_t ProcessNumber()
{
    return (uint64_t)getpid();
}

void SetBinaryOutput() { }

bool MakeTargetDirectory(const std::string& target, std::string& root, std::string& error)
{
    root = target;
    if (mkdir(root.c_str(), 0777) != 0 && errno != EEXIST) {
        error = strerror(errno);
        return false;
    }
    return true;
}

std::string NativeComponent(const std::string& component)
{
    return component;
}

WriteResult WriteBelow(const std::string& root, const std::vector<std::string>& components,
                       bool onlyDirectories, const uint8_t* data, size_t length,
                       std::string& reason)
{
    int dir = open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) {
        reason = "cannot open " + root + ": " + strerror(errno);
        return WriteFailed;
    }
    size_t directories = onlyDirectories ? components.size() : components.size() - 1;
    for (size_t i = 0; i < directories; ++i) {
        const char* component = components[i].c_str();
        if (mkdirat(dir, component, 0777) != 0 && errno != EEXIST) {
            reason = "cannot create the directory " + components[i] + ": " + strerror(errno);
            close(dir);
            return WriteFailed;
        }
        // Opened without following a link: the way stays inside the target.
        int next = openat(dir, component, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0) {
            int error = errno;
            close(dir);
            if (error == ELOOP || error == ENOTDIR) {
                reason = "'" + components[i] + "' on the way is a symbolic link or not a directory";
                return Refused;
            }
            reason = "cannot open the directory " + components[i] + ": " + strerror(error);
            return WriteFailed;
        }
        close(dir);
        dir = next;
    }
    if (onlyDirectories) {
        close(dir);
        return Written;
    }
    int fd = openat(dir, components.back().c_str(),
                    O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666);
    int error = errno;
    close(dir);
    if (fd < 0) {
        if (error == ELOOP) {
            reason = "the target is a symbolic link";
            return Refused;
        }
        reason = "cannot create the file: " + std::string(strerror(error));
        return WriteFailed;
    }
    size_t done = 0;
    while (done < length) {
        ssize_t wrote = write(fd, data + done, length - done);
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote <= 0) {
            reason = "cannot write the file: " + std::string(strerror(errno));
            close(fd);
            return WriteFailed;
        }
        done += (size_t)wrote;
    }
    if (close(fd) != 0) {
        reason = "cannot write the file: " + std::string(strerror(errno));
        return WriteFailed;
    }
    return Written;
}
