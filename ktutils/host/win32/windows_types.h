#pragma once

// The Windows base types that the kernel32 and trust-service stand-ins are
// declared with, spelled as Windows spells them, so that code calling them
// reads the same on every platform. Only included where <windows.h> is not.
#ifdef _WIN32
#error "Windows builds use <windows.h>; include host/win32/win32_api.h instead"
#endif

#include <cstdint>

typedef int BOOL;
typedef std::uint8_t BYTE;
typedef std::uint16_t WORD;
typedef std::uint32_t DWORD;
typedef std::uint32_t UINT;
// 32 bits as on Windows, where long is 32 bits even on 64-bit targets.
typedef std::int32_t LONG;
typedef LONG HRESULT;
typedef void* LPVOID;
typedef void* HANDLE;
typedef char CHAR;
typedef const CHAR* LPCSTR;
typedef const CHAR* LPCCH;
// A wide character is a UTF-16 code unit, as on Windows, so that wide texts
// and the records that point at them have the same shape everywhere.
typedef char16_t WCHAR;
typedef WCHAR* LPWSTR;
typedef const WCHAR* LPCWSTR;

struct HINSTANCE__;
typedef HINSTANCE__* HINSTANCE;
typedef HINSTANCE HMODULE;
struct HWND__;
typedef HWND__* HWND;

typedef std::intptr_t (*FARPROC)();

// The calling convention is the platform's only one off Windows.
#define WINAPI

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

#define MAX_PATH 260

struct GUID {
    DWORD Data1;
    WORD Data2;
    WORD Data3;
    BYTE Data4[8];
};
