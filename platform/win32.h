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
// The helper formats with _vsnwprintf beside the StringCb functions, which strsafe.h would
// otherwise declare deprecated. The order matters: strsafe.h after the system headers.
#ifndef STRSAFE_NO_DEPRECATE
#define STRSAFE_NO_DEPRECATE
#endif
// clang-format off
#include <windows.h>
#include <winspool.h>
#include <stdio.h>
#include <strsafe.h>
// clang-format on

#else

#include "posix/include/win32_errors.h"
#include "posix/include/win32_format.h"
#include "posix/include/win32_kernel.h"
#include "posix/include/win32_spooler.h"
#include "posix/include/win32_types.h"
#include "posix/include/win32_window.h"

#endif
