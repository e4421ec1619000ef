// The Win32 registry functions of the Linux platform layer, over the settings
// store's text (registry_text.cpp) and file (registry_file.cpp).
#include "platform/linux/registry_store.h"
#include "platform/platform.h"

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

using namespace registry;

// An open key: the full path below HKEY_CURRENT_USER in its stored spelling
// ("" for the root itself), the access it was opened with, its values as the
// file held them when it was opened (with what was written through it since),
// and the values set through it that wait for the key to be closed or
// flushed, with the failure of a set since then. A reader that reads several
// values through one key so sees one version of the file, never a mix. Open
// keys are chained so that a stale or foreign handle is recognised instead of
// followed.
struct PlatformRegKey {
    char* path;
    REGSAM access;
    RegSection view;
    RegSection pending;
    LONG failedSet;
    PlatformRegKey* next;
};

namespace {

PlatformRegKey* openKeys;

bool IsPredefined(HKEY key)
{
    uintptr_t value = (uintptr_t)key;
    return value >= 0x80000000u && value <= 0x800000FFu;
}

PlatformRegKey* FindOpenKey(HKEY key)
{
    for (PlatformRegKey* open = openKeys; open != nullptr; open = open->next)
        if (open == key)
            return open;
    return nullptr;
}

// The path and access of a handle: HKEY_CURRENT_USER is the root with every
// right; other roots are not kept.
LONG ResolveKey(HKEY key, const char** path, REGSAM* access)
{
    if (key == HKEY_CURRENT_USER) {
        *path = "";
        *access = KEY_ALL_ACCESS;
        return ERROR_SUCCESS;
    }
    PlatformRegKey* open = FindOpenKey(key);
    if (open == nullptr)
        return ERROR_INVALID_HANDLE;
    *path = open->path;
    *access = open->access;
    return ERROR_SUCCESS;
}

// For a call on one value of a key: the path of a handle that holds the
// given right, and the value's name (none names the key's default value, "").
LONG ResolveValueOf(HKEY key, REGSAM right, const char** path, LPCSTR* valueName)
{
    REGSAM access = 0;
    LONG status = ResolveKey(key, path, &access);
    if (status == ERROR_SUCCESS && !(access & right))
        status = ERROR_ACCESS_DENIED;
    if (*valueName == nullptr)
        *valueName = "";
    return status;
}

// base\subKey, or a copy of base when subKey is empty; null for a bad path.
char* JoinKeyPath(const char* base, const char* subKey, LONG* status)
{
    size_t subLength = subKey ? strlen(subKey) : 0;
    if (!ValidKeyPath(subKey ? subKey : "", subLength)) {
        *status = ERROR_BAD_PATHNAME;
        return nullptr;
    }
    size_t baseLength = strlen(base);
    char* result = (char*)malloc(baseLength + subLength + 2);
    if (result == nullptr) {
        *status = ERROR_NOT_ENOUGH_MEMORY;
        return nullptr;
    }
    memcpy(result, base, baseLength);
    size_t at = baseLength;
    if (baseLength > 0 && subLength > 0)
        result[at++] = '\\';
    if (subLength > 0)
        memcpy(result + at, subKey, subLength);
    result[at + subLength] = '\0';
    return result;
}

// Puts a copy of the value into section; false when memory ran out.
bool PutCopy(RegSection* section, const char* name, DWORD type, const BYTE* data, DWORD size)
{
    BYTE* copy = (BYTE*)malloc(size ? size : 1);
    if (copy == nullptr)
        return false;
    if (size > 0)
        memcpy(copy, data, size);
    return PutValue(section, name, strlen(name), type, copy, size);
}

// Copies every value of from into to; false when memory ran out.
bool PutCopies(RegSection* to, const RegSection* from)
{
    for (size_t i = 0; from != nullptr && i < from->count; i++) {
        const RegValue* value = &from->values[i];
        if (!PutCopy(to, value->name, value->type, value->data, value->size))
            return false;
    }
    return true;
}

// A new open key for path (taken over) viewing the values of section (none
// when null); null when memory ran out.
HKEY NewHandle(char* path, REGSAM access, const RegSection* section)
{
    PlatformRegKey* handle = (PlatformRegKey*)malloc(sizeof(PlatformRegKey));
    if (handle == nullptr) {
        free(path);
        return nullptr;
    }
    *handle = PlatformRegKey {path, access, RegSection {}, RegSection {}, ERROR_SUCCESS, nullptr};
    if (!PutCopies(&handle->view, section)) {
        FreeSection(&handle->view);
        free(path);
        free(handle);
        return nullptr;
    }
    handle->next = openKeys;
    openKeys = handle;
    return handle;
}

// The full path of subKey below an open key (a new text), or null with the
// reason in *status.
char* SubKeyPath(HKEY key, const char* subKey, LONG* status)
{
    const char* base;
    REGSAM access;
    *status = ResolveKey(key, &base, &access);
    if (*status != ERROR_SUCCESS)
        return nullptr;
    return JoinKeyPath(base, subKey, status);
}

// One locked update that puts values into the key at path, which must still
// exist; the file is rewritten only when a value differs from it.
LONG WriteValues(const char* path, const RegSection* values)
{
    WriteSession session;
    LONG status = BeginWrite(&session);
    if (status == ERROR_SUCCESS && !KeyExists(&session.doc, path)) {
        NoteStoreFailure(session.filePath, "the key was removed from the file while it was open");
        status = ERROR_KEY_DELETED;
    }
    bool changed = false;
    RegSection* section =
        status == ERROR_SUCCESS ? FindOrAddSection(&session.doc, path, strlen(path)) : nullptr;
    for (size_t i = 0; section != nullptr && i < values->count; i++) {
        const RegValue* value = &values->values[i];
        const RegValue* old = FindValue(section, value->name);
        if (old != nullptr && old->type == value->type && old->size == value->size &&
            (value->size == 0 || memcmp(old->data, value->data, value->size) == 0))
            continue;
        if (!PutCopy(section, value->name, value->type, value->data, value->size))
            section = nullptr;
        changed = true;
    }
    if (status == ERROR_SUCCESS && section == nullptr) {
        NoteStoreFailure(session.filePath, "out of memory");
        status = ERROR_NOT_ENOUGH_MEMORY;
    }
    if (status == ERROR_SUCCESS && changed)
        status = CommitWrite(&session);
    EndWrite(&session);
    return status;
}

// Writes what waits in an open key, in one update. After a set through the
// key failed nothing is written, and the failure is answered again when
// values that were set are so dropped. The key holds nothing afterwards,
// whatever the answer.
LONG FlushPending(PlatformRegKey* open)
{
    if (open->pending.count == 0) {
        open->failedSet = ERROR_SUCCESS;
        return ERROR_SUCCESS;
    }
    LONG status = open->failedSet;
    open->failedSet = ERROR_SUCCESS;
    if (status == ERROR_SUCCESS)
        status = WriteValues(open->path, &open->pending);
    if (status == ERROR_SUCCESS && !PutCopies(&open->view, &open->pending))
        status = ERROR_NOT_ENOUGH_MEMORY;
    FreeSection(&open->pending);
    open->pending = RegSection {};
    return status;
}

// A value's type, size and bytes for RegQueryValueExA.
LONG AnswerValue(const RegValue* value, LPDWORD type, LPBYTE data, LPDWORD dataSize)
{
    LONG status = ERROR_SUCCESS;
    if (type != nullptr)
        *type = value->type;
    if (data != nullptr && value->size > *dataSize) {
        status = ERROR_MORE_DATA;  // nothing is copied
    } else if (data != nullptr && value->size > 0) {
        memcpy(data, value->data, value->size);
    }
    if (dataSize != nullptr)
        *dataSize = value->size;
    return status;
}

}  // namespace

LONG RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM access, PHKEY result)
{
    (void)options;
    if (result == nullptr)
        return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    LONG status = ERROR_SUCCESS;
    char* path = SubKeyPath(key, subKey, &status);
    if (path == nullptr)
        return status;
    RegDocument doc = {};
    // A registry that cannot be read or parsed holds no keys for a reader.
    if (ReadStore(&doc) != ERROR_SUCCESS || !KeyExists(&doc, path)) {
        free(path);
        FreeDocument(&doc);
        return ERROR_FILE_NOT_FOUND;
    }
    char* canonical = CanonicalPath(&doc, path);
    free(path);
    if (canonical != nullptr)
        *result = NewHandle(canonical, access, FindSection(&doc, canonical, strlen(canonical)));
    FreeDocument(&doc);
    return *result ? ERROR_SUCCESS : ERROR_NOT_ENOUGH_MEMORY;
}

LONG RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                      LPDWORD dataSize)
{
    (void)reserved;
    const char* path;
    LONG status = ResolveValueOf(key, KEY_QUERY_VALUE, &path, &valueName);
    if (status != ERROR_SUCCESS)
        return status;
    if (data != nullptr && dataSize == nullptr)
        return ERROR_INVALID_PARAMETER;
    // A value set through this key and not yet written is answered as set.
    PlatformRegKey* open = FindOpenKey(key);
    if (RegValue* value = open ? FindValue(&open->pending, valueName) : nullptr)
        return AnswerValue(value, type, data, dataSize);
    RegDocument doc = {};
    if (ReadStore(&doc) != ERROR_SUCCESS) {
        FreeDocument(&doc);
        return ERROR_FILE_NOT_FOUND;
    }
    // The key must still be in the file; its values are the key's view.
    if (!KeyExists(&doc, path)) {
        FreeDocument(&doc);
        return ERROR_KEY_DELETED;
    }
    RegSection* section = open ? &open->view : FindSection(&doc, path, strlen(path));
    RegValue* value = section ? FindValue(section, valueName) : nullptr;
    status = value ? AnswerValue(value, type, data, dataSize) : ERROR_FILE_NOT_FOUND;
    FreeDocument(&doc);
    return status;
}

LONG RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD reserved, LPSTR keyClass, DWORD options,
                     REGSAM access, LPSECURITY_ATTRIBUTES security, PHKEY result,
                     LPDWORD disposition)
{
    (void)reserved;
    (void)keyClass;
    (void)options;
    (void)security;
    if (result == nullptr || subKey == nullptr)
        return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    LONG status = ERROR_SUCCESS;
    char* path = SubKeyPath(key, subKey, &status);
    if (path == nullptr)
        return status;
    WriteSession session;
    status = BeginWrite(&session);
    bool created = false;
    if (status == ERROR_SUCCESS && !KeyExists(&session.doc, path)) {
        // The new key and every missing parent get their sections, spelled as
        // the existing parents are.
        char* canonical = CanonicalPath(&session.doc, path);
        if (canonical == nullptr ||
            FindOrAddSection(&session.doc, canonical, strlen(canonical)) == nullptr ||
            !AddAncestorSections(&session.doc))
            status = ERROR_NOT_ENOUGH_MEMORY;
        else
            status = CommitWrite(&session);
        free(canonical);
        created = true;
    }
    if (status == ERROR_SUCCESS) {
        char* canonical = CanonicalPath(&session.doc, path);
        if (canonical != nullptr)
            *result = NewHandle(canonical, access,
                                FindSection(&session.doc, canonical, strlen(canonical)));
        if (*result == nullptr) {
            NoteStoreFailure(nullptr, "out of memory");
            status = ERROR_NOT_ENOUGH_MEMORY;
        }
    }
    EndWrite(&session);
    free(path);
    if (status != ERROR_SUCCESS)
        return status;
    if (disposition != nullptr)
        *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    return ERROR_SUCCESS;
}

// Through the root the value is written at once. Through an open key it waits
// until the key is closed or flushed, so that all the values set through one
// key land in one write (a reader sees all of them or none); the file is
// checked now all the same, so that one that will refuse the write answers at
// once.
LONG RegSetValueExA(HKEY key, LPCSTR valueName, DWORD reserved, DWORD type, LPCBYTE data,
                    DWORD dataSize)
{
    (void)reserved;
    const char* path;
    LONG status = ResolveValueOf(key, KEY_SET_VALUE, &path, &valueName);
    if (status != ERROR_SUCCESS)
        return status;
    if ((data == nullptr && dataSize > 0) || dataSize > MaxValueSize || !ValidValueName(valueName))
        return ERROR_INVALID_PARAMETER;
    PlatformRegKey* open = FindOpenKey(key);
    if (open == nullptr) {
        RegSection values = {};
        status = PutCopy(&values, valueName, type, data, dataSize) ? WriteValues(path, &values)
                                                                   : ERROR_NOT_ENOUGH_MEMORY;
        FreeSection(&values);
        return status;
    }
    // After a set that failed, the others wait in vain: nothing of the key's
    // changes is written, so that they land all together or not at all.
    if (open->failedSet != ERROR_SUCCESS)
        return open->failedSet;
    WriteSession session;
    status = BeginWrite(&session);
    if (status == ERROR_SUCCESS && !KeyExists(&session.doc, path)) {
        NoteStoreFailure(session.filePath, "the key was removed from the file while it was open");
        status = ERROR_KEY_DELETED;
    }
    EndWrite(&session);
    if (status == ERROR_SUCCESS && !PutCopy(&open->pending, valueName, type, data, dataSize)) {
        NoteStoreFailure(nullptr, "out of memory");
        status = ERROR_NOT_ENOUGH_MEMORY;
    }
    open->failedSet = status;
    return status;
}

LONG RegFlushKey(HKEY key)
{
    if (IsPredefined(key))
        return ERROR_SUCCESS;
    PlatformRegKey* open = FindOpenKey(key);
    return open ? FlushPending(open) : ERROR_INVALID_HANDLE;
}

// Closing a key writes what was set through it; the handle is gone whatever
// the write answers.
LONG RegCloseKey(HKEY key)
{
    if (IsPredefined(key))
        return ERROR_SUCCESS;
    for (PlatformRegKey** link = &openKeys; *link != nullptr; link = &(*link)->next) {
        if (*link == key) {
            PlatformRegKey* open = *link;
            *link = open->next;
            LONG status = FlushPending(open);
            FreeSection(&open->view);
            free(open->path);
            free(open);
            return status;
        }
    }
    return ERROR_INVALID_HANDLE;
}
