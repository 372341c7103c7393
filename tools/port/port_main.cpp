// quorvane-port: what the printer port component does, from the command line.
//
//   quorvane-port register KEY | unregister KEY | hold KEY SECONDS | close | wait SECONDS
//
// wait returns as soon as a helper window exists, for scripts that start a helper.
// Exit status: 0 done, 1 no helper window is running, 2 the command line is wrong.
#include <string>
#include <vector>

#include "quorvane/process/helper_process.h"
#include "quorvane/registry/port_messages.h"
#include "quorvane/support/object_names.h"
#include "tools/common/arguments.h"
#include "tools/common/console.h"

namespace {

const char kTool[] = "quorvane-port";

int Usage(const std::string& problem)
{
    tool_console::PrintError(kTool, problem);
    tool_console::PrintError(kTool,
                             "usage: quorvane-port register KEY | unregister KEY | hold KEY "
                             "SECONDS | close | wait SECONDS");
    return 2;
}

int SendToHelper(UINT uMsg, WPARAM wParam)
{
    HWND hwnd = FindWindowW(HELPER_WINDOW_CLASS, NULL);
    if (hwnd == NULL) {
        tool_console::PrintError(kTool, "no helper window (class QUORVANE) is running");
        return 1;
    }
    SetLastError(ERROR_SUCCESS);
    SendMessageW(hwnd, uMsg, wParam, 0);
    if (GetLastError() == ERROR_INVALID_WINDOW_HANDLE) {
        tool_console::PrintError(kTool, "the helper window went away before it answered");
        return 1;
    }
    return 0;
}

// Takes the port's hardware access as the port component does, for a while.
int Hold(std::uint64_t key, DWORD dwMilliseconds)
{
    WCHAR szName[OBJECT_NAME_BUFFER_CHARS];
    BuildPortMutexName(szName, static_cast<ULONG_PTR>(key));

    // Shared with the helper whatever account either runs under: a present, null DACL.
    SECURITY_DESCRIPTOR descriptor;
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), &descriptor, FALSE};
    bool bOpen = InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) &&
                 SetSecurityDescriptorDacl(&descriptor, TRUE, NULL, FALSE);
    HANDLE hMutex = CreateMutexW(bOpen ? &attributes : NULL, FALSE, szName);
    if (hMutex == NULL) {
        tool_console::PrintError(kTool, "cannot open " + tool_console::Utf8(szName) + ": error " +
                                            std::to_string(GetLastError()));
        return 1;
    }
    DWORD dwWait = WaitForSingleObject(hMutex, INFINITE);
    if (dwWait != WAIT_OBJECT_0 && dwWait != WAIT_ABANDONED_0) {
        tool_console::PrintError(kTool, "cannot take " + tool_console::Utf8(szName) + ": error " +
                                            std::to_string(GetLastError()));
        CloseHandle(hMutex);
        return 1;
    }
    tool_console::PrintLine("held");
    Sleep(dwMilliseconds);
    ReleaseMutex(hMutex);
    CloseHandle(hMutex);
    tool_console::PrintLine("released");
    return 0;
}

int WaitForHelper(DWORD dwMilliseconds)
{
    // Checked every few milliseconds: a script waits for a helper it has just started.
    const DWORD kCheckEveryMs = 5;
    for (DWORD dwWaited = 0;; dwWaited += kCheckEveryMs) {
        if (FindWindowW(HELPER_WINDOW_CLASS, NULL) != NULL) {
            return 0;
        }
        if (dwWaited >= dwMilliseconds) {
            tool_console::PrintError(kTool, "no helper window (class QUORVANE) appeared");
            return 1;
        }
        Sleep(kCheckEveryMs);
    }
}

}  // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) {
        return Usage("a command is needed");
    }
    const std::string& command = args[0];
    std::uint64_t key = 0;
    if (command == "close") {
        return args.size() == 1 ? SendToHelper(WM_CLOSE, 0) : Usage("close takes no arguments");
    }
    if (command == "register" || command == "unregister") {
        if (args.size() != 2) {
            return Usage(command + " takes one port key");
        }
        if (!tool_arguments::ParsePortKey(args[1], &key)) {
            return Usage("not a port key (0x-hexadecimal or decimal, 64 bits): " + args[1]);
        }
        return SendToHelper(command == "register" ? WM_POW_REGISTER : WM_POW_UNREGISTER,
                            static_cast<WPARAM>(key));
    }
    if (command == "wait") {
        std::uint32_t milliseconds = 0;
        if (args.size() != 2 || !tool_arguments::ParseSeconds(args[1], &milliseconds)) {
            return Usage("wait takes a number of seconds");
        }
        return WaitForHelper(milliseconds);
    }
    if (command == "hold") {
        std::uint32_t milliseconds = 0;
        if (args.size() != 3) {
            return Usage("hold takes a port key and a number of seconds");
        }
        if (!tool_arguments::ParsePortKey(args[1], &key)) {
            return Usage("not a port key (0x-hexadecimal or decimal, 64 bits): " + args[1]);
        }
        if (!tool_arguments::ParseSeconds(args[2], &milliseconds)) {
            return Usage("not a number of seconds: " + args[2]);
        }
        return Hold(key, milliseconds);
    }
    return Usage("unknown command: " + command);
}
