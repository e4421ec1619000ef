// The file system on Windows, and the facts of the system (System).
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <sys/types.h>

#include "host/host.h"
#include "host/os/os.h"
#include "platform/platform.h"

// Code page 437 box drawing.
const SystemTraits System = {
    "more",
    "notepad",
    "velkory.dll",
    '\\',
    "C:\\Windows\\Temp",
    true,
    true,
    false,
    "Pages open in %VELKORY_VIEWER%, else %PAGER%, else more (rendered to text), or\n"
    "in %VELKORY_EDITOR%, else %VISUAL%, else %EDITOR%, else notepad. Settings are\n"
    "kept under HKEY_CURRENT_USER\\Software\\VelkoryHost\\Velkory.\n",
    "\xda",
    "\xbf",
    "\xc0",
    "\xd9",
    "\xc4",
    "\xb3",
    false,
};

std::string ExecutableDirectory()
{
    char buffer[MAX_PATH + 1];
    DWORD length = GetModuleFileNameA(nullptr, buffer, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return ".";
    std::string path(buffer, length);
    size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

std::string TempDirectory()
{
    char buffer[MAX_PATH + 1];
    DWORD length = GetTempPathA(sizeof buffer, buffer);
    std::string dir = (length > 0 && length < sizeof buffer) ? std::string(buffer, length)
                                                             : std::string("C:\\Windows\\Temp");
    while (dir.size() > 3 && (dir.back() == '\\' || dir.back() == '/'))
        dir.pop_back();
    return dir;
}

void IgnoreBrokenPipe()
{
    // A write to a pipe without a reader fails on Windows as it is.
}

size_t ReadAvailable(FILE* in, char* buffer, size_t size)
{
    HANDLE handle = (HANDLE)_get_osfhandle(_fileno(in));
    DWORD n = 0;
    if (handle == INVALID_HANDLE_VALUE ||
        !ReadFile(handle, buffer, size > 0x10000000 ? 0x10000000 : (DWORD)size, &n, nullptr))
        return 0;
    return n;
}

std::string MakePrivateDirectory(const std::string& prefix)
{
    // A name taken by another process fails to be created: the next is tried.
    std::string dir = TempDirectory();
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        std::string path = dir + "\\" + prefix + std::to_string(GetCurrentProcessId()) + "-" +
            std::to_string(GetTickCount() + attempt);
        if (CreateDirectoryA(path.c_str(), nullptr))
            return path;
        if (GetLastError() != ERROR_ALREADY_EXISTS)
            break;
    }
    return "";
}

bool PathExists(const std::string& path)
{
    struct _stat64 st;
    return _stat64(path.c_str(), &st) == 0 || errno != ENOENT;
}

PathKind PathKindAt(const std::string& path, bool followLinks)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        errno = ENOENT;
        return PathMissing;
    }
    if (!followLinks && (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return PathLink;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return PathDirectory;
    if (attributes & FILE_ATTRIBUTE_DEVICE)
        return PathOther;
    return PathRegular;
}

bool RemoveEmptyDirectory(const std::string& path)
{
    return _rmdir(path.c_str()) == 0;
}

bool IsOwnDirectory(const std::string& path, time_t& modified)
{
    // The temporary directory is the user's own on Windows.
    struct _stat64 st;
    if (_stat64(path.c_str(), &st) != 0 || !(st.st_mode & _S_IFDIR))
        return false;
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return false;
    modified = (time_t)st.st_mtime;
    return true;
}

uint64_t ProcessNumber()
{
    return (uint64_t)GetCurrentProcessId();
}

void SetBinaryOutput()
{
    fflush(stdout);
    _setmode(_fileno(stdout), _O_BINARY);
}

bool MakeTargetDirectory(const std::string& target, std::string& root, std::string& error)
{
    root = target;
    while (root.size() > 3 && (root.back() == '\\' || root.back() == '/'))
        root.pop_back();
    // Every missing directory on the way, as mkdir -p makes them; what
    // cannot be made on the way shows in the last one.
    int failure = 0;
    for (size_t at = root.find_first_of("\\/", 1);; at = root.find_first_of("\\/", at + 1)) {
        if (_mkdir(root.substr(0, at).c_str()) != 0 && errno != EEXIST)
            failure = errno;
        if (at == std::string::npos)
            break;
    }
    if (PathKindAt(root, true) != PathDirectory) {
        error = failure ? strerror(failure) : "not a directory";
        return false;
    }
    return true;
}

// A component that Windows cannot store as it is: reserved characters and
// control bytes become '_', a device name (CON, NUL, COM1, ... with or without
// an extension) gets a leading '_', and trailing dots and spaces become '_'.
std::string NativeComponent(const std::string& component)
{
    std::string out = component;
    for (char& c : out) {
        unsigned char u = (unsigned char)c;
        if (u < 0x20 || strchr(":*?\"<>|", c))
            c = '_';
    }
    size_t end = out.size();
    while (end > 0 && (out[end - 1] == '.' || out[end - 1] == ' '))
        out[--end] = '_';
    std::string stem = FoldedText(out.substr(0, out.find('.')));
    while (!stem.empty() && stem.back() == ' ')
        stem.pop_back();
    static const char* const Devices[] = {"con", "prn", "aux", "nul", "conin$", "conout$"};
    bool device = false;
    for (const char* name : Devices)
        device = device || stem == name;
    if (stem.size() == 4 && (stem.compare(0, 3, "com") == 0 || stem.compare(0, 3, "lpt") == 0) &&
        stem[3] >= '0' && stem[3] <= '9')
        device = true;
    if (device)
        out = "_" + out;
    return out;
}
namespace {

bool MakeDirectory(const std::string& path)
{
    return _mkdir(path.c_str()) == 0 || errno == EEXIST;
}

// Creates the directories on the way and, unless onlyDirectories, writes the
// file; reason says why not.
}  // namespace

WriteResult WriteBelow(const std::string& root, const std::vector<std::string>& components,
                       bool onlyDirectories, const uint8_t* data, size_t length,
                       std::string& reason)
{
    std::string path = root;
    size_t directories = onlyDirectories ? components.size() : components.size() - 1;
    for (size_t i = 0; i < directories; ++i) {
        path += "\\";
        path += components[i];
        if (!MakeDirectory(path)) {
            reason = "cannot create the directory " + path + ": " + strerror(errno);
            return WriteFailed;
        }
        DWORD attributes = GetFileAttributesA(path.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY) ||
            (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
            reason = "'" + components[i] + "' on the way is not a plain directory";
            return Refused;
        }
    }
    if (onlyDirectories)
        return Written;
    path += "\\";
    path += components.back();
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        reason = "the target is a link";
        return Refused;
    }
    // Written whole under a name of its own first, then moved over the
    // target: nothing is written through a file already there, and no cut
    // file is left under the real name.
    static unsigned counter = 0;
    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp = path.substr(0, path.size() - components.back().size()) + ".velkory-" +
            std::to_string(GetCurrentProcessId()) + "-" + std::to_string(counter++);
        fd = _open(temp.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0) {
        reason = "cannot create a file beside " + path + ": " + strerror(errno);
        return WriteFailed;
    }
    bool ok = true;
    size_t done = 0;
    while (ok && done < length) {
        unsigned chunk = length - done > (1u << 30) ? (1u << 30) : (unsigned)(length - done);
        int wrote = _write(fd, data + done, chunk);
        ok = wrote > 0;
        if (ok)
            done += (size_t)wrote;
    }
    int error = errno;
    if (_close(fd) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        _unlink(temp.c_str());
        reason = "cannot write " + path + ": " + strerror(error);
        return WriteFailed;
    }
    if (!MoveFileExA(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        _unlink(temp.c_str());
        reason = "cannot put " + path + " in place: error " + std::to_string(GetLastError());
        return WriteFailed;
    }
    return Written;
}

std::string CanonicalPath(const std::string& path)
{
    char full[_MAX_PATH];
    return _fullpath(full, path.c_str(), sizeof full) ? std::string(full) : path;
}

std::string BaseName(const std::string& path)
{
    size_t slash = path.find_last_of("/\\:");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}
