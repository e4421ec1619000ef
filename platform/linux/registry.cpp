// The Win32 registry functions of the Linux platform layer, over the settings
// store's text (registry_text.cpp) and file (registry_file.cpp).
#include "platform/linux/registry_store.h"
#include "platform/platform.h"

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

using namespace registry;

// An open key: the full path below HKEY_CURRENT_USER in its stored spelling
// ("" for the root itself) and the access it was opened with. Open keys are
// chained so that a stale or foreign handle is recognised instead of followed.
struct PlatformRegKey {
    char* path;
    REGSAM access;
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

// The path of a handle that holds the given right.
LONG ResolveKeyFor(HKEY key, REGSAM right, const char** path)
{
    REGSAM access = 0;
    LONG status = ResolveKey(key, path, &access);
    if (status == ERROR_SUCCESS && !(access & right))
        status = ERROR_ACCESS_DENIED;
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

HKEY NewHandle(char* path, REGSAM access)
{
    PlatformRegKey* handle = (PlatformRegKey*)malloc(sizeof(PlatformRegKey));
    if (handle == nullptr) {
        free(path);
        return nullptr;
    }
    handle->path = path;
    handle->access = access;
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
    char* file = RegistryFilePath();
    RegDocument doc = {};
    // A registry that cannot be read or parsed holds no keys for a reader.
    if (file == nullptr || LoadDocument(file, &doc) != ERROR_SUCCESS || !KeyExists(&doc, path)) {
        free(file);
        free(path);
        FreeDocument(&doc);
        return ERROR_FILE_NOT_FOUND;
    }
    free(file);
    char* canonical = CanonicalPath(&doc, path);
    FreeDocument(&doc);
    free(path);
    if (canonical == nullptr)
        return ERROR_NOT_ENOUGH_MEMORY;
    *result = NewHandle(canonical, access);
    return *result ? ERROR_SUCCESS : ERROR_NOT_ENOUGH_MEMORY;
}

LONG RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                      LPDWORD dataSize)
{
    (void)reserved;
    const char* path;
    LONG status = ResolveKeyFor(key, KEY_QUERY_VALUE, &path);
    if (status != ERROR_SUCCESS)
        return status;
    if (data != nullptr && dataSize == nullptr)
        return ERROR_INVALID_PARAMETER;
    char* file = RegistryFilePath();
    RegDocument doc = {};
    if (file == nullptr || LoadDocument(file, &doc) != ERROR_SUCCESS) {
        free(file);
        FreeDocument(&doc);
        return ERROR_FILE_NOT_FOUND;
    }
    free(file);
    if (!KeyExists(&doc, path)) {
        FreeDocument(&doc);
        return ERROR_KEY_DELETED;
    }
    RegSection* section = FindSection(&doc, path, strlen(path));
    RegValue* value = section ? FindValue(section, valueName ? valueName : "") : nullptr;
    if (value == nullptr) {
        status = ERROR_FILE_NOT_FOUND;
    } else {
        if (type != nullptr)
            *type = value->type;
        if (data != nullptr && value->size > *dataSize) {
            status = ERROR_MORE_DATA;  // nothing is copied
        } else if (data != nullptr && value->size > 0) {
            memcpy(data, value->data, value->size);
        }
        if (dataSize != nullptr)
            *dataSize = value->size;
    }
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
    char* canonical = nullptr;
    if (status == ERROR_SUCCESS) {
        canonical = CanonicalPath(&session.doc, path);
        if (canonical == nullptr)
            status = ERROR_NOT_ENOUGH_MEMORY;
    }
    EndWrite(&session);
    free(path);
    if (status != ERROR_SUCCESS)
        return status;
    *result = NewHandle(canonical, access);
    if (*result == nullptr)
        return ERROR_NOT_ENOUGH_MEMORY;
    if (disposition != nullptr)
        *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    return ERROR_SUCCESS;
}

LONG RegSetValueExA(HKEY key, LPCSTR valueName, DWORD reserved, DWORD type, LPCBYTE data,
                    DWORD dataSize)
{
    (void)reserved;
    const char* path;
    LONG status = ResolveKeyFor(key, KEY_SET_VALUE, &path);
    if (status != ERROR_SUCCESS)
        return status;
    if (valueName == nullptr)
        valueName = "";
    if ((data == nullptr && dataSize > 0) || dataSize > MaxValueSize || !ValidValueName(valueName))
        return ERROR_INVALID_PARAMETER;
    WriteSession session;
    status = BeginWrite(&session);
    if (status == ERROR_SUCCESS && !KeyExists(&session.doc, path))
        status = ERROR_KEY_DELETED;  // removed from the file since it was opened
    if (status == ERROR_SUCCESS) {
        RegSection* section = FindOrAddSection(&session.doc, path, strlen(path));
        RegValue* old = section ? FindValue(section, valueName) : nullptr;
        if (old != nullptr && old->type == type && old->size == dataSize &&
            (dataSize == 0 || memcmp(old->data, data, dataSize) == 0)) {
            // Unchanged: the file stays as it is.
        } else {
            BYTE* copy = (BYTE*)malloc(dataSize ? dataSize : 1);
            if (section == nullptr || copy == nullptr) {
                free(copy);
                status = ERROR_NOT_ENOUGH_MEMORY;
            } else {
                if (dataSize > 0)
                    memcpy(copy, data, dataSize);
                if (!PutValue(section, valueName, strlen(valueName), type, copy, dataSize))
                    status = ERROR_NOT_ENOUGH_MEMORY;
                else
                    status = CommitWrite(&session);
            }
        }
    }
    EndWrite(&session);
    return status;
}

LONG RegCloseKey(HKEY key)
{
    if (IsPredefined(key))
        return ERROR_SUCCESS;
    for (PlatformRegKey** link = &openKeys; *link != nullptr; link = &(*link)->next) {
        if (*link == key) {
            PlatformRegKey* open = *link;
            *link = open->next;
            free(open->path);
            free(open);
            return ERROR_SUCCESS;
        }
    }
    return ERROR_INVALID_HANDLE;
}
