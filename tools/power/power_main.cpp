// quorvane-power: what the system does when it suspends and resumes, from the command line.
//
//   quorvane-power send EVENT [--timeout MS]
//   quorvane-power suspend [--sleep SECONDS]
//
// Every top-level window gets WM_POWERBROADCAST and has a time limit to answer; each answer is
// printed as the window's class, a space, and TRUE, BROADCAST_QUERY_DENY, the number, or
// TIMEOUT. A refused suspend exits with 3; a wrong command line with 2.
#include <string>
#include <thread>
#include <vector>

#include "tools/common/arguments.h"
#include "tools/common/console.h"

namespace {

const char kTool[] = "quorvane-power";

// How long Windows gives each window to answer a suspend query, and an announcement.
const DWORD kQueryTimeoutMs = 20000;
const DWORD kAnnounceTimeoutMs = 2000;

struct Answer {
    std::string className;
    bool bAnswered;
    bool bGone;  // the window went away before it could answer
    DWORD_PTR dwResult;
};

int Usage(const std::string& problem)
{
    tool_console::PrintError(kTool, problem);
    tool_console::PrintError(kTool,
                             "usage: quorvane-power send EVENT [--timeout MS] | "
                             "suspend [--sleep SECONDS]");
    return 2;
}

BOOL CALLBACK CollectWindow(HWND hwnd, LPARAM lParam)
{
    reinterpret_cast<std::vector<HWND>*>(lParam)->push_back(hwnd);
    return TRUE;
}

std::string AnswerText(const Answer& answer)
{
    if (!answer.bAnswered) {
        return "TIMEOUT";
    }
    LRESULT lResult = static_cast<LRESULT>(answer.dwResult);
    if (lResult == TRUE) {
        return "TRUE";
    }
    if (lResult == BROADCAST_QUERY_DENY) {
        return "BROADCAST_QUERY_DENY";
    }
    return std::to_string(lResult);
}

// Sends the event to every top-level window at once, so that a window that hangs costs the
// others nothing, and prints the answers in the order the windows were found. Windows that
// went away meanwhile are not listed. Returns whether any window refused.
bool Broadcast(std::uint32_t event, DWORD dwTimeoutMs)
{
    std::vector<HWND> windows;
    EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&windows));

    std::vector<Answer> answers(windows.size());
    std::vector<std::thread> senders;
    for (size_t i = 0; i < windows.size(); i++) {
        WCHAR szClass[256] = {0};
        GetClassNameW(windows[i], szClass, 256);
        answers[i].className = tool_console::Utf8(szClass);
        senders.emplace_back([&, i] {
            SetLastError(ERROR_SUCCESS);
            answers[i].bAnswered =
                SendMessageTimeoutW(windows[i], WM_POWERBROADCAST, event, 0, SMTO_ABORTIFHUNG,
                                    dwTimeoutMs, &answers[i].dwResult) != 0;
            answers[i].bGone = !answers[i].bAnswered && GetLastError() != ERROR_TIMEOUT;
        });
    }
    bool bRefused = false;
    for (size_t i = 0; i < senders.size(); i++) {
        senders[i].join();
        if (answers[i].bGone) {
            continue;
        }
        tool_console::PrintLine(answers[i].className + " " + AnswerText(answers[i]));
        bRefused = bRefused || (answers[i].bAnswered &&
                                static_cast<LRESULT>(answers[i].dwResult) == BROADCAST_QUERY_DENY);
    }
    return bRefused;
}

void Announce(std::uint32_t event)
{
    tool_console::PrintLine(tool_arguments::PowerEventText(event));
}

// The whole cycle, in the order Windows runs it.
int Suspend(DWORD dwSleepMs)
{
    Announce(PBT_APMQUERYSUSPEND);
    if (Broadcast(PBT_APMQUERYSUSPEND, kQueryTimeoutMs)) {
        Announce(PBT_APMQUERYSUSPENDFAILED);
        Broadcast(PBT_APMQUERYSUSPENDFAILED, kAnnounceTimeoutMs);
        return 3;
    }
    Announce(PBT_APMSUSPEND);
    Broadcast(PBT_APMSUSPEND, kAnnounceTimeoutMs);
    Sleep(dwSleepMs);
    Announce(PBT_APMRESUMEAUTOMATIC);
    Broadcast(PBT_APMRESUMEAUTOMATIC, kAnnounceTimeoutMs);
    Announce(PBT_APMRESUMESUSPEND);
    Broadcast(PBT_APMRESUMESUSPEND, kAnnounceTimeoutMs);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) {
        return Usage("a command is needed");
    }
    if (args[0] == "send") {
        std::uint32_t event = 0, dwTimeoutMs = kQueryTimeoutMs;
        if (args.size() != 2 && !(args.size() == 4 && args[2] == "--timeout")) {
            return Usage("send takes an event and, optionally, --timeout MS");
        }
        if (!tool_arguments::ParsePowerEvent(args[1], &event)) {
            return Usage("not a power event (a number or a PBT_ name): " + args[1]);
        }
        if (args.size() == 4 && !tool_arguments::ParseMilliseconds(args[3], &dwTimeoutMs)) {
            return Usage("not a number of milliseconds: " + args[3]);
        }
        Broadcast(event, dwTimeoutMs);
        return 0;
    }
    if (args[0] == "suspend") {
        std::uint32_t dwSleepMs = 0;
        if (args.size() != 1 && !(args.size() == 3 && args[1] == "--sleep")) {
            return Usage("suspend takes, optionally, --sleep SECONDS");
        }
        if (args.size() == 3 && !tool_arguments::ParseSeconds(args[2], &dwSleepMs)) {
            return Usage("not a number of seconds: " + args[2]);
        }
        return Suspend(dwSleepMs);
    }
    return Usage("unknown command: " + args[0]);
}
