// The container commands: list, cat, extract and test, on the reader itself
// rather than through the module's exports.
//
// Stored names are untrusted. extract never writes outside its target
// directory: each name is split into components, those that would climb out
// ("..") make the entry skipped, empty and "." components vanish, a leading
// "/" is simply the container's root, and on Windows characters and device
// names that the file system cannot hold are mapped to a safe form. Every
// directory on the way is opened without following symbolic links, so a link
// already inside the target cannot lead a write out of it.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unordered_set>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#if defined(_WIN32)
#include <direct.h>
#include <io.h>
#else
#include <unistd.h>
#endif

#include "container/container.h"
#include "host/host.h"
#include "platform/platform.h"

namespace {

struct ContainerScope {
    HelpFile* file = nullptr;
    ~ContainerScope()
    {
        if (file)
            CloseHelpFile(file);
    }
};

bool OpenContainer(const std::string& path, ContainerScope& scope)
{
    scope.file = OpenHelpFile(path.c_str());
    if (!scope.file) {
        Complain(path + ": " + (errno ? strerror(errno) : "cannot be opened"));
        return false;
    }
    return true;
}

bool IsDirectoryName(const char* name)
{
    size_t length = strlen(name);
    return length > 0 && name[length - 1] == '/';
}

[[maybe_unused]] std::string Lower(std::string text)
{
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = (char)(c - 'A' + 'a');
    return text;
}

#if defined(_WIN32)
// A component that Windows cannot store as it is: reserved characters and
// control bytes become '_', a device name (CON, NUL, COM1, ... with or without
// an extension) gets a leading '_', and trailing dots and spaces become '_'.
std::string SafeComponent(const std::string& component)
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
    std::string stem = Lower(out.substr(0, out.find('.')));
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
#endif

// The stored name as relative path components below the target directory;
// false, with the reason, when the name cannot be extracted safely.
bool SplitStoredName(const std::string& name, std::vector<std::string>& components,
                     std::string& reason)
{
    components.clear();
    std::string current;
    auto finish = [&]() -> bool {
        if (current == "..") {
            reason = "a '..' component would leave the directory";
            return false;
        }
        if (!current.empty() && current != ".")
            components.push_back(current);
        current.clear();
        return true;
    };
    for (char c : name) {
#if defined(_WIN32)
        bool separator = c == '/' || c == '\\';
#else
        bool separator = c == '/';
#endif
        if (separator) {
            if (!finish())
                return false;
        } else {
            current += c;
        }
    }
    if (!finish())
        return false;
#if defined(_WIN32)
    // "C:" alone would name a drive; SafeComponent maps the ':' anyway.
    for (std::string& component : components)
        component = SafeComponent(component);
#endif
    for (const std::string& component : components) {
        if (component.size() > 255) {
            reason = "a component is longer than 255 bytes";
            return false;
        }
    }
    return true;
}

std::string JoinComponents(const std::vector<std::string>& components)
{
    std::string out;
    for (const std::string& component : components) {
        if (!out.empty())
            out += '/';
        out += component;
    }
    return out;
}

// What became of one stored file: written, refused because the way there is
// not a plain directory of the target (a symbolic link, a file), or failed.
enum WriteResult {
    Written,
    Refused,
    WriteFailed
};

#if defined(_WIN32)

bool MakeDirectory(const std::string& path)
{
    return _mkdir(path.c_str()) == 0 || errno == EEXIST;
}

// Creates the directories on the way and, unless onlyDirectories, writes the
// file; reason says why not.
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
    FILE* stream = fopen(path.c_str(), "wb");
    if (!stream) {
        reason = "cannot create " + path + ": " + strerror(errno);
        return WriteFailed;
    }
    bool ok = (length == 0 || fwrite(data, 1, length, stream) == length);
    ok = (fclose(stream) == 0) && ok;
    if (!ok) {
        reason = "cannot write " + path + ": " + strerror(errno);
        return WriteFailed;
    }
    return Written;
}

#else

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

#endif

// One line of extract's report: what happened, the stored name, and the
// local name or the reason, separated by tabs for scripts.
void Report(const char* what, const std::string& name, const std::string& detail)
{
    printf("%s\t%s\t%s\n", what, name.c_str(), detail.c_str());
}

}  // namespace

int ListCommand(const std::string& path)
{
    ContainerScope container;
    errno = 0;
    if (!OpenContainer(path, container))
        return 1;
    int32_t count = DirectoryCount(container.file);
    for (int32_t i = 0; i < count; ++i) {
        const DirectoryEntry* entry = DirectoryAt(container.file, i);
        if (!entry)
            continue;
        printf("%u\t%u\t%u\t%s\n", entry->Section, entry->Offset, entry->Length,
               PrintableName(entry->Name).c_str());
    }
    return 0;
}

int CatCommand(const std::string& path, const std::string& name)
{
    ContainerScope container;
    errno = 0;
    if (!OpenContainer(path, container))
        return 1;
    bool listed = false;
    int32_t count = DirectoryCount(container.file);
    for (int32_t i = 0; i < count && !listed; ++i) {
        const DirectoryEntry* entry = DirectoryAt(container.file, i);
        listed = entry && name == entry->Name;
    }
    if (!listed) {
        Complain(path + ": no stored file is called '" + PrintableName(name.c_str()) + "'");
        return 1;
    }
    uint32_t length = 0;
    uint8_t* data = nullptr;
    if (ExtractFile(container.file, name.c_str(), &length, &data) != 0) {
        Complain(path + ": '" + PrintableName(name.c_str()) + "' cannot be extracted");
        return 1;
    }
#if defined(_WIN32)
    fflush(stdout);
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    size_t wrote = length ? fwrite(data, 1, length, stdout) : 0;
    free(data);
    if (wrote != length || fflush(stdout) != 0) {
        Complain("cannot write to standard output");
        return 1;
    }
    return 0;
}

int ExtractCommand(const std::string& path, const std::string& target)
{
    ContainerScope container;
    errno = 0;
    if (!OpenContainer(path, container))
        return 1;
#if defined(_WIN32)
    std::string root = target;
    while (root.size() > 3 && (root.back() == '\\' || root.back() == '/'))
        root.pop_back();
    if (_mkdir(root.c_str()) != 0 && errno != EEXIST) {
#else
    std::string root = target;
    if (mkdir(root.c_str(), 0777) != 0 && errno != EEXIST) {
#endif
        Complain("cannot create " + target + ": " + strerror(errno));
        return 1;
    }

    std::unordered_set<std::string> names, outputs;
    uint64_t files = 0, bytes = 0;
    int skipped = 0, failed = 0;
    int32_t count = DirectoryCount(container.file);
    for (int32_t i = 0; i < count; ++i) {
        const DirectoryEntry* entry = DirectoryAt(container.file, i);
        if (!entry)
            continue;
        const std::string name = entry->Name;
        const std::string shown = PrintableName(entry->Name);
        std::vector<std::string> components;
        std::string reason;
        bool directory = IsDirectoryName(entry->Name);

        if (!names.insert(name).second) {
            Report("skipped", shown, "the name is stored twice; the first one was extracted");
            ++skipped;
            continue;
        }
        if (!SplitStoredName(name, components, reason)) {
            Report("skipped", shown, reason);
            ++skipped;
            continue;
        }
        if (components.empty()) {
            if (!directory) {
                Report("skipped", shown, "the name has no file name in it");
                ++skipped;
            }
            continue;  // the root itself
        }
        std::string relative = JoinComponents(components);
#if defined(_WIN32)
        std::string key = Lower(relative);  // the file system ignores case
#else
        std::string key = relative;
#endif
        std::string expected = name;
        while (!expected.empty() && expected[0] == '/')
            expected.erase(0, 1);
        if (directory && !expected.empty())
            expected.pop_back();
        if (relative != expected)
            Report("mapped", shown, PrintableName(relative.c_str()));

        if (directory) {
            WriteResult made = WriteBelow(root, components, true, nullptr, 0, reason);
            if (made != Written) {
                Report(made == Refused ? "skipped" : "failed", shown, reason);
                ++(made == Refused ? skipped : failed);
            }
            continue;
        }
        if (!outputs.insert(key).second) {
            Report("skipped", shown,
                   "another stored name was already written as " + PrintableName(relative.c_str()));
            ++skipped;
            continue;
        }
        uint32_t length = 0;
        uint8_t* data = nullptr;
        if (ExtractFile(container.file, entry->Name, &length, &data) != 0) {
            Report("failed", shown, "cannot be extracted");
            ++failed;
            continue;
        }
        WriteResult wrote = WriteBelow(root, components, false, data, length, reason);
        free(data);
        if (wrote != Written) {
            Report(wrote == Refused ? "skipped" : "failed", shown, reason);
            ++(wrote == Refused ? skipped : failed);
            continue;
        }
        ++files;
        bytes += length;
    }
    printf("%llu files, %llu bytes extracted to %s", (unsigned long long)files,
           (unsigned long long)bytes, target.c_str());
    if (skipped)
        printf("; %d skipped", skipped);
    if (failed)
        printf("; %d failed", failed);
    printf("\n");
    return failed ? 1 : 0;
}

int TestCommand(const std::string& path)
{
    ContainerScope container;
    errno = 0;
    if (!OpenContainer(path, container))
        return 1;
    std::unordered_set<std::string> names;
    uint64_t files = 0, bytes = 0;
    int failed = 0;
    int32_t count = DirectoryCount(container.file);
    for (int32_t i = 0; i < count; ++i) {
        const DirectoryEntry* entry = DirectoryAt(container.file, i);
        if (!entry || IsDirectoryName(entry->Name) || !names.insert(entry->Name).second)
            continue;  // a directory, or a later entry of a name already tested
        uint32_t length = 0;
        uint8_t* data = nullptr;
        if (ExtractFile(container.file, entry->Name, &length, &data) != 0) {
            printf("FAILED %s: cannot be extracted\n", PrintableName(entry->Name).c_str());
            ++failed;
            continue;
        }
        free(data);
        if (length != entry->Length) {
            printf("FAILED %s: %u bytes instead of %u\n", PrintableName(entry->Name).c_str(),
                   length, entry->Length);
            ++failed;
            continue;
        }
        ++files;
        bytes += length;
    }
    if (failed) {
        printf("%s: %d of %llu files failed\n", path.c_str(), failed,
               (unsigned long long)(files + (uint64_t)failed));
        return 1;
    }
    printf("%s: OK, %llu files, %llu bytes\n", path.c_str(), (unsigned long long)files,
           (unsigned long long)bytes);
    return 0;
}
