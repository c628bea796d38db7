#pragma once

// The Windows interfaces the library calls: the real ones on Windows, the
// stand-ins of this folder elsewhere. Code that includes this header reads
// the same on every platform.
#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <wintrust.h>
// WINTRUST_ACTION_GENERIC_VERIFY_V2 lives here.
#include <softpub.h>
#else
#include "ktutils/host/win32/kernel32.h"
#include "ktutils/host/win32/windows_types.h"
#include "ktutils/host/win32/wintrust.h"
#endif
