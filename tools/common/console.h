// Console output shared by the tools: UTF-8 on every host.
#pragma once

#include <string>

#include "platform/win32.h"

namespace tool_console {

std::string Utf8(const WCHAR* pszText);

// Prints a line on standard output and flushes it, so that a reader sees it at once.
void PrintLine(const std::string& line);

// Prints "<tool>: <message>" on standard error.
void PrintError(const char* pszTool, const std::string& message);

}  // namespace tool_console
