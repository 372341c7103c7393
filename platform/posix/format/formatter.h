// The conversion engine behind _vsnwprintf and StringCbPrintfW.
#pragma once

#include <cstdarg>

#include "platform/posix/format/sink.h"
#include "platform/win32.h"

namespace quorvane::format {

// Formats in the Microsoft runtime's dialect for wide functions: "%s" and "%c" are wide, "%S"
// and "%C" narrow. Floating-point conversions are not understood (see formatter.cpp).
void formatWide(Sink& out, const WCHAR* format, va_list arguments);

}  // namespace quorvane::format
