#pragma once

// Stand-ins for the four kernel32 calls the library makes, with the Windows
// signatures and results, over the platform's dynamic loader. Only included
// where <windows.h> is not; they are compiled into the library that uses them
// and never exported from it.
#include "ktutils/host/win32/windows_types.h"

#define CP_ACP 0
#define CP_OEMCP 1
#define CP_THREAD_ACP 3
#define CP_UTF8 65001
#define MB_ERR_INVALID_CHARS 0x00000008

// Loads a module by file name. A name without a directory that ends in ".dll"
// is mapped to the platform's name for it, "wintrust.dll" to "libwintrust.so".
// A name without a directory is looked for in fixed folders only: beside the
// module that holds this code (the library that asks), in its private folder
// ktutils/, and, for a program with the library linked in, in the installed
// layout's private folder (docs/signature.md). A relative path with a
// directory is refused. Null when the module cannot be found or loaded.
HMODULE WINAPI LoadLibraryA(LPCSTR lpLibFileName);

// The address of an exported symbol, or null.
FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName);

// Drops one reference to a module that LoadLibraryA returned.
BOOL WINAPI FreeLibrary(HMODULE hLibModule);

// Converts a narrow text to UTF-16. The system code page (CP_ACP, CP_OEMCP,
// CP_THREAD_ACP) is UTF-8 on this platform, as is CP_UTF8; other code pages
// fail. Flags are 0, where malformed input becomes U+FFFD as Windows does,
// or MB_ERR_INVALID_CHARS, where it fails. cbMultiByte -1 converts up to and
// including the terminator. With cchWideChar 0 the result is the count the
// conversion needs; otherwise it is the count written, or 0 when the output
// does not fit or the arguments are invalid.
int WINAPI MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCCH lpMultiByteStr, int cbMultiByte,
                               LPWSTR lpWideCharStr, int cchWideChar);
