// The file system on POSIX systems, and the facts of the system (System).
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include "host/os/os.h"
#include "platform/io.h"

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

void IgnoreBrokenPipe()
{
    signal(SIGPIPE, SIG_IGN);
}

size_t ReadAvailable(FILE* in, char* buffer, size_t size)
{
    ssize_t n;
    do
        n = read(fileno(in), buffer, size);
    while (n < 0 && errno == EINTR);
    return n > 0 ? (size_t)n : 0;
}

std::string MakePrivateDirectory(const std::string& prefix)
{
    std::string pattern = TempDirectory() + "/" + prefix + "XXXXXX";
    return mkdtemp(pattern.data()) != nullptr ? pattern : "";
}

bool PathExists(const std::string& path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0 || (errno != ENOENT && errno != ENOTDIR);
}

PathKind PathKindAt(const std::string& path, bool followLinks)
{
    struct stat st;
    if ((followLinks ? stat(path.c_str(), &st) : lstat(path.c_str(), &st)) != 0)
        return PathMissing;
    if (S_ISDIR(st.st_mode))
        return PathDirectory;
    if (S_ISREG(st.st_mode))
        return PathRegular;
    if (S_ISLNK(st.st_mode))
        return PathLink;
    return PathOther;
}

bool RemoveEmptyDirectory(const std::string& path)
{
    return rmdir(path.c_str()) == 0;
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
    // Every missing directory on the way, as mkdir -p makes them; what
    // cannot be made on the way shows in the last one.
    int failure = 0;
    for (size_t at = target.find('/', 1);; at = target.find('/', at + 1)) {
        if (mkdir(target.substr(0, at).c_str(), 0777) != 0 && errno != EEXIST)
            failure = errno;
        if (at == std::string::npos)
            break;
    }
    if (PathKindAt(target, true) != PathDirectory) {
        error = failure ? strerror(failure) : "not a directory";
        return false;
    }
    return true;
}

std::string NativeComponent(const std::string& component)
{
    return component;
}

namespace {

// Writes the file name in the directory dir whole or not at all: into a new
// file of its own first, renamed over name once complete, so that nothing is
// written through a file (or a hard link) already there and no cut file is
// ever left under the real name.
WriteResult WriteFileAt(int dir, const std::string& name, const uint8_t* data, size_t length,
                        std::string& reason)
{
    struct stat st;
    if (fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode)) {
        reason = "the target is a symbolic link";
        return Refused;
    }
    static unsigned counter = 0;
    char temp[40];
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        snprintf(temp, sizeof temp, ".velkory-%ld-%u", (long)getpid(), counter++);
        fd = openat(dir, temp, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0) {
        reason = "cannot create the file: " + std::string(strerror(errno));
        return WriteFailed;
    }
    bool ok = WriteAll(fd, data, length);
    int error = errno;
    if (close(fd) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (ok && renameat(dir, temp, dir, name.c_str()) != 0) {
        unlinkat(dir, temp, 0);
        reason = "cannot put the file in place: " + std::string(strerror(errno));
        return WriteFailed;
    }
    if (!ok) {
        unlinkat(dir, temp, 0);
        reason = "cannot write the file: " + std::string(strerror(error));
        return WriteFailed;
    }
    return Written;
}

}  // namespace

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
    WriteResult result = WriteFileAt(dir, components.back(), data, length, reason);
    close(dir);
    return result;
}

std::string CanonicalPath(const std::string& path)
{
    char* real = realpath(path.c_str(), nullptr);
    if (real == nullptr)
        return path;
    std::string canonical = real;
    free(real);
    return canonical;
}

std::string BaseName(const std::string& path)
{
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}
