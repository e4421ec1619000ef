// The settings store's file: where it lives, reading it, and the locked atomic
// update that replaces it.
//
// The file lives at $VELKORY_REGISTRY, else $XDG_CONFIG_HOME/velkory/
// registry.reg, else ~/.config/velkory/registry.reg. Readers take no lock:
// the file is only ever replaced whole, by rename. A writer holds an exclusive
// flock on "<file>.lock" (rename swaps the inode of the file itself, so the
// file cannot carry the lock), reads the file anew inside the lock, applies
// its change, writes a temporary file "<file>.XXXXXX.tmp" beside it with the
// old file's mode, syncs it, renames it over the old one and syncs the
// directory. Temporary files are only ever made under the lock, so any that a
// writer finds while it holds the lock were left by a writer that died: it
// removes them.
//
// A file is never replaced when it does not parse (reads find nothing in it
// and writes fail with ERROR_BADDB), nor when it is read-only: the user keeps
// what they wrote. A rewrite keeps the file's encoding (UTF-8, with or without
// a byte-order mark, or UTF-16LE as regedit exports) and its line ends.
//
// Why the last read and the last write of the file failed is kept as one line
// of text each for the terminal host (platform/store_failure.h): the module's
// own settings code stays silent.
#include "platform/internal.h"
#include "platform/linux/registry_store.h"
#include "platform/store_failure.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace registry {

namespace {

const off_t MaxFileSize = 64 << 20;
const char TemporarySuffix[] = ".tmp";
const size_t TemporaryRandomLength = 6;  // the XXXXXX of mkostemps

#if defined(VELKORY_TEST_HOOKS)
bool failBeforeRename;
#else
const bool failBeforeRename = false;
#endif

// Why the last read and the last write failed ("" when they did not), and
// which of the two the access under way is.
char failures[2][640];
int accessUnderWay = StoreReading;

// "what: why" (or why alone without what), as the host shows it.
void NoteFailureText(const char* what, const char* why)
{
    snprintf(failures[accessUnderWay], sizeof failures[0], "%s%s%s", what ? what : "",
             what ? ": " : "", why);
}

// Reads a whole regular file of at most MaxFileSize bytes into *bytes.
LONG ReadWholeFile(const char* path, char** bytes, size_t* size)
{
    *bytes = nullptr;
    *size = 0;
    // O_NONBLOCK: a FIFO put in the file's place must not hang the host.
    int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        NoteFailureText(path, strerror(errno));
        return ERROR_ACCESS_DENIED;
    }
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        NoteFailureText(path, S_ISDIR(info.st_mode) ? strerror(EISDIR) : "not a regular file");
        close(fd);
        return ERROR_ACCESS_DENIED;
    }
    if (info.st_size > MaxFileSize) {
        NoteFailureText(path, "larger than 64 MB");
        close(fd);
        return ERROR_BADDB;
    }
    size_t capacity = (size_t)info.st_size + 1;
    char* text = (char*)malloc(capacity);
    LONG status = text ? ERROR_SUCCESS : ERROR_NOT_ENOUGH_MEMORY;
    size_t got = 0;
    while (status == ERROR_SUCCESS) {
        if (got == capacity) {
            // The file grew under us (someone editing it in place).
            char* grown =
                capacity < (size_t)MaxFileSize ? (char*)realloc(text, capacity * 2) : nullptr;
            if (grown == nullptr) {
                status = capacity < (size_t)MaxFileSize ? ERROR_NOT_ENOUGH_MEMORY : ERROR_BADDB;
                break;
            }
            text = grown;
            capacity *= 2;
        }
        ssize_t part = read(fd, text + got, capacity - got);
        if (part < 0 && errno == EINTR)
            continue;
        if (part < 0) {
            NoteFailureText(path, strerror(errno));
            status = ERROR_ACCESS_DENIED;
        } else if (part == 0) {
            break;
        } else {
            got += (size_t)part;
        }
    }
    close(fd);
    if (status == ERROR_NOT_ENOUGH_MEMORY)
        NoteFailureText(path, "out of memory");
    else if (status == ERROR_BADDB)
        NoteFailureText(path, "larger than 64 MB");
    if (status != ERROR_SUCCESS) {
        free(text);
        return status;
    }
    *bytes = text;
    *size = got;
    return ERROR_SUCCESS;
}

// Reads and parses the file; a missing file is an empty registry in the
// default form. *info receives the file's status (st_nlink 0 when missing).
LONG LoadDocument(const char* path, RegDocument* doc, TextForm* form, struct stat* info)
{
    *form = TextForm {};
    memset(info, 0, sizeof *info);
    if (stat(path, info) != 0) {
        memset(info, 0, sizeof *info);
        if (errno == ENOENT)
            return ERROR_SUCCESS;
    }
    char* bytes = nullptr;
    size_t size = 0;
    LONG status = ReadWholeFile(path, &bytes, &size);
    if (status != ERROR_SUCCESS)
        return status;
    ByteBuffer text = {};
    size_t badLine = 0;
    bool ok = DecodeFile(bytes, size, form, &text, &badLine) &&
        ParseDocument(text.data, text.size, doc, &badLine);
    free(bytes);
    free(text.data);
    if (ok)
        return ERROR_SUCCESS;
    FreeDocument(doc);
    if (badLine == 0) {
        NoteFailureText(path, "out of memory");
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    char why[64];
    snprintf(why, sizeof why, "line %zu does not parse", badLine);
    NoteFailureText(path, why);
    return ERROR_BADDB;
}

// Creates the directories along path (mode 0700) up to its last slash.
bool MakeParentDirectories(const char* path)
{
    size_t length = strlen(path);
    char* copy = CopyText(path, length);
    if (copy == nullptr) {
        NoteFailureText(nullptr, "out of memory");
        return false;
    }
    bool ok = true;
    for (size_t i = 1; i < length && ok; i++) {
        if (copy[i] != '/')
            continue;
        copy[i] = '\0';
        if (mkdir(copy, 0700) != 0 && errno != EEXIST) {
            NoteFailureText(copy, strerror(errno));
            ok = false;
        }
        copy[i] = '/';
    }
    free(copy);
    return ok;
}

char* JoinText(const char* a, const char* b)
{
    size_t aLength = strlen(a);
    size_t bLength = strlen(b);
    char* result = (char*)malloc(aLength + bLength + 1);
    if (result == nullptr)
        return nullptr;
    memcpy(result, a, aLength);
    memcpy(result + aLength, b, bLength + 1);
    return result;
}

// The directory part of path ("." when it has none), newly allocated.
char* DirectoryOf(const char* path)
{
    const char* slash = strrchr(path, '/');
    return slash ? CopyText(path, slash == path ? 1 : (size_t)(slash - path)) : CopyText(".", 1);
}

bool WriteAll(int fd, const char* data, size_t size)
{
    while (size > 0) {
        ssize_t written = write(fd, data, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0)
            return false;
        if (written == 0) {
            errno = ENOSPC;
            return false;
        }
        data += written;
        size -= (size_t)written;
    }
    return true;
}

void SyncDirectoryOf(const char* path)
{
    char* directory = DirectoryOf(path);
    if (directory == nullptr)
        return;
    int fd = open(directory, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    free(directory);
    if (fd < 0)
        return;
    fsync(fd);
    close(fd);
}

// Whether name is one of our temporary files beside the file called base:
// "<base>.XXXXXX.tmp" with six letters or digits.
bool IsTemporaryName(const char* name, const char* base, size_t baseLength)
{
    size_t suffixLength = sizeof TemporarySuffix - 1;
    if (strlen(name) != baseLength + 1 + TemporaryRandomLength + suffixLength ||
        memcmp(name, base, baseLength) != 0 || name[baseLength] != '.')
        return false;
    const char* random = name + baseLength + 1;
    for (size_t i = 0; i < TemporaryRandomLength; i++) {
        char c = random[i];
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')))
            return false;
    }
    return memcmp(random + TemporaryRandomLength, TemporarySuffix, suffixLength) == 0;
}

// Removes the temporary files that writers killed during a save left beside
// the file. Called with the lock held: no live writer has one.
void RemoveStaleTemporaries(const char* path)
{
    char* directory = DirectoryOf(path);
    if (directory == nullptr)
        return;
    const char* slash = strrchr(path, '/');
    const char* base = slash ? slash + 1 : path;
    size_t baseLength = strlen(base);
    DIR* listing = opendir(directory);
    free(directory);
    if (listing == nullptr)
        return;
    int fd = dirfd(listing);
    while (struct dirent* entry = readdir(listing)) {
        struct stat info;
        if (IsTemporaryName(entry->d_name, base, baseLength) &&
            fstatat(fd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(info.st_mode))
            unlinkat(fd, entry->d_name, 0);
    }
    closedir(listing);
}

}  // namespace

void NoteStoreFailure(const char* what, const char* why)
{
    NoteFailureText(what, why);
}

// The registry file's path, newly allocated; null when none can be formed.
char* RegistryFilePath(void)
{
    const char* path = getenv("VELKORY_REGISTRY");
    if (path != nullptr && path[0] != '\0')
        return CopyText(path, strlen(path));
    const char* base = getenv("XDG_CONFIG_HOME");
    const char* suffix = "/velkory/registry.reg";
    if (base == nullptr || base[0] != '/') {
        // A relative XDG_CONFIG_HOME is to be ignored.
        base = getenv("HOME");
        suffix = "/.config/velkory/registry.reg";
        if (base == nullptr || base[0] == '\0')
            return nullptr;
    }
    return JoinText(base, suffix);
}

// The file's path for a read or a write that is starting, which begins with
// no failure noted; null (with the reason noted) when there is none.
static char* PathForAccess(int access)
{
    accessUnderWay = access;
    failures[access][0] = '\0';
    char* path = RegistryFilePath();
    const char* named = getenv("VELKORY_REGISTRY");
    const char* base = getenv("XDG_CONFIG_HOME");
    const char* home = getenv("HOME");
    bool placed = (named && named[0]) || (base && base[0] == '/') || (home && home[0]);
    if (path == nullptr && !placed)
        NoteFailureText("no settings file",
                        "neither VELKORY_REGISTRY, an absolute XDG_CONFIG_HOME nor HOME is set");
    else if (path == nullptr)
        NoteFailureText(nullptr, "out of memory");
    return path;
}

LONG ReadStore(RegDocument* doc)
{
    char* path = PathForAccess(StoreReading);
    if (path == nullptr)
        return ERROR_PATH_NOT_FOUND;
    TextForm form;
    struct stat info;
    LONG status = LoadDocument(path, doc, &form, &info);
    free(path);
    return status;
}

// Takes the writers' lock, removes what killed writers left, reads the
// registry as it is now and checks that it may be replaced.
LONG BeginWrite(WriteSession* session)
{
    *session = WriteSession {};
    session->lockFd = -1;
    char* path = PathForAccess(StoreWriting);
    if (path == nullptr)
        return ERROR_PATH_NOT_FOUND;
    // A symbolic link (a dotfile kept elsewhere) stays a link: its target is
    // the file that gets replaced.
    struct stat info;
    if (lstat(path, &info) == 0 && S_ISLNK(info.st_mode)) {
        char* target = realpath(path, nullptr);
        if (target != nullptr) {
            free(path);
            path = target;
        }
    }
    session->filePath = path;
    if (!MakeParentDirectories(path))
        return ERROR_PATH_NOT_FOUND;
    char* lockPath = JoinText(path, ".lock");
    if (lockPath == nullptr) {
        NoteFailureText(nullptr, "out of memory");
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    session->lockFd = open(lockPath, O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (session->lockFd < 0) {
        const char* slash = strrchr(path, '/');
        char why[160];
        snprintf(why, sizeof why, "cannot open its lock file %s.lock: %s", slash ? slash + 1 : path,
                 strerror(errno));
        NoteFailureText(path, why);
    }
    free(lockPath);
    if (session->lockFd < 0)
        return ERROR_ACCESS_DENIED;
    while (flock(session->lockFd, LOCK_EX) != 0) {
        if (errno != EINTR) {
            NoteFailureText(path, strerror(errno));
            return ERROR_ACCESS_DENIED;
        }
    }
    RemoveStaleTemporaries(path);
    LONG status = LoadDocument(path, &session->doc, &session->form, &info);
    if (status != ERROR_SUCCESS)
        return status;
    session->exists = info.st_nlink > 0;
    session->mode = info.st_mode & 07777;
    // A read-only file is the user's to change, not ours (even for root).
    if (session->exists && ((info.st_mode & 0222) == 0 || access(path, W_OK) != 0)) {
        NoteFailureText(path,
                        (info.st_mode & 0222) == 0 ? "the file is read-only" : strerror(errno));
        return ERROR_ACCESS_DENIED;
    }
    return ERROR_SUCCESS;
}

void EndWrite(WriteSession* session)
{
    FreeDocument(&session->doc);
    if (session->lockFd >= 0)
        close(session->lockFd);  // releases the lock
    free(session->filePath);
}

// Replaces the file with the session's document: a temporary file in the same
// directory with the old file's mode, synced, renamed over the old one, and
// the directory synced.
LONG CommitWrite(WriteSession* session)
{
    const char* path = session->filePath;
    ByteBuffer text = {};
    ByteBuffer bytes = {};
    char* temporary = JoinText(path, ".XXXXXX.tmp");
    if (temporary == nullptr ||
        !SerializeDocument(&session->doc, session->form.encoding == TextUtf16, &text) ||
        !EncodeFile(text.data, text.size, &session->form, &bytes)) {
        free(temporary);
        free(text.data);
        free(bytes.data);
        NoteFailureText(path, "out of memory");
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    free(text.data);
    LONG status = ERROR_SUCCESS;
    int fd = mkostemps(temporary, (int)sizeof TemporarySuffix - 1, O_CLOEXEC);
    if (fd < 0) {
        char why[160];
        snprintf(why, sizeof why, "cannot create a file beside it: %s", strerror(errno));
        NoteFailureText(path, why);
        status = ERROR_ACCESS_DENIED;
    } else {
        bool written = (!session->exists || fchmod(fd, session->mode) == 0) &&
            WriteAll(fd, bytes.data, bytes.size) && fsync(fd) == 0;
        int error = errno;
        if (close(fd) != 0 && written) {
            written = false;
            error = errno;
        }
        if (!written || failBeforeRename) {
            char why[160];
            snprintf(why, sizeof why, "writing the new file failed: %s",
                     strerror(written ? EIO : error));
            NoteFailureText(path, why);
            status = ERROR_WRITE_FAULT;
        } else if (rename(temporary, path) != 0) {
            char why[160];
            snprintf(why, sizeof why, "cannot replace it: %s", strerror(errno));
            NoteFailureText(path, why);
            status = ERROR_ACCESS_DENIED;
        } else {
            SyncDirectoryOf(path);
        }
        if (status != ERROR_SUCCESS)
            unlink(temporary);
    }
    free(temporary);
    free(bytes.data);
    return status;
}

}  // namespace registry

const char* VelkoryStoreFailure(int access)
{
    return access == StoreWriting ? registry::failures[StoreWriting]
                                  : registry::failures[StoreReading];
}

#if defined(VELKORY_TEST_HOOKS)
void SetRegistryFailBeforeRename(bool fail)
{
    registry::failBeforeRename = fail;
}
#endif
