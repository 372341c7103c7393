// The one include for the Win32 API.
//
// On Windows it is the system's own headers. Elsewhere it is the subset that Quorvane uses,
// declared in platform/posix/include with the documented names, values and layouts, and
// implemented by platform/posix (or, in unit tests, by tests/fakeos).
#pragma once

#if defined(_WIN32)

#ifndef UNICODE
#define UNICODE
#endif
#ifndef _UNICODE
#define _UNICODE
#endif
#include <stdio.h>  // _vsnwprintf
#include <strsafe.h>
#include <windows.h>
#include <winspool.h>

#else

#include "posix/include/win32_errors.h"
#include "posix/include/win32_format.h"
#include "posix/include/win32_kernel.h"
#include "posix/include/win32_spooler.h"
#include "posix/include/win32_types.h"
#include "posix/include/win32_window.h"

#endif
