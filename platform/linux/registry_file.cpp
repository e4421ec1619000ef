// The settings store's file: where it lives, reading it, and the locked atomic
// update that replaces it.
//
// The file lives at $VELKORY_REGISTRY, else $XDG_CONFIG_HOME/velkory/
// registry.reg, else ~/.config/velkory/registry.reg. Readers take no lock:
// the file is only ever replaced whole, by rename. A writer holds an exclusive
// flock on "<file>.lock" (rename swaps the inode of the file itself, so the
// file cannot carry the lock), reads the file anew inside the lock, applies
// its change, writes a temporary file beside it, syncs it, renames it over the
// old one and syncs the directory. A file that does not parse is never
// replaced: reads find nothing in it and writes fail with ERROR_BADDB.
#include "platform/internal.h"
#include "platform/linux/registry_store.h"

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

#if defined(VELKORY_TEST_HOOKS)
bool failBeforeRename;
#else
const bool failBeforeRename = false;
#endif

}  // namespace

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
    size_t baseLength = strlen(base);
    size_t suffixLength = strlen(suffix);
    char* result = (char*)malloc(baseLength + suffixLength + 1);
    if (result == nullptr)
        return nullptr;
    memcpy(result, base, baseLength);
    memcpy(result + baseLength, suffix, suffixLength + 1);
    return result;
}

// Reads and parses the file; a missing file is an empty registry.
LONG LoadDocument(const char* path, RegDocument* doc)
{
    // O_NONBLOCK: a FIFO put in the file's place must not hang the host.
    int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return errno == ENOENT ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        return ERROR_ACCESS_DENIED;
    }
    if (info.st_size > MaxFileSize) {
        close(fd);
        return ERROR_BADDB;
    }
    size_t capacity = (size_t)info.st_size + 1;
    char* text = (char*)malloc(capacity);
    if (text == nullptr) {
        close(fd);
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    size_t size = 0;
    for (;;) {
        if (size == capacity) {
            // The file grew under us (someone editing it in place).
            if (capacity >= (size_t)MaxFileSize) {
                free(text);
                close(fd);
                return ERROR_BADDB;
            }
            char* grown = (char*)realloc(text, capacity * 2);
            if (grown == nullptr) {
                free(text);
                close(fd);
                return ERROR_NOT_ENOUGH_MEMORY;
            }
            text = grown;
            capacity *= 2;
        }
        ssize_t got = read(fd, text + size, capacity - size);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            free(text);
            close(fd);
            return ERROR_ACCESS_DENIED;
        }
        if (got == 0)
            break;
        size += (size_t)got;
    }
    close(fd);
    // Lines may end in CR LF; the CRs are dropped before parsing.
    size_t kept = 0;
    for (size_t i = 0; i < size; i++)
        if (!(text[i] == '\r' && i + 1 < size && text[i + 1] == '\n'))
            text[kept++] = text[i];
    bool ok = ParseDocument(text, kept, doc);
    free(text);
    if (!ok) {
        FreeDocument(doc);
        return ERROR_BADDB;
    }
    return ERROR_SUCCESS;
}

namespace {

// Creates the directories along path (mode 0700) up to its last slash.
bool MakeParentDirectories(const char* path)
{
    size_t length = strlen(path);
    char* copy = CopyText(path, length);
    if (copy == nullptr)
        return false;
    bool ok = true;
    for (size_t i = 1; i < length && ok; i++) {
        if (copy[i] != '/')
            continue;
        copy[i] = '\0';
        if (mkdir(copy, 0700) != 0 && errno != EEXIST)
            ok = false;
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

bool WriteAll(int fd, const char* data, size_t size)
{
    while (size > 0) {
        ssize_t written = write(fd, data, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        data += written;
        size -= (size_t)written;
    }
    return true;
}

void SyncDirectoryOf(const char* path)
{
    const char* slash = strrchr(path, '/');
    char* directory =
        slash ? CopyText(path, slash == path ? 1 : (size_t)(slash - path)) : CopyText(".", 1);
    if (directory == nullptr)
        return;
    int fd = open(directory, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    free(directory);
    if (fd < 0)
        return;
    fsync(fd);
    close(fd);
}

}  // namespace

// Takes the writers' lock and reads the registry as it is now.
LONG BeginWrite(WriteSession* session)
{
    session->filePath = nullptr;
    session->lockFd = -1;
    session->doc = RegDocument {};
    char* path = RegistryFilePath();
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
    if (lockPath == nullptr)
        return ERROR_NOT_ENOUGH_MEMORY;
    session->lockFd = open(lockPath, O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    free(lockPath);
    if (session->lockFd < 0)
        return ERROR_ACCESS_DENIED;
    while (flock(session->lockFd, LOCK_EX) != 0) {
        if (errno != EINTR)
            return ERROR_ACCESS_DENIED;
    }
    return LoadDocument(path, &session->doc);
}

void EndWrite(WriteSession* session)
{
    FreeDocument(&session->doc);
    if (session->lockFd >= 0)
        close(session->lockFd);  // releases the lock
    free(session->filePath);
}

// Replaces the file with the session's document: a temporary file in the same
// directory, synced, renamed over the old one, and the directory synced.
LONG CommitWrite(WriteSession* session)
{
    ByteBuffer text = {};
    if (!SerializeDocument(&session->doc, &text)) {
        free(text.data);
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    char* temporary = JoinText(session->filePath, ".XXXXXX");
    if (temporary == nullptr) {
        free(text.data);
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    LONG status = ERROR_SUCCESS;
    int fd = mkostemp(temporary, O_CLOEXEC);
    if (fd < 0) {
        status = ERROR_ACCESS_DENIED;
    } else {
        bool written = WriteAll(fd, text.data, text.size) && fsync(fd) == 0;
        if (close(fd) != 0)
            written = false;
        if (!written || failBeforeRename) {
            status = ERROR_WRITE_FAULT;
        } else if (rename(temporary, session->filePath) != 0) {
            status = ERROR_ACCESS_DENIED;
        } else {
            SyncDirectoryOf(session->filePath);
        }
        if (status != ERROR_SUCCESS)
            unlink(temporary);
    }
    free(temporary);
    free(text.data);
    return status;
}

}  // namespace registry

#if defined(VELKORY_TEST_HOOKS)
void SetRegistryFailBeforeRename(bool fail)
{
    registry::failBeforeRename = fail;
}
#endif
