// The operating-system functions that the module calls.
//
// On Windows these are the real Win32 functions. Everywhere else the module
// calls our own stand-ins, declared here with the same names, arguments and
// the behaviour the module relies on:
//
//  - the registry of the current user (RegOpenKeyExA, RegQueryValueExA,
//    RegCreateKeyExA, RegSetValueExA, RegFlushKey, RegCloseKey), kept in one
//    text file in the .reg export format (linux/registry_text.cpp and
//    linux/registry_file.cpp describe the file). Only HKEY_CURRENT_USER is
//    kept; other roots answer ERROR_INVALID_HANDLE. RegOpenKeyExA never
//    creates a key (ERROR_FILE_NOT_FOUND when it is missing);
//    RegQueryValueExA gives a value's raw bytes and type, its size alone
//    when data is null, and ERROR_MORE_DATA with nothing copied when the
//    value does not fit; RegCreateKeyExA creates the missing keys along the
//    path; RegSetValueExA stores raw bytes with their type: at once through
//    HKEY_CURRENT_USER, and through an open key when the key is flushed or
//    closed, all its values in one write (RegCloseKey then answers how the
//    write went), and none of them once a set through it failed. A key reads
//    the values the file held when it was opened. Names ignore ASCII letter
//    case. Reads find nothing in a file that does not parse
//    (ERROR_FILE_NOT_FOUND) and writes refuse to touch it (ERROR_BADDB); a
//    key removed from the file while open gives ERROR_KEY_DELETED;
//  - CreateDirectoryA (one new directory, mode 0700; FALSE when anything is
//    at the path or the parent is missing);
//  - lstrcpyA, lstrcpynA, lstrcatA, lstrlenA, which answer null pointers with
//    null (or 0) as Windows does; lstrcpynA writes nothing for a limit <= 0;
//  - CharToOemA, from the ANSI to the OEM code page (1252 to 437, or to UTF-8
//    in a UTF-8 locale; other pairs through VELKORY_CODEPAGES=ANSI:OEM and iconv); src and dest
//    may be the same buffer, and dest never receives more bytes than src;
//  - GetACP and GetOEMCP, the pair of code pages CharToOemA converts between;
//  - MultiByteToWideChar and WideCharToMultiByte between any code page and
//    UTF-16 (linux/widechar.cpp describes them): CP_ACP and CP_OEMCP name the
//    current pair, CP_UTF8 is our own, numbered code pages go through iconv;
//    IsDBCSLeadByteEx for the double-byte code pages 932, 936, 949 and 950;
//    GetLastError tells why a conversion answered 0.
//
// Nothing else of the operating system is reached by the format code.
#pragma once

#if defined(_WIN32)

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#else

#include <cstddef>
#include <cstdint>

typedef int BOOL;
typedef int32_t LONG;
typedef uint32_t DWORD;
typedef uint8_t BYTE;
typedef unsigned int UINT;
typedef char16_t WCHAR;  // one UTF-16 unit, as on Windows
typedef WCHAR* LPWSTR;
typedef const WCHAR* LPCWSTR;
typedef BOOL* LPBOOL;
typedef DWORD REGSAM;
typedef char CHAR;
typedef const char* LPCSTR;
typedef char* LPSTR;
typedef DWORD* LPDWORD;
typedef BYTE* LPBYTE;
typedef const BYTE* LPCBYTE;
typedef struct PlatformRegKey* HKEY;
typedef HKEY* PHKEY;

// Predefined root keys. Only HKEY_CURRENT_USER is backed by a file.
#define HKEY_CLASSES_ROOT  ((HKEY)(uintptr_t)0x80000000u)
#define HKEY_CURRENT_USER  ((HKEY)(uintptr_t)0x80000001u)
#define HKEY_LOCAL_MACHINE ((HKEY)(uintptr_t)0x80000002u)

#define ERROR_SUCCESS                0L
#define ERROR_FILE_NOT_FOUND         2L
#define ERROR_ACCESS_DENIED          5L
#define ERROR_INVALID_HANDLE         6L
#define ERROR_NOT_ENOUGH_MEMORY      8L
#define ERROR_WRITE_FAULT            29L
#define ERROR_INVALID_PARAMETER      87L
#define ERROR_MORE_DATA              234L
#define ERROR_BADDB                  1009L
#define ERROR_PATH_NOT_FOUND         3L
#define ERROR_BAD_PATHNAME           161L
#define ERROR_KEY_DELETED            1018L
#define ERROR_INSUFFICIENT_BUFFER    122L
#define ERROR_INVALID_FLAGS          1004L
#define ERROR_NO_UNICODE_TRANSLATION 1113L

#define KEY_QUERY_VALUE 0x0001u
#define KEY_SET_VALUE   0x0002u
#define KEY_READ        0x20019u
#define KEY_WRITE       0x20006u
#define KEY_ALL_ACCESS  0xF003Fu

#define REG_NONE      0u
#define REG_SZ        1u
#define REG_EXPAND_SZ 2u
#define REG_BINARY    3u
#define REG_DWORD     4u
#define REG_MULTI_SZ  7u
#define REG_QWORD     11u

#define REG_OPTION_NON_VOLATILE 0u
#define REG_CREATED_NEW_KEY     1u
#define REG_OPENED_EXISTING_KEY 2u

struct _SECURITY_ATTRIBUTES;
typedef struct _SECURITY_ATTRIBUTES* LPSECURITY_ATTRIBUTES;

LONG RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM access, PHKEY result);
LONG RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                      LPDWORD dataSize);
LONG RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD reserved, LPSTR keyClass, DWORD options,
                     REGSAM access, LPSECURITY_ATTRIBUTES security, PHKEY result,
                     LPDWORD disposition);
LONG RegSetValueExA(HKEY key, LPCSTR valueName, DWORD reserved, DWORD type, LPCBYTE data,
                    DWORD dataSize);
LONG RegFlushKey(HKEY key);
LONG RegCloseKey(HKEY key);

BOOL CreateDirectoryA(LPCSTR path, LPSECURITY_ATTRIBUTES security);

LPSTR lstrcpyA(LPSTR dest, LPCSTR src);
LPSTR lstrcpynA(LPSTR dest, LPCSTR src, int maxChars);
LPSTR lstrcatA(LPSTR dest, LPCSTR src);
int lstrlenA(LPCSTR text);

BOOL CharToOemA(LPCSTR src, LPSTR dest);

#define CP_ACP        0u
#define CP_OEMCP      1u
#define CP_MACCP      2u
#define CP_THREAD_ACP 3u
#define CP_UTF7       65000u
#define CP_UTF8       65001u

#define MB_PRECOMPOSED       0x00000001u
#define MB_ERR_INVALID_CHARS 0x00000008u
#define WC_ERR_INVALID_CHARS 0x00000080u
#define WC_NO_BEST_FIT_CHARS 0x00000400u

UINT GetACP(void);
UINT GetOEMCP(void);
int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR src, int srcLength, LPWSTR dest,
                        int destLength);
int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR src, int srcLength, LPSTR dest,
                        int destLength, LPCSTR defaultChar, LPBOOL usedDefaultChar);
BOOL IsDBCSLeadByteEx(UINT codePage, BYTE byte);
DWORD GetLastError(void);
void SetLastError(DWORD error);

#endif
